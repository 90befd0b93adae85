// The import's pipeline: parallel per-file processing, inserts in list order.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/PBMImageRep.h"
#include "import/OVNImportHelper.h"
#include "platform/Localized.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// The threads that make records, counted so that the program can wait at its end for those a
// cancelled import no longer waits for.
struct FileThreads {
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
};

FileThreads &fileThreads()
{
    static FileThreads *threads = new FileThreads; // never destroyed: a late thread may still leave
    return *threads;
}

struct RunningFileThread {
    RunningFileThread()
    {
        std::lock_guard lock(fileThreads().mutex);
        ++fileThreads().running;
    }
    ~RunningFileThread()
    {
        std::lock_guard lock(fileThreads().mutex);
        if (--fileThreads().running == 0)
            fileThreads().done.notify_all();
    }
    RunningFileThread(const RunningFileThread &) = delete;
    RunningFileThread &operator=(const RunningFileThread &) = delete;
};

QString key(const char *text) { return QString::fromLatin1(text); }

// On SQLite an open batch holds the catalog's write lock: every other writer (the catalog window)
// waits, and gives up after its busy timeout. A batch is committed once it has been open this long,
// also while it waits for a file that takes long (a large picture, a movie).
constexpr std::chrono::milliseconds maxBatchOpenTime(500);

// Losses of the connection without a commit in between after which the import gives up.
constexpr int maxRecoveries = 5;

struct Item {
    QString path;
    QVariantMap meta; // a dictionary item's values, empty for a path string
};

struct Result {
    enum class Kind { Skipped, TransferFailed, NotCatalogued, Ready };
    Kind kind = Kind::Skipped;
    QString path;          // the path imported (the copy's, after a copy)
    QString sourcePath;    // the path the list named
    QString transferredTo; // the copy or the moved file, to undo when the import stops early
    bool moved = false;
    QString problem;
    bool problemKeptPicture = false; // catalogued with a picture of its own all the same
    QVariantMap record;
    QByteArray thumbnail;
};

void completeRecord(QVariantMap &record, const QVariantMap &meta, const OVNImportWorker::Settings &settings)
{
    record.insert(key("volumetype"), settings.processAsRemovable ? settings.volumeType : QString());
    record.insert(key("volumename"), settings.processAsRemovable ? settings.volumeName : QString());
    record.insert(key("categoryid"), settings.categoryId);
    record.insert(key("rating"), 0);
    if (meta.isEmpty())
        return;
    if (meta.contains(key("RATING")))
        record.insert(key("rating"), meta.value(key("RATING")));
    auto prepend = [&](const char *metaKey, const char *recordKey) {
        if (!meta.contains(key(metaKey)))
            return;
        QString text = meta.value(key(metaKey)).toString();
        const QString own = record.value(key(recordKey)).toString();
        if (!own.isEmpty())
            text += QLatin1Char(' ') + own;
        record.insert(key(recordKey), text);
    };
    prepend("COMMENT", "fulldesc");
    prepend("KEYWORDS", "shortdesc");
    // Annotations that follow the file's own, after one blank (a record export's).
    const QVariantMap appended = meta.value(key("APPEND")).toMap();
    for (auto field = appended.cbegin(); field != appended.cend(); ++field) {
        const QString text = field.value().toString();
        if (text.isEmpty())
            continue;
        const QString own = record.value(field.key()).toString();
        record.insert(field.key(), own.isEmpty() ? text : own + QLatin1Char(' ') + text);
    }
}

Result processItem(const Item &item, OVNImportHelper &helper, const OVNImportWorker::Settings &settings,
                   const std::atomic<bool> &cancelled)
{
    Result result;
    result.sourcePath = item.path;
    QString path = item.path;
    if (path.isEmpty())
        return result;

    const bool transfer = !settings.destinationFolder.isEmpty() && (settings.copyOnProcess || settings.moveOnProcess);
    if (transfer && QFileInfo::exists(path)) {
        const QString target = QDir(settings.destinationFolder).filePath(QFileInfo(path).fileName());
        const bool move = !settings.copyOnProcess;
        // Neither copy nor rename overwrites; an existing target is refused before trying.
        const bool ok = !QFileInfo::exists(target) && (move ? QFile::rename(path, target) : QFile::copy(path, target));
        if (!ok) {
            result.kind = Result::Kind::TransferFailed;
            result.moved = move;
            result.path = target;
            return result;
        }
        result.transferredTo = target;
        result.moved = move;
        path = target;
    }

    path = QDir::cleanPath(OVNHelper::resolveAliasInPath(path));
    result.path = path;
    if (cancelled.load())
        return result;

    result.thumbnail = helper.thumbnailForMediaFile(path, result.record);
    result.problem = helper.lastProblem();
    result.problemKeptPicture = helper.lastProblemKeptPicture();
    result.kind = result.thumbnail.isEmpty() ? Result::Kind::NotCatalogued : Result::Kind::Ready;
    if (result.kind == Result::Kind::Ready)
        completeRecord(result.record, item.meta, settings);
    return result;
}

