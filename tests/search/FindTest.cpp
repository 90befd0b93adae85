#include "CatalogFixture.h"
#include "SearchStatementText.h"

#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNDBHelper.h"
#include "import/OVNImportHelper.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QtEndian>

namespace {

using Dialect = OVNFind::Dialect;

int fieldOf(const char *table, const char *column)
{
    const std::optional<int> field = OVNFindLine::fieldFor(QString::fromLatin1(table), QString::fromLatin1(column));
    EXPECT_TRUE(field) << table << "." << column;
    return field.value_or(0);
}

OVNFindLine line(const char *table, const char *column, int op, const QString &value = QString(), bool orJoin = false)
{
    OVNFindLine made;
    made.chooseField(fieldOf(table, column));
    made.setOperatorId(op);
    if (!value.isNull())
        made.setValue(value);
    made.setJoinsWithOr(orJoin);
    return made;
}

// A find over "All Entries" plus the given catalogs, with these lines.
OVNFind findWith(std::vector<OVNFindLine> lines, const std::vector<OVNFind::Catalog> &catalogs = {}, int chosen = 0)
{
    OVNFind find;
    find.addCatalog(QStringLiteral("All Entries"), {});
    for (const OVNFind::Catalog &catalog : catalogs)
        find.addCatalog(catalog.title, catalog.ids);
    find.setSelectedCatalogIndex(chosen);
    for (OVNFindLine &made : lines) {
        const int index = find.addLine();
        const bool first = find.lines()[size_t(index)].isFirstLine();
        find.lines()[size_t(index)] = made;
        find.lines()[size_t(index)].setIsFirstLine(first);
    }
    return find;
}

// A camera's JPEG: a small picture with an EXIF block naming the maker and, when given, the moment
// it was taken ("yyyy:MM:dd HH:mm:ss" as cameras write it).
QByteArray cameraJpeg(const QByteArray &dateTime)
{
    // Varied enough to stay above the size below which files are not searched for metadata.
    QImage image(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, (x * y) % 256));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");

    std::vector<std::pair<quint16, QByteArray>> entries{{0x010F, QByteArray("Camera Maker", 13)}};
    if (!dateTime.isNull())
        entries.emplace_back(0x0132, dateTime + '\0');
    const auto u16 = [](QByteArray &out, quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&u16](QByteArray &out, quint32 v) {
        u16(out, quint16(v & 0xffff));
        u16(out, quint16(v >> 16));
    };
    QByteArray tiff("II*\0", 4);
    u32(tiff, 8);
    u16(tiff, quint16(entries.size()));
    QByteArray data;
    const quint32 dataStart = 8 + 2 + 12 * quint32(entries.size()) + 4;
    for (const auto &[tag, text] : entries) {
        u16(tiff, tag);
        u16(tiff, 2); // ASCII
        u32(tiff, quint32(text.size()));
        u32(tiff, dataStart + quint32(data.size()));
        data += text;
    }
    u32(tiff, 0);
    tiff += data;
    QByteArray app1("\xff\xe1", 2);
    u16(app1, 0); // the length, big-endian, set below
    app1 += QByteArray("Exif\0\0", 6) + tiff;
    qToBigEndian(quint16(app1.size() - 2), app1.data() + 2);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

} // namespace

