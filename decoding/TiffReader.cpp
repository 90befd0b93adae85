#include "decoding/TiffReader.h"

#include "decoding/BlockAverager.h"
#include "decoding/ColourTransform.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct TiffClose {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

struct OptionsFree {
    void operator()(TIFFOpenOptions *options) const { TIFFOpenOptionsFree(options); }
};

int quiet(TIFF *, void *, const char *, const char *, va_list) { return 1; }

// Sides beyond these are no pictures we read a band at a time.
constexpr quint32 maxSide = 1u << 20;
// A band of RGBA rows at most this large; libtiff's own largest single allocation likewise.
constexpr qint64 maxBandBytes = qint64(64) << 20;
constexpr qint64 maxDirectories = 64;

using Budget = DecodeMemoryBudget;

TiffHandle openTiff(const QString &path)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        return {};
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(maxBandBytes));
    // "m": read(), not a mapping: a mapped file's pages would count as the process's own memory.
    return TiffHandle(TIFFOpenExt(QFile::encodeName(path).constData(), "rm", options.get()));
}

QSize directorySize(TIFF *tiff)
{
    quint32 width = 0, height = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)
        || width == 0 || height == 0 || width > maxSide || height > maxSide)
        return {};
    return QSize(int(width), int(height));
}

bool isReducedImage(TIFF *tiff)
{
    quint32 kind = 0;
    return TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE);
}

// Linear light 0..1 (floating-point samples, as HDR merges write them) as sRGB's 8-bit numbers,
// clipped: what vips makes of such a picture for the screen. A table of the curve at 1/4096 steps.
const std::array<uchar, 4097> &linearToSRgb()
{
    static const std::array<uchar, 4097> table = [] {
        std::array<uchar, 4097> t{};
        for (size_t i = 0; i < t.size(); ++i) {
            const double v = double(i) / 4096.0;
            const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
            t[i] = uchar(std::lround(std::clamp(encoded, 0.0, 1.0) * 255.0));
        }
        return t;
    }();
    return table;
}

int encodedLinear(float value)
{
    // (NaN falls to 0.)
    const float clipped = value > 0.f ? std::min(value, 1.f) : 0.f;
    return linearToSRgb()[size_t(std::lround(clipped * 4096.f))];
}

// The current directory's colour profile as the file stores it; empty for none.
QByteArray embeddedProfile(TIFF *tiff)
{
    quint32 count = 0;
    void *data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &data) || !data || count == 0
        || qint64(count) > ColourTransform::maxProfileBytes)
        return {};
    return QByteArray(static_cast<const char *>(data), qsizetype(count));
}

