#include "../catalogdb/CatalogFixture.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNCategoryComment.h"
#include "app/OVNCategoryNodes.h"
#include "app/OVNSmartFolders.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/CatalogNames.h"

#include <gtest/gtest.h>

namespace {

QVariant node(const char *mid, const char *type, const QVariantList &children = {}, const char *name = nullptr)
{
    QVariantMap map{{"mid", mid}, {"type", type}};
    if (name)
        map.insert("displaytag", name);
    if (!children.isEmpty())
        map.insert("folderitems", children);
    return QVariant(map);
}

class CategoryNodesTest : public CatalogFixture
{
protected:
    // A category of `kind` named `name`, below `parent` when one is given.
    QString addCategory(const QString &name, const QString &kind, const QString &parent = QString())
    {
        const QString mid = db.addCategoryListEntry(name, kind);
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(name);
        if (!parent.isEmpty()) {
            EXPECT_TRUE(db.runSQLCommand("update strvcategory set supermid=$1 where mid=$2", {parent, mid}));
        }
        return mid;
    }
    void addEntry(const QString &categoryId, const QString &name)
    {
        ASSERT_FALSE(db.addMediaListEntry(importRecord(categoryId, name)).isEmpty());
    }

    OVNCatalogWait wait{[](const QString &, bool) {}, QString()};
};

OVN_CATALOG_VENDORS(CategoryNodesTest);

} // namespace

TEST(CategoryNodesTreeTest, FolderCollectionsComeParentsFirstAndOnlyRecursivelyWhenAsked)
{
    const QVariantList tree = {
        node("c1", "C"),
        node("f1", "F", {node("c2", "C"), node("f2", "F", {node("c3", "C"), node("s1", "S")}), node("m1", "M")}),
        node("c4", "C"),
        QVariant(QVariantMap{{"type", "C"}}),
    };
    EXPECT_EQ(OVNCategoryNodes::collectionIds(tree, false), (QStringList{"c1", "c4"}));
    EXPECT_EQ(OVNCategoryNodes::collectionIds(tree, true), (QStringList{"c1", "c2", "c3", "c4"}));
    EXPECT_TRUE(OVNCategoryNodes::collectionIds({}, true).isEmpty());
}

// A find searches "All Entries" and each named category but the smart folders, a folder with the
// ids of everything below it; a rename reaches an item however deep it lies.
TEST(CategoryNodesTreeTest, SearchCatalogsAndRenamesFollowTheNesting)
{
    QList<CategoryNode> categories = {
        node("f1", "F", {node("c2", "C", {}, "Harbour"), node("f2", "F", {node("c3", "C", {}, "Deep")}, "Inner")},
             "Trips")
            .toMap(),
        node("c1", "C", {}, "Loose").toMap(),
        node("i1", "I", {}, "Smart").toMap(),
        node("x1", "C").toMap(),
    };
    const QList<OVNSmartFolderSearch::Catalog> catalogs = OVNCategoryNodes::searchCatalogs(categories);
    ASSERT_EQ(catalogs.size(), 3);
    EXPECT_EQ(catalogs[0].title, "All Entries");
    EXPECT_TRUE(catalogs[0].ids.isEmpty());
    EXPECT_EQ(catalogs[1].title, "Trips");
    EXPECT_EQ(catalogs[1].ids, (QStringList{"f1", "c2", "f2", "c3"}));
    EXPECT_EQ(catalogs[1].kind, "F");
    EXPECT_EQ(catalogs[2].ids, QStringList{"c1"});

    OVNCategoryNodes::rename(categories, "c3", "Deeper");
    OVNCategoryNodes::rename(categories, "c1", "Kept");
    OVNCategoryNodes::rename(categories, "nowhere", "Unused");
    const QVariantMap inner = categories[0].value("folderitems").toList().at(1).toMap();
    EXPECT_EQ(inner.value("folderitems").toList().at(0).toMap().value("displaytag").toString(), "Deeper");
    EXPECT_EQ(inner.value("displaytag").toString(), "Inner");
    EXPECT_EQ(categories[1].value("displaytag").toString(), "Kept");
    EXPECT_EQ(OVNCategoryNodes::searchCatalogs(categories)[2].title, "Kept");
}

// The tree as the catalog holds it: folders with their items nested, then the other kinds; sets
// apart.
TEST_P(CategoryNodesTest, TheTreeIsReadWithFoldersNested)
{
    const QString trips = addCategory("Trips", "F");
    const QString harbour = addCategory("Harbour", "C", trips);
    const QString inner = addCategory("Inner", "F", trips);
    addCategory("Deep", "C", inner);
    addCategory("Loose", "C");
    addCategory("Watched", "M");
    addCategory("Picks", "S");

    OVNCategoryNodes::Tree tree;
    ASSERT_TRUE(OVNCategoryNodes::read(db, tree, {}, 5));
    QStringList top;
    for (const CategoryNode &category : tree.categories)
        top << category.value("displaytag").toString();
    EXPECT_EQ(top, (QStringList{"Trips", "Loose", "Watched"}));
    ASSERT_EQ(tree.sets.size(), 1);
    EXPECT_EQ(tree.sets[0].value("displaytag").toString(), "Picks");
    EXPECT_EQ(OVNCategoryNodes::collectionIds(tree.categories[0].value("folderitems").toList(), true).size(), 2);
    EXPECT_EQ(OVNCategoryNodes::collectionIds(tree.categories[0].value("folderitems").toList(), false),
              QStringList{harbour});
    EXPECT_EQ(OVNCategoryNodes::idsUnder(tree.categories[0]).size(), 4);
}

