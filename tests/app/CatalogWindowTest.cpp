#include "CatalogWindowFixture.h"
#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"
#include "app/OVNAssetManager.h"
#include "browser/OVNMediaPreviewImage.h"
#include "app/OVNCategoryComment.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNOutlineView.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "app/OVNSmartFolderSearch.h"
#include "app/OVNSmartFolders.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNBGView.h"
#include "uikit/OVNButtonBGView.h"
#include "uikit/OVNSplitView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

// The shared catalog fixture brings its own instantiation; this program defines no tests on it.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);

namespace {

const QStringList viewFlags = {"DatabaseShowThumbnails",        "LightTableShowThumbnails", "LightTableShowRecursive",
                               "ShowCountOnLightTables",        "ShowCountOnFilmRolls",     "ShowCountOnImageSets",
                               "ShowCountOnSurveillanceFolders"};

QStringList names(const QList<CategoryNode> &nodes)
{
    QStringList result;
    for (const CategoryNode &node : nodes)
        result.append(node.value("displaytag").toString());
    return result;
}

// A catalog with a folder tree, every kind of category and a few entries:
//   Travel (F) > 2024 (F) > Lisbon (C: lisbon-1, lisbon-2); Travel > Alps (C: alps-1);
//   Travel > Picks (S); Studio (C: studio-1); Incoming (M: incoming-1); Stars (I); Best (S: alps-1, studio-1)
class CatalogWindowTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        Alerts::setPresenter(std::make_unique<ScriptedAlertPresenter>());
        for (const QString &flag : viewFlags)
            UserDefaults::standard().removeObjectForKey(flag);
        UserDefaults::standard().registerDefaults({{"LightTableShowThumbnails", "1"}, {"ShowCountOnFilmRolls", "1"}});

        travel = category("Travel", "F");
        year = category("2024", "F", travel);
        lisbon = category("Lisbon", "C", year);
        alps = category("Alps", "C", travel);
        picks = category("Picks", "S", travel);
        studio = category("Studio", "C");
        incoming = category("Incoming", "M");
        stars = category("Stars", "I");
        best = category("Best", "S");
        lisbon1 = entry(lisbon, "lisbon-1");
        entry(lisbon, "lisbon-2");
        alps1 = entry(alps, "alps-1");
        studio1 = entry(studio, "studio-1");
        entry(incoming, "incoming-1");
        ASSERT_FALSE(db.addEntryToImageSet(alps1, best).isEmpty());
        ASSERT_FALSE(db.addEntryToImageSet(studio1, best).isEmpty());
    }

    void TearDown() override
    {
        closeWindows();
        for (const QString &flag : viewFlags)
            UserDefaults::standard().removeObjectForKey(flag);
        OVNSmartFolders::setSearch(nullptr);
        Alerts::setPresenter(nullptr);
        CatalogFixture::TearDown();
    }

    OVNAssetManager *openWindow(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        return loadWindow(std::move(connection));
    }

    QString travel, year, lisbon, alps, picks, studio, incoming, stars, best;
    QString lisbon1, alps1, studio1;
};

OVN_CATALOG_VENDORS(CatalogWindowTest);

TEST_P(CatalogWindowTest, TheTreeHoldsEveryKindWithFoldersFilledToTheBottom)
{
    OVNAssetManager *window = openWindow();
    const QList<CategoryNode> roots = window->internalSectionList();
    ASSERT_EQ(roots.size(), 2);
    EXPECT_EQ(roots.at(0).value("type").toString(), "EXPANDABLE");
    EXPECT_EQ(roots.at(0).value("ID").toString(), "CATALOGS");
    EXPECT_FALSE(roots.at(0).contains("mid"));
    EXPECT_EQ(roots.at(1).value("displaytag").toString(), "Best");

    ASSERT_TRUE(window->internalCategoryList().has_value());
    const QList<CategoryNode> top = *window->internalCategoryList();
    // Folders first, then collections, surveillance folders and smart folders.
    EXPECT_EQ(names(top), (QStringList{"Travel", "Studio", "Incoming", "Stars"}));
    const QVariantList travelItems = top.at(0).value("folderitems").toList();
    ASSERT_EQ(travelItems.size(), 3);
    QVariantMap nested;
    for (const QVariant &item : travelItems) {
        if (item.toMap().value("displaytag") == "2024")
            nested = item.toMap();
    }
    ASSERT_EQ(nested.value("folderitems").toList().size(), 1);
    EXPECT_EQ(nested.value("folderitems").toList().first().toMap().value("mid").toString(), lisbon);
    EXPECT_FALSE(top.at(1).contains("folderitems"));

    // The outline shows the same shape, with the section item open and a count column.
    OVNCategoryTreeModel *model = window->categoryModel();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->rowCount(model->index(0, 0)), 4);
    EXPECT_TRUE(window->categoryList()->isExpanded(model->index(0, 0)));
    EXPECT_EQ(model->columnCount(), 2);
    const QModelIndex studioCount = model->index(1, 1, model->index(0, 0));
    EXPECT_EQ(model->data(studioCount).toString(), "1");
}

