#include "platform/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

namespace {

QVariantMap startupDefaults()
{
    // About the size of the program's own start-up table, so that look-ups walk a realistic map.
    QVariantMap defaults;
    for (int i = 0; i < 200; ++i)
        defaults.insert(QStringLiteral("Preference%1").arg(i), QString::number(i));
    defaults.insert(QStringLiteral("ThumbnailLabelFont"), QStringLiteral("Sans Serif"));
    defaults.insert(QStringLiteral("ShowCountOnFilmRolls"), QStringLiteral("1"));
    return defaults;
}

// The thumbnail view reads its preferences for every cell it draws; both keys come from the
// registered layer, the deepest of the three.
void BM_ReadRegisteredString(benchmark::State &state)
{
    UserDefaults defaults;
    defaults.registerDefaults(startupDefaults());
    defaults.setArguments({QStringLiteral("ostrevan"), QStringLiteral("-DBVendor"), QStringLiteral("Integrated")});
    const QString key = QStringLiteral("ThumbnailLabelFont");
    for (auto _ : state)
        benchmark::DoNotOptimize(defaults.stringForKey(key));
}
BENCHMARK(BM_ReadRegisteredString);

void BM_ReadRegisteredBool(benchmark::State &state)
{
    UserDefaults defaults;
    defaults.registerDefaults(startupDefaults());
    const QString key = QStringLiteral("ShowCountOnFilmRolls");
    for (auto _ : state)
        benchmark::DoNotOptimize(defaults.boolForKey(key));
}
BENCHMARK(BM_ReadRegisteredBool);

// A write saves the whole file at once (atomic replacement, fsync included), so this is the cost
// of one changed preference with a file of the given number of entries.
void BM_SetObjectAndSave(benchmark::State &state)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("ostrevan/preferences.plist")));
    for (int i = 0; i < state.range(0); ++i)
        defaults.setString(QString::number(i), QStringLiteral("Stored%1").arg(i));
    qint64 value = 0;
    for (auto _ : state) {
        if (!defaults.setInteger(++value, QStringLiteral("ThumbnailSize")))
            state.SkipWithError("the preferences could not be saved");
    }
}
BENCHMARK(BM_SetObjectAndSave)->Arg(10)->Arg(200)->Unit(benchmark::kMicrosecond);

} // namespace
