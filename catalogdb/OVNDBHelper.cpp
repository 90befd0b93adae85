#include "catalogdb/OVNDBHelper.h"

#include "platform/CatalogNames.h"

#include "platform/MediaRecord.h"

#include <QRegularExpression>

QString OVNDBHelper::storableText(const QString &text)
{
    if (!text.contains(QChar(0)))
        return text;
    QString stored = text;
    stored.remove(QChar(0));
    return stored;
}

QString OVNDBHelper::quotedText(const QString &text)
{
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('\'');
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted += QLatin1Char('\'');
        if (c != QChar(0))
            quoted += c;
    }
    quoted += QLatin1Char('\'');
    return quoted;
}

std::optional<QString> OVNDBHelper::sqlNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
    const QString trimmed = text.trimmed();
    if (!number.match(trimmed).hasMatch())
        return std::nullopt;
    return trimmed.startsWith(QLatin1Char('+')) ? trimmed.mid(1) : trimmed;
}

std::optional<QVariant> OVNDBHelper::numberValue(const QString &text)
{
    const std::optional<QString> number = sqlNumber(text);
    if (!number)
        return std::nullopt;
    bool ok = false;
    if (!number->contains(QLatin1Char('.'))) {
        const qint64 integer = number->toLongLong(&ok);
        if (ok)
            return QVariant(integer);
    }
    const double real = number->toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return QVariant(real);
}

qint64 OVNDBHelper::integerValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return 0;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float:
        return qint64(value.toDouble());
    default:
        break;
    }
    const QString text = value.toString();
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 result = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            break;
        if (result > (std::numeric_limits<qint64>::max() - 9) / 10)
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        result = result * 10 + (c - u'0');
    }
    return negative ? -result : result;
}

QString OVNDBHelper::textValue(const QVariantMap &record, const QString &key)
{
    const auto found = record.constFind(key);
    if (found == record.constEnd() || !found->isValid() || found->isNull())
        return QString();
    return found->toString();
}

const QStringList &OVNDBHelper::fileColumns()
{
    static const QStringList columns = {
        CatalogNames::keyMid,           QStringLiteral("categoryid"),
        QStringLiteral("displaytag"),   QStringLiteral("cataloguedby"),
        QStringLiteral("volumetype"),   QStringLiteral("volumename"),
        QStringLiteral("servername"),   QStringLiteral("serverpath"),
        QStringLiteral("absolutepath"), QStringLiteral("filetype"),
        QStringLiteral("filesize"),     QStringLiteral("imagewidth"),
        QStringLiteral("imageheight"),  QStringLiteral("filedts"),
        QStringLiteral("dts"),          QStringLiteral("keywords"),
        QStringLiteral("shortdesc"),    QStringLiteral("fulldesc"),
        QStringLiteral("pricetag"),     QStringLiteral("modrelavailable"),
        QStringLiteral("modrelinfo"),   QStringLiteral("proprelavailable"),
        QStringLiteral("proprelinfo"),  QStringLiteral("rating"),
        QStringLiteral("orientation"),
    };
    return columns;
}

const QStringList &OVNDBHelper::writableFileColumns()
{
    // The record id keys the row and the thumbnail has its own update.
    static const QStringList columns = [] {
        QStringList list = fileColumns();
        list.removeAll(CatalogNames::keyMid);
        return list;
    }();
    return columns;
}

const QStringList &OVNDBHelper::numericFileColumns()
{
    static const QStringList columns = {
        QStringLiteral("filesize"), QStringLiteral("imagewidth"),      QStringLiteral("imageheight"),
        QStringLiteral("pricetag"), QStringLiteral("modrelavailable"), QStringLiteral("proprelavailable"),
        QStringLiteral("rating"),   QStringLiteral("orientation"),
    };
    return columns;
}

const QStringList &OVNDBHelper::purchasedColumns()
{
    static const QStringList columns = {
        QStringLiteral("licensetype"), QStringLiteral("licenserestrictions"), QStringLiteral("owner"),
        QStringLiteral("ordernumber"), QStringLiteral("photographer"),
    };
    return columns;
}

const QStringList &OVNDBHelper::soldColumns()
{
    static const QStringList columns = {
        QStringLiteral("licensetype"),
        QStringLiteral("licenserestrictions"),
        QStringLiteral("customer"),
    };
    return columns;
}

std::optional<QString> OVNDBHelper::columnFromList(const QStringList &columns, const QString &name)
{
    const QString trimmed = name.trimmed();
    for (const QString &column : columns) {
        if (column.compare(trimmed, Qt::CaseInsensitive) == 0)
            return column;
    }
    return std::nullopt;
}

const QStringList &OVNDBHelper::mediaRecordKeys() { return MediaRecord::fieldKeys(); }

namespace {

// The media select list: the record keys in their order, each a column of the files table under
// `alias`, but for the set-membership slot, which is `membership`.
QString mediaColumns(const QString &alias, const QString &membership)
{
    QStringList columns;
    for (int field = 0; field < MediaRecord::fieldCount; ++field)
        columns.append(field == MediaRecord::ImageSetMid ? membership : alias + MediaRecord::fieldKeys().at(field));
    return columns.join(QStringLiteral(", "));
}

} // namespace

QString OVNDBHelper::mediaSelect()
{
    static const QString select = QStringLiteral("select ") + mediaColumns(QString(), QStringLiteral("'0'"))
                                  + QStringLiteral(" from ") + CatalogNames::mediaTable + QStringLiteral(" mf");
    return select;
}

QString OVNDBHelper::mediaSetSelect()
{
    static const QString select =
        QStringLiteral("select ") + mediaColumns(QStringLiteral("mf."), QStringLiteral("ms.mid"))
        + QStringLiteral(" from ") + CatalogNames::setMembershipTable + QStringLiteral(" ms, ")
        + CatalogNames::mediaTable + QStringLiteral(" mf where ms.categorymid=$1 and ms.filemid=mf.mid");
    return select;
}

QString OVNDBHelper::mediaIdOrder(bool postgres)
{
    return postgres ? QStringLiteral(" order by mf.mid collate \"C\"") : QStringLiteral(" order by mf.mid");
}

const QStringList &OVNDBHelper::privilegeLevels()
{
    static const QStringList levels = {
        QStringLiteral("NO ACCESS"),
        QStringLiteral("READ ONLY"),
        QStringLiteral("READ & WRITE"),
        QStringLiteral("FULL ACCESS"),
    };
    return levels;
}

int OVNDBHelper::privilegeRank(const QString &level)
{
    const qsizetype rank = privilegeLevels().indexOf(level);
    return rank < 0 ? 0 : int(rank);
}

QString OVNDBHelper::privilegeLevelForEntries(const QVariantList &entries, const QStringList &groupMids)
{
    if (entries.isEmpty())
        return privilegeLevels().last();
    int best = -1;
    for (const QVariant &entry : entries) {
        const QVariantMap pair = entry.toMap();
        // Entries written by the privileges window name the group by "mid"; older ones by "group".
        QString group = pair.value(CatalogNames::keyMid).toString();
        if (group.isEmpty())
            group = pair.value(QStringLiteral("group")).toString();
        if (group.isEmpty() || !groupMids.contains(group))
            continue;
        best = std::max(best, privilegeRank(pair.value(QStringLiteral("privilege")).toString()));
    }
    return privilegeLevels().at(std::max(best, 0));
}
