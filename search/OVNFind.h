#pragma once

#include "search/OVNExpertCondition.h"
#include "search/OVNFindLine.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class OVNDatabaseAccess;
#include <vector>

// The find sheet's model: where to search (a search-in list of titles and category ids, item 0
// "All Entries") and the search lines, compiled into one SELECT with the search select list. Its
// state is kept as "SearchSettings" ({"CATALOG", "LINES"}), the stored form of a smart folder.
class OVNFind
{
public:
    using Dialect = OVNFindLine::Dialect;

    struct Catalog {
        QString title;
        QStringList ids; // empty for "All Entries"
        QString kind;    // the category's kind ("F", "C", "M"); empty for "All Entries"
    };

    OVNFind();

    // ---- where to search ----
    void clearCatalogs();
    // Appends an item; an earlier item of the same title goes (titles stay unique).
    void addCatalog(const QString &title, const QStringList &ids, const QString &kind = QString());
    const std::vector<Catalog> &catalogs() const { return m_catalogs; }
    int selectedCatalogIndex() const { return m_selected; }
    void setSelectedCatalogIndex(int index);
    QString selectedCatalog() const;

    // ---- lines ----
    std::vector<OVNFindLine> &lines() { return m_lines; }
    const std::vector<OVNFindLine> &lines() const { return m_lines; }
    // Adds a line after `after` (appends when it is the last or out of range); answers its index.
    int addLine(int after = -1);
    void removeLine(int index);

    bool searchIncludesTable(const QString &table) const;
    // Why the search cannot run, naming the line ("" when it can).
    QString refusal() const;
    // The statement; "" when refused.
    QString searchClause(Dialect dialect) const;
    // What the text lines ask of the catalog server for each entry they test: the copies of its
    // long fields they hold and the passes over them (each change of case, each place of the text
    // compared with a pattern's characters).
    OVNExpertCondition::Cost cost(Dialect dialect) const;
    // A statement that lists up to two entries the search leaves out (searchClause()) for their
    // named long fields ("table.column") holding more than `largestBytes` bytes, of the
    // categories `readableCategoryIds` when given, their long fields left empty; "" when refused
    // or for no column.
    QString oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect,
                               const std::optional<QStringList> &readableCategoryIds = std::nullopt) const;
    // What searchClause() ends with: its rows in the catalog's id order.
    static QString idOrder(Dialect dialect);

    QVariantMap searchSettings() const;
    // Restores settings into a find without lines; a "CATALOG" no item has searches everything.
    bool setSearchSettings(const QVariantMap &settings);

    // The search-in list the catalog window gives: "All Entries", then every top-level folder,
    // collection and surveillance folder the user may read (smart folders and sets are not searched
    // in), each with its own id and those of every category below it the user may read, depth first.
    static std::vector<Catalog> catalogsOf(OVNDatabaseAccess &db);
    // The dialect of a connection.
    static Dialect dialectOf(const OVNDatabaseAccess &db);

    // The search select list and " from strvfile".
    static QString selectList();
    // selectList() with the long fields of the entry left empty: for a look at entries whose
    // fields may be too large to read.
    static QString selectListWithoutLongFields();
    // "octet_length(c) > bytes or ..." (by the stored size on SQLite): an entry one of whose named
    // long fields ("table.column") holds more than `bytes` bytes. The server reads the stored size,
    // not the field.
    static QString oversizedCondition(const QStringList &longColumns, qint64 bytes, Dialect dialect);
    // `condition` tested only on the entries whose long fields fit what it asks of each
    // (`cost`, OVNExpertCondition::largestFieldBytes()); false for the others, whose fields the
    // server then neither copies nor compares (only their stored size is read). The condition as
    // it is when it names no long field.
    static QString testedWhereFitting(const QString &condition, const OVNExpertCondition::Cost &cost, Dialect dialect);

private:
    void markFirstLine();
    // The joins the lines need and the restriction to the chosen item.
    QString fromClause(bool *restricted) const;

    std::vector<Catalog> m_catalogs;
    int m_selected = -1;
    std::vector<OVNFindLine> m_lines;
};
