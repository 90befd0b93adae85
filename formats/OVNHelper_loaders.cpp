// The image loaders of OVNHelper.

#include "formats/OVNHelper.h"

#include "formats/OVNRAWImporter.h"
#include "formats/PBMImageRep.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "decoding/Movie.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>

#include <cstring>

namespace {

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
    // Developed in a decoder process, within its memory and time limits.
    return MediaDecoder(MediaDecoder::Use::FullSize).developRaw(path, shrinkFactor);
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
        // dcraw is a decoder too: the same memory limit as a full-size read, and ended at the
        // thread's deadline (a minute at most) or at its Cancel.
        dcraw.setChildProcessModifier([] {
            const rlim_t limit = rlim_t(MediaDecoder::memoryLimit(MediaDecoder::Use::FullSize));
            const rlimit bounds{limit, limit};
            setrlimit(RLIMIT_DATA, &bounds);
        });
        if (!dcraw.waitForStarted())
            return {};
        const auto deadline = DecodeInterrupt::deadlineWithin(MediaDecoder::timeLimit);
        while (!dcraw.waitForFinished(50)) {
            if (dcraw.state() == QProcess::NotRunning)
                break;
            if (DecodeInterrupt::cancelled() || DecodeInterrupt::Clock::now() >= deadline) {
                dcraw.kill();
                dcraw.waitForFinished();
                return {};
            }
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
    return MediaDecoder::firstMovieFrame(path, MediaDecoder::Use::FullSize);
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