TEST_P(CatalogWindowTest, AnEmptyCatalogShowsTheDatabaseItemAlone)
{
    for (const char *table : {"strvset", "strvfile", "strvcategory"})
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("delete from ") + QLatin1String(table)));
    OVNAssetManager *window = openWindow();
    EXPECT_EQ(window->categoryModel()->rowCount(), 1);
    EXPECT_EQ(window->categoryModel()->rowCount(window->categoryModel()->index(0, 0)), 0);
}

TEST_P(CatalogWindowTest, WithEveryCountOffThereIsNoCountColumn)
{
    for (const char *flag :
         {"ShowCountOnLightTables", "ShowCountOnFilmRolls", "ShowCountOnImageSets", "ShowCountOnSurveillanceFolders"})
        UserDefaults::standard().setBool(false, flag);
    OVNAssetManager *window = openWindow();
    EXPECT_EQ(window->categoryModel()->columnCount(), 1);
}

TEST(CatalogWindowWithoutCatalogTest, ReloadWithoutAConnectionSaysSoAndChangesNothing)
{
    auto *presenter = new ScriptedAlertPresenter;
    Alerts::setPresenter(std::unique_ptr<AlertPresenter>(presenter));
    OVNAssetManager window;
    window.windowControllerDidLoadNib();
    window.reload();
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_EQ(presenter->shown().first().informativeText, "No database connection");
    EXPECT_EQ(presenter->shown().first().buttons, QStringList{"Close"});
    EXPECT_FALSE(window.internalCategoryList().has_value());
    EXPECT_EQ(window.categoryModel()->rowCount(), 0);
    Alerts::setPresenter(nullptr);
}

TEST_P(CatalogWindowTest, OpenFoldersStayOpenAcrossReloadsEvenUnderAClosedParent)
{
    OVNAssetManager *window = openWindow();
    window->setCategoryExpanded(travel, true);
    window->setCategoryExpanded(year, true);
    window->setCategoryExpanded(travel, false);
    const QString added = category("Later", "C", year);
    window->reloadCategoryList();
    EXPECT_FALSE(window->isCategoryExpanded(travel));
    EXPECT_TRUE(window->isCategoryExpanded(year));
    EXPECT_TRUE(window->selectCategory(added));
}

TEST_P(CatalogWindowTest, EachKindShowsItsOwnMedia)
{
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(lisbon));
    EXPECT_EQ(shownNames(window->mediaView()), (QStringList{"lisbon-1", "lisbon-2"}));
    EXPECT_EQ(window->mediaView()->mediaContainerType(), "C");
    EXPECT_EQ(window->mediaView()->mediaContainerMID(), lisbon);
    EXPECT_EQ(window->statusText(), "2 Items");
    EXPECT_TRUE(window->thumbnailSizeSliderEnabled());

    ASSERT_TRUE(window->selectCategory(incoming));
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"incoming-1"});
    ASSERT_NE(window->currentTopView(), nullptr);
    OVNBGView *surveillanceBar = window->currentTopView();

    ASSERT_TRUE(window->selectCategory(best));
    EXPECT_EQ(shownNames(window->mediaView()), (QStringList{"alps-1", "studio-1"}));
    for (const MediaRecordRef &record : window->mediaView()->mediaContainer())
        EXPECT_FALSE(record->field(MediaRecord::ImageSetMid).isEmpty());
    EXPECT_NE(window->currentTopView(), surveillanceBar);

    // The top bar leaves the thumbnail area but survives for the next use.
    ASSERT_TRUE(window->selectCategory(studio));
    EXPECT_EQ(window->currentTopView(), nullptr);
    EXPECT_FALSE(surveillanceBar->isVisible());
    ASSERT_TRUE(window->selectCategory(incoming));
    EXPECT_EQ(window->currentTopView(), surveillanceBar);

    // Two categories at once, and the Database item with its option off, show nothing.
    window->selectCategories({studio, alps});
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_EQ(window->statusText(), "0 Items");
    ASSERT_TRUE(window->selectCategory(QString()));
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_FALSE(window->thumbnailSizeSliderEnabled());
}

TEST_P(CatalogWindowTest, TheDatabaseItemShowsEveryEntryWhenItsOptionIsOn)
{
    UserDefaults::standard().setBool(true, "DatabaseShowThumbnails");
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(QString()));
    EXPECT_EQ(window->mediaView()->count(), 5);
    EXPECT_EQ(window->mediaView()->mediaContainerType(), "EXPANDABLE");
}

TEST_P(CatalogWindowTest, AFolderShowsItsCollectionsAndWithTheRecursiveOptionThoseBelow)
{
    OVNAssetManager *flat = openWindow();
    ASSERT_TRUE(flat->selectCategory(travel));
    EXPECT_EQ(shownNames(flat->mediaView()), QStringList{"alps-1"});
    EXPECT_EQ(flat->mediaView()->mediaContainerType(), "F");

    UserDefaults::standard().setBool(true, "LightTableShowRecursive");
    OVNAssetManager *deep = openWindow();
    ASSERT_TRUE(deep->selectCategory(travel));
    EXPECT_EQ(shownNames(deep->mediaView()), (QStringList{"alps-1", "lisbon-1", "lisbon-2"}));

    // A folder holding only a set shows nothing: only collections are gathered.
    const QString onlySets = category("Only sets", "F");
    category("A set", "S", onlySets);
    deep->reloadCategoryList();
    ASSERT_TRUE(deep->selectCategory(onlySets));
    EXPECT_EQ(deep->mediaView()->count(), 0);

    UserDefaults::standard().setBool(false, "LightTableShowThumbnails");
    OVNAssetManager *off = openWindow();
    ASSERT_TRUE(off->selectCategory(travel));
    EXPECT_EQ(off->mediaView()->count(), 0);
}

