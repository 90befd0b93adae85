// Which entries a catalog user may read at this moment, as every list of entries filters them (the
// catalog window's, the express panel's and the tools'): each entry by the category that owns it,
// with the privileges and the user's groups as the catalog holds them now.

#include "../catalogdb/CatalogFixture.h"
#include "../support/CatalogUsers.h"

#include "catalogdb/OVNCategoryAccess.h"

#include <QStringList>

namespace {

class CategoryAccessTest : public CatalogFixture
{
protected:
    // An entry named `name` owned by the category (the catalog layer is not asked: the rule is).
    void add(const QString &categoryId, const char *name)
    {
        auto record = std::make_shared<MediaRecord>();
        record->setField(MediaRecord::DisplayTag, QString::fromUtf8(name));
        record->setField(MediaRecord::CategoryId, categoryId);
        entries.append(record);
    }
    // The names of the entries the connection's user may read, sorted; "failed" when it could not tell.
    QString readableNames(OVNDatabaseAccess &connection) const
    {
        const std::optional<MediaList> kept = OVNCategoryAccess::readableNow(connection, entries);
        if (!kept)
            return QStringLiteral("failed");
        QStringList names;
        for (const MediaRecordRef &record : *kept)
            names.append(record->field(MediaRecord::DisplayTag));
        names.sort();
        return names.join(QLatin1Char(' '));
    }
    MediaList entries;
};

TEST_P(CategoryAccessTest, EachEntryIsJudgedByItsOwnerAsTheCatalogHoldsItNow)
{
    // Without users everybody reads everything, an entry of no category too.
    add(db.addCategoryListEntry("Any"), "any");
    add(QString(), "loose");
    ASSERT_EQ(readableNames(db), "any loose");
    if (!isPostgres())
        return;

    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    const QString others = db.addGroupEntry("Others", QString(), {});
    // category name, the level Staff holds (nullptr: no privileges at all; "others": only another
    // group is named), whether Ann reads its entry.
    const struct {
        const char *name;
        const char *level;
        bool read;
    } cases[] = {
        {"full", "FULL ACCESS", true}, {"write", "READ & WRITE", true}, {"read", "READ ONLY", true},
        {"none", "NO ACCESS", false},  {"odd", "SOMETIMES", false},     {"open", nullptr, true},
        {"others", "others", false},
    };
    QStringList expected{"any"};
    for (const auto &c : cases) {
        const QString category = db.addCategoryListEntry(c.name);
        add(category, c.name);
        if (c.level && QByteArray(c.level) == "others") {
            ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, category, others, "FULL ACCESS"));
        } else if (c.level) {
            ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, category, staff, c.level));
        }
        if (c.read)
            expected.append(c.name);
    }
    const QString gone = db.addCategoryListEntry("gone");
    add(gone, "gone");
    ASSERT_TRUE(db.deleteCategoryListEntry(gone));
    expected.sort();

    auto ann = openAnother();
    ASSERT_NO_FATAL_FAILURE(signInAsAnn(*ann));
    EXPECT_EQ(readableNames(*ann), expected.join(' '));

    // Taken out of her group after she logged in, Ann reads nothing her group gave her.
    for (const QVariantMap &member : db.getUserListForGroup(staff))
        ASSERT_TRUE(db.deleteUserFromGroup(member.value("mid").toString()));
    const QStringList after = readableNames(*ann).split(' ');
    for (const char *granted : {"full", "write", "read"})
        EXPECT_FALSE(after.contains(granted)) << granted;
}

OVN_CATALOG_VENDORS(CategoryAccessTest);

} // namespace
