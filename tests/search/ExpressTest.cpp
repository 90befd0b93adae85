#include "CatalogFixture.h"
#include "SearchStatementText.h"

#include "../support/CatalogUsers.h"
#include "../support/FullPostgresServer.h"
#include "../support/TestEnvironment.h"
#include "catalogdb/OVNCatalogLogin.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

#include <QProcess>

#include <functional>
#include <random>
#include <thread>

namespace {

using namespace OVNExpress;
using Status = OVNExpressSearch::Outcome::Status;

QuickSearch quick(std::initializer_list<QuickSearch::Field> fields, QStringList ids = {}, bool restricted = false)
{
    QuickSearch search;
    size_t i = 0;
    for (const QuickSearch::Field &field : fields)
        search.fields[i++] = field;
    search.categoryIds = ids;
    search.restricted = restricted;
    return search;
}

QString like(const char *column, const char *pattern)
{
    return QStringLiteral(" upper(%1) like upper('%2') escape '\\'")
        .arg(QLatin1String(column), QString::fromUtf8(pattern));
}

// Conditions that could read, change or wait on more than the searched entries, each with the
// word its refusal names.
const struct {
    const char *clause;
    const char *word;
} hostileClauses[] = {
    {"exists(select 1 from ts_stat('select to_tsvector(''simple'', login) from strvusers') where word='root')",
     "exists"},
    {"ts_rewrite(to_tsquery('a'), 'select to_tsquery(login), to_tsquery(''b'') from strvusers') is not null",
     "ts_rewrite"},
    {"exists(select 1 from strvfile f2 where f2.keywords like 'TOPSECRET-x%')", "exists"},
    {"query_to_xml('select * from strvusers', true, true, '') is not null", "query_to_xml"},
    {"xpath('/row', '<row/>') is not null", "xpath"},
    {"'strvusers'::regclass is not null", "regclass"},
    {"cast('strvusers' as regclass) is not null", "regclass"},
    {"#rating#::oid = 1", "oid"},
    {"current_setting('data_directory') <> ''", "current_setting"},
    {"set_config('statement_timeout', '0', false) = '0'", "set_config"},
    {"lo_import('/etc/passwd') > 0", "lo_import"},
    {"convert_from(lo_get(16384), 'UTF8') = ''", "convert_from"},
    {"lo_get(16384) is null", "lo_get"},
    {"dblink('dbname=postgres', 'select 1') is null", "dblink"},
    {"dblink_exec('dbname=postgres', 'delete from strvfile') = ''", "dblink_exec"},
    {"pg_sleep(30) is null", "pg_sleep"},
    {"pg_read_file('/etc/passwd') <> ''", "pg_read_file"},
    {"pg_catalog.pg_user.usename = 'x'", "pg_catalog"},
    {"information_schema.tables.table_name = 'x'", "information_schema"},
    {"version() <> '' and current_user = 'postgres'", "version"},
    {"current_user = 'postgres'", "current_user"},
    {"nextval('strvexif_id_seq') > 0", "nextval"},
    {"load_extension('libc') is null", "load_extension"},
    {"printf('%.*c', 1000000000, 'x') = ''", "printf"},
    {"randomblob(1000000000) is null", "randomblob"},
    {"sqlite_master.name = 'strvusers'", "sqlite_master"},
    {"to_char(#dts#, 'YYYY') = '2005'", "to_char"},
    // comments, second statements, other ways of writing text and names
    {"#rating# = 1 -- and 1 = 0", "--"},
    {"#rating# = 1 /* and 1 = 0 */", "/*"},
    {"#rating# = 1; delete from strvfile", ";"},
    {"$$strvusers$$ = ''", "$"},
    {"$q$x$q$ = ''", "$"},
    {"#displaytag# = $1", "$"},
    {"E'\\'' or 1=1 --' = ''", "E'"},
    {"U&'\\0027' = ''", "U&'"},
    {"U&\"strvusers\" is null", "U&\""},
    {"x'41' = 'A'", "x'"},
    {"\"strvusers\".login = 'root'", "\"strvusers\""},
    {"[strvusers].login = 'root'", "["},
    {"`strvusers`.login = 'root'", "`"},
    {"0x41 = 65", "0x41"},
    {"#displaytag# = 'open", "'open"},
    {"#rating# = 1\u00a0or 1 = 1", "U+00A0"},
    // parentheses
    {"#rating# = 1) or (1 = 1", ")"},
    {"((#rating# = 1)", "("},
    {"upper(#displaytag# = 'A'", "("},
    // every catalog table but through the search's own joins
    {"strvusers.login = 'root'", "strvusers"},
    {"strvgroups.name = 'Admin'", "strvgroups"},
    {"strvgroupusers.usermid is null", "strvgroupusers"},
    {"strvcategory.comment like '%NO ACCESS%'", "strvcategory"},
    {"strvset.filemid = strvfile.mid", "strvset"},
    {"strvusers is not null", "strvusers"},
    {"strvfile.password = ''", "password"},
    {"strvfile = strvfile", "strvfile"},
    // a query in every place a value may stand
    {"(select count(*) from strvfile f2 where f2.keywords like 'TOPSECRET%') > 0", "select"},
    {"#displaytag# = (select login from strvusers)", "select"},
    {"upper((select login from strvusers)) = 'ROOT'", "select"},
    {"#rating# in (select 1 from strvusers)", "select"},
    {"#displaytag# like (select login from strvusers)", "select"},
    {"#rating# between (select 1) and 5", "select"},
    {"case when (select 1) = 1 then 1 else 0 end = 1", "select"},
    {"case #rating# when 1 then (select 1) end = 1", "select"},
    {"cast((select 1) as integer) = 1", "select"},
    {"#displaytag# || (select login from strvusers) = ''", "select"},
    {"not exists (select 1 from strvusers)", "exists"},
    {"array(select login from strvusers) is null", "array"},
    {"(with u as (select 1) select 1 from u) = 1", "with"},
    {"(values (1)) = 1", "values"},
    {"#rating# = 1 union select * from strvusers", "union"},
    {"#rating# in (1, #rating#)", "strvfile"},
    // operators and forms outside the list
    {"#displaytag# ~ '^a'", "~"},
    {"#displaytag# @@ 'a'", "@@"},
    {"#rating# # 1 = 0", "#"},
    {"#nosuch# = 1", "#nosuch#"},
    {"#displaytag# similar to 'a%'", "similar"},
    {"#displaytag# collate nocase = 'a'", "collate"},
    {"1 = any('{1}')", "any"},
};

// Conditions the check lets through (the field menu's templates are tried on their own).
const char *const acceptedClauses[] = {
    "#rating# >= 4 and upper(#keywords#) like upper('%BEACH%')",
    "not (#rating# between 1 and 3) or #filesize# is null",
    "#rating# in (1, 2, -3) and #displaytag# not like 'a!%' escape '!'",
    "case when #rating# > 3 then 'good' else 'bad' end = 'good'",
    "case #rating# when 5 then 1 else 0 end = 1 or #rating# is not null",
    "coalesce(#p.owner#, '') = '' and abs(#rating# - 3) <= 1",
    "round(#exif.focallength#) = 50 or length(trim(#displaytag#)) > 0",
    "substr(#absolutepath#, 1, 5) = '/home' or lower(#displaytag#) <> ''",
    "cast(#rating# as integer) = 1 or #rating# * 2.5e0 >= .5",
    "'x; -- /* $1 strvusers select ) E''y' = #displaytag#",
    "strvexif.cameramake = 'C' and #s.customer# = ''",
    "mid is not null and categoryid <> '' and -#rating# < -1 or #rating# % 2 = 1",
    "#displaytag# || 'x' = 'ax' or #dts# > '2005-03-29 00:00:00'",
};

} // namespace

