// Capture speed: 200 distinct 12-megapixel JPEGs on a directory-browse camera. The download alone
// (ovn-capture, no catalog) beside `cp -r` of the same folder; then the download with cataloguing
// into a new catalog file beside `ovn-import` of the same files. Whole programs, timed in turn by
// the timing helper (bench_pair).
//
// The pictures are those of bench_import ($OVN_BENCH_DIR, default /tmp/ovn-import-bench), made
// there by it when missing. Usage: bench_capture [COUNT] [PAIRS]

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

bool comparePrograms(const QString &title, int pairs, int files, const QStringList &a, const QStringList &b)
{
    std::fflush(stdout);
    QStringList arguments{QStringLiteral("--title"), title,
                          QStringLiteral("--pairs"), QString::number(pairs),
                          QStringLiteral("--items"), QString::number(files),
                          QStringLiteral("--a")};
    arguments += a;
    arguments += QStringList{QStringLiteral("--b")} + b;
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    pair.start(QStringLiteral(OVN_BENCH_PAIR), arguments);
    return pair.waitForFinished(-1) && pair.exitCode() == 0;
}

QStringList shell(const QString &script) { return {QStringLiteral("sh"), QStringLiteral("-c"), script}; }

} // namespace

int main(int argc, char *argv[])
{
    const int count = argc > 1 ? std::max(4, atoi(argv[1])) : 200;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    const QString base = qEnvironmentVariableIsEmpty("OVN_BENCH_DIR") ? QStringLiteral("/tmp/ovn-import-bench")
                                                                      : qEnvironmentVariable("OVN_BENCH_DIR");
    QDir pictures(base + QStringLiteral("/pictures"));
    if (pictures.entryList({QStringLiteral("photo*.jpg")}, QDir::Files).size() < count) {
        QProcess make;
        make.setProcessChannelMode(QProcess::ForwardedChannels);
        make.start(QStringLiteral(OVN_IMPORT_BENCH), {QString::number(count), QStringLiteral("5")});
        make.waitForFinished(-1);
    }
    // The camera: hard links to the pictures in one DCIM-like folder.
    const QString camera = base + QStringLiteral("/capture-camera");
    QDir(camera).removeRecursively();
    QDir().mkpath(camera + QStringLiteral("/100CAMERA"));
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("photo%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        const QString target = camera + QStringLiteral("/100CAMERA/") + name;
        if (::link(QFile::encodeName(pictures.filePath(name)).constData(), QFile::encodeName(target).constData()) != 0)
            QFile::copy(pictures.filePath(name), target);
        bytes += QFileInfo(target).size();
    }
    std::printf("%d JPEGs of 4000x3000, %.1f MB, on a directory-browse camera at %s\n\n", count, double(bytes) / 1e6,
                qPrintable(camera));

    const QString out = base + QStringLiteral("/capture-out");
    const QString env = QStringLiteral("OVN_CAPTURE_DISK='%1' OVN_VOLUME_ROOTS=/nonexistent ").arg(camera);
    const QString capture = QStringLiteral("exec env %1'%2' --device 'disk:%3' --set svDestination1AddTSFolder_=0 "
                                           "--set svDestination2_= --set 'svDestination1_=%4' ")
                                .arg(env, QStringLiteral(OVN_CAPTURE_TOOL), camera, out + QStringLiteral("/dl"));
    const QString fresh = QStringLiteral("rm -rf '%1' && mkdir -p '%1/dl' && ").arg(out);
    bool ok = comparePrograms(QStringLiteral("Download of %1 files (%2 MB) against cp -r; MB/s = items/s x %3")
                                  .arg(count)
                                  .arg(double(bytes) / 1e6, 0, 'f', 1)
                                  .arg(double(bytes) / 1e6 / count, 0, 'f', 2),
                              pairs, count,
                              shell(fresh + capture + QStringLiteral("--set svCatalogSelection_=0 >/dev/null")),
                              shell(fresh + QStringLiteral("exec cp -r '%1' '%2/dl/'").arg(camera, out)));
    std::printf("\n");
    ok = comparePrograms(
             QStringLiteral("Download and cataloguing of %1 files against ovn-import of the same files").arg(count),
             pairs, count, shell(fresh + capture + QStringLiteral("--catalog '%1/c.sqlite' >/dev/null").arg(out)),
             shell(fresh
                   + QStringLiteral("exec '%1' --quiet '%2/c.sqlite' Bench '%3' >/dev/null")
                         .arg(QStringLiteral(OVN_IMPORT_TOOL), out, camera)))
         && ok;
    QDir(out).removeRecursively();
    return ok ? 0 : 1;
}