// The conditions and statements as text, on both dialects.
TEST(FindTest, LinesAndStatementsCompileAsWritten)
{
    const struct {
        OVNFindLine line;
        const char *sqlite;
        const char *server; // nullptr: as on SQLite
    } cases[] = {
        {line("strvfile", "shortdesc", 0, "sun"), " upper(strvfile.shortdesc) like upper('%%sun%%') escape '\\'",
         nullptr},
        {line("strvfile", "shortdesc", 0, ""), " upper(strvfile.shortdesc) like upper('%%%%') escape '\\'", nullptr},
        {line("strvfile", "displaytag", 1, "IMG"), " upper(strvfile.displaytag) like upper('IMG%%') escape '\\'",
         nullptr},
        {line("strvfile", "displaytag", 2, ".jpg"), " upper(strvfile.displaytag) like upper('%%.jpg') escape '\\'",
         nullptr},
        {line("strvfile", "displaytag", 3, "a\\b%_"), " upper(strvfile.displaytag) = upper('a\\b%_')", nullptr},
        // The wildcards and the escape character typed are matched as themselves.
        {line("strvfile", "shortdesc", 0, "a\\b"), " upper(strvfile.shortdesc) like upper('%%a\\\\b%%') escape '\\'",
         nullptr},
        {line("strvfile", "displaytag", 1, "pure_fun%"),
         " upper(strvfile.displaytag) like upper('pure\\_fun\\%%%') escape '\\'", nullptr},
        {line("strvfile", "shortdesc", 0, "O'Brien"),
         " upper(strvfile.shortdesc) like upper('%%O''Brien%%') escape '\\'", nullptr},
        {line("strvfile", "keywords", 4, "ignored"), "(strvfile.keywords is null or strvfile.keywords='')", nullptr},
        {line("strvfile", "rating", 1, "3"), "strvfile.rating>=3", nullptr},
        {line("strvfile", "rating", 2, " +4 "), "strvfile.rating<=4", nullptr},
        {line("strvfile", "imagewidth*imageheight", 0, "100"), "strvfile.imagewidth*imageheight=100", nullptr},
        // Date lines take part only where the value is a date (the server's timestamps always are).
        {line("strvfile", "dts", 2, "2005-03-29 00:00:00"),
         "(strvfile.dts glob '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*' and date(substr(strvfile.dts,1,10)) is not "
         "null"
         " and substr(strvfile.dts,1,19) <= '2005-03-29 00:00:00')",
         "strvfile.dts <= '2005-03-29 00:00:00'"},
        {line("strvexif", "datetime", 0, "2024-05-01"),
         "(strvexif.datetime glob '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*' and "
         "date(substr(strvexif.datetime,1,10)) is not "
         "null and substr(strvexif.datetime,1,19) = '2024-05-01 00:00:00')",
         "(strvexif.datetime ~ '^[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])' and strvexif.datetime = "
         "'2024-05-01 00:00:00')"},
        {line("strvpurchased", "licensetype", 0), "strvpurchased.licensetype = 0", nullptr},
        {line("strvsold", "licensetype", 3), "strvsold.licensetype = 3", nullptr},
        // A yes/no line never carries its value.
        {line("strvfile", "modrelavailable", 0, "');drop table strvfile;--"), "strvfile.modrelavailable = 1", nullptr},
        {line("strvfile", "proprelavailable", 1), "strvfile.proprelavailable = 0", nullptr},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.line.searchClause(Dialect::SQLite).value_or("refused"), QString::fromUtf8(c.sqlite));
        EXPECT_EQ(c.line.searchClause(Dialect::PostgreSQL).value_or("refused"),
                  QString::fromUtf8(c.server ? c.server : c.sqlite));
    }

    const QString select = OVNFind::selectList();
    EXPECT_TRUE(select.endsWith("strvfile.categoryid  from strvfile"));
    const QString order = " order by strvfile.mid";
    const QString sun = " upper(strvfile.shortdesc) like upper('%%sun%%') escape '\\'";
    EXPECT_EQ(withoutSizeLook(findWith({line("strvfile", "shortdesc", 0, "sun")}).searchClause(Dialect::SQLite)),
              select + " where   " + sun + order);
    EXPECT_EQ(
        withoutSizeLook(
            findWith({line("strvfile", "shortdesc", 0, "sun")}, {{"Lisbon", {"c1"}}}, 1).searchClause(Dialect::SQLite)),
        select + " where  categoryid in ('c1') and (  " + sun + ")" + order);
    EXPECT_EQ(findWith({}, {{"Travel", {"f1", "c1", "c'2"}}}, 1).searchClause(Dialect::SQLite),
              select + " where  categoryid in ('f1', 'c1', 'c''2')" + order);
    EXPECT_EQ(findWith({}).searchClause(Dialect::SQLite), select + order);
    // Joins once each, purchased before sold before metadata, whatever the order of the lines.
    const QString joined =
        withoutSizeLook(findWith({line("strvexif", "cameramake", 0, "x"), line("strvsold", "customer", 0, "y"),
                                  line("strvexif", "width", 0, "1"), line("strvpurchased", "owner", 0, "z", true)})
                            .searchClause(Dialect::SQLite));
    EXPECT_TRUE(joined.startsWith(select
                                  + " left outer join strvpurchased on strvfile.mid=strvpurchased.mid"
                                    " left outer join strvsold on strvfile.mid=strvsold.mid"
                                    " left outer join strvexif on strvfile.mid=strvexif.mid where    upper("))
        << qPrintable(joined);
    EXPECT_TRUE(joined.contains(" AND strvexif.width=1 OR  upper(strvpurchased.owner)"));
}