// The layouts read by rows of samples as stored, with the conversion of one row to premultiplied
// ARGB32: grey, RGB or palette, 1 to 16 bits, with or without alpha; inks (CMYK) in 8 or 16 bits
// and CIELab in 8, 16 or 32-bit floating-point samples, turned into sRGB through the file's
// profile (ColourTransform; Lab through ICC's own); grey and RGB of 32-bit floating-point samples
// (linear light, as sRGB); interleaved, or in separate planes of 8
// bits or more, which the reading puts together into interleaved rows first; in strips or tiles.
// Strips and tiles are decoded whole (libtiff's fastest road: Deflate through libdeflate where
// libtiff has it); a strip too large to hold is decoded a row at a time from its start.
class ScanlineConverter
{
public:
    static std::optional<ScanlineConverter> forDirectory(TIFF *tiff)
    {
        quint16 bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0, format = SAMPLEFORMAT_UINT;
        quint16 compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        const bool floating = format == SAMPLEFORMAT_IEEEFP && bits == 32;
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            return std::nullopt;
        // (CIELab's a* and b* are signed whatever the sample format says; some writers say so.)
        if (format != SAMPLEFORMAT_UINT && !floating
            && !(format == SAMPLEFORMAT_INT && photometric == PHOTOMETRIC_CIELAB))
            return std::nullopt;
        ScanlineConverter c;
        c.m_bits = bits;
        c.m_samples = samples;
        c.m_float = floating;
        c.m_planes = planar == PLANARCONFIG_SEPARATE && samples > 1 ? samples : 1;
        if (c.m_planes > 1 && bits < 8)
            return std::nullopt;
        if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && bits == 8 && c.m_planes == 1) {
            // The JPEG codec turns its YCbCr into RGB itself.
            TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            photometric = PHOTOMETRIC_RGB;
        }
        switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            c.m_colours = 1;
            c.m_inverted = photometric == PHOTOMETRIC_MINISWHITE;
            break;
        case PHOTOMETRIC_RGB:
            c.m_colours = 3;
            break;
        case PHOTOMETRIC_PALETTE:
            c.m_colours = 1;
            c.m_palette = true;
            break;
        case PHOTOMETRIC_SEPARATED: {
            // Printing inks: cyan, magenta, yellow and black, 8 or 16 bits each.
            quint16 inks = INKSET_CMYK;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
            if (inks != INKSET_CMYK || (bits != 8 && bits != 16))
                return std::nullopt;
            c.m_colours = 4;
            c.m_cmyk = true;
            break;
        }
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
            if (bits != 8 && bits != 16 && !floating)
                return std::nullopt;
            c.m_colours = 3;
            c.m_lab = true;
            c.m_signedLab = photometric == PHOTOMETRIC_CIELAB;
            break;
        default:
            return std::nullopt;
        }
        if (floating && (c.m_palette || c.m_cmyk))
            return std::nullopt;
        if (samples < c.m_colours
            || (!floating && bits != 8 && bits != 16
                && !(bits < 8 && samples == 1 && (bits == 1 || bits == 2 || bits == 4))))
            return std::nullopt;
        if (c.m_palette) {
            if (bits > 8)
                return std::nullopt;
            quint16 *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
                return std::nullopt;
            const int entries = 1 << bits;
            // Some writers store 8-bit entries where 16-bit ones belong.
            bool eightBit = true;
            for (int i = 0; i < entries; ++i)
                eightBit = eightBit && r[i] < 256 && g[i] < 256 && b[i] < 256;
            for (int i = 0; i < entries; ++i)
                c.m_colormap.push_back(eightBit ? qRgb(r[i], g[i], b[i]) : qRgb(r[i] >> 8, g[i] >> 8, b[i] >> 8));
        }
        if (c.m_cmyk) {
            c.m_transform =
                ColourTransform::toSRgb(bits == 8 ? ColourTransform::Samples::Cmyk8 : ColourTransform::Samples::Cmyk16,
                                        embeddedProfile(tiff), samples);
        } else if (c.m_lab) {
            c.m_transform = ColourTransform::toSRgb(ColourTransform::Samples::LabFloat, {}, 3);
            if (!c.m_transform.isValid())
                return std::nullopt;
        }
        quint16 extraCount = 0;
        quint16 *extra = nullptr;
        if (samples > c.m_colours && TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0
            && extra && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
            c.m_alpha = true;
            c.m_premultiplied = extra[0] == EXTRASAMPLE_ASSOCALPHA;
        }
        quint32 width = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        const qint64 planeLine = qint64(TIFFScanlineSize64(tiff));
        if (c.m_planes > 1) {
            // One plane's row holds one sample a pixel; the rows put together hold them all.
            if (planeLine < qint64(width) * (bits / 8))
                return std::nullopt;
            c.m_planeLineBytes = planeLine;
            c.m_lineBytes = qint64(width) * samples * (bits / 8);
        } else {
            c.m_lineBytes = planeLine;
            c.m_planeLineBytes = planeLine;
        }
        if (c.m_lineBytes < (qint64(width) * samples * bits + 7) / 8)
            return std::nullopt;
        return c;
    }

    // The bytes of a row with every sample interleaved.
    qint64 lineBytes() const { return m_lineBytes; }
    // Planes the samples lie in (1: interleaved), and the bytes of one plane's row.
    int planes() const { return m_planes; }
    qint64 planeLineBytes() const { return m_planeLineBytes; }
    int bytesPerSample() const { return std::max(1, m_bits / 8); }

    // One row of interleaved samples, `width` pixels, into premultiplied ARGB32.
    void convert(const uchar *line, int width, QRgb *out) const
    {
        // The common layouts first, without a test per sample.
        if (m_bits == 8 && !m_palette && !m_inverted && !m_cmyk && !m_lab) {
            if (m_colours == 3 && !m_alpha) {
                for (int x = 0; x < width; ++x, line += m_samples)
                    out[x] = 0xff000000u | (quint32(line[0]) << 16) | (quint32(line[1]) << 8) | line[2];
                return;
            }
            if (m_colours == 1 && !m_alpha) {
                for (int x = 0; x < width; ++x, line += m_samples)
                    out[x] = 0xff000000u | (quint32(line[0]) * 0x010101u);
                return;
            }
        }
        if (m_float && !m_lab) {
            const auto *samples = reinterpret_cast<const float *>(line);
            for (int x = 0; x < width; ++x, samples += m_samples) {
                const int r = encodedLinear(samples[0]);
                const int g = m_colours == 3 ? encodedLinear(samples[1]) : r;
                const int b = m_colours == 3 ? encodedLinear(samples[2]) : r;
                out[x] = premultiplied(r, g, b, m_alpha ? floatAlpha(samples[m_colours]) : 255);
            }
            return;
        }
        const int maxValue = (1 << std::min<int>(m_bits, 8)) - 1;
        auto sample = [&](qint64 index) -> int {
            if (m_bits == 8)
                return line[index];
            if (m_bits == 16)
                return reinterpret_cast<const quint16 *>(line)[index] >> 8;
            const qint64 bit = index * m_bits;
            return (line[bit / 8] >> (8 - m_bits - int(bit % 8))) & maxValue;
        };
        if (m_lab || (m_cmyk && m_transform.isValid())) {
            if (m_lab) {
                m_labRow.resize(size_t(width) * 3);
                for (int x = 0; x < width; ++x)
                    labOf(line, qint64(x) * m_samples, &m_labRow[size_t(x) * 3]);
                m_transform.convert(m_labRow.data(), out, width);
            } else {
                m_transform.convert(line, out, width);
            }
            if (m_alpha)
                for (int x = 0; x < width; ++x) {
                    const qint64 at = qint64(x) * m_samples + m_colours;
                    const int a = m_float ? floatAlpha(reinterpret_cast<const float *>(line)[at]) : sample(at);
                    out[x] = premultiplied(qRed(out[x]), qGreen(out[x]), qBlue(out[x]), a);
                }
            return;
        }
        for (int x = 0; x < width; ++x) {
            const qint64 base = qint64(x) * m_samples;
            int r, g, b;
            if (m_palette) {
                const QRgb c = m_colormap[size_t(sample(base))];
                r = qRed(c), g = qGreen(c), b = qBlue(c);
            } else if (m_cmyk) {
                // Without a profile: each ink takes away from white what it covers, black from all
                // three.
                const int white = 255 - sample(base + 3);
                r = (255 - sample(base)) * white / 255;
                g = (255 - sample(base + 1)) * white / 255;
                b = (255 - sample(base + 2)) * white / 255;
            } else if (m_colours == 1) {
                int v = sample(base);
                if (m_bits < 8)
                    v = v * 255 / maxValue;
                r = g = b = m_inverted ? 255 - v : v;
            } else {
                r = sample(base), g = sample(base + 1), b = sample(base + 2);
            }
            out[x] = premultiplied(r, g, b, m_alpha ? sample(base + m_colours) : 255);
        }
    }

