#include "uikit/DrawingKit.h"
#include "uikit/NTGlyphBlitter.h"
#include "uikit/NTGlyphSegment.h"
#include "uikit/NTTextStorage.h"
#include "uikit/NTTextStorageStore.h"
#include "RenderHelpers.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QThread>

namespace {

NTTextAttributes labelAttributes()
{
    NTTextAttributes attributes;
    attributes.font = DrawingKit::pixelFont(12);
    return attributes;
}

const QString threeLines = QStringLiteral("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda");

QImage blank(int w, int h, const QColor &fill = Qt::white)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

} // namespace

TEST(NTGlyphBlitterTest, EmptyStringDrawsNothingAtAll)
{
    NTGlyphBlitter blitter(QString(), QSizeF(100, 20), 1, true, labelAttributes(), QColor(Qt::green), true, true,
                           false);
    EXPECT_TRUE(blitter.segments().empty());
    EXPECT_TRUE(blitter.minRect().isEmpty());
    QImage image = blank(100, 20);
    {
        QPainter painter(&image);
        blitter.drawRect(painter, QRectF(0, 0, 100, 20), std::nullopt, QColor(Qt::red), QColor(Qt::blue));
    }
    EXPECT_EQ(image, blank(100, 20));
}

TEST(NTGlyphBlitterTest, LinesThatPassTheHeightAreDropped)
{
    const NTTextAttributes attributes = labelAttributes();
    const qreal lineHeight = QFontMetricsF(attributes.font).height() + 1;
    // Room for every line: three or more.
    NTGlyphBlitter all(threeLines, QSizeF(120, 500), 0, false, attributes, std::nullopt, false, true, false);
    ASSERT_GE(all.minRect().height(), 3 * lineHeight - 1);
    // Room for two lines.
    NTGlyphBlitter two(threeLines, QSizeF(120, 2 * lineHeight + 2), 0, false, attributes, std::nullopt, false, true,
                       false);
    EXPECT_NEAR(two.minRect().height(), 2 * lineHeight, 1.0);
    // Not even room for one: the first line is kept anyway.
    NTGlyphBlitter tiny(threeLines, QSizeF(120, 3), 0, false, attributes, std::nullopt, false, true, false);
    EXPECT_FALSE(tiny.segments().empty());
    EXPECT_NEAR(tiny.minRect().height(), lineHeight, 1.0);
    // A line limit of 1.
    NTGlyphBlitter one(threeLines, QSizeF(120, 500), 1, false, attributes, std::nullopt, false, true, false);
    EXPECT_NEAR(one.minRect().height(), lineHeight, 1.0);
}

TEST(NTGlyphBlitterTest, VerticalCentringMovesTallTextUpByHalfTheExcess)
{
    NTGlyphBlitter blitter(threeLines, QSizeF(120, 500), 0, true, labelAttributes(), std::nullopt, false, true, false);
    const QRectF rect(10, 50, 120, 20);
    const QRectF drawn = blitter.drawRectForRect(rect);
    EXPECT_DOUBLE_EQ(drawn.y(), 50 - (blitter.minRect().height() - 20) / 2);
    EXPECT_DOUBLE_EQ(drawn.x(), 10);
    NTGlyphBlitter top(threeLines, QSizeF(120, 500), 0, false, labelAttributes(), std::nullopt, false, true, false);
    EXPECT_DOUBLE_EQ(top.drawRectForRect(rect).y(), 50);
}

TEST(NTGlyphBlitterTest, OvalBackgroundLaysOutTenPointsNarrower)
{
    const QString text = QStringLiteral("wide wide wide wide wide wide");
    NTGlyphBlitter plain(text, QSizeF(100, 500), 0, false, labelAttributes(), std::nullopt, false, true, false);
    NTGlyphBlitter oval(text, QSizeF(100, 500), 0, false, labelAttributes(), std::nullopt, true, true, false);
    EXPECT_EQ(oval.size(), QSizeF(100, 500));
    EXPECT_LE(oval.minRect().width(), 100 - 10 - 2 * NTTextStorageStore::defaultLineFragmentPadding() + 0.01);
    EXPECT_GE(oval.minRect().height(), plain.minRect().height());
    EXPECT_DOUBLE_EQ(oval.drawRectForRect(QRectF(0, 0, 100, 500)).width(), oval.minRect().width() + 10);
    const QRectF textRect = oval.textRectForRect(QRectF(0, 0, 100, 500));
    EXPECT_DOUBLE_EQ(textRect.x(), oval.minRect().x() + 5);
}

