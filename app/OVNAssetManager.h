#pragma once

#include "browser/OVNAnnotationChanges.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "app/OVNAnnotationWrites.h"
#include "app/OVNCatalogActions.h"
#include "app/OVNCatalogWait.h"
#include "app/OVNCatalogWindowCategoryActions.h"
#include "app/OVNCatalogWindowCommands.h"
#include "app/OVNCatalogWindowMediaDelegate.h"
#include "app/OVNCatalogWindowState.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "app/OVNEntryEdits.h"
#include "app/OVNOutlineViewDelegate.h"
#include "app/OVNOutputHandOff.h"
#include "app/OVNSmartFolderSearch.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "uikit/NTPopUpHeaderViewDelegate.h"
#include "uikit/PolishedWindow.h"
#include "viewers/OVNLightTable.h"

#include <QHash>
#include <QPoint>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class NTPopUpHeaderView;
class OVNMediaPreviewImage;
class OVNBGView;
class OVNCategoryTreeModel;
class OVNDatabaseTransaction;
class OVNMediaDetails;
class OVNMediaView;
class OVNOutlineView;
class OVNPrintOptionsView;
class OVNFind;
class OVNFindSheet;
class QDialog;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPrinter;
class QPushButton;
class QToolBar;

// A catalog window: a document without a file (never edited, never saved, never asks to save)
// over its own catalog connection. Left the category tree, in the middle the thumbnails of the
// selected category, right the preview above the details of the selected entry; a status line
// and footer below.
//
// The window keeps the tree in memory (every folder's children under "folderitems"), shows the
// media of the one selected category by its kind, checks the user's privileges before changes,
// and follows the three catalog notifications that other windows, imports and its own actions post.
//
// The implementation is split by concern: OVNAssetManager.cpp (set-up, preferences, the thumbnail
// area), _tree.cpp, _outline.cpp, _media.cpp, _privileges.cpp, _notifications.cpp, _open.cpp
// (opening media in viewers), _import.cpp (adding files), _rating.cpp (rating and turning
// entries). OVNCatalogWindowCommands holds the menus, toolbar, their
// enabling, the view options and the filter field; OVNCatalogWindowMediaDelegate is the thumbnail
// view's delegate and the details pane's data source; OVNCatalogWindowCategoryActions makes,
// renames, deletes and re-scans categories. They get what they share with the window as one
// OVNCatalogWindowState at construction and call its public methods.
class OVNAssetManager
    : public PolishedWindow
    , public OVNOutlineViewDelegate
    , public NTPopUpHeaderViewDelegate
    , public OVNLightTableDelegate
{
    Q_OBJECT

public:
    OVNAssetManager();
    ~OVNAssetManager() override;

    // ---- the document (OVNAssetManager.cpp) ----
    // Builds the window and shows it at the frame stored under "OVNAssetManager".
    void makeWindowControllers();
    // Where the window opens instead of its stored place (a window opened beside another).
    void setCascadePosition(const QPoint &topLeft) { m_cascadePosition = topLeft; }
    void windowControllerDidLoadNib();
    void setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection);
    OVNDatabaseAccess *databaseConnection() const { return m_state.dbcon.get(); }
    // Whether the window may close (or the program quit) while texts typed in its details pane are
    // kept unsaved (the catalog was out of reach): asks; giving them up forgets them.
    bool confirmUnsavedEdits();
    // Names the catalog for the media formats of drags and the clipboard.
    QByteArray catalogIdentity() const;
    // Reads the preferences and view options again (thumbnails, viewers, counts, sorting).
    void loadPreferences();

    // ---- find sheet and smart folders (OVNAssetManager_find.cpp) ----
    // Opens the find sheet over the window: empty, or with the settings to edit.
    void buttonFindClick();
    // Save (asks a name) and Edit of the search result bar; both beep without a last search.
    void tfFindSaveClick();
    void tfFindEditClick();
    // Stores the last search as a smart folder of that name; its id, "" when nothing was made.
    QString saveSmartFolder(const QString &name);
    OVNFindSheet *findSheet() const;
    QDialog *smartFolderNameSheet() const;

