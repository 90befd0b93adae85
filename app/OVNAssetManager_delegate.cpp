// The catalog window as the thumbnail view's delegate and the details pane's data source: the
// thumbnails, the selection shown in the preview and details, opening on a double-click, and the
// stored values of the selected entry.
#include "app/OVNAssetManager.h"

#include "app/OVNAssetPreviewImage.h"
#include "app/OVNPrivilegeLevel.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaView.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {
const QString keyMid = QStringLiteral("mid");
const QString keyRating = QStringLiteral("rating");
const QString keyCategoryId = QStringLiteral("categoryid");

// The exif storage as the table shows it: rows in key order.
QStringList sortedKeys(const QVariantMap &map)
{
    return map.keys();
}
} // namespace

// Both protocols call their capability set capabilities(); the pane gets this adapter.
class OVNAssetManager::DetailsDataSource : public OVNMediaDetailsDataSource
{
public:
    explicit DetailsDataSource(OVNAssetManager &window) : m_window(window) {}

    Capabilities capabilities() const override
    {
        return Capability::StringForID | Capability::SelectionCount | Capability::Selections
            | Capability::AccessCheck;
    }
    QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key) override
    {
        return m_window.ovnMediaDetailsStringForID(pane, key);
    }
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *pane) override
    {
        return m_window.ovnMediaDetailsSelectionCount(pane);
    }
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *pane) override
    {
        return m_window.ovnMediaDetailsSelections(pane);
    }
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *pane, const QString &key, int row) override
    {
        return m_window.ovnMediaDetailsStringForIDForRow(pane, key, row);
    }
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert) override
    {
        return m_window.isUserAuthorizedForAccessCurrentSelectionWithType(level, showAlert);
    }
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) override
    {
        return m_window.ovnMediaDetailsPurchasedForID(pane, column);
    }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) override
    {
        return m_window.ovnMediaDetailsSoldForID(pane, column);
    }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForID(pane, value, key, mediaId);
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForPurchasedID(pane, value, column, mediaId);
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                           const QString &mediaId) override
    {
        m_window.ovnMediaDetailsSetStringForSoldID(pane, value, column, mediaId);
    }
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane) override
    {
        return m_window.numberOfRowsInExifForOVNMediaDetails(pane);
    }
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row) override
    {
        return m_window.ovnMediaDetailsExifTagAtRow(pane, row);
    }
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row) override
    {
        return m_window.ovnMediaDetailsExifValueAtRow(pane, row);
    }

private:
    OVNAssetManager &m_window;
};

OVNMediaDetailsDataSource *OVNAssetManager::detailsDataSource() const
{
    if (!m_detailsDataSource)
        const_cast<OVNAssetManager *>(this)->m_detailsDataSource =
            std::make_unique<DetailsDataSource>(*const_cast<OVNAssetManager *>(this));
    return m_detailsDataSource.get();
}

// Defined here, where the adapter is complete.
OVNAssetManager::OVNAssetManager()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(displayName());
    buildWindow();
}

OVNAssetManager::~OVNAssetManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // The view may still be preloading; it must not call back into a half-destroyed window.
    if (m_mediaView) {
        m_mediaView->setMediaContainer(nullptr);
        m_mediaView->setDelegate(nullptr);
    }
    if (m_mediaDetails)
        m_mediaDetails->setDataSource(nullptr);
}

// ---- thumbnail view delegate ----

OVNMediaViewDelegate::Capabilities OVNAssetManager::capabilities() const
{
    return ThumbnailData | SelectionDidChange | DoubleClick | UserAuthorization;
}

QByteArray OVNAssetManager::ovnMediaViewThumbnailData(OVNMediaView *, const QString &mediaId)
{
    // May come from the thread that preloads; the connection serialises its statements.
    return m_dbcon ? m_dbcon->getThumbnailForMediaID(mediaId) : QByteArray();
}

void OVNAssetManager::ovnMediaViewSelectionDidChange(OVNMediaView *)
{
    m_internalExifStorage.reset();
    m_internalPurchasedStorage.reset();
    m_internalSoldStorage.reset();
    loadSelectionDetails();
}

void OVNAssetManager::loadSelectionDetails()
{
    loadPreviewImageForSelection();
    loadMediaDetailsForSelection();
}

void OVNAssetManager::loadPreviewImageForSelection()
{
    if (m_mediaView && m_mediaView->numberOfSelectedRows() == 1) {
        const int row = m_mediaView->selectedRow();
        const QVariant rating = m_mediaView->mediaObject(keyRating, row);
        const QImage image = m_mediaView->imageForRow(row);
        m_mediaPreviewImage->setImage(image, rating.isValid() ? rating.toString().toInt() : 0);
    } else {
        m_mediaPreviewImage->setImage(QImage());
    }
    m_mediaPreviewImage->repaint();
}

