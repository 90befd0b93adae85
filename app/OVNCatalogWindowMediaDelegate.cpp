#include "app/OVNCatalogWindowMediaDelegate.h"

#include "app/OVNAssetManager.h"

#include "browser/OVNMediaPreviewImage.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNOutlineView.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaView.h"
#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNZoomPanel.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeData>

#include <algorithm>

namespace {
using CatalogNames::keyCategoryId;
using CatalogNames::keyMid;
using CatalogNames::keyRating;
using CatalogNames::keyType;
const QString keyCounter = QStringLiteral("counter");
// The status line's words once the thumbnails' wait for the server is over.
QString thumbnailsUnreadText()
{
    return localized("Thumbnails could not be read: the catalog server cannot be reached.");
}
// How long a drag's question goes on through sessions that end, while the pointer moves.
constexpr int dragCheckSeconds = 1;

// The metadata as the table shows it: rows in key order, ignoring case.
QStringList sortedKeys(const QVariantMap &map)
{
    QStringList keys = map.keys();
    std::stable_sort(keys.begin(), keys.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return keys;
}
} // namespace

// Both protocols call their capability set capabilities(); the pane gets this adapter.
class OVNCatalogWindowMediaDelegate::DetailsSource : public OVNMediaDetailsDataSource
{
public:
    explicit DetailsSource(OVNCatalogWindowMediaDelegate &owner) : d(owner) {}

    Capabilities capabilities() const override
    {
        return Capability::StringForID | Capability::SelectionCount | Capability::Selections | Capability::AccessCheck
               | Capability::AutoFill | Capability::BurnCD | Capability::SendAsEmail | Capability::StoredValue;
    }
    // The auto-fill area shown while several entries are selected.
    void buttonAutoFillClick(QObject *) override { d.w.buttonAutoFillClick(); }
    void buttonBurnCDClick(QObject *) override { d.w.buttonBurnCDClick(); }
    void buttonSendAsEmailClick(QObject *) override { d.w.buttonSendAsEmailClick(); }
    QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key) override
    {
        return d.ovnMediaDetailsStringForID(pane, key);
    }
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *pane) override { return d.ovnMediaDetailsSelectionCount(pane); }
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *pane) override { return d.ovnMediaDetailsSelections(pane); }
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *pane, const QString &key, int row) override
    {
        return d.ovnMediaDetailsStringForIDForRow(pane, key, row);
    }
    std::optional<QString> ovnMediaDetailsStoredValue(OVNMediaDetails *, Table table, const QString &key,
                                                      const QString &mediaId) override
    {
        return d.storedValueNow(table, key, mediaId);
    }
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert) override
    {
        OVNDatabaseAccess *db = d.m_state.dbcon.get();
        OVNMediaView *view = d.m_state.mediaView;
        if (!showAlert && db && view && view->numberOfSelectedRows() == 1) {
            // The fields open by the user's groups and the owner's privileges as they are now,
            // not as they were when the list was loaded. While the server is away they stay
            // open: what is typed is kept, and judged when it is handed over again.
            const QString owner = view->mediaObject(keyCategoryId, view->selectedRow()).toString();
            const auto refusal = OVNCategoryAccess::entriesRefusalNow(*db, level, {owner});
            return !refusal || refusal->reason == OVNCategoryAccess::Refusal::Reason::Unreachable;
        }
        const quint64 failures = db ? db->failureCount() : 0;
        if (d.w.isUserAuthorizedForAccessCurrentSelectionWithType(level, showAlert))
            return true;
        // Privileges that cannot be read while the server is away leave the fields open: what is
        // typed is kept, and judged when it is handed over once the server answers again.
        return db && db->failureCount() != failures && db->lastFailure() == OVNDatabaseAccess::Failure::Unreachable;
    }
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) override
    {
        return d.ovnMediaDetailsPurchasedForID(pane, column);
    }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) override
    {
        return d.ovnMediaDetailsSoldForID(pane, column);
    }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mediaId) override
    {
        d.ovnMediaDetailsSetStringForID(pane, value, key, mediaId);
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                const QString &mediaId) override
    {
        d.ovnMediaDetailsSetStringForPurchasedID(pane, value, column, mediaId);
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                           const QString &mediaId) override
    {
        d.ovnMediaDetailsSetStringForSoldID(pane, value, column, mediaId);
    }
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane) override
    {
        return d.numberOfRowsInExifForOVNMediaDetails(pane);
    }
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row) override
    {
        return d.ovnMediaDetailsExifTagAtRow(pane, row);
    }
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row) override
    {
        return d.ovnMediaDetailsExifValueAtRow(pane, row);
    }

