#include "uikit/DrawingKit.h"
#include "uikit/OVNImageAndTextCell.h"
#include "uikit/OVNTransparentView.h"
#include "uikit/OVNTransparentWindow.h"
#include "RenderHelpers.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

namespace {
QImage solidImage(int w, int h, const QColor &color = Qt::red)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}
} // namespace

TEST(OVNImageAndTextCellTest, ControlSizesAndIconScaling)
{
    EXPECT_FLOAT_EQ(OVNImageAndTextCell::controlHeightForControlSize(0), 16.0f);
    EXPECT_FLOAT_EQ(OVNImageAndTextCell::controlHeightForControlSize(1), 12.0f);
    EXPECT_FLOAT_EQ(OVNImageAndTextCell::controlHeightForControlSize(2), 10.0f);
    EXPECT_FLOAT_EQ(OVNImageAndTextCell::controlHeightForControlSize(24), 24.0f);
    EXPECT_FLOAT_EQ(OVNImageAndTextCell::controlHeightForControlSize(3), 16.0f);

    OVNImageAndTextCell cell;
    cell.setControlSize(0);
    cell.setImage(solidImage(128, 128));
    EXPECT_EQ(cell.imageSize(), QSizeF(16, 16));
    cell.setImage(solidImage(64, 32));
    EXPECT_EQ(cell.imageSize(), QSizeF(32, 16));
    cell.setControlSize(24);
    cell.setImage(solidImage(48, 48));
    EXPECT_EQ(cell.imageSize(), QSizeF(24, 24));
    // The same image again changes nothing, even after the icon height changed.
    const QImage same = solidImage(10, 10);
    cell.setImage(same);
    cell.setControlSize(0);
    cell.setImage(same);
    EXPECT_EQ(cell.imageSize(), QSizeF(24, 24));
    cell.setImage(QImage());
    EXPECT_FALSE(cell.hasImage());
}

TEST(OVNImageAndTextCellTest, IconBeforeAnyControlSizeIsEmpty)
{
    OVNImageAndTextCell cell;
    cell.setImage(solidImage(20, 20));
    EXPECT_TRUE(cell.hasImage());
    EXPECT_EQ(cell.imageSize().height(), 0);
    const QRectF frame(0, 0, 100, 18);
    EXPECT_DOUBLE_EQ(OVNImageAndTextCell::textFrameForCellFrame(frame, true, cell.imageSize()).x(), 5.0);
}

TEST(OVNImageAndTextCellTest, FramesForIconTextAndEditor)
{
    const QRectF frame(10, 20, 200, 20);
    const QSizeF icon(16, 16);
    EXPECT_EQ(OVNImageAndTextCell::imageFrameForCellFrame(frame, true, icon), QRectF(13, 22, 16, 16));
    EXPECT_EQ(OVNImageAndTextCell::imageFrameForCellFrame(frame, false, icon), QRectF());
    EXPECT_EQ(OVNImageAndTextCell::iconDrawRect(QRectF(0, 0, 100, 21), icon), QRectF(3, 3, 16, 16));
    EXPECT_EQ(OVNImageAndTextCell::textFrameForCellFrame(frame, true, icon), QRectF(31, 20, 181, 20));
    EXPECT_DOUBLE_EQ(OVNImageAndTextCell::editFrameForCellFrame(frame, true, icon).x(), 10 + 21);
    EXPECT_DOUBLE_EQ(OVNImageAndTextCell::editFrameForCellFrame(frame, false, icon).x(), 10 + 2);
    EXPECT_DOUBLE_EQ(OVNImageAndTextCell::cellSizeFor(QSizeF(50, 18), true, icon).width(), 50 + 19);
    EXPECT_DOUBLE_EQ(OVNImageAndTextCell::cellSizeFor(QSizeF(50, 18), false, icon).width(), 53);
    EXPECT_EQ(OVNImageAndTextCell::centeredTextRect(QRectF(0, 0, 50, 20), 15), QRectF(0, 3, 50, 20));
}

TEST(OVNImageAndTextCellTest, EditorStartsRightOfTheRowIcon)
{
    QStandardItemModel model;
    auto *item = new QStandardItem(QStringLiteral("Projects"));
    item->setData(solidImage(32, 32), Qt::DecorationRole);
    model.appendRow(item);
    OVNImageAndTextCell cell;
    cell.setControlSize(0);
    QLineEdit editor;
    QStyleOptionViewItem option;
    option.rect = QRect(40, 0, 200, 20);
    cell.updateEditorGeometry(&editor, option, model.index(0, 0));
    EXPECT_EQ(editor.geometry().x(), 40 + 21);
}

TEST(OVNImageAndTextCellTest, HighlightedTextIsWhite)
{
    OVNImageAndTextCell cell;
    cell.setTextColor(QColor(Qt::red));
    cell.setFont(DrawingKit::pixelFont(14, true));
    auto countColour = [](const QImage &image, auto predicate) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += predicate(QColor::fromRgba(image.pixel(x, y))) ? 1 : 0;
        return n;
    };
    QImage image(120, 20, QImage::Format_ARGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        cell.drawInteriorWithFrame(painter, QRectF(0, 0, 120, 20), QStringLiteral("MMMM"), true);
    }
    EXPECT_GT(countColour(image, [](const QColor &c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }),
              10);
    EXPECT_EQ(countColour(image, [](const QColor &c) { return c.red() > 100 && c.green() < 50; }), 0);
    cell.setTextColor(QColor());
    EXPECT_EQ(cell.textColor(), DrawingKit::controlTextColor());
}

