// ovn-import CATALOG CATEGORY PATH...: imports files and folders into a catalog from the command
// line, printing progress and a summary.
//
// CATALOG is a catalog file (created with the catalog tables when missing) or a server given as
// postgresql://USER@HOST[:PORT]/DATABASE; the password comes from PGPASSWORD or ~/.pgpass, as for
// every PostgreSQL client (a password in the URL still works, with a warning: every local user can
// read a command line). CATEGORY is a category id, or the name of a collection, made when no
// collection has that name.
//
// ovn-import --smart [--max N] CATALOG FOLDER PATH...: files the paths into new collections under
// FOLDER (a folder id, or the name of a top-level folder, made when missing), printing
// "collection NAME ID COUNT" for each collection made, then the summary.
// ovn-import --rescan CATALOG CATEGORY (an id or a collection's name): reads the files of a category's records again
// (thumbnail, orientation, import date), printing "rescanned N of M".
//
// The catalog user is the one whose login is this account's name, as in the program: an account
// that is no catalog user, or in no group, is refused with the program's start-up words. Importing
// into an existing category, folder or re-scanned category needs READ & WRITE on it, as in the
// catalog window. A refusal prints "refused: " and the program's text, and writes nothing. The
// privilege is asked again before each batch is stored: when the user may no longer write there,
// the import stops, keeps what it stored, and names the files it did not import.
//
// A server session that ends meanwhile (also while the collection is being made) is opened again;
// the tool gives up only when the server does not answer for 30 seconds.
//
// Exits with 0 when every file was imported, 1 when a file was not (each is named on standard
// error), the catalog could not be used or the user may not write there, 2 on a wrong command line.

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportWorker.h"
#include "platform/CatalogNames.h"
#include "platform/HeapTuning.h"

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "ToolProcessTree.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

constexpr const char *usageText = "usage: ovn-import [--threads N] [--batch N] [--quiet] CATALOG CATEGORY PATH...\n"
                                  "       ovn-import --smart [--max N] [--threads N] CATALOG FOLDER PATH...\n"
                                  "       ovn-import --rescan CATALOG CATEGORY\n"
                                  "  CATALOG   a catalog file, or postgresql://USER@HOST[:PORT]/DATABASE\n"
                                  "            (the password from PGPASSWORD or ~/.pgpass)\n"
                                  "  CATEGORY  a category id, or a collection name (made when missing)\n"
                                  "Exits with 1 when any file was not imported.\n";

void usage() { std::fputs(usageText, stderr); }

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
            std::printf("%d/%d %s\n", position, total, ToolText::utf8(path).constData());
    }

private:
    bool m_quiet;
};

// A category id, or the top-level category of that kind and name; empty when there is neither.
QString existing(OVNDatabaseAccess &connection, const QString &category, const QString &kind)
{
    if (connection.getCategoryForMID(category))
        return category;
    for (const CategoryNode &node : connection.getCategoryList(kind))
        if (node.value(CatalogNames::keyDisplayTag).toString() == category)
            return node.value(CatalogNames::keyMid).toString();
    return QString();
}

// The worker's own connections, each opened as the tool's; the worker waits for a server that is
// away for a moment (a session ended, a restart) as it waits during the import.
OVNImportWorker::ConnectionMaker siblings(OVNDatabaseAccess &connection)
{
    OVNDatabaseAccess *shared = &connection;
    return [shared] { return shared->openSiblingConnection(); };
}

// What the user reads of a stop: the program's own sentences, line breaks kept.
void printStop(const QString &message)
{
    if (!message.isEmpty())
        std::fprintf(stderr, "ovn-import: %s\n", ToolText::sentences(message).constData());
}

// The files the summary names: those listed as not imported or with a problem, each once.
qsizetype listedFiles(const OVNImportWorker::Summary &summary)
{
    QSet<QString> listed(summary.notImported.cbegin(), summary.notImported.cend());
    for (const OVNImportWorker::Failure &failure : summary.failures)
        listed.insert(failure.path);
    return listed.size();
}

