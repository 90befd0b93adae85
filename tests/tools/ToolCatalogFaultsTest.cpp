// The command-line writers and outputs on a catalog file that is not what it should be: partly
// made, lacking a column, another program's database, read-only; and imports that store nothing.
// Each says why, ends with its status, and leaves the catalog as the table says.

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

#include <unistd.h>

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

class Workspace
{
public:
    Workspace()
    {
        // Readable by every account: a read-only case runs the tool as another one.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ReadOther | QFileDevice::ExeOther);
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
        QFile::setPermissions(path(QStringLiteral("home")), QFileDevice::Permissions(0x7777));
        QDir(m_dir.path()).mkpath(QStringLiteral("vols/Card"));
        QDir(m_dir.path()).mkpath(QStringLiteral("dest"));
        picture(QStringLiteral("in.ppm"));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }
    QString catalog() const { return path(QStringLiteral("cat.sqlite")); }

    // A tiny picture the import reads without a decoder library of its own.
    void picture(const QString &name) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("P6\n4 2\n255\n");
        file.write(QByteArray(24, '\x40'));
        file.close();
        QFile::setPermissions(path(name), QFileDevice::Permissions(0x6444));
    }

    ToolRun run(const char *tool, const QStringList &arguments, const QString &asAccount = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("home/config")));
        environment.insert(QStringLiteral("OVN_VOLUME_ROOTS"), path(QStringLiteral("vols")));
        process.setProcessEnvironment(environment);
        const QString program = QStringLiteral(OVN_TOOLS_DIR "/") + QLatin1String(tool);
        if (asAccount.isEmpty())
            process.start(program, arguments);
        else
            process.start(QStringLiteral("setpriv"),
                          QStringList{QStringLiteral("--reuid=") + asAccount, QStringLiteral("--regid=") + asAccount,
                                      QStringLiteral("--clear-groups"), program}
                              + arguments);
        if (!process.waitForStarted() || !process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    // The catalog made as the import makes it, with one entry in "Top".
    void importedCatalog() const
    {
        const ToolRun made = run("ovn-import", {QStringLiteral("--quiet"), catalog(), QStringLiteral("Top"),
                                                path(QStringLiteral("in.ppm"))});
        ASSERT_EQ(made.status, 0) << qPrintable(made.out + made.err);
    }

    bool sql(const QStringList &statements) const
    {
        OVNDatabaseAccess db;
        db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog());
        if (!db.openDBConnection())
            return false;
        for (const QString &statement : statements)
            if (!db.runSQLCommand(statement))
                return false;
        return true;
    }

    // How many categories the catalog holds of that name; -1 when it cannot be read.
    int categoriesNamed(const QString &name) const
    {
        OVNDatabaseAccess db;
        db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog());
        db.setCreatesMissingFile(false);
        if (!db.openDBConnection())
            return -1;
        const QList<OVNRow> rows =
            db.rowsForQuery(QStringLiteral("select count(*) from strvcategory where displaytag=$1"), {name});
        return rows.isEmpty() ? -1 : rows.first().value(0).toInt();
    }

    std::optional<OVNDBHelper::CatalogContents> contents() const
    {
        OVNDatabaseAccess db;
        db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog());
        db.setCreatesMissingFile(false);
        if (!db.openDBConnection())
            return std::nullopt;
        return OVNDBHelper::catalogContents(db);
    }

    QByteArray catalogHash() const
    {
        QFile file(catalog());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }

private:
    QTemporaryDir m_dir;
};

// The account a read-only case runs as: this one when the file's mode binds it, another one
// through setpriv when this one is root (whom no mode binds); empty when there is none to take.
std::optional<QString> readOnlyAccount()
{
    if (::geteuid() != 0)
        return QString();
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return std::nullopt;
    return QStringLiteral("65534");
}

} // namespace