// What a find's text lines ask of the server for each entry is what the expert checker counts for
// the same condition written out (a line over a short column or a number asks nothing), and the
// bound it gives in bytes lets ordinary lines over texts of megabytes run while a pattern of
// thousands of characters runs over a hundred kilobytes or so only.
TEST(FindTest, TextLinesCostWhatTheirConditionCosts)
{
    const QString longValue(4000, QLatin1Char('a'));
    const struct {
        std::vector<OVNFindLine> lines;
        QString condition;     // as the expert checker reads it; "" for no long field
        qint64 atLeast, below; // the bound on the fields' size in bytes
    } cases[] = {
        {{line("strvfile", "fulldesc", 0, "beach")},
         "upper(strvfile.fulldesc) like upper('%%beach%%') escape '\\'",
         4 << 20,
         16 << 20},
        {{line("strvfile", "shortdesc", 1, "100%_x")},
         "upper(strvfile.shortdesc) like upper('100\\%\\_x%%') escape '\\'",
         4 << 20,
         16 << 20},
        {{line("strvfile", "keywords", 3, "sea")}, "upper(strvfile.keywords) = upper('sea')", 4 << 20, 16 << 20},
        {{line("strvfile", "fulldesc", 0, longValue)},
         "upper(strvfile.fulldesc) like upper('%%" + longValue + "%%') escape '\\'",
         64 << 10,
         256 << 10},
        {{line("strvfile", "fulldesc", 0, "beach"), line("strvfile", "shortdesc", 2, "sea", true),
          line("strvfile", "rating", 1, "3")},
         "upper(strvfile.fulldesc) like upper('%%beach%%') escape '\\' or upper(strvfile.shortdesc) like "
         "upper('%%sea') escape '\\' and strvfile.rating >= 3",
         2 << 20,
         8 << 20},
        {{line("strvfile", "displaytag", 0, "IMG"), line("strvfile", "fulldesc", 4)}, "", -1, 0},
    };
    for (const auto &c : cases) {
        OVNFind find;
        for (const OVNFindLine &made : c.lines)
            find.lines()[size_t(find.addLine())] = made;
        const OVNExpertCondition::Cost cost = find.cost(Dialect::PostgreSQL);
        const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
        OVNExpertCondition::Cost expected;
        if (!c.condition.isEmpty()) {
            ASSERT_FALSE(OVNExpertCondition::check(c.condition, &expected)) << qPrintable(c.condition.left(60));
        }
        EXPECT_EQ(cost.copies, expected.copies) << qPrintable(c.condition.left(60));
        EXPECT_EQ(cost.passes, expected.passes) << qPrintable(c.condition.left(60));
        EXPECT_EQ(cost.longColumns, expected.longColumns) << qPrintable(c.condition.left(60));
        EXPECT_GE(largest, c.atLeast) << qPrintable(c.condition.left(60));
        EXPECT_LT(largest, c.below) << qPrintable(c.condition.left(60));
        // The look at the sizes reads the stored sizes of those fields alone.
        const QString oversized = find.oversizedStatement(cost.longColumns, largest, Dialect::PostgreSQL);
        EXPECT_EQ(oversized.isEmpty(), cost.longColumns.isEmpty());
        for (const QString &column : cost.longColumns)
            EXPECT_TRUE(oversized.contains("octet_length(" + column + ") > " + QString::number(largest)));
        EXPECT_FALSE(oversized.contains("strvfile.fulldesc,")) << qPrintable(oversized);
    }
}