// The quick search's statements: the head alone, the restriction, fields joined in order, the
// field tags (keywords and title crossed over), quoting, and a rating that must be a whole number.
TEST(ExpressStatementsTest, QuickSearchStatements)
{
    const QString head = OVNFind::selectList();
    const QString all = " (" + like("displaytag", "%beach%").mid(1) + " or" + like("keywords", "%beach%") + " or"
                        + like("shortdesc", "%beach%") + " or" + like("fulldesc", "%beach%") + ")";
    const struct {
        QuickSearch search;
        QString sqlite;
        QString server; // "" as on SQLite
    } cases[] = {
        {quick({}), head, ""},
        {quick({}, {"c1", "c'2"}, true), head + " where  categoryid in ('c1', 'c''2')", ""},
        {quick({}, {}, true), head + " where  categoryid in ('')", ""},
        {quick({{"", 0, false}, {"beach", 0, true}}), head, ""},
        {quick({{"sun", Keywords, false}, {"beach", All, true}}),
         head + " where " + like("shortdesc", "%sun%") + " OR " + all, ""},
        {quick({{"sun", ShortDescription, false}, {"", Rating, true}, {"x", FullDescription, false}}),
         head + " where " + like("keywords", "%sun%") + " AND " + like("fulldesc", "%x%"), ""},
        {quick({{"3", Rating, false}}), head + " where  rating=3", ""},
        {quick({{" +4 ", Rating, false}, {"SUN", DisplayTag, true}}, {"c1"}, true),
         head + " where  categoryid in ('c1') and ( rating=4 OR " + like("displaytag", "%SUN%") + ")", ""},
        {quick({{"O'Brien", DisplayTag, false}}), head + " where " + like("displaytag", "%O''Brien%"), ""},
        // Wildcards and the escape character are matched as typed, alike on both vendors.
        {quick({{"a\\b", DisplayTag, false}}), head + " where " + like("displaytag", "%a\\\\b%"), ""},
        {quick({{"100%_x", Keywords, false}}), head + " where " + like("shortdesc", "%100\\%\\_x%"), ""},
        {quick({{"x", 9, false}, {"y", DisplayTag, false}}), head + " where " + like("displaytag", "%y%"), ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.search.refusal(), "");
        EXPECT_EQ(withoutSizeLook(c.search.statement(Dialect::SQLite)), c.sqlite)
            << qPrintable(c.search.statement(Dialect::SQLite));
        EXPECT_EQ(withoutSizeLook(c.search.statement(Dialect::PostgreSQL)), c.server.isEmpty() ? c.sqlite : c.server)
            << qPrintable(c.search.statement(Dialect::PostgreSQL));
    }
    for (const char *value : {"x", "3.5", "3; delete from strvfile", "1 or 1=1", "", "9999999999"}) {
        const QuickSearch search = quick({{"a", All, false}, {QString::fromUtf8(value), Rating, false}});
        EXPECT_EQ(search.refusal(), QByteArray(value).isEmpty() ? "" : "Rating must be a number") << value;
        EXPECT_EQ(search.statement(Dialect::SQLite).isEmpty(), !QByteArray(value).isEmpty()) << value;
    }
    EXPECT_EQ(tagTitle(Keywords), "Keywords");
    EXPECT_EQ(tagMenu().size(), 8u);
}

// The expert statement: every placeholder in any case, the joins its text asks for, the field
// menu's templates, and the restriction with the condition in parentheses.
// What a quick search asks of the server for each entry is what the expert checker counts for its
// statement's condition (the title is short and not counted); a search of a word or two may run
// over descriptions of a megabyte and more, all four fields over all columns still over several
// hundred kilobytes.
TEST(ExpressStatementsTest, QuickSearchesCostWhatTheirConditionCosts)
{
    const struct {
        QuickSearch search;
        qint64 atLeast, below; // the bound on the fields' size in bytes
    } cases[] = {
        {quick({{"beach", All, false}}), 2 << 20, 4 << 20},
        {quick({{"beach", FullDescription, false}}), 4 << 20, 16 << 20},
        {quick({{"100%_x", Keywords, false}, {"3", Rating, false}}), 4 << 20, 16 << 20},
        {quick({{"sun", All, false}, {"sea", All, true}, {"city", All, false}, {"old town", All, true}}), 512 << 10,
         1 << 20},
        {quick({{"sunset", DisplayTag, false}, {"4", Rating, true}}), -1, 0},
        {quick({{"", All, false}, {"beach", All, true}}), -1, 0},
    };
    for (const auto &c : cases) {
        const QString sql = withoutSizeLook(c.search.statement(Dialect::PostgreSQL));
        const qsizetype where = sql.indexOf(" where ");
        const OVNExpertCondition::Cost cost = c.search.cost(Dialect::PostgreSQL);
        OVNExpertCondition::Cost expected;
        if (where >= 0) {
            // The checker reads the columns with their table.
            QString condition = sql.mid(where + 7);
            for (const char *column : {"displaytag", "keywords", "shortdesc", "fulldesc"})
                condition.replace(QStringLiteral("upper(%1)").arg(QLatin1String(column)),
                                  QStringLiteral("upper(strvfile.%1)").arg(QLatin1String(column)));
            ASSERT_FALSE(OVNExpertCondition::check(condition, &expected)) << qPrintable(condition);
        }
        EXPECT_EQ(cost.copies, expected.copies) << qPrintable(sql.mid(where));
        EXPECT_EQ(cost.passes, expected.passes) << qPrintable(sql.mid(where));
        QStringList columns = cost.longColumns, expectedColumns = expected.longColumns;
        columns.sort();
        expectedColumns.sort();
        EXPECT_EQ(columns, expectedColumns) << qPrintable(sql.mid(where));
        const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
        EXPECT_GE(largest, c.atLeast) << qPrintable(sql.mid(where));
        EXPECT_LT(largest, c.below) << qPrintable(sql.mid(where));
        const QString oversized = c.search.oversizedStatement(cost.longColumns, largest, Dialect::SQLite);
        EXPECT_EQ(oversized.isEmpty(), cost.longColumns.isEmpty());
        for (const QString &column : cost.longColumns)
            EXPECT_TRUE(oversized.contains("length(cast(" + column + " as blob)) > " + QString::number(largest)));
    }
}

TEST(ExpressStatementsTest, ExpertSearchStatements)
{
    ASSERT_EQ(placeholders().size(), 58u);
    for (const auto &[placeholder, column] : placeholders()) {
        EXPECT_EQ(ExpertSearch::replacedClause(placeholder.toUpper() + " = 1 and 2 < " + placeholder),
                  column + " = 1 and 2 < " + column);
        EXPECT_TRUE(column.startsWith("strv"));
    }
    EXPECT_EQ(ExpertSearch::replacedClause("#keywords# #shortdesc# #nosuch#"),
              "strvfile.shortdesc strvfile.keywords #nosuch#");

    const QString head = OVNFind::selectList();
    const QString purchased = " left outer join strvpurchased on strvfile.mid=strvpurchased.mid";
    const QString sold = " left outer join strvsold on strvfile.mid=strvsold.mid";
    const QString exif = " left outer join strvexif on strvfile.mid=strvexif.mid";
    const struct {
        const char *clause;
        bool restricted;
        QString sql;
    } cases[] = {
        {"", false, head},
        {"  ", true, head + " where  categoryid in ('c1')"},
        {"#rating# > 2", false, head + " where (strvfile.rating > 2)"},
        {"#rating# > 2 or 1=1", true, head + " where  categoryid in ('c1') and (strvfile.rating > 2 or 1=1)"},
        {"'x' = #P.owner#", false, head + purchased + " where ('x' = strvpurchased.owner)"},
        {"strvexif.cameramake = 'C' and #s.customer# = ''", false,
         head + sold + exif + " where (strvexif.cameramake = 'C' and strvsold.customer = '')"},
        {"1 = 1", false, head + " where (1 = 1)"},
    };
    for (const auto &c : cases) {
        ExpertSearch search;
        search.clause = QString::fromUtf8(c.clause);
        search.restricted = c.restricted;
        search.categoryIds = {"c1"};
        EXPECT_EQ(search.statement(), c.sql) << c.clause;
    }
    ExpertSearch gated;
    gated.clause = "#rating# > 2 or 1=1";
    gated.readableCategoryIds = QStringList{"c1", "c'2"};
    EXPECT_EQ(gated.statement(),
              head
                  + " where (case when strvfile.categoryid in ('c1', 'c''2') then (strvfile.rating > 2 or "
                    "1=1) else false end)");
    gated.readableCategoryIds = QStringList();
    EXPECT_TRUE(
        gated.statement().endsWith(" where (case when strvfile.categoryid in ('') then (strvfile.rating > 2 or 1=1) "
                                   "else false end)"));
    EXPECT_EQ(clauseTemplate(2, "#imagewidth# * #imageheight#"), " #imagewidth# * #imageheight# = 99");
    EXPECT_EQ(clauseTemplate(1, "#p.owner#"), " upper(#p.owner#) like upper('%VALUE%')");
    EXPECT_EQ(clauseTemplate(3, "#dts#"), " #dts# > '2005-03-29 00:00:00'");
    EXPECT_EQ(clauseTemplate(5, "#rating#"), " #rating# = 1");
    EXPECT_EQ(clauseTemplate(0, "#x#"), " #x#");
    // Every item of the field menu inserts a clause that compiles.
    for (const FieldItem &item : fieldMenu()) {
        ExpertSearch search;
        search.clause = clauseTemplate(item.operatorType, item.tag);
        EXPECT_FALSE(search.statement().contains('#')) << qPrintable(item.tag);
    }
}

