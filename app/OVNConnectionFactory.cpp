#include "app/OVNConnectionFactory.h"

#include "catalogdb/OVNCatalogLogin.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/MainThread.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <chrono>

namespace {

const QString kIntegrated = QStringLiteral("Integrated");
const QString kPostgreSQL = QStringLiteral("PostgreSQL");

// Makes the connection's database a whole catalog, or says why it is none to use. One that lacks
// only tables (a new, empty one included) is completed as a new catalog is made: the script leaves
// what is there as it is and, on a server, lets one client at a time run it. A table without some
// of its columns is never changed, nor is a catalog file that holds another program's tables and
// none of the catalog's: `refusal` names why. A server database gets the catalog beside its other
// tables. False when the catalog could not be asked or completed (the connection's last failure
// says why), or is refused.
bool readyCatalog(OVNDatabaseAccess &connection, QString *refusal)
{
    const std::optional<OVNDBHelper::CatalogContents> contents = OVNDBHelper::catalogContents(connection);
    if (!contents)
        return false;
    if (contents->whole())
        return true;
    const bool file = connection.vendor() == OVNDatabaseAccess::Vendor::Integrated;
    if (file && contents->foreign()) {
        *refusal =
            localized("The file \"%1\" holds no catalog.").arg(QDir::toNativeSeparators(connection.dbDatabase()));
        return false;
    }
    if (!contents->missingColumns.isEmpty()) {
        *refusal = localized("The catalog is incomplete: it lacks %1.").arg(contents->missingText());
        return false;
    }
    return file ? OVNDBHelper::prefDBCreateLocalDatabase(connection)
                : OVNDBHelper::prefDBCreatePostgreSQLDatabase(connection);
}

} // namespace

OVNConnectionFactory::OVNConnectionFactory(UserDefaults &defaults, const QString &catalogFolder)
    : m_defaults(defaults),
      m_catalogFolder(QDir::cleanPath(catalogFolder.isEmpty() ? defaultCatalogFolder() : catalogFolder))
{}

OVNConnectionFactory::~OVNConnectionFactory() = default;

QString OVNConnectionFactory::defaultCatalogFolder()
{
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/Documents/Ostrevan"));
}

QString OVNConnectionFactory::catalogFilePath() const { return m_catalogFolder + QStringLiteral("/MediaDB.sqlite"); }

void OVNConnectionFactory::setAlertWindow(QWidget *window) { m_alertWindow = window; }

void OVNConnectionFactory::setBeforeAlert(std::function<void()> hook) { m_beforeAlert = std::move(hook); }

std::unique_ptr<OVNDatabaseAccess> OVNConnectionFactory::createAndOpenDBConnection()
{
    m_defaults.synchronize();
    QString vendor = m_defaults.stringForKey(QStringLiteral("DBVendor"));
    if (vendor.isEmpty())
        vendor = QStringLiteral("OstrevanWS");
    const QString host = m_defaults.stringForKey(QStringLiteral("DBHost"));
    const QString user = m_defaults.stringForKey(QStringLiteral("DBUser"));
    // Only a password the user gave (the preferences file, or this run's command line) is sent
    // as it stands; without one the server's password comes from PGPASSWORD or ~/.pgpass, and the
    // registered default only when neither of them has one.
    const QString password = givenPassword();
    const QString database = m_defaults.stringForKey(QStringLiteral("DBDatabase"));

    // A vendor that names no connection leaves no refusal of an earlier one behind.
    m_catalogRefusal.clear();
    std::unique_ptr<OVNDatabaseAccess> connection;
    if (vendor == kIntegrated)
        connection = createAndOpenLocalDBConnection();
    else if (vendor == QLatin1String("MySQL"))
        connection = createAndOpenMySQLDBConnection(host, user, password, database);
    else if (vendor == kPostgreSQL || vendor == QLatin1String("OstrevanWS"))
        connection = createAndOpenPostgreSQLDBConnection(host, user, password, database);

    m_loginRefusal.clear();
    // Through sessions that end while it is asked, as the tools log in.
    if (connection && connection->isDBConnectionActive())
        m_loginRefusal = OVNCatalogLogin::logInThroughEndedSessions(*connection, SystemInfo::accountName());
    else if (connection)
        connection->authenticateUser(SystemInfo::accountName());
    return connection;
}

QString OVNConnectionFactory::givenPassword() const
{
    const QString key = QStringLiteral("DBPassword");
    const QString fromCommandLine = UserDefaults::stringFromVariant(m_defaults.argumentDomain().value(key));
    if (!fromCommandLine.isEmpty())
        return fromCommandLine;
    return UserDefaults::stringFromVariant(m_defaults.persistentDomain().value(key));
}

