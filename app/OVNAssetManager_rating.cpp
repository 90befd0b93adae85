// Rating and turning entries: the selected thumbnails of the window, or one entry by its id. Each
// entry answers to its own category's level; the writes go into one transaction, and an entry the
// catalog refuses stays as it was while the others go on.
#include "app/OVNAssetManager.h"

#include "app/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QThread>
#include <QThreadPool>
#include <QTransform>

#include <atomic>
#include <vector>

namespace {
const QString keyCategoryId = QStringLiteral("categoryid");
const QString keyRating = QStringLiteral("rating");
const QString keyOrientation = QStringLiteral("orientation");
const QString keyThumbImage = QStringLiteral("thumbimage");

QString countedText(const char *text, int count)
{
    return QCoreApplication::translate("Localizable", text, nullptr, count);
}

// Runs work(i) for i in [0, count) on the available cores; the calling thread takes part.
template <typename Work>
void forEachIndexInParallel(int count, Work work)
{
    const int threads = std::min(count, std::max(1, QThread::idealThreadCount()));
    if (threads <= 1) {
        for (int i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<int> next{0};
    const auto drain = [&] {
        for (int i = next++; i < count; i = next++)
            work(i);
    };
    QThreadPool pool;
    pool.setMaxThreadCount(threads - 1);
    for (int t = 1; t < threads; ++t)
        pool.start(drain);
    drain();
    pool.waitForDone();
}

// Writes entries 0 to count - 1 in one transaction and answers those the catalog took (all or none
// of each entry's statements); `failed` counts the others. The first pass runs without savepoints
// (two statements more per entry); when the catalog refuses an entry, that pass
// is undone and the entries are written again, each in a savepoint of its own, because on a server
// a refused statement spoils the whole transaction around it. Writes are idempotent.
template <typename Write>
QList<int> writeEachEntry(OVNDatabaseAccess &connection, int count, Write write, int *failed)
{
    for (const bool careful : {false, true}) {
        QList<int> stored;
        stored.reserve(count);
        *failed = 0;
        OVNDatabaseTransaction batch(connection);
        if (!careful && !batch.isActive())
            continue; // without a transaction only savepoints keep an entry whole
        bool refused = false;
        for (int i = 0; i < count && !(refused && !careful); ++i) {
            bool written = false;
            if (careful) {
                OVNDatabaseTransaction savepoint(connection);
                written = write(i) && (!savepoint.isActive() || savepoint.commit());
            } else {
                written = write(i);
            }
            if (written) {
                stored.append(i);
            } else {
                refused = true;
                ++*failed;
            }
        }
        if (refused && !careful)
            continue; // rolled back when `batch` goes
        if (batch.isActive() && !batch.commit()) {
            *failed += int(stored.size());
            stored.clear();
        }
        return stored;
    }
    return {};
}

} // namespace

// ---- pure parts ----

int OVNAssetManager::orientationAfterQuarterTurn(int code, QuarterTurn turn)
{
    // Each cycle lists the codes a right turn steps through; a left turn walks it backwards.
    static constexpr int plain[4] = {1, 6, 3, 8};
    static constexpr int mirrored[4] = {2, 7, 4, 5};
    const int step = turn == QuarterTurn::Right ? 1 : 3;
    for (const int *cycle : {plain, mirrored}) {
        for (int i = 0; i < 4; ++i) {
            if (cycle[i] == code)
                return cycle[(i + step) % 4];
        }
    }
    return plain[step];
}

QByteArray OVNAssetManager::turnedThumbnail(const QByteArray &data, QuarterTurn turn)
{
    QImage image;
    if (data.isEmpty() || !image.loadFromData(data) || image.isNull())
        return {};
    // Quarter turns copy pixels exactly; no smoothing, no loss beyond the JPEG encoding.
    const QImage turned = image.transformed(QTransform().rotate(turn == QuarterTurn::Right ? 90 : -90));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    if (turned.isNull() || !writer.write(turned))
        return {};
    return jpeg;
}

// ---- targets and privileges ----

QList<OVNAssetManager::EditTarget> OVNAssetManager::selectedEditTargets() const
{
    QList<EditTarget> targets;
    if (!m_mediaView)
        return targets;
    const QList<int> rows = m_mediaView->selectedRows();
    targets.reserve(rows.size());
    for (int row : rows) {
        const MediaRecordRef record = m_mediaView->objectForRow(row);
        if (record)
            targets.append({record->field(MediaRecord::Mid), record->field(MediaRecord::CategoryId), row});
    }
    return targets;
}

std::optional<OVNAssetManager::EditTarget> OVNAssetManager::editTargetForMid(const QString &mid) const
{
    if (mid.isEmpty() || !m_dbcon)
        return std::nullopt;
    const int row = m_mediaView ? m_mediaView->rowForMid(mid) : -1;
    if (row >= 0)
        return EditTarget{mid, m_mediaView->mediaObject(keyCategoryId, row).toString(), row};
    // An entry this window does not show (the light table's, say): the catalog knows its owner.
    const QString owner = m_dbcon->getMediaListEntryForMediaID(mid, keyCategoryId);
    if (owner.isEmpty())
        return std::nullopt;
    return EditTarget{mid, owner, -1};
}

QList<OVNAssetManager::EditTarget> OVNAssetManager::writableTargets(const QList<EditTarget> &targets,
                                                                    EditSummary &summary)
{
    QHash<QString, QString> levels; // one look-up per category
    QList<EditTarget> writable;
    writable.reserve(targets.size());
    for (const EditTarget &target : targets) {
        auto level = levels.constFind(target.owner);
        if (level == levels.constEnd()) {
            const QString own = target.owner.isEmpty() || !m_dbcon
                ? OVNPrivilegeLevel::noAccess()
                : m_dbcon->getCategoryAccessPrivilegesForMID(target.owner);
            level = levels.insert(target.owner, own);
        }
        if (OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), *level)) {
            writable.append(target);
        } else {
            ++summary.refused;
            summary.refusedLevel = summary.refusedLevel.isEmpty()
                ? *level
                : OVNPrivilegeLevel::lower(summary.refusedLevel, *level);
        }
    }
    return writable;
}

