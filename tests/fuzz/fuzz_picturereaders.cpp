// The BMP, GIF, Photoshop and TGA readers: any bytes give a picture or nothing, never a crash, a
// hang or a huge allocation, read whole and as a thumbnail (rows averaged as they come).

#include "formats/BMPImageRep.h"
#include "formats/GIFImageRep.h"
#include "formats/PSDImageRep.h"
#include "formats/TGAImageRep.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QSize box : {QSize(), QSize(64, 64)}) {
        const QImage images[] = {BMPImageRep::initWithData(bytes, box), GIFImageRep::initWithData(bytes, box),
                                 PSDImageRep::initWithData(bytes, box),
                                 box.isValid() ? QImage() : TGAImageRep::initWithData(bytes)};
        uint32_t sum = 0;
        for (const QImage &image : images)
            for (int y = 0; y < image.height(); ++y)
                sum += image.constScanLine(y)[image.bytesPerLine() - 1];
        volatile uint32_t sink = sum;
        (void)sink;
    }
    return 0;
}