private:
    QRgb premultiplied(int r, int g, int b, int a) const
    {
        if (a < 255 && !m_premultiplied)
            r = (r * a + 127) / 255, g = (g * a + 127) / 255, b = (b * a + 127) / 255;
        return qRgba(std::min(r, a), std::min(g, a), std::min(b, a), a);
    }

    static int floatAlpha(float alpha) { return int(std::lround((alpha > 0.f ? std::min(alpha, 1.f) : 0.f) * 255.f)); }

    // The pixel's L*, a*, b*: CIELab stores a* and b* signed, ICC's Lab offset by half the range;
    // floating-point samples are the values themselves.
    void labOf(const uchar *line, qint64 base, float *lab) const
    {
        if (m_float) {
            std::memcpy(lab, reinterpret_cast<const float *>(line) + base, 3 * sizeof(float));
            return;
        }
        if (m_bits == 8) {
            lab[0] = float(line[base]) * (100.f / 255.f);
            for (int i = 1; i < 3; ++i)
                lab[i] = m_signedLab ? float(qint8(line[base + i])) : float(line[base + i]) - 128.f;
            return;
        }
        const auto *words = reinterpret_cast<const quint16 *>(line);
        lab[0] = float(words[base]) * (100.f / 65535.f);
        for (int i = 1; i < 3; ++i)
            lab[i] = m_signedLab ? float(qint16(words[base + i])) / 256.f : float(words[base + i]) / 256.f - 128.f;
    }

    int m_bits = 8;
    int m_samples = 1;
    int m_colours = 1;
    int m_planes = 1;
    bool m_inverted = false;
    bool m_palette = false;
    bool m_cmyk = false;
    bool m_lab = false;
    bool m_signedLab = false;
    bool m_float = false;
    bool m_alpha = false;
    bool m_premultiplied = false;
    qint64 m_lineBytes = 0;
    qint64 m_planeLineBytes = 0;
    std::vector<QRgb> m_colormap;
    ColourTransform m_transform;
    mutable std::vector<float> m_labRow;
};

// Largest strip decoded whole; a longer one is decoded a row at a time.
constexpr qint64 maxStripBytes = qint64(16) << 20;

// Premultiplied grey: what a damaged file does not hold.
constexpr QRgb missing = 0xff808080u;

// Why a strip or tile could not be read: its data lies past the end of the file, or is corrupt.
QString strileDamage(TIFF *tiff, quint32 strile)
{
    const quint64 end = TIFFGetStrileOffset(tiff, strile) + TIFFGetStrileByteCount(tiff, strile);
    const qint64 fileSize = QFileInfo(QFile::decodeName(TIFFFileName(tiff))).size();
    return end > quint64(std::max<qint64>(fileSize, 0)) ? QStringLiteral("the data ends early")
                                                        : QStringLiteral("the data is corrupt");
}

// What a read of rows gave: every row, rows up to damage (the rest to be filled), or nothing.
enum class Rows { All, UpToDamage, None };

// After a strip or tile that could not be read: the rows before it are the picture, the rest
// grey, and the file is noted as damaged; nothing when no row was read or the read was stopped.
template <typename Receiver>
Rows damagedAt(TIFF *tiff, quint32 strile, Receiver &averager)
{
    if (averager.rows() == 0 || DecodeInterrupt::shouldStop())
        return Rows::None;
    DecodeReport::damaged(strileDamage(tiff, strile));
    return Rows::UpToDamage;
}