void undoTransfer(const Result &result)
{
    if (result.transferredTo.isEmpty())
        return;
    if (result.moved)
        QFile::rename(result.transferredTo, result.sourcePath);
    else
        QFile::remove(result.transferredTo);
}

// What the threads that make records share with the import. A cancelled import ends without
// waiting for them: each keeps this alive, finishes its file, takes back its copy or move and
// drops it. Nothing here reaches the catalog, the observer or the worker object.
struct Pipeline {
    OVNImportWorker::Settings settings;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::vector<Item> list;
    std::shared_ptr<const OVNExtensionMapping> mapping;
    OVNImportHelper::Preferences prefs;
    size_t maxAhead = 1;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> ready;
    std::vector<char> busy; // per thread: making a record
    size_t next = 0;
    size_t consumed = 0;
    bool stop = false; // no file is started any more, and results that arrive are dropped

    void work(size_t slot)
    {
        OVNImportHelper helper(mapping);
        helper.setPreferences(prefs);
        helper.setCancelFlag(cancelled);
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || next >= list.size() || next < consumed + maxAhead; });
                if (stop || next >= list.size() || cancelled->load())
                    return;
                index = next++;
                busy[slot] = 1;
            }
            Result result;
            try {
                result = processItem(list[index], helper, settings, *cancelled);
            } catch (...) {
                result.kind = Result::Kind::NotCatalogued;
                result.path = result.sourcePath = list[index].path;
                result.problem = QStringLiteral("the file could not be processed");
            }
            bool dropped;
            {
                std::lock_guard lock(mutex);
                busy[slot] = 0;
                dropped = stop;
                if (!dropped)
                    ready[index] = std::move(result);
            }
            if (dropped)
                undoTransfer(result);
            changed.notify_all();
        }
    }
};

// Puts the records into the catalog in list order, in batches with a savepoint per entry. A lost
// connection takes the open batch with it: the inserter waits for the server and puts the
// batch's entries in again (unless its commit reached the server after all). A batch that the
// catalog undid for any other reason (its commit failed, or a full disk rolled it back) loses its
// entries: each is listed as not imported with the cause. A full disk ends the import.
class Inserter
{
public:
    Inserter(OVNDatabaseAccess &connection, const OVNImportWorker::Settings &settings,
             OVNImportWorker::Summary &summary, std::function<void(const QString &)> status,
             const std::atomic<bool> &cancelled)
        : m_connection(connection),
          m_settings(settings),
          m_summary(summary),
          m_status(std::move(status)),
          m_cancelled(cancelled)
    {}

    // False when the import must stop: the catalog could not be reached again, or its disk is
    // full. What was not kept is in unkept().
    bool insert(Result result)
    {
        std::deque<Entry> queue;
        queue.push_back({std::move(result), {}});
        return insertAll(queue);
    }

    // Commits the open batch; false as insert().
    bool commit()
    {
        if (!m_batch)
            return !m_stop;
        // A batch whose begin failed protected nothing: its entries stand on their own, and are
        // in the catalog already.
        if (!m_batch->isActive() || m_batch->commit()) {
            keepPending();
            return !m_stop;
        }
        if (!sessionLost(-1)) {
            failBatch(nullptr, m_connection.getLastErrorMessage(), m_connection.lastErrorWasDiskFull());
            return !m_stop;
        }
        std::deque<Entry> queue;
        if (!recover(queue)) {
            for (Entry &unkept : queue)
                m_unkept.push_back(std::move(unkept.result));
            return false;
        }
        return insertAll(queue) && commit();
    }

    bool commitIsDue() const
    {
        return qsizetype(m_pending.size()) >= std::max(1, m_settings.batchSize) || batchOpenTooLong();
    }
    bool batchOpenTooLong() const
    {
        return m_batch && std::chrono::steady_clock::now() - m_batchOpened >= maxBatchOpenTime;
    }

