// ovn-preferences: drives the preferences window without a display, as a user would: enters
// database settings and connects or creates the tables, adds a file type, mounts the media server.
//
//   ovn-preferences [--given KEY=VALUE]... [--vendor N --host H --user U --password P --database D]
//                   [--connect|--create] [--add-file-type EXT,PROCESSOR,VIEWER,TYPE] [--protocol AFP|SMB]
//                   [--mount] [--close] [--grab DIR]
//
// --given sets a preference for this run only, as "-KEY VALUE" on the program's command line does.
// --vendor selects the database pop-up's item N (0 Integrated, 1 MySQL, 2 PostgreSQL, 3 OstrevanWS)
// and the field options then replace what it fills in. --connect tests the entered settings,
// --create creates the tables on the connection the saved settings give, --protocol chooses the
// media server's protocol, --mount saves and mounts the media server, --close (last) closes the
// window as the user does, which saves it. Every alert is answered with its default button; each
// prints its title and message. At the end "saved" or "not saved" says whether the actions wrote
// to the preferences. --grab writes a picture of each tab into DIR. Exit status 0 when every action
// succeeded, 1 when one failed, 2 for a bad command line.

#include "app/OVNConnectionFactory.h"
#include "app/OVNPreferencesWindow.h"
#include "app/OVNRegisteredDefaults.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTextStream>