template <typename Receiver>
Rows readScanlines(TIFF *tiff, const ScanlineConverter &converter, QSize size, Receiver &averager)
{
    std::vector<uchar> line(size_t(converter.lineBytes()));
    std::vector<QRgb> row(size_t(size.width()));
    for (int y = 0; y < size.height(); ++y) {
        // A long compressed strip is decoded a row at a time: each row is a place to stop.
        if (DecodeInterrupt::shouldStop())
            return Rows::None;
        if (TIFFReadScanline(tiff, line.data(), quint32(y), 0) < 0)
            return damagedAt(tiff, TIFFComputeStrip(tiff, quint32(y), 0), averager);
        converter.convert(line.data(), size.width(), row.data());
        averager.addRow(row.data());
    }
    return Rows::All;
}

// Whole strips, each decoded at once.
template <typename Receiver>
Rows readStrips(TIFF *tiff, const ScanlineConverter &converter, QSize size, Receiver &averager)
{
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<quint32>(rowsPerStrip, 1, quint32(size.height()));
    const qint64 lineBytes = converter.lineBytes();
    std::vector<uchar> strip(size_t(lineBytes * rowsPerStrip));
    std::vector<QRgb> row(size_t(size.width()));
    for (quint32 top = 0; top < quint32(size.height()); top += rowsPerStrip) {
        if (DecodeInterrupt::shouldStop())
            return Rows::None;
        const quint32 rows = std::min<quint32>(rowsPerStrip, quint32(size.height()) - top);
        const quint32 index = TIFFComputeStrip(tiff, top, 0);
        if (TIFFReadEncodedStrip(tiff, index, strip.data(), tmsize_t(lineBytes * rows)) < tmsize_t(lineBytes * rows))
            return damagedAt(tiff, index, averager);
        for (quint32 y = 0; y < rows; ++y) {
            converter.convert(strip.data() + qsizetype(y) * lineBytes, size.width(), row.data());
            averager.addRow(row.data());
        }
    }
    return Rows::All;
}

// Whole tiles, a row of tiles at a time put together into full rows.
template <typename Receiver>
Rows readTiles(TIFF *tiff, const ScanlineConverter &converter, QSize size, Receiver &averager, int bits, int samples)
{
    quint32 tileWidth = 0, tileLength = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileLength);
    const qint64 tileRowBytes = qint64(TIFFTileRowSize64(tiff));
    const qint64 tileBytes = qint64(TIFFTileSize64(tiff));
    const qint64 lineBytes = converter.lineBytes();
    if (tileWidth == 0 || tileLength == 0 || tileRowBytes <= 0 || tileBytes < tileRowBytes * tileLength)
        return Rows::None;
    std::vector<uchar> tile(static_cast<size_t>(tileBytes));
    std::vector<uchar> band(size_t(lineBytes * tileLength));
    std::vector<QRgb> row(size_t(size.width()));
    for (quint32 top = 0; top < quint32(size.height()); top += tileLength) {
        const quint32 rows = std::min<quint32>(tileLength, quint32(size.height()) - top);
        for (quint32 left = 0; left < quint32(size.width()); left += tileWidth) {
            if (DecodeInterrupt::shouldStop())
                return Rows::None;
            const quint32 index = TIFFComputeTile(tiff, left, top, 0, 0);
            if (TIFFReadEncodedTile(tiff, index, tile.data(), tmsize_t(tileBytes)) < 0)
                return damagedAt(tiff, index, averager);
            // Tile widths are multiples of 16 pixels: a tile starts on a whole byte of the row.
            const qint64 from = qint64(left) * samples * bits / 8;
            const qint64 bytes = std::min(tileRowBytes, lineBytes - from);
            for (quint32 y = 0; y < rows; ++y)
                std::memcpy(band.data() + qsizetype(y) * lineBytes + from, tile.data() + qsizetype(y) * tileRowBytes,
                            size_t(bytes));
        }
        for (quint32 y = 0; y < rows; ++y) {
            converter.convert(band.data() + qsizetype(y) * lineBytes, size.width(), row.data());
            averager.addRow(row.data());
        }
    }
    return Rows::All;
}

