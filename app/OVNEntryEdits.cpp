#include "app/OVNEntryEdits.h"

#include <QSet>

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"

#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "decoding/MediaDecoder.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QTransform>

#include <atomic>
#include <chrono>
#include <optional>
#include <vector>

namespace {
using CatalogNames::keyCategoryId;
using CatalogNames::keyOrientation;
using CatalogNames::keyRating;

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

using Verdict = OVNCategoryAccess::EntriesVerdict::Verdict;

// Judges entries `from` to `to` - 1 inside the transaction that writes them (see
// OVNCategoryAccess::entriesNow); `afterLoss` when an earlier try of these entries lost its
// session, and may have committed. Nothing when the question failed.
using Judge = std::function<std::optional<OVNCategoryAccess::EntriesVerdict>(int from, int to, bool afterLoss)>;

// What one batch's try came to.
struct BatchOutcome {
    QList<int> stored; // written, or found written by a try whose answer was lost
    int failed = 0;
    int refused = 0;
    QString refusedLevel;
    int unchecked = 0;
    std::optional<OVNCategoryAccess::Refusal> uncheckedWhy;
};

// Writes entries `from` to `to` - 1 in one transaction, each as `judge` allows it in that same
// transaction, and answers what became of them (all or none of each entry's statements). The
// first pass runs without savepoints (two statements more per entry); when the catalog refuses an
// entry, that pass is undone and the entries are judged and written again, each in a savepoint of
// its own, because on a server a refused statement spoils the whole transaction around it.
// Nothing when the server session was lost on the way (the transaction with it).
template <typename Write>
std::optional<BatchOutcome> writeEntriesOnce(OVNDatabaseAccess &connection, int from, int to, Write write,
                                             const Judge &judge, bool afterLoss)
{
    const auto lostSession = [&connection] {
        return connection.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL && connection.lastErrorLostConnection();
    };
    for (const bool careful : {false, true}) {
        BatchOutcome outcome;
        outcome.stored.reserve(to - from);
        const quint64 failuresBefore = connection.failureCount();
        OVNDatabaseTransaction batch(connection);
        if (!batch.isActive() && connection.failureCount() != failuresBefore && lostSession())
            return std::nullopt;
        if (!careful && !batch.isActive())
            continue; // without a transaction only savepoints keep an entry whole
        const quint64 failuresBeforeJudging = connection.failureCount();
        const std::optional<OVNCategoryAccess::EntriesVerdict> verdict = judge(from, to, afterLoss);
        if (!verdict) {
            if (connection.failureCount() != failuresBeforeJudging && lostSession())
                return std::nullopt;
            // Not asked, so not written.
            outcome.failed = to - from;
            return outcome;
        }
        bool spoiled = false;
        for (int i = from; i < to && !(spoiled && !careful); ++i) {
            switch (verdict->verdicts[size_t(i - from)]) {
            case Verdict::Stored:
                outcome.stored.append(i);
                continue;
            case Verdict::Refused:
                ++outcome.refused;
                continue;
            case Verdict::Missing:
            case Verdict::Excluded:
                ++outcome.unchecked;
                outcome.uncheckedWhy = verdict->excluded ? *verdict->excluded
                                                         : OVNCategoryAccess::entryMissingRefusal();
                continue;
            case Verdict::Write:
                break;
            }
            const quint64 failures = connection.failureCount();
            bool written = false;
            if (careful) {
                OVNDatabaseTransaction savepoint(connection);
                written = write(i) && (!savepoint.isActive() || savepoint.commit());
            } else {
                written = write(i);
            }
            if (written) {
                outcome.stored.append(i);
            } else {
                if (connection.failureCount() != failures && lostSession())
                    return std::nullopt;
                spoiled = true;
                ++outcome.failed;
            }
        }
        if (spoiled && !careful)
            continue; // rolled back when `batch` goes
        if (batch.isActive() && !batch.commit()) {
            if (lostSession())
                return std::nullopt;
            outcome.failed += int(outcome.stored.size());
            outcome.stored.clear();
        }
        outcome.refusedLevel = verdict->refusedLevel;
        return outcome;
    }
    return BatchOutcome();
}

// Writes entries 0 to count - 1 in transactions of up to a few hundred, each batch judged on each
// of its tries by `judge` in its own transaction, so that a level lowered between two batches, or
// between two tries of one, counts for what is written after it. The writes are values that are
// the same however often they are made: a transaction whose session the server ended (also at its
// commit, when its answer was lost) is made again once the server answers, smaller after each
// loss, and its entries are first looked at for what that lost commit may have stored. A server
// away for more than 30 seconds, or sessions that end for that long before anything is kept, end
// the work; the entries not written by then count as failed. The counts go into `summary`.
template <typename Write>
QList<int> writeEachEntry(OVNDatabaseAccess &connection, int count, Write write, const Judge &judge,
                          OVNEntryEdits::Summary &summary, const OVNCatalogOpening::Status &status, int waitSeconds)
{
    constexpr int fullBatch = 250;
    int batchLimit = fullBatch;
    // When the writes began to fail; min() while they go (a plain value: GCC's optimiser warns
    // that an optional's value may be read uninitialised here).
    constexpr auto noTrouble = std::chrono::steady_clock::time_point::min();
    std::chrono::steady_clock::time_point troubleSince = noTrouble;
    // The entries before it were in a batch whose session was lost: its commit may have gone through.
    int lostUpTo = 0;
    bool told = false;
    QList<int> stored;
    for (int from = 0; from < count;) {
        const int to = std::min(count, from + batchLimit);
        // A server that stops answering holds a statement until the connection gives it up: that
        // time is time without progress too.
        const auto tried = std::chrono::steady_clock::now();
        if (const std::optional<BatchOutcome> done =
                writeEntriesOnce(connection, from, to, write, judge, from < lostUpTo)) {
            stored += done->stored;
            summary.failed += done->failed;
            if (done->refused > 0) {
                summary.refused += done->refused;
                summary.refusedLevel = summary.refusedLevel.isEmpty()
                                           ? done->refusedLevel
                                           : OVNPrivilegeLevel::lower(summary.refusedLevel, done->refusedLevel);
            }
            if (done->uncheckedWhy) {
                summary.unchecked += done->unchecked;
                summary.uncheckedTitle = done->uncheckedWhy->title;
                summary.uncheckedText = done->uncheckedWhy->text;
            }
            from = to;
            troubleSince = noTrouble;
            batchLimit = std::min(fullBatch, batchLimit * 2);
            continue;
        }
        lostUpTo = std::max(lostUpTo, to);
        if (troubleSince == noTrouble)
            troubleSince = tried;
        batchLimit = std::max(1, (to - from) / 2);
        // The lost session's process gone first: what its commit stored is what the next try sees.
        if (!OVNCatalogOpening::resume(connection, troubleSince + std::chrono::seconds(waitSeconds), status, nullptr,
                                       &told)) {
            summary.failed += count - from;
            break;
        }
    }
    return stored;
}

} // namespace

