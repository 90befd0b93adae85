// Reads the metadata of every JPEG under the shared test data 20 times over in this process and
// prints files per second beside `exiv2 -pa` over the same files, 20 times over, in one process.
//
//   bench_metadata [TESTDATA_DIR] [ROUNDS]
#include "formats/OVNImageTagParser.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

namespace {

QString defaultTestData()
{
    const QString fromEnvironment = qEnvironmentVariable("OVN_TESTDATA");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral(OVN_SOURCE_DIR "/../shared/testdata");
}

QStringList jpegFiles(const QString &root)
{
    QStringList files;
    QDirIterator it(root, {"*.jpg", "*.jpeg", "*.JPG", "*.JPEG"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString root = args.size() > 1 ? args.at(1) : defaultTestData();
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 20;
    const QStringList files = jpegFiles(root);
    if (files.isEmpty() || rounds <= 0) {
        std::fprintf(stderr, "bench_metadata: no JPEG files under %s\n", qPrintable(root));
        return 2;
    }
    const qint64 total = qint64(files.size()) * rounds;

    // Ours: one parser per file, as the import does, files memory-mapped.
    qint64 keys = 0;
    for (const QString &file : files) // warm the page cache for both contenders
        keys += OVNImageTagParser().parseFileForExifInfo(file).size();
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        for (const QString &file : files)
            keys += OVNImageTagParser().parseFileForExifInfo(file).size();
    }
    const double oursSeconds = timer.nsecsElapsed() / 1e9;
    const double oursRate = total / oursSeconds;

    std::printf("%d JPEG files x %d rounds = %lld reads (%lld keys)\n", int(files.size()), rounds,
                static_cast<long long>(total), static_cast<long long>(keys));
    std::printf("%-28s %10.3f s %12.0f files/s\n", "OVNImageTagParser", oursSeconds, oursRate);

    const QString exiv2 = QStandardPaths::findExecutable(QStringLiteral("exiv2"));
    if (exiv2.isEmpty()) {
        std::printf("%-28s missing (Debian package exiv2)\n", "exiv2 -pa");
        return 0;
    }
    QStringList exiv2Args{QStringLiteral("-pa")};
    for (int round = 0; round < rounds; ++round)
        exiv2Args += files;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    timer.restart();
    process.start(exiv2, exiv2Args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        std::printf("%-28s failed to run\n", "exiv2 -pa");
        return 1;
    }
    const double exiv2Seconds = timer.nsecsElapsed() / 1e9;
    const double exiv2Rate = total / exiv2Seconds;
    std::printf("%-28s %10.3f s %12.0f files/s\n", "exiv2 -pa (one process)", exiv2Seconds, exiv2Rate);
    return 0;
}
