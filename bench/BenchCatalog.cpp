#include "BenchCatalog.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QDir>
#include <QThread>
#include <QImage>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <functional>
#include <vector>
#include <thread>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cmath>

namespace BenchCatalog {

std::shared_ptr<OVNDatabaseAccess> makeCatalog(const QString &path)
{
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!connection->openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(*connection)) {
        std::fprintf(stderr, "cannot make the catalog: %s\n", qPrintable(connection->getLastErrorMessage()));
        std::exit(1);
    }
    return connection;
}

void addEntry(OVNDatabaseAccess &connection, const QVariantMap &record)
{
    if (connection.addMediaListEntry(record).isEmpty()) {
        std::fprintf(stderr, "insert failed: %s\n", qPrintable(connection.getLastErrorMessage()));
        std::exit(1);
    }
}

void saveCameraPicture(const QString &path)
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(64));
            line[x] = qRgb((x / 24 + noise) & 255, (y / 16 + noise) & 255, (x + y) / 40 & 255);
        }
    }
    if (!image.save(path, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

QImage noisyThumbnail(int index)
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

ThumbnailFiles addThumbnailFiles(OVNDatabaseAccess &connection, const QString &category, const QString &folder,
                                 int count, int quality, const QVariantMap &extra)
{
    ThumbnailFiles made;
    connection.beginTransaction();
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/thumb_%2.jpg").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
        if (!noisyThumbnail(i).save(path, "JPEG", quality))
            std::exit(1);
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray data = file.readAll();
        made.bytes += data.size();
        made.files.append(path);
        QVariantMap record = {
            {QStringLiteral("categoryid"), category}, {QStringLiteral("displaytag"), QFileInfo(path).fileName()},
            {QStringLiteral("absolutepath"), path},   {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("thumbimage"), data},
        };
        for (auto field = extra.begin(); field != extra.end(); ++field)
            record.insert(field.key(), field.value());
        addEntry(connection, record);
    }
    connection.commitTransaction();
    return made;
}

double runSeconds(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                  bool quiet)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (quiet)
        process.setStandardOutputFile(QProcess::nullDevice());
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

bool comparePrograms(const QString &benchPair, const QString &title, const QStringList &a, const QStringList &b)
{
    std::fflush(stdout);
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    pair.start(benchPair, QStringList{QStringLiteral("--title"), title, QStringLiteral("--a")} + a
                              + QStringList{QStringLiteral("--b")} + b);
    return pair.waitForFinished(-1) && pair.exitStatus() == QProcess::NormalExit && pair.exitCode() == 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QImage cameraPicture(int index, QSize size, int noiseAmplitude)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 state = 2463534242u ^ quint32(index * 2654435761u);
    const int r0 = (index * 53) % 256, g0 = (index * 97) % 256, b0 = (index * 193) % 256;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int gy = y * 255 / size.height();
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state % quint32(2 * noiseAmplitude)) - noiseAmplitude;
            const int gx = x * 255 / size.width();
            line[x] = qRgb(qBound(0, (r0 + gx) / 2 + noise, 255), qBound(0, (g0 + gy) / 2 + noise, 255),
                           qBound(0, (b0 + 255 - gx) / 2 + noise, 255));
        }
    }
    return image;
}

QStringList importCommand(const QString &tool, const QString &catalog, const QString &folder)
{
    return {QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("rm -f '%1' && exec '%2' --quiet '%1' Bench '%3'").arg(catalog, tool, folder)};
}

namespace {

QStringList makeEach(const QDir &folder, int count, const QString &extension, QSize size,
                     const std::function<QImage(int)> &picture,
                     const std::function<bool(const QImage &, const QString &)> &save)
{
    folder.mkpath(QStringLiteral("."));
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(folder.filePath(QStringLiteral("photo%1.%2").arg(i, 4, 10, QLatin1Char('0')).arg(extension)));
    std::atomic<int> next{0};
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < QThread::idealThreadCount(); ++t)
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                if (QFileInfo(paths.at(i)).size() > 0)
                    continue;
                const QString temporary = paths.at(i) + QStringLiteral(".part");
                if (save(picture(i), temporary))
                    QFile::rename(temporary, paths.at(i));
                ++made;
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    if (made > 0)
        std::printf("made %d pictures of %dx%d in %s\n", made.load(), size.width(), size.height(),
                    qPrintable(folder.path()));
    return paths;
}

// A small fast generator of the pictures' randomness, the same for an index on every run.
struct Random {
    quint32 state;
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double unit() { return double(next() % 1000000u) / 1e6; }
};

// Smooth noise in [0, 1) at `cell` pixels a grain: random values on a grid, interpolated.
class ValueNoise
{
public:
    ValueNoise(quint32 seed, QSize size, int cell) : m_cell(cell)
    {
        m_columns = size.width() / cell + 2;
        m_rows = size.height() / cell + 2;
        Random random{seed | 1u};
        m_grid.resize(size_t(m_columns) * size_t(m_rows));
        for (float &value : m_grid)
            value = float(random.unit());
    }
    float at(int x, int y) const
    {
        const int gx = x / m_cell, gy = y / m_cell;
        const float fx = float(x % m_cell) / float(m_cell), fy = float(y % m_cell) / float(m_cell);
        const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const float *row = m_grid.data() + size_t(gy) * size_t(m_columns);
        const float *below = row + m_columns;
        const float top = row[gx] + (row[gx + 1] - row[gx]) * sx;
        const float bottom = below[gx] + (below[gx + 1] - below[gx]) * sx;
        return top + (bottom - top) * sy;
    }

private:
    int m_cell;
    int m_columns = 0;
    int m_rows = 0;
    std::vector<float> m_grid;
};

} // namespace

