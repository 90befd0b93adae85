// The message a second start sends to the running program: any bytes give existing absolute
// paths only, which the same message form carries back unchanged.

#include "app/OVNInstanceForwarding.h"

#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList files = OVNInstanceForwarding::decode(message);
    for (const QString &file : files) {
        if (!QDir::isAbsolutePath(file) || !QFileInfo::exists(file))
            __builtin_trap();
    }
    if (OVNInstanceForwarding::decode(OVNInstanceForwarding::encode(files)) != files)
        __builtin_trap();
    return 0;
}