// Samples in separate planes: a band of rows (a strip, or a row of tiles) of each plane in turn,
// put together into interleaved rows, then converted as interleaved samples are.
template <typename Receiver>
Rows readPlanes(TIFF *tiff, const ScanlineConverter &converter, QSize size, Receiver &receiver)
{
    const bool tiled = TIFFIsTiled(tiff);
    quint32 tileWidth = 0, bandRows = 0;
    if (tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &bandRows);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &bandRows);
        bandRows = std::clamp<quint32>(bandRows, 1, quint32(size.height()));
    }
    const int planes = converter.planes();
    const int bytes = converter.bytesPerSample();
    const qint64 lineBytes = converter.lineBytes();
    const qint64 planeLine = converter.planeLineBytes();
    const qint64 tileRowBytes = tiled ? qint64(TIFFTileRowSize64(tiff)) : 0;
    const qint64 unitBytes = tiled ? qint64(TIFFTileSize64(tiff)) : planeLine * bandRows;
    if (bandRows == 0
        || (tiled
            && (tileWidth == 0 || tileRowBytes < qint64(tileWidth) * bytes || unitBytes < tileRowBytes * bandRows)))
        return Rows::None;
    std::vector<uchar> unit(static_cast<size_t>(unitBytes));
    std::vector<uchar> band(size_t(lineBytes * bandRows));
    std::vector<QRgb> row(size_t(size.width()));
    // One plane's samples of `rows` rows, `columns` of them from `left`, `stride` bytes a row, into
    // the band.
    auto interleave = [&](const uchar *from, qint64 stride, int plane, quint32 left, quint32 columns, quint32 rows) {
        for (quint32 y = 0; y < rows; ++y) {
            const uchar *in = from + qsizetype(y) * stride;
            uchar *out = band.data() + qsizetype(y) * lineBytes + (qsizetype(left) * planes + plane) * bytes;
            for (quint32 x = 0; x < columns; ++x, in += bytes, out += qsizetype(planes) * bytes)
                std::memcpy(out, in, size_t(bytes));
        }
    };
    for (quint32 top = 0; top < quint32(size.height()); top += bandRows) {
        const quint32 rows = std::min<quint32>(bandRows, quint32(size.height()) - top);
        for (int plane = 0; plane < planes; ++plane) {
            if (DecodeInterrupt::shouldStop())
                return Rows::None;
            if (!tiled) {
                const quint32 index = TIFFComputeStrip(tiff, top, quint16(plane));
                if (TIFFReadEncodedStrip(tiff, index, unit.data(), tmsize_t(planeLine * rows))
                    < tmsize_t(planeLine * rows))
                    return damagedAt(tiff, index, receiver);
                interleave(unit.data(), planeLine, plane, 0, quint32(size.width()), rows);
                continue;
            }
            for (quint32 left = 0; left < quint32(size.width()); left += tileWidth) {
                const quint32 index = TIFFComputeTile(tiff, left, top, 0, quint16(plane));
                if (TIFFReadEncodedTile(tiff, index, unit.data(), tmsize_t(unitBytes)) < 0)
                    return damagedAt(tiff, index, receiver);
                interleave(unit.data(), tileRowBytes, plane, left, std::min(tileWidth, quint32(size.width()) - left),
                           rows);
            }
        }
        for (quint32 y = 0; y < rows; ++y) {
            converter.convert(band.data() + qsizetype(y) * lineBytes, size.width(), row.data());
            receiver.addRow(row.data());
        }
    }
    return Rows::All;
}

// The rows of a band of the RGBA reading: whole tiles or strips, at least 16 rows where they are
// short, no more than fit in the largest band.
int bandRows(TIFF *tiff, QSize size)
{
    quint32 unit = 1;
    if (TIFFIsTiled(tiff))
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::max<quint32>(unit, 1);
    const qint64 wanted = qint64(unit) * ((16 + unit - 1) / unit);
    const qint64 maxRows = std::max<qint64>(1, maxBandBytes / (qint64(size.width()) * 4));
    return int(std::clamp<qint64>(wanted, 1, std::min<qint64>(maxRows, size.height())));
}

// Everything else (separate planes, CMYK, YCbCr, Lab...) through libtiff's RGBA reading, a band of
// whole tile or strip rows at a time.
template <typename Receiver>
Rows readRgbaBands(TIFF *tiff, QSize size, Receiver &averager)
{
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff, message))
        return Rows::None;
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tiff, 1, message))
        return Rows::None;
    struct End {
        TIFFRGBAImage *image;
        ~End() { TIFFRGBAImageEnd(image); }
    } end{&image};
    // The rows as stored, top first.
    image.req_orientation = image.orientation;
    const int band = bandRows(tiff, size);
    std::vector<quint32> raster(size_t(size.width()) * size_t(band));
    std::vector<QRgb> row(size_t(size.width()));
    for (int top = 0; top < size.height(); top += band) {
        const int rows = std::min(band, size.height() - top);
        if (DecodeInterrupt::shouldStop())
            return Rows::None;
        image.row_offset = top;
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, raster.data(), quint32(size.width()), quint32(rows)))
            return damagedAt(tiff,
                             TIFFIsTiled(tiff) ? TIFFComputeTile(tiff, 0, quint32(top), 0, 0)
                                               : TIFFComputeStrip(tiff, quint32(top), 0),
                             averager);
        for (int y = 0; y < rows; ++y) {
            const quint32 *p = raster.data() + qsizetype(y) * size.width();
            for (int x = 0; x < size.width(); ++x)
                row[size_t(x)] =
                    qRgba(int(TIFFGetR(p[x])), int(TIFFGetG(p[x])), int(TIFFGetB(p[x])), int(TIFFGetA(p[x])));
            averager.addRow(row.data());
        }
    }
    return Rows::All;
}

// How the samples of the current directory are read: whole tiles, whole strips, a long strip row
// by row, or libtiff's RGBA reading for the layouts the converter does not know; and what the
// reading holds on the way.
enum class Road { Tiles, Strips, Scanlines, Planes, Rgba };
struct Reading {
    Road road = Road::Rgba;
    std::optional<ScanlineConverter> converter;
    qint64 bytes = 0;
    int bits = 1;
    int samples = 1;
};

