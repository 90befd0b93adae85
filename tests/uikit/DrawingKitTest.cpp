#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"
#include "RenderHelpers.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPainter>

TEST(DrawingKitTest, NamedGreysAreThirdsOfWhite)
{
    EXPECT_NEAR(DrawingKit::lightGrayColor().redF(), 2.0 / 3.0, 1e-4);
    EXPECT_NEAR(DrawingKit::darkGrayColor().redF(), 1.0 / 3.0, 1e-4);
    EXPECT_EQ(DrawingKit::clearColor().alpha(), 0);
}

TEST(DrawingKitTest, PointSizedFontsArePixelSized)
{
    const QFont font = DrawingKit::pixelFont(10, true);
    EXPECT_EQ(font.pixelSize(), 10);
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans"));
}

// The faces the layouts name are drawn with the packaged DejaVu families, never with what
// fontconfig matches for the name (Nimbus Sans for Helvetica where fonts-urw-base35 is installed),
// and those families are really installed (fonts-dejavu-core and fonts-dejavu-extra).
TEST(DrawingKitTest, NamedFacesDrawWithTheInstalledDejaVuFamilies)
{
    const struct {
        const char *named;
        const char *installed;
    } cases[] = {
        {"Helvetica", "DejaVu Sans Condensed"},
        {"Helvetica-Bold", "DejaVu Sans Condensed"},
        {"helvetica neue", "DejaVu Sans Condensed"},
        {"Arial", "DejaVu Sans Condensed"},
        {"Lucida Grande", "DejaVu Sans"},
        {"Geneva", "DejaVu Sans"},
        {"", "DejaVu Sans"},
        {"DejaVu Sans Mono", "DejaVu Sans Mono"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DrawingKit::installedFamily(QString::fromLatin1(c.named)), QLatin1String(c.installed)) << c.named;
        for (const bool bold : {false, true}) {
            QFont named(QString::fromLatin1(c.named));
            named.setBold(bold);
            EXPECT_EQ(QFontInfo(DrawingKit::withInstalledFamily(named)).family(), QLatin1String(c.installed))
                << c.named << (bold ? " bold" : "");
            EXPECT_EQ(QFontInfo(DrawingKit::pixelFont(10, bold, QString::fromLatin1(c.named))).family(),
                      QLatin1String(c.installed))
                << c.named;
        }
    }
}

TEST(DrawingKitTest, SteppedRowsStartExactlyAtStartAndStopOneStepShortOfEnd)
{
    const QColor top = QColor::fromRgbF(0.898f, 0.898f, 0.898f);
    const QColor bottom = QColor::fromRgbF(0.66f, 0.66f, 0.66f);
    const auto rows = DrawingKit::steppedGradientRows(top, bottom, 17);
    ASSERT_EQ(rows.size(), 17u);
    EXPECT_NEAR(rows.front().redF(), 0.898, 1e-4);
    const float step = (0.66f - 0.898f) / 17.0f;
    EXPECT_NEAR(rows.back().redF(), 0.898 + 16 * step, 1e-3);
    EXPECT_GT(rows.back().redF(), 0.66 + 0.01); // never reaches the end colour
    EXPECT_TRUE(DrawingKit::steppedGradientRows(top, bottom, 0).empty());
}

TEST(DrawingKitTest, MirroredGradientLeavesTheOddMiddleRowAlone)
{
    QImage image(10, 21, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        DrawingKit::fillMirroredGradient(painter, QRectF(0, 0, 10, 21), Qt::white, QColor(204, 204, 204));
    }
    EXPECT_EQ(pixelAt(image, 5, 10).alpha(), 0);
    EXPECT_TRUE(sameColor(pixelAt(image, 5, 0), Qt::white));
    EXPECT_TRUE(sameColor(pixelAt(image, 5, 20), Qt::white));
    EXPECT_TRUE(sameColor(pixelAt(image, 5, 9), pixelAt(image, 5, 11)));
}

