#pragma once

#include "decoding/AreaScaler.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/ImageFileReader.h"
#include "decoding/RowSink.h"

#include <QImage>
#include <QSize>

#include <optional>
#include <vector>

// The picture a reader makes as it reads the rows of a file, one after another in the order they
// are stored (top or bottom first). A full-size read writes each row straight into the final
// picture; a read into a box reduces each row into the fitted picture as it comes (AreaScaler), so
// that a thumbnail of a picture of any size holds one row, a few rows of sums and the reduced
// picture, all on the reading thread (no thread pool: a decoder's memory limit counts every
// thread's stack). Rows are ARGB32 pixels (QRgb values, not premultiplied), opaque ones 0xffRRGGBB.
//
// The readers of formats/ (Netpbm, TGA, BMP, GIF, Photoshop) make their pictures through it.
class PictureRows
{
public:
    enum class Order { TopFirst, BottomFirst };

    // Grey: what a damaged file does not hold.
    static constexpr QRgb missing = 0xff808080u;

    // A picture of `size` pixels, wanted whole (`box` invalid or no smaller than the picture) or
    // fitted into `box`; `alpha` when its rows may be translucent.
    PictureRows(QSize size, QSize box, Order order = Order::TopFirst, bool alpha = false);

    // What the picture holds while it is read: the whole picture, or a row and the reduced one.
    qint64 heldBytes() const;

    // The reader can read the rows of a picture stored bottom first in any order (an uncompressed
    // file it can seek in): a streamed read then asks for them top first (streamsTopFirst()), so
    // that it holds a band of them rather than the picture. Before start().
    void setSeekable() { m_seekable = true; }
    // Whether the rows are to be handed top first, through row(), next() and fill() as ever,
    // though the picture is stored bottom first: a streamed read of a seekable reader's picture.
    // Asked before start() it says whether start() will ask so (the reader then counts its band of
    // rows in `readerBytes`).
    bool streamsTopFirst() const;

    // The colour profile the rows are in (kept where it can go with RGB rows: see
    // RowSink::rgbProfile), before start(): a streamed read hands it to the sink, and take()'s
    // picture carries it as its colour space.
    void setColourProfile(const QByteArray &icc) { m_icc = RowSink::rgbProfile(icc); }

    // Takes heldBytes() and the reader's own `readerBytes` from the process's decoding budget and
    // makes the picture. False when that is more than the whole budget (`facts`' refusal says
    // TooLarge) or the picture cannot be made.
    bool start(qint64 readerBytes, ImageFileReader::Facts *facts);

    QSize size() const { return m_size; }
    int rowsDone() const { return m_rowsDone; }
    bool isComplete() const { return m_rowsDone >= m_size.height(); }

    // Where the next stored row's width() pixels go; next() takes them. Only before isComplete().
    QRgb *row() { return m_scaler || m_stream ? m_row.data() : rowOfPicture(m_rowsDone); }
    void next();
    // `count` stored rows of one colour (cut at the picture's end), at the cost of one row.
    void fill(QRgb colour, qint64 count);

    // The picture, the rows not read in `rest`; fitted into the box when there was one (then
    // premultiplied where it is translucent). A whole picture is ARGB32 where it is translucent,
    // else RGB32. Null when the picture could not be made.
    QImage take(QRgb rest = missing);

    // While one lives on a thread, a full-size read there hands its rows to `sink` rather than make
    // the picture (take() then gives a null picture): rows that come top first as they come, so
    // that only a row is held; rows that come bottom first top first where the reader can seek
    // (setSeekable()), else once the whole picture is read. A picture the sink declines is not
    // read at all (start() is false). One picture a scope.
    class StreamScope
    {
    public:
        explicit StreamScope(RowSink &sink);
        ~StreamScope();
        StreamScope(const StreamScope &) = delete;
        StreamScope &operator=(const StreamScope &) = delete;
        // Whether a read handed every row of its picture to the sink; whether the sink failed.
        bool streamed() const { return m_streamed; }
        bool failed() const { return m_failed; }
        bool declined() const { return m_declined; }

    private:
        friend class PictureRows;
        RowSink &m_sink;
        StreamScope *m_outer;
        bool m_taken = false;
        bool m_streamed = false;
        bool m_failed = false;
        bool m_declined = false;
    };

    // While one lives on a thread, a reader that reads a picture of at most 256 colours whole (at
    // its own size, handed to no stream) may make it Indexed8 rather than RGB32 or ARGB32: a
    // quarter of the memory to write and to hand on, for a decoder whose program makes it what it
    // would have been (expanded()). Its colour table is translucent only where the picture is. One
    // picture a scope.
    class IndexedScope
    {
    public:
        IndexedScope();
        ~IndexedScope();
        IndexedScope(const IndexedScope &) = delete;
        IndexedScope &operator=(const IndexedScope &) = delete;
        // Whether a reader took the scope for its picture.
        bool taken() const { return m_taken; }
        // Whether a reader on this thread may make the picture of `size`, read into `box`,
        // indexed; the scope is then taken.
        static bool take(QSize size, QSize box);

    private:
        IndexedScope *m_outer;
        bool m_taken = false;
    };

    // An indexed picture as the rows would have made it: ARGB32 where its colour table is
    // translucent, else RGB32. Any other picture as it is.
    static QImage expanded(const QImage &image);

    // `image` made `target`'s size, averaged the same way on this thread: for pictures decoded
    // whole. `image` is returned as it is when it has that size.
    static QImage reduced(const QImage &image, QSize target);

    // `image` enlarged to `target` (no smaller than it either way) by bilinear interpolation
    // between the pixels' centres, in the format Qt's smooth scaling gives (RGB32 where it is
    // opaque, ARGB32 as it came, else premultiplied ARGB32): what that scaling makes of it, to
    // within a few steps of each colour, several times faster.
    // Null when `target` is smaller than the picture either way or the picture is null.
    static QImage enlarged(const QImage &image, QSize target);

    // The picture as the thumbnails show it, for an output without transparency (JPEG):
    // translucent pixels over white, as RGB32. A picture without an alpha channel comes back as it
    // is.
    static QImage onWhite(const QImage &image);

private:
    QImage takeRows(QRgb rest);
    QRgb *rowOfPicture(int stored)
    {
        const int y = m_order == Order::TopFirst ? stored : m_size.height() - 1 - stored;
        return reinterpret_cast<QRgb *>(m_image.scanLine(y));
    }

    QSize m_size;
    QSize m_target; // the fitted size; m_size for a full-size read
    Order m_order;
    bool m_alpha;
    bool m_seekable = false;
    bool m_started = false;
    int m_rowsDone = 0;
    QImage m_image;                     // a full-size read's picture
    std::optional<AreaScaler> m_scaler; // a reduced read's
    std::vector<QRgb> m_row;
    StreamScope *m_stream = nullptr;      // a streamed read's, row by row
    StreamScope *m_streamWhole = nullptr; // a streamed read's, once the picture is whole
    DecodeMemoryBudget::Reservation m_reservation;
    QByteArray m_icc;
};
