#include "search/OVNExpressStatements.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/Localized.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNFind.h"

#include <QRegularExpression>

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

} // namespace

// ---- quick search ----

const std::vector<TagItem> &tagMenu()
{
    static const std::vector<TagItem> menu = {
        {"All", All},
        {"", -1},
        {"Displaytag", DisplayTag},
        {"Keywords", Keywords},
        {"Short Description", ShortDescription},
        {"Full Description", FullDescription},
        {"", -1},
        {"Rating", Rating},
    };
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
    if (tag == Rating) {
        const std::optional<QString> number = OVNDBHelper::sqlNumber(value);
        return number ? QStringLiteral(" rating=") + *number : QString();
    }
    // The value matches character for character, anywhere in the column.
    const QString like =
        QStringLiteral(") like upper(")
        + OVNDBHelper::quotedText(QLatin1Char('%') + OVNFindLine::likeLiteral(value) + QLatin1Char('%'))
        + QLatin1Char(')') + OVNFindLine::likeEscape();
    // The keywords live in "shortdesc" and the title in "keywords": the menu names the contents.
    switch (tag) {
    case All:
        return QStringLiteral(" (upper(displaytag") + like + QStringLiteral(" or upper(keywords") + like
               + QStringLiteral(" or upper(shortdesc") + like + QStringLiteral(" or upper(fulldesc") + like
               + QLatin1Char(')');
    case DisplayTag:
        return QStringLiteral(" upper(displaytag") + like;
    case Keywords:
        return QStringLiteral(" upper(shortdesc") + like;
    case ShortDescription:
        return QStringLiteral(" upper(keywords") + like;
    case FullDescription:
        return QStringLiteral(" upper(fulldesc") + like;
    default:
        return QString();
    }
}

OVNExpertCondition::Cost QuickSearch::cost(Dialect dialect) const
{
    OVNExpertCondition::Cost cost;
    if (!refusal().isEmpty() || fields[0].text.isEmpty())
        return cost;
    for (const Field &field : fields) {
        if (field.text.isEmpty() || field.tag == Rating)
            continue;
        // As clauseFor() writes the pattern, and the columns it tests.
        const qsizetype pattern = OVNFindLine::likeLiteral(field.text).size() + 2;
        QStringList columns;
        if (field.tag == All || field.tag == DisplayTag)
            columns << QStringLiteral("strvfile.displaytag");
        if (field.tag == All || field.tag == Keywords)
            columns << QStringLiteral("strvfile.shortdesc");
        if (field.tag == All || field.tag == ShortDescription)
            columns << QStringLiteral("strvfile.keywords");
        if (field.tag == All || field.tag == FullDescription)
            columns << QStringLiteral("strvfile.fulldesc");
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
    static const std::vector<FieldItem> menu = {
        {"Generic", "Meta Data", "#exif.addtags#", 1},
        {"Media Info", "Title / Short Description", "#shortdesc#", 1},
        {"", "Keywords", "#keywords#", 1},
        {"", "Full Description", "#fulldesc#", 1},
        {"", "Got Model Release", "#modrelavailable#", 5},
        {"", "Model Release", "#modrelinfo#", 1},
        {"", "Got Property Release", "#proprelavailable#", 5},
        {"", "Property Release", "#proprelinfo#", 1},
        {"", "Rating", "#rating#", 2},
        {"Purchased", "License Type", "#p.licensetype#", 4},
        {"", "Allowed Usage", "#p.licenserestrictions#", 1},
        {"", "Copyright Owner", "#p.owner#", 1},
        {"", "Order Number", "#p.ordernumber#", 1},
        {"", "Photographer", "#p.photographer#", 1},
        {"Sold", "License Type", "#s.licensetype#", 4},
        {"", "Allowed Usage", "#s.licenserestrictions#", 1},
        {"", "Customer", "#s.customer#", 1},
        {"File Info", "Name", "#displaytag#", 1},
        {"", "Server", "#servername#", 1},
        {"", "File Path", "#absolutepath#", 1},
        {"", "File Size", "#filesize#", 2},
        {"", "Image Width", "#imagewidth#", 2},
        {"", "Image Height", "#imageheight#", 2},
        {"", "Image Pixels", "#imagewidth# * #imageheight#", 2},
        {"", "File Date", "#filedts#", 3},
        {"", "Import Date", "#dts#", 3},
        {"Meta Data", "Camera Make", "#exif.cameramake#", 1},
        {"", "Camera Model", "#exif.cameramodel#", 1},
        {"", "Image Created", "#exif.datetime#", 3},
        {"", "Image Width", "#exif.width#", 2},
        {"", "Image Height", "#exif.height#", 2},
        {"", "Image Pixels", "#exif.width# * #exif.height#", 2},
        {"", "Orientation", "#exif.orientation#", 2},
        {"", "Is Color", "#exif.iscolor#", 2},
        {"", "Flash Used", "#exif.flashused#", 2},
        {"", "Focal Length", "#exif.focallength#", 2},
        {"", "Focal Length (35 mm)", "#exif.focallength35mmequiv#", 2},
        {"", "Exposure", "#exif.exposuretime#", 2},
        {"", "Aperture (f)", "#exif.aperturefnumber#", 2},
        {"", "Digital Zoom", "#exif.digitalzoomratio#", 2},
        {"", "ISO Equivalent", "#exif.isoequivalent#", 2},
        {"", "Light Source", "#exif.lightsource#", 2},
        {"", "Comment", "#exif.comments#", 1},
    };
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
            for (const QString &name : OVNExpertCondition::columnsOf(table)) {
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
