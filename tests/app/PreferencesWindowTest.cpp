#include "../formats/FakeMountRunner.h"
#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNPreferencesWindow.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMappingHelper.h"
#include "formats/PictureReaders.h"
#include "formats/OVNMSAHelper.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QTableView>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <libpq-fe.h>

#include <algorithm>

namespace {

const QStringList kHandKeys = {"DBVendor",
                               "DBHost",
                               "DBUser",
                               "DBPassword",
                               "DBDatabase",
                               "MSAProtocol",
                               "MSAServer",
                               "MSAUser",
                               "MSAPassword",
                               "MSAVolume",
                               "MSAImportpath",
                               "MSAAutomount",
                               "ColorScheme",
                               "FileTypeMapping",
                               "DefaultViewerApplication",
                               "DefaultViewerApplication2"};

FileTypeEntry row(const QString &extension, const QString &processor = "Image")
{
    return {{"extension", extension},
            {"hfstype", ""},
            {"description", extension.toUpper()},
            {"processor", processor},
            {"viewer", "NSIInternal"},
            {"type", "Image"},
            {"exif", "1"},
            {"iptc", "0"}};
}

class PreferencesWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        alerts = ScriptedAlertPresenter::install();
        for (const QString &key : kHandKeys)
            defaults.removeObjectForKey(key);
    }
    void TearDown() override
    {
        window.reset();
        defaults.setArguments({});
        for (const QString &key : kHandKeys)
            defaults.removeObjectForKey(key);
        Alerts::setPresenter(nullptr);
    }

    OVNPreferencesWindow &makeWindow()
    {
        window = std::make_unique<OVNPreferencesWindow>(defaults, factory, table);
        window->showPreferences();
        return *window;
    }

    QStringList alertTitles() const
    {
        QStringList titles;
        for (const Alert &alert : alerts->shown())
            titles.append(alert.message);
        return titles;
    }

    QVariant stored(const QString &key) const { return defaults.persistentDomain().value(key); }

    UserDefaults &defaults = UserDefaults::standard(); // in the test run's own XDG folder
    QTemporaryDir home;
    OVNConnectionFactory factory{defaults, home.filePath("Documents/Ostrevan")};
    OVNExtensionMapping table{FileTypeTable{row("aaa"), row("bbb"), row("ccc")}};
    std::unique_ptr<OVNPreferencesWindow> window;
    ScriptedAlertPresenter *alerts = nullptr;
};

TEST_F(PreferencesWindowTest, HandLoadedKeysRoundTripThroughClosingTheWindow)
{
    struct Case {
        const char *name;
        QVariantMap stored;
        QVariantMap written; // keys not named here are written as stored
        bool automountShown;
    };
    const QVariantMap server = {{"DBHost", "db.example.org:5433"}, {"DBUser", "anna"},     {"DBPassword", " pw "},
                                {"DBDatabase", "media"},           {"MSAServer", "nas"},   {"MSAUser", "bob"},
                                {"MSAPassword", "x:y@z"},          {"MSAVolume", "Media"}, {"MSAImportpath", "In/Box"}};
    const auto with = [](QVariantMap map, const QVariantMap &more) {
        map.insert(more);
        return map;
    };
    const Case cases[] = {
        {"server", with(server, {{"DBVendor", "PostgreSQL"}, {"MSAProtocol", "SMB"}, {"MSAAutomount", "1"}}), {}, true},
        {"mysql kept",
         with(server, {{"DBVendor", "MySQL"}, {"MSAProtocol", "AFP"}, {"MSAAutomount", "YES"}}),
         {{"MSAAutomount", "0"}},
         false},
        {"unknown vendor kept",
         with(server, {{"DBVendor", "Sybase"}, {"MSAAutomount", "0"}}),
         {{"MSAProtocol", "SMB"}},
         false},
        // Stored values win over the workgroup server's suggested user and database.
        {"workgroup",
         {{"DBVendor", "OstrevanWS"}, {"DBHost", ""}, {"DBUser", ""}, {"DBDatabase", ""}},
         {{"DBPassword", ""}, {"MSAProtocol", "SMB"}, {"MSAAutomount", "0"}},
         false},
        // The local catalog's place is fixed and not stored; the server's settings stay for a
        // switch back.
        {"integrated",
         {{"DBVendor", "Integrated"}, {"DBHost", "old"}, {"DBUser", "old"}},
         {{"DBPassword", ""}, {"DBDatabase", ""}, {"MSAAutomount", "0"}},
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &key : kHandKeys)
            defaults.removeObjectForKey(key);
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            defaults.setObject(it.value(), it.key());
        makeWindow();
        EXPECT_EQ(window->automountSwitch()->isChecked(), c.automountShown);
        window->close();
        EXPECT_FALSE(window->isVisible());
        const QVariantMap expected = with(c.stored, c.written);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            EXPECT_EQ(stored(it.key()).toString(), it.value().toString()) << qPrintable(it.key());
    }
}

