#include "search/OVNExpressStatements.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/Localized.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNFind.h"
#include "search/OVNSearchFields.h"

#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace OVNExpress {

QString restriction(const QStringList &categoryIds, bool restricted)
{
    if (!restricted)
        return QString();
    QStringList quoted;
    for (const QString &id : categoryIds)
        quoted << OVNDBHelper::quotedText(id);
    if (quoted.isEmpty())
        quoted << QStringLiteral("''");
    return QStringLiteral(" where  categoryid in (") + quoted.join(QStringLiteral(", ")) + QLatin1Char(')');
}

namespace {

// The condition after the restriction: in parentheses there, so that an OR cannot reach outside
// the chosen category.
QString withCondition(QString sql, const QString &condition, bool restricted, bool alwaysParenthesised)
{
    if (condition.isEmpty())
        return sql;
    if (restricted)
        return sql + QStringLiteral(" and (") + condition + QLatin1Char(')');
    if (alwaysParenthesised)
        return sql + QStringLiteral(" where (") + condition + QLatin1Char(')');
    return sql + QStringLiteral(" where ") + condition;
}

// The condition tested only on entries of the readable categories: what it finds elsewhere, or
// how it fails there, tells nothing, and a text there costs the search nothing.
QString readableOnly(const QString &condition, const std::optional<QStringList> &readableCategoryIds)
{
    if (!readableCategoryIds || condition.trimmed().isEmpty())
        return condition;
    QStringList quoted;
    for (const QString &id : *readableCategoryIds)
        quoted << OVNDBHelper::quotedText(id);
    if (quoted.isEmpty())
        quoted << QStringLiteral("''");
    return QStringLiteral("case when strvfile.categoryid in (") + quoted.join(QStringLiteral(", "))
           + QStringLiteral(") then (") + condition + QStringLiteral(") else false end");
}

// The fields of the quick search's menu, in the order of their tags.
std::vector<const OVNSearchFields::Field *> quickFields()
{
    std::vector<const OVNSearchFields::Field *> offered;
    for (const OVNSearchFields::Field &field : OVNSearchFields::fields()) {
        if (field.quickTag != OVNSearchFields::NoQuickTag)
            offered.push_back(&field);
    }
    std::sort(offered.begin(), offered.end(), [](const auto *a, const auto *b) { return a->quickTag < b->quickTag; });
    return offered;
}

// The "table.column"s that "All" tests, in the order of its tags.
QStringList quickTextColumns()
{
    QStringList columns;
    for (const OVNSearchFields::Field *field : quickFields()) {
        if (field->kind == OVNSearchFields::Kind::Text)
            columns += OVNSearchFields::qualifiedColumns(*field);
    }
    return columns;
}

// The placeholder the expert search replaces with a "table.column"; "" for none.
QString placeholderFor(const QString &column)
{
    for (const auto &[placeholder, replaced] : placeholders()) {
        if (replaced == column)
            return placeholder;
    }
    return QString();
}

} // namespace

// ---- quick search ----

const std::vector<TagItem> &tagMenu()
{
    // "All", then the text fields and the others, each group after a separator.
    static const std::vector<TagItem> menu = [] {
        std::vector<TagItem> items = {{"All", All}};
        std::optional<bool> text;
        for (const OVNSearchFields::Field *field : quickFields()) {
            const bool isText = field->kind == OVNSearchFields::Kind::Text;
            if (text != isText)
                items.push_back({"", -1});
            text = isText;
            items.push_back({field->quickTitle, field->quickTag});
        }
        return items;
    }();
    return menu;
}

QString tagTitle(int tag)
{
    for (const TagItem &item : tagMenu()) {
        if (item.tag == tag)
            return localizedMenu(item.title);
    }
    return QString();
}

QString QuickSearch::clauseFor(const QString &value, int tag, Dialect)
{
    const OVNSearchFields::Field *field = OVNSearchFields::quickField(tag);
    if (field && field->kind == OVNSearchFields::Kind::Number) {
        const std::optional<QString> number = OVNDBHelper::sqlNumber(value);
        return number ? QLatin1Char(' ') + QLatin1String(field->column) + QLatin1Char('=') + *number : QString();
    }
    if (!field && tag != All)
        return QString();
    // The value matches character for character, anywhere in the column.
    const QString like =
        QStringLiteral(") like upper(")
        + OVNDBHelper::quotedText(QLatin1Char('%') + OVNFindLine::likeLiteral(value) + QLatin1Char('%'))
        + QLatin1Char(')') + OVNFindLine::likeEscape();
    if (field)
        return QStringLiteral(" upper(") + QLatin1String(field->column) + like;
    // "All" tests its columns in the order of the table's columns.
    const QStringList tested = quickTextColumns();
    QStringList tests;
    for (const QString &column : OVNSearchFields::columnsOf(u"strvfile")) {
        if (tested.contains(QStringLiteral("strvfile.") + column))
            tests << QStringLiteral("upper(") + column + like;
    }
    return QStringLiteral(" (") + tests.join(QStringLiteral(" or ")) + QLatin1Char(')');
}

