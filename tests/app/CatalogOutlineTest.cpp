#include "../catalogdb/CatalogFixture.h"
#include "CatalogWindowFixture.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"
#include "StartupFakes.h"
#include "../support/TestEnvironment.h"
#include "app/OVNAssetManager.h"
#include "app/OVNCategoryComment.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNCountBadgeCell.h"
#include "app/OVNDocumentController.h"
#include "app/OVNOutlineView.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "import/OVNImportMedia.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A catalog with a folder tree and every kind of category:
//   Travel (F) > 2024 (F) > Lisbon (C: lisbon-1, lisbon-2); Travel > Alps (C: alps-1);
//   Studio (C: studio-1); Incoming (M: incoming-1); Best (S: alps-1)
class CatalogOutlineTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        UserDefaults::standard().setBool(true, "ShowCountOnFilmRolls");
        UserDefaults::standard().setBool(true, "ShowCountOnImageSets");
        UserDefaults::standard().setBool(true, "LightTableShowThumbnails");

        travel = category("Travel", "F");
        year = category("2024", "F", travel);
        lisbon = category("Lisbon", "C", year);
        alps = category("Alps", "C", travel);
        studio = category("Studio", "C");
        incoming = category("Incoming", "M");
        best = category("Best", "S");
        lisbon1 = entry(lisbon, "lisbon-1");
        lisbon2 = entry(lisbon, "lisbon-2");
        alps1 = entry(alps, "alps-1");
        studio1 = entry(studio, "studio-1");
        entry(incoming, "incoming-1");
        ASSERT_FALSE(db.addEntryToImageSet(alps1, best).isEmpty());
    }

    void TearDown() override
    {
        closeWindows();
        UserDefaults::standard().removeObjectForKey("ShowCountOnFilmRolls");
        UserDefaults::standard().removeObjectForKey("ShowCountOnImageSets");
        UserDefaults::standard().removeObjectForKey("LightTableShowThumbnails");
        Alerts::setPresenter(nullptr);
        CatalogFixture::TearDown();
    }

    // Shown, with every folder open, as drags and clicks need it.
    OVNAssetManager *openWindow(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        OVNAssetManager *window = loadWindow(std::move(connection));
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window, waitCeilingMs));
        window->categoryList()->expandAll();
        return window;
    }

    static QModelIndex rowOf(OVNAssetManager *window, const QString &mid, int column = 0)
    {
        for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems()) {
            if (item->node.value("mid").toString() == mid)
                return window->categoryModel()->indexForItem(item, column);
        }
        return QModelIndex();
    }

    // A category's column as stored, whoever may see it.
    QString stored(const QString &mid, const char *column)
    {
        return db.rowDictionaryForQuery("select displaytag, supermid from strvcategory where mid=$1", {mid})
            .value(QString::fromLatin1(column))
            .toString();
    }

    static QString parentOf(OVNAssetManager *window, const QString &mid)
    {
        const QModelIndex parent = rowOf(window, mid).parent();
        const OVNCategoryTreeModel::Item *item = window->categoryModel()->itemForIndex(parent);
        return item ? item->node.value("mid").toString() : QString();
    }

    static QString countOf(OVNAssetManager *window, const QString &mid)
    {
        return window->categoryModel()->data(rowOf(window, mid, 1)).toString();
    }

    static constexpr Qt::DropActions kActions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

    static QPoint pointOf(OVNAssetManager *window, const QModelIndex &row)
    {
        OVNOutlineView *outline = window->categoryList();
        return row.isValid() ? outline->visualRect(row).center() : QPoint(10, outline->viewport()->height() - 3);
    }

    // Drags the data over the row (see dropOnto); answers the action the row offers.
    static Qt::DropAction hover(OVNAssetManager *window, const QModelIndex &row, const QMimeData *data)
    {
        QWidget *viewport = window->categoryList()->viewport();
        QDragEnterEvent enter(pointOf(window, row), kActions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(pointOf(window, row), kActions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        return move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
    }

    // Drags the data over the row (the empty area below the rows for an invalid index) and drops
    // it there, as the platform delivers a drag; answers whether the drop was taken.
    static bool dropOnto(OVNAssetManager *window, const QModelIndex &row, const QMimeData *data,
                         Qt::DropAction *hovered = nullptr)
    {
        OVNOutlineView *outline = window->categoryList();
        const Qt::DropAction action = hover(window, row, data);
        if (hovered)
            *hovered = action;
        QDropEvent drop(pointOf(window, row), kActions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(outline->viewport(), &drop);
        return drop.isAccepted();
    }

    static std::unique_ptr<QMimeData> media(const QStringList &mids, const QString &source, const QString &kind)
    {
        auto data = std::make_unique<QMimeData>();
        data->setData(OVNOutlineView::mediaMidType(), PropertyList::writeXml(QVariant(mids)));
        data->setData(OVNOutlineView::sourceCatalogMidType(), source.toUtf8());
        data->setData(OVNOutlineView::mediaContainerTypeType(), kind.toUtf8());
        return data;
    }

    static std::unique_ptr<QMimeData> categories(OVNAssetManager *window, const QStringList &mids)
    {
        QModelIndexList rows;
        for (const QString &mid : mids)
            rows.append(rowOf(window, mid));
        return window->outlineViewWriteItems(window->categoryList(), rows);
    }

    QString travel, year, lisbon, alps, studio, incoming, best;
    QString lisbon1, lisbon2, alps1, studio1;
};

OVN_CATALOG_VENDORS(CatalogOutlineTest);

// Types a name into the in-place editor that Return opened on the selected row and ends with Return.
void renameSelected(OVNOutlineView *outline, const QString &name)
{
    QTest::keyClick(outline, Qt::Key_Return);
    ASSERT_TRUE(outline->isEditing());
    auto *editor = outline->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor commits and closes from the event loop.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_P(CatalogOutlineTest, RenamingInPlaceStoresTheNameAndRefusesAnEmptyOne)
{
    OVNAssetManager *window = openWindow();
    OVNAssetManager *other = openWindow();
    other->deselectAllCategories();
    QStringList actions;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, OVNAssetManager::categoryListDidChangeNotification(),
        [&](const QString &, const QVariantMap &info) { actions.append(info.value("action").toString()); });
    ASSERT_TRUE(window->selectCategory(alps));
    renameSelected(window->categoryList(), "Dolomites");
    NotificationCenter::defaultCenter().removeObserver(&observer);
    EXPECT_FALSE(window->categoryList()->isEditing());

    EXPECT_EQ(db.getCategoryForMID(alps)->value("displaytag").toString(), "Dolomites");
    EXPECT_EQ(window->categoryModel()->data(rowOf(window, alps)).toString(), "Dolomites");
    EXPECT_EQ(actions, QStringList{"edit"});
    // The window's own tree follows without a reload; the other window rebuilt its tree.
    const QVariantList travelItems = window->internalCategoryList()->first().value("folderitems").toList();
    EXPECT_EQ(travelItems.at(1).toMap().value("displaytag").toString(), "Dolomites");
    EXPECT_EQ(other->categoryModel()->data(rowOf(other, alps)).toString(), "Dolomites");
    EXPECT_EQ(window->selectedCategory()->value("mid").toString(), alps);

    // An empty name (or blanks) is refused; the category keeps its name.
    renameSelected(window->categoryList(), "   ");
    EXPECT_EQ(db.getCategoryForMID(alps)->value("displaytag").toString(), "Dolomites");
    EXPECT_EQ(window->categoryModel()->data(rowOf(window, alps)).toString(), "Dolomites");
    // The "Database" item has no name to edit.
    EXPECT_FALSE(window->categoryModel()->flags(window->categoryModel()->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_P(CatalogOutlineTest, ACategoryMovesIntoAFolderButNeverIntoItsOwnSubtree)
{
    OVNAssetManager *window = openWindow();

    // Studio into 2024: stored, the tree reloaded with the selection cleared.
    ASSERT_TRUE(window->selectCategory(studio));
    std::unique_ptr<QMimeData> data = categories(window, {studio});
    ASSERT_NE(data, nullptr);
    Qt::DropAction hovered = Qt::IgnoreAction;
    EXPECT_TRUE(dropOnto(window, rowOf(window, year), data.get(), &hovered));
    EXPECT_EQ(hovered, Qt::MoveAction);
    EXPECT_EQ(parentOf(window, studio), year);
    EXPECT_FALSE(window->selectedCategory().has_value());
    std::unique_ptr<OVNDatabaseAccess> second = openAnother();
    QStringList inYear;
    for (const CategoryNode &node : second->getCategoryListForMID(year))
        inYear.append(node.value("mid").toString());
    EXPECT_TRUE(inYear.contains(studio));

    // Travel into its own child 2024 or onto itself; Alps onto a collection, a set or the
    // "Database" item: refused, nothing changes, and the footer says why.
    window->categoryList()->expandAll();
    const struct {
        QString dragged;
        QModelIndex target;
        const char *reason;
    } refused[] = {
        {travel, rowOf(window, year), "“Travel” cannot move into its own subfolder “2024”."},
        {travel, rowOf(window, travel), "“Travel” cannot move into itself."},
        {alps, rowOf(window, lisbon), "“Lisbon” is not a folder: categories move only into folders."},
        {alps, rowOf(window, best), "“Best” is not a folder: categories move only into folders."},
        {alps, window->categoryModel()->index(0, 0), "is not a folder: categories move only into folders."},
    };
    for (const auto &c : refused) {
        data = categories(window, {c.dragged});
        EXPECT_FALSE(dropOnto(window, c.target, data.get(), &hovered)) << c.reason;
        EXPECT_EQ(hovered, Qt::IgnoreAction) << c.reason;
        EXPECT_TRUE(window->statusText().endsWith(QString::fromUtf8(c.reason))) << qPrintable(window->statusText());
    }
    EXPECT_EQ(parentOf(window, travel), QString());
    EXPECT_EQ(parentOf(window, year), travel);
    EXPECT_EQ(parentOf(window, alps), travel);
    // Over a row that takes it, the footer says again what it said before the refusal.
    ASSERT_TRUE(window->selectCategory(studio));
    const QString items = window->statusText();
    data = categories(window, {alps});
    EXPECT_FALSE(dropOnto(window, rowOf(window, lisbon), data.get()));
    EXPECT_NE(window->statusText(), items);
    EXPECT_EQ(hover(window, rowOf(window, year), data.get()), Qt::MoveAction);
    EXPECT_EQ(window->statusText(), items);

    // Several dragged: only the first moves; onto the empty area it goes to the top level.
    data = categories(window, {year, alps});
    EXPECT_TRUE(dropOnto(window, QModelIndex(), data.get()));
    EXPECT_EQ(parentOf(window, year), QString());
    EXPECT_EQ(parentOf(window, alps), travel);
    EXPECT_TRUE(stored(year, "supermid").isEmpty());
    EXPECT_EQ(stored(studio, "supermid"), year);

    // The "Database" item itself is no category to drag.
    EXPECT_EQ(window->outlineViewWriteItems(window->categoryList(), {window->categoryModel()->index(0, 0)}), nullptr);
    EXPECT_TRUE(window->categoryList()->dragImageForIndex(window->categoryModel()->index(0, 0)).isNull());
    EXPECT_FALSE(window->categoryList()->dragImageForIndex(rowOf(window, alps)).isNull());
}

TEST(OutlineDropTest, TheOperationFollowsTheKindsOfSourceAndTarget)
{
    const auto mediaFrom = [](const char *kind) {
        auto data = std::make_unique<QMimeData>();
        data->setData(OVNOutlineView::mediaMidType(), PropertyList::writeXml(QVariantList{"m1"}));
        data->setData(OVNOutlineView::sourceCatalogMidType(), "source");
        data->setData(OVNOutlineView::mediaContainerTypeType(), kind);
        return data;
    };
    const auto target = [](const char *kind, const char *mid = "target") {
        return std::optional<CategoryNode>(CategoryNode{{"mid", mid}, {"type", kind}});
    };
    struct Case {
        const char *source;
        const char *target;
        Qt::DropAction expected;
    };
    const Case cases[] = {
        {"C", "C", Qt::MoveAction},
        {"C", "S", Qt::LinkAction},
        {"C", "M", Qt::IgnoreAction},
        {"C", "F", Qt::IgnoreAction},
        {"S", "C", Qt::IgnoreAction},
        {"S", "S", Qt::LinkAction},
        {"M", "S", Qt::LinkAction},
        {"M", "C", Qt::IgnoreAction},
        {"F", "C", Qt::MoveAction},
        {"F", "S", Qt::LinkAction},
        {"EXPANDABLE", "C", Qt::IgnoreAction},
        {"", "S", Qt::IgnoreAction},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(OVNOutlineView::dragOperation(mediaFrom(c.source).get(), target(c.target)), c.expected)
            << c.source << " onto " << c.target;
    }
    // Never onto their own category, nor where there is no row.
    EXPECT_EQ(OVNOutlineView::dragOperation(mediaFrom("C").get(), target("C", "source")), Qt::IgnoreAction);
    EXPECT_EQ(OVNOutlineView::dragOperation(mediaFrom("C").get(), std::nullopt), Qt::IgnoreAction);

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.jpg")});
    for (const char *kind : {"C", "F", "I", "EXPANDABLE"})
        EXPECT_EQ(OVNOutlineView::dragOperation(&files, target(kind)), Qt::CopyAction) << kind;
    EXPECT_EQ(OVNOutlineView::dragOperation(&files, std::nullopt), Qt::CopyAction);
    for (const char *kind : {"S", "M"})
        EXPECT_EQ(OVNOutlineView::dragOperation(&files, target(kind)), Qt::IgnoreAction) << kind;
}

TEST_P(CatalogOutlineTest, MediaDroppedOntoCategoriesMoveAndLinkAndTheCountsFollow)
{
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(lisbon));
    ASSERT_EQ(window->mediaView()->count(), 2);
    EXPECT_EQ(countOf(window, lisbon), "2");
    EXPECT_EQ(countOf(window, studio), "1");
    EXPECT_EQ(countOf(window, best), "1");

    // lisbon-1 onto Studio: it moves; the window showing Lisbon shows one entry left.
    std::unique_ptr<QMimeData> data = media({lisbon1}, lisbon, "C");
    Qt::DropAction hovered = Qt::IgnoreAction;
    EXPECT_TRUE(dropOnto(window, rowOf(window, studio), data.get(), &hovered));
    EXPECT_EQ(hovered, Qt::MoveAction);
    std::unique_ptr<OVNDatabaseAccess> second = openAnother();
    EXPECT_EQ(second->getMediaListEntryForMediaID(lisbon1, "categoryid"), studio);
    EXPECT_EQ(window->mediaView()->count(), 1);
    EXPECT_EQ(window->statusText(), "1 Item");
    EXPECT_EQ(countOf(window, lisbon), "1");
    EXPECT_EQ(countOf(window, studio), "2");
    EXPECT_EQ(QString::number(second->getEntryCountForCategory(studio, "C")), countOf(window, studio));

    // lisbon-2 onto the set Best: linked, it stays in Lisbon.
    data = media({lisbon2}, lisbon, "C");
    EXPECT_TRUE(dropOnto(window, rowOf(window, best), data.get(), &hovered));
    EXPECT_EQ(hovered, Qt::LinkAction);
    EXPECT_EQ(second->getMediaListEntryForMediaID(lisbon2, "categoryid"), lisbon);
    EXPECT_EQ(countOf(window, best), "2");
    EXPECT_EQ(QString::number(second->getEntryCountForCategory(best, "S")), countOf(window, best));
    ASSERT_TRUE(window->selectCategory(best));
    EXPECT_EQ(window->mediaView()->count(), 2);
    // Linked again, it is still there once.
    data = media({lisbon2}, lisbon, "C");
    dropOnto(window, rowOf(window, best), data.get());
    EXPECT_EQ(second->getEntryCountForCategory(best, "S"), 2);
    EXPECT_EQ(window->mediaView()->count(), 2);

    // Onto their own category, a surveillance folder or a folder: nothing happens.
    data = media({studio1}, studio, "C");
    EXPECT_FALSE(dropOnto(window, rowOf(window, studio), data.get(), &hovered));
    EXPECT_EQ(window->categoryList()->dropTargetRow(), QModelIndex());
    EXPECT_FALSE(dropOnto(window, rowOf(window, incoming), data.get()));
    EXPECT_FALSE(dropOnto(window, rowOf(window, travel), data.get()));
    EXPECT_EQ(second->getMediaListEntryForMediaID(studio1, "categoryid"), studio);
}

TEST_P(CatalogOutlineTest, DeletingFromASetRemovesOnlyTheMembershipAndFromAFolderNothing)
{
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(best));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    window->delete_(view);
    EXPECT_EQ(view->count(), 0);
    EXPECT_EQ(window->statusText(), "0 Items");
    EXPECT_EQ(db.getEntryCountForCategory(best, "S"), 0);
    EXPECT_EQ(db.getMediaListEntryForMediaID(alps1, "categoryid"), alps);
    EXPECT_EQ(countOf(window, best), "0");

    ASSERT_TRUE(window->selectCategory(travel));
    view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    window->delete_(view);
    EXPECT_EQ(view->count(), 1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(alps1, "categoryid"), alps);

    ASSERT_TRUE(window->selectCategory(studio));
    view = window->mediaView();
    view->selectImage(0);
    window->delete_(view);
    EXPECT_EQ(view->count(), 0);
    EXPECT_TRUE(db.getMediaListEntryForMediaID(studio1, "displaytag").isEmpty());
    EXPECT_EQ(countOf(window, studio), "0");
}

TEST_P(CatalogOutlineTest, FilesDroppedOntoAFolderGetANewCollectionInsideIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("Harbour"));
    OVNAssetManager *window = openWindow();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(dir.filePath("Harbour"))});
    Qt::DropAction hovered = Qt::IgnoreAction;
    EXPECT_TRUE(dropOnto(window, rowOf(window, year), &files, &hovered));
    EXPECT_EQ(hovered, Qt::CopyAction);
    QStringList inYear;
    for (const CategoryNode &node : db.getCategoryListForMID(year))
        inYear.append(node.value("displaytag").toString());
    EXPECT_TRUE(inYear.contains("Harbour"));
    EXPECT_TRUE(window->trackImportDidFinish());
    // Loose files where there is no row: a new top-level collection "drag".
    QMimeData loose;
    loose.setUrls({QUrl::fromLocalFile(dir.filePath("a.jpg"))});
    EXPECT_TRUE(dropOnto(window, QModelIndex(), &loose));
    QStringList top;
    for (const CategoryNode &node : db.getCategoryList("C"))
        top.append(node.value("displaytag").toString());
    EXPECT_TRUE(top.contains("drag"));
    // Onto a surveillance folder: refused, nothing made.
    const qsizetype collections = db.getCategoryList("C").size();
    EXPECT_FALSE(dropOnto(window, rowOf(window, incoming), &files));
    EXPECT_EQ(db.getCategoryList("C").size(), collections);
    // A collection that cannot be put into its folder is not left at the top level; the user is told.
    ASSERT_TRUE(addRefusingTrigger(db, "strvcategory", "update", "new.supermid is not null"))
        << qPrintable(db.getLastErrorMessage());
    const int categories = db.affectedRowsForQuery("select mid from strvcategory");
    const qsizetype alerts = presenter->shown().size();
    dropOnto(window, rowOf(window, year), &files);
    EXPECT_EQ(db.affectedRowsForQuery("select mid from strvcategory"), categories);
    ASSERT_EQ(presenter->shown().size(), alerts + 1);
    EXPECT_EQ(presenter->shown().last().message, "The collection for the files could not be made.");
}

