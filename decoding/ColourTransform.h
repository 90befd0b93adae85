#pragma once

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QString>

#include <memory>

// Samples of a picture as its file stores them (inks, CIELab, RGB of a profile other than sRGB)
// turned into sRGB through the file's colour profile, with LittleCMS: what the thumbnails,
// previews and pictures read for the screen show, and what an output without a profile of its own
// is written in. Where a file embeds no profile (or one that does not describe its samples), the
// standard one of its kind serves: the D50 CIELab of ICC for Lab, the system's CMYK profile for
// inks (see standardCmykProfile; without one, inks are taken off white as they would print
// without a profile). Profiles come from files: LittleCMS reads them from memory only, within
// the bounds it checks, and a profile it refuses is as none.
//
// Relative colorimetric rendering without black point compensation: what `vips icc_transform`
// does by default, so that a picture reads alike here and there.
class ColourTransform
{
public:
    enum class Samples {
        Cmyk8,         // C, M, Y, K, 0 for no ink
        InvertedCmyk8, // the same, 255 for no ink (Adobe's CMYK JPEGs)
        Cmyk16,        // C, M, Y, K in 16 bits of the machine's order
        LabFloat,      // L 0..100, a and b about -128..127, as floats
        Rgb32,         // QRgb values (their alpha left as it is)
    };

    // No transform: convert() does nothing, isValid() is false.
    ColourTransform() = default;

    // From samples of `samples` described by `icc` to sRGB, `stride` samples a pixel (the colour
    // samples first; the rest, an alpha, skipped). Invalid where neither `icc` nor a standard
    // profile of the kind serves (RGB has none: its rows are sRGB already), or where more than
    // seven samples lie beside the colours.
    static ColourTransform toSRgb(Samples samples, const QByteArray &icc, int stride = 0);

    bool isValid() const { return bool(m_transform); }
    // Whether the embedded profile was used (rather than the standard one of its kind).
    bool usesEmbeddedProfile() const { return m_embedded; }

    // `count` pixels from `in` into `out` as opaque QRgb values.
    void convert(const void *in, QRgb *out, int count) const;

    // The picture's pixels from `icc` (an RGB profile) into sRGB in place (never held twice),
    // translucency kept; RGB32, ARGB32 and premultiplied ARGB32 pictures (others are made one of
    // those first). False, the picture untouched, where the profile is no RGB profile LittleCMS
    // reads; false with a null picture where it could not be made one of those formats; true also
    // where the profile describes sRGB itself (nothing then changes).
    static bool convertToSRgb(QImage &image, const QByteArray &icc);

    // Whether `icc` describes sRGB (as far as its primaries and curves say).
    static bool isSRgb(const QByteArray &icc);

    // The colour space an ICC profile's header names, as the program says it: "RGB", "CMYK",
    // "Lab", "grey" or empty for none or another.
    static QString spaceOf(const QByteArray &icc);

    // The system's standard CMYK profile (Ghostscript's, from Debian's libgs-common), read once;
    // empty where none is installed.
    static QByteArray standardCmykProfile();

    // The largest profile read: no profile of a real file comes near it.
    static constexpr qsizetype maxProfileBytes = qsizetype(32) << 20;

private:
    std::shared_ptr<void> m_transform;
    bool m_embedded = false;
    bool m_inkAlpha = false; // the output's fourth byte is to be made opaque
};
