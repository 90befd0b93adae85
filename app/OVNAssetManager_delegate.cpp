// The catalog window as the thumbnail view's delegate and the details pane's data source: the
// thumbnails, the selection shown in the preview and details, opening on a double-click, and the
// stored values of the selected entry.
#include "app/OVNAssetManager.h"

#include "browser/OVNMediaPreviewImage.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNOutlineView.h"
#include "app/OVNPrivilegeLevel.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNZoomPanel.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QThread>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>

#include <algorithm>

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyRating;
using CatalogNames::keyCategoryId;
using CatalogNames::keyType;
const QString keyCounter = QStringLiteral("counter");

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
class OVNAssetManager::DetailsDataSource : public OVNMediaDetailsDataSource
{
public:
    explicit DetailsDataSource(OVNAssetManager &window) : m_window(window) {}

    Capabilities capabilities() const override
    {
        return Capability::StringForID | Capability::SelectionCount | Capability::Selections
            | Capability::AccessCheck | Capability::AutoFill | Capability::BurnCD | Capability::SendAsEmail;
    }
    // The auto-fill area shown while several entries are selected.
    void buttonAutoFillClick(QObject *) override { m_window.buttonAutoFillClick(); }
    void buttonBurnCDClick(QObject *) override { m_window.buttonBurnCDClick(); }
    void buttonSendAsEmailClick(QObject *) override { m_window.buttonSendAsEmailClick(); }
    QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key) override
    {
        return m_window.ovnMediaDetailsStringForID(pane, key);
    }
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *pane) override
    {
        return m_window.ovnMediaDetailsSelectionCount(pane);
    }
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *pane) override
    {
        return m_window.ovnMediaDetailsSelections(pane);
    }
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *pane, const QString &key, int row) override
    {
        return m_window.ovnMediaDetailsStringForIDForRow(pane, key, row);
    }
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert) override
    {
        return m_window.isUserAuthorizedForAccessCurrentSelectionWithType(level, showAlert);
    }
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) override
    {
        return m_window.ovnMediaDetailsPurchasedForID(pane, column);
    }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) override
    {
        return m_window.ovnMediaDetailsSoldForID(pane, column);
    }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForID(pane, value, key, mediaId);
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForPurchasedID(pane, value, column, mediaId);
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                           const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForSoldID(pane, value, column, mediaId);
    }
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane) override
    {
        return m_window.numberOfRowsInExifForOVNMediaDetails(pane);
    }
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row) override
    {
        return m_window.ovnMediaDetailsExifTagAtRow(pane, row);
    }
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row) override
    {
        return m_window.ovnMediaDetailsExifValueAtRow(pane, row);
    }

private:
    OVNAssetManager &m_window;
};

OVNMediaDetailsDataSource *OVNAssetManager::detailsDataSource() const
{
    if (!m_detailsDataSource)
        const_cast<OVNAssetManager *>(this)->m_detailsDataSource =
            std::make_unique<DetailsDataSource>(*const_cast<OVNAssetManager *>(this));
    return m_detailsDataSource.get();
}

// Defined here, where the adapter is complete.
OVNAssetManager::OVNAssetManager()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(displayName());
    buildWindow();
}

OVNAssetManager::~OVNAssetManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    if (m_maintenanceThread)
        m_maintenanceThread->wait();
    // The view may still be preloading; it must not call back into a half-destroyed window.
    if (m_mediaView) {
        m_mediaView->setMediaContainer(nullptr);
        m_mediaView->setDelegate(nullptr);
    }
    if (m_mediaDetails)
        m_mediaDetails->setDataSource(nullptr);
}

// ---- thumbnail view delegate ----

OVNMediaViewDelegate::Capabilities OVNAssetManager::capabilities() const
{
    using D = OVNMediaViewDelegate;
    return D::ThumbnailData | D::SelectionDidChange | D::DoubleClick | D::UserAuthorization | D::Delete
        | D::OpenWithDefaultViewer | D::OpenWithCreator | D::WillDeleteEntry | D::DidDeleteEntry | D::AddFiles
        | D::MoveMids | D::LinkMids | D::ContainerAccess | D::MenuSetRating | D::ReimportSelection
        | D::RelinkSelection;
}

QByteArray OVNAssetManager::ovnMediaViewThumbnailData(OVNMediaView *, const QString &mediaId)
{
    // May come from the thread that preloads; the connection serialises its statements.
    return m_dbcon ? m_dbcon->getThumbnailForMediaID(mediaId) : QByteArray();
}