void OVNAssetManager::reportUnchangedEntries(const QString &title, const EditSummary &summary)
{
    if (summary.refused == 0 && summary.unreadable == 0 && summary.failed == 0)
        return;
    QStringList lines;
    if (summary.refused > 0) {
        lines.append(countedText("%n entries were left unchanged: your access privileges do not allow it.",
                                 summary.refused)
                     + QLatin1Char('\n') + localized("Requested Privilege: ") + OVNPrivilegeLevel::readWrite()
                     + QLatin1Char('\n') + localized("Your Privilege Level: ") + summary.refusedLevel);
    }
    if (summary.unreadable > 0)
        lines.append(countedText("%n thumbnails could not be read and were left unchanged.", summary.unreadable));
    if (summary.failed > 0) {
        lines.append(countedText("%n entries could not be written to the catalog.", summary.failed)
                     + (m_dbcon ? QString(QLatin1Char('\n') + m_dbcon->getLastErrorMessage()) : QString()));
    }
    OVNHelper::displayAlert(title, lines.join(QStringLiteral("\n\n")), m_mediaView ? m_mediaView->window() : this);
}

// ---- rating ----

OVNAssetManager::EditSummary OVNAssetManager::rateEntries(int rating, const QList<EditTarget> &targets)
{
    EditSummary summary;
    const QList<EditTarget> writable = writableTargets(targets, summary);
    if (writable.isEmpty() || !m_dbcon)
        return summary;
    const QString value = QString::number(rating);
    const QList<int> stored = writeEachEntry(
        *m_dbcon, int(writable.size()),
        [&](int i) {
            return m_dbcon->updateMediaListEntry(writable.at(i).mid, keyRating, value, OVNDatabaseAccess::BareValue);
        },
        &summary.failed);
    // Only what the catalog holds now is shown.
    for (int i : stored) {
        if (writable.at(i).row >= 0)
            m_mediaView->setMediaObject(keyRating, value, writable.at(i).row);
    }
    summary.changed = int(stored.size());
    return summary;
}

void OVNAssetManager::menuSetRating(int rating)
{
    if (rating < 0 || rating > 5 || !m_mediaView || m_mediaView->numberOfSelectedRows() == 0)
        return;
    const EditSummary summary = rateEntries(rating, selectedEditTargets());
    if (summary.changed > 0) {
        m_mediaView->viewport()->update();
        loadSelectionDetails();
    }
    reportUnchangedEntries(localized("Rating Failed"), summary);
}