OVNEntryEdits::OVNEntryEdits(OVNDatabaseAccess *connection) : m_db(connection) {}

int OVNEntryEdits::waitSeconds() const { return m_secondsLeft ? m_secondsLeft() : OVNCatalogOpening::waitSeconds; }

// ---- pure parts ----

int OVNEntryEdits::orientationAfterQuarterTurn(int code, QuarterTurn turn)
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

QByteArray OVNEntryEdits::turnedThumbnail(const QByteArray &data, QuarterTurn turn)
{
    // Catalog data, decoded in a decoder like a file.
    const QImage image = data.isEmpty() ? QImage() : MediaDecoder().readData(data, QSize());
    if (image.isNull())
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

std::optional<OVNEntryEdits::Target> OVNEntryEdits::targetForMid(const QString &mid) const
{
    if (mid.isEmpty() || !m_db)
        return std::nullopt;
    QString owner;
    OVNCatalogOpening::retried(
        *m_db, [&] { owner = m_db->getMediaListEntryForMediaID(mid, keyCategoryId); }, m_status, waitSeconds());
    if (owner.isEmpty())
        return std::nullopt;
    return Target{mid, owner, -1, {}, std::nullopt};
}

QString OVNEntryEdits::levelOf(const QString &categoryId) const
{
    auto level = m_levels.constFind(categoryId);
    if (level != m_levels.constEnd())
        return *level;
    if (categoryId.isEmpty() || !m_db)
        return *m_levels.insert(categoryId, OVNPrivilegeLevel::noAccess());
    // Asked again on a new session while sessions end, and while the server is away for up to 30
    // seconds: an unanswered question is never taken for a refusal.
    OVNDatabaseAccess::CategoryAccess access;
    if (!OVNCatalogOpening::retried(
            *m_db, [&] { access = m_db->categoryAccessNow(categoryId); }, m_status, waitSeconds())
        && m_db->lastFailure() == OVNDatabaseAccess::Failure::Unreachable) {
        // The command's time is over: asking again would wait as long once more.
        const OVNCategoryAccess::Refusal why = OVNCategoryAccess::readFailure(*m_db);
        m_unchecked.insert(categoryId, {why.title, why.text});
        return *m_levels.insert(categoryId, QString());
    }
    const bool excluded = m_db->useAuthentication() && m_db->authGroupMids().isEmpty();
    if (access.status == OVNDatabaseAccess::CategoryAccess::Status::Found && !excluded)
        return *m_levels.insert(categoryId, access.level);
    // No level to judge by: why, in the words the category actions use.
    std::optional<OVNCategoryAccess::Refusal> refusal;
    OVNCatalogOpening::retried(
        *m_db, [&] { refusal = OVNCategoryAccess::refusalNow(*m_db, categoryId, OVNPrivilegeLevel::readWrite()); },
        m_status, waitSeconds());
    if (refusal && refusal->reason != OVNCategoryAccess::Refusal::Reason::Privileges)
        m_unchecked.insert(categoryId, {refusal->title, refusal->text});
    else if (!refusal)
        return *m_levels.insert(categoryId, OVNPrivilegeLevel::readWrite());
    return *m_levels.insert(categoryId, QString());
}

bool OVNEntryEdits::mayWrite(const QString &categoryId) const
{
    return OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), levelOf(categoryId));
}