QImage photograph(int index, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    Random random{2463534242u ^ quint32(index * 2654435761u)};
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // A sky or a wall behind: a soft shaded ground.
        QLinearGradient ground(0, 0, 0, size.height());
        ground.setColorAt(0, QColor::fromHsv(int(random.next() % 360), 60, 220));
        ground.setColorAt(1, QColor::fromHsv(int(random.next() % 360), 120, 90));
        painter.fillRect(image.rect(), ground);
        // Shapes from large to small, each over the ones before: sizes as in a scene, few large
        // and many small, each shaded by its own light.
        const double largest = std::max(size.width(), size.height()) * 0.35;
        for (int shape = 0; shape < 1500; ++shape) {
            const double radius =
                std::max(3.0, largest * std::pow(1.0 - double(shape) / 1500.0, 3.0) * (0.5 + random.unit()));
            const QPointF centre(random.unit() * size.width(), random.unit() * size.height());
            const QColor base =
                QColor::fromHsv(int(random.next() % 360), int(40 + random.next() % 180), int(50 + random.next() % 200));
            QLinearGradient light(centre - QPointF(radius, radius), centre + QPointF(radius, radius));
            light.setColorAt(0, base.lighter(140));
            light.setColorAt(1, base.darker(170));
            painter.setBrush(light);
            painter.setPen(Qt::NoPen);
            if (random.next() % 3 == 0) {
                painter.drawEllipse(centre, radius, radius * (0.3 + random.unit()));
            } else {
                QPolygonF outline;
                const int corners = 3 + int(random.next() % 5);
                for (int corner = 0; corner < corners; ++corner) {
                    const double angle = 2 * M_PI * (corner + random.unit() * 0.6) / corners;
                    const double reach = radius * (0.5 + random.unit() * 0.5);
                    outline << centre + QPointF(std::cos(angle) * reach, std::sin(angle) * reach);
                }
                painter.drawPolygon(outline);
            }
        }
    }
    // The detail of surfaces at several scales, and the grain of a sensor.
    const ValueNoise coarse(random.next(), size, 64), middle(random.next(), size, 16), fine(random.next(), size, 4);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const float texture =
                (coarse.at(x, y) - 0.5f) * 36 + (middle.at(x, y) - 0.5f) * 24 + (fine.at(x, y) - 0.5f) * 14;
            const int grain = int(random.next() % 7u) - 3;
            const int shift = int(texture) + grain;
            const QRgb pixel = line[x];
            line[x] = qRgb(qBound(0, qRed(pixel) + shift, 255), qBound(0, qGreen(pixel) + shift, 255),
                           qBound(0, qBlue(pixel) + shift + (int(random.next() % 3u) - 1), 255));
        }
    }
    return image;
}

QStringList makePictures(const QDir &folder, int count, const QString &extension, QSize size, int noiseAmplitude,
                         const std::function<bool(const QImage &, const QString &)> &save)
{
    return makeEach(
        folder, count, extension, size, [&](int index) { return cameraPicture(index, size, noiseAmplitude); }, save);
}

QStringList makePhotographs(const QDir &folder, int count, const QString &extension, QSize size,
                            const std::function<bool(const QImage &, const QString &)> &save)
{
    return makeEach(
        folder, count, extension, size, [&](int index) { return photograph(index, size); }, save);
}

QStringList makeCameraJpegs(const QDir &folder, int count)
{
    return makePictures(folder, count, QStringLiteral("jpg"), QSize(pictureWidth, pictureHeight), 16,
                        [](const QImage &picture, const QString &path) { return picture.save(path, "JPEG", 90); });
}

bool compareListings(const QString &benchPair, const QString &title, const QStringList &a, const QStringList &b,
                     const QString &field, double targetRatio)
{
    std::fflush(stdout);
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList arguments{
        QStringLiteral("--title"),    title, QStringLiteral("--same-fields"), QStringLiteral("--fields-a"), field,
        QStringLiteral("--fields-b"), field};
    if (targetRatio > 0)
        arguments += QStringList{QStringLiteral("--target-ratio"), QString::number(targetRatio)};
    pair.start(benchPair, arguments + QStringList{QStringLiteral("--a")} + a + QStringList{QStringLiteral("--b")} + b);
    return pair.waitForFinished(-1) && pair.exitStatus() == QProcess::NormalExit && pair.exitCode() == 0;
}

bool comparePrograms(const QString &benchPair, const QString &title, int pairs, int files, const QStringList &a,
                     const QStringList &b)
{
    std::fflush(stdout);
    QStringList arguments{QStringLiteral("--title"), title,
                          QStringLiteral("--pairs"), QString::number(pairs),
                          QStringLiteral("--items"), QString::number(files),
                          QStringLiteral("--a")};
    arguments += a;
    if (!b.isEmpty())
        arguments += QStringList{QStringLiteral("--b")} + b;
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    pair.start(benchPair, arguments);
    return pair.waitForFinished(-1) && pair.exitCode() == 0;
}

QString sameColumnsAsOurs(QString sql)
{
    sql = sql.trimmed();
    if (sql.endsWith(QLatin1Char(';')))
        sql.chop(1);
    return QStringLiteral("select mid, displaytag from (%1)").arg(sql);
}

} // namespace BenchCatalog