void OVNAssetManager::ovnMediaViewSelectionDidChange(OVNMediaView *)
{
    m_internalExifStorage.reset();
    m_internalPurchasedStorage.reset();
    m_internalSoldStorage.reset();
    loadSelectionDetails();
    refreshActions();
}

void OVNAssetManager::loadSelectionDetails()
{
    loadPreviewImageForSelection();
    loadMediaDetailsForSelection();
}

void OVNAssetManager::loadPreviewImageForSelection()
{
    if (m_mediaView && m_mediaView->numberOfSelectedRows() == 1) {
        const int row = m_mediaView->selectedRow();
        const QVariant rating = m_mediaView->mediaObject(keyRating, row);
        const QImage image = m_mediaView->imageForRow(row);
        // A record without a rating shows the picture alone.
        if (rating.isValid())
            m_mediaPreviewImage->setImage(image, rating.toString().toInt());
        else
            m_mediaPreviewImage->setImage(image);
    } else {
        m_mediaPreviewImage->setImage(QImage());
    }
    m_mediaPreviewImage->repaint();
    loadZoomPanelImage();
}

void OVNAssetManager::loadZoomPanelImage()
{
    OVNZoomPanel *panel = OVNZoomPanel::instance();
    if (!panel || !panel->isVisible())
        return;
    const bool single = m_mediaView && m_mediaView->numberOfSelectedRows() == 1;
    panel->setImage(single ? m_mediaView->imageForRow(m_mediaView->selectedRow()) : QImage());
}

void OVNAssetManager::loadMediaDetailsForSelection()
{
    const bool any = m_mediaView && m_mediaView->numberOfSelectedRows() > 0;
    m_mediaDetails->setDataSource(any ? detailsDataSource() : nullptr);
    m_mediaDetails->reloadData();
    m_mediaDetails->update();
}

void OVNAssetManager::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers)
{
    // Read again, so that a viewer just chosen in the preferences opens.
    loadPreferences();
    const bool second = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int type = second ? m_prefDefaultViewerType2 : m_prefDefaultViewerType1;
    const QString application = second ? m_prefExternalViewer2 : m_prefExternalViewer1;
    openMedia(view, type == 2 && application.isEmpty() ? 1 : type, application);
}

void OVNAssetManager::ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view)
{
    openMedia(view, 0, QString());
}

void OVNAssetManager::ovnMediaViewOpenWithCreator(OVNMediaView *view)
{
    openMedia(view, 1, QString());
}

// ---- deleting ----

void OVNAssetManager::delete_(OVNMediaView *view)
{
    if (!view || view != m_mediaView)
        return;
    if (view->numberOfSelectedRows() == 0) {
        buttonDeleteCatalogClick();
        return;
    }
    // From a set only the memberships go: the set's level decides. Otherwise each entry's own
    // category does.
    const std::optional<CategoryNode> category = selectedCategory();
    const bool fromSet = category && category->value(keyType).toString() == QLatin1String("S");
    const bool granted = fromSet
        ? isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, true)
        : isUserAuthorizedForAccessCurrentSelectionWithType(OVNPrivilegeLevel::readWrite(), true);
    if (granted)
        deleteSelectedMedia();
}

void OVNAssetManager::deleteSelectedMedia()
{
    if (!m_dbcon || !m_mediaView)
        return;
    m_deleteRefusedByDatabase = 0;
    // One transaction for the whole selection, each entry in a savepoint of its own: an entry
    // the catalog refuses stays, the others go together.
    const bool committed = OVNEntryEdits(m_dbcon.get()).inOneTransaction(
        [this] { return m_mediaView->deleteSelectedRowsWithAutoReload(true); });
    if (!committed) {
        // Nothing of the batch was stored: show the entries again as the catalog has them.
        reloadMediaList();
        Alerts::display(localized("Delete Failed"),
                                localized("The selected entries could not be deleted from the catalog.")
                                    + QLatin1Char('\n') + m_dbcon->getLastErrorMessage(),
                                this);
        return;
    }
    if (m_deleteRefusedByDatabase > 0) {
        // The entries stay where they were; say so rather than leave the user guessing.
        Alerts::display(localized("Delete Failed"),
                                QCoreApplication::translate("Localizable",
                                                            "%n entries could not be deleted from the catalog.",
                                                            nullptr, m_deleteRefusedByDatabase)
                                    + QLatin1Char('\n') + m_dbcon->getLastErrorMessage(),
                                this);
    }
}