private:
    OVNCatalogWindowMediaDelegate &d;
};

OVNCatalogWindowMediaDelegate::OVNCatalogWindowMediaDelegate(OVNAssetManager &window, OVNCatalogWindowState &state)
    : w(window),
      m_state(state),
      m_details(std::make_unique<DetailsSource>(*this))
{}

OVNCatalogWindowMediaDelegate::~OVNCatalogWindowMediaDelegate() = default;

OVNMediaDetailsDataSource *OVNCatalogWindowMediaDelegate::detailsDataSource() const { return m_details.get(); }

// ---- thumbnail view delegate ----

bool OVNCatalogWindowMediaDelegate::isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level,
                                                                                      bool showAlert)
{
    return w.isUserAuthorizedForAccessCurrentSelectionWithType(level, showAlert);
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewReimportSelection(OVNMediaView *view)
{
    w.ovnMediaViewReimportSelection(view);
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewRelinkSelection(OVNMediaView *view)
{
    w.ovnMediaViewRelinkSelection(view);
}

void OVNCatalogWindowMediaDelegate::menuSetRating(int rating) { w.menuSetRating(rating); }

OVNMediaViewDelegate::Capabilities OVNCatalogWindowMediaDelegate::capabilities() const
{
    using D = OVNMediaViewDelegate;
    return D::ThumbnailData | D::SelectionDidChange | D::DoubleClick | D::UserAuthorization | D::Delete
           | D::OpenWithDefaultViewer | D::OpenWithCreator | D::WillDeleteEntry | D::DidDeleteEntry | D::AddFiles
           | D::MoveMids | D::LinkMids | D::ContainerAccess | D::MenuSetRating | D::ReimportSelection
           | D::RelinkSelection | D::HandOn | D::TakesFiles | D::WindowZoomPanel;
}

void OVNCatalogWindowMediaDelegate::windowZoomPanel(OVNMediaView *)
{
    emit w.zoomPanelToggleRequested();
    // A panel just shown gets this window's selection, whichever window was opened last.
    loadZoomPanelImage();
}

QByteArray OVNCatalogWindowMediaDelegate::ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId)
{
    OVNDatabaseAccess *db = m_state.dbcon.get();
    if (!db)
        return QByteArray();
    // May come from a thread that preloads: the connection serialises its statements, and that
    // thread neither waits nor shows anything (the cell's thumbnail is asked again when drawn).
    if (QThread::currentThread() != w.thread())
        return db->getThumbnailForMediaID(mediaId);
    const quint64 failures = db->failureCount();
    QByteArray data = db->getThumbnailForMediaID(mediaId);
    if (!OVNCatalogOpening::failedForLostServer(*db, failures)) {
        m_thumbnailWaitEnds.reset();
        return data;
    }
    if (view && view->isPainting()) {
        // A repaint never waits: the cell stays blank until the server answers again.
        awaitThumbnailsFor(view, mediaId);
        return QByteArray();
    }
    if (!thumbnailThroughEndedSessions(mediaId, &data))
        return QByteArray();
    return data;
}

bool OVNCatalogWindowMediaDelegate::thumbnailThroughEndedSessions(const QString &mediaId, QByteArray *data)
{
    OVNDatabaseAccess *db = m_state.dbcon.get();
    bool read = false;
    bool spent = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        const auto now = std::chrono::steady_clock::now();
        if (!m_thumbnailWaitEnds)
            m_thumbnailWaitEnds = now + std::chrono::seconds(wait->secondsLeft());
        const int left = int(std::chrono::ceil<std::chrono::seconds>(*m_thumbnailWaitEnds - now).count());
        // Within the command's time too, when the thumbnails are read for one (a list shown).
        if (left > 0)
            read = OVNCatalogOpening::retried(
                *db, [&] { *data = db->getThumbnailForMediaID(mediaId); }, wait->status(),
                std::min(left, wait->secondsLeft()));
        spent = !read && std::chrono::steady_clock::now() >= *m_thumbnailWaitEnds;
    }
    if (read) {
        m_thumbnailWaitEnds.reset();
        return true;
    }
    if (spent && w.statusText() != thumbnailsUnreadText())
        w.setStatus(thumbnailsUnreadText(), false);
    return false;
}

