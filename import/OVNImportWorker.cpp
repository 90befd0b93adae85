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
#include <mutex>
#include <optional>
#include <vector>

namespace {

QString key(const char *text) { return QString::fromLatin1(text); }

// On SQLite an open batch holds the catalog's write lock: every other writer (the catalog window)
// waits, and gives up after its busy timeout. A batch is committed once it has been open this long,
// also while it waits for a file that takes long (a large picture, a movie).
constexpr std::chrono::milliseconds maxBatchOpenTime(500);

} // namespace

struct OVNImportWorker::Item {
    QString path;
    QVariantMap meta;   // a dictionary item's values, empty for a path string
};

struct OVNImportWorker::Result {
    enum class Kind { Skipped, TransferFailed, NotCatalogued, Ready };
    Kind kind = Kind::Skipped;
    QString path;             // the path imported (the copy's, after a copy)
    QString sourcePath;       // the path the list named
    QString transferredTo;    // the copy or the moved file, to undo when the import stops early
    bool moved = false;
    QString problem;
    QVariantMap record;
    QByteArray thumbnail;
};

OVNImportWorker::OVNImportWorker(ConnectionMaker connections, Settings settings)
    : m_connections(std::move(connections))
    , m_settings(std::move(settings))
{
}

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

QString OVNImportWorker::copyFailedMessage(bool move, const QString &source, const QString &target)
{
    return (move ? localized("Failed to move %1 to %2. Aborting now.")
                 : localized("Failed to copy %1 to %2. Aborting now."))
        .arg(source, target);
}

