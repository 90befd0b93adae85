#include "catalogdb/OVNDBHelper.h"

#include <gtest/gtest.h>

TEST(OVNDBHelperTest, QuotedTextDoublesApostrophesAndKeepsEverythingElse)
{
    EXPECT_EQ(OVNDBHelper::quotedText(QString()), QStringLiteral("''"));
    EXPECT_EQ(OVNDBHelper::quotedText(QStringLiteral("Summer's End")), QStringLiteral("'Summer''s End'"));
    EXPECT_EQ(OVNDBHelper::quotedText(QStringLiteral("''")), QStringLiteral("''''''"));
    // Backslashes, percent signs and placeholders are plain characters in a standard SQL literal.
    EXPECT_EQ(OVNDBHelper::quotedText(QStringLiteral("C:\\ 100% %1 ü")), QStringLiteral("'C:\\ 100% %1 ü'"));
}

TEST(OVNDBHelperTest, NumbersAreValidatedNeverPasted)
{
    EXPECT_EQ(OVNDBHelper::sqlNumber(QStringLiteral(" 42 ")), QStringLiteral("42"));
    EXPECT_EQ(OVNDBHelper::sqlNumber(QStringLiteral("-3")), QStringLiteral("-3"));
    EXPECT_EQ(OVNDBHelper::sqlNumber(QStringLiteral("+7")), QStringLiteral("7"));
    EXPECT_EQ(OVNDBHelper::sqlNumber(QStringLiteral("12.50")), QStringLiteral("12.50"));
    for (const char *bad : {"", " ", "abc", "3abc", "1; drop table strvfile", "1e5", "0x10", "1.", ".5", "--1"})
        EXPECT_FALSE(OVNDBHelper::sqlNumber(QString::fromLatin1(bad))) << bad;

    EXPECT_EQ(OVNDBHelper::numberValue(QStringLiteral("3"))->typeId(), QMetaType::LongLong);
    EXPECT_EQ(OVNDBHelper::numberValue(QStringLiteral("2.5"))->toDouble(), 2.5);
    // Too large for an integer: still a number.
    EXPECT_EQ(OVNDBHelper::numberValue(QStringLiteral("99999999999999999999"))->typeId(), QMetaType::Double);
}

TEST(OVNDBHelperTest, IntegerValueReadsLeadingDigitsLikeImportRecords)
{
    EXPECT_EQ(OVNDBHelper::integerValue(QVariant()), 0);
    EXPECT_EQ(OVNDBHelper::integerValue(QStringLiteral("12abc")), 12);
    EXPECT_EQ(OVNDBHelper::integerValue(QStringLiteral("  -5")), -5);
    EXPECT_EQ(OVNDBHelper::integerValue(QStringLiteral("abc")), 0);
    EXPECT_EQ(OVNDBHelper::integerValue(6), 6);
    EXPECT_EQ(OVNDBHelper::integerValue(7.9), 7);
    EXPECT_EQ(OVNDBHelper::integerValue(QStringLiteral("99999999999999999999999")), std::numeric_limits<qint64>::max());
}

TEST(OVNDBHelperTest, ColumnNamesComeOnlyFromTheFixedLists)
{
    EXPECT_EQ(OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), QStringLiteral("Keywords")),
              QStringLiteral("keywords"));
    EXPECT_FALSE(OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), QStringLiteral("mid")));
    EXPECT_FALSE(OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), QStringLiteral("thumbimage")));
    EXPECT_FALSE(OVNDBHelper::columnFromList(OVNDBHelper::fileColumns(), QStringLiteral("keywords from strvfile; --")));
    EXPECT_EQ(OVNDBHelper::columnFromList(OVNDBHelper::soldColumns(), QStringLiteral("customer")),
              QStringLiteral("customer"));
    EXPECT_FALSE(OVNDBHelper::columnFromList(OVNDBHelper::soldColumns(), QStringLiteral("owner")));
    EXPECT_EQ(OVNDBHelper::numericFileColumns().size(), 8);
}

TEST(OVNDBHelperTest, MediaSelectListHasTheTwentySixColumnsInKeyOrder)
{
    const QStringList &keys = OVNDBHelper::mediaRecordKeys();
    ASSERT_EQ(keys.size(), 26);
    QString columns = OVNDBHelper::mediaSelect();
    columns = columns.mid(7, columns.indexOf(QStringLiteral(" from ")) - 7);
    const QStringList names = columns.split(QStringLiteral(", "));
    ASSERT_EQ(names.size(), 26);
    for (int i = 0; i < 26; ++i)
        EXPECT_EQ(names.at(i), i == 23 ? QStringLiteral("'0'") : keys.at(i)) << i;
}

TEST(OVNDBHelperTest, PrivilegeLevelIsTheHighestOfTheUsersGroups)
{
    const auto entry = [](const QString &group, const QString &level) {
        return QVariant(QVariantMap{{QStringLiteral("group"), group}, {QStringLiteral("privilege"), level}});
    };
    const QStringList groups = {QStringLiteral("g1"), QStringLiteral("g2")};
    EXPECT_EQ(OVNDBHelper::privilegeLevelForEntries({}, groups), QStringLiteral("FULL ACCESS"));
    EXPECT_EQ(OVNDBHelper::privilegeLevelForEntries({entry(QStringLiteral("g1"), QStringLiteral("READ ONLY")),
                                                     entry(QStringLiteral("g2"), QStringLiteral("READ & WRITE")),
                                                     entry(QStringLiteral("g3"), QStringLiteral("FULL ACCESS"))},
                                                    groups),
              QStringLiteral("READ & WRITE"));
    EXPECT_EQ(
        OVNDBHelper::privilegeLevelForEntries({entry(QStringLiteral("g3"), QStringLiteral("FULL ACCESS"))}, groups),
        QStringLiteral("NO ACCESS"));
    EXPECT_EQ(
        OVNDBHelper::privilegeLevelForEntries({entry(QStringLiteral("g1"), QStringLiteral("EVERYTHING"))}, groups),
        QStringLiteral("NO ACCESS"));
    // "mid" names the group before "group" does.
    const QVariant byMid = QVariantMap{{QStringLiteral("mid"), QStringLiteral("g2")},
                                       {QStringLiteral("group"), QStringLiteral("g9")},
                                       {QStringLiteral("privilege"), QStringLiteral("READ ONLY")}};
    EXPECT_EQ(OVNDBHelper::privilegeLevelForEntries({byMid}, groups), QStringLiteral("READ ONLY"));
}