Reading readingOf(TIFF *tiff, QSize size)
{
    Reading reading;
    reading.converter = ScanlineConverter::forDirectory(tiff);
    quint16 bits = 1, samples = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    reading.bits = bits;
    reading.samples = samples;
    const std::optional<ScanlineConverter> &converter = reading.converter;
    const qint64 rowBytes = Budget::product({size.width(), 4});
    if (converter && converter->planes() > 1) {
        // A band of each plane's strip or tile (and libtiff's compressed one beside it), the
        // interleaved band, and the row.
        quint32 bandRows = 0;
        qint64 unit = 0;
        if (TIFFIsTiled(tiff)) {
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &bandRows);
            unit = qint64(TIFFTileSize64(tiff));
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &bandRows);
            bandRows = std::clamp<quint32>(bandRows, 1, quint32(size.height()));
            unit = Budget::product({converter->planeLineBytes(), bandRows});
        }
        reading.road = Road::Planes;
        reading.bytes =
            Budget::sum({Budget::product({unit, 2}), Budget::product({converter->lineBytes(), bandRows}), rowBytes});
    } else if (converter && TIFFIsTiled(tiff)) {
        quint32 tileLength = 0;
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileLength);
        const qint64 band = Budget::product({converter->lineBytes(), tileLength});
        if (band <= maxBandBytes) {
            reading.road = Road::Tiles;
            reading.bytes = Budget::sum({band, qint64(TIFFTileSize64(tiff)), rowBytes});
        }
    } else if (converter) {
        quint32 rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const qint64 strip =
            Budget::product({converter->lineBytes(), std::clamp<qint64>(rowsPerStrip, 1, size.height())});
        // libtiff holds a strip's compressed data beside its decoded rows.
        reading.road = strip <= maxStripBytes ? Road::Strips : Road::Scanlines;
        reading.bytes = reading.road == Road::Strips
                            ? Budget::sum({Budget::product({strip, 2}), rowBytes})
                            : Budget::sum({converter->lineBytes(), rowBytes, qint64(10) << 20});
    }
    if (reading.road == Road::Rgba)
        reading.bytes = Budget::product({2, rowBytes, bandRows(tiff, size)});
    return reading;
}

template <typename Receiver>
Rows readRows(TIFF *tiff, const Reading &reading, QSize size, Receiver &receiver)
{
    switch (reading.road) {
    case Road::Tiles:
        return readTiles(tiff, *reading.converter, size, receiver, reading.bits, reading.samples);
    case Road::Strips:
        return readStrips(tiff, *reading.converter, size, receiver);
    case Road::Scanlines:
        return readScanlines(tiff, *reading.converter, size, receiver);
    case Road::Planes:
        return readPlanes(tiff, *reading.converter, size, receiver);
    case Road::Rgba:
        return readRgbaBands(tiff, size, receiver);
    }
    return Rows::None;
}

// The current directory's colour profile where the rows can carry it (RowSink::rgbProfile): not
// of inks or Lab, which the rows are turned from into sRGB, nor of floating-point samples, which
// are read as sRGB.
QByteArray rgbProfile(TIFF *tiff)
{
    quint16 photometric = 0, format = SAMPLEFORMAT_UINT;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    if (photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB
        || photometric == PHOTOMETRIC_ITULAB || format == SAMPLEFORMAT_IEEEFP)
        return {};
    return RowSink::rgbProfile(embeddedProfile(tiff));
}

// Tells the thread's report the current directory's colour as stored: its space and profile
// (not of floating-point samples, which are read as linear sRGB whatever profile they carry).
void noteColour(TIFF *tiff)
{
    quint16 photometric = 0, format = SAMPLEFORMAT_UINT;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    QString space;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        space = QStringLiteral("grey");
        break;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_YCBCR:
        space = QStringLiteral("RGB");
        break;
    case PHOTOMETRIC_SEPARATED:
        space = QStringLiteral("CMYK");
        break;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        space = QStringLiteral("Lab");
        break;
    default:
        return;
    }
    DecodeReport::colour(space, format == SAMPLEFORMAT_IEEEFP ? QByteArray() : embeddedProfile(tiff));
}