void OVNAssetManager::loadMediaDetailsForSelection()
{
    const bool any = m_mediaView && m_mediaView->numberOfSelectedRows() > 0;
    m_mediaDetails->setDataSource(any ? detailsDataSource() : nullptr);
    m_mediaDetails->reloadData();
    m_mediaDetails->update();
}

void OVNAssetManager::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers)
{
    loadPreferences();
    const bool second = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int type = second ? m_prefDefaultViewerType2 : m_prefDefaultViewerType1;
    const QString application = second ? m_prefExternalViewer2 : m_prefExternalViewer1;
    if (type < 0 || type > 2 || !view)
        return;
    // The internal viewers open from their own windows; until a file is handed to one, every
    // choice opens the file with the application the desktop associates with it.
    for (int row : view->selectedRows()) {
        const QString path = view->filenameForRow(row);
        if (path.isEmpty() || !QFileInfo::exists(path))
            continue;
        if (type == 2 && !application.isEmpty())
            QProcess::startDetached(application, {path});
        else
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}

// ---- details data source ----

int OVNAssetManager::rowForMediaId(const QString &mediaId) const
{
    return m_mediaView ? m_mediaView->rowForMid(mediaId) : -1;
}

QString OVNAssetManager::ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key)
{
    if (!m_mediaView || m_mediaView->numberOfSelectedRows() != 1)
        return QString();
    return m_mediaView->mediaObject(key, m_mediaView->selectedRow()).toString();
}

int OVNAssetManager::ovnMediaDetailsSelectionCount(OVNMediaDetails *)
{
    return numberOfSelectedItems();
}

QList<int> OVNAssetManager::ovnMediaDetailsSelections(OVNMediaDetails *)
{
    return m_mediaView ? m_mediaView->selectedRows() : QList<int>();
}

QString OVNAssetManager::ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &key, int row)
{
    if (!m_mediaView || row < 0 || row >= m_mediaView->count())
        return QString();
    return m_mediaView->mediaObject(key, row).toString();
}

QString OVNAssetManager::ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_internalPurchasedStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalPurchasedStorage = m_dbcon && !mid.isEmpty() ? m_dbcon->getPurchasedForMediaID(mid) : QVariantMap();
    }
    return m_internalPurchasedStorage->value(column).toString();
}

QString OVNAssetManager::ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column)
{
    if (!m_internalSoldStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalSoldStorage = m_dbcon && !mid.isEmpty() ? m_dbcon->getSoldForMediaID(mid) : QVariantMap();
    }
    return m_internalSoldStorage->value(column).toString();
}

void OVNAssetManager::ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &value, const QString &key,
                                                    const QString &mediaId)
{
    const int row = rowForMediaId(mediaId);
    if (!m_dbcon || row < 0)
        return;
    const QString owner = m_mediaView->mediaObject(keyCategoryId, row).toString();
    if (!isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false))
        return;
    if (m_dbcon->updateMediaListEntry(mediaId, key, value))
        m_mediaView->setMediaObject(key, value, row);
}

void OVNAssetManager::ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value,
                                                             const QString &column, const QString &mediaId)
{
    const int row = rowForMediaId(mediaId);
    if (!m_dbcon || row < 0)
        return;
    const QString owner = m_mediaView->mediaObject(keyCategoryId, row).toString();
    if (!isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false))
        return;
    if (m_dbcon->updatePurchasedEntry(mediaId, column, value) && m_internalPurchasedStorage)
        m_internalPurchasedStorage->insert(column, value);
}

void OVNAssetManager::ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value, const QString &column,
                                                        const QString &mediaId)
{
    const int row = rowForMediaId(mediaId);
    if (!m_dbcon || row < 0)
        return;
    const QString owner = m_mediaView->mediaObject(keyCategoryId, row).toString();
    if (!isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {owner}, false))
        return;
    if (m_dbcon->updateSoldEntry(mediaId, column, value) && m_internalSoldStorage)
        m_internalSoldStorage->insert(column, value);
}

int OVNAssetManager::numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane)
{
    if (!m_internalExifStorage) {
        const QString mid = ovnMediaDetailsStringForID(pane, keyMid);
        m_internalExifStorage = m_dbcon && !mid.isEmpty() ? m_dbcon->getExifForMediaID(mid) : QVariantMap();
    }
    return int(m_internalExifStorage->size());
}

QString OVNAssetManager::ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    return sortedKeys(*m_internalExifStorage).at(row);
}

QString OVNAssetManager::ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row)
{
    if (row < 0 || row >= numberOfRowsInExifForOVNMediaDetails(pane))
        return QString();
    return m_internalExifStorage->value(sortedKeys(*m_internalExifStorage).at(row)).toString();
}
