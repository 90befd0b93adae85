#pragma once

#include "decoding/ImageFileReader.h"
#include "decoding/Movie.h"
#include "decoding/RawDecoder.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

// Where every road that reads a file's pixels decodes it: in a decoder process of the program's
// own (ovn-decoder), never in the caller's. The kernel bounds a decoder's memory (a data limit),
// the caller ends it at the file's deadline or at Cancel, and it can neither write files nor open
// network connections. A decoder that runs out of memory, passes its time or crashes inside a
// library costs only the file it was reading; the next file gets a new decoder.
//
// Decoders are shared through a pool: a MediaDecoder takes an idle one when it first needs it (or
// starts one), keeps it for its own calls (a movie stays open between frames) and gives it back
// when it ends. A decoder whose call failed, whose file was damaged or that opened a movie is
// never given to another file. Nobody waits for another caller's decoder: each caller has one of
// its own, so a small file never waits behind a large one.
//
// All decoders share one budget: each thumbnail decoder has a small limit and reduces pictures as
// it reads them; a file that needs more (a camera RAW file without a preview, a whole-picture
// library) is read again in the larger decoder, which one file holds at a time. Who waits for it
// may cancel, and the wait does not count against the file's time.
//
// The deadline of each call is the earlier of the thread's DecodeInterrupt scope and the use's
// own limit, counted from the moment the call starts; Cancel of that scope ends the decoder at
// once. Why a call gave no picture is in refusal(), in the words ImageFileReader::refusalText
// gives it. A decoder that answers outside the message schema (MediaDecoder_p.h) or sends a
// picture larger than the box asked for is treated as one that crashed.
class MediaDecoder
{
public:
    enum class Use {
        Thumbnail, // thumbnails and previews: many at once, each with a small memory limit
        FullSize,  // viewers, export and print: one file at a time, with a larger limit
    };