OVNExpertCondition::Cost QuickSearch::cost(Dialect dialect) const
{
    OVNExpertCondition::Cost cost;
    if (!refusal().isEmpty() || fields[0].text.isEmpty())
        return cost;
    for (const Field &field : fields) {
        const OVNSearchFields::Field *searched = OVNSearchFields::quickField(field.tag);
        if (field.text.isEmpty() || (searched && searched->kind != OVNSearchFields::Kind::Text)
            || (!searched && field.tag != All))
            continue;
        // As clauseFor() writes the pattern, and the columns it tests.
        const qsizetype pattern = OVNFindLine::likeLiteral(field.text).size() + 2;
        const QStringList columns = searched ? OVNSearchFields::qualifiedColumns(*searched) : quickTextColumns();
        for (const QString &column : columns)
            OVNExpertCondition::addCaseBlindTest(cost, column, pattern, true, OVNFindLine::widthsOf(dialect));
    }
    return cost;
}

QString QuickSearch::oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect) const
{
    if (longColumns.isEmpty() || !refusal().isEmpty())
        return QString();
    return withCondition(
               OVNFind::selectListWithoutLongFields() + restriction(categoryIds, restricted),
               readableOnly(OVNFind::oversizedCondition(longColumns, largestBytes, dialect), readableCategoryIds),
               restricted, true)
           + OVNFind::idOrder(dialect) + QStringLiteral(" limit 2");
}

QString QuickSearch::refusal() const
{
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?\\d{1,9}\\s*$"));
    if (fields[0].text.isEmpty())
        return QString();
    for (const Field &field : fields) {
        if (!field.text.isEmpty() && field.tag == Rating && !integer.match(field.text).hasMatch())
            return localized("Rating must be a number");
    }
    return QString();
}

QString QuickSearch::statement(Dialect dialect) const
{
    if (!refusal().isEmpty())
        return QString();
    QString condition;
    // Without a first field the others are ignored, whatever they hold.
    if (!fields[0].text.isEmpty()) {
        condition = clauseFor(fields[0].text, fields[0].tag, dialect);
        for (size_t i = 1; i < fields.size(); ++i) {
            const QString clause = fields[i].text.isEmpty() ? QString()
                                                            : clauseFor(fields[i].text, fields[i].tag, dialect);
            if (clause.isEmpty())
                continue;
            if (condition.isEmpty())
                condition = clause;
            else
                condition += (fields[i].orJoin ? QStringLiteral(" OR ") : QStringLiteral(" AND ")) + clause;
        }
        // Entries too large for the fields' tests are left out untested.
        const OVNExpertCondition::Cost fieldCost = cost(dialect);
        if (OVNExpertCondition::largestFieldBytes(fieldCost) >= 0)
            condition = OVNFind::testedWhereFitting(condition, fieldCost, dialect);
    }
    if (readableCategoryIds)
        return withCondition(OVNFind::selectList() + restriction(categoryIds, restricted),
                             readableOnly(condition, readableCategoryIds), restricted, true);
    return withCondition(OVNFind::selectList() + restriction(categoryIds, restricted), condition, restricted, false);
}

// ---- expert search ----

const std::vector<FieldItem> &fieldMenu()
{
    static const std::vector<FieldItem> menu = [] {
        std::vector<FieldItem> items;
        for (const OVNSearchFields::Field &field : OVNSearchFields::fields()) {
            if (!(field.menus & OVNSearchFields::ExpertMenu))
                continue;
            OVNSearchFields::Field inserted = field;
            if (field.expertColumn)
                inserted.column = field.expertColumn;
            QStringList tags;
            for (const QString &column : OVNSearchFields::qualifiedColumns(inserted))
                tags << placeholderFor(column);
            items.push_back({field.group, field.title, tags.join(QStringLiteral(" * ")), int(field.kind)});
        }
        return items;
    }();
    return menu;
}

