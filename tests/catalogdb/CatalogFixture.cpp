#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "../support/TestEnvironment.h"

#include <QCoreApplication>

#include <atomic>

namespace {

std::atomic<int> databaseCounter{0};

// A connection to the server's own database, for making and dropping the test databases.
bool runOnServerDatabase(const PgTestServer &server, const QString &sql, QString *error = nullptr)
{
    OVNDatabaseAccess admin;
    admin.setConnectionDetails(QStringLiteral("PostgreSQL"),
                               server.host + QLatin1Char(':') + QString::number(server.port), server.user,
                               server.password, server.database);
    const bool ok = admin.openDBConnection() && admin.runSQLCommand(sql);
    if (error)
        *error = admin.getLastErrorMessage();
    return ok;
}

} // namespace

std::string catalogVendorName(const testing::TestParamInfo<OVNDatabaseAccess::Vendor> &info)
{
    return info.param == OVNDatabaseAccess::Vendor::PostgreSQL ? "PostgreSQL" : "Integrated";
}

void CatalogFixture::SetUp()
{
    if (isPostgres()) {
        const std::optional<PgTestServer> server = pgTestServer();
        OVN_REQUIRE_PG_SERVER(server);
        m_pgDatabase = QStringLiteral("ovn_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++databaseCounter);
        QString error;
        ASSERT_TRUE(runOnServerDatabase(*server, QStringLiteral("create database ") + m_pgDatabase, &error))
            << qPrintable(error);
    } else {
        ASSERT_TRUE(m_dir.isValid());
    }
    setDetails(db);
    ASSERT_TRUE(db.openDBConnection()) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(createCatalog(db)) << qPrintable(db.getLastErrorMessage());
}

void CatalogFixture::TearDown()
{
    db.closeDBConnection();
    if (!m_pgDatabase.isEmpty()) {
        if (const std::optional<PgTestServer> server = pgTestServer())
            runOnServerDatabase(*server, QStringLiteral("drop database if exists %1 with (force)").arg(m_pgDatabase));
    }
}

void CatalogFixture::setDetails(OVNDatabaseAccess &connection) const
{
    if (isPostgres()) {
        const std::optional<PgTestServer> server = pgTestServer();
        // Over the socket, as a workstation beside the server would connect.
        connection.setConnectionDetails(QStringLiteral("PostgreSQL"),
                                        server->host + QLatin1Char(':') + QString::number(server->port), server->user,
                                        server->password, m_pgDatabase);
    } else {
        connection.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalogPath());
    }
}

std::unique_ptr<OVNDatabaseAccess> CatalogFixture::openAnother() const
{
    auto other = std::make_unique<OVNDatabaseAccess>();
    setDetails(*other);
    EXPECT_TRUE(other->openDBConnection()) << qPrintable(other->getLastErrorMessage());
    return other;
}

std::shared_ptr<OVNDatabaseAccess> CatalogFixture::openThrough(int port) const
{
    const std::optional<PgTestServer> server = pgTestServer();
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(port),
                                     server->user, server->password, m_pgDatabase);
    EXPECT_TRUE(connection->openDBConnection()) << qPrintable(connection->getLastErrorMessage());
    return connection;
}

bool CatalogFixture::createCatalog(OVNDatabaseAccess &connection) const
{
    return isPostgres() ? OVNDBHelper::prefDBCreatePostgreSQLDatabase(connection)
                        : OVNDBHelper::prefDBCreateLocalDatabase(connection);
}

QString CatalogFixture::fileDateText()
{
    // Written with the local offset of that time, which is what a server catalog gives back.
    return OVNDatabaseAccess::timestampText(QDateTime(QDate(2024, 5, 1), QTime(10, 11, 12)));
}

QVariantMap CatalogFixture::importRecord(const QString &categoryId, const QString &name)
{
    return {
        {QStringLiteral("categoryid"), categoryId},
        {QStringLiteral("cataloguedby"), QStringLiteral("Ann Example")},
        {QStringLiteral("volumetype"), QStringLiteral("local")},
        {QStringLiteral("volumename"), QStringLiteral("Data")},
        {QStringLiteral("displaytag"), name},
        {QStringLiteral("servername"), QStringLiteral("host")},
        {QStringLiteral("serverpath"), QStringLiteral("/srv")},
        {QStringLiteral("absolutepath"), QStringLiteral("/home/ann/Pictures/") + name},
        {QStringLiteral("filesize"), 123456},
        {QStringLiteral("imagewidth"), 640},
        {QStringLiteral("imageheight"), 480},
        {QStringLiteral("filedts"), fileDateText()},
        {QStringLiteral("dts"), OVNDatabaseAccess::timestampText(QDateTime(QDate(2024, 6, 1), QTime(8, 0)))},
        {QStringLiteral("keywords"), QStringLiteral("A title")},
        {QStringLiteral("shortdesc"), QStringLiteral("sea, sun")},
        {QStringLiteral("fulldesc"), QStringLiteral("A long description")},
        {QStringLiteral("filetype"), QStringLiteral("Image")},
        {QStringLiteral("rating"), 4},
        {QStringLiteral("Orientation"), 6},
        {QStringLiteral("exif"), QVariantMap{{QStringLiteral("CameraMake"), QStringLiteral("X")}}},
    };
}

OVN_CATALOG_VENDORS(CatalogFixture);
