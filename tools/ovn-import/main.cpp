// ovn-import CATALOG CATEGORY PATH...: imports files and folders into a catalog from the command
// line, printing progress and a summary.
//
// CATALOG is a catalog file (created with the catalog tables when missing) or a server given as
// postgresql://USER@HOST[:PORT]/DATABASE; the password comes from PGPASSWORD or ~/.pgpass, as for
// every PostgreSQL client (a password in the URL still works, with a warning: every local user can
// read a command line). CATEGORY is a category id, or the name of a collection, made when no
// collection has that name (and removed again when the import stores nothing in it). A catalog
// file of another program, or a catalog that lacks a column, is refused untouched; one that lacks
// some of its tables is completed.
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
// the tool gives up only when the server does not answer for 30 seconds, and says "Waiting for the
// catalog server..." on standard error while it waits. SIGTERM and SIGINT stop it at its next
// batch: what was stored stays, and it says so and names the files it did not import. A re-scan
// prints "rescanned N of M" and names every entry it did not re-scan.
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
#include "platform/Localized.h"
#include "tools/common/ToolUsage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <memory>

#include <signal.h>

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
        std::printf("%d %s\n", total, total == 1 ? "file" : "files");
        std::fflush(stdout);
    }
    void importProgress(int position, int total, const QString &path, const QByteArray &) override
    {
        if (!m_quiet)
            std::printf("%d/%d %s\n", position, total, ToolText::utf8(path).constData());
    }
    // The wait for a server that went away is said on standard error, as at the opening (a
    // re-scan's with how far it got). Once every few seconds at most: sessions that end every few
    // moments are one wait.
    void importStatus(const QString &text) override
    {
        if (!text.startsWith(OVNCatalogOpening::waitingText()) || (m_said.isValid() && m_said.elapsed() < 5000))
            return;
        ToolCatalog::sayStatus(text);
        m_said.start();
    }

private:
    bool m_quiet;
    QElapsedTimer m_said;
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

// How long the files a stopped import left being read are waited for at the end.
constexpr int abandonedFilesWaitMs = 20000;

// SIGTERM and SIGINT end the work at its next batch: what was stored stays, and the tool says
// what that was and what was not imported. Set before the worker runs; the handler only stores.
std::atomic<OVNImportWorker *> signalledWorker{nullptr};
volatile std::sig_atomic_t signalled = 0;

extern "C" void stopOnSignal(int)
{
    signalled = 1;
    // Every wait for the catalog server ends too: the opening's, a retry's.
    OVNCatalogOpening::requestStop();
    if (OVNImportWorker *worker = signalledWorker.load())
        worker->cancel();
}

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = stopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// Names the paths given when the tool ends before it stored anything of them.
int noneImported(const QStringList &paths);

// A stop that came while the catalog was being opened or its category found or made: said as the
// stop it was, never as a server that could not be reached.
int stoppedBeforeImport(const QStringList &paths)
{
    std::fprintf(stderr, "ovn-import: stopped by a signal before anything was imported\n");
    return noneImported(paths);
}

