#pragma once

// Files that cost a reader far more than their size, made in memory for the tests of the decoder
// processes: each kind once made a reader hold gigabytes or run for minutes.

#include "tests/support/HostileFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <jpeglib.h>

#include <cstdlib>
#include <vector>

namespace hostilemedia {

inline QByteArray littleEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

inline QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A PNG of `width` × `height` black RGBA pixels, whole and valid.
inline QByteArray pngOfZerosRgba(quint32 width, quint32 height)
{
    return hostilefiles::pngHeader(width, height, 8, 6)
           + hostilefiles::pngChunk("IDAT", hostilefiles::deflatedZeros(qint64(height) * (qint64(width) * 4 + 1)))
           + hostilefiles::pngChunk("IEND", {});
}

// An icon whose one entry says 256 × 256 and holds `png`.
inline QByteArray icoHolding(const QByteArray &png)
{
    QByteArray ico = littleEndian16(0) + littleEndian16(1) + littleEndian16(1);
    ico += QByteArray("\0\0\0\0", 4); // 256 × 256, no palette, reserved
    ico += littleEndian16(1) + littleEndian16(32) + littleEndian32(quint32(png.size())) + littleEndian32(22);
    return ico + png;
}

// A 1-bit Netpbm picture of `width` × `height` whose data holds `bytes` bytes of white.
inline QByteArray pbmOneBit(int width, int height, qint64 bytes)
{
    return QByteArray("P4\n") + QByteArray::number(width) + ' ' + QByteArray::number(height) + '\n'
           + QByteArray(bytes, '\0');
}

// An 8-bit RLE BMP of `width` × `height` whose data ends the picture at once.
inline QByteArray bmpRle8(qint32 width, qint32 height)
{
    const quint32 offset = 14 + 40 + 256 * 4;
    const QByteArray data("\x00\x01", 2);
    QByteArray bmp =
        QByteArray("BM") + littleEndian32(offset + quint32(data.size())) + littleEndian32(0) + littleEndian32(offset);
    bmp += littleEndian32(40) + littleEndian32(quint32(width)) + littleEndian32(quint32(height)) + littleEndian16(1)
           + littleEndian16(8) + littleEndian32(1) + littleEndian32(quint32(data.size())) + littleEndian32(2835)
           + littleEndian32(2835) + littleEndian32(256) + littleEndian32(0);
    for (int i = 0; i < 256; ++i)
        bmp += QByteArray(1, char(i)) + QByteArray(1, char(i)) + QByteArray(1, char(i)) + QByteArray(1, '\0');
    return bmp + data;
}

// A Photoshop file of `width` × `height` black 8-bit RGB pixels, its channels PackBits-compressed
// row by row (a few bytes a row), as the movie reader takes it.
inline QByteArray psdOfZeros(quint32 width, quint32 height)
{
    QByteArray row;
    for (quint32 left = width; left > 0;) {
        const quint32 run = std::min<quint32>(left, 128);
        row += char(run == 1 ? 0 : 257 - run);
        row += '\0';
        left -= run;
    }
    const quint32 rows = 3 * height;
    QByteArray psd = QByteArray("8BPS") + QByteArray("\x00\x01", 2) + QByteArray(6, '\0') + QByteArray("\x00\x03", 2)
                     + hostilefiles::bigEndian32(height) + hostilefiles::bigEndian32(width)
                     + QByteArray("\x00\x08\x00\x03", 4) + QByteArray(12, '\0') + QByteArray("\x00\x01", 2);
    psd.reserve(psd.size() + qsizetype(rows) * (2 + row.size()));
    const QByteArray count = hostilefiles::bigEndian32(quint32(row.size())).mid(2);
    for (quint32 i = 0; i < rows; ++i)
        psd += count;
    for (quint32 i = 0; i < rows; ++i)
        psd += row;
    return psd;
}

// A real grey JPEG of `width` × `height`, baseline or progressive.
inline QByteArray jpegOfNoise(int width, int height, bool progressive)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    QByteArray row(width, '\0');
    quint32 seed = 1;
    while (info.next_scanline < info.image_height) {
        for (char &value : row) {
            seed = seed * 1103515245u + 12345u;
            value = char(seed >> 24);
        }
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPLE *>(row.data())};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray data(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    return data;
}

// `jpeg` with `count` empty comment markers after its start.
inline QByteArray jpegWithEmptyComments(const QByteArray &jpeg, int count)
{
    QByteArray comments;
    comments.reserve(qsizetype(count) * 4);
    for (int i = 0; i < count; ++i)
        comments.append("\xFF\xFE\x00\x02", 4);
    return jpeg.left(2) + comments + jpeg.mid(2);
}

// A valid progressive CMYK JPEG of `width` × `height` in 2,816 scans: every coefficient of every
// component sent on its own, a bit at a time. A reader goes over the whole picture once a scan.
inline QByteArray jpegOfManyScans(int width, int height)
{
    std::vector<jpeg_scan_info> scans;
    for (int component = 0; component < 4; ++component)
        for (int coefficient = 0; coefficient < 64; ++coefficient)
            for (int al = 10; al >= 0; --al)
                scans.push_back({1, {component, 0, 0, 0}, coefficient, coefficient, al == 10 ? 0 : al + 1, al});
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    info.scan_info = scans.data();
    info.num_scans = int(scans.size());
    jpeg_start_compress(&info, TRUE);
    QByteArray row(width * 4, '\0');
    quint32 seed = 7;
    while (info.next_scanline < info.image_height) {
        for (char &value : row) {
            seed = seed * 1103515245u + 12345u;
            value = char(seed >> 24);
        }
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPLE *>(row.data())};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray data(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    return data;
}

inline QString written(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

} // namespace hostilemedia