QStringList OVNEntryEdits::reimportable(const QList<MediaRecordRef> &records, int &refused) const
{
    QStringList mediaIds;
    refused = 0;
    for (const MediaRecordRef &record : records) {
        if (!record || !QFileInfo(record->field(MediaRecord::AbsolutePath)).isFile())
            continue;
        if (!mayWrite(record->field(MediaRecord::CategoryId))) {
            ++refused;
            continue;
        }
        mediaIds.append(record->field(MediaRecord::Mid));
    }
    return mediaIds;
}

OVNEntryEdits::OwnersLevel OVNEntryEdits::ownersLevel(const QString &requested, const QStringList &owners) const
{
    OwnersLevel answer;
    if (owners.isEmpty()) {
        answer.lowest = OVNPrivilegeLevel::noAccess();
        return answer;
    }
    const quint64 failures = m_db ? m_db->failureCount() : 0;
    answer.granted = true;
    QSet<QString> asked; // once per owning category, also over thousands of entries
    for (const QString &owner : owners) {
        if (asked.contains(owner))
            continue;
        asked.insert(owner);
        const QString level = owner.isEmpty() || !m_db ? QString() : m_db->getCategoryAccessPrivilegesForMID(owner);
        answer.lowest = asked.size() == 1 ? level : OVNPrivilegeLevel::lower(answer.lowest, level);
        if (!OVNPrivilegeLevel::isGranted(requested, level)) {
            answer.granted = false;
            answer.lowest = level;
            break;
        }
    }
    answer.unreadable = m_db && m_db->failureCount() != failures;
    return answer;
}