void OVNCatalogWindowMediaDelegate::awaitThumbnailsFor(OVNMediaView *view, const QString &mediaId)
{
    if (m_thumbnailWaitQueued)
        return;
    m_thumbnailWaitQueued = true;
    QTimer::singleShot(0, &w, [this, guarded = QPointer<OVNMediaView>(view), mediaId] {
        m_thumbnailWaitQueued = false;
        QByteArray data;
        if (guarded && m_state.dbcon && thumbnailThroughEndedSessions(mediaId, &data))
            guarded->viewport()->update();
    });
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewSelectionDidChange(OVNMediaView *)
{
    m_internalExifStorage.reset();
    m_internalPurchasedStorage.reset();
    m_internalSoldStorage.reset();
    loadSelectionDetails();
    w.refreshActions();
}

void OVNCatalogWindowMediaDelegate::loadSelectionDetails()
{
    loadPreviewImageForSelection();
    loadMediaDetailsForSelection();
}

void OVNCatalogWindowMediaDelegate::loadPreviewImageForSelection()
{
    if (m_state.mediaView && m_state.mediaView->numberOfSelectedRows() == 1) {
        const int row = m_state.mediaView->selectedRow();
        const QVariant rating = m_state.mediaView->mediaObject(keyRating, row);
        const QImage image = m_state.mediaView->imageForRow(row);
        // A record without a rating shows the picture alone.
        if (rating.isValid())
            m_state.mediaPreviewImage->setImage(image, rating.toString().toInt());
        else
            m_state.mediaPreviewImage->setImage(image);
    } else {
        m_state.mediaPreviewImage->setImage(QImage());
    }
    m_state.mediaPreviewImage->repaint();
    loadZoomPanelImage();
}

void OVNCatalogWindowMediaDelegate::loadZoomPanelImage()
{
    OVNZoomPanel *panel = OVNZoomPanel::instance();
    if (!panel || !panel->isVisible())
        return;
    const bool single = m_state.mediaView && m_state.mediaView->numberOfSelectedRows() == 1;
    panel->setImage(single ? m_state.mediaView->imageForRow(m_state.mediaView->selectedRow()) : QImage());
}

void OVNCatalogWindowMediaDelegate::loadMediaDetailsForSelection()
{
    const bool any = m_state.mediaView && m_state.mediaView->numberOfSelectedRows() > 0;
    m_state.mediaDetails->setDataSource(any ? detailsDataSource() : nullptr);
    m_state.mediaDetails->reloadData();
    m_state.mediaDetails->update();
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view,
                                                                            Qt::KeyboardModifiers modifiers)
{
    // Read again, so that a viewer just chosen in the preferences opens.
    w.loadPreferences();
    const bool second = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int type = second ? m_state.prefDefaultViewerType2 : m_state.prefDefaultViewerType1;
    const QString application = second ? m_state.prefExternalViewer2 : m_state.prefExternalViewer1;
    w.openMedia(view, type == 2 && application.isEmpty() ? 1 : type, application);
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view)
{
    w.openMedia(view, 0, QString());
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewOpenWithCreator(OVNMediaView *view) { w.openMedia(view, 1, QString()); }

// ---- deleting ----

void OVNCatalogWindowMediaDelegate::delete_(OVNMediaView *view)
{
    if (!view || view != m_state.mediaView)
        return;
    if (view->numberOfSelectedRows() == 0) {
        w.buttonDeleteCatalogClick();
        return;
    }
    // From a set only the memberships go: the set's level decides. Otherwise each entry's own
    // category does.
    const std::optional<CategoryNode> category = w.selectedCategory();
    const bool fromSet = category && category->value(keyType).toString() == QLatin1String("S");
    const bool granted =
        fromSet ? w.isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, true)
                : w.isUserAuthorizedForAccessCurrentSelectionWithType(OVNPrivilegeLevel::readWrite(), true);
    if (granted)
        deleteSelectedMedia();
}

void OVNCatalogWindowMediaDelegate::deleteSelectedMedia()
{
    if (!m_state.dbcon || !m_state.mediaView)
        return;
    m_deleteRefusedByDatabase = 0;
    // One transaction for the whole selection, each entry in a savepoint of its own: an entry
    // the catalog refuses stays, the others go together.
    const bool committed = OVNEntryEdits(m_state.dbcon.get()).inOneTransaction([this] {
        return m_state.mediaView->deleteSelectedRowsWithAutoReload(true);
    });
    if (!committed) {
        // Nothing of the batch was stored: show the entries again as the catalog has them.
        w.reloadMediaList();
        Alerts::display(localized("Delete Failed"),
                        localized("The selected entries could not be deleted from the catalog.") + QLatin1Char('\n')
                            + m_state.dbcon->getLastErrorMessage(),
                        &w);
        return;
    }
    if (m_deleteRefusedByDatabase > 0) {
        // The entries stay where they were; say so rather than leave the user guessing.
        Alerts::display(localized("Delete Failed"),
                        countedText(m_deleteRefusedByDatabase, "%1 entry could not be deleted from the catalog.",
                                    "%1 entries could not be deleted from the catalog.")
                            + QLatin1Char('\n') + m_state.dbcon->getLastErrorMessage(),
                        &w);
    }
}

bool OVNCatalogWindowMediaDelegate::ovnMediaViewWillDeleteEntry(OVNMediaView *view, int row)
{
    bool databaseRefused = false;
    const bool deleted = deleteEntry(view, row, &databaseRefused);
    m_deleteRefusedByDatabase += databaseRefused ? 1 : 0;
    return deleted;
}

bool OVNCatalogWindowMediaDelegate::deleteEntry(OVNMediaView *view, int row, bool *databaseRefused)
{
    *databaseRefused = false;
    const std::optional<CategoryNode> category = w.selectedCategory();
    if (!m_state.dbcon || !view || !category || row < 0 || row >= view->count())
        return false;
    const QString kind = category->contains(keyType) ? category->value(keyType).toString() : QStringLiteral("C");
    if (kind == QLatin1String("C")) {
        // The entry leaves the catalog: its own category must allow it.
        const QString owner = view->mediaObject(keyCategoryId, row).toString();
        if (!w.isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false))
            return false;
        *databaseRefused = !OVNEntryEdits(m_state.dbcon.get()).deleteEntry(view->mediaIDForRow(row));
        return !*databaseRefused;
    }
    if (kind == QLatin1String("S")) {
        // Only the membership goes; the entry stays in its collection and other sets.
        if (!w.isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, false))
            return false;
        const QString membership = view->entryMIDForRow(row);
        if (membership.isEmpty())
            return false;
        *databaseRefused = !OVNEntryEdits(m_state.dbcon.get()).deleteMembership(membership);
        return !*databaseRefused;
    }
    return false;
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewDidDeleteEntry(OVNMediaView *view, int)
{
    if (const std::optional<CategoryNode> category = w.selectedCategory())
        w.invalidateCountForCategory(category->value(keyMid).toString());
    if (view == m_state.mediaView)
        w.showItemCount();
}