TEST(NTGlyphBlitterTest, OvalEndCapsBulgeThreeAndThreeQuarterPoints)
{
    const QPainterPath path = NTGlyphSegment::backgroundBezierPathForRect(QRectF(10, 0, 50, 12));
    // Control points 5 points outside the rectangle; the curve itself reaches 3.75 points out.
    EXPECT_NEAR(path.boundingRect().left(), 10 - 3.75, 0.01);
    EXPECT_NEAR(path.boundingRect().right(), 60 + 3.75, 0.01);
    EXPECT_NEAR(path.controlPointRect().left(), 5, 0.01);
    EXPECT_NEAR(path.controlPointRect().right(), 65, 0.01);
}

TEST(NTGlyphBlitterTest, LabelColourTintsOrOutlinesTheBackground)
{
    const QRectF rect(0, 0, 120, 20);
    NTGlyphBlitter bare(QStringLiteral("x"), rect.size(), 1, false, labelAttributes(), std::nullopt, false, true,
                        false);
    QImage tinted = blank(120, 20);
    {
        QPainter painter(&tinted);
        bare.drawRect(painter, rect, QColor(Qt::transparent), std::nullopt, QColor(Qt::red));
    }
    const QRectF line = bare.segments().front().backgroundRect(bare.drawRectForRect(rect));
    // Red at 40 % over white.
    EXPECT_TRUE(sameColor(pixelAt(tinted, int(line.right()) - 1, int(line.center().y())), QColor(255, 153, 153), 2))
        << qPrintable(describe(pixelAt(tinted, int(line.right()) - 1, int(line.center().y()))));

    NTGlyphBlitter backed(QStringLiteral("x"), rect.size(), 1, false, labelAttributes(), QColor(Qt::yellow), false,
                          true, false);
    QImage outlined = blank(120, 20);
    {
        QPainter painter(&outlined);
        backed.drawRect(painter, rect, QColor(Qt::transparent), std::nullopt, QColor(Qt::blue));
    }
    const QRectF backedLine = backed.segments().front().backgroundRect(backed.drawRectForRect(rect));
    const int midY = int(backedLine.center().y());
    // A border 1.5 points wide inside the line's rectangle, the back colour within it.
    EXPECT_TRUE(sameColor(pixelAt(outlined, int(backedLine.left()), midY), Qt::blue));
    EXPECT_TRUE(sameColor(pixelAt(outlined, int(backedLine.left()) + 3, midY), Qt::yellow));
    EXPECT_TRUE(sameColor(pixelAt(outlined, int(backedLine.right()) + 2, midY), Qt::white));
}

TEST(NTGlyphBlitterTest, TextColourOverridesRunsAndSuppressesTheShadow)
{
    NTTextAttributes attributes = labelAttributes();
    attributes.foregroundColor = QColor(Qt::blue);
    const QRectF rect(0, 0, 120, 30);
    NTGlyphBlitter shadowed(QStringLiteral("MMMM"), rect.size(), 1, true, attributes, std::nullopt, false, true, true);
    QImage withShadow = blank(120, 30);
    QImage overridden = blank(120, 30);
    {
        QPainter painter(&withShadow);
        shadowed.drawRect(painter, rect, std::nullopt, std::nullopt);
    }
    {
        QPainter painter(&overridden);
        shadowed.drawRect(painter, rect, QColor(Qt::red), std::nullopt);
    }
    auto count = [](const QImage &image, auto predicate) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += predicate(pixelAt(image, x, y)) ? 1 : 0;
        return n;
    };
    auto greyish = [](const QColor &c) {
        return c.red() < 235 && std::abs(c.red() - c.green()) < 8 && std::abs(c.green() - c.blue()) < 8;
    };
    auto bluish = [](const QColor &c) { return c.blue() > 150 && c.red() < 100; };
    auto reddish = [](const QColor &c) { return c.red() > 150 && c.blue() < 100; };
    EXPECT_GT(count(withShadow, greyish), 20); // the soft shadow
    EXPECT_GT(count(withShadow, bluish), 10);  // the run's own colour
    EXPECT_EQ(count(overridden, greyish), 0);
    EXPECT_EQ(count(overridden, bluish), 0);
    EXPECT_GT(count(overridden, reddish), 10);
}

