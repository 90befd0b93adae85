// The re-processing of entries already in the catalog: their files are read again for a new
// thumbnail, orientation and import date, on a pool of threads like the import's.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "decoding/DecodeInterrupt.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/PictureReaders.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportWorker_p.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"
#include "platform/FileAccess.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

void OVNImportWorker::startReprocess(const QVariantList &records, Observer *observer)
{
    wait();
    m_thread = std::thread([this, records, observer] { reprocess(records, observer); });
}

namespace {

// A record's file, read again on a thread of the pool.
struct Reread {
    bool ready = false;
    bool present = false;
    QVariantMap record; // a fresh one for every file
    QByteArray thumbnail;
    QString problem;
    bool problemKeptPicture = false; // the thumbnail is a picture of the file all the same
    qint64 weight = 0;
};

// The files are read on a pool of threads, ahead of the writes, which follow the list's order on
// the worker's own connection. Shared with the threads: one given up on (stuck on a stalled mount)
// outlives the re-scan and drops what it finishes.
struct RereadPool : OVNImportHandOut::FileSlots {
    QVariantList records;
    std::shared_ptr<const OVNExtensionMapping> mapping;
    OVNImportHelper::Preferences prefs;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::function<void(const QString &path)> fileStarted;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Reread> results;
    OVNImportHandOut::Window window;
    bool stop = false;
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
                changed.wait(lock, [&] { return stop || window.next >= results.size() || window.mayStartNext(); });
                if (stop || window.next >= results.size())
                    return;
                index = window.next++;
                busy[slot] = 1;
                working[slot] = index;
            }
            Reread done = reread(records.at(qsizetype(index)).toMap(), helper, *watch);
            {
                std::lock_guard lock(mutex);
                busy[slot] = 0;
                if (abandoned[slot])
                    return; // its file was listed without it
                window.waiting += done.weight;
                results[index] = std::move(done);
            }
            changed.notify_all();
        }
    }

    Reread reread(const QVariantMap &item, OVNImportHelper &helper, DecodeInterrupt::Watch &watch)
    {
        // The file's time, shown to the re-scan's own thread, which gives up on a call on it that
        // no deadline ends.
        const DecodeInterrupt::Scope interrupt(cancelled.get(), OVNImportHelper::decodeTimeLimit(), &watch);
        Reread done;
        const QString path = item.value(QStringLiteral("absolutepath")).toString();
        if (fileStarted)
            fileStarted(path);
        // Walked element by element and held: another account's link laid anywhere on the way to
        // where the file was is not followed, and what is read is the file that was found.
        std::optional<FileAccess::HeldFile> held;
        if (!path.isEmpty())
            held.emplace(path);
        if (held && !held->isOpen() && held->reason() == FileAccess::foreignLinkReason()) {
            done.present = true;
            done.problem = FileAccess::foreignLinkReason();
        } else if (held && !held->isOpen() && QFileInfo(path).isFile()) {
            done.present = true;
            done.problem = held->reason();
        } else if (!cancelled->load() && !item.value(CatalogNames::keyMid).toString().isEmpty() && held
                   && held->isOpen()) {
            done.present = true;
            done.thumbnail = helper.thumbnailForMediaFile(path, done.record);
            done.problem = helper.lastProblem();
            done.problemKeptPicture = helper.lastProblemKeptPicture();
        }
        done.ready = true;
        done.weight = 256 + done.thumbnail.size() + OVNImportHandOut::weightOf(QVariant(done.record));
        return done;
    }

    // Gives up (under the lock) on the threads stuck on their file past its deadline and `grace`
    // and not waiting their turn: each file keeps what it has and is listed. How many.
    size_t giveUpStuckThreads(std::chrono::steady_clock::duration grace)
    {
        size_t stuck = 0;
        const auto now = std::chrono::steady_clock::now();
        for (size_t slot = 0; slot < busy.size(); ++slot) {
            if (!busy[slot] || abandoned[slot] || !watches[slot].overdue(grace, now))
                continue;
            abandoned[slot] = 1;
            busy[slot] = 0;
            runningThreads[slot]->release();
            Reread &given = results[working[slot]];
            given = Reread();
            given.ready = true;
            given.present = true;
            given.problem = QStringLiteral("the file could not be read in time");
            given.weight = 256;
            window.waiting += given.weight;
            ++stuck;
        }
        return stuck;
    }
};

} // namespace

