// PostgreSQL values in the binary result format, decoded into this layer's value model. Pure
// functions: the PostgreSQL execution branch calls them for every value it reads.

#include "catalogdb/OVNDatabaseAccess.h"

#include <QTimeZone>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

// Type oids of the built-in types (pg_type.dat).
enum : unsigned int {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    DateOid = 1082,
    TimestampOid = 1114,
    TimestampTzOid = 1184,
    NumericOid = 1700,
};

// 2000-01-01 00:00:00 as milliseconds since 1970-01-01 00:00:00.
constexpr qint64 epochMsecs = 946684800000LL;

qint64 floorDiv(qint64 value, qint64 divisor)
{
    qint64 quotient = value / divisor;
    if ((value % divisor != 0) && ((value < 0) != (divisor < 0)))
        --quotient;
    return quotient;
}

// Milliseconds after the epoch date, from a timestamp's bytes; nothing for infinities.
std::optional<qint64> timestampMsecs(QByteArrayView bytes, bool integerDateTimes)
{
    if (bytes.size() != 8)
        return std::nullopt;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    if (integerDateTimes) {
        const qint64 micros = OVNDatabaseAccess::int64FromBytes(data);
        if (micros == std::numeric_limits<qint64>::max() || micros == std::numeric_limits<qint64>::min())
            return std::nullopt;
        return floorDiv(micros, 1000);
    }
    const double seconds = OVNDatabaseAccess::float64FromBytes(data);
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14)
        return std::nullopt;
    return qint64(std::llround(seconds * 1000.0));
}

// "yyyy-MM-dd HH:mm:ss +hhmm" for a wall-clock time (milliseconds since 1970-01-01 00:00 of that
// wall clock), the offset that of the local zone then. Listings turn two dates per record into
// text, so the fields are written digit by digit, and the zone (which the C library looks up on
// disk each time) is asked once per quarter hour of wall time: zone changes fall on quarter hours.
QString wallTimeText(qint64 wallMsecs)
{
    constexpr qint64 msecsPerDay = 86400000;
    constexpr qint64 bucketMsecs = 15 * 60 * 1000;
    constexpr size_t cacheLimit = 100000;
    using Offset = std::array<char, 5>;
    constexpr qint64 julianDayOf1970 = 2440588;
    thread_local std::unordered_map<qint64, Offset> offsets;
    thread_local std::chrono::steady_clock::time_point cacheValidUntil;
    const qint64 days = floorDiv(wallMsecs, msecsPerDay);
    const qint64 msecsOfDay = wallMsecs - days * msecsPerDay;
    const QDate date = QDate::fromJulianDay(julianDayOf1970 + days);
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    if (year < 1 || year > 9999) {
        const QDateTime dateTime(date, QTime::fromMSecsSinceStartOfDay(int(msecsOfDay)));
        return OVNDatabaseAccess::timestampText(dateTime);
    }
    // A change of the machine's zone shows within a minute.
    const auto now = std::chrono::steady_clock::now();
    if (offsets.size() > cacheLimit || now > cacheValidUntil) {
        offsets.clear();
        cacheValidUntil = now + std::chrono::seconds(60);
    }
    const qint64 bucket = floorDiv(wallMsecs, bucketMsecs);
    auto found = offsets.find(bucket);
    if (found == offsets.end()) {
        const int offset = QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(msecsOfDay))).offsetFromUtc();
        const int minutes = std::abs(offset) / 60;
        const Offset text = {offset < 0 ? '-' : '+', char('0' + (minutes / 60) / 10 % 10),
                             char('0' + (minutes / 60) % 10), char('0' + (minutes % 60) / 10),
                             char('0' + (minutes % 60) % 10)};
        found = offsets.emplace(bucket, text).first;
    }
    const int seconds = int(msecsOfDay / 1000);
    const auto two = [](char *out, int value) {
        out[0] = char('0' + value / 10);
        out[1] = char('0' + value % 10);
    };
    char text[25];
    text[0] = char('0' + year / 1000);
    text[1] = char('0' + year / 100 % 10);
    text[2] = char('0' + year / 10 % 10);
    text[3] = char('0' + year % 10);
    text[4] = '-';
    two(text + 5, month);
    text[7] = '-';
    two(text + 8, day);
    text[10] = ' ';
    two(text + 11, seconds / 3600);
    text[13] = ':';
    two(text + 14, seconds / 60 % 60);
    text[16] = ':';
    two(text + 17, seconds % 60);
    text[19] = ' ';
    std::memcpy(text + 20, found->second.data(), 5);
    return QString::fromLatin1(text, 25);
}

