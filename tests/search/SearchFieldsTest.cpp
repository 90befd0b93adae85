#include "catalogdb/OVNDBHelper.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFindLine.h"
#include "search/OVNSearchFields.h"

#include <QRegularExpression>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace {

using OVNSearchFields::Holds;
using OVNSearchFields::Length;

struct DeclaredColumn {
    QString name;
    QString type;
};

// The columns of `table` as a create script makes them, read back by SQLite, which keeps each
// column's declared type as written. Only the tables are made: the indexes may use functions of
// the script's own vendor.
std::vector<DeclaredColumn> declaredColumns(const QStringList &script, const char *table)
{
    sqlite3 *opened = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &opened), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> db(opened, sqlite3_close);
    for (const QString &statement : script) {
        if (!statement.startsWith(QStringLiteral("create table"), Qt::CaseInsensitive))
            continue;
        char *error = nullptr;
        EXPECT_EQ(sqlite3_exec(db.get(), statement.toUtf8().constData(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "") << "\n"
            << qPrintable(statement);
        sqlite3_free(error);
    }
    std::vector<DeclaredColumn> columns;
    sqlite3_stmt *info = nullptr;
    const QByteArray pragma = QByteArrayLiteral("pragma table_info(") + table + ')';
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), pragma.constData(), -1, &info, nullptr), SQLITE_OK);
    while (sqlite3_step(info) == SQLITE_ROW)
        columns.push_back({QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info, 1))).toLower(),
                           QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info, 2))).toLower()});
    sqlite3_finalize(info);
    return columns;
}

// What a server's declared type makes of a column. A type this does not know fails the test, so
// that a new kind of column is classed here before a search may test it.
std::optional<std::pair<Holds, Length>> kindOfDeclared(const QString &type)
{
    static const QRegularExpression bounded(QStringLiteral("^(varchar|char|character varying)\\(\\d+\\)$"));
    static const QRegularExpression exact(QStringLiteral("^(decimal|numeric)\\(\\d+,\\d+\\)$"));
    if (type == QLatin1String("text"))
        return std::pair{Holds::Text, Length::Long};
    if (type == QLatin1String("bytea"))
        return std::pair{Holds::Binary, Length::Long};
    if (bounded.match(type).hasMatch())
        return std::pair{Holds::Text, Length::Short};
    if (type == QLatin1String("int") || type == QLatin1String("bigint") || type == QLatin1String("serial")
        || exact.match(type).hasMatch())
        return std::pair{Holds::Number, Length::Short};
    if (type == QLatin1String("timestamp"))
        return std::pair{Holds::Date, Length::Short};
    return std::nullopt;
}

constexpr const char *searchedTables[] = {"strvfile", "strvexif", "strvpurchased", "strvsold"};

} // namespace

// Every column of the server's tables is in the field table, in the script's order, holding what
// its declared type holds and long exactly where the server sets it no bound; the local catalog's
// script names the same columns.
TEST(SearchFieldsTest, TheColumnTableIsTheSchemas)
{
    for (const char *table : searchedTables) {
        const std::vector<DeclaredColumn> server = declaredColumns(OVNDBHelper::postgresCatalogScript(), table);
        const std::vector<DeclaredColumn> local = declaredColumns(OVNDBHelper::sqliteCatalogScript(), table);
        ASSERT_FALSE(server.empty()) << table;
        QStringList serverNames, localNames;
        for (const DeclaredColumn &declared : server) {
            serverNames << declared.name;
            const std::optional<std::pair<Holds, Length>> kind = kindOfDeclared(declared.type);
            ASSERT_TRUE(kind) << table << "." << qPrintable(declared.name) << " " << qPrintable(declared.type);
            const OVNSearchFields::Column *column = OVNSearchFields::column(QString::fromLatin1(table), declared.name);
            ASSERT_NE(column, nullptr) << table << "." << qPrintable(declared.name);
            EXPECT_EQ(column->holds, kind->first) << table << "." << qPrintable(declared.name);
            EXPECT_EQ(column->length, kind->second) << table << "." << qPrintable(declared.name);
        }
        for (const DeclaredColumn &declared : local)
            localNames << declared.name;
        EXPECT_EQ(OVNSearchFields::columnsOf(QString::fromLatin1(table)), serverNames) << table;
        EXPECT_EQ(localNames, serverNames) << table;
    }
    EXPECT_TRUE(OVNSearchFields::columnsOf(u"strvcategory").isEmpty());
}

