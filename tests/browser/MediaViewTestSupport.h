#pragma once

#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewDelegate.h"
#include "platform/MediaRecord.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QStringList>
#include <QThread>

#include <atomic>

// A record with the given name and id (and any further keys).
inline MediaRecordRef makeRecord(const QString &name, const QString &mid = QString(),
                                 const QVariantMap &extra = QVariantMap())
{
    auto record = std::make_shared<MediaRecord>();
    record->insert(QStringLiteral("displaytag"), name);
    if (!mid.isNull())
        record->insert(QStringLiteral("mid"), mid);
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        record->insert(it.key(), it.value());
    return record;
}

inline MediaListRef makeList(int count)
{
    auto list = std::make_shared<MediaList>();
    for (int i = 0; i < count; ++i)
        list->append(makeRecord(QStringLiteral("IMG_%1.jpg").arg(i), QString::number(i + 1)));
    return list;
}

inline QStringList namesOf(const MediaList &list)
{
    QStringList names;
    for (const MediaRecordRef &record : list)
        names.append(record->field(MediaRecord::DisplayTag));
    return names;
}

inline QByteArray smallJpeg(QColor color = Qt::red)
{
    QImage image(16, 12, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    if (data.isEmpty()) {
        buffer.seek(0);
        image.save(&buffer, "PNG");
    }
    return data;
}

// Answers the declared messages and counts thumbnail requests (from any thread).
class CountingDelegate : public OVNMediaViewDelegate
{
public:
    explicit CountingDelegate(Capabilities answers = ThumbnailData | SelectionDidChange, bool answerNil = false)
        : m_answers(answers),
          m_answerNil(answerNil),
          m_data(smallJpeg())
    {}
    Capabilities capabilities() const override { return m_answers; }
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *, const QString &mediaId) override
    {
        ++thumbnailRequests;
        {
            QMutexLocker lock(&m_idsLock);
            m_ids.append(mediaId);
        }
        if (delayMs > 0)
            QThread::msleep(delayMs);
        return m_answerNil ? QByteArray() : m_data;
    }
    void ovnMediaViewSelectionDidChange(OVNMediaView *) override { ++selectionChanges; }
    void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *, Qt::KeyboardModifiers) override { ++doubleClicks; }
    QStringList requestedIds()
    {
        QMutexLocker lock(&m_idsLock);
        return m_ids;
    }

    std::atomic<int> thumbnailRequests{0};
    int selectionChanges = 0;
    int doubleClicks = 0;
    std::atomic<int> delayMs{0};
    Capabilities m_answers;

private:
    bool m_answerNil;
    QByteArray m_data;
    QMutex m_idsLock;
    QStringList m_ids;
};
