#include "ToolCatalog.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"

#include <QFileInfo>
#include <QUrl>

#include <cstdio>

namespace ToolCatalog {

std::unique_ptr<OVNDatabaseAccess> open(const QString &catalog, Tables tables, const char *tool)
{
    auto connection = std::make_unique<OVNDatabaseAccess>();
    const QUrl url(catalog);
    if (url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("pgsql")) {
        if (!url.password().isEmpty())
            std::fprintf(stderr,
                         "%s: warning: a password in the catalog URL can be read by every user of "
                         "this computer; set PGPASSWORD or use ~/.pgpass instead\n",
                         tool);
        QString host = url.host();
        if (url.port() > 0)
            host += QStringLiteral(":%1").arg(url.port());
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), host, url.userName(), url.password(),
                                         url.path().mid(1));
    } else {
        connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                                         QFileInfo(catalog).absoluteFilePath());
    }
    if (connection->openDBConnection() && tables == Tables::CreateWhenMissing && !connection->checkForDatabaseSetup()) {
        if (connection->vendor() == OVNDatabaseAccess::Vendor::PostgreSQL)
            OVNDBHelper::prefDBCreatePostgreSQLDatabase(*connection);
        else
            OVNDBHelper::prefDBCreateLocalDatabase(*connection);
    }
    return connection;
}

QString categoryId(OVNDatabaseAccess &connection, const QString &idOrName)
{
    if (connection.getCategoryForMID(idOrName))
        return idOrName;
    for (const CategoryNode &node : connection.getCategoryList(QStringLiteral("C"))) {
        if (node.value(CatalogNames::keyDisplayTag).toString() == idOrName)
            return node.value(CatalogNames::keyMid).toString();
    }
    return QString();
}

CategoryInCatalog openCategory(const QString &catalog, const QString &category, const char *tool)
{
    CategoryInCatalog opened;
    opened.connection = open(catalog, Tables::AsTheyAre, tool);
    if (!opened.connection->isDBConnectionActive() || !opened.connection->checkForDatabaseSetup()) {
        opened.refusal = QStringLiteral("cannot open the catalog %1").arg(catalog);
        return opened;
    }
    opened.categoryId = categoryId(*opened.connection, category);
    if (opened.categoryId.isEmpty())
        opened.refusal = QStringLiteral("no category %1").arg(category);
    return opened;
}

std::optional<QList<MediaRecord>> recordsWithFiles(OVNDatabaseAccess &connection, const QString &categoryId)
{
    QList<MediaRecord> records;
    for (const MediaRecordRef &record : connection.getMediaList(categoryId)) {
        if (!QFileInfo(record->field(MediaRecord::AbsolutePath)).isFile())
            return std::nullopt;
        records.append(*record);
    }
    return records;
}

} // namespace ToolCatalog
