#include "decoding/DecoderMessage.h"

#include <QStringList>
#include <QtEndian>

#include <cstring>
#include <limits>

namespace DecoderMessage {

namespace {

class Writer
{
public:
    bool value(const QVariant &value, int depth)
    {
        if (depth > maxDepth || ++m_values > maxValues)
            return false;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            m_bytes += 'n';
            return true;
        case QMetaType::Bool:
            m_bytes += 'b';
            m_bytes += char(value.toBool() ? 1 : 0);
            return true;
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::UShort:
            m_bytes += 'i';
            number(qint32(value.toInt()));
            return true;
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            m_bytes += 'l';
            number(qint64(value.toLongLong()));
            return true;
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
                return false;
            m_bytes += 'l';
            number(qint64(value.toULongLong()));
            return true;
        case QMetaType::Float:
        case QMetaType::Double: {
            const double d = value.toDouble();
            quint64 bits = 0;
            std::memcpy(&bits, &d, sizeof bits);
            m_bytes += 'd';
            number(bits);
            return true;
        }
        case QMetaType::QString:
            m_bytes += 's';
            return text(value.toString());
        case QMetaType::QByteArray:
            m_bytes += 'y';
            return bytes(value.toByteArray());
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            const QVariantList list = value.toList();
            m_bytes += 'L';
            if (!count(list.size()))
                return false;
            for (const QVariant &item : list)
                if (!this->value(item, depth + 1))
                    return false;
            return true;
        }
        case QMetaType::QVariantMap:
            m_bytes += 'M';
            return map(value.toMap(), depth);
        default:
            return false;
        }
    }

    bool map(const QVariantMap &map, int depth)
    {
        if (!count(map.size()))
            return false;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            if (!text(it.key()) || !value(it.value(), depth + 1))
                return false;
        return true;
    }

    QByteArray m_bytes;

private:
    template <typename T>
    void number(T value)
    {
        char raw[sizeof(T)];
        qToLittleEndian(value, raw);
        m_bytes.append(raw, sizeof raw);
    }
    bool count(qsizetype n)
    {
        if (n < 0 || n > std::numeric_limits<qint32>::max())
            return false;
        number(quint32(n));
        return true;
    }
    bool text(const QString &string) { return bytes(string.toUtf8()); }
    bool bytes(const QByteArray &data)
    {
        if (!count(data.size()))
            return false;
        m_bytes += data;
        return true;
    }

    qsizetype m_values = 0;
};

// A position in a message's bytes and the steps that read it by the rules of the layout: each
// checks that what it takes lies within the bytes left.
class Cursor
{
public:
    explicit Cursor(QByteArrayView bytes) : m_at(bytes.data()), m_end(bytes.data() + bytes.size()) {}

protected:
    qsizetype left() const { return m_end - m_at; }

    template <typename T>
    std::optional<T> number()
    {
        if (left() < qsizetype(sizeof(T)))
            return std::nullopt;
        const T value = qFromLittleEndian<T>(m_at);
        m_at += sizeof(T);
        return value;
    }

    // A count of values, each of which takes `leastBytesEach` bytes at least.
    std::optional<quint32> count(qsizetype leastBytesEach)
    {
        const std::optional<quint32> n = number<quint32>();
        if (!n || qsizetype(*n) > left() / leastBytesEach || qsizetype(*n) > maxValues)
            return std::nullopt;
        return n;
    }

    // A length and that many bytes, within the bytes left.
    std::optional<QByteArrayView> view()
    {
        const std::optional<quint32> n = number<quint32>();
        if (!n || qsizetype(*n) > left())
            return std::nullopt;
        const QByteArrayView data(m_at, qsizetype(*n));
        m_at += *n;
        return data;
    }

    const char *m_at;
    const char *m_end;
    qsizetype m_values = 0;
};

class Reader : public Cursor
{
public:
    explicit Reader(const QByteArray &bytes) : Cursor(bytes) {}

    bool atEnd() const { return m_at == m_end; }

    std::optional<QVariant> value(int depth)
    {
        if (depth > maxDepth || ++m_values > maxValues || m_at >= m_end)
            return std::nullopt;
        const char tag = *m_at++;
        switch (tag) {
        case 'n':
            return QVariant();
        case 'b': {
            if (left() < 1 || uchar(*m_at) > 1)
                return std::nullopt;
            return QVariant(bool(*m_at++));
        }
        case 'i':
            if (const std::optional<qint32> n = number<qint32>())
                return QVariant(int(*n));
            return std::nullopt;
        case 'l':
            if (const std::optional<qint64> n = number<qint64>())
                return QVariant(qlonglong(*n));
            return std::nullopt;
        case 'd':
            if (const std::optional<quint64> bits = number<quint64>()) {
                double d = 0;
                std::memcpy(&d, &*bits, sizeof d);
                return QVariant(d);
            }
            return std::nullopt;
        case 's':
            if (const std::optional<QString> string = text())
                return QVariant(*string);
            return std::nullopt;
        case 'y':
            if (const std::optional<QByteArray> data = bytes())
                return QVariant(*data);
            return std::nullopt;
        case 'L': {
            // Each value takes a byte at least: a count the bytes left cannot hold is a lie.
            const std::optional<quint32> n = count(1);
            if (!n)
                return std::nullopt;
            QVariantList list;
            list.reserve(qsizetype(*n));
            for (quint32 i = 0; i < *n; ++i) {
                std::optional<QVariant> item = value(depth + 1);
                if (!item)
                    return std::nullopt;
                list.append(std::move(*item));
            }
            return QVariant(std::move(list));
        }
        case 'M':
            if (std::optional<QVariantMap> nested = map(depth))
                return QVariant(std::move(*nested));
            return std::nullopt;
        default:
            return std::nullopt;
        }
    }

