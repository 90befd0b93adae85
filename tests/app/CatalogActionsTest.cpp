#include "app/OVNCatalogActions.h"

#include <gtest/gtest.h>

#include <QSet>

#include <functional>

using OVNCatalogActions::Action;
using OVNCatalogActions::Snapshot;
using OVNCatalogActions::State;

namespace {

// A collection with three thumbnails, one of them selected, focused, with write access.
Snapshot collection()
{
    Snapshot s;
    s.selectedCount = 1;
    s.listCount = 3;
    s.selectedCategoryCount = 1;
    s.categoryHasType = true;
    s.categoryKind = "C";
    s.containerKind = "C";
    s.mediaViewFocused = true;
    s.mayWrite = true;
    s.categoryMayWrite = true;
    return s;
}

using Change = std::function<void(Snapshot &)>;

const Change nothingSelected = [](Snapshot &s) { s.selectedCount = 0; };
const Change readOnly = [](Snapshot &s) {
    s.mayWrite = s.fullAccess = s.categoryMayWrite = s.categoryFullAccess = false;
};

Change kind(const char *k)
{
    return [k](Snapshot &s) { s.categoryKind = s.containerKind = k; };
}

Change all(std::initializer_list<Change> changes)
{
    return [list = std::vector<Change>(changes)](Snapshot &s) {
        for (const Change &change : list)
            change(s);
    };
}

struct Case {
    const char *what;
    Action action;
    int tag;
    Change change;
    bool enabled;
    std::optional<bool> checked = std::nullopt;
};

} // namespace

