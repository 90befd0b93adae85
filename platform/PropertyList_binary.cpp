// The binary form ("bplist00"), read only. Its bytes are taken as hostile: every offset, length
// and count is checked against the buffer before it is used, object references against the object
// count, and references back into an object's own ancestors are refused.

#include "platform/PropertyList.h"
#include "platform/PropertyList_p.h"

#include <QTimeZone>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

using namespace PropertyListDetail;

namespace {

constexpr quint64 headerSize = 8; // "bplist00"
constexpr quint64 trailerSize = 32;

class BinaryReader
{
public:
    explicit BinaryReader(const QByteArray &data)
        : m_data(reinterpret_cast<const uchar *>(data.constData())),
          m_size(quint64(data.size()))
    {
        // Shared objects may be referenced many times; bound what the references expand to, so
        // that a small file cannot ask for an exponential amount of values or text. Without
        // sharing, a file holds fewer values than bytes and at most its own size in text.
        m_valueBudget = 16384 + 16 * m_size;
        m_byteBudget = (quint64(1) << 20) + 256 * m_size;
    }

    QVariant readDocument();
    QString errorMessage() const { return m_error; }

private:
    bool fail(const QString &message);
    std::optional<quint64> readUnsigned(quint64 offset, quint64 width, quint64 limit);
    std::optional<quint64> readCount(quint64 &pos, uchar info);
    bool fits(quint64 pos, quint64 count, quint64 unitSize);
    bool spendBytes(quint64 bytes);
    std::optional<quint64> readReference(quint64 pos);
    QVariant readObject(quint64 index, int depth);
    QVariant readInteger(quint64 pos, uchar info);
    QVariant readContainer(quint64 index, quint64 pos, uchar type, uchar info, int depth);

    const uchar *m_data;
    quint64 m_size;
    quint64 m_objectsEnd = 0; // objects lie in [headerSize, m_objectsEnd)
    quint64 m_offsetTable = 0;
    quint64 m_offsetSize = 0;
    quint64 m_referenceSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_valueBudget = 0;
    quint64 m_byteBudget = 0;
    std::vector<bool> m_open; // containers being read: the ancestors of the current object
    QString m_error;
};

bool BinaryReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    return false;
}

// A big-endian unsigned number of 1 to 8 bytes at `offset`, which must end by `limit`.
std::optional<quint64> BinaryReader::readUnsigned(quint64 offset, quint64 width, quint64 limit)
{
    if (width < 1 || width > 8 || offset > limit || width > limit - offset) {
        fail(QStringLiteral("a number at offset %1 runs past its section").arg(offset));
        return std::nullopt;
    }
    quint64 value = 0;
    for (quint64 i = 0; i < width; ++i)
        value = (value << 8) | m_data[offset + i];
    return value;
}

bool BinaryReader::fits(quint64 pos, quint64 count, quint64 unitSize)
{
    if (pos > m_objectsEnd || count > (m_objectsEnd - pos) / unitSize)
        return fail(QStringLiteral("an object at offset %1 claims %2 elements, more than the file "
                                   "holds")
                        .arg(pos)
                        .arg(count));
    return true;
}

bool BinaryReader::spendBytes(quint64 bytes)
{
    if (bytes > m_byteBudget)
        return fail(QStringLiteral("the shared strings and data expand beyond any sensible size"));
    m_byteBudget -= bytes;
    return true;
}

// The element count in an object's marker, or in the integer object after it when the marker's
// low nibble is 0xF. Moves `pos` past that integer.
std::optional<quint64> BinaryReader::readCount(quint64 &pos, uchar info)
{
    if (info != 0x0f)
        return info;
    if (pos >= m_objectsEnd) {
        fail(QStringLiteral("an object's count runs past the objects"));
        return std::nullopt;
    }
    const uchar marker = m_data[pos];
    if ((marker >> 4) != 0x1 || (marker & 0x0f) > 3) {
        fail(QStringLiteral("an object's count is not an integer of up to 8 bytes"));
        return std::nullopt;
    }
    const quint64 width = quint64(1) << (marker & 0x0f);
    const std::optional<quint64> count = readUnsigned(pos + 1, width, m_objectsEnd);
    if (count)
        pos += 1 + width;
    return count;
}

std::optional<quint64> BinaryReader::readReference(quint64 pos)
{
    const std::optional<quint64> index = readUnsigned(pos, m_referenceSize, m_objectsEnd);
    if (index && *index >= m_objectCount) {
        fail(QStringLiteral("a reference to object %1 of %2").arg(*index).arg(m_objectCount));
        return std::nullopt;
    }
    return index;
}

