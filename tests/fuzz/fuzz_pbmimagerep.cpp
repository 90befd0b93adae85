// Netpbm reader: any bytes give a picture or nothing, never a crash, a hang or a huge allocation.

#include "formats/PBMHeader.h"
#include "formats/PBMImageRep.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto header = PBMHeader::initWithData(bytes))
        (void)header->hdrDesc();
    const QImage image = PBMImageRep::imageRepWithData(bytes);
    if (!image.isNull()) {
        // Touch every row, so that a row left short of its bytes shows up.
        uint32_t sum = 0;
        for (int y = 0; y < image.height(); ++y)
            sum += image.constScanLine(y)[image.bytesPerLine() - 1];
        volatile uint32_t sink = sum;
        (void)sink;
    }
    return 0;
}
