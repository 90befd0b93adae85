// The old text form: "quoted strings", bare words, <hex data>, ( arrays, ) and { key = value; }.
// It has only strings, data, arrays and dictionaries; everything else is written as text.

#include "platform/PropertyList.h"
#include "platform/PropertyList_p.h"

#include <QStringDecoder>

#include <optional>

using namespace PropertyListDetail;

namespace {

// Characters of a string written without quotes.
bool isWordCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '$'
           || u == '+' || u == '/' || u == ':' || u == '.' || u == '-';
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

class OpenStepReader
{
public:
    explicit OpenStepReader(QString text) : m_text(std::move(text)) {}

    QVariant readDocument();
    QString errorMessage() const { return m_error; }

private:
    bool fail(const QString &message);
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar current() const { return m_text.at(m_pos); }
    bool skipSpace();
    QVariant readValue(int depth);
    std::optional<QString> readString();
    std::optional<QString> readQuoted();
    QVariant readData();
    QVariant readArray(int depth);
    QVariant readDictionary(int depth);

    QString m_text;
    qsizetype m_pos = 0;
    QString m_error;
};

bool OpenStepReader::fail(const QString &message)
{
    if (m_error.isEmpty()) {
        const qsizetype line = QStringView(m_text).left(m_pos).count(QLatin1Char('\n')) + 1;
        m_error = QStringLiteral("line %1: %2").arg(line).arg(message);
    }
    return false;
}

// Skips white space and comments; false for a comment that never ends.
bool OpenStepReader::skipSpace()
{
    while (!atEnd()) {
        const QChar c = current();
        if (c.isSpace()) {
            ++m_pos;
        } else if (c == QLatin1Char('/') && m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == QLatin1Char('/')) {
            const qsizetype end = m_text.indexOf(QLatin1Char('\n'), m_pos);
            m_pos = end < 0 ? m_text.size() : end + 1;
        } else if (c == QLatin1Char('/') && m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == QLatin1Char('*')) {
            const qsizetype end = m_text.indexOf(QLatin1String("*/"), m_pos + 2);
            if (end < 0)
                return fail(QStringLiteral("comment without an end"));
            m_pos = end + 2;
        } else {
            break;
        }
    }
    return true;
}

std::optional<QString> OpenStepReader::readQuoted()
{
    const QChar quote = current();
    const qsizetype start = m_pos++;
    QString text;
    while (!atEnd()) {
        const QChar c = m_text.at(m_pos++);
        if (c == quote)
            return text;
        if (c != QLatin1Char('\\')) {
            text += c;
            continue;
        }
        if (atEnd())
            break;
        const QChar e = m_text.at(m_pos++);
        switch (e.unicode()) {
        case 'a':
            text += QChar(0x07);
            break;
        case 'b':
            text += QChar(0x08);
            break;
        case 'f':
            text += QChar(0x0c);
            break;
        case 'n':
            text += QChar(0x0a);
            break;
        case 'r':
            text += QChar(0x0d);
            break;
        case 't':
            text += QChar(0x09);
            break;
        case 'v':
            text += QChar(0x0b);
            break;
        case 'U': {
            // Up to four hexadecimal digits: one UTF-16 code unit.
            char16_t unit = 0;
            int digits = 0;
            for (; digits < 4 && !atEnd() && hexValue(current()) >= 0; ++digits)
                unit = char16_t(unit * 16 + hexValue(m_text.at(m_pos++)));
            if (digits == 0) {
                fail(QStringLiteral("\\U without hexadecimal digits"));
                return std::nullopt;
            }
            text += QChar(unit);
            break;
        }
        default:
            if (e >= QLatin1Char('0') && e <= QLatin1Char('7')) {
                // Up to three octal digits; values above 127 are taken as Latin-1.
                int value = e.unicode() - '0';
                for (int digits = 1;
                     digits < 3 && !atEnd() && current() >= QLatin1Char('0') && current() <= QLatin1Char('7'); ++digits)
                    value = value * 8 + (m_text.at(m_pos++).unicode() - '0');
                text += QChar(char16_t(value));
            } else {
                text += e; // \\, \", \' and any other character stand for themselves
            }
        }
    }
    m_pos = start;
    fail(QStringLiteral("string without its closing quote"));
    return std::nullopt;
}

std::optional<QString> OpenStepReader::readString()
{
    if (atEnd()) {
        fail(QStringLiteral("unexpected end of document"));
        return std::nullopt;
    }
    if (current() == QLatin1Char('"') || current() == QLatin1Char('\''))
        return readQuoted();
    const qsizetype start = m_pos;
    while (!atEnd() && isWordCharacter(current()))
        ++m_pos;
    if (m_pos == start) {
        fail(QStringLiteral("unexpected character '%1'").arg(current()));
        return std::nullopt;
    }
    return m_text.mid(start, m_pos - start);
}

QVariant OpenStepReader::readData()
{
    ++m_pos; // '<'
    QByteArray data;
    int high = -1;
    while (!atEnd()) {
        const QChar c = m_text.at(m_pos++);
        if (c == QLatin1Char('>')) {
            if (high >= 0) {
                fail(QStringLiteral("data with an odd number of hexadecimal digits"));
                return {};
            }
            return data;
        }
        if (c.isSpace())
            continue;
        const int value = hexValue(c);
        if (value < 0) {
            fail(QStringLiteral("'%1' in hexadecimal data").arg(c));
            return {};
        }
        if (high < 0) {
            high = value;
        } else {
            data.append(char(high * 16 + value));
            high = -1;
        }
    }
    fail(QStringLiteral("data without its closing '>'"));
    return {};
}

QVariant OpenStepReader::readArray(int depth)
{
    if (depth > PropertyList::maximumDepth) {
        fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        return {};
    }
    ++m_pos; // '('
    QVariantList list;
    for (;;) {
        if (!skipSpace())
            return {};
        if (!atEnd() && current() == QLatin1Char(')')) {
            ++m_pos;
            return list; // also after a trailing comma
        }
        QVariant value = readValue(depth);
        if (!value.isValid())
            return {};
        list.append(std::move(value));
        if (!skipSpace())
            return {};
        if (atEnd()) {
            fail(QStringLiteral("array without its closing ')'"));
            return {};
        }
        if (current() == QLatin1Char(',')) {
            ++m_pos;
        } else if (current() != QLatin1Char(')')) {
            fail(QStringLiteral("expected ',' or ')' in an array, found '%1'").arg(current()));
            return {};
        }
    }
}

QVariant OpenStepReader::readDictionary(int depth)
{
    if (depth > PropertyList::maximumDepth) {
        fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        return {};
    }
    ++m_pos; // '{'
    QVariantMap map;
    for (;;) {
        if (!skipSpace())
            return {};
        if (!atEnd() && current() == QLatin1Char('}')) {
            ++m_pos;
            return map;
        }
        const std::optional<QString> key = readString();
        if (!key)
            return {};
        if (!skipSpace())
            return {};
        if (atEnd() || current() != QLatin1Char('=')) {
            fail(QStringLiteral("expected '=' after the key \"%1\"").arg(key->left(40)));
            return {};
        }
        ++m_pos;
        if (!skipSpace())
            return {};
        QVariant value = readValue(depth);
        if (!value.isValid())
            return {};
        map.insert(*key, std::move(value));
        if (!skipSpace())
            return {};
        if (atEnd()) {
            fail(QStringLiteral("dictionary without its closing '}'"));
            return {};
        }
        // The ';' after the last entry may be left out.
        if (current() == QLatin1Char(';')) {
            ++m_pos;
        } else if (current() != QLatin1Char('}')) {
            fail(QStringLiteral("expected ';' after the value of \"%1\"").arg(key->left(40)));
            return {};
        }
    }
}

QVariant OpenStepReader::readValue(int depth)
{
    if (atEnd()) {
        fail(QStringLiteral("unexpected end of document"));
        return {};
    }
    switch (current().unicode()) {
    case '{':
        return readDictionary(depth + 1);
    case '(':
        return readArray(depth + 1);
    case '<':
        return readData();
    default: {
        std::optional<QString> text = readString();
        if (!text)
            return {};
        return *text;
    }
    }
}

QVariant OpenStepReader::readDocument()
{
    if (!skipSpace())
        return {};
    if (atEnd()) {
        fail(QStringLiteral("the document is empty"));
        return {};
    }
    QVariant value = readValue(0);
    if (!value.isValid() || !skipSpace())
        return {};
    if (!atEnd()) {
        fail(QStringLiteral("unexpected '%1' after the value").arg(current()));
        return {};
    }
    return value;
}

// The document as text: UTF-16 when it starts with a byte order mark, UTF-8 otherwise.
std::optional<QString> decodeText(const QByteArray &data)
{
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    qsizetype skip = 0;
    if (data.startsWith("\xfe\xff")) {
        encoding = QStringConverter::Utf16BE;
        skip = 2;
    } else if (data.startsWith("\xff\xfe")) {
        encoding = QStringConverter::Utf16LE;
        skip = 2;
    } else if (data.startsWith("\xef\xbb\xbf")) {
        skip = 3;
    }
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(data).sliced(skip));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

class OpenStepWriter
{
public:
    bool writeDocument(const QVariant &value);
    QByteArray output() const { return m_out; }
    QString errorMessage() const { return m_error; }

private:
    bool fail(const QString &message);
    void writeIndent(int level) { m_out.append(QByteArray(level, '\t')); }
    void writeString(const QString &text);
    bool writeValue(const QVariant &value, int depth);