QList<OVNEntryEdits::Target> OVNEntryEdits::writableTargets(const QList<Target> &targets, Summary &summary) const
{
    QList<Target> writable;
    writable.reserve(targets.size());
    for (const Target &target : targets) {
        const QString level = levelOf(target.owner);
        if (OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), level)) {
            writable.append(target);
        } else if (const auto why = m_unchecked.constFind(target.owner); why != m_unchecked.constEnd()) {
            ++summary.unchecked;
            summary.uncheckedTitle = why->value(0);
            summary.uncheckedText = why->value(1);
        } else {
            ++summary.refused;
            summary.refusedLevel =
                summary.refusedLevel.isEmpty() ? level : OVNPrivilegeLevel::lower(summary.refusedLevel, level);
        }
    }
    return writable;
}

QString OVNEntryEdits::unchangedText(const Summary &summary) const
{
    if (summary.refused == 0 && summary.unreadable == 0 && summary.failed == 0 && summary.unchecked == 0)
        return {};
    QStringList lines;
    if (summary.unchecked > 0)
        lines.append(countedText(summary.unchecked, "%1 entry was left unchanged.", "%1 entries were left unchanged.")
                     + QLatin1Char(' ') + summary.uncheckedTitle + QLatin1Char('\n') + summary.uncheckedText);
    if (summary.refused > 0) {
        lines.append(countedText(summary.refused,
                                 "%1 entry was left unchanged: your access privileges do not allow it.",
                                 "%1 entries were left unchanged: your access privileges do not allow it.")
                     + QLatin1Char('\n') + localized("Requested Privilege: ") + OVNPrivilegeLevel::readWrite()
                     + QLatin1Char('\n') + localized("Your Privilege Level: ") + summary.refusedLevel);
    }
    if (summary.unreadable > 0)
        lines.append(countedText(summary.unreadable, "%1 thumbnail could not be read and was left unchanged.",
                                 "%1 thumbnails could not be read and were left unchanged."));
    if (summary.failed > 0) {
        lines.append(countedText(summary.failed, "%1 entry could not be written to the catalog.",
                                 "%1 entries could not be written to the catalog.")
                     + (m_db ? QString(QLatin1Char('\n') + m_db->getLastErrorMessage()) : QString()));
    }
    return lines.join(QStringLiteral("\n\n"));
}

// ---- writes ----

QList<OVNEntryEdits::Stored> OVNEntryEdits::rate(int rating, const QList<Target> &targets, Summary &summary)
{
    if (rating < 0 || rating > 5)
        return {};
    const QList<Target> writable = writableTargets(targets, summary);
    if (writable.isEmpty() || !m_db)
        return {};
    const QString value = QString::number(rating);
    const QList<int> stored = writeEachEntry(
        *m_db, int(writable.size()),
        [&](int i) {
            return m_db->updateMediaListEntry(writable.at(i).mid, keyRating, value, OVNDatabaseAccess::BareValue);
        },
        entriesJudge(writable, keyRating, [&](int, const QString &held) { return held == value; }), summary, m_status,
        waitSeconds());
    QList<Stored> result;
    for (int i : stored)
        result.append({writable.at(i), {}, {}});
    summary.changed = int(stored.size());
    return result;
}

