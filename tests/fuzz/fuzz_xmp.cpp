// Fuzzes the XMP packet reader.
#include "formats/OVNXMPHelper.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    OVNXMPHelper reader;
    reader.parseXMP(QByteArrayView(bytes, static_cast<qsizetype>(size)));
    return 0;
}
