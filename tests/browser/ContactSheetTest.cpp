// The printed contact sheet: its pages and cells, the items it shows, and what the view draws and
// prints from them; and deleting the selected rows through the delegate.
#include "MediaViewTestSupport.h"

#include "browser/OVNContactSheetLayout.h"

#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct SheetCase {
    const char *name;
    QSizeF page;
    double scale;
    int perLine;
    int style;
    int visible;
    QList<int> selection;
    bool selectionOnly;
    // expected
    QList<int> rows;
    double spacing, cellWidth, cellHeight;
    int linesPerPage, pages;
    int probe; // an index whose placement is checked (-1: none)
    int probePage;
    QRectF probeCell;
};

QList<int> range(int count)
{
    QList<int> rows;
    for (int i = 0; i < count; ++i)
        rows.append(i);
    return rows;
}

} // namespace

TEST(ContactSheetLayout, PagesCellsAndPlacements)
{
    const QSizeF page(540, 400);
    const SheetCase cases[] = {
        // 4 lines fit; 13 items make 3 lines on one page, the third holding one cell at x 0.
        {"13 items, 6 per line", page, 1, 6, 0, 13, {}, false, range(13), 5, 85, 85, 4, 1, 12, 0, {0, 170, 85, 85}},
        {"titled", page, 1, 6, 1, 13, {}, false, range(13), 10, 80, 102, 3, 1, 7, 0, {90, 102, 80, 102}},
        {"shadowed and titled", page, 1, 6, 3, 13, {}, false, range(13), 10, 80, 102, 3, 1, -1, 0, {}},
        {"shadowed", page, 1, 6, 2, 13, {}, false, range(13), 5, 85, 85, 4, 1, -1, 0, {}},
        {"unknown style is plain", page, 1, 6, 7, 13, {}, false, range(13), 5, 85, 85, 4, 1, -1, 0, {}},
        // The selection, in the order it was made, fills the first cells.
        {"selection 9, 2, 5", page, 1, 6, 0, 13, {9, 2, 5}, true, {9, 2, 5}, 5, 85, 85, 4, 1, 2, 0, {180, 0, 85, 85}},
        {"the selection is ignored without selection-only",
         page,
         1,
         6,
         0,
         3,
         {2},
         false,
         range(3),
         5,
         85,
         85,
         4,
         1,
         -1,
         0,
         {}},
        {"five selected at five per line",
         page,
         1,
         5,
         0,
         13,
         {1, 3, 5, 7, 9},
         true,
         {1, 3, 5, 7, 9},
         5,
         103,
         103,
         3,
         1,
         4,
         0,
         {432, 0, 103, 103}},
        {"rows outside the list are not printed", page, 1, 6, 0, 5, {9, 2}, true, {2}, 5, 85, 85, 4, 1, -1, 0, {}},
        {"empty list", page, 1, 6, 0, 0, {}, false, {}, 5, 85, 85, 4, 0, -1, 0, {}},
        {"empty selection", page, 1, 6, 0, 13, {}, true, {}, 5, 85, 85, 4, 0, -1, 0, {}},
        // Two lines a page: the third line starts the second page at its top.
        {"second page", QSizeF(540, 200), 1, 6, 0, 13, {}, false, range(13), 5, 85, 85, 2, 2, 12, 1, {0, 0, 85, 85}},
        {"a line taller than the page",
         QSizeF(540, 50),
         1,
         6,
         0,
         13,
         {},
         false,
         range(13),
         5,
         85,
         85,
         1,
         3,
         6,
         1,
         {0, 0, 85, 85}},
        {"fewer than one per line", page, 1, 0, 0, 3, {}, false, range(3), 5, 535, 535, 1, 3, 2, 2, {0, 0, 535, 535}},
        {"scaled page", QSizeF(1080, 800), 2, 6, 0, 13, {}, false, range(13), 5, 85, 85, 4, 1, -1, 0, {}},
        {"no scale", page, 0, 6, 0, 13, {}, false, range(13), 5, 85, 85, 4, 1, -1, 0, {}},
        {"negative scale", page, -2, 6, 0, 13, {}, false, range(13), 5, 85, 85, 4, 1, -1, 0, {}},
    };
    for (const SheetCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QList<int> rows = OVNContactSheetLayout::printedRows(c.visible, c.selection, c.selectionOnly);
        EXPECT_EQ(rows, c.rows);
        const OVNContactSheetLayout layout(c.page, c.scale, c.perLine, c.style, int(rows.size()));
        EXPECT_EQ(layout.spacing(), c.spacing);
        EXPECT_EQ(layout.cellWidth(), c.cellWidth);
        EXPECT_EQ(layout.cellHeight(), c.cellHeight);
        EXPECT_EQ(layout.linesPerPage(), c.linesPerPage);
        EXPECT_EQ(layout.pages(), c.pages);
        if (c.probe >= 0) {
            const OVNContactSheetLayout::Placement placement = layout.placement(c.probe);
            EXPECT_EQ(placement.page, c.probePage);
            EXPECT_EQ(placement.cell, c.probeCell);
        }
        // Every picture keeps its proportions and, with its title, stays inside its cell.
        const QRectF cell = layout.placement(0).cell;
        for (const QSizeF image : {QSizeF(256, 192), QSizeF(192, 256), QSizeF(400, 40)}) {
            const QRectF frame = layout.imageFrame(cell, image);
            ASSERT_FALSE(frame.isEmpty());
            EXPECT_NEAR((frame.width() - 2) / (frame.height() - 2), image.width() / image.height(), 1e-9);
            EXPECT_TRUE(cell.contains(frame));
            if (layout.showsTitles()) {
                EXPECT_TRUE(cell.contains(layout.titleRect(cell, frame)));
            }
        }
    }
    // A cell too small for a picture has none.
    EXPECT_TRUE(OVNContactSheetLayout(page, 1, 200, 0, 1).imageFrame(QRectF(0, 0, 8, 8), QSizeF(10, 10)).isEmpty());
}