TEST_P(CatalogWindowTest, ASmartFolderRunsItsStoredSearchWhenASearchIsInstalled)
{
    class ByName : public OVNSmartFolderSearch
    {
    public:
        QString searchClause(const QVariantMap &settings, const QList<Catalog> &, bool, QString *) const override
        {
            const QString name = settings.value("LINES").toList().value(0).toMap().value("VALUE").toString();
            return OVNDBHelper::mediaSelect() + " where displaytag=" + OVNDBHelper::quotedText(name);
        }
    };
    const QVariantMap settings = {{"CATALOG", "0"}, {"LINES", QVariantList{QVariantMap{{"VALUE", "studio-1"}}}}};
    ASSERT_TRUE(db.updateCategoryListComment(stars, OVNCategoryComment::textForm(settings)));

    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(stars));
    EXPECT_EQ(window->mediaView()->count(), 0);

    OVNSmartFolders::setSearch(std::make_shared<ByName>());
    window->reloadMediaList();
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"studio-1"});
    EXPECT_EQ(window->lastSearchSettings().value("CATALOG").toString(), "0");

    // A comment that holds no dictionary shows nothing.
    ASSERT_TRUE(db.updateCategoryListComment(stars, "not a property list ("));
    window->reloadCategoryList();
    ASSERT_TRUE(window->selectCategory(stars));
    EXPECT_EQ(window->mediaView()->count(), 0);
}

TEST_P(CatalogWindowTest, SelectingAThumbnailFillsThePreviewAndTheDetails)
{
    ASSERT_TRUE(db.updateThumbnailForMediaID(studio1, filledJpeg({40, 30}, Qt::red)));
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(studio));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    view->notifySelectionDidChange();
    EXPECT_EQ(window->mediaPreviewImage()->image().size(), QSize(40, 30));
    EXPECT_EQ(window->mediaPreviewImage()->rating(), 4);
    EXPECT_EQ(window->mediaDetails()->selectionCount(), 1);
    EXPECT_NE(window->mediaDetails()->dataSource(), nullptr);

    // An edit in the pane reaches the catalog and the shown record.
    window->mediaDelegate().ovnMediaDetailsSetStringForID(window->mediaDetails(), "new title", "keywords", studio1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(studio1, "keywords"), "new title");
    EXPECT_EQ(view->mediaObject("keywords", 0).toString(), "new title");

    view->deselectAll();
    view->notifySelectionDidChange();
    EXPECT_TRUE(window->mediaPreviewImage()->image().isNull());
    EXPECT_EQ(window->mediaDetails()->dataSource(), nullptr);
}

TEST_P(CatalogWindowTest, TheFooterButtonsSitOnTheButtonRowGradient)
{
    OVNAssetManager *window = openWindow();
    auto *footer = window->findChild<OVNButtonBGView *>(QStringLiteral("footer"));
    ASSERT_TRUE(footer);
    EXPECT_FALSE(footer->isHidden());
    EXPECT_TRUE(footer->findChild<QSlider *>()) << "the thumbnail-size slider is not on it";
    // Darker at the bottom, lighter at the top, where no button covers it (left of the first).
    const QImage image = footer->grab().toImage();
    const QColor bottom = image.pixelColor(1, image.height() - 1), top = image.pixelColor(1, 0);
    EXPECT_NEAR(bottom.redF(), 0.78, 0.01);
    EXPECT_GT(top.redF(), bottom.redF() + 0.1);
}

TEST_P(CatalogWindowTest, AWindowResizeKeepsThePanesTheUserSized)
{
    OVNAssetManager *window = openWindow();
    window->resize(1000, 700);
    window->show();
    QApplication::processEvents();
    OVNSplitView *columns = nullptr;
    OVNSplitView *rows = nullptr;
    for (OVNSplitView *split : window->findChildren<OVNSplitView *>())
        (split->orientation() == Qt::Horizontal ? columns : rows) = split;
    ASSERT_TRUE(columns && rows);
    const int total = columns->sizes().at(0) + columns->sizes().at(1) + columns->sizes().at(2);
    columns->setSizes({180, 300, total - 480});
    rows->setSizes({150, rows->sizes().at(0) + rows->sizes().at(1) - 150});
    window->recordFrozenSizes();

    // Wider and taller, then narrower: the right column and the details row take the change.
    for (const QSize size : {QSize(1400, 900), QSize(1100, 650)}) {
        window->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(columns->sizes().at(0), 180) << size.width();
        EXPECT_EQ(columns->sizes().at(1), 300) << size.width();
        EXPECT_EQ(rows->sizes().at(0), 150) << size.height();
    }
    window->hide();
}

