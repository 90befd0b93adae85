#include "platform/PropertyList.h"

#include "platform/PropertyList_p.h"

#include <QStringDecoder>
#include <QTimeZone>

#include <charconv>
#include <cmath>
#include <limits>

// Integers read from any form come back as qint64 (QMetaType::LongLong), also when they would fit
// in an int; only values above qint64's range come back as quint64. Writers take any integer type.

namespace PropertyListDetail {

Kind kindOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QByteArray:
        return Kind::Data;
    case QMetaType::QDateTime:
        return Kind::Date;
    case QMetaType::Bool:
        return Kind::Boolean;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return Kind::Integer;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return Kind::UnsignedInteger;
    case QMetaType::Float:
    case QMetaType::Double:
        return Kind::Real;
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return Kind::Array;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return Kind::Dictionary;
    default:
        return Kind::Unsupported;
    }
}

QVariantList arrayElements(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList) {
        const QStringList strings = value.toStringList();
        QVariantList list;
        list.reserve(strings.size());
        for (const QString &s : strings)
            list.append(s);
        return list;
    }
    return value.toList();
}

QVariantMap dictionaryEntries(const QVariant &value)
{
    if (value.typeId() == QMetaType::QVariantHash) {
        const QVariantHash hash = value.toHash();
        QVariantMap map;
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    return value.toMap();
}

QByteArray formatReal(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("+infinity") : QByteArrayLiteral("-infinity");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, result.ptr - buffer);
}

// The text as ASCII bytes, or nothing when it holds anything else: numbers and dates are ASCII.
static std::optional<QByteArray> asciiOf(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    return bytes;
}

std::optional<double> parseReal(QStringView text)
{
    const std::optional<QByteArray> ascii = asciiOf(text.trimmed());
    if (!ascii || ascii->isEmpty())
        return std::nullopt;
    QByteArray number = *ascii;
    const QByteArray lower = number.toLower();
    if (lower == "nan" || lower == "+nan" || lower == "-nan")
        return std::numeric_limits<double>::quiet_NaN();
    if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity")
        return std::numeric_limits<double>::infinity();
    if (lower == "-inf" || lower == "-infinity")
        return -std::numeric_limits<double>::infinity();
    if (number.startsWith('+'))
        number.remove(0, 1);
    if (number.isEmpty() || number.startsWith('-') != ascii->startsWith('-'))
        return std::nullopt; // "+-1"
    double value = 0;
    const char *end = number.constData() + number.size();
    const auto result = std::from_chars(number.constData(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QVariant parseInteger(QStringView text)
{
    const std::optional<QByteArray> ascii = asciiOf(text.trimmed());
    if (!ascii || ascii->isEmpty())
        return {};
    const char *p = ascii->constData();
    const char *end = p + ascii->size();
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == end || *p == '+' || *p == '-')
        return {};
    quint64 magnitude = 0;
    const auto result = std::from_chars(p, end, magnitude, base);
    if (result.ec != std::errc() || result.ptr != end)
        return {};
    constexpr quint64 int64Max = quint64(std::numeric_limits<qint64>::max());
    if (negative) {
        if (magnitude > int64Max + 1)
            return {};
        // Negating in unsigned arithmetic covers qint64's minimum as well.
        return QVariant::fromValue(qint64(0 - magnitude));
    }
    if (magnitude > int64Max)
        return QVariant::fromValue(quint64(magnitude));
    return QVariant::fromValue(qint64(magnitude));
}

QDateTime earliestDate() { return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC); }

QDateTime latestDate() { return QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC); }

QByteArray formatDate(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    const QDateTime utc = date.toUTC();
    const QDate day = utc.date();
    const QTime time = utc.time();
    if (day.year() < 1 || day.year() > 9999)
        return {};
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", day.year(), day.month(), day.day(), time.hour(),
                             time.minute(), time.second())
        .toLatin1();
}

QDateTime parseDate(QStringView text)
{
    const std::optional<QByteArray> ascii = asciiOf(text.trimmed());
    if (!ascii)
        return {};
    const QByteArray &s = *ascii;
    // YYYY-MM-DDTHH:MM:SS[.fff]Z
    if (s.size() < 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' || !s.endsWith('Z'))
        return {};
    auto field = [&s](int from, int length) -> int {
        int value = 0;
        for (int i = from; i < from + length; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return -1;
            value = value * 10 + (s[i] - '0');
        }
        return value;
    };
    const int year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const int hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    int millisecond = 0;
    if (s.size() > 20) {
        // A fraction of a second: ".5", ".250", ".123456"; kept to the millisecond.
        if (s[19] != '.' || s.size() == 21)
            return {};
        int scale = 100;
        for (qsizetype i = 20; i < s.size() - 1; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return {};
            millisecond += (s[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (year < 1 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return {};
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, millisecond);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

} // namespace PropertyListDetail

QVariant PropertyList::read(const QByteArray &data, QString *errorMessage, Format *format)
{
    auto answer = [format](Format read) {
        if (format)
            *format = read;
    };
    if (data.startsWith("bplist")) {
        answer(Format::Binary);
        return readBinary(data, errorMessage);
    }
    // Both text forms may begin with a byte order mark and blank lines. The XML form starts with
    // "<?" (declaration), "<!" (DOCTYPE or comment) or "<plist"; the text form's own "<" only
    // opens hexadecimal data.
    QString head;
    const QByteArray start = data.left(256);
    if (start.startsWith("\xfe\xff") || start.startsWith("\xff\xfe")) {
        QStringDecoder decoder(start.startsWith("\xfe\xff") ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
        head = decoder.decode(start.mid(2));
    } else {
        head = QString::fromLatin1(start.startsWith("\xef\xbb\xbf") ? start.mid(3) : start);
    }
    const QString trimmed = head.trimmed();
    if (trimmed.startsWith(QLatin1String("<?")) || trimmed.startsWith(QLatin1String("<!"))
        || trimmed.startsWith(QLatin1String("<plist"))) {
        answer(Format::Xml);
        return readXml(data, errorMessage);
    }
    answer(Format::OpenStep);
    return readOpenStep(data, errorMessage);
}
