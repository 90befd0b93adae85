// Rating and turning entries: the selected thumbnails of the window, or one entry by its id. The
// writes are OVNEntryEdits'; the window picks the entries, shows what was stored and says what not.
#include "app/OVNAssetManager.h"

#include "app/OVNEntryEdits.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

namespace {
using CatalogNames::keyCategoryId;
using CatalogNames::keyOrientation;
using CatalogNames::keyRating;
using CatalogNames::keyThumbImage;
} // namespace

// ---- targets ----

QList<OVNEntryEdits::Target> OVNAssetManager::selectedEditTargets(std::optional<QList<int>> rows) const
{
    QList<OVNEntryEdits::Target> targets;
    if (!m_state.mediaView)
        return targets;
    if (!rows)
        rows = m_state.mediaView->selectedRows();
    targets.reserve(rows->size());
    for (int row : *rows) {
        const MediaRecordRef record = m_state.mediaView->objectForRow(row);
        if (record)
            targets.append({record->field(MediaRecord::Mid), record->field(MediaRecord::CategoryId), row, {}, {}});
    }
    return targets;
}

std::optional<OVNEntryEdits::Target> OVNAssetManager::editTargetForMid(const QString &mid) const
{
    if (mid.isEmpty() || !m_state.dbcon)
        return std::nullopt;
    const int row = m_state.mediaView ? m_state.mediaView->rowForMid(mid) : -1;
    if (row >= 0)
        return OVNEntryEdits::Target{mid, m_state.mediaView->mediaObject(keyCategoryId, row).toString(), row, {}, {}};
    // An entry this window does not show (the light table's, say): the catalog knows its owner.
    const std::unique_ptr<OVNCatalogWait> wait = const_cast<OVNAssetManager *>(this)->catalogWait();
    OVNEntryEdits edits(m_state.dbcon.get());
    edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
    return edits.targetForMid(mid);
}

void OVNAssetManager::reportUnchangedEntries(const QString &title, const OVNEntryEdits::Summary &summary)
{
    const QString text = OVNEntryEdits(m_state.dbcon.get()).unchangedText(summary);
    if (!text.isEmpty())
        Alerts::display(title, text, m_state.mediaView ? m_state.mediaView->window() : this);
}

// ---- rating ----

OVNEntryEdits::Summary OVNAssetManager::rateEntries(int rating, const QList<OVNEntryEdits::Target> &targets)
{
    OVNEntryEdits::Summary summary;
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    OVNEntryEdits edits(m_state.dbcon.get());
    edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
    const QList<OVNEntryEdits::Stored> stored = edits.rate(rating, targets, summary);
    // Only what the catalog holds now is shown.
    for (const OVNEntryEdits::Stored &entry : stored) {
        if (entry.target.tag >= 0)
            m_state.mediaView->setMediaObject(keyRating, QString::number(rating), entry.target.tag);
    }
    return summary;
}

void OVNAssetManager::menuSetRating(int rating)
{
    if (rating < 0 || rating > 5 || !m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0)
        return;
    const OVNEntryEdits::Summary summary = rateEntries(rating, selectedEditTargets());
    if (summary.changed > 0) {
        m_state.mediaView->viewport()->update();
        m_mediaDelegate->loadSelectionDetails();
    }
    reportUnchangedEntries(localized("Rating Failed"), summary);
}

bool OVNAssetManager::setRating(int rating, const QString &mid)
{
    if (rating < 0 || rating > 5)
        return false;
    const std::optional<OVNEntryEdits::Target> target = editTargetForMid(mid);
    if (!target)
        return false;
    const OVNEntryEdits::Summary summary = rateEntries(rating, {*target});
    if (summary.changed > 0 && target->tag >= 0) {
        m_state.mediaView->setNeedsDisplayForRow(target->tag);
        m_mediaDelegate->loadSelectionDetails();
    }
    reportUnchangedEntries(localized("Rating Failed"), summary);
    return summary.changed > 0;
}

// ---- rotation ----

OVNEntryEdits::Summary OVNAssetManager::turnEntries(QList<OVNEntryEdits::Target> targets,
                                                    OVNEntryEdits::QuarterTurn turn)
{
    // What the view holds of a shown entry saves reading it again.
    for (OVNEntryEdits::Target &target : targets) {
        if (target.tag < 0)
            continue;
        target.thumbnail = m_state.mediaView->mediaObject(keyThumbImage, target.tag).toByteArray();
        target.orientation = m_state.mediaView->mediaObject(keyOrientation, target.tag).toString();
    }
    OVNEntryEdits::Summary summary;
    const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
    OVNEntryEdits edits(m_state.dbcon.get());
    edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
    const QList<OVNEntryEdits::Stored> stored = edits.turn(targets, turn, summary);
    for (const OVNEntryEdits::Stored &entry : stored) {
        if (entry.target.tag < 0)
            continue;
        m_state.mediaView->setMediaObject(keyOrientation, entry.orientation, entry.target.tag);
        m_state.mediaView->replaceThumbnailForRow(entry.target.tag, entry.thumbnail);
    }
    return summary;
}

void OVNAssetManager::menuRotateLeft() { turnSelection(OVNEntryEdits::QuarterTurn::Left); }

void OVNAssetManager::menuRotateRight() { turnSelection(OVNEntryEdits::QuarterTurn::Right); }

void OVNAssetManager::turnSelection(OVNEntryEdits::QuarterTurn turn)
{
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0)
        return;
    const OVNEntryEdits::Summary summary = turnEntries(selectedEditTargets(), turn);
    if (summary.changed > 0)
        m_mediaDelegate->loadPreviewImageForSelection();
    reportUnchangedEntries(localized("Rotation Failed"), summary);
}

bool OVNAssetManager::turnEntryWithMid(const QString &mid, OVNEntryEdits::QuarterTurn turn)
{
    const std::optional<OVNEntryEdits::Target> target = editTargetForMid(mid);
    if (!target)
        return false;
    const OVNEntryEdits::Summary summary = turnEntries({*target}, turn);
    if (summary.changed > 0 && target->tag >= 0 && m_state.mediaView->isRowSelected(target->tag))
        m_mediaDelegate->loadPreviewImageForSelection();
    reportUnchangedEntries(localized("Rotation Failed"), summary);
    return summary.changed > 0;
}
