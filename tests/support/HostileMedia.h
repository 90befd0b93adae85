#pragma once

// Files that cost a reader far more than their size, made in memory for the tests of the decoder
// processes: each kind once made a reader hold gigabytes or run for minutes.

#include "tests/formats/SyntheticDng.h"
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

// A lossless-JPEG tile of `width` × `height` 16-bit samples, all mid-grey: one Huffman code of one
// bit for "no difference", so each sample costs a bit.
inline QByteArray losslessJpegTile(quint16 width, quint16 height)
{
    const QByteArray sizes = hostilefiles::bigEndian32(quint32(height) << 16 | width);
    QByteArray jpeg("\xFF\xD8", 2);
    // One table: one code of length 1, for category 0.
    jpeg += QByteArray("\xFF\xC4\x00\x14\x00\x01", 6) + QByteArray(15, '\0') + QByteArray(1, '\0');
    // Lossless, 16 bits, one component sampled 1 × 1.
    jpeg += QByteArray("\xFF\xC3\x00\x0B\x10", 5) + sizes + QByteArray("\x01\x01\x11\x00", 4);
    // One component with table 0, predictor 1 (the sample to the left).
    jpeg += QByteArray("\xFF\xDA\x00\x08\x01\x01\x00\x01\x00\x00", 10);
    jpeg += QByteArray((qsizetype(width) * height + 7) / 8, '\0');
    return jpeg + QByteArray("\xFF\xD9", 2);
}

// A camera RAW file (DNG) of `across` × `down` lossless-JPEG tiles of `tile` × `tile` sensor pixels,
// whose tile offsets all name one small tile: a few kilobytes on disk for hundreds of megapixels.
// With `present` at 0 or more, the tiles from that one on lie past the end of the file.
inline QByteArray dngOfSharedTiles(int across, int down, quint16 tile, int present = -1)
{
    const QByteArray jpeg = losslessJpegTile(tile, tile);
    const auto tiles = size_t(across) * size_t(down);
    std::vector<quint32> offsets(tiles, 8);
    for (size_t i = present < 0 ? tiles : size_t(present); i < tiles; ++i)
        offsets[i] = quint32(1) << 24;
    syntheticdng::TiffBuilder t;
    t.longs(254, {0});
    t.longs(256, {quint32(across) * tile});
    t.longs(257, {quint32(down) * tile});
    t.shorts(258, {16});
    t.shorts(259, {7});
    t.shorts(262, {32803});
    t.ascii(271, "Ostrevan");
    t.ascii(272, "Shared Tiles");
    t.shorts(277, {1});
    t.shorts(284, {1});
    t.longs(322, {tile});
    t.longs(323, {tile});
    // The builder writes the tile's bytes first, at offset 8.
    t.longs(324, offsets);
    t.longs(325, std::vector<quint32>(tiles, quint32(jpeg.size())));
    t.shorts(33421, {2, 2});
    t.bytes(33422, {0, 1, 1, 2});
    t.bytes(50706, {1, 4, 0, 0});
    t.bytes(50707, {1, 1, 0, 0});
    t.ascii(50708, "Ostrevan Shared Tiles");
    t.longs(50717, {65535});
    t.rationals(50721, 10, {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570});
    t.rationals(50728, 5, {1.0, 1.0, 1.0});
    t.shorts(50778, {21});
    return t.build(jpeg);
}

inline QString written(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

} // namespace hostilemedia
