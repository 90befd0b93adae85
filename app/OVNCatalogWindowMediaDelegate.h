#pragma once

#include "catalogdb/OVNDatabaseAccess.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "browser/OVNMediaViewDelegate.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class OVNAssetManager;
struct OVNCatalogWindowState;
class OVNMediaDetails;

// The catalog window's thumbnail view delegate and, through a small adapter (both protocols name
// their capability sets alike), its details pane's data source: the thumbnails, the selection
// shown in the preview and details, opening on a double-click, deleting, dropping and pasting
// entries, and the stored values of the selected entry. Owned by the window; acts through its
// public methods and on the state it hands over, and keeps the selected entry's values itself.
class OVNCatalogWindowMediaDelegate : public OVNMediaViewDelegate
{
public:
    OVNCatalogWindowMediaDelegate(OVNAssetManager &window, OVNCatalogWindowState &state);
    ~OVNCatalogWindowMediaDelegate() override;

    // ---- thumbnail view delegate ----
    OVNMediaViewDelegate::Capabilities capabilities() const override;
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId) override;
    void ovnMediaViewSelectionDidChange(OVNMediaView *view) override;
    void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers) override;
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert) override;
    void delete_(OVNMediaView *view) override;
    void ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view) override;
    void ovnMediaViewOpenWithCreator(OVNMediaView *view) override;
    void ovnMediaViewReimportSelection(OVNMediaView *view) override;
    void ovnMediaViewRelinkSelection(OVNMediaView *view) override;
    void menuSetRating(int rating) override;
    // Space: shows the zoom panel, or hides it when it is up (as Window > Zoom Panel).
    void windowZoomPanel(OVNMediaView *view) override;
    bool ovnMediaViewWillDeleteEntry(OVNMediaView *view, int row) override;
    void ovnMediaViewDidDeleteEntry(OVNMediaView *view, int row) override;
    // Drops and pastes go to the category the view shows, when the user may change it.
    bool isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *view, const QString &level) override;
    bool ovnMediaViewAddFiles(OVNMediaView *view, const QStringList &paths, const QStringList &skipped) override;
    void ovnMediaViewMoveMids(OVNMediaView *view, const QStringList &mids, const QString &fromCatalog,
                              const QString &toCatalog) override;
    void ovnMediaViewLinkMids(OVNMediaView *view, const QStringList &mids, const QString &toImageSet) override;
    // A drag of the selection, Reveal in File Manager and opening in another program leave out the
    // entries the user may no longer read (named in one alert); nothing goes when he may read
    // none, or is in no group.
    std::optional<QSet<QString>> ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows) override;
    // Files dragged over the thumbnails are taken only when a drop would catalogue them now: the
    // user may add to the selected category (or make a collection where the drop would make
    // one), it is still there, and the file-type table imports some of them. Asked silently.
    bool ovnMediaViewTakesFiles(OVNMediaView *view, const QStringList &paths) override;

    // The delete of one row; `databaseRefused` tells a write the catalog refused from a refusal by
    // privileges or kind.
    bool deleteEntry(OVNMediaView *view, int row, bool *databaseRefused);
    // Deletes the selected thumbnails' entries (from a collection) or memberships (from a set)
    // through the thumbnail view, in one transaction; an entry the catalog refuses stays, and one
    // alert says how many.
    void deleteSelectedMedia();
    // Imports the files into the category: a collection takes them; for anything else (a folder,
    // a set, no category) a new collection is made, inside the folder when it is one.
    // `skipped` names what was offered but is no local file; the import's summary lists it.
    bool addFiles(const QStringList &paths, const std::optional<CategoryNode> &target, const QStringList &skipped = {});
    // Edit > Copy and Paste: the selected thumbnails' files on the clipboard (answers how many);
    // the clipboard's files added to the selected category.
    int copy();
    void paste();
    // Whether Paste can go anywhere: one collection the user may change, files on the clipboard.
    bool canPaste();
    // A new collection inside the folder (at the top level without one); "" when it could not be
    // made or placed, and then nothing of it stays. The folder's level is asked within the making;
    // a refusal is said in an alert and sets `refused`.
    QString addCollection(const QString &name, const QString &folder, bool *refused = nullptr);
    // Posts a reload for each category once, in order.
    void postReloadCategories(const QStringList &categoryIds);
    void loadSelectionDetails();
    void loadPreviewImageForSelection();
    void loadMediaDetailsForSelection();
    // Gives the visible zoom panel the thumbnail of the one selected entry, or nothing.
    void loadZoomPanelImage();

    // ---- details data source ----
    OVNMediaDetailsDataSource *detailsDataSource() const;
    QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key);
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *pane);
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *pane);
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *pane, const QString &key, int row);
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column);
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column);
    // The value the catalog holds now for the entry's field, read afresh; the thumbnail view's
    // record and the licence caches follow it. Nothing when it cannot be read, or the entry is gone.
    std::optional<QString> storedValueNow(OVNMediaDetailsDataSource::Table table, const QString &key,
                                          const QString &mediaId);
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mediaId);
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                const QString &mediaId);
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                           const QString &mediaId);
    // Drops the purchase or sale values read for the selected entry, so that the pane reads them
    // again (after they were written elsewhere, as by auto-fill).
    void forgetPurchaseValues() { m_internalPurchasedStorage.reset(); }
    void forgetSaleValues() { m_internalSoldStorage.reset(); }
    // Reads the selected entry's metadata into the cache, once per selection.
    void cacheExifForOVNMediaDetails(OVNMediaDetails *pane);
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane);
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row);
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row);

