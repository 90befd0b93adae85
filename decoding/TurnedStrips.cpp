#include "decoding/TurnedStrips.h"

#include <algorithm>
#include <vector>

namespace {

// One read of the file: the columns [first, first + count) of its rows, each column's samples
// together (a turned row), and what the reader said of the picture.
class ColumnStrip final : public RowSink
{
public:
    ColumnStrip(int first, int count) : m_first(first), m_count(count) {}

    void setColourProfile(const QByteArray &icc) override { m_profile = icc; }
    void setDotsPerMeter(QSize dotsPerMeter) override { m_dotsPerMeter = dotsPerMeter; }
    // A strip of no columns only looks: it learns the picture and declines it before a row is
    // decoded.
    bool begin(QSize size, Pixels pixels) override
    {
        m_size = size;
        m_pixels = pixels;
        m_bytes = pixels == Pixels::Grey8 ? 1 : 4;
        if (size.isEmpty() || m_count <= 0 || m_first < 0 || m_first + m_count > size.width())
            return false;
        m_columns.assign(size_t(m_count) * size_t(size.height()) * size_t(m_bytes), 0);
        return true;
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        if (m_row + count > m_size.height())
            return false;
        const qsizetype column = qsizetype(m_size.height()) * m_bytes;
        for (int i = 0; i < count; ++i, ++m_row) {
            const uchar *in = first + qsizetype(i) * bytesPerLine + qsizetype(m_first) * m_bytes;
            uchar *out = m_columns.data() + qsizetype(m_row) * m_bytes;
            for (int c = 0; c < m_count; ++c, in += m_bytes, out += column)
                std::copy(in, in + m_bytes, out);
        }
        return true;
    }

    bool whole() const { return m_size.isValid() && m_row == m_size.height(); }
    QSize size() const { return m_size; }
    Pixels pixels() const { return m_pixels; }
    int count() const { return m_count; }
    int bytes() const { return m_bytes; }
    const QByteArray &profile() const { return m_profile; }
    QSize dotsPerMeter() const { return m_dotsPerMeter; }
    // The stored column `c` of the strip, top first.
    const uchar *column(int c) const { return m_columns.data() + qsizetype(c - m_first) * m_size.height() * m_bytes; }

private:
    int m_first;
    int m_count;
    QSize m_size;
    Pixels m_pixels = Pixels::Rgb32;
    int m_bytes = 4;
    int m_row = 0;
    std::vector<uchar> m_columns;
    QByteArray m_profile;
    QSize m_dotsPerMeter;
};

} // namespace

namespace {

int stripColumns(QSize stored, int bytesPerPixel, qint64 stripBytes)
{
    const qint64 columnBytes = qint64(stored.height()) * bytesPerPixel;
    return int(std::clamp<qint64>(stripBytes / std::max<qint64>(columnBytes, 1), 1, std::max(stored.width(), 1)));
}

} // namespace

int TurnedStrips::reads(QSize stored, int bytesPerPixel, qint64 stripBytes)
{
    if (stored.isEmpty())
        return 0;
    const int columns = stripColumns(stored, bytesPerPixel, stripBytes);
    return (stored.width() + columns - 1) / columns;
}

bool TurnedStrips::send(const Read &read, int orientation, qint64 stripBytes, RowSink &sink)
{
    if (orientation < 5 || orientation > 8)
        return false;
    ColumnStrip look(0, 0);
    read(look);
    const QSize stored = look.size();
    if (!stored.isValid() || stored.isEmpty())
        return false;
    const RowSink::Pixels pixels = look.pixels();
    const int bytes = look.bytes();
    const qint64 columnBytes = qint64(stored.height()) * bytes;
    const int width = stripColumns(stored, bytes, stripBytes);
    sink.setColourProfile(look.profile());
    if (look.dotsPerMeter().isValid())
        sink.setDotsPerMeter(look.dotsPerMeter());
    if (!sink.begin(stored.transposed(), pixels))
        return false;
    // Turned row y is the stored column y (5, 6) or w-1-y (7, 8); its pixel x the stored row x
    // (5, 8) or h-1-x (6, 7), as JpegEncoder::sendTurnedRows turns a picture held whole. The
    // strips go from the left or from the right, so that each gives the next turned rows.
    const bool columnsBack = orientation == 7 || orientation == 8;
    const bool rowsBack = orientation == 6 || orientation == 7;
    std::vector<uchar> row(static_cast<size_t>(columnBytes));
    for (int done = 0; done < stored.width();) {
        const int count = std::min(width, stored.width() - done);
        ColumnStrip strip(columnsBack ? stored.width() - done - count : done, count);
        if (!read(strip) || !strip.whole() || strip.size() != stored || strip.pixels() != pixels)
            return false;
        for (int i = 0; i < count; ++i, ++done) {
            const uchar *column = strip.column(columnsBack ? stored.width() - 1 - done : done);
            if (rowsBack) {
                for (int x = 0; x < stored.height(); ++x)
                    std::copy(column + qsizetype(stored.height() - 1 - x) * bytes,
                              column + qsizetype(stored.height() - x) * bytes, row.data() + qsizetype(x) * bytes);
            } else {
                std::copy(column, column + columnBytes, row.data());
            }
            if (!sink.addRows(row.data(), qsizetype(row.size()), 1))
                return false;
        }
    }
    return true;
}