// ovn-import and ovn-recordexport: what each says, its status and what the catalog holds after it.
TEST(ToolCatalogFaultsTest, ImportsSayWhyAndLeaveTheCatalogAsTheySay)
{
    const struct {
        const char *name;
        std::function<void(const Workspace &)> before;
        const char *tool;
        QStringList arguments; // CATALOG and DIR stand for the catalog and the workspace
        int status;
        const char *says; // on standard error, or standard output when the status is 0
        int freshAfter;   // categories named "Fresh" afterwards
        bool wholeAfter;
        bool unchanged; // the catalog file byte for byte
        bool readOnly = false;
    } cases[] = {
        {"a catalog without two of its tables is completed",
         [](const Workspace &w) {
             w.importedCatalog();
             ASSERT_TRUE(w.sql({QStringLiteral("drop table strvexif"), QStringLiteral("drop table strvsold")}));
         },
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         0,
         "imported 1 of 1 file",
         1,
         true,
         false},
        {"a catalog without a column is refused, naming it",
         [](const Workspace &w) {
             w.importedCatalog();
             ASSERT_TRUE(w.sql({QStringLiteral("drop index idxfilekeywords"),
                                QStringLiteral("alter table strvfile drop column keywords")}));
         },
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "cannot open the catalog CATALOG: The catalog is incomplete: it lacks the column strvfile.keywords.",
         0,
         false,
         true},
        {"another program's database is refused untouched",
         [](const Workspace &w) {
             ASSERT_TRUE(w.sql({QStringLiteral("create table notes (a int, b text)"),
                                QStringLiteral("insert into notes values (1, 'kept')")}));
         },
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "holds no catalog",
         -1,
         false,
         true},
        {"a path that is not there leaves no collection",
         [](const Workspace &w) { w.importedCatalog(); },
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/nowhere.ppm"},
         1,
         "nothing was imported: the collection Fresh made for it was removed",
         0,
         true,
         false},
        {"a smart import of nothing leaves no folder",
         [](const Workspace &w) { w.importedCatalog(); },
         "ovn-import",
         {"--smart", "CATALOG", "Fresh", "DIR/nowhere.ppm"},
         1,
         "nothing was imported: the folder Fresh made for it was removed",
         0,
         true,
         false},
        {"a record export whose files are all gone leaves no collection",
         [](const Workspace &w) {
             w.importedCatalog();
             QFile file(w.path(QStringLiteral("export.txt")));
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
             file.write("v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\r\n"
                        "%Data\r\nCard\t\tgone.ppm\r\n");
         },
         "ovn-recordexport",
         {"CATALOG", "Fresh", "DIR/export.txt"},
         1,
         "nothing was imported: the collection Fresh made for it was removed",
         0,
         true,
         false},
        {"a read-only catalog says the catalog's reason",
         [](const Workspace &w) {
             w.importedCatalog();
             QFile::setPermissions(w.catalog(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
         },
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "cannot make the collection Fresh: attempt to write a readonly database",
         0,
         true,
         true,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString account;
        if (c.readOnly) {
            const std::optional<QString> other = readOnlyAccount();
            if (!other) {
                std::printf("skipped: %s (no account that a file's mode binds)\n", c.name);
                continue;
            }
            account = *other;
        }
        Workspace w;
        c.before(w);
        const QByteArray before = w.catalogHash();
        QStringList arguments;
        for (QString argument : c.arguments)
            arguments.append(
                argument.replace(QLatin1String("CATALOG"), w.catalog()).replace(QLatin1String("DIR"), w.folder()));
        const ToolRun done = w.run(c.tool, arguments, account);
        const QString says = QString::fromLatin1(c.says).replace(QLatin1String("CATALOG"), w.catalog());
        EXPECT_EQ(done.status, c.status) << qPrintable(done.out + done.err);
        EXPECT_TRUE((c.status == 0 ? done.out : done.err).contains(says)) << qPrintable(done.out + done.err);
        if (c.status != 0) {
            EXPECT_FALSE(done.out.contains(QLatin1String("imported 1"))) << qPrintable(done.out);
        }
        EXPECT_EQ(w.categoriesNamed(QStringLiteral("Fresh")), c.freshAfter);
        const std::optional<OVNDBHelper::CatalogContents> contents = w.contents();
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->whole(), c.wholeAfter) << qPrintable(contents->missingText());
        if (c.unchanged) {
            EXPECT_EQ(w.catalogHash(), before);
        }
    }
}

// Export, e-mail, web gallery and express search on a catalog that lacks columns: each names them
// and ends with status 1, instead of "nothing to export" or "The search could not run.".
TEST(ToolCatalogFaultsTest, OutputsNameTheColumnsACatalogLacks)
{
    Workspace w;
    w.importedCatalog();
    ASSERT_TRUE(w.sql({QStringLiteral("drop index idxfilekeywords"),
                       QStringLiteral("alter table strvfile drop column keywords"),
                       QStringLiteral("alter table strvfile drop column rating")}));
    const QString lacks = QStringLiteral("it lacks the columns strvfile.keywords, strvfile.rating.");
    const struct {
        const char *tool;
        QStringList arguments;
    } cases[] = {
        {"ovn-export", {w.catalog(), QStringLiteral("Top"), w.path(QStringLiteral("dest"))}},
        {"ovn-mail", {w.catalog(), QStringLiteral("Top"), QStringLiteral("--command"), QStringLiteral("true")}},
        {"ovn-publish", {w.catalog(), QStringLiteral("Top"), w.path(QStringLiteral("dest"))}},
        {"ovn-express", {w.catalog(), QStringLiteral("--quick"), QStringLiteral("All:in")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tool);
        const ToolRun done = w.run(c.tool, c.arguments);
        EXPECT_EQ(done.status, 1) << qPrintable(done.out + done.err);
        EXPECT_TRUE((done.out + done.err).contains(lacks)) << qPrintable(done.out + done.err);
        EXPECT_TRUE(QDir(w.path(QStringLiteral("dest"))).isEmpty());
    }
}
