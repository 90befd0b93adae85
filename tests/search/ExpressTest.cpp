#include "CatalogFixture.h"

#include "../support/CatalogUsers.h"
#include "catalogdb/OVNDBHelper.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

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
    return QStringLiteral(" upper(%1) like upper('%2') escape '\\'").arg(QLatin1String(column), QString::fromUtf8(pattern));
}

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
        {quick({{"sun", Keywords, false}, {"beach", All, true}}), head + " where " + like("shortdesc", "%sun%") + " OR " + all, ""},
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
        EXPECT_EQ(c.search.statement(Dialect::SQLite), c.sqlite) << qPrintable(c.search.statement(Dialect::SQLite));
        EXPECT_EQ(c.search.statement(Dialect::PostgreSQL), c.server.isEmpty() ? c.sqlite : c.server)
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
TEST(ExpressStatementsTest, ExpertSearchStatements)
{
    ASSERT_EQ(placeholders().size(), 58u);
    for (const auto &[placeholder, column] : placeholders()) {
        EXPECT_EQ(ExpertSearch::replacedClause(placeholder.toUpper() + " = 1 and 2 < " + placeholder),
                  column + " = 1 and 2 < " + column);
        EXPECT_TRUE(column.startsWith("strv"));
    }
    EXPECT_EQ(ExpertSearch::replacedClause("#keywords# #shortdesc# #nosuch#"), "strvfile.shortdesc strvfile.keywords #nosuch#");

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
    EXPECT_EQ(clauseTemplate(2, "#imagewidth# * #imageheight#"), " #imagewidth# * #imageheight# = 99");
    EXPECT_EQ(clauseTemplate(1, "#p.owner#"), " upper(#p.owner#) like upper('%VALUE%')");
    EXPECT_EQ(clauseTemplate(3, "#dts#"), " #dts# > '2005-03-29 00:00:00'");
    EXPECT_EQ(clauseTemplate(5, "#rating#"), " #rating# = 1");
    EXPECT_EQ(clauseTemplate(0, "#x#"), " #x#");
    // Every item of the field menu inserts a clause that compiles.
    for (const FieldItem &item : fieldMenu()) {
        ExpertSearch search;
        search.clause = clauseTemplate(item.operatorType, QString::fromLatin1(item.tag));
        EXPECT_FALSE(search.statement().contains('#')) << item.tag;
    }
}

