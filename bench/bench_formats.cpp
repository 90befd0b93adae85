// What the import pays per file for typing it, and for expanding a dropped folder tree.

#include "formats/OVNExtensionMapping.h"
#include "formats/OVNExtensionMappingHelper.h"
#include "formats/OVNHelper.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void fileTypeLookups(benchmark::State &state)
{
    const OVNExtensionMapping mapping(OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
    // A spread of rows: early, late, and a miss that walks the whole table.
    const QStringList files = {"/cards/DCIM/IMG_0001.JPG", "/cards/DCIM/DSC_0002.NEF", "/video/clip.mov",
                               "/audio/take.aifc", "/notes/readme.unknown"};
    for (auto _ : state) {
        for (const QString &file : files) {
            benchmark::DoNotOptimize(mapping.getProcessorForFile(file));
            benchmark::DoNotOptimize(mapping.getTypeForFile(file));
            benchmark::DoNotOptimize(mapping.getParseEXIFForFile(file));
        }
    }
    state.SetItemsProcessed(state.iterations() * files.size());
}
BENCHMARK(fileTypeLookups);

void fileListExpansion(benchmark::State &state)
{
    QTemporaryDir dir;
    const int folders = 100;
    const int filesPerFolder = static_cast<int>(state.range(0)) / folders;
    for (int f = 0; f < folders; ++f) {
        const QString folder = dir.filePath(QStringLiteral("roll%1/sub").arg(f));
        QDir().mkpath(folder);
        for (int i = 0; i < filesPerFolder; ++i) {
            QFile file(folder + QStringLiteral("/IMG_%1.JPG").arg(i));
            file.open(QIODevice::WriteOnly);
        }
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(OVNHelper::parseFileList({dir.path()}));
    state.SetItemsProcessed(state.iterations() * folders * filesPerFolder);
}
BENCHMARK(fileListExpansion)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