// ---- adding, moving and linking ----

bool OVNCatalogWindowMediaDelegate::isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *view,
                                                                                    const QString &level)
{
    // The view shows the selected category; drops go there. Whether the user may change it is
    // asked of the catalog, never of the tree as it was loaded (a level raised since counts): for
    // files while they are dragged over the view (ovnMediaViewTakesFiles), for entries moved or
    // linked at the drop, which says why when not.
    if (!view || view != m_state.mediaView || level.isEmpty())
        return false;
    return w.selectedCategory().has_value();
}

bool OVNCatalogWindowMediaDelegate::ovnMediaViewAddFiles(OVNMediaView *, const QStringList &paths,
                                                         const QStringList &skipped)
{
    return addFiles(paths, w.selectedCategory(), skipped);
}

std::optional<QSet<QString>> OVNCatalogWindowMediaDelegate::leftOutOf(const QList<int> &rows)
{
    MediaList records;
    for (int row : rows)
        records.append(m_state.mediaView->objectForRow(row));
    QSet<QString> leftOut;
    if (!w.readableForOutput(records, &leftOut))
        return std::nullopt;
    return leftOut;
}

int OVNCatalogWindowMediaDelegate::copy()
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0)
        return 0;
    // What goes on the clipboard leaves the catalog: only entries the user may still read.
    const std::optional<QSet<QString>> leftOut = leftOutOf(m_state.mediaView->selectedRows());
    return leftOut ? m_state.mediaView->filteredcopy(*leftOut) : 0;
}

std::optional<QSet<QString>> OVNCatalogWindowMediaDelegate::ovnMediaViewLeftOutOfHandOn(OVNMediaView *view,
                                                                                        const QList<int> &rows)
{
    // The files go to whatever program takes them: only entries the user may still read, asked now.
    if (!view || view != m_state.mediaView)
        return std::nullopt;
    return leftOutOf(rows);
}