private:
    QPointer<OVNFindSheet> m_findSheet;
    QPointer<QDialog> m_saveSmartFolderWindow;
    QPushButton *m_tvfButtonEdit = nullptr;

public:
    // ---- category tree (OVNAssetManager_tree.cpp) ----
    // Reloads the tree, then shows an empty thumbnail area; without a connection it says so.
    void reload();
    void reloadCategoryList();
    // Shows the tree as the count options say: the count column, its width, the rows redrawn.
    void updateCategoryList();
    // Drops the cached count of the category and redraws the tree.
    void invalidateCountForCategory(const QString &mid);
    // The root items: the "Database" section item, then the top-level category sets.
    QList<CategoryNode> internalSectionList() const { return m_internalSectionList; }
    // The section item's children; nothing before the first load.
    std::optional<QList<CategoryNode>> internalCategoryList() const { return m_internalCategoryList; }

    // ---- outline selection (OVNAssetManager_tree.cpp) ----
    OVNOutlineView *categoryList() const { return m_state.categoryList; }
    OVNCategoryTreeModel *categoryModel() const { return m_state.categoryModel; }
    // Selects the first item with that id ("" for the "Database" item) alone; false when none.
    bool selectCategory(const QString &mid);
    // Selects the items with these ids together.
    void selectCategories(const QStringList &mids);
    void deselectAllCategories();
    // The nodes of the selected rows, in row order.
    QList<CategoryNode> selectedCategoryNodes() const;
    // The node of the single selected row; nothing unless exactly one row is selected.
    std::optional<CategoryNode> selectedCategory() const;
    bool isCategoryExpanded(const QString &mid) const;
    void setCategoryExpanded(const QString &mid, bool expanded);

    // ---- outline data source and delegate (OVNAssetManager_outline.cpp) ----
    // Stores a name edited in place: refused when empty or without "FULL ACCESS" on the category.
    bool renameCategory(const QString &mid, const QString &name);
    OVNOutlineViewDelegate::Capabilities outlineDelegateCapabilities() const override;
    bool ovnOutlineViewHandleReturnKeyEvent(OVNOutlineView *outline, QKeyEvent *event) override;
    bool ovnOutlineViewHandleDeleteKeyEvent(OVNOutlineView *outline, QKeyEvent *event) override;
    // Selects the row at the point alone (none below the last row) and answers the category menu.
    std::unique_ptr<QMenu> ovnOutlineViewMenuForEvent(OVNOutlineView *outline, const QPoint &position) override;
    // The dragged categories as an XML property list of their nodes.
    std::unique_ptr<QMimeData> outlineViewWriteItems(OVNOutlineView *outline, const QModelIndexList &rows) override;
    // A category goes into a folder, or to the top level (no target), when the user may change
    // both and the folder is neither the category nor inside it.
    Qt::DropAction outlineViewValidateDrop(OVNOutlineView *outline, const QMimeData *data,
                                           const QModelIndex &target) override;
    bool outlineViewAcceptDrop(OVNOutlineView *outline, const QMimeData *data, const QModelIndex &target) override;
    void ovnOutlineViewAddFiles(OVNOutlineView *outline, const QStringList &paths, const QModelIndex &target) override;
    void ovnOutlineViewMoveMids(OVNOutlineView *outline, const QStringList &mids, const QString &fromCatalog,
                                const QString &toCatalog) override;
    void ovnOutlineViewLinkMids(OVNOutlineView *outline, const QStringList &mids, const QString &toImageSet) override;

    // ---- category actions (OVNCatalogWindowCategoryActions) ----
    OVNCatalogWindowCategoryActions &categoryActions() const { return *m_categoryActions; }
    void buttonDeleteCatalogClick() { m_categoryActions->buttonDeleteCatalogClick(); }
    // The Smart Add... command, the same in the File menu and the category menu.
    QAction *smartAddAction() const { return action(OVNCatalogActions::Action::AddSmart); }
    void menuAccessPrivileges();
    void buttonPlayClick();
    void buttonLightTableClick();
    // Whether a deletion or re-scan worker runs (the window does not close meanwhile).
    bool isMaintenanceRunning() const { return m_state.maintenanceRunning; }