    explicit MediaDecoder(Use use = Use::Thumbnail);
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder &) = delete;
    MediaDecoder &operator=(const MediaDecoder &) = delete;

    // ImageFileReader::read, in the decoder.
    QImage read(const QString &path, QSize maxSize = QSize(), ImageFileReader::Facts *facts = nullptr);
    // ImageFileReader::readRaw of the file's bytes, in the decoder; `metadata` gets what the RAW
    // importer's identification says of the camera and the sensor (OVNRAWImporter::metadata).
    // Null for a file the RAW importer does not identify.
    QImage readRaw(const QString &path, QSize maxSize, ImageFileReader::Facts *facts = nullptr,
                   QVariantMap *metadata = nullptr);
    // What the RAW decoder's identification says of a camera RAW file (camera, sensor and picture
    // sizes, the camera's turn), read from its header in the decoder; nothing for a file that is no
    // supported camera RAW file, or whose identification was stopped (refusal() says why).
    std::optional<RawDecoder::Info> identifyRaw(const QString &path);
    // A camera RAW file developed whole (shrinkFactor 0) or reduced by LibRaw's shrink factor; with
    // a valid `box` the decoder fits the picture to it before it sends it.
    QImage developRaw(const QString &path, int shrinkFactor, ImageFileReader::Facts *facts = nullptr,
                      QSize box = QSize());

    // The file's picture as the outputs write it, encoded as a JPEG file in the decoder: fitted
    // into `box` (never enlarged; the longer ratio decides, the other side truncated), turned by the
    // EXIF `orientation`, translucency on white, at `quality` (0..100). A picture wanted upright at
    // its own size goes from its reader's rows straight into the encoder a band at a time
    // (ImageFileReader::stream), so that neither the decoder nor the caller holds it whole; any
    // other is read reduced as read() reads it, and only its file crosses to the caller. The
    // file's bytes; nullopt where there is no picture (refusal() and `facts` say why).
    std::optional<QByteArray> writeJpeg(const QString &path, QSize box, int orientation, int quality,
                                        ImageFileReader::Facts *facts = nullptr);
    // The same of a camera RAW file developed as developRaw() develops it.
    std::optional<QByteArray> writeRawJpeg(const QString &path, int shrinkFactor, QSize box, int orientation,
                                           int quality, ImageFileReader::Facts *facts = nullptr);

    // PictureData::decodeToFit of a picture held as bytes (a catalog's stored thumbnail), in the
    // decoder; `sourceSize` gets its size as stored.
    QImage readData(const QByteArray &data, QSize box, QSize *sourceSize = nullptr);

    // The extensions of the picture readers the decoder program registered at its start
    // (ImageFileReader::registeredFileTypes, asked in the decoder); nothing when it did not answer.
    std::optional<QStringList> readerFileTypes();

    // A movie or document, opened in the decoder and kept open for movieFrame() until the next
    // openMovie() or the end of this object.
    struct MovieInfo {
        Movie::Kind kind = Movie::Kind::Video;
        MovieTime duration;
        QSize naturalSize;
    };
    std::optional<MovieInfo> openMovie(const QString &path, QString *error = nullptr);
    // A frame of the open movie, as Movie::frameImageAtTime gives it; `error` says why there is
    // none.
    QImage movieFrame(MovieTime time, QSize size = QSize(), QString *error = nullptr);
    // A movie's or document's first picture (the frame at 0), opened and read in one decoder.
    static QImage firstMovieFrame(const QString &path, Use use = Use::FullSize);

    // Why the last call gave no picture, when it was the decoder's limits or a stop rather than
    // the file; None otherwise.
    ImageFileReader::Facts::Refusal refusal() const { return m_refusal; }

    // The memory limit, in bytes of data (heap and private mappings), of a thumbnail decoder
    // (Thumbnail) and of the larger decoder (FullSize: what a full-size read may use at most).
    static qint64 memoryLimit(Use use);
    // The time a call may take at most when the thread's DecodeInterrupt scope allows more.
    static constexpr std::chrono::seconds timeLimit{60};

    // Ends the idle decoders of the pool (tests; the program's end ends them too).
    static void endIdleDecoders();
    // The callers in this process that hold the larger decoder or wait for their turn at it now.
    static int largeDecoderCallers();

    // The children the decoders forked, one a file, which a look at the process tree mostly
    // misses, they live so briefly: how many were started, and of the decoders that have ended,
    // how many started any and the sum of each one's largest child's peak memory. A decoder has one
    // child at a time, so that sum bounds what its children held at once.
    struct Children {
        int started = 0;
        int templates = 0;
        qint64 peakBytes = 0;
    };
    static Children endedChildren();
    // Whether `pid` is a decoder's child for one file that has not ended as far as this process
    // was told: a look at the process tree reads no more of such a child than its resident memory.
    static bool isChildForOneFile(pid_t pid);

    struct Process;

private:
    bool exchange(const QVariantMap &request, QVariantMap &reply, QImage *image);
    bool exchangeOnce(const QVariantMap &request, QVariantMap &reply, QImage *image);
    // Which of a decoder's templates forks the request's child: the one that gave up the
    // libraries the usual files never reach, where the request is such a file, or the whole one.
    enum class Templates { Usual, Whole };
    bool exchangeWith(const QVariantMap &request, QVariantMap &reply, QImage *image, Templates templates);
    std::optional<QByteArray> exchangeJpeg(const QVariantMap &request, ImageFileReader::Facts *facts);
    bool receiveReply(QSize box, QVariantMap &reply, QImage *image, std::chrono::steady_clock::time_point hardDeadline,
                      const std::atomic<bool> *cancel, bool writesJpeg = false);
    static QVariantMap movieRequest(const QString &path);
    void fail(ImageFileReader::Facts::Refusal refusal);
    void giveLargeTurnBack();

    Use m_use;
    std::unique_ptr<Process> m_process;
    bool m_holdsLargeTurn = false;          // the larger decoder is this caller's until it ends
    QString m_moviePath;                    // of the movie open in m_process
    std::optional<Movie::Kind> m_movieKind; // of the movie open in m_process
    QByteArray m_jpeg;                      // the file a "writeJpeg" request's decoder wrote
    ImageFileReader::Facts::Refusal m_refusal = ImageFileReader::Facts::Refusal::None;
    bool m_needsWholeDecoder = false; // the last child ended on a library its template gave up
};