// What a line refuses, and that stored names of tables and columns never reach the statement.
TEST(FindTest, BadValuesAndUnknownFieldsAreRefused)
{
    const auto stored = [](const QVariantMap &object, const QString &title = QString(),
                           const QVariant &operatorId = QVariant("0"), const QString &value = QString("5")) {
        QVariantMap entry{{"OPERATORID", operatorId}, {"VALUE", value}};
        if (!object.isEmpty())
            entry.insert("FIELDOBJECT", object);
        if (!title.isNull())
            entry.insert("FIELDTITLE", title);
        OVNFind find;
        find.addCatalog("All Entries", {});
        find.setSearchSettings({{"LINES", QVariantList{entry}}});
        return find;
    };
    const struct {
        OVNFind find;
        const char *refusal; // part of the message; "" when it runs
    } cases[] = {
        {findWith({line("strvfile", "rating", 0, "five")}), "Line 1: The value \"five\" is not a number."},
        {findWith({line("strvfile", "rating", 0, "")}), "is not a number"},
        {findWith({line("strvfile", "shortdesc", 0, "a"), line("strvfile", "dts", 0, "29.3.2005")}),
         "Line 2: The value \"29.3.2005\" is not a date"},
        {findWith({line("strvfile", "dts", 0, "2005-02-30")}), "is not a date"},
        {findWith({line("strvfile", "shortdesc", 0, QString(4001, 'a'))}), "longer than 4000"},
        {findWith({line("strvfile", "shortdesc", 0, QString(4000, 'a'))}), ""},
        {findWith({line("strvfile", "shortdesc", 7, "a")}), "operator"},
        {stored({{"TABLENAME", "strvfile; drop table strvfile"}, {"FIELDNAME", "rating"}}), "search field"},
        {stored({{"TABLENAME", "strvfile"}, {"FIELDNAME", "rating"}, {"OPERATORTYPE", "1"}}), ""},
        {stored({}, "No Such Field"), "search field"},
        {stored({}), "search field"},
        {stored({}, "Rating"), ""},
        // An operator id beyond int is none: it does not wrap onto operator 3.
        {stored({}, "Name", QVariant(qint64(4294967299)), "a"), "operator"},
        {stored({}, "Name", QVariant("4294967299"), "a"), "operator"},
        {stored({}, "Name", QVariant(qint64(-1)), "a"), "operator"},
        {stored({}, "Name", QVariant(qint64(3)), "a"), ""},
        // A NUL would be cut from the value and another search run: refused.
        {stored({}, "Name", QVariant("0"), QString("a") + QChar(0) + "b"), "NUL"},
        {findWith({line("strvfile", "shortdesc", 0, QString("x") + QChar(0))}), "NUL"},
    };
    for (const auto &c : cases) {
        const QString refusal = c.find.refusal();
        if (QByteArray(c.refusal).isEmpty()) {
            EXPECT_TRUE(refusal.isEmpty()) << qPrintable(refusal);
            EXPECT_FALSE(c.find.searchClause(Dialect::SQLite).contains("drop"));
        } else {
            EXPECT_TRUE(refusal.contains(QString::fromUtf8(c.refusal))) << qPrintable(refusal);
            EXPECT_TRUE(c.find.searchClause(Dialect::SQLite).isEmpty());
        }
    }
    // The stored kind is not believed: "rating" stays a number field.
    EXPECT_TRUE(stored({{"TABLENAME", "strvfile"}, {"FIELDNAME", "rating"}, {"OPERATORTYPE", "1"}})
                    .searchClause(Dialect::SQLite)
                    .endsWith("strvfile.rating=5 order by strvfile.mid"));
}

