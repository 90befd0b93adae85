#include "formats/OVNRAWImporter.h"

#include "formats/PBMImageRep.h"
#include "decoding/RawDecoder.h"

OVNRAWImporter::OVNRAWImporter() : m_decoder(std::make_unique<RawDecoder>()) {}

OVNRAWImporter::~OVNRAWImporter() = default;

void OVNRAWImporter::setData(const QByteArray &data)
{
    cleanup();
    m_buffer = data;
    m_status = m_decoder->open(m_buffer) ? Identified : Unsupported;
}

void OVNRAWImporter::processImageBufferWithShrinkFactor(int n)
{
    if (m_status == Unsupported || !m_decoder->isOpen())
        return;
    cleanup();
    n = std::clamp(n, 0, 8);
    const auto decoded =
        m_decoder->decode({n, n > 0 ? RawDecoder::Interpolation::Quick : RawDecoder::Interpolation::Full});
    if (!decoded)
        return;
    m_width = decoded->width;
    m_height = decoded->height;
    m_rgb = decoded->rgb;
}

QImage OVNRAWImporter::image()
{
    if (m_status == Unsupported || m_rgb.isEmpty())
        return {};
    return PBMImageRep::imageRepWithData(composePpm(m_width, m_height, m_rgb));
}

QVariantMap OVNRAWImporter::metadata()
{
    const RawDecoder::Info &info = m_decoder->info();
    m_metadata.insert(QStringLiteral("CameraMake"), QString::fromLatin1(info.make));
    m_metadata.insert(QStringLiteral("CameraModel"), QString::fromLatin1(info.model));
    m_metadata.insert(QStringLiteral("DateTime"), QStringLiteral("n/a"));
    if (info.rawHeight > 0)
        m_metadata.insert(QStringLiteral("RAWImportHeight"), info.rawHeight);
    if (info.rawWidth > 0)
        m_metadata.insert(QStringLiteral("RAWImportWidth"), info.rawWidth);
    if (info.flip > 0)
        m_metadata.insert(QStringLiteral("Orientation"), exifOrientationForFlip(info.flip));
    return m_metadata;
}

void OVNRAWImporter::cleanup()
{
    m_rgb.clear();
    m_rgb.squeeze();
    m_width = m_height = 0;
}

QByteArray OVNRAWImporter::composePpm(int width, int height, const QByteArray &rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() < qsizetype(width) * height * 3)
        return {};
    QByteArray ppm = "P6\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + "\n255\n";
    ppm.append(rgb.constData(), qsizetype(width) * height * 3);
    return ppm;
}

int OVNRAWImporter::exifOrientationForFlip(int flip) { return flip <= 0 ? 0 : RawDecoder::exifOrientation(flip); }
