#include "formats/OVNOrientation.h"
#include "viewers/OVNImageView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTransform>

#include <gtest/gtest.h>

TEST(OVNImageViewTest, FitFactorAndPlacement)
{
    struct Case {
        const char *name;
        QSizeF image;
        int rotation;
        float factor; // 0: fitted
        QSizeF visible;
        float expectedFactor;
        QRectF expectedRect;
    };
    const Case cases[] = {
        // Capped at 2.0, centred: 800 × 600 in 1000 × 1000.
        {"fit capped", {400, 300}, 0, 0, {1000, 1000}, 2.0f, {100, 200, 800, 600}},
        // Turned: 300 × 400 fits 600 × 800 at 2.0 exactly, filling it.
        {"fit turned", {400, 300}, 90, 0, {600, 800}, 2.0f, {0, 0, 600, 800}},
        {"fit smaller", {4000, 2000}, 0, 0, {1000, 1000}, 0.25f, {0, 250, 1000, 500}},
        // Wider than the room at actual size: from the left edge, centred upright.
        {"actual wide", {1200, 100}, 0, 1, {1000, 300}, 1.0f, {0, 100, 1200, 100}},
        // An odd rotation: unturned, at the bottom-left corner.
        {"odd rotation", {100, 50}, 45, 1, {400, 300}, 1.0f, {0, 250, 100, 50}},
        {"half turn free", {100, 50}, 180, 1.5f, {300, 300}, 1.5f, {75, 112.5, 150, 75}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const float factor = c.factor > 0 ? c.factor : OVNImageView::fitFactor(c.image, c.rotation, c.visible);
        EXPECT_FLOAT_EQ(factor, c.expectedFactor);
        EXPECT_EQ(OVNImageView::pictureRect(c.image, c.rotation, factor, c.visible), c.expectedRect);
    }
}

TEST(OVNImageViewTest, RotationZoomAndClicks)
{
    for (int start : {0, 90, 180, 270}) {
        int degrees = start;
        for (int i = 0; i < 4; ++i)
            degrees = OVNImageView::rotatedLeft(degrees);
        EXPECT_EQ(degrees, start);
        EXPECT_EQ(OVNImageView::rotatedLeft(OVNImageView::rotatedRight(start)), start);
    }
    EXPECT_EQ(OVNImageView::rotatedRight(270), 0);
    EXPECT_EQ(OVNImageView::rotatedLeft(0), 270);
    EXPECT_EQ(OVNImageView::rotatedRight(45), 45);

    OVNImageView view;
    view.setImage(QImage(400, 300, QImage::Format_RGB32));
    view.setZoomType(OVNImageView::Free);
    view.setZoomFactor(3.0f);
    view.setRotation(90);
    EXPECT_EQ(view.currentViewSize(), QSizeF(900, 1200));
    view.setZoomType(OVNImageView::Free);
    EXPECT_FLOAT_EQ(view.zoomFactor(), 3.0f);
    view.setZoomType(OVNImageView::ActualSize);
    EXPECT_FLOAT_EQ(view.zoomFactor(), 1.0f);
    EXPECT_EQ(view.currentViewSize(), QSizeF(300, 400));

    int told = 0;
    view.setSelectionDidChange([&](OVNImageView *sender) { told += sender == &view; });
    for (int click = 1; click <= 2; ++click) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &press);
        EXPECT_TRUE(view.isSelected());
        EXPECT_EQ(told, click);
    }
}

// The viewer flips once on arrival and turns by degrees while drawing; the import turns the
// thumbnail at once. Both must show every code alike.
TEST(OVNImageViewTest, OrientationAgreesWithTheImport)
{
    QImage source(4, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            source.setPixel(x, y, qRgb(x * 60, y * 200, 7));
    const int expectedDegrees[] = {0, 0, 0, 180, 180, 90, 90, 270, 270, 0};
    for (int code = 0; code <= 9; ++code) {
        SCOPED_TRACE(code);
        const OVNOrientation::Turn turn = OVNOrientation::turnFor(code);
        EXPECT_EQ(turn.degrees, expectedDegrees[code]);
        EXPECT_EQ(turn.mirrored, code == 2 || code == 4 || code == 5 || code == 7);
        QImage shown = OVNOrientation::flippedBeforeTurn(source, turn);
        if (turn.degrees)
            shown = shown.transformed(QTransform().rotate(turn.degrees));
        EXPECT_EQ(shown, OVNOrientation::turned(source, code));
    }
    // A quarter turn clockwise puts the top-left pixel at the top right.
    EXPECT_EQ(OVNOrientation::turned(source, 6).pixel(1, 0), source.pixel(0, 0));
}

TEST(OVNImageViewTest, LoadingTagStaysInTheShownPart)
{
    const QSizeF text(140, 18);
    const QRectF shown[] = {
        {0, 0, 800, 600},      // the whole view shows
        {1200, 900, 600, 400}, // scrolled far into a large picture
        {0, 0, 90, 20},        // a view smaller than the tag
    };
    for (const QRectF &part : shown) {
        const QRectF box = OVNImageView::loadingTagBox(text, part);
        EXPECT_TRUE(part.contains(box)) << part.x() << " " << part.width();
        EXPECT_LE(std::abs(box.center().x() - part.center().x()), 1.0) << part.x();
        EXPECT_LE(std::abs(box.center().y() - part.center().y()), 1.0) << part.y();
    }
}