TEST(OVNDBHelperTest, CreateScriptsHaveTheirStatementsInOrder)
{
    const QStringList sqlite = OVNDBHelper::sqliteCatalogScript();
    const QStringList postgres = OVNDBHelper::postgresCatalogScript();
    ASSERT_EQ(sqlite.size(), 20);
    ASSERT_EQ(postgres.size(), 20);
    EXPECT_TRUE(sqlite.at(0).startsWith(QStringLiteral("create table strvcategory")));
    EXPECT_TRUE(sqlite.at(6).startsWith(QStringLiteral("create table strvfile")));
    EXPECT_TRUE(sqlite.at(19).startsWith(QStringLiteral("create index idxsoldmid")));
    // Same words, other types.
    for (int i = 0; i < 20; ++i) {
        QString translated = postgres.at(i);
        translated.replace(QStringLiteral("id SERIAL"), QStringLiteral("id integer not null primary key autoincrement"))
            .replace(QStringLiteral(", PRIMARY KEY (id)"), QString())
            .replace(QStringLiteral("TEXT"), QStringLiteral("long varchar"))
            .replace(QStringLiteral("BYTEA"), QStringLiteral("blob"))
            .replace(QStringLiteral("serverpath text"), QStringLiteral("serverpath varchar(250)"))
            .replace(QStringLiteral("absolutepath text"), QStringLiteral("absolutepath varchar(255)"))
            .replace(QStringLiteral("keywords text"), QStringLiteral("keywords varchar(255)"))
            .replace(QStringLiteral("(left(keywords, 255))"), QStringLiteral("(keywords)"))
            .replace(QStringLiteral("filesize bigint"), QStringLiteral("filesize int"));
        EXPECT_EQ(translated, sqlite.at(i)) << i;
    }
    EXPECT_TRUE(postgres.at(6).contains(QStringLiteral("thumbimage BYTEA")));
    EXPECT_TRUE(postgres.at(11).contains(QStringLiteral("id SERIAL")));
    EXPECT_TRUE(postgres.at(11).endsWith(QStringLiteral("PRIMARY KEY (id))")));
    EXPECT_EQ(OVNDBHelper::postgresUserManagerScript().size(), 7);
}

TEST(OVNDBHelperTest, MySqlScriptsAreTheThirdDialect)
{
    const QStringList catalog = OVNDBHelper::mysqlCatalogScript(QStringLiteral("mediadb"));
    ASSERT_EQ(catalog.size(), 7);
    EXPECT_EQ(catalog.at(0), QStringLiteral("USE mediadb"));
    EXPECT_EQ(OVNDBHelper::mysqlCatalogScript(QString()).at(0), QStringLiteral("USE "));
    EXPECT_EQ(OVNDBHelper::mysqlCatalogScript(QStringLiteral("a`b; x")).at(0), QStringLiteral("USE `a``b; x`"));
    const QStringList tables = {QStringLiteral("strvcategory"),  QStringLiteral("strvset"),
                                QStringLiteral("strvfile"),      QStringLiteral("strvexif"),
                                QStringLiteral("strvpurchased"), QStringLiteral("strvsold")};
    for (int i = 0; i < 6; ++i) {
        const QString &statement = catalog.at(i + 1);
        EXPECT_TRUE(statement.startsWith(QStringLiteral("CREATE TABLE `%1`").arg(tables.at(i)))) << i;
        EXPECT_EQ(statement.endsWith(QStringLiteral("TYPE=MyISAM")), tables.at(i) != QLatin1String("strvset")) << i;
        EXPECT_FALSE(statement.contains(QStringLiteral("create index"), Qt::CaseInsensitive));
    }
    const QString &file = catalog.at(3);
    for (const char *key : {"KEY `idxfilecategoryid` (`categoryid`)", "KEY `idxfiledisplaytag` (`displaytag`)",
                            "KEY `idxfilekeywords` (`keywords`)", "`thumbimage` longblob", "`fulldesc` longtext",
                            "`filedts` timestamp(14) NOT NULL", "PRIMARY KEY  (`mid`)"})
        EXPECT_TRUE(file.contains(QLatin1String(key))) << key;
    // servername and serverpath follow displaytag.
    EXPECT_LT(file.indexOf(QStringLiteral("`displaytag`")), file.indexOf(QStringLiteral("`servername`")));
    EXPECT_LT(file.indexOf(QStringLiteral("`serverpath`")), file.indexOf(QStringLiteral("`cataloguedby`")));
    EXPECT_TRUE(catalog.at(4).contains(QStringLiteral("`id` int(11) NOT NULL auto_increment")));
    EXPECT_TRUE(catalog.at(4).contains(QStringLiteral("`Thumbnail` blob")));

    const QStringList users = OVNDBHelper::mysqlUserManagerScript(QStringLiteral("mediadb"));
    ASSERT_EQ(users.size(), 4);
    EXPECT_TRUE(users.at(3).contains(QStringLiteral("KEY `idxgu3mid` (`usermid`)")));
}
