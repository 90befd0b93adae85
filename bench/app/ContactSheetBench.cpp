// Contact-sheet printing speed: 1,000 JPEG thumbnails (256 x 192) printed from a catalog into a
// PDF by `ovn-catalog-window --print-pdf` (6 per line, A4: 21 pages), beside ImageMagick `montage`
// over the same JPEG files in one run (6 x 8 tiles a page at the thumbnails' own size, 21 pages).
// Debian's ImageMagick policy forbids writing PDF, so montage writes its pages as JPEG files, the
// raster a PDF of it would wrap. Whole process against whole process, alternating after a warm-up;
// prints each pair and the median ratio.
//
// The thumbnails and the catalog holding them are made first, in a scratch folder.
// Usage: bench_contact_sheet [COUNT] [PAIRS]
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A distinct picture per index: a gradient, a few shapes and noise, so that it compresses like a
// photograph's thumbnail.
QImage makeThumbnail(int index)
{
    QImage image(256, 192, QImage::Format_RGB32);
    quint32 state = 2463534242u ^ quint32(index * 2654435761u);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state & 31) - 16;
            line[x] = qRgb(std::clamp((index * 53 + x) % 256 + noise, 0, 255),
                           std::clamp((index * 97 + y) % 256 + noise, 0, 255),
                           std::clamp((index * 193 + x + y) % 256 + noise, 0, 255));
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor::fromHsv(index * 37 % 360, 200, 200));
    painter.drawEllipse(QPointF(60 + index % 130, 96), 40, 50);
    return image;
}

double runSeconds(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed (%d)\n", qPrintable(program), process.exitCode());
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 7;
    QTemporaryDir scratch;
    const QString pictures = scratch.filePath(QStringLiteral("thumbs"));
    QDir().mkpath(pictures);

    // The thumbnails as files (for montage) and as a catalog's collection (for the sheet).
    const QString catalog = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    OVNDatabaseAccess connection;
    connection.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog);
    if (!connection.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(connection)) {
        std::fprintf(stderr, "cannot make the catalog: %s\n", qPrintable(connection.getLastErrorMessage()));
        return 1;
    }
    const QString sheet = connection.addCategoryListEntry(QStringLiteral("Sheet"), QStringLiteral("C"));
    QStringList files;
    qint64 bytes = 0;
    connection.beginTransaction();
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/thumb_%2.jpg").arg(pictures).arg(i, 5, 10, QLatin1Char('0'));
        if (!makeThumbnail(i).save(path, "JPEG", 75))
            return 1;
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray data = file.readAll();
        bytes += data.size();
        files.append(path);
        const QVariantMap record = {
            {QStringLiteral("categoryid"), sheet},
            {QStringLiteral("displaytag"), QFileInfo(path).fileName()},
            {QStringLiteral("absolutepath"), path},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("thumbimage"), data},
        };
        if (connection.addMediaListEntry(record).isEmpty()) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(connection.getLastErrorMessage()));
            return 1;
        }
    }
    connection.commitTransaction();
    connection.closeDBConnection();
    std::printf("%d JPEG thumbnails of 256 x 192 (%.1f MB) in files and in a catalog\n", count, bytes / 1e6);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    const QString pdf = scratch.filePath(QStringLiteral("sheet.pdf"));
    const QStringList ours = {catalog, QStringLiteral("--category"), QStringLiteral("Sheet"),
                              QStringLiteral("--print-pdf"), pdf, QStringLiteral("--per-line"), QStringLiteral("6"),
                              QStringLiteral("--print-style"), QStringLiteral("0")};
    const QString montagePages = scratch.filePath(QStringLiteral("montage-%02d.jpg"));
    const QStringList montage = files
        + QStringList{QStringLiteral("-tile"), QStringLiteral("6x8"), QStringLiteral("-geometry"),
                      QStringLiteral("256x256+14+14"), QStringLiteral("-quality"), QStringLiteral("90"), montagePages};
    const QString tool = QStringLiteral(OVN_CATALOG_WINDOW_TOOL);
    const QString magick = QStringLiteral("/usr/bin/montage");

    runSeconds(tool, ours, environment);
    runSeconds(magick, montage, environment);
    std::vector<double> oursRuns, montageRuns, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const double a = runSeconds(tool, ours, environment);
        const double b = runSeconds(magick, montage, environment);
        oursRuns.push_back(a);
        montageRuns.push_back(b);
        ratios.push_back(a / b);
        std::printf("pair %d: sheet to PDF %.3f s, montage %.3f s, ratio %.2f\n", pair + 1, a, b, a / b);
    }
    const int montageOutputs = int(QDir(scratch.path()).entryList({QStringLiteral("montage-*.jpg")}).size());
    std::printf("%d thumbnails: sheet to PDF median %.3f s (%.1f MB), montage median %.3f s (%d pages), "
                "median ratio sheet/montage %.2f (goal: at most 1)\n",
                count, median(oursRuns), QFileInfo(pdf).size() / 1e6, median(montageRuns), montageOutputs,
                median(ratios));
    return 0;
}
