#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>

// The commands of the catalog window and when each may run: a pure function of a snapshot of the
// window, so that the menus, the toolbar and the tests ask the same question.
namespace OVNCatalogActions {

enum class Action {
    AddFolder,
    AddCatalog,
    AddImageSet,
    AddSurveillanceFolder,
    AddSmart,
    Find,
    ActivateSearchFilter,
    AccessPrivileges,
    PageLayout,
    PrintDocument,
    SaveWorkspace,
    ReloadCatalogList,
    ReloadCatalog,
    Cut,
    Copy,
    Deselect,
    Paste,
    Delete,
    SelectAll,
    DeleteCatalog,
    RenameCatalog,
    UsesSmallIcons,
    ShowCountOnLightTables,
    ShowCountOnFilmRolls,
    ShowCountOnImageSets,
    ShowCountOnSurveillanceFolders,
    DatabaseShowThumbnails,
    LightTableShowThumbnails,
    LightTableShowRecursive,
    Adjust,
    OpenWithMediaViewer,
    OpenWithMediaViewerFS,
    OpenWithCreator,
    RevealInFinder,
    RotateLeft,
    RotateRight,
    ShowCapturePanel,
    ImportCumulus,
    SetThumbnailUsingClipboard,
    SetSearchFilter,
    SetRating,
    ViewOrder,
    ViewSort,
    ThumbnailStyle,
    RescanSurveillanceFolder,
    AutoFill,
    ReimportSelection,
    RelinkSelection,
    Group,
    AutoGroup,
    Ungroup,
    SendAsEmail,
    ExportImages,
    PublishToWeb,
    BurnCD,
    Zoom,
    Miniaturize,
    ZoomPanel,
    PrintOptionsRecalc,
    // Toolbar only: the search field.
    Search,
};

// The view options in the order of `Snapshot::options`.
enum Option {
    ShowCountOnLightTablesOption,
    ShowCountOnFilmRollsOption,
    ShowCountOnImageSetsOption,
    ShowCountOnSurveillanceFoldersOption,
    DatabaseShowThumbnailsOption,
    LightTableShowThumbnailsOption,
    LightTableShowRecursiveOption,
    OptionCount
};

// What the window looks like when a command is asked about. Privileges are the answers for the
// current selection without an alert.
struct Snapshot {
    int selectedCount = 0;         // selected thumbnails
    int listCount = 0;             // thumbnails shown
    int selectedCategoryCount = 0; // selected rows of the category outline
    bool categoryHasType = false;  // the one selected category names its kind
    QString categoryKind;          // and that kind ("EXPANDABLE" for the Database item)
    bool mediaViewFocused = false; // the thumbnail view has the keyboard focus
    bool clipboardHasFiles = false;
    bool clipboardHasImage = false;    // TIFF or PDF data
    QString containerKind;             // the kind the thumbnail view shows
    bool mayWrite = false;             // "READ & WRITE" on the selection
    bool fullAccess = false;           // "FULL ACCESS" on the selection
    bool categoryMayWrite = false;     // "READ & WRITE" on the selected category itself
    bool categoryFullAccess = false;   // "FULL ACCESS" on the selected category itself
    std::optional<int> selectedRating; // the rating of the one selected thumbnail
    int selectedGroup = -1;
    int thumbnailStyle = 0;
    int sortOrder = 0;
    bool sortAscending = true;
    int searchField = 0;
    bool smallIcons = false;
    std::array<bool, OptionCount> options{};
    bool zoomPanelVisible = false;
    bool filterActive = false;    // the filter field holds text
    bool adjustAvailable = false; // an adjustment window can be made
};

struct State {
    bool enabled = false;
    std::optional<bool> checked; // none: the item keeps its mark
    bool operator==(const State &) const = default;
};

// Menu and toolbar ask alike; `tag` tells apart the items that share an action.
State state(Action action, int tag, const Snapshot &snapshot);

// The action's name as the menus know it ("menuSetRating").
QString name(Action action);

// Every menu item that is enabled by these rules, in the order of the table they come from;
// `tag` is -1 for an action that has one item.
struct Item {
    Action action;
    int tag = -1;
};
QList<Item> menuItems();

// "menuSetRating 3 enabled checked".
QString describe(const Item &item, const Snapshot &snapshot);

} // namespace OVNCatalogActions