// The condition check: every hostile condition is refused naming its word, with no statement to
// run; plain conditions and every template of the field menu pass.
TEST(ExpressStatementsTest, ExpertConditionsAreReadByAllowList)
{
    ASSERT_GE(std::size(hostileClauses), 43u);
    for (const auto &c : hostileClauses) {
        ExpertSearch search;
        search.clause = QString::fromUtf8(c.clause);
        const std::optional<OVNExpertCondition::Refusal> refused =
            OVNExpertCondition::check(ExpertSearch::replacedClause(search.clause));
        ASSERT_TRUE(refused) << c.clause;
        EXPECT_EQ(refused->word, QString::fromUtf8(c.word)) << c.clause << " -> " << qPrintable(refused->message);
        EXPECT_TRUE(refused->message.contains(QString::fromUtf8(c.word))) << qPrintable(refused->message);
        EXPECT_EQ(search.refusal(), refused->message);
        EXPECT_EQ(search.statement(), "") << c.clause;
    }
    for (const char *clause : acceptedClauses)
        EXPECT_EQ(ExpertSearch::refusalFor(ExpertSearch::replacedClause(QString::fromUtf8(clause))), "") << clause;
    for (const FieldItem &item : fieldMenu()) {
        const QString clause = clauseTemplate(item.operatorType, item.tag);
        EXPECT_EQ(ExpertSearch::refusalFor(ExpertSearch::replacedClause(clause)), "") << qPrintable(clause);
    }
    for (const auto &[placeholder, column] : placeholders())
        EXPECT_EQ(ExpertSearch::refusalFor(column + " is null"), "") << qPrintable(column);
    // Blank conditions search everything; one that stops short names where.
    EXPECT_EQ(ExpertSearch::refusalFor(" \n "), "");
    EXPECT_EQ(OVNExpertCondition::check("strvfile.rating =")->word, "=");
    EXPECT_EQ(OVNExpertCondition::check(QString(200, '(') + "1" + QString(200, ')'))->message.contains("nested"), true);
}

// What a condition may ask of the catalog for each entry: conditions people write pass, and those that
// would make the server copy the long fields over and over (joined to themselves, nested in case
// functions, converted), name them too often, hold too many operations or are too long are refused,
// naming the word where the bound was passed.
TEST(ExpressStatementsTest, ExpertConditionsAreBoundedInWhatTheyAskOfTheServer)
{
    const auto repeated = [](const QString &term, int count, const QString &between) {
        return QStringList(count, term).join(between);
    };
    const auto nested = [](const char *function, int depth, const QString &inner) {
        return QString(QLatin1String(function) + QLatin1Char('(')).repeated(depth) + inner + QString(depth, ')');
    };
    const QString joined2000 = "length(" + repeated("#fulldesc#", 2000, " || ") + ") > 0";
    const struct {
        QString clause;
        const char *refusedFor; // a part of the refusal, "" when the condition passes
        QString word;
    } cases[] = {
        // Ordinary conditions, larger than most people write.
        {"upper(#keywords#) like '%A%' or upper(#shortdesc#) like '%B%' or upper(#fulldesc#) like '%C%' or "
         "upper(#exif.comments#) like '%D%' or lower(#absolutepath#) like '%/e%'",
         "", ""},
        {repeated("#fulldesc# like '%word%'", 16, " or "), "", ""},
        {repeated("#rating# = 1", 30, " or "), "", ""},
        {"length(" + repeated("#fulldesc#", 8, " || ") + ") > 0", "", ""},
        {"cast(#rating# as varchar(20)) = '3' and #exif.focallength#::numeric(10, 2) > 1.5", "", ""},
        {"#rating# in (" + repeated("1", 2000, ", ") + ")", "", ""},
        {"#filesize# > 123456789012345678901234567890", "", ""},
        // The clauses that grew a server past its memory, and their kind.
        {joined2000, "too long", ""},
        {"length(" + repeated("#fulldesc#", 200, " || ") + ") > 0", "copies", "||"},
        {"length(" + repeated("#fulldesc#", 40, " || ") + ") > 0", "copies", "||"},
        {"length(" + repeated("strvfile.thumbimage", 16, "||") + ") > 0", "copies", "||"},
        {"length(" + repeated("#fulldesc#::text", 12, " || ") + ") > 0", "copies", "||"},
        {"length(" + repeated("#displaytag#", 120, " || ") + ") > 0", "too many operations", "||"},
        {nested("upper", 25, "#fulldesc#") + " = ''", "copies", "upper"},
        {nested("coalesce", 150, "#fulldesc#") + " = ''", "nested too deeply", "coalesce"},
        {repeated("#fulldesc# like '%word%'", 17, " or "), "names the long fields", "fulldesc"},
        {repeated("#rating#", 102, " + ") + " > 0", "too many operations", "+"},
        {repeated("#rating# = 1", 51, " or "), "too many operations", "="},
        {"#displaytag# = '" + QString(8000, 'x') + "'", "too long", ""},
        {"#rating# = 1e99999", "too long", "1e99999"},
        {"#rating# = 1" + QString(50, '0'), "too long", "1" + QString(50, '0')},
        {"cast(#displaytag# as char(10485760)) = ''", "length", "10485760"},
    };
    for (const auto &c : cases) {
        const std::optional<OVNExpertCondition::Refusal> refused =
            OVNExpertCondition::check(ExpertSearch::replacedClause(c.clause));
        const QString shown = c.clause.left(80);
        if (!*c.refusedFor) {
            EXPECT_FALSE(refused) << qPrintable(shown) << " -> " << qPrintable(refused->message);
            continue;
        }
        ASSERT_TRUE(refused) << qPrintable(shown);
        EXPECT_TRUE(refused->message.contains(QLatin1String(c.refusedFor))) << qPrintable(refused->message);
        EXPECT_EQ(refused->word, c.word) << qPrintable(shown);
    }
}

// What the server does for a condition, clause by clause: those it cannot stop (trims of given
// characters), regular expressions in any spelling, patterns made of fields and texts that become
// numbers of any size are refused naming the word; those allowed say what they cost for each entry,
// in copies of its longest long field held at once and passes over it without a look at a cancel.
TEST(ExpressStatementsTest, ExpertClausesAreThoseTheServerEndsWhenTold)
{
    const auto repeated = [](const char *term, int count) {
        return QStringList(count, QString::fromUtf8(term)).join(" or ");
    };
    const struct {
        QString clause;
        QString word; // the refused word; "" when allowed
        qint64 copies = 0;
        qint64 passes = 0;
    } cases[] = {
        // allowed, with their cost
        {"upper(#fulldesc#) like upper('%beach%')", "", 7, 18},
        {"#fulldesc# like '%word%'", "", 1, 7},
        {"length(#fulldesc#) > 1000", "", 1, 2},
        {"substr(#fulldesc#, 1, 5) = 'abcde' or substring(#displaytag#, -2) = 'x'", "", 2, 6},
        {"#fulldesc# = #shortdesc#", "", 2, 10},
        {"#fulldesc# > #shortdesc#", "", 4, 10},
        {repeated("length(upper(#fulldesc#)) = 1", 16), "", 112, 192},
        {"trim(#displaytag#) = 'x' and ltrim(#fulldesc#) <> ''", "", 2, 6},
        {"cast(#rating# as numeric) > 1 and cast('12.5' as numeric) < #exif.focallength#", "", 0, 0},
        {"cast(#displaytag# as integer) = 1 and #displaytag# <> '1e300'", "", 0, 0},
        // trims of given characters
        {"ltrim(#fulldesc#, #shortdesc#) = ''", "ltrim"},
        {"rtrim(#fulldesc#, 'ab') = ''", "rtrim"},
        {"trim(#fulldesc#, 'a') = ''", "trim"},
        {"btrim(#fulldesc#, 'a') = ''", "btrim"},
        // regular expressions
        {"substring(#fulldesc#, 'a(b|c)*d') is null", "'a(b|c)*d'"},
        {"substring(#fulldesc#, 'a', '#') is null", "'a'"},
        {"substring(#fulldesc# from 'a.*') is null", "from"},
        {"substr(#fulldesc#, #rating#) = ''", "strvfile.rating"},
        {"substr(#fulldesc#, 1.5) = ''", "1.5"},
        {"#fulldesc# similar to 'a%'", "similar"},
        {"#fulldesc# ~ 'a+'", "~"},
        {"#fulldesc# ~* 'a'", "~*"},
        {"regexp_replace(#fulldesc#, 'a', 'b') = ''", "regexp_replace"},
        {"regexp_match(#fulldesc#, 'a') is null", "regexp_match"},
        // patterns made of fields
        {"#fulldesc# like #shortdesc#", "strvfile.keywords"},
        {"#fulldesc# like '%' || #shortdesc#", "'%'"},
        // texts that become numbers of any size
        {"cast('1e130000' as numeric) > 0", "'1e130000'"},
        {"'1e130000'::numeric > 0", "'1e130000'"},
        {"#exif.focallength# < ' 9E999 '", "' 9E999 '"},
        {"cast(#displaytag# as numeric) > 0", "numeric"},
        {"cast(#shortdesc# as decimal(10, 2)) > 0", "decimal"},
        {"#fulldesc#::numeric > 0", "numeric"},
    };
    for (const auto &c : cases) {
        OVNExpertCondition::Cost cost;
        const std::optional<OVNExpertCondition::Refusal> refused =
            OVNExpertCondition::check(ExpertSearch::replacedClause(c.clause), &cost);
        const QString shown = c.clause.left(80);
        if (c.word.isEmpty()) {
            EXPECT_FALSE(refused) << qPrintable(shown) << " -> " << qPrintable(refused->message);
            EXPECT_EQ(cost.copies, c.copies) << qPrintable(shown);
            EXPECT_EQ(cost.passes, c.passes) << qPrintable(shown);
            continue;
        }
        ASSERT_TRUE(refused) << qPrintable(shown);
        EXPECT_EQ(refused->word, c.word) << qPrintable(shown) << " -> " << qPrintable(refused->message);
        EXPECT_TRUE(refused->message.contains(c.word)) << qPrintable(refused->message);
    }
    // The bounds in bytes: sixteen changes of case may run over fields of a few hundred kilobytes,
    // not over 32 MB; a condition without long fields over anything.
    OVNExpertCondition::Cost cost;
    ASSERT_FALSE(
        OVNExpertCondition::check(ExpertSearch::replacedClause(repeated("length(upper(#fulldesc#)) = 1", 16)), &cost));
    EXPECT_EQ(cost.longColumns, QStringList{"strvfile.fulldesc"});
    EXPECT_GT(OVNExpertCondition::largestFieldBytes(cost), 256 << 10);
    EXPECT_LT(OVNExpertCondition::largestFieldBytes(cost), 1 << 20);
    ASSERT_FALSE(OVNExpertCondition::check("strvfile.rating = 1", &cost));
    EXPECT_EQ(OVNExpertCondition::largestFieldBytes(cost), -1);
}

class ExpressCatalogTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        travel = db.addCategoryListEntry("Travel", "F");
        lisbon = db.addCategoryListEntry("Lisbon", "C");
        ASSERT_TRUE(db.setCategoryListEntrySuperMID(lisbon, travel));
        studio = db.addCategoryListEntry("Studio", "C");
        for (int i = 0; i < 20; ++i) {
            QVariantMap values = importRecord(i < 12 ? lisbon : studio, QStringLiteral("Sunset %1").arg(i));
            values.insert("rating", i % 6);
            values.insert("shortdesc", i % 2 ? "sea, beach" : "city");
            ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
        }
        searching = openAnother();
    }

    OVNExpressSearch::Outcome run(const QString &sql, int limitMs = 20000)
    {
        return OVNExpressSearch::run(*searching, sql, limitMs);
    }
    OVNExpressSearch::Outcome runExpert(const QString &clause, int limitMs = 20000)
    {
        ExpertSearch search;
        search.clause = clause;
        return OVNExpressSearch::runExpert(*searching, search, limitMs);
    }
    QStringList catalogState()
    {
        QStringList state;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(OVNDBHelper::mediaSelect()))
            state << entry->value("mid").toString() + entry->value("rating").toString()
                         + entry->value("shortdesc").toString();
        state.sort();
        return state;
    }
    // A statement (no condition a user may write) whose cross product is far too large to count
    // within any limit.
    static QString runaway()
    {
        return OVNFind::selectList()
               + " where (select count(*) from strvfile a, strvfile b, strvfile c, strvfile d, "
                 "strvfile e, strvfile f, strvfile g, strvfile h) > 0";
    }

    QString travel, lisbon, studio;
    std::unique_ptr<OVNDatabaseAccess> searching;
};

// Searches find what they should; statements that could write, read the user tables or run away
// are refused or stopped, leave the catalog as it was and leave the connection ready at once.
TEST_P(ExpressCatalogTest, SearchesFindAndHostileClausesAreRefusedOrStopped)
{
    const Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 20);
    EXPECT_EQ(run(quick({{"SUNSET 1", DisplayTag, false}}).statement(dialect)).records.size(), 11);
    EXPECT_EQ(run(quick({{"beach", Keywords, false}, {"5", Rating, false}}).statement(dialect)).records.size(), 3);
    // A caller reading only the titles gets them and the owning category, which decides what it may see.
    const OVNExpressSearch::Outcome titles =
        OVNExpressSearch::run(*searching, quick({{"SUNSET 1", DisplayTag, false}}).statement(dialect), 20000, nullptr,
                              1u << MediaRecord::DisplayTag);
    ASSERT_EQ(titles.records.size(), 11);
    for (const MediaRecordRef &entry : titles.records) {
        EXPECT_TRUE(entry->field(MediaRecord::DisplayTag).startsWith("Sunset 1"));
        EXPECT_TRUE(entry->field(MediaRecord::CategoryId) == lisbon || entry->field(MediaRecord::CategoryId) == studio);
        EXPECT_EQ(entry->field(MediaRecord::Mid), "");
    }
    // The OR stays inside the chosen category.
    const std::vector<OVNExpressSearch::Catalog> catalogs = OVNExpressSearch::catalogsOf(db);
    ASSERT_EQ(catalogs.size(), 3u);
    EXPECT_EQ(catalogs[1].ids, (QStringList{travel, lisbon}));
    EXPECT_EQ(run(quick({{"city", Keywords, false}, {"beach", All, true}}, catalogs[2].ids, true).statement(dialect))
                  .records.size(),
              8);
    EXPECT_EQ(runExpert("#rating# >= 4 and upper(#keywords#) like upper('%BEACH%')").records.size(), 3);
    EXPECT_EQ(runExpert("#exif.cameramake# is null").records.size(), 20);

    // Every template of the field menu and every placeholder runs.
    for (const FieldItem &item : fieldMenu()) {
        const OVNExpressSearch::Outcome outcome = runExpert(clauseTemplate(item.operatorType, item.tag));
        EXPECT_EQ(outcome.status, Status::Found) << qPrintable(item.tag) << " -> " << qPrintable(outcome.message);
    }
    for (const auto &[placeholder, column] : placeholders())
        EXPECT_EQ(runExpert(placeholder + " is null or " + placeholder + " is not null").records.size(), 20)
            << qPrintable(placeholder);
    for (const char *clause : acceptedClauses)
        EXPECT_NE(runExpert(QString::fromUtf8(clause)).status, Status::Refused) << clause;

    if (isPostgres()) {
        // A function that writes, as a server may hold one.
        ASSERT_TRUE(db.runSQLCommand("create function wipe() returns integer language sql as "
                                     "'delete from strvfile returning 1'"));
    }
    const QStringList before = catalogState();
    // Refused before the catalog is asked: the same on a closed connection.
    std::unique_ptr<OVNDatabaseAccess> closed = openAnother();
    closed->closeDBConnection();
    for (const auto &c : hostileClauses) {
        ExpertSearch search;
        search.clause = QString::fromUtf8(c.clause);
        for (OVNDatabaseAccess *connection : {searching.get(), closed.get()}) {
            const OVNExpressSearch::Outcome outcome = OVNExpressSearch::runExpert(*connection, search, 400);
            EXPECT_EQ(outcome.status, Status::Refused) << c.clause << " -> " << qPrintable(outcome.message);
            EXPECT_EQ(outcome.message, search.refusal()) << c.clause;
        }
    }
    EXPECT_EQ(runExpert(isPostgres() ? "wipe() > 0" : "load_extension('libc') is null").status, Status::Refused);
    // What the catalog itself refuses or stops, as its own sentence; its error text goes to the log only.
    const struct {
        QString sql;
        Status status;
        const char *message;
    } walls[] = {
        {OVNFind::selectList() + " where (select count(*) from generate_series(1, 100000000000)) > 0",
         isPostgres() ? Status::TimedOut : Status::Failed,
         isPostgres() ? "The search took longer than 0.4 seconds and was stopped." : "The search could not run."},
        {runaway(), Status::TimedOut, "The search took longer than 0.4 seconds and was stopped."},
        {OVNFind::selectList()
             + (isPostgres() ? " where wipe() > 0" : " where 1 = (select count(*) from sqlite_master)"),
         Status::Refused,
         isPostgres() ? "The statement would change the catalog."
                      : "The search may read only the media tables, not \"sqlite_master\"."},
        {OVNFind::selectList() + " where strvfile.nosuchcolumn = 1", Status::Failed, "The search could not run."},
        {OVNFind::selectList() + " where upper() = 'x'", Status::Failed, "The search could not run."},
    };
    for (const auto &c : walls) {
        const OVNExpressSearch::Outcome outcome = run(c.sql, 400);
        EXPECT_EQ(outcome.status, c.status) << qPrintable(c.sql) << " -> " << qPrintable(outcome.message);
        EXPECT_EQ(outcome.message, c.message) << qPrintable(c.sql);
        EXPECT_TRUE(outcome.records.isEmpty());
        EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 20) << "after " << qPrintable(c.sql);
    }
    EXPECT_EQ(catalogState(), before);
    if (!isPostgres()) {
        EXPECT_EQ(run(OVNFind::selectList() + " where printf('%.*c', 1000000000, 'x') = ''").status, Status::Refused);
    }

    // Stop from another thread ends a runaway search, which leaves the connection usable.
    OVNExpressSearch::Outcome stopped;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        stopped = run(runaway(), 60000);
        done = true;
    });
    while (!done) {
        searching->stopReadOnlySearch();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    EXPECT_EQ(stopped.status, Status::Stopped) << qPrintable(stopped.message);
    EXPECT_EQ(stopped.message, "The search was stopped.");
    EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 20);
}

