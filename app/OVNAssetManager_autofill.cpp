// Auto-fill and adjust: annotations written into many entries at once, each entry answering to its
// own category, and one adjustment window per selected file.
#include "app/OVNAssetManager.h"

#include "app/OVNAnnotationWrites.h"
#include "app/OVNOutlineView.h"
#include "browser/OVNMediaDetailsAutoFill.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "viewers/OVNCoreImageAdjust.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>

namespace {

constexpr int progressSheetThreshold = 500;

} // namespace

std::optional<QList<int>> OVNAssetManager::annotationRowSet() const
{
    if (!m_state.mediaView)
        return std::nullopt;
    if (m_state.mediaView->numberOfSelectedRows() > 0)
        return m_state.mediaView->selectedRows();
    if (selectedCategoryNodes().size() == 1)
        return m_state.mediaView->allRows();
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
    auto *sheet = new OVNMediaDetailsAutoFill(m_state.mediaView->window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<OVNMediaDetailsAutoFill> guard(sheet);
    sheet->beginSheetModalForWindow(m_state.mediaView->window(), [this, guard](int code) {
        if (code == 1 && guard)
            applyAnnotationChanges(guard->changes(), guard->mode(), guard->changesShouldClearEmptyFields());
    });
}

OVNAssetManager::AnnotationSummary OVNAssetManager::applyAnnotationChanges(const AnnotationChanges &changes,
                                                                           AnnotationChanges::Mode mode,
                                                                           bool clearEmptyFields, bool report)
{
    const std::optional<QList<int>> rows = annotationRowSet();
    if (!rows || !m_state.dbcon)
        return {};
    const QList<OVNEntryEdits::Target> targets = selectedEditTargets(*rows);

    std::unique_ptr<QProgressDialog> progress;
    OVNAnnotationWrites::Callbacks callbacks;
    callbacks.value = [this](int row, const QString &key) { return m_state.mediaView->mediaObject(key, row); };
    callbacks.show = [this](int row, const QString &key, const QString &value) {
        m_state.mediaView->setMediaObject(key, value, row);
    };
    callbacks.progress = [this, &progress](int done, int total) {
        if (total <= progressSheetThreshold)
            return true;
        if (!progress) {
            progress = std::make_unique<QProgressDialog>(localized("Auto Fill..."), localized("Cancel"), 0, total,
                                                         m_state.mediaView->window());
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
        }
        progress->setValue(done);
        if (done == total) {
            progress.reset();
            return true;
        }
        return !progress->wasCanceled();
    };
    const AnnotationSummary summary =
        OVNAnnotationWrites(m_state.dbcon.get()).apply(targets, changes, mode, clearEmptyFields, callbacks);

    if (!summary.committed) {
        // Not all of it is stored: the list shows the catalog again.
        reloadMediaList();
    } else {
        if (summary.purchasedWritten)
            m_mediaDelegate->forgetPurchaseValues();
        if (summary.soldWritten)
            m_mediaDelegate->forgetSaleValues();
        if (m_state.mediaView)
            m_state.mediaView->viewport()->update();
        m_mediaDelegate->loadSelectionDetails();
    }

    const QString text = OVNAnnotationWrites::reportText(summary);
    if (report && !text.isEmpty())
        Alerts::display(localized("Auto Fill"), text, m_state.mediaView ? m_state.mediaView->window() : this);
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
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0) {
        QApplication::beep();
        return;
    }
    OVNCoreImageAdjust::Factory *factory = OVNCoreImageAdjust::factory();
    if (!factory)
        return; // the command is disabled until there is an adjustment window
    const QList<int> rows = m_state.mediaView->selectedRows();
    if (!verifyActionWithMultipleItems(int(rows.size())))
        return;
    // The adjustment window exports what it opens: only entries the user may still read.
    MediaList records;
    for (int row : rows)
        records.append(m_state.mediaView->objectForRow(row));
    bool missing = false;
    const OVNOutputCheck::Question check = outputCheck();
    for (const MediaRecordRef &record : readableForOutput(records).value_or(MediaList())) {
        const QString path = record->field(MediaRecord::AbsolutePath);
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            missing = true;
            continue;
        }
        if (OVNCoreImageAdjust *adjust = factory->create()) {
            adjust->setExportCheck(OVNOutputHandOff::checkForRecord(check, *record));
            adjust->setOnLoadOrientation(record->field(MediaRecord::Orientation).toInt());
            adjust->loadImage(path);
        }
    }
    if (missing)
        OVNOutputHandOff::showMissingFiles(m_state.mediaView->window());
}
