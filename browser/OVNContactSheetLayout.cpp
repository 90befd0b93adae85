#include "browser/OVNContactSheetLayout.h"

#include <algorithm>
#include <cmath>

OVNContactSheetLayout::OVNContactSheetLayout(const QSizeF &printable, double scale, int imagesPerLine, int style,
                                             int itemCount)
    : m_perLine(std::max(1, imagesPerLine)),
      m_style(style >= 0 && style <= 3 ? style : 0),
      m_itemCount(std::max(0, itemCount))
{
    const double factor = scale > 0 ? scale : 1;
    m_pageWidth = std::max(0.0, printable.width()) / factor;
    m_pageHeight = std::max(0.0, printable.height()) / factor;
}

QList<int> OVNContactSheetLayout::printedRows(int visibleCount, const QList<int> &selectedRows, bool selectionOnly)
{
    QList<int> rows;
    if (selectionOnly) {
        for (int row : selectedRows) {
            if (row >= 0 && row < visibleCount)
                rows.append(row);
        }
        return rows;
    }
    rows.reserve(std::max(0, visibleCount));
    for (int row = 0; row < visibleCount; ++row)
        rows.append(row);
    return rows;
}

double OVNContactSheetLayout::spacing() const { return showsTitles() ? 10 : 5; }

double OVNContactSheetLayout::cellWidth() const { return std::ceil(m_pageWidth / m_perLine) - spacing(); }

double OVNContactSheetLayout::cellHeight() const { return cellWidth() + (showsTitles() ? titleBand : 0); }

int OVNContactSheetLayout::linesPerPage() const
{
    // The gap under each line is counted here but left at the page's bottom when drawing.
    const double line = cellHeight() + spacing();
    if (line <= 0)
        return 1;
    return std::max(1, int(std::floor(m_pageHeight / line)));
}

int OVNContactSheetLayout::lines() const { return (m_itemCount + m_perLine - 1) / m_perLine; }

int OVNContactSheetLayout::pages() const
{
    const int perPage = linesPerPage();
    return (lines() + perPage - 1) / perPage;
}

OVNContactSheetLayout::Placement OVNContactSheetLayout::placement(int index) const
{
    const int line = index / m_perLine;
    const int column = index - line * m_perLine;
    const int page = line / linesPerPage();
    const int lineOnPage = line - page * linesPerPage();
    const double width = cellWidth();
    const double height = cellHeight();
    return {page, QRectF((width + spacing()) * column, lineOnPage * height, width, height)};
}

QRectF OVNContactSheetLayout::imageFrame(const QRectF &cell, const QSizeF &imageSize) const
{
    const double areaWidth = cell.width() - 2 * border - 2;
    const double areaHeight = cell.height() - 2 * border - 2 - (showsTitles() ? titleHeight + spacing() : 0);
    // The picture inside its one-point frame keeps its proportions exactly: padding rounded to
    // whole points would squeeze a small cell's picture by a few per cent.
    const double innerWidth = areaWidth - 2;
    const double innerHeight = areaHeight - 2;
    if (innerWidth <= 0 || innerHeight <= 0 || imageSize.width() <= 0 || imageSize.height() <= 0)
        return QRectF();
    const double factor = std::min(innerWidth / imageSize.width(), innerHeight / imageSize.height());
    const double width = factor * imageSize.width() + 2;
    const double height = factor * imageSize.height() + 2;
    return QRectF(cell.x() + border + 1 + (areaWidth - width) / 2, cell.y() + border + 1 + (areaHeight - height) / 2,
                  width, height);
}

QRectF OVNContactSheetLayout::titleRect(const QRectF &cell, const QRectF &frame) const
{
    return QRectF(cell.x() + border + 1, frame.bottom() + spacing() - 1, cell.width() - 2 * border - 2, titleHeight);
}
