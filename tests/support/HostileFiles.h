#pragma once

// Small files whose headers promise far more than their bytes hold, made in memory for the tests
// of bounded decoding.

#include <QByteArray>
#include <QList>
#include <QSize>

#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iterator>
#include <jpeglib.h>
#include <zlib.h>

namespace hostilefiles {

enum class Ink { Rgb, Cmyk };

// An 8 × 8 JPEG of one colour (CMYK written as Adobe does, inverted), its frame header then
// claiming `claimed` pixels.
inline QByteArray jpegClaiming(QSize claimed, Ink ink, bool progressive)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = 8;
    info.image_height = 8;
    info.input_components = ink == Ink::Cmyk ? 4 : 3;
    info.in_color_space = ink == Ink::Cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (ink == Ink::Cmyk)
        jpeg_set_colorspace(&info, JCS_YCCK);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    // Red: no cyan, full magenta and yellow, no black; inverted, as Adobe stores it.
    const unsigned char cmyk[4] = {255, 0, 0, 255};
    const unsigned char rgb[3] = {255, 0, 0};
    unsigned char row[8 * 4];
    for (int x = 0; x < 8; ++x)
        for (int c = 0; c < info.input_components; ++c)
            row[x * info.input_components + c] = ink == Ink::Cmyk ? cmyk[c] : rgb[c];
    JSAMPROW rows[1] = {row};
    for (int y = 0; y < 8; ++y)
        jpeg_write_scanlines(&info, rows, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray data(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    // The frame header: FF C0/C2, length, precision, height, width.
    for (qsizetype i = 2; i + 9 < data.size();) {
        const auto marker = uchar(data[i + 1]);
        if (marker == 0xC0 || marker == 0xC2) {
            data[i + 5] = char(claimed.height() >> 8);
            data[i + 6] = char(claimed.height() & 0xFF);
            data[i + 7] = char(claimed.width() >> 8);
            data[i + 8] = char(claimed.width() & 0xFF);
            break;
        }
        i += 2 + (uchar(data[i + 2]) << 8 | uchar(data[i + 3]));
    }
    return data;
}

// A one-page PDF whose only image claims 2000000 × 2000000 pixels and holds an 8 × 8 JPEG.
inline QByteArray pdfWithHugeImage()
{
    const QByteArray jpeg = jpegClaiming(QSize(8, 8), Ink::Rgb, false);
    const QByteArray content = "q 200 0 0 200 0 0 cm /Im0 Do Q";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /XObject << /Im0 5 0 R >> >> "
        "/Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width 2000000 /Height 2000000 /ColorSpace /DeviceRGB "
        "/BitsPerComponent 8 /Filter /DCTDecode /Length "
            + QByteArray::number(jpeg.size()) + " >>\nstream\n" + jpeg + "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
           + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// `count` zero bytes deflated as a zlib stream, a megabyte at a time. Each megabyte ends with a
// full flush, which starts the compressor afresh, so that every one after the first comes out as
// the same kilobyte: that is made once and repeated (gigabytes of zeros in milliseconds), and the
// stream's checksum is then written for the whole count.
inline QByteArray deflatedZeros(qint64 count)
{
    constexpr qint64 piece = 1 << 20;
    const QByteArray zeros(piece, '\0');
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    // `bytes` zeros (a piece at most) deflated with `flush`.
    auto deflated = [&](qint64 bytes, int flush) {
        QByteArray out;
        char buffer[1 << 16];
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        stream.avail_in = uInt(bytes);
        int status = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            status = deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (status == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0 || flush == Z_FINISH));
        return out;
    };
    QByteArray out = deflated(std::min(count, piece), Z_FULL_FLUSH);
    const qint64 pieces = count / piece;
    qint64 done = std::min(count, piece);
    if (pieces > 2) {
        const QByteArray repeated = deflated(piece, Z_FULL_FLUSH);
        if (deflated(piece, Z_FULL_FLUSH) == repeated) {
            for (qint64 i = 1; i < pieces; ++i)
                out += repeated;
            done = pieces * piece;
        } else {
            // Not the same bytes after all: made afresh, every piece in turn.
            deflateReset(&stream);
            out = deflated(piece, Z_FULL_FLUSH);
            for (done = piece; done < pieces * piece; done += piece)
                out += deflated(piece, Z_FULL_FLUSH);
        }
    } else {
        for (; done + piece <= count; done += piece)
            out += deflated(piece, Z_FULL_FLUSH);
    }
    out += deflated(count - done, Z_FINISH);
    deflateEnd(&stream);
    // Adler-32 of `count` zeros: its first sum stays 1, its second adds 1 a byte.
    const quint32 adler = (quint32(count % 65521) << 16) | 1u;
    for (int i = 0; i < 4; ++i)
        out[out.size() - 4 + i] = char(adler >> (24 - 8 * i));
    return out;
}

inline QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A PNG chunk; a `claimed` length other than the data's gives only the header, as in a file that
// ends there.
inline QByteArray pngChunk(const char *type, const QByteArray &data, qint64 claimed = -1)
{
    if (claimed >= 0)
        return bigEndian32(quint32(claimed)) + QByteArray(type, 4);
    const QByteArray typed = QByteArray(type, 4) + data;
    return bigEndian32(quint32(data.size())) + typed
           + bigEndian32(quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size()))));
}

