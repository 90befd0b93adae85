#include "import/OVNCaptureDownload.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportHelper.h"
#include "platform/CaptureDevice.h"
#include "platform/Localized.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <mutex>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString text(const QVariantMap &settings, const char *key) { return settings.value(QLatin1String(key)).toString(); }

bool on(const QVariantMap &settings, const char *key) { return text(settings, key) == QLatin1String("1"); }

int number(const QVariantMap &settings, const char *key) { return text(settings, key).toInt(); }

// Descriptor of a file made exclusively in `folder` under `name`, or "-1", "-2"... before the
// extension when that name is taken; -1 with `path` empty when none could be made.
int createExclusive(const QString &folder, const QString &name, QString *path, QString *error)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const QString candidate =
            folder + QLatin1Char('/') + (attempt == 0 ? name : base + QStringLiteral("-%1").arg(attempt) + extension);
        const int fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            *path = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            *error = QString::fromLocal8Bit(strerror(errno));
            break;
        }
    }
    path->clear();
    if (error->isEmpty())
        *error = QStringLiteral("no free name");
    return -1;
}

bool copyExclusive(const QString &source, const QString &folder)
{
    QString path;
    QString error;
    const int fd = createExclusive(folder, QFileInfo(source).fileName(), &path, &error);
    if (fd < 0)
        return false;
    QFile in(source);
    QFile out;
    bool ok = in.open(QIODevice::ReadOnly) && out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    while (ok) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty())
            break;
        ok = out.write(chunk) == chunk.size();
    }
    if (!out.isOpen())
        ::close(fd);
    out.close();
    if (!ok)
        QFile::remove(path);
    return ok;
}

} // namespace

QStringList OVNCaptureDownload::settingsKeys()
{
    static const QStringList keys{QStringLiteral("svDestination1_"),
                                  QStringLiteral("svDestination1AddTSFolder_"),
                                  QStringLiteral("svDestination2_"),
                                  QStringLiteral("svDestination2AddTSFolder_"),
                                  QStringLiteral("svCreatorSelection_"),
                                  QStringLiteral("svCreator_"),
                                  QStringLiteral("svCatalogSelection_"),
                                  QStringLiteral("svCatalog_"),
                                  QStringLiteral("svNamingSwitch_"),
                                  QStringLiteral("svNamingCaptureName_"),
                                  QStringLiteral("svNamingPostfix_"),
                                  QStringLiteral("svNamingPrefix_"),
                                  QStringLiteral("svNamingSample_"),
                                  QStringLiteral("svNamingSuffix_"),
                                  QStringLiteral("svNamingCouterOptionsSelection_"),
                                  QStringLiteral("svNamingCounterDigits_"),
                                  QStringLiteral("svPostSuccessDeleteAfterDLSwitch_"),
                                  QStringLiteral("svPostSuccessEjectAfterDLSwitch_"),
                                  QStringLiteral("svPostSuccessShowStatusAfterDLSwitch_"),
                                  QStringLiteral("svPostSuccessRevealInFinder_"),
                                  QStringLiteral("svPostErrorDeleteAfterDLSwitch_"),
                                  QStringLiteral("svPostErrorEjectAfterDLSwitch_"),
                                  QStringLiteral("svPostErrorShowStatusAfterDLSwitch_"),
                                  QStringLiteral("svPostErrorRevealInFinder_")};
    return keys;
}

QString OVNCaptureDownload::composeFileName(const QString &prefix, const QString &captureName, const QString &suffix,
                                            int digits, qint64 value, const QString &postfix)
{
    QString name = prefix + captureName + suffix;
    if (digits > 0)
        name += QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0'));
    return name + postfix;
}