QList<OVNEntryEdits::Stored> OVNEntryEdits::turn(const QList<Target> &targets, QuarterTurn turn, Summary &summary)
{
    const QList<Target> writable = writableTargets(targets, summary);
    if (writable.isEmpty() || !m_db)
        return {};

    struct Job {
        Target target;
        QByteArray data;
        int orientation = 1;
    };
    std::vector<Job> jobs;
    jobs.reserve(size_t(writable.size()));
    for (const Target &target : writable) {
        Job job{target, target.thumbnail, 1};
        QString code = target.orientation.value_or(QString());
        // The caller may not hold the thumbnail (never drawn, or dropped from its cache); read
        // through sessions that end, as the writes are.
        OVNCatalogOpening::retried(
            *m_db,
            [&] {
                if (!target.orientation)
                    code = m_db->getMediaListEntryForMediaID(target.mid, keyOrientation);
                if (target.thumbnail.isEmpty())
                    job.data = m_db->getThumbnailForMediaID(target.mid);
            },
            m_status, waitSeconds());
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
        *m_db, int(jobs.size()),
        [&](int i) {
            const Job &job = jobs[size_t(i)];
            return m_db->updateThumbnailForMediaID(job.target.mid, job.data)
                   && m_db->updateMediaListEntry(job.target.mid, keyOrientation, QString::number(job.orientation),
                                                 OVNDatabaseAccess::BareValue);
        },
        [&](int from, int to, bool afterLoss) {
            QStringList mids;
            for (int i = from; i < to; ++i)
                mids.append(jobs[size_t(i)].target.mid);
            // A quarter turn always changes the code, and the code goes with the thumbnail: a code
            // already turned is a lost answer's commit.
            return OVNCategoryAccess::entriesNow(
                *m_db, mids, OVNPrivilegeLevel::readWrite(), keyOrientation,
                afterLoss
                    ? [&](qsizetype i,
                          const QString &held) { return held == QString::number(jobs[size_t(from + i)].orientation); }
                    : std::function<bool(qsizetype, const QString &)>());
        },
        summary, m_status, waitSeconds());
    QList<Stored> result;
    for (int i : stored) {
        const Job &job = jobs[size_t(i)];
        result.append({job.target, job.data, QString::number(job.orientation)});
    }
    summary.changed = int(stored.size());
    return result;
}

QList<OVNEntryEdits::Stored> OVNEntryEdits::setThumbnail(const QList<Target> &targets, const QByteArray &jpeg,
                                                         Summary &summary)
{
    const QList<Target> writable = writableTargets(targets, summary);
    if (writable.isEmpty() || !m_db)
        return {};
    const QList<int> stored = writeEachEntry(
        *m_db, int(writable.size()), [&](int i) { return m_db->updateThumbnailForMediaID(writable.at(i).mid, jpeg); },
        entriesJudge(writable, QString(), {}), summary, m_status, waitSeconds());
    QList<Stored> result;
    for (int i : stored)
        result.append({writable.at(i), jpeg, {}});
    summary.changed = int(stored.size());
    return result;
}

std::function<std::optional<OVNCategoryAccess::EntriesVerdict>(int, int, bool)> OVNEntryEdits::entriesJudge(
    const QList<Target> &targets, const QString &column, const std::function<bool(int, const QString &)> &holds) const
{
    return [this, &targets, column, holds](int from, int to, bool afterLoss) {
        QStringList mids;
        for (int i = from; i < to; ++i)
            mids.append(targets.at(i).mid);
        std::function<bool(qsizetype, const QString &)> held;
        if (afterLoss && holds)
            held = [&holds, from](qsizetype i, const QString &value) { return holds(from + int(i), value); };
        return OVNCategoryAccess::entriesNow(*m_db, mids, OVNPrivilegeLevel::readWrite(), column, held);
    };
}

// ---- deleting, moving and linking ----

namespace {
// One write in a savepoint of its own: on a server a refused statement would otherwise undo the
// whole transaction around it.
template <typename Write>
bool inSavepoint(OVNDatabaseAccess &connection, Write write)
{
    OVNDatabaseTransaction savepoint(connection);
    if (!write())
        return false;
    return !savepoint.isActive() || savepoint.commit();
}
} // namespace

bool OVNEntryEdits::deleteEntry(const QString &mid)
{
    return m_db && inSavepoint(*m_db, [&] { return m_db->deleteMediaListEntry(mid); });
}

bool OVNEntryEdits::deleteMembership(const QString &membershipId)
{
    return m_db && inSavepoint(*m_db, [&] { return m_db->deleteImageSetEntry(membershipId); });
}

bool OVNEntryEdits::inOneTransaction(const std::function<bool()> &work)
{
    if (!m_db)
        return true;
    OVNDatabaseTransaction batch(*m_db);
    const bool changed = work();
    return !batch.isActive() || batch.commit() || !changed;
}

QString OVNEntryEdits::addCollection(const QString &name, const QString &folder,
                                     const std::function<bool(OVNDatabaseTransaction &)> &allowed)
{
    return addCategoryThroughEndedSessions(name, QStringLiteral("C"), folder, allowed);
}

