// Illustrator and EPS header comments: any bytes give metadata or nothing, never a crash.

#include "import/OVNImportParserAdobe.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)OVNImportParserAdobe::commentsFromText(bytes);
    (void)OVNImportParserAdobe::getPSStringFromLine(QString::fromLatin1(bytes));
    return 0;
}