OVNImportWorker::Summary OVNImportWorker::reprocess(const QVariantList &records, Observer *observer)
{
    Summary summary;
    summary.total = int(records.size());
    const auto finish = [&]() -> Summary {
        if (observer)
            observer->importFinished(summary);
        return summary;
    };
    std::unique_ptr<OVNDatabaseAccess> connection = openConnection(observer);
    if (!connection || !connection->isDBConnectionActive()) {
        summary.connectionFailed = true;
        return finish();
    }
    PictureReaders::registerAll();
    if (observer) {
        observer->importStarted(summary.total);
        observer->importStatus(QStringLiteral("Starting file rescan..."));
    }
    const auto mapping = std::make_shared<const OVNExtensionMapping>();
    const OVNImportHelper::Preferences prefs = OVNImportHelper::readPreferences();
    const size_t total = size_t(records.size());
    const int threadCount =
        std::max(1, m_settings.threadCount > 0 ? m_settings.threadCount : QThread::idealThreadCount());
    const auto pool = std::make_shared<RereadPool>();
    pool->records = records;
    pool->mapping = mapping;
    pool->prefs = prefs;
    pool->cancelled = m_cancelled;
    pool->fileStarted = m_settings.fileStarted;
    pool->results.resize(total);
    pool->window.maxAhead = size_t(threadCount) * 3;
    // The threads by slot; one given up on is left behind at the end for the program to join.
    std::vector<std::thread> threads;
    const auto startThread = [&pool, &threads] { OVNImportHandOut::startFileThread(pool, threads); };
    for (int t = 0; t < threadCount && size_t(t) < total; ++t)
        startThread();
    const auto stallGrace = std::chrono::milliseconds(std::max(0, m_settings.stallGraceMilliseconds));

    // The changes of the open batch, kept until it is committed: when the server ends the session,
    // the batch is made again in a new one (the changes are the same whether they ran before or not).
    struct Change {
        QString mid;
        QString path;
        QByteArray thumbnail;
        QString orientation; // empty: the processor gave none
        QString dts;
    };
    std::vector<Change> changes;
    std::unique_ptr<OVNDatabaseTransaction> batch;
    size_t applied = 0; // the changes made in the open batch
    // Since when sessions have been lost without a batch kept in between, waits for the server
    // included; none while all is well.
    std::optional<std::chrono::steady_clock::time_point> troubleBegan;
    std::optional<OVNCategoryAccess::Refusal> refusal;
    enum class Lost { No, Unreachable, SessionsKeptEnding } lost = Lost::No;
    // A wait for the server says how far the re-scan has got: it may be long.
    const auto status = [observer, &summary](const QString &text) {
        if (!observer)
            return;
        observer->importStatus(
            text == OVNCatalogOpening::waitingText()
                ? text + QStringLiteral(" %1 of %2 re-scanned").arg(summary.importedIds.size()).arg(summary.total)
                : text);
    };
    // Changes per batch: halved after each lost session (down to one) and doubled after each batch
    // kept, as the import does, so that sessions that end every few moments still let batches through.
    const qsizetype fullBatch = std::max(1, m_settings.batchSize);
    qsizetype batchLimit = fullBatch;
    // Waits for the server after a lost session; false when the re-scan must stop.
    const auto recover = [&] {
        batch.reset();
        applied = 0;
        if (!changes.empty())
            batchLimit = std::max<qsizetype>(1, std::min(batchLimit, qsizetype(changes.size())) / 2);
        const auto now = std::chrono::steady_clock::now();
        const auto limit = std::chrono::seconds(std::max(1, m_settings.reconnectWaitSeconds));
        // As the import: one budget, the stated time without a batch kept, waits included.
        if (!troubleBegan)
            troubleBegan = now;
        if (now - *troubleBegan >= limit) {
            lost = Lost::SessionsKeptEnding;
            return false;
        }
        const int left = int(std::chrono::ceil<std::chrono::seconds>(limit - (now - *troubleBegan)).count());
        if (!OVNCatalogSession::waitForServer(*connection, left, m_cancelled.get(), status)) {
            lost = isCancelled() || OVNCatalogOpening::stopRequested() ? Lost::No : Lost::Unreachable;
            return false;
        }
        return true;
    };
    const auto failure = [&] {
        return connection->lastErrorWasDiskFull() ? localized("the disk is full") : connection->getLastErrorMessage();
    };
    // Makes the changes not yet made in the open batch (opening one when needed), and commits the
    // batch once it holds as many as a batch takes, or at once with `commitAll`. False when the
    // re-scan must stop: the server did not come back, or the user may no longer write there; the
    // changes not committed then stay in `changes`.
    const auto store = [&](bool commitAll) {
        for (;;) {
            if (changes.empty())
                return true;
            if (!batch) {
                const int depth = connection->transactionDepth();
                batch = std::make_unique<OVNDatabaseTransaction>(*connection);
                applied = 0;
                if (!batch->isActive() && OVNCatalogSession::lost(*connection, depth)) {
                    if (!recover())
                        return false;
                    continue;
                }
            }
            const auto inBatch = [&] { return std::min(changes.size(), size_t(batchLimit)); };
            bool again = false;
            while (applied < inBatch()) {
                const Change &change = changes[applied];
                const int depth = connection->transactionDepth();
                // The three go together or the entry keeps what it had.
                OVNDatabaseTransaction transaction(*connection);
                const bool ok =
                    (transaction.isActive() || !OVNCatalogSession::lost(*connection, depth))
                    && connection->updateThumbnailForMediaID(change.mid, change.thumbnail)
                    && (change.orientation.isEmpty()
                        || connection->updateMediaListEntry(change.mid, QStringLiteral("orientation"),
                                                            change.orientation, OVNDatabaseAccess::BareValue))
                    && connection->updateMediaListEntry(change.mid, QStringLiteral("dts"), change.dts)
                    && (!transaction.isActive() || transaction.commit());
                if (ok) {
                    ++applied;
                    continue;
                }
                const QString error = failure();
                transaction.rollback();
                if (OVNCatalogSession::lost(*connection, depth)) {
                    if (!recover())
                        return false;
                    again = true;
                    break;
                }
                summary.failures.append({change.path, error});
                changes.erase(changes.begin() + qsizetype(applied));
            }
            if (again)
                continue;
            const size_t count = inBatch();
            if (count == 0)
                continue;
            if (!commitAll && count < size_t(batchLimit))
                return true;
            if (batch->isActive()) {
                if (!m_settings.categoryId.isEmpty())
                    refusal = OVNCatalogSession::writeRefusal(*connection, m_settings.categoryId);
                if (refusal) {
                    batch.reset();
                    return false;
                }
            }
            if (!batch->isActive() || batch->commit()) {
                for (size_t kept = 0; kept < count; ++kept) {
                    summary.importedIds.append(changes[kept].mid);
                    summary.importedPaths.append(changes[kept].path);
                }
                changes.erase(changes.begin(), changes.begin() + qsizetype(count));
                batch.reset();
                applied = 0;
                troubleBegan.reset();
                batchLimit = std::min(batchLimit * 2, fullBatch);
                continue;
            }
            if (OVNCatalogSession::lost(*connection)) {
                if (!recover())
                    return false;
                continue;
            }
            // A batch that could not be committed changed none of its entries: each is listed with
            // the cause and keeps what it had.
            const QString cause = failure();
            for (size_t undone = 0; undone < count; ++undone)
                summary.failures.append(
                    {changes[undone].path, QStringLiteral("not changed in the catalog: %1").arg(cause)});
            changes.erase(changes.begin(), changes.begin() + qsizetype(count));
            batch.reset();
            applied = 0;
        }
    };
    bool stopped = false;
    size_t rest = total; // the first record not handled, when the re-scan stopped
    for (size_t index = 0; index < total; ++index) {
        Reread done;
        {
            std::unique_lock lock(pool->mutex);
            // cancel() does not signal: look again now and then.
            while (!pool->results[index].ready && !isCancelled()) {
                // A file stuck in a call no deadline reaches keeps what it has and is listed, and
                // a new thread takes its thread's place.
                if (const size_t stuck = pool->giveUpStuckThreads(stallGrace)) {
                    const bool more = pool->window.next < total;
                    lock.unlock();
                    for (size_t replaced = 0; more && replaced < stuck; ++replaced)
                        startThread();
                    lock.lock();
                    continue;
                }
                pool->changed.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (isCancelled()) {
                summary.cancelled = true;
                break;
            }
            done = std::move(pool->results[index]);
            pool->results[index] = Reread();
            pool->window.waiting -= done.weight;
            pool->window.consumed = index + 1;
        }
        pool->changed.notify_all();
        const QVariantMap item = records.at(qsizetype(index)).toMap();
        const QString mid = item.value(CatalogNames::keyMid).toString();
        const QString path = item.value(QStringLiteral("absolutepath")).toString();
        if (done.present && (done.thumbnail.isEmpty() || (!done.problem.isEmpty() && !done.problemKeptPicture))) {
            // No picture of the file now (too large, out of time, damaged, a decoder ended from
            // outside): the entry keeps the thumbnail it has, and the reason is listed.
            summary.failures.append({path, QStringLiteral("left as it was: %1").arg(done.problem)});
        } else if (done.present) {
            // A picture of less than the file (a damaged file's readable part, a preview): stored,
            // and listed with why.
            if (!done.problem.isEmpty())
                summary.failures.append({path, done.problem, true});
            changes.push_back({mid, path, done.thumbnail,
                               done.record.contains(QStringLiteral("Orientation"))
                                   ? done.record.value(QStringLiteral("Orientation")).toString()
                                   : QString(),
                               done.record.value(QStringLiteral("dts")).toString()});
            if (!store(false)) {
                stopped = true;
                rest = index + 1;
                break;
            }
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(int(index + 1), summary.total, path, done.thumbnail);
    }
    if (!stopped && !store(true))
        stopped = true;
    if (stopped) {
        // What was not committed keeps what it had, as does every record after it.
        for (const Change &change : changes)
            summary.notImported.append(change.path);
        for (size_t later = rest; later < total; ++later) {
            const QVariantMap item = records.at(qsizetype(later)).toMap();
            summary.notImported.append(item.value(QStringLiteral("absolutepath")).toString());
        }
        if (refusal) {
            summary.writeRefused = true;
            summary.abortTitle = refusal->title;
            summary.abortStatus = refusal->title;
            summary.abortMessage = refusal->causeAlone() + QLatin1Char(' ')
                                   + countedText(summary.notImported.size(),
                                                 "The re-scan stopped: what was stored before stays in the catalog, "
                                                 "%1 entry was left as it was.",
                                                 "The re-scan stopped: what was stored before stays in the catalog, "
                                                 "%1 entries were left as they were.");
        } else if (lost != Lost::No) {
            summary.catalogLost = true;
            summary.abortTitle = QStringLiteral("The connection to the catalog was lost.");
            summary.abortStatus = summary.abortTitle;
            summary.abortMessage =
                (lost == Lost::SessionsKeptEnding
                     ? localized("The catalog server answered, but it ended the re-scan's connection again and again, "
                                 "and for %1 seconds nothing could be stored, so the re-scan stopped.")
                     : localized("The catalog server could not be reached for %1 seconds, so the re-scan stopped."))
                    .arg(m_settings.reconnectWaitSeconds)
                + QLatin1Char(' ')
                + countedText(summary.notImported.size(), "%1 entry was left as it was.",
                              "%1 entries were left as they were.");
        }
    }
    // A thread given up on, or still at its file after a cancel, is not waited for: it drops what
    // it finishes, and the program's end joins it.
    std::vector<std::shared_ptr<OVNImportHandOut::RunningFileThread>> leftBehind(threads.size());
    {
        std::lock_guard lock(pool->mutex);
        pool->stop = true;
        for (size_t slot = 0; slot < threads.size(); ++slot)
            if (pool->abandoned[slot] || (pool->busy[slot] && isCancelled()))
                leftBehind[slot] = pool->runningThreads[slot];
    }
    pool->changed.notify_all();
    for (size_t slot = 0; slot < threads.size(); ++slot) {
        if (!threads[slot].joinable())
            continue;
        if (leftBehind[slot])
            OVNImportHandOut::leaveBehind(threads[slot], std::move(leftBehind[slot]));
        else
            threads[slot].join();
    }
    return finish();
}