    QByteArray m_out;
    QString m_error;
};

bool OpenStepWriter::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    return false;
}

void OpenStepWriter::writeString(const QString &text)
{
    // Words go out bare, except those a reader could take for the start of a comment.
    bool bare = !text.isEmpty() && !text.contains(QLatin1String("//")) && !text.contains(QLatin1String("/*"));
    for (qsizetype i = 0; bare && i < text.size(); ++i)
        bare = isWordCharacter(text.at(i));
    if (bare) {
        m_out.append(text.toLatin1());
        return;
    }
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case '"':
            quoted += QLatin1String("\\\"");
            continue;
        case '\\':
            quoted += QLatin1String("\\\\");
            continue;
        case 0x07:
            quoted += QLatin1String("\\a");
            continue;
        case 0x08:
            quoted += QLatin1String("\\b");
            continue;
        case 0x09:
            quoted += QLatin1String("\\t");
            continue;
        case 0x0a:
            quoted += QLatin1String("\\n");
            continue;
        case 0x0b:
            quoted += QLatin1String("\\v");
            continue;
        case 0x0c:
            quoted += QLatin1String("\\f");
            continue;
        case 0x0d:
            quoted += QLatin1String("\\r");
            continue;
        default:
            break;
        }
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            quoted += c;
            quoted += text.at(++i);
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate()) {
            // Control characters, and halves of a pair UTF-8 could not carry.
            quoted += QStringLiteral("\\U%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
        } else {
            quoted += c;
        }
    }
    quoted += QLatin1Char('"');
    m_out.append(quoted.toUtf8());
}