QVariant BinaryReader::readInteger(quint64 pos, uchar info)
{
    if (info > 4) {
        fail(QStringLiteral("an integer of %1 bytes").arg(quint64(1) << info));
        return {};
    }
    const quint64 width = quint64(1) << info;
    if (width == 16) {
        // 128-bit: kept when it fits in 64 bits, as a signed or an unsigned value.
        const std::optional<quint64> high = readUnsigned(pos, 8, m_objectsEnd);
        const std::optional<quint64> low = readUnsigned(pos + 8, 8, m_objectsEnd);
        if (!high || !low)
            return {};
        if (*high == 0) {
            if (*low > quint64(std::numeric_limits<qint64>::max()))
                return QVariant::fromValue(quint64(*low));
            return QVariant::fromValue(qint64(*low));
        }
        if (*high == ~quint64(0) && (*low >> 63) != 0)
            return QVariant::fromValue(qint64(*low));
        fail(QStringLiteral("an integer beyond 64 bits"));
        return {};
    }
    const std::optional<quint64> value = readUnsigned(pos, width, m_objectsEnd);
    if (!value)
        return {};
    // 1, 2 and 4 bytes are unsigned; 8 bytes are signed.
    return QVariant::fromValue(qint64(*value));
}

QVariant BinaryReader::readContainer(quint64 index, quint64 pos, uchar type, uchar info, int depth)
{
    if (depth + 1 > PropertyList::maximumDepth) {
        fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        return {};
    }
    if (m_open[index]) {
        fail(QStringLiteral("object %1 contains itself").arg(index));
        return {};
    }
    const std::optional<quint64> count = readCount(pos, info);
    if (!count)
        return {};
    const bool dictionary = type == 0xd;
    if (!fits(pos, *count, (dictionary ? 2 : 1) * m_referenceSize))
        return {};

    m_open[index] = true;
    QVariant result;
    if (dictionary) {
        QVariantMap map;
        const quint64 valuesStart = pos + *count * m_referenceSize;
        for (quint64 i = 0; i < *count; ++i) {
            const std::optional<quint64> keyIndex = readReference(pos + i * m_referenceSize);
            const std::optional<quint64> valueIndex = keyIndex ? readReference(valuesStart + i * m_referenceSize)
                                                               : std::nullopt;
            if (!valueIndex)
                break;
            const QVariant key = readObject(*keyIndex, depth + 1);
            if (!key.isValid())
                break;
            if (key.typeId() != QMetaType::QString) {
                fail(QStringLiteral("a dictionary key that is not a string (object %1)").arg(*keyIndex));
                break;
            }
            QVariant value = readObject(*valueIndex, depth + 1);
            if (!value.isValid())
                break;
            map.insert(key.toString(), std::move(value));
        }
        if (m_error.isEmpty())
            result = map;
    } else {
        // Arrays and sets; a set comes back as an array.
        QVariantList list;
        list.reserve(qsizetype(*count));
        for (quint64 i = 0; i < *count; ++i) {
            const std::optional<quint64> elementIndex = readReference(pos + i * m_referenceSize);
            if (!elementIndex)
                break;
            QVariant element = readObject(*elementIndex, depth + 1);
            if (!element.isValid())
                break;
            list.append(std::move(element));
        }
        if (m_error.isEmpty())
            result = list;
    }
    m_open[index] = false;
    return result;
}

