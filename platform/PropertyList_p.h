#pragma once

// Pieces shared by the property list readers and writers. Not part of PropertyList's public
// surface; the tests call the small parsing and formatting functions directly.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <optional>

namespace PropertyListDetail {

// What a QVariant carries, seen as a property list value.
enum class Kind {
    Unsupported,
    String,
    Data,
    Date,
    Boolean,
    Integer,         // written from toLongLong()
    UnsignedInteger, // written from toULongLong(): quint64 may exceed qint64's range
    Real,
    Array,
    Dictionary,
};

Kind kindOf(const QVariant &value);

// The elements of an Array value (QVariantList or QStringList) and the entries of a Dictionary
// value (QVariantMap or QVariantHash, the latter sorted by key for a stable output).
QVariantList arrayElements(const QVariant &value);
QVariantMap dictionaryEntries(const QVariant &value);

// Shortest locale-free text that reads back as the same double: "0.88", "1e+300", "-0";
// infinities as "+infinity" / "-infinity", NaN as "nan".
QByteArray formatReal(double value);
// Accepts what formatReal writes, an optional leading '+', and "inf"/"infinity"/"nan" in any case.
std::optional<double> parseReal(QStringView text);

// Decimal with an optional sign, or hexadecimal with "0x". Answers a qint64, or a quint64 for
// values above qint64's range; an invalid QVariant when the text is no integer or does not fit
// in 64 bits.
QVariant parseInteger(QStringView text);

// Dates as ISO 8601 in UTC, "2024-05-01T12:30:00Z", to the second. Years 1 to 9999 only; an
// empty result for a date outside them or an invalid one.
QByteArray formatDate(const QDateTime &date);
// Accepts formatDate's form, optionally with a fraction of a second before the "Z".
QDateTime parseDate(QStringView text);

// The earliest and latest instants formatDate can write.
QDateTime earliestDate();
QDateTime latestDate();

inline void setError(QString *errorMessage, const QString &message)
{
    if (errorMessage)
        *errorMessage = message;
}

} // namespace PropertyListDetail
