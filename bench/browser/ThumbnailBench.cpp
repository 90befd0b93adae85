// The cell renderer: one 128-pixel cell of each built-in layout from a 256-pixel thumbnail.
#include "browser/OVNThumbnail.h"
#include "browser/OVNThumbnailHelper.h"
#include "platform/MediaRecord.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <vector>

namespace {

void renderCell(benchmark::State &state)
{
    OVNThumbnail renderer;
    const int style = int(state.range(0));
    renderer.setWidth(style == 3 ? 428 : 128);
    renderer.setHeight(128);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(style));
    QImage picture(256, 171, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QLinearGradient(0, 0, 256, 171));
    painter.end();
    MediaRecord record;
    record.insert(QStringLiteral("displaytag"), QStringLiteral("IMG_0412.JPG"));
    record.insert(QStringLiteral("rating"), QStringLiteral("3"));
    record.insert(QStringLiteral("imagewidth"), QStringLiteral("4500"));
    record.insert(QStringLiteral("imageheight"), QStringLiteral("3000"));
    record.insert(QStringLiteral("filesize"), QStringLiteral("3400000"));
    record.insert(QStringLiteral("filetype"), QStringLiteral("Movie;541"));
    record.insert(QStringLiteral("filedts"), QStringLiteral("2024-05-01 10:00:00"));
    // As many pictures as a screen shows, so that they are not all in the processor's cache.
    std::vector<QImage> pictures;
    for (int i = 0; i < 120; ++i)
        pictures.push_back(picture.copy());
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(renderer.createThumbnailForImage(pictures[next], record));
        next = (next + 1) % pictures.size();
    }
}
BENCHMARK(renderCell)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