signals:
    // The end of a re-scan: the counts, or the reason nothing was done.
    void rescanFinished(int newFiles, int missingFiles, int changedFiles, const QString &refusal);
    // The end of a deletion: "" when it was done, else the failure.
    void deletionFinished(const QString &failure);
    // The toolbar's Capture: the application shows its camera capture panel.
    void capturePanelRequested();
    // Space in the thumbnail view: the zoom panel shown, or hidden when it is up.
    void zoomPanelToggleRequested();
    // A text shown in the status line ("Waiting for the catalog server..." among them).
    void statusShown(const QString &text, bool busy);

public:
    // ---- media list (OVNAssetManager_media.cpp) ----
    void reloadMediaList();
    OVNMediaView *mediaView() const { return m_state.mediaView; }
    // Why the selected category's entries could not be read, after the list's tries (the
    // catalog's words); "" when they were read, or not asked for (a category the user may not see).
    QString listReadFailure() const { return m_listUnread; }
    OVNMediaDetails *mediaDetails() const { return m_state.mediaDetails; }
    OVNMediaPreviewImage *mediaPreviewImage() const { return m_state.mediaPreviewImage; }
    QString statusText() const;
    // Shows a text in the status line, with the busy indicator or without.
    void setStatus(const QString &text, bool busy);
    // A catalog command's wait for the server, shown in the status line while it lasts.
    std::unique_ptr<OVNCatalogWait> catalogWait();
    // "N Items" of the media view in the status line.
    void showItemCount();
    int numberOfSelectedItems() const;
    // The user's level on a category, asked of the catalog once per shown list.
    QString cachedCategoryLevel(const QString &categoryId);
    QVariantMap lastSearchSettings() const { return m_lastSearchSettings; }
    // The top bar shown above the thumbnails (none, or that of a set, surveillance or search).
    OVNBGView *currentTopView() const { return m_currentTopView; }
    bool thumbnailSizeSliderEnabled() const;

    // ---- privileges (OVNAssetManager_privileges.cpp) ----
    static QString getMyPrivilegesForItem(const std::optional<CategoryNode> &node);
    // Whether the category's stored level grants `requested`; a refusal is said when `showAlert`.
    bool isUserAuthorizedForAccessType(const QString &requested, const std::optional<CategoryNode> &node,
                                       bool showAlert);
    // Whether the entries may be changed at that level, each by the category that owns it.
    bool isUserAuthorizedForMediaWithType(const QString &requested, const QStringList &categoryIds, bool showAlert,
                                          QString *lowestLevel = nullptr);
    // The level for the current selection: the one selected category, else the one selected
    // entry's category, else "NO ACCESS".
    QString levelForCurrentSelection();
    // The access check of the thumbnail view and the details pane: while entries are selected,
    // every one of them must be granted by its own category; otherwise the selected category decides.
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &requested, bool showAlert);
    static QString authorizationMessage(const QString &requested, const QString &own);
    // The check of a category-level action: the user's level on the category as the catalog holds
    // it now (within the action's transaction, where it has one); the outline's stored level only
    // decides what is shown and enabled. A refusal, an unreachable server and a category deleted
    // meanwhile are each said in their own alert, after `within` (the action's transaction, held
    // open on a grant) is rolled back. No category (the Database item) grants all.
    bool isUserAuthorizedNow(const QString &requested, const std::optional<CategoryNode> &node,
                             OVNDatabaseTransaction *within = nullptr);
    bool isUserAuthorizedNow(const QString &requested, const QString &categoryMid,
                             OVNDatabaseTransaction *within = nullptr);
    // The same question as a write's check inside its transaction (OVNEntryEdits asks it at each
    // try): a refusal is said in its alert; a question lost with its session is not, and is asked
    // again with the write.
    std::function<bool(OVNDatabaseTransaction &)> levelCheckInTransaction(const QString &requested,
                                                                          const QString &categoryMid);
    void showCategoryRefusal(const OVNCategoryAccess::Refusal &refusal);
    // The "Authorization Failed" alert on the thumbnail view's window.
    void showAuthorizationFailure(const QString &requested, const QString &own);

    // ---- notifications (OVNAssetManager_notifications.cpp) ----
    static QString importMediaDidFinishNotification() { return QStringLiteral("OVNNotificationImportMediaDidFinish"); }
    static QString categoryListDidChangeNotification()
    {
        return QStringLiteral("OVNNotificationCategoryListDidChange");
    }
    static QString reloadCategoryNotification() { return QStringLiteral("OVNNotificationReloadCategory"); }
    // Posts with this window as the sender.
    void postNotification(const QString &name, QVariantMap userInfo);
    void setTrackImportDidFinish(bool track) { m_state.trackImportDidFinish = track; }
    // Drops the cached counts of the category and of the folders it lies in.
    void invalidateCountWithParents(const QString &mid);
    bool trackImportDidFinish() const { return m_state.trackImportDidFinish; }

    // ---- thumbnail view delegate and details data source (OVNCatalogWindowMediaDelegate) ----
    OVNCatalogWindowMediaDelegate &mediaDelegate() const { return *m_mediaDelegate; }
    OVNMediaDetailsDataSource *detailsDataSource() const { return m_mediaDelegate->detailsDataSource(); }
    bool addFiles(const QStringList &paths, const std::optional<CategoryNode> &target, const QStringList &skipped = {})
    {
        return m_mediaDelegate->addFiles(paths, target, skipped);
    }
    void ovnMediaViewSelectionDidChange(OVNMediaView *view) { m_mediaDelegate->ovnMediaViewSelectionDidChange(view); }
    void delete_(OVNMediaView *view) { m_mediaDelegate->delete_(view); }

    // ---- re-import, re-link, clipboard thumbnail (OVNAssetManager_relink.cpp) ----
    // Points the view's selected entries at the chosen file or at the same names in the chosen
    // folder, in one transaction; reports what failed.
    void relinkSelection(OVNMediaView *view, const QString &chosen, bool toFolder);
    // Replaces the selected entries' thumbnails with the clipboard's picture.
    void buttonSetThumbnailUsingClipboardClick();
    void ovnMediaViewReimportSelection(OVNMediaView *view);
    void ovnMediaViewRelinkSelection(OVNMediaView *view);
    // The selected entries whose files exist, re-read into the one selected category.
    void buttonReimportSelectionClick();
    // Asks for the new file (one entry) or the folder now holding the files (several).
    void buttonRelinkSelectionClick(OVNMediaView *view = nullptr);
    // Opens the view's selected entries: viewer type 0 the internal viewer, 1 the application the
    // desktop associates with the file, 2 `application` (1 when none is set).
    void openMedia(OVNMediaView *view, int viewerType, const QString &application);
    // Opens the selection in the viewers, movies playing at once in full screen.
    void buttonOpenWithMediaViewerFSClick() { openMediaFullScreen(m_state.mediaView); }

    // ---- import (OVNAssetManager_import.cpp) ----
    // Imports files and folders into the collection with that id: the import sheet on this
    // window, its worker on a connection of its own to this window's catalog. Needs
    // "READ & WRITE" on the collection; false when refused (said in an alert).
    bool importFiles(const QStringList &paths, const QString &categoryId, const QStringList &skipped = {});

    // ---- contact-sheet printing (OVNAssetManager_printing.cpp) ----
    // Whether there is anything to print: the thumbnail view shows at least one item.
    bool canPrint() const;
    // The Print command: the print panel, with the sheet's options on a tab of its own, then the
    // sheet on the printer chosen.
    void printShowingPrintPanel();
    // The Page Setup command: the page panel; its paper and orientation become the paper of this
    // window's next sheet. False when cancelled.
    bool runPageLayout();
    // Prints the thumbnail view's sheet with its current options on the printer as it is set up
    // (10-point margins), without a panel. False when nothing was printed (an empty sheet).
    bool printContactSheet(QPrinter &printer);
    // Pushes the shown options into the thumbnail view and answers (and shows) the status line.
    QString viewPrintOptionsRecalc();
    // The printer for the Print command as the last sheet left it: its paper, and the file it was
    // printed to when it went to a file.
    void setUpPrinter(QPrinter &printer) const;
    // The last printed sheet's options and paper (OVNPrintSettings), for a new thumbnail view.
    void restorePrintSettings();

    // ---- commands (OVNCatalogWindowCommands) ----
    // The menus, the toolbar, the view options and the filter field; the window's own menus
    // (Edit, View and Media) for the menu bar.
    OVNCatalogWindowCommands &commands() const { return *m_commands; }
    QList<QMenu *> windowMenus() const { return m_commands->windowMenus(); }
    static QString toolbarIdentifier() { return OVNCatalogWindowCommands::toolbarIdentifier(); }
    QToolBar *toolbar() const { return m_commands->toolbar(); }
    QStringList toolbarItemIdentifiers() const { return m_commands->toolbarItemIdentifiers(); }
    void setToolbarItemIdentifiers(const QStringList &ids) { m_commands->setToolbarItemIdentifiers(ids); }
    QAction *action(OVNCatalogActions::Action which, int tag = -1) const { return m_commands->action(which, tag); }
    void refreshActions() { m_commands->refreshActions(); }
    QStringList describeActions() { return m_commands->describeActions(); }
    bool viewOption(OVNCatalogActions::Option option) const { return m_commands->viewOption(option); }
    bool usesSmallIcons() const { return m_state.usesSmallIcons; }
    int thumbnailSize() const { return m_state.prefThumbnailSize; }
    int thumbnailStyle() const { return m_state.prefThumbnailType; }
    int sortOrder() const { return m_state.viewOrderBy; }
    bool sortAscending() const { return m_state.viewOrderASC; }
    int searchFilterField() const { return m_state.viewSearchFilterSelected; }
    QLineEdit *searchField() const { return m_commands->searchField(); }
    void saveWindowPosition() { m_commands->saveWindowPosition(); }
    bool isMediaInfoCollapsed() const { return m_commands->isMediaInfoCollapsed(); }

    // ---- output actions and stacks (OVNAssetManager_output.cpp) ----
    // What the output actions hand on: the row set's records in order, and the page title (the
    // category's name, only with exactly one category selected). Nothing after a beep (no row
    // set) or the one "Media file not found." alert (a file missing: no sheet at all).
    using OutputHandOff = OVNOutputHandOff;
    std::optional<OutputHandOff> outputHandOff();
    // The records the user may still read, as the catalog answers now; those left out are named
    // in one alert (their ids in `leftOut`). Nothing, after the alert, when nothing may go out.
    std::optional<MediaList> readableForOutput(const MediaList &records, QSet<QString> *leftOut = nullptr);
    // readableForOutput as the question the sheets and adjustment windows ask when output starts.
    OVNOutputCheck::Question outputCheck();
    // The export sheet (also with an empty list) and the web-gallery sheet (not for an empty list).
    void buttonExportImagesClick();
    void buttonPublishToWebClick();
    // The e-mail and disc sheets over the output hand-off (nothing for an empty list).
    void buttonSendAsEmailClick();
    void buttonBurnCDClick();
    // Stacks on the thumbnail view.
    void buttonGroupClick();
    void buttonUngroupClick();
    // Stacks each run of neighbours that share the key of the current sort.
    void buttonAutoGroupClick();

    // ---- auto-fill and adjust (OVNAssetManager_autofill.cpp) ----
    // The rows auto-fill acts on: the selected thumbnails, else every thumbnail while exactly one
    // category is selected; nothing otherwise.
    std::optional<QList<int>> annotationRowSet() const;
    // Opens the auto-fill sheet over the row set; beeps without one.
    void buttonAutoFillClick();
    // What an auto-fill did (OVNAnnotationWrites).
    using AnnotationFailure = OVNAnnotationWrites::Failure;
    using AnnotationSummary = OVNAnnotationWrites::Summary;
    // Writes the changes into every entry of the row set whose own category grants "READ & WRITE",
    // in one transaction, each write in a savepoint; a record shows a value only once it is stored.
    // Above 500 entries a progress sheet can stop it (what was written stays). With `report` one
    // alert names what was refused or failed.
    AnnotationSummary applyAnnotationChanges(const AnnotationChanges &changes, AnnotationChanges::Mode mode,
                                             bool clearEmptyFields, bool report = true);
    // Opens an adjustment window per selected file that exists; one alert for those missing.
    void menuAdjust();
    // ---- end auto-fill and adjust ----