bool OVNAssetManager::ovnMediaViewWillDeleteEntry(OVNMediaView *view, int row)
{
    bool databaseRefused = false;
    const bool deleted = deleteEntry(view, row, &databaseRefused);
    m_deleteRefusedByDatabase += databaseRefused ? 1 : 0;
    return deleted;
}

bool OVNAssetManager::deleteEntry(OVNMediaView *view, int row, bool *databaseRefused)
{
    *databaseRefused = false;
    const std::optional<CategoryNode> category = selectedCategory();
    if (!m_dbcon || !view || !category || row < 0 || row >= view->count())
        return false;
    const QString kind = category->contains(keyType) ? category->value(keyType).toString() : QStringLiteral("C");
    if (kind == QLatin1String("C")) {
        // The entry leaves the catalog: its own category must allow it.
        const QString owner = view->mediaObject(keyCategoryId, row).toString();
        if (!isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false))
            return false;
        *databaseRefused = !OVNEntryEdits(m_dbcon.get()).deleteEntry(view->mediaIDForRow(row));
        return !*databaseRefused;
    }
    if (kind == QLatin1String("S")) {
        // Only the membership goes; the entry stays in its collection and other sets.
        if (!isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, false))
            return false;
        const QString membership = view->entryMIDForRow(row);
        if (membership.isEmpty())
            return false;
        *databaseRefused = !OVNEntryEdits(m_dbcon.get()).deleteMembership(membership);
        return !*databaseRefused;
    }
    return false;
}

void OVNAssetManager::ovnMediaViewDidDeleteEntry(OVNMediaView *view, int)
{
    if (const std::optional<CategoryNode> category = selectedCategory())
        invalidateCountForCategory(category->value(keyMid).toString());
    if (view == m_mediaView)
        showItemCount();
}

// ---- adding, moving and linking ----

bool OVNAssetManager::isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *view, const QString &level)
{
    // The view shows the selected category; drops and pastes go there.
    if (!view || view != m_mediaView)
        return false;
    return isUserAuthorizedForAccessType(level, selectedCategory(), false);
}

void OVNAssetManager::ovnMediaViewAddFiles(OVNMediaView *, const QStringList &paths, const QStringList &skipped)
{
    addFiles(paths, selectedCategory(), skipped);
}

int OVNAssetManager::copy()
{
    return m_mediaView ? m_mediaView->filteredcopy() : 0;
}

bool OVNAssetManager::canPaste()
{
    const std::optional<CategoryNode> category = selectedCategory();
    if (!m_mediaView || !category || category->value(keyType).toString() != QLatin1String("C"))
        return false;
    if (!isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), category, false))
        return false;
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return !OVNMediaPasteboard::read(data, QByteArray()).paths.isEmpty();
}

void OVNAssetManager::paste()
{
    if (!canPaste()) {
        QApplication::beep();
        return;
    }
    m_mediaView->filteredpaste();
}

void OVNAssetManager::addFiles(const QStringList &paths, const std::optional<CategoryNode> &target,
                               const QStringList &skipped)
{
    if (!m_dbcon || paths.isEmpty())
        return;
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
        const quint64 failures = m_dbcon->failureCount();
        collection = addCollection(name.isEmpty() ? QStringLiteral("drag") : name, folder, &refused);
        if (refused)
            return;
        postNotification(categoryListDidChangeNotification(), {{QStringLiteral("action"), QStringLiteral("add")}});
        if (collection.isEmpty()) {
            showCategoryRefusal(OVNCategoryAccess::writeFailure(*m_dbcon, failures,
                                                                localized("The collection for the files could not be made.")));
            return;
        }
    }
    // Marks the import as this window's once it starts.
    importFiles(paths, collection, skipped);
}

QString OVNAssetManager::addCollection(const QString &name, const QString &folder, bool *refused)
{
    return OVNEntryEdits(m_dbcon.get()).addCollection(name, folder, [&](OVNDatabaseTransaction &transaction) {
        if (folder.isEmpty() || isUserAuthorizedNow(OVNPrivilegeLevel::readWrite(), folder, &transaction))
            return true;
        if (refused)
            *refused = true;
        return false;
    });
}

void OVNAssetManager::postReloadCategories(const QStringList &categoryIds)
{
    QStringList posted;
    for (const QString &id : categoryIds) {
        if (id.isEmpty() || posted.contains(id))
            continue;
        posted.append(id);
        postNotification(reloadCategoryNotification(), {{keyCategoryId, id}});
    }
}