TEST(CatalogActionsTest, EveryMenuAndToolbarRuleWithItsEdgeCases)
{
    const Change none = [](Snapshot &) {};
    const Change files = [](Snapshot &s) { s.clipboardHasFiles = true; };
    const Case cases[] = {
        {"add and find: always", Action::AddSmart, -1, all({nothingSelected, readOnly}), true},
        {"capture: always", Action::ShowCapturePanel, -1, readOnly, true},
        {"privileges: one category", Action::AccessPrivileges, -1, [](Snapshot &s) { s.selectedCategoryCount = 2; },
         false},
        {"reload media: no category", Action::ReloadCatalog, -1, [](Snapshot &s) { s.selectedCategoryCount = 0; },
         false},
        {"print: empty list", Action::PrintDocument, -1, [](Snapshot &s) { s.listCount = 0; }, false},
        {"cut: never", Action::Cut, -1, none, false},
        {"copy: selection", Action::Copy, -1, none, true},
        {"copy: none selected", Action::Copy, -1, nothingSelected, false},
        {"deselect: none selected", Action::Deselect, -1, nothingSelected, false},
        {"select all: list", Action::SelectAll, -1, nothingSelected, true},
        {"select all: empty list", Action::SelectAll, -1, [](Snapshot &s) { s.listCount = s.selectedCount = 0; },
         false},
        {"paste: collection with files", Action::Paste, -1, files, true},
        {"paste: no files", Action::Paste, -1, none, false},
        {"paste: read only", Action::Paste, -1, all({files, readOnly}), false},
        {"paste: category set", Action::Paste, -1, all({files, kind("S")}), false},
        {"paste: surveillance folder", Action::Paste, -1, all({files, kind("M")}), false},
        {"paste: smart folder", Action::Paste, -1, all({files, kind("I")}), false},
        {"paste: two categories", Action::Paste, -1, all({files, [](Snapshot &s) { s.selectedCategoryCount = 2; }}),
         false},
        {"delete: entries of a collection", Action::Delete, -1, none, true},
        {"delete: outline or field focused", Action::Delete, -1, [](Snapshot &s) { s.mediaViewFocused = false; },
         false},
        {"delete: read only", Action::Delete, -1, readOnly, false},
        {"delete: smart folder", Action::Delete, -1, kind("I"), false},
        {"delete: surveillance folder", Action::Delete, -1, kind("M"), false},
        {"delete: a folder's list deletes nothing", Action::Delete, -1, kind("F"), false},
        {"delete: set members by the set's level", Action::Delete, -1,
         all({kind("S"), [](Snapshot &s) { s.mayWrite = false; }}), true},
        {"delete: category without a kind", Action::Delete, -1, [](Snapshot &s) { s.categoryHasType = false; }, false},
        {"delete: the category with full access", Action::Delete, -1,
         all({nothingSelected, [](Snapshot &s) { s.categoryFullAccess = true; }}), true},
        {"delete: the category without full access", Action::Delete, -1, nothingSelected, false},
        {"delete category: the Database item", Action::DeleteCatalog, -1,
         all({kind("EXPANDABLE"), [](Snapshot &s) { s.categoryFullAccess = true; }}), false},
        {"rename category: full access", Action::RenameCatalog, -1, [](Snapshot &s) { s.categoryFullAccess = true; },
         true},
        {"small icons: marked", Action::UsesSmallIcons, -1, [](Snapshot &s) { s.smallIcons = true; }, true, true},
        {"option: marked as stored", Action::LightTableShowRecursive, -1,
         [](Snapshot &s) { s.options[OVNCatalogActions::LightTableShowRecursiveOption] = true; }, true, true},
        {"option: off", Action::ShowCountOnImageSets, -1, none, true, false},
        {"adjust: selection", Action::Adjust, -1, nothingSelected, false},
        {"adjust: no adjustment window", Action::Adjust, -1, none, false},
        {"adjust: selection and a window", Action::Adjust, -1, [](Snapshot &s) { s.adjustAvailable = true; }, true},
        {"rotate: selection and write", Action::RotateLeft, -1, none, true},
        {"rotate: read only", Action::RotateRight, -1, readOnly, false},
        {"clipboard thumbnail: image data", Action::SetThumbnailUsingClipboard, -1,
         [](Snapshot &s) { s.clipboardHasImage = true; }, true},
        {"clipboard thumbnail: no image", Action::SetThumbnailUsingClipboard, -1, files, false},
        {"search menu: the chosen field", Action::SetSearchFilter, 3, [](Snapshot &s) { s.searchField = 3; }, true,
         true},
        {"search menu: another field", Action::SetSearchFilter, 0, [](Snapshot &s) { s.searchField = 3; }, true, false},
        {"rating: the record's", Action::SetRating, 3, [](Snapshot &s) { s.selectedRating = 3; }, true, true},
        {"rating: not the record's", Action::SetRating, 2, [](Snapshot &s) { s.selectedRating = 3; }, true, false},
        {"rating: none stored is 0", Action::SetRating, 0, none, true, true},
        {"rating: several selected", Action::SetRating, 3,
         [](Snapshot &s) { s.selectedCount = 2, s.selectedRating.reset(); }, true, false},
        {"rating: read only clears", Action::SetRating, 3, all({readOnly, [](Snapshot &s) { s.selectedRating = 3; }}),
         false, false},
        {"arrange: current code", Action::ViewOrder, 2, [](Snapshot &s) { s.sortOrder = 2; }, true, true},
        {"direction: no sort code", Action::ViewSort, 100, none, false, true},
        {"direction: descending", Action::ViewSort, 101, [](Snapshot &s) { s.sortOrder = 1, s.sortAscending = false; },
         true, true},
        {"style: current", Action::ThumbnailStyle, 4, [](Snapshot &s) { s.thumbnailStyle = 4; }, true, true},
        {"rescan: surveillance folder", Action::RescanSurveillanceFolder, -1, kind("M"), true},
        {"rescan: read only", Action::RescanSurveillanceFolder, -1, all({kind("M"), readOnly}), false},
        {"auto fill: whole list", Action::AutoFill, -1, nothingSelected, true},
        {"auto fill: empty list", Action::AutoFill, -1, all({nothingSelected, [](Snapshot &s) { s.listCount = 0; }}),
         false},
        {"auto fill: read only", Action::AutoFill, -1, readOnly, false},
        {"export: whole list", Action::ExportImages, -1, nothingSelected, true},
        {"export: empty list", Action::BurnCD, -1, all({nothingSelected, [](Snapshot &s) { s.listCount = 0; }}), false},
        {"email: two categories, none selected", Action::SendAsEmail, -1,
         all({nothingSelected, [](Snapshot &s) { s.selectedCategoryCount = 2; }}), false},
        {"group: one selected", Action::Group, -1, none, false},
        {"group: two selected", Action::Group, -1, [](Snapshot &s) { s.selectedCount = 2; }, true},
        {"ungroup: in a stack", Action::Ungroup, -1, [](Snapshot &s) { s.selectedGroup = 0; }, true},
        {"ungroup: no stack", Action::Ungroup, -1, none, false},
        {"zoom panel: marked while shown", Action::ZoomPanel, -1, [](Snapshot &s) { s.zoomPanelVisible = true; }, true,
         true},
        {"search field: empty list", Action::Search, -1, [](Snapshot &s) { s.listCount = s.selectedCount = 0; }, false},
        {"search field: a filter that matched nothing", Action::Search, -1,
         [](Snapshot &s) { s.listCount = s.selectedCount = 0, s.filterActive = true; }, true},
    };
    for (const Case &c : cases) {
        Snapshot snapshot = collection();
        c.change(snapshot);
        const State answer = OVNCatalogActions::state(c.action, c.tag, snapshot);
        EXPECT_EQ(answer.enabled, c.enabled) << c.what;
        EXPECT_EQ(answer.checked, c.checked) << c.what;
    }
}

TEST(CatalogActionsTest, EveryMenuItemIsListedOnceAndDescribedInOneLine)
{
    const QList<OVNCatalogActions::Item> items = OVNCatalogActions::menuItems();
    QSet<QString> seen;
    for (const OVNCatalogActions::Item &item : items) {
        const QString line = OVNCatalogActions::describe(item, collection());
        EXPECT_FALSE(seen.contains(line.section(' ', 0, item.tag >= 0 ? 1 : 0))) << qPrintable(line);
        seen.insert(line.section(' ', 0, item.tag >= 0 ? 1 : 0));
    }
    EXPECT_EQ(items.size(), 79);
    Snapshot rated = collection();
    rated.selectedRating = 3;
    EXPECT_EQ(OVNCatalogActions::describe({Action::SetRating, 3}, rated), "menuSetRating 3 enabled checked");
    EXPECT_EQ(OVNCatalogActions::describe({Action::Cut, -1}, rated), "cut disabled");
}