TEST_P(CatalogWindowTest, TheHiddenRightColumnComesBackWithItsWidthAfterASavedWorkspace)
{
    const QStringList keys{"NSWindow Frame OVNAssetManager", "OVNAssetManagerCategoryWidth",
                           "OVNAssetManagerMediaViewWidth", "OVNAssetManagerPreviewHeight", "MediaInfoCollapsed"};
    const auto columnsOf = [](OVNAssetManager *window) {
        for (OVNSplitView *split : window->findChildren<OVNSplitView *>()) {
            if (split->orientation() == Qt::Horizontal)
                return split;
        }
        return static_cast<OVNSplitView *>(nullptr);
    };
    {
        OVNAssetManager *window = openWindow();
        window->resize(780, 560);
        window->show();
        QApplication::processEvents();
        OVNSplitView *columns = columnsOf(window);
        ASSERT_NE(columns, nullptr);
        const int total = columns->sizes().at(0) + columns->sizes().at(1) + columns->sizes().at(2);
        columns->setSizes({170, total - 170 - 330, 330});
        window->commands().buttonToggleMediaInfoClick();
        window->commands().buttonSaveWorkspaceClick();
        closeWindows();
    }
    // The next start: the column starts hidden, and Show brings it back as it was.
    OVNAssetManager *window = openWindow();
    window->show();
    QApplication::processEvents();
    EXPECT_TRUE(window->isMediaInfoCollapsed());
    window->commands().buttonToggleMediaInfoClick();
    QApplication::processEvents();
    EXPECT_FALSE(window->isMediaInfoCollapsed());
    const QList<int> sizes = columnsOf(window)->sizes();
    EXPECT_NEAR(sizes.at(0), 170, 4);
    EXPECT_NEAR(sizes.at(2), 330, 4); // the handles are shared out again
    EXPECT_GT(sizes.at(1), 0);
    closeWindows();
    for (const QString &key : keys)
        UserDefaults::standard().removeObjectForKey(key);
}

TEST_P(CatalogWindowTest, ANewCategoryReachesAWindowWithoutSelectionButNotOneWithASelection)
{
    OVNAssetManager *poster = openWindow();
    OVNAssetManager *idle = openWindow();
    OVNAssetManager *busy = openWindow();
    ASSERT_TRUE(busy->selectCategory(studio));

    const QString added = category("Fresh", "C");
    poster->postNotification(OVNAssetManager::categoryListDidChangeNotification(), {{"action", "add"}});
    EXPECT_TRUE(names(*poster->internalCategoryList()).contains("Fresh"));
    EXPECT_TRUE(names(*idle->internalCategoryList()).contains("Fresh"));
    EXPECT_FALSE(names(*busy->internalCategoryList()).contains("Fresh"));
    // The busy window keeps its selection and its thumbnails.
    ASSERT_TRUE(busy->selectedCategory().has_value());
    EXPECT_EQ(busy->selectedCategory()->value("mid").toString(), studio);
    EXPECT_EQ(busy->mediaView()->count(), 1);
    EXPECT_TRUE(poster->selectCategory(added));
}

TEST_P(CatalogWindowTest, ChangedMembersReloadTheWindowThatShowsThem)
{
    OVNAssetManager *poster = openWindow();
    OVNAssetManager *viewer = openWindow();
    ASSERT_TRUE(viewer->selectCategory(alps));
    ASSERT_EQ(viewer->mediaView()->count(), 1);
    const QModelIndex alpsCount = [&] {
        for (OVNCategoryTreeModel::Item *item : viewer->categoryModel()->allItems()) {
            if (item->node.value("mid").toString() == alps)
                return viewer->categoryModel()->indexForItem(item, 1);
        }
        return QModelIndex();
    }();
    EXPECT_EQ(viewer->categoryModel()->data(alpsCount).toString(), "1");

    entry(alps, "alps-2");
    poster->postNotification(OVNAssetManager::reloadCategoryNotification(), {{"categoryid", alps}});
    EXPECT_EQ(viewer->mediaView()->count(), 2);
    EXPECT_EQ(viewer->categoryModel()->data(alpsCount).toString(), "2");

    // News about another category leaves the shown list alone.
    entry(alps, "alps-3");
    poster->postNotification(OVNAssetManager::reloadCategoryNotification(), {{"categoryid", studio}});
    EXPECT_EQ(viewer->mediaView()->count(), 2);
}

TEST_P(CatalogWindowTest, OnlyTheWindowThatStartedAnImportFollowsItsEnd)
{
    OVNAssetManager *importer = openWindow();
    OVNAssetManager *other = openWindow();
    for (OVNAssetManager *window : {importer, other}) {
        window->setCategoryExpanded(travel, true);
        ASSERT_TRUE(window->selectCategory(studio));
    }
    importer->setTrackImportDidFinish(true);
    entry(alps, "imported");
    importer->postNotification(OVNAssetManager::importMediaDidFinishNotification(), {{"categoryid", alps}});
    EXPECT_EQ(importer->selectedCategory()->value("mid").toString(), alps);
    EXPECT_EQ(importer->mediaView()->count(), 2);
    EXPECT_FALSE(importer->trackImportDidFinish());
    EXPECT_EQ(other->selectedCategory()->value("mid").toString(), studio);

    // A click on another category during the import ends the following.
    importer->setTrackImportDidFinish(true);
    ASSERT_TRUE(importer->selectCategory(studio));
    importer->postNotification(OVNAssetManager::importMediaDidFinishNotification(), {{"categoryid", alps}});
    EXPECT_EQ(importer->selectedCategory()->value("mid").toString(), studio);
}

