// Thumbnail fetching: the preload pass after a new container and the on-demand fetch per row.
//
// The pass runs on the thread that sets the container. On a worker thread it runs whole, as the
// caller expects the thumbnails to be there when setMediaContainer() returns, and the list is then
// handed to the GUI thread. On the GUI thread it handles one screen of thumbnails at a time and
// goes on from the event loop, so that a slow delegate never freezes the window for longer than
// that.
//
// Locks: the scan lock is held while a pass (or a slice of one) runs, and by clearing the
// container, which therefore waits for a pass on another thread to notice the new generation and
// stop. The draw lock guards every read and write of a record's thumbnail keys and the thumbnail
// cache, never a delegate call or a decode, so that drawing on the GUI thread waits for neither.
//
// What is fetched is kept in the records only while their cache entries live: a record scrolled
// far away gives its data back, and it is fetched again when the record is shown again.
#include "browser/OVNMediaView.h"
#include "decoding/MediaDecoder.h"

#include "platform/UserDefaults.h"
#include "platform/CatalogNames.h"

#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <exception>

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyThumbImage;
constexpr int drawLockWaitMs = 10000;
constexpr qsizetype unshownSliceSize = 64;

// "AssetBackgroundLoaderMaxCache": the largest container that is preloaded, and the most records
// the view keeps thumbnails for; 0 or missing means 1500.
qsizetype maxCacheEntries()
{
    const qint64 limit = UserDefaults::standard().integerForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
    return qsizetype(limit > 0 ? std::min<qint64>(limit, 1 << 20) : 1500);
}
} // namespace

bool OVNMediaView::setMediaContainer(const MediaListRef &list)
{
    const bool onGuiThread = QThread::currentThread() == thread();
    const int generation = ++m_scanThreadID;
    const qsizetype maxCache = maxCacheEntries();
    m_preferredCacheEntries = maxCache;
    {
        // What the view fetched for the records it showed goes with them.
        QMutexLocker draw(&m_drawlock);
        m_thumbnails.clear();
        m_thumbnails.setMaxEntries(std::max(m_thumbnails.maxEntries(), maxCache));
    }

    if (onGuiThread) {
        installContainer(list);
        if (list)
            startPreloadIfWanted(list);
        return true;
    }

    // From a worker: stop any other pass first (clearing), or preload here, then let the GUI thread
    // show the list unless a later call replaced or cleared it meanwhile. The scan lock is held to
    // the end, so that a view being destroyed waits until this thread no longer touches it.
    QMutexLocker scan(&m_scanlock);
    if (list) {
        const bool preload = UserDefaults::standard().boolForKey(QStringLiteral("AssetBackgroundLoader"));
        if (preload && list->size() < maxCache) {
            qsizetype index = 0;
            if (!preloadItems(list, generation, &index, list->size() + 1))
                return false;
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, list, generation] {
            if (m_scanThreadID.load() == generation)
                installContainer(list);
        },
        Qt::QueuedConnection);
    return m_scanThreadID.load() == generation;
}

void OVNMediaView::startPreloadIfWanted(const MediaListRef &list)
{
    const qsizetype maxCache = m_preferredCacheEntries;
    applyThumbnailCacheLimits();
    if (!UserDefaults::standard().boolForKey(QStringLiteral("AssetBackgroundLoader")) || list->size() >= maxCache)
        return;
    continuePreloadOnGuiThread(list, m_scanThreadID.load(), 0);
}

void OVNMediaView::continuePreloadOnGuiThread(MediaListRef list, int generation, qsizetype index)
{
    {
        QMutexLocker scan(&m_scanlock);
        if (!preloadItems(list, generation, &index, cellsPerScreen()))
            return;
    }
    if (index < list->size()) {
        QTimer::singleShot(0, this,
                           [this, list, generation, index] { continuePreloadOnGuiThread(list, generation, index); });
    }
}

void OVNMediaView::scanForThumbnailsThread()
{
    const MediaListRef list = m_unfilteredContainer;
    if (!list)
        return;
    qsizetype index = 0;
    QMutexLocker scan(&m_scanlock);
    preloadItems(list, m_scanThreadID.load(), &index, list->size() + 1);
}