int rescanCategory(OVNDatabaseAccess &connection, const QString &category, const OVNImportWorker::Settings &settings,
                   bool quiet, ToolProcessTree &tree)
{
    const QString categoryId = existing(connection, category, QStringLiteral("C"));
    if (categoryId.isEmpty()) {
        std::fprintf(stderr, "ovn-import: no category %s\n", ToolText::utf8(category).constData());
        return 1;
    }
    const QString refusal = ToolAccount::refusal(connection, QStringLiteral("READ & WRITE"), {categoryId});
    if (!refusal.isEmpty())
        return ToolStart::refuse(refusal);
    QVariantList records;
    for (const QString &mid : connection.getMediaMIDListForCategory(categoryId))
        records.append(QVariantMap{{CatalogNames::keyMid, mid},
                                   {CatalogNames::keyAbsolutePath,
                                    connection.getMediaListEntryForMediaID(mid, CatalogNames::keyAbsolutePath)}});
    OVNImportWorker::Settings rescanSettings = settings;
    rescanSettings.categoryId = categoryId;
    OVNImportWorker worker(siblings(connection), rescanSettings);
    Printer printer(quiet);
    QElapsedTimer timer;
    timer.start();
    const OVNImportWorker::Summary summary = worker.reprocess(records, &printer);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-import: the re-scan could not open its connection\n");
        return 1;
    }
    for (const OVNImportWorker::Failure &failure : summary.failures)
        std::printf("not as it is: %s: %s\n", ToolText::utf8(failure.path).constData(),
                    ToolText::utf8(failure.reason).constData());
    std::printf("rescanned %lld of %d\n", static_cast<long long>(summary.importedIds.size()), summary.total);
    std::printf("%.2f s (%.1f files/s), %s\n", seconds,
                seconds > 0 ? double(summary.importedIds.size()) / seconds : 0.0,
                ToolText::utf8(ToolProcessTree::text(tree.finish())).constData());
    printStop(summary.abortMessage);
    if (!summary.notImported.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %lld entries were left as they were:\n",
                     static_cast<long long>(summary.notImported.size()));
        for (const QString &path : summary.notImported)
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    return summary.failures.isEmpty() && summary.abortMessage.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText,
                             {{"--quiet"}, {"--smart"}, {"--rescan"}, {"--max", 1}, {"--threads", 1}, {"--batch", 1}}))
        return *end;
    // As the program does: the files' buffers are reused from one file to the next.
    HeapTuning::keepFreedMemoryForReuse();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The figures printed at the end are those of this process and its decoders together.
    ToolProcessTree tree;
    QStringList args = app.arguments().mid(1);
    OVNImportWorker::Settings settings;
    bool quiet = false;
    bool smart = false;
    bool rescan = false;
    int maxFiles = 0;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--quiet"))
            quiet = true;
        else if (option == QLatin1String("--smart"))
            smart = true;
        else if (option == QLatin1String("--rescan"))
            rescan = true;
        else if (option == QLatin1String("--max") && !args.isEmpty()) {
            const std::optional<int> n = ToolNumber::integer32("--max", args.takeFirst(), 0);
            if (!n)
                return 2;
            maxFiles = *n;
        } else if (option == QLatin1String("--threads") && !args.isEmpty()) {
            const std::optional<int> n = ToolNumber::integer32("--threads", args.takeFirst(), 0, 1024);
            if (!n)
                return 2;
            settings.threadCount = *n;
        } else if (option == QLatin1String("--batch") && !args.isEmpty()) {
            const std::optional<int> n = ToolNumber::integer32("--batch", args.takeFirst(), 1, 1000000);
            if (!n)
                return 2;
            settings.batchSize = *n;
        } else {
            usage();
            return 2;
        }
    }
    if (args.size() < (rescan ? 2 : 3) || (smart && rescan)) {
        usage();
        return 2;
    }
    const QString catalog = args.takeFirst();
    const QString category = args.takeFirst();

    std::unique_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::CreateWhenMissing, "ovn-import");
    if (!connection->isDBConnectionActive() || !connection->checkForDatabaseSetup()) {
        std::fprintf(
            stderr, "ovn-import: %s\n",
            ToolText::utf8(ToolAccount::failure(*connection, QStringLiteral("cannot open the catalog ") + catalog))
                .constData());
        return 1;
    }
    // The login reads the catalog's users: through a session the server ends meanwhile too.
    QString loginRefusal;
    OVNCatalogOpening::run(
        *connection, settings.reconnectWaitSeconds,
        [&] {
            loginRefusal = ToolAccount::logIn(*connection);
            return loginRefusal.isEmpty();
        },
        nullptr);
    if (!loginRefusal.isEmpty())
        return ToolStart::refuse(loginRefusal);
    if (rescan)
        return rescanCategory(*connection, category, settings, quiet, tree);
    // Into a category that is there only with the right to change it; a new one is made at the top
    // level, which every user of the catalog may do.
    const QString kind = smart ? QStringLiteral("F") : QStringLiteral("C");
    QString categoryId = existing(*connection, category, kind);
    if (!categoryId.isEmpty()) {
        const QString refusal = ToolAccount::refusal(*connection, QStringLiteral("READ & WRITE"), {categoryId});
        if (!refusal.isEmpty())
            return ToolStart::refuse(refusal);
    } else {
        // Through a session the server ends meanwhile; the server is blamed only when it stays away.
        // Imports started together into a new name find the one category the first of them made.
        categoryId = OVNCatalogSession::findOrMakeCategory(*connection, category, kind, QString(),
                                                           settings.reconnectWaitSeconds, nullptr, nullptr, nullptr);
    }
    if (categoryId.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %s\n",
                     ToolText::utf8(ToolAccount::failure(*connection, QStringLiteral("cannot make the %1 %2")
                                                                          .arg(smart ? QStringLiteral("folder")
                                                                                     : QStringLiteral("collection"),
                                                                               category)))
                         .constData());
        return 1;
    }
    std::printf("%s %s\n", smart ? "folder" : "category", ToolText::utf8(categoryId).constData());

    settings.categoryId = categoryId;
    OVNImportWorker worker(siblings(*connection), settings);
    QVariantList items;
    for (const QString &path : args)
        items.append(QFileInfo(path).absoluteFilePath());
    Printer printer(quiet);
    QElapsedTimer timer;
    timer.start();
    OVNImportWorker::Summary summary;
    ToolStart::runServingEvents([&] {
        summary = smart ? worker.runSmart(items, categoryId, maxFiles, &printer) : worker.run(items, &printer);
    });
    for (const OVNImportWorker::Summary::Collection &made : summary.collections)
        std::printf("collection %s %s %d\n", ToolText::utf8(made.name).constData(), ToolText::utf8(made.id).constData(),
                    made.count);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-import: the import could not open its connection\n");
        return 1;
    }
    for (const OVNImportWorker::Failure &failure : summary.failures)
        std::printf("not as it is: %s: %s\n", ToolText::utf8(failure.path).constData(),
                    ToolText::utf8(failure.reason).constData());
    const ToolProcessTree::Figures figures = tree.finish();
    std::printf("imported %lld of %d files in %.2f s (%.1f files/s), %lld listed with problems, %s\n",
                static_cast<long long>(summary.importedIds.size()), summary.total, seconds,
                seconds > 0 ? double(summary.importedIds.size()) / seconds : 0.0,
                static_cast<long long>(listedFiles(summary)),
                ToolText::utf8(ToolProcessTree::text(figures)).constData());
    printStop(summary.abortMessage);
    if (!summary.notImported.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %lld files were not imported:\n",
                     static_cast<long long>(summary.notImported.size()));
        for (const QString &path : summary.notImported)
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    return summary.abortMessage.isEmpty() && summary.notImported.isEmpty() ? 0 : 1;
}
