// Photo-library album lists: any bytes give album titles and import items, never a crash; every
// item names a file and its keywords text is blank-terminated.

#include "import/OVNWorkflowPanel.h"
#include "platform/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QVariant library = PropertyList::read(bytes);
    const QStringList names = OVNWorkflowPanel::albumNames(library);
    for (int i = 0; i < names.size() && i < 64; ++i) {
        for (const QVariant &item : OVNWorkflowPanel::albumItems(library, i, names[i])) {
            const QVariantMap map = item.toMap();
            const QString keywords = map.value(QStringLiteral("KEYWORDS")).toString();
            if (map.value(QStringLiteral("PATH")).toString().isEmpty()
                || (!keywords.isEmpty() && !keywords.endsWith(QLatin1Char(' '))))
                std::abort();
        }
    }
    return 0;
}
