#include "ToolCatalog.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

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
            std::fprintf(stderr, "%s: warning: a password in the catalog URL can be read by every user of "
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
    if (connection->openDBConnection() && tables == Tables::CreateWhenMissing
        && !connection->checkForDatabaseSetup()) {
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
        if (node.value(QStringLiteral("displaytag")).toString() == idOrName)
            return node.value(QStringLiteral("mid")).toString();
    }
    return QString();
}

} // namespace ToolCatalog