    std::optional<QVariantMap> map(int depth)
    {
        // A key's length and a value's tag: five bytes at least.
        const std::optional<quint32> n = count(5);
        if (!n)
            return std::nullopt;
        QVariantMap map;
        for (quint32 i = 0; i < *n; ++i) {
            const std::optional<QString> key = text();
            if (!key)
                return std::nullopt;
            std::optional<QVariant> item = value(depth + 1);
            if (!item)
                return std::nullopt;
            map.insert(*key, std::move(*item));
        }
        return map;
    }

    bool mapTag()
    {
        if (m_at >= m_end || *m_at != 'M')
            return false;
        ++m_at;
        return true;
    }

private:
    std::optional<QByteArray> bytes()
    {
        if (const std::optional<QByteArrayView> data = view())
            return data->toByteArray();
        return std::nullopt;
    }

    std::optional<QString> text()
    {
        if (const std::optional<QByteArrayView> data = view())
            return QString::fromUtf8(*data);
        return std::nullopt;
    }
};

// Walks a message without building it: each value is checked by the same rules as Reader's and
// stepped over, but the one asked for.
class Skimmer : public Cursor
{
public:
    explicit Skimmer(QByteArrayView bytes) : Cursor(bytes) {}

    std::optional<Scalar> find(QByteArrayView wanted)
    {
        if (m_at >= m_end || *m_at++ != 'M')
            return std::nullopt;
        const std::optional<quint32> n = count(5);
        for (quint32 i = 0; n && i < *n; ++i) {
            const std::optional<QByteArrayView> key = view();
            if (!key)
                return std::nullopt;
            // Compared byte for byte here: a process that gave up Qt's libraries looks too.
            if (key->size() == wanted.size() && std::memcmp(key->data(), wanted.data(), size_t(wanted.size())) == 0)
                return scalar();
            if (!skip(1))
                return std::nullopt;
        }
        return std::nullopt;
    }

private:
    std::optional<Scalar> scalar()
    {
        if (m_at >= m_end)
            return std::nullopt;
        Scalar found;
        found.tag = *m_at++;
        switch (found.tag) {
        case 'n':
            return found;
        case 'b':
            if (left() < 1 || uchar(*m_at) > 1)
                return std::nullopt;
            found.number = *m_at++;
            return found;
        case 'i':
            if (const std::optional<qint32> n = number<qint32>()) {
                found.number = *n;
                return found;
            }
            return std::nullopt;
        case 'l':
            if (const std::optional<qint64> n = number<qint64>()) {
                found.number = *n;
                return found;
            }
            return std::nullopt;
        case 's':
        case 'y':
            if (const std::optional<QByteArrayView> data = view()) {
                found.text = *data;
                return found;
            }
            return std::nullopt;
        default:
            // A double, list or map is not a scalar this looks at.
            return std::nullopt;
        }
    }

    bool skip(int depth)
    {
        if (depth > maxDepth || ++m_values > maxValues || m_at >= m_end)
            return false;
        switch (*m_at++) {
        case 'n':
            return true;
        case 'b':
            if (left() < 1 || uchar(*m_at) > 1)
                return false;
            ++m_at;
            return true;
        case 'i':
            return number<qint32>().has_value();
        case 'l':
        case 'd':
            return number<qint64>().has_value();
        case 's':
        case 'y':
            return view().has_value();
        case 'L': {
            const std::optional<quint32> n = count(1);
            for (quint32 i = 0; n && i < *n; ++i)
                if (!skip(depth + 1))
                    return false;
            return n.has_value();
        }
        case 'M': {
            const std::optional<quint32> n = count(5);
            for (quint32 i = 0; n && i < *n; ++i)
                if (!view() || !skip(depth + 1))
                    return false;
            return n.has_value();
        }
        default:
            return false;
        }
    }
};

} // namespace

std::optional<QByteArray> write(const QVariantMap &map)
{
    Writer writer;
    writer.m_bytes += 'M';
    if (!writer.map(map, 0))
        return std::nullopt;
    return std::move(writer.m_bytes);
}

std::optional<QVariantMap> read(const QByteArray &bytes)
{
    Reader reader(bytes);
    if (!reader.mapTag())
        return std::nullopt;
    std::optional<QVariantMap> map = reader.map(0);
    if (!map || !reader.atEnd())
        return std::nullopt;
    return map;
}

std::optional<Scalar> scalar(QByteArrayView bytes, QByteArrayView key) { return Skimmer(bytes).find(key); }

} // namespace DecoderMessage
