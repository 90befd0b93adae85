// The thumbnail view's stacks: items grouped behind a keyframe that collapse and expand in place.
#include "browser/OVNMediaView.h"

#include "browser/OVNMediaViewSorting.h"

namespace {
const QString keyGroup = QStringLiteral("group");
const QString keyKeyframe = QStringLiteral("keyframe");

int groupOf(const MediaRecord &record)
{
    const QVariant value = record.value(keyGroup);
    return value.isValid() ? value.toInt() : -1;
}
} // namespace

QSet<const MediaRecord *> OVNMediaView::hiddenStackMembers() const
{
    QSet<const MediaRecord *> hidden;
    for (const StackRecord &stack : m_groupContainer) {
        if (stack.state == 1) {
            for (const MediaRecordRef &record : stack.itemcontainer)
                hidden.insert(record.get());
        }
    }
    return hidden;
}

const OVNMediaView::StackRecord *OVNMediaView::stack(int group) const
{
    const auto it = m_groupContainer.constFind(group);
    return it == m_groupContainer.constEnd() ? nullptr : &it.value();
}

int OVNMediaView::createGroupWithItems(const QList<int> &rows)
{
    const int id = m_groupid++;
    StackRecord stack;
    stack.title = QStringLiteral("Group %1").arg(id);
    m_groupContainer.insert(id, stack);
    bool first = true;
    QMutexLocker draw(&m_drawlock);
    for (int row : rows) {
        if (row < 0 || row >= count())
            continue;
        MediaRecord &record = *m_mediaContainer.at(row);
        record.insert(keyGroup, id);
        if (first) {
            record.insert(keyKeyframe, 1);
            first = false;
        }
    }
    draw.unlock();
    viewport()->update();
    return id;
}

int OVNMediaView::createGroupWithSelection() { return createGroupWithItems(selectedRows()); }

bool OVNMediaView::isGroupCollapsed(int group) const
{
    const StackRecord *found = stack(group);
    return found && found->state == 1;
}

int OVNMediaView::selectedGroup() const
{
    // One item of a stack, or several that all belong to the same one.
    if (m_groupContainer.isEmpty() || numberOfSelectedRows() == 0)
        return -1;
    int group = -1;
    QMutexLocker draw(&const_cast<OVNMediaView *>(this)->m_drawlock);
    for (int row : selectedRows()) {
        const MediaRecordRef record = row >= 0 && row < m_mediaContainer.size() ? m_mediaContainer.at(row) : nullptr;
        const int own = record ? groupOf(*record) : -1;
        if (own < 0 || (group >= 0 && own != group))
            return -1;
        group = own;
    }
    return group;
}

void OVNMediaView::collapseGroup(int group, int keyframeRow)
{
    const auto it = m_groupContainer.find(group);
    if (it == m_groupContainer.end())
        return;
    // Rows are about to move: a selection by row would point at other items.
    deselectAll();
    MediaList collected;
    MediaList remaining;
    remaining.reserve(m_mediaContainer.size());
    {
        QMutexLocker draw(&m_drawlock);
        for (qsizetype row = 0; row < m_mediaContainer.size(); ++row) {
            const MediaRecordRef &record = m_mediaContainer.at(row);
            if (row != keyframeRow && groupOf(*record) == group) {
                record->remove(keyKeyframe);
                collected.append(record);
            } else {
                remaining.append(record);
            }
        }
        if (keyframeRow >= 0 && keyframeRow < count())
            m_mediaContainer.at(keyframeRow)->insert(keyKeyframe, 1);
    }
    it->state = 1;
    it->collapseditems = int(collected.size());
    it->itemcontainer = std::move(collected);
    m_mediaContainer = std::move(remaining);
    viewport()->update();
}

void OVNMediaView::expandGroup(int group, int afterRow)
{
    const auto it = m_groupContainer.find(group);
    if (it == m_groupContainer.end())
        return;
    deselectAll();
    const int at = std::clamp(afterRow + 1, 0, count());
    m_mediaContainer.insert(at, it->itemcontainer.size(), MediaRecordRef());
    for (qsizetype i = 0; i < it->itemcontainer.size(); ++i)
        m_mediaContainer[at + i] = it->itemcontainer.at(i);
    it->state = 0;
    it->collapseditems = 0;
    it->itemcontainer.clear();
    viewport()->update();
}

void OVNMediaView::ungroupSelection()
{
    const int group = selectedGroup();
    if (group < 0 || !m_groupContainer.contains(group))
        return;
    if (isGroupCollapsed(group))
        expandGroup(group, selectedRows().value(0));
    {
        QMutexLocker draw(&m_drawlock);
        for (const MediaRecordRef &record : std::as_const(m_mediaContainer)) {
            if (groupOf(*record) == group) {
                record->remove(keyGroup);
                record->remove(keyKeyframe);
            }
        }
    }
    m_groupContainer.remove(group);
    viewport()->update();
}

void OVNMediaView::scrollGroupToVisible(int group)
{
    QMutexLocker draw(&m_drawlock);
    for (qsizetype row = 0; row < m_mediaContainer.size(); ++row) {
        if (groupOf(*m_mediaContainer.at(row)) == group) {
            draw.unlock();
            setNeedsDisplayForRow(int(row));
            scrollRowToVisible(int(row));
            return;
        }
    }
}

void OVNMediaView::createGroupsWithCurrentSorting()
{
    const int code = m_viewOrderBy >= OVNMediaViewSorting::descendingFlag
                         ? m_viewOrderBy - OVNMediaViewSorting::descendingFlag
                         : m_viewOrderBy;
    QList<QList<int>> runs;
    QList<int> open;
    int anchor = -1;
    QString anchorKey;
    bool anchorHasKey = false;
    for (int row = 0; row < count(); ++row) {
        QString key;
        const bool hasKey = OVNMediaViewSorting::groupKey(*m_mediaContainer.at(row), code, &key);
        if (anchor >= 0 && anchorHasKey && hasKey && key == anchorKey) {
            if (open.isEmpty())
                open.append(anchor);
            open.append(row);
            continue;
        }
        if (!open.isEmpty()) {
            runs.append(open);
            open.clear();
        }
        anchor = row;
        anchorKey = key;
        anchorHasKey = hasKey;
    }
    if (!open.isEmpty())
        runs.append(open);
    // From the last run back, so that collapsing one keeps the rows of the earlier ones valid.
    for (qsizetype i = runs.size() - 1; i >= 0; --i) {
        const int id = createGroupWithItems(runs.at(i));
        collapseGroup(id, runs.at(i).first());
    }
}
