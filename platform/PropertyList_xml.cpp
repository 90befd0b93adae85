// The XML form: <plist version="1.0"> holding one value, on QXmlStreamReader / QXmlStreamWriter.

#include "platform/PropertyList.h"
#include "platform/PropertyList_p.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <optional>

using namespace PropertyListDetail;

namespace {

class XmlReader
{
public:
    explicit XmlReader(const QByteArray &data) : m_xml(data) {}

    QVariant readDocument();
    QString errorMessage() const { return m_error; }

private:
    bool fail(const QString &message);
    bool checkDtd();
    bool nextMarkupToken();
    std::optional<QString> readText();
    QVariant readValue(int depth);
    QVariant readArray(int depth);
    QVariant readDictionary(int depth);

    QXmlStreamReader m_xml;
    QString m_error;
};

bool XmlReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(message);
    return false;
}

// Entities that name a file or a URL are refused outright: QXmlStreamReader never loads them and
// silently drops their references, which would hand back a value that differs from the document.
bool XmlReader::checkDtd()
{
    const QXmlStreamEntityDeclarations entities = m_xml.entityDeclarations();
    for (const QXmlStreamEntityDeclaration &entity : entities) {
        if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty())
            return fail(QStringLiteral("external entity '%1' is not allowed").arg(entity.name().toString()));
    }
    return true;
}

// Moves to the next start or end element, skipping comments, processing instructions and blank
// text between elements. Anything else there is an error.
bool XmlReader::nextMarkupToken()
{
    for (;;) {
        switch (m_xml.readNext()) {
        case QXmlStreamReader::StartElement:
        case QXmlStreamReader::EndElement:
            return true;
        case QXmlStreamReader::Characters:
            if (!m_xml.isWhitespace())
                return fail(QStringLiteral("unexpected text \"%1\"").arg(m_xml.text().left(40).toString()));
            break;
        case QXmlStreamReader::EntityReference:
            return fail(QStringLiteral("entity '%1' is not declared").arg(m_xml.name().toString()));
        case QXmlStreamReader::DTD:
            if (!checkDtd())
                return false;
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::StartDocument:
            break;
        case QXmlStreamReader::EndDocument:
            return fail(QStringLiteral("unexpected end of document"));
        case QXmlStreamReader::Invalid:
            return fail(m_xml.errorString());
        case QXmlStreamReader::NoToken:
            return fail(QStringLiteral("no document"));
        }
    }
}

// The text of a leaf element, up to its end tag; an element inside it is an error.
std::optional<QString> XmlReader::readText()
{
    const QString element = m_xml.name().toString();
    QString text;
    for (;;) {
        switch (m_xml.readNext()) {
        case QXmlStreamReader::Characters:
            text += m_xml.text();
            break;
        case QXmlStreamReader::EndElement:
            return text;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::StartElement:
            fail(QStringLiteral("unexpected <%1> inside <%2>").arg(m_xml.name().toString(), element));
            return std::nullopt;
        case QXmlStreamReader::EntityReference:
            fail(QStringLiteral("entity '%1' is not declared").arg(m_xml.name().toString()));
            return std::nullopt;
        case QXmlStreamReader::Invalid:
            fail(m_xml.errorString());
            return std::nullopt;
        default:
            fail(QStringLiteral("unexpected end of document"));
            return std::nullopt;
        }
    }
}

// Reads the value whose start element is the current token, through its end element.
QVariant XmlReader::readValue(int depth)
{
    const QStringView name = m_xml.name();
    if (name == QLatin1String("dict"))
        return readDictionary(depth + 1);
    if (name == QLatin1String("array"))
        return readArray(depth + 1);

    const QString element = name.toString();
    const std::optional<QString> text = readText();
    if (!text)
        return {};
    if (element == QLatin1String("string"))
        return *text;
    if (element == QLatin1String("true") || element == QLatin1String("false")) {
        if (!text->trimmed().isEmpty()) {
            fail(QStringLiteral("<%1/> holds text").arg(element));
            return {};
        }
        return element == QLatin1String("true");
    }
    if (element == QLatin1String("integer")) {
        const QVariant value = parseInteger(*text);
        if (!value.isValid())
            fail(QStringLiteral("\"%1\" is not a 64-bit integer").arg(text->left(40)));
        return value;
    }
    if (element == QLatin1String("real")) {
        const std::optional<double> value = parseReal(*text);
        if (!value) {
            fail(QStringLiteral("\"%1\" is not a real number").arg(text->left(40)));
            return {};
        }
        return *value;
    }
    if (element == QLatin1String("date")) {
        const QDateTime value = parseDate(*text);
        if (!value.isValid()) {
            fail(QStringLiteral("\"%1\" is not a date").arg(text->left(40)));
            return {};
        }
        return value;
    }
    if (element == QLatin1String("data")) {
        QByteArray base64 = text->toLatin1();
        base64.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
        // Non-Latin-1 characters became '?', which the strict decoder refuses as well.
        const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            fail(QStringLiteral("<data> is not valid base64"));
            return {};
        }
        return decoded.decoded;
    }
    fail(QStringLiteral("unknown element <%1>").arg(element));
    return {};
}