// ---- privileges ----

TEST(PrivilegeLevelTest, AHigherLevelGrantsOnlyTheTwoLowerRequests)
{
    const QString no = "NO ACCESS", ro = "READ ONLY", rw = "READ & WRITE", full = "FULL ACCESS";
    EXPECT_TRUE(OVNPrivilegeLevel::isGranted(rw, rw));
    EXPECT_TRUE(OVNPrivilegeLevel::isGranted(rw, full));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(rw, ro));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(rw, no));
    EXPECT_TRUE(OVNPrivilegeLevel::isGranted(ro, rw));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(full, rw));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(no, ro));
    EXPECT_TRUE(OVNPrivilegeLevel::isGranted(no, no));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(rw, ""));
    EXPECT_FALSE(OVNPrivilegeLevel::isGranted(ro, "SOMETHING"));
    EXPECT_EQ(OVNPrivilegeLevel::lower(full, ro), ro);
    EXPECT_EQ(OVNPrivilegeLevel::lower("bogus", rw), "bogus");
    EXPECT_TRUE(OVNAssetManager::authorizationMessage(rw, ro).endsWith("Requested Privilege: READ & WRITE\n"
                                                                       "Your Privilege Level: READ ONLY"));
}

TEST_P(CatalogWindowTest, WithoutUserTablesEverySelectionHasFullAccess)
{
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(QString()));
    for (const char *level : {"READ ONLY", "READ & WRITE", "FULL ACCESS"})
        EXPECT_TRUE(window->isUserAuthorizedForAccessCurrentSelectionWithType(level, false)) << level;
    window->selectCategories({studio, alps});
    EXPECT_EQ(window->levelForCurrentSelection(), "NO ACCESS");
    EXPECT_FALSE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ ONLY", false));
}

// A server catalog with users: Ann is in Staff. "Secret" lets only another group in, "Open" gives
// Staff read-only access, "Shared" read and write.
class ServerPrivilegesTest : public CatalogWindowTest
{
protected:
    void SetUp() override
    {
        CatalogWindowTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db));
        staff = db.addGroupEntry("Staff", QString(), {});
        const QString others = db.addGroupEntry("Others", QString(), {});
        const QString ann = db.addUserEntry("Ann", "ann", "secret", "second", {});
        ASSERT_FALSE(db.addUserToGroup(ann, staff).isEmpty());
        secret = restricted("Secret", others, "FULL ACCESS");
        open = restricted("Open", staff, "READ ONLY");
        shared = restricted("Shared", staff, "READ & WRITE");
        secret1 = entry(secret, "secret-1");
        open1 = entry(open, "open-1");
        entry(shared, "shared-1");
        ASSERT_FALSE(db.addEntryToImageSet(secret1, best).isEmpty());
        ASSERT_FALSE(db.addEntryToImageSet(open1, best).isEmpty());
        UserDefaults::standard().setBool(true, "DatabaseShowThumbnails");

        connection = openAnother();
        ASSERT_NO_FATAL_FAILURE(signInAsAnn(*connection));
    }

    QString restricted(const char *name, const QString &group, const char *level)
    {
        const QString mid = category(name, "C");
        const QVariantList entries{QVariantMap{{"group", "g"}, {"mid", group}, {"privilege", level}}};
        EXPECT_TRUE(db.updateCategoryListComment(mid, OVNCategoryComment::withPrivileges(QString(), entries)));
        return mid;
    }

    std::shared_ptr<OVNDatabaseAccess> connection;
    QString staff, secret, open, shared, secret1, open1;
};

INSTANTIATE_TEST_SUITE_P(Server, ServerPrivilegesTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerPrivilegesTest, AUserWithoutAccessSeesNoneOfACollectionsMedia)
{
    OVNAssetManager *window = openWindow(connection);
    // The tree still lists the collection, with the user's level on it.
    const std::optional<QList<CategoryNode>> nodes = window->internalCategoryList();
    ASSERT_TRUE(nodes.has_value());
    for (const CategoryNode &node : *nodes) {
        if (node.value("mid").toString() == secret) {
            EXPECT_EQ(node.value("MYPRIVILEGES").toString(), "NO ACCESS");
        } else if (node.value("mid").toString() == open) {
            EXPECT_EQ(node.value("MYPRIVILEGES").toString(), "READ ONLY");
        }
    }
    ASSERT_TRUE(window->selectCategory(secret));
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_FALSE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ ONLY", false));
    // Nor through the whole catalog or a set that links them.
    ASSERT_TRUE(window->selectCategory(QString()));
    EXPECT_FALSE(shownNames(window->mediaView()).contains("secret-1"));
    EXPECT_TRUE(shownNames(window->mediaView()).contains("open-1"));
    ASSERT_TRUE(window->selectCategory(best));
    const QStringList linked{"alps-1", "open-1", "studio-1"};
    EXPECT_EQ(shownNames(window->mediaView()), linked);
}