bool OVNCatalogWindowMediaDelegate::ovnMediaViewTakesFiles(OVNMediaView *view, const QStringList &paths)
{
    if (!view || view != m_state.mediaView || !m_state.dbcon || paths.isEmpty())
        return false;
    // Where addFiles would put them: the collection shown, or a new collection inside the folder
    // shown, or at the top level.
    const std::optional<CategoryNode> target = w.selectedCategory();
    const QString kind = target ? target->value(keyType).toString() : QString();
    const QString where = kind == QLatin1String("C") || kind == QLatin1String("F") ? target->value(keyMid).toString()
                                                                                   : QString();
    // Asked again on a new session when the session ends meanwhile; a server away is not waited
    // for while the pointer moves (the question comes again).
    std::optional<OVNCategoryAccess::Refusal> refusal;
    OVNCatalogOpening::retried(
        *m_state.dbcon,
        [&] { refusal = OVNCategoryAccess::refusalNow(*m_state.dbcon, where, OVNPrivilegeLevel::readWrite()); }, {},
        dragCheckSeconds);
    if (refusal)
        return false;
    // The same files are asked about again and again while the drag moves: looked at once for
    // as long as the questions keep coming (a later drag looks again).
    constexpr qint64 sameDragMs = 5000;
    if (paths != m_draggedPaths || !m_draggedPathsAsked.isValid() || m_draggedPathsAsked.elapsed() > sameDragMs) {
        m_draggedPaths = paths;
        m_draggedPathsImported = importsSomething(paths);
    }
    m_draggedPathsAsked.start();
    return m_draggedPathsImported;
}

bool OVNCatalogWindowMediaDelegate::importsSomething(const QStringList &paths)
{
    // A file counts when the table gives it a loader; a folder when the import would find one
    // inside it. A folder too large to look through here, or one that links elsewhere, counts
    // (its import lists what it does not take).
    const OVNExtensionMapping mapping;
    const auto imported = [&](const QString &path) {
        return FileTypeCodes::processor(mapping.getProcessorForFile(path)).loader != ProcessorCode::Loader::None;
    };
    // Enough for any folder of pictures, few enough to answer at once while the pointer moves.
    constexpr int entriesLookedAt = 5000;
    int looked = 0;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile() && imported(path))
            return true;
        if (!info.isDir())
            continue;
        QDirIterator entries(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            entries.next();
            const QFileInfo entry = entries.fileInfo();
            if (++looked > entriesLookedAt || (entry.isSymLink() && entry.isDir()))
                return true;
            if (entry.isFile() && imported(entry.filePath()))
                return true;
        }
    }
    return false;
}

bool OVNCatalogWindowMediaDelegate::canPaste()
{
    const std::optional<CategoryNode> category = w.selectedCategory();
    if (!m_state.mediaView || !category || category->value(keyType).toString() != QLatin1String("C"))
        return false;
    if (!w.isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, false))
        return false;
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return !OVNMediaPasteboard::read(data, QByteArray()).paths.isEmpty();
}

void OVNCatalogWindowMediaDelegate::paste()
{
    if (!canPaste()) {
        QApplication::beep();
        return;
    }
    m_state.mediaView->filteredpaste();
}

bool OVNCatalogWindowMediaDelegate::addFiles(const QStringList &paths, const std::optional<CategoryNode> &target,
                                             const QStringList &skipped)
{
    if (!m_state.dbcon || paths.isEmpty())
        return false;
    const QString kind = target ? target->value(keyType).toString() : QString();
    QString collection;
    QString folder;
    if (kind == QLatin1String("C"))
        collection = target->value(keyMid).toString();
    else if (kind == QLatin1String("F"))
        folder = target->value(keyMid).toString();

    if (collection.isEmpty()) {
        // A new collection for the files: inside the folder when the user may change it (asked
        // within the collection's making).
        const QFileInfo first(paths.first());
        const QString name = first.isDir() ? QDir(first.absoluteFilePath()).dirName() : QStringLiteral("drag");
        bool refused = false;
        const quint64 failures = m_state.dbcon->failureCount();
        collection = addCollection(name.isEmpty() ? QStringLiteral("drag") : name, folder, &refused);
        if (refused)
            return false;
        w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                           {{QStringLiteral("action"), QStringLiteral("add")}});
        if (collection.isEmpty()) {
            w.showCategoryRefusal(OVNCategoryAccess::writeFailure(
                *m_state.dbcon, failures, localized("The collection for the files could not be made.")));
            return false;
        }
    }
    // Marks the import as this window's once it starts.
    return w.importFiles(paths, collection, skipped);
}

QString OVNCatalogWindowMediaDelegate::addCollection(const QString &name, const QString &folder, bool *refused)
{
    const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
    OVNEntryEdits edits(m_state.dbcon.get());
    edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
    return edits.addCollection(name, folder, [&](OVNDatabaseTransaction &transaction) {
        // At the top level (no folder) the user's membership of a group decides.
        const quint64 failures = m_state.dbcon->failureCount();
        const std::optional<OVNCategoryAccess::Refusal> refusal =
            OVNCategoryAccess::refusalNow(*m_state.dbcon, folder, OVNPrivilegeLevel::readWrite());
        if (!refusal)
            return true;
        // A question lost with its session is asked again with the whole making.
        if (OVNCatalogOpening::failedForLostServer(*m_state.dbcon, failures))
            return false;
        // No lock is held while the user reads the alert.
        if (transaction.isActive())
            transaction.rollback();
        w.showCategoryRefusal(*refusal);
        if (refused)
            *refused = true;
        return false;
    });
}