bool OpenStepWriter::writeValue(const QVariant &value, int depth)
{
    switch (kindOf(value)) {
    case Kind::String:
        writeString(value.toString());
        return true;
    case Kind::Boolean:
        m_out.append(value.toBool() ? "YES" : "NO");
        return true;
    case Kind::Integer:
        m_out.append(QByteArray::number(value.toLongLong()));
        return true;
    case Kind::UnsignedInteger:
        m_out.append(QByteArray::number(value.toULongLong()));
        return true;
    case Kind::Real:
        m_out.append(formatReal(value.toDouble()));
        return true;
    case Kind::Date: {
        const QByteArray text = formatDate(value.toDateTime());
        if (text.isEmpty())
            return fail(QStringLiteral("a date outside the years 1 to 9999 cannot be written"));
        m_out.append(text);
        return true;
    }
    case Kind::Data: {
        const QByteArray hex = value.toByteArray().toHex();
        m_out.append('<');
        for (qsizetype i = 0; i < hex.size(); i += 8) {
            if (i > 0)
                m_out.append(' ');
            m_out.append(hex.mid(i, 8));
        }
        m_out.append('>');
        return true;
    }
    case Kind::Array: {
        if (depth + 1 > PropertyList::maximumDepth)
            return fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        const QVariantList list = arrayElements(value);
        if (list.isEmpty()) {
            m_out.append("()");
            return true;
        }
        m_out.append("(\n");
        for (qsizetype i = 0; i < list.size(); ++i) {
            writeIndent(depth + 1);
            if (!writeValue(list.at(i), depth + 1))
                return false;
            m_out.append(i + 1 < list.size() ? ",\n" : "\n");
        }
        writeIndent(depth);
        m_out.append(')');
        return true;
    }
    case Kind::Dictionary: {
        if (depth + 1 > PropertyList::maximumDepth)
            return fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        const QVariantMap map = dictionaryEntries(value);
        if (map.isEmpty()) {
            m_out.append("{}");
            return true;
        }
        m_out.append("{\n");
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            writeIndent(depth + 1);
            writeString(it.key());
            m_out.append(" = ");
            if (!writeValue(it.value(), depth + 1))
                return false;
            m_out.append(";\n");
        }
        writeIndent(depth);
        m_out.append('}');
        return true;
    }
    case Kind::Unsupported:
        break;
    }
    return fail(QStringLiteral("a value of type %1 cannot be written to a property list")
                    .arg(QString::fromLatin1(value.isValid() ? value.typeName() : "(invalid)")));
}

bool OpenStepWriter::writeDocument(const QVariant &value)
{
    if (!writeValue(value, 0))
        return false;
    m_out.append('\n');
    return true;
}

} // namespace

QVariant PropertyList::readOpenStep(const QByteArray &data, QString *errorMessage)
{
    std::optional<QString> text = decodeText(data);
    if (!text) {
        setError(errorMessage, QStringLiteral("the document is not valid UTF-8 or UTF-16"));
        return {};
    }
    OpenStepReader reader(std::move(*text));
    QVariant value = reader.readDocument();
    if (!value.isValid())
        setError(errorMessage, reader.errorMessage());
    return value;
}

QByteArray PropertyList::writeOpenStep(const QVariant &value, QString *errorMessage)
{
    OpenStepWriter writer;
    if (!writer.writeDocument(value)) {
        setError(errorMessage, writer.errorMessage());
        return {};
    }
    return writer.output();
}