QString OVNEntryEdits::addCategoryThroughEndedSessions(const QString &name, const QString &kind, const QString &folder,
                                                       const std::function<bool(OVNDatabaseTransaction &)> &allowed,
                                                       bool *refusedOut)
{
    if (!m_db)
        return QString();
    // Through sessions that end, and a server away for up to 30 seconds: the category keeps the
    // id chosen for it, and a try after a lost answer (once the old session has ended) first looks
    // for the one its predecessor made, and takes it, before it asks again whether it may make one.
    const QString chosen = m_db->createNewMID();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds());
    bool told = false;
    for (bool afterLoss = false;; afterLoss = true) {
        const quint64 failures = m_db->failureCount();
        if (afterLoss) {
            const bool made = m_db->getCategoryForMID(chosen).has_value();
            if (m_db->failureCount() == failures && made)
                return chosen;
        }
        bool refused = false;
        const QString made = addCategoryOnce(chosen, name, kind, folder, allowed, &refused);
        if (refusedOut)
            *refusedOut = refused;
        if (!made.isEmpty() || refused || m_db->transactionDepth() > 0
            || !OVNCatalogOpening::failedForLostServer(*m_db, failures)
            || !OVNCatalogOpening::resume(*m_db, deadline, m_status, nullptr, &told))
            return made;
    }
}

QString OVNEntryEdits::addCategoryOnce(const QString &chosen, const QString &name, const QString &kind,
                                       const QString &folder,
                                       const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    // Made and placed together: a category that cannot go into its folder is not left behind at
    // the top level.
    OVNDatabaseTransaction transaction(*m_db);
    const quint64 failures = m_db->failureCount();
    if (allowed && !allowed(transaction)) {
        // Not allowed, rather than unanswered because the session ended.
        *refused = !OVNCatalogOpening::failedForLostServer(*m_db, failures);
        return QString();
    }
    const QString category = m_db->addCategoryListEntryWithMID(chosen, name, kind);
    if (category.isEmpty())
        return QString();
    if (!folder.isEmpty() && !m_db->setCategoryListEntrySuperMID(category, folder)) {
        if (transaction.isActive())
            transaction.rollback();
        else
            m_db->deleteCategoryListEntry(category);
        return QString();
    }
    if (transaction.isActive() && !transaction.commit())
        return QString();
    return category;
}

QString OVNEntryEdits::addTopLevelCategory(const QString &name, const QString &kind,
                                           const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    return addCategoryThroughEndedSessions(name, kind, QString(), allowed, refused);
}

bool OVNEntryEdits::setThroughEndedSessions(const std::function<bool()> &write,
                                            const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    if (refused)
        *refused = false;
    if (!m_db)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds());
    bool told = false;
    for (;;) {
        const quint64 failures = m_db->failureCount();
        bool stored = false;
        bool notAllowed = false;
        {
            OVNDatabaseTransaction transaction(*m_db);
            const quint64 beforeCheck = m_db->failureCount();
            if (allowed && !allowed(transaction)) {
                // Not allowed, rather than unanswered because the session ended.
                notAllowed = !OVNCatalogOpening::failedForLostServer(*m_db, beforeCheck);
            } else {
                stored = write() && (!transaction.isActive() || transaction.commit());
                if (!stored && transaction.isActive())
                    transaction.rollback();
            }
        }
        if (notAllowed && refused)
            *refused = true;
        if (stored || notAllowed || m_db->transactionDepth() > 0
            || !OVNCatalogOpening::failedForLostServer(*m_db, failures)
            || !OVNCatalogOpening::resume(*m_db, deadline, m_status, nullptr, &told))
            return stored;
    }
}

bool OVNEntryEdits::renameCategory(const QString &mid, const QString &name,
                                   const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    return setThroughEndedSessions([&] { return m_db->updateCategoryListEntry(mid, name); }, allowed, refused);
}

bool OVNEntryEdits::moveCategory(const QString &mid, const QString &folder,
                                 const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    return setThroughEndedSessions([&] { return m_db->setCategoryListEntrySuperMID(mid, folder); }, allowed, refused);
}

