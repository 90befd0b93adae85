#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>

// The pages of a printed contact sheet, as pure geometry in points of the scaled page, Qt
// coordinates (y grows downward, each page's printable area starts at 0, 0). The sheet is a fixed
// number of cells per line and as many lines per page as fit; it has nothing to do with the
// screen's layout of the thumbnail view.
//
// Styles: 0 plain, 1 titled, 2 shadowed, 3 shadowed and titled. A titled style widens the gap
// between cells from 5 to 10 and adds a 22 point title band under each picture.
class OVNContactSheetLayout
{
public:
    struct Placement {
        int page = 0; // 0-based
        QRectF cell;  // on that page
    };

    // printable: the page's printable area in points; scale: the print scaling (1 when not
    // positive). Fewer than 1 image per line counts as 1, an unknown style as 0.
    OVNContactSheetLayout(const QSizeF &printable, double scale, int imagesPerLine, int style, int itemCount);

    // The items a sheet shows, as rows of the visible list: every row, or the selected ones in the
    // order they were selected.
    static QList<int> printedRows(int visibleCount, const QList<int> &selectedRows, bool selectionOnly);

    double pageWidth() const { return m_pageWidth; }
    double pageHeight() const { return m_pageHeight; }
    int imagesPerLine() const { return m_perLine; }
    int style() const { return m_style; }
    bool showsTitles() const { return m_style == 1 || m_style == 3; }
    bool castsShadows() const { return m_style == 2 || m_style == 3; }
    // The gap between columns.
    double spacing() const;
    double cellWidth() const;
    double cellHeight() const;
    // At least 1: a line taller than the page still gets a page of its own.
    int linesPerPage() const;
    int lines() const;
    // 0 for an empty sheet.
    int pages() const;
    // Where the index-th printed item goes: lines follow each other without a gap, columns are
    // spacing() apart and the first starts at x 0.
    Placement placement(int index) const;

    // The frame of an image of imageSize inside a cell: the picture, in its proportions, fitted to
    // the cell less its border (and the title band) and centred, plus one point of frame on each
    // side. Empty when the cell has no room.
    QRectF imageFrame(const QRectF &cell, const QSizeF &imageSize) const;
    // The title's line under a picture's frame, inside the cell.
    QRectF titleRect(const QRectF &cell, const QRectF &frame) const;

    static constexpr double border = 4;     // around the picture, inside the cell
    static constexpr double titleBand = 22; // added to a titled cell's height
    static constexpr double titleHeight = 12;

private:
    double m_pageWidth = 0;
    double m_pageHeight = 0;
    int m_perLine = 1;
    int m_style = 0;
    int m_itemCount = 0;
};
