#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <vector>

// Reduces a picture to a smaller size as its rows come, each new pixel the exact average of the
// area of the picture it covers. A row is reduced across as it comes and added into the one or two
// rows of the result it falls in; a row of the result goes on as soon as it is whole. What it holds
// is a few rows at the result's width, whatever the size of the picture: a reader hands it rows and
// never makes the whole picture, and what takes the result (a thumbnail, a JPEG file being written)
// may take it a row at a time too.
//
// Rows are QRgb values, premultiplied where translucent (RGB32 rows are opaque ones); the result is
// made of the same. The result is no larger than the picture either way (see fits()).
class AreaScaler
{
public:
    // Takes each row of the result, its index counted from the top, and answers false to end the
    // work (the scaler then takes no more rows).
    using RowDone = std::function<bool(const QRgb *row, int y)>;

    // Whether a picture of `source` pixels can be reduced to `target`: neither side larger, none empty.
    static bool fits(QSize source, QSize target);

    // Rows come top first, or bottom first (`bottomFirst`), as a file stores them; the result's rows
    // go to `rowDone` in the same order, or without one into a picture of the scaler's own (see
    // makePicture()). Only where fits().
    AreaScaler(QSize source, QSize target, bool bottomFirst, RowDone rowDone = {});

    // Without a `rowDone`: the picture the result's rows go into, RGB32, or premultiplied ARGB32
    // where `alpha`. False when it cannot be made. Before the first row.
    bool makePicture(bool alpha);
    // That picture, its rows not reached as the scaler left them (take them with addRows() first).
    QImage takePicture() { return std::move(m_picture); }

    // What the scaler holds for a picture of `source` pixels reduced to `target` besides the picture
    // it makes, in bytes.
    static qint64 heldBytes(QSize source, QSize target);

    // The next row of the picture, source().width() pixels.
    void addRow(const QRgb *row);
    // The next `count` rows, all of one colour (cut at the picture's end): at the cost of the rows of
    // the result they fall in, however many they are.
    void addRows(QRgb colour, qint64 count);

    QSize source() const { return m_source; }
    QSize target() const { return m_target; }
    int rowsAdded() const { return int(m_rowsAdded); }
    // Whether every row of the result went on; whether `rowDone` declined one.
    bool isComplete() const { return m_rowsDone == m_target.height(); }
    bool failed() const { return m_failed; }

    // `image` reduced to `target` (within fits()), as RGB32, or premultiplied ARGB32 where its format
    // has an alpha channel. Null where the image is null or the result cannot be made.
    static QImage scaled(const QImage &image, QSize target);

private:
    using Sums = float __attribute__((vector_size(16)));

    // Adds `weight` of the row reduced across (`across`) or of one colour (`colour`) into the result's
    // row `row` (0: the one being made, 1: the next).
    void addInto(int row, float weight, const Sums *across, const Sums *colour);
    void reduceAcross(const QRgb *row);
    void finishRow();

    QSize m_source;
    QSize m_target;
    bool m_bottomFirst;
    RowDone m_rowDone;
    bool m_failed = false;
    qint64 m_rowsAdded = 0;
    int m_rowsDone = 0;
    // Across: the pixels each pixel of the result covers, the first and last in part.
    struct Span {
        int first = 0;
        int last = 0;
        float firstWeight = 0;
        float lastWeight = 0;
        float middleWeight = 0;
    };
    std::vector<Span> m_spans;
    // Where every pixel of the result covers at most four of the picture's (a reduction by less
    // than three): each one's weights, as many as the widest span covers (m_tapCount), none for the
    // pixels past its own span, so that each is as many products without a branch.
    std::vector<float> m_taps;
    int m_tapCount = 0;
    std::vector<Sums> m_pixels;  // the row being added, as sums
    std::vector<Sums> m_across;  // the row being added, reduced across
    std::vector<Sums> m_rows[2]; // the result's row being made, and the next
    Sums m_colour[2] = {};       // what rows of one colour added to them, the same across
    std::vector<QRgb> m_out;
    QImage m_picture;
};
