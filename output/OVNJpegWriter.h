#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

class QImage;

// The one JPEG writer of the output actions (export, e-mail, web gallery): any media file the
// program can render becomes a JPEG of bounded size, upright, optionally captioned. It holds no
// state and may run on any thread.
class OVNJpegWriter
{
public:
    enum class Caption { Off, On };

    // Loads `source` by the loader its processor names (those the file-type codes call writable),
    // fits it into maxwidth × maxheight pixels (never enlarged), turns it by the EXIF
    // `orientation`, stamps the caption (author line, then file name) when asked, and writes it
    // to `saveTo` at round(quality × 100) (0 or less means 0.85, above 1 means 1). True exactly
    // when the file was written; on any failure nothing is left at `saveTo` and `why` says what
    // the user can do about it (readingProblem's words, or the disk that is full). The file is
    // written beside its place and renamed into it; a link at `saveTo` is followed only by the
    // walk's rule (FileAccess::writeThroughTemporary).
    //
    // Without a caption, a still image or camera RAW file is written whole in a decoder process
    // (MediaDecoder::writeJpeg): a picture wanted upright at its own size goes from its reader's
    // rows into the encoder a band at a time, any other is read at no more than the box needs,
    // and only the encoded file comes back; picturesAtOnce() such pictures at once, of any size
    // (one that must be held whole and needs more than a decoder's limit takes the larger decoder,
    // one file at a time). A picture with a caption, or a movie's frame, is decoded in a decoder
    // process at no more than the box needs (see loadSource) and encoded here: a box of at most
    // smallBoxPixels in a decoder with a thumbnail's limits, picturesAtOnce() of them at once,
    // each holding its turn until its file is written; a larger box, or a file whose reduced read
    // needs more than those limits, in a full-size decoder, one file of the program's outputs at
    // a time.
    static bool scaleAndSaveAsJPEG(const QString &source, int maxwidth, int maxheight, float quality,
                                   const QString &saveTo, Caption caption, const QString &author,
                                   const QString &filename, int orientation, QString *why = nullptr);

    // The picture of `source` as the writer loads it: by the loader its processor names, fitting
    // maxwidth × maxheight (never enlarged), as stored (unturned). Null with the reason in `why`.
    static QImage loadSource(const QString &source, int maxwidth, int maxheight, QString *why = nullptr);

    // Boxes up to this many pixels are read in decoders with a thumbnail's limits: the readers
    // reduce while they read, so such a picture and its reader's buffers stay well within them.
    static constexpr qint64 smallBoxPixels = qint64(2048) * 2048;

    // How many full-size decodes the outputs run at once, and how many run now (tests).
    static constexpr int fullSizeDecodesAtOnce = 1;
    static int fullSizeDecodesRunning();

    // How many pictures the program's outputs make at once, and how many they make now (tests):
    // one for every core. Each holds a decoder (its libraries and a reduced picture's or a band's
    // buffers, some 45 MB) and here its encoded file, or, with a caption, its picture of a small
    // box. The outputs' thread pools run as many threads.
    static int picturesAtOnce();
    static int picturesRunning();

    // Why a file gave no picture, in the words every road uses (ImageFileReader::noPictureText):
    // the decoder's refusal (memory, time, Cancel, a decoder ended from outside or on a fault),
    // the damage its reader met, a kind of picture not read, or that the picture cannot be read.
    static QString readingProblem(ImageFileReader::Facts::Refusal refusal, const QString &damage,
                                  const QString &unsupported = {});

    // Why a write into `folder` failed with the system's `error`: a full disk is named as such.
    static QString writingProblem(int error, const QString &folder, const QString &fallback);

    // The size `size` is written at in a maxwidth × maxheight box: the longer ratio decides (the
    // height on a tie), the other side truncated, never enlarged, at least 1 × 1.
    static QSize fittedSize(QSize size, int maxwidth, int maxheight);

    // The JPEG quality (0..100) for the caller's factor.
    static int jpegQuality(float quality);

    // `image` as a JPEG file at `quality` (0..100), byte for byte what Qt's writer makes of it,
    // without first turning each row into RGB as that writer does; nullopt when it cannot be
    // encoded.
    static std::optional<QByteArray> encodedJpeg(const QImage &image, int quality);

    // Draws the caption box into the top-right corner of `image`.
    static void drawCaption(QImage &image, const QString &author, const QString &filename);
};