// Hands out connections to the test catalog.
class TestCatalogConnections : public OVNConnectionSource
{
public:
    explicit TestCatalogConnections(std::function<std::unique_ptr<OVNDatabaseAccess>()> open) : m_open(std::move(open))
    {}
    std::unique_ptr<OVNDatabaseAccess> createAndOpenDBConnection() override { return m_open(); }

private:
    std::function<std::unique_ptr<OVNDatabaseAccess>()> m_open;
};

TEST_P(CatalogOutlineTest, QuitStoresTheTextBeingTypedBeforeTheConnectionCloses)
{
    UserDefaults defaults;
    defaults.setString("0", "StartupUpdateCheck");
    OVNDocumentController::Services services;
    services.connections = std::make_unique<TestCatalogConnections>([this] { return openAnother(); });
    services.makeSplash = [] { return std::make_unique<FakeSplash>(std::make_shared<QStringList>()); };
    services.makeUpdateCheck = [] {
        return std::make_unique<FakeUpdateCheck>(std::make_shared<QStringList>(), false, false);
    };
    services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
    services.movieFrameworkVersion = [] { return 0x07000000; };
    OVNDocumentController controller(defaults, std::move(services));
    ASSERT_EQ(controller.startUp(), OVNDocumentController::StartupResult::Run);
    ASSERT_EQ(controller.documents().size(), 1);
    OVNAssetManager *window = controller.documents().first();
    ASSERT_TRUE(window->selectCategory(studio));
    window->mediaView()->selectImage(0);
    window->mediaView()->notifySelectionDidChange();
    auto *field = window->mediaDetails()->findChild<QLineEdit *>("vcFullDescription_");
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isEnabled());
    field->selectAll();
    QTest::keyClicks(field, "typed, not yet ended");

    controller.terminate();
    EXPECT_EQ(db.getMediaListEntryForMediaID(studio1, "fulldesc"), "typed, not yet ended");
    EXPECT_FALSE(controller.databaseConnection()->isDBConnectionActive());
}

