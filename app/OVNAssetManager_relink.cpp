// Re-importing the selected files, pointing entries at moved files, and thumbnails from the
// clipboard.
#include "app/OVNAssetManager.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNClipboardPicture.h"
#include "app/OVNRelink.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "import/OVNImportHelper.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"

#include <QApplication>

#include <optional>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

// ---- re-import ----

void OVNAssetManager::ovnMediaViewReimportSelection(OVNMediaView *view)
{
    if (view == m_state.mediaView)
        buttonReimportSelectionClick();
}

void OVNAssetManager::buttonReimportSelectionClick()
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0) {
        QApplication::beep();
        return;
    }
    const QList<CategoryNode> categories = selectedCategoryNodes();
    const QString categoryId = categories.size() == 1 ? categories.first().value(CatalogNames::keyMid).toString()
                                                      : QString();
    if (categoryId.isEmpty())
        return;
    QList<MediaRecordRef> records;
    for (int row : m_state.mediaView->selectedRows())
        records.append(m_state.mediaView->objectForRow(row));
    int refused = 0;
    const QStringList mediaIds = OVNEntryEdits(m_state.dbcon.get()).reimportable(records, refused);
    if (refused > 0) {
        Alerts::display(localized("Re-Import"),
                        countedText(refused, "%1 entry was left out: your access privileges do not allow changing it.",
                                    "%1 entries were left out: your access privileges do not allow changing them."),
                        window());
    }
    if (!mediaIds.isEmpty())
        m_categoryActions->reimport(mediaIds, categoryId);
}

// ---- re-link ----

void OVNAssetManager::ovnMediaViewRelinkSelection(OVNMediaView *view) { buttonRelinkSelectionClick(view); }

void OVNAssetManager::buttonRelinkSelectionClick(OVNMediaView *view)
{
    if (!view)
        view = m_state.mediaView;
    if (!view || view->numberOfSelectedRows() == 0) {
        QApplication::beep();
        return;
    }
    const bool toFolder = view->numberOfSelectedRows() > 1;
    auto *panel = new QFileDialog(
        view->window(),
        toFolder ? localized("Re-Link multiple files: Select the current folder that contains the selected files.")
                 : localized("Re-Link file: Select the new location of the selected file."),
        QDir::homePath());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(toFolder ? QFileDialog::Directory : QFileDialog::ExistingFile);
    if (toFolder)
        panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, toFolder ? localized("Re-Link Files") : localized("Re-Link File"));
    panel->setWindowModality(Qt::WindowModal);
    QPointer<OVNMediaView> target(view);
    connect(panel, &QFileDialog::accepted, this, [this, panel, target, toFolder] {
        const QStringList chosen = panel->selectedFiles();
        if (target && chosen.size() == 1)
            relinkSelection(target, chosen.first(), toFolder);
    });
    panel->open();
}

void OVNAssetManager::relinkSelection(OVNMediaView *view, const QString &chosen, bool toFolder)
{
    if (!view || view->numberOfSelectedRows() == 0 || !m_state.dbcon)
        return;
    QList<OVNRelink::Entry> entries;
    QList<int> rows;
    for (int row : view->selectedRows()) {
        if (const MediaRecordRef record = view->objectForRow(row)) {
            entries.append({record->field(MediaRecord::Mid), record->field(MediaRecord::AbsolutePath),
                            record->field(MediaRecord::CategoryId)});
            rows.append(row);
        }
        if (!toFolder)
            break;
    }
    OVNRelink::Result result;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        // The levels are asked afresh on each try: a try whose session ended may have read none.
        std::optional<OVNEntryEdits> edits;
        const auto mayWrite = [&edits](const QString &owner) { return edits->mayWrite(owner); };
        const OVNRelink::Waiting waiting{wait->status(), wait->secondsLeft(), [&] {
                                             edits.emplace(m_state.dbcon.get());
                                             edits->setWaitingStatus(wait->status(),
                                                                     [&wait] { return wait->secondsLeft(); });
                                         }};
        result = toFolder ? OVNRelink::toFolder(*m_state.dbcon, entries, chosen, mayWrite, waiting)
                          : OVNRelink::toFile(*m_state.dbcon, entries.value(0), chosen, mayWrite, waiting);
    }
    // The records follow only what the catalog now holds.
    for (qsizetype i = 0; i < result.relinked.size(); ++i)
        view->setMediaObject(QStringLiteral("absolutepath"), result.newPaths.at(i), rows.at(result.relinked.at(i)));
    if (!toFolder) {
        if (result.relinked.isEmpty())
            Alerts::display(localized("Re-Link failed"), localized("Could not update file path to new location."),
                            view->window());
    } else {
        Alerts::display(localized("Re-Link Status Report"), OVNRelink::statusReport(result), view->window());
    }
    if (!result.relinked.isEmpty())
        m_mediaDelegate->loadSelectionDetails();
}

// ---- thumbnail from the clipboard ----

void OVNAssetManager::buttonSetThumbnailUsingClipboardClick()
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0 || !m_state.dbcon)
        return;
    const QImage picture = OVNClipboardPicture::fromMimeData(QGuiApplication::clipboard()->mimeData());
    if (picture.isNull())
        return;
    const QByteArray jpeg = OVNImportHelper::jpegData(OVNImportHelper::scaleImage(picture, QSize(256, 256), 2), 50);
    if (jpeg.isEmpty())
        return;
    OVNEntryEdits::Summary summary;
    const QList<OVNEntryEdits::Stored> stored =
        OVNEntryEdits(m_state.dbcon.get()).setThumbnail(selectedEditTargets(), jpeg, summary);
    for (const OVNEntryEdits::Stored &entry : stored) {
        if (entry.target.tag >= 0)
            m_state.mediaView->replaceThumbnailForRow(entry.target.tag, jpeg);
    }
    if (summary.changed > 0)
        m_state.mediaView->viewport()->update();
    reportUnchangedEntries(localized("Thumbnail Not Changed"), summary);
}
