#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/PropertyList.h"

namespace {

const QString trickyName = QStringLiteral("Summer's End 100% %1 C:\\temp Ærø 東京 \"q\"");

} // namespace

TEST_P(CatalogFixture, TopLevelListsCarryTheKindAskedForAndNoIcon)
{
    const QString set = db.addCategoryListEntry(QStringLiteral("Best"), QStringLiteral("S"));
    const QString collection = db.addCategoryListEntry(QStringLiteral("Roll"));
    const QString folder = db.addCategoryListEntry(QStringLiteral("Folder"), QStringLiteral("F"));
    ASSERT_FALSE(set.isEmpty());

    const QList<CategoryNode> sets = db.getCategoryList(QStringLiteral("S"));
    ASSERT_EQ(sets.size(), 1);
    EXPECT_EQ(sets.at(0).value(QStringLiteral("mid")).toString(), set);
    EXPECT_EQ(sets.at(0).value(QStringLiteral("type")).toString(), QStringLiteral("S"));
    EXPECT_EQ(sets.at(0).value(QStringLiteral("MYPRIVILEGES")).toString(), QStringLiteral("FULL ACCESS"));
    EXPECT_FALSE(sets.at(0).contains(QStringLiteral("icon")));
    // No comment was written: the empty text, so that the node stays a property list.
    EXPECT_EQ(sets.at(0).value(QStringLiteral("comment")).typeId(), QMetaType::QString);
    EXPECT_EQ(sets.at(0).value(QStringLiteral("comment")).toString(), QString());

    const std::optional<CategoryNode> byId = db.getCategoryForMID(set);
    ASSERT_TRUE(byId);
    EXPECT_EQ(byId->value(QStringLiteral("icon")).toString(), QStringLiteral("mediaset5"));

    ASSERT_TRUE(db.setCategoryListEntrySuperMID(set, folder));
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(collection, folder));
    EXPECT_TRUE(db.getCategoryList(QStringLiteral("S")).isEmpty());
    QList<CategoryNode> children = db.getCategoryListForMID(folder);
    ASSERT_EQ(children.size(), 2);
    for (const CategoryNode &child : children) {
        const bool isSet = child.value(QStringLiteral("mid")).toString() == set;
        EXPECT_EQ(child.contains(QStringLiteral("icon")), isSet);
        EXPECT_EQ(child.value(QStringLiteral("MYPRIVILEGES")).toString(), QStringLiteral("FULL ACCESS"));
    }
    // An empty parent moves the item back to the top level.
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(set, QString()));
    EXPECT_EQ(db.getCategoryList(QStringLiteral("S")).size(), 1);
}

TEST_P(CatalogFixture, NamesAndCommentsAreStoredAndReadBackUnchanged)
{
    const QString mid = db.addCategoryListEntry(trickyName, QStringLiteral("C"));
    ASSERT_FALSE(mid.isEmpty());
    EXPECT_EQ(db.getCategoryForMID(mid)->value(QStringLiteral("displaytag")).toString(), trickyName);

    const QString comment = QStringLiteral("<?xml version=\"1.0\"?><plist><dict><key>SURVEILLANCEFOLDER</key>"
                                           "<string>/home/o'brien/%1</string></dict></plist>");
    ASSERT_TRUE(db.updateCategoryListComment(mid, comment));
    ASSERT_TRUE(db.updateCategoryListEntry(mid, trickyName + QStringLiteral(" 2")));
    const CategoryNode node = *db.getCategoryForMID(mid);
    EXPECT_EQ(node.value(QStringLiteral("comment")).toString(), comment);
    EXPECT_EQ(node.value(QStringLiteral("displaytag")).toString(), trickyName + QStringLiteral(" 2"));
    EXPECT_EQ(db.getCategoryList().at(0).value(QStringLiteral("displaytag")).toString(),
              trickyName + QStringLiteral(" 2"));
}

