// Web locations (.webloc property lists, .url and .desktop links): any bytes give an address or
// nothing, never a crash.

#include "import/OVNImportParserWeblocDocument.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)OVNImportParserWeblocDocument::urlFromData(bytes);
    return 0;
}