// The time limit stops a search also inside one long pattern match, where SQLite's machine takes no
// step for seconds (LIKE and GLOB over a text of millions of characters); below the limit the clocked
// functions (instr among them) answer as SQLite's own, escapes, classes and case included.
TEST_P(ExpressCatalogTest, TheTimeLimitStopsOneLongPatternMatch)
{
    QVariantMap values = importRecord(studio, QStringLiteral("Long"));
    values.insert("fulldesc", QString(isPostgres() ? 10 : 3000000, QLatin1Char('a')));
    ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
    // A plain word (matched as a substring) and one with wildcards inside (matched by backtracking),
    // each far beyond any limit at millions of characters.
    const QString word = QString(20000, QLatin1Char('a')) + QLatin1Char('b');
    QString likeWild, globWild;
    for (int i = 0; i < 200; ++i) {
        likeWild += QStringLiteral("a_");
        globWild += QStringLiteral("a?");
    }
    // SQLite's own: the server keeps its statement timeout itself.
    QStringList slow;
    if (!isPostgres())
        slow << "strvfile.fulldesc like '%" + word + "%'"
             << "strvfile.fulldesc like '%" + likeWild + "b%'"
             << "strvfile.fulldesc glob '*" + word + "*'"
             << "strvfile.fulldesc glob '*" + globWild + "b*'";
    for (const QString &condition : slow) {
        const OVNExpressSearch::Outcome outcome = run(OVNFind::selectList() + " where " + condition, 300);
        EXPECT_EQ(outcome.status, Status::TimedOut) << qPrintable(condition.left(60));
        EXPECT_EQ(outcome.message, "The search took longer than 0.3 seconds and was stopped.");
        EXPECT_TRUE(outcome.records.isEmpty());
    }

    const char *const texts[] = {"Sunset at the Beach", "100% cotton_shirt", "a\\b", "ÄÖÜ äöü", "[x]*?", ""};
    for (const char *text : texts) {
        QVariantMap entry = importRecord(studio, QStringLiteral("Pattern"));
        entry.insert("shortdesc", QString::fromUtf8(text));
        ASSERT_FALSE(db.addMediaListEntry(entry).isEmpty());
    }
    QStringList conditions = {
        "strvfile.shortdesc like '%beach'",
        "strvfile.shortdesc like 'SUNSET%'",
        "strvfile.shortdesc like '%a_the%'",
        "strvfile.shortdesc like '100!%%' escape '!'",
        "strvfile.shortdesc like '%!_%' escape '!'",
        "strvfile.shortdesc like '%\\%' escape '\\'",
        "strvfile.shortdesc like 'äöü%'",
        "strvfile.shortdesc like 'Ä_Ü%'",
        "strvfile.shortdesc like ''",
        "strvfile.shortdesc like '%'",
        "strvfile.shortdesc like '%%%t'",
        "strvfile.shortdesc not like '%a%'",
        "upper(strvfile.shortdesc) like '%SEA%'",
    };
    if (!isPostgres()) {
        conditions << "strvfile.shortdesc glob '*Beach'"
                   << "strvfile.shortdesc glob '*beach'"
                   << "strvfile.shortdesc glob '[A-Z]*'"
                   << "strvfile.shortdesc glob '[^S]*'"
                   << "strvfile.shortdesc glob '[[]x]*'"
                   << "strvfile.shortdesc glob '?*_*'"
                   << "strvfile.shortdesc glob '[]x]*'"
                   << "strvfile.shortdesc glob '[x'"
                   << "instr(strvfile.shortdesc, 'at') = 8"
                   << "instr(strvfile.shortdesc, 'äö') = 5"
                   << "instr(strvfile.shortdesc, '') = 1"
                   << "instr(strvfile.shortdesc, 'zz') = 0";
    }
    for (const QString &condition : conditions) {
        const QString sql = OVNFind::selectList() + " where " + condition;
        QStringList expected;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(sql))
            expected << entry->field(MediaRecord::Mid);
        QStringList found;
        const OVNExpressSearch::Outcome outcome = run(sql);
        EXPECT_EQ(outcome.status, Status::Found) << qPrintable(condition) << ": " << qPrintable(outcome.message);
        for (const MediaRecordRef &entry : outcome.records)
            found << entry->field(MediaRecord::Mid);
        expected.sort();
        found.sort();
        EXPECT_EQ(found, expected) << qPrintable(condition);
    }
}

// Without user tables everything is listed, found and may be rated.
// Over an entry with a description of a megabyte, the conditions that once grew a server past its
// memory are refused before it sees them, one at the bounds runs, and those whose cost grows with the
// description past what the server may spend on one entry (a LIKE that compares thousands of
// characters at each place of the text, sixteen changes of case) leave that entry out, named, and
// test the others; the next search runs as usual either way.
TEST_P(ExpressCatalogTest, SearchesOverALongDescriptionEndWithinTheirLimit)
{
    const Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    QVariantMap values = importRecord(studio, QStringLiteral("Long"));
    values.insert("fulldesc", QString(1 << 20, QLatin1Char('a')));
    ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
    const auto joined = [](int terms) {
        return "length(" + QStringList(terms, QStringLiteral("#fulldesc#")).join(" || ") + ") > 0";
    };
    constexpr int limitMs = 1000;
    const struct {
        QString clause;
        Status status;
        bool leftOut; // the long entry, named
    } cases[] = {
        {joined(2000), Status::Refused, false},
        {joined(200), Status::Refused, false},
        {joined(40), Status::Refused, false},
        {joined(8), Status::Found, false},
        // Thousands of characters compared at each of a million places, with no look at a cancel
        // request: not for this entry, as for any entry whose fields are too large for the condition.
        {"#fulldesc# like '%" + QString(6000, QLatin1Char('a')) + "b%' or #rating# >= 0", Status::Found, true},
        {QStringList(16, QStringLiteral("length(upper(#fulldesc#)) >= 0")).join(" or "), Status::Found, true},
        {"upper(#fulldesc#) like upper('%b%')", Status::Found, false},
    };
    for (const auto &c : cases) {
        // A search past its limit answers TimedOut: that it ended by the limit is in its status.
        const OVNExpressSearch::Outcome outcome = runExpert(c.clause, limitMs);
        EXPECT_EQ(outcome.status, c.status) << qPrintable(c.clause.left(60)) << " -> " << qPrintable(outcome.message);
        EXPECT_EQ(outcome.leftOut.contains("\"Long\""), c.leftOut) << qPrintable(outcome.leftOut);
        if (c.leftOut) {
            // Every other entry is tested, and found.
            EXPECT_EQ(outcome.records.size(), 20) << qPrintable(c.clause.left(60));
        }
        EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 21) << "after " << qPrintable(c.clause.left(60));
    }
}

