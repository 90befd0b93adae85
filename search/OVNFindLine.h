#pragma once

#include "search/OVNExpertCondition.h"
#include "search/OVNSearchFields.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <vector>

// One search line: how it joins the lines above (AND/OR), a field of the built-in field table, an
// operator that fits the field's kind and a typed value. It compiles to one SQL condition, names
// the table it needs and keeps itself as a "SearchLine" dictionary. Values reach SQL only as
// quoted literals or validated numbers; tables and columns only from the field table.
class OVNFindLine
{
public:
    using Kind = OVNSearchFields::Kind;
    enum class Dialect { SQLite, PostgreSQL };
    // SQLite keeps no column to its declared type and width; a server does.
    static OVNExpertCondition::Widths widthsOf(Dialect dialect)
    {
        return dialect == Dialect::SQLite ? OVNExpertCondition::Widths::Unenforced
                                          : OVNExpertCondition::Widths::Enforced;
    }

    struct Field {
        QString group; // the header above the field in the menu ("" within a group)
        QString title;
        QString table;
        QString column;
        Kind kind;
        QStringList selections; // choices, kind Choice only: position = stored value
    };

    // The search fields of the find line's menu in order (44 of them), from OVNSearchFields.
    static const std::vector<Field> &fields();
    // The field with this table and column (exact), or nothing.
    static std::optional<int> fieldFor(const QString &table, const QString &column);
    // The first field with this title, or nothing.
    static std::optional<int> fieldWithTitle(const QString &title);
    // A field's "SearchFieldDescriptor".
    static QVariantMap descriptor(int field);
    static QStringList operatorTitles(int field);
    // The value a field starts with when chosen.
    static QString presetValue(Kind kind);
    // The longest value a line takes.
    static constexpr int maximumValueLength = 4000;

    OVNFindLine();

    // Chooses a field: operators refilled (first chosen), value preset for its kind.
    void chooseField(int field);
    int field() const { return m_field; }
    bool hasField() const { return m_field >= 0; }
    Kind kind() const;
    int operatorId() const { return m_operator; }
    void setOperatorId(int id) { m_operator = id; }
    bool joinsWithOr() const { return m_or; }
    void setJoinsWithOr(bool orJoin) { m_or = orJoin; }
    QString value() const { return m_value; }
    void setValue(const QString &value) { m_value = value; }
    bool isFirstLine() const { return m_first; }
    void setIsFirstLine(bool first) { m_first = first; }
    // Whether the kind takes a typed value (text, number, date).
    bool takesValue() const;

    // "" for the first line, else "AND" or "OR".
    QString combinationOperator() const;
    // The table the line needs ("" without a field).
    QString searchTable() const;
    // Why the line cannot compile ("" when it can): a missing field, a value that is no number or
    // no date, an operator the field lacks, an overlong value.
    QString refusal() const;
    // The condition; nothing when refused.
    std::optional<QString> searchClause(Dialect dialect) const;

    // Adds what the line's test asks of the catalog server for each entry (a text test of a long
    // field, or of any field on SQLite); nothing for a refused line.
    void addCost(OVNExpertCondition::Cost &cost, Dialect dialect) const;

    QVariantMap searchSettings() const;
    // Restores a "SearchLine". A field it names that the table lacks leaves the line without a
    // field (refused), never with another field.
    bool setSearchSettings(const QVariantMap &line);

    // A date value completed to "yyyy-MM-dd HH:mm:ss", or nothing when it does not read as
    // "yyyy-MM-dd[ HH:mm[:ss]]".
    static std::optional<QString> completedDate(const QString &value);

    // Text whose every character matches itself in a LIKE pattern read with likeEscape(): "%",
    // "_" and the escape character stand escaped.
    static QString likeLiteral(const QString &text);
    // " escape '\'", the escape clause that follows every LIKE of a line or a quick search.
    static QString likeEscape();
    static constexpr QChar likeEscapeCharacter = u'\\';

private:
    // The condition that keeps a date line to entries whose value is a date ("" when the column
    // holds nothing else).
    static QString datedCondition(const Field &field, Dialect dialect);

    int m_field = -1;
    int m_operator = 0;
    bool m_or = false;
    bool m_first = true;
    QString m_value;
};