TEST_P(CatalogOutlineTest, AnAnnotationEditGoesToItsOwnEntryAndAFailureIsShown)
{
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(studio));
    OVNMediaView *view = window->mediaView();
    view->selectImage(0);
    view->notifySelectionDidChange();
    OVNMediaDetailsDataSource *source = window->detailsDataSource();
    const QString mid = source->ovnMediaDetailsStringForID(window->mediaDetails(), "mid");
    ASSERT_EQ(mid, studio1);

    // The selection moved on before the edit was stored: it still goes to studio-1.
    ASSERT_TRUE(window->selectCategory(lisbon));
    window->mediaView()->selectImage(0);
    const QString shown = window->mediaView()->mediaIDForRow(0);
    source->ovnMediaDetailsSetStringForID(window->mediaDetails(), "harbour, boats", "keywords", mid);
    std::unique_ptr<OVNDatabaseAccess> second = openAnother();
    EXPECT_EQ(second->getMediaListEntryForMediaID(studio1, "keywords"), "harbour, boats");
    EXPECT_NE(second->getMediaListEntryForMediaID(shown, "keywords"), "harbour, boats");
    EXPECT_NE(window->mediaView()->mediaObject("keywords", 0).toString(), "harbour, boats");

    // Shown again: the stored value.
    ASSERT_TRUE(window->selectCategory(studio));
    window->mediaView()->selectImage(0);
    EXPECT_EQ(source->ovnMediaDetailsStringForID(window->mediaDetails(), "keywords"), "harbour, boats");

    // A write the catalog refuses is shown, and nothing changes.
    const qsizetype alerts = presenter->shown().size();
    source->ovnMediaDetailsSetStringForID(window->mediaDetails(), "x", "no such column", studio1);
    EXPECT_EQ(presenter->shown().size(), alerts + 1);

    // A licence field of a file without a purchased row creates it.
    source->ovnMediaDetailsSetStringForPurchasedID(window->mediaDetails(), "Ann Photo", "owner", studio1);
    EXPECT_EQ(second->getPurchasedForMediaID(studio1).value("owner").toString(), "Ann Photo");
    EXPECT_EQ(source->ovnMediaDetailsPurchasedForID(window->mediaDetails(), "owner"), "Ann Photo");
}

