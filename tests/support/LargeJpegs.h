#pragma once

// Large JPEG files of ordinary kinds written straight to disk a row at a time, as cameras and
// stitchers make them: 4:2:0 colour, baseline or progressive, with an EXIF block where asked. The
// scene is the import tests' one: a red top-left quarter on blue, so that a picture turned the
// wrong way can be told.

#include <QByteArray>
#include <QImage>
#include <QFile>
#include <QSize>
#include <QString>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace largejpegs {

constexpr QRgb red = 0xffff0000u;
constexpr QRgb blue = 0xff1e78c8u; // (30, 120, 200)

struct Options {
    bool progressive = false;
    int orientation = 0; // an EXIF block with this orientation, a camera and a date when not 0
    int quality = 90;
};

// A little-endian EXIF block: the camera's make and model, the date and the orientation.
inline QByteArray exifBlock(int orientation)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const QByteArray make("Tessera\0", 8), model("MF-150\0\0", 8), date("2026:05:04 03:02:01\0", 20);
    const int entries = 4;
    const int values = 8 + 2 + entries * 12 + 4;
    auto put16 = [&](int v) {
        tiff += char(v & 0xff);
        tiff += char((v >> 8) & 0xff);
    };
    auto entry = [&](int tag, int type, int count, int value) {
        put16(tag);
        put16(type);
        put16(count);
        put16(0);
        put16(value);
        put16(0);
    };
    put16(entries);
    entry(0x010f, 2, int(make.size()), values);
    entry(0x0110, 2, int(model.size()), values + int(make.size()));
    entry(0x0112, 3, 1, orientation);
    entry(0x0132, 2, int(date.size()), values + int(make.size() + model.size()));
    put16(0);
    put16(0);
    return QByteArray("Exif\0\0", 6) + tiff + make + model + date;
}

// `jpeg` with the EXIF block of `orientation` after its start marker.
inline QByteArray withExif(const QByteArray &jpeg, int orientation)
{
    const QByteArray exif = exifBlock(orientation);
    QByteArray segment("\xFF\xE1", 2);
    segment += char(((exif.size() + 2) >> 8) & 0xff);
    segment += char((exif.size() + 2) & 0xff);
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

// Writes the file; false when it could not be written.
inline bool write(const QString &path, QSize size, const Options &options = {})
{
    FILE *out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.quality, TRUE);
    if (options.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (options.orientation > 0) {
        const QByteArray exif = exifBlock(options.orientation);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET *>(exif.constData()),
                          unsigned(exif.size()));
    }
    const auto rowOf = [&](bool top) {
        std::vector<JSAMPLE> row(size_t(size.width()) * 3);
        for (int x = 0; x < size.width(); ++x) {
            const QRgb colour = top && x < size.width() / 2 ? red : blue;
            row[size_t(x) * 3] = JSAMPLE(qRed(colour));
            row[size_t(x) * 3 + 1] = JSAMPLE(qGreen(colour));
            row[size_t(x) * 3 + 2] = JSAMPLE(qBlue(colour));
        }
        return row;
    };
    std::vector<JSAMPLE> top = rowOf(true), bottom = rowOf(false);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {int(info.next_scanline) < size.height() / 2 ? top.data() : bottom.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

// Whether `image` shows the scene upright: red at the top left, blue at the bottom right.
inline bool upright(const QImage &image)
{
    if (image.isNull())
        return false;
    const QRgb topLeft = image.pixel(image.width() / 8, image.height() / 8);
    const QRgb bottomRight = image.pixel(image.width() * 7 / 8, image.height() * 7 / 8);
    return qRed(topLeft) > 200 && qBlue(topLeft) < 60 && qRed(bottomRight) < 80 && qBlue(bottomRight) > 160;
}

} // namespace largejpegs