TEST(OVNTransparentWindowTest, PressInTheCornerResizes)
{
    const QSizeF size(300, 200);
    // (W - 10, 10) in y-up window coordinates is (W - 10, H - 10) here.
    EXPECT_TRUE(OVNTransparentWindow::isResizePress(QPointF(290, 190), size));
    EXPECT_FALSE(OVNTransparentWindow::isResizePress(QPointF(284, 190), size));
    EXPECT_FALSE(OVNTransparentWindow::isResizePress(QPointF(290, 184), size));
    EXPECT_EQ(OVNTransparentWindow::dragOffsetFor(QPointF(290, 190), size), QSizeF(10, 10));
}

TEST(OVNTransparentWindowTest, ResizeKeepsTheTopLeftAndTheLimits)
{
    const QRectF frame(100, 100, 300, 200);
    const QSizeF offset(10, 10);
    // Width follows the cursor; height too while above 150.
    EXPECT_EQ(OVNTransparentWindow::resizedFrame(QPointF(420, 330), offset, frame), QRectF(100, 100, 330, 240));
    // Dragged left until the width would be 120: 150.
    EXPECT_DOUBLE_EQ(OVNTransparentWindow::resizedFrame(QPointF(210, 330), offset, frame).width(), 150);
    // Dragged up until the height would be 150 or less: the height stays, the width still follows.
    const QRectF tooLow = OVNTransparentWindow::resizedFrame(QPointF(350, 240), offset, frame);
    EXPECT_DOUBLE_EQ(tooLow.height(), 200);
    EXPECT_DOUBLE_EQ(tooLow.width(), 260);
    EXPECT_DOUBLE_EQ(OVNTransparentWindow::resizedFrame(QPointF(350, 241), offset, frame).height(), 151);
}

TEST(OVNTransparentWindowTest, MoveStopsOnlyAtTheScreenTop)
{
    const QRectF screen(0, 0, 1280, 800);
    const QPointF grab(40, 30);
    EXPECT_EQ(OVNTransparentWindow::movedOrigin(QPointF(540, 20), grab, screen), QPointF(500, 0));
    EXPECT_EQ(OVNTransparentWindow::movedOrigin(QPointF(20, 900), grab, screen), QPointF(-20, 870));
    EXPECT_EQ(OVNTransparentWindow::movedOrigin(QPointF(1400, 400), grab, screen), QPointF(1360, 370));
}

TEST(OVNTransparentWindowTest, FramelessFloatingAndNeverFocused)
{
    OVNTransparentWindow window(QRect(10, 10, 300, 200));
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 0.8);
    EXPECT_EQ(window.geometry(), QRect(10, 10, 300, 200));
}

TEST(OVNTransparentViewTest, ImageIsFittedButEnlargedAtMostTwice)
{
    const QSizeF view(400, 300);
    EXPECT_EQ(OVNTransparentView::imageRect(view, QSizeF(100, 50)), QRectF(100, 100, 200, 100));
    EXPECT_EQ(OVNTransparentView::imageRect(view, QSizeF(1000, 500)), QRectF(0, 50, 400, 200));
    EXPECT_EQ(OVNTransparentView::imageRect(view, QSizeF(0, 50)), QRectF());
}

TEST(OVNTransparentViewTest, RatingSquaresAlongTheBottom)
{
    const auto squares = OVNTransparentView::ratingMarkerSquares(QRectF(0, 0, 300, 16), 200);
    // x from ceil(150 - 22.5) = 128, 9 points apart; y-up 7 is 200 - 7 - 8 = 185 here.
    EXPECT_EQ(squares[0], QRectF(128, 185, 8, 8));
    EXPECT_EQ(squares[4], QRectF(164, 185, 8, 8));

    OVNTransparentView view;
    view.resize(300, 200);
    view.setImage(solidImage(300, 200, Qt::darkGreen), 3);
    QImage image = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(image, 132, 189), DrawingKit::selectedControlColor())); // third filled
    EXPECT_TRUE(sameColor(pixelAt(image, 150, 189), DrawingKit::selectedControlColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 159, 189), Qt::darkGreen)); // fourth: framed only
    EXPECT_TRUE(sameColor(pixelAt(image, 155, 185), Qt::white));     // its frame
    EXPECT_TRUE(sameColor(pixelAt(image, 0, 0), Qt::darkGreen));     // the image replaces the panel

    view.setImage(solidImage(300, 200, Qt::darkGreen)); // clears the rating
    EXPECT_EQ(view.rating(), 0);
    image = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(image, 132, 189), Qt::darkGreen));

    // Without an image: black panel and grip only.
    view.setImage(QImage(), 4);
    image = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(image, 132, 189), Qt::black));
    EXPECT_TRUE(sameColor(pixelAt(image, 150, 100), Qt::black));
    EXPECT_EQ(pixelAt(image, 0, 0).alpha(), 0); // outside the rounded panel
    // The grip's longest stroke crosses x = 290 near y = 190; it is drawn in every case.
    int brightest = 0;
    for (int y = 188; y <= 193; ++y)
        brightest = std::max(brightest, pixelAt(image, 290, y).red());
    EXPECT_GT(brightest, 100);
}

TEST(OVNTransparentViewTest, GripLinesInTheCorner)
{
    const auto lines = OVNTransparentView::gripLines(QSizeF(300, 200));
    EXPECT_EQ(lines[0], QLineF(294, 196, 296, 194));
    EXPECT_EQ(lines[3], QLineF(285, 196, 296, 185));
}
