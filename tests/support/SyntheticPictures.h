#pragma once

// Pictures and picture files made in memory for the readers' tests, and the comparisons they
// check them with.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>
#include <vector>
#include <cmath>
#include <cstring>

namespace syntheticpictures {

// A picture whose every row differs from the others, so that rows kept can be told.
inline QImage rowsPicture(QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (y * 5) % 256, (x * y) % 256));
    return picture;
}

inline QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << format;
    return data;
}

inline void put16(QByteArray &data, int value)
{
    data.append(char(value & 0xff));
    data.append(char((value >> 8) & 0xff));
}

inline void put32(QByteArray &data, quint32 value)
{
    put16(data, int(value & 0xffff));
    put16(data, int(value >> 16));
}

// Bytes in the middle of the data turned over: what a bad sector or a bad copy leaves.
inline QByteArray scrambled(QByteArray data, qsizetype from, qsizetype length = 64)
{
    for (qsizetype i = from; i < std::min(from + length, data.size()); ++i)
        data[i] = char(data[i] ^ 0x5A);
    return data;
}

// How many rows of `damaged` equal those of `whole`.
inline int rowsKept(const QImage &damaged, const QImage &whole)
{
    if (damaged.size() != whole.size())
        return 0;
    const QImage a = damaged.convertToFormat(QImage::Format_RGB32), b = whole.convertToFormat(QImage::Format_RGB32);
    int kept = 0;
    for (int y = 0; y < a.height(); ++y)
        kept += std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) == 0 ? 1 : 0;
    return kept;
}

inline double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q))
                   + std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * x.width() * x.height());
}

// Palette indices compressed as LZW encoders do (strings growing in a table of up to 4096 codes, a
// clear code when it is full unless `clearsWhenFull` is false: some encoders go on with the full
// table), cut into sub-blocks of 255 bytes and ended by the empty one: a GIF picture's data after
// its minimum code size.
inline QByteArray lzwBlocks(const std::vector<uchar> &indices, int minimum = 8, bool clearsWhenFull = true)
{
    const int clear = 1 << minimum;
    std::vector<uchar> bytes;
    quint32 bits = 0;
    int count = 0, codeSize = minimum + 1, next = clear + 2;
    auto code = [&](int value) {
        bits |= quint32(value) << count;
        for (count += codeSize; count >= 8; count -= 8, bits >>= 8)
            bytes.push_back(uchar(bits));
    };
    std::map<std::pair<int, int>, int> table; // (prefix code, index) -> code
    code(clear);
    int current = -1;
    for (const uchar pixel : indices) {
        if (current < 0) {
            current = pixel;
            continue;
        }
        const auto found = table.find({current, pixel});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        code(current);
        if (next == 4096) {
            if (clearsWhenFull) {
                code(clear);
                table.clear();
                next = clear + 2;
                codeSize = minimum + 1;
            }
        } else {
            table[{current, pixel}] = next;
            if (next++ == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        current = pixel;
    }
    code(current);
    code(clear + 1);
    if (count > 0)
        bytes.push_back(uchar(bits));
    QByteArray out;
    for (size_t at = 0; at < bytes.size(); at += 255) {
        const size_t length = std::min<size_t>(255, bytes.size() - at);
        out.append(char(length)).append(reinterpret_cast<const char *>(bytes.data() + at), qsizetype(length));
    }
    return out.append('\0');
}

struct GifLayout {
    const char *name;
    QSize screen;
    QRect frame; // the picture on the screen
    bool interlaced;
    int transparent; // the transparent index, or -1
};

// A GIF whose picture's rows of greys `rowOf(y, greys)` gives (a grey palette), in 9-bit codes of a
// pixel each (a clear code before the table would grow past them), written through `out` a piece
// at a time.
inline void writeGif(const GifLayout &l, const std::function<void(int, uchar *)> &rowOf,
                     const std::function<void(const QByteArray &)> &out)
{
    QByteArray head("GIF89a");
    put16(head, l.screen.width());
    put16(head, l.screen.height());
    head.append(char(0xF7)).append(char(17)).append('\0');
    for (int i = 0; i < 256; ++i)
        head.append(char(i)).append(char(i)).append(char(i));
    if (l.transparent >= 0)
        head.append("\x21\xF9\x04\x01\x00\x00", 6).append(char(l.transparent)).append('\0');
    head.append(',');
    put16(head, l.frame.x());
    put16(head, l.frame.y());
    put16(head, l.frame.width());
    put16(head, l.frame.height());
    head.append(char(l.interlaced ? 0x40 : 0)).append(char(8));
    out(head);
    // The codes, then cut into sub-blocks of 255 bytes as they fill.
    std::vector<uchar> codes;
    quint32 bits = 0;
    int count = 0, sinceClear = 0;
    auto flush = [&](bool all) {
        size_t at = 0;
        QByteArray blocks;
        for (; at + 255 <= codes.size() || (all && at < codes.size()); at += 255) {
            const size_t length = std::min<size_t>(255, codes.size() - at);
            blocks.append(char(length)).append(reinterpret_cast<const char *>(codes.data() + at), qsizetype(length));
        }
        codes.erase(codes.begin(), codes.begin() + qsizetype(std::min(at, codes.size())));
        out(blocks);
    };
    auto code = [&](int value) {
        bits |= quint32(value) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            codes.push_back(uchar(bits));
    };
    code(256);
    const int h = l.frame.height(), w = l.frame.width();
    std::vector<uchar> greys(static_cast<size_t>(w));
    for (int n = 0; n < h; ++n) {
        // Rows in the order of the four passes when interlaced.
        int y = n;
        if (l.interlaced) {
            const int first = (h + 7) / 8, second = (h + 3) / 8, third = (h + 1) / 4;
            y = n < first                    ? n * 8
                : n < first + second         ? 4 + (n - first) * 8
                : n < first + second + third ? 2 + (n - first - second) * 4
                                             : 1 + (n - first - second - third) * 2;
        }
        rowOf(y, greys.data());
        for (int x = 0; x < w; ++x) {
            if (++sinceClear == 250) {
                code(256);
                sinceClear = 1;
            }
            code(greys[size_t(x)]);
        }
        if (codes.size() > (1u << 16))
            flush(false);
    }
    code(257);
    if (count > 0)
        codes.push_back(uchar(bits));
    flush(true);
    out(QByteArray("\0;", 2));
}

inline QByteArray gifOf(const GifLayout &l, const QImage &picture)
{
    QByteArray data;
    writeGif(
        l,
        [&](int y, uchar *greys) {
            for (int x = 0; x < picture.width(); ++x)
                greys[x] = uchar(qGray(picture.pixel(x, y)));
        },
        [&](const QByteArray &b) { data += b; });
    return data;
}

} // namespace syntheticpictures
