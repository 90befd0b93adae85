// Reads the metadata of every JPEG under the shared test data ROUNDS times over in this process,
// and `exiv2 -pa` over the same files ROUNDS times over in one process, alternating the two PAIRS
// times after a warm-up; prints files per second of each sample.
//
//   bench_metadata [TESTDATA_DIR] [ROUNDS] [PAIRS]
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

// Files per second of one sample: every file `rounds` times.
double oursRate(const QStringList &files, int rounds, qint64 &keys)
{
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        for (const QString &file : files)
            keys += OVNImageTagParser().parseFileForExifInfo(file).size();
    }
    return double(files.size()) * rounds / (timer.nsecsElapsed() / 1e9);
}

double exiv2Rate(const QString &exiv2, const QStringList &files, int rounds)
{
    QStringList arguments{QStringLiteral("-pa")};
    for (int round = 0; round < rounds; ++round)
        arguments += files;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(exiv2, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return 0;
    return double(files.size()) * rounds / (timer.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString root = args.size() > 1 ? args.at(1) : defaultTestData();
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 20;
    const int pairs = args.size() > 3 ? args.at(3).toInt() : 7;
    const QStringList files = jpegFiles(root);
    if (files.isEmpty() || rounds <= 0 || pairs <= 0) {
        std::fprintf(stderr, "bench_metadata: no JPEG files under %s\n", qPrintable(root));
        return 2;
    }
    std::printf("%d JPEG files x %d rounds per sample, %d pairs after a warm-up\n", int(files.size()), rounds, pairs);

    // Ours: one parser per file, as the import does, each file read from disk.
    qint64 keys = 0;
    const QString exiv2 = QStandardPaths::findExecutable(QStringLiteral("exiv2"));
    oursRate(files, 1, keys); // warms the page cache for both contenders
    if (exiv2.isEmpty()) {
        std::printf("%-28s %12.0f files/s\n", "OVNImageTagParser", oursRate(files, rounds, keys));
        std::printf("%-28s missing (Debian package exiv2)\n", "exiv2 -pa");
        return 0;
    }
    if (exiv2Rate(exiv2, files, 1) <= 0) {
        std::printf("%-28s failed to run\n", "exiv2 -pa");
        return 1;
    }

    // Alternating samples, so that a change in the machine's load falls on both sides alike. The
    // two are not alike (a library call in this process against a whole program), so no ratio is
    // printed here: bench/metadata-pair compares ovn-metadump with exiv2 as processes.
    for (int pair = 1; pair <= pairs; ++pair) {
        const double ours = oursRate(files, rounds, keys);
        const double theirs = exiv2Rate(exiv2, files, rounds);
        if (theirs <= 0) {
            std::printf("%-28s failed to run\n", "exiv2 -pa");
            return 1;
        }
        std::printf("sample %d: OVNImageTagParser in process %10.0f files/s, exiv2 -pa (one process) %8.0f files/s\n",
                    pair, ours, theirs);
    }
    std::printf("%lld keys read\n", static_cast<long long>(keys));
    return 0;
}
