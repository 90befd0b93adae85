#include "platform/Resources.h"
#include "uikit/CustomView.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNBGView.h"
#include "uikit/OVNButtonBGView.h"
#include "uikit/OVNButtonFooter.h"
#include "uikit/OVNControllerBGView.h"
#include "uikit/OVNFlatButton.h"
#include "uikit/OVNMembraneButton.h"
#include "uikit/OVNSplitView.h"
#include "uikit/PolishedWindow.h"
#include "RenderHelpers.h"

#include <gtest/gtest.h>

#include <QToolBar>

TEST(OVNButtonBGViewTest, GradientRunsFromTheBottomAndPartialRedrawsMatch)
{
    OVNButtonBGView view;
    view.resize(50, 30);
    const QImage full = renderWidget(view);
    const auto rows = DrawingKit::steppedGradientRows(QColor::fromRgbF(0.78f, 0.78f, 0.78f),
                                                      QColor::fromRgbF(0.96f, 0.96f, 0.96f), 30);
    EXPECT_TRUE(sameColor(pixelAt(full, 10, 29), rows.front()));
    EXPECT_TRUE(sameColor(pixelAt(full, 10, 0), rows.back())) << qPrintable(describe(pixelAt(full, 10, 0)));
    const QImage part = renderWidget(view, QRegion(0, 10, 50, 5));
    for (int y = 10; y < 15; ++y)
        EXPECT_EQ(part.pixel(20, y), full.pixel(20, y)) << y;
    EXPECT_EQ(pixelAt(part, 20, 5).alpha(), 0);
}

TEST(OVNButtonBGViewTest, MissingColourOrHeightDrawsNothing)
{
    OVNButtonBGView view;
    view.resize(50, 30);
    view.setBackgroundColor2(std::nullopt);
    EXPECT_EQ(pixelAt(renderWidget(view), 10, 10).alpha(), 0);
    // Setting a colour changes nothing until the next display.
    view.setBackgroundColor2(QColor(Qt::red));
    view.setBackgroundColor(QColor(Qt::red));
    EXPECT_TRUE(sameColor(pixelAt(renderWidget(view), 10, 10), Qt::red));
}

TEST(OVNBGViewTest, PlainTypeHairlinesAndNothingWithoutAColour)
{
    OVNBGView view;
    view.resize(60, 20);
    EXPECT_EQ(pixelAt(renderWidget(view), 30, 10).alpha(), 0);
    view.setBackgroundColor(QColor(Qt::yellow));
    const QImage image = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 0), DrawingKit::controlShadowColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 18), DrawingKit::controlShadowColor())); // second row from the bottom
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 19), Qt::yellow));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 10), Qt::yellow));
}

TEST(OVNBGViewTest, GradientPanelLeavesItsOddMiddleRowAlone)
{
    OVNBGView view;
    view.resize(60, 41);
    view.setType(OVNBGView::GradientPanel);
    view.setBackgroundColor(QColor(Qt::white));
    view.setBackgroundColor2(QColor(Qt::blue));
    const QImage image = renderWidget(view);
    EXPECT_EQ(pixelAt(image, 30, 20).alpha(), 0);
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 1), pixelAt(image, 30, 39)));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 19), pixelAt(image, 30, 21)));
    EXPECT_TRUE(sameColor(pixelAt(image, 30, 0), DrawingKit::controlShadowColor())); // the frame
    // One colour only: texts and frame over what lies below.
    view.setBackgroundColor2(std::nullopt);
    const QImage bare = renderWidget(view);
    EXPECT_EQ(pixelAt(bare, 30, 20).alpha(), 0);
    EXPECT_TRUE(sameColor(pixelAt(bare, 0, 20), DrawingKit::controlShadowColor()));
    // Type 3 draws nothing.
    view.setType(3);
    EXPECT_EQ(pixelAt(renderWidget(view), 0, 20).alpha(), 0);
}

