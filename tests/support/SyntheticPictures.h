#pragma once

// Pictures and picture files made in memory for the readers' tests, and the comparisons they
// check them with.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <algorithm>
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

// A GIF of the picture's greys (Qt writes none): 9-bit codes, each a pixel, a clear code before
// the table would grow past them.
inline QByteArray gifOf(const QImage &picture)
{
    QByteArray gif("GIF89a");
    put16(gif, picture.width());
    put16(gif, picture.height());
    gif.append(char(0xF7)).append('\0').append('\0');
    for (int i = 0; i < 256; ++i)
        gif.append(char(i)).append(char(i)).append(char(i));
    gif.append(',');
    put16(gif, 0);
    put16(gif, 0);
    put16(gif, picture.width());
    put16(gif, picture.height());
    gif.append('\0').append(char(8));
    QByteArray codes;
    quint32 bits = 0;
    int count = 0, sinceClear = 0;
    auto code = [&](int value) {
        bits |= quint32(value) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            codes.append(char(bits & 0xff));
    };
    code(256);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            if (++sinceClear == 250) {
                code(256);
                sinceClear = 1;
            }
            code(qGray(picture.pixel(x, y)));
        }
    code(257);
    if (count > 0)
        codes.append(char(bits & 0xff));
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const qsizetype length = std::min<qsizetype>(255, codes.size() - i);
        gif.append(char(length)).append(codes.mid(i, length));
    }
    return gif.append('\0').append(';');
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

} // namespace syntheticpictures
