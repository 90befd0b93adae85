#pragma once

#include "platform/MediaRecord.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSize>

#include <list>
#include <memory>

// The thumbnail view's memory of the records it shows: per record, the JPEG data it holds under
// "thumbimage" and the picture decoded from that data at the size of a cell. Pictures are kept
// fitted to the cell, not at their stored size: a document page of 724 x 1024 would otherwise cost
// 3 MB where a 128-point cell needs 60 KB.
//
// Bounded in bytes (data and pictures) and in entries; the entries used least recently go first.
// Data the view fetched from its delegate leaves the record with its entry, so that a record far
// off screen does not keep its thumbnail for its whole life; it is fetched again when the record is
// shown again. Data the owner put into a record stays there.
//
// Not thread-safe: the view calls it under its draw lock (the preload pass may run on a worker).
class OVNThumbnailCache
{
public:
    static constexpr qint64 defaultMaxBytes = qint64(256) << 20;

    OVNThumbnailCache() = default;
    OVNThumbnailCache(const OVNThumbnailCache &) = delete;
    OVNThumbnailCache &operator=(const OVNThumbnailCache &) = delete;
    // Leaves the records alone; clear() takes the fetched data out of them.
    ~OVNThumbnailCache() = default;

    void setMaxBytes(qint64 bytes);
    qint64 maxBytes() const { return m_maxBytes; }
    void setMaxEntries(qsizetype entries);
    qsizetype maxEntries() const { return m_maxEntries; }
    qint64 bytes() const { return m_bytes; }
    qsizetype count() const { return qsizetype(m_entries.size()); }

    // Puts data fetched for a record into it ("thumbimage" and "preloaded" "1") and remembers it,
    // so that it leaves the record again with the entry.
    void storeFetched(const MediaRecordRef &record, const QByteArray &data);
    // The picture decoded from the data the record holds now, when one is kept that is at least as
    // large as a fit into `box` needs; marks the entry used.
    bool picture(const MediaRecordRef &record, const QSize &box, QImage *picture);
    // Keeps a picture decoded from `data` (`sourceSize` before fitting), when the record still
    // holds that data.
    void storePicture(const MediaRecordRef &record, const QByteArray &data, const QImage &picture,
                      const QSize &sourceSize);
    // Forgets a record's entry, taking the data the view fetched out of it.
    void remove(const MediaRecordRef &record);
    // Forgets every entry, taking the fetched data out of the records that are still alive.
    void clear();

    // Decodes thumbnail data fitted into a box, keeping its proportions (a smaller picture keeps its
    // size); JPEG data is decoded at a reduced scale where it can. `sourceSize` gets the stored size.
    static QImage decodeToFit(const QByteArray &data, const QSize &box, QSize *sourceSize = nullptr);
    // The size a picture of `source` is fitted to in `box`.
    static QSize fittedSize(const QSize &source, const QSize &box);

private:
    struct Entry {
        const MediaRecord *key = nullptr;
        std::weak_ptr<MediaRecord> record;
        QByteArray data;      // what the record held when the entry was made
        bool fetched = false; // the view put `data` into the record
        QImage picture;
        QSize sourceSize;
        qint64 cost = 0;
    };
    using EntryList = std::list<Entry>;

    // The live entry of a record (moved to the front), or end(); an entry of a dead record that
    // happened to live at the same address is dropped.
    EntryList::iterator find(const MediaRecordRef &record);
    EntryList::iterator entryFor(const MediaRecordRef &record);
    void setCost(Entry &entry);
    void release(Entry &entry);
    void trim();

    EntryList m_entries; // most recently used first
    QHash<const MediaRecord *, EntryList::iterator> m_index;
    qint64 m_bytes = 0;
    qint64 m_maxBytes = defaultMaxBytes;
    qsizetype m_maxEntries = 1500;
};