inline QByteArray pngHeader(quint32 width, quint32 height, int depth = 8, int colour = 6)
{
    QByteArray ihdr = bigEndian32(width) + bigEndian32(height);
    ihdr += char(depth);
    ihdr += char(colour);
    ihdr += QByteArray(3, '\0');
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr);
}

// A 4 × 4 RGBA PNG header followed by the header of a `type` chunk claiming `claimed` bytes; the
// file ends there.
inline QByteArray pngClaimingChunk(const char *type, quint32 claimed)
{
    return pngHeader(4, 4) + pngChunk(type, {}, claimed);
}

// A PNG of `width` × `height` black 8-bit grey pixels, whole.
inline QByteArray pngOfZeros(quint32 width, quint32 height)
{
    return pngHeader(width, height, 8, 0) + pngChunk("IDAT", deflatedZeros(qint64(height) * (qint64(width) + 1)))
           + pngChunk("IEND", {});
}

// A little-endian TIFF of `width` × `height` 8-bit grey pixels in one Deflate strip.
inline QByteArray tiffWithOneStrip(quint32 width, quint32 height, const QByteArray &strip)
{
    QByteArray tiff("II*\0", 4);
    auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const quint32 stripOffset = 8;
    tiff += u32(stripOffset + quint32(strip.size()));
    tiff += strip;
    const struct {
        quint16 tag, type;
        quint32 value;
    } entries[] = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8},
        {259, 3, 8},     {262, 3, 1},      {273, 4, stripOffset},
        {277, 3, 1},     {278, 4, height}, {279, 4, quint32(strip.size())},
        {284, 3, 1},
    };
    tiff += u16(quint16(std::size(entries)));
    for (const auto &e : entries)
        tiff += u16(e.tag) + u16(e.type) + u32(1) + (e.type == 3 ? u16(quint16(e.value)) + u16(0) : u32(e.value));
    tiff += u32(0);
    return tiff;
}

// The same whole, its pixels black.
inline QByteArray tiffOfZerosInOneStrip(quint32 width, quint32 height)
{
    return tiffWithOneStrip(width, height, deflatedZeros(qint64(width) * height));
}

// A GIF whose screen is `screen` and whose one 1 × 1 image is black.
inline QByteArray gifClaiming(QSize screen)
{
    QByteArray gif("GIF89a");
    auto u16 = [](int v) { return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff); };
    gif += u16(screen.width()) + u16(screen.height());
    gif += char(0x80); // a global table of two colours
    gif += QByteArray(2, '\0');
    gif += QByteArray(3, '\0') + QByteArray(3, '\xff');
    gif += ',' + u16(0) + u16(0) + u16(1) + u16(1) + char(0);
    // LZW, minimum code size 2: clear, index 0, end.
    gif += char(2);
    gif += char(2) + QByteArray("\x44\x01", 2) + char(0);
    gif += ';';
    return gif;
}

} // namespace hostilefiles
