#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QStringList>

class QIODevice;
class RowSink;

// The program's reading of image files: Qt's image readers with the image format plugins, camera
// RAW files that Qt cannot read through LibRaw, and the readers other parts of the program
// register for their own file types. Pictures come unturned (as stored); the orientation is in
// the file's metadata.
class ImageFileReader
{
public:
    struct Facts;
    // A reader registered by another module; it is asked first for files of its types, and for
    // files of any name whose content it tells by a signature.
    struct ImageRepClass {
        QStringList fileTypes; // lower-case extensions
        // The picture's size as the file's first bytes (up to headBytes) give it; invalid when
        // they are no header this reader reads.
        QSize (*pictureSize)(const QByteArray &head) = nullptr;
        // The picture read from the device (from its start), whole or, with a valid box, fitted
        // into it and reduced as its rows are read; `facts` get its size and why there is none.
        QImage (*imageWithDevice)(QIODevice &device, QSize box, Facts *facts) = nullptr;
        bool byContent = false;  // its header has a signature: read under any name
        bool movieStill = false; // a still the movie readers would open (Movie reads it here)
    };
    static void registerImageRepClass(const ImageRepClass &repClass);
    // The extensions of the registered readers, in the order they were registered.
    static QStringList registeredFileTypes();
    static constexpr qint64 headBytes = 4096;

    // The size of the picture of a file that a registered reader marked movieStill reads; invalid
    // for any other file.
    static QSize movieStillSize(const QString &path);

    // What a read learnt of the file beside its picture.
    struct Facts {
        QSize size;               // the full picture's size, as stored
        int orientation = 0;      // how to turn it, in the EXIF numbering, when the reader knows (camera
                                  // RAW files); 0 when the file's metadata is to say
        bool previewOnly = false; // a camera RAW file whose raw data could not be decoded: the
                                  // picture is its embedded preview (`size` is still the RAW's)
        // Why a file that may hold a picture gave none: its picture needs more than the whole
        // decoding budget (or its decoder's memory limit), its decode ended at the deadline or
        // Cancel of the thread's DecodeInterrupt scope, its decoder crashed (see MediaDecoder), or
        // its decoder was ended by a signal from outside the program (not a fault of the file).
        enum class Refusal { None, TooLarge, OutOfTime, Cancelled, Crashed, EndedFromOutside };
        Refusal refusal = Refusal::None;
    };
    // The refusal as the import lists it; empty for None.
    static QString refusalText(Facts::Refusal refusal);
    // Why a read gave no picture, in the one set of words every road says it in (the import, the
    // outputs, the viewers, mail): the decoder's refusal (the picture's size, its time, Cancel, a
    // fault), the damage its reader met (DecodeReport::damage), a kind of picture no reader here
    // reads (DecodeReport::unsupported), or else that the picture cannot be read.
    static QString noPictureText(Facts::Refusal refusal, const QString &damage = {}, const QString &unsupported = {});
    // A file read past damage, in the same words: "the file is damaged (DAMAGE)".
    static QString damagedText(const QString &damage);

    // The picture of the file, or null. With a valid `maxSize` the picture fits that box (its
    // aspect kept), and the readers decode at a reduced size where they can: JPEG's scaled
    // decoding with its rows averaged as they are decoded, a TIFF's reduced image or its rows averaged as they are
    // read, the rows of PNG files and of the registered readers' files averaged likewise, a camera's embedded preview,
    // or a half-size RAW decode; a picture decoded whole is reduced on the reading thread. Only regular
    // files are read: a device, a pipe or a socket, also behind a link, gives null at once. Every
    // decode waits for its share of the process's decoding budget (DecodeMemoryBudget), estimated
    // from the header before the decoder reserves anything, and a picture whose share would exceed
    // the whole budget is refused. Decodes end at the deadline or Cancel of the thread's
    // DecodeInterrupt scope (asked at every read of the file and every row or band): the picture
    // is then null and `facts` says why. A damaged file (cut short, or corrupt) gives the rows its
    // reader read before the fault, where they can be told, and the damage is noted to the
    // thread's DecodeReport scope ("the data ends early", "the data is corrupt"), also when
    // nothing could be read.
    static QImage read(const QString &path, QSize maxSize = QSize(), Facts *facts = nullptr);

    // The picture of the file at its own size handed to `sink` a band of rows at a time, top first,
    // as its reader decodes them, where the reader can: JPEG scanlines, the rows of a PNG file
    // that is not interlaced, TIFF strips and tiles, the registered readers' rows (those stored
    // bottom first once read whole). Only the reader's buffers are held, and they are the share of
    // the decoding budget such a read takes. True when every row went to the sink (a damaged
    // file's missing rows grey, noted as read() notes them). False otherwise: where the sink was
    // never begun the file is one to read with read() (another format, an interlaced PNG, a kind
    // of JPEG left to Qt), or the sink declined it; where it was, the read failed on its way
    // (stopped: `facts` says why). A JPEG file's rows come reduced in its DCT where `box` asks for
    // less, no smaller than the picture fitted to it (its stored size in `facts`); other files'
    // rows at their stored size.
    static bool stream(const QString &path, RowSink &sink, Facts *facts = nullptr, QSize box = QSize());

    // A camera RAW file's picture from its bytes, as read() does it for RAW files.
    static QImage readRaw(const QByteArray &data, QSize maxSize = QSize(), Facts *facts = nullptr);

    // `size` made to fit `box` with its aspect kept; never larger than `size`, at least 1 × 1.
    static QSize fittedSize(QSize size, QSize box);

    // Files larger than this are not read into memory whole.
    static constexpr qint64 maxWholeFileBytes = qint64(1) << 30;

    // The bytes of a regular file of at most maxWholeFileBytes; empty for anything else.
    static QByteArray readWholeFile(const QString &path);

    // The same bytes mapped from the file rather than read into memory, where the system maps it:
    // pages of the file that the system may drop and read again, outside a decoder's data limit
    // (a camera RAW file of 200 MB costs its decode nothing of it). bytes() are valid while this
    // lives, and no longer; read into memory where the file cannot be mapped.
    class WholeFile
    {
    public:
        explicit WholeFile(const QString &path);
        ~WholeFile();
        WholeFile(const WholeFile &) = delete;
        WholeFile &operator=(const WholeFile &) = delete;
        const QByteArray &bytes() const { return m_bytes; }

    private:
        QByteArray m_bytes;
        void *m_map = nullptr;
        qsizetype m_mapped = 0;
    };
};