QStringList OVNEntryEdits::ownersOf(const QStringList &mids) const
{
    QStringList owners;
    for (const QString &mid : mids) {
        QString owner;
        if (m_db)
            OVNCatalogOpening::retried(
                *m_db, [&] { owner = m_db->getMediaListEntryForMediaID(mid, keyCategoryId); }, m_status, waitSeconds());
        owners.append(owner);
    }
    return owners;
}

std::optional<OVNCategoryAccess::EntriesVerdict> OVNEntryEdits::intoCategoryNow(
    const QStringList &mids, const QString &requested, const QString &category, const QString &column,
    const std::function<bool(qsizetype, const QString &)> &holds)
{
    std::optional<OVNCategoryAccess::EntriesVerdict> verdict =
        OVNCategoryAccess::entriesNow(*m_db, mids, requested, column, holds);
    if (!verdict)
        return verdict;
    // The category they go into must be one the user may change, as the catalog holds it now.
    const OVNDatabaseAccess::CategoryAccess into = m_db->categoryAccessNow(category);
    if (into.status == OVNDatabaseAccess::CategoryAccess::Status::Failed)
        return std::nullopt;
    const bool intoMissing = into.status == OVNDatabaseAccess::CategoryAccess::Status::Missing;
    if (!intoMissing && OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), into.level))
        return verdict;
    for (Verdict &each : verdict->verdicts) {
        if (each != Verdict::Write)
            continue;
        each = intoMissing ? Verdict::Missing : Verdict::Refused;
        if (!intoMissing)
            verdict->refusedLevel = verdict->refusedLevel.isEmpty()
                                        ? into.level
                                        : OVNPrivilegeLevel::lower(verdict->refusedLevel, into.level);
    }
    return verdict;
}

OVNEntryEdits::Summary OVNEntryEdits::moveEntries(const QStringList &mids, const QString &collection)
{
    Summary summary;
    if (!m_db) {
        summary.failed = int(mids.size());
        return summary;
    }
    // A move sets a value: after a lost answer an entry already in the collection is moved.
    const QList<int> stored = writeEachEntry(
        *m_db, int(mids.size()),
        [&](int i) {
            return m_db->updateMediaListEntry(mids.at(i), keyCategoryId, collection, OVNDatabaseAccess::QuotedValue);
        },
        [&](int from, int to, bool afterLoss) {
            return intoCategoryNow(mids.mid(from, to - from), OVNPrivilegeLevel::readWrite(), collection, keyCategoryId,
                                   afterLoss ? [&](qsizetype, const QString &held) { return held == collection; }
                                             : std::function<bool(qsizetype, const QString &)>());
        },
        summary, m_status, waitSeconds());
    summary.changed = int(stored.size());
    return summary;
}

OVNEntryEdits::Summary OVNEntryEdits::linkEntries(const QStringList &mids, const QString &setId)
{
    Summary summary;
    if (!m_db) {
        summary.failed = int(mids.size());
        return summary;
    }
    // Linking shows an entry in one more place: its own category must let the user see it, the set
    // must let him change it. addEntryToImageSet() answers the membership the entry has before it
    // adds one, and after a lost answer an entry already in the set is linked.
    const QList<int> stored = writeEachEntry(
        *m_db, int(mids.size()), [&](int i) { return !m_db->addEntryToImageSet(mids.at(i), setId).isEmpty(); },
        [&](int from, int to, bool afterLoss) -> std::optional<OVNCategoryAccess::EntriesVerdict> {
            const QStringList batch = mids.mid(from, to - from);
            QSet<QString> members;
            if (afterLoss) {
                const quint64 failures = m_db->failureCount();
                members = m_db->membersOfImageSet(setId, batch);
                if (m_db->failureCount() != failures)
                    return std::nullopt;
            }
            return intoCategoryNow(batch, OVNPrivilegeLevel::readOnly(), setId, QString(),
                                   afterLoss
                                       ? [&](qsizetype i, const QString &) { return members.contains(batch.at(i)); }
                                       : std::function<bool(qsizetype, const QString &)>());
        },
        summary, m_status, waitSeconds());
    summary.changed = int(stored.size());
    return summary;
}