TEST_F(PreferencesWindowTest, SettingsGivenOnTheCommandLineAreNeitherShownNorStored)
{
    enum class End { Close, Connect };
    struct Case {
        const char *name;
        QVariantMap stored;
        QStringList arguments;
        End end;
        int vendorShown;
        QString hostShown;
    };
    const QVariantMap server = {{"DBVendor", "PostgreSQL"},
                                {"DBHost", "stored.example.org"},
                                {"DBUser", "anna"},
                                {"DBDatabase", "media"},
                                {"MSAServer", "nas"}};
    const Case cases[] = {
        {"server stored, others given",
         server,
         {"-DBVendor", "Integrated", "-DBHost", "given.example.org", "-DBUser", "given", "-MSAServer", "given-nas"},
         End::Close,
         OVNPreferencesWindow::PostgreSQL,
         "stored.example.org"},
        {"local catalog stored, a server given",
         {{"DBVendor", "Integrated"}},
         {"-DBVendor", "PostgreSQL", "-DBHost", "given.example.org", "-DBDatabase", "given", "-ColorScheme", "Given"},
         End::Close,
         OVNPreferencesWindow::Integrated,
         ""},
        {"local catalog stored, a server given, Connect",
         {{"DBVendor", "Integrated"}},
         {"-DBVendor", "PostgreSQL", "-DBHost", "given.example.org", "-DBUser", "given"},
         End::Connect,
         OVNPreferencesWindow::Integrated,
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &key : kHandKeys)
            defaults.removeObjectForKey(key);
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            defaults.setObject(it.value(), it.key());
        defaults.setArguments(QStringList{"ostrevan"} + c.arguments);
        makeWindow();
        EXPECT_EQ(window->vendorPopUp()->currentIndex(), c.vendorShown);
        EXPECT_EQ(window->hostField()->text(), c.hostShown);
        if (c.end == End::Connect) {
            EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::Saved);
        }
        window->close();
        const QVariantMap given = defaults.argumentDomain();
        defaults.setArguments({"ostrevan"});
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            EXPECT_EQ(stored(it.key()).toString(), it.value().toString()) << qPrintable(it.key());
        for (auto it = given.begin(); it != given.end(); ++it)
            EXPECT_NE(stored(it.key()).toString(), it.value().toString()) << qPrintable(it.key());
    }
}

TEST_F(PreferencesWindowTest, FieldStatesFollowTheVendor)
{
    makeWindow();
    struct Case {
        int item;
        bool fieldsEnabled;
        QStringList texts; // host, user, password, database
        bool connectEnabled;
    };
    const Case cases[] = {
        {OVNPreferencesWindow::PostgreSQL, true, {"", "", "", ""}, true},
        {OVNPreferencesWindow::Integrated, false, {"", "", "", factory.catalogFilePath()}, true},
        {OVNPreferencesWindow::MySQL, true, {"", "", "", ""}, false},
        {OVNPreferencesWindow::OstrevanWS, true, {"", "ostrevan", "", "mediadb"}, true},
        {OVNPreferencesWindow::Integrated, false, {"", "", "", factory.catalogFilePath()}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        window->vendorPopUp()->setCurrentIndex(c.item);
        const QLineEdit *fields[] = {window->hostField(), window->userField(), window->passwordField(),
                                     window->databaseField()};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(fields[i]->isEnabled(), c.fieldsEnabled) << i;
            EXPECT_EQ(fields[i]->text(), c.texts.at(i)) << i;
        }
        EXPECT_EQ(window->connectButton()->isEnabled(), c.connectEnabled);
        EXPECT_EQ(window->createButton()->isEnabled(), c.connectEnabled);
    }
    // Until their issues fill them: no hot-plug application, no user manager.
    EXPECT_EQ(window->cameraHotPlugPopUp()->count(), 1);
    EXPECT_EQ(window->cameraHotPlugPopUp()->currentText(), "No Application");
    EXPECT_TRUE(window->userManagerButton()->isHidden());
    // The download page's button is there once there is something to open it.
    EXPECT_TRUE(window->downloadPageButton()->isHidden());
    int opened = 0;
    window->setDownloadPageOpener([&] { ++opened; });
    EXPECT_FALSE(window->downloadPageButton()->isHidden());
    window->downloadPageButton()->click();
    EXPECT_EQ(opened, 1);
}

