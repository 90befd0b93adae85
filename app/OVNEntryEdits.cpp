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

// Writes entries `from` to `to` - 1 in one transaction and answers those the catalog took (all or
// none of each entry's statements); `failed` counts the others. The first pass runs without
// savepoints (two statements more per entry); when the catalog refuses an entry, that pass is
// undone and the entries are written again, each in a savepoint of its own, because on a server a
// refused statement spoils the whole transaction around it. Nothing when the server session was
// lost on the way (the transaction with it).
template <typename Write>
std::optional<QList<int>> writeEntriesOnce(OVNDatabaseAccess &connection, int from, int to, Write write, int *failed)
{
    const auto lostSession = [&connection] {
        return connection.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL && connection.lastErrorLostConnection();
    };
    for (const bool careful : {false, true}) {
        QList<int> stored;
        stored.reserve(to - from);
        *failed = 0;
        const quint64 failuresBefore = connection.failureCount();
        OVNDatabaseTransaction batch(connection);
        if (!batch.isActive() && connection.failureCount() != failuresBefore && lostSession())
            return std::nullopt;
        if (!careful && !batch.isActive())
            continue; // without a transaction only savepoints keep an entry whole
        bool refused = false;
        for (int i = from; i < to && !(refused && !careful); ++i) {
            const quint64 failures = connection.failureCount();
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
                if (connection.failureCount() != failures && lostSession())
                    return std::nullopt;
                refused = true;
                ++*failed;
            }
        }
        if (refused && !careful)
            continue; // rolled back when `batch` goes
        if (batch.isActive() && !batch.commit()) {
            if (lostSession())
                return std::nullopt;
            *failed += int(stored.size());
            stored.clear();
        }
        return stored;
    }
    return QList<int>();
}

// Writes entries 0 to count - 1 in transactions of up to a few hundred. The writes are values that
// are the same however often they are made: a transaction whose session the server ended (also
// at its commit, when its answer was lost) is made again once the server answers, smaller after
// each loss. A server away for more than 30 seconds, or sessions that end for that long before
// anything is kept, end the work; the entries not written by then count as failed.
template <typename Write>
QList<int> writeEachEntry(OVNDatabaseAccess &connection, int count, Write write, int *failed,
                          const OVNCatalogOpening::Status &status, int waitSeconds)
{
    constexpr int fullBatch = 250;
    int batchLimit = fullBatch;
    // When the writes began to fail; min() while they go (a plain value: GCC's optimiser warns
    // that an optional's value may be read uninitialised here).
    constexpr auto noTrouble = std::chrono::steady_clock::time_point::min();
    std::chrono::steady_clock::time_point troubleSince = noTrouble;
    QList<int> stored;
    *failed = 0;
    for (int from = 0; from < count;) {
        const int to = std::min(count, from + batchLimit);
        int failedHere = 0;
        if (const std::optional<QList<int>> done = writeEntriesOnce(connection, from, to, write, &failedHere)) {
            stored += *done;
            *failed += failedHere;
            from = to;
            troubleSince = noTrouble;
            batchLimit = std::min(fullBatch, batchLimit * 2);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (troubleSince == noTrouble)
            troubleSince = now;
        batchLimit = std::max(1, (to - from) / 2);
        if (now - troubleSince >= std::chrono::seconds(waitSeconds)
            || !OVNCatalogOpening::waitForServer(connection, waitSeconds, nullptr, status)) {
            *failed += count - from;
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
    OVNCatalogOpening::retried(
        *m_db, [&] { access = m_db->categoryAccessNow(categoryId); }, m_status, waitSeconds());
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
        &summary.failed, m_status, waitSeconds());
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
        &summary.failed, m_status, waitSeconds());
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
    if (!m_db)
        return {};
    QList<int> stored;
    {
        OVNDatabaseTransaction batch(*m_db);
        for (int i = 0; i < writable.size(); ++i) {
            OVNDatabaseTransaction savepoint(*m_db);
            if (m_db->updateThumbnailForMediaID(writable.at(i).mid, jpeg)
                && (!savepoint.isActive() || savepoint.commit()))
                stored.append(i);
            else
                ++summary.failed;
        }
        if (batch.isActive() && !batch.commit()) {
            summary.failed += int(stored.size());
            stored.clear();
        }
    }
    QList<Stored> result;
    for (int i : stored)
        result.append({writable.at(i), jpeg, {}});
    summary.changed = int(stored.size());
    return result;
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
    if (!m_db)
        return QString();
    // Through sessions that end, and a server away for up to 30 seconds: the collection keeps the
    // id chosen for it, and a try after a lost answer (once the old session has ended) finds the
    // one its predecessor made instead of making a second.
    const QString chosen = m_db->createNewMID();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds());
    bool told = false;
    for (;;) {
        const quint64 failures = m_db->failureCount();
        bool refused = false;
        const QString made = addCollectionOnce(chosen, name, folder, allowed, &refused);
        if (!made.isEmpty() || refused || m_db->transactionDepth() > 0
            || !OVNCatalogOpening::failedForLostServer(*m_db, failures)
            || !OVNCatalogOpening::resume(*m_db, deadline, m_status, nullptr, &told))
            return made;
    }
}

