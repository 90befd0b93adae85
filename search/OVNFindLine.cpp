#include "search/OVNFindLine.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/Localized.h"
#include "search/OVNSearchFields.h"

#include <QDateTime>
#include <QRegularExpression>

#include <limits>

const std::vector<OVNFindLine::Field> &OVNFindLine::fields()
{
    static const std::vector<Field> table = [] {
        std::vector<Field> offered;
        for (const OVNSearchFields::Field &field : OVNSearchFields::fields()) {
            if (field.menus & OVNSearchFields::FindLineMenu)
                offered.push_back({QString::fromLatin1(field.group), QString::fromLatin1(field.title),
                                   QString::fromLatin1(field.table), QString::fromLatin1(field.column), field.kind,
                                   field.selections});
        }
        return offered;
    }();
    return table;
}

std::optional<int> OVNFindLine::fieldFor(const QString &table, const QString &column)
{
    const std::vector<Field> &all = fields();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].table == table && all[i].column == column)
            return int(i);
    }
    return std::nullopt;
}

std::optional<int> OVNFindLine::fieldWithTitle(const QString &title)
{
    const std::vector<Field> &all = fields();
    for (size_t i = 0; i < all.size(); ++i) {
        if (localized(all[i].title) == title || all[i].title == title)
            return int(i);
    }
    return std::nullopt;
}

QVariantMap OVNFindLine::descriptor(int field)
{
    const Field &f = fields().at(size_t(field));
    QVariantMap map{{QStringLiteral("OPERATORTYPE"), int(f.kind)},
                    {QStringLiteral("TABLENAME"), f.table},
                    {QStringLiteral("FIELDNAME"), f.column}};
    if (f.kind == Kind::Choice)
        map.insert(QStringLiteral("SELECTIONS"), f.selections);
    return map;
}

QStringList OVNFindLine::operatorTitles(int field)
{
    if (field < 0 || size_t(field) >= fields().size())
        return {};
    const Field &f = fields().at(size_t(field));
    QStringList titles;
    switch (f.kind) {
    case Kind::Text:
        titles = {"contains", "starts with", "ends with", "is", "is empty"};
        break;
    case Kind::Number:
        titles = {"equals", "is larger than", "is smaller than"};
        break;
    case Kind::Date:
        titles = {"equals", "is after", "is before"};
        break;
    case Kind::Choice:
        titles = f.selections;
        break;
    case Kind::YesNo:
        titles = {"YES", "NO"};
        break;
    }
    for (QString &title : titles)
        title = localized(title);
    return titles;
}

QString OVNFindLine::presetValue(Kind kind)
{
    return kind == Kind::Date ? QStringLiteral("2005-03-29 00:00:00") : QString();
}

OVNFindLine::OVNFindLine()
{
    chooseField(2); // "Keywords"
}

void OVNFindLine::chooseField(int field)
{
    if (field < 0 || size_t(field) >= fields().size())
        return;
    m_field = field;
    m_operator = 0;
    m_value = presetValue(kind());
}

OVNFindLine::Kind OVNFindLine::kind() const { return hasField() ? fields().at(size_t(m_field)).kind : Kind::Text; }

bool OVNFindLine::takesValue() const
{
    const Kind k = kind();
    return k == Kind::Text || k == Kind::Number || k == Kind::Date;
}

QString OVNFindLine::combinationOperator() const
{
    if (m_first)
        return QString();
    return m_or ? QStringLiteral("OR") : QStringLiteral("AND");
}

QString OVNFindLine::searchTable() const { return hasField() ? fields().at(size_t(m_field)).table : QString(); }

std::optional<QString> OVNFindLine::completedDate(const QString &value)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?: (\\d{2}:\\d{2})(:\\d{2})?)?$"));
    const QRegularExpressionMatch match = form.match(value.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    QString text = match.captured(1) + QLatin1Char(' ')
                   + (match.captured(2).isEmpty() ? QStringLiteral("00:00") : match.captured(2))
                   + (match.captured(3).isEmpty() ? QStringLiteral(":00") : match.captured(3));
    if (!QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
        return std::nullopt;
    return text;
}

QString OVNFindLine::likeLiteral(const QString &text)
{
    QString literal;
    literal.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == likeEscapeCharacter)
            literal += likeEscapeCharacter;
        literal += c;
    }
    return literal;
}

QString OVNFindLine::likeEscape() { return QStringLiteral(" escape '") + likeEscapeCharacter + QLatin1Char('\''); }

QString OVNFindLine::datedCondition(const Field &field, Dialect dialect)
{
    // Entries without a date keep "n/a" or an empty text in the metadata's text column, which
    // sorts after or before every date: only a value that starts with a real day takes part.
    // The server's timestamp columns of the file table hold nothing else.
    const QString column = field.table + QLatin1Char('.') + field.column;
    if (dialect == Dialect::PostgreSQL) {
        if (field.table == QLatin1String("strvfile"))
            return QString();
        return column + QStringLiteral(" ~ '^[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])'");
    }
    return QStringLiteral("%1 glob '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*' and date(substr(%1,1,10)) is not null")
        .arg(column);
}

QString OVNFindLine::refusal() const
{
    if (!hasField())
        return localized("The search field is not one this version knows.");
    if (m_operator < 0 || m_operator >= operatorTitles(m_field).size())
        return localized("The operator is not one the field offers.");
    if (takesValue() && m_value.size() > maximumValueLength)
        return localized("The value is longer than 4000 characters.");
    // Neither vendor keeps a NUL inside a text: searched for, the value would be cut or dropped
    // and the search would find something else than was asked.
    if (takesValue() && m_value.contains(QChar(0)))
        return localized("The value holds a NUL character, which cannot be searched for.");
    if (kind() == Kind::Number && !OVNDBHelper::sqlNumber(m_value))
        return localized("The value \"%1\" is not a number.").arg(m_value.left(40));
    if (kind() == Kind::Date && !completedDate(m_value))
        return localized("The value \"%1\" is not a date like 2005-03-29 or 2005-03-29 14:30.").arg(m_value.left(40));
    return QString();
}

