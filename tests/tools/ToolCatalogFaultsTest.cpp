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

#include <memory>

#include <unistd.h>

namespace {

struct ToolRun {
    int status = -1;
    QString said; // standard output and standard error
};

// A folder readable by every account (a read-only case runs the tool as another one), with a
// picture and the catalog "cat.sqlite" made by an import of it into "Top".
class Workspace
{
public:
    Workspace()
    {
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7755));
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
        QDir(m_dir.path()).mkpath(QStringLiteral("dest"));
        QDir(m_dir.path()).mkpath(QStringLiteral("vols/Card"));
        QFile::setPermissions(path(QStringLiteral("home")), QFileDevice::Permissions(0x7777));
        QFile picture(path(QStringLiteral("in.ppm")));
        EXPECT_TRUE(picture.open(QIODevice::WriteOnly));
        picture.write(QByteArray("P6\n4 2\n255\n") + QByteArray(24, '\x40'));
        picture.close();
        QFile::setPermissions(picture.fileName(), QFileDevice::Permissions(0x6444));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString catalog() const { return path(QStringLiteral("cat.sqlite")); }

    ToolRun run(const char *tool, QStringList arguments, const QString &account = {}) const
    {
        for (QString &argument : arguments)
            argument.replace(QLatin1String("CATALOG"), catalog()).replace(QLatin1String("DIR"), m_dir.path());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.insert(QStringLiteral("OVN_VOLUME_ROOTS"), path(QStringLiteral("vols")));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = QStringLiteral(OVN_TOOLS_DIR "/") + QLatin1String(tool);
        if (account.isEmpty())
            process.start(program, arguments);
        else
            process.start(QStringLiteral("setpriv"),
                          QStringList{QStringLiteral("--reuid=") + account, QStringLiteral("--regid=") + account,
                                      QStringLiteral("--clear-groups"), program}
                              + arguments);
        if (!process.waitForFinished(120000))
            process.kill();
        process.waitForFinished();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAll())};
    }

    void importedCatalog() const
    {
        const ToolRun made = run("ovn-import", {"--quiet", "CATALOG", "Top", "DIR/in.ppm"});
        ASSERT_EQ(made.status, 0) << qPrintable(made.said);
    }

    // A connection to the catalog file as it is, making one only when asked to.
    std::unique_ptr<OVNDatabaseAccess> open(bool makes = false) const
    {
        auto db = std::make_unique<OVNDatabaseAccess>();
        db->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog());
        db->setCreatesMissingFile(makes);
        db->openDBConnection();
        return db;
    }

    void sql(const QStringList &statements) const
    {
        const std::unique_ptr<OVNDatabaseAccess> db = open(true);
        for (const QString &statement : statements)
            ASSERT_TRUE(db->runSQLCommand(statement)) << qPrintable(db->getLastErrorMessage());
    }

    QByteArray catalogHash() const
    {
        QFile file(catalog());
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

// ovn-import and ovn-recordexport: what each says, its status and what the catalog holds after it.
TEST(ToolCatalogFaultsTest, ImportsSayWhyAndLeaveTheCatalogAsTheySay)
{
    enum class Before { Catalog, TwoTablesDropped, ColumnDropped, OtherProgramsFile, ExportOfGoneFiles, ReadOnly };
    const struct {
        const char *name;
        Before before;
        const char *tool;
        QStringList arguments; // CATALOG and DIR stand for the catalog and the workspace
        int status;
        const char *says;
        int fresh; // categories named "Fresh" afterwards (-1: no catalog to hold one)
        bool whole;
        bool unchanged; // the catalog file byte for byte
    } cases[] = {
        {"partly made",
         Before::TwoTablesDropped,
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         0,
         "imported 1 of 1 file",
         1,
         true,
         false},
        {"a column missing",
         Before::ColumnDropped,
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "cannot open the catalog CATALOG: The catalog is incomplete: it lacks the column strvfile.keywords.",
         0,
         false,
         true},
        {"another program's database",
         Before::OtherProgramsFile,
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "holds no catalog",
         -1,
         false,
         true},
        {"a path that is not there",
         Before::Catalog,
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/nowhere.ppm"},
         1,
         "nothing was imported: the collection Fresh made for it was removed",
         0,
         true,
         false},
        {"a smart import of nothing",
         Before::Catalog,
         "ovn-import",
         {"--smart", "CATALOG", "Fresh", "DIR/nowhere"},
         1,
         "nothing was imported: the folder Fresh made for it was removed",
         0,
         true,
         false},
        {"a record export of gone files",
         Before::ExportOfGoneFiles,
         "ovn-recordexport",
         {"CATALOG", "Fresh", "DIR/export.txt"},
         1,
         "nothing was imported: the collection Fresh made for it was removed",
         0,
         true,
         false},
        {"a read-only catalog",
         Before::ReadOnly,
         "ovn-import",
         {"CATALOG", "Fresh", "DIR/in.ppm"},
         1,
         "cannot make the collection Fresh: attempt to write a readonly database",
         0,
         true,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // No file mode binds root: the read-only case then runs as another account, if it can.
        QString account;
        if (c.before == Before::ReadOnly && ::geteuid() == 0) {
            if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
                continue;
            account = QStringLiteral("65534");
        }
        Workspace w;
        if (c.before == Before::OtherProgramsFile)
            w.sql({QStringLiteral("create table notes (a int, b text)"),
                   QStringLiteral("insert into notes values (1, 'x')")});
        else
            w.importedCatalog();
        if (c.before == Before::TwoTablesDropped)
            w.sql({QStringLiteral("drop table strvexif"), QStringLiteral("drop table strvsold")});
        if (c.before == Before::ColumnDropped)
            w.sql({QStringLiteral("drop index idxfilekeywords"),
                   QStringLiteral("alter table strvfile drop column keywords")});
        if (c.before == Before::ReadOnly)
            QFile::setPermissions(w.catalog(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
        if (c.before == Before::ExportOfGoneFiles) {
            QFile file(w.path(QStringLiteral("export.txt")));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\r\n"
                       "%Data\r\nCard\t\tgone.ppm\r\n");
        }
        const QByteArray before = w.catalogHash();
        const ToolRun done = w.run(c.tool, c.arguments, account);
        EXPECT_EQ(done.status, c.status) << qPrintable(done.said);
        EXPECT_TRUE(done.said.contains(QString::fromLatin1(c.says).replace(QLatin1String("CATALOG"), w.catalog())))
            << qPrintable(done.said);
        EXPECT_EQ(done.said.contains(QLatin1String("imported 1 of")), c.status == 0) << qPrintable(done.said);
        const std::unique_ptr<OVNDatabaseAccess> db = w.open();
        const QList<OVNRow> fresh = db->rowsForQuery(QStringLiteral("select count(*) from strvcategory where "
                                                                    "displaytag='Fresh'"));
        EXPECT_EQ(fresh.isEmpty() ? -1 : fresh.first().value(0).toInt(), c.fresh);
        const std::optional<OVNDBHelper::CatalogContents> contents = OVNDBHelper::catalogContents(*db);
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->whole(), c.whole) << qPrintable(contents->missingText());
        EXPECT_EQ(w.catalogHash() == before, c.unchanged);
    }
}

// Export, e-mail, web gallery and express search on a catalog that lacks columns: each names them
// and ends with status 1, instead of "nothing to export" or "The search could not run.".
TEST(ToolCatalogFaultsTest, OutputsNameTheColumnsACatalogLacks)
{
    Workspace w;
    w.importedCatalog();
    w.sql({QStringLiteral("drop index idxfilekeywords"), QStringLiteral("alter table strvfile drop column keywords"),
           QStringLiteral("alter table strvfile drop column rating")});
    const struct {
        const char *tool;
        QStringList arguments;
    } cases[] = {
        {"ovn-export", {"CATALOG", "Top", "DIR/dest"}},
        {"ovn-mail", {"CATALOG", "Top", "--command", "true"}},
        {"ovn-publish", {"CATALOG", "Top", "DIR/dest"}},
        {"ovn-express", {"CATALOG", "--quick", "All:in"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tool);
        const ToolRun done = w.run(c.tool, c.arguments);
        EXPECT_EQ(done.status, 1) << qPrintable(done.said);
        EXPECT_TRUE(done.said.contains(QLatin1String("it lacks the columns strvfile.keywords, strvfile.rating.")))
            << qPrintable(done.said);
        EXPECT_TRUE(QDir(w.path(QStringLiteral("dest"))).isEmpty());
    }
}