bool OVNMediaView::preloadItems(const MediaListRef &list, int generation, qsizetype *index, qsizetype budget)
{
    // The caller holds the scan lock.
    OVNMediaViewDelegate *delegate = m_delegate;
    if (!delegate || !m_delegateRespondsToThumbSelector) {
        *index = list->size();
        return true;
    }
    qsizetype fetched = 0;
    while (*index < list->size() && fetched < budget) {
        if (m_scanThreadID.load() != generation)
            return false;
        const MediaRecordRef record = list->at(*index);
        ++*index;
        if (!record)
            continue;
        bool needed = false;
        QString mid;
        {
            // A draw lock that stays taken this long means the GUI thread is stuck: the record is
            // then left alone rather than read while it may be written.
            if (!m_drawlock.tryLock(drawLockWaitMs))
                continue;
            if (m_scanThreadID.load() != generation) {
                m_drawlock.unlock();
                return false;
            }
            // Beyond half the cache the pass would only push out what it fetched itself; the
            // rest comes as cells are drawn.
            if (m_thumbnails.bytes() >= m_thumbnails.maxBytes() / 2) {
                m_drawlock.unlock();
                *index = list->size();
                return true;
            }
            needed = !record->contains(keyThumbImage) && record->contains(keyMid);
            if (needed)
                mid = record->field(MediaRecord::Mid);
            m_drawlock.unlock();
        }
        if (!needed)
            continue;
        ++fetched;
        QByteArray data;
        try {
            data = delegate->ovnMediaViewThumbnailData(this, mid);
        } catch (const std::exception &) {
            continue;
        } catch (...) {
            continue;
        }
        if (data.isNull() || m_scanThreadID.load() != generation)
            continue;
        {
            if (!m_drawlock.tryLock(drawLockWaitMs))
                continue;
            m_thumbnails.storeFetched(record, data);
            m_drawlock.unlock();
        }
        thumbnailArrived();
    }
    return true;
}

void OVNMediaView::thumbnailArrived()
{
    // Many arrivals make one repaint of what is exposed; cells that are not exposed are not drawn.
    if (m_thumbnailUpdatePending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_thumbnailUpdatePending = false;
            viewport()->update();
        },
        Qt::QueuedConnection);
}

int OVNMediaView::cellsPerScreen() const
{
    if (m_grid.columns <= 0 || m_thumbnailHeight <= 0 || viewport()->height() <= 0)
        return int(unshownSliceSize);
    const int lines = int(viewport()->height() / m_thumbnailHeight) + 1;
    return std::max(1, lines * m_grid.columns);
}

QByteArray OVNMediaView::thumbnailDataFor(const MediaRecordRef &record)
{
    QString mid;
    bool hasMid = false;
    {
        QMutexLocker draw(&m_drawlock);
        const QVariant stored = record->value(keyThumbImage);
        if (stored.isValid())
            return stored.toByteArray();
        hasMid = record->contains(keyMid);
        mid = record->field(MediaRecord::Mid);
    }
    if (!m_delegate || !m_delegateRespondsToThumbSelector || !hasMid)
        return QByteArray();
    QByteArray data;
    try {
        data = m_delegate->ovnMediaViewThumbnailData(this, mid);
    } catch (...) {
        return QByteArray();
    }
    if (data.isNull())
        return data;
    QMutexLocker draw(&m_drawlock);
    m_thumbnails.storeFetched(record, data);
    return data;
}

QSize OVNMediaView::cellPictureBox() const
{
    return QSize(int(std::ceil(m_thumbnailWidth)), int(std::ceil(m_thumbnailHeight)));
}

bool OVNMediaView::cachedCellPicture(const MediaRecordRef &record, QImage *image)
{
    QMutexLocker draw(&m_drawlock);
    return m_thumbnails.picture(record, cellPictureBox(), image);
}

QImage OVNMediaView::cellPicture(const MediaRecordRef &record)
{
    QImage image;
    if (cachedCellPicture(record, &image))
        return image;
    const QByteArray data = thumbnailDataFor(record);
    if (data.isEmpty())
        return QImage();
    QSize sourceSize;
    image = OVNThumbnailCache::decodeToFit(data, cellPictureBox(), &sourceSize);
    if (image.isNull())
        return QImage();
    QMutexLocker draw(&m_drawlock);
    m_thumbnails.storePicture(record, data, image, sourceSize);
    return image;
}

void OVNMediaView::applyThumbnailCacheLimits()
{
    const qsizetype screens = 2 * qsizetype(cellsPerScreen());
    QMutexLocker draw(&m_drawlock);
    m_thumbnails.setMaxBytes(m_thumbnailCacheMaxBytes);
    m_thumbnails.setMaxEntries(std::max(m_preferredCacheEntries.load(), screens));
}

void OVNMediaView::setThumbnailCacheMaxBytes(qint64 bytes)
{
    m_thumbnailCacheMaxBytes = std::max<qint64>(0, bytes);
    applyThumbnailCacheLimits();
}

qint64 OVNMediaView::thumbnailCacheBytes() const
{
    QMutexLocker draw(&m_drawlock);
    return m_thumbnails.bytes();
}

qsizetype OVNMediaView::thumbnailCacheCount() const
{
    QMutexLocker draw(&m_drawlock);
    return m_thumbnails.count();
}

void OVNMediaView::replaceThumbnailForRow(int row, const QByteArray &data)
{
    const MediaRecordRef record = objectForRow(row);
    if (!record || data.isEmpty())
        return;
    {
        // Kept like fetched data: when it leaves the cache, the catalog gives the same again.
        QMutexLocker draw(&m_drawlock);
        m_thumbnails.storeFetched(record, data);
    }
    setNeedsDisplayForRow(row);
}

QImage OVNMediaView::imageForRow(int row)
{
    if (!m_hasVisibleList || row < 0 || row >= count())
        return QImage();
    const QByteArray data = thumbnailDataFor(m_mediaContainer.at(row));
    return data.isEmpty() ? QImage() : MediaDecoder().readData(data, QSize());
}
