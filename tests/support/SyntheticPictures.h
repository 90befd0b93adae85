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
