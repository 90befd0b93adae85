#pragma once

#include <QImage>

#include <algorithm>
#include <vector>

// Averages whole blocks of factor × factor pixels into one pixel each, a row at a time as a
// picture is read, so that a thumbnail never needs the full picture; the last blocks of a row or
// column take what is left. Rows come as premultiplied ARGB32 pixels (QRgb values). The readers of
// large pictures (TIFF strips and tiles, PNG rows) feed it and scale the result the rest of the way.
class BlockAverager
{
public:
    // The factor is capped where a row of a block could overflow its 32-bit sums: for pictures
    // millions of pixels wide the result is then larger than asked, and scaled the rest of the way.
    // Rows that come bottom first (`lastRowFirst`) make the same blocks as top first: the first
    // block takes what is left over of whole blocks, and the averaged picture is upside down.
    BlockAverager(QSize source, int factor, bool lastRowFirst = false)
        : m_source(source),
          m_factor(std::clamp(factor, 1, 1 << 23)),
          m_image((source.width() + m_factor - 1) / m_factor, (source.height() + m_factor - 1) / m_factor,
                  QImage::Format_ARGB32_Premultiplied),
          m_sums(size_t(std::max(0, m_image.width())) * 4, 0),
          m_firstBlock(lastRowFirst && source.height() % m_factor ? source.height() % m_factor : m_factor)
    {}

    bool isNull() const { return m_image.isNull(); }
    int rows() const { return m_rows; }
    QSize source() const { return m_source; }

    // The next row of the picture, as wide as the source.
    void addRow(const QRgb *row)
    {
        const int width = m_source.width();
        quint64 *sum = m_sums.data();
        for (int x0 = 0; x0 < width; x0 += m_factor, sum += 4) {
            const int end = std::min(width, x0 + m_factor);
            quint32 b = 0, g = 0, r = 0, a = 0;
            for (int x = x0; x < end; ++x) {
                const QRgb p = row[x];
                b += p & 0xff;
                g += (p >> 8) & 0xff;
                r += (p >> 16) & 0xff;
                a += p >> 24;
            }
            sum[0] += b;
            sum[1] += g;
            sum[2] += r;
            sum[3] += a;
        }
        ++m_rowsInBlock;
        ++m_rows;
        if (m_rowsInBlock == blockRows() || m_rows == m_source.height())
            emitRow();
    }

    // `count` rows of one premultiplied colour, added a block at a time rather than a pixel at a
    // time: what a file skips or does not hold costs nothing of its claimed size.
    void addRows(QRgb colour, qint64 count)
    {
        const int width = m_source.width();
        count = std::min<qint64>(count, m_source.height() - m_rows);
        while (count > 0) {
            const int rows = int(std::min<qint64>(count, blockRows() - m_rowsInBlock));
            quint64 *sum = m_sums.data();
            for (int x0 = 0; x0 < width; x0 += m_factor, sum += 4) {
                const quint64 pixels = quint64(std::min(width, x0 + m_factor) - x0) * quint64(rows);
                sum[0] += (colour & 0xff) * pixels;
                sum[1] += ((colour >> 8) & 0xff) * pixels;
                sum[2] += ((colour >> 16) & 0xff) * pixels;
                sum[3] += (colour >> 24) * pixels;
            }
            m_rowsInBlock += rows;
            m_rows += rows;
            count -= rows;
            if (m_rowsInBlock == blockRows() || m_rows == m_source.height())
                emitRow();
        }
    }

    // Rows of one colour up to the bottom: what a damaged file does not hold.
    void fillRemaining(QRgb colour) { addRows(colour, m_source.height() - m_rows); }

    // The averaged picture once every row came; null before. An opaque one is RGB32: the same
    // pixels, so taken as they are rather than converted.
    QImage take()
    {
        if (m_rows != m_source.height())
            return {};
        QImage image = std::move(m_image);
        if (m_opaque)
            image.reinterpretAsFormat(QImage::Format_RGB32);
        return image;
    }

private:
    int blockRows() const { return m_outputRow == 0 ? m_firstBlock : m_factor; }

    void emitRow()
    {
        auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(m_outputRow++));
        const int width = m_source.width();
        for (int ox = 0; ox < m_image.width(); ++ox) {
            const quint64 count = quint64(std::min(m_factor, width - ox * m_factor)) * quint64(m_rowsInBlock);
            quint64 *sum = &m_sums[size_t(ox) * 4];
            auto average = [&](int c) { return int((sum[c] + count / 2) / count); };
            const int alpha = average(3);
            m_opaque = m_opaque && alpha == 255;
            line[ox] =
                qRgba(std::min(average(2), alpha), std::min(average(1), alpha), std::min(average(0), alpha), alpha);
            std::fill(sum, sum + 4, 0);
        }
        m_rowsInBlock = 0;
    }

    QSize m_source;
    int m_factor;
    QImage m_image;
    std::vector<quint64> m_sums;
    int m_firstBlock;
    int m_rowsInBlock = 0;
    int m_rows = 0;
    int m_outputRow = 0;
    bool m_opaque = true;
};
