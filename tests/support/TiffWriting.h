#pragma once

#include <QFile>
#include <QImage>

#include <tiffio.h>

#include <vector>

namespace tiffwriting {

// Writes `picture` as an 8-bit RGB TIFF of strips of 8 rows, compressed as `compression` asks,
// with libtiff (the test must link it). False when libtiff lacks that codec or a row failed.
inline bool writeRgb(const QString &path, const QImage &picture, int compression)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(picture.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(picture.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    bool written = TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression) == 1;
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 8);
    std::vector<uchar> row(size_t(picture.width()) * 3);
    for (int y = 0; written && y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = picture.pixel(x, y);
            row[size_t(x) * 3] = uchar(qRed(c));
            row[size_t(x) * 3 + 1] = uchar(qGreen(c));
            row[size_t(x) * 3 + 2] = uchar(qBlue(c));
        }
        written = TIFFWriteScanline(tiff, row.data(), quint32(y), 0) == 1;
    }
    TIFFClose(tiff);
    return written;
}

} // namespace tiffwriting
