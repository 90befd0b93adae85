#include "app/OVNAnnotationWrites.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/Localized.h"
#include "platform/MediaRecord.h"
#include "platform/CatalogNames.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPair>
#include <QSet>

#include <chrono>
#include <optional>
#include <vector>

namespace {

using Table = AnnotationChanges::Table;

using CatalogNames::keyAbsolutePath;
constexpr int reasonsShown = 3;

} // namespace

OVNAnnotationWrites::OVNAnnotationWrites(OVNDatabaseAccess *connection) : m_db(connection) {}

QString OVNAnnotationWrites::notOfferedText(const QString &field)
{
    return localized("Auto-fill does not fill in the field \"%1\".").arg(field);
}

OVNAnnotationWrites::Summary OVNAnnotationWrites::apply(const QList<OVNEntryEdits::Target> &targets,
                                                        const AnnotationChanges &changes, AnnotationChanges::Mode mode,
                                                        bool clearEmptyFields, const Callbacks &callbacks)
{
    Summary summary;
    if (!m_db)
        return summary;
    summary.entries = int(targets.size());
    // Auto-fill fills in annotations, the fields its pane offers, and nothing else: a change of any
    // other column (the entry's category, its file, type or cataloguer) would move entries past
    // the privilege rule or point them at another user's file. Nothing is written then.
    if (const std::optional<QString> other = changes.firstFieldNotOffered()) {
        summary.failed = 1;
        summary.failedEntries = summary.entries;
        summary.failures.append({QString(), QString(), notOfferedText(*other)});
        summary.committed = false;
        return summary;
    }
    OVNEntryEdits::Summary privileges;
    const QList<OVNEntryEdits::Target> writable = OVNEntryEdits(m_db).writableTargets(targets, privileges);
    summary.refused = privileges.refused;
    summary.refusedLevel = privileges.refusedLevel;
    if (privileges.unchecked > 0) {
        // Not refused by a level: the level could not be asked (an outage, a category deleted).
        summary.failed += privileges.unchecked;
        summary.failedEntries += privileges.unchecked;
        summary.failures.append(
            {QString(), QString(), privileges.uncheckedTitle + QLatin1Char(' ') + privileges.uncheckedText});
    }

    // First every value is worked out, from what the caller holds and what the catalog stores, as
    // each write would see it after the ones before it: the writes are then values that are the
    // same however often they are made, and a batch whose session was lost is simply made again.
    struct Write {
        qsizetype target;
        Table table;
        QString column;
        QString value;
    };
    std::vector<Write> writes;
    std::vector<qsizetype> firstWrite;           // per writable target: its first write in `writes`
    QHash<QPair<int, QString>, QString> pending; // the values written so far, by tag and key
    const auto current = [&](const OVNEntryEdits::Target &target, const QString &key) -> QVariant {
        const auto found = pending.constFind({target.tag, key});
        return found != pending.cend() ? QVariant(*found) : callbacks.value(target.tag, key);
    };
    // What planning an entry changed in `pending`, to be undone when its reads are made again.
    std::vector<std::pair<QPair<int, QString>, std::optional<QString>>> undo;
    const auto plan = [&](qsizetype index, Table table, const QString &column, const QString &value) {
        writes.push_back({index, table, column, value});
        if (table == Table::Info) {
            const QPair<int, QString> key{writable.at(index).tag, column};
            const auto before = pending.constFind(key);
            undo.emplace_back(key, before == pending.cend() ? std::nullopt : std::optional<QString>(*before));
            pending.insert(key, value);
        }
    };
    const auto fileWords = [&](qsizetype index, const QString &column, bool addFilename, int folders) {
        const OVNEntryEdits::Target &target = writable.at(index);
        const QString path = callbacks.value(target.tag, keyAbsolutePath).toString();
        const std::optional<QString> value =
            AnnotationChanges::textWithFileWords(current(target, column).toString(), path, addFilename, folders);
        if (value)
            plan(index, Table::Info, column, *value);
    };
    // The licence rows of the entries being planned, read for a few dozen entries at once; only
    // overwrite without clearing can do without them.
    const bool readsLicences = mode != AnnotationChanges::Mode::Overwrite || clearEmptyFields;
    QHash<QString, QVariantMap> purchasedRows, soldRows;
    const auto licence = [&](qsizetype index, Table table) {
        const OVNEntryEdits::Target &target = writable.at(index);
        const QMap<QString, QString> &edits = changes.changes(table);
        if (edits.isEmpty())
            return;
        const QVariantMap stored = (table == Table::Purchased ? purchasedRows : soldRows).value(target.mid);
        for (auto edit = edits.cbegin(); edit != edits.cend(); ++edit) {
            const auto found = stored.constFind(edit.key());
            const std::optional<QString> existing = found == stored.cend() ? std::nullopt
                                                                           : std::optional<QString>(found->toString());
            const std::optional<QString> value = AnnotationChanges::valueToWrite(
                mode, AnnotationChanges::isFlagField(table, edit.key()), existing, edit.value(), clearEmptyFields);
            if (value)
                plan(index, table, edit.key(), *value);
        }
    };
    // The writes of one entry, from the values the caller holds and those the catalog stores.
    const auto planEntry = [&](qsizetype index) {
        const OVNEntryEdits::Target &target = writable.at(index);
        for (auto edit = changes.info.cbegin(); edit != changes.info.cend(); ++edit) {
            const QVariant value = MediaRecord::fieldKeys().contains(edit.key())
                                       ? current(target, edit.key())
                                       : QVariant(m_db->getMediaListEntryForMediaID(target.mid, edit.key()));
            const std::optional<QString> existing = value.isNull() ? std::nullopt
                                                                   : std::optional<QString>(value.toString());
            const std::optional<QString> written =
                AnnotationChanges::valueToWrite(mode, AnnotationChanges::isFlagField(Table::Info, edit.key()), existing,
                                                edit.value(), clearEmptyFields);
            if (written)
                plan(index, Table::Info, edit.key(), *written);
        }
        fileWords(index, QStringLiteral("keywords"), changes.keywordsAddFilename, changes.keywordsParseFolders);
        fileWords(index, QStringLiteral("shortdesc"), changes.shortDescriptionAddFilename,
                  changes.shortDescriptionParseFolders);
        licence(index, Table::Purchased);
        licence(index, Table::Sold);
    };
    // An entry whose stored values could not be read is not written: its values would be guesses.
    QSet<qsizetype> unread;
    qsizetype planned = 0;
    const auto undoPlanned = [&] {
        for (auto step = undo.crbegin(); step != undo.crend(); ++step) {
            if (step->second)
                pending.insert(step->first, *step->second);
            else
                pending.remove(step->first);
        }
        undo.clear();
    };
    // A few dozen entries at a time: their stored rows in one read, then their writes.
    constexpr qsizetype planChunk = 50;
    while (planned < writable.size()) {
        if (callbacks.progress && !callbacks.progress(int(planned), int(writable.size()))) {
            summary.cancelled = true;
            break;
        }
        const qsizetype chunkEnd = std::min(writable.size(), planned + planChunk);
        QStringList mids;
        for (qsizetype index = planned; index < chunkEnd; ++index)
            mids.append(writable.at(index).mid);
        // The stored rows are read again on a new session when the session ends on the way, and
        // while the server is away for up to 30 seconds; what a try planned is undone before the
        // next.
        const size_t writesBefore = writes.size();
        const auto reset = [&] {
            writes.resize(writesBefore);
            firstWrite.resize(size_t(planned));
            undoPlanned();
        };
        undo.clear();
        const bool read = OVNCatalogOpening::retried(
            *m_db,
            [&] {
                reset();
                purchasedRows.clear();
                soldRows.clear();
                if (readsLicences) {
                    for (const Table table : {Table::Purchased, Table::Sold}) {
                        if (changes.changes(table).isEmpty())
                            continue;
                        const std::optional<QHash<QString, QVariantMap>> rows =
                            table == Table::Purchased ? m_db->getPurchasedForMediaIDs(mids)
                                                      : m_db->getSoldForMediaIDs(mids);
                        if (!rows)
                            return;
                        (table == Table::Purchased ? purchasedRows : soldRows) = *rows;
                    }
                }
                for (qsizetype index = planned; index < chunkEnd; ++index) {
                    firstWrite.push_back(qsizetype(writes.size()));
                    planEntry(index);
                }
            },
            callbacks.status);
        if (!read) {
            reset();
            const QString reason = m_db->getLastErrorMessage();
            // A server not reached in all that wait is not waited for again for the entries after
            // these: none of them can be read either.
            const qsizetype unreadEnd = m_db->lastFailure() == OVNDatabaseAccess::Failure::Unreachable ? writable.size()
                                                                                                       : chunkEnd;
            for (qsizetype index = planned; index < unreadEnd; ++index) {
                firstWrite.push_back(qsizetype(writes.size()));
                unread.insert(index);
                ++summary.failed;
                ++summary.failedEntries;
                summary.failures.append({writable.at(index).mid, QString(), reason});
            }
            planned = unreadEnd;
            continue;
        }
        planned = chunkEnd;
    }
    firstWrite.push_back(qsizetype(writes.size()));

    // Then the writes, in batches of one transaction: the entries' levels asked, every write of the
    // batch in one statement per table, the commit, so that a slow link costs a few round trips a
    // batch. A batch the catalog refuses a write of is undone and made again a write at a time, each
    // in a savepoint, so that a refused one undoes itself alone. A batch whose session the server
    // ended (before or at its commit) is made again once the server answers; sessions that keep
    // ending make the batches smaller, down to one entry. A server away for longer than it is
    // waited for ends the work: the entries not stored by then are counted as failed.
    // The first batches are small, so that a level lowered meanwhile counts soon and a lost session
    // costs little; one that goes through quickly (a catalog file, a server near by) doubles the next.
    constexpr qsizetype firstBatch = 25;
    constexpr qsizetype fullBatch = 200;
    constexpr qint64 quickBatchMs = 250;
    constexpr int waitSeconds = OVNCatalogOpening::waitSeconds;
    qsizetype batchLimit = firstBatch;
    // The entries before it are written a write at a time (a batch of them had a write refused).
    qsizetype oneByOneUpTo = 0;
    // When the writes began to fail; min() while they go (a plain value: GCC's optimiser warns
    // that an optional's value may be read uninitialised here).
    constexpr auto noTrouble = std::chrono::steady_clock::time_point::min();
    std::chrono::steady_clock::time_point troubleSince = noTrouble;
    bool stopped = false;
    QString stopReason;
    const auto showAndCount = [&](const Write &write) {
        ++summary.written;
        if (write.table == Table::Purchased)
            summary.purchasedWritten = true;
        else if (write.table == Table::Sold)
            summary.soldWritten = true;
        else
            callbacks.show(writable.at(write.target).tag, write.column, write.value);
    };
    qsizetype storedUpTo = 0; // the entries before it are stored
    // The entries before it were in a batch whose session was lost: its commit may have gone through.
    qsizetype lostUpTo = 0;
    bool told = false;
    using Verdict = OVNCategoryAccess::EntriesVerdict::Verdict;
    // Whether every write of an entry is what the catalog holds now (after a lost answer).
    const auto entryStored = [&](qsizetype index) {
        const OVNEntryEdits::Target &target = writable.at(index);
        std::optional<QVariantMap> purchased, sold;
        for (qsizetype w = firstWrite[size_t(index)]; w < firstWrite[size_t(index) + 1]; ++w) {
            const Write &write = writes[size_t(w)];
            QString held;
            if (write.table == Table::Info) {
                held = m_db->getMediaListEntryForMediaID(target.mid, write.column);
            } else {
                std::optional<QVariantMap> &row = write.table == Table::Purchased ? purchased : sold;
                if (!row)
                    row = write.table == Table::Purchased ? m_db->getPurchasedForMediaID(target.mid)
                                                          : m_db->getSoldForMediaID(target.mid);
                held = row->value(write.column).toString();
            }
            if (held != write.value)
                return false;
        }
        return true;
    };
    // Every entry of a batch judged in the batch's own transaction, on each try: a level lowered
    // between two batches, or between two tries of one, counts for what is written after it. After
    // a lost answer an entry the level now refuses is first looked at: a commit that went through
    // is done.
    const auto judge = [&](qsizetype from, qsizetype to, bool afterLoss) {
        QStringList mids;
        for (qsizetype index = from; index < to; ++index)
            mids.append(writable.at(index).mid);
        std::optional<OVNCategoryAccess::EntriesVerdict> verdict =
            OVNCategoryAccess::entriesNow(*m_db, mids, OVNPrivilegeLevel::readWrite());
        if (!verdict || !afterLoss)
            return verdict;
        const quint64 failures = m_db->failureCount();
        for (qsizetype index = from; index < to; ++index) {
            Verdict &each = verdict->verdicts[size_t(index - from)];
            if ((each == Verdict::Refused || each == Verdict::Excluded) && !unread.contains(index)
                && entryStored(index))
                each = Verdict::Stored;
        }
        if (m_db->failureCount() != failures)
            return std::optional<OVNCategoryAccess::EntriesVerdict>();
        return verdict;
    };
    // A batch written a write at a time also ends after half a second of writing: on a slow link a
    // batch of many entries would take longer than sessions last, and none would ever be committed.
    constexpr qint64 batchMs = 500;
    for (qsizetype &from = storedUpTo; from < planned && !stopped;) {
        const bool together = from >= oneByOneUpTo;
        qsizetype to = std::min(planned, from + batchLimit);
        // Entries whose stored values could not be read are not asked about: nothing of them is
        // written.
        qsizetype firstRead = from;
        while (firstRead < to && unread.contains(firstRead))
            ++firstRead;
        if (firstRead == to) {
            from = to;
            continue;
        }
        QElapsedTimer batchAge;
        batchAge.start();
        QList<Failure> refusedHere;
        QSet<qsizetype> refusedEntries;
        std::vector<const Write *> storedHere;
        int refusedByLevel = 0;
        QString refusedLevel;
        QList<qsizetype> goneHere; // entries no longer there, or a user in no group any more
        QString goneReason;
        bool lost = false;
        std::vector<const Write *> toWrite; // the writes made together
        {
            const int depth = m_db->transactionDepth();
            OVNDatabaseTransaction batch(*m_db);
            lost = !batch.isActive() && OVNDatabaseAccess::Vendor::PostgreSQL == m_db->vendor()
                   && (m_db->lastErrorLostConnection() || m_db->transactionDepth() < depth);
            std::optional<OVNCategoryAccess::EntriesVerdict> verdict;
            if (!lost) {
                const quint64 beforeJudging = m_db->failureCount();
                verdict = judge(from, to, from < lostUpTo);
                if (!verdict) {
                    lost = OVNCatalogOpening::failedForLostServer(*m_db, beforeJudging);
                    if (!lost) {
                        stopped = true;
                        stopReason = m_db->getLastErrorMessage();
                    }
                } else {
                    refusedLevel = verdict->refusedLevel;
                    goneReason = verdict->excluded ? verdict->excluded->causeAlone()
                                                   : OVNCategoryAccess::entryMissingRefusal().title;
                }
            }
            for (qsizetype index = from; index < to && !lost && !stopped; ++index) {
                if (!together && index > from && batchAge.elapsed() > batchMs) {
                    to = index;
                    break;
                }
                if (unread.contains(index))
                    continue;
                switch (verdict->verdicts[size_t(index - from)]) {
                case Verdict::Write:
                    break;
                case Verdict::Stored:
                    for (qsizetype w = firstWrite[size_t(index)]; w < firstWrite[size_t(index) + 1]; ++w)
                        storedHere.push_back(&writes[size_t(w)]);
                    continue;
                case Verdict::Refused:
                    ++refusedByLevel;
                    continue;
                case Verdict::Missing:
                case Verdict::Excluded:
                    goneHere.append(index);
                    continue;
                }
                if (together) {
                    for (qsizetype w = firstWrite[size_t(index)]; w < firstWrite[size_t(index) + 1]; ++w)
                        toWrite.push_back(&writes[size_t(w)]);
                    continue;
                }
                const OVNEntryEdits::Target &target = writable.at(index);
                for (qsizetype w = firstWrite[size_t(index)]; w < firstWrite[size_t(index) + 1] && !lost; ++w) {
                    const Write &write = writes[size_t(w)];
                    OVNDatabaseTransaction savepoint(*m_db);
                    const bool stored = (write.table == Table::Info ? m_db->updateMediaListEntry(
                                             target.mid, write.column, write.value, OVNDatabaseAccess::QuotedValue)
                                         : write.table == Table::Purchased
                                             ? m_db->updatePurchasedEntry(target.mid, write.column, write.value)
                                             : m_db->updateSoldEntry(target.mid, write.column, write.value))
                                        && (!savepoint.isActive() || savepoint.commit());
                    if (stored) {
                        storedHere.push_back(&write);
                        continue;
                    }
                    const QString reason = m_db->getLastErrorMessage();
                    savepoint.rollback();
                    if (m_db->lastErrorLostConnection() || (batch.isActive() && m_db->transactionUndone())) {
                        lost = m_db->lastErrorLostConnection();
                        if (!lost) {
                            stopped = true;
                            stopReason = reason;
                        }
                        break;
                    }
                    refusedHere.append({target.mid, write.column, reason});
                    refusedEntries.insert(index);
                }
                if (stopped)
                    break;
            }
            if (together && !lost && !stopped && !toWrite.empty()) {
                QList<OVNDatabaseAccess::FieldValue> info, purchased, sold;
                for (const Write *write : toWrite)
                    (write->table == Table::Info        ? info
                     : write->table == Table::Purchased ? purchased
                                                        : sold)
                        .append({writable.at(write->target).mid, write->column, write->value});
                const quint64 beforeWriting = m_db->failureCount();
                if (m_db->updateMediaListEntries(info) && m_db->updatePurchasedEntries(purchased)
                    && m_db->updateSoldEntries(sold)) {
                    storedHere.insert(storedHere.end(), toWrite.cbegin(), toWrite.cend());
                } else if (OVNCatalogOpening::failedForLostServer(*m_db, beforeWriting)) {
                    lost = true;
                } else {
                    // Undone as the batch ends here; made again a write at a time, asked again.
                    oneByOneUpTo = to;
                    continue;
                }
            }
            if (!lost && !stopped) {
                if (!batch.isActive() || batch.commit()) {
                    for (const Write *write : storedHere)
                        showAndCount(*write);
                    summary.failed += int(refusedHere.size());
                    summary.failedEntries += int(refusedEntries.size());
                    summary.failures += refusedHere;
                    if (refusedByLevel > 0) {
                        summary.refused += refusedByLevel;
                        summary.refusedLevel = summary.refusedLevel.isEmpty()
                                                   ? refusedLevel
                                                   : OVNPrivilegeLevel::lower(summary.refusedLevel, refusedLevel);
                    }
                    for (const qsizetype index : std::as_const(goneHere)) {
                        const OVNEntryEdits::Target &target = writable.at(index);
                        summary.failed += int(firstWrite[size_t(index) + 1] - firstWrite[size_t(index)]);
                        ++summary.failedEntries;
                        summary.failures.append({target.mid, QString(), goneReason});
                    }
                    from = to;
                    troubleSince = noTrouble;
                    if (batchLimit < firstBatch || batchAge.elapsed() < quickBatchMs)
                        batchLimit = std::min(fullBatch, batchLimit * 2);
                    continue;
                }
                lost = m_db->lastErrorLostConnection();
                if (!lost) {
                    stopped = true;
                    stopReason = m_db->getLastErrorMessage();
                }
            }
        }
        if (stopped)
            break;
        // The session was lost: the batch is made again, smaller, once the server answers and the
        // lost session's process is gone (what its commit stored is what the next try sees).
        lostUpTo = std::max(lostUpTo, to);
        const auto now = std::chrono::steady_clock::now();
        if (troubleSince == noTrouble)
            troubleSince = now;
        batchLimit = std::max<qsizetype>(1, std::min(batchLimit, to - from) / 2);
        if (!OVNCatalogOpening::resume(*m_db, troubleSince + std::chrono::seconds(waitSeconds), callbacks.status,
                                       nullptr, &told)) {
            stopped = true;
            stopReason = localized("The catalog server cannot be reached.");
            break;
        }
    }
    if (stopped) {
        // Every entry from the batch that failed on is left as it was: its writes count as failed.
        // The reason names the first of them.
        QString firstLeft;
        for (qsizetype index = storedUpTo; index < planned; ++index) {
            const qsizetype count = firstWrite[size_t(index) + 1] - firstWrite[size_t(index)];
            if (unread.contains(index) || count == 0)
                continue;
            if (firstLeft.isEmpty())
                firstLeft = writable.at(index).mid;
            summary.failed += int(count);
            ++summary.failedEntries;
            ++summary.leftByStop;
        }
        summary.failures.prepend({firstLeft, QString(), stopReason});
        summary.committed = false;
    }
    if (callbacks.progress)
        callbacks.progress(int(writable.size()), int(writable.size()));
    return summary;
}

QString OVNAnnotationWrites::reportText(const Summary &summary)
{
    if (summary.refused == 0 && summary.failed == 0)
        return {};
    QStringList lines;
    if (summary.refused > 0)
        lines.append(countedText(summary.refused,
                                 "%1 entry was left unchanged: your access privileges do not allow it.",
                                 "%1 entries were left unchanged: your access privileges do not allow it.")
                     + QLatin1Char('\n') + localized("Your Privilege Level: ") + summary.refusedLevel);
    if (summary.failed > 0) {
        QStringList reasons;
        for (const Failure &failure :
             std::as_const(summary.failures).first(std::min<qsizetype>(reasonsShown, summary.failures.size())))
            reasons.append(failure.column.isEmpty() ? failure.reason
                                                    : failure.column + QStringLiteral(": ") + failure.reason);
        lines.append(countedText(summary.failedEntries, "%1 entry could not be written completely.",
                                 "%1 entries could not be written completely.")
                     + QLatin1Char('\n') + reasons.join(QLatin1Char('\n')));
    }
    return lines.join(QStringLiteral("\n\n"));
}