// A server catalog with users: Ann (in Staff) holds "READ ONLY" on the collection Open, the
// folder Archive and the set Board, "READ & WRITE" on the collection Shared.
class ReadOnlyUserTest : public CatalogOutlineTest
{
protected:
    void SetUp() override
    {
        CatalogOutlineTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        QString staff;
        ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
        open = restricted("Open", "C", staff, "READ ONLY");
        archive = restricted("Archive", "F", staff, "READ ONLY");
        board = restricted("Board", "S", staff, "READ ONLY");
        shared = restricted("Shared", "C", staff, "READ & WRITE");
        open1 = entry(open, "open-1");
        shared1 = entry(shared, "shared-1");
        connection = openAnother();
        ASSERT_NO_FATAL_FAILURE(signInAsAnn(*connection));
    }

    QString restricted(const char *name, const char *kind, const QString &group, const char *level)
    {
        const QString mid = category(name, kind);
        const QVariantList entries{QVariantMap{{"group", "Staff"}, {"mid", group}, {"privilege", level}}};
        EXPECT_TRUE(db.updateCategoryListComment(mid, OVNCategoryComment::withPrivileges(QString(), entries)));
        return mid;
    }

    std::shared_ptr<OVNDatabaseAccess> connection;
    QString open, archive, board, shared, open1, shared1;
};