void OVNFindLine::addCost(OVNExpertCondition::Cost &cost, Dialect dialect) const
{
    if (!refusal().isEmpty())
        return;
    const Field &f = fields().at(size_t(m_field));
    if (f.kind != Kind::Text || m_operator == 4)
        return;
    // The pattern as searchClause() writes it: escaped, with its two or four wildcards.
    const qsizetype pattern = likeLiteral(m_value).size() + (m_operator == 0 ? 4 : 2);
    OVNExpertCondition::addCaseBlindTest(cost, f.table + QLatin1Char('.') + f.column, pattern, m_operator != 3,
                                         widthsOf(dialect));
}

std::optional<QString> OVNFindLine::searchClause(Dialect dialect) const
{
    if (!refusal().isEmpty())
        return std::nullopt;
    const Field &f = fields().at(size_t(m_field));
    const QString column = f.table + QLatin1Char('.') + f.column;
    switch (f.kind) {
    case Kind::Text: {
        if (m_operator == 4)
            return QStringLiteral("(%1 is null or %1='')").arg(column);
        if (m_operator == 3)
            return QStringLiteral(" upper(") + column + QStringLiteral(") = upper(") + OVNDBHelper::quotedText(m_value)
                   + QLatin1Char(')');
        // The value is matched character for character; only the line's own "%%" are wildcards.
        QString pattern = likeLiteral(m_value);
        const QString wild = QStringLiteral("%%");
        if (m_operator == 0)
            pattern = wild + pattern + wild;
        else if (m_operator == 1)
            pattern = pattern + wild;
        else
            pattern = wild + pattern;
        return QStringLiteral(" upper(") + column + QStringLiteral(") like upper(") + OVNDBHelper::quotedText(pattern)
               + QLatin1Char(')') + likeEscape();
    }
    case Kind::Number: {
        static const char *const ops[] = {"=", ">=", "<="};
        return column + QLatin1String(ops[m_operator]) + *OVNDBHelper::sqlNumber(m_value);
    }
    case Kind::Date: {
        static const char *const ops[] = {" = ", " >= ", " <= "};
        // SQLite keeps the zone after the moment ("2005-03-29 00:00:00 +0100"): compare the moment.
        const QString left = dialect == Dialect::SQLite ? QStringLiteral("substr(%1,1,19)").arg(column) : column;
        const QString comparison =
            left + QLatin1String(ops[m_operator]) + OVNDBHelper::quotedText(*completedDate(m_value));
        const QString dated = datedCondition(f, dialect);
        if (dated.isEmpty())
            return comparison;
        return QLatin1Char('(') + dated + QStringLiteral(" and ") + comparison + QLatin1Char(')');
    }
    case Kind::Choice:
        return column + QStringLiteral(" = ") + QString::number(m_operator);
    case Kind::YesNo:
        return column + (m_operator == 0 ? QStringLiteral(" = 1") : QStringLiteral(" = 0"));
    }
    return std::nullopt;
}

QVariantMap OVNFindLine::searchSettings() const
{
    QVariantMap line{{QStringLiteral("COMBOPERATORTITLE"), m_or ? QStringLiteral("OR") : QStringLiteral("AND")},
                     {QStringLiteral("OPERATORID"), m_operator},
                     {QStringLiteral("VALUE"), m_value}};
    if (hasField()) {
        line.insert(QStringLiteral("FIELDOBJECT"), descriptor(m_field));
        line.insert(QStringLiteral("FIELDTITLE"), localized(fields().at(size_t(m_field)).title));
        const QStringList titles = operatorTitles(m_field);
        if (m_operator >= 0 && m_operator < titles.size())
            line.insert(QStringLiteral("OPERATORTITLE"), titles.at(m_operator));
    }
    return line;
}

bool OVNFindLine::setSearchSettings(const QVariantMap &line)
{
    const QVariant combination = line.value(QStringLiteral("COMBOPERATORTITLE"));
    m_or = combination.isValid() && combination.toString() != QLatin1String("AND");

    std::optional<int> chosen;
    const QVariantMap object = line.value(QStringLiteral("FIELDOBJECT")).toMap();
    if (line.contains(QStringLiteral("FIELDOBJECT")))
        chosen = fieldFor(object.value(QStringLiteral("TABLENAME")).toString(),
                          object.value(QStringLiteral("FIELDNAME")).toString());
    else if (line.contains(QStringLiteral("FIELDTITLE")))
        chosen = fieldWithTitle(line.value(QStringLiteral("FIELDTITLE")).toString());
    if (chosen)
        chooseField(*chosen);
    else
        m_field = -1;

    if (line.contains(QStringLiteral("OPERATORID"))) {
        // A number beyond int must not wrap onto an operator (4294967299 is not 3): out of range,
        // it is no operator, and refusal() says so.
        const qint64 id = OVNDBHelper::integerValue(line.value(QStringLiteral("OPERATORID")));
        m_operator = id >= 0 && id <= std::numeric_limits<int>::max() ? int(id) : -1;
    }
    if (line.contains(QStringLiteral("VALUE")))
        m_value = line.value(QStringLiteral("VALUE")).toString();
    return true;
}