int noneImported(const QStringList &paths)
{
    if (!paths.isEmpty()) {
        // Counted as the import's own stop message counts them.
        std::fprintf(
            stderr, "ovn-import: %s:\n",
            countedText(paths.size(), "%1 file was not imported", "%1 files were not imported").toUtf8().constData());
        for (const QString &path : paths)
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    return 1;
}

// Each file listed with a problem, under what became of it: in the catalog all the same (with an
// icon, or without some details), or not; a folder left out unread as "not read".
void printFailures(const QList<OVNImportWorker::Failure> &failures, const char *catalogued, const char *left,
                   const QStringList &foldersNotRead = {})
{
    for (const OVNImportWorker::Failure &failure : failures)
        std::printf("%s: %s: %s\n",
                    failure.catalogued                      ? catalogued
                    : foldersNotRead.contains(failure.path) ? "not read"
                                                            : left,
                    ToolText::utf8(failure.path).constData(), ToolText::utf8(failure.reason).constData());
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
    // Every read goes on through sessions the server ends meanwhile: an unanswered question is
    // never taken for "no such category" or "no entries".
    QString categoryId;
    if (!ToolCatalog::retried(connection, [&] {
            categoryId = existing(connection, category, QStringLiteral("C"));
            return true;
        })) {
        if (signalled) {
            std::fprintf(stderr, "ovn-import: stopped by a signal before anything was re-scanned\n");
            return 1;
        }
        std::fprintf(
            stderr, "ovn-import: %s\n",
            ToolText::utf8(ToolAccount::failure(connection, QStringLiteral("cannot read the category ") + category))
                .constData());
        return 1;
    }
    if (categoryId.isEmpty()) {
        std::fprintf(stderr, "ovn-import: no category %s\n", ToolText::utf8(category).constData());
        return 1;
    }
    QString refusal;
    ToolCatalog::retried(connection, [&] {
        refusal = ToolAccount::refusal(connection, QStringLiteral("READ & WRITE"), {categoryId});
        return true;
    });
    if (!refusal.isEmpty())
        return ToolStart::refuse(refusal);
    QList<OVNDatabaseAccess::EntryFile> entries;
    if (!ToolCatalog::retried(connection, [&] {
            entries = connection.getEntryFilesForCategory(categoryId);
            return true;
        })) {
        if (signalled) {
            std::fprintf(stderr, "ovn-import: stopped by a signal before anything was re-scanned\n");
            return 1;
        }
        std::fprintf(
            stderr, "ovn-import: %s\n",
            ToolText::utf8(ToolAccount::failure(connection, QStringLiteral("cannot read the entries of ") + category))
                .constData());
        return 1;
    }
    QVariantList records;
    for (const OVNDatabaseAccess::EntryFile &entry : entries)
        records.append(
            QVariantMap{{CatalogNames::keyMid, entry.mid}, {CatalogNames::keyAbsolutePath, entry.absolutePath}});
    OVNImportWorker::Settings rescanSettings = settings;
    rescanSettings.categoryId = categoryId;
    OVNImportWorker worker(siblings(connection), rescanSettings);
    Printer printer(quiet);
    QElapsedTimer timer;
    timer.start();
    signalledWorker = &worker;
    if (signalled)
        worker.cancel();
    const OVNImportWorker::Summary summary = worker.reprocess(records, &printer);
    signalledWorker = nullptr;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-import: the re-scan could not open its connection\n");
        return 1;
    }
    printFailures(summary.failures, "re-scanned with a problem", "not re-scanned");
    std::printf("rescanned %lld of %lld\n", static_cast<long long>(summary.importedIds.size()),
                static_cast<long long>(entries.size()));
    std::printf("%.2f s (%.1f files/s), %s\n", seconds,
                seconds > 0 ? double(summary.importedIds.size()) / seconds : 0.0,
                ToolText::utf8(ToolProcessTree::text(tree.finish())).constData());
    if (summary.cancelled)
        std::fprintf(stderr, "ovn-import: stopped by a signal; what was re-scanned stays in the catalog\n");
    printStop(summary.abortMessage);
    // Every entry that was not re-scanned is named: a file that is missing, could not be read, or
    // whose change the catalog did not keep.
    const QSet<QString> done(summary.importedIds.cbegin(), summary.importedIds.cend());
    QHash<QString, QString> reasons;
    for (const OVNImportWorker::Failure &failure : summary.failures)
        reasons.insert(failure.path, failure.reason);
    const auto reasonFor = [&](const OVNDatabaseAccess::EntryFile &entry) {
        if (const QString listed = reasons.value(entry.absolutePath); !listed.isEmpty())
            return listed;
        if (entry.absolutePath.isEmpty())
            return QStringLiteral("the entry names no file");
        const QFileInfo file(entry.absolutePath);
        if (!file.exists() && !file.isSymLink())
            return QStringLiteral("the file is missing");
        if (summary.cancelled || !summary.abortMessage.isEmpty())
            return QStringLiteral("the re-scan stopped before it");
        return QStringLiteral("its change was not kept");
    };
    QStringList left;
    for (const OVNDatabaseAccess::EntryFile &entry : entries)
        if (!done.contains(entry.mid))
            left.append((entry.absolutePath.isEmpty() ? entry.mid : entry.absolutePath) + QStringLiteral(": ")
                        + reasonFor(entry));
    if (!left.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %lld %s:\n", static_cast<long long>(left.size()),
                     left.size() == 1 ? "entry was not re-scanned" : "entries were not re-scanned");
        for (const QString &path : left)
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    return left.isEmpty() && summary.failures.isEmpty() && summary.abortMessage.isEmpty() && !summary.cancelled ? 0 : 1;
}