TEST(OVNBGViewTest, TextRectanglesAndTiles)
{
    const QSizeF size(300, 80);
    EXPECT_EQ(OVNBGView::mainTextRect(size), QRectF(10, 11, 280, 14));
    EXPECT_EQ(OVNBGView::optionTextRect(size), QRectF(190, 11, 100, 14));
    EXPECT_EQ(OVNBGView::infoTextRect(size), QRectF(10, 35, 280, 35));
    EXPECT_EQ(OVNBGView::tileOffsets(0, 100, 30), (std::vector<qreal>{0, 30, 60, 90}));
    EXPECT_TRUE(OVNBGView::tileOffsets(0, 100, 0).empty());
}

TEST(OVNBGViewTest, StripWithoutImageDrawsOnlyItsFrame)
{
    OVNBGView view;
    view.resize(100, 24);
    view.setType(OVNBGView::TiledStrip);
    view.setTileImage(QImage());
    const QImage image = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(image, 50, 0), DrawingKit::controlShadowColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 0, 23), DrawingKit::controlShadowColor()));
    EXPECT_EQ(pixelAt(image, 50, 23).alpha(), 0); // the bottom edge lies outside the view
    EXPECT_EQ(pixelAt(image, 50, 12).alpha(), 0);

    QImage tile(30, 10, QImage::Format_ARGB32);
    tile.fill(Qt::green);
    view.setTileImage(tile);
    const QImage tiled = renderWidget(view);
    EXPECT_TRUE(sameColor(pixelAt(tiled, 95, 12), Qt::green)); // the fourth tile, cut at the edge
    EXPECT_TRUE(sameColor(pixelAt(tiled, 50, 22), Qt::green)); // stretched to the full height
}

TEST(OVNControllerBGViewTest, PanelInsetAndRadius)
{
    EXPECT_EQ(OVNControllerBGView::panelRect(QSizeF(200, 60)), QRectF(3, 3, 194, 54));
    EXPECT_FLOAT_EQ(OVNControllerBGView::panelRadius(QSizeF(200, 60)), 13.0f);
    OVNControllerBGView view;
    view.resize(200, 60);
    const QImage image = renderWidget(view);
    EXPECT_EQ(pixelAt(image, 1, 1).alpha(), 0);
    EXPECT_EQ(pixelAt(image, 100, 30).alpha(), int(0.3 * 255 + 0.5));
}

TEST(OVNButtonFooterTest, ImageAndTitlePlacement)
{
    EXPECT_EQ(OVNButtonFooter::imageRect(QSizeF(40, 22), QSizeF(16, 16)), QRectF(12, 3, 16, 16));
    // An odd difference leaves half a point.
    EXPECT_EQ(OVNButtonFooter::imageRect(QSizeF(40, 22), QSizeF(16, 15)), QRectF(12, 3.5, 16, 15));
    EXPECT_EQ(OVNButtonFooter::titleRect(QSizeF(80, 22), 14), QRectF(0, 5, 80, 14));
}

TEST(OVNButtonFooterTest, GradientPressedFillAndHairline)
{
    OVNButtonFooter button;
    button.resize(40, 22);
    QImage image = renderWidget(button);
    EXPECT_TRUE(sameColor(pixelAt(image, 10, 21), OVNButtonFooter::darkColor()));
    EXPECT_GT(pixelAt(image, 10, 0).red(), pixelAt(image, 10, 20).red());
    EXPECT_TRUE(sameColor(pixelAt(image, 39, 10), DrawingKit::controlShadowColor()));
    button.setDown(true);
    image = renderWidget(button);
    EXPECT_TRUE(sameColor(pixelAt(image, 10, 21), OVNButtonFooter::lightColor()));
}

