// Record exports: any bytes give a refusal or records and failures, never a crash; no record's
// path leaves its volume.

#include "import/OVNCumulusParser.h"

#include <QVariantMap>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Every volume "exists" under the root, so that paths are made.
    qputenv("OVN_VOLUME_ROOTS", "/");
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const OVNCumulusParser::Parsed parsed = OVNCumulusParser::parse(bytes);
    for (const QVariant &item : parsed.items) {
        const QString path = item.toMap().value(QStringLiteral("PATH")).toString();
        if (path.contains(QLatin1String("/../")) || path.contains(QLatin1String("/./")))
            std::abort();
    }
    return 0;
}
