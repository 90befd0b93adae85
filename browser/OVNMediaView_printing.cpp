// The thumbnail view printed as a contact sheet: the sheet's own pages, each thumbnail drawn as a
// picture of its own (a PDF keeps every one at its full resolution).
#include "browser/OVNMediaView.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

void OVNMediaView::setPrintInfo(const QPageLayout &layout, double scale)
{
    m_printInfo = layout;
    m_printScale = scale > 0 ? scale : 1;
}

QList<int> OVNMediaView::printedRows() const
{
    QList<int> rows =
        OVNContactSheetLayout::printedRows(m_hasVisibleList ? count() : 0, selectedRows(), m_printSelectionOnly);
    if (!m_printLeftOut.isEmpty())
        rows.removeIf([this](int row) { return m_printLeftOut.contains(mediaIDForRow(row)); });
    return rows;
}

OVNContactSheetLayout OVNMediaView::contactSheetLayout() const
{
    return OVNContactSheetLayout(m_printInfo.paintRect(QPageLayout::Point).size(), m_printScale, m_printImagesPerLine,
                                 m_printImagesStyle, int(printedRows().size()));
}

void OVNMediaView::drawContactSheetPage(QPainter &painter, const OVNContactSheetLayout &layout, const QList<int> &rows,
                                        int page)
{
    const int perPage = layout.linesPerPage() * layout.imagesPerLine();
    const qsizetype first = qsizetype(page) * perPage;
    const qsizetype end = std::min<qsizetype>(rows.size(), first + perPage);
    if (page < 0 || first >= end)
        return;
    const NTTextAttributes &tag = m_textAttributes.printTag;
    const QFontMetricsF metrics(tag.font);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_thumbnailQuality > 0);
    painter.setFont(tag.font);
    for (qsizetype index = first; index < end; ++index) {
        const int row = rows.at(index);
        const QRectF cell = layout.placement(int(index)).cell;
        // The whole stored thumbnail, never the picture fitted to the screen's cell.
        const QImage image = imageForRow(row);
        if (image.isNull())
            continue;
        const QRectF frame = layout.imageFrame(cell, image.size());
        if (frame.isEmpty())
            continue;
        if (layout.castsShadows()) {
            // A soft drop shadow down and to the right, in a few widening steps.
            for (int step = 2; step >= 0; --step)
                painter.fillRect(frame.translated(2, 2).adjusted(-step, -step, step, step), QColor(64, 64, 64, 40));
        }
        painter.fillRect(frame, Qt::darkGray);
        painter.drawImage(frame.adjusted(1, 1, -1, -1), image);
        if (layout.showsTitles()) {
            const QRectF title = layout.titleRect(cell, frame);
            const QString text = m_mediaContainer.at(row)->field(MediaRecord::DisplayTag);
            painter.setPen(tag.foregroundColor.value_or(Qt::black));
            painter.drawText(title, int(tag.alignment | Qt::AlignTop),
                             metrics.elidedText(text, Qt::ElideMiddle, title.width()));
        }
    }
    painter.restore();
}

bool OVNMediaView::printContactSheet(QPagedPaintDevice &device)
{
    // The pages are those of the paper the device prints on now (the print panel may have
    // changed it since the options were shown).
    setPrintInfo(device.pageLayout(), m_printScale);
    const QList<int> rows = printedRows();
    const OVNContactSheetLayout layout = contactSheetLayout();
    if (layout.pages() == 0)
        return false;
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    // Points of the scaled page, from the printable area's top left.
    const double pointsToDevice = device.logicalDpiX() / 72.0 * m_printScale;
    for (int page = 0; page < layout.pages(); ++page) {
        if (page > 0 && !device.newPage())
            break;
        painter.resetTransform();
        painter.scale(pointsToDevice, device.logicalDpiY() / 72.0 * m_printScale);
        drawContactSheetPage(painter, layout, rows, page);
    }
    return painter.end();
}
