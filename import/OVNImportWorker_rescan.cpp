// The re-processing of entries already in the catalog: their files are read again for a new
// thumbnail, orientation and import date, on a pool of threads like the import's.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/PBMImageRep.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportWorker_p.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>

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
    qint64 weight = 0;
};

// The files are read on a pool of threads, ahead of the writes, which follow the list's order on
// the worker's own connection.
struct RereadPool {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Reread> results;
    OVNImportHandOut::Window window;
    bool stop = false;
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
    std::unique_ptr<OVNDatabaseAccess> connection = m_connections ? m_connections() : nullptr;
    if (!connection || !connection->isDBConnectionActive()) {
        summary.connectionFailed = true;
        return finish();
    }
    PBMImageRep::registerImageRepClass();
    if (observer) {
        observer->importStarted(summary.total);
        observer->importStatus(QStringLiteral("Starting file rescan..."));
    }
    const auto mapping = std::make_shared<const OVNExtensionMapping>();
    const OVNImportHelper::Preferences prefs = OVNImportHelper::readPreferences();
    const size_t total = size_t(records.size());
    const int threadCount =
        std::max(1, m_settings.threadCount > 0 ? m_settings.threadCount : QThread::idealThreadCount());
    RereadPool pool;
    pool.results.resize(total);
    pool.window.maxAhead = size_t(threadCount) * 3;
    const auto cancelled = m_cancelled;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount && size_t(t) < total; ++t)
        threads.emplace_back([&pool, &records, mapping, prefs, cancelled] {
            OVNImportHelper helper(mapping);
            helper.setPreferences(prefs);
            helper.setCancelFlag(cancelled);
            for (;;) {
                size_t index;
                {
                    std::unique_lock lock(pool.mutex);
                    pool.changed.wait(lock, [&] {
                        return pool.stop || pool.window.next >= pool.results.size() || pool.window.mayStartNext();
                    });
                    if (pool.stop || pool.window.next >= pool.results.size())
                        return;
                    index = pool.window.next++;
                }
                Reread done;
                const QVariantMap item = records.at(qsizetype(index)).toMap();
                const QString path = item.value(QStringLiteral("absolutepath")).toString();
                if (!cancelled->load() && !item.value(CatalogNames::keyMid).toString().isEmpty() && !path.isEmpty()
                    && QFileInfo(path).isFile()) {
                    done.present = true;
                    done.thumbnail = helper.thumbnailForMediaFile(path, done.record);
                    if (done.thumbnail.isEmpty())
                        done.problem = helper.lastProblem();
                }
                done.ready = true;
                done.weight = 256 + done.thumbnail.size() + OVNImportHandOut::weightOf(QVariant(done.record));
                {
                    std::lock_guard lock(pool.mutex);
                    pool.window.waiting += done.weight;
                    pool.results[index] = std::move(done);
                }
                pool.changed.notify_all();
            }
        });

    std::unique_ptr<OVNDatabaseTransaction> batch;
    int inBatch = 0;
    QStringList batchPaths; // of the entries changed in the open batch
    // A batch that could not be committed changed none of its entries: each is listed with the
    // cause and keeps what it had.
    const auto commitBatch = [&] {
        const bool kept = !batch->isActive() || batch->commit();
        batch.reset();
        inBatch = 0;
        if (!kept) {
            const QString cause = connection->lastErrorWasDiskFull() ? localized("the disk is full")
                                                                     : connection->getLastErrorMessage();
            summary.importedIds.resize(summary.importedIds.size() - batchPaths.size());
            summary.importedPaths.resize(summary.importedPaths.size() - batchPaths.size());
            for (const QString &path : std::as_const(batchPaths))
                summary.failures.append({path, QStringLiteral("not changed in the catalog: %1").arg(cause)});
        }
        batchPaths.clear();
    };
    for (size_t index = 0; index < total; ++index) {
        Reread done;
        {
            std::unique_lock lock(pool.mutex);
            // cancel() does not signal: look again now and then.
            while (!pool.results[index].ready && !isCancelled())
                pool.changed.wait_for(lock, std::chrono::milliseconds(50));
            if (isCancelled()) {
                summary.cancelled = true;
                break;
            }
            done = std::move(pool.results[index]);
            pool.results[index] = Reread();
            pool.window.waiting -= done.weight;
            pool.window.consumed = index + 1;
        }
        pool.changed.notify_all();
        const QVariantMap item = records.at(qsizetype(index)).toMap();
        const QString mid = item.value(CatalogNames::keyMid).toString();
        const QString path = item.value(QStringLiteral("absolutepath")).toString();
        if (done.present && done.thumbnail.isEmpty()) {
            summary.failures.append({path, done.problem});
        } else if (done.present) {
            if (!batch)
                batch = std::make_unique<OVNDatabaseTransaction>(*connection);
            // The three go together or the entry keeps what it had.
            OVNDatabaseTransaction transaction(*connection);
            const bool ok =
                connection->updateThumbnailForMediaID(mid, done.thumbnail)
                && (!done.record.contains(QStringLiteral("Orientation"))
                    || connection->updateMediaListEntry(mid, QStringLiteral("orientation"),
                                                        done.record.value(QStringLiteral("Orientation")).toString(),
                                                        OVNDatabaseAccess::BareValue))
                && connection->updateMediaListEntry(mid, QStringLiteral("dts"),
                                                    done.record.value(QStringLiteral("dts")).toString())
                && (!transaction.isActive() || transaction.commit());
            if (ok) {
                summary.importedIds.append(mid);
                summary.importedPaths.append(path);
                batchPaths.append(path);
            } else {
                const QString error = connection->lastErrorWasDiskFull() ? localized("the disk is full")
                                                                         : connection->getLastErrorMessage();
                transaction.rollback();
                summary.failures.append({path, error});
            }
            if (++inBatch >= std::max(1, m_settings.batchSize))
                commitBatch();
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(int(index + 1), summary.total, path, done.thumbnail);
    }
    if (batch)
        commitBatch();
    {
        std::lock_guard lock(pool.mutex);
        pool.stop = true;
    }
    pool.changed.notify_all();
    for (std::thread &thread : threads)
        thread.join();
    return finish();
}