// The saved server settings, and what is typed over them, outlast a switch to another vendor and
// back; saved with the integrated catalog chosen, the server's settings stay stored.
TEST_F(PreferencesWindowTest, SwitchingTheVendorKeepsTheServersSettings)
{
    const QStringList saved{"db.example", "ann", "s3cret", "photos"};
    defaults.setStoredObject(QStringLiteral("PostgreSQL"), "DBVendor");
    for (int i = 0; i < 4; ++i)
        defaults.setStoredObject(saved.at(i), kHandKeys.at(i + 1));
    makeWindow();
    const QLineEdit *fields[] = {window->hostField(), window->userField(), window->passwordField(),
                                 window->databaseField()};
    const QStringList typed{"typed.example", "ann", "s3cret", "photos"};
    const struct {
        int item;
        const char *typeHost; // typed into the host field after the switch
        QStringList texts;
    } cases[] = {
        {OVNPreferencesWindow::PostgreSQL, nullptr, saved},
        {OVNPreferencesWindow::Integrated, nullptr, {"", "", "", factory.catalogFilePath()}},
        {OVNPreferencesWindow::PostgreSQL, "typed.example", saved},
        {OVNPreferencesWindow::MySQL, nullptr, typed},
        {OVNPreferencesWindow::Integrated, nullptr, {"", "", "", factory.catalogFilePath()}},
        // The workgroup server's names do not replace a user's.
        {OVNPreferencesWindow::OstrevanWS, nullptr, typed},
        {OVNPreferencesWindow::Integrated, nullptr, {"", "", "", factory.catalogFilePath()}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        window->vendorPopUp()->setCurrentIndex(c.item);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(fields[i]->text(), c.texts.at(i)) << i;
        if (c.typeHost)
            window->hostField()->setText(c.typeHost);
    }
    ASSERT_TRUE(window->savePreferences());
    EXPECT_EQ(stored("DBVendor").toString(), "Integrated");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stored(kHandKeys.at(i + 1)).toString(), typed.at(i)) << i;
}

TEST_F(PreferencesWindowTest, ConnectToTheIntegratedCatalogMakesItAndSaves)
{
    makeWindow();
    QSignalSpy saved(window.get(), &OVNPreferencesWindow::databaseSettingsSaved);
    window->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::Integrated);
    EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::Saved);
    EXPECT_EQ(alertTitles(), QStringList{"Media Database connection changed"});
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(stored("DBVendor").toString(), "Integrated");

    OVNDatabaseAccess check;
    check.setConnectionDetails("Integrated", {}, {}, {}, factory.catalogFilePath());
    ASSERT_TRUE(check.openDBConnection());
    EXPECT_TRUE(check.checkForDatabaseSetup());

    // Create works on the connection in use, by its own kind, whatever the pop-up says.
    OVNDatabaseAccess empty;
    empty.setConnectionDetails("Integrated", {}, {}, {}, home.filePath("empty.sqlite"));
    ASSERT_TRUE(empty.openDBConnection());
    window->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::PostgreSQL);
    window->setConnectionInUse([&empty] { return &empty; });
    EXPECT_TRUE(window->prefDBCreateDatabase());
    EXPECT_TRUE(empty.checkForDatabaseSetup());
    window->setConnectionInUse(nullptr);
    EXPECT_FALSE(window->prefDBCreateDatabase());
    EXPECT_EQ(alertTitles().mid(1), (QStringList{"Media Database tables are ready", "No catalog is open"}));
}

