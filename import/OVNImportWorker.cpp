// The import's pipeline: parallel per-file processing, the records stored in the order of the list.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "decoding/DecodeInterrupt.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/PictureReaders.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportWorker_p.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/TimedCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

namespace {

QString key(const char *text) { return QString::fromLatin1(text); }

// On SQLite an open batch holds the catalog's write lock: every other writer (the catalog window)
// waits, and gives up after its busy timeout. A batch is committed once it has been open this long,
// also while it waits for a file that takes long (a large picture, a movie).
constexpr std::chrono::milliseconds maxBatchOpenTime(500);

struct Item {
    QString path;
    QVariantMap meta; // a dictionary item's values, empty for a path string
};

struct Result {
    enum class Kind { Skipped, TransferFailed, NotCatalogued, Ready };
    Kind kind = Kind::Skipped;
    size_t index = 0; // the item's place in the list
    QString mid;      // the record id kept for it: ids follow the list's order

    QString path;          // the path imported (the copy's, after a copy)
    QString sourcePath;    // the path the list named
    QString transferredTo; // the copy or the moved file, to undo when the import stops early
    bool moved = false;
    QString problem;
    bool problemKeptPicture = false; // catalogued with a picture of its own all the same
    QVariantMap record;
    QByteArray thumbnail;
    qint64 weight = 0; // about the bytes it holds, while it waits for its turn
};

qint64 weightOf(const Result &result)
{
    return 256 + result.thumbnail.size() + OVNImportHandOut::weightOf(QVariant(result.record))
           + 2 * (result.path.size() + result.sourcePath.size() + result.problem.size());
}

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

QString cancelledReason() { return QStringLiteral("reading the file was cancelled"); }

// `passed` is called once the file is where it is imported from (copied or moved there, or as it
// is without a destination folder). The file's time runs from then on, shown on `watch`: its
// reading ends at the file's limit where the calls on it can be told to stop, and the import
// gives up on it where they cannot.
Result processItem(const Item &item, OVNImportHelper &helper, const OVNImportWorker::Settings &settings,
                   const std::atomic<bool> &cancelled, const std::function<void()> &passed,
                   DecodeInterrupt::Watch &watch)
{
    Result result;
    result.sourcePath = item.path;
    QString path = item.path;
    if (path.isEmpty()) {
        passed();
        return result;
    }

    // The file is walked to element by element and held open (FileAccess::HeldFile): another
    // account's link anywhere on the way is not followed, and everything that reads the file while
    // it is imported reads the file that was found, whatever its name names meanwhile.
    const auto refused = [&result](const FileAccess::HeldFile &file, const QString &path) {
        result.kind = Result::Kind::NotCatalogued;
        result.path = path;
        result.problem = QFileInfo::exists(path) || file.reason() == FileAccess::foreignLinkReason()
                             ? file.reason()
                             : QStringLiteral("the file cannot be found");
        return result;
    };
    std::optional<FileAccess::HeldFile> held;
    const bool transfer = !settings.destinationFolder.isEmpty() && (settings.copyOnProcess || settings.moveOnProcess);
    if (transfer && QFileInfo::exists(path)) {
        const FileAccess::HeldFile source(path);
        if (!source.isOpen())
            return refused(source, path);
        const QString target = QDir(settings.destinationFolder).filePath(QFileInfo(path).fileName());
        const bool move = !settings.copyOnProcess;
        // Neither copy nor rename overwrites; an existing target is refused before trying. The
        // copy reads the held file.
        bool ok = !QFileInfo::exists(target)
                  && (move ? QFile::rename(path, target)
                           : FileAccess::copyThroughTemporary(path, target, FileAccess::Existing::Keep));
        if (ok) {
            held.emplace(target);
            // What was moved is the file that was found, or it goes back.
            if (move && held->isOpen() && !held->isSameFileAs(source))
                QFile::rename(target, path);
            if (!held->isOpen() || (move && !held->isSameFileAs(source))) {
                held.reset();
                ok = false;
            }
        }
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

    passed();
    const DecodeInterrupt::Scope interrupt(&cancelled, OVNImportHelper::decodeTimeLimit(), &watch);
    if (settings.fileStarted)
        settings.fileStarted(item.path);
    if (!held) {
        held.emplace(path);
        if (!held->isOpen())
            return refused(*held, path);
    }
    // Catalogued where the file was found, links on the way replaced by what the walk followed: a
    // link looked up again by name could name another file by now.
    path = held->foundAt();
    held->alsoAnswersFor(path);
    result.path = path;
    if (cancelled.load())
        return result;

    result.thumbnail = helper.thumbnailForMediaFile(path, result.record);
    result.problem = helper.lastProblem();
    // Its reading ended by the Cancel: dropped like a file not started, and listed.
    if (cancelled.load() && !result.problem.isEmpty()) {
        result.problem = cancelledReason();
        return result;
    }
    result.problemKeptPicture = helper.lastProblemKeptPicture();
    result.kind = result.thumbnail.isEmpty() ? Result::Kind::NotCatalogued : Result::Kind::Ready;
    if (result.kind == Result::Kind::Ready)
        completeRecord(result.record, item.meta, settings);
    return result;
}

QString uncertainReason()
{
    return localized("the catalog server went away while it stored the entry: it may be in the catalog");
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
struct Pipeline : OVNImportHandOut::FileSlots {
    OVNImportWorker::Settings settings;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::vector<Item> list;
    std::shared_ptr<const OVNExtensionMapping> mapping;
    OVNImportHelper::Preferences prefs;

    std::mutex mutex;
    std::condition_variable changed;
    OVNImportHandOut::Window window;
    std::vector<std::optional<Result>> ready;
    std::deque<size_t> finished; // the items of `ready`, in the order they were finished
    // Per item: when its reading started (set as a thread takes it).
    std::vector<std::chrono::steady_clock::time_point> startedAt;
    // Per item: it is where it is imported from. A record is stored only when every item before
    // it got there, so that a failed copy or move ends the import with nothing after it stored.
    std::vector<char> placed;
    size_t placedPrefix = 0; // the items from the start that are placed
    size_t limit = 0;        // no item from here on is started (a failed copy stops the list there)
    bool stop = false;       // no file is started any more, and results that arrive are dropped

    // Takes the record at `index` (under the lock).
    std::optional<Result> take(size_t index)
    {
        std::optional<Result> taken;
        taken.swap(ready[index]);
        if (taken)
            window.waiting -= taken->weight;
        ++window.consumed;
        return taken;
    }

    void place(size_t index)
    {
        {
            std::lock_guard lock(mutex);
            placed[index] = 1;
            while (placedPrefix < placed.size() && placed[placedPrefix])
                ++placedPrefix;
        }
        changed.notify_all();
    }

    void work(size_t slot)
    {
        DecodeInterrupt::Watch *watch;
        {
            std::lock_guard lock(mutex);
            watch = &watches[slot];
        }
        OVNImportHelper helper(mapping);
        helper.setPreferences(prefs);
        helper.setCancelFlag(cancelled);
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || window.next >= limit || window.mayStartNext(); });
                if (stop || window.next >= limit || cancelled->load())
                    return;
                index = window.next++;
                startedAt[index] = std::chrono::steady_clock::now();
                busy[slot] = 1;
                working[slot] = index;
            }
            Result result;
            try {
                result = processItem(
                    list[index], helper, settings, *cancelled, [this, index] { place(index); }, *watch);
            } catch (...) {
                place(index);
                result.kind = Result::Kind::NotCatalogued;
                result.path = result.sourcePath = list[index].path;
                result.problem = QStringLiteral("the file could not be processed");
            }
            result.index = index;
            result.weight = weightOf(result);
            bool dropped;
            bool givenUp;
            {
                std::lock_guard lock(mutex);
                busy[slot] = 0;
                givenUp = abandoned[slot] != 0;
                dropped = stop || givenUp;
                if (!dropped) {
                    window.waiting += result.weight;
                    ready[index] = std::move(result);
                    finished.push_back(index);
                }
            }
            if (dropped)
                undoTransfer(result);
            // Its file was listed without it, and another thread took its place.
            if (givenUp)
                return;
            changed.notify_all();
        }
    }

    // The slots whose thread is stuck on its file past the file's deadline and `grace` and does
    // not wait its turn: given up on (under the lock), each with its file's result made here.
    std::vector<size_t> giveUpStuckThreads(std::chrono::steady_clock::duration grace)
    {
        std::vector<size_t> stuck;
        const auto now = std::chrono::steady_clock::now();
        for (size_t slot = 0; slot < busy.size(); ++slot) {
            if (!busy[slot] || abandoned[slot])
                continue;
            if (!watches[slot].overdue(grace, now))
                continue;
            abandoned[slot] = 1;
            busy[slot] = 0;
            runningThreads[slot]->release();
            const size_t index = working[slot];
            Result result;
            result.kind = Result::Kind::NotCatalogued;
            result.index = index;
            result.path = result.sourcePath = list[index].path;
            result.problem = QStringLiteral("the file could not be read in time");
            result.weight = weightOf(result);
            window.waiting += result.weight;
            ready[index] = std::move(result);
            finished.push_back(index);
            stuck.push_back(slot);
        }
        return stuck;
    }
};