bool OVNAssetManager::setRating(int rating, const QString &mid)
{
    if (rating < 0 || rating > 5)
        return false;
    const std::optional<EditTarget> target = editTargetForMid(mid);
    if (!target)
        return false;
    const EditSummary summary = rateEntries(rating, {*target});
    if (summary.changed > 0 && target->row >= 0) {
        m_mediaView->setNeedsDisplayForRow(target->row);
        loadSelectionDetails();
    }
    reportUnchangedEntries(localized("Rating Failed"), summary);
    return summary.changed > 0;
}

// ---- rotation ----

OVNAssetManager::EditSummary OVNAssetManager::turnEntries(const QList<EditTarget> &targets, QuarterTurn turn)
{
    EditSummary summary;
    const QList<EditTarget> writable = writableTargets(targets, summary);
    if (writable.isEmpty() || !m_dbcon)
        return summary;

    struct Job {
        EditTarget target;
        QByteArray data;
        int orientation = 1;
    };
    std::vector<Job> jobs;
    jobs.reserve(size_t(writable.size()));
    for (const EditTarget &target : writable) {
        Job job{target, {}, 1};
        QString code;
        if (target.row >= 0) {
            job.data = m_mediaView->mediaObject(keyThumbImage, target.row).toByteArray();
            code = m_mediaView->mediaObject(keyOrientation, target.row).toString();
        } else {
            code = m_dbcon->getMediaListEntryForMediaID(target.mid, keyOrientation);
        }
        // The view may not hold the thumbnail (never drawn, or dropped from its cache).
        if (job.data.isEmpty())
            job.data = m_dbcon->getThumbnailForMediaID(target.mid);
        job.orientation = orientationAfterQuarterTurn(code.toInt(), turn);
        jobs.push_back(std::move(job));
    }
    // Decoding and encoding is the bulk of the work and touches nothing shared.
    forEachIndexInParallel(int(jobs.size()), [&jobs, turn](int i) {
        Job &job = jobs[size_t(i)];
        job.data = turnedThumbnail(job.data, turn);
    });

    std::erase_if(jobs, [&summary](const Job &job) {
        summary.unreadable += job.data.isEmpty() ? 1 : 0;
        return job.data.isEmpty();
    });
    // The thumbnail and the code go together or not at all.
    const QList<int> stored = writeEachEntry(
        *m_dbcon, int(jobs.size()),
        [&](int i) {
            const Job &job = jobs[size_t(i)];
            return m_dbcon->updateThumbnailForMediaID(job.target.mid, job.data)
                && m_dbcon->updateMediaListEntry(job.target.mid, keyOrientation, QString::number(job.orientation),
                                                 OVNDatabaseAccess::BareValue);
        },
        &summary.failed);
    for (int i : stored) {
        const Job &job = jobs[size_t(i)];
        if (job.target.row < 0)
            continue;
        m_mediaView->setMediaObject(keyOrientation, QString::number(job.orientation), job.target.row);
        m_mediaView->replaceThumbnailForRow(job.target.row, job.data);
    }
    summary.changed = int(stored.size());
    return summary;
}

void OVNAssetManager::menuRotateLeft()
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() == 0)
        return;
    const EditSummary summary = turnEntries(selectedEditTargets(), QuarterTurn::Left);
    if (summary.changed > 0)
        loadPreviewImageForSelection();
    reportUnchangedEntries(localized("Rotation Failed"), summary);
}

void OVNAssetManager::menuRotateRight()
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() == 0)
        return;
    const EditSummary summary = turnEntries(selectedEditTargets(), QuarterTurn::Right);
    if (summary.changed > 0)
        loadPreviewImageForSelection();
    reportUnchangedEntries(localized("Rotation Failed"), summary);
}

bool OVNAssetManager::turnEntryWithMid(const QString &mid, QuarterTurn turn)
{
    const std::optional<EditTarget> target = editTargetForMid(mid);
    if (!target)
        return false;
    const EditSummary summary = turnEntries({*target}, turn);
    if (summary.changed > 0 && target->row >= 0 && m_mediaView->isRowSelected(target->row))
        loadPreviewImageForSelection();
    reportUnchangedEntries(localized("Rotation Failed"), summary);
    return summary.changed > 0;
}

bool OVNAssetManager::menuRotateLeftUsingMid(const QString &mid)
{
    return turnEntryWithMid(mid, QuarterTurn::Left);
}

bool OVNAssetManager::menuRotateRightUsingMid(const QString &mid)
{
    return turnEntryWithMid(mid, QuarterTurn::Right);
}
