// Auto-fill and adjust: annotations written into many entries at once, each entry answering to its
// own category, and one adjustment window per selected file.
#include "app/OVNAssetManager.h"

#include "app/OVNOutlineView.h"
#include "browser/OVNMediaDetailsAutoFill.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "viewers/OVNCoreImageAdjust.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>

namespace {

using Table = AnnotationChanges::Table;

const QString keyAbsolutePath = QStringLiteral("absolutepath");
const QString keyOrientation = QStringLiteral("orientation");
constexpr int progressSheetThreshold = 500;
constexpr int reasonsShown = 3;

} // namespace

std::optional<QList<int>> OVNAssetManager::annotationRowSet() const
{
    if (!m_mediaView)
        return std::nullopt;
    if (m_mediaView->numberOfSelectedRows() > 0)
        return m_mediaView->selectedRows();
    if (selectedCategoryNodes().size() == 1)
        return m_mediaView->allRows();
    return std::nullopt;
}

void OVNAssetManager::buttonAutoFillClick()
{
    const std::optional<QList<int>> rows = annotationRowSet();
    if (!rows) {
        QApplication::beep();
        return;
    }
    if (rows->isEmpty())
        return;
    // The sheet goes when it has ended; the row set is taken again then, as the user may have
    // changed the selection behind a window-modal sheet on another window.
    auto *sheet = new OVNMediaDetailsAutoFill(m_mediaView->window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<OVNMediaDetailsAutoFill> guard(sheet);
    sheet->beginSheetModalForWindow(m_mediaView->window(), [this, guard](int code) {
        if (code == 1 && guard)
            applyAnnotationChanges(guard->changes(), guard->mode(), guard->changesShouldClearEmptyFields());
    });
}

OVNAssetManager::AnnotationSummary OVNAssetManager::applyAnnotationChanges(const AnnotationChanges &changes,
                                                                           AnnotationChanges::Mode mode,
                                                                           bool clearEmptyFields, bool report)
{
    AnnotationSummary summary;
    const std::optional<QList<int>> rows = annotationRowSet();
    if (!rows || !m_dbcon)
        return summary;
    QList<OVNEntryEdits::Target> targets;
    targets.reserve(rows->size());
    for (int row : *rows) {
        if (const MediaRecordRef record = m_mediaView->objectForRow(row))
            targets.append({record->field(MediaRecord::Mid), record->field(MediaRecord::CategoryId), row, {}, {}});
    }
    summary.entries = int(targets.size());
    OVNEntryEdits::Summary privileges;
    const QList<OVNEntryEdits::Target> writable = OVNEntryEdits(m_dbcon.get()).writableTargets(targets, privileges);
    summary.refused = privileges.refused;

    std::unique_ptr<QProgressDialog> progress;
    if (writable.size() > progressSheetThreshold) {
        progress = std::make_unique<QProgressDialog>(localized("Auto Fill..."), localized("Cancel"), 0,
                                                     int(writable.size()), m_mediaView->window());
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
    }

    // One transaction for speed; a savepoint per write so that a refused one undoes itself alone.
    OVNDatabaseTransaction batch(*m_dbcon);
    const auto write = [&](const OVNEntryEdits::Target &target, Table table, const QString &column, const QString &value) {
        OVNDatabaseTransaction savepoint(*m_dbcon);
        const bool stored = (table == Table::Info
                                 ? m_dbcon->updateMediaListEntry(target.mid, column, value, OVNDatabaseAccess::QuotedValue)
                             : table == Table::Purchased ? m_dbcon->updatePurchasedEntry(target.mid, column, value)
                                                         : m_dbcon->updateSoldEntry(target.mid, column, value))
            && (!savepoint.isActive() || savepoint.commit());
        if (stored) {
            ++summary.written;
        } else {
            ++summary.failed;
            summary.failures.append({target.mid, column, m_dbcon->getLastErrorMessage()});
        }
        return stored;
    };
    const auto fileWords = [&](const OVNEntryEdits::Target &target, const QString &column, bool addFilename, int folders) {
        const QString path = m_mediaView->mediaObject(keyAbsolutePath, target.tag).toString();
        const QString current = m_mediaView->mediaObject(column, target.tag).toString();
        const std::optional<QString> value = AnnotationChanges::textWithFileWords(current, path, addFilename, folders);
        if (value && write(target, Table::Info, column, *value))
            m_mediaView->setMediaObject(column, *value, target.tag);
    };
    const auto licence = [&](const OVNEntryEdits::Target &target, Table table) {
        const QMap<QString, QString> &edits = changes.changes(table);
        if (edits.isEmpty())
            return;
        // Only overwrite without clearing can do without the stored row.
        QVariantMap stored;
        if (mode != AnnotationChanges::Mode::Overwrite || clearEmptyFields)
            stored = table == Table::Purchased ? m_dbcon->getPurchasedForMediaID(target.mid)
                                               : m_dbcon->getSoldForMediaID(target.mid);
        for (auto edit = edits.cbegin(); edit != edits.cend(); ++edit) {
            const auto found = stored.constFind(edit.key());
            const std::optional<QString> existing =
                found == stored.cend() ? std::nullopt : std::optional<QString>(found->toString());
            const std::optional<QString> value = AnnotationChanges::valueToWrite(
                mode, AnnotationChanges::isFlagField(table, edit.key()), existing, edit.value(), clearEmptyFields);
            if (value)
                write(target, table, edit.key(), *value);
        }
    };

    bool purchasedWritten = false, soldWritten = false;
    for (qsizetype i = 0; i < writable.size(); ++i) {
        if (progress && i % 50 == 0) {
            progress->setValue(int(i));
            if (progress->wasCanceled()) {
                summary.cancelled = true;
                break;
            }
        }
        const OVNEntryEdits::Target &target = writable.at(i);
        const int failedBefore = summary.failed;
        for (auto edit = changes.info.cbegin(); edit != changes.info.cend(); ++edit) {
            const QVariant current = MediaRecord::fieldKeys().contains(edit.key())
                ? m_mediaView->mediaObject(edit.key(), target.tag)
                : QVariant(m_dbcon->getMediaListEntryForMediaID(target.mid, edit.key()));
            const std::optional<QString> existing =
                current.isNull() ? std::nullopt : std::optional<QString>(current.toString());
            const std::optional<QString> value = AnnotationChanges::valueToWrite(
                mode, AnnotationChanges::isFlagField(Table::Info, edit.key()), existing, edit.value(),
                clearEmptyFields);
            if (value && write(target, Table::Info, edit.key(), *value))
                m_mediaView->setMediaObject(edit.key(), *value, target.tag);
        }
        fileWords(target, QStringLiteral("keywords"), changes.keywordsAddFilename, changes.keywordsParseFolders);
        fileWords(target, QStringLiteral("shortdesc"), changes.shortDescriptionAddFilename,
                  changes.shortDescriptionParseFolders);
        const int writtenBefore = summary.written;
        licence(target, Table::Purchased);
        purchasedWritten = purchasedWritten || summary.written > writtenBefore;
        const int writtenBeforeSold = summary.written;
        licence(target, Table::Sold);
        soldWritten = soldWritten || summary.written > writtenBeforeSold;
        if (summary.failed > failedBefore)
            ++summary.failedEntries;
    }
    if (progress)
        progress->setValue(int(writable.size()));
    progress.reset();

    if (batch.isActive() && !batch.commit()) {
        // Nothing of it is stored: the list shows the catalog again.
        summary.failed += summary.written;
        summary.failedEntries = int(writable.size());
        summary.failures.prepend({QString(), QString(), m_dbcon->getLastErrorMessage()});
        summary.written = 0;
        reloadMediaList();
    } else {
        if (purchasedWritten)
            m_internalPurchasedStorage.reset();
        if (soldWritten)
            m_internalSoldStorage.reset();
        if (m_mediaView)
            m_mediaView->viewport()->update();
        loadSelectionDetails();
    }

    if (report && (summary.refused > 0 || summary.failed > 0)) {
        QStringList lines;
        if (summary.refused > 0)
            lines.append(localized("%1 entries were left unchanged: your access privileges do not allow it.")
                             .arg(summary.refused)
                         + QLatin1Char('\n') + localized("Your Privilege Level: ") + privileges.refusedLevel);
        if (summary.failed > 0) {
            QStringList reasons;
            for (const AnnotationFailure &failure : std::as_const(summary.failures).first(
                     std::min<qsizetype>(reasonsShown, summary.failures.size())))
                reasons.append(failure.column.isEmpty() ? failure.reason
                                                        : failure.column + QStringLiteral(": ") + failure.reason);
            lines.append(localized("%1 entries could not be written completely.").arg(summary.failedEntries)
                         + QLatin1Char('\n') + reasons.join(QLatin1Char('\n')));
        }
        OVNHelper::displayAlert(localized("Auto Fill"), lines.join(QStringLiteral("\n\n")),
                                m_mediaView ? m_mediaView->window() : this);
    }
    return summary;
}

bool OVNAssetManager::verifyActionWithMultipleItems(int count)
{
    if (count <= 3)
        return true;
    Alert alert;
    alert.message = localized("Do you really want to open %1 items?").arg(count);
    alert.informativeText =
        localized("You have selected %1 items. Do you really want to open all selected items at once?").arg(count);
    alert.buttons = {localized("Yes"), localized("No")};
    return Alerts::run(alert) == 0;
}

void OVNAssetManager::menuAdjust()
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() == 0) {
        QApplication::beep();
        return;
    }
    OVNCoreImageAdjust::Factory *factory = OVNCoreImageAdjust::factory();
    if (!factory)
        return; // the command is disabled until there is an adjustment window
    const QList<int> rows = m_mediaView->selectedRows();
    if (!verifyActionWithMultipleItems(int(rows.size())))
        return;
    bool missing = false;
    for (int row : rows) {
        const QString path = m_mediaView->mediaObject(keyAbsolutePath, row).toString();
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            missing = true;
            continue;
        }
        if (OVNCoreImageAdjust *adjust = factory->create()) {
            adjust->setOnLoadOrientation(m_mediaView->mediaObject(keyOrientation, row).toInt());
            adjust->loadImage(path);
        }
    }
    if (missing) {
        OVNHelper::displayAlert(localized("Media file not found."),
                                localized("At least one media file could not be located. Please check the media "
                                          "file path for the selected files and make sure the original files are "
                                          "available."),
                                m_mediaView->window());
    }
}
