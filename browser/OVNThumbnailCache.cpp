#include "browser/OVNThumbnailCache.h"

#include "decoding/MediaDecoder.h"
#include "decoding/PictureData.h"
#include "platform/CatalogNames.h"

#include <algorithm>

namespace {

using CatalogNames::keyThumbImage;
const QString keyPreloaded = QStringLiteral("preloaded");

// The very buffer, not merely equal bytes: a record whose data was replaced is decoded again.
bool sameData(const QByteArray &a, const QByteArray &b)
{
    return !a.isNull() && a.constData() == b.constData() && a.size() == b.size();
}

QByteArray heldData(const MediaRecord &record) { return record.value(keyThumbImage).toByteArray(); }

} // namespace

void OVNThumbnailCache::setMaxBytes(qint64 bytes)
{
    m_maxBytes = std::max<qint64>(0, bytes);
    trim();
}

void OVNThumbnailCache::setMaxEntries(qsizetype entries)
{
    m_maxEntries = std::max<qsizetype>(1, entries);
    trim();
}

OVNThumbnailCache::EntryList::iterator OVNThumbnailCache::find(const MediaRecordRef &record)
{
    const auto it = m_index.constFind(record.get());
    if (it == m_index.constEnd())
        return m_entries.end();
    const EntryList::iterator entry = it.value();
    if (entry->record.lock() != record) {
        release(*entry);
        m_bytes -= entry->cost;
        m_index.erase(it);
        m_entries.erase(entry);
        return m_entries.end();
    }
    m_entries.splice(m_entries.begin(), m_entries, entry);
    return entry;
}

OVNThumbnailCache::EntryList::iterator OVNThumbnailCache::entryFor(const MediaRecordRef &record)
{
    EntryList::iterator entry = find(record);
    if (entry != m_entries.end())
        return entry;
    m_entries.push_front(Entry{record.get(), record, {}, false, {}, {}, 0});
    m_index.insert(record.get(), m_entries.begin());
    return m_entries.begin();
}

void OVNThumbnailCache::setCost(Entry &entry)
{
    m_bytes -= entry.cost;
    entry.cost = entry.data.size() + entry.picture.sizeInBytes();
    m_bytes += entry.cost;
}

void OVNThumbnailCache::release(Entry &entry)
{
    if (!entry.fetched)
        return;
    const MediaRecordRef record = entry.record.lock();
    if (record && sameData(heldData(*record), entry.data)) {
        record->remove(keyThumbImage);
        record->remove(keyPreloaded);
    }
}

void OVNThumbnailCache::trim()
{
    // The entry used last always stays, however large it is.
    while (m_entries.size() > 1 && (m_bytes > m_maxBytes || qsizetype(m_entries.size()) > m_maxEntries)) {
        Entry &oldest = m_entries.back();
        release(oldest);
        m_bytes -= oldest.cost;
        m_index.remove(oldest.key);
        m_entries.pop_back();
    }
}

void OVNThumbnailCache::storeFetched(const MediaRecordRef &record, const QByteArray &data)
{
    if (!record || data.isNull())
        return;
    record->insert(keyThumbImage, data);
    record->insert(keyPreloaded, QStringLiteral("1"));
    Entry &entry = *entryFor(record);
    entry.data = data;
    entry.fetched = true;
    entry.picture = QImage();
    entry.sourceSize = QSize();
    setCost(entry);
    trim();
}

bool OVNThumbnailCache::picture(const MediaRecordRef &record, const QSize &box, QImage *picture)
{
    if (!record)
        return false;
    const EntryList::iterator entry = find(record);
    if (entry == m_entries.end() || entry->picture.isNull() || !sameData(heldData(*record), entry->data))
        return false;
    // A picture fitted to a smaller cell is not enlarged: it is decoded again for the larger one.
    const QSize needed = fittedSize(entry->sourceSize, box);
    if (needed.width() > entry->picture.width() || needed.height() > entry->picture.height())
        return false;
    *picture = entry->picture;
    return true;
}

void OVNThumbnailCache::storePicture(const MediaRecordRef &record, const QByteArray &data, const QImage &picture,
                                     const QSize &sourceSize)
{
    if (!record || picture.isNull() || !sameData(heldData(*record), data))
        return;
    Entry &entry = *entryFor(record);
    if (!sameData(entry.data, data)) {
        // Data the owner put there (or replaced): it is not the view's to take out again.
        entry.data = data;
        entry.fetched = false;
    }
    entry.picture = picture;
    entry.sourceSize = sourceSize.isValid() ? sourceSize : picture.size();
    setCost(entry);
    trim();
}

void OVNThumbnailCache::remove(const MediaRecordRef &record)
{
    const EntryList::iterator entry = find(record);
    if (entry == m_entries.end())
        return;
    release(*entry);
    m_bytes -= entry->cost;
    m_index.remove(entry->key);
    m_entries.erase(entry);
}

void OVNThumbnailCache::clear()
{
    for (Entry &entry : m_entries)
        release(entry);
    m_entries.clear();
    m_index.clear();
    m_bytes = 0;
}

QSize OVNThumbnailCache::fittedSize(const QSize &source, const QSize &box)
{
    return PictureData::fittedSize(source, box);
}

QImage OVNThumbnailCache::decodeToFit(const QByteArray &data, const QSize &box, QSize *sourceSize)
{
    // Catalog data may come from anyone who writes into the catalog: decoded in a decoder process
    // like a file.
    return MediaDecoder().readData(data, box, sourceSize);
}
