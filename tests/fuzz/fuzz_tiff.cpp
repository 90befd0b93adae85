// Fuzzes the JPEG marker walk, the Exif APP1 reader and the TIFF IFD walk with the tag table.
#include "formats/OVNImageTagParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(bytes, static_cast<qsizetype>(size));
    OVNImageTagParser parser;
    // The whole-file entry (JPEG or TIFF by the first bytes; short inputs end early).
    parser.parseDataForExifInfo(data);
    // The same bytes as one APP1 payload, and as a bare TIFF in both byte orders, so that small
    // inputs reach the IFD walk too.
    parser.convertTagsToDictionary(data, 0, data.size());
    for (const auto order : {OVNImageTagParser::ByteOrder::LittleEndian, OVNImageTagParser::ByteOrder::BigEndian}) {
        const qint64 firstIfd = OVNImageTagParser::get4Bytes(data, 4, order);
        parser.convertExifToDictionary(data, 0, firstIfd, data.size(), order);
    }
    return 0;
}
