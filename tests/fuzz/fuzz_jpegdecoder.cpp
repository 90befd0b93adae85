// The direct JPEG decoder: any bytes give a picture or nothing, never a crash, a hang or more
// memory than its cap. Each input is decoded whole and at a thumbnail's scale.

#include "decoding/JpegDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    (void)JpegDecoder::size(data, size);
    (void)JpegDecoder::decode(data, size, QSize(64, 64));
    (void)JpegDecoder::decode(data, size);
    return 0;
}