QVariant XmlReader::readArray(int depth)
{
    if (depth > PropertyList::maximumDepth) {
        fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        return {};
    }
    QVariantList list;
    for (;;) {
        if (!nextMarkupToken())
            return {};
        if (m_xml.isEndElement())
            return list;
        QVariant value = readValue(depth);
        if (!value.isValid())
            return {};
        list.append(std::move(value));
    }
}

QVariant XmlReader::readDictionary(int depth)
{
    if (depth > PropertyList::maximumDepth) {
        fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        return {};
    }
    QVariantMap map;
    for (;;) {
        if (!nextMarkupToken())
            return {};
        if (m_xml.isEndElement())
            return map;
        if (m_xml.name() != QLatin1String("key")) {
            fail(QStringLiteral("<%1> where a <key> belongs").arg(m_xml.name().toString()));
            return {};
        }
        const std::optional<QString> key = readText();
        if (!key)
            return {};
        if (!nextMarkupToken())
            return {};
        if (m_xml.isEndElement()) {
            fail(QStringLiteral("key \"%1\" has no value").arg(key->left(40)));
            return {};
        }
        QVariant value = readValue(depth);
        if (!value.isValid())
            return {};
        map.insert(*key, std::move(value));
    }
}

QVariant XmlReader::readDocument()
{
    if (!nextMarkupToken())
        return {};
    if (m_xml.name() != QLatin1String("plist")) {
        fail(QStringLiteral("the document is not a property list"));
        return {};
    }
    if (!nextMarkupToken())
        return {};
    if (m_xml.isEndElement()) {
        fail(QStringLiteral("<plist> holds no value"));
        return {};
    }
    QVariant value = readValue(0);
    if (!value.isValid())
        return {};
    if (!nextMarkupToken())
        return {};
    if (!m_xml.isEndElement()) {
        fail(QStringLiteral("<plist> holds more than one value"));
        return {};
    }
    // Whatever follows the root element must be well-formed too.
    while (!m_xml.atEnd()) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token == QXmlStreamReader::Invalid) {
            fail(m_xml.errorString());
            return {};
        }
        if (token == QXmlStreamReader::Characters && !m_xml.isWhitespace()) {
            fail(QStringLiteral("text after </plist>"));
            return {};
        }
    }
    return value;
}

class XmlWriter
{
public:
    explicit XmlWriter(QByteArray *output) : m_xml(output)
    {
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(-1); // one tab per level
    }

    bool writeDocument(const QVariant &value);
    QString errorMessage() const { return m_error; }

private:
    bool fail(const QString &message);
    bool writeText(const QString &element, const QString &text);
    bool writeValue(const QVariant &value, int depth);

    QXmlStreamWriter m_xml;
    QString m_error;
};

bool XmlWriter::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    return false;
}

// Characters XML 1.0 cannot carry at all, not even as a character reference.
static bool isXmlCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

bool XmlWriter::writeText(const QString &element, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        char32_t c = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            c = QChar::surrogateToUcs4(unit, text.at(++i));
        else if (unit.isSurrogate())
            c = 0xFFFF; // a lone half of a pair cannot be encoded either
        if (!isXmlCharacter(c))
            return fail(QStringLiteral("character U+%1 cannot be written in XML")
                            .arg(uint(unit.unicode()), 4, 16, QLatin1Char('0')));
    }
    m_xml.writeStartElement(element);
    // A literal carriage return would come back as a line feed: XML normalises line ends.
    qsizetype from = 0;
    for (qsizetype cr = text.indexOf(QLatin1Char('\r')); cr >= 0; cr = text.indexOf(QLatin1Char('\r'), from)) {
        if (cr > from)
            m_xml.writeCharacters(text.mid(from, cr - from));
        m_xml.writeEntityReference(QStringLiteral("#13"));
        from = cr + 1;
    }
    if (from < text.size() || text.isEmpty())
        m_xml.writeCharacters(text.mid(from));
    m_xml.writeEndElement();
    return true;
}