std::optional<QStringList> OVNAssetManager::ownersIfTargetAccepts(const QStringList &mids, const QString &targetMid,
                                                                 const QString &targetKind,
                                                                 const QString &ownerLevel)
{
    // The target must be a category of that kind in this window's tree that the user may change,
    // and every entry's own category must grant `ownerLevel`; refusals are shown.
    std::optional<CategoryNode> target;
    if (const OVNCategoryTreeModel::Item *item = m_categoryModel->itemForMid(targetMid))
        target = item->node;
    if (!target || target->value(keyType).toString() != targetKind)
        return std::nullopt;
    if (!isUserAuthorizedForAccessType(OVNPrivilegeLevel::readWrite(), target, true))
        return std::nullopt;
    const QStringList owners = OVNEntryEdits(m_dbcon.get()).ownersOf(mids);
    // Ids from a window on another catalog name no entry here: nothing is moved or linked.
    if (owners.contains(QString())) {
        Alerts::display(localized("The entries are not in this catalog."),
                                localized("Drop them onto the thumbnails to add their files."), this);
        return std::nullopt;
    }
    if (!isUserAuthorizedForMediaWithType(ownerLevel, owners, true))
        return std::nullopt;
    return owners;
}

void OVNAssetManager::ovnMediaViewMoveMids(OVNMediaView *, const QStringList &mids, const QString &fromCatalog,
                                           const QString &toCatalog)
{
    if (!m_dbcon || mids.isEmpty())
        return;
    // Entries go only into a collection of this catalog the user may change, and only out of
    // categories the user may change.
    const std::optional<QStringList> owners =
        ownersIfTargetAccepts(mids, toCatalog, QStringLiteral("C"), OVNPrivilegeLevel::readWrite());
    if (!owners)
        return;
    if (OVNEntryEdits(m_dbcon.get()).moveEntries(mids, toCatalog) > 0)
        Alerts::display(localized("Some entries could not be moved."), m_dbcon->getLastErrorMessage(), this);
    // The target, the category they were shown in, and every collection they left.
    postReloadCategories(QStringList{toCatalog, fromCatalog} + *owners);
}

void OVNAssetManager::ovnMediaViewLinkMids(OVNMediaView *, const QStringList &mids, const QString &toImageSet)
{
    if (!m_dbcon || mids.isEmpty())
        return;
    // Linking shows an entry in one more place: the user must be able to see it where it lives.
    if (!ownersIfTargetAccepts(mids, toImageSet, QStringLiteral("S"), OVNPrivilegeLevel::readOnly()))
        return;
    if (OVNEntryEdits(m_dbcon.get()).linkEntries(mids, toImageSet) > 0)
        Alerts::display(localized("Some entries could not be added to the set."),
                                m_dbcon->getLastErrorMessage(), this);
    postReloadCategories({toImageSet});
}

// ---- details data source ----

int OVNAssetManager::rowForMediaId(const QString &mediaId) const
{
    return m_mediaView ? m_mediaView->rowForMid(mediaId) : -1;
}

QString OVNAssetManager::ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key)
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() != 1)
        return QString();
    return m_mediaView->mediaObject(key, m_mediaView->selectedRow()).toString();
}

int OVNAssetManager::ovnMediaDetailsSelectionCount(OVNMediaDetails *)
{
    return numberOfSelectedItems();
}

QList<int> OVNAssetManager::ovnMediaDetailsSelections(OVNMediaDetails *)
{
    return m_mediaView ? m_mediaView->selectedRows() : QList<int>();
}

QString OVNAssetManager::ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &key, int row)
{
    if (!m_mediaView || row < 0 || row >= m_mediaView->count())
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
        return m_mediaView->mediaContainer().at(row)->field(MediaRecord::Field(field));
    return m_mediaView->mediaObject(key, row).toString();
}

QString OVNAssetManager::ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() != 1)
        return QString();
    if (!m_internalPurchasedStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalPurchasedStorage = m_dbcon && !mid.isEmpty() ? m_dbcon->getPurchasedForMediaID(mid) : QVariantMap();
    }
    return m_internalPurchasedStorage->value(column).toString();
}

QString OVNAssetManager::ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() != 1)
        return QString();
    if (!m_internalSoldStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalSoldStorage = m_dbcon && !mid.isEmpty() ? m_dbcon->getSoldForMediaID(mid) : QVariantMap();
    }
    return m_internalSoldStorage->value(column).toString();
}

