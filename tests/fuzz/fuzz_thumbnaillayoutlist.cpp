// The stored thumbnail layout list ("ThumbnailLayoutList"), as any property list may hold it:
// always four layouts, and a problem named for each value replaced.

#include "browser/OVNThumbnailLayoutList.h"
#include "platform/PropertyList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QVariant stored = PropertyList::read(bytes);
    const OVNLayoutListReading reading = OVNThumbnailLayoutList::read(stored);
    if (reading.layouts.size() != OVNThumbnailLayoutList::layoutCount
        || reading.fromStore.size() != OVNThumbnailLayoutList::layoutCount)
        __builtin_trap();
    const QStringList lines = OVNThumbnailLayoutList::problemLines(reading);
    if (lines.size() != reading.problems.size()
        || OVNThumbnailLayoutList::message(reading, QStringLiteral("/tmp/kept.plist")).isEmpty() == reading.repaired())
        __builtin_trap();
    // A repaired list read again needs no repair.
    if (!OVNThumbnailLayoutList::read(QVariant(reading.layouts)).problems.isEmpty())
        __builtin_trap();
    return 0;
}