TEST(OVNFlatButtonTest, MirroredGradientImageAndDisabledOpacity)
{
    EXPECT_EQ(OVNFlatButton::imageRect(QSizeF(40, 21), QSizeF(22, 14)), QRectF(9, 3, 22, 14));
    EXPECT_DOUBLE_EQ(OVNFlatButton::imageOpacity(false), 0.7);

    OVNFlatButton button;
    button.resize(40, 21);
    QImage solid(4, 4, QImage::Format_ARGB32);
    solid.fill(Qt::black);
    button.setImage(solid);
    QImage image = renderWidget(button);
    EXPECT_EQ(pixelAt(image, 2, 10).alpha(), 0); // the middle row is left to what lies below
    EXPECT_TRUE(sameColor(pixelAt(image, 2, 1), pixelAt(image, 2, 19)));
    EXPECT_TRUE(sameColor(pixelAt(image, 0, 5), DrawingKit::controlShadowColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 20, 9), Qt::black));
    button.setEnabled(false);
    image = renderWidget(button);
    const QColor faded = pixelAt(image, 20, 9);
    EXPECT_GT(faded.red(), 40); // 70 % black over the gradient
    EXPECT_LT(faded.red(), 90);
    // Without an image of its own it shows the resource "viewAction".
    const QByteArray previous = qgetenv(Resources::environmentVariable);
    qputenv(Resources::environmentVariable, QByteArrayLiteral(OVN_SOURCE_DIR "/resources"));
    OVNFlatButton plain;
    EXPECT_FALSE(plain.effectiveImage().isNull());
    if (previous.isNull())
        qunsetenv(Resources::environmentVariable);
    else
        qputenv(Resources::environmentVariable, previous);
}

TEST(OVNMembraneButtonTest, CapsuleAndPressedGradient)
{
    EXPECT_FLOAT_EQ(OVNMembraneButton::capsuleRadius(20), 10.0f);
    EXPECT_EQ(OVNMembraneButton::titleRect(QSizeF(80, 20), 13), QRectF(1, 4, 80, 20));
    OVNMembraneButton button;
    button.resize(80, 20);
    button.setDown(true);
    const QImage image = renderWidget(button);
    EXPECT_TRUE(sameColor(pixelAt(image, 40, 1), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 2))
        << qPrintable(describe(pixelAt(image, 40, 1)));
    const auto rows =
        DrawingKit::steppedGradientRows(QColor::fromRgbF(0.7f, 0.7f, 0.7f), QColor::fromRgbF(0.8f, 0.8f, 0.8f), 20);
    EXPECT_TRUE(sameColor(pixelAt(image, 40, 18), rows[18], 2));
    EXPECT_EQ(pixelAt(image, 0, 0).alpha(), 0); // outside the capsule
}

TEST(PolishedWindowTest, MinimumSizeFloorAndBackground)
{
    EXPECT_EQ(PolishedWindow::clampedMinSize(QSize(100, 400)), QSize(150, 400));
    EXPECT_EQ(PolishedWindow::clampedMinSize(QSize(200, 90)), QSize(200, 150));
    PolishedWindow window;
    window.setMinSize(QSize(10, 10));
    EXPECT_EQ(window.minimumSize(), QSize(150, 150));
    EXPECT_EQ(window.palette().color(QPalette::Window), PolishedWindow::sizedPolishedBackground());
    const int before = window.backgroundRefreshCount();
    window.resize(400, 300);
    window.show();
    window.resize(420, 310);
    EXPECT_GT(window.backgroundRefreshCount(), before);
    EXPECT_FALSE(window.forcesDisplay());
    auto *toolbar = new QToolBar;
    window.setToolbar(toolbar);
    EXPECT_EQ(window.toolBarArea(toolbar), Qt::TopToolBarArea);
}

TEST(CustomViewTest, FillsOnlyTheAreaAskedFor)
{
    CustomView view;
    view.resize(40, 40);
    const QImage image = renderWidget(view, QRegion(0, 0, 20, 40));
    EXPECT_TRUE(sameColor(pixelAt(image, 5, 5), CustomView::fillColor()));
    EXPECT_EQ(pixelAt(image, 30, 5).alpha(), 0);
}

TEST(OVNSplitViewTest, DividerIsOneLightGreyPoint)
{
    OVNSplitView split(Qt::Horizontal);
    split.resize(101, 20);
    split.addWidget(new CustomView);
    split.addWidget(new CustomView);
    split.setSizes({50, 50});
    EXPECT_EQ(split.handleWidth(), 1);
    EXPECT_FLOAT_EQ(OVNSplitView::dividerThickness(), 1.0f);
    const QImage image = renderWidget(split);
    EXPECT_TRUE(sameColor(pixelAt(image, 50, 10), DrawingKit::lightGrayColor()));
    EXPECT_TRUE(sameColor(pixelAt(image, 49, 10), CustomView::fillColor()));
}