// The sheet's settings through the stored forms give the same statement; a text form written by
// hand reads too.
TEST(FindTest, SettingsSurviveTheStoredForms)
{
    OVNFind find =
        findWith({line("strvfile", "rating", 1, "3"), line("strvexif", "datetime", 2, "2024-05-01 10:11", true),
                  line("strvpurchased", "licensetype", 2), line("strvfile", "shortdesc", 0, "Café \"x\" ;{}")},
                 {{"Travel", {"f1", "c1"}}}, 1);
    const QString sql = find.searchClause(Dialect::SQLite);
    ASSERT_FALSE(sql.isEmpty());
    for (const QString &text :
         {OVNCategoryComment::textForm(find.searchSettings()), OVNCategoryComment::xmlForm(find.searchSettings())}) {
        const QVariantMap read = OVNCategoryComment::dictionary(text);
        ASSERT_FALSE(read.isEmpty()) << qPrintable(text);
        OVNFind again = findWith({}, {{"Travel", {"f1", "c1"}}});
        again.setSearchSettings(read);
        EXPECT_EQ(again.searchClause(Dialect::SQLite), sql);
        EXPECT_EQ(again.searchSettings().value("CATALOG"), "Travel");
    }
    const QVariantMap fromText = OVNCategoryComment::dictionary(OVNCategoryComment::textForm(find.searchSettings()));
    EXPECT_EQ(fromText.value("LINES").toList().value(0).toMap().value("OPERATORID").typeId(), QMetaType::QString);

    const QString handWritten = QStringLiteral(
        "{ CATALOG = Travel; LINES = ( { COMBOPERATORTITLE = AND; FIELDOBJECT = { FIELDNAME = displaytag; "
        "OPERATORTYPE = 1; TABLENAME = strvfile; }; OPERATORID = 3; VALUE = \"Caf\\U00e9.jpg\"; }, "
        "{ COMBOPERATORTITLE = OR; FIELDTITLE = Rating; OPERATORID = 1; VALUE = 4; } ); }");
    OVNFind hand = findWith({}, {{"Travel", {"f1"}}});
    hand.setSearchSettings(OVNCategoryComment::dictionary(handWritten));
    EXPECT_EQ(withoutSizeLook(hand.searchClause(Dialect::SQLite)),
              OVNFind::selectList()
                  + QStringLiteral(" where  categoryid in ('f1') and (   upper(strvfile.displaytag) = "
                                   "upper('Café.jpg') OR strvfile.rating>=4) order by strvfile.mid"));
}

class FindCatalogTest : public CatalogFixture
{
protected:
    QString collection(const QString &name, const QString &parent = QString())
    {
        const QString mid = db.addCategoryListEntry(name, "C");
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        if (!parent.isEmpty()) {
            EXPECT_TRUE(db.setCategoryListEntrySuperMID(mid, parent));
        }
        return mid;
    }
    QString record(const QString &category, const QString &name, QVariantMap changes = {})
    {
        // The import leaves the release flags alone; the details pane sets them.
        const QVariant release = changes.take("modrelavailable");
        QVariantMap values = importRecord(category, name);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            values.insert(it.key(), it.value());
        const QString mid = db.addMediaListEntry(values);
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        if (release.isValid()) {
            EXPECT_TRUE(
                db.updateMediaListEntry(mid, "modrelavailable", release.toString(), OVNDatabaseAccess::BareValue));
        }
        return mid;
    }
    QStringList names(const OVNFind &find)
    {
        const QString sql = find.searchClause(isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite);
        EXPECT_FALSE(sql.isEmpty()) << qPrintable(find.refusal());
        EXPECT_TRUE(db.runSQLCommand(sql)) << qPrintable(sql) << " " << qPrintable(db.getLastErrorMessage());
        QStringList found;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(sql))
            found << entry->value("displaytag").toString();
        found.sort();
        return found;
    }
    // Every stored text of the media tables, to see that nothing changed.
    QStringList catalogState()
    {
        QStringList state;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(OVNDBHelper::mediaSelect()))
            state << entry->value("mid").toString() + entry->value("shortdesc").toString();
        for (const char *kind : {"F", "C", "M", "I", "S"})
            for (const CategoryNode &node : db.getCategoryList(kind))
                state << node.value("mid").toString() + node.value("displaytag").toString();
        state.sort();
        return state;
    }
};