void OVNCatalogWindowMediaDelegate::postReloadCategories(const QStringList &categoryIds)
{
    QStringList posted;
    for (const QString &id : categoryIds) {
        if (id.isEmpty() || posted.contains(id))
            continue;
        posted.append(id);
        w.postNotification(OVNAssetManager::reloadCategoryNotification(), {{keyCategoryId, id}});
    }
}

std::optional<QStringList> OVNCatalogWindowMediaDelegate::ownersIfTargetAccepts(const QStringList &mids,
                                                                                const QString &targetMid,
                                                                                const QString &targetKind,
                                                                                const QString &ownerLevel)
{
    // The target must be a category of that kind in this window's tree that the user may change,
    // and every entry's own category must grant `ownerLevel`; refusals are shown.
    std::optional<CategoryNode> target;
    if (const OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(targetMid))
        target = item->node;
    if (!target || target->value(keyType).toString() != targetKind)
        return std::nullopt;
    if (!w.isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), target, true))
        return std::nullopt;
    const QStringList owners = OVNEntryEdits(m_state.dbcon.get()).ownersOf(mids);
    // Ids from a window on another catalog name no entry here: nothing is moved or linked.
    if (owners.contains(QString())) {
        Alerts::display(localized("The entries are not in this catalog."),
                        localized("Drop them onto the thumbnails to add their files."), &w);
        return std::nullopt;
    }
    if (!w.isUserAuthorizedForMediaWithType(ownerLevel, owners, true))
        return std::nullopt;
    return owners;
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewMoveMids(OVNMediaView *, const QStringList &mids,
                                                         const QString &fromCatalog, const QString &toCatalog)
{
    if (!m_state.dbcon || mids.isEmpty())
        return;
    // Entries go only into a collection of this catalog the user may change, and only out of
    // categories the user may change.
    const std::optional<QStringList> owners =
        ownersIfTargetAccepts(mids, toCatalog, QStringLiteral("C"), OVNPrivilegeLevel::readWrite());
    if (!owners)
        return;
    QString unchanged;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        OVNEntryEdits edits(m_state.dbcon.get());
        edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
        unchanged = edits.unchangedText(edits.moveEntries(mids, toCatalog));
    }
    if (!unchanged.isEmpty())
        Alerts::display(localized("Some entries could not be moved."), unchanged, &w);
    // The target, the category they were shown in, and every collection they left.
    postReloadCategories(QStringList{toCatalog, fromCatalog} + *owners);
}

void OVNCatalogWindowMediaDelegate::ovnMediaViewLinkMids(OVNMediaView *, const QStringList &mids,
                                                         const QString &toImageSet)
{
    if (!m_state.dbcon || mids.isEmpty())
        return;
    // Linking shows an entry in one more place: the user must be able to see it where it lives.
    if (!ownersIfTargetAccepts(mids, toImageSet, QStringLiteral("S"), OVNPrivilegeLevel::readOnly()))
        return;
    QString unchanged;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        OVNEntryEdits edits(m_state.dbcon.get());
        edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
        unchanged = edits.unchangedText(edits.linkEntries(mids, toImageSet));
    }
    if (!unchanged.isEmpty())
        Alerts::display(localized("Some entries could not be added to the set."), unchanged, &w);
    postReloadCategories({toImageSet});
}

// ---- details data source ----

int OVNCatalogWindowMediaDelegate::rowForMediaId(const QString &mediaId) const
{
    return m_state.mediaView ? m_state.mediaView->rowForMid(mediaId) : -1;
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key)
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() != 1)
        return QString();
    return m_state.mediaView->mediaObject(key, m_state.mediaView->selectedRow()).toString();
}

int OVNCatalogWindowMediaDelegate::ovnMediaDetailsSelectionCount(OVNMediaDetails *)
{
    return w.numberOfSelectedItems();
}