// The expert checker admits every column of the table and counts a test of it exactly when it is
// long (on a server; on SQLite every column counts), and a find line's text test counts the same.
TEST(SearchFieldsTest, TheCostsFollowTheColumnsLength)
{
    for (const OVNSearchFields::Column &column : OVNSearchFields::columns()) {
        const QString qualified = QLatin1String(column.table) + QLatin1Char('.') + QLatin1String(column.name);
        const bool isLong = column.length == Length::Long;
        for (const auto widths : {OVNExpertCondition::Widths::Enforced, OVNExpertCondition::Widths::Unenforced}) {
            const bool counted = isLong || widths == OVNExpertCondition::Widths::Unenforced;
            OVNExpertCondition::Cost cost;
            EXPECT_FALSE(OVNExpertCondition::check(qualified + QStringLiteral(" is null"), &cost, widths))
                << qPrintable(qualified);
            EXPECT_EQ(cost.longColumns, counted ? QStringList{qualified} : QStringList()) << qPrintable(qualified);
            OVNExpertCondition::Cost caseBlind;
            OVNExpertCondition::addCaseBlindTest(caseBlind, qualified, 3, true, widths);
            EXPECT_EQ(caseBlind.longColumns, counted ? QStringList{qualified} : QStringList()) << qPrintable(qualified);
        }
    }
    for (size_t i = 0; i < OVNFindLine::fields().size(); ++i) {
        const OVNFindLine::Field &field = OVNFindLine::fields()[i];
        if (field.kind != OVNFindLine::Kind::Text)
            continue;
        OVNFindLine line;
        line.chooseField(int(i));
        line.setValue(QStringLiteral("harbour"));
        OVNExpertCondition::Cost cost;
        line.addCost(cost, OVNFindLine::Dialect::PostgreSQL);
        const OVNSearchFields::Column *column = OVNSearchFields::column(field.table, field.column);
        ASSERT_NE(column, nullptr) << qPrintable(field.column);
        EXPECT_EQ(!cost.longColumns.isEmpty(), column->length == Length::Long) << qPrintable(field.column);
    }
}

// Each field of the menus tests columns of the table that hold what its kind compares, and each
// menu offers what its own users search.
TEST(SearchFieldsTest, TheMenusOfferColumnsOfTheirKind)
{
    using Kind = OVNSearchFields::Kind;
    const auto holdsFor = [](Kind kind, Holds holds) {
        switch (kind) {
        case Kind::Text:
            return holds == Holds::Text;
        case Kind::Date:
            // The metadata's moment is a text as the camera wrote it; only dated ones are compared.
            return holds == Holds::Date || holds == Holds::Text;
        case Kind::Number:
        case Kind::Choice:
        case Kind::YesNo:
            return holds == Holds::Number;
        }
        return false;
    };
    for (const OVNSearchFields::Field &field : OVNSearchFields::fields()) {
        OVNSearchFields::Field inserted = field;
        if (field.expertColumn)
            inserted.column = field.expertColumn;
        for (const OVNSearchFields::Field &tested : {field, inserted}) {
            for (const QString &qualified : OVNSearchFields::qualifiedColumns(tested)) {
                const OVNSearchFields::Column *column =
                    OVNSearchFields::column(qualified.section('.', 0, 0), qualified.section('.', 1));
                ASSERT_NE(column, nullptr) << field.title << " " << qPrintable(qualified);
                EXPECT_TRUE(holdsFor(field.kind, column->holds)) << field.title << " " << qPrintable(qualified);
            }
        }
        EXPECT_EQ(field.selections.isEmpty(), field.kind != Kind::Choice) << field.title;
    }
    // The quick search names its columns without their table: each is one of the entries' own.
    for (const OVNExpress::TagItem &item : OVNExpress::tagMenu()) {
        if (item.tag <= OVNExpress::All)
            continue;
        const OVNSearchFields::Field *field = OVNSearchFields::quickField(item.tag);
        ASSERT_NE(field, nullptr) << item.title;
        EXPECT_STREQ(field->table, "strvfile") << item.title;
        EXPECT_FALSE(
            OVNExpress::QuickSearch::clauseFor(QStringLiteral("4"), item.tag, OVNExpress::Dialect::SQLite).isEmpty())
            << item.title;
    }
}
