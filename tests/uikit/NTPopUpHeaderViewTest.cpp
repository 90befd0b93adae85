#include "uikit/DrawingKit.h"
#include "uikit/NTGlyphBlitter.h"
#include "uikit/NTPopUpHeaderView.h"
#include "uikit/NTPopUpHeaderViewCell.h"
#include "uikit/NTPopUpHeaderViewDelegate.h"
#include "RenderHelpers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>

#include <vector>

namespace {

struct Report {
    bool width;
    int tag;
    float delta;
};

class RecordingDelegate : public NTPopUpHeaderViewDelegate
{
public:
    explicit RecordingDelegate(Capabilities answers) : m_answers(answers) {}
    Capabilities headerDelegateCapabilities() const override { return m_answers; }
    void headerCellResizeViewByWidth(NTPopUpHeaderViewCell *cell, float delta) override
    {
        reports.push_back({true, cell->tag(), delta});
    }
    void headerCellResizeViewByHeight(NTPopUpHeaderViewCell *cell, float delta) override
    {
        reports.push_back({false, cell->tag(), delta});
    }
    std::vector<Report> reports;

private:
    Capabilities m_answers;
};

const NTPopUpHeaderViewDelegate::Capabilities both = NTPopUpHeaderViewDelegate::ResizeByWidth
                                                     | NTPopUpHeaderViewDelegate::ResizeByHeight;

void sendMouse(QWidget &widget, QEvent::Type type, const QPointF &local, const QPointF &global)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

} // namespace

TEST(NTPopUpHeaderViewCellTest, SlicesAndGripImagePositions)
{
    const auto slices = NTPopUpHeaderViewCell::slicesForCellFrame(QRectF(0, 0, 200, 17));
    EXPECT_EQ(slices.right, QRectF(186, 0, 11, 17));
    EXPECT_EQ(slices.left, QRectF(3, 0, 11, 17));
    EXPECT_EQ(slices.title, QRectF(14, 0, 172, 17));
    // The 9-point image's bottom edge sits 4 points above the slice's bottom.
    EXPECT_EQ(NTPopUpHeaderViewCell::gripImageRectForSlice(slices.left), QRectF(4, 4, 9, 9));
}

TEST(NTPopUpHeaderViewCellTest, GripHitZones)
{
    using Cell = NTPopUpHeaderViewCell;
    const QSizeF wide(200, 17);
    EXPECT_EQ(Cell::gripHitAt(QPointF(5, 8), wide, 0, 0).grip, 0);
    EXPECT_EQ(Cell::gripHitAt(QPointF(5, 8), wide, 2, 1).grip, 1);
    EXPECT_EQ(Cell::gripHitAt(QPointF(5, 8), wide, 2, 1).direction, 2);
    EXPECT_EQ(Cell::gripHitAt(QPointF(16, 8), wide, 2, 1).grip, 0); // just outside the left zone
    EXPECT_EQ(Cell::gripHitAt(QPointF(190, 8), wide, 2, 1).direction, 1);
    EXPECT_EQ(Cell::gripHitAt(QPointF(100, 8), wide, 2, 2).grip, 0);
    EXPECT_EQ(Cell::gripHitAt(QPointF(190, 8), wide, 2, 0).grip, 0); // no right grip
    // Narrower than 32 points with both grips: where the zones overlap the right grip wins.
    const auto overlap = Cell::gripHitAt(QPointF(12, 8), QSizeF(24, 17), 1, 2);
    EXPECT_EQ(overlap.grip, 2);
    EXPECT_EQ(overlap.direction, 2);
}

TEST(NTPopUpHeaderViewTest, DragReportsStepDeltasToTheDelegate)
{
    RecordingDelegate delegate(both);
    NTPopUpHeaderView header;
    header.resize(200, 17);
    header.setTag(2);
    header.setLeftGrip(2);
    header.setRightGrip(1);
    header.setDelegate(&delegate);

    // The vertical grip on the left: dragging to the left reports negative width deltas.
    sendMouse(header, QEvent::MouseButtonPress, QPointF(5, 8), QPointF(105, 408));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ClosedHandCursor);
    sendMouse(header, QEvent::MouseMove, QPointF(2, 8), QPointF(102, 408));
    sendMouse(header, QEvent::MouseMove, QPointF(-5, 8), QPointF(95, 410));
    sendMouse(header, QEvent::MouseButtonRelease, QPointF(-5, 8), QPointF(95, 410));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ASSERT_EQ(delegate.reports.size(), 2u);
    EXPECT_TRUE(delegate.reports[0].width);
    EXPECT_EQ(delegate.reports[0].tag, 2);
    EXPECT_FLOAT_EQ(delegate.reports[0].delta, -3.0f);
    EXPECT_FLOAT_EQ(delegate.reports[1].delta, -7.0f);

    // The horizontal grip on the right: dragging upward (screen y falls) reports positive heights.
    delegate.reports.clear();
    sendMouse(header, QEvent::MouseButtonPress, QPointF(195, 8), QPointF(295, 408));
    sendMouse(header, QEvent::MouseMove, QPointF(195, 2), QPointF(295, 402));
    sendMouse(header, QEvent::MouseButtonRelease, QPointF(195, 2), QPointF(295, 402));
    ASSERT_EQ(delegate.reports.size(), 1u);
    EXPECT_FALSE(delegate.reports[0].width);
    EXPECT_FLOAT_EQ(delegate.reports[0].delta, 6.0f);
}

