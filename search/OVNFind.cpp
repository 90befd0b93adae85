#include "search/OVNFind.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

OVNFind::OVNFind() = default;

void OVNFind::clearCatalogs()
{
    m_catalogs.clear();
    m_selected = -1;
}

void OVNFind::addCatalog(const QString &title, const QStringList &ids, const QString &kind)
{
    for (auto it = m_catalogs.begin(); it != m_catalogs.end(); ++it) {
        if (it->title == title) {
            m_catalogs.erase(it);
            break;
        }
    }
    m_catalogs.push_back({title, ids, kind});
    if (m_selected < 0 || m_selected >= int(m_catalogs.size()))
        m_selected = 0;
}

void OVNFind::setSelectedCatalogIndex(int index)
{
    m_selected = index >= 0 && index < int(m_catalogs.size()) ? index : (m_catalogs.empty() ? -1 : 0);
}

QString OVNFind::selectedCatalog() const
{
    return m_selected >= 0 && m_selected < int(m_catalogs.size()) ? m_catalogs[size_t(m_selected)].title : QString();
}

int OVNFind::addLine(int after)
{
    const int index = after >= 0 && after < int(m_lines.size()) - 1 ? after + 1 : int(m_lines.size());
    m_lines.insert(m_lines.begin() + index, OVNFindLine());
    markFirstLine();
    return index;
}

void OVNFind::removeLine(int index)
{
    if (index < 0 || index >= int(m_lines.size()))
        return;
    m_lines.erase(m_lines.begin() + index);
    markFirstLine();
}

void OVNFind::markFirstLine()
{
    for (size_t i = 0; i < m_lines.size(); ++i)
        m_lines[i].setIsFirstLine(i == 0);
}

bool OVNFind::searchIncludesTable(const QString &table) const
{
    for (const OVNFindLine &line : m_lines) {
        if (line.searchTable() == table)
            return true;
    }
    return false;
}

QString OVNFind::refusal() const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const QString why = m_lines[i].refusal();
        if (!why.isEmpty())
            return localized("Line %1: %2").arg(i + 1).arg(why);
    }
    return QString();
}

QString OVNFind::selectList()
{
    return QStringLiteral(
        "select strvfile.mid, strvfile.displaytag, strvfile.servername, strvfile.serverpath, strvfile.absolutepath, "
        " strvfile.filesize, strvfile.imagewidth, strvfile.imageheight, "
        " strvfile.filedts, strvfile.dts, strvfile.keywords, strvfile.shortdesc, "
        " strvfile.fulldesc, strvfile.pricetag, strvfile.modrelavailable, "
        " strvfile.modrelinfo, strvfile.proprelavailable, strvfile.proprelinfo, "
        " strvfile.cataloguedby, strvfile.volumetype, strvfile.volumename, strvfile.rating, strvfile.orientation, "
        "'0', strvfile.filetype, strvfile.categoryid "
        " from strvfile");
}

QString OVNFind::searchClause(Dialect dialect) const
{
    if (!refusal().isEmpty())
        return QString();
    bool restricted = false;
    QString sql = selectList() + fromClause(&restricted);
    if (!m_lines.empty()) {
        QString condition;
        for (const OVNFindLine &line : m_lines)
            condition += QLatin1Char(' ') + line.combinationOperator() + QLatin1Char(' ') + *line.searchClause(dialect);
        // An entry whose texts are too large for what the lines ask of each is left out, not
        // tested: it never holds up the search of the others.
        const OVNExpertCondition::Cost lineCost = cost(dialect);
        if (OVNExpertCondition::largestFieldBytes(lineCost) >= 0)
            condition = testedWhereFitting(condition, lineCost, dialect);
        // In parentheses after the restriction, so that OR cannot reach outside the categories.
        sql += restricted ? QStringLiteral(" and (") : QStringLiteral(" where ");
        sql += condition;
        if (restricted)
            sql += QLatin1Char(')');
    }
    return sql + idOrder(dialect);
}

