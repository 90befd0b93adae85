#pragma once

// Pictures of known colours in the colour spaces files store (inks, Lab, RGB of other profiles,
// floating-point samples), written with libtiff and libjpeg, and their expected sRGB worked out
// by LittleCMS directly (the test must link libtiff, libjpeg and lcms2).

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QSize>

#include <lcms2.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <jpeglib.h>
#include <vector>

namespace colourfiles {

inline QByteArray savedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// sRGB as a profile LittleCMS makes.
inline QByteArray sRgbProfile() { return savedProfile(cmsCreate_sRGBProfile()); }

// Adobe RGB (1998) as a profile LittleCMS makes: its primaries, D65 white, gamma 563/256.
inline QByteArray adobeRgbProfile()
{
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *curve = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return savedProfile(profile);
}

// A profile Debian installs (Ghostscript's, in libgs-common); empty where it is absent.
inline QByteArray systemProfile(const char *name)
{
    QFile file(QStringLiteral("/usr/share/color/icc/ghostscript/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One pixel of `format` samples described by `icc` in sRGB, by LittleCMS (relative colorimetric);
// black where the profile cannot be read.
inline QRgb throughProfile(const QByteArray &icc, cmsUInt32Number format, const void *pixel)
{
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = from ? cmsCreateTransform(from, format, to, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0)
                                   : nullptr;
    uchar rgb[3] = {0, 0, 0};
    if (transform) {
        cmsDoTransform(transform, pixel, rgb, 1);
        cmsDeleteTransform(transform);
    }
    if (from)
        cmsCloseProfile(from);
    cmsCloseProfile(to);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

// Every pixel of `picture` taken as inks stored as what is left of the paper (the ink 255 less
// each channel, no black) in sRGB through `icc`, by LittleCMS.
inline QImage leftOfPaperThrough(const QByteArray &icc, const QImage &picture)
{
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform =
        cmsCreateTransform(from, TYPE_CMYK_8_REV, to, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = out.pixel(x, y);
            const uchar left[4] = {uchar(qRed(c)), uchar(qGreen(c)), uchar(qBlue(c)), 255};
            uchar rgb[3];
            cmsDoTransform(transform, left, rgb, 1);
            out.setPixel(x, y, qRgba(rgb[0], rgb[1], rgb[2], qAlpha(c)));
        }
    cmsDeleteTransform(transform);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    return out;
}

inline QRgb inksThrough(const QByteArray &icc, int c, int m, int y, int k)
{
    const uchar inks[4] = {uchar(c), uchar(m), uchar(y), uchar(k)};
    return throughProfile(icc, TYPE_CMYK_8, inks);
}

// The sum of the three channels' differences.
inline int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// The layout of a TIFF to write.
struct TiffLayout {
    quint16 photometric = PHOTOMETRIC_RGB;
    quint16 bits = 8;
    quint16 colours = 3; // samples of colour; an alpha sample follows where `alpha`
    bool alpha = false;  // unassociated
    quint16 planar = PLANARCONFIG_CONTIG;
    quint32 rowsPerStrip = 8; // 0: 16 × 16 tiles
    quint16 format = SAMPLEFORMAT_UINT;
    QByteArray icc;
};

// Writes a TIFF of `size` whose pixel (x, y) has the samples `samples` gives, as stored: integers
// (signed ones too, for CIELab's a* and b*) or floats. False when libtiff failed.
inline bool writeTiff(const QString &path, const TiffLayout &l, QSize size,
                      const std::function<std::vector<double>(int, int)> &samples)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    const quint16 count = quint16(l.colours + (l.alpha ? 1 : 0));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, count);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, l.format);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (l.alpha) {
        const quint16 extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!l.icc.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(l.icc.size()), l.icc.constData());
    const int planes = l.planar == PLANARCONFIG_SEPARATE ? count : 1;
    const int perPlane = l.planar == PLANARCONFIG_SEPARATE ? 1 : count;
    const int bytes = l.bits / 8;
    auto put = [&](uchar *at, double value) {
        if (l.format == SAMPLEFORMAT_IEEEFP) {
            const float f = float(value);
            std::memcpy(at, &f, sizeof f);
        } else if (bytes == 1) {
            *at = uchar(int(value) & 0xff);
        } else {
            const quint16 word = quint16(int(value) & 0xffff);
            std::memcpy(at, &word, sizeof word);
        }
    };
    // The samples of one plane over [left, left + columns) × [top, top + rows).
    auto area = [&](int plane, int left, int top, int columns, int rows) {
        std::vector<uchar> out(size_t(columns) * size_t(rows) * size_t(perPlane * bytes), 0);
        for (int y = top; y < std::min(top + rows, size.height()); ++y)
            for (int x = left; x < std::min(left + columns, size.width()); ++x) {
                const std::vector<double> s = samples(x, y);
                for (int i = 0; i < perPlane; ++i)
                    put(out.data()
                            + ((size_t(y - top) * size_t(columns) + size_t(x - left)) * size_t(perPlane) + size_t(i))
                                  * size_t(bytes),
                        s[size_t(planes > 1 ? plane : i)]);
            }
        return out;
    };
    bool written = true;
    if (l.rowsPerStrip > 0) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < size.height() && written; ++y) {
                std::vector<uchar> row = area(plane, 0, y, size.width(), 1);
                written = TIFFWriteScanline(tiff, row.data(), quint32(y), quint16(plane)) >= 0;
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        for (int plane = 0; plane < planes; ++plane)
            for (int ty = 0; ty < size.height(); ty += 16)
                for (int tx = 0; tx < size.width() && written; tx += 16) {
                    std::vector<uchar> tile = area(plane, tx, ty, 16, 16);
                    written = TIFFWriteTile(tiff, tile.data(), quint32(tx), quint32(ty), 0, quint16(plane)) >= 0;
                }
    }
    written = TIFFWriteDirectory(tiff) && written;
    TIFFClose(tiff);
    return written;
}

// How a JPEG of inks stores them: as Adobe's programs do (inverted, with Adobe's marker), or
// plainly without the marker.
enum class InkStorage { Adobe, Plain };

// A JPEG of `size` whose pixel (x, y) has the RGB or CMYK samples `samples` gives (CMYK as inks,
// 0 for none, whatever the storage), with `icc` embedded where it is given.
inline QByteArray writeJpeg(QSize size, bool cmyk, const QByteArray &icc,
                            const std::function<std::vector<int>(int, int)> &samples,
                            InkStorage storage = InkStorage::Adobe)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = cmyk ? 4 : 3;
    info.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    // Every component at full resolution: the colours of small areas stay as they were.
    for (int i = 0; i < info.num_components; ++i)
        info.comp_info[i].h_samp_factor = info.comp_info[i].v_samp_factor = 1;
    if (cmyk && storage == InkStorage::Plain)
        info.write_Adobe_marker = FALSE;
    jpeg_start_compress(&info, TRUE);
    if (!icc.isEmpty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET *>(icc.constData()), unsigned(icc.size()));
    std::vector<uchar> row(size_t(size.width()) * size_t(info.input_components));
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < size.width(); ++x) {
            const std::vector<int> s = samples(x, int(info.next_scanline));
            for (int i = 0; i < info.input_components; ++i) {
                const int value = s[size_t(i)];
                row[size_t(x) * size_t(info.input_components) + size_t(i)] =
                    uchar(cmyk && storage == InkStorage::Adobe ? 255 - value : value);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray data(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    return data;
}

} // namespace colourfiles
