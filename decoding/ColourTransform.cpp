#include "decoding/ColourTransform.h"

#include <QColorSpace>
#include <QFile>
#include <QSysInfo>

#include <lcms2.h>

namespace {

struct ProfileClose {
    void operator()(void *profile) const
    {
        if (profile)
            cmsCloseProfile(profile);
    }
};
using Profile = std::unique_ptr<void, ProfileClose>;

// QRgb values as they lie in memory.
constexpr cmsUInt32Number qrgbFormat = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TYPE_BGRA_8 : TYPE_ARGB_8;

// A profile of the file's, where it describes samples of `space` and serves to convert them from.
Profile embeddedProfile(const QByteArray &icc, cmsColorSpaceSignature space)
{
    if (icc.size() < 132 || icc.size() > ColourTransform::maxProfileBytes)
        return {};
    Profile profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != space)
        return {};
    const cmsProfileClassSignature kind = cmsGetDeviceClass(profile.get());
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass)
        return {};
    return profile;
}

std::shared_ptr<void> transformOf(const Profile &from, cmsUInt32Number inFormat, cmsUInt32Number outFormat,
                                  cmsUInt32Number flags = 0)
{
    if (!from)
        return {};
    const Profile sRgb(cmsCreate_sRGBProfile());
    if (!sRgb)
        return {};
    // Each transform is used by one thread at a time: no cache shared between threads is needed.
    cmsHTRANSFORM transform = cmsCreateTransform(from.get(), inFormat, sRgb.get(), outFormat,
                                                 INTENT_RELATIVE_COLORIMETRIC, flags | cmsFLAGS_NOCACHE);
    if (!transform)
        return {};
    return std::shared_ptr<void>(transform, [](void *t) { cmsDeleteTransform(t); });
}

} // namespace

ColourTransform ColourTransform::toSRgb(Samples samples, const QByteArray &icc, int stride)
{
    ColourTransform result;
    cmsUInt32Number inFormat = 0;
    cmsColorSpaceSignature space = cmsSigRgbData;
    int colours = 3;
    switch (samples) {
    case Samples::Cmyk8:
        inFormat = TYPE_CMYK_8;
        space = cmsSigCmykData;
        colours = 4;
        break;
    case Samples::InvertedCmyk8:
        inFormat = TYPE_CMYK_8_REV;
        space = cmsSigCmykData;
        colours = 4;
        break;
    case Samples::Cmyk16:
        inFormat = TYPE_CMYK_16;
        space = cmsSigCmykData;
        colours = 4;
        break;
    case Samples::LabFloat:
        inFormat = TYPE_Lab_FLT;
        space = cmsSigLabData;
        break;
    case Samples::Rgb32:
        inFormat = qrgbFormat;
        break;
    }
    // LittleCMS describes at most seven samples beside the colours (more would spill into the
    // format's other fields).
    if (samples != Samples::Rgb32 && stride > colours) {
        if (stride - colours > 7)
            return result;
        inFormat |= EXTRA_SH(stride - colours);
    }
    const cmsUInt32Number flags = samples == Samples::Rgb32 ? cmsFLAGS_COPY_ALPHA : 0;
    if (samples == Samples::LabFloat) {
        // Lab is Lab: the profile of ICC's own Lab (D50), whatever a file embeds.
        result.m_transform = transformOf(Profile(cmsCreateLab4Profile(nullptr)), inFormat, qrgbFormat);
    } else {
        result.m_transform = transformOf(embeddedProfile(icc, space), inFormat, qrgbFormat, flags);
        result.m_embedded = bool(result.m_transform);
        if (!result.m_transform && space == cmsSigCmykData) {
            const QByteArray standard = standardCmykProfile();
            result.m_transform = transformOf(embeddedProfile(standard, space), inFormat, qrgbFormat);
        }
    }
    result.m_inkAlpha = samples != Samples::Rgb32;
    return result;
}

void ColourTransform::convert(const void *in, QRgb *out, int count) const
{
    if (!m_transform || count <= 0)
        return;
    cmsDoTransform(m_transform.get(), in, out, cmsUInt32Number(count));
    // The fourth byte of a pixel made from inks or Lab is not written by the transform.
    if (m_inkAlpha)
        for (int i = 0; i < count; ++i)
            out[i] |= 0xff000000u;
}

bool ColourTransform::convertToSRgb(QImage &image, const QByteArray &icc)
{
    if (image.isNull() || spaceOf(icc) != QLatin1String("RGB"))
        return false;
    if (isSRgb(icc))
        return true;
    const ColourTransform transform = toSRgb(Samples::Rgb32, icc);
    if (!transform.isValid())
        return false;
    // In place: a large picture is never held twice.
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return false;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        cmsDoTransform(transform.m_transform.get(), row, row, cmsUInt32Number(image.width()));
    }
    if (format == QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return true;
}

bool ColourTransform::isSRgb(const QByteArray &icc)
{
    const QColorSpace space = QColorSpace::fromIccProfile(icc);
    return space.isValid() && space == QColorSpace(QColorSpace::SRgb);
}

QString ColourTransform::spaceOf(const QByteArray &icc)
{
    if (icc.size() < 128)
        return {};
    const QByteArray signature = icc.mid(16, 4);
    if (signature == "RGB ")
        return QStringLiteral("RGB");
    if (signature == "CMYK")
        return QStringLiteral("CMYK");
    if (signature == "Lab ")
        return QStringLiteral("Lab");
    if (signature == "GRAY")
        return QStringLiteral("grey");
    return {};
}

QByteArray ColourTransform::standardCmykProfile()
{
    static const QByteArray profile = [] {
        for (const char *path :
             {"/usr/share/color/icc/ghostscript/default_cmyk.icc", "/usr/share/color/icc/ghostscript/ps_cmyk.icc"}) {
            QFile file(QString::fromLatin1(path));
            if (file.open(QIODevice::ReadOnly) && file.size() <= maxProfileBytes) {
                const QByteArray bytes = file.read(maxProfileBytes);
                if (spaceOf(bytes) == QLatin1String("CMYK"))
                    return bytes;
            }
        }
        return QByteArray();
    }();
    return profile;
}