INSTANTIATE_TEST_SUITE_P(Server, ReadOnlyUserTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ReadOnlyUserTest, ReadOnlyIsRefusedOnEveryWritePath)
{
    OVNAssetManager *window = openWindow(connection);
    const auto alertsSince = [this](qsizetype before) { return presenter->shown().size() - before; };

    // Renaming in place.
    ASSERT_TRUE(window->selectCategory(open));
    qsizetype before = presenter->shown().size();
    renameSelected(window->categoryList(), "Mine");
    EXPECT_EQ(stored(open, "displaytag"), "Open");
    EXPECT_EQ(window->categoryModel()->data(rowOf(window, open)).toString(), "Open");
    EXPECT_EQ(alertsSince(before), 1);

    // Moving the category, or a category into the read-only folder.
    std::unique_ptr<QMimeData> data = categories(window, {open});
    EXPECT_FALSE(dropOnto(window, rowOf(window, travel), data.get()));
    EXPECT_EQ(window->statusText(), "You may not move “Open”.");
    data = categories(window, {studio});
    EXPECT_FALSE(dropOnto(window, rowOf(window, archive), data.get()));
    EXPECT_EQ(window->statusText(), "You may not change the folder “Archive”.");
    EXPECT_TRUE(stored(open, "supermid").isEmpty());
    EXPECT_TRUE(stored(studio, "supermid").isEmpty());

    // Moving media out of it, into it, linking into the read-only set.
    data = media({open1}, open, "C");
    EXPECT_TRUE(dropOnto(window, rowOf(window, shared), data.get()));
    EXPECT_EQ(db.getMediaListEntryForMediaID(open1, "categoryid"), open);
    data = media({shared1}, shared, "C");
    EXPECT_TRUE(dropOnto(window, rowOf(window, open), data.get()));
    EXPECT_EQ(db.getMediaListEntryForMediaID(shared1, "categoryid"), shared);
    data = media({shared1}, shared, "C");
    EXPECT_TRUE(dropOnto(window, rowOf(window, board), data.get()));
    EXPECT_EQ(db.getEntryCountForCategory(board, "S"), 0);

    // Files into it, or into a new collection inside the read-only folder.
    const qsizetype collections = db.getCategoryList("C").size();
    window->addFiles({"/tmp/nothing.jpg"}, window->categoryList()->nodeForIndex(rowOf(window, open)));
    window->addFiles({"/tmp/nothing.jpg"}, window->categoryList()->nodeForIndex(rowOf(window, archive)));
    EXPECT_EQ(db.getCategoryList("C").size(), collections);
    EXPECT_FALSE(window->trackImportDidFinish());

    // Deleting its entry, and editing its details.
    ASSERT_TRUE(window->selectCategory(open));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 1);
    view->selectImage(0);
    view->notifySelectionDidChange();
    before = presenter->shown().size();
    window->delete_(view);
    EXPECT_EQ(view->count(), 1);
    EXPECT_FALSE(window->mediaDelegate().ovnMediaViewWillDeleteEntry(view, 0));
    EXPECT_EQ(db.getMediaListEntryForMediaID(open1, "displaytag"), "open-1");
    window->detailsDataSource()->ovnMediaDetailsSetStringForID(window->mediaDetails(), "mine", "keywords", open1);
    window->detailsDataSource()->ovnMediaDetailsSetStringForPurchasedID(window->mediaDetails(), "Ann", "owner", open1);
    EXPECT_NE(db.getMediaListEntryForMediaID(open1, "keywords"), "mine");
    EXPECT_TRUE(db.getPurchasedForMediaID(open1).value("owner").toString().isEmpty());
    EXPECT_EQ(alertsSince(before), 3);

    // With "READ & WRITE" the same paths work.
    data = media({shared1}, shared, "C");
    EXPECT_TRUE(dropOnto(window, rowOf(window, studio), data.get()));
    EXPECT_EQ(db.getMediaListEntryForMediaID(shared1, "categoryid"), studio);
}

} // namespace

