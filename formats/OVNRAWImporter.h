#pragma once

#include <QByteArray>
#include <QImage>
#include <QVariantMap>

#include <memory>
#include <optional>

class RawDecoder;

// One in-memory camera-RAW decode: give it the file's bytes, decode at full or reduced size, then
// take the picture and a few facts about it. Calls in order: setData(),
// processImageBufferWithShrinkFactor(), image() and/or metadata(), cleanup().
//
// Decodes anywhere in the process are serialised by the RAW decoder's lock, so importers may be
// used on several threads; each importer itself belongs to one thread at a time.
class OVNRAWImporter
{
public:
    enum Status { Identified = 0, Unsupported = 1 };

    OVNRAWImporter();
    ~OVNRAWImporter();
    OVNRAWImporter(const OVNRAWImporter &) = delete;
    OVNRAWImporter &operator=(const OVNRAWImporter &) = delete;

    // Keeps the data (it must stay unchanged until the decode is done), forgets any earlier
    // picture and identifies the camera format.
    void setData(const QByteArray &data);
    Status status() const { return m_status; }

    // 0 decodes the full picture with full interpolation; n > 0 a picture of about 1/2^n of the
    // sensor size on each side with quick interpolation. Does nothing for unsupported data.
    void processImageBufferWithShrinkFactor(int n);

    // The decoded picture, unturned; null when nothing was identified or decoded.
    QImage image();

    // "CameraMake", "CameraModel", "DateTime" (always "n/a"), "RAWImportWidth" and
    // "RAWImportHeight" (when known) and "Orientation" (EXIF numbering, when the camera gives a
    // turn).
    QVariantMap metadata();

    // Frees the decoded picture.
    void cleanup();

    // The decoded RGB picture as a binary P6 Netpbm image.
    static QByteArray composePpm(int width, int height, const QByteArray &rgb);
    // The decoder's rotation code in the EXIF numbering (1 to 8); 0 stays 0 (no turn known).
    static int exifOrientationForFlip(int flip);

private:
    QByteArray m_buffer;
    QVariantMap m_metadata;
    std::unique_ptr<RawDecoder> m_decoder;
    int m_width = 0;
    int m_height = 0;
    QByteArray m_rgb;
    Status m_status = Identified;
};