TEST(NTGlyphSegmentTest, GlyphZeroIsSkippedAndTakesNoAdvance)
{
    QRawFont font = QRawFont::fromFont(DrawingKit::pixelFont(12));
    ASSERT_TRUE(font.isValid());
    const QList<quint32> glyphs = font.glyphIndexesForString(QStringLiteral("AB"));
    ASSERT_EQ(glyphs.size(), 2);
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes({glyphs[0], 0, glyphs[1]});
    run.setPositions({QPointF(0, 12), QPointF(8, 12), QPointF(20, 12)});
    const NTGlyphSegment segment = NTGlyphSegment::segmentWithGlyphRun(run, QRectF(0, 0, 30, 15), 0, 3,
                                                                       labelAttributes(), std::nullopt, true, false);
    ASSERT_EQ(segment.numGlyphs(), 2);
    const auto advances = segment.advances();
    EXPECT_DOUBLE_EQ(advances[0].x(), 20.0);
    EXPECT_EQ(advances[1], QPointF(0, 0));

    QGlyphRun empty;
    empty.setRawFont(font);
    empty.setGlyphIndexes({0, 0});
    empty.setPositions({QPointF(0, 12), QPointF(8, 12)});
    const NTGlyphSegment nothing = NTGlyphSegment::segmentWithGlyphRun(empty, QRectF(0, 0, 30, 15), 0, 2,
                                                                       labelAttributes(), std::nullopt, true, false);
    EXPECT_EQ(nothing.numGlyphs(), 0);
    QImage image = blank(30, 15);
    {
        QPainter painter(&image);
        nothing.drawRect(painter, QRectF(0, 0, 30, 15), std::nullopt);
    }
    EXPECT_EQ(image, blank(30, 15));
}

TEST(NTTextStorageStoreTest, CheckOutReusesTheLastReturnedStorage)
{
    NTTextStorageStore pool;
    auto first = pool.checkOutForString(QStringLiteral("one"), labelAttributes());
    const NTTextStorage *address = first.get();
    first->setContainerSize(QSizeF(77, 1000));
    pool.checkIn(std::move(first));
    EXPECT_EQ(pool.idleCount(), 1);
    auto again = pool.checkOutForString(QStringLiteral("two"), labelAttributes());
    EXPECT_EQ(again.get(), address);
    EXPECT_EQ(again->string(), QStringLiteral("two"));
    EXPECT_EQ(again->containerSize(), QSizeF(77, 1000)); // the last borrower's size stays
    auto other = pool.checkOutForString(QString(), labelAttributes());
    EXPECT_NE(other.get(), again.get());
    EXPECT_EQ(other->length(), 0);
    pool.checkIn(std::move(again));
    pool.checkIn(std::move(other));
    EXPECT_EQ(pool.idleCount(), 2);
}

TEST(NTTextStorageStoreTest, BlittersMayBeBuiltOnSeveralThreads)
{
    std::vector<std::unique_ptr<QThread>> threads;
    std::atomic<int> built{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([&built] {
            for (int i = 0; i < 50; ++i) {
                NTGlyphBlitter blitter(QStringLiteral("label %1").arg(i), QSizeF(100, 20), 1, true, labelAttributes(),
                                       std::nullopt, false, true, false);
                if (!blitter.segments().empty())
                    ++built;
            }
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    EXPECT_EQ(built.load(), 200);
    EXPECT_LE(NTTextStorageStore::sharedInstance().idleCount(), 5);
}
