// The thumbnail view's lists: the container, filtering, sorting and the row accessors.
#include "browser/OVNMediaView.h"

#include "browser/OVNMediaViewSorting.h"
#include "platform/CatalogNames.h"

#include <QScrollBar>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <cstring>
#include <vector>

namespace {
using CatalogNames::keyMid;
}

void OVNMediaView::installContainer(const MediaListRef &list)
{
    deselectAll();
    // The replaced list's records are freed off this thread.
    if (!list) {
        QMutexLocker scan(&m_scanlock);
        releaseInBackground(std::exchange(m_unfilteredContainer, nullptr));
        releaseInBackground(std::exchange(m_mediaContainer, MediaList()));
        m_hasVisibleList = false;
        m_renderedCells.clear();
        resizeFrameToFitMediaContainer();
        viewport()->update();
        return;
    }
    releaseInBackground(std::exchange(m_mediaContainer, MediaList()));
    releaseInBackground(std::exchange(m_unfilteredContainer, list));
    m_hasVisibleList = false;
    setFilter(QString(), QString());
}

namespace {

// Which records of `all` match the filter. A large list is searched in parts on several threads:
// the list's fields are only read meanwhile, and this thread waits for them.
std::vector<char> filterMatches(const MediaList &all, const QString &filter, const QString &key)
{
    std::vector<char> matches(size_t(all.size()), 0);
    if (filter.isEmpty())
        return matches;
    auto search = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            const MediaRecordRef &record = all.at(i);
            matches[size_t(i)] = record && OVNMediaViewSorting::recordMatchesFilter(*record, filter, key);
        }
    };
    constexpr qsizetype partSize = 16384;
    // Keys other than the list's fields live in a map the loading threads may write to.
    const bool fieldsOnly = key.isEmpty() || MediaRecord::fieldIndex(key) >= 0;
    const int threads = int(
        std::min<qsizetype>(std::max(1u, std::thread::hardware_concurrency()), (all.size() + partSize - 1) / partSize));
    if (!fieldsOnly || threads < 2) {
        search(0, all.size());
        return matches;
    }
    std::vector<std::thread> helpers;
    const qsizetype step = (all.size() + threads - 1) / threads;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(search, std::min(all.size(), t * step), std::min(all.size(), (t + 1) * step));
    search(0, std::min(all.size(), step));
    for (std::thread &helper : helpers)
        helper.join();
    return matches;
}

} // namespace