TEST_P(CatalogFixture, UpdatesOfAMissingItemAndBadKindsAreFailures)
{
    EXPECT_FALSE(db.updateCategoryListEntry(QStringLiteral("no such id"), QStringLiteral("x")));
    EXPECT_FALSE(db.updateCategoryListComment(QStringLiteral("no such id"), QStringLiteral("x")));
    EXPECT_FALSE(db.setCategoryListEntrySuperMID(QStringLiteral("no such id"), QString()));
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("x"), QStringLiteral("X")).isEmpty());
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("x"), QStringLiteral("CF")).isEmpty());
    // No kind makes a collection.
    const QString mid = db.addCategoryListEntry(QStringLiteral("x"), QString());
    EXPECT_EQ(db.getCategoryForMID(mid)->value(QStringLiteral("type")).toString(), QStringLiteral("C"));
    EXPECT_FALSE(db.getCategoryForMID(QStringLiteral("no such id")));
}

TEST_P(CatalogFixture, AnInsertThatFailsAnswersAnEmptyIdAndLeavesNoRow)
{
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table strvset")));
    const QString media =
        db.addMediaListEntry(importRecord(db.addCategoryListEntry(QStringLiteral("c")), QStringLiteral("a.jpg")));
    ASSERT_FALSE(media.isEmpty());
    EXPECT_TRUE(db.addEntryToImageSet(media, QStringLiteral("set")).isEmpty());
    EXPECT_FALSE(db.getLastErrorMessage().isEmpty());

    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table strvfile")));
    EXPECT_TRUE(db.addMediaListEntry(importRecord(QStringLiteral("c"), QStringLiteral("b.jpg"))).isEmpty());

    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table strvcategory")));
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("lost")).isEmpty());
    ASSERT_TRUE(createCatalog(db));
    EXPECT_TRUE(db.getCategoryList().isEmpty());
    EXPECT_TRUE(db.getMediaList(QStringLiteral("0")).isEmpty());
}

TEST_P(CatalogFixture, EntryCountsCountWhatEachKindHolds)
{
    const QString folder = db.addCategoryListEntry(QStringLiteral("F"), QStringLiteral("F"));
    const QString collection = db.addCategoryListEntry(QStringLiteral("C"));
    const QString set = db.addCategoryListEntry(QStringLiteral("S"), QStringLiteral("S"));
    const QString smart = db.addCategoryListEntry(QStringLiteral("I"), QStringLiteral("I"));
    db.setCategoryListEntrySuperMID(collection, folder);
    db.setCategoryListEntrySuperMID(set, folder);
    const QString a = db.addMediaListEntry(importRecord(collection, QStringLiteral("a.jpg")));
    const QString b = db.addMediaListEntry(importRecord(collection, QStringLiteral("b.jpg")));
    db.addEntryToImageSet(a, set);

    EXPECT_EQ(db.getEntryCountForCategory(folder, QStringLiteral("F")), 2); // child categories, not media
    EXPECT_EQ(db.getEntryCountForCategory(collection, QStringLiteral("C")), 2);
    EXPECT_EQ(db.getEntryCountForCategory(collection, QStringLiteral("M")), 2);
    EXPECT_EQ(db.getEntryCountForCategory(set, QStringLiteral("S")), 1);
    EXPECT_EQ(db.getEntryCountForCategory(smart, QStringLiteral("I")), 0);
    EXPECT_EQ(db.getEntryCountForCategory(QStringLiteral("none"), QStringLiteral("C")), 0);

    // Deleting a category removes its own row only.
    ASSERT_TRUE(db.deleteCategoryListEntry(folder));
    EXPECT_FALSE(db.getCategoryForMID(folder));
    EXPECT_EQ(db.getCategoryListForMID(folder).size(), 2);
    Q_UNUSED(b);
}