namespace {

TEST_P(CatalogOutlineTest, ARightClickSelectsTheRowAloneAndKeysGoToTheWindowFirst)
{
    OVNAssetManager *window = openWindow();
    OVNOutlineView *outline = window->categoryList();
    window->selectCategories({studio, alps});
    ASSERT_EQ(window->selectedCategoryNodes().size(), 2);
    std::unique_ptr<QMenu> menu =
        window->ovnOutlineViewMenuForEvent(outline, outline->visualRect(rowOf(window, lisbon)).center());
    EXPECT_NE(menu, nullptr);
    ASSERT_TRUE(window->selectedCategory().has_value());
    EXPECT_EQ(window->selectedCategory()->value("mid").toString(), lisbon);
    // Below the last row the menu acts on nothing.
    menu = window->ovnOutlineViewMenuForEvent(outline, QPoint(5, outline->viewport()->height() - 2));
    EXPECT_NE(menu, nullptr);
    EXPECT_TRUE(window->selectedCategoryNodes().isEmpty());

    // Delete goes to the window (deleting categories is its action, which asks first: the answer
    // here is Cancel) and never to the outline's own key handling; select-all selects nothing.
    ASSERT_TRUE(window->selectCategory(studio));
    const qsizetype alertsBefore = presenter->shown().size();
    presenter->enqueueAnswers({1});
    QTest::keyClick(outline, Qt::Key_Delete);
    EXPECT_EQ(presenter->shown().size(), alertsBefore + 1);
    EXPECT_EQ(window->selectedCategory()->value("mid").toString(), studio);
    outline->selectAll();
    EXPECT_EQ(window->selectedCategoryNodes().size(), 1);

    // A folder opens even when it is empty; a collection never.
    const QString empty = category("Empty", "F");
    window->reloadCategoryList();
    EXPECT_TRUE(window->categoryModel()->hasChildren(rowOf(window, empty)));
    EXPECT_FALSE(window->categoryModel()->hasChildren(rowOf(window, studio)));
}

TEST(CountBadgeTest, TheBadgeIsTwelveHighAndCentredRoundedDown)
{
    EXPECT_EQ(OVNCountBadgeCell::badgeRect(QRectF(10, 20, 28, 17)), QRectF(10, 23, 28, 12));
    EXPECT_EQ(OVNCountBadgeCell::badgeRect(QRectF(0, 0, 28, 20)), QRectF(0, 4, 28, 12));
}

} // namespace