void OVNMediaView::setFilter(const QString &filter, const QString &key)
{
    deselectAll();
    m_filter = filter;
    m_filterKey = key;
    m_mediaContainer.clear();
    m_hasVisibleList = false;
    if (m_unfilteredContainer) {
        const QSet<const MediaRecord *> hidden = hiddenStackMembers();
        const MediaList &all = *m_unfilteredContainer;
        // Everything shown: the shown list shares the whole one's storage until either changes.
        if (filter.isEmpty() && hidden.isEmpty()
            && std::all_of(all.begin(), all.end(), [](const MediaRecordRef &record) { return bool(record); })) {
            m_mediaContainer = all;
        } else {
            const std::vector<char> matches = filterMatches(all, filter, key);
            m_mediaContainer.reserve(all.size());
            for (qsizetype i = 0; i < all.size(); ++i) {
                const MediaRecordRef &record = all.at(i);
                if (!record || (!hidden.isEmpty() && hidden.contains(record.get())))
                    continue;
                if (filter.isEmpty() || matches[size_t(i)])
                    m_mediaContainer.append(record);
            }
        }
        m_hasVisibleList = true;
    }
    sortMediaContainer();
    resizeFrameToFitMediaContainer();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

bool OVNMediaView::tagContains(const QString &text, const QString &part)
{
    return OVNMediaViewSorting::tagContains(text, part);
}

void OVNMediaView::sortMediaContainer()
{
    // An unknown code leaves the order alone: answering "ascending" for every pair, as a plain
    // comparison would, is no order at all and lets the sort scramble the list.
    if (!OVNMediaViewSorting::isKnownSortCode(m_viewOrderBy) || m_mediaContainer.size() < 2)
        return;
    const int code = m_viewOrderBy >= OVNMediaViewSorting::descendingFlag
                         ? m_viewOrderBy - OVNMediaViewSorting::descendingFlag
                         : m_viewOrderBy;
    const bool descending = !m_viewOrderASC;

    // The keys are folded once per record into one buffer, as big-endian UTF-16, so that comparing
    // two keys is a memcmp in code-unit order and no record costs an allocation of its own.
    struct Entry {
        quint64 prefix; // the key's first eight bytes, as a number that orders as they do
        const char *key;
        qsizetype keyLength;
        const char *name;
        qsizetype nameLength;
        qsizetype index;
    };
    auto append = [](std::string &folded, const QString &text, qsizetype *offset, qsizetype *length) {
        const size_t at = folded.size();
        const qsizetype n = text.size();
        folded.resize(at + 2 * size_t(n));
        char *out = folded.data() + at;
        const char16_t *in = reinterpret_cast<const char16_t *>(text.utf16());
        bool ascii = true;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = in[i];
            if (u >= 0x80) {
                ascii = false;
                break;
            }
            out[2 * i] = '\0';
            out[2 * i + 1] = char(u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u);
        }
        if (!ascii) {
            const QString caseFolded = text.toCaseFolded();
            folded.resize(at + 2 * size_t(caseFolded.size()));
            out = folded.data() + at;
            for (qsizetype i = 0; i < caseFolded.size(); ++i) {
                out[2 * i] = char(caseFolded.at(i).unicode() >> 8);
                out[2 * i + 1] = char(caseFolded.at(i).unicode() & 0xff);
            }
        }
        *offset = qsizetype(at);
        *length = qsizetype(folded.size() - at);
    };
    // Folding reads every record's text, one cache miss after another: a large list is folded in
    // parts on several threads, each into its own buffer (the records are only read meanwhile).
    const qsizetype total = m_mediaContainer.size();
    std::vector<Entry> entries(static_cast<size_t>(total));
    constexpr qsizetype partSize = 16384;
    const int parts = int(
        std::clamp<qsizetype>((total + partSize - 1) / partSize, 1, std::max(1u, std::thread::hardware_concurrency())));
    const qsizetype step = (total + parts - 1) / parts;
    std::vector<std::string> buffers(static_cast<size_t>(parts));
    auto foldPart = [&](int part) {
        const qsizetype from = std::min(total, part * step), to = std::min(total, (part + 1) * step);
        std::string &folded = buffers[size_t(part)];
        folded.reserve(size_t(to - from) * 32);
        std::vector<std::pair<qsizetype, qsizetype>> offsets(size_t(to - from), {0, 0});
        for (qsizetype i = from; i < to; ++i) {
            const MediaRecord &record = *m_mediaContainer.at(i);
            Entry &entry = entries[size_t(i)];
            qsizetype keyOffset = 0, nameOffset = 0;
            entry.index = i;
            entry.nameLength = 0;
            switch (code) {
            case OVNMediaViewSorting::SortExtension:
                append(folded, OVNMediaViewSorting::pathExtension(record.field(MediaRecord::DisplayTag)), &keyOffset,
                       &entry.keyLength);
                append(folded, record.field(MediaRecord::DisplayTag), &nameOffset, &entry.nameLength);
                break;
            case OVNMediaViewSorting::SortImportDate:
                append(folded, record.field(MediaRecord::Dts), &keyOffset, &entry.keyLength);
                break;
            case OVNMediaViewSorting::SortFileDate:
                append(folded, record.field(MediaRecord::FileDts), &keyOffset, &entry.keyLength);
                break;
            case OVNMediaViewSorting::SortRating:
                append(folded, record.field(MediaRecord::Rating), &keyOffset, &entry.keyLength);
                break;
            default:
                append(folded, record.field(MediaRecord::DisplayTag), &keyOffset, &entry.keyLength);
                break;
            }
            offsets[size_t(i - from)] = {keyOffset, nameOffset};
        }
        // The buffer is complete: its texts stay where they are from here on.
        for (qsizetype i = from; i < to; ++i) {
            Entry &entry = entries[size_t(i)];
            entry.key = folded.data() + offsets[size_t(i - from)].first;
            entry.name = folded.data() + offsets[size_t(i - from)].second;
            // Most pairs differ within their first four characters: compared as one number,
            // without reaching into the buffers at random.
            quint64 prefix = 0;
            const qsizetype n = std::min<qsizetype>(entry.keyLength, 8);
            for (qsizetype k = 0; k < 8; ++k)
                prefix = (prefix << 8) | (k < n ? quint64(quint8(entry.key[k])) : 0u);
            entry.prefix = prefix;
        }
    };
    {
        std::vector<std::thread> helpers;
        for (int part = 1; part < parts; ++part)
            helpers.emplace_back(foldPart, part);
        foldPart(0);
        for (std::thread &helper : helpers)
            helper.join();
    }
    auto compareSpan = [](const char *a, qsizetype lengthA, const char *b, qsizetype lengthB) {
        const int byBytes = std::memcmp(a, b, size_t(std::min(lengthA, lengthB)));
        if (byBytes != 0)
            return byBytes;
        return lengthA < lengthB ? -1 : (lengthA > lengthB ? 1 : 0);
    };
    auto compare = [&compareSpan](const Entry &a, const Entry &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix ? -1 : 1;
        const int byKey = compareSpan(a.key, a.keyLength, b.key, b.keyLength);
        return byKey != 0 ? byKey : compareSpan(a.name, a.nameLength, b.name, b.nameLength);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        return descending ? compare(b, a) < 0 : compare(a, b) < 0;
    });
    MediaList sorted;
    sorted.reserve(m_mediaContainer.size());
    for (const Entry &entry : entries)
        sorted.append(std::move(m_mediaContainer[entry.index]));
    m_mediaContainer = std::move(sorted);

    // The selection is by row: it follows its items to their new rows, in the order they were
    // selected, so that no later action reaches an item the user did not choose.
    if (!m_selectedRows.empty()) {
        std::vector<int> newRow(entries.size());
        for (size_t at = 0; at < entries.size(); ++at)
            newRow[size_t(entries[at].index)] = int(at);
        for (int &row : m_selectedRows)
            row = newRow[size_t(row)];
        m_selectedMask.assign(size_t(count()), 0);
        for (int row : m_selectedRows)
            m_selectedMask[size_t(row)] = 1;
    }
}

