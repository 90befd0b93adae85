#pragma once

// Small files whose headers promise far more than their bytes hold, made in memory for the tests
// of bounded decoding.

#include <QByteArray>
#include <QList>
#include <QSize>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

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

} // namespace hostilefiles