std::unique_ptr<OVNDatabaseAccess> OVNConnectionFactory::createAndOpenPostgreSQLDBConnection(const QString &host,
                                                                                             const QString &user,
                                                                                             const QString &password,
                                                                                             const QString &database)
{
    m_catalogRefusal.clear();
    auto connection = std::make_unique<OVNDatabaseAccess>();
    connection->setConnectionDetails(kPostgreSQL, host, user, password, database);
    if (password.isEmpty())
        connection->setFallbackPassword(
            UserDefaults::stringFromVariant(m_defaults.registeredDomain().value(QStringLiteral("DBPassword"))));
    // A session that ends while the catalog is opened or its tables made is opened again while the
    // server answers at once (the 30 seconds of every other road); a server that does not answer
    // is reported at once, as before.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(OVNCatalogOpening::waitSeconds);
    bool ok = false;
    for (bool told = false;;) {
        const quint64 failures = connection->failureCount();
        ok = (connection->isDBConnectionActive() || connection->openDBConnection())
             && readyCatalog(*connection, &m_catalogRefusal);
        if (ok || !m_catalogRefusal.isEmpty() || !OVNCatalogOpening::failedForLostServer(*connection, failures)
            || (!connection->isDBConnectionActive() && !connection->openDBConnection())
            || !OVNCatalogOpening::resume(*connection, deadline, {}, nullptr, &told))
            break;
    }
    if (!ok) {
        // A refusal is the caller's to say, with its own choices.
        if (m_catalogRefusal.isEmpty())
            reportFailure(*connection);
        // A catalog without its tables is no catalog: the caller sees an inactive connection.
        connection->closeDBConnection();
    }
    return connection;
}

std::unique_ptr<OVNDatabaseAccess> OVNConnectionFactory::createAndOpenMySQLDBConnection(const QString &,
                                                                                        const QString &,
                                                                                        const QString &,
                                                                                        const QString &)
{
    return nullptr;
}

std::unique_ptr<OVNDatabaseAccess> OVNConnectionFactory::createAndOpenLocalDBConnection()
{
    m_catalogRefusal.clear();
    const QString path = catalogFilePath();
    auto connection = std::make_unique<OVNDatabaseAccess>();
    connection->setConnectionDetails(kIntegrated, QString(), QString(), QString(), path);

    // With its parents: a new account may not have a Documents folder yet. A failure shows as a
    // failed open below.
    const bool folderThere = QFileInfo(m_catalogFolder).isDir() || QDir().mkpath(m_catalogFolder);

    const bool newCatalog = !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    const bool ok = connection->openDBConnection() && readyCatalog(*connection, &m_catalogRefusal);
    // A vendor named on the command line is for this run: nothing of it is saved.
    const bool vendorForThisRun = m_defaults.argumentDomain().contains(QStringLiteral("DBVendor"));
    // With no vendor saved at all, the local catalog opened now becomes the saved choice, new or not.
    const bool vendorSaved = m_defaults.persistentDomain().contains(QStringLiteral("DBVendor"));
    if (ok && newCatalog && !vendorForThisRun) {
        m_defaults.setString(kIntegrated, QStringLiteral("DBVendor"));
        for (const char *key : {"DBHost", "DBUser", "DBPassword", "DBDatabase"})
            m_defaults.setString(QString(), QString::fromLatin1(key));
    } else if (ok && !vendorSaved && !vendorForThisRun) {
        m_defaults.setString(kIntegrated, QStringLiteral("DBVendor"));
    }
    if (!ok && !m_catalogRefusal.isEmpty()) {
        connection->closeDBConnection();
    } else if (!ok) {
        reportFailure(
            *connection,
            folderThere
                ? QString()
                : localized("The catalog folder %1 cannot be created.").arg(QDir::toNativeSeparators(m_catalogFolder)));
        connection->closeDBConnection();
        // A catalog that could not be made (on a full disk, say) leaves no empty file behind that
        // would pass for one next time.
        if (newCatalog) {
            QFile::remove(path + QStringLiteral("-journal"));
            QFile::remove(path);
        }
    }
    return connection;
}

void OVNConnectionFactory::reportFailure(const OVNDatabaseAccess &connection, const QString &cause)
{
    Alert alert;
    alert.message = localized("Database connection failed");
    alert.informativeText = cause.isEmpty() ? connection.getLastErrorMessage()
                                            : cause + QStringLiteral("\n\n") + connection.getLastErrorMessage();
    alert.buttons = {localized("OK")};
    if (!MainThread::isCurrent()) {
        // A worker is not held up by a person reading the message.
        Alerts::show(alert);
        return;
    }
    if (m_beforeAlert)
        m_beforeAlert();
    // A sheet on a window that is not on screen would never be seen.
    if (m_alertWindow && m_alertWindow->isVisible()) {
        alert.modality = Alert::Modality::Window;
        alert.window = m_alertWindow.data();
        Alerts::show(alert);
    } else {
        Alerts::run(alert);
    }
}