// ---- rows ----

MediaRecordRef OVNMediaView::objectForRow(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    return m_mediaContainer.at(row);
}

QVariant OVNMediaView::mediaObject(const QString &key, int row) const
{
    const MediaRecordRef record = objectForRow(row);
    if (!record)
        return QVariant();
    QMutexLocker draw(&const_cast<OVNMediaView *>(this)->m_drawlock);
    return record->value(key);
}

void OVNMediaView::setMediaObject(const QString &key, const QVariant &value, int row)
{
    const MediaRecordRef record = objectForRow(row);
    if (!record)
        return;
    QMutexLocker draw(&m_drawlock);
    record->insert(key, value);
}

void OVNMediaView::removeMediaObject(const QString &key, int row)
{
    const MediaRecordRef record = objectForRow(row);
    if (!record)
        return;
    QMutexLocker draw(&m_drawlock);
    record->remove(key);
}

QString OVNMediaView::mediaIDForRow(int row) const
{
    const MediaRecordRef record = objectForRow(row);
    return record ? record->field(MediaRecord::Mid) : QStringLiteral("");
}

QString OVNMediaView::entryMIDForRow(int row) const
{
    const MediaRecordRef record = objectForRow(row);
    return record ? record->field(MediaRecord::ImageSetMid) : QStringLiteral("");
}