TEST(NTPopUpHeaderViewTest, HeaderWithoutGripsIgnoresPresses)
{
    RecordingDelegate delegate(both);
    NTPopUpHeaderView header;
    header.resize(200, 17);
    header.setDelegate(&delegate);
    sendMouse(header, QEvent::MouseButtonPress, QPointF(5, 8), QPointF(5, 8));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    sendMouse(header, QEvent::MouseMove, QPointF(50, 8), QPointF(50, 8));
    sendMouse(header, QEvent::MouseButtonRelease, QPointF(50, 8), QPointF(50, 8));
    EXPECT_TRUE(delegate.reports.empty());
    EXPECT_EQ(header.cell()->trackingGrip(), 0);
}

TEST(NTPopUpHeaderViewTest, DelegateWithoutTheMessageGetsNothingButTheCursorChanges)
{
    RecordingDelegate delegate(NTPopUpHeaderViewDelegate::ResizeByHeight);
    NTPopUpHeaderViewCell cell;
    cell.setDelegate(&delegate);
    cell.setLeftGrip(2);
    ASSERT_TRUE(cell.startTracking(QPointF(4, 4), QSizeF(100, 17), QPointF(10, 10)));
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    cell.continueTracking(QPointF(30, 10));
    cell.stopTracking();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(delegate.reports.empty());
}

TEST(NTPopUpHeaderViewTest, GradientRowsAndTopLine)
{
    NTPopUpHeaderView header;
    header.resize(60, 17);
    const QImage image = renderWidget(header);
    const auto rows = DrawingKit::steppedGradientRows(QColor::fromRgbF(0.898f, 0.898f, 0.898f),
                                                      QColor::fromRgbF(0.66f, 0.66f, 0.66f), 17);
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 0), DrawingKit::lightGrayColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 1), rows[1])) << qPrintable(describe(pixelAt(image, 30, 1)));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 16), rows[16])) << qPrintable(describe(pixelAt(image, 30, 16)));
    EXPECT_TRUE(sameColor(pixelAt(image, 1, 8), rows[8]));
}

TEST(NTPopUpHeaderViewTest, GripsAreDrawnEvenWithoutATitle)
{
    NTPopUpHeaderView header;
    header.resize(100, 17);
    header.setLeftGrip(2);
    header.setRightGrip(1);
    const QImage image = renderWidget(header);
    // Vertical bars at x = 4, 7, 10 of the left slice; horizontal bars at y = 4, 7, 10 on the right.
    EXPECT_TRUE(sameColor(pixelAt(image, 4, 8), Qt::black));
    EXPECT_FALSE(sameColor(pixelAt(image, 5, 8), Qt::black));
    EXPECT_TRUE(sameColor(pixelAt(image, 90, 7), Qt::black));
    EXPECT_FALSE(sameColor(pixelAt(image, 90, 8), Qt::black));
    // No title: the middle holds only the gradient.
    for (int x = 20; x < 80; ++x)
        ASSERT_GT(pixelAt(image, x, 8).red(), 150);
}

TEST(NTPopUpHeaderViewTest, VeryLowHeaderDrawsOnlyTheTopLine)
{
    NTPopUpHeaderView header;
    header.resize(40, 1);
    const QImage image = renderWidget(header);
    EXPECT_TRUE(sameColor(pixelAt(image, 20, 0), DrawingKit::lightGrayColor()));
}

TEST(NTPopUpHeaderViewTest, TitleBlitterIsCachedPerTitleAndSize)
{
    NTPopUpHeaderViewCell cell;
    const NTGlyphBlitter *first = cell.glyphBlitter(QStringLiteral("Preview"), QSizeF(100, 17));
    EXPECT_EQ(cell.glyphBlitter(QStringLiteral("Preview"), QSizeF(100, 17)), first);
    const NTGlyphBlitter *resized = cell.glyphBlitter(QStringLiteral("Preview"), QSizeF(120, 17));
    EXPECT_EQ(resized->size(), QSizeF(120, 17));
    const NTGlyphBlitter *retitled = cell.glyphBlitter(QStringLiteral("Databases"), QSizeF(120, 17));
    ASSERT_NE(retitled, nullptr);
    EXPECT_FALSE(retitled->segments().empty());
    EXPECT_TRUE(cell.glyphBlitter(QString(), QSizeF(120, 17))->segments().empty());
}

TEST(NTPopUpHeaderViewTest, TitleIsTenPointsCentredAndCutInTheMiddle)
{
    QFont big = DrawingKit::pixelFont(24);
    const NTTextAttributes &attributes = NTPopUpHeaderViewCell::attributes(big);
    EXPECT_EQ(attributes.font.pixelSize(), 10);
    EXPECT_EQ(attributes.alignment, Qt::AlignHCenter);
    EXPECT_EQ(attributes.truncation, Qt::ElideMiddle);
}
