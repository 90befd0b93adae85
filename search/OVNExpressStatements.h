#pragma once

#include "search/OVNExpertCondition.h"
#include "search/OVNFindLine.h"
#include "search/OVNSearchFields.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// The statements of the express panel, without widgets: the quick search's four fields and the
// expert search's typed condition, each compiled into one SELECT of the search select list,
// restricted to a category's ids when one is chosen. Values of the quick search reach SQL only as
// quoted literals or a validated integer; an expert condition is read first (OVNExpertCondition)
// and refused with a message naming the word when it could do more than test entries.
namespace OVNExpress {

using Dialect = OVNFindLine::Dialect;

// " where  categoryid in ('id', ...)" for a chosen category (an item without ids holds nothing);
// "" for the whole catalog.
QString restriction(const QStringList &categoryIds, bool restricted);

// ---- quick search ----
// The column tags of the fields' search menu (the quick tags of OVNSearchFields).
enum Tag {
    All = OVNSearchFields::QuickAll,
    DisplayTag = OVNSearchFields::QuickDisplayTag,
    Keywords = OVNSearchFields::QuickKeywords,
    ShortDescription = OVNSearchFields::QuickShortDescription,
    FullDescription = OVNSearchFields::QuickFullDescription,
    Rating = OVNSearchFields::QuickRating
};
struct TagItem {
    const char *title; // "" for a separator
    int tag;
};
// The search menu in order, separators included.
const std::vector<TagItem> &tagMenu();
QString tagTitle(int tag);

class QuickSearch
{
public:
    struct Field {
        QString text;
        int tag = All;
        bool orJoin = false; // fields 2 to 4: joined with OR instead of AND
    };
    std::array<Field, 4> fields;
    QStringList categoryIds; // the chosen search-in item's ids
    bool restricted = false; // a category is chosen (even one without ids)
    // On a catalog with users: the categories whose entries the user may read, the only entries
    // the fields are then tested on (the others are never listed).
    std::optional<QStringList> readableCategoryIds;

    // The clause one field adds; "" for a tag outside the menu.
    static QString clauseFor(const QString &value, int tag, Dialect dialect);
    // Why the search cannot run ("" when it can): a rating that is no whole number.
    QString refusal() const;
    // The whole statement; "" when refused. An entry whose long fields are too large for what the
    // fields ask of each (cost()) is left out of it untested.
    QString statement(Dialect dialect) const;
    // What its tests of the long fields (descriptions, keywords) ask of the catalog server for
    // each entry, as OVNExpertCondition counts it; on a server the title is short and not counted.
    OVNExpertCondition::Cost cost(Dialect dialect) const;
    // A statement that lists up to two entries the search leaves out for their named long fields
    // holding more than `largestBytes` bytes, its long fields left empty; "" when refused or for no
    // column.
    QString oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect) const;
};

// ---- expert search ----
// One item of the field menu, made from the fields of OVNSearchFields.
struct FieldItem {
    const char *group; // the header above it, "" within a group
    const char *title;
    QString tag;      // the placeholder text inserted
    int operatorType; // 1 text, 2 number, 3 date, 4 selection, 5 switch
};
const std::vector<FieldItem> &fieldMenu();
// The ready-made clause a field item inserts.
QString clauseTemplate(int operatorType, const QString &tag);
// The placeholders and the qualified columns they stand for, in the order they are replaced.
const std::vector<std::pair<QString, QString>> &placeholders();

class ExpertSearch
{
public:
    QString clause;
    QStringList categoryIds;
    bool restricted = false;
    // On a catalog with users: the categories whose entries the user may read. The condition is
    // then tested on those entries only, so that neither its result nor its failure can depend on
    // an entry the user may not see.
    std::optional<QStringList> readableCategoryIds;

    // Whether the clause as typed refers to the table (by name or by its placeholder prefix).
    static bool includesTable(const QString &clause, const QString &table);
    // The clause with every placeholder replaced, without regard to case.
    static QString replacedClause(const QString &clause);
    // Why a condition (placeholders replaced) cannot run, naming the word; "" when it can.
    static QString refusalFor(const QString &condition);
    QString refusal() const;
    // The whole statement; "" when refused.
    QString statement() const;
    // The same, with the entries whose long fields are too large for what the condition asks of
    // each left out untested, as the search runs it.
    QString statement(Dialect dialect) const;
    // A statement that lists up to two entries the condition would be tested on whose named long
    // fields ("table.column", from OVNExpertCondition::Cost) hold more than `largestBytes` bytes;
    // "" when it names none. Their long fields are left empty.
    QString oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect) const;

private:
    // `select` with the joins the clause asks for, the restriction and `condition` (tested only on
    // the readable entries).
    QString statementFor(const QString &select, const QString &condition) const;
};

} // namespace OVNExpress