public slots:
    // Each entry needs "READ & WRITE" on its own category and changes only when the catalog took
    // the write; what stays unchanged is named in one alert. A rating outside 0 to 5 does nothing.
    void menuSetRating(int rating);
    bool setRating(int rating, const QString &mid);
    // Turns the selected thumbnails (the stored thumbnail and the orientation code, together).
    void menuRotateLeft();
    void menuRotateRight();

public:
    // Header grips resize the panes (OVNAssetManager_panes.cpp); the sizes they leave are kept as
    // the frozen ones, so that the next window resize does not undo them.
    NTPopUpHeaderViewDelegate::Capabilities headerDelegateCapabilities() const override
    {
        return NTPopUpHeaderViewDelegate::ResizeByWidth | NTPopUpHeaderViewDelegate::ResizeByHeight;
    }
    void headerCellResizeViewByWidth(NTPopUpHeaderViewCell *cell, float delta) override;
    void headerCellResizeViewByHeight(NTPopUpHeaderViewCell *cell, float delta) override;
    void recordFrozenSizes();

    // ---- the light table (OVNAssetManager_lighttable.cpp) ----
    // Opens a light table on the shown list with the selected category's kind ("C" without one)
    // and id (an empty list, no kind and no id when nothing is shown); keeps no reference to it.
    OVNLightTable *openLightTable();
    // Its delegate: writes through the window's checks, opening as the window opens.
    OVNLightTableDelegate::Capabilities lightTableCapabilities() const override;
    bool lightTableSetRating(int rating, const QString &mid) override;
    bool lightTableRotate(const QString &mid, OVNMediaView *roll, OVNLightTableDelegate::Turn turn) override;
    void lightTableDoubleClick(OVNMediaView *roll, Qt::KeyboardModifiers modifiers) override;
    QByteArray lightTableThumbnailData(OVNMediaView *roll, const QString &mid) override;
    void lightTableOpen(OVNMediaView *roll, int viewerType) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The window's own parts, by concern.
    // ---- the document (OVNAssetManager.cpp) ----
    bool isDocumentEdited() const { return false; }
    QString displayName() const;
    std::shared_ptr<OVNDatabaseAccess> sharedDatabaseConnection() const { return m_state.dbcon; }
    void initMediaView();
    // Rebuilds the thumbnail area, with a 25-point top bar when one is given.
    void initMediaViewWithTopView(OVNBGView *topView);
    // ---- find sheet and smart folders (OVNAssetManager_find.cpp) ----
    void initFindSheetWithSettings(const QVariantMap &settings);
    // A find model with the window's search-in list and, when given, the settings (not shown).
    OVNFind initFindWithSettings(const QVariantMap &settings) const;
    // The search-in list: "All Entries", then the top-level folders, collections and surveillance
    // folders, each with its own id and those below it, depth first.
    QList<OVNSmartFolderSearch::Catalog> findCatalogs() const;
    // The end of the find sheet: Search runs the search and keeps its settings.
    void findDidEnd(OVNFindSheet *sheet, int returnCode);
    // ---- category tree (OVNAssetManager_tree.cpp) ----
    QStringList reloadCategoryListExpandedItems(const QList<CategoryNode> &nodes) const;
    void reloadCategoryListExpandItems(const QStringList &mids);
    // ---- outline data source and delegate (OVNAssetManager_outline.cpp) ----
    // The id of the dragged category when it may go onto the target (invalid: the top level);
    // otherwise empty, with the reason for the user in `refusal` where there is one.
    // `catalogRefusal` receives the catalog's own refusal (privileges, outage, deletion) when it is
    // the reason.
    QString movableCategory(const QMimeData *data, const QModelIndex &target, QString *refusal = nullptr,
                            std::optional<OVNCategoryAccess::Refusal> *catalogRefusal = nullptr);
    // Whether the user holds `requested` on the category now, asked of the catalog once per row a
    // drag hovers over.
    std::optional<OVNCategoryAccess::Refusal> dropRefusal(const QString &mid, const QString &requested);
    // ---- media list (OVNAssetManager_media.cpp) ----
    void reloadMediaListWithFind(const QString &statement);
    // ---- privileges (OVNAssetManager_privileges.cpp) ----
    // ---- notifications (OVNAssetManager_notifications.cpp) ----
    // The sender a notification carries (null when none).
    static const QObject *notificationSender(const QVariantMap &userInfo);
    void ovnImportMediaDidFinish(const QVariantMap &userInfo);
    void ovnCategoryListDidChange(const QVariantMap &userInfo);
    void ovnCategoryListReload(const QVariantMap &userInfo);
    // ---- opening media (OVNAssetManager_open.cpp) ----
    // The view's selected entries to open that the user may still read: none after a beep (no
    // selection), when the user declines opening many, or when none may be read.
    QList<MediaRecordRef> selectedRecordsToOpen(OVNMediaView *view);
    // ---- re-import, re-link, clipboard thumbnail (OVNAssetManager_relink.cpp) ----
    // Opens the selection in the program's viewers, in full screen.
    void openMediaFullScreen(OVNMediaView *view);
    // ---- output actions and stacks (OVNAssetManager_output.cpp) ----
    // ---- auto-fill and adjust (OVNAssetManager_autofill.cpp) ----
    // Before opening one window per file: asks when there are more than three.
    bool verifyActionWithMultipleItems(int count);
    // ---- panes (OVNAssetManager_panes.cpp) ----
    // Lays both split views out from the frozen sizes: the outline, the thumbnails and the preview
    // keep theirs, the right column and the details row take what is left.
    void restoreSplitterToFrozenPositions();

    void buildWindow();
    void buildFooter(QWidget *footer);
    void restoreFrameAndSplitters();
    void outlineSelectionDidChange();
    // What the empty thumbnail area says: how media get into an empty catalog or collection.
    void updateEmptyListHint();
    // Says in the footer why the category dragged over a row may not go there; an empty reason
    // brings back what the footer said before.
    void showDropRefusal(const QString &reason);
    // Shows the entries of the list the user may read now; false (and nothing shown) when the
    // privileges could not be read.
    bool showMediaList(const MediaList &records);
    // Says in the status line and an alert that the list of the category could not be read.
    void reportUnreadableList(const QString &name);
    std::optional<MediaList> readableMedia(const MediaList &records);
    // Before a list is shown: the user's groups read afresh. False when the user can no longer
    // use the catalog (he is told once, and m_excludedText says why); an outage is left to the
    // list's own read, which says so.
    bool refreshGroupsForList();
    // Why the category shows no entries whatever it holds (the user may not read it, it was
    // deleted meanwhile, the user is in no group any more); nothing when it may be listed. Asks
    // the catalog and notes the level found in the tree.
    std::optional<QString> categoryListRefusal(const CategoryNode &node);
    QString countTextFor(const CategoryNode &node);
    QList<CategoryNode> nodesFromCatalog();
    void detachTopView();
    // Rating and turning (OVNAssetManager_rating.cpp): the entries to change (of `rows`, else the
    // selected ones), each tagged with its row (-1 when the view does not show it), and showing
    // what the catalog took.
    QList<OVNEntryEdits::Target> selectedEditTargets(std::optional<QList<int>> rows = std::nullopt) const;
    std::optional<OVNEntryEdits::Target> editTargetForMid(const QString &mid) const;
    OVNEntryEdits::Summary rateEntries(int rating, const QList<OVNEntryEdits::Target> &targets);
    OVNEntryEdits::Summary turnEntries(QList<OVNEntryEdits::Target> targets, OVNEntryEdits::QuarterTurn turn);
    void turnSelection(OVNEntryEdits::QuarterTurn turn);
    void reportUnchangedEntries(const QString &title, const OVNEntryEdits::Summary &summary);
    bool turnEntryWithMid(const QString &mid, OVNEntryEdits::QuarterTurn turn);

    // What the window shares with its presentation classes, each of which holds a reference.
    OVNCatalogWindowState m_state;
    std::unique_ptr<OVNCatalogWindowMediaDelegate> m_mediaDelegate;
    std::optional<QPoint> m_cascadePosition;
    bool m_loaded = false;

    // tree
    QList<CategoryNode> m_internalSectionList;
    std::optional<QList<CategoryNode>> m_internalCategoryList;
    bool m_reloadingTree = false;
    QHash<QString, std::optional<OVNCategoryAccess::Refusal>> m_dropAnswers; // for the row hovered
    QString m_dropAnswersRow;

    // panes
    QWidget *m_categoryHeader1 = nullptr;
    QWidget *m_mediaList = nullptr;
    QWidget *m_mediaPreview1 = nullptr;
    QWidget *m_mediaPreview2 = nullptr;
    OVNBGView *m_topviewfind = nullptr;
    OVNBGView *m_topviewset = nullptr;
    OVNBGView *m_currentTopView = nullptr;
    QPushButton *m_tvfButtonSave = nullptr;

    // status line and footer
    QLabel *m_statusText = nullptr;
    QString m_statusBeforeDropRefusal;
    bool m_showsDropRefusal = false;
    QProgressBar *m_statusIndicator = nullptr;

    // commands
    OVNCatalogWindowCommands *m_commands = nullptr;
    OVNCatalogWindowCategoryActions *m_categoryActions = nullptr;

    // the levels of the shown entries' categories, asked once per shown list
    QHash<QString, QString> m_categoryLevels;
    QString m_listRefusal;  // why the shown list is empty whatever the category holds; "" for none
    QString m_listUnread;   // why the selected category's entries could not be read; "" when they were
    QString m_excludedText; // the refusal last said to a user no longer let in; "" while he is

    float m_frozenFrame1Width = 0;
    float m_frozenFrame2Width = 0;
    float m_frozenVFrame1Height = 0;
    QPointer<OVNPrintOptionsView> m_printOptions; // while the print panel is open

    int m_prefThumbnailQuality = 0;
    bool m_prefBackgroundLoader = false;
    QVariantMap m_lastSearchSettings;
};
