// The image loaders of OVNHelper.

#include "formats/OVNHelper.h"

#include "formats/OVNRAWImporter.h"
#include "formats/PBMImageRep.h"
#include "decoding/DcrawReader.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "decoding/Movie.h"

#include <QStandardPaths>

QImage OVNHelper::imageForRAWMediaFile(const QString &path) { return imageForRAWMediaFile(path, 0); }

QImage OVNHelper::imageForRAWMediaFile(const QString &path, int shrinkFactor)
{
    // Developed in a decoder process, within its memory and time limits.
    return MediaDecoder(MediaDecoder::Use::FullSize).developRaw(path, shrinkFactor);
}

QImage OVNHelper::imageForDCRAWMediaFile(const QString &path) { return imageForDCRAWMediaFile(path, 0); }

QImage OVNHelper::imageForDCRAWMediaFile(const QString &path, int /*shrinkFactor*/)
{
    return imageForDCRAWMediaFile(path, QSize());
}

QImage OVNHelper::imageForDCRAWMediaFile(const QString &path, QSize box, QSize *dcrawSize,
                                         ImageFileReader::Facts::Refusal *refusal)
{
    // dcraw runs confined and its picture is reduced to the box where it is decoded; only the
    // reduced picture comes here.
    const QString dcraw = QStandardPaths::findExecutable(dcrawCommand());
    if (dcraw.isEmpty())
        return {};
    return DcrawReader::read(path, dcraw, box, dcrawSize, refusal);
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
