#include "formats/OVNHelper.h"

#include <QColor>
#include <QFont>
#include <QFontDatabase>

#include <charconv>
#include <cmath>
#include <string>

namespace {

const QString kRed = QStringLiteral("RED");
const QString kGreen = QStringLiteral("GREEN");
const QString kBlue = QStringLiteral("BLUE");
const QString kAlpha = QStringLiteral("ALPHA");
const QString kName = QStringLiteral("NAME");
const QString kSize = QStringLiteral("SIZE");

const QString kDefaultFontName = QStringLiteral("Helvetica-Bold");
constexpr double kDefaultFontSize = 10.0;

// "%.4f" without the C or Qt locale: always a point, never a comma.
QString fourDecimals(double value)
{
    if (!std::isfinite(value))
        value = 0.0;
    return QString::number(value, 'f', 4);
}

// A stored number: the leading number of a string, or the value of a number. Anything else is 0.
double numberValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return OVNHelper::leadingDouble(value.toString());
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool: {
        const double number = value.toDouble();
        return std::isfinite(number) ? number : 0.0;
    }
    default:
        return 0.0;
    }
}

double colorComponent(const QVariantMap &dictionary, const QString &key)
{
    const double value = numberValue(dictionary.value(key));
    return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value);
}

// Applies a style word of a stored font name ("Bold", "Italic", "BoldOblique") to a font.
void applyStyleWords(QFont &font, const QString &style)
{
    const QString lower = style.toLower();
    if (lower.contains(QLatin1String("bold")) || lower.contains(QLatin1String("black"))
        || lower.contains(QLatin1String("heavy")))
        font.setBold(true);
    if (lower.contains(QLatin1String("italic")) || lower.contains(QLatin1String("oblique")))
        font.setItalic(true);
}

} // namespace

double OVNHelper::leadingDouble(const QString &text)
{
    // Leading blanks and a "+" sign are allowed; the number ends at the first character that
    // cannot continue it.
    const std::string bytes = text.trimmed().toStdString();
    const char *begin = bytes.data();
    const char *end = begin + bytes.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    if (error != std::errc() || stop == begin || !std::isfinite(value))
        return 0.0;
    return value;
}

QVariantMap OVNHelper::encodeColorR(double red, double green, double blue, double alpha)
{
    return {{kRed, fourDecimals(red)},
            {kGreen, fourDecimals(green)},
            {kBlue, fourDecimals(blue)},
            {kAlpha, fourDecimals(alpha)}};
}

QVariantMap OVNHelper::encodeColor(const QColor &color)
{
    // Any colour model is taken through RGB, so that no colour fails to encode.
    const QColor rgb = color.toRgb();
    return encodeColorR(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

QColor OVNHelper::decodeToColor(const QVariantMap &dictionary)
{
    return QColor::fromRgbF(
        static_cast<float>(colorComponent(dictionary, kRed)), static_cast<float>(colorComponent(dictionary, kGreen)),
        static_cast<float>(colorComponent(dictionary, kBlue)), static_cast<float>(colorComponent(dictionary, kAlpha)));
}

QVariantMap OVNHelper::encodeFontWithName(const QString &name, double size)
{
    return {{kName, name}, {kSize, fourDecimals(size)}};
}

QVariantMap OVNHelper::encodeFont(const QFont &font)
{
    // Stored as "Family" or "Family-Style", the form decodeToFont reads back (as it reads the
    // PostScript names other systems stored).
    QString name = font.family();
    QString style;
    if (font.bold())
        style += QStringLiteral("Bold");
    if (font.italic())
        style += QStringLiteral("Italic");
    if (!style.isEmpty())
        name += QLatin1Char('-') + style;
    const double size = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF();
    return encodeFontWithName(name, size);
}

QFont OVNHelper::decodeToFont(const QVariantMap &dictionary)
{
    double size = kDefaultFontSize;
    if (dictionary.contains(kSize)) {
        const double stored = numberValue(dictionary.value(kSize));
        if (stored > 0.0)
            size = stored;
    }
    QString name = dictionary.value(kName).toString();
    if (name.isEmpty())
        name = kDefaultFontName;

    QFont font;
    if (QFontDatabase::hasFamily(name)) {
        font.setFamily(name);
    } else {
        // "Family-Style": the family, with the style applied. A family that is not installed is
        // still asked for by name, so that the system's font matching picks its closest relative.
        const qsizetype dash = name.lastIndexOf(QLatin1Char('-'));
        const QString family = dash > 0 ? name.left(dash) : name;
        font.setFamily(family);
        if (dash > 0)
            applyStyleWords(font, name.mid(dash + 1));
    }
    // One point of the stored size is one device-independent pixel.
    font.setPixelSize(qMax(1, static_cast<int>(std::lround(qMin(size, 4096.0)))));
    return font;
}

QString OVNHelper::decodeToFontDescription(const QVariantMap &dictionary)
{
    const QString name = dictionary.contains(kName) ? dictionary.value(kName).toString() : kDefaultFontName;
    const double size = dictionary.contains(kSize) ? numberValue(dictionary.value(kSize)) : kDefaultFontSize;
    return name + QStringLiteral(", ") + QString::number(size, 'f', 0);
}

QString OVNHelper::decodeStringFromDict(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return QStringLiteral("");
    return value.toString();
}