namespace {

// Prints each alert and takes its default button.
class PrintingPresenter : public AlertPresenter
{
public:
    int run(const Alert &alert) override
    {
        QString message = alert.informativeText;
        message.replace(QLatin1Char('\n'), QLatin1Char(' '));
        QTextStream(stdout) << ToolText::printable(alert.message) << ": " << ToolText::printable(message.simplified())
                            << Qt::endl;
        return 0;
    }
};

// By the item's title, or by the stored code an item carries (a viewer's "NSIInternal").
bool selectByTitle(QComboBox *popUp, const QString &title)
{
    int index = popUp->findText(title.trimmed());
    if (index < 0)
        index = popUp->findData(title.trimmed());
    if (index < 0)
        return false;
    popUp->setCurrentIndex(index);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ovn-preferences"));
    DrawingKit::installApplicationStyle();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Drives the preferences window without a display."));
    parser.addHelpOption();
    const QCommandLineOption vendor(QStringLiteral("vendor"), QStringLiteral("Database pop-up item."),
                                    QStringLiteral("N"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Database host."), QStringLiteral("H"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Database user."), QStringLiteral("U"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Database password."),
                                      QStringLiteral("P"));
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("Database name."),
                                      QStringLiteral("D"));
    const QCommandLineOption connectOption(QStringLiteral("connect"),
                                           QStringLiteral("Connect with the entered settings."));
    const QCommandLineOption create(QStringLiteral("create"),
                                    QStringLiteral("Create the tables on the connection in use."));
    const QCommandLineOption addFileType(QStringLiteral("add-file-type"), QStringLiteral("Add a file type."),
                                         QStringLiteral("EXT,PROCESSOR,VIEWER,TYPE"));
    const QCommandLineOption protocol(QStringLiteral("protocol"), QStringLiteral("Media server protocol."),
                                      QStringLiteral("AFP|SMB"));
    const QCommandLineOption mount(QStringLiteral("mount"), QStringLiteral("Save and mount the media server."));
    const QCommandLineOption given(QStringLiteral("given"),
                                   QStringLiteral("A preference for this run only, as -KEY VALUE on the command line."),
                                   QStringLiteral("KEY=VALUE"));
    const QCommandLineOption closeOption(QStringLiteral("close"), QStringLiteral("Close the window at the end."));
    const QCommandLineOption grab(QStringLiteral("grab"), QStringLiteral("Write each tab as a PNG into DIR."),
                                  QStringLiteral("DIR"));
    parser.addOptions({given, vendor, host, user, password, database, connectOption, create, addFileType, protocol,
                       mount, closeOption, grab});
    ToolUsage::parseOrEnd(parser, app.arguments());
    QTextStream err(stderr);
    if (parser.isSet(connectOption) && parser.isSet(create)) {
        err << "ovn-preferences: --connect and --create exclude each other" << Qt::endl;
        return 2;
    }

    Alerts::setPresenter(std::make_unique<PrintingPresenter>());
    UserDefaults &defaults = UserDefaults::standard();
    QStringList commandLine = {QApplication::applicationName()};
    for (const QString &pair : parser.values(given)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            err << "ovn-preferences: --given takes KEY=VALUE" << Qt::endl;
            return 2;
        }
        commandLine << QLatin1Char('-') + pair.left(equals) << pair.mid(equals + 1);
    }
    defaults.setArguments(commandLine);
    defaults.registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1440, 878)));
    OVNConnectionFactory factory(defaults);
    OVNExtensionMapping table;
    OVNPreferencesWindow window(defaults, factory, table);
    std::unique_ptr<OVNDatabaseAccess> inUse;
    window.setConnectionInUse([&] {
        // The connection start-up would have opened with the saved settings.
        if (!inUse)
            inUse = factory.createAndOpenDBConnection();
        return inUse.get();
    });
    factory.setAlertWindow(&window);
    window.showPreferences();

    if (parser.isSet(grab)) {
        QDir().mkpath(parser.value(grab));
        for (int i = 0; i < window.tabs()->count(); ++i) {
            window.tabs()->setCurrentIndex(i);
            const QString name = window.tabs()->tabText(i).remove(QLatin1Char(' ')).toLower();
            window.grab().save(
                QDir(parser.value(grab)).filePath(QStringLiteral("preferences-%1-%2.png").arg(i).arg(name)));
        }
        window.tabs()->setCurrentIndex(0);
    }

    bool written = false;
    QObject::connect(&window, &OVNPreferencesWindow::preferencesWritten, [&written] { written = true; });
    const QVariantMap before = defaults.persistentDomain();
    bool ok = true;

    if (parser.isSet(vendor)) {
        const std::optional<int> index =
            ToolNumber::integer32("--vendor", parser.value(vendor), 0, OVNPreferencesWindow::OstrevanWS);
        if (!index)
            return 2;
        window.vendorPopUp()->setCurrentIndex(*index);
    }
    const std::pair<const QCommandLineOption *, QLineEdit *> fields[] = {{&host, window.hostField()},
                                                                         {&user, window.userField()},
                                                                         {&password, window.passwordField()},
                                                                         {&database, window.databaseField()}};
    for (const auto &[option, field] : fields) {
        if (parser.isSet(*option))
            field->setText(parser.value(*option));
    }
    if (parser.isSet(connectOption))
        ok = window.prefDBConnect() == OVNPreferencesWindow::ConnectResult::Saved && ok;
    if (parser.isSet(create))
        ok = window.prefDBCreateDatabase() && ok;

    if (parser.isSet(addFileType)) {
        const QStringList parts = parser.value(addFileType).split(QLatin1Char(','));
        if (parts.size() != 4) {
            err << "ovn-preferences: --add-file-type takes EXT,PROCESSOR,VIEWER,TYPE" << Qt::endl;
            return 2;
        }
        window.addFileType();
        window.sheetExtensionField()->setText(parts.at(0));
        if (!selectByTitle(window.sheetProcessorPopUp(), parts.at(1))
            || !selectByTitle(window.sheetViewerPopUp(), parts.at(2))
            || !selectByTitle(window.sheetTypePopUp(), parts.at(3))) {
            err << "ovn-preferences: unknown processor, viewer or type in "
                << ToolText::printable(parser.value(addFileType)) << Qt::endl;
            return 2;
        }
        ok = window.saveFileTypeSheet() && ok;
    }
    if (parser.isSet(protocol) && !selectByTitle(window.protocolPopUp(), parser.value(protocol))) {
        err << "ovn-preferences: --protocol takes AFP or SMB" << Qt::endl;
        return 2;
    }
    if (parser.isSet(mount))
        ok = window.prefMSAMountVolume() && ok;
    if (parser.isSet(closeOption))
        window.close();

    QTextStream(stdout) << (written || defaults.persistentDomain() != before ? "saved" : "not saved") << Qt::endl;
    return ok ? 0 : 1;
}
