// The pane headers' grips and the frozen pane sizes.
#include "app/OVNAssetManager.h"

#include "app/OVNPaneGeometry.h"
#include "uikit/NTPopUpHeaderViewCell.h"
#include "uikit/OVNSplitView.h"

#include <QResizeEvent>

void OVNAssetManager::headerCellResizeViewByWidth(NTPopUpHeaderViewCell *cell, float delta)
{
    if (!cell || !m_state.splitterMedia || m_state.splitterMedia->count() != 3)
        return;
    const QList<int> sizes = m_state.splitterMedia->sizes();
    const double divider = m_state.splitterMedia->handleWidth();
    const double width = sizes.at(0) + sizes.at(1) + sizes.at(2) + 2 * divider;
    const OVNPaneGeometry::Columns now{double(sizes.at(0)), double(sizes.at(1)), double(sizes.at(2))};
    const OVNPaneGeometry::Columns next = OVNPaneGeometry::afterWidthGrip(now, width, divider, cell->tag(), delta);
    if (next == now)
        return;
    m_state.splitterMedia->setSizes({qRound(next.w0), qRound(next.w1), qRound(next.w2)});
    recordFrozenSizes();
}

void OVNAssetManager::headerCellResizeViewByHeight(NTPopUpHeaderViewCell *cell, float delta)
{
    if (!cell || !m_state.splitterPreview || m_state.splitterPreview->count() != 2)
        return;
    const QList<int> sizes = m_state.splitterPreview->sizes();
    const double divider = m_state.splitterPreview->handleWidth();
    const double height = sizes.at(0) + sizes.at(1) + divider;
    const OVNPaneGeometry::Rows now{double(sizes.at(0)), double(sizes.at(1))};
    const OVNPaneGeometry::Rows next = OVNPaneGeometry::afterHeightGrip(now, height, divider, cell->tag(), delta);
    if (next == now)
        return;
    m_state.splitterPreview->setSizes({qRound(next.h0), qRound(next.h1)});
    recordFrozenSizes();
}

void OVNAssetManager::recordFrozenSizes()
{
    if (m_state.splitterMedia && m_state.splitterMedia->count() == 3) {
        const QList<int> sizes = m_state.splitterMedia->sizes();
        m_frozenFrame1Width = float(sizes.at(0));
        m_frozenFrame2Width = float(sizes.at(1));
    }
    if (m_state.splitterPreview && m_state.splitterPreview->count() == 2 && m_state.splitterPreview->isVisible()) {
        // A collapsed row keeps the preview height it had for when it opens again.
        const QList<int> rows = m_state.splitterPreview->sizes();
        if (rows.at(0) > 0 && rows.at(1) > 0)
            m_frozenVFrame1Height = float(rows.at(0));
    }
}

void OVNAssetManager::restoreSplitterToFrozenPositions()
{
    // Measured from the split views themselves: before the first layout their panes have no sizes yet.
    if (m_state.splitterMedia && m_state.splitterMedia->count() == 3 && m_state.splitterMedia->width() > 0) {
        const double divider = m_state.splitterMedia->handleWidth();
        const double width = m_state.splitterMedia->width();
        if (isMediaInfoCollapsed()) {
            // The right column is folded away: only the outline keeps its width.
            const double room = std::max(0.0, width - divider);
            const double outline = std::clamp(double(m_frozenFrame1Width), 0.0, room);
            m_state.splitterMedia->setSizes({qRound(outline), qRound(room - outline), 0});
        } else {
            const OVNPaneGeometry::Columns c =
                OVNPaneGeometry::restoredColumns(m_frozenFrame1Width, m_frozenFrame2Width, width, divider);
            m_state.splitterMedia->setSizes({qRound(c.w0), qRound(c.w1), qRound(c.w2)});
        }
    }
    if (m_state.splitterPreview && m_state.splitterPreview->count() == 2 && m_state.splitterPreview->isVisible()
        && m_state.splitterPreview->height() > 0) {
        const double divider = m_state.splitterPreview->handleWidth();
        const QList<int> rows = m_state.splitterPreview->sizes();
        // A collapsed row stays collapsed; the other fills the column.
        const OVNPaneGeometry::Rows r =
            rows.at(0) == 0 || rows.at(1) == 0
                ? OVNPaneGeometry::resizedRows({double(rows.at(0)), double(rows.at(1))},
                                               m_state.splitterPreview->height(), divider)
                : OVNPaneGeometry::restoredRows(m_frozenVFrame1Height, m_state.splitterPreview->height(), divider);
        m_state.splitterPreview->setSizes({qRound(r.h0), qRound(r.h1)});
    }
}

// The splitters have already spread the new size by then (layouts run before the window's own
// handler); putting the frozen sizes back keeps the user's panes as they left them.
void OVNAssetManager::resizeEvent(QResizeEvent *event)
{
    PolishedWindow::resizeEvent(event);
    if (isVisible() && (m_frozenFrame1Width > 0 || m_frozenFrame2Width > 0))
        restoreSplitterToFrozenPositions();
}