// The picture of the current directory averaged down to no less than `target`. `reservation`
// holds libtiff's share of the budget (`libraryBytes`) and is made to hold the read's as well.
QImage readDirectory(TIFF *tiff, QSize target, DecodeMemoryBudget::Reservation &reservation, qint64 libraryBytes,
                     bool *tooLarge = nullptr)
{
    const QSize size = directorySize(tiff);
    if (!size.isValid())
        return {};
    const int factor =
        std::max(1, std::min(size.width() / std::max(1, target.width()), size.height() / std::max(1, target.height())));
    const Reading reading = readingOf(tiff, size);
    // What the read holds: the result, and the rows, strips or tiles on their way.
    const qint64 result =
        Budget::product({(size.width() + factor - 1) / factor, (size.height() + factor - 1) / factor, 4});
    const qint64 held = Budget::sum({libraryBytes, result, reading.bytes});
    if (held > Budget::shared().capacity()) {
        if (tooLarge)
            *tooLarge = true;
        return {};
    }
    // Given back before waiting for the whole share: a thread that holds a share never waits.
    reservation.release();
    reservation = Budget::shared().reserve(held);
    if (DecodeInterrupt::shouldStop())
        return {};
    BlockAverager averager(size, factor);
    if (averager.isNull())
        return {};
    if (readRows(tiff, reading, size, averager) == Rows::None)
        return {};
    averager.fillRemaining(missing);
    noteColour(tiff);
    QImage image = averager.take();
    if (const QByteArray icc = rgbProfile(tiff); !icc.isEmpty() && !image.isNull())
        image.setColorSpace(QColorSpace::fromIccProfile(icc));
    return image;
}

// Rows handed on to a sink as they are read, in place of the averaging.
class SinkRows
{
public:
    SinkRows(RowSink &sink, QSize size) : m_sink(sink), m_size(size) {}
    int rows() const { return m_rows; }
    bool failed() const { return m_failed; }
    void addRow(const QRgb *row)
    {
        if (!m_failed && !m_sink.addRows(reinterpret_cast<const uchar *>(row), qsizetype(m_size.width()) * 4, 1))
            m_failed = true;
        ++m_rows;
    }
    void fillRemaining(QRgb colour)
    {
        const std::vector<QRgb> row(size_t(m_size.width()), colour);
        while (m_rows < m_size.height() && !m_failed)
            addRow(row.data());
    }

private:
    RowSink &m_sink;
    QSize m_size;
    int m_rows = 0;
    bool m_failed = false;
};

bool similarShape(QSize a, QSize b)
{
    return std::abs(double(a.width()) / a.height() - double(b.width()) / b.height()) < 0.02;
}

QSize fitted(QSize size, QSize box)
{
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    const double scale = std::min(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(std::max(1, int(std::lround(size.width() * scale))),
                 std::max(1, int(std::lround(size.height() * scale))));
}

const char *photometricName(quint16 photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return "grey";
    case PHOTOMETRIC_RGB:
        return "RGB";
    case PHOTOMETRIC_PALETTE:
        return "palette";
    case PHOTOMETRIC_MASK:
        return "mask";
    case PHOTOMETRIC_SEPARATED:
        return "ink";
    case PHOTOMETRIC_YCBCR:
        return "YCbCr";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return "Lab";
    case PHOTOMETRIC_LOGL:
    case PHOTOMETRIC_LOGLUV:
        return "LogLuv";
    default:
        return "unknown";
    }
}

// The first image's layout in a few words, as the program names a kind of picture it does not
// read: "16-bit floating-point RGB samples in separate planes".
QString layoutWords(TIFF *tiff)
{
    quint16 bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0, format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    const bool known = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    const char *kind = format == SAMPLEFORMAT_IEEEFP ? "floating-point " : format == SAMPLEFORMAT_INT ? "signed " : "";
    return QStringLiteral("%1-bit %2%3 samples%4")
        .arg(bits)
        .arg(QLatin1String(kind), QLatin1String(known ? photometricName(photometric) : "unknown"),
             planar == PLANARCONFIG_SEPARATE && samples > 1 ? QStringLiteral(" in separate planes") : QString());
}

// libtiff holds a directory's arrays as far as the file holds them, and any one strip, tile or
// buffer up to its single allocation bound.
qint64 libraryBytesFor(const QString &path)
{
    return Budget::sum({std::min(QFileInfo(path).size(), maxBandBytes), maxBandBytes});
}

} // namespace

TiffReader::Layout TiffReader::layout(const QString &path, QString *words)
{
    const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(libraryBytesFor(path));
    const TiffHandle tiff = openTiff(path);
    if (!tiff || !directorySize(tiff.get()).isValid())
        return Layout::Common;
    char message[1024] = {};
    const bool rgba = TIFFRGBAImageOK(tiff.get(), message);
    if (!rgba && !ScanlineConverter::forDirectory(tiff.get())) {
        if (words)
            *words = layoutWords(tiff.get());
        return Layout::Unsupported;
    }
    // Qt's reader reads interleaved grey, RGB and palette samples itself and hands the rest to
    // the RGBA interface, which refuses inks in 16 bits; it reads samples in separate planes as
    // if they were interleaved, and grey with alpha without its alpha.
    quint16 samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    // Its RGBA interface turns Lab into RGB of no standard display's (blue comes out purple).
    const bool lab = photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB;
    if (!rgba || (planar == PLANARCONFIG_SEPARATE && samples > 1) || photometric == PHOTOMETRIC_SEPARATED
        || (grey && samples > 1) || (lab && ScanlineConverter::forDirectory(tiff.get())))
        return Layout::OwnRows;
    return Layout::Common;
}

