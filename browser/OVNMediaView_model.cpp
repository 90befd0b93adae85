// The thumbnail view's lists: the container, filtering, sorting and the row accessors.
#include "browser/OVNMediaView.h"

#include "browser/OVNMediaViewSorting.h"

#include <QScrollBar>

#include <algorithm>

namespace {
const QString keyMid = QStringLiteral("mid");
}

void OVNMediaView::installContainer(const MediaListRef &list)
{
    deselectAll();
    if (!list) {
        QMutexLocker scan(&m_scanlock);
        m_unfilteredContainer.reset();
        m_mediaContainer.clear();
        m_hasVisibleList = false;
        m_decoded.clear();
        resizeFrameToFitMediaContainer();
        viewport()->update();
        return;
    }
    m_unfilteredContainer = list;
    m_mediaContainer.clear();
    m_hasVisibleList = false;
    setFilter(QString(), QString());
}

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
        m_mediaContainer.reserve(all.size());
        for (const MediaRecordRef &record : all) {
            if (!record || (!hidden.isEmpty() && hidden.contains(record.get())))
                continue;
            if (filter.isEmpty() || OVNMediaViewSorting::recordMatchesFilter(*record, filter, key))
                m_mediaContainer.append(record);
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

    // The keys are folded once per record, so the comparisons compare plain strings.
    struct Entry {
        QString key;
        QString name;
        qsizetype index;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(m_mediaContainer.size()));
    for (qsizetype i = 0; i < m_mediaContainer.size(); ++i) {
        const MediaRecord &record = *m_mediaContainer.at(i);
        entries.push_back({OVNMediaViewSorting::sortKey(record, code),
                           code == OVNMediaViewSorting::SortExtension ? OVNMediaViewSorting::sortKeyForName(record)
                                                                      : QString(),
                           i});
    }
    auto compare = [](const Entry &a, const Entry &b) {
        const int byKey = QString::compare(a.key, b.key);
        return byKey != 0 ? byKey : QString::compare(a.name, b.name);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        return descending ? compare(b, a) < 0 : compare(a, b) < 0;
    });
    MediaList sorted;
    sorted.reserve(m_mediaContainer.size());
    for (const Entry &entry : entries)
        sorted.append(m_mediaContainer.at(entry.index));
    m_mediaContainer = std::move(sorted);
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
    removeVisibleRow(index);
    if (m_unfilteredContainer) {
        const qsizetype at = m_unfilteredContainer->indexOf(record);
        if (at >= 0)
            m_unfilteredContainer->removeAt(at);
    }
    m_decoded.remove(record.get());
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