TEST(DrawingKitTest, FlippingConvertsYUpRectanglesToQtCoordinates)
{
    // A 16-point strip along the bottom of a 300-point view.
    EXPECT_EQ(DrawingKit::flippedRect(QRectF(0, 0, 50, 16), 300), QRectF(0, 284, 50, 16));
    EXPECT_EQ(DrawingKit::flippedRect(DrawingKit::flippedRect(QRectF(3, 7, 8, 8), 40), 40), QRectF(3, 7, 8, 8));
}

TEST(DrawingKitTest, SoftShadowSpreadsBeyondTheMask)
{
    QImage mask(10, 10, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::black);
    const QImage shadow = DrawingKit::softShadow(mask, 2.5, Qt::black);
    const int margin = DrawingKit::shadowMargin(2.5);
    ASSERT_EQ(shadow.width(), 10 + 2 * margin);
    EXPECT_GT(qAlpha(shadow.pixel(margin + 5, margin + 5)), 200);
    EXPECT_GT(qAlpha(shadow.pixel(margin - 2, margin + 5)), 0);
    EXPECT_LT(qAlpha(shadow.pixel(margin - 2, margin + 5)), 160);
    EXPECT_EQ(qAlpha(shadow.pixel(0, 0)), 0);
}

TEST(OVNBezierPathTest, RadiusIsCutToHalfTheShorterSide)
{
    EXPECT_FLOAT_EQ(OVNBezierPath::effectiveCornerRadius(40, 20, 50), 10.0f);
    EXPECT_FLOAT_EQ(OVNBezierPath::effectiveCornerRadius(30, 30, 15), 15.0f);
    EXPECT_FLOAT_EQ(OVNBezierPath::effectiveCornerRadius(30, 30, 99), 15.0f);
    EXPECT_FLOAT_EQ(OVNBezierPath::effectiveCornerRadius(30, 30, 0), 0.0f);
}

TEST(OVNBezierPathTest, ShapesFromPlainRectangleToCapsuleAndCircle)
{
    // Radius 0: a plain rectangle, corners included.
    const QPainterPath square = OVNBezierPath::bezierPathWithRoundedRect(QRectF(10, 10, 40, 20), 0);
    EXPECT_TRUE(square.contains(QPointF(10.2, 10.2)));
    EXPECT_EQ(square.boundingRect(), QRectF(10, 10, 40, 20));

    // 40 x 20 with radius 50: a capsule of radius 10.
    const QPainterPath capsule = OVNBezierPath::bezierPathWithRoundedRect(QRectF(0, 0, 40, 20), 50);
    EXPECT_FALSE(capsule.contains(QPointF(1, 1)));
    EXPECT_TRUE(capsule.contains(QPointF(10, 1)));   // on the top edge where the arc ends
    EXPECT_TRUE(capsule.contains(QPointF(0.5, 10))); // the end cap's middle reaches the edge
    EXPECT_EQ(capsule.boundingRect(), QRectF(0, 0, 40, 20));

    // A 30 x 30 square with radius 15 or more is a circle.
    const QPainterPath circle = OVNBezierPath::bezierPathWithRoundedRect(QRectF(0, 0, 30, 30), 20);
    EXPECT_FALSE(circle.contains(QPointF(3, 3)));
    EXPECT_TRUE(circle.contains(QPointF(15, 0.5)));
    EXPECT_NEAR(circle.pointAtPercent(0.0).x(), 0.0, 1e-6);
}

TEST(OVNBezierPathTest, LeftRoundedRectKeepsSquareRightCorners)
{
    const QPainterPath path = OVNBezierPath::bezierPathWithLeftRoundedRect(QRectF(5, 5, 60, 20), 40);
    EXPECT_FALSE(path.contains(QPointF(6, 6)));
    EXPECT_FALSE(path.contains(QPointF(6, 24)));
    EXPECT_TRUE(path.contains(QPointF(64.5, 5.5)));
    EXPECT_TRUE(path.contains(QPointF(64.5, 24.5)));
}