namespace {

// A file opened at its first image, with libtiff's share of the budget held.
struct FirstImage {
    qint64 libraryBytes = 0;
    DecodeMemoryBudget::Reservation reservation;
    TiffHandle tiff;
    QSize size;
};

// `fullSize` gets the first image's size once it is known; nothing when the file does not open
// or its first image has no valid size.
std::optional<FirstImage> openFirstImage(const QString &path, QSize *fullSize)
{
    FirstImage first;
    first.libraryBytes = libraryBytesFor(path);
    first.reservation = DecodeMemoryBudget::shared().reserve(first.libraryBytes);
    first.tiff = openTiff(path);
    if (!first.tiff)
        return std::nullopt;
    first.size = directorySize(first.tiff.get());
    if (fullSize)
        *fullSize = first.size;
    if (!first.size.isValid())
        return std::nullopt;
    return first;
}

} // namespace

QImage TiffReader::read(const QString &path, QSize box, QSize *fullSize, bool *tooLarge)
{
    if (DecodeInterrupt::shouldStop())
        return {};
    std::optional<FirstImage> first = openFirstImage(path, fullSize);
    if (!first)
        return {};
    const QSize target = box.isValid() && !box.isEmpty() ? fitted(first->size, box) : first->size;
    return readDirectory(first->tiff.get(), target, first->reservation, first->libraryBytes, tooLarge);
}

QImage TiffReader::readReduced(const QString &path, QSize box, QSize *fullSize)
{
    if (!box.isValid() || box.isEmpty() || DecodeInterrupt::shouldStop())
        return {};
    std::optional<FirstImage> first = openFirstImage(path, fullSize);
    if (!first)
        return {};
    const qint64 libraryBytes = first->libraryBytes;
    DecodeMemoryBudget::Reservation &reservation = first->reservation;
    const TiffHandle &tiff = first->tiff;
    const QSize size = first->size;
    const QSize target = fitted(size, box);
    if (target == size)
        return {};

    // The smallest reduced-resolution image of the same picture that still covers the target:
    // further images of the main chain, or the first image's sub-images.
    std::vector<quint64> subImages;
    {
        quint16 count = 0;
        quint64 *offsets = nullptr;
        if (TIFFGetField(tiff.get(), TIFFTAG_SUBIFD, &count, &offsets) && offsets)
            subImages.assign(offsets, offsets + std::min<quint16>(count, quint16(maxDirectories)));
    }
    struct Candidate {
        bool sub;
        quint64 where;
        QSize size;
    };
    std::optional<Candidate> best;
    auto consider = [&](bool sub, quint64 where) {
        const QSize reduced = directorySize(tiff.get());
        if (reduced.isValid() && isReducedImage(tiff.get()) && reduced.width() >= target.width()
            && reduced.height() >= target.height() && similarShape(reduced, size)
            && (!best || qint64(reduced.width()) * reduced.height() < qint64(best->size.width()) * best->size.height()))
            best = Candidate{sub, where, reduced};
    };
    for (tdir_t index = 1; index < maxDirectories && !DecodeInterrupt::shouldStop() && TIFFReadDirectory(tiff.get());
         ++index)
        consider(false, index);
    for (quint64 offset : subImages)
        if (!DecodeInterrupt::shouldStop() && TIFFSetSubDirectory(tiff.get(), offset))
            consider(true, offset);

    if (best
        && (best->sub ? TIFFSetSubDirectory(tiff.get(), best->where)
                      : TIFFSetDirectory(tiff.get(), tdir_t(best->where)))) {
        QImage image = readDirectory(tiff.get(), target, reservation, libraryBytes);
        if (!image.isNull() || DecodeInterrupt::shouldStop())
            return image;
    }
    if (!TIFFSetDirectory(tiff.get(), 0))
        return {};
    return readDirectory(tiff.get(), target, reservation, libraryBytes);
}

TiffReader::Streamed TiffReader::stream(const QString &path, RowSink &sink, QSize *fullSize)
{
    if (DecodeInterrupt::shouldStop())
        return Streamed::Failed;
    const qint64 libraryBytes = Budget::sum({std::min(QFileInfo(path).size(), maxBandBytes), maxBandBytes});
    DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(libraryBytes);
    const TiffHandle tiff = openTiff(path);
    if (!tiff)
        return Streamed::Failed;
    const QSize size = directorySize(tiff.get());
    if (fullSize)
        *fullSize = size;
    if (!size.isValid())
        return Streamed::Failed;
    const Reading reading = readingOf(tiff.get(), size);
    const qint64 held = Budget::sum({libraryBytes, reading.bytes});
    if (held > Budget::shared().capacity())
        return Streamed::Failed;
    noteColour(tiff.get());
    if (const QByteArray icc = rgbProfile(tiff.get()); !icc.isEmpty())
        sink.setColourProfile(icc);
    if (!sink.begin(size, RowSink::Pixels::PremultipliedArgb32))
        return Streamed::Declined;
    reservation.release();
    reservation = Budget::shared().reserve(held);
    SinkRows rows(sink, size);
    if (readRows(tiff.get(), reading, size, rows) == Rows::None || rows.failed())
        return Streamed::Failed;
    rows.fillRemaining(missing);
    return rows.failed() ? Streamed::Failed : Streamed::Whole;
}
