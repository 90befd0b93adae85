#include "uikit/ColorSettingCoding.h"

#include <QRegularExpression>

#include <algorithm>

namespace ColorSettingCoding {

float componentValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toFloat();
    case QMetaType::QString: {
        static const QRegularExpression leadingNumber(
            QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?"));
        const QRegularExpressionMatch match = leadingNumber.match(value.toString());
        return match.hasMatch() ? match.captured(0).trimmed().toFloat() : 0.0f;
    }
    default:
        return 0.0f;
    }
}

QColor decodeToColor(const QVariantMap &colorSetting)
{
    auto component = [&colorSetting](const char *key) {
        return std::clamp(componentValue(colorSetting.value(QLatin1String(key))), 0.0f, 1.0f);
    };
    return QColor::fromRgbF(component("RED"), component("GREEN"), component("BLUE"), component("ALPHA"));
}

} // namespace ColorSettingCoding
