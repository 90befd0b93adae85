// Fuzzes the Canon CRW heap walk and its record tables.
#include "formats/OVNImageTagParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(bytes, static_cast<qsizetype>(size));
    OVNImageTagParser parser;
    parser.parseDataForExifInfo(data);
    // The root heap as the whole-file reader finds it, without its minimum size and signature.
    const auto order = OVNImageTagParser::byteOrderAt(data, 0, OVNImageTagParser::ByteOrder::BigEndian);
    const auto headerLength = static_cast<quint32>(OVNImageTagParser::get4Bytes(data, 2, order));
    const auto rootDirectory = static_cast<quint32>(OVNImageTagParser::get4Bytes(data, data.size() - 4, order));
    parser.convertCRWTagsToDictionary(data, rootDirectory, headerLength, order);
    return 0;
}
