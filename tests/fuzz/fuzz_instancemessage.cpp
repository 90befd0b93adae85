// The message a second start sends to the running program: any bytes give existing absolute
// paths only, which the same message form carries back unchanged, and setting names that are
// short and free of control characters.

#include "app/OVNInstanceForwarding.h"

#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList settings;
    const QStringList files = OVNInstanceForwarding::decode(message, nullptr, &settings);
    if (settings.size() > 100)
        __builtin_trap();
    for (const QString &setting : settings) {
        if (setting.isEmpty() || setting.size() > 200)
            __builtin_trap();
        for (QChar c : setting) {
            if (c.category() == QChar::Other_Control)
                __builtin_trap();
        }
    }
    for (const QString &file : files) {
        if (!QDir::isAbsolutePath(file) || !QFileInfo::exists(file))
            __builtin_trap();
    }
    QStringList again;
    if (OVNInstanceForwarding::decode(OVNInstanceForwarding::encode(files, settings), nullptr, &again) != files
        || again != settings)
        __builtin_trap();
    return 0;
}
