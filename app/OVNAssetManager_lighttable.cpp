// The light table the window opens on what it shows, and the window as its delegate: ratings and
// turns go through the same checks and reports as the window's own, thumbnails come from the
// window's connection.
#include "app/OVNAssetManager.h"

#include "browser/OVNMediaView.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "platform/CatalogNames.h"

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyOrientation;
using CatalogNames::keyType;
} // namespace

void OVNAssetManager::buttonLightTableClick() { openLightTable(); }

OVNLightTable *OVNAssetManager::openLightTable()
{
    MediaList list;
    QString kind;
    QString mid;
    if (m_state.mediaView && m_state.mediaView->count() > 0) {
        // The roll shows every entry it is given: only those the user may still read, asked now.
        // Those left out are named in one alert; when none may be shown, no light table opens.
        const std::optional<MediaList> readable = readableForOutput(m_state.mediaView->mediaContainer());
        if (!readable)
            return nullptr;
        list = *readable;
        const std::optional<CategoryNode> node = selectedCategory();
        kind = node ? node->value(keyType).toString() : QStringLiteral("C");
        if (kind.isEmpty())
            kind = QStringLiteral("C");
        mid = node ? node->value(keyMid).toString() : QString();
    }
    // Deletes itself when closed; the window keeps no reference.
    auto *table = new OVNLightTable;
    table->setDelegate(this);
    table->setMediaContainer(list, kind, mid);
    // Asked again whenever an entry is shown whole or leaves through the roll.
    table->setReadRule(outputCheck());
    table->showLightTable();
    return table;
}

OVNLightTableDelegate::Capabilities OVNAssetManager::lightTableCapabilities() const
{
    return OVNLightTableDelegate::SetRating | OVNLightTableDelegate::Rotate | OVNLightTableDelegate::DoubleClick
           | OVNLightTableDelegate::ThumbnailData | OVNLightTableDelegate::Open;
}

bool OVNAssetManager::lightTableSetRating(int rating, const QString &mid) { return setRating(rating, mid); }

bool OVNAssetManager::lightTableRotate(const QString &mid, OVNMediaView *roll, OVNLightTableDelegate::Turn turn)
{
    if (!turnEntryWithMid(mid, turn == OVNLightTableDelegate::Turn::Left ? OVNEntryEdits::QuarterTurn::Left
                                                                         : OVNEntryEdits::QuarterTurn::Right))
        return false;
    // The roll draws the stored thumbnail and code from now on.
    const int row = roll && m_state.dbcon ? roll->rowForMid(mid) : -1;
    if (row >= 0) {
        // Read through sessions that end, as the turn was made.
        QString orientation;
        QByteArray thumbnail;
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        if (OVNCatalogOpening::retried(
                *m_state.dbcon,
                [&] {
                    orientation = m_state.dbcon->getMediaListEntryForMediaID(mid, keyOrientation);
                    thumbnail = m_state.dbcon->getThumbnailForMediaID(mid);
                },
                wait->status(), wait->secondsLeft())) {
            roll->setMediaObject(keyOrientation, orientation, row);
            roll->replaceThumbnailForRow(row, thumbnail);
        }
    }
    return true;
}

void OVNAssetManager::lightTableDoubleClick(OVNMediaView *roll, Qt::KeyboardModifiers modifiers)
{
    m_mediaDelegate->ovnMediaViewDoubleClickWithModifierFlag(roll, modifiers);
}

QByteArray OVNAssetManager::lightTableThumbnailData(OVNMediaView *roll, const QString &mid)
{
    return m_mediaDelegate->ovnMediaViewThumbnailData(roll, mid);
}

void OVNAssetManager::lightTableOpen(OVNMediaView *roll, int viewerType)
{
    if (viewerType == 2)
        openMediaFullScreen(roll);
    else
        openMedia(roll, viewerType, QString());
}