QString OVNMediaView::filenameForRow(int row) const
{
    const MediaRecordRef record = objectForRow(row);
    return record ? record->field(MediaRecord::AbsolutePath) : QStringLiteral("");
}

int OVNMediaView::rowForFilename(const QString &path) const
{
    for (qsizetype i = 0; i < m_mediaContainer.size(); ++i) {
        const MediaRecord &record = *m_mediaContainer.at(i);
        if (record.hasField(MediaRecord::AbsolutePath) && record.field(MediaRecord::AbsolutePath) == path)
            return int(i);
    }
    return -1;
}

int OVNMediaView::rowForMid(const QString &mid) const
{
    for (qsizetype i = 0; i < m_mediaContainer.size(); ++i) {
        const MediaRecord &record = *m_mediaContainer.at(i);
        if (record.hasField(MediaRecord::Mid) && record.field(MediaRecord::Mid) == mid)
            return int(i);
    }
    return -1;
}

QString OVNMediaView::midForFilename(const QString &path) const
{
    const int row = rowForFilename(path);
    return row < 0 ? QString() : m_mediaContainer.at(row)->field(MediaRecord::Mid);
}

void OVNMediaView::removeObjectAtIndex(int index)
{
    if (index < 0 || index >= count())
        return;
    const MediaRecordRef record = m_mediaContainer.at(index);
    QVariant group;
    {
        QMutexLocker draw(&m_drawlock);
        group = record->value(QStringLiteral("group"));
    }
    removeVisibleRow(index);
    if (m_unfilteredContainer) {
        const qsizetype at = m_unfilteredContainer->indexOf(record);
        if (at >= 0)
            m_unfilteredContainer->removeAt(at);
    }
    {
        QMutexLocker draw(&m_drawlock);
        m_thumbnails.remove(record);
    }
    m_renderedCells.remove(record.get());

    // The visible item of a collapsed stack is its only way back: without it the hidden members
    // could never be shown again. They take its place, the first of them as the new keyframe.
    if (group.isValid() && isGroupCollapsed(group.toInt())) {
        const int members = int(stack(group.toInt())->itemcontainer.size());
        expandGroup(group.toInt(), index - 1);
        if (members > 0) {
            QMutexLocker draw(&m_drawlock);
            m_mediaContainer.at(index)->insert(QStringLiteral("keyframe"), 1);
        }
    }
}

bool OVNMediaView::deleteSelectedRowsWithAutoReload(bool autoReload)
{
    if (!delegateAnswers(OVNMediaViewDelegate::WillDeleteEntry))
        return false;
    QList<int> rows = selectedRows();
    std::sort(rows.begin(), rows.end());
    bool deleted = false;
    // Highest row first: the rows still to come keep their places.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (!m_delegate || !m_delegate->ovnMediaViewWillDeleteEntry(this, *it))
            continue;
        removeObjectAtIndex(*it);
        if (delegateAnswers(OVNMediaViewDelegate::DidDeleteEntry))
            m_delegate->ovnMediaViewDidDeleteEntry(this, *it);
        deleted = true;
    }
    if (deleted) {
        deselectAll();
        resizeFrameToFitMediaContainer();
        notifySelectionDidChange();
        if (autoReload)
            viewport()->update();
    }
    return deleted;
}

void OVNMediaView::removeVisibleRow(int row)
{
    m_mediaContainer.removeAt(row);
    // Rows after the removed one move up by one; the selection follows them.
    if (!m_selectedRows.empty()) {
        std::vector<int> kept;
        kept.reserve(m_selectedRows.size());
        for (int selected : m_selectedRows) {
            if (selected != row)
                kept.push_back(selected > row ? selected - 1 : selected);
        }
        m_selectedRows = std::move(kept);
        m_selectedMask.assign(size_t(count()), 0);
        for (int selected : m_selectedRows)
            m_selectedMask[size_t(selected)] = 1;
    }
}
