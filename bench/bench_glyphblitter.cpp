#include "uikit/DrawingKit.h"
#include "uikit/NTGlyphBlitter.h"
#include "uikit/NTPopUpHeaderViewCell.h"
#include "uikit/NTTextAttributes.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

namespace {

const QString title = QStringLiteral("Asset Details of the selected catalog entries");
const QSizeF titleSize(160, 17);

NTTextAttributes headerAttributes()
{
    NTTextAttributes attributes;
    attributes.font = DrawingKit::pixelFont(10);
    attributes.alignment = Qt::AlignHCenter;
    attributes.truncation = Qt::ElideMiddle;
    return attributes;
}

// A pane header's title redrawn from its laid-out glyph runs.
void BM_RedrawCachedTitle(benchmark::State &state)
{
    QImage image(200, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    NTGlyphBlitter blitter(title, titleSize, 1, true, headerAttributes(), std::nullopt, false, true, false);
    for (auto _ : state)
        blitter.drawRect(painter, QRectF(QPointF(20, 0), titleSize), std::nullopt, std::nullopt);
}

// The same title cut and laid out again on every redraw, as plain text drawing does.
void BM_RedrawTitleWithLayout(benchmark::State &state)
{
    QImage image(200, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    const NTTextAttributes attributes = headerAttributes();
    painter.setFont(attributes.font);
    for (auto _ : state) {
        const QString cut = QFontMetricsF(attributes.font).elidedText(title, Qt::ElideMiddle, titleSize.width() - 4);
        painter.drawText(QRectF(QPointF(20, 0), titleSize), Qt::AlignCenter, cut);
    }
}

// Building a blitter, with its text storage borrowed from the pool.
void BM_BuildTitleBlitter(benchmark::State &state)
{
    for (auto _ : state) {
        NTGlyphBlitter blitter(title, titleSize, 1, true, headerAttributes(), std::nullopt, false, true, false);
        benchmark::DoNotOptimize(blitter.minRect());
    }
}

// A whole 17-point header: gradient rows, top line, cached title and two grips.
void BM_DrawHeader(benchmark::State &state)
{
    QImage image(300, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    NTPopUpHeaderViewCell cell;
    cell.setTitle(QStringLiteral("Asset Details"));
    cell.setLeftGrip(2);
    cell.setRightGrip(1);
    const QRectF bounds(0, 0, 300, 17);
    for (auto _ : state)
        cell.drawInteriorWithFrame(painter, bounds, bounds);
}

BENCHMARK(BM_RedrawCachedTitle);
BENCHMARK(BM_RedrawTitleWithLayout);
BENCHMARK(BM_BuildTitleBlitter);
BENCHMARK(BM_DrawHeader);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