// Results: ranges including their ends, moments, empties, a folder's subtree, OR kept inside the
// chosen category, the joined tables.
TEST_P(FindCatalogTest, SearchesFindTheirEntries)
{
    const QString travel = db.addCategoryListEntry("Travel", "F");
    const QString year = db.addCategoryListEntry("2024", "F");
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(year, travel));
    const QString lisbon = collection("Lisbon", year);
    const QString alps = collection("Alps", travel);
    const QString studio = collection("Studio");
    const QString setMid = db.addCategoryListEntry("Best", "S");
    record(lisbon, "l1", {{"rating", 3}, {"keywords", QVariant()}});
    record(lisbon, "l2", {{"rating", 5}, {"keywords", ""}, {"modrelavailable", 1}});
    const QString a1 = record(alps, "a1", {{"rating", 2}, {"shortdesc", "snow"}});
    const QString s1 = record(studio, "s1", {{"rating", 4}, {"shortdesc", "studio"}});
    ASSERT_FALSE(db.addEntryToImageSet(s1, setMid).isEmpty());
    ASSERT_TRUE(
        db.setExifForMediaID(a1, {{"CameraMake", "Canon"}, {"DateTime", "2024-05-01 10:11:12"}, {"Width", 640}}));
    ASSERT_TRUE(db.updatePurchasedEntry(s1, "licensetype", "0"));

    const std::vector<OVNFind::Catalog> catalogs = {{"Travel", {travel, year, lisbon, alps}}, {"Studio", {studio}}};
    const struct {
        std::vector<OVNFindLine> lines;
        int chosen;
        QStringList found;
    } cases[] = {
        {{line("strvfile", "rating", 1, "3")}, 0, {"l1", "l2", "s1"}},
        {{line("strvfile", "rating", 2, "3")}, 0, {"a1", "l1"}},
        {{line("strvfile", "keywords", 4)}, 0, {"l1", "l2"}},
        {{line("strvfile", "shortdesc", 0, "")}, 0, {"a1", "l1", "l2", "s1"}},
        {{line("strvfile", "modrelavailable", 0)}, 0, {"l2"}},
        {{line("strvfile", "filedts", 0, "2024-05-01 10:11:12")}, 0, {"a1", "l1", "l2", "s1"}},
        {{line("strvfile", "filedts", 2, "2024-05-01 10:11:12")}, 0, {"a1", "l1", "l2", "s1"}},
        {{line("strvfile", "filedts", 2, "2024-05-01 10:11:11")}, 0, {}},
        {{line("strvfile", "filedts", 1, "2024-05-01")}, 0, {"a1", "l1", "l2", "s1"}},
        {{}, 1, {"a1", "l1", "l2"}},
        {{line("strvfile", "shortdesc", 0, "studio", false)}, 1, {}},
        // OR stays inside the chosen folder.
        {{line("strvfile", "rating", 0, "5"), line("strvfile", "shortdesc", 0, "studio", true)}, 1, {"l2"}},
        {{line("strvfile", "rating", 0, "5"), line("strvfile", "keywords", 4, "", true)}, 2, {}},
        {{line("strvexif", "cameramake", 3, "canon"), line("strvexif", "datetime", 0, "2024-05-01 10:11:12")},
         0,
         {"a1"}},
        {{line("strvexif", "datetime", 2, "2024-05-01 10:11:12"), line("strvexif", "width", 1, "640")}, 1, {"a1"}},
        {{line("strvpurchased", "licensetype", 0)}, 0, {"s1"}},
        {{line("strvsold", "licensetype", 0), line("strvfile", "rating", 1, "0", true)}, 2, {"s1"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(names(findWith(c.lines, catalogs, c.chosen)), c.found)
            << qPrintable(findWith(c.lines, catalogs, c.chosen).searchClause(Dialect::SQLite));
}

// Hostile values in every kind of line and in category names: found exactly where they stand
// (% and _ as typed), or refused (a NUL, too long); nothing else happens to the catalog.
TEST_P(FindCatalogTest, HostileValuesFindWhatHoldsThemOrAreRefused)
{
    const QStringList corpus = {"O'Brien",
                                "x' or '1'='1",
                                "\\",
                                "a\\b",
                                "100%",
                                "_",
                                QString("nul") + QChar(0) + "x",
                                QString(5000, 'w'),
                                "Ünïcødé 日本",
                                "\");drop table strvfile;--"};
    const QString plain = collection("Plain");
    record(plain, "plain", {{"shortdesc", "nothing special"}});
    QHash<QString, QString> stored; // entry name -> its keywords as stored
    for (int i = 0; i < corpus.size(); ++i) {
        const QString name = QStringLiteral("v%1").arg(i);
        const QString category = collection(corpus[i].left(200));
        record(category, name, {{"shortdesc", "<" + corpus[i] + ">"}, {"modrelavailable", i % 2}});
        stored.insert(name, "<" + OVNDBHelper::storableText(corpus[i]) + ">");
    }
    stored.insert("plain", "nothing special");
    const QStringList before = catalogState();

    for (const QString &value : corpus) {
        SCOPED_TRACE(value.left(40).toStdString());
        // Text: LIKE's own reading of the pattern, case aside.
        OVNFind text = findWith({line("strvfile", "shortdesc", 0, value)});
        if (value.size() > OVNFindLine::maximumValueLength) {
            EXPECT_TRUE(text.refusal().contains("4000"));
        } else if (value.contains(QChar(0))) {
            // No catalog keeps a NUL in a text: searched for, another value would be found.
            EXPECT_TRUE(text.refusal().contains("NUL")) << qPrintable(text.refusal());
        } else {
            QStringList expected;
            for (auto it = stored.begin(); it != stored.end(); ++it)
                if (it.value().contains(OVNDBHelper::storableText(value), Qt::CaseInsensitive))
                    expected << it.key();
            expected.sort();
            EXPECT_EQ(names(text), expected);
            EXPECT_EQ(names(findWith({line("strvfile", "shortdesc", 3, "<" + value + ">")})).size(), 1);
        }
        // Numbers and dates: refused with our message, never run.
        EXPECT_FALSE(findWith({line("strvfile", "rating", 0, value)}).refusal().isEmpty());
        EXPECT_FALSE(findWith({line("strvfile", "dts", 0, value)}).refusal().isEmpty());
        // Yes/no: the value is ignored.
        EXPECT_EQ(names(findWith({line("strvfile", "modrelavailable", 0, value)})).size(), corpus.size() / 2);
        // A category of that name restricts to its own entry.
        OVNFind find;
        find.addCatalog("All Entries", {});
        std::vector<OVNFind::Catalog> all;
        for (const CategoryNode &node : db.getCategoryList("C"))
            if (node.value("displaytag").toString() == OVNDBHelper::storableText(value.left(200)))
                all.push_back({node.value("displaytag").toString(), {node.value("mid").toString()}});
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(names(findWith({line("strvfile", "rating", 1, "0")}, all, 1)).size(), 1);
    }
    EXPECT_EQ(catalogState(), before);
}

// Date lines over a catalog of dated and undated entries: camera pictures with and without their
// moment, a document ("n/a"), an empty value and a camera clock never set. Only real dates take
// part, whatever the operator; the stored values stay as they were.
TEST_P(FindCatalogTest, DateLinesPassOverUndatedEntries)
{
    const QString shots = collection("Shots");
    const auto imported = [&](const char *name, const QByteArray &dateTime) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(cameraJpeg(dateTime));
        file.close();
        QVariantMap values;
        OVNImportHelper helper;
        EXPECT_FALSE(helper.thumbnailForMediaFile(path, values).isEmpty());
        const QVariantMap exif = values.take("exif").toMap();
        EXPECT_EQ(exif.value("CameraMake"), "Camera Maker");
        values.insert("categoryid", shots);
        const QString mid = db.addMediaListEntry(values);
        EXPECT_TRUE(db.setExifForMediaID(mid, exif)) << qPrintable(db.getLastErrorMessage());
    };
    imported("dated.jpg", "2024:05:01 10:11:12");
    imported("undated.jpg", QByteArray());
    imported("unset.jpg", "0000:00:00 00:00:00");
    const auto entry = [&](const char *name, const char *dateTime) {
        const QString mid = record(shots, QString::fromLatin1(name));
        EXPECT_TRUE(db.setExifForMediaID(mid, {{"CameraMake", "n/a"}, {"DateTime", dateTime}}));
    };
    entry("old.jpg", "2003-07-04 08:00:00");
    entry("document.pdf", "n/a");
    entry("blank.jpg", "");
    const QStringList everything = {"blank.jpg", "dated.jpg", "document.pdf", "old.jpg", "undated.jpg", "unset.jpg"};
    const QStringList before = catalogState();

    const struct {
        const char *column;
        int op;
        const char *value;
        QStringList found;
    } cases[] = {
        {"datetime", 0, "2024-05-01 10:11:12", {"dated.jpg"}},
        {"datetime", 0, "2024-05-01", {}},
        {"datetime", 1, "2005-01-01", {"dated.jpg"}},
        {"datetime", 1, "1900-01-01", {"dated.jpg", "old.jpg"}},
        {"datetime", 1, "2024-05-01 10:11:12", {"dated.jpg"}},
        {"datetime", 2, "2030-01-01", {"dated.jpg", "old.jpg"}},
        {"datetime", 2, "2003-07-04 08:00", {"old.jpg"}},
        {"datetime", 2, "1999-12-31", {}},
        // The file's and the import's dates: every entry has them.
        {"dts", 1, "2000-01-01", everything},
        {"dts", 2, "2000-01-01", {}},
        {"filedts", 1, "1971-01-01", everything},
        {"filedts", 2, "2999-01-01", everything},
    };
    for (const auto &c : cases) {
        const char *table = QByteArray(c.column) == "datetime" ? "strvexif" : "strvfile";
        EXPECT_EQ(names(findWith({line(table, c.column, c.op, QString::fromLatin1(c.value))})).join('|'),
                  c.found.join('|'))
            << c.column << " " << c.op << " " << c.value;
    }
    // Joined with OR to another line, an undated entry still takes no part through the date.
    EXPECT_EQ(
        names(findWith({line("strvfile", "rating", 0, "9"), line("strvexif", "datetime", 2, "2030-01-01", true)})),
        QStringList({"dated.jpg", "old.jpg"}));
    EXPECT_EQ(catalogState(), before);
    const QStringList stored = {"2024-05-01 10:11:12", "n/a", "0000-00-00 00:00:00", "2003-07-04 08:00:00", "n/a", ""};
    QStringList dates;
    for (const QList<QVariant> &row : db.rowsForQuery(QStringLiteral("select datetime from strvexif"), {}))
        dates << row.value(0).toString();
    dates.sort();
    QStringList expectedDates = stored;
    expectedDates.sort();
    EXPECT_EQ(dates.join('|'), expectedDates.join('|'));
}

// Names holding LIKE's wildcards and its escape character are found by what was typed, through
// the find sheet's text operators and the quick search alike.
TEST_P(FindCatalogTest, WildcardsAndTheEscapeAreMatchedAsTyped)
{
    const QString bucket = collection("Names");
    for (const char *name : {"pure_fun", "pureXfun", "100%", "1000", "a\\b", "ab", "a\\\\b", "x_%\\y", "xy"})
        record(bucket, QString::fromLatin1(name));

    const struct {
        int op; // 0 contains, 1 starts with, 2 ends with, 3 is
        const char *value;
        QStringList found;
    } cases[] = {
        {0, "_", {"pure_fun", "x_%\\y"}},
        {0, "%", {"100%", "x_%\\y"}},
        {0, "\\", {"a\\b", "a\\\\b", "x_%\\y"}},
        {0, "\\\\", {"a\\\\b"}},
        {0, "e_f", {"pure_fun"}},
        {0, "_%\\", {"x_%\\y"}},
        {1, "pure_", {"pure_fun"}},
        {1, "a\\", {"a\\b", "a\\\\b"}},
        {1, "100%", {"100%"}},
        {2, "0%", {"100%"}},
        {2, "\\b", {"a\\b", "a\\\\b"}},
        {2, "%\\y", {"x_%\\y"}},
        {3, "PURE_FUN", {"pure_fun"}},
        {3, "a\\b", {"a\\b"}},
        {3, "x_%\\Y", {"x_%\\y"}},
        {3, "_", {}},
    };
    const OVNFind::Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    for (const auto &c : cases) {
        const QString value = QString::fromLatin1(c.value);
        QStringList expected = c.found;
        expected.sort();
        EXPECT_EQ(names(findWith({line("strvfile", "displaytag", c.op, value)})).join('|'), expected.join('|'))
            << c.op << " " << c.value;
        if (c.op != 0)
            continue;
        for (const int tag : {OVNExpress::All, OVNExpress::DisplayTag}) {
            OVNExpress::QuickSearch quick;
            quick.fields[0] = {value, tag, false};
            QStringList found;
            for (const MediaRecordRef &entry : db.getMediaListForSQL(quick.statement(dialect)))
                found << entry->value("displaytag").toString();
            found.sort();
            EXPECT_EQ(found.join('|'), expected.join('|')) << "quick search " << tag << " " << c.value;
        }
    }
}

OVN_CATALOG_VENDORS(FindCatalogTest);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);