TEST_F(PreferencesWindowTest, BadInputIsRefusedAndAFailedTrialSavesNothing)
{
    makeWindow();
    defaults.setString("kept", "DBPassword");
    // A catalog file that cannot be opened: a folder in its place.
    ASSERT_TRUE(QDir().mkpath(factory.catalogFilePath()));
    window->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::Integrated);
    EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::NoConnection);
    window->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::PostgreSQL);
    window->hostField()->setText("db.example.org");
    window->userField()->setText("anna");
    EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::Refused);
    EXPECT_EQ(alertTitles(), (QStringList{"Database connection failed", "Please enter a user and a database"}));
    EXPECT_EQ(stored("DBPassword").toString(), "kept");
    EXPECT_FALSE(stored("DBVendor").isValid());
}

// Runs one statement as the test server's superuser.
bool runAsSuperuser(const PgTestServer &server, const QByteArray &sql)
{
    const QByteArray host = server.host.toUtf8();
    const QByteArray port = QByteArray::number(server.port);
    const char *keys[] = {"host", "port", "user", "dbname", nullptr};
    const char *values[] = {host.constData(), port.constData(), "postgres", "postgres", nullptr};
    PGconn *connection = PQconnectdbParams(keys, values, 0);
    PGresult *result = PQexec(connection, sql.constData());
    const bool ok = PQstatus(connection) == CONNECTION_OK && PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    PQfinish(connection);
    return ok;
}

TEST_F(PreferencesWindowTest, ConnectToANewServerDatabaseCreatesTheTablesAndAWrongPasswordSavesNothing)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    const QByteArray database = "ovn_prefs_" + QByteArray::number(QCoreApplication::applicationPid());
    runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
    ASSERT_TRUE(runAsSuperuser(*server, "CREATE DATABASE " + database + " OWNER " + server->user.toUtf8()));

    makeWindow();
    window->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::PostgreSQL);
    window->hostField()->setText(server->tcpHost + ":" + QString::number(server->port));
    window->userField()->setText(server->user);
    window->databaseField()->setText(QString::fromUtf8(database));
    window->passwordField()->setText(server->password + "-wrong");
    EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::NoConnection);
    EXPECT_FALSE(stored("DBDatabase").isValid());

    window->passwordField()->setText(server->password);
    EXPECT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::Saved);
    EXPECT_EQ(alertTitles(), (QStringList{"Database connection failed", "Media Database connection changed"}));
    EXPECT_EQ(stored("DBVendor").toString(), "PostgreSQL");
    EXPECT_EQ(stored("DBDatabase").toString(), QString::fromUtf8(database));

    OVNDatabaseAccess check;
    check.setConnectionDetails("PostgreSQL", window->hostField()->text(), server->user, server->password,
                               QString::fromUtf8(database));
    ASSERT_TRUE(check.openDBConnection());
    EXPECT_TRUE(check.checkForDatabaseSetup());
    check.closeDBConnection();
    runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
}