// The tool's work once the application object is there; the exit status.
int importFiles(const QGuiApplication &app);

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText,
                             {{"--quiet"}, {"--smart"}, {"--rescan"}, {"--max", 1}, {"--threads", 1}, {"--batch", 1}}))
        return *end;
    // As the program does: the files' buffers are reused from one file to the next.
    HeapTuning::keepFreedMemoryForReuse();
    ToolStart::offscreenUnlessNamed();
    QGuiApplication app(argc, argv);
    const int status = importFiles(app);
    // A stopped import leaves the files it was reading to their threads, which end at their files'
    // time limits. They are waited for while this thread still answers them (a document icon is
    // asked of it), before the application object and the program's statics go: a thread at work
    // then would use them as they are torn down. One stuck in the system for good (a mount that
    // stopped answering) is not waited for: the tool then ends without tearing anything down.
    bool ended = false;
    ToolStart::runServingEvents([&ended] { ended = OVNImportWorker::waitForAbandonedFiles(abandonedFilesWaitMs); });
    if (!ended) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

namespace {

int importFiles(const QGuiApplication &app)
{
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
    // The paths as given, named when the tool ends before it could import them.
    QStringList given;
    for (const QString &path : std::as_const(args))
        given.append(QFileInfo(path).absoluteFilePath());
    catchStopSignals();

    std::unique_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::CreateWhenMissing, "ovn-import");
    // As every tool judges a catalog: another program's file, or a catalog that still lacks some
    // of its tables or columns after the opening made what it could, is refused untouched.
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty()) {
        if (signalled)
            return stoppedBeforeImport(given);
        std::fprintf(stderr, "ovn-import: %s\n", ToolText::utf8(failure).constData());
        return noneImported(given);
    }
    // The login reads the catalog's users: through a session the server ends meanwhile too.
    if (const QString loginRefusal = ToolCatalog::logIn(*connection); !loginRefusal.isEmpty()) {
        if (signalled)
            return stoppedBeforeImport(given);
        ToolStart::refuse(loginRefusal);
        return noneImported(given);
    }
    if (rescan)
        return rescanCategory(*connection, category, settings, quiet, tree);
    // Into a category that is there only with the right to change it; a new one is made at the top
    // level, which every user of the catalog may do.
    const QString kind = smart ? QStringLiteral("F") : QStringLiteral("C");
    const QString categoryWord = smart ? QStringLiteral("folder") : QStringLiteral("collection");
    QString categoryId;
    bool madeHere = false;
    if (!ToolCatalog::retried(*connection, [&] {
            categoryId = existing(*connection, category, kind);
            return true;
        })) {
        if (signalled)
            return stoppedBeforeImport(given);
        std::fprintf(
            stderr, "ovn-import: %s\n",
            ToolText::utf8(ToolAccount::failure(*connection, QStringLiteral("cannot read the category ") + category))
                .constData());
        return noneImported(given);
    }
    if (!categoryId.isEmpty()) {
        QString refusal;
        ToolCatalog::retried(*connection, [&] {
            refusal = ToolAccount::refusal(*connection, QStringLiteral("READ & WRITE"), {categoryId});
            return true;
        });
        if (!refusal.isEmpty()) {
            ToolStart::refuse(refusal);
            return noneImported(given);
        }
    } else {
        // Through a session the server ends meanwhile; the server is blamed only when it stays away.
        // Imports started together into a new name find the one category the first of them made.
        QString error;
        categoryId = OVNCatalogSession::findOrMakeCategory(*connection, category, kind, QString(),
                                                           settings.reconnectWaitSeconds, nullptr,
                                                           ToolCatalog::sayStatus, &error, &madeHere);
        if (categoryId.isEmpty() && signalled)
            return stoppedBeforeImport(given);
        if (categoryId.isEmpty()) {
            // The catalog's own words: a read-only file or folder, a missing privilege, the server gone.
            const QString what = QStringLiteral("cannot make the %1 %2").arg(categoryWord, category);
            std::fprintf(stderr, "ovn-import: %s\n",
                         ToolText::utf8(error.trimmed().isEmpty()
                                            ? ToolAccount::failure(*connection, what)
                                            : what + QStringLiteral(": ") + ToolCatalog::catalogWords(error))
                             .constData());
            return noneImported(given);
        }
    }
    std::printf("%s %s\n", smart ? "folder" : "category", ToolText::utf8(categoryId).constData());

    settings.categoryId = categoryId;
    OVNImportWorker worker(siblings(*connection), settings);
    QVariantList items;
    for (const QString &path : std::as_const(given))
        items.append(path);
    Printer printer(quiet);
    QElapsedTimer timer;
    timer.start();
    OVNImportWorker::Summary summary;
    signalledWorker = &worker;
    if (signalled)
        worker.cancel();
    ToolStart::runServingEvents([&] {
        summary = smart ? worker.runSmart(items, categoryId, maxFiles, &printer) : worker.run(items, &printer);
    });
    signalledWorker = nullptr;
    // A category this import made and then stored nothing in goes again: an import that stored
    // nothing leaves nothing behind. One that another import filled meanwhile stays.
    if (madeHere && summary.importedIds.isEmpty() && summary.collections.isEmpty()) {
        const OVNCatalogSession::Removal removal = OVNCatalogSession::removeIfEmpty(
            *connection, categoryId, kind, settings.reconnectWaitSeconds, ToolCatalog::sayStatus);
        if (removal == OVNCatalogSession::Removal::Removed)
            std::fprintf(stderr, "ovn-import: nothing was imported: the %s %s made for it was removed\n",
                         qPrintable(categoryWord), ToolText::utf8(category).constData());
        else if (removal == OVNCatalogSession::Removal::Failed)
            std::fprintf(stderr, "ovn-import: nothing was imported: the %s %s made for it stays: %s\n",
                         qPrintable(categoryWord), ToolText::utf8(category).constData(),
                         ToolText::utf8(ToolAccount::failure(*connection, QStringLiteral("it could not be removed")))
                             .constData());
    }
    for (const OVNImportWorker::Summary::Collection &made : summary.collections)
        std::printf("collection %s %s %d\n", ToolText::utf8(made.name).constData(), ToolText::utf8(made.id).constData(),
                    made.count);
    for (const OVNImportWorker::Summary::Split &split : summary.splits)
        std::printf("split: %s has %d files, at most %d a collection: into %s\n",
                    ToolText::utf8(split.name).constData(), split.files, summary.collectionLimit,
                    ToolText::utf8(split.collections.join(QStringLiteral(", "))).constData());
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-import: the import could not open its connection\n");
        return noneImported(given);
    }
    printFailures(summary.failures, "imported with a problem", "not imported", summary.foldersNotRead);
    const ToolProcessTree::Figures figures = tree.finish();
    // Of what was named or found: a path the expansion passed over counts too ("imported 0 of 1
    // file" for a file that is not there, never "0 of 0"); a folder left out unread does not, as
    // what it holds is not known.
    const int named = summary.total + summary.passedOver - int(summary.foldersNotRead.size());
    std::printf("imported %lld of %d %s in %.2f s (%.1f files/s), %lld listed with problems, %s\n",
                static_cast<long long>(summary.importedIds.size()), named, named == 1 ? "file" : "files", seconds,
                seconds > 0 ? double(summary.importedIds.size()) / seconds : 0.0,
                static_cast<long long>(listedFiles(summary)),
                ToolText::utf8(ToolProcessTree::text(figures)).constData());
    printStop(summary.abortMessage);
    // A stop by a signal keeps what was stored; the files it did not reach are not imported.
    QStringList notImported;
    for (const QString &path : summary.notImported)
        if (!summary.foldersNotRead.contains(path))
            notImported.append(path);
    if (summary.cancelled) {
        std::fprintf(stderr, "ovn-import: stopped by a signal; the %lld %s imported stay in the catalog\n",
                     static_cast<long long>(summary.importedIds.size()),
                     summary.importedIds.size() == 1 ? "file" : "files");
        notImported.append(summary.notReached);
    }
    if (!notImported.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %s:\n",
                     countedText(notImported.size(), "%1 file was not imported", "%1 files were not imported")
                         .toUtf8()
                         .constData());
        for (const QString &path : std::as_const(notImported))
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    if (!summary.foldersNotRead.isEmpty()) {
        std::fprintf(stderr, "ovn-import: %s:\n",
                     countedText(summary.foldersNotRead.size(), "%1 folder was not read", "%1 folders were not read")
                         .toUtf8()
                         .constData());
        for (const QString &path : summary.foldersNotRead)
            std::fprintf(stderr, "  %s\n", ToolText::utf8(path).constData());
    }
    return summary.abortMessage.isEmpty() && notImported.isEmpty() && summary.foldersNotRead.isEmpty()
                   && !summary.cancelled
               ? 0
               : 1;
}

} // namespace