TEST_P(ServerPrivilegesTest, CountsTellOnlyWhatTheUserMayRead)
{
    // Travel holds 2024, Alps, Picks and now Secret; Best links alps-1, studio-1, secret-1, open-1.
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(secret, travel));
    for (const char *flag : {"ShowCountOnLightTables", "ShowCountOnFilmRolls", "ShowCountOnImageSets"})
        UserDefaults::standard().setBool(true, flag);
    OVNAssetManager *window = openWindow(connection);
    window->categoryList()->expandAll();
    const struct {
        QString mid;
        QString count;
    } cases[] = {
        {secret, ""},               // NO ACCESS: no count at all
        {open, "1"},                // READ ONLY: everything in it
        {shared, "1"}, {best, "3"}, // secret-1 is not counted
        {travel, "3"},              // nor is the Secret collection inside it
        {studio, "1"},              // a category without privileges counts whole
    };
    for (const auto &c : cases) {
        QModelIndex row;
        for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems())
            if (item->node.value("mid").toString() == c.mid)
                row = window->categoryModel()->indexForItem(item, 1);
        ASSERT_TRUE(row.isValid()) << qPrintable(c.mid);
        EXPECT_EQ(window->categoryModel()->data(row).toString(), c.count) << qPrintable(c.mid);
    }
    // Deleting asks what is there, readable or not.
    EXPECT_EQ(connection->getEntryCountForCategory(best, "S"), 4);
    EXPECT_EQ(connection->getEntryCountForCategory(travel, "F"), 4);
}

TEST_P(ServerPrivilegesTest, EntriesAreChangedOnlyWithTheirOwnCategorysLevel)
{
    auto *presenter = new ScriptedAlertPresenter;
    Alerts::setPresenter(std::unique_ptr<AlertPresenter>(presenter));
    OVNAssetManager *window = openWindow(connection);

    ASSERT_TRUE(window->selectCategory(open));
    EXPECT_EQ(window->levelForCurrentSelection(), "READ ONLY");
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    view->notifySelectionDidChange();
    // The details pane asks with the alert when it shows the entry's fields (disabled here).
    const qsizetype alertsBefore = presenter->shown().size();
    EXPECT_TRUE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ ONLY", false));
    EXPECT_FALSE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ & WRITE", true));
    ASSERT_EQ(presenter->shown().size(), alertsBefore + 1);
    EXPECT_EQ(presenter->shown().last().message, "Authorization Failed");
    EXPECT_TRUE(presenter->shown().last().informativeText.endsWith("Your Privilege Level: READ ONLY"));
    window->mediaDelegate().ovnMediaDetailsSetStringForID(window->mediaDetails(), "changed", "keywords", open1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(open1, "keywords"), "A title");

    // Shown through the Database item (full access there), the entry still answers to its own
    // collection.
    ASSERT_TRUE(window->selectCategory(QString()));
    view = window->mediaView();
    view->selectImage(view->rowForMid(open1));
    EXPECT_FALSE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ & WRITE", false));
    window->mediaDelegate().ovnMediaDetailsSetStringForID(window->mediaDetails(), "changed", "keywords", open1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(open1, "keywords"), "A title");

    ASSERT_TRUE(window->selectCategory(shared));
    view = window->mediaView();
    view->selectImage(0);
    EXPECT_TRUE(window->isUserAuthorizedForAccessCurrentSelectionWithType("READ & WRITE", false));
    EXPECT_FALSE(window->isUserAuthorizedForAccessCurrentSelectionWithType("FULL ACCESS", false));
}

// ---- category comments ----

TEST(CategoryCommentTest, BothTextFormsReadAndPrivilegesKeepTheOtherKeys)
{
    const QVariantMap folder = {{"SURVEILLANCEFOLDER", "/Volumes/Archive/Shots"}};
    const QString text = OVNCategoryComment::textForm(folder);
    EXPECT_EQ(OVNCategoryComment::dictionary(text), folder);
    const QVariantList entries{QVariantMap{{"group", "Staff"}, {"mid", "g1"}, {"privilege", "READ ONLY"}}};
    const QString xml = OVNCategoryComment::withPrivileges(text, entries);
    EXPECT_TRUE(xml.startsWith("<?xml"));
    const QVariantMap read = OVNCategoryComment::dictionary(xml);
    EXPECT_EQ(read.value("SURVEILLANCEFOLDER").toString(), "/Volumes/Archive/Shots");
    EXPECT_EQ(read.value("PRIVILEGES").toList(), entries);

    EXPECT_TRUE(OVNCategoryComment::dictionary("").isEmpty());
    EXPECT_TRUE(OVNCategoryComment::dictionary("(\"an\", \"array\")").isEmpty());
    EXPECT_FALSE(OVNCategoryComment::holdsDictionary("{ unterminated"));
    EXPECT_EQ(OVNCategoryComment::dictionary(OVNCategoryComment::withPrivileges("garbage", entries)).keys(),
              QStringList{"PRIVILEGES"});
}

} // namespace

// ---- commands ----

namespace {

// The window shown and active, its thumbnail view holding the keyboard focus, as a user has it.
void focusThumbnails(OVNAssetManager *window)
{
    window->show();
    window->activateWindow();
    window->mediaView()->setFocus();
    QApplication::processEvents();
    window->refreshActions();
}

bool enabled(OVNAssetManager *window, OVNCatalogActions::Action action) { return window->action(action)->isEnabled(); }

} // namespace

