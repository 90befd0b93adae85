// In-memory camera-RAW decoding: any bytes give a picture or nothing, never a crash or a hang.

#include "formats/OVNRAWImporter.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    OVNRAWImporter importer;
    importer.setData(bytes);
    (void)importer.metadata();
    // Quarter size keeps each run short; the loaders and the sensor-data readers are the same.
    importer.processImageBufferWithShrinkFactor(2);
    (void)importer.image();
    importer.cleanup();
    return 0;
}