namespace {

QByteArray pictureOf(QColor color)
{
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// Thumbnails by id: id "bad" answers bytes that are no picture; deletes refuse the rows listed.
class SheetDelegate : public OVNMediaViewDelegate
{
public:
    Capabilities capabilities() const override
    {
        return ThumbnailData | SelectionDidChange | WillDeleteEntry | DidDeleteEntry;
    }
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *, const QString &mediaId) override
    {
        if (mediaId == QLatin1String("bad"))
            return QByteArray("not a picture");
        return pictureOf(QColor::fromHsv(mediaId.toInt() * 30 % 360, 255, 255));
    }
    void ovnMediaViewSelectionDidChange(OVNMediaView *) override { ++selectionChanges; }
    bool ovnMediaViewWillDeleteEntry(OVNMediaView *, int row) override
    {
        asked.append(row);
        return !refused.contains(row);
    }
    void ovnMediaViewDidDeleteEntry(OVNMediaView *, int row) override { deleted.append(row); }

    int selectionChanges = 0;
    QList<int> refused, asked, deleted;
};

} // namespace

TEST(ContactSheetPrinting, DrawsEachThumbnailAndLeavesAnUnreadableOneBlank)
{
    SheetDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    auto list = std::make_shared<MediaList>();
    for (const char *mid : {"1", "bad", "3", "4"})
        list->append(makeRecord(QStringLiteral("IMG_%1.jpg").arg(QLatin1String(mid)), QLatin1String(mid)));
    view.setMediaContainer(list);
    view.setPrintInfo(QPageLayout(QPageSize(QSizeF(540, 400), QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
    view.selectImage(3);
    view.selectImage(0, false);
    view.setPrintSelectionOnly(false);

    QImage page(540, 400, QImage::Format_RGB32);
    const auto render = [&] {
        page.fill(Qt::white);
        QPainter painter(&page);
        view.drawContactSheetPage(painter, view.contactSheetLayout(), view.printedRows(), 0);
    };
    const auto centreOfCell = [&](int index) {
        return page.pixelColor(view.contactSheetLayout().placement(index).cell.center().toPoint());
    };
    render();
    EXPECT_NEAR(centreOfCell(0).hue(), 30, 2);
    EXPECT_EQ(centreOfCell(1), QColor(Qt::white));
    EXPECT_NEAR(centreOfCell(2).hue(), 90, 2);

    // Selection only: row 3, then row 0.
    view.setPrintSelectionOnly(true);
    render();
    EXPECT_NEAR(centreOfCell(0).hue(), 120, 2);
    EXPECT_NEAR(centreOfCell(1).hue(), 30, 2);
    EXPECT_EQ(view.printPageCount(), 1);

    // Into a PDF: one page; an empty sheet starts no job and leaves no file.
    QTemporaryDir dir;
    {
        QPdfWriter pdf(dir.filePath(QStringLiteral("sheet.pdf")));
        EXPECT_TRUE(view.printContactSheet(pdf));
    }
    EXPECT_GT(QFileInfo(dir.filePath(QStringLiteral("sheet.pdf"))).size(), 0);
    view.deselectAll();
    {
        QPdfWriter pdf(dir.filePath(QStringLiteral("empty.pdf")));
        EXPECT_FALSE(view.printContactSheet(pdf));
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("empty.pdf"))));
}

TEST(MediaViewDeleting, SelectedRowsGoHighestFirstAndARefusedOneStays)
{
    SheetDelegate delegate;
    delegate.refused = {4};
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setMediaContainer(makeList(6));
    for (int row : {1, 4, 3})
        view.selectImage(row, false);
    EXPECT_TRUE(view.deleteSelectedRowsWithAutoReload(true));
    EXPECT_EQ(delegate.asked, QList<int>({4, 3, 1}));
    EXPECT_EQ(delegate.deleted, QList<int>({3, 1}));
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"IMG_0.jpg", "IMG_2.jpg", "IMG_4.jpg", "IMG_5.jpg"}));
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    EXPECT_EQ(delegate.selectionChanges, 1);

    // Nothing deleted: the selection stays and nobody is told.
    delegate.refused = {0};
    view.selectImage(0);
    EXPECT_FALSE(view.deleteSelectedRowsWithAutoReload(true));
    EXPECT_EQ(view.count(), 4);
    EXPECT_EQ(view.numberOfSelectedRows(), 1);
    EXPECT_EQ(delegate.selectionChanges, 1);
}