// Quick searches and find lines over an entry with a planted description of 4 MB: those whose changes
// of case or patterns would take the server past what one entry may cost leave that entry out,
// named (a quick search of every column, a find pattern of 4000 characters), and find what they
// find over the others; the next search runs as usual either way.
TEST_P(ExpressCatalogTest, QuickSearchesAndFindsOverAPlantedDescriptionAreBounded)
{
    const Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    QVariantMap values = importRecord(studio, QStringLiteral("Planted"));
    values.insert("fulldesc", QString(4 << 20, QLatin1Char('a')) + "needle");
    values.insert("shortdesc", "city");
    values.insert("rating", 4);
    ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
    const auto findLine = [](const char *column, int op, const QString &value) {
        OVNFind find;
        OVNFindLine &line = find.lines()[size_t(find.addLine())];
        line.chooseField(*OVNFindLine::fieldFor("strvfile", QString::fromLatin1(column)));
        line.setOperatorId(op);
        line.setValue(value);
        return find;
    };
    const struct {
        std::optional<QuickSearch> search; // else `find`
        OVNFind find;
        Status status;
        qsizetype found;
        bool leftOut; // the planted entry, named
    } cases[] = {
        // Ordinary searches, over the planted entry too.
        {quick({{"beach", Keywords, false}}), {}, Status::Found, 10, false},
        {quick({{"NEEDLE", FullDescription, false}}), {}, Status::Found, 1, false},
        {quick({{"city", Keywords, false}, {"4", Rating, false}}), {}, Status::Found, 4, false},
        {quick({{"Planted", DisplayTag, false}}), {}, Status::Found, 1, false},
        // A change of case of every column at once copies the description past the bound: the
        // planted entry is left out, the ten others are found.
        {quick({{"city", All, false}}), {}, Status::Found, 10, true},
        {std::nullopt, findLine("fulldesc", 0, "needle"), Status::Found, 1, false},
        {std::nullopt, findLine("shortdesc", 3, "CITY"), Status::Found, 11, false},
        // 4000 characters compared at each of four million places with no look at a cancel request.
        {std::nullopt, findLine("fulldesc", 0, QString(4000, QLatin1Char('a'))), Status::Found, 0, true},
        {std::nullopt, findLine("fulldesc", 0, QString(4000, QLatin1Char('b'))), Status::Found, 0, true},
    };
    for (const auto &c : cases) {
        OVNExpressSearch::Outcome outcome;
        QString shown;
        if (c.search) {
            outcome = OVNExpressSearch::runQuick(*searching, *c.search, 20000);
            shown = c.search->statement(dialect).mid(OVNFind::selectList().size(), 80);
        } else {
            shown = c.find.searchClause(dialect).mid(OVNFind::selectList().size(), 80);
            outcome = OVNExpressSearch::checkFieldSizes(*searching, c.find);
            EXPECT_TRUE(outcome.records.isEmpty()) << qPrintable(shown);
            if (outcome.status == Status::Found) {
                const QString leftOut = outcome.leftOut;
                outcome = run(c.find.searchClause(dialect));
                outcome.leftOut = leftOut;
            }
        }
        EXPECT_EQ(outcome.status, c.status) << qPrintable(shown) << " -> " << qPrintable(outcome.message);
        EXPECT_EQ(outcome.records.size(), c.found) << qPrintable(shown);
        // Left out, named, where the bound held it: nowhere else.
        EXPECT_EQ(outcome.leftOut.contains("\"Planted\""), c.leftOut)
            << qPrintable(shown) << " -> " << qPrintable(outcome.leftOut);
        EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 21) << "after " << qPrintable(shown);
    }
}

// Searches given up over planted descriptions leave no server process at work: seven searches at
// once with the heaviest pattern the bounds allow over them end at their limit, and a statement the
// server cannot stop (a trim of given characters, which no condition may hold) has its process ended
// before the search answers. Another search and an import then run as usual. On a catalog file the
// trims of given characters answer as SQLite's own, without going over each character for each place.
TEST_P(ExpressCatalogTest, GivenUpSearchesLeaveNoServerProcessAtWork)
{
    const Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    const QString planted = db.addCategoryListEntry("Planted", "C");
    for (int i = 0; i < 7; ++i) {
        QVariantMap values = importRecord(planted, QStringLiteral("Planted %1").arg(i));
        values.insert("fulldesc", QString(200000, QLatin1Char('a')));
        values.insert("shortdesc", QString(isPostgres() ? 20000 : 200000, QLatin1Char('b')) + QLatin1Char('a'));
        ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
    }
    const QString heaviest = "#fulldesc# like '%" + QString(2600, QLatin1Char('a')) + "b%'";
    OVNExpertCondition::Cost cost;
    ASSERT_FALSE(OVNExpertCondition::check(ExpertSearch::replacedClause(heaviest), &cost));
    ASSERT_GE(OVNExpertCondition::largestFieldBytes(cost), 200000);

    std::vector<std::unique_ptr<OVNDatabaseAccess>> sessions;
    for (int i = 0; i < 7; ++i)
        sessions.push_back(openAnother());
    std::vector<OVNExpressSearch::Outcome> outcomes(sessions.size());
    {
        std::vector<std::thread> searches;
        for (size_t i = 0; i < sessions.size(); ++i) {
            searches.emplace_back([&, i] {
                ExpertSearch search;
                search.clause = heaviest;
                outcomes[i] = OVNExpressSearch::runExpert(*sessions[i], search, 300);
            });
        }
        for (std::thread &search : searches)
            search.join();
    }
    for (const OVNExpressSearch::Outcome &outcome : outcomes)
        EXPECT_EQ(outcome.status, Status::TimedOut) << qPrintable(outcome.message);

    // Not a condition anyone may type: the statement the trims once made, which the server runs to
    // its end whatever it is told (on SQLite it answers at once).
    const QString unstoppable = OVNFind::selectList() + " where ltrim(strvfile.fulldesc, strvfile.shortdesc) = ''";
    const OVNExpressSearch::Outcome trimmed = run(unstoppable, isPostgres() ? 300 : 10000);
    EXPECT_EQ(trimmed.status, isPostgres() ? Status::TimedOut : Status::Found) << qPrintable(trimmed.message);
    if (!isPostgres()) {
        EXPECT_EQ(trimmed.records.size(), 7);
    }

    if (isPostgres()) {
        // Every search has answered: none of their processes is still at a statement.
        const QList<OVNRow> busy =
            db.rowsForQuery("select pid, query from pg_stat_activity where datname = current_database() and "
                            "state = 'active' and pid <> pg_backend_pid()");
        for (const OVNRow &row : busy)
            ADD_FAILURE() << "still at work: " << row.value(0).toInt()
                          << qPrintable(row.value(1).toString().right(120));
    }
    // Another member searches and imports meanwhile.
    std::unique_ptr<OVNDatabaseAccess> other = openAnother();
    EXPECT_EQ(OVNExpressSearch::run(*other, quick({{"Planted", DisplayTag, false}}).statement(dialect)).records.size(),
              7);
    EXPECT_FALSE(other->addMediaListEntry(importRecord(planted, QStringLiteral("Imported"))).isEmpty())
        << qPrintable(other->getLastErrorMessage());
    for (const std::unique_ptr<OVNDatabaseAccess> &session : sessions)
        EXPECT_EQ(OVNExpressSearch::run(*session, quick({}).statement(dialect)).records.size(), 28);

    if (isPostgres())
        return;
    // The trims with characters answer as SQLite's own, the first given character that stands at a
    // place taken off, multi-byte ones whole.
    const char *const texts[] = {"xxabcxx", "äöäTextöä", "  plain  ", "", "abc"};
    for (const char *text : texts) {
        QVariantMap entry = importRecord(studio, QStringLiteral("Trim"));
        entry.insert("shortdesc", QString::fromUtf8(text));
        ASSERT_FALSE(db.addMediaListEntry(entry).isEmpty());
    }
    for (const char *condition :
         {"ltrim(shortdesc, 'x') = 'abcxx'", "rtrim(shortdesc, 'xc') = 'xxab'", "trim(shortdesc, 'äö') = 'Text'",
          "trim(shortdesc, '') = shortdesc", "trim(shortdesc, 'abc') = ''", "ltrim(shortdesc, null) is null",
          "rtrim(shortdesc, ' p') = '  plain'", "trim(shortdesc, 'xa') like 'bc%'"}) {
        const QString sql = OVNFind::selectList() + " where strvfile.categoryid = '" + studio + "' and " + condition;
        QStringList expected, found;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(sql))
            expected << entry->field(MediaRecord::Mid);
        const OVNExpressSearch::Outcome outcome = run(sql);
        EXPECT_EQ(outcome.status, Status::Found) << condition << ": " << qPrintable(outcome.message);
        for (const MediaRecordRef &entry : outcome.records)
            found << entry->field(MediaRecord::Mid);
        expected.sort();
        found.sort();
        EXPECT_FALSE(expected.isEmpty() && QByteArray(condition).contains("=")) << condition;
        EXPECT_EQ(found, expected) << condition;
    }
    // Texts and characters drawn from one- to three-byte characters: each trim leaves the length
    // SQLite's own leaves.
    const QStringList alphabet = {"a", "b", "ä", "€"};
    std::mt19937 draw(73);
    const auto drawn = [&](int most) {
        QString text;
        for (int n = int(draw() % unsigned(most + 1)); n > 0; --n)
            text += alphabet.at(int(draw() % unsigned(alphabet.size())));
        return text;
    };
    const QString drawnCategory = db.addCategoryListEntry("Drawn", "C");
    for (int i = 0; i < 30; ++i) {
        QVariantMap entry = importRecord(drawnCategory, QStringLiteral("Drawn"));
        entry.insert("shortdesc", drawn(8));
        ASSERT_FALSE(db.addMediaListEntry(entry).isEmpty());
    }
    for (int round = 0; round < 6; ++round) {
        const QString characters = drawn(3);
        for (const char *trim : {"trim", "ltrim", "rtrim"}) {
            for (int length = 0; length <= 8; ++length) {
                const QString sql = OVNFind::selectList() + " where strvfile.categoryid = '" + drawnCategory
                                    + "' and length(" + trim + "(shortdesc, '" + characters
                                    + "')) = " + QString::number(length);
                QStringList expected, found;
                for (const MediaRecordRef &entry : db.getMediaListForSQL(sql))
                    expected << entry->field(MediaRecord::Mid);
                for (const MediaRecordRef &entry : run(sql).records)
                    found << entry->field(MediaRecord::Mid);
                expected.sort();
                found.sort();
                EXPECT_EQ(found, expected) << qPrintable(sql.mid(sql.indexOf("length(")));
            }
        }
    }
}