QString OVNFind::fromClause(bool *restricted) const
{
    QString sql;
    for (const char *table : {"strvpurchased", "strvsold", "strvexif"}) {
        const QString name = QString::fromLatin1(table);
        if (searchIncludesTable(name))
            sql += QStringLiteral(" left outer join %1 on strvfile.mid=%1.mid").arg(name);
    }
    *restricted = m_selected > 0 && m_selected < int(m_catalogs.size());
    if (*restricted) {
        QStringList quoted;
        for (const QString &id : m_catalogs[size_t(m_selected)].ids)
            quoted << OVNDBHelper::quotedText(id);
        if (quoted.isEmpty())
            quoted << QStringLiteral("''"); // an item without ids holds nothing
        sql += QStringLiteral(" where  categoryid in (") + quoted.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    return sql;
}

OVNExpertCondition::Cost OVNFind::cost(Dialect dialect) const
{
    OVNExpertCondition::Cost cost;
    for (const OVNFindLine &line : m_lines)
        line.addCost(cost, dialect);
    return cost;
}

QString OVNFind::oversizedStatement(const QStringList &longColumns, qint64 largestBytes, Dialect dialect,
                                    const std::optional<QStringList> &readableCategoryIds) const
{
    if (longColumns.isEmpty() || !refusal().isEmpty())
        return QString();
    bool restricted = false;
    QString sql = selectListWithoutLongFields() + fromClause(&restricted);
    sql += restricted ? QStringLiteral(" and (") : QStringLiteral(" where (");
    if (readableCategoryIds) {
        QStringList quoted;
        for (const QString &id : *readableCategoryIds)
            quoted << OVNDBHelper::quotedText(id);
        if (quoted.isEmpty())
            quoted << QStringLiteral("''");
        sql +=
            QStringLiteral("strvfile.categoryid in (") + quoted.join(QStringLiteral(", ")) + QStringLiteral(")) and (");
    }
    return sql + oversizedCondition(longColumns, largestBytes, dialect) + QStringLiteral(")") + idOrder(dialect)
           + QStringLiteral(" limit 2");
}

QString OVNFind::selectListWithoutLongFields()
{
    QString select = selectList();
    for (const char *column : {"serverpath", "absolutepath", "keywords", "shortdesc", "fulldesc"})
        select.replace(QStringLiteral("strvfile.%1,").arg(QLatin1String(column)), QStringLiteral("null,"));
    return select;
}

QString OVNFind::oversizedCondition(const QStringList &longColumns, qint64 bytes, Dialect dialect)
{
    QStringList larger;
    for (const QString &column : longColumns) {
        // The stored size, which the server reads without the field (its header says it).
        const QString size = dialect == Dialect::PostgreSQL ? QStringLiteral("octet_length(%1)").arg(column)
                                                            : QStringLiteral("length(cast(%1 as blob))").arg(column);
        larger << size + QStringLiteral(" > ") + QString::number(bytes);
    }
    return larger.join(QStringLiteral(" or "));
}

QString OVNFind::testedWhereFitting(const QString &condition, const OVNExpertCondition::Cost &cost, Dialect dialect)
{
    const qint64 bytes = OVNExpertCondition::largestFieldBytes(cost);
    if (bytes < 0 || condition.trimmed().isEmpty())
        return condition;
    // A case decides the order: the sizes are looked at first, the condition only after them.
    QStringList fitting;
    for (const QString &column : cost.longColumns) {
        const QString size = dialect == Dialect::PostgreSQL ? QStringLiteral("octet_length(%1)").arg(column)
                                                            : QStringLiteral("length(cast(%1 as blob))").arg(column);
        fitting << QStringLiteral("coalesce(%1, 0) <= %2").arg(size).arg(bytes);
    }
    return QStringLiteral("case when ") + fitting.join(QStringLiteral(" and ")) + QStringLiteral(" then (") + condition
           + QStringLiteral(") else false end");
}

QString OVNFind::idOrder(Dialect dialect)
{
    // The catalog's own order, that of the ids, whatever order the server keeps its rows in.
    return dialect == Dialect::PostgreSQL ? QStringLiteral(" order by strvfile.mid collate \"C\"")
                                          : QStringLiteral(" order by strvfile.mid");
}

QVariantMap OVNFind::searchSettings() const
{
    QVariantList lines;
    for (const OVNFindLine &line : m_lines)
        lines << line.searchSettings();
    QVariantMap settings{{QStringLiteral("LINES"), lines}};
    if (m_selected >= 0)
        settings.insert(QStringLiteral("CATALOG"), selectedCatalog());
    return settings;
}

bool OVNFind::setSearchSettings(const QVariantMap &settings)
{
    if (settings.contains(QStringLiteral("CATALOG"))) {
        const QString title = settings.value(QStringLiteral("CATALOG")).toString();
        int found = 0;
        for (size_t i = 0; i < m_catalogs.size(); ++i) {
            if (m_catalogs[i].title == title)
                found = int(i);
        }
        setSelectedCatalogIndex(found);
    }
    const QVariantList lines = settings.value(QStringLiteral("LINES")).toList();
    for (const QVariant &entry : lines) {
        const int index = addLine();
        m_lines[size_t(index)].setSearchSettings(entry.toMap());
    }
    return true;
}

namespace {

bool mayRead(const CategoryNode &node)
{
    return OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(),
                                        node.value(CatalogNames::keyPrivileges).toString());
}

} // namespace

std::vector<OVNFind::Catalog> OVNFind::catalogsOf(OVNDatabaseAccess &db)
{
    OVNFind find;
    find.addCatalog(localized("All Entries"), {});
    for (const char *kind : {"F", "C", "M"}) {
        for (const CategoryNode &node : db.getCategoryList(QString::fromLatin1(kind))) {
            // A category the user may not read is no place to search: neither offered nor named.
            if (!mayRead(node))
                continue;
            find.addCatalog(node.value(QStringLiteral("displaytag")).toString(),
                            OVNCategoryAccess::readableSubtree(db, node.value(CatalogNames::keyMid).toString()),
                            QString::fromLatin1(kind));
        }
    }
    return find.catalogs();
}

OVNFind::Dialect OVNFind::dialectOf(const OVNDatabaseAccess &db)
{
    return db.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL ? Dialect::PostgreSQL : Dialect::SQLite;
}
