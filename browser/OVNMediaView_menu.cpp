// The thumbnail view's context menu and its actions. Three variants: the catalog window's full
// menu (0), the reduced one (1) and the light table's minimal one (2).
#include "browser/OVNMediaView.h"

#include "platform/Localized.h"
#include "platform/PlainText.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMenu>

std::unique_ptr<QMenu> OVNMediaView::menuForEvent(const QPointF &point)
{
    auto menu = std::make_unique<QMenu>();
    menu->addAction(localizedMenu("Refresh"), this, [this] { refresh(); });

    const int row = rowAtLocation(point);
    if (!isRowSelected(row)) {
        // The menu acts on the item it was opened on, alone; on empty space on nothing.
        selectImage(row, true);
        if (row >= 0 && row < count())
            notifySelectionDidChange();
    }
    if (row < 0 || count() == 0)
        return menu;

    const int variant = m_menuForEventType;
    const QString path = filenameForRow(row);
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        menu->addSeparator();
        menu->addAction(localizedMenu("Media file not found."))->setEnabled(false);
        menu->addSeparator();
        menu->addAction(localizedMenu("Re-Link Media File..."), this, [this] { relinkSelection(); })
            ->setEnabled(delegateAnswers(OVNMediaViewDelegate::RelinkSelection));
        return menu;
    }

    const auto addDelegateAction = [&](const char *title, OVNMediaViewDelegate::Capability capability,
                                       void (OVNMediaView::*action)()) {
        QAction *item = menu->addAction(localizedMenu(title), this, [this, action] { (this->*action)(); });
        item->setEnabled(delegateAnswers(capability));
    };
    const bool full = variant == 0;
    const bool reduced = variant == 1;
    m_launchapps = full || reduced ? Workspace::applicationsForFile(path) : QList<Workspace::Application>();
    if (full || reduced) {
        menu->addSeparator();
        menu->addAction(localizedMenu("Reveal in File Manager"), this, [this] { revealInFinder(); });
    }
    if (full) {
        menu->addSeparator();
        addDelegateAction("Re-Import Media File", OVNMediaViewDelegate::ReimportSelection,
                          &OVNMediaView::reimportSelection);
        addDelegateAction("Re-Link Media File...", OVNMediaViewDelegate::RelinkSelection,
                          &OVNMediaView::relinkSelection);
    }
    if (full || reduced) {
        menu->addSeparator();
        addDelegateAction("Open with Media Viewer", OVNMediaViewDelegate::OpenWithDefaultViewer,
                          &OVNMediaView::openWithDefaultViewer);
        addDelegateAction("Open with Default Application", OVNMediaViewDelegate::OpenWithCreator,
                          &OVNMediaView::openWithCreator);
    }

    menu->addSeparator();
    QMenu *rating = menu->addMenu(localizedMenu("Rating"));
    const bool rates = delegateAnswers(OVNMediaViewDelegate::MenuSetRating);
    for (int stars = 0; stars <= 5; ++stars) {
        const QString title = stars == 0 ? localizedMenu("No Rating") : QString::number(stars);
        QAction *item = rating->addAction(title, this, [this, stars] {
            if (delegateAnswers(OVNMediaViewDelegate::MenuSetRating))
                m_delegate->menuSetRating(stars);
        });
        item->setData(stars);
        item->setEnabled(rates);
    }

    if ((full || reduced) && !m_launchapps.isEmpty()) {
        menu->addSeparator();
        for (const Workspace::Application &application : std::as_const(m_launchapps)) {
            QAction *item = menu->addAction(menuItemText(application.name), this,
                                            [this, application] { launchExternalViewer(application); });
            item->setData(application.id);
        }
    }
    m_launchrow = row;
    return menu;
}

void OVNMediaView::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu = menuForEvent(documentPoint(event->pos()));
    menu->exec(event->globalPos());
    event->accept();
}

QList<int> OVNMediaView::actionRows() const
{
    QList<int> rows = selectedRows();
    if (rows.isEmpty() && m_launchrow >= 0 && m_launchrow < count())
        rows.append(m_launchrow);
    return rows;
}

QStringList OVNMediaView::existingFilesOf(const QList<int> &rows) const
{
    QStringList paths;
    for (int row : rows) {
        const QString path = filenameForRow(row);
        if (!path.isEmpty() && QFileInfo::exists(path))
            paths.append(path);
    }
    return paths;
}

void OVNMediaView::refresh() { viewport()->update(); }

QList<int> OVNMediaView::rowsToHandOn()
{
    QList<int> rows = actionRows();
    if (rows.isEmpty() || !delegateAnswers(OVNMediaViewDelegate::HandOn))
        return rows;
    // The delegate keeps back what may not leave, and says why.
    const std::optional<QSet<QString>> leftOut = m_delegate->ovnMediaViewLeftOutOfHandOn(this, rows);
    if (!leftOut)
        return {};
    rows.removeIf([&](int row) { return leftOut->contains(mediaIDForRow(row)); });
    return rows;
}

void OVNMediaView::revealInFinder()
{
    const QStringList paths = existingFilesOf(rowsToHandOn());
    if (!paths.isEmpty())
        Workspace::revealFiles(paths, window());
}

void OVNMediaView::launchExternalViewer(const Workspace::Application &application)
{
    const QStringList paths = existingFilesOf(rowsToHandOn());
    if (!paths.isEmpty())
        Workspace::openFiles(paths, application);
    m_launchapps.clear();
}

void OVNMediaView::reimportSelection()
{
    if (delegateAnswers(OVNMediaViewDelegate::ReimportSelection))
        m_delegate->ovnMediaViewReimportSelection(this);
}

void OVNMediaView::relinkSelection()
{
    if (delegateAnswers(OVNMediaViewDelegate::RelinkSelection))
        m_delegate->ovnMediaViewRelinkSelection(this);
}

void OVNMediaView::openWithCreator()
{
    if (delegateAnswers(OVNMediaViewDelegate::OpenWithCreator))
        m_delegate->ovnMediaViewOpenWithCreator(this);
}

void OVNMediaView::openWithDefaultViewer()
{
    if (delegateAnswers(OVNMediaViewDelegate::OpenWithDefaultViewer))
        m_delegate->ovnMediaViewOpenWithDefaultViewer(this);
}