    const std::deque<Result> &unkept() const { return m_unkept; }
    // Why the import stopped, when it did.
    bool connectionLost() const { return m_lost; }
    bool diskFull() const { return m_diskFull; }

private:
    struct Entry {
        Result result;
        QString mid;
    };
    enum class Outcome { Inserted, Refused, Lost, BatchFailed };

    bool insertAll(std::deque<Entry> &queue)
    {
        while (!queue.empty() && !m_stop) {
            Entry entry = std::move(queue.front());
            queue.pop_front();
            if (insertEntry(entry) != Outcome::Lost)
                continue;
            queue.push_front(std::move(entry));
            if (!recover(queue)) {
                m_lost = m_stop = true;
                break;
            }
        }
        for (Entry &unkept : queue)
            m_unkept.push_back(std::move(unkept.result));
        return !m_stop;
    }

    Outcome insertEntry(Entry &entry)
    {
        if (!m_batch) {
            m_batch = std::make_unique<OVNDatabaseTransaction>(m_connection);
            m_batchOpened = std::chrono::steady_clock::now();
            m_batchDepth = m_batch->isActive() ? m_connection.transactionDepth() : 0;
        }
        const QString &path = entry.result.path;
        const int depth = m_connection.transactionDepth();
        OVNDatabaseTransaction transaction(m_connection);
        // A session lost since the last entry shows first here; an insert now would stand alone.
        if (!transaction.isActive()) {
            if (sessionLost(depth))
                return Outcome::Lost;
            if (batchUndone())
                return failBatch(&entry, m_connection.getLastErrorMessage(), m_connection.lastErrorWasDiskFull());
        }
        entry.mid = m_connection.addMediaListEntry(entry.result.record);
        if (entry.mid.isEmpty()) {
            const QString error = m_connection.getLastErrorMessage();
            const bool full = m_connection.lastErrorWasDiskFull();
            transaction.rollback();
            if (sessionLost(depth))
                return Outcome::Lost;
            if (batchUndone())
                return failBatch(&entry, error, full);
            refused(entry.result, error, full);
            return Outcome::Refused;
        }
        // The metadata row stands in a savepoint of its own: a refused row costs the entry its
        // metadata, not its place in the catalog.
        if (!m_connection.setExifForMediaID(entry.mid, entry.result.record.value(key("exif")).toMap())) {
            const QString error = m_connection.getLastErrorMessage();
            const bool full = m_connection.lastErrorWasDiskFull();
            if (sessionLost(depth))
                return Outcome::Lost;
            if (full || batchUndone()) {
                transaction.rollback();
                return batchUndone() ? failBatch(&entry, error, full) : refusedEntry(entry, error, full);
            }
            m_summary.failures.append({path, QStringLiteral("catalogued without its metadata: %1").arg(error), true});
        }
        // A field that could not be written (a price that is no number, say) leaves the record in
        // the catalog without it; the user hears which file lacks it.
        QString prefillError;
        if (m_settings.prefillEnabled
            && !OVNDBHelper::prefill({QVariantMap{{key("mid"), entry.mid}, {key("absolutepath"), path}}}, m_connection,
                                     m_settings.prefillInfo, m_settings.prefillPurchased, m_settings.prefillSold,
                                     m_settings.prefillWords)) {
            prefillError = m_connection.getLastErrorMessage();
            const bool full = m_connection.lastErrorWasDiskFull();
            if (full || batchUndone()) {
                transaction.rollback();
                if (sessionLost(depth))
                    return Outcome::Lost;
                return batchUndone() ? failBatch(&entry, prefillError, full) : refusedEntry(entry, prefillError, full);
            }
        }
        // Without a transaction of its own (its begin failed) the insert is kept as it ran.
        if (transaction.isActive() && !transaction.commit()) {
            const QString error = m_connection.getLastErrorMessage();
            const bool full = m_connection.lastErrorWasDiskFull();
            if (sessionLost(depth))
                return Outcome::Lost;
            if (batchUndone())
                return failBatch(&entry, error, full);
            refused(entry.result, error, full);
            return Outcome::Refused;
        }
        if (!prefillError.isEmpty())
            m_summary.failures.append(
                {path, QStringLiteral("catalogued without all of the prepared fields: %1").arg(prefillError), true});
        m_pending.push_back(std::move(entry));
        return Outcome::Inserted;
    }