// The roads by which one member held the others' searches, or the shared server, each taken from his
// side: an entry of his with a description of 5 MB (quick searches of every field, long find lines
// and conditions over it leave it out, named, and find the others), a name of 20 MB on a catalog
// file (counted like any long field there), his search killed while the server runs it (its server
// process ends at once rather than at its time limit), a time limit of a million seconds, and a
// server whose every connection he holds (the next member is told it is full).
TEST_P(ExpressCatalogTest, NoMembersEntryOrSearchHoldsAnothersSearchOrTheServer)
{
    const Dialect dialect = isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite;
    const auto plant = [&](const QString &name, const char *column, const QString &text) {
        QVariantMap values = importRecord(studio, name);
        values.insert(QString::fromLatin1(column), text);
        const QString mid = db.addMediaListEntry(values);
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        return mid;
    };
    const auto findLine = [](const char *column, const QString &value) {
        OVNFind find;
        OVNFindLine &line = find.lines()[size_t(find.addLine())];
        line.chooseField(*OVNFindLine::fieldFor("strvfile", QString::fromLatin1(column)));
        line.setValue(value);
        return find;
    };
    const auto tool = [&](const QStringList &arguments, QProcess &process) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (const std::optional<PgTestServer> server = pgTestServer())
            environment.insert(QStringLiteral("PGPASSWORD"), server->password);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(OVN_TOOLS_DIR "/ovn-express"), arguments);
    };
    const auto catalogUrl = [&](int port) {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(pgTestServer()->user).arg(port).arg(m_pgDatabase);
    };
    // The server processes at a search of this test's catalog.
    const auto searchesRunning = [&] {
        return db.rowsForQuery("select pid from pg_stat_activity where state = 'active' and pid <> "
                               "pg_backend_pid() and datname = current_database() and query like 'select %'");
    };
    const struct {
        const char *attack;
        bool onServer, onFile;
        std::function<void()> road;
    } roads[] = {
        {"plants a description of 5 MB", true, true,
         [&] {
             plant("Planted", "fulldesc", QString(5 << 20, QLatin1Char('a')) + "city");
             const QString named = "The entry \"Planted\" was left out of the search";
             const OVNExpressSearch::Outcome all =
                 OVNExpressSearch::runQuick(*searching, quick({{"city", All, false}}));
             EXPECT_EQ(all.status, Status::Found) << qPrintable(all.message);
             EXPECT_EQ(all.records.size(), 10);
             EXPECT_TRUE(all.leftOut.startsWith(named)) << qPrintable(all.leftOut);
             const OVNFind find = findLine("fulldesc", QString(4000, QLatin1Char('a')));
             const OVNExpressSearch::Outcome checked = OVNExpressSearch::checkFieldSizes(*searching, find);
             EXPECT_TRUE(checked.leftOut.startsWith(named)) << qPrintable(checked.leftOut + checked.message);
             EXPECT_EQ(run(find.searchClause(dialect)).status, Status::Found);
             const OVNExpressSearch::Outcome expert =
                 runExpert(QStringList(15, QStringLiteral("upper(#fulldesc#) like '%CITY%'")).join(" or ")
                           + " or #keywords# = 'city'");
             EXPECT_EQ(expert.status, Status::Found) << qPrintable(expert.message);
             EXPECT_EQ(expert.records.size(), 10);
             EXPECT_TRUE(expert.leftOut.startsWith(named)) << qPrintable(expert.leftOut);
         }},
        {"plants a name of 20 MB in a catalog file", false, true,
         [&] {
             plant(QString(20 << 20, QLatin1Char('b')) + "Sunset", "shortdesc", "city");
             // The name alone, and every field (the description planted above is left out too).
             const struct {
                 QuickSearch search;
                 const char *said;
             } searches[] = {{quick({{"sunset", DisplayTag, false}}), "The entry \"bbbb"},
                             {quick({{"sunset", All, false}}), "Entries such as \""}};
             for (const auto &[search, said] : searches) {
                 const OVNExpressSearch::Outcome outcome = OVNExpressSearch::runQuick(*searching, search);
                 EXPECT_EQ(outcome.status, Status::Found) << qPrintable(outcome.message);
                 EXPECT_EQ(outcome.records.size(), 20);
                 EXPECT_TRUE(outcome.leftOut.startsWith(said)) << qPrintable(outcome.leftOut.left(200));
                 EXPECT_LT(outcome.leftOut.size(), 1000);
             }
             const OVNExpressSearch::Outcome named = runExpert("upper(#displaytag#) like '%SUNSET%'");
             EXPECT_EQ(named.records.size(), 20) << qPrintable(named.message);
             EXPECT_FALSE(named.leftOut.isEmpty());
         }},
        {"is killed while the server runs his search", true, false,
         [&] {
             for (int i = 0; i < 400; ++i)
                 plant(QStringLiteral("Heavy %1").arg(i), "fulldesc", QString(200000, QLatin1Char('a')));
             QProcess member;
             tool({catalogUrl(pgTestServer()->port), "--time-limit", "300", "--expert",
                   "#fulldesc# like '%" + QString(2600, QLatin1Char('a')) + "b%'"},
                  member);
             ASSERT_TRUE(member.waitForStarted());
             QList<OVNRow> running;
             ASSERT_TRUE(processEventsUntil([&] { return !(running = searchesRunning()).isEmpty(); }, waitCeilingMs))
                 << qPrintable(QString::fromUtf8(member.readAllStandardOutput() + member.readAllStandardError()));
             const int pid = running.first().value(0).toInt();
             member.kill();
             ASSERT_TRUE(member.waitForFinished(waitCeilingMs));
             // Its server process leaves long before the search could have ended on its own.
             EXPECT_TRUE(processEventsUntil(
                 [&] {
                     return db.rowsForQuery(
                                  QStringLiteral("select count(*) from pg_stat_activity where pid = %1").arg(pid))
                                .value(0)
                                .value(0)
                                .toInt()
                            == 0;
                 },
                 waitCeilingMs));
         }},
        {"asks for a time limit of a million seconds", true, true,
         [&] {
             QProcess member;
             tool({catalogPath(), "--time-limit", "1000000", "--quick", "All:city"}, member);
             ASSERT_TRUE(member.waitForFinished(60000));
             EXPECT_EQ(member.exitCode(), 2);
             EXPECT_TRUE(member.readAllStandardError().contains("--time-limit takes"));
         }},
        {"holds every connection of the server", true, false,
         [&] {
             FullPostgresServer full;
             OVNDatabaseAccess next;
             next.setConnectionDetails("PostgreSQL", QStringLiteral("127.0.0.1:%1").arg(full.port()),
                                       pgTestServer()->user, pgTestServer()->password, m_pgDatabase);
             EXPECT_FALSE(OVNCatalogOpening::run(next, OVNCatalogOpening::waitSeconds,
                                                 [&] { return next.isDBConnectionActive() || next.openDBConnection(); },
                                                 {}));
             EXPECT_TRUE(next.lastErrorServerFull());
             EXPECT_TRUE(OVNCatalogLogin::failure(next, "cannot open the catalog")
                             .endsWith("The catalog server is full: every connection it allows is taken."))
                 << qPrintable(OVNCatalogLogin::failure(next, "cannot open the catalog"));
             QProcess member;
             tool({catalogUrl(full.port()), "--quick", "All:city"}, member);
             ASSERT_TRUE(member.waitForFinished(60000));
             EXPECT_EQ(member.exitCode(), 1);
             const QByteArray said = member.readAllStandardOutput() + member.readAllStandardError();
             EXPECT_TRUE(said.contains("The catalog server is full")) << said.constData();
             EXPECT_FALSE(said.contains("cannot be reached")) << said.constData();
         }},
    };
    for (const auto &road : roads) {
        if (!(isPostgres() ? road.onServer : road.onFile))
            continue;
        SCOPED_TRACE(road.attack);
        road.road();
        // Every other member's search runs as usual afterwards.
        EXPECT_EQ(run(quick({{"sunset", DisplayTag, false}}).statement(dialect)).status, Status::Found);
    }
}