bool XmlWriter::writeValue(const QVariant &value, int depth)
{
    switch (kindOf(value)) {
    case Kind::String:
        return writeText(QStringLiteral("string"), value.toString());
    case Kind::Boolean:
        m_xml.writeEmptyElement(value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        return true;
    case Kind::Integer:
        m_xml.writeTextElement(QStringLiteral("integer"), QString::number(value.toLongLong()));
        return true;
    case Kind::UnsignedInteger:
        m_xml.writeTextElement(QStringLiteral("integer"), QString::number(value.toULongLong()));
        return true;
    case Kind::Real:
        m_xml.writeTextElement(QStringLiteral("real"), QString::fromLatin1(formatReal(value.toDouble())));
        return true;
    case Kind::Date: {
        const QByteArray text = formatDate(value.toDateTime());
        if (text.isEmpty())
            return fail(QStringLiteral("a date outside the years 1 to 9999 cannot be written"));
        m_xml.writeTextElement(QStringLiteral("date"), QString::fromLatin1(text));
        return true;
    }
    case Kind::Data: {
        const QByteArray base64 = value.toByteArray().toBase64();
        m_xml.writeStartElement(QStringLiteral("data"));
        constexpr qsizetype lineLength = 76;
        if (base64.size() <= lineLength) {
            m_xml.writeCharacters(QString::fromLatin1(base64));
        } else {
            // Long data on lines of their own, indented like the element.
            const QString indent = QLatin1Char('\n') + QString(depth + 1, QLatin1Char('\t'));
            QString text;
            for (qsizetype i = 0; i < base64.size(); i += lineLength)
                text += indent + QString::fromLatin1(base64.mid(i, lineLength));
            m_xml.writeCharacters(text + indent);
        }
        m_xml.writeEndElement();
        return true;
    }
    case Kind::Array: {
        if (depth + 1 > PropertyList::maximumDepth)
            return fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        const QVariantList list = arrayElements(value);
        if (list.isEmpty()) {
            m_xml.writeEmptyElement(QStringLiteral("array"));
            return true;
        }
        m_xml.writeStartElement(QStringLiteral("array"));
        for (const QVariant &element : list) {
            if (!writeValue(element, depth + 1))
                return false;
        }
        m_xml.writeEndElement();
        return true;
    }
    case Kind::Dictionary: {
        if (depth + 1 > PropertyList::maximumDepth)
            return fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::maximumDepth));
        const QVariantMap map = dictionaryEntries(value);
        if (map.isEmpty()) {
            m_xml.writeEmptyElement(QStringLiteral("dict"));
            return true;
        }
        m_xml.writeStartElement(QStringLiteral("dict"));
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!writeText(QStringLiteral("key"), it.key()) || !writeValue(it.value(), depth + 1))
                return false;
        }
        m_xml.writeEndElement();
        return true;
    }
    case Kind::Unsupported:
        break;
    }
    return fail(QStringLiteral("a value of type %1 cannot be written to a property list")
                    .arg(QString::fromLatin1(value.isValid() ? value.typeName() : "(invalid)")));
}

bool XmlWriter::writeDocument(const QVariant &value)
{
    m_xml.writeStartDocument();
    m_xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    m_xml.writeStartElement(QStringLiteral("plist"));
    m_xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    if (!writeValue(value, 0))
        return false;
    m_xml.writeEndElement();
    m_xml.writeEndDocument();
    return !m_xml.hasError() || fail(QStringLiteral("the XML writer failed"));
}

} // namespace

QVariant PropertyList::readXml(const QByteArray &data, QString *errorMessage)
{
    // Blank lines before the XML declaration are not well-formed, but hand-edited files have them.
    QByteArrayView text(data);
    if (text.startsWith("\xef\xbb\xbf"))
        text = text.sliced(3);
    const QByteArrayView trimmed = text.trimmed();
    XmlReader reader(trimmed.startsWith("<?xml") && trimmed.size() != text.size()
                         ? text.sliced(text.indexOf('<')).toByteArray()
                         : data);
    QVariant value = reader.readDocument();
    if (!value.isValid())
        setError(errorMessage, reader.errorMessage());
    return value;
}

QByteArray PropertyList::writeXml(const QVariant &value, QString *errorMessage)
{
    QByteArray output;
    XmlWriter writer(&output);
    if (!writer.writeDocument(value)) {
        setError(errorMessage, writer.errorMessage());
        return {};
    }
    return output;
}