namespace {

TEST_P(CatalogOutlineTest, MetadataRowsComeFromTheStoredTagsInAnOrderThatIgnoresCase)
{
    const QString tags = "{Model = \"X100\"; aperture = \"f/2\"; Zoom = \"1x\"; Keywords = (sea, boats); }";
    ASSERT_TRUE(db.runSQLCommand("insert into strvexif (mid, exiftags) values ($1, $2)", {studio1, tags}));
    ASSERT_TRUE(db.runSQLCommand("insert into strvexif (mid, exiftags) values ($1, $2)", {lisbon1, "{}"}));
    OVNAssetManager *window = openWindow();
    OVNMediaDetailsDataSource *source = window->detailsDataSource();
    ASSERT_TRUE(window->selectCategory(studio));
    window->mediaView()->selectImage(0);
    window->mediaView()->notifySelectionDidChange();
    ASSERT_EQ(source->numberOfRowsInExifForOVNMediaDetails(window->mediaDetails()), 4);
    QStringList shown;
    for (int row = 0; row < 4; ++row)
        shown.append(source->ovnMediaDetailsExifTagAtRow(window->mediaDetails(), row) + "="
                     + source->ovnMediaDetailsExifValueAtRow(window->mediaDetails(), row));
    EXPECT_EQ(shown, (QStringList{"aperture=f/2", "Keywords=sea, boats", "Model=X100", "Zoom=1x"}));
    EXPECT_EQ(source->ovnMediaDetailsExifTagAtRow(window->mediaDetails(), 4), "");

    // "{}" shows no rows; neither does a file without metadata.
    ASSERT_TRUE(window->selectCategory(lisbon));
    window->mediaView()->selectImage(window->mediaView()->rowForMid(lisbon1));
    window->mediaView()->notifySelectionDidChange();
    EXPECT_EQ(source->numberOfRowsInExifForOVNMediaDetails(window->mediaDetails()), 0);
    window->mediaView()->selectImage(window->mediaView()->rowForMid(lisbon2));
    window->mediaView()->notifySelectionDidChange();
    EXPECT_EQ(source->numberOfRowsInExifForOVNMediaDetails(window->mediaDetails()), 0);
}

} // namespace

TEST_P(CatalogOutlineTest, ADeleteTheCatalogRefusesKeepsTheEntryAndSaysSo)
{
    // Of three selected entries the catalog refuses the middle one: the others go (in one batch),
    // the refused one stays, and one alert says so.
    const QString studio2 = entry(studio, "studio-2");
    const QString studio3 = entry(studio, "studio-3");
    if (GetParam() == OVNDatabaseAccess::Vendor::Integrated) {
        ASSERT_TRUE(db.runSQLCommand("create trigger keepfiles before delete on strvfile when old.mid = '" + studio2
                                     + "' begin select raise(abort, 'entries are kept'); end"));
    } else {
        ASSERT_TRUE(db.runSQLCommand("create function keepfiles() returns trigger as $$ begin if old.mid = '" + studio2
                                     + "' then raise exception 'entries are kept'; end if; "
                                       "return old; end $$ language plpgsql"));
        ASSERT_TRUE(db.runSQLCommand("create trigger keepfiles before delete on strvfile "
                                     "for each row execute function keepfiles()"));
    }

    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(studio));
    OVNMediaView *view = window->mediaView();
    ASSERT_EQ(view->count(), 3);
    view->mvselectAll();
    const qsizetype alertsBefore = presenter->shown().size();
    window->delete_(view);
    ASSERT_EQ(view->count(), 1);
    EXPECT_EQ(view->mediaIDForRow(0), studio2);
    EXPECT_FALSE(db.getMediaListEntryForMediaID(studio2, "displaytag").isEmpty());
    EXPECT_TRUE(db.getMediaListEntryForMediaID(studio1, "displaytag").isEmpty());
    EXPECT_TRUE(db.getMediaListEntryForMediaID(studio3, "displaytag").isEmpty());
    ASSERT_EQ(presenter->shown().size(), alertsBefore + 1);
    EXPECT_EQ(presenter->shown().last().message, "Delete Failed");
}

