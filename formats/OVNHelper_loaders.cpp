// The image loaders of OVNHelper.

#include "formats/OVNHelper.h"

#include "formats/OVNRAWImporter.h"
#include "formats/PBMImageRep.h"
#include "decoding/ImageFileReader.h"
#include "decoding/Movie.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstring>

namespace {

// A decode of a damaged file must not block its thread for ever.
constexpr int dcrawTimeoutMs = 5 * 60 * 1000;

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > ImageFileReader::maxWholeFileBytes)
        return {};
    return file.readAll();
}

bool isAllBlack(const QImage &image)
{
    const int depth = image.format() == QImage::Format_RGB888 ? 3 : image.format() == QImage::Format_Grayscale8 ? 1 : 0;
    if (depth == 0)
        return false;
    const size_t rowBytes = size_t(image.width()) * size_t(depth);
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        if (line[0] != 0 || std::memcmp(line, line + 1, rowBytes - 1) != 0)
            return false;
    }
    return true;
}

} // namespace

QImage OVNHelper::imageForRAWMediaFile(const QString &path) { return imageForRAWMediaFile(path, 0); }

QImage OVNHelper::imageForRAWMediaFile(const QString &path, int shrinkFactor)
{
    try {
        const QByteArray data = readWholeFile(path);
        if (data.isEmpty())
            return {};
        OVNRAWImporter importer;
        importer.setData(data);
        importer.processImageBufferWithShrinkFactor(shrinkFactor);
        return importer.image();
    } catch (...) {
        // Out of memory on a huge file, for one.
        return {};
    }
}

QImage OVNHelper::imageForDCRAWMediaFile(const QString &path) { return imageForDCRAWMediaFile(path, 0); }

QImage OVNHelper::imageForDCRAWMediaFile(const QString &path, int /*shrinkFactor*/)
{
    try {
        QProcess dcraw;
        dcraw.setWorkingDirectory(QDir::homePath());
        dcraw.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dcraw.setStandardInputFile(QProcess::nullDevice());
        // To standard output, the camera's white balance, half size, not turned (like every other
        // loader's picture: the turn is the metadata's). dcraw knows no "--", so the file goes by
        // its absolute path: a name starting with "-" is then not taken for an option.
        dcraw.start(dcrawCommand(), {QStringLiteral("-c"), QStringLiteral("-w"), QStringLiteral("-h"),
                                     QStringLiteral("-t"), QStringLiteral("0"), QFileInfo(path).absoluteFilePath()});
        if (!dcraw.waitForStarted())
            return {};
        if (!dcraw.waitForFinished(dcrawTimeoutMs)) {
            dcraw.kill();
            dcraw.waitForFinished();
            return {};
        }
        const QByteArray ppm = dcraw.readAllStandardOutput();
        if (ppm.isEmpty())
            return {};
        const QImage image = PBMImageRep::imageRepWithData(ppm);
        // A file whose header promises a picture its data does not hold comes out black.
        return isAllBlack(image) ? QImage() : image;
    } catch (...) {
        return {};
    }
}

QImage OVNHelper::imageForQTMediaFile(const QString &path)
{
    try {
        const std::unique_ptr<Movie> movie = Movie::open(path);
        if (!movie)
            return {};
        return imageForMovie(*movie, 0);
    } catch (...) {
        return {};
    }
}

QImage OVNHelper::imageForMovie(Movie &movie, qint64 timeValue)
{
    try {
        // The duration's time scale, with the given count of its units.
        MovieTime time = movie.duration();
        time.timeValue = timeValue;
        return movie.frameImageAtTime(time);
    } catch (...) {
        return {};
    }
}