    // What the user reads for a file the catalog did not take: a full disk by name, otherwise
    // the catalog's own message, without a server's severity word and the context, statement
    // position and detail that follow it.
    static QString cause(const QString &error, bool diskFull)
    {
        if (diskFull)
            return localized("the disk is full");
        QString message = error;
        for (const char *severity : {"ERROR:", "FATAL:"})
            if (message.startsWith(QLatin1String(severity)))
                message = message.mid(qsizetype(qstrlen(severity))).trimmed();
        for (const char *decoration : {" CONTEXT:", " LINE ", " DETAIL:", " HINT:", " QUERY:"}) {
            const qsizetype at = message.indexOf(QLatin1String(decoration));
            if (at > 0)
                message.truncate(at);
        }
        return message;
    }

    void refused(const Result &result, const QString &error, bool diskFull)
    {
        m_summary.failures.append(
            {result.path, QStringLiteral("the catalog refused the entry: %1").arg(cause(error, diskFull))});
        m_summary.notImported.append(result.sourcePath);
        if (diskFull)
            m_diskFull = m_stop = true;
    }

    Outcome refusedEntry(Entry &entry, const QString &error, bool diskFull)
    {
        refused(entry.result, error, diskFull);
        return Outcome::Refused;
    }

    // The open batch is gone with every entry in it (and `current`, when given): each is listed
    // with the cause and is not imported; their copies and moves are taken back with the unkept.
    Outcome failBatch(Entry *current, const QString &error, bool diskFull)
    {
        m_batch.reset();
        m_batchDepth = 0;
        const QString reason = QStringLiteral("not kept by the catalog: %1").arg(cause(error, diskFull));
        auto fail = [&](Entry &entry) {
            m_summary.failures.append({entry.result.path, reason});
            m_unkept.push_back(std::move(entry.result));
        };
        for (Entry &entry : m_pending)
            fail(entry);
        m_pending.clear();
        if (current)
            fail(*current);
        if (diskFull)
            m_diskFull = m_stop = true;
        return Outcome::BatchFailed;
    }

    // Whether the open batch was undone under its entries (a full disk makes SQLite roll back
    // the whole transaction): nothing inserted in it since its begin is in the catalog.
    bool batchUndone() const
    {
        return m_batchDepth > 0 && (m_connection.transactionDepth() < m_batchDepth || m_connection.transactionUndone());
    }

    // After a failed statement, once its savepoint has ended: whether the server session went
    // away (the batch's transaction with it) rather than the statement being refused. A catalog
    // file has no session to lose. `depthBefore` < 0 after a commit, which ends the depth anyway.
    bool sessionLost(int depthBefore)
    {
        if (m_connection.vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
            return false;
        return m_connection.lastErrorLostConnection()
               || (depthBefore >= 0 && m_connection.transactionDepth() < depthBefore) || !serverAnswers();
    }

    bool serverAnswers() { return m_connection.runSQLCommand(QStringLiteral("select 1")); }

    // The connection was lost: waits for the server, and puts the lost batch's entries in front
    // of `queue`, except those that are in the catalog after all (a commit that got through with
    // only its answer lost). False when the server does not come back.
    bool recover(std::deque<Entry> &queue)
    {
        m_batch.reset();
        m_batchDepth = 0;
        const bool back = ++m_recoveries <= maxRecoveries && waitForServer();
        std::vector<Entry> lost;
        for (Entry &entry : m_pending) {
            if (back && isInCatalog(entry.mid)) {
                m_summary.importedIds.append(entry.mid);
                m_summary.importedPaths.append(entry.result.path);
            } else
                lost.push_back(std::move(entry));
        }
        m_pending.clear();
        for (auto entry = lost.rbegin(); entry != lost.rend(); ++entry)
            queue.push_front({std::move(entry->result), {}});
        if (!back)
            m_lost = m_stop = true;
        return back;
    }

    bool waitForServer()
    {
        if (serverAnswers())
            return true;
        m_status(QStringLiteral("Waiting for the catalog server..."));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_settings.reconnectWaitSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            for (int tick = 0; tick < 10; ++tick) {
                if (m_cancelled.load())
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (serverAnswers())
                return true;
        }
        return false;
    }

    bool isInCatalog(const QString &mid) { return m_connection.mediaEntryExists(mid); }

    void keepPending()
    {
        for (const Entry &entry : m_pending) {
            m_summary.importedIds.append(entry.mid);
            m_summary.importedPaths.append(entry.result.path);
        }
        m_pending.clear();
        m_batch.reset();
        m_batchDepth = 0;
        m_recoveries = 0;
    }

    OVNDatabaseAccess &m_connection;
    const OVNImportWorker::Settings &m_settings;
    OVNImportWorker::Summary &m_summary;
    std::function<void(const QString &)> m_status;
    const std::atomic<bool> &m_cancelled;
    std::unique_ptr<OVNDatabaseTransaction> m_batch;
    std::chrono::steady_clock::time_point m_batchOpened;
    std::vector<Entry> m_pending; // in the open batch
    std::deque<Result> m_unkept;
    int m_recoveries = 0;
    int m_batchDepth = 0; // the connection's depth with the batch open; 0 without one
    bool m_stop = false;
    bool m_lost = false;
    bool m_diskFull = false;
};

} // namespace