QString OVNCaptureDownload::safeName(const QString &name, int position)
{
    qsizetype begin = 0;
    qsizetype end = name.size();
    while (begin < end && name.at(begin).category() == QChar::Other_Control)
        ++begin;
    while (end > begin && name.at(end - 1).category() == QChar::Other_Control)
        --end;
    QString out = name.mid(begin, end - begin);
    out.replace(QLatin1Char('/'), QLatin1Char('-'));
    out.replace(QChar(0), QLatin1Char('-'));
    if (out.isEmpty() || out == QLatin1String(".") || out == QLatin1String(".."))
        out = QStringLiteral("file-%1").arg(position);
    return out;
}

QString OVNCaptureDownload::resolveFolder(const QString &text, bool timeStamped)
{
    if (text.isEmpty())
        return {};
    const QString path = OVNHelper::expandTilde(text);
    if (timeStamped) {
        const QString folder = OVNHelper::createImportFolderAtLocation(path);
        return QFileInfo(folder).isDir() ? folder : QString();
    }
    return QFileInfo(path).isDir() ? QDir::cleanPath(path) : QString();
}

QString OVNCaptureDownload::collectionName(const QString &deviceName)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return deviceName + QStringLiteral(" - ") + now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
           + QStringLiteral(" %1%2%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

OVNCaptureDownload::Result OVNCaptureDownload::run(CaptureDevice &device, const QVariantMap &settings,
                                                   const QString &captureName, const ConnectionFactory &connections,
                                                   const std::atomic<bool> &cancel, Observer *observer,
                                                   int reconnectWaitSeconds)
{
    Observer none;
    Observer &report = observer ? *observer : none;
    const OVNCatalogOpening::Status waiting = [&report](const QString &text) { report.catalogWaiting(text); };
    Result result;
    struct SessionCloser {
        CaptureDevice &device;
        ~SessionCloser() { device.close(); }
    } closer{device};

    auto stop = [&result](const char *title, const QString &message) {
        result.alertTitle = localized(title);
        result.alertMessage = message;
        return result;
    };

    QString error;
    if (!device.open(&error))
        return stop("Cannot open the capture device", error);
    const QList<CaptureFile> files = device.files(&error);
    if (files.isEmpty() && !error.isEmpty())
        return stop("Cannot open the capture device", error);

    result.destination = resolveFolder(text(settings, "svDestination1_"), on(settings, "svDestination1AddTSFolder_"));
    if (result.destination.isEmpty())
        return stop("Failed to create download folder",
                    localized("The destinations folder could not be found/created on your destination disc. "
                              "Please check your destination path."));
    QString backup;
    if (!text(settings, "svDestination2_").isEmpty()) {
        backup = resolveFolder(text(settings, "svDestination2_"), on(settings, "svDestination2AddTSFolder_"));
        if (backup.isEmpty())
            return stop("Failed to create backup folder",
                        localized("The backup folder could not be found/created on your destination disc. "
                                  "Please check your backup path."));
        report.backupFolderMade(backup);
    }
    if (cancel) {
        result.cancelled = true;
        return result;
    }

    std::unique_ptr<OVNDatabaseAccess> connection;
    const int catalogChoice = number(settings, "svCatalogSelection_");
    if (catalogChoice != 0) {
        const QString name = catalogChoice == 1 ? collectionName(device.name()) : text(settings, "svCatalog_");
        connection = connections ? connections() : nullptr;
        // A server that does not answer at the opening is waited for, as during the download.
        if (connection)
            OVNCatalogOpening::run(
                *connection, reconnectWaitSeconds,
                [&] { return connection->isDBConnectionActive() || connection->openDBConnection(); }, waiting, &cancel);
        // Through a session the server ends meanwhile, as the import makes its collections.
        QString why;
        if (connection)
            result.collectionId = OVNCatalogSession::makeCategory(*connection, name, QStringLiteral("C"), QString(),
                                                                  reconnectWaitSeconds, &cancel, waiting, &why);
        if (result.collectionId.isEmpty()) {
            // The catalog's own words: a catalog file that may not be written, a server away, a refusal.
            if (why.isEmpty())
                why = connection ? connection->getLastErrorMessage() : QString();
            if (why.isEmpty())
                why = localized("The catalog could not be opened.");
            return stop(
                "Failed to create catalog",
                localized("The collection “%1” for your images could not be made in the catalog: %2").arg(name, why));
        }
        report.collectionMade(name, result.collectionId);
    }

    const bool renaming = on(settings, "svNamingSwitch_");
    const int digits = std::clamp(number(settings, "svNamingCounterDigits_"), 1, 10);
    // Thumbnails are made on a pool of threads while the next files download; the records go into
    // the catalog on this thread, through the download's own connection, in file order.
    struct Job {
        QString path;
        QVariantMap record;
        QByteArray thumbnail;
        bool done = false;
    };
    std::vector<std::shared_ptr<Job>> jobs;
    std::size_t inserted = 0;
    std::mutex mutex;
    std::condition_variable ready;
    QThreadPool pool;
    const int threads = std::max(1, QThread::idealThreadCount());
    pool.setMaxThreadCount(threads);
    std::shared_ptr<const OVNExtensionMapping> mapping;
    OVNImportHelper::Preferences preferences;
    if (connection) {
        mapping = std::make_shared<const OVNExtensionMapping>();
        preferences = OVNImportHelper::readPreferences();
    }
    // Records go in by transactions of up to a second's worth: one commit per record would make the
    // catalog file wait for the disk at every file. Before each commit the user's right to write
    // into the collection is read afresh; when it is gone, cataloguing stops (the files stay
    // downloaded). A session the server ends takes the open batch with it: the server is waited
    // for and the entries it did not keep are put in again under the ids chosen for them.
    struct Pending {
        QString path;
        QByteArray thumbnail;
        QVariantMap record;
        QString mid;
        bool maybeStored = false; // its commit was sent and the answer lost, not yet looked up
    };
    QList<Pending> pending;
    QList<Pending> doubtful; // maybe stored when cataloguing stopped
    QElapsedTimer batchAge;
    bool batchOpen = false; // the open batch's transaction began
    bool stopped = false;   // writing was refused, or the server stayed away
    auto stopCataloguing = [&](const QString &title, const QString &message) {
        stopped = true;
        result.alertTitle = title;
        result.alertMessage = message;
        for (Pending &entry : pending)
            if (entry.maybeStored)
                doubtful.append(std::move(entry));
        pending.clear();
    };
    auto catalogued = [&](const Pending &entry) {
        result.catalogued.append(entry.path);
        report.fileCatalogued(entry.path, entry.thumbnail);
    };
    // After a session lost with the open batch: the entries go in again in transactions that get
    // smaller after each loss (down to one entry), so that sessions ending every moment still let
    // them through. Before each try the lost session is waited for to leave the server, and the
    // entries it did commit are taken as stored. When nothing got through for
    // `reconnectWaitSeconds`, cataloguing stops (the alert counts the files it did not store).
    auto storeAgain = [&] {
        const auto patience = std::chrono::seconds(std::max(1, reconnectWaitSeconds));
        auto deadline = std::chrono::steady_clock::now() + patience;
        qsizetype limit = std::max<qsizetype>(1, pending.size() / 2);
        while (!pending.isEmpty()) {
            const auto left = deadline - std::chrono::steady_clock::now();
            const int seconds = int(std::chrono::ceil<std::chrono::seconds>(left).count());
            if (left <= std::chrono::steady_clock::duration::zero()
                || !OVNCatalogSession::waitForServer(*connection, seconds, &cancel, waiting)) {
                stopCataloguing(localized("The connection to the catalog was lost."),
                                localized("The catalog server did not take the entries for %1 seconds: the "
                                          "files downloaded from now on are not catalogued.")
                                    .arg(reconnectWaitSeconds));
                return;
            }
            QStringList mids;
            for (const Pending &entry : std::as_const(pending))
                mids.append(entry.mid);
            // The look-up waits until the lost session has left the server, so that a commit it
            // still carried out is seen. Whatever it does not see goes in again under its own id:
            // an id the catalog holds already is answered as stored, never stored twice.
            const std::optional<QSet<QString>> present =
                connection->waitForEndedSession(seconds) ? connection->mediaEntriesPresent(mids) : std::nullopt;
            if (!present)
                continue;
            QList<Pending> missing;
            for (Pending &entry : pending) {
                if (present->contains(entry.mid)) {
                    catalogued(entry);
                } else {
                    entry.maybeStored = false;
                    missing.append(std::move(entry));
                }
            }
            pending = std::move(missing);
            if (pending.isEmpty())
                return;
            const qsizetype take = std::min(limit, pending.size());
            bool wentIn = connection->beginTransaction();
            for (qsizetype i = 0; i < take && wentIn; ++i)
                wentIn = !connection->addMediaListEntry(pending.at(i).record, pending.at(i).mid).isEmpty();
            bool commitSent = false;
            if (wentIn) {
                if (const auto refusal = OVNCatalogSession::writeRefusal(*connection, result.collectionId)) {
                    connection->rollbackTransaction();
                    stopCataloguing(refusal->title, refusal->text);
                    return;
                }
                commitSent = true;
                wentIn = connection->commitTransaction();
            }
            if (wentIn) {
                for (qsizetype i = 0; i < take; ++i)
                    catalogued(pending.at(i));
                pending.remove(0, take);
                deadline = std::chrono::steady_clock::now() + patience;
                limit = std::min<qsizetype>(limit * 2, 64);
                continue;
            }
            const bool lost = OVNCatalogSession::lost(*connection);
            if (connection->transactionDepth() > 0)
                connection->rollbackTransaction();
            if (!lost) {
                // Refused by the catalog: not stored, and not tried again; the alert says so.
                stopCataloguing(localized("The files could not be catalogued."), connection->getLastErrorMessage());
                return;
            }
            if (commitSent)
                for (qsizetype i = 0; i < take; ++i)
                    pending[i].maybeStored = true;
            limit = std::max<qsizetype>(1, limit / 2);
        }
    };
    auto commit = [&] {
        if (pending.isEmpty() || stopped)
            return;
        if (!batchOpen) {
            storeAgain();
            return;
        }
        for (;;) {
            if (const auto refusal = OVNCatalogSession::writeRefusal(*connection, result.collectionId)) {
                connection->rollbackTransaction();
                stopCataloguing(refusal->title, refusal->text);
                return;
            }
            if (connection->commitTransaction()) {
                for (const Pending &entry : pending)
                    catalogued(entry);
                pending.clear();
                return;
            }
            const bool lost = OVNCatalogSession::lost(*connection);
            const QString why = connection->getLastErrorMessage();
            if (connection->transactionDepth() > 0)
                connection->rollbackTransaction();
            if (!lost) {
                // The catalog would not take the batch: it and the files after it are not
                // catalogued, and the alert says so.
                stopCataloguing(localized("The files could not be catalogued."), why);
                return;
            }
            // The commit may have been carried out: until a look-up says otherwise, the batch
            // may be in the catalog.
            for (Pending &entry : pending)
                entry.maybeStored = true;
            storeAgain();
            return;
        }
    };
    auto insertDone = [&](std::size_t keepInFlight) {
        while (inserted < jobs.size()) {
            Job &job = *jobs[inserted];
            {
                std::unique_lock lock(mutex);
                if (!job.done && jobs.size() - inserted <= keepInFlight)
                    return;
                ready.wait(lock, [&job] { return job.done; });
            }
            if (!job.thumbnail.isEmpty() && !stopped) {
                if (pending.isEmpty()) {
                    batchOpen = connection->beginTransaction();
                    batchAge.start();
                }
                job.record.insert(QStringLiteral("categoryid"), result.collectionId);
                const QString mid = connection->createNewMID();
                // An insert that failed with the session is put in again after the commit finds the
                // session gone; without the batch's transaction (its session was lost at the begin)
                // nothing is inserted on its own: the entries go in when the batch is stored again.
                if (!batchOpen || !connection->addMediaListEntry(job.record, mid).isEmpty()
                    || OVNCatalogSession::lost(*connection))
                    pending.append({job.path, job.thumbnail, job.record, mid});
                if (batchAge.elapsed() > 1000)
                    commit();
            }
            jobs[inserted].reset();
            ++inserted;
        }
    };
    report.started(int(files.size()));
    for (int k = 0; k < files.size(); ++k) {
        if (cancel) {
            result.cancelled = true;
            break;
        }
        const CaptureFile &file = files.at(k);
        report.fileStarted(k, file.name, file.size);
        QString name = file.name;
        if (renaming) {
            name = composeFileName(text(settings, "svNamingPrefix_"), captureName, text(settings, "svNamingSuffix_"),
                                   digits, k, text(settings, "svNamingPostfix_"));
            const QString extension = QFileInfo(file.name).suffix();
            if (!extension.isEmpty())
                name += QLatin1Char('.') + extension;
        }
        name = safeName(name, k);
        QString path;
        error.clear();
        const int fd = createExclusive(result.destination, name, &path, &error);
        bool ok = fd >= 0 && device.download(file, fd, &error);
        if (fd >= 0 && ::close(fd) != 0 && ok) {
            ok = false;
            error = QString::fromLocal8Bit(strerror(errno));
        }
        if (!ok) {
            if (!path.isEmpty())
                QFile::remove(path);
            result.failed.append(file.name);
            report.fileFailed(k, file.name, error);
            continue;
        }
        result.files.append(path);
        report.fileDownloaded(k, file.name, path);
        if (!backup.isEmpty())
            copyExclusive(path, backup);
        // Once cataloguing stopped, no thumbnail is made for a file that will not be catalogued.
        if (connection && !cancel && !stopped) {
            auto job = std::make_shared<Job>();
            job->path = path;
            jobs.push_back(job);
            pool.start([job, mapping, preferences, &mutex, &ready] {
                OVNImportHelper helper(mapping);
                helper.setPreferences(preferences);
                QVariantMap record;
                const QByteArray thumbnail = helper.thumbnailForMediaFile(job->path, record);
                std::lock_guard lock(mutex);
                job->record = std::move(record);
                job->thumbnail = thumbnail;
                job->done = true;
                ready.notify_all();
            });
            // Inserts what is ready; waits only when too many files are ahead of the catalog.
            insertDone(std::size_t(threads) * 2);
        }
    }
    insertDone(0);
    if (connection)
        commit();
    if (!doubtful.isEmpty()) {
        // The server may be back by now: asked once (after the lost session has left it) which of
        // the entries in doubt it holds; unanswered, they stay in doubt and are said so.
        QStringList mids;
        for (const Pending &entry : std::as_const(doubtful))
            mids.append(entry.mid);
        std::optional<QSet<QString>> present;
        if (OVNCatalogSession::answers(*connection) && connection->waitForEndedSession(2))
            present = connection->mediaEntriesPresent(mids);
        for (const Pending &entry : std::as_const(doubtful)) {
            if (!present)
                result.uncertain.append(entry.path);
            else if (present->contains(entry.mid))
                catalogued(entry);
        }
    }
    if (stopped) {
        QSet<QString> settled(result.catalogued.cbegin(), result.catalogued.cend());
        settled.unite(QSet<QString>(result.uncertain.cbegin(), result.uncertain.cend()));
        for (const QString &path : std::as_const(result.files))
            if (!settled.contains(path))
                result.notCatalogued.append(path);
        result.alertMessage +=
            QLatin1Char(' ') + localized("%1 downloaded files were not catalogued.").arg(result.notCatalogued.size());
        if (!result.uncertain.isEmpty())
            result.alertMessage +=
                QLatin1Char(' ')
                + countedText(result.uncertain.size(),
                              "%1 file may be in the catalog: the server's answer to storing it was lost.",
                              "%1 files may be in the catalog: the server's answer to storing them was lost.");
    }
    return result;
}