OVNImportWorker::Result OVNImportWorker::processItem(const Item &item, OVNImportHelper &helper) const
{
    Result result;
    result.sourcePath = item.path;
    QString path = item.path;
    if (path.isEmpty())
        return result;

    const bool transfer = !m_settings.destinationFolder.isEmpty()
        && (m_settings.copyOnProcess || m_settings.moveOnProcess);
    if (transfer && QFileInfo::exists(path)) {
        const QString target = QDir(m_settings.destinationFolder).filePath(QFileInfo(path).fileName());
        const bool move = !m_settings.copyOnProcess;
        // Neither copy nor rename overwrites; an existing target is refused before trying.
        const bool ok = !QFileInfo::exists(target)
            && (move ? QFile::rename(path, target) : QFile::copy(path, target));
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
    if (m_cancelled.load())
        return result;

    result.thumbnail = helper.thumbnailForMediaFile(path, result.record);
    result.problem = helper.lastProblem();
    result.kind = result.thumbnail.isEmpty() ? Result::Kind::NotCatalogued : Result::Kind::Ready;
    if (result.kind == Result::Kind::Ready)
        completeRecord(result.record, item.meta);
    return result;
}

void OVNImportWorker::completeRecord(QVariantMap &record, const QVariantMap &meta) const
{
    record.insert(key("volumetype"), m_settings.processAsRemovable ? m_settings.volumeType : QString());
    record.insert(key("volumename"), m_settings.processAsRemovable ? m_settings.volumeName : QString());
    record.insert(key("categoryid"), m_settings.categoryId);
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
}

void OVNImportWorker::undoTransfer(const Result &result)
{
    if (result.transferredTo.isEmpty())
        return;
    if (result.moved)
        QFile::rename(result.transferredTo, result.sourcePath);
    else
        QFile::remove(result.transferredTo);
}

OVNImportWorker::Summary OVNImportWorker::run(const QVariantList &items, Observer *observer)
{
    Summary summary;
    auto status = [&](const QString &text) {
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
    std::vector<Item> list;
    for (const QVariant &entry : OVNHelper::parseFileList(items)) {
        Item item;
        // The expanded list keeps dictionary items as they came: a map or a hash.
        if (entry.typeId() == QMetaType::QVariantMap || entry.typeId() == QMetaType::QVariantHash) {
            item.meta = entry.toMap();
            item.path = item.meta.value(key("PATH")).toString();
        } else {
            item.path = entry.toString();
        }
        list.push_back(std::move(item));
    }
    const size_t total = list.size();
    summary.total = int(total);
    if (observer)
        observer->importStarted(summary.total);
    status(QStringLiteral("Starting file scan..."));

    if (!m_settings.destinationFolder.isEmpty())
        QDir().mkpath(m_settings.destinationFolder);

    // One table and one reading of the preferences for all files.
    const auto mapping = std::make_shared<const OVNExtensionMapping>();
    const OVNImportHelper::Preferences prefs = OVNImportHelper::readPreferences();

    const int threadCount = std::max(1, m_settings.threadCount > 0 ? m_settings.threadCount
                                                                    : QThread::idealThreadCount());
    const size_t maxAhead = size_t(threadCount) * 3;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> ready(total);
    size_t next = 0;
    size_t consumed = 0;
    bool stop = false;

    auto poolThread = [&] {
        OVNImportHelper helper(mapping);
        helper.setPreferences(prefs);
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || next >= total || next < consumed + maxAhead; });
                if (stop || next >= total || m_cancelled.load())
                    return;
                index = next++;
            }
            Result result;
            try {
                result = processItem(list[index], helper);
            } catch (...) {
                result.kind = Result::Kind::NotCatalogued;
                result.path = list[index].path;
                result.problem = QStringLiteral("the file could not be processed");
            }
            {
                std::lock_guard lock(mutex);
                ready[index] = std::move(result);
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (int i = 0; i < threadCount && size_t(i) < total; ++i)
        pool.emplace_back(poolThread);

    auto stopPool = [&] {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::thread &thread : pool)
            thread.join();
        pool.clear();
    };

    std::unique_ptr<OVNDatabaseTransaction> batch;
    std::chrono::steady_clock::time_point batchOpened;
    auto batchOpenTooLong = [&] {
        return batch && std::chrono::steady_clock::now() - batchOpened >= maxBatchOpenTime;
    };
    QStringList batchIds;
    QStringList batchPaths;
    auto commitBatch = [&] {
        if (!batch)
            return;
        // A batch whose begin failed protected nothing: its entries stand on their own, and the
        // ones listed here are in the catalog already.
        if (!batch->isActive() || batch->commit()) {
            summary.importedIds += batchIds;
        } else {
            const QString reason = QStringLiteral("the catalog did not keep the entry: %1")
                                       .arg(connection->getLastErrorMessage());
            for (const QString &path : batchPaths)
                summary.failures.append({path, reason});
        }
        batch.reset();
        batchIds.clear();
        batchPaths.clear();
    };

    size_t index = 0;
    for (; index < total; ++index) {
        if (m_cancelled.load())
            break;
        Result result;
        {
            std::unique_lock lock(mutex);
            // cancel() does not signal: look again now and then.
            while (!ready[index].has_value() && !(m_cancelled.load() && next <= index)) {
                if (batchOpenTooLong()) {
                    lock.unlock();
                    commitBatch();
                    lock.lock();
                    continue;
                }
                changed.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (!ready[index])
                break;
            result = std::move(*ready[index]);
            ready[index].reset();
            consumed = index + 1;
        }
        changed.notify_all();

        if (result.kind == Result::Kind::TransferFailed) {
            summary.abortTitle = result.moved ? QStringLiteral("File move failed.") : QStringLiteral("File copy failed.");
            summary.abortStatus = result.moved ? QStringLiteral("Move failed.") : QStringLiteral("Copy failed.");
            summary.abortMessage = copyFailedMessage(result.moved, result.sourcePath, result.path);
            summary.failures.append({result.sourcePath, summary.abortMessage});
            ++summary.processed;
            ++index;
            break;
        }
        if (result.kind == Result::Kind::Skipped) {
            // An empty path, or a file dropped because the import was cancelled meanwhile.
            if (!result.sourcePath.isEmpty() && m_cancelled.load()) {
                undoTransfer(result);
                break;
            }
        } else if (result.kind == Result::Kind::NotCatalogued) {
            summary.failures.append({result.path, result.problem});
        } else {
            if (!result.problem.isEmpty())
                summary.failures.append({result.path, QStringLiteral("catalogued with an icon: %1").arg(result.problem)});
            if (!batch) {
                batch = std::make_unique<OVNDatabaseTransaction>(*connection);
                batchOpened = std::chrono::steady_clock::now();
            }
            OVNDatabaseTransaction entry(*connection);
            const QString mid = connection->addMediaListEntry(result.record);
            if (mid.isEmpty()) {
                entry.rollback();
                summary.failures.append({result.path, QStringLiteral("the catalog refused the entry: %1")
                                                          .arg(connection->getLastErrorMessage())});
            } else {
                // The metadata row stands in a savepoint of its own: a refused row costs the entry
                // its metadata, not its place in the catalog.
                if (!connection->setExifForMediaID(mid, result.record.value(key("exif")).toMap()))
                    summary.failures.append({result.path, QStringLiteral("catalogued without its metadata: %1")
                                                              .arg(connection->getLastErrorMessage())});
                // A field that could not be written (a price that is no number, say) leaves the
                // record in the catalog without it; the user hears which file lacks it.
                if (m_settings.prefillEnabled
                    && !OVNDBHelper::prefill({QVariantMap{{key("mid"), mid}, {key("absolutepath"), result.path}}},
                                             *connection, m_settings.prefillInfo, m_settings.prefillPurchased,
                                             m_settings.prefillSold, m_settings.prefillWords)) {
                    summary.failures.append({result.path, QStringLiteral("catalogued without all of the prepared "
                                                                         "fields: %1")
                                                              .arg(connection->getLastErrorMessage())});
                }
                // Without a transaction of its own (its begin failed) the insert is kept as it ran.
                if (!entry.isActive() || entry.commit()) {
                    batchIds.append(mid);
                    batchPaths.append(result.path);
                } else {
                    summary.failures.append({result.path, QStringLiteral("the catalog refused the entry: %1")
                                                              .arg(connection->getLastErrorMessage())});
                }
            }
            if (batchIds.size() >= std::max(1, m_settings.batchSize) || batchOpenTooLong())
                commitBatch();
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(int(index + 1), summary.total, result.path, result.thumbnail);
    }
    commitBatch();
    stopPool();
    // Files copied or moved ahead for files that were not imported go back to where they were.
    for (size_t later = index; later < total; ++later)
        if (ready[later])
            undoTransfer(*ready[later]);
    summary.cancelled = m_cancelled.load();
    return finish();
}
