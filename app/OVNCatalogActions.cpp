// When each command of the catalog window may run.
#include "app/OVNCatalogActions.h"

namespace OVNCatalogActions {

namespace {

State on(bool enabled) { return State{enabled, std::nullopt}; }

State marked(bool enabled, bool checked) { return State{enabled, checked}; }

bool oneCategory(const Snapshot &s) { return s.selectedCategoryCount == 1; }

bool selection(const Snapshot &s) { return s.selectedCount > 0; }

// The thumbnails an output or annotation command acts on: the selected ones, or all of them when
// none is selected and exactly one category is.
bool rowSet(const Snapshot &s) { return selection(s) || (oneCategory(s) && s.listCount > 0); }

State deleteState(const Snapshot &s)
{
    if (!s.mediaViewFocused || !oneCategory(s) || !s.categoryHasType)
        return on(false);
    if (!selection(s))
        return on(s.categoryFullAccess);
    // Entries leave a collection; from a set only the memberships go, by the set's own level.
    // Any other list deletes nothing.
    if (s.categoryKind == QLatin1String("C"))
        return on(s.mayWrite);
    if (s.categoryKind == QLatin1String("S"))
        return on(s.categoryMayWrite);
    return on(false);
}

bool optionOn(const Snapshot &s, Option option) { return s.options[size_t(option)]; }

} // namespace

State state(Action action, int tag, const Snapshot &s)
{
    switch (action) {
    case Action::AddFolder:
    case Action::AddCatalog:
    case Action::AddImageSet:
    case Action::AddSurveillanceFolder:
    case Action::AddSmart:
    case Action::Find:
    case Action::ActivateSearchFilter:
    case Action::PageLayout:
    case Action::SaveWorkspace:
    case Action::ReloadCatalogList:
    case Action::ShowCapturePanel:
    case Action::ImportCumulus:
    case Action::Zoom:
    case Action::Miniaturize:
    case Action::PrintOptionsRecalc:
        return on(true);
    case Action::AccessPrivileges:
    case Action::ReloadCatalog:
        return on(oneCategory(s));
    case Action::PrintDocument:
    case Action::SelectAll:
    case Action::AutoGroup:
        return on(s.listCount > 0);
    case Action::Cut:
        return on(false);
    case Action::Adjust:
        return on(selection(s) && s.adjustAvailable);
    case Action::Copy:
    case Action::Deselect:
    case Action::OpenWithMediaViewer:
    case Action::OpenWithMediaViewerFS:
    case Action::OpenWithCreator:
    case Action::RevealInFinder:
        return on(selection(s));
    case Action::Paste:
        return on(oneCategory(s) && s.categoryMayWrite && s.containerKind == QLatin1String("C") && s.clipboardHasFiles);
    case Action::Delete:
        return deleteState(s);
    case Action::DeleteCatalog:
    case Action::RenameCatalog:
        // The category itself is changed: its own level decides, whatever thumbnails are selected.
        return on(oneCategory(s) && s.categoryKind != QLatin1String("EXPANDABLE") && s.categoryFullAccess);
    case Action::UsesSmallIcons:
        return marked(true, s.smallIcons);
    case Action::ShowCountOnLightTables:
        return marked(true, optionOn(s, ShowCountOnLightTablesOption));
    case Action::ShowCountOnFilmRolls:
        return marked(true, optionOn(s, ShowCountOnFilmRollsOption));
    case Action::ShowCountOnImageSets:
        return marked(true, optionOn(s, ShowCountOnImageSetsOption));
    case Action::ShowCountOnSurveillanceFolders:
        return marked(true, optionOn(s, ShowCountOnSurveillanceFoldersOption));
    case Action::DatabaseShowThumbnails:
        return marked(true, optionOn(s, DatabaseShowThumbnailsOption));
    case Action::LightTableShowThumbnails:
        return marked(true, optionOn(s, LightTableShowThumbnailsOption));
    case Action::LightTableShowRecursive:
        return marked(true, optionOn(s, LightTableShowRecursiveOption));
    case Action::RotateLeft:
    case Action::RotateRight:
    case Action::ReimportSelection:
    case Action::RelinkSelection:
        // A turn writes the entry's thumbnail and orientation: without write access it cannot act.
        return on(selection(s) && s.mayWrite);
    case Action::SetThumbnailUsingClipboard:
        return on(selection(s) && s.clipboardHasImage);
    case Action::SetSearchFilter:
        return marked(true, tag == s.searchField);
    case Action::SetRating: {
        if (!selection(s) || !s.mayWrite)
            return marked(false, false);
        // A record without a rating has none: "0".
        return marked(true, s.selectedCount == 1 && tag == s.selectedRating.value_or(0));
    }
    case Action::ViewOrder:
        return marked(true, tag == s.sortOrder);
    case Action::ViewSort:
        return marked(s.sortOrder != 0, tag == 100 ? s.sortAscending : !s.sortAscending);
    case Action::ThumbnailStyle:
        return marked(true, tag == s.thumbnailStyle);
    case Action::RescanSurveillanceFolder:
        return on(s.mayWrite && oneCategory(s) && s.containerKind == QLatin1String("M"));
    case Action::AutoFill:
        return on(s.mayWrite && rowSet(s));
    case Action::Group:
        return on(s.selectedCount >= 2);
    case Action::Ungroup:
        return on(s.selectedGroup >= 0);
    case Action::SendAsEmail:
    case Action::ExportImages:
    case Action::PublishToWeb:
    case Action::BurnCD:
        return on(rowSet(s));
    case Action::ZoomPanel:
        return marked(true, s.zoomPanelVisible);
    case Action::Search:
        // A filter that matched nothing must stay reachable, or the list could not come back.
        return on(s.listCount > 0 || s.filterActive);
    }
    return on(false);
}

QString name(Action action)
{
    switch (action) {
    case Action::AddFolder:
        return QStringLiteral("buttonAddFolderClick");
    case Action::AddCatalog:
        return QStringLiteral("buttonAddCatalogClick");
    case Action::AddImageSet:
        return QStringLiteral("buttonAddImageSetClick");
    case Action::AddSurveillanceFolder:
        return QStringLiteral("buttonAddSurveillanceFolderClick");
    case Action::AddSmart:
        return QStringLiteral("buttonAddSmartClick");
    case Action::Find:
        return QStringLiteral("buttonFindClick");
    case Action::ActivateSearchFilter:
        return QStringLiteral("menuActivateSearchFilter");
    case Action::AccessPrivileges:
        return QStringLiteral("menuAccessPrivileges");
    case Action::PageLayout:
        return QStringLiteral("runPageLayout");
    case Action::PrintDocument:
        return QStringLiteral("printDocument");
    case Action::SaveWorkspace:
        return QStringLiteral("buttonSaveWorkspaceClick");
    case Action::ReloadCatalogList:
        return QStringLiteral("buttonReloadCatalogListClick");
    case Action::ReloadCatalog:
        return QStringLiteral("buttonReloadCatalogClick");
    case Action::Cut:
        return QStringLiteral("cut");
    case Action::Copy:
        return QStringLiteral("copy");
    case Action::Deselect:
        return QStringLiteral("deselect");
    case Action::Paste:
        return QStringLiteral("paste");
    case Action::Delete:
        return QStringLiteral("delete");
    case Action::SelectAll:
        return QStringLiteral("selectAll");
    case Action::DeleteCatalog:
        return QStringLiteral("buttonDeleteCatalogClick");
    case Action::RenameCatalog:
        return QStringLiteral("buttonRenameCatalogClick");
    case Action::UsesSmallIcons:
        return QStringLiteral("toggleUsesSmallIcons");
    case Action::ShowCountOnLightTables:
        return QStringLiteral("toggleShowCountOnLightTables");
    case Action::ShowCountOnFilmRolls:
        return QStringLiteral("toggleShowCountOnFilmRolls");
    case Action::ShowCountOnImageSets:
        return QStringLiteral("toggleShowCountOnImageSets");
    case Action::ShowCountOnSurveillanceFolders:
        return QStringLiteral("toggleShowCountOnSurveillanceFolders");
    case Action::DatabaseShowThumbnails:
        return QStringLiteral("toggleDatabaseShowThumbnails");
    case Action::LightTableShowThumbnails:
        return QStringLiteral("toggleLightTableShowThumbnails");
    case Action::LightTableShowRecursive:
        return QStringLiteral("toggleLightTableShowRecursive");
    case Action::Adjust:
        return QStringLiteral("menuAdjust");
    case Action::OpenWithMediaViewer:
        return QStringLiteral("buttonOpenWithMediaViewerClick");
    case Action::OpenWithMediaViewerFS:
        return QStringLiteral("buttonOpenWithMediaViewerFSClick");
    case Action::OpenWithCreator:
        return QStringLiteral("buttonOpenWithCreatorClick");
    case Action::RevealInFinder:
        return QStringLiteral("buttonRevealInFinderClick");
    case Action::RotateLeft:
        return QStringLiteral("menuRotateLeft");
    case Action::RotateRight:
        return QStringLiteral("menuRotateRight");
    case Action::ShowCapturePanel:
        return QStringLiteral("buttonShowCapturePanelClick");
    case Action::ImportCumulus:
        return QStringLiteral("buttonImportCumulusClick");
    case Action::SetThumbnailUsingClipboard:
        return QStringLiteral("buttonSetThumbnailUsingClipboardClick");
    case Action::SetSearchFilter:
        return QStringLiteral("menuSetSearchFilter");
    case Action::SetRating:
        return QStringLiteral("menuSetRating");
    case Action::ViewOrder:
        return QStringLiteral("buttonVieworderMenuClick");
    case Action::ViewSort:
        return QStringLiteral("buttonViewsortMenuClick");
    case Action::ThumbnailStyle:
        return QStringLiteral("viewSetThumbnailStyle");
    case Action::RescanSurveillanceFolder:
        return QStringLiteral("buttonRescanSurveillanceFolderClick");
    case Action::AutoFill:
        return QStringLiteral("buttonAutoFillClick");
    case Action::ReimportSelection:
        return QStringLiteral("buttonReimportSelectionClick");
    case Action::RelinkSelection:
        return QStringLiteral("buttonRelinkSelectionClick");
    case Action::Group:
        return QStringLiteral("buttonGroupClick");
    case Action::AutoGroup:
        return QStringLiteral("buttonAutoGroupClick");
    case Action::Ungroup:
        return QStringLiteral("buttonUngroupClick");
    case Action::SendAsEmail:
        return QStringLiteral("buttonSendAsEmailClick");
    case Action::ExportImages:
        return QStringLiteral("buttonExportImagesClick");
    case Action::PublishToWeb:
        return QStringLiteral("buttonPublishToWebClick");
    case Action::BurnCD:
        return QStringLiteral("buttonBurnCDClick");
    case Action::Zoom:
        return QStringLiteral("performZoom");
    case Action::Miniaturize:
        return QStringLiteral("performMiniaturize");
    case Action::ZoomPanel:
        return QStringLiteral("windowZoomPanel");
    case Action::PrintOptionsRecalc:
        return QStringLiteral("viewPrintOptionsRecalc");
    case Action::Search:
        return QStringLiteral("menuSearch");
    }
    return QString();
}

QList<Item> menuItems()
{
    QList<Item> items;
    const auto add = [&items](std::initializer_list<Action> actions) {
        for (Action action : actions)
            items.append({action, -1});
    };
    const auto tagged = [&items](Action action, std::initializer_list<int> tags) {
        for (int tag : tags)
            items.append({action, tag});
    };
    add({Action::AddFolder,
         Action::AddCatalog,
         Action::AddImageSet,
         Action::AddSurveillanceFolder,
         Action::AddSmart,
         Action::Find,
         Action::ActivateSearchFilter,
         Action::AccessPrivileges,
         Action::PageLayout,
         Action::PrintDocument,
         Action::SaveWorkspace,
         Action::ReloadCatalogList,
         Action::ReloadCatalog,
         Action::Cut,
         Action::Copy,
         Action::Deselect,
         Action::Paste,
         Action::Delete,
         Action::SelectAll,
         Action::DeleteCatalog,
         Action::RenameCatalog,
         Action::UsesSmallIcons,
         Action::ShowCountOnLightTables,
         Action::ShowCountOnFilmRolls,
         Action::ShowCountOnImageSets,
         Action::ShowCountOnSurveillanceFolders,
         Action::DatabaseShowThumbnails,
         Action::LightTableShowThumbnails,
         Action::LightTableShowRecursive,
         Action::Adjust,
         Action::OpenWithMediaViewer,
         Action::OpenWithMediaViewerFS,
         Action::OpenWithCreator,
         Action::RevealInFinder,
         Action::RotateLeft,
         Action::RotateRight,
         Action::ShowCapturePanel,
         Action::ImportCumulus,
         Action::SetThumbnailUsingClipboard});
    tagged(Action::SetSearchFilter, {0, 1, 2, 3, 4, 5});
    tagged(Action::SetRating, {0, 1, 2, 3, 4, 5});
    tagged(Action::ViewOrder, {0, 1, 2, 3, 4, 5});
    tagged(Action::ViewSort, {100, 101});
    tagged(Action::ThumbnailStyle, {0, 1, 2, 3, 4});
    add({Action::RescanSurveillanceFolder, Action::AutoFill, Action::ReimportSelection, Action::RelinkSelection,
         Action::Group, Action::AutoGroup, Action::Ungroup, Action::SendAsEmail, Action::ExportImages,
         Action::PublishToWeb, Action::BurnCD, Action::Zoom, Action::Miniaturize, Action::ZoomPanel,
         Action::PrintOptionsRecalc});
    return items;
}

QString describe(const Item &item, const Snapshot &snapshot)
{
    const State answer = state(item.action, item.tag, snapshot);
    QString line = name(item.action);
    if (item.tag >= 0)
        line += QLatin1Char(' ') + QString::number(item.tag);
    line += answer.enabled ? QStringLiteral(" enabled") : QStringLiteral(" disabled");
    if (answer.checked.value_or(false))
        line += QStringLiteral(" checked");
    return line;
}

} // namespace OVNCatalogActions
