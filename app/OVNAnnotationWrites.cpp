#include "app/OVNAnnotationWrites.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/Localized.h"
#include "platform/MediaRecord.h"
#include "platform/CatalogNames.h"

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

    // One transaction for speed; a savepoint per write so that a refused one undoes itself alone.
    OVNDatabaseTransaction batch(*m_db);
    const auto write = [&](const OVNEntryEdits::Target &target, Table table, const QString &column,
                           const QString &value) {
        OVNDatabaseTransaction savepoint(*m_db);
        const bool stored = (table == Table::Info
                                 ? m_db->updateMediaListEntry(target.mid, column, value, OVNDatabaseAccess::QuotedValue)
                             : table == Table::Purchased ? m_db->updatePurchasedEntry(target.mid, column, value)
                                                         : m_db->updateSoldEntry(target.mid, column, value))
                            && (!savepoint.isActive() || savepoint.commit());
        if (stored) {
            ++summary.written;
        } else {
            ++summary.failed;
            summary.failures.append({target.mid, column, m_db->getLastErrorMessage()});
        }
        return stored;
    };
    const auto fileWords = [&](const OVNEntryEdits::Target &target, const QString &column, bool addFilename,
                               int folders) {
        const QString path = callbacks.value(target.tag, keyAbsolutePath).toString();
        const QString current = callbacks.value(target.tag, column).toString();
        const std::optional<QString> value = AnnotationChanges::textWithFileWords(current, path, addFilename, folders);
        if (value && write(target, Table::Info, column, *value))
            callbacks.show(target.tag, column, *value);
    };
    const auto licence = [&](const OVNEntryEdits::Target &target, Table table) {
        const QMap<QString, QString> &edits = changes.changes(table);
        if (edits.isEmpty())
            return;
        // Only overwrite without clearing can do without the stored row.
        QVariantMap stored;
        if (mode != AnnotationChanges::Mode::Overwrite || clearEmptyFields)
            stored = table == Table::Purchased ? m_db->getPurchasedForMediaID(target.mid)
                                               : m_db->getSoldForMediaID(target.mid);
        for (auto edit = edits.cbegin(); edit != edits.cend(); ++edit) {
            const auto found = stored.constFind(edit.key());
            const std::optional<QString> existing = found == stored.cend() ? std::nullopt
                                                                           : std::optional<QString>(found->toString());
            const std::optional<QString> value = AnnotationChanges::valueToWrite(
                mode, AnnotationChanges::isFlagField(table, edit.key()), existing, edit.value(), clearEmptyFields);
            if (value)
                write(target, table, edit.key(), *value);
        }
    };

    for (qsizetype i = 0; i < writable.size(); ++i) {
        if (callbacks.progress && i % 50 == 0 && !callbacks.progress(int(i), int(writable.size()))) {
            summary.cancelled = true;
            break;
        }
        const OVNEntryEdits::Target &target = writable.at(i);
        const int failedBefore = summary.failed;
        for (auto edit = changes.info.cbegin(); edit != changes.info.cend(); ++edit) {
            const QVariant current = MediaRecord::fieldKeys().contains(edit.key())
                                         ? callbacks.value(target.tag, edit.key())
                                         : QVariant(m_db->getMediaListEntryForMediaID(target.mid, edit.key()));
            const std::optional<QString> existing = current.isNull() ? std::nullopt
                                                                     : std::optional<QString>(current.toString());
            const std::optional<QString> value =
                AnnotationChanges::valueToWrite(mode, AnnotationChanges::isFlagField(Table::Info, edit.key()), existing,
                                                edit.value(), clearEmptyFields);
            if (value && write(target, Table::Info, edit.key(), *value))
                callbacks.show(target.tag, edit.key(), *value);
        }
        fileWords(target, QStringLiteral("keywords"), changes.keywordsAddFilename, changes.keywordsParseFolders);
        fileWords(target, QStringLiteral("shortdesc"), changes.shortDescriptionAddFilename,
                  changes.shortDescriptionParseFolders);
        const int writtenBefore = summary.written;
        licence(target, Table::Purchased);
        summary.purchasedWritten = summary.purchasedWritten || summary.written > writtenBefore;
        const int writtenBeforeSold = summary.written;
        licence(target, Table::Sold);
        summary.soldWritten = summary.soldWritten || summary.written > writtenBeforeSold;
        if (summary.failed > failedBefore)
            ++summary.failedEntries;
    }
    if (callbacks.progress)
        callbacks.progress(int(writable.size()), int(writable.size()));

    if (batch.isActive() && !batch.commit()) {
        // Nothing of it is stored.
        summary.failed += summary.written;
        summary.failedEntries = int(writable.size());
        summary.failures.prepend({QString(), QString(), m_db->getLastErrorMessage()});
        summary.written = 0;
        summary.committed = false;
    }
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