private:
    class DetailsSource;
    // The entries of the rows the user may no longer read (their ids), asked of the catalog now
    // and named in one alert; nothing when none may go out.
    std::optional<QSet<QString>> leftOutOf(const QList<int> &rows);
    // The owning categories of the entries when the target accepts them (see the .cpp).
    std::optional<QStringList> ownersIfTargetAccepts(const QStringList &mids, const QString &targetMid,
                                                     const QString &targetKind, const QString &ownerLevel);
    // The row of the entry with that id in the thumbnail view, -1 when none.
    int rowForMediaId(const QString &mediaId) const;
    // Writes a value of the entry with that id (never another); a refusal or failure is shown and
    // the pane shows the stored value again.
    bool writeDetailsValue(const QString &mediaId, const std::function<bool()> &write, const QString &column = {},
                           const QString &value = {});
    // One read of the details pane (`mid`'s purchase, sale or metadata rows) through sessions that
    // end; empty for no entry.
    QVariantMap paneRead(const std::function<QVariantMap()> &read, const QString &mid);

    // A thumbnail read that met a server away or a session that ended: read again on a new
    // session, waited for as the window's commands wait, within one 30 seconds for all the
    // thumbnails of that outage (from the first such read until one gets through). False when
    // the time is spent.
    bool thumbnailThroughEndedSessions(const QString &mediaId, QByteArray *data);
    // The same from the event loop for a cell drawn blank meanwhile; the view is updated when the
    // server answers again.
    void awaitThumbnailsFor(OVNMediaView *view, const QString &mediaId);

    OVNAssetManager &w;
    OVNCatalogWindowState &m_state; // the window's, shared with it
    // When the thumbnails' wait for an outage ends; none while thumbnails are read.
    std::optional<std::chrono::steady_clock::time_point> m_thumbnailWaitEnds;
    bool m_thumbnailWaitQueued = false;
    std::unique_ptr<DetailsSource> m_details;
    // The selected entry's metadata, purchase and sale values as read for the pane; dropped at
    // every selection change.
    std::optional<QVariantMap> m_internalExifStorage;
    std::optional<QVariantMap> m_internalPurchasedStorage;
    std::optional<QVariantMap> m_internalSoldStorage;
    // Whether the import would find something to catalogue among the files of a drag (asked of
    // the file-type table, looking into folders).
    static bool importsSomething(const QStringList &paths);
    QStringList m_draggedPaths; // the files last dragged over the view
    bool m_draggedPathsImported = false;
    QElapsedTimer m_draggedPathsAsked;
    int m_deleteRefusedByDatabase = 0; // the deletes of one deleteSelectedMedia() the catalog refused
};