// A run started with server settings on the command line that fail: Connect with other settings
// saves them and, as its message says, each new window uses them: the command line's settings give
// way for the rest of the run and are never written to the file. Its other settings stay.
TEST_F(PreferencesWindowTest, ConnectInARunWithCommandLineSettingsGivesNewWindowsTheTestedOnes)
{
    const std::optional<PgTestServer> server = pgTestServer();
    const QByteArray database = "ovn_prefs_cmd_" + QByteArray::number(QCoreApplication::applicationPid());
    if (server) {
        runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
        ASSERT_TRUE(runAsSuperuser(*server, "CREATE DATABASE " + database + " OWNER " + server->user.toUtf8()));
    }
    const auto dropDatabase = qScopeGuard([&] {
        if (server)
            runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
    });
    struct Case {
        const char *name;
        OVNPreferencesWindow::VendorItem vendor;
        bool needsServer;
    };
    const Case cases[] = {
        {"integrated", OVNPreferencesWindow::Integrated, false},
        {"server", OVNPreferencesWindow::PostgreSQL, true},
    };
    const QStringList commandLine = {"ostrevan", "-DBVendor",      "PostgreSQL",  "-DBHost",        "127.0.0.1:9",
                                     "-DBUser",  "given",          "-DBPassword", "given-password", "-DBDatabase",
                                     "given-db", "-ThumbnailSize", "77"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsServer && !server) {
            if (pgTestServerIsRequired())
                ADD_FAILURE() << "scripts/test started a PostgreSQL server but its facts are missing";
            continue;
        }
        for (const QString &key : kHandKeys)
            defaults.removeObjectForKey(key);
        defaults.setArguments(commandLine);
        const qsizetype before = alerts->shown().size();
        // The start's own settings fail.
        EXPECT_FALSE(factory.createAndOpenDBConnection()->isDBConnectionActive());

        makeWindow();
        window->vendorPopUp()->setCurrentIndex(c.vendor);
        if (c.needsServer) {
            window->hostField()->setText(server->tcpHost + ":" + QString::number(server->port));
            window->userField()->setText(server->user);
            window->passwordField()->setText(server->password);
            window->databaseField()->setText(QString::fromUtf8(database));
        }
        ASSERT_EQ(window->prefDBConnect(), OVNPreferencesWindow::ConnectResult::Saved);

        // A new window's connection: the tested settings, without a further alert.
        const std::unique_ptr<OVNDatabaseAccess> next = factory.createAndOpenDBConnection();
        ASSERT_NE(next, nullptr);
        EXPECT_TRUE(next->isDBConnectionActive());
        EXPECT_EQ(next->vendor(),
                  c.needsServer ? OVNDatabaseAccess::Vendor::PostgreSQL : OVNDatabaseAccess::Vendor::Integrated);
        EXPECT_EQ(alertTitles().mid(before),
                  (QStringList{"Database connection failed", "Media Database connection changed"}));

        // The file holds what was tested, nothing of the command line's.
        UserDefaults file(defaults.filePath());
        EXPECT_EQ(file.persistentDomain().value("DBVendor").toString(), c.needsServer ? "PostgreSQL" : "Integrated");
        for (const char *value : {"127.0.0.1:9", "given", "given-password", "given-db", "77"})
            EXPECT_FALSE(file.persistentDomain().values().contains(QVariant(QString::fromLatin1(value)))) << value;
        EXPECT_EQ(defaults.argumentDomain().keys(), QStringList{"ThumbnailSize"});
        window.reset();
    }
}

