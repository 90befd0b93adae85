#pragma once

#include "app/OVNConnectionSource.h"

#include <QPointer>
#include <QString>

class QWidget;
class UserDefaults;

// Makes and opens catalog connections as the preferences say ("DBVendor", "DBHost", "DBUser",
// "DBPassword", "DBDatabase"): "Integrated" is the SQLite catalog in the catalog folder, "PostgreSQL"
// and "OstrevanWS" (also a missing or empty vendor) a PostgreSQL server. A catalog that lacks only
// tables (a new one included) gets them. Each connection is bound to the catalog user whose login
// is the account's name. A server password is sent only when the user gave one (givenPassword());
// otherwise libpq takes it from PGPASSWORD or ~/.pgpass, and the registered default is the last
// resort.
//
// A failed open shows "Database connection failed" with the database layer's message and hands the
// unopened connection back; the caller tests isDBConnectionActive(). A catalog that lacks a
// column, or a catalog file that holds another program's tables, is left unchanged and its
// connection handed back closed without an alert: catalogRefusal() says why. Alerts always open on
// the GUI thread; a caller on a worker thread does not wait for them.
class OVNConnectionFactory : public OVNConnectionSource
{
public:
    // `catalogFolder` holds the integrated catalog; empty means defaultCatalogFolder().
    explicit OVNConnectionFactory(UserDefaults &defaults, const QString &catalogFolder = QString());
    ~OVNConnectionFactory() override;

    // "~/Documents/Ostrevan".
    static QString defaultCatalogFolder();
    QString catalogFolder() const { return m_catalogFolder; }
    // The catalog folder and "MediaDB.sqlite".
    QString catalogFilePath() const;

    std::unique_ptr<OVNDatabaseAccess> createAndOpenDBConnection() override;
    // An empty password leaves it to PGPASSWORD and ~/.pgpass; the registered "DBPassword" is sent
    // only when the server asks for a password that neither of them gave.
    std::unique_ptr<OVNDatabaseAccess> createAndOpenPostgreSQLDBConnection(const QString &host, const QString &user,
                                                                           const QString &password,
                                                                           const QString &database);
    // There is no MySQL connection: always null.
    std::unique_ptr<OVNDatabaseAccess> createAndOpenMySQLDBConnection(const QString &host, const QString &user,
                                                                      const QString &password, const QString &database);
    std::unique_ptr<OVNDatabaseAccess> createAndOpenLocalDBConnection();

    // The preferences window: its failure alerts are attached to it while it is on screen.
    void setAlertWindow(QWidget *window);
    void setBeforeAlert(std::function<void()> hook) override;
    QString loginRefusal() const override { return m_loginRefusal; }
    QString catalogRefusal() const override { return m_catalogRefusal; }

    // The server password the user gave: this run's "-DBPassword", else the preferences file's;
    // "" when neither holds one (the registered default is no password the user gave).
    QString givenPassword() const;

private:
    // Shows the failure alert with the layer's message, after the cause when one is known.
    void reportFailure(const OVNDatabaseAccess &connection, const QString &cause = QString());

    UserDefaults &m_defaults;
    QString m_catalogFolder;
    QPointer<QWidget> m_alertWindow;
    std::function<void()> m_beforeAlert;
    QString m_loginRefusal;
    QString m_catalogRefusal;
};
