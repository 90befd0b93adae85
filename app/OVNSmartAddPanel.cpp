#include "app/OVNSmartAddPanel.h"

#include "browser/OVNMediaDetails.h"
#include "platform/Localized.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

OVNSmartAddPanel::OVNSmartAddPanel(QWidget *parent)
    : QFileDialog(parent, localized("Smart Add"), QDir::homePath()),
      m_pane(this)
{
    // Qt's own panel: the desktop's panels choose files or a folder, never both, and take no pane.
    // It lists files and folders; its button takes whatever is selected of both (accept below),
    // where the panel alone would open a selected folder instead.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setLabelText(QFileDialog::Accept, localized("Smart Add"));
    // The panel calls its button "Open" while a folder is selected; here it adds that folder too.
    // Connected after the panel's own handlers, so that the name is put back after each of them.
    if (auto *buttons = findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))) {
        if (QPushButton *add = buttons->button(QDialogButtonBox::Open)) {
            const auto rename = [add] { add->setText(localized("Smart Add")); };
            if (auto *field = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                connect(field, &QLineEdit::textChanged, add, rename);
            connect(this, &QFileDialog::currentChanged, add, rename);
            if (auto *view = findChild<QAbstractItemView *>(QStringLiteral("listView")); view && view->selectionModel())
                connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, add, rename);
            connect(this, &QFileDialog::directoryEntered, add, rename);
        }
    }
    for (const char *name : {"listView", "treeView"}) {
        if (auto *view = findChild<QAbstractItemView *>(QLatin1String(name)))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    // The pane below the file list, across the whole width.
    OVNMediaDetails *view = m_pane.view();
    view->setObjectName(QStringLiteral("smartAddPane"));
    if (auto *grid = qobject_cast<QGridLayout *>(layout()))
        grid->addWidget(view, grid->rowCount(), 0, 1, grid->columnCount());
    else if (layout())
        layout()->addWidget(view);
    // Room for the file list above the pane.
    resize(std::max(width(), 760), std::max(height(), 640));
    // A key a field leaves to its parents reaches the pane before the panel's default button.
    view->installEventFilter(this);
}

bool OVNSmartAddPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pane.view() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Otherwise the panel would take the folder it shows, which the user never chose.
            m_pane.endEditing();
            event->accept();
            return true;
        }
    }
    return QFileDialog::eventFilter(watched, event);
}

void OVNSmartAddPanel::choose(const QStringList &paths)
{
    // A field still being typed in belongs to what the user filled in.
    m_pane.endEditing();
    m_changes = m_pane.changes();
    m_chosen = paths;
    QDialog::accept();
}

void OVNSmartAddPanel::accept()
{
    // The selected files and folders alike; with nothing selected, the folder shown.
    QStringList paths;
    for (const QString &path : selectedFiles()) {
        if (QFileInfo::exists(path))
            paths.append(path);
    }
    if (paths.isEmpty() && selectedFiles().isEmpty())
        paths.append(directory().absolutePath());
    if (paths.isEmpty()) {
        // A name typed that is not there: the panel says so.
        QFileDialog::accept();
        return;
    }
    choose(paths);
}