OVNImportWorker::OVNImportWorker(ConnectionMaker connections, Settings settings)
    : m_connections(std::move(connections)),
      m_settings(std::move(settings))
{}

OVNImportWorker::~OVNImportWorker()
{
    cancel();
    wait();
}

void OVNImportWorker::start(const QVariantList &items, Observer *observer)
{
    wait();
    m_thread = std::thread([this, items, observer] { run(items, observer); });
}

void OVNImportWorker::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool OVNImportWorker::waitForAbandonedFiles(int timeoutMs)
{
    std::unique_lock lock(fileThreads().mutex);
    return fileThreads().done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [] { return fileThreads().running == 0; });
}

QString OVNImportWorker::copyFailedMessage(bool move, const QString &source, const QString &target)
{
    return (move ? localized("Failed to move %1 to %2. Aborting now.")
                 : localized("Failed to copy %1 to %2. Aborting now."))
        .arg(source, target);
}

OVNImportWorker::Summary OVNImportWorker::run(const QVariantList &items, Observer *observer)
{
    Summary summary;
    auto status = [observer](const QString &text) {
        if (observer)
            observer->importStatus(text);
    };
    auto finish = [&]() -> Summary {
        if (observer)
            observer->importFinished(summary);
        return summary;
    };

    std::unique_ptr<OVNDatabaseAccess> connection = m_connections ? m_connections() : nullptr;
    if (!connection || !connection->isDBConnectionActive()) {
        summary.connectionFailed = true;
        return finish();
    }

    PBMImageRep::registerImageRepClass();
    status(QStringLiteral("Pre-Processing file list..."));
    const auto pipeline = std::make_shared<Pipeline>();
    QList<OVNHelper::SkippedFile> skipped;
    for (const QVariant &entry : OVNHelper::parseFileList(items, &skipped)) {
        Item item;
        // The expanded list keeps dictionary items as they came: a map or a hash.
        if (entry.typeId() == QMetaType::QVariantMap || entry.typeId() == QMetaType::QVariantHash) {
            item.meta = entry.toMap();
            item.path = item.meta.value(key("PATH")).toString();
        } else {
            item.path = entry.toString();
        }
        pipeline->list.push_back(std::move(item));
    }
    for (const OVNHelper::SkippedFile &file : skipped) {
        summary.failures.append({file.path, file.reason});
        summary.notImported.append(file.path);
    }
    const std::vector<Item> &list = pipeline->list;
    const size_t total = list.size();
    summary.total = int(total);
    if (observer)
        observer->importStarted(summary.total);
    status(QStringLiteral("Starting file scan..."));

    if (!m_settings.destinationFolder.isEmpty())
        QDir().mkpath(m_settings.destinationFolder);

    // One table and one reading of the preferences for all files.
    pipeline->settings = m_settings;
    pipeline->cancelled = m_cancelled;
    pipeline->mapping = std::make_shared<const OVNExtensionMapping>();
    pipeline->prefs = OVNImportHelper::readPreferences();
    const int threadCount =
        std::max(1, m_settings.threadCount > 0 ? m_settings.threadCount : QThread::idealThreadCount());
    pipeline->maxAhead = size_t(threadCount) * 3;
    pipeline->ready.resize(total);
    pipeline->busy.assign(size_t(threadCount), 0);

    std::vector<std::thread> pool;
    for (size_t slot = 0; slot < size_t(threadCount) && slot < total; ++slot)
        pool.emplace_back([pipeline, slot] {
            const RunningFileThread running;
            pipeline->work(slot);
        });

    Inserter inserter(*connection, m_settings, summary, status, *m_cancelled);
    bool stopped = false; // a copy failed, the catalog was lost or its disk is full
    size_t rest = 0;      // the first item of the list that was not handled
    for (size_t index = 0; index < total && !stopped && !m_cancelled->load(); ++index) {
        rest = index;
        std::optional<Result> taken;
        {
            std::unique_lock lock(pipeline->mutex);
            // cancel() does not signal: look again now and then.
            while (!pipeline->ready[index] && !m_cancelled->load() && !stopped) {
                if (inserter.batchOpenTooLong()) {
                    lock.unlock();
                    stopped = !inserter.commit();
                    lock.lock();
                    continue;
                }
                pipeline->changed.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (stopped || !pipeline->ready[index])
                break;
            taken.swap(pipeline->ready[index]);
            pipeline->consumed = index + 1;
        }
        pipeline->changed.notify_all();
        Result result = std::move(*taken);
        rest = index + 1;

        if (result.kind == Result::Kind::TransferFailed) {
            summary.abortTitle = result.moved ? QStringLiteral("File move failed.")
                                              : QStringLiteral("File copy failed.");
            summary.abortStatus = result.moved ? QStringLiteral("Move failed.") : QStringLiteral("Copy failed.");
            summary.abortMessage = copyFailedMessage(result.moved, result.sourcePath, result.path);
            summary.failures.append({result.sourcePath, summary.abortMessage});
            summary.notImported.append(result.sourcePath);
            ++summary.processed;
            stopped = true;
            break;
        }
        const QString path = result.path;
        const QByteArray thumbnail = result.thumbnail;
        if (result.kind == Result::Kind::Skipped) {
            // An empty path, or a file dropped because the import was cancelled meanwhile.
            if (!result.sourcePath.isEmpty() && m_cancelled->load()) {
                undoTransfer(result);
                break;
            }
        } else if (result.kind == Result::Kind::NotCatalogued) {
            summary.failures.append({result.path, result.problem});
            summary.notImported.append(result.sourcePath);
        } else {
            if (!result.problem.isEmpty())
                summary.failures.append({result.path,
                                         (result.problemKeptPicture ? QStringLiteral("catalogued: %1")
                                                                    : QStringLiteral("catalogued with an icon: %1"))
                                             .arg(result.problem),
                                         true});
            stopped = !inserter.insert(std::move(result)) || (inserter.commitIsDue() && !inserter.commit());
            if (stopped)
                break;
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(int(index + 1), summary.total, path, thumbnail);
    }
    // What stands in the open batch is kept, also when a full disk ends the import.
    if (!inserter.connectionLost() && !inserter.commit())
        stopped = true;
    const bool lost = inserter.connectionLost();

    // No file is started any more; a file still being made after a cancel is not waited for.
    {
        std::lock_guard lock(pipeline->mutex);
        pipeline->stop = true;
    }
    pipeline->changed.notify_all();
    for (size_t slot = 0; slot < pool.size(); ++slot) {
        bool inFlight;
        {
            std::lock_guard lock(pipeline->mutex);
            inFlight = pipeline->busy[slot] != 0;
        }
        if (inFlight && m_cancelled->load())
            pool[slot].detach();
        else
            pool[slot].join();
    }
    // Files copied or moved ahead for files that were not imported go back to where they were.
    {
        std::lock_guard lock(pipeline->mutex);
        for (std::optional<Result> &later : pipeline->ready)
            if (later)
                undoTransfer(*later);
    }
    for (const Result &unkept : inserter.unkept()) {
        undoTransfer(unkept);
        summary.notImported.append(unkept.sourcePath);
    }
    summary.cancelled = m_cancelled->load();
    if (stopped && !summary.cancelled) {
        for (size_t later = rest; later < total; ++later)
            summary.notImported.append(list[later].path);
    }
    if (inserter.diskFull() && !summary.cancelled && summary.abortTitle.isEmpty()) {
        summary.diskFull = true;
        summary.abortTitle = localized("The disk is full.");
        summary.abortStatus = summary.abortTitle;
        summary.abortMessage = localized("The disk that holds the catalog is full, so the import stopped. "
                                         "%1 files were not imported.")
                                   .arg(summary.notImported.size());
    } else if (lost && !summary.cancelled && summary.abortTitle.isEmpty()) {
        summary.catalogLost = true;
        summary.abortTitle = QStringLiteral("The connection to the catalog was lost.");
        summary.abortStatus = summary.abortTitle;
        summary.abortMessage = localized("The catalog did not answer again within %1 seconds, so the import stopped. "
                                         "%2 files were not imported.")
                                   .arg(m_settings.reconnectWaitSeconds)
                                   .arg(summary.notImported.size());
    }
    return finish();
}