QString OVNEntryEdits::addCollectionOnce(const QString &chosen, const QString &name, const QString &folder,
                                         const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused)
{
    // Made and placed together: a collection that cannot go into its folder is not left behind
    // at the top level.
    OVNDatabaseTransaction transaction(*m_db);
    const quint64 failures = m_db->failureCount();
    if (allowed && !allowed(transaction)) {
        // Not allowed, rather than unanswered because the session ended.
        *refused = !OVNCatalogOpening::failedForLostServer(*m_db, failures);
        return QString();
    }
    const QString collection = m_db->addCategoryListEntryWithMID(chosen, name, QStringLiteral("C"));
    if (collection.isEmpty())
        return QString();
    if (!folder.isEmpty() && !m_db->setCategoryListEntrySuperMID(collection, folder)) {
        if (transaction.isActive())
            transaction.rollback();
        else
            m_db->deleteCategoryListEntry(collection);
        return QString();
    }
    if (transaction.isActive() && !transaction.commit())
        return QString();
    return collection;
}

QString OVNEntryEdits::addTopLevelCategory(const QString &name, const QString &kind)
{
    if (!m_db)
        return QString();
    // The id is chosen once: a try after a lost answer finds the category its predecessor made
    // (once the old session has ended, so that its commit is seen) instead of making a second.
    const QString chosen = m_db->createNewMID();
    QString made;
    OVNCatalogOpening::retried(
        *m_db, [&] { made = m_db->addCategoryListEntryWithMID(chosen, name, kind); }, m_status, waitSeconds());
    return made;
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

int OVNEntryEdits::moveEntries(const QStringList &mids, const QString &collection)
{
    int failed = 0;
    for (const QString &mid : mids) {
        bool moved = false;
        if (m_db)
            OVNCatalogOpening::retried(
                *m_db,
                [&] {
                    moved = m_db->updateMediaListEntry(mid, keyCategoryId, collection, OVNDatabaseAccess::QuotedValue);
                },
                m_status, waitSeconds());
        failed += moved ? 0 : 1;
    }
    return failed;
}

int OVNEntryEdits::linkEntries(const QStringList &mids, const QString &setId)
{
    int failed = 0;
    for (const QString &mid : mids) {
        // addEntryToImageSet() answers the membership the entry has before it adds one.
        QString membership;
        if (m_db)
            OVNCatalogOpening::retried(
                *m_db, [&] { membership = m_db->addEntryToImageSet(mid, setId); }, m_status, waitSeconds());
        failed += membership.isEmpty() ? 1 : 0;
    }
    return failed;
}