bool OVNAssetManager::writeDetailsValue(const QString &mediaId, const std::function<bool()> &write)
{
    if (!m_dbcon || mediaId.isEmpty())
        return false;
    const quint64 failures = m_dbcon->failureCount();
    const auto keepTyped = [&] {
        // The catalog was out of reach: what was typed stays in the pane, marked as not saved.
        showCategoryRefusal(OVNCategoryAccess::writeFailure(*m_dbcon, failures, localized("The change could not be stored.")));
        if (m_mediaDetails)
            m_mediaDetails->keepUnsavedEdit();
        return false;
    };
    // The entry the edit began on, wherever the selection is now: its own category decides.
    const QString owner = m_dbcon->getMediaListEntryForMediaID(mediaId, keyCategoryId);
    if (m_dbcon->failureCount() != failures && m_dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return keepTyped();
    // A refusal is shown once here; the pane's forms are already closed to this user.
    QString level;
    if (!isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false, &level)) {
        if (m_dbcon->failureCount() != failures && m_dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
            return keepTyped();
        if (m_dbcon->failureCount() != failures)
            showCategoryRefusal(OVNCategoryAccess::readFailure(*m_dbcon));
        else
            showAuthorizationFailure(OVNPrivilegeLevel::readWrite(), level);
        return false;
    }
    if (write())
        return true;
    if (m_dbcon->failureCount() != failures && m_dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return keepTyped();
    Alerts::display(localized("The change could not be stored."), m_dbcon->getLastErrorMessage(),
                            m_mediaView ? m_mediaView->window() : this);
    // The pane shows what is stored again, not what was typed.
    if (m_mediaDetails)
        m_mediaDetails->reloadData();
    return false;
}

void OVNAssetManager::ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &value, const QString &key,
                                                    const QString &mediaId)
{
    if (!writeDetailsValue(mediaId, [&] { return m_dbcon->updateMediaListEntry(mediaId, key, value); }))
        return;
    const int row = rowForMediaId(mediaId);
    if (row >= 0)
        m_mediaView->setMediaObject(key, value, row);
}

void OVNAssetManager::ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value,
                                                             const QString &column, const QString &mediaId)
{
    if (!writeDetailsValue(mediaId, [&] { return m_dbcon->updatePurchasedEntry(mediaId, column, value); }))
        return;
    // The cache belongs to the one selected entry; an edit of another entry must not enter it.
    if (m_internalPurchasedStorage && ovnMediaDetailsStringForID(nullptr, keyMid) == mediaId)
        m_internalPurchasedStorage->insert(column, value);
    else
        m_internalPurchasedStorage.reset();
}

void OVNAssetManager::ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value, const QString &column,
                                                        const QString &mediaId)
{
    if (!writeDetailsValue(mediaId, [&] { return m_dbcon->updateSoldEntry(mediaId, column, value); }))
        return;
    if (m_internalSoldStorage && ovnMediaDetailsStringForID(nullptr, keyMid) == mediaId)
        m_internalSoldStorage->insert(column, value);
    else
        m_internalSoldStorage.reset();
}

void OVNAssetManager::cacheExifForOVNMediaDetails(OVNMediaDetails *pane)
{
    if (m_internalExifStorage || !m_dbcon || !m_mediaView || m_mediaView->numberOfSelectedRows() != 1)
        return;
    const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
    if (mid.isEmpty())
        return;
    // The metadata the file was imported with, as one property-list dictionary; without one the
    // cache stays empty and the next request asks again.
    const QString text = m_dbcon->getExifForMediaID(mid).value(QStringLiteral("exiftags")).toString();
    if (text.size() <= 2)
        return;
    const QVariant tags = PropertyList::read(text.toUtf8());
    if (tags.typeId() == QMetaType::QVariantMap)
        m_internalExifStorage = tags.toMap();
}

int OVNAssetManager::numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane)
{
    cacheExifForOVNMediaDetails(pane);
    return m_internalExifStorage ? int(m_internalExifStorage->size()) : 0;
}

QString OVNAssetManager::ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    return sortedKeys(*m_internalExifStorage).at(row);
}

QString OVNAssetManager::ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    const QVariant value = m_internalExifStorage->value(sortedKeys(*m_internalExifStorage).at(row));
    // A list of values (keywords, several dates) shows as one line.
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}