// The count beside a category: only for the kinds asked, never for one the user may not read, and
// nothing rather than a false "0" when the catalog does not answer.
TEST_P(CategoryNodesTest, CountsShowOnlyWhatMayBeSeen)
{
    const QString shots = addCategory("Shots", "C");
    addEntry(shots, "a.jpg");
    addEntry(shots, "b.jpg");
    CategoryNode collection{{"mid", shots}, {"type", "C"}};
    const struct {
        const char *level; // "" for a catalog without users
        QStringList counted;
        const char *text;
    } cases[] = {
        {"", {"C"}, "2"},
        {"", {"F", "S"}, ""},
        {"READ ONLY", {"C", "M"}, "2"},
        {"NO ACCESS", {"C"}, ""},
    };
    for (const auto &c : cases) {
        CategoryNode shown = collection;
        if (*c.level)
            shown.insert(CatalogNames::keyPrivileges, c.level);
        EXPECT_EQ(OVNCategoryNodes::countText(db, shown, c.counted), c.text) << c.level;
    }
    EXPECT_EQ(OVNCategoryNodes::countText(db, CategoryNode{{"type", "C"}}, {"C"}), "");
    db.closeDBConnection();
    EXPECT_EQ(OVNCategoryNodes::countText(db, collection, {"C"}), "");
}

// A category deleted meanwhile is refused in words naming it; one that stands is listed, with the
// level read.
TEST_P(CategoryNodesTest, ListingAsksWhetherTheCategoryStillStands)
{
    const QString shots = addCategory("Shots", "C");
    const OVNCategoryNodes::ListAccess standing = OVNCategoryNodes::listAccess(db, shots, "Shots", {}, 5);
    EXPECT_FALSE(standing.refusal);
    EXPECT_EQ(standing.level, OVNPrivilegeLevel::fullAccess());
    ASSERT_TRUE(db.runSQLCommand("delete from strvcategory where mid=$1", {shots}));
    const OVNCategoryNodes::ListAccess gone = OVNCategoryNodes::listAccess(db, shots, "Shots", {}, 5);
    ASSERT_TRUE(gone.refusal);
    EXPECT_TRUE(gone.refusal->startsWith("“Shots” no longer exists.")) << qPrintable(*gone.refusal);
    EXPECT_FALSE(gone.level);
}

// A smart folder stores its search; its statement lists through the find's compiler, and a search
// the find cannot run gives no statement but the reason.
TEST_P(CategoryNodesTest, SmartFoldersStoreAndCompileTheirSearch)
{
    const QVariantMap settings{
        {"LINES",
         QVariantList{QVariantMap{{"FIELDOBJECT", QVariantMap{{"TABLENAME", "strvfile"}, {"FIELDNAME", "displaytag"}}},
                                  {"OPERATORID", 0},
                                  {"VALUE", "harbour"}}}}};
    const QString mid = OVNSmartFolders::store(db, "Harbours", settings, wait);
    ASSERT_FALSE(mid.isEmpty());
    const QVariantMap stored =
        db.rowDictionaryForQuery("select type, displaytag, comment from strvcategory where mid=$1", {mid});
    EXPECT_EQ(stored.value("type").toString(), "I");
    EXPECT_EQ(OVNCategoryComment::dictionary(stored.value("comment").toString()).value("LINES").toList().size(), 1);

    const QList<OVNSmartFolderSearch::Catalog> catalogs = OVNCategoryNodes::searchCatalogs({});
    const OVNSmartFolders::Statement made = OVNSmartFolders::statement(db, settings, catalogs, wait);
    EXPECT_TRUE(made.clause.contains("displaytag")) << qPrintable(made.clause);
    EXPECT_TRUE(made.refusal.isEmpty());

    QVariantMap unknown = settings;
    unknown["LINES"] = QVariantList{QVariantMap{
        {"FIELDOBJECT", QVariantMap{{"TABLENAME", "strvfile"}, {"FIELDNAME", "nosuch"}}}, {"OPERATORID", 0}}};
    const OVNSmartFolders::Statement refused = OVNSmartFolders::statement(db, unknown, catalogs, wait);
    EXPECT_TRUE(refused.clause.isEmpty());
    EXPECT_TRUE(refused.refusal.startsWith("The smart folder's search cannot run.")) << qPrintable(refused.refusal);
}
