// Feeds arbitrary bytes to PropertyList::read. Whatever it accepts must also survive the XML
// writer and read back as the same value.

#include "platform/PropertyList.h"
#include "platform/PropertyList_p.h"

#include <QDateTime>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Equality as the XML form can keep it: dates to the second, NaN equal to NaN.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!sameValue(x[i], y[i]))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it) {
            if (!sameValue(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    case QMetaType::QDateTime: {
        const qint64 x = a.toDateTime().toMSecsSinceEpoch(), y = b.toDateTime().toMSecsSinceEpoch();
        return x - ((x % 1000) + 1000) % 1000 == y; // written to the second, rounded down
    }
    case QMetaType::Double:
        if (std::isnan(a.toDouble()))
            return std::isnan(b.toDouble());
        return a.toDouble() == b.toDouble() && std::signbit(a.toDouble()) == std::signbit(b.toDouble());
    default:
        return a == b;
    }
}

// The value as the text form gives it back: numbers, booleans and dates become their text.
QVariant asOpenStepText(const QVariant &value)
{
    using namespace PropertyListDetail;
    switch (kindOf(value)) {
    case Kind::Array: {
        QVariantList list;
        for (const QVariant &element : arrayElements(value))
            list.append(asOpenStepText(element));
        return list;
    }
    case Kind::Dictionary: {
        QVariantMap map;
        const QVariantMap entries = dictionaryEntries(value);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            map.insert(it.key(), asOpenStepText(it.value()));
        return map;
    }
    case Kind::Boolean:
        return value.toBool() ? QStringLiteral("YES") : QStringLiteral("NO");
    case Kind::Integer:
        return QString::number(value.toLongLong());
    case Kind::UnsignedInteger:
        return QString::number(value.toULongLong());
    case Kind::Real:
        return QString::fromLatin1(formatReal(value.toDouble()));
    case Kind::Date:
        return QString::fromLatin1(formatDate(value.toDateTime()));
    default:
        return value;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const QVariant value = PropertyList::read(input, &error);
    if (!value.isValid()) {
        if (error.isEmpty()) {
            std::fprintf(stderr, "invalid value without an error message\n");
            std::abort();
        }
        return 0;
    }
    // The text form takes every value, with numbers, booleans and dates as their text.
    const QByteArray text = PropertyList::writeOpenStep(value, &error);
    if (text.isEmpty() || PropertyList::readOpenStep(text, &error) != asOpenStepText(value)) {
        std::fprintf(stderr, "text form round trip changed the value: %s\n%s\n", qPrintable(error), text.constData());
        std::abort();
    }
    // Strings with characters XML cannot carry are refused by the writer, with a message.
    const QByteArray xml = PropertyList::writeXml(value, &error);
    if (xml.isEmpty())
        return 0;
    const QVariant back = PropertyList::readXml(xml, &error);
    if (!sameValue(value, back)) {
        std::fprintf(stderr, "XML round trip changed the value: %s\n%s\n", qPrintable(error), xml.constData());
        std::abort();
    }
    return 0;
}