TEST_P(CatalogOutlineTest, CopyInOneWindowAndPasteInAnotherAddsTheFilesToACollection)
{
    QTemporaryDir dir;
    QStringList mids;
    for (const char *name : {"one.jpg", "two.jpg"}) {
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(dir.filePath(name)));
        QVariantMap record = importRecord(studio, name);
        record.insert("absolutepath", dir.filePath(name));
        mids.append(db.addMediaListEntry(record));
    }
    OVNAssetManager *from = openWindow();
    ASSERT_TRUE(from->selectCategory(studio));
    EXPECT_EQ(from->mediaDelegate().copy(), 0);
    OVNMediaView *view = from->mediaView();
    view->selectImage(view->rowForMid(mids.at(1)), false);
    view->selectImage(view->rowForMid(mids.at(0)), false);
    EXPECT_EQ(from->mediaDelegate().copy(), 2);
    EXPECT_EQ(
        QGuiApplication::clipboard()->mimeData()->urls(),
        (QList<QUrl>{QUrl::fromLocalFile(dir.filePath("two.jpg")), QUrl::fromLocalFile(dir.filePath("one.jpg"))}));

    // Another window on the same catalog names it alike; Paste goes only into a collection.
    OVNAssetManager *to = openWindow();
    EXPECT_FALSE(to->catalogIdentity().isEmpty());
    EXPECT_EQ(to->catalogIdentity(), from->catalogIdentity());
    for (const QString &category : {travel, incoming, best}) {
        ASSERT_TRUE(to->selectCategory(category));
        EXPECT_FALSE(to->mediaDelegate().canPaste());
    }
    ASSERT_TRUE(to->selectCategory(lisbon));
    EXPECT_TRUE(to->mediaDelegate().canPaste());
    bool finished = false;
    NotificationCenter::defaultCenter().addObserver(
        to, OVNAssetManager::importMediaDidFinishNotification(),
        [&finished](const QString &, const QVariantMap &) { finished = true; });
    to->mediaDelegate().paste();
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
    EXPECT_EQ(db.getEntryCountForCategory(lisbon, "C"), 4);

    // What is no local file is left out and named when the import ends.
    auto mixed = std::make_unique<QMimeData>();
    mixed->setUrls({QUrl("https://example.org/three.jpg"), QUrl::fromLocalFile(dir.filePath("one.jpg"))});
    QGuiApplication::clipboard()->setMimeData(mixed.release());
    finished = false;
    const qsizetype alerts = presenter->shown().size();
    to->mediaDelegate().paste();
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
    EXPECT_EQ(db.getEntryCountForCategory(lisbon, "C"), 5);
    ASSERT_EQ(presenter->shown().size(), alerts + 1);
    EXPECT_TRUE(presenter->shown().last().detailedText.contains("https://example.org/three.jpg"));

    // Ids of another catalog dropped onto the outline move nothing, and the user is told.
    std::unique_ptr<QMimeData> foreign = media({"2001-01-01 00:00:00:000/Mother"}, lisbon, "C");
    dropOnto(to, rowOf(to, studio), foreign.get());
    EXPECT_EQ(presenter->shown().last().message, "The entries are not in this catalog.");
    EXPECT_EQ(db.getEntryCountForCategory(studio, "C"), 3);
}

// Files dropped on a collection are taken in as an import takes them: a link at the first, a middle
// or the last element of a dropped path (or inside a dropped folder) is followed when it is this
// account's, and another account's link there does not bring the user's private picture in.
TEST_P(CatalogOutlineTest, DroppedFilesFollowNoOtherAccountsLink)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    constexpr uid_t stranger = 65534;
    const struct {
        const char *name;
        const char *link; // below the shared folder; it leads to the same place below the private one
        uid_t owner;
        bool folderDropped; // the shared folder is dropped rather than the picture's path
    } cases[] = {
        {"my link first", "a", ::geteuid(), false},
        {"his link first", "a", stranger, false},
        {"his link in the middle", "a/b", stranger, false},
        {"his link in the middle of a dropped folder", "a/b", stranger, true},
        {"my link last", "a/b/pic.jpg", ::geteuid(), false},
        {"his link last", "a/b/pic.jpg", stranger, false},
    };
    OVNAssetManager *window = openWindow();
    const QModelIndex row = rowOf(window, studio);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir disk;
        const QString shared = disk.filePath("shared");
        const QString privateFolder = disk.filePath("private");
        ASSERT_TRUE(QDir().mkpath(shared + "/a/b") && QDir().mkpath(privateFolder + "/a/b"));
        for (const QString &folder : {shared, shared + "/a", shared + "/a/b"}) {
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
        }
        // The private picture's width (32) tells it in the catalog.
        QImage secret(32, 16, QImage::Format_RGB32);
        secret.fill(Qt::blue);
        ASSERT_TRUE(secret.save(privateFolder + "/a/b/pic.jpg", "JPG"));
        ASSERT_EQ(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
        const QString link = shared + "/" + QLatin1String(c.link);
        const QByteArray linkName = QFile::encodeName(link);
        ASSERT_TRUE(QDir(link).removeRecursively());
        ASSERT_EQ(
            ::symlink(QFile::encodeName(privateFolder + "/" + QLatin1String(c.link)).constData(), linkName.constData()),
            0);
        ASSERT_EQ(::lchown(linkName.constData(), c.owner, ~gid_t(0)), 0);

        const auto privateEntries = [this] {
            const QList<OVNRow> rows = db.rowsForQuery("select count(*) from strvfile where imagewidth = 32");
            return rows.isEmpty() ? -1 : rows.first().value(0).toLongLong();
        };
        const qint64 before = privateEntries();
        window->addFiles({c.folderDropped ? shared : shared + "/a/b/pic.jpg"},
                         window->categoryList()->nodeForIndex(row));
        ASSERT_TRUE(
            QTest::qWaitFor([window] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs));
        EXPECT_EQ(privateEntries() - before, c.owner == stranger ? 0 : 1);
    }
}
