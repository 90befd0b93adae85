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
// stop. The draw lock guards every read and write of a record's thumbnail keys, never a delegate
// call, so that drawing on the GUI thread waits for no delegate.
#include "browser/OVNMediaView.h"

#include "platform/UserDefaults.h"

#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <exception>

namespace {
const QString keyThumbImage = QStringLiteral("thumbimage");
const QString keyPreloaded = QStringLiteral("preloaded");
const QString keyMid = QStringLiteral("mid");
constexpr int drawLockWaitMs = 10000;
constexpr qsizetype unshownSliceSize = 64;
}

bool OVNMediaView::setMediaContainer(const MediaListRef &list)
{
    const bool onGuiThread = QThread::currentThread() == thread();
    const int generation = ++m_scanThreadID;

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
        const qint64 limit = UserDefaults::standard().integerForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
        const bool preload = UserDefaults::standard().boolForKey(QStringLiteral("AssetBackgroundLoader"));
        if (preload && list->size() < (limit > 0 ? limit : 1500)) {
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
    const qint64 limit = UserDefaults::standard().integerForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
    const qint64 maxCache = limit > 0 ? limit : 1500;
    m_decoded.setMaxCost(int(std::min<qint64>(maxCache, 1 << 20)));
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
        QTimer::singleShot(0, this, [this, list, generation, index] {
            continuePreloadOnGuiThread(list, generation, index);
        });
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
            record->insert(keyThumbImage, data);
            record->insert(keyPreloaded, QStringLiteral("1"));
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

QByteArray OVNMediaView::thumbnailDataFor(const MediaRecordRef &record, bool *known)
{
    QString mid;
    bool hasMid = false;
    {
        QMutexLocker draw(&m_drawlock);
        const QVariant stored = record->value(keyThumbImage);
        if (stored.isValid()) {
            *known = true;
            return stored.toByteArray();
        }
        hasMid = record->contains(keyMid);
        mid = record->field(MediaRecord::Mid);
    }
    *known = false;
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
    record->insert(keyThumbImage, data);
    record->insert(keyPreloaded, QStringLiteral("1"));
    return data;
}

QImage OVNMediaView::decodedThumbnail(const MediaRecordRef &record)
{
    bool known = false;
    const QByteArray data = thumbnailDataFor(record, &known);
    if (data.isEmpty())
        return QImage();
    if (const DecodedThumbnail *cached = m_decoded.object(record.get())) {
        // The cache holds on to the data it decoded, so the same buffer means the same thumbnail.
        if (cached->data.constData() == data.constData() && cached->data.size() == data.size())
            return cached->image;
    }
    QImage image = QImage::fromData(data);
    if (image.isNull())
        return QImage();
    m_decoded.insert(record.get(), new DecodedThumbnail{data, image}, 1);
    return image;
}

QImage OVNMediaView::imageForRow(int row)
{
    if (!m_hasVisibleList || row < 0 || row >= count())
        return QImage();
    return decodedThumbnail(m_mediaContainer.at(row));
}