QList<int> OVNCatalogWindowMediaDelegate::ovnMediaDetailsSelections(OVNMediaDetails *)
{
    return m_state.mediaView ? m_state.mediaView->selectedRows() : QList<int>();
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &key, int row)
{
    if (!m_state.mediaView || row < 0 || row >= m_state.mediaView->count())
        return QString();
    // The list's own keys are kept as text and never changed by the preloader: read directly, as
    // the pane sums the sizes of every selected entry.
    static QString lastKey;
    static int field = -1;
    if (key != lastKey) {
        lastKey = key;
        field = MediaRecord::fieldIndex(key);
    }
    if (field >= 0)
        return m_state.mediaView->mediaContainer().at(row)->field(MediaRecord::Field(field));
    return m_state.mediaView->mediaObject(key, row).toString();
}

QVariantMap OVNCatalogWindowMediaDelegate::paneRead(const std::function<QVariantMap()> &read, const QString &mid)
{
    if (!m_state.dbcon || mid.isEmpty())
        return QVariantMap();
    // Read again on a new session through sessions that end, within the window's 30 seconds.
    QVariantMap rows;
    const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
    OVNCatalogOpening::retried(
        *m_state.dbcon, [&] { rows = read(); }, wait->status(), wait->secondsLeft());
    return rows;
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() != 1)
        return QString();
    if (!m_internalPurchasedStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalPurchasedStorage = paneRead([&] { return m_state.dbcon->getPurchasedForMediaID(mid); }, mid);
    }
    return m_internalPurchasedStorage->value(column).toString();
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() != 1)
        return QString();
    if (!m_internalSoldStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalSoldStorage = paneRead([&] { return m_state.dbcon->getSoldForMediaID(mid); }, mid);
    }
    return m_internalSoldStorage->value(column).toString();
}

std::optional<QString> OVNCatalogWindowMediaDelegate::storedValueNow(OVNMediaDetailsDataSource::Table table,
                                                                     const QString &key, const QString &mediaId)
{
    if (!m_state.dbcon || mediaId.isEmpty())
        return std::nullopt;
    OVNDatabaseAccess &db = *m_state.dbcon;
    using Table = OVNMediaDetailsDataSource::Table;
    // Read again on a new session through sessions that end, within the window's 30 seconds.
    QString owner;
    QString value;
    bool read = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        read = OVNCatalogOpening::retried(
            db,
            [&] {
                owner = db.getMediaListEntryForMediaID(mediaId, keyCategoryId);
                value = table == Table::Purchased ? db.getPurchasedForMediaID(mediaId).value(key).toString()
                        : table == Table::Sold    ? db.getSoldForMediaID(mediaId).value(key).toString()
                                                  : db.getMediaListEntryForMediaID(mediaId, key);
            },
            wait->status(), wait->secondsLeft());
    }
    // An entry deleted meanwhile has no value to weigh: the write says it is gone.
    if (!read || owner.isEmpty())
        return std::nullopt;
    if (table == Table::Media) {
        if (const int row = rowForMediaId(mediaId); row >= 0)
            m_state.mediaView->setMediaObject(key, value, row);
    } else {
        m_internalPurchasedStorage.reset();
        m_internalSoldStorage.reset();
    }
    return value;
}