template <typename Float>
QString shortestText(Float value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

qint16 OVNDatabaseAccess::int16FromBytes(const unsigned char *bytes)
{
    return qint16(quint16((quint16(bytes[0]) << 8) | bytes[1]));
}

qint32 OVNDatabaseAccess::int32FromBytes(const unsigned char *bytes)
{
    return qint32((quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8) | bytes[3]);
}

qint64 OVNDatabaseAccess::int64FromBytes(const unsigned char *bytes)
{
    quint64 value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | bytes[i];
    return qint64(value);
}

float OVNDatabaseAccess::float32FromBytes(const unsigned char *bytes)
{
    const quint32 bits = quint32(int32FromBytes(bytes));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double OVNDatabaseAccess::float64FromBytes(const unsigned char *bytes)
{
    const quint64 bits = quint64(int64FromBytes(bytes));
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::optional<qint64> OVNDatabaseAccess::integerObjectFromBytes(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    switch (bytes.size()) {
    case 2:
        return int16FromBytes(data);
    case 4:
        return int32FromBytes(data);
    case 8:
        return int64FromBytes(data);
    default:
        return std::nullopt;
    }
}

QDateTime OVNDatabaseAccess::epochDate() { return QDateTime(QDate(2000, 1, 1), QTime(0, 0)); }

std::optional<QDateTime> OVNDatabaseAccess::timestampFromBytes(QByteArrayView bytes, bool integerDateTimes)
{
    const std::optional<qint64> msecs = timestampMsecs(bytes, integerDateTimes);
    if (!msecs)
        return std::nullopt;
    // A timestamp without zone is the wall-clock time that was written: read its fields as such
    // and give them the local zone, whatever that zone's offset is today.
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(epochMsecs + *msecs, QTimeZone::utc());
    return QDateTime(wall.date(), wall.time());
}

QString OVNDatabaseAccess::localTimestampText(qint64 secondsSinceEpoch)
{
    const time_t time = time_t(secondsSinceEpoch);
    struct tm local {};
    // Years of four digits only, as Qt writes them; Qt's local time for any other.
    if (time_t(secondsSinceEpoch) != secondsSinceEpoch || !::localtime_r(&time, &local) || local.tm_year < 1 - 1900
        || local.tm_year > 9999 - 1900)
        return timestampText(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch));
    const long minutes = std::labs(local.tm_gmtoff) / 60;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02ld%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_gmtoff < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QString::fromLatin1(text);
}

QString OVNDatabaseAccess::timestampText(const QDateTime &dateTime)
{
    const int offset = dateTime.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return dateTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + QLatin1Char(offset < 0 ? '-' : '+')
           + QStringLiteral("%1%2")
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::optional<QString> OVNDatabaseAccess::numericTextFromBytes(QByteArrayView bytes)
{
    if (bytes.size() < 8)
        return std::nullopt;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const int digitCount = int16FromBytes(data);
    const int weight = int16FromBytes(data + 2);
    const quint16 sign = quint16(int16FromBytes(data + 4));
    const int scale = int16FromBytes(data + 6);
    if (sign == 0xC000)
        return QStringLiteral("NaN");
    if (sign == 0xD000)
        return QStringLiteral("Infinity");
    if (sign == 0xF000)
        return QStringLiteral("-Infinity");
    if ((sign != 0x0000 && sign != 0x4000) || digitCount < 0 || scale < 0 || scale > 16383
        || bytes.size() != 8 + 2 * qsizetype(digitCount))
        return std::nullopt;
    std::vector<int> digits(static_cast<size_t>(digitCount));
    for (int i = 0; i < digitCount; ++i) {
        digits[size_t(i)] = int16FromBytes(data + 8 + 2 * i);
        if (digits[size_t(i)] < 0 || digits[size_t(i)] > 9999)
            return std::nullopt;
    }
    const auto group = [&digits](int index) {
        return index >= 0 && index < int(digits.size()) ? digits[size_t(index)] : 0;
    };

    QString text;
    if (sign == 0x4000)
        text += QLatin1Char('-');
    if (weight < 0) {
        text += QLatin1Char('0');
    } else {
        if (weight > 4096)
            return std::nullopt;
        text += QString::number(group(0));
        for (int i = 1; i <= weight; ++i)
            text += QStringLiteral("%1").arg(group(i), 4, 10, QLatin1Char('0'));
    }
    if (scale > 0) {
        QString fraction;
        for (int i = weight + 1; fraction.size() < scale; ++i)
            fraction += QStringLiteral("%1").arg(group(i), 4, 10, QLatin1Char('0'));
        text += QLatin1Char('.') + fraction.left(scale);
    }
    return text;
}

std::optional<QVariant> OVNDatabaseAccess::postgresBinaryValue(unsigned int typeOid, QByteArrayView bytes,
                                                               bool integerDateTimes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    switch (typeOid) {
    case ByteaOid:
        return QVariant(bytes.toByteArray());
    case BoolOid:
        if (bytes.size() != 1)
            return std::nullopt;
        return QVariant(data[0] ? QStringLiteral("t") : QStringLiteral("f"));
    case Int2Oid:
    case Int4Oid:
    case Int8Oid: {
        const std::optional<qint64> value = integerObjectFromBytes(bytes);
        const qsizetype width = typeOid == Int2Oid ? 2 : typeOid == Int4Oid ? 4 : 8;
        if (!value || bytes.size() != width)
            return std::nullopt;
        return QVariant(QString::number(*value));
    }
    case OidOid:
        if (bytes.size() != 4)
            return std::nullopt;
        return QVariant(QString::number(quint32(int32FromBytes(data))));
    case Float4Oid:
        if (bytes.size() != 4)
            return std::nullopt;
        return QVariant(shortestText(float32FromBytes(data)));
    case Float8Oid:
        if (bytes.size() != 8)
            return std::nullopt;
        return QVariant(shortestText(float64FromBytes(data)));
    case NumericOid: {
        const std::optional<QString> text = numericTextFromBytes(bytes);
        if (!text)
            return std::nullopt;
        return QVariant(*text);
    }
    case DateOid: {
        if (bytes.size() != 4)
            return std::nullopt;
        const qint32 days = int32FromBytes(data);
        if (days == std::numeric_limits<qint32>::max() || days == std::numeric_limits<qint32>::min())
            return QVariant(days > 0 ? QStringLiteral("infinity") : QStringLiteral("-infinity"));
        return QVariant(QDate(2000, 1, 1).addDays(days).toString(Qt::ISODate));
    }
    case TimestampOid: {
        const std::optional<qint64> msecs = timestampMsecs(bytes, integerDateTimes);
        if (!msecs)
            return bytes.size() == 8 ? std::optional<QVariant>(QString()) : std::nullopt;
        return QVariant(wallTimeText(epochMsecs + *msecs));
    }
    case TimestampTzOid: {
        // An instant: shown in the local zone.
        const std::optional<qint64> msecs = timestampMsecs(bytes, integerDateTimes);
        if (!msecs)
            return bytes.size() == 8 ? std::optional<QVariant>(QString()) : std::nullopt;
        return QVariant(timestampText(QDateTime::fromMSecsSinceEpoch(epochMsecs + *msecs).toLocalTime()));
    }
    default:
        // text, varchar, char, name and every type without its own decoder arrive as UTF-8 text.
        return QVariant(QString::fromUtf8(bytes.data(), bytes.size()));
    }
}

QString OVNDatabaseAccess::quotedStringFromData(const QByteArray &data)
{
    QString text;
    text.reserve(data.size() + 2);
    text += QLatin1Char('\'');
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E)
            text += QStringLiteral("\\%1").arg(uint(byte), 3, 8, QLatin1Char('0'));
        else if (byte == '\'')
            text += QLatin1String("''");
        else if (byte == '\\')
            text += QLatin1String("\\\\");
        else
            text += QLatin1Char(c);
    }
    text += QLatin1Char('\'');
    return text;
}