// Where no password is stored the field shows the registered one; saved back unchanged it would be
// sent before PGPASSWORD and ~/.pgpass are asked, so it stays unsaved. What the user types is saved,
// an emptied field too.
TEST_F(PreferencesWindowTest, TheRegisteredPasswordShownIsNotSavedBack)
{
    defaults.registerDefaults({{"DBPassword", "registered-pw"}});
    defaults.setString("OstrevanWS", "DBVendor");
    struct Case {
        const char *name;
        const char *typed; // nullptr: left as shown
        QVariant stored;
    };
    const Case cases[] = {
        {"left as shown", nullptr, QVariant()},
        {"typed", "own", "own"},
        {"emptied", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        defaults.removeObjectForKey("DBPassword");
        makeWindow();
        EXPECT_EQ(window->passwordField()->text(), "registered-pw");
        if (c.typed)
            window->passwordField()->setText(QString::fromUtf8(c.typed));
        ASSERT_TRUE(window->savePreferences());
        EXPECT_EQ(stored("DBPassword"), c.stored);
    }
    defaults.registerDefaults({{"DBPassword", ""}});
}

TEST_F(PreferencesWindowTest, EveryFileTypeOperationIsSavedAtOnce)
{
    makeWindow();
    const auto extensions = [this] {
        QStringList result;
        for (const FileTypeEntry &entry : table.getExtensionMap())
            result.append(entry.value("extension").toString());
        // What is stored is what the table holds.
        const QVariantList saved = defaults.arrayForKey("FileTypeMapping");
        QStringList savedExtensions;
        for (const QVariant &entry : saved)
            savedExtensions.append(entry.toMap().value("extension").toString());
        EXPECT_EQ(savedExtensions, result);
        return result;
    };
    EXPECT_EQ(window->selectedFileTypeRow(), 0);
    EXPECT_FALSE(window->fileTypeUpButton()->isEnabled());

    // Add: the sheet's row, the extension as look-ups need it; a long type code is refused. A new
    // row starts with the first processor and viewer the pop-ups offer: the movie ones.
    window->addFileType();
    EXPECT_EQ(window->sheetProcessorPopUp()->currentText(), "QuickTime");
    EXPECT_EQ(window->sheetViewerPopUp()->currentData().toString(), "QTInternal");
    QStringList processors;
    for (int i = 0; i < window->sheetProcessorPopUp()->count(); ++i)
        processors.append(window->sheetProcessorPopUp()->itemText(i));
    EXPECT_EQ(processors, (QStringList{"QuickTime", "Image", "RAW", "DCRAW", "Adobe.Illustrator", "Document.Generic",
                                       "Document.Webloc"}));
    QStringList viewers;
    for (int i = 0; i < window->sheetViewerPopUp()->count(); ++i)
        viewers.append(window->sheetViewerPopUp()->itemData(i).toString());
    EXPECT_EQ(viewers, (QStringList{"QTInternal", "NSIInternal", "Creator"}));
    window->sheetExtensionField()->setText(" .XYZ ");
    window->sheetTypeCodeField()->setText("TOOLONG");
    EXPECT_FALSE(window->saveFileTypeSheet());
    EXPECT_TRUE(window->fileTypeSheet()->isVisible());
    window->sheetTypeCodeField()->setText("XYZ ");
    window->sheetProcessorPopUp()->setCurrentText("RAW");
    window->sheetViewerPopUp()->setCurrentText("Built-in image viewer");
    ASSERT_TRUE(window->saveFileTypeSheet());
    EXPECT_FALSE(window->fileTypeSheet()->isVisible());
    const FileTypeEntry added = table.objectAtIndex(3);
    EXPECT_EQ(added, (FileTypeEntry{{"extension", "xyz"},
                                    {"hfstype", "XYZ"},
                                    {"description", "untitled"},
                                    {"processor", "RAW"},
                                    {"viewer", "NSIInternal"},
                                    {"type", "Image"},
                                    {"exif", "0"},
                                    {"iptc", "0"}}));
    EXPECT_EQ(OVNExtensionMapping().getProcessorForExtension("XYZ"), "RAW");
    EXPECT_EQ(window->selectedFileTypeRow(), 3);
    // The stored viewer code reads as what it is; the sheet offers the viewers by those words.
    EXPECT_EQ(window->fileTypeTable()->model()->index(3, 3).data().toString(), "Built-in image viewer");
    window->editFileType();
    EXPECT_EQ(window->sheetViewerPopUp()->currentText(), "Built-in image viewer");
    window->sheetViewerPopUp()->setCurrentText("Built-in movie viewer");
    ASSERT_TRUE(window->saveFileTypeSheet());
    EXPECT_EQ(table.objectAtIndex(3).value("viewer").toString(), "QTInternal");
    EXPECT_EQ(window->fileTypeTable()->model()->index(3, 3).data().toString(), "Built-in movie viewer");
    EXPECT_FALSE(window->fileTypeDownButton()->isEnabled());

    struct Step {
        const char *name;
        std::function<void()> act;
        QStringList extensions;
        int selected;
    };
    const Step steps[] = {
        {"up", [this] { window->moveFileType(-1); }, {"aaa", "bbb", "xyz", "ccc"}, 2},
        {"edit",
         [this] {
             window->editFileType();
             EXPECT_EQ(window->sheetProcessorPopUp()->currentText(), "RAW");
             window->sheetExtensionField()->setText("Raw2");
             window->saveFileTypeSheet();
         },
         {"aaa", "bbb", "raw2", "ccc"},
         2},
        {"edit cancelled",
         [this] {
             window->editFileType();
             window->sheetExtensionField()->setText("nope");
             window->fileTypeSheet()->reject();
         },
         {"aaa", "bbb", "raw2", "ccc"},
         2},
        {"duplicate", [this] { window->duplicateFileType(); }, {"aaa", "bbb", "raw2", "raw2", "ccc"}, 2},
        {"down", [this] { window->moveFileType(1); }, {"aaa", "bbb", "raw2", "raw2", "ccc"}, 3},
        {"delete answered No",
         [this] {
             alerts->enqueueAnswers({1});
             window->deleteFileType();
         },
         {"aaa", "bbb", "raw2", "raw2", "ccc"},
         3},
        {"delete", [this] { window->deleteFileType(); }, {"aaa", "bbb", "raw2", "ccc"}, 3},
        {"first row up does nothing",
         [this] {
             window->selectFileTypeRow(0);
             window->moveFileType(-1);
         },
         {"aaa", "bbb", "raw2", "ccc"},
         0},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(extensions(), step.extensions);
        EXPECT_EQ(window->selectedFileTypeRow(), step.selected);
    }

    alerts->enqueueAnswers({1});
    window->resetFileTypes(false);
    EXPECT_EQ(table.count(), 4);
    window->resetFileTypes(false);
    EXPECT_EQ(table.getExtensionMap(), OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
    window->resetFileTypes(true);
    EXPECT_EQ(table.getExtensionMap(), OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3());
    EXPECT_EQ(defaults.arrayForKey("FileTypeMapping").size(), OVNExtensionMappingHelper::kBuiltInRowCount);
    EXPECT_EQ(alertTitles(),
              (QStringList{"The type code is too long", "Do you really want to delete the selected item?",
                           "Do you really want to delete the selected item?",
                           "Do you really want to reset the file types to the built-in table?",
                           "Do you really want to reset the file types to the built-in table?",
                           alerts->shown().last().message}));
}

TEST_F(PreferencesWindowTest, IconSetsAreListedByTheirTitlesFromTheResources)
{
    QTemporaryDir resources;
    const auto makeSet = [&](const QString &folder, const QByteArray &info) {
        QDir().mkpath(resources.filePath("IconSets/" + folder));
        if (info.isNull())
            return;
        QFile file(resources.filePath("IconSets/" + folder + "/info.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(info);
    };
    const auto tagged = [](const char *tag) { return PropertyList::writeXml(QVariantMap{{"displaytag", tag}}); };
    makeSet("A", tagged("Alpha"));
    makeSet("B", tagged("Beta"));
    makeSet("C", tagged("Alpha")); // the same title: the later set takes the item
    makeSet("D", QByteArray());    // no info.xml
    makeSet("E", PropertyList::writeXml(QVariantList{"not a dictionary"}));
    makeSet("F", tagged(""));
    qputenv(Resources::environmentVariable, resources.path().toUtf8());

    defaults.setString("B", "ColorScheme");
    makeWindow();
    QComboBox *sets = window->iconSetPopUp();
    ASSERT_EQ(sets->count(), 2);
    EXPECT_EQ(sets->itemText(0), "Alpha");
    EXPECT_EQ(sets->itemData(0).toString(), "C");
    EXPECT_EQ(sets->currentText(), "Beta");
    sets->setCurrentIndex(0);
    window->savePreferences();
    EXPECT_EQ(stored("ColorScheme").toString(), "C");
    qunsetenv(Resources::environmentVariable);
}

TEST_F(PreferencesWindowTest, ViewerApplicationsAreDesktopEntriesOrPrograms)
{
    QTemporaryDir folder;
    QFile entry(folder.filePath("viewer.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Picture Viewer\nExec=true %f\n");
    entry.close();
    makeWindow();
    EXPECT_FALSE(window->viewerChooser(OVNPreferencesWindow::Viewer::First)->isEnabled());
    window->viewerPopUp(OVNPreferencesWindow::Viewer::First)->setCurrentIndex(2);
    EXPECT_TRUE(window->viewerChooser(OVNPreferencesWindow::Viewer::First)->isEnabled());
    EXPECT_EQ(stored("DefaultViewerType").toString(), "2");

    EXPECT_TRUE(window->setViewerApplication(OVNPreferencesWindow::Viewer::Second, entry.fileName()));
    EXPECT_EQ(window->viewerApplicationField(OVNPreferencesWindow::Viewer::Second)->text(), "Picture Viewer");
    EXPECT_TRUE(window->setViewerApplication(OVNPreferencesWindow::Viewer::First, "/bin/true"));
    EXPECT_FALSE(window->setViewerApplication(OVNPreferencesWindow::Viewer::First, entry.fileName() + ".txt"));
    EXPECT_EQ(stored("DefaultViewerApplication").toString(), "/bin/true");
    EXPECT_EQ(stored("DefaultViewerApplication2").toString(), entry.fileName());
    EXPECT_EQ(alertTitles(), QStringList{"This is no application"});
}

TEST_F(PreferencesWindowTest, MountSavesFirstAndReportsOnTheWindow)
{
    auto runner = std::make_shared<FakeMountRunner>();
    OVNMSAHelper::setDefaultMountRunner(runner);
    makeWindow();
    window->protocolPopUp()->setCurrentIndex(1);
    window->msaServerField()->setText("nas");
    window->msaUserField()->setText("bob");
    window->msaPasswordField()->setText("secret");
    window->msaVolumeField()->setText("Media");
    window->databaseField()->setText("typed");

    runner->setExitCode(2);
    EXPECT_FALSE(window->prefMSAMountVolume());
    runner->setExitCode(0);
    runner->setMountsOnSuccess("/Volumes/Media");
    EXPECT_TRUE(window->prefMSAMountVolume());
    window->protocolPopUp()->setCurrentIndex(0);
    window->msaVolumeField()->setText("Other");
    EXPECT_FALSE(window->prefMSAMountVolume());

    ASSERT_EQ(runner->commands().size(), 2);
    EXPECT_EQ(runner->commands().last().arguments, (QStringList{"mount", "smb://bob@nas/Media"}));
    EXPECT_EQ(runner->commands().last().secret, "secret");
    EXPECT_EQ(alertTitles(), (QStringList{"Volume mount failed", "Volume mounted", "Volume mount failed"}));
    EXPECT_TRUE(alerts->shown().last().informativeText.contains("AFP"));
    EXPECT_EQ(alerts->shown().at(1).window, window.get());
    // Every setting of the window was saved before the mount.
    EXPECT_EQ(stored("DBDatabase").toString(), "typed");
    EXPECT_EQ(stored("MSAProtocol").toString(), "AFP");
    OVNMSAHelper::setDefaultMountRunner(nullptr);
}

} // namespace

namespace {

// A file of the extension as the program meets it: a Photoshop file a real one (the picture
// reader that tells a still reads its header), any other a few bytes no reader takes.
QString fileOfType(const QTemporaryDir &dir, const QString &extension)
{
    const QString path = dir.filePath("file." + extension);
    QByteArray bytes("not a picture of any kind");
    if (extension == "psd") {
        bytes = QByteArray(26, '\0');
        bytes.replace(0, 4, "8BPS");
        bytes[5] = 1;  // version
        bytes[13] = 3; // channels
        bytes[17] = 2; // height
        bytes[21] = 3; // width
        bytes[23] = 8; // depth
        bytes[25] = 3; // RGB
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

} // namespace

// Each row of both built-in tables says in its processor and viewer columns what the program does
// with a file of that type: the viewer it opens the file in, and the loader that reads it (a
// Photoshop file, whose row names the movie readers, is read and shown as a picture).
TEST_F(PreferencesWindowTest, TheFileTypeTableSaysWhatTheProgramDoesWithEachType)
{
    makeWindow();
    QTemporaryDir dir;
    PictureReaders::registerAll();
    for (const bool older : {false, true}) {
        ASSERT_TRUE(older ? table.resetExtensionMapToMacOSX10_3() : table.resetExtensionMapToMacOSX10_4());
        const QAbstractItemModel *model = window->fileTypeTable()->model();
        ASSERT_EQ(model->rowCount(), table.count());
        int stills = 0;
        for (int i = 0; i < table.count(); ++i) {
            const FileTypeEntry row = table.objectAtIndex(i);
            const QString extension = row.value("extension").toString();
            SCOPED_TRACE(qPrintable(QStringLiteral("%1 (%2 table)").arg(extension, older ? "older" : "newer")));
            const QString path = fileOfType(dir, extension);
            const QString stored = row.value("processor").toString();
            const ViewerCode::Window window = FileTypeCodes::windowForFile(row.value("viewer").toString(), path);
            // The viewers' and the import's road: a still the movie readers would open is read
            // by the image reading.
            ProcessorCode::Loader loader = FileTypeCodes::processor(stored).loader;
            if (loader == ProcessorCode::Loader::Movie && ImageFileReader::movieStillSize(path).isValid()) {
                loader = ProcessorCode::Loader::Image;
                ++stills;
            }
            const QString shownViewer = model->index(i, 3).data().toString();
            const QString shownProcessor = model->index(i, 2).data().toString();
            const auto viewerRow = std::find_if(FileTypeCodes::viewers().begin(), FileTypeCodes::viewers().end(),
                                                [&](const ViewerCode &v) { return v.window == window; });
            ASSERT_NE(viewerRow, FileTypeCodes::viewers().end());
            EXPECT_EQ(shownViewer, fileTypeCodeDisplayName(QString::fromLatin1(viewerRow->code)));
            EXPECT_EQ(FileTypeCodes::processor(shownProcessor).loader, loader) << qPrintable(shownProcessor);
            // Where the columns differ from the row, the tooltip names what the row says.
            if (shownProcessor != stored) {
                EXPECT_TRUE(model->index(i, 2).data(Qt::ToolTipRole).toString().contains(stored));
            }
        }
        EXPECT_GE(stills, 1);
    }
}