TEST_P(CatalogFixture, WithoutUserTablesEveryLevelIsFullAccess)
{
    EXPECT_TRUE(db.authenticateUser(QStringLiteral("ann")));
    EXPECT_FALSE(db.useAuthentication());
    EXPECT_EQ(db.getAccessPrivilegesForCurrentUser(QStringLiteral("not a property list")),
              QStringLiteral("FULL ACCESS"));
    const QString mid = db.addCategoryListEntry(QStringLiteral("x"));
    db.updateCategoryListComment(mid, QStringLiteral("<plist><dict><key>PRIVILEGES</key><array><dict>"
                                                     "<key>group</key><string>g</string><key>privilege</key>"
                                                     "<string>NO ACCESS</string></dict></array></dict></plist>"));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(mid), QStringLiteral("FULL ACCESS"));
    EXPECT_EQ(db.getCategoryForMID(mid)->value(QStringLiteral("MYPRIVILEGES")).toString(),
              QStringLiteral("FULL ACCESS"));
    if (!isPostgres()) {
        // The integrated catalog keeps no users: user management answers nothing.
        EXPECT_TRUE(db.getUserList().isEmpty());
        EXPECT_TRUE(
            db.addUserEntry(QStringLiteral("Ann"), QStringLiteral("ann"), QStringLiteral("pw"), {}, {}).isEmpty());
        EXPECT_TRUE(db.addGroupEntry(QStringLiteral("Staff"), {}, {}).isEmpty());
        EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("pw")).isEmpty());
        EXPECT_FALSE(db.setPasswordForUser(QStringLiteral("pw"), QStringLiteral("u")));
    }
}

// With user tables, the level comes from the comment's entries for the groups of the user who
// logged in; an item the user may not see reads as an empty node.
TEST_P(CatalogFixture, TheUsersGroupsDecideTheLevelOnceUserTablesExist)
{
    for (const QString &statement : OVNDBHelper::postgresUserManagerScript())
        ASSERT_TRUE(db.runSQLCommand(statement));
    ASSERT_TRUE(
        db.runSQLCommand(QStringLiteral("insert into strvusers (mid, name, login) values ('u1', 'Ann', 'ann')")));
    ASSERT_TRUE(db.runSQLCommand(
        QStringLiteral("insert into strvgroups (mid, name) values ('g1', 'Staff'), ('g2', 'Editors')")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into strvgroupusers (mid, groupmid, usermid) values "
                                                "('m1', 'g1', 'u1'), ('m2', 'g2', 'u1')")));
    EXPECT_FALSE(db.authenticateUser(QStringLiteral("bob")));
    ASSERT_TRUE(db.authenticateUser(QStringLiteral("ann")));
    EXPECT_TRUE(db.useAuthentication());
    QStringList groups = db.authGroupMids();
    groups.sort();
    EXPECT_EQ(groups, QStringList({QStringLiteral("g1"), QStringLiteral("g2")}));
    EXPECT_EQ(db.authUserMid(), QStringLiteral("u1"));

    const auto comment = [](const QString &group, const QString &level) {
        const QVariantMap pair = {{QStringLiteral("group"), group}, {QStringLiteral("privilege"), level}};
        return QString::fromUtf8(
            PropertyList::writeXml(QVariantMap{{QStringLiteral("PRIVILEGES"), QVariantList{pair}},
                                               {QStringLiteral("SURVEILLANCEFOLDER"), QStringLiteral("/srv/in")}}));
    };
    const QString hidden = db.addCategoryListEntry(QStringLiteral("Hidden"));
    const QString editable = db.addCategoryListEntry(QStringLiteral("Editable"));
    const QString open = db.addCategoryListEntry(QStringLiteral("Open"));
    ASSERT_TRUE(db.updateCategoryListComment(hidden, comment(QStringLiteral("g9"), QStringLiteral("FULL ACCESS"))));
    ASSERT_TRUE(db.updateCategoryListComment(editable, comment(QStringLiteral("g2"), QStringLiteral("READ & WRITE"))));
    ASSERT_TRUE(db.updateCategoryListComment(open, QStringLiteral("not a property list")));

    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(hidden), QStringLiteral("NO ACCESS"));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(editable), QStringLiteral("READ & WRITE"));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(open), QStringLiteral("FULL ACCESS"));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(QStringLiteral("unknown")), QStringLiteral("FULL ACCESS"));
    const std::optional<CategoryNode> node = db.getCategoryForMID(hidden);
    ASSERT_TRUE(node);
    EXPECT_TRUE(node->isEmpty());
    // Listings show every item with its level.
    QStringList levels;
    for (const CategoryNode &item : db.getCategoryList())
        levels.append(item.value(QStringLiteral("MYPRIVILEGES")).toString());
    levels.sort();
    EXPECT_EQ(levels, QStringList({"FULL ACCESS", "NO ACCESS", "READ & WRITE"}));
}
