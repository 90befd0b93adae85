// Web gallery theme templates: any text is cut at its placeholders so that filling nothing gives
// it back unchanged, and filling values never fails.

#include "output/OVNPublishToWeb.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const OVNPublishToWeb::Template page(text);
    if (page.fill({}) != text)
        __builtin_trap();
    // A value that is itself a placeholder is put in as it is.
    const QHash<QString, QString> values{{QStringLiteral("TITLE"), QStringLiteral("%%HEADER1%%")},
                                         {QStringLiteral("HEADER1"), OVNPublishToWeb::htmlEscaped(text)},
                                         {QStringLiteral("IMAGETITLE"), QString()}};
    const QString filled = page.fill(values);
    if (!text.contains(QLatin1String("%%")) && filled != text)
        __builtin_trap();
    return 0;
}