QString clauseTemplate(int operatorType, const QString &tag)
{
    switch (operatorType) {
    case 1:
        return QStringLiteral(" upper(") + tag + QStringLiteral(") like upper('%VALUE%')");
    case 2:
        return QLatin1Char(' ') + tag + QStringLiteral(" = 99");
    case 3:
        return QLatin1Char(' ') + tag + QStringLiteral(" > '2005-03-29 00:00:00'");
    case 4:
    case 5:
        return QLatin1Char(' ') + tag + QStringLiteral(" = 1");
    default:
        return QLatin1Char(' ') + tag;
    }
}

const std::vector<std::pair<QString, QString>> &placeholders()
{
    static const std::vector<std::pair<QString, QString>> list = [] {
        std::vector<std::pair<QString, QString>> pairs = {
            {QStringLiteral("#keywords#"), QStringLiteral("strvfile.shortdesc")},
            {QStringLiteral("#shortdesc#"), QStringLiteral("strvfile.keywords")},
        };
        // Every column of the joined tables but the ids, the thumbnails and the two above.
        static const QStringList unnamed = {QStringLiteral("id"),         QStringLiteral("mid"),
                                            QStringLiteral("categoryid"), QStringLiteral("thumbimage"),
                                            QStringLiteral("thumbnail"),  QStringLiteral("keywords"),
                                            QStringLiteral("shortdesc")};
        const auto add = [&pairs](const QString &prefix, const QString &table) {
            for (const QString &name : OVNSearchFields::columnsOf(table)) {
                if (!unnamed.contains(name))
                    pairs.emplace_back(QLatin1Char('#') + prefix + name + QLatin1Char('#'),
                                       table + QLatin1Char('.') + name);
            }
        };
        add(QString(), QStringLiteral("strvfile"));
        add(QStringLiteral("p."), QStringLiteral("strvpurchased"));
        add(QStringLiteral("s."), QStringLiteral("strvsold"));
        add(QStringLiteral("exif."), QStringLiteral("strvexif"));
        return pairs;
    }();
    return list;
}

bool ExpertSearch::includesTable(const QString &clause, const QString &table)
{
    const auto has = [&clause](const char *text) { return clause.contains(QLatin1String(text), Qt::CaseInsensitive); };
    if (table == QLatin1String("strvpurchased"))
        return has("strvpurchased") || has("#p.");
    if (table == QLatin1String("strvsold"))
        return has("strvsold") || has("#s.");
    if (table == QLatin1String("strvexif"))
        return has("strvexif") || has("#exif.");
    return false;
}

QString ExpertSearch::replacedClause(const QString &clause)
{
    QString replaced = clause;
    for (const auto &[placeholder, column] : placeholders())
        replaced.replace(placeholder, column, Qt::CaseInsensitive);
    return replaced;
}

QString ExpertSearch::refusalFor(const QString &condition)
{
    if (condition.trimmed().isEmpty())
        return QString();
    const std::optional<OVNExpertCondition::Refusal> refused = OVNExpertCondition::check(condition);
    return refused ? refused->message : QString();
}

QString ExpertSearch::refusal() const { return refusalFor(replacedClause(clause)); }

QString ExpertSearch::statement() const
{
    const QString condition = replacedClause(clause);
    if (!refusalFor(condition).isEmpty())
        return QString();
    return statementFor(OVNFind::selectList(), condition);
}

QString ExpertSearch::statement(Dialect dialect) const
{
    const QString condition = replacedClause(clause);
    if (!refusalFor(condition).isEmpty())
        return QString();
    OVNExpertCondition::Cost cost;
    if (!condition.trimmed().isEmpty() && OVNExpertCondition::check(condition, &cost, OVNFindLine::widthsOf(dialect)))
        return QString();
    return statementFor(OVNFind::selectList(), OVNFind::testedWhereFitting(condition, cost, dialect));
}

QString ExpertSearch::oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect) const
{
    if (longColumns.isEmpty())
        return QString();
    // The entry's own long fields are not read: a field far too large would be, to be listed.
    return statementFor(OVNFind::selectListWithoutLongFields(),
                        OVNFind::oversizedCondition(longColumns, largestBytes, dialect))
           + OVNFind::idOrder(dialect) + QStringLiteral(" limit 2");
}

QString ExpertSearch::statementFor(const QString &select, const QString &condition) const
{
    QString sql = select;
    for (const char *table : {"strvpurchased", "strvsold", "strvexif"}) {
        const QString name = QString::fromLatin1(table);
        if (includesTable(clause, name))
            sql += QStringLiteral(" left outer join %1 on strvfile.mid=%1.mid").arg(name);
    }
    sql += restriction(categoryIds, restricted);
    if (condition.trimmed().isEmpty())
        return withCondition(sql, QString(), restricted, true);
    return withCondition(sql, readableOnly(condition, readableCategoryIds), restricted, true);
}

} // namespace OVNExpress
