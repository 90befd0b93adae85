// ovn-import CATALOG CATEGORY PATH...: imports files and folders into a catalog from the command
// line, printing progress and a summary.
//
// CATALOG is a catalog file (created with the catalog tables when missing) or a server given as
// postgresql://USER@HOST[:PORT]/DATABASE; the password comes from PGPASSWORD or ~/.pgpass, as for
// every PostgreSQL client (a password in the URL still works, with a warning: every local user can
// read a command line). CATEGORY is a category id, or the name of a collection, made when no
// collection has that name.
//
// Exits with 0 when every file was imported, 1 when a file was not (each is named on standard
// error) or the catalog could not be used, 2 on a wrong command line.

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportWorker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: ovn-import [--threads N] [--batch N] [--quiet] CATALOG CATEGORY PATH...\n"
                 "  CATALOG   a catalog file, or postgresql://USER@HOST[:PORT]/DATABASE\n"
                 "            (the password from PGPASSWORD or ~/.pgpass)\n"
                 "  CATEGORY  a category id, or a collection name (made when missing)\n"
                 "Exits with 1 when any file was not imported.\n");
}

std::unique_ptr<OVNDatabaseAccess> openCatalog(const QString &catalog)
{
    auto connection = std::make_unique<OVNDatabaseAccess>();
    const QUrl url(catalog);
    if (url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("pgsql")) {
        if (!url.password().isEmpty())
            std::fprintf(stderr, "ovn-import: warning: a password in the catalog URL can be read by every user of "
                                 "this computer; set PGPASSWORD or use ~/.pgpass instead\n");
        QString host = url.host();
        if (url.port() > 0)
            host += QStringLiteral(":%1").arg(url.port());
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), host, url.userName(), url.password(),
                                         url.path().mid(1));
    } else {
        connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                                         QFileInfo(catalog).absoluteFilePath());
    }
    if (!connection->openDBConnection())
        return connection;
    if (!connection->checkForDatabaseSetup()) {
        if (connection->vendor() == OVNDatabaseAccess::Vendor::PostgreSQL)
            OVNDBHelper::prefDBCreatePostgreSQLDatabase(*connection);
        else
            OVNDBHelper::prefDBCreateLocalDatabase(*connection);
    }
    return connection;
}

class Printer : public OVNImportWorker::Observer
{
public:
    explicit Printer(bool quiet) : m_quiet(quiet) {}
    void importStarted(int total) override
    {
        std::printf("%d files\n", total);
        std::fflush(stdout);
    }
    void importProgress(int position, int total, const QString &path, const QByteArray &) override
    {
        if (!m_quiet)
            std::printf("%d/%d %s\n", position, total, qPrintable(path));
    }

private:
    bool m_quiet;
};

// This process's own peak (VmHWM). getrusage's ru_maxrss would also count the memory of the
// program that started this one, which it keeps across exec.
long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    OVNImportWorker::Settings settings;
    bool quiet = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--quiet"))
            quiet = true;
        else if (option == QLatin1String("--threads") && !args.isEmpty())
            settings.threadCount = args.takeFirst().toInt();
        else if (option == QLatin1String("--batch") && !args.isEmpty())
            settings.batchSize = args.takeFirst().toInt();
        else {
            usage();
            return 2;
        }
    }
    if (args.size() < 3) {
        usage();
        return 2;
    }
    const QString catalog = args.takeFirst();
    const QString category = args.takeFirst();

    std::unique_ptr<OVNDatabaseAccess> connection = openCatalog(catalog);
    if (!connection->isDBConnectionActive() || !connection->checkForDatabaseSetup()) {
        std::fprintf(stderr, "ovn-import: cannot open the catalog %s: %s\n", qPrintable(catalog),
                     qPrintable(connection->getLastErrorMessage()));
        return 1;
    }
    QString categoryId;
    if (connection->getCategoryForMID(category))
        categoryId = category;
    for (const CategoryNode &node : connection->getCategoryList(QStringLiteral("C")))
        if (categoryId.isEmpty() && node.value(QStringLiteral("displaytag")).toString() == category)
            categoryId = node.value(QStringLiteral("mid")).toString();
    if (categoryId.isEmpty())
        categoryId = connection->addCategoryListEntry(category, QStringLiteral("C"));
    if (categoryId.isEmpty()) {
        std::fprintf(stderr, "ovn-import: cannot make the collection %s: %s\n", qPrintable(category),
                     qPrintable(connection->getLastErrorMessage()));
        return 1;
    }
    std::printf("category %s\n", qPrintable(categoryId));

    settings.categoryId = categoryId;
    OVNDatabaseAccess *shared = connection.get();
    OVNImportWorker worker([shared] { return shared->openSiblingConnection(); }, settings);
    QVariantList items;
    for (const QString &path : args)
        items.append(QFileInfo(path).absoluteFilePath());
    Printer printer(quiet);
    QElapsedTimer timer;
    timer.start();
    const OVNImportWorker::Summary summary = worker.run(items, &printer);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-import: the import could not open its connection\n");
        return 1;
    }
    for (const OVNImportWorker::Failure &failure : summary.failures)
        std::printf("not as it is: %s: %s\n", qPrintable(failure.path), qPrintable(failure.reason));
    std::printf("imported %lld of %d files in %.2f s (%.1f files/s), %lld listed with problems, peak RSS %ld MiB\n",
                static_cast<long long>(summary.importedIds.size()), summary.total, seconds,
                seconds > 0 ? double(summary.importedIds.size()) / seconds : 0.0,
                static_cast<long long>(summary.failures.size()), peakRssKiB() / 1024);
    if (!summary.abortMessage.isEmpty())
        std::fprintf(stderr, "ovn-import: %s\n", qPrintable(summary.abortMessage));
    if (!summary.notImported.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %lld files were not imported:\n",
                     static_cast<long long>(summary.notImported.size()));
        for (const QString &path : summary.notImported)
            std::fprintf(stderr, "  %s\n", qPrintable(path));
    }
    return summary.abortMessage.isEmpty() && summary.notImported.isEmpty() ? 0 : 1;
}