TEST_P(ServerPrivilegesTest, AReadOnlyCollectionRefusesDeleteAndPasteAlsoByShortcut)
{
    auto *presenter = new ScriptedAlertPresenter;
    Alerts::setPresenter(std::unique_ptr<AlertPresenter>(presenter));
    QTemporaryDir dir;
    const QString file = dir.filePath("new.jpg");
    QFile(file).open(QIODevice::WriteOnly);
    auto *files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(file)});
    QGuiApplication::clipboard()->setMimeData(files);

    OVNAssetManager *window = openWindow(connection);
    using OVNCatalogActions::Action;
    // Where Ann may write, both are offered.
    ASSERT_TRUE(window->selectCategory(shared));
    window->mediaView()->selectImage(0);
    window->mediaView()->notifySelectionDidChange();
    focusThumbnails(window);
    EXPECT_TRUE(enabled(window, Action::Delete));
    EXPECT_TRUE(enabled(window, Action::Paste));

    ASSERT_TRUE(window->selectCategory(open));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    view->notifySelectionDidChange();
    focusThumbnails(window);
    EXPECT_TRUE(window->describeActions().contains("delete disabled"));
    EXPECT_FALSE(enabled(window, Action::Paste));
    EXPECT_TRUE(enabled(window, Action::Copy));

    // The Delete key goes to the thumbnail view, the command runs from a stale menu, Paste's
    // shortcut and the command itself: nothing is written, and the user is told why.
    const qsizetype alertsBefore = presenter->shown().size();
    QTest::keyClick(view, Qt::Key_Delete);
    window->commands().deleteSelection();
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    window->mediaDelegate().paste();
    EXPECT_EQ(db.getMediaListEntryForMediaID(open1, "displaytag"), "open-1");
    EXPECT_EQ(db.getEntryCountForCategory(open, "C"), 1);
    EXPECT_EQ(window->mediaView()->count(), 1);
    EXPECT_GE(presenter->shown().size(), alertsBefore + 2);
    QGuiApplication::clipboard()->clear();
}

TEST_P(CatalogWindowTest, ViewOptionsAreStoredAtOnceAndTheFilterKeepsWhatHoldsItsText)
{
    OVNAssetManager *window = openWindow();
    using OVNCatalogActions::Action;
    const QString file = UserDefaults::standard().filePath();
    const auto stored = [&file](const char *key) { return UserDefaults(file).objectForKey(key).toString(); };
    const char *keys[] = {"ShowCountOnLightTables",         "ShowCountOnFilmRolls",   "ShowCountOnImageSets",
                          "ShowCountOnSurveillanceFolders", "DatabaseShowThumbnails", "LightTableShowThumbnails",
                          "LightTableShowRecursive"};
    for (int option = 0; option < OVNCatalogActions::OptionCount; ++option) {
        const auto which = OVNCatalogActions::Option(option);
        const bool before = window->viewOption(which);
        window->commands().toggleViewOption(which);
        EXPECT_NE(window->viewOption(which), before) << keys[option];
        EXPECT_EQ(stored(keys[option]), before ? "0" : "1") << keys[option];
    }
    window->action(Action::UsesSmallIcons)->trigger();
    EXPECT_EQ(stored("UsesSmallCatalogIcons"), window->usesSmallIcons() ? "1" : "0");
    window->commands().thumbsizeSliderMoved(100.9);
    EXPECT_EQ(stored("ThumbnailSize"), "100");
    window->action(Action::ThumbnailStyle, 3)->trigger();
    EXPECT_EQ(stored("ThumbnailStyle"), "3");
    window->action(Action::ViewOrder, 2)->trigger();
    window->action(Action::ViewSort, 101)->trigger();
    EXPECT_EQ(stored("ThumbnailArrangeBy"), "2");
    EXPECT_EQ(stored("ThumbnailOrderBy"), "0");
    EXPECT_TRUE(window->action(Action::ViewSort, 101)->isChecked());
    window->commands().buttonToggleMediaInfoClick();
    window->commands().buttonSaveWorkspaceClick();
    EXPECT_EQ(stored("MediaInfoCollapsed"), "1");
    window->commands().buttonToggleMediaInfoClick();
    EXPECT_FALSE(window->isMediaInfoCollapsed());

    // The filter: the rating field, any text field without a key, case ignored; a new choice with
    // an empty field only renames the placeholder.
    window->commands().buttonVieworderMenuClick(0);
    ASSERT_TRUE(window->selectCategory(lisbon));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 2);
    // A new order keeps the selected entry selected where it moves to.
    ASSERT_EQ(view->mediaIDForRow(0), lisbon1);
    view->selectImage(0);
    window->commands().buttonVieworderMenuClick(2);
    EXPECT_EQ(view->mediaIDForRow(1), lisbon1);
    EXPECT_EQ(view->selectedRows(), QList<int>{1});
    window->commands().buttonVieworderMenuClick(0);
    EXPECT_EQ(view->mediaIDForRow(0), lisbon1);
    view->setMediaObject("rating", "3", view->rowForMid(lisbon1));
    window->action(Action::SetSearchFilter, 5)->trigger();
    EXPECT_EQ(window->searchField()->placeholderText(), "Rating");
    EXPECT_EQ(view->count(), 2);
    window->searchField()->setText("3");
    ASSERT_EQ(view->count(), 1);
    EXPECT_EQ(view->mediaIDForRow(0), lisbon1);
    window->commands().menuSetSearchFilter(0);
    window->searchField()->setText("LISBON-2");
    EXPECT_EQ(shownNames(view), QStringList{"lisbon-2"});
    window->searchField()->setText("SUN");
    EXPECT_EQ(view->count(), 2);
    window->commands().menuSetSearchFilter(1);
    EXPECT_EQ(view->count(), 0);
    EXPECT_TRUE(window->toolbar()->actions().size() > 0);
    // Another category shows its whole list again.
    ASSERT_TRUE(window->selectCategory(alps));
    EXPECT_TRUE(window->searchField()->text().isEmpty());
    EXPECT_EQ(window->mediaView()->count(), 1);
}

