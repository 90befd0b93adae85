// The metadata row of a media record (strvexif).

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/CatalogNames.h"

bool OVNDatabaseAccess::setExifForMediaID(const QString &mediaId, const QVariantMap &metadata)
{
    if (mediaId.isEmpty())
        return false;
    if (metadata.isEmpty())
        return true;
    const QList<std::pair<QString, QVariant>> values = OVNDBHelper::exifRowValues(metadata);
    QStringList columns{CatalogNames::keyMid};
    QStringList placeholders{QStringLiteral("$1")};
    QVariantList parameters{mediaId};
    for (const auto &[column, value] : values) {
        columns.append(column);
        parameters.append(value);
        placeholders.append(QLatin1Char('$') + QString::number(parameters.size()));
    }
    // A savepoint of its own: a refused row leaves the caller's transaction (the entry) usable.
    OVNDatabaseTransaction transaction(*this);
    if (!runSQLCommand(QStringLiteral("delete from strvexif where mid=$1"), {mediaId}))
        return false;
    if (!runSQLCommand(QStringLiteral("insert into strvexif (%1) values (%2)")
                           .arg(columns.join(QStringLiteral(", ")), placeholders.join(QStringLiteral(", "))),
                       parameters))
        return false;
    return !transaction.isActive() || transaction.commit();
}