// Puts the records into the catalog as they come, in batches with a savepoint per entry. Before
// each batch is committed it asks whether the user may still write into the category (membership
// and level read afresh): when not, the batch is undone and the import stops. A lost
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

    // Inserts the record, and commits the batch when it is due. False when the import must stop:
    // the catalog could not be reached again, or its disk is full. What was not kept is in
    // unkept(), what may or may not have been kept in uncertain().
    bool insert(Result result)
    {
        std::deque<Entry> queue;
        queue.push_back({std::move(result), {}});
        return work(queue, false);
    }

    // Commits the open batch; false as insert().
    bool commit()
    {
        std::deque<Entry> queue;
        return work(queue, true);
    }

    bool batchOpenTooLong() const
    {
        return m_batch && std::chrono::steady_clock::now() - m_batchOpened >= maxBatchOpenTime;
    }

    const std::deque<Result> &unkept() const { return m_unkept; }
    // The records kept, each with its place in the list, in the order they were stored.
    struct Kept {
        size_t index;
        QString mid;
        QString path;
    };
    const std::vector<Kept> &kept() const { return m_kept; }
    // Why the user may no longer write where the import writes, when that stopped it.
    const std::optional<OVNCategoryAccess::Refusal> &refusal() const { return m_refusal; }
    // Entries of a batch whose commit went unanswered when the server could not be asked any
    // more whether it took them: they may be in the catalog or not.
    const std::deque<Result> &uncertain() const { return m_uncertain; }
    // Why the import stopped, when it did.
    bool connectionLost() const { return m_lost != LostCause::No; }
    // The server answered all along, but its sessions kept ending before anything was kept.
    bool sessionsKeptEnding() const { return m_lost == LostCause::SessionsKeptEnding; }
    int sessionLosses() const { return m_losses; }
    bool diskFull() const { return m_diskFull; }