TEST_P(ExpressCatalogTest, WithoutUsersEverythingIsFoundAndWritable)
{
    ASSERT_FALSE(searching->useAuthentication());
    EXPECT_EQ(OVNExpressSearch::catalogsOf(*searching).size(), 3u);
    const QString sql = quick({}).statement(isPostgres() ? Dialect::PostgreSQL : Dialect::SQLite);
    EXPECT_EQ(run(sql).records.size(), 20);
    EXPECT_EQ(searching->getCategoryAccessPrivilegesForMID(studio), "FULL ACCESS");
    EXPECT_TRUE(OVNExpressSearch::mayWrite("FULL ACCESS") && OVNExpressSearch::mayWrite("READ & WRITE"));
    EXPECT_FALSE(OVNExpressSearch::mayWrite("READ ONLY") || OVNExpressSearch::mayRead("NO ACCESS")
                 || OVNExpressSearch::mayRead("read only") || OVNExpressSearch::mayRead(""));
}

// With users: a "NO ACCESS" category is neither offered nor searched into, whatever the clause.
class ServerExpressTest : public ExpressCatalogTest
{
protected:
    void SetUp() override
    {
        ExpressCatalogTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        QString staff;
        ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, travel, staff, "NO ACCESS"));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, lisbon, staff, "NO ACCESS"));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, studio, staff, "READ ONLY"));
        main = openAnother();
        ASSERT_NO_FATAL_FAILURE(signInAsAnn(*main));
        searching = OVNExpressSearch::openSearchConnection(*main);
    }
    std::unique_ptr<OVNDatabaseAccess> main;
};

INSTANTIATE_TEST_SUITE_P(Server, ServerExpressTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerExpressTest, NoAccessEntriesAreNeverListed)
{
    ASSERT_TRUE(searching->useAuthentication());
    const std::vector<OVNExpressSearch::Catalog> catalogs = OVNExpressSearch::catalogsOf(*main);
    ASSERT_EQ(catalogs.size(), 2u);
    EXPECT_EQ(catalogs[1].title, "Studio");
    for (const char *clause : {"", "1=1", "#rating# >= 0 or 1=1", "categoryid <> ''"}) {
        const OVNExpressSearch::Outcome outcome = runExpert(clause);
        ASSERT_EQ(outcome.status, Status::Found) << qPrintable(outcome.message);
        EXPECT_EQ(outcome.records.size(), 8) << clause;
        for (const MediaRecordRef &record : outcome.records)
            EXPECT_EQ(record->field(MediaRecord::CategoryId), studio);
    }
}

// A description planted where the user may not read costs the user's searches nothing: the quick
// search of every column runs and finds the user's own entries; a find, which tests every entry and
// lists the readable ones, leaves the planted entry out without a word of it.
TEST_P(ServerExpressTest, APlantedDescriptionOfAnotherNeitherStopsNorShowsInASearch)
{
    QVariantMap values = importRecord(lisbon, QStringLiteral("Hidden plant"));
    values.insert("fulldesc", QString(4 << 20, QLatin1Char('a')));
    ASSERT_FALSE(db.addMediaListEntry(values).isEmpty()) << qPrintable(db.getLastErrorMessage());
    const OVNExpressSearch::Outcome quickly = OVNExpressSearch::runQuick(*searching, quick({{"city", All, false}}));
    EXPECT_EQ(quickly.status, Status::Found) << qPrintable(quickly.message);
    EXPECT_EQ(quickly.records.size(), 4);
    EXPECT_EQ(quickly.leftOut, "");

    OVNFind find;
    OVNFindLine &line = find.lines()[size_t(find.addLine())];
    line.chooseField(*OVNFindLine::fieldFor("strvfile", "fulldesc"));
    line.setValue(QString(4000, QLatin1Char('a')));
    const OVNExpressSearch::Outcome checked = OVNExpressSearch::checkFieldSizes(*searching, find);
    EXPECT_EQ(checked.status, Status::Found) << qPrintable(checked.message);
    EXPECT_EQ(checked.leftOut, "");
}

// A READ ONLY user learns nothing about a NO ACCESS collection through any condition: not through
// what it finds, nor through how it fails or how long it runs. Each probe gives the same answer
// whether or not the hidden collection holds a secret title.
TEST_P(ServerExpressTest, NoAccessEntriesTellNothingThroughAnyCondition)
{
    const QString secretEntry = db.getMediaMIDListForCategory(lisbon).value(0);
    ASSERT_FALSE(secretEntry.isEmpty());
    const char *const probes[] = {
        "exists(select 1 from strvfile f2 where f2.keywords like 'TOPSECRET-x%')",
        "exists(select 1 from ts_stat('select to_tsvector(''simple'', keywords) from strvfile') where word like "
        "'topsecret%')",
        "ts_rewrite(to_tsquery('a'), 'select to_tsquery(''topsecret''), to_tsquery(''b'') from strvfile') is not null",
        "strvfile.keywords like 'TOPSECRET%'",
        "case when strvfile.keywords like 'TOPSECRET%' then 1 / (#rating# - #rating#) else 1 end = 1",
        "case when strvfile.keywords like 'TOPSECRET%' then cast(strvfile.keywords as integer) else 1 end = 1",
        "substr(strvfile.keywords, 1, case when strvfile.keywords like 'TOPSECRET%' then -1 else 1 end) is not null",
        "#keywords# like 'TOPSECRET%' or 1 = 1",
    };
    const auto answers = [&] {
        QStringList seen;
        for (const char *clause : probes) {
            const OVNExpressSearch::Outcome outcome = runExpert(QString::fromUtf8(clause));
            seen
                << QStringLiteral("%1 %2 %3").arg(int(outcome.status)).arg(outcome.records.size()).arg(outcome.message);
            EXPECT_FALSE(outcome.message.contains("ERROR") || outcome.message.contains("LINE"))
                << qPrintable(outcome.message);
        }
        return seen;
    };
    const QStringList without = answers();
    ASSERT_TRUE(db.updateMediaListEntry(secretEntry, "keywords", "TOPSECRET-x1"));
    const QStringList with = answers();
    EXPECT_EQ(with, without);
    EXPECT_EQ(with.value(3), "0 0 "); // found, nothing
    EXPECT_EQ(with.value(4), "0 8 "); // the studio's entries only
}

OVN_CATALOG_VENDORS(ExpressCatalogTest);

// A folder covers every category below it that the user may read, also one inside a folder he may
// not read; the unreadable folder itself is left out. The express panel and the find sheet (and
// ovn-find with it) gather the same places.
TEST_P(ServerExpressTest, AFolderCoversTheReadableCategoriesBelowAnUnreadableOne)
{
    QString staff = db.rowsForQuery("select mid from strvgroups").value(0).value(0).toString();
    ASSERT_FALSE(staff.isEmpty());
    const QString europe = db.addCategoryListEntry("Europe", "F");
    const QString hidden = db.addCategoryListEntry("Hidden", "F");
    const QString porto = db.addCategoryListEntry("Porto", "C");
    const QString locked = db.addCategoryListEntry("Locked", "C");
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(hidden, europe));
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(porto, hidden));
    ASSERT_TRUE(db.setCategoryListEntrySuperMID(locked, hidden));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, europe, staff, "READ ONLY"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, hidden, staff, "NO ACCESS"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, porto, staff, "READ ONLY"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, locked, staff, "NO ACCESS"));
    for (const QString &category : {porto, locked})
        ASSERT_FALSE(db.addMediaListEntry(importRecord(category, "Bridge")).isEmpty());

    const std::vector<OVNExpressSearch::Catalog> express = OVNExpressSearch::catalogsOf(*main);
    const std::vector<OVNFind::Catalog> find = OVNFind::catalogsOf(*main);
    const auto idsOf = [](const auto &catalogs, const char *title) {
        for (const auto &catalog : catalogs)
            if (catalog.title == QLatin1String(title))
                return catalog.ids;
        return QStringList{"not offered"};
    };
    EXPECT_EQ(idsOf(express, "Europe"), (QStringList{europe, porto}));
    EXPECT_EQ(idsOf(find, "Europe"), (QStringList{europe, porto}));
    EXPECT_EQ(idsOf(find, "Hidden"), QStringList{"not offered"});

    OVNFind search;
    for (const OVNFind::Catalog &catalog : find)
        search.addCatalog(catalog.title, catalog.ids);
    search.setSearchSettings({{"CATALOG", "Europe"}});
    const OVNExpressSearch::Outcome found = run(search.searchClause(OVNFind::Dialect::PostgreSQL));
    ASSERT_EQ(found.status, Status::Found) << qPrintable(found.message);
    ASSERT_EQ(found.records.size(), 1);
    EXPECT_EQ(found.records[0]->field(MediaRecord::CategoryId), porto);
}