// What an expert condition may not hold, each with its message; quoted text may hold anything.
TEST(ExpressStatementsTest, ExpertConditionsAreCheckedWordByWord)
{
    const struct {
        const char *condition;
        const char *refusal; // part of the message; "" when it runs
    } cases[] = {
        {"1=1; delete from strvfile", "\";\""},
        {"rating=1) or (1=1", "a \")\" closes nothing"},
        {"((rating=1)", "is not closed"},
        {"rating=1 -- comment", "Comments"},
        {"rating=1 /* x */", "Comments"},
        {"exists (select 1 from strvusers)", "\"strvusers\""},
        {"exists (select 1 from \"StrvGroups\")", "\"StrvGroups\""},
        {"exists (select 1 from STRVGROUPUSERS)", "users and groups"},
        {"pg_sleep(5) is null", "\"pg_sleep\""},
        {"exists (select 1 from pg_catalog.pg_user)", "\"pg_catalog\""},
        {"exists (select 1 from information_schema.tables)", "information_schema"},
        {"set_config('x', 'y', true) = 'y'", "settings"},
        {"lo_import('/etc/passwd') > 0", "Large objects"},
        {"query_to_xml('select 1', true, true, '') is null", "run other statements"},
        {"$$x$$ = ''", "Dollar"},
        {"displaytag = $1", "Dollar"},
        {"E'\\x27' = ''", "Escape forms"},
        {"U&'\\0027' = ''", "Escape forms"},
        {"U&\"strvusers\" is null", "Escape forms"},
        {"displaytag = 'open", "not closed"},
        {"\"displaytag = 1", "not closed"},
        {"[strvusers].mid = 1", "brackets"},
        {"exists (select 1 from sqlite_master)", "\"sqlite_master\""},
        // Allowed: the words stand inside text, doubled quotes, plain names that only look alike.
        {"displaytag = 'x; -- /* $1 strvusers pg_sleep ) E''y'", ""},
        {"keywords like 'a''b(' and (rating > 1)", ""},
        {"type = 'e' or note = 'E'", ""},
        {"upper(#keywords#) like upper('%VALUE%')", ""},
        {"strvfile.rating - 1 > 0", ""},
    };
    for (const auto &c : cases) {
        ExpertSearch search;
        search.clause = QString::fromUtf8(c.condition);
        const QString refusal = search.refusal();
        if (QByteArray(c.refusal).isEmpty()) {
            EXPECT_EQ(refusal, "") << c.condition;
        } else {
            EXPECT_TRUE(refusal.contains(QString::fromUtf8(c.refusal))) << c.condition << " -> " << qPrintable(refusal);
            EXPECT_EQ(search.statement(), "") << c.condition;
        }
    }
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
    OVNExpressSearch::Outcome runExpert(const char *clause, int limitMs = 20000)
    {
        ExpertSearch search;
        search.clause = QString::fromUtf8(clause);
        // A refusal before the catalog is asked comes back as one.
        if (!search.refusal().isEmpty())
            return {Status::Refused, {}, search.refusal()};
        return run(search.statement(), limitMs);
    }
    QStringList catalogState()
    {
        QStringList state;
        for (const MediaRecordRef &entry : db.getMediaListForSQL(OVNDBHelper::mediaSelect()))
            state << entry->value("mid").toString() + entry->value("rating").toString() + entry->value("shortdesc").toString();
        state.sort();
        return state;
    }
    // A cross product far too large to count within any limit.
    static const char *runaway() { return "(select count(*) from strvfile a, strvfile b, strvfile c, strvfile d, strvfile e, "
                                          "strvfile f, strvfile g, strvfile h) > 0"; }

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
    const OVNExpressSearch::Outcome titles = OVNExpressSearch::run(
        *searching, quick({{"SUNSET 1", DisplayTag, false}}).statement(dialect), 20000, nullptr, 1u << MediaRecord::DisplayTag);
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

    if (isPostgres()) {
        // A function that writes, as a server may hold one.
        ASSERT_TRUE(db.runSQLCommand("create function wipe() returns integer language sql as "
                                     "'delete from strvfile returning 1'"));
    }
    const QStringList before = catalogState();
    const struct {
        const char *clause;
        Status status;
    } hostile[] = {
        {"1=1; delete from strvfile", Status::Refused},
        {"rating=1) or (1=1", Status::Refused},
        {"exists (select 1 from strvusers)", Status::Refused},
        {"pg_sleep(30) is null", Status::Refused},
        // SQLite has no such table: the statement is rejected.
        {"(select count(*) from generate_series(1, 100000000000)) > 0", isPostgres() ? Status::TimedOut : Status::Failed},
        {runaway(), Status::TimedOut},
        {isPostgres() ? "wipe() > 0" : "load_extension('libc') is null", Status::Refused},
        {"exists (select 1 from strvcategory where (select count(*) from strvfile) > 0)", Status::Found},
    };
    for (const auto &c : hostile) {
        const OVNExpressSearch::Outcome outcome = runExpert(c.clause, 400);
        EXPECT_EQ(outcome.status, c.status) << c.clause << " -> " << qPrintable(outcome.message);
        EXPECT_EQ(outcome.status == Status::Found, !outcome.records.isEmpty()) << c.clause;
        EXPECT_EQ(outcome.message.isEmpty(), outcome.status == Status::Found) << c.clause;
        EXPECT_EQ(run(quick({}).statement(dialect)).records.size(), 20) << "after " << c.clause;
    }
    EXPECT_EQ(catalogState(), before);
    // On SQLite the search's own guards also hold a statement that the word checks would refuse.
    if (!isPostgres()) {
        EXPECT_EQ(run(OVNFind::selectList() + " where 1 = (select count(*) from sqlite_master)").status, Status::Refused);
        EXPECT_EQ(run(OVNFind::selectList() + " where printf('%.*c', 1000000000, 'x') = ''").status, Status::Refused);
    }

    // Stop from another thread ends a runaway search, which leaves the connection usable.
    OVNExpressSearch::Outcome stopped;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        stopped = runExpert(runaway(), 60000);
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

// Without user tables everything is listed, found and may be rated.
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

OVN_CATALOG_VENDORS(ExpressCatalogTest);
