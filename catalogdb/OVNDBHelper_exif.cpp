// The metadata row of an entry, made from the metadata dictionary the import read.

#include "catalogdb/OVNDBHelper.h"

#include "platform/PropertyList.h"

#include <QHash>
#include <QRegularExpression>

#include <array>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

enum class ExifKind { Text, Integer, Decimal };

struct ExifColumn {
    const char *name;
    ExifKind kind;
    int width; // characters a text column holds
};

// The columns of strvexif that the dictionary fills, named as the table spells them. Dictionary
// keys match them without regard to case ("ISOequivalent", "Whitebalance").
constexpr ExifColumn exifColumns[] = {
    {"CameraMake", ExifKind::Text, 32},
    {"CameraModel", ExifKind::Text, 40},
    {"DateTime", ExifKind::Text, 20},
    {"Height", ExifKind::Integer, 0},
    {"Width", ExifKind::Integer, 0},
    {"Orientation", ExifKind::Integer, 0},
    {"IsColor", ExifKind::Integer, 0},
    {"Process", ExifKind::Integer, 0},
    {"FlashUsed", ExifKind::Integer, 0},
    {"FocalLength", ExifKind::Decimal, 0},
    {"ExposureTime", ExifKind::Decimal, 0},
    {"ApertureFNumber", ExifKind::Decimal, 0},
    {"Distance", ExifKind::Decimal, 0},
    {"CCDWidth", ExifKind::Decimal, 0},
    {"ExposureBias", ExifKind::Decimal, 0},
    {"DigitalZoomRatio", ExifKind::Decimal, 0},
    {"FocalLength35mmEquiv", ExifKind::Integer, 0},
    {"WhiteBalance", ExifKind::Integer, 0},
    {"MeteringMode", ExifKind::Integer, 0},
    {"ExposureProgram", ExifKind::Integer, 0},
    {"ExposureMode", ExifKind::Integer, 0},
    {"ISOEquivalent", ExifKind::Integer, 0},
    {"LightSource", ExifKind::Integer, 0},
    {"Comments", ExifKind::Text, 0},
};

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// The value as a real number: a number as it is, a text when it is one ("0.004", "1e-05");
// nothing for "n/a" and other words.
std::optional<double> realValue(const QVariant &value)
{
    bool ok = false;
    double real = 0;
    if (isNumber(value))
        real = value.toDouble(&ok);
    else if (value.typeId() == QMetaType::QString)
        real = value.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(real))
        return std::nullopt;
    return real;
}

// A column value, or NULL when the dictionary's value does not fit the column: the row is never
// refused for one odd value, and the value itself stays in the tags text.
QVariant columnValue(const ExifColumn &column, const QVariant &value)
{
    switch (column.kind) {
    case ExifKind::Text: {
        if (value.typeId() != QMetaType::QString && !isNumber(value))
            return QVariant();
        QString text = value.toString();
        // EXIF writes "2024:05:01 10:00:00"; the search compares this column with texts such as
        // "2024-05-01 10:00:00", which sort right only in the same form.
        static const QRegularExpression exifDate(QStringLiteral("^(\\d{4}):(\\d{2}):(\\d{2})(?= |$)"));
        if (qstrcmp(column.name, "DateTime") == 0)
            text.replace(exifDate, QStringLiteral("\\1-\\2-\\3"));
        return column.width > 0 ? text.left(column.width) : text;
    }
    case ExifKind::Integer: {
        const std::optional<double> real = realValue(value);
        if (!real || *real != std::trunc(*real) || *real < std::numeric_limits<qint32>::min()
            || *real > std::numeric_limits<qint32>::max())
            return QVariant();
        return QVariant(qint64(*real));
    }
    case ExifKind::Decimal: {
        // decimal(20,10): ten digits before the point.
        const std::optional<double> real = realValue(value);
        if (!real || std::abs(*real) >= 1e10)
            return QVariant();
        return QVariant(*real);
    }
    }
    return QVariant();
}

} // namespace

QList<std::pair<QString, QVariant>> OVNDBHelper::exifRowValues(const QVariantMap &metadata)
{
    static const QHash<QString, qsizetype> columnByKey = [] {
        QHash<QString, qsizetype> byKey;
        for (qsizetype i = 0; i < qsizetype(std::size(exifColumns)); ++i)
            byKey.insert(QString::fromLatin1(exifColumns[i].name).toLower(), i);
        return byKey;
    }();
    std::array<QVariant, std::size(exifColumns)> found;
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it) {
        const auto column = columnByKey.constFind(it.key().toLower());
        if (column != columnByKey.cend() && !found[size_t(*column)].isValid())
            found[size_t(*column)] = columnValue(exifColumns[*column], it.value());
    }
    QList<std::pair<QString, QVariant>> values;
    for (size_t i = 0; i < found.size(); ++i) {
        if (found[i].isValid())
            values.append({QString::fromLatin1(exifColumns[i].name), found[i]});
    }
    // Every item, the columns' ones too: the details pane shows this text and the search's
    // metadata field looks through it.
    const QByteArray tags = PropertyList::writeOpenStep(metadata);
    if (!tags.isEmpty())
        values.append({QStringLiteral("exiftags"), QString::fromUtf8(tags)});
    return values;
}