private:
    struct Entry {
        Result result;
        QString mid;
    };
    enum class Outcome { Inserted, Refused, Lost, BatchFailed };
    enum class Committed { Yes, Failed, Lost };
    enum class LostCause { No, Unreachable, SessionsKeptEnding };

    // Inserts the entries of `queue` in order, committing each batch when it is due (and the
    // last one, when `commitAtEnd`). A lost session puts the entries the catalog did not keep
    // back in front of the queue once the server answers again.
    bool work(std::deque<Entry> &queue, bool commitAtEnd)
    {
        // Time spent waiting for files between two calls is no time of sessions that kept ending.
        if (m_troubleBegan)
            *m_troubleBegan += std::chrono::steady_clock::now() - m_lastWork;
        while (!m_stop) {
            if (!queue.empty()) {
                Entry entry = std::move(queue.front());
                queue.pop_front();
                const Outcome outcome = insertEntry(entry);
                if (outcome == Outcome::Lost) {
                    queue.push_front(std::move(entry));
                    recover(queue, false);
                    continue;
                }
                if (outcome != Outcome::Inserted || !commitIsDue())
                    continue;
            } else if (!commitAtEnd || !m_batch) {
                break;
            }
            if (commitBatch() == Committed::Lost)
                recover(queue, true);
        }
        for (Entry &unkept : queue)
            m_unkept.push_back(std::move(unkept.result));
        m_lastWork = std::chrono::steady_clock::now();
        return !m_stop;
    }

    Committed commitBatch()
    {
        // The privileges are read inside the batch, which holds the category's row until its end.
        if (m_batch->isActive() && !m_pending.empty()) {
            for (const QString &category : {m_settings.categoryId, m_settings.folderId}) {
                if (category.isEmpty())
                    continue;
                if (std::optional<OVNCategoryAccess::Refusal> refusal =
                        OVNCatalogSession::writeRefusal(m_connection, category)) {
                    refuseBatch(std::move(*refusal));
                    return Committed::Failed;
                }
            }
        }
        // A batch whose begin failed protected nothing: its entries stand on their own, and are
        // in the catalog already.
        if (!m_batch->isActive() || m_batch->commit()) {
            keepPending();
            return Committed::Yes;
        }
        if (sessionLost(-1))
            return Committed::Lost;
        failBatch(nullptr, m_connection.getLastErrorMessage(), m_connection.lastErrorWasDiskFull());
        return Committed::Failed;
    }

    bool commitIsDue() const { return qsizetype(m_pending.size()) >= m_batchLimit || batchOpenTooLong(); }

    Outcome insertEntry(Entry &entry)
    {
        if (!m_batch) {
            m_batch = std::make_unique<OVNDatabaseTransaction>(m_connection);
            m_batchOpened = std::chrono::steady_clock::now();
            m_batchDepth = m_batch->isActive() ? m_connection.transactionDepth() : 0;
            // Without its batch an insert would stand alone, and a lost answer to it could not
            // be told from a refusal: after a lost session the batch begins again.
            if (!m_batch->isActive() && sessionLost(0)) {
                m_batch.reset();
                return Outcome::Lost;
            }
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
        entry.mid = m_connection.addMediaListEntry(entry.result.record, entry.result.mid);
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
        // The entry's own earlier try, whose batch's commit the server carried out though its
        // answer was lost: the record, its metadata and its prepared fields are there already.
        if (m_connection.lastInsertFoundEarlierCopy()) {
            if (transaction.isActive() && !transaction.commit()) {
                if (sessionLost(depth))
                    return Outcome::Lost;
                if (batchUndone())
                    return failBatch(&entry, m_connection.getLastErrorMessage(), m_connection.lastErrorWasDiskFull());
            }
            m_pending.push_back(std::move(entry));
            return Outcome::Inserted;
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

    void keep(const Entry &entry) { m_kept.push_back({entry.result.index, entry.mid, entry.result.path}); }

    // The user may no longer write there: the open batch is undone, its entries and those still to
    // come are not imported, and the import stops.
    void refuseBatch(OVNCategoryAccess::Refusal refusal)
    {
        m_batch.reset();
        m_batchDepth = 0;
        for (Entry &entry : m_pending)
            m_unkept.push_back(std::move(entry.result));
        m_pending.clear();
        m_refusal = std::move(refusal);
        m_stop = true;
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

    // The session was lost, and the open batch with it: waits for the server, and puts the
    // batch's entries back in front of `queue`. A batch lost before its commit is not in the
    // catalog (the server undoes a transaction whose session ends); one whose commit went
    // unanswered may be, and each of its entries is looked up first: those found are kept, the
    // others go in again. When the server cannot be reached for the stated time, the import
    // stops: the batch's entries are not imported, or, when its commit went unanswered and
    // nobody could say, uncertain.
    void recover(std::deque<Entry> &queue, bool commitSent)
    {
        m_batch.reset();
        m_batchDepth = 0;
        ++m_losses;
        const auto now = std::chrono::steady_clock::now();
        if (!m_troubleBegan)
            m_troubleBegan = now;
        // Smaller batches until one is kept again: sessions that end every few moments still let
        // a batch of one through.
        if (!m_pending.empty())
            m_batchLimit = std::max<qsizetype>(1, std::min<qsizetype>(m_batchLimit, qsizetype(m_pending.size())) / 2);

        bool back = waitForServer();
        std::optional<QSet<QString>> present;
        // What the lost session's commit stored is known once its process on the server has
        // ended; a look-up before then may not see it yet. (Putting an entry in again is safe
        // either way: it keeps its id, and the catalog answers an id it holds as stored.)
        if (commitSent && !m_pending.empty() && back
            && m_connection.waitForEndedSession(m_settings.reconnectWaitSeconds)) {
            QStringList mids;
            for (const Entry &entry : m_pending)
                mids.append(entry.mid);
            // An unanswered look-up is asked again, never taken for "not there".
            present = m_connection.mediaEntriesPresent(mids);
            while (!present && back && (back = waitForServer()))
                present = m_connection.mediaEntriesPresent(mids);
        }
        if (!back)
            m_stop = true;
        std::vector<Entry> lost;
        for (Entry &entry : m_pending) {
            if (present && present->contains(entry.mid)) {
                keep(entry);
            } else if (back) {
                lost.push_back(std::move(entry));
            } else if (present || !commitSent) {
                m_unkept.push_back(std::move(entry.result));
            } else {
                m_uncertain.push_back(std::move(entry.result));
            }
        }
        m_pending.clear();
        for (auto entry = lost.rbegin(); entry != lost.rend(); ++entry)
            queue.push_front({std::move(entry->result), {}});
    }

    // Whether the server answers, waiting for it within the stated time since the trouble began
    // (one budget for the waits and the tries between them). False (with the cause noted) when it
    // did not answer in that time, when its sessions kept ending for the rest of it while it
    // answered without a batch being kept, and at cancel or a stop.
    bool waitForServer()
    {
        const auto limit = std::chrono::seconds(std::max(1, m_settings.reconnectWaitSeconds));
        if (m_cancelled.load() || OVNCatalogOpening::stopRequested())
            return false;
        const auto now = std::chrono::steady_clock::now();
        const auto spent = m_troubleBegan ? now - *m_troubleBegan : std::chrono::steady_clock::duration::zero();
        if (spent >= limit) {
            m_lost = LostCause::SessionsKeptEnding;
            return false;
        }
        const int left = int(std::chrono::ceil<std::chrono::seconds>(limit - spent).count());
        if (!OVNCatalogOpening::waitForServer(m_connection, left, &m_cancelled, m_status)) {
            if (!m_cancelled.load() && !OVNCatalogOpening::stopRequested())
                m_lost = LostCause::Unreachable;
            return false;
        }
        return true;
    }

    void keepPending()
    {
        for (const Entry &entry : m_pending)
            keep(entry);
        m_pending.clear();
        m_batch.reset();
        m_batchDepth = 0;
        m_troubleBegan.reset();
        m_batchLimit = std::min(m_batchLimit * 2, fullBatch());
    }

    qsizetype fullBatch() const { return std::max(1, m_settings.batchSize); }

    OVNDatabaseAccess &m_connection;
    const OVNImportWorker::Settings &m_settings;
    OVNImportWorker::Summary &m_summary;
    std::function<void(const QString &)> m_status;
    const std::atomic<bool> &m_cancelled;
    std::unique_ptr<OVNDatabaseTransaction> m_batch;
    std::chrono::steady_clock::time_point m_batchOpened;
    std::vector<Entry> m_pending; // in the open batch
    std::deque<Result> m_unkept;
    std::deque<Result> m_uncertain;
    std::vector<Kept> m_kept;
    std::optional<OVNCategoryAccess::Refusal> m_refusal;
    qsizetype m_batchLimit = fullBatch();
    // Since when sessions have been lost without a batch kept in between, waits for the server
    // included; none while all is well.
    std::optional<std::chrono::steady_clock::time_point> m_troubleBegan;
    std::chrono::steady_clock::time_point m_lastWork;
    int m_losses = 0;
    int m_batchDepth = 0; // the connection's depth with the batch open; 0 without one
    bool m_stop = false;
    LostCause m_lost = LostCause::No;
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
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    OVNImportHandOut::FileThreads &threads = OVNImportHandOut::fileThreads();
    std::vector<OVNImportHandOut::FileThreads::LeftBehind> ended;
    {
        std::unique_lock lock(threads.mutex);
        if (!threads.done.wait_until(lock, until, [&] { return threads.running == 0; }))
            return false;
        // Those that ended their work are joined, so that none is still going when this returns;
        // one given up on that is still stuck stays.
        auto &left = threads.leftBehind;
        const auto still =
            std::stable_partition(left.begin(), left.end(), [](const auto &one) { return !one.running->ended(); });
        std::move(still, left.end(), std::back_inserter(ended));
        left.erase(still, left.end());
    }
    for (OVNImportHandOut::FileThreads::LeftBehind &one : ended)
        one.thread.join();
    // With the reads and openings a cancelled file left on threads of their own.
    return TimedCall::waitForCalls(until);
}

QString OVNImportWorker::copyFailedMessage(bool move, const QString &source, const QString &target)
{
    return (move ? localized("Failed to move %1 to %2. Aborting now.")
                 : localized("Failed to copy %1 to %2. Aborting now."))
        .arg(source, target);
}

namespace {

// The files among the paths not imported: a folder left unread is none, as what it holds is not
// known.
qsizetype filesNotImported(const OVNImportWorker::Summary &summary)
{
    qsizetype files = 0;
    for (const QString &path : summary.notImported)
        files += summary.foldersNotRead.contains(path) ? 0 : 1;
    return files;
}

// " 2 folders were not read.", or nothing.
QString foldersNotReadText(const OVNImportWorker::Summary &summary)
{
    if (summary.foldersNotRead.isEmpty())
        return QString();
    return QLatin1Char(' ')
           + countedText(summary.foldersNotRead.size(), "%1 folder was not read.", "%1 folders were not read.");
}

} // namespace

QString OVNImportWorker::notImportedText(const Summary &summary)
{
    return countedText(filesNotImported(summary), "%1 file was not imported.", "%1 files were not imported.")
           + foldersNotReadText(summary);
}

QString OVNImportWorker::stopMessage(const Stop &stop, const Summary &summary) const
{
    const qsizetype notImported = filesNotImported(summary);
    switch (stop.kind) {
    case Stop::Kind::None:
        break;
    case Stop::Kind::Refused:
        return stop.cause + QLatin1Char(' ')
               + countedText(notImported,
                             "The import stopped: what was stored before stays in the catalog, %1 file was not "
                             "imported.",
                             "The import stopped: what was stored before stays in the catalog, %1 files were not "
                             "imported.")
               + foldersNotReadText(summary);
    case Stop::Kind::DiskFull:
        return localized("The disk that holds the catalog is full, so the import stopped.") + QLatin1Char(' ')
               + notImportedText(summary);
    case Stop::Kind::Unreachable:
    case Stop::Kind::SessionsKeptEnding: {
        QString message =
            stop.kind == Stop::Kind::SessionsKeptEnding
                ? localized("The catalog server answered, but it ended the import's connection %1 times, and for %2 "
                            "seconds nothing could be stored, so the import stopped.")
                      .arg(stop.sessionLosses)
                      .arg(m_settings.reconnectWaitSeconds)
                : localized("The catalog server could not be reached for %1 seconds, so the import stopped.")
                      .arg(m_settings.reconnectWaitSeconds);
        message += QLatin1Char(' ') + notImportedText(summary);
        if (stop.uncertain > 0)
            message += QLatin1Char(' ')
                       + countedText(stop.uncertain,
                                     "%1 file may be in the catalog: the server's answer to storing it was lost.",
                                     "%1 files may be in the catalog: the server's answer to storing them was lost.");
        return message;
    }
    }
    return QString();
}

std::unique_ptr<OVNDatabaseAccess> OVNImportWorker::openConnection(Observer *observer)
{
    std::unique_ptr<OVNDatabaseAccess> connection = m_connections ? m_connections() : nullptr;
    if (!connection)
        return connection;
    const auto status = [observer](const QString &text) {
        if (observer)
            observer->importStatus(text);
    };
    OVNCatalogOpening::run(
        *connection, m_settings.reconnectWaitSeconds,
        [&] { return connection->isDBConnectionActive() || connection->openDBConnection(); }, status,
        m_cancelled.get());
    return connection;
}

OVNImportWorker::Summary OVNImportWorker::run(const QVariantList &items, Observer *observer)
{
    std::unique_ptr<OVNDatabaseAccess> connection = openConnection(observer);
    if (!connection || !connection->isDBConnectionActive()) {
        Summary summary;
        summary.connectionFailed = true;
        if (observer)
            observer->importFinished(summary);
        return summary;
    }
    return runOn(*connection, items, observer);
}

OVNImportWorker::Summary OVNImportWorker::runOn(OVNDatabaseAccess &connection, const QVariantList &items,
                                                Observer *observer)
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

    PictureReaders::registerAll();
    status(QStringLiteral("Pre-Processing file list..."));
    const auto pipeline = std::make_shared<Pipeline>();
    QList<OVNHelper::SkippedFile> skipped;
    // A folder on a mount that stopped answering is left out at the file's limit, and named.
    const OVNHelper::ListingTime listingTime{OVNImportHelper::decodeTimeLimit(), m_cancelled.get()};
    for (const QVariant &entry : OVNHelper::parseFileList(items, &skipped, listingTime)) {
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
        if (file.folder)
            summary.foldersNotRead.append(file.path);
    }
    summary.passedOver = int(skipped.size());
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
    pipeline->window.maxAhead = size_t(threadCount) * 3;
    pipeline->ready.resize(total);
    pipeline->limit = total;
    pipeline->placed.assign(total, 0);
    pipeline->startedAt.resize(total);

    // The threads by slot; one given up on is left behind at the end for the program to join.
    std::vector<std::thread> pool;
    const auto startThread = [&pipeline, &pool] { OVNImportHandOut::startFileThread(pipeline, pool); };
    for (size_t slot = 0; slot < size_t(threadCount) && slot < total; ++slot)
        startThread();
    // A file whose thread is stuck this long past its deadline is given up on: the decoders end
    // at the deadline by themselves, and their own reasons come first.
    const auto stallGrace = std::chrono::milliseconds(std::max(0, m_settings.stallGraceMilliseconds));

    Inserter inserter(connection, m_settings, summary, status, *m_cancelled);
    bool stopped = false;                // a copy failed, the catalog was lost, its disk is full or writing refused
    std::vector<char> handled(total, 0); // per item: taken from the threads
    size_t handledCount = 0;
    // A failed copy or move ends the list at its item: the items before it are still stored as
    // they finish, those after it are not imported.
    size_t end = total;
    size_t toHandle = total; // items before `end` not taken yet
    // Record ids are given out in list order up to the furthest item taken, so that the ids keep
    // the list's order also where a file passed over is stored after later ones.
    std::vector<QString> ids(total);
    size_t idsGiven = 0;
    // Records are stored in the list's order: the head is the first item neither taken nor passed
    // over, and only it (or an item passed over) may be stored next. A file still being read this
    // long after it came to the head (or after its reading started, when that was later) while a
    // later one is finished is passed over: the finished files behind it are stored, and it is
    // stored whenever it finishes.
    const auto maxHeadHoldTime = std::chrono::milliseconds(std::max(0, m_settings.headHoldMilliseconds));
    std::vector<char> passedOver(total, 0);
    size_t head = 0;
    auto headSince = std::chrono::steady_clock::now();
    const auto advanceHead = [&] {
        const size_t before = head;
        while (head < end && (handled[head] || passedOver[head]))
            ++head;
        if (head != before)
            headSince = std::chrono::steady_clock::now();
    };
    while (toHandle > 0 && !stopped && !m_cancelled->load()) {
        std::optional<Result> taken;
        {
            std::unique_lock lock(pipeline->mutex);
            // The record that may be stored next: the head's or a passed-over one, once every item
            // before it is placed; a failed copy at once.
            const auto next = [&] {
                return std::find_if(pipeline->finished.begin(), pipeline->finished.end(), [&](size_t index) {
                    if (pipeline->ready[index]->kind == Result::Kind::TransferFailed)
                        return true;
                    return index < pipeline->placedPrefix && (index == head || passedOver[index]);
                });
            };
            // Passes the head over when it has held it too long and a finished record waits
            // behind it; how long until that can happen otherwise.
            const auto passHead = [&]() -> std::optional<std::chrono::steady_clock::duration> {
                if (head >= end || head >= pipeline->window.next || pipeline->ready[head])
                    return std::nullopt;
                const bool waiting = std::any_of(pipeline->finished.begin(), pipeline->finished.end(),
                                                 [&](size_t index) { return index > head && index < end; });
                if (!waiting)
                    return std::nullopt;
                const auto held = std::chrono::steady_clock::now() - std::max(headSince, pipeline->startedAt[head]);
                if (held < maxHeadHoldTime)
                    return maxHeadHoldTime - held;
                passedOver[head] = 1;
                advanceHead();
                return std::chrono::steady_clock::duration::zero();
            };
            // cancel() does not signal: look again now and then.
            while (next() == pipeline->finished.end() && !m_cancelled->load() && !stopped) {
                if (inserter.batchOpenTooLong()) {
                    lock.unlock();
                    stopped = !inserter.commit();
                    lock.lock();
                    continue;
                }
                // A file stuck in a call no deadline reaches (a stat or a read on a stalled mount)
                // is listed, and a new thread takes its thread's place.
                if (const std::vector<size_t> stuck = pipeline->giveUpStuckThreads(stallGrace); !stuck.empty()) {
                    const bool more = pipeline->window.next < pipeline->limit;
                    lock.unlock();
                    for (size_t replaced = 0; more && replaced < stuck.size(); ++replaced)
                        startThread();
                    lock.lock();
                    continue;
                }
                auto wait = std::chrono::steady_clock::duration(std::chrono::milliseconds(50));
                if (const auto untilPassed = passHead()) {
                    if (*untilPassed == std::chrono::steady_clock::duration::zero())
                        continue;
                    wait = std::min(wait, *untilPassed + std::chrono::milliseconds(1));
                }
                pipeline->changed.wait_for(lock, wait);
            }
            const auto found = next();
            if (stopped || found == pipeline->finished.end())
                break;
            const size_t index = *found;
            pipeline->finished.erase(found);
            taken = pipeline->take(index);
        }
        pipeline->changed.notify_all();
        Result result = std::move(*taken);
        const size_t index = result.index;
        if (index >= end) {
            undoTransfer(result);
            continue;
        }
        handled[index] = 1;
        ++handledCount;
        --toHandle;
        advanceHead();
        while (idsGiven <= index)
            ids[idsGiven++] = connection.createNewMID();
        result.mid = ids[index];

        if (result.kind == Result::Kind::TransferFailed) {
            summary.abortTitle = result.moved ? QStringLiteral("File move failed.")
                                              : QStringLiteral("File copy failed.");
            summary.abortStatus = result.moved ? QStringLiteral("Move failed.") : QStringLiteral("Copy failed.");
            summary.abortMessage = copyFailedMessage(result.moved, result.sourcePath, result.path);
            summary.failures.append({result.sourcePath, summary.abortMessage});
            summary.notImported.append(result.sourcePath);
            ++summary.processed;
            {
                std::lock_guard lock(pipeline->mutex);
                pipeline->limit = std::min(pipeline->limit, index);
            }
            // The items after it that were taken already stay in the catalog; those before it are
            // still waited for.
            end = index;
            toHandle = 0;
            for (size_t before = 0; before < end; ++before)
                toHandle += handled[before] ? 0 : 1;
            continue;
        }
        const QString path = result.path;
        const QByteArray thumbnail = result.thumbnail;
        if (result.kind == Result::Kind::Skipped) {
            // An empty path, or a file dropped because the import was cancelled meanwhile.
            if (!result.sourcePath.isEmpty() && m_cancelled->load()) {
                if (!result.problem.isEmpty()) {
                    summary.failures.append({result.sourcePath, result.problem});
                    summary.notImported.append(result.sourcePath);
                }
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
            stopped = !inserter.insert(std::move(result));
            if (stopped)
                break;
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(int(handledCount), summary.total, path, thumbnail);
    }
    // What stands in the open batch is kept, also when a full disk ends the import.
    if (!inserter.connectionLost() && !inserter.commit())
        stopped = true;
    const bool lost = inserter.connectionLost();

    // No file is started any more; a file still being made after a cancel is not waited for (its
    // decoder ends at the Cancel) and is listed as cancelled.
    {
        std::lock_guard lock(pipeline->mutex);
        pipeline->stop = true;
        if (m_cancelled->load()) {
            for (size_t slot = 0; slot < pool.size(); ++slot) {
                if (!pipeline->busy[slot])
                    continue;
                const QString &file = pipeline->list[pipeline->working[slot]].path;
                summary.failures.append({file, cancelledReason()});
                summary.notImported.append(file);
            }
            for (const std::optional<Result> &later : pipeline->ready)
                if (later && later->kind == Result::Kind::Skipped && !later->problem.isEmpty()) {
                    summary.failures.append({later->sourcePath, later->problem});
                    summary.notImported.append(later->sourcePath);
                }
        }
    }
    pipeline->changed.notify_all();
    for (size_t slot = 0; slot < pool.size(); ++slot) {
        std::shared_ptr<OVNImportHandOut::RunningFileThread> leftBehind;
        {
            std::lock_guard lock(pipeline->mutex);
            if (pipeline->abandoned[slot] || (pipeline->busy[slot] && m_cancelled->load()))
                leftBehind = pipeline->runningThreads[slot];
        }
        if (!pool[slot].joinable())
            continue;
        if (leftBehind)
            OVNImportHandOut::leaveBehind(pool[slot], std::move(leftBehind));
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
    // Neither named as not imported nor taken back: the catalog may hold them.
    for (const Result &uncertain : inserter.uncertain())
        summary.failures.append({uncertain.path, uncertainReason()});
    // The records kept, in list order.
    std::vector<Inserter::Kept> kept = inserter.kept();
    std::sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) { return a.index < b.index; });
    for (const Inserter::Kept &record : kept) {
        summary.importedIds.append(record.mid);
        summary.importedPaths.append(record.path);
    }
    summary.cancelled = m_cancelled->load();
    if (summary.cancelled) {
        const QSet<QString> named(summary.notImported.cbegin(), summary.notImported.cend());
        for (size_t item = 0; item < total; ++item)
            if (!handled[item] && !named.contains(list[item].path))
                summary.notReached.append(list[item].path);
    }
    if ((stopped || end < total) && !summary.cancelled) {
        for (size_t item = 0; item < total; ++item)
            if (!handled[item])
                summary.notImported.append(list[item].path);
    }
    // What was not imported, in the list's order (the paths the expansion left out first).
    QHash<QString, qsizetype> place;
    for (size_t item = 0; item < total; ++item)
        place.insert(list[item].path, qsizetype(item));
    std::stable_sort(summary.notImported.begin(), summary.notImported.end(),
                     [&](const QString &a, const QString &b) { return place.value(a, -1) < place.value(b, -1); });
    m_stop = Stop();
    if (inserter.refusal() && !summary.cancelled && summary.abortTitle.isEmpty()) {
        summary.writeRefused = true;
        summary.abortTitle = inserter.refusal()->title;
        m_stop = {Stop::Kind::Refused, inserter.refusal()->causeAlone(), 0, 0};
    } else if (inserter.diskFull() && !summary.cancelled && summary.abortTitle.isEmpty()) {
        summary.diskFull = true;
        summary.abortTitle = localized("The disk is full.");
        m_stop.kind = Stop::Kind::DiskFull;
    } else if (lost && !summary.cancelled && summary.abortTitle.isEmpty()) {
        summary.catalogLost = true;
        summary.abortTitle = QStringLiteral("The connection to the catalog was lost.");
        m_stop = {inserter.sessionsKeptEnding() ? Stop::Kind::SessionsKeptEnding : Stop::Kind::Unreachable, QString(),
                  inserter.sessionLosses(), qsizetype(inserter.uncertain().size())};
    }
    if (m_stop.kind != Stop::Kind::None) {
        summary.abortStatus = summary.abortTitle;
        summary.abortMessage = stopMessage(m_stop, summary);
    }
    return finish();
}