TEST_P(CatalogWindowTest, TheToolbarKeepsTheChosenItemsInTheirOrder)
{
    OVNAssetManager *window = openWindow();
    EXPECT_EQ(window->toolbarItemIdentifiers(), OVNCatalogWindowCommands::toolbarDefaultItemIdentifiers());
    const QStringList allowed = OVNCatalogWindowCommands::toolbarAllowedItemIdentifiers();
    const QString capture = "OVNAssetManager CaptureToolbarItemIdentifier";
    const QString remove = "OVNAssetManager DeleteToolbarItemIdentifier";
    EXPECT_TRUE(allowed.contains(capture) && allowed.contains(remove));
    EXPECT_FALSE(OVNCatalogWindowCommands::toolbarDefaultItemIdentifiers().contains(capture));
    window->setToolbarItemIdentifiers({remove, "OVNAssetManager NoSuchItem", "NSToolbarSpaceItem", capture});
    const QStringList chosen{remove, "NSToolbarSpaceItem", capture};
    EXPECT_EQ(window->toolbarItemIdentifiers(), chosen);
    // Capture asks for the capture panel, whatever is selected or shown.
    QAction *captureItem = window->toolbar()->actions().last();
    int requests = 0;
    QObject::connect(window, &OVNAssetManager::capturePanelRequested, [&requests] { ++requests; });
    for (const QString &category : {QString(), studio}) {
        window->selectCategory(category);
        window->refreshActions();
        EXPECT_TRUE(captureItem->isEnabled());
    }
    window->deselectAllCategories();
    window->refreshActions();
    EXPECT_TRUE(captureItem->isEnabled());
    captureItem->trigger();
    EXPECT_EQ(requests, 1);
    OVNAssetManager *second = openWindow();
    EXPECT_EQ(second->toolbarItemIdentifiers(), chosen);
    UserDefaults::standard().removeObjectForKey("NSToolbar Configuration " + OVNAssetManager::toolbarIdentifier());
}

TEST_P(CatalogWindowTest, GroupAndUngroupRedrawAtOnce)
{
    entriesWithThumbnail(studio, {"studio-2", "studio-3"}, filledJpeg(QSize(40, 30), Qt::red));
    OVNAssetManager *window = openWindow();
    window->resize(900, 600);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, waitCeilingMs));
    ASSERT_TRUE(window->selectCategory(studio));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 3);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    view->viewport()->installEventFilter(&counter);
    const auto paintedAfter = [&](OVNCatalogActions::Action which) {
        QApplication::processEvents();
        counter.paints = 0;
        window->refreshActions();
        window->action(which)->trigger();
        QApplication::processEvents();
        return counter.paints > 0;
    };
    const auto groups = [view] {
        QStringList marks;
        for (int row = 0; row < view->count(); ++row)
            marks.append(view->mediaObject("group", row).toString());
        return marks;
    };

    view->selectImage(0, false);
    view->selectImage(1, false);
    view->notifySelectionDidChange();
    EXPECT_TRUE(paintedAfter(OVNCatalogActions::Action::Group));
    const QString stack = groups().at(0);
    EXPECT_EQ(groups(), (QStringList{stack, stack, ""}));

    // Ungroup is for one stack: one of its items or several, nothing else with them.
    const struct {
        QList<int> rows;
        bool enabled;
    } selections[] = {{{1}, true}, {{0, 1}, true}, {{0, 2}, false}, {{2}, false}};
    for (const auto &c : selections) {
        view->deselectAll();
        for (int row : c.rows)
            view->selectImage(row, false);
        view->notifySelectionDidChange();
        window->refreshActions();
        EXPECT_EQ(window->action(OVNCatalogActions::Action::Ungroup)->isEnabled(), c.enabled) << c.rows.size();
    }
    view->deselectAll();
    view->selectImage(0, false);
    view->selectImage(1, false);
    view->notifySelectionDidChange();
    window->refreshActions();
    ASSERT_TRUE(window->action(OVNCatalogActions::Action::Ungroup)->isEnabled());
    EXPECT_TRUE(paintedAfter(OVNCatalogActions::Action::Ungroup));
    EXPECT_EQ(groups(), (QStringList{"", "", ""}));
    EXPECT_TRUE(view->mediaObject("keyframe", 0).toString().isEmpty());
}