QVariant BinaryReader::readObject(quint64 index, int depth)
{
    if (m_valueBudget == 0) {
        fail(QStringLiteral("the shared objects expand to too many values"));
        return {};
    }
    --m_valueBudget;
    const std::optional<quint64> offset =
        readUnsigned(m_offsetTable + index * m_offsetSize, m_offsetSize, m_size - trailerSize);
    if (!offset)
        return {};
    if (*offset < headerSize || *offset >= m_objectsEnd) {
        fail(QStringLiteral("object %1 lies outside the objects (offset %2)").arg(index).arg(*offset));
        return {};
    }
    const uchar marker = m_data[*offset];
    const uchar type = marker >> 4;
    const uchar info = marker & 0x0f;
    quint64 pos = *offset + 1;

    switch (type) {
    case 0x0:
        if (marker == 0x08)
            return false;
        if (marker == 0x09)
            return true;
        fail(QStringLiteral("object %1 is a null or fill marker, not a value").arg(index));
        return {};
    case 0x1:
        return readInteger(pos, info);
    case 0x2:
    case 0x3: {
        // A real of 4 or 8 bytes; a date is an 8-byte real, seconds since 2001-01-01 UTC.
        if ((type == 0x2 && info != 2 && info != 3) || (type == 0x3 && info != 3)) {
            fail(QStringLiteral("object %1 has a real of unsupported size").arg(index));
            return {};
        }
        const std::optional<quint64> bits = readUnsigned(pos, quint64(1) << info, m_objectsEnd);
        if (!bits)
            return {};
        double value;
        if (info == 2) {
            const quint32 bits32 = quint32(*bits);
            float f;
            std::memcpy(&f, &bits32, sizeof f);
            value = f;
        } else {
            std::memcpy(&value, &*bits, sizeof value);
        }
        if (type == 0x2)
            return value;
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        const double earliest = double(reference.secsTo(earliestDate()));
        const double latest = double(reference.secsTo(latestDate()));
        if (!(value >= earliest && value <= latest)) { // also refuses NaN
            fail(QStringLiteral("object %1 is a date outside the years 1 to 9999").arg(index));
            return {};
        }
        return reference.addMSecs(qint64(std::floor(value * 1000.0)));
    }
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7: {
        // Data, ASCII string, UTF-16BE string (count in code units), UTF-8 string.
        const std::optional<quint64> count = readCount(pos, info);
        if (!count)
            return {};
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (!fits(pos, *count, unit) || !spendBytes(*count * unit))
            return {};
        const char *bytes = reinterpret_cast<const char *>(m_data + pos);
        const qsizetype length = qsizetype(*count);
        switch (type) {
        case 0x4:
            return QByteArray(bytes, length);
        case 0x5:
            return QString::fromLatin1(bytes, length);
        case 0x7:
            return QString::fromUtf8(bytes, length);
        default: {
            QString text(length, Qt::Uninitialized);
            for (qsizetype i = 0; i < length; ++i)
                text[i] = QChar(qFromBigEndian<quint16>(m_data + pos + 2 * quint64(i)));
            return text;
        }
        }
    }
    case 0x8: {
        // A UID, of 1 to 8 bytes, read as an integer.
        if (info > 7) {
            fail(QStringLiteral("object %1 has a UID of more than 8 bytes").arg(index));
            return {};
        }
        const std::optional<quint64> value = readUnsigned(pos, quint64(info) + 1, m_objectsEnd);
        if (!value)
            return {};
        if (*value > quint64(std::numeric_limits<qint64>::max()))
            return QVariant::fromValue(quint64(*value));
        return QVariant::fromValue(qint64(*value));
    }
    case 0xa:
    case 0xc:
    case 0xd:
        return readContainer(index, pos, type, info, depth);
    default:
        fail(QStringLiteral("object %1 has the unknown marker 0x%2")
                 .arg(index)
                 .arg(uint(marker), 2, 16, QLatin1Char('0')));
        return {};
    }
}

QVariant BinaryReader::readDocument()
{
    if (m_size < headerSize + 1 + 1 + trailerSize) {
        fail(QStringLiteral("the binary property list is truncated"));
        return {};
    }
    if (std::memcmp(m_data, "bplist00", headerSize) != 0) {
        fail(QStringLiteral("unsupported binary property list version"));
        return {};
    }
    const quint64 trailer = m_size - trailerSize;
    m_offsetSize = m_data[trailer + 6];
    m_referenceSize = m_data[trailer + 7];
    m_objectCount = *readUnsigned(trailer + 8, 8, m_size);
    const quint64 topObject = *readUnsigned(trailer + 16, 8, m_size);
    m_offsetTable = *readUnsigned(trailer + 24, 8, m_size);
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_referenceSize < 1 || m_referenceSize > 8) {
        fail(QStringLiteral("the trailer gives offsets or references of %1 and %2 bytes")
                 .arg(m_offsetSize)
                 .arg(m_referenceSize));
        return {};
    }
    if (m_objectCount == 0 || topObject >= m_objectCount) {
        fail(QStringLiteral("the top object %1 is not among the %2 objects").arg(topObject).arg(m_objectCount));
        return {};
    }
    if (m_offsetTable <= headerSize || m_offsetTable > trailer
        || m_objectCount > (trailer - m_offsetTable) / m_offsetSize) {
        fail(QStringLiteral("the offset table does not fit in the file"));
        return {};
    }
    m_objectsEnd = m_offsetTable;
    m_open.assign(m_objectCount, false); // no more entries than the offset table's bytes
    return readObject(topObject, 0);
}

} // namespace

QVariant PropertyList::readBinary(const QByteArray &data, QString *errorMessage)
{
    BinaryReader reader(data);
    QVariant value = reader.readDocument();
    if (!value.isValid()) {
        const QString message = reader.errorMessage();
        setError(errorMessage, message.isEmpty() ? QStringLiteral("the binary property list is malformed") : message);
        return {};
    }
    return value;
}