bool OVNCatalogWindowMediaDelegate::writeDetailsValue(const QString &mediaId, const std::function<bool()> &write,
                                                      const QString &column, const QString &value)
{
    if (!m_state.dbcon || mediaId.isEmpty())
        return false;
    OVNDatabaseAccess &db = *m_state.dbcon;
    const quint64 failures = db.failureCount();
    const auto refuse = [&](const OVNCategoryAccess::Refusal &refusal) {
        if (refusal.reason == OVNCategoryAccess::Refusal::Reason::Unreachable) {
            // The catalog was out of reach: what was typed is kept in the pane, marked as not
            // saved, and handed over again later.
            w.showCategoryRefusal(OVNCategoryAccess::writeFailure(db, failures, QString()));
            if (m_state.mediaDetails)
                m_state.mediaDetails->keepUnsavedEdit();
        } else {
            // Refused: the pane shows what is stored again, not what was typed.
            w.showCategoryRefusal(refusal);
            if (m_state.mediaDetails)
                m_state.mediaDetails->refuseHandedOverEdit();
        }
        return false;
    };
    // The entry the edit began on, wherever the selection is now: its own category decides, with
    // the user's groups as they are now, asked in the transaction that writes the value, so that
    // the level that allowed it is the level the catalog holds when it commits. Asked and written
    // again on a new session through sessions that end (a value set is the same however often it
    // is written), within the window's 30 seconds, so that "not saved" is said only when the
    // catalog does not hold the value; after a lost answer a value of the entry's record that the
    // catalog holds already was saved by the try before, whatever the level is now.
    using Verdict = OVNCategoryAccess::EntriesVerdict::Verdict;
    std::optional<OVNCategoryAccess::Refusal> refusal;
    bool written = false;
    bool unread = false;
    int tries = 0;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        OVNCatalogOpening::retried(
            db,
            [&] {
                refusal.reset();
                written = false;
                OVNDatabaseTransaction transaction(db);
                const bool afterLoss = tries++ > 0 && !column.isEmpty();
                const std::optional<OVNCategoryAccess::EntriesVerdict> verdict = OVNCategoryAccess::entriesNow(
                    db, {mediaId}, OVNPrivilegeLevel::readWrite(), column,
                    afterLoss ? [&](qsizetype, const QString &held) { return held == value; }
                              : std::function<bool(qsizetype, const QString &)>());
                unread = !verdict;
                if (unread)
                    return;
                switch (verdict->verdicts.front()) {
                case Verdict::Stored:
                    written = true;
                    return;
                case Verdict::Write:
                    written = write() && (!transaction.isActive() || transaction.commit());
                    return;
                case Verdict::Refused:
                    refusal =
                        OVNCategoryAccess::privilegeRefusal(OVNPrivilegeLevel::readWrite(), verdict->refusedLevel);
                    break;
                case Verdict::Missing:
                    refusal = OVNCategoryAccess::entryMissingRefusal();
                    break;
                case Verdict::Excluded:
                    refusal = verdict->excluded;
                    break;
                }
                // No lock is held while the user reads the alert.
                if (transaction.isActive())
                    transaction.rollback();
            },
            wait->status(), wait->secondsLeft());
    }
    if (written)
        return true;
    if (refusal && !unread)
        return refuse(*refusal);
    return refuse(OVNCategoryAccess::writeFailure(db, failures, localized("The change could not be stored.")));
}

void OVNCatalogWindowMediaDelegate::ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &value,
                                                                  const QString &key, const QString &mediaId)
{
    if (!writeDetailsValue(
            mediaId, [&] { return m_state.dbcon->updateMediaListEntry(mediaId, key, value); }, key, value))
        return;
    const int row = rowForMediaId(mediaId);
    if (row >= 0)
        m_state.mediaView->setMediaObject(key, value, row);
}

void OVNCatalogWindowMediaDelegate::ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value,
                                                                           const QString &column,
                                                                           const QString &mediaId)
{
    if (!writeDetailsValue(mediaId, [&] { return m_state.dbcon->updatePurchasedEntry(mediaId, column, value); }))
        return;
    // The cache belongs to the one selected entry; an edit of another entry must not enter it.
    if (m_internalPurchasedStorage && ovnMediaDetailsStringForID(nullptr, keyMid) == mediaId)
        m_internalPurchasedStorage->insert(column, value);
    else
        m_internalPurchasedStorage.reset();
}

void OVNCatalogWindowMediaDelegate::ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value,
                                                                      const QString &column, const QString &mediaId)
{
    if (!writeDetailsValue(mediaId, [&] { return m_state.dbcon->updateSoldEntry(mediaId, column, value); }))
        return;
    if (m_internalSoldStorage && ovnMediaDetailsStringForID(nullptr, keyMid) == mediaId)
        m_internalSoldStorage->insert(column, value);
    else
        m_internalSoldStorage.reset();
}

void OVNCatalogWindowMediaDelegate::cacheExifForOVNMediaDetails(OVNMediaDetails *pane)
{
    if (m_internalExifStorage || !m_state.dbcon || !m_state.mediaView || m_state.mediaView->numberOfSelectedRows() != 1)
        return;
    const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
    if (mid.isEmpty())
        return;
    // The metadata the file was imported with, as one property-list dictionary; without one the
    // cache stays empty and the next request asks again.
    const QString text = paneRead([&] { return m_state.dbcon->getExifForMediaID(mid); }, mid)
                             .value(QStringLiteral("exiftags"))
                             .toString();
    if (text.size() <= 2)
        return;
    const QVariant tags = PropertyList::read(text.toUtf8());
    if (tags.typeId() == QMetaType::QVariantMap)
        m_internalExifStorage = tags.toMap();
}

int OVNCatalogWindowMediaDelegate::numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane)
{
    cacheExifForOVNMediaDetails(pane);
    return m_internalExifStorage ? int(m_internalExifStorage->size()) : 0;
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    return sortedKeys(*m_internalExifStorage).at(row);
}

QString OVNCatalogWindowMediaDelegate::ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    const QVariant value = m_internalExifStorage->value(sortedKeys(*m_internalExifStorage).at(row));
    // A list of values (keywords, several dates) shows as one line.
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}
