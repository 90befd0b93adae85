#include "platform/PropertyList.h"
#include "platform/PropertyList_p.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QPoint>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

QString fromUtf8(const char *text) { return QString::fromUtf8(text); }

// Strings that trip up escaping in one form or another.
QStringList awkwardStrings()
{
    return {
        QString(),
        QStringLiteral("plain"),
        QStringLiteral("with space"),
        QStringLiteral("say \"hi\" and 'bye'"),
        QStringLiteral("back\\slash \\n not a newline"),
        QStringLiteral("<tag> & &amp; ]]>"),
        QStringLiteral("line one\nline two\r\nthree\rfour"),
        QStringLiteral("\ttabbed\t"),
        QStringLiteral("  padded  "),
        fromUtf8("Zoë 東京 ✓"),
        fromUtf8("emoji 😀 outside the BMP"),
        QStringLiteral("// not a comment"),
        QStringLiteral("/* nor this */"),
        QStringLiteral("a=b;c,(d){e}<f>"),
        QStringLiteral("0.88"),
        QStringLiteral("-"),
    };
}

QVariantMap sampleDocument()
{
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    QVariantMap inner;
    inner.insert(QStringLiteral("empty array"), QVariantList());
    inner.insert(QStringLiteral("empty dict"), QVariantMap());
    inner.insert(QStringLiteral("nested"), QVariantList{QVariantList{QVariantList{QStringLiteral("deep")}},
                                                        QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}});

    QVariantMap map;
    map.insert(QStringLiteral("strings"), QVariant(awkwardStrings()).toList());
    map.insert(QStringLiteral("data"), QVariantList{QByteArray(), QByteArray("\x00\xff", 2), allBytes});
    map.insert(QStringLiteral("inner"), inner);
    map.insert(fromUtf8("key with \"quotes\" & <ünïcode>"), QStringLiteral("value"));
    map.insert(QString(), QStringLiteral("empty key"));
    return map;
}

QVariant roundTripXml(const QVariant &value)
{
    QString error;
    const QByteArray xml = PropertyList::writeXml(value, &error);
    EXPECT_FALSE(xml.isEmpty()) << error.toStdString();
    const QVariant back = PropertyList::readXml(xml, &error);
    EXPECT_TRUE(back.isValid()) << error.toStdString() << "\n" << xml.toStdString();
    return back;
}

QVariant roundTripOpenStep(const QVariant &value)
{
    QString error;
    const QByteArray text = PropertyList::writeOpenStep(value, &error);
    EXPECT_FALSE(text.isEmpty()) << error.toStdString();
    const QVariant back = PropertyList::readOpenStep(text, &error);
    EXPECT_TRUE(back.isValid()) << error.toStdString() << "\n" << text.toStdString();
    return back;
}

void expectXmlError(const QByteArray &document, const char *why)
{
    QString error;
    const QVariant value = PropertyList::readXml(document, &error);
    EXPECT_FALSE(value.isValid()) << why << ": read " << value.toString().toStdString();
    EXPECT_FALSE(error.isEmpty()) << why;
}

QByteArray xmlDocument(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>";
}

} // namespace

TEST(PropertyList, XmlRoundTripsNestedDocument)
{
    const QVariantMap document = sampleDocument();
    EXPECT_EQ(roundTripXml(document), QVariant(document));
}

TEST(PropertyList, XmlWritesStandardHeaderAndTabs)
{
    const QByteArray xml =
        PropertyList::writeXml(QVariantMap{{QStringLiteral("a"), QVariantList{QStringLiteral("b")}}});
    const QList<QByteArray> lines = xml.split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    EXPECT_TRUE(lines[1].startsWith("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\""));
    EXPECT_EQ(lines[2], "<plist version=\"1.0\">");
    EXPECT_TRUE(xml.contains("\n\t\t<key>a</key>\n\t\t<array>\n\t\t\t<string>b</string>"));
}

TEST(PropertyList, OpenStepRoundTripsNestedDocument)
{
    const QVariantMap document = sampleDocument();
    EXPECT_EQ(roundTripOpenStep(document), QVariant(document));
}

TEST(PropertyList, OpenStepQuotesOnlyWhatNeedsIt)
{
    const QByteArray text =
        PropertyList::writeOpenStep(QVariantList{QStringLiteral("bare_word/1.0:x-y$+"), QString(),
                                                 QStringLiteral("two words"), QStringLiteral("//x"), fromUtf8("é")});
    EXPECT_TRUE(text.contains("\tbare_word/1.0:x-y$+,\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\t\"\",\n"));
    EXPECT_TRUE(text.contains("\"two words\""));
    EXPECT_TRUE(text.contains("\"//x\""));
    EXPECT_TRUE(text.contains("\"\xc3\xa9\"")) << "non-ASCII text goes out as UTF-8";
}

TEST(PropertyList, ControlCharactersAndLoneSurrogates)
{
    const QString controls = QStringLiteral("bell\a nul") + QChar(0) + QStringLiteral(" esc\x1b del\x7f");
    const QString lone = QStringLiteral("half ") + QChar(0xd800) + QStringLiteral(" pair");
    EXPECT_EQ(roundTripOpenStep(controls), QVariant(controls));
    EXPECT_EQ(roundTripOpenStep(lone), QVariant(lone));

    // XML 1.0 cannot carry these at all: the writer says so instead of writing a broken file.
    for (const QString &text : {controls, lone}) {
        QString error;
        EXPECT_TRUE(PropertyList::writeXml(QVariantMap{{text, 1}}, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(PropertyList, IntegersKeepTheirValueAndReadAsQint64)
{
    const QVariantList numbers{0,
                               -1,
                               int(42),
                               uint(4000000000u),
                               QVariant::fromValue(std::numeric_limits<qint64>::min()),
                               QVariant::fromValue(std::numeric_limits<qint64>::max()),
                               QVariant::fromValue(qint64(-1234567890123LL))};
    const QVariantList back = roundTripXml(numbers).toList();
    ASSERT_EQ(back.size(), numbers.size());
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(back[i].typeId(), QMetaType::LongLong) << i;
        EXPECT_EQ(back[i].toLongLong(), numbers[i].toLongLong()) << i;
    }
    // Above qint64's range, the value stays exact as a quint64.
    const QVariant big = QVariant::fromValue(std::numeric_limits<quint64>::max());
    EXPECT_EQ(roundTripXml(big).toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(PropertyList::readXml(xmlDocument("<integer> 0x1F </integer>")).toLongLong(), 31);
    expectXmlError(xmlDocument("<integer>18446744073709551616</integer>"), "beyond 64 bits");
    expectXmlError(xmlDocument("<integer>-9223372036854775809</integer>"), "below qint64");
    expectXmlError(xmlDocument("<integer>12abc</integer>"), "trailing letters");
    expectXmlError(xmlDocument("<integer></integer>"), "empty integer");
}

TEST(PropertyList, RealsRoundTripExactly)
{
    const double values[] = {0.88,
                             0.1,
                             1.0 / 3.0,
                             -2.5e-310, // subnormal
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::lowest(),
                             1e21,
                             123456789012345680.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    for (double value : values) {
        const QVariant back = roundTripXml(value);
        EXPECT_EQ(back.typeId(), QMetaType::Double);
        EXPECT_EQ(back.toDouble(), value) << PropertyListDetail::formatReal(value).toStdString();
        EXPECT_EQ(PropertyListDetail::parseReal(QString::fromLatin1(PropertyListDetail::formatReal(value))), value);
    }
    const double negativeZero = roundTripXml(-0.0).toDouble();
    EXPECT_TRUE(negativeZero == 0.0 && std::signbit(negativeZero));
    EXPECT_TRUE(std::isnan(roundTripXml(std::nan("")).toDouble()));
    EXPECT_EQ(PropertyList::readXml(xmlDocument("<real>+1.5E2</real>")).toDouble(), 150.0);
    EXPECT_EQ(PropertyList::readXml(xmlDocument("<real>-Infinity</real>")).toDouble(),
              -std::numeric_limits<double>::infinity());
    expectXmlError(xmlDocument("<real>0,88</real>"), "decimal comma");
    expectXmlError(xmlDocument("<real>1e999</real>"), "out of range");
}

TEST(PropertyList, NumbersIgnoreTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QVariantMap value{{QStringLiteral("r"), 0.88}, {QStringLiteral("i"), 1234567}, {QStringLiteral("b"), true}};
    const QByteArray xml = PropertyList::writeXml(value);
    const QByteArray text = PropertyList::writeOpenStep(value);
    const QVariant back = PropertyList::readXml(xml);
    QLocale::setDefault(saved);

    EXPECT_TRUE(xml.contains("<real>0.88</real>")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<integer>1234567</integer>"));
    EXPECT_TRUE(text.contains("r = 0.88;")) << text.toStdString();
    EXPECT_TRUE(text.contains("i = 1234567;"));
    EXPECT_TRUE(text.contains("b = YES;"));
    EXPECT_EQ(back.toMap().value(QStringLiteral("r")).toDouble(), 0.88);
}

TEST(PropertyList, DatesAreWrittenInUtcToTheSecond)
{
    const QDateTime utc(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC);
    const QDateTime offset(QDate(2024, 3, 1), QTime(1, 59, 58), Qt::OffsetFromUTC, 2 * 3600);
    const QVariantList dates{utc, offset, QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC)};
    const QByteArray xml = PropertyList::writeXml(dates);
    EXPECT_EQ(xml.count("<date>2024-02-29T23:59:58Z</date>"), 2) << xml.toStdString();

    const QVariantList back = roundTripXml(dates).toList();
    ASSERT_EQ(back.size(), 3);
    for (qsizetype i = 0; i < back.size(); ++i)
        EXPECT_EQ(back[i].toDateTime(), dates[i].toDateTime()) << i;
    EXPECT_EQ(back[0].toDateTime().timeSpec(), Qt::UTC);

    // Milliseconds are dropped, not rounded into the next second.
    EXPECT_EQ(roundTripXml(utc.addMSecs(999)).toDateTime(), utc);
    EXPECT_EQ(PropertyList::writeOpenStep(utc), "2024-02-29T23:59:58Z\n");
    EXPECT_EQ(PropertyList::readXml(xmlDocument("<date>2024-02-29T23:59:58.250Z</date>")).toDateTime(),
              utc.addMSecs(250));

    QString error;
    EXPECT_TRUE(PropertyList::writeXml(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    expectXmlError(xmlDocument("<date>2023-02-29T00:00:00Z</date>"), "no such day");
    expectXmlError(xmlDocument("<date>2024-01-01 00:00:00</date>"), "not ISO 8601");
}

TEST(PropertyList, WritersRefuseWhatAPropertyListCannotHold)
{
    for (const QVariant &value :
         {QVariant(), QVariant(QPoint(1, 2)), QVariant(QVariantList{QVariant(QStringLiteral("ok")), QVariant()})}) {
        QString error;
        EXPECT_TRUE(PropertyList::writeXml(value, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
        error.clear();
        EXPECT_TRUE(PropertyList::writeOpenStep(value, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(PropertyList, XmlReaderAcceptsUsualVariations)
{
    const QByteArray document = "\xef\xbb\xbf  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!DOCTYPE plist [ <!ENTITY who \"world\"> ]>\n"
                                "<!-- a comment -->\n"
                                "<plist version=\"1.0\"><dict>\n"
                                "  <key>greeting</key> <!-- between key and value --> <string>hello &who; &amp; "
                                "&#x263A;<![CDATA[<raw>]]></string>\n"
                                "  <key>bytes</key><data>\n  AP8=\n  </data>\n"
                                "  <key>flags</key><array><true/><false></false></array>\n"
                                "</dict></plist>\n";
    QString error;
    PropertyList::Format format = PropertyList::Format::Binary;
    const QVariantMap map = PropertyList::read(document, &error, &format).toMap();
    EXPECT_EQ(format, PropertyList::Format::Xml);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(map.value(QStringLiteral("greeting")).toString(), fromUtf8("hello world & ☺<raw>"));
    EXPECT_EQ(map.value(QStringLiteral("bytes")).toByteArray(), QByteArray("\x00\xff", 2));
    EXPECT_EQ(map.value(QStringLiteral("flags")), QVariant(QVariantList{true, false}));
}

TEST(PropertyList, XmlReaderRefusesMalformedDocuments)
{
    const QByteArray good = PropertyList::writeXml(sampleDocument());
    expectXmlError(good.left(good.size() / 2), "truncated");
    expectXmlError(QByteArray(), "empty");
    expectXmlError(xmlDocument("<array><string>a</array></string>"), "bad nesting");
    expectXmlError(xmlDocument("<dict><key>a</key></dict>"), "key without value");
    expectXmlError(xmlDocument("<dict><string>a</string><string>b</string></dict>"), "no key");
    expectXmlError(xmlDocument("<dict>stray<key>a</key><true/></dict>"), "text in dict");
    expectXmlError(xmlDocument("<array><integer>1</integer>stray</array>"), "text in array");
    expectXmlError(xmlDocument("<string>a<b/></string>"), "element in string");
    expectXmlError(xmlDocument("<true>yes</true>"), "text in true");
    expectXmlError(xmlDocument("<float>1</float>"), "unknown element");
    expectXmlError(xmlDocument(""), "no value");
    expectXmlError(xmlDocument("<true/><false/>"), "two values");
    expectXmlError(xmlDocument("<data>AP8=!</data>"), "bad base64");
    expectXmlError("<array><string>x</string></array>", "no plist element");
    expectXmlError(xmlDocument("<string>x</string>") + "<plist/>", "content after the root");
    expectXmlError("<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                   "<plist version=\"1.0\"><string>a&undeclared;b</string></plist>",
                   "undeclared entity behind an external DTD");
    expectXmlError(xmlDocument("<string>a&undeclared;b</string>"), "undeclared entity");
}

TEST(PropertyList, XmlReaderNeverLoadsExternalEntities)
{
    for (const QByteArray &declaration : {QByteArray("<!ENTITY x SYSTEM \"file:///etc/passwd\">"),
                                          QByteArray("<!ENTITY x PUBLIC \"-//X//EN\" \"file:///etc/passwd\">")}) {
        const QByteArray document = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [" + declaration
                                    + "]>\n<plist version=\"1.0\"><string>before &x; after</string></plist>";
        QString error;
        const QVariant value = PropertyList::read(document, &error);
        EXPECT_FALSE(value.isValid()) << value.toString().toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(value.toString().contains(QLatin1String("root:")));
    }
}

TEST(PropertyList, EveryReaderBoundsNesting)
{
    auto nested = [](int depth, const char *open, const char *close) {
        return QByteArray(open).repeated(depth) + QByteArray(close).repeated(depth);
    };
    const int limit = PropertyList::maximumDepth;
    EXPECT_TRUE(PropertyList::readXml(xmlDocument(nested(limit, "<array>", "</array>"))).isValid());
    expectXmlError(xmlDocument(nested(limit + 1, "<array>", "</array>")), "too deep");
    expectXmlError(xmlDocument(nested(100000, "<array>", "</array>")), "far too deep");
    EXPECT_TRUE(PropertyList::readOpenStep(nested(limit, "(", ")")).isValid());
    EXPECT_FALSE(PropertyList::readOpenStep(nested(limit + 1, "(", ")")).isValid());
    EXPECT_FALSE(PropertyList::readOpenStep(nested(100000, "{a=", ";}")).isValid());

    // Writers bound it as well rather than overflowing the stack.
    QVariant deep = QStringLiteral("leaf");
    for (int i = 0; i < limit + 1; ++i)
        deep = QVariantList{deep};
    QString error;
    EXPECT_TRUE(PropertyList::writeXml(deep, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(PropertyList::writeOpenStep(deep).isEmpty());
}

TEST(PropertyList, OpenStepReaderHandlesTheTextForm)
{
    const QByteArray document = "// settings\n"
                                "{\n"
                                "  /* a block\n comment */ name = \"Zo\\U00eb \\\"q\\\" \\101\\t\\n\";\n"
                                "  'single' = bare.word/with:chars-$_+;\n"
                                "  list = ( one, \"two\", <0001 02ff>, (), {}, );\n"
                                "  last = x\n"
                                "}\n";
    QString error;
    PropertyList::Format format = PropertyList::Format::Xml;
    const QVariantMap map = PropertyList::read(document, &error, &format).toMap();
    EXPECT_EQ(format, PropertyList::Format::OpenStep);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(map.value(QStringLiteral("name")).toString(), fromUtf8("Zoë \"q\" A\t\n"));
    EXPECT_EQ(map.value(QStringLiteral("single")).toString(), QStringLiteral("bare.word/with:chars-$_+"));
    EXPECT_EQ(map.value(QStringLiteral("list")),
              QVariant(QVariantList{QStringLiteral("one"), QStringLiteral("two"), QByteArray("\x00\x01\x02\xff", 4),
                                    QVariantList(), QVariantMap()}));
    EXPECT_EQ(map.value(QStringLiteral("last")).toString(), QStringLiteral("x"));

    // UTF-16 with a byte order mark.
    const QString text = fromUtf8("( \"東京\", ✓x )");
    QByteArray utf16("\xff\xfe");
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    EXPECT_FALSE(PropertyList::readOpenStep(utf16).isValid()) << "✓ is no bare-word character";
    const QString valid = fromUtf8("( \"東京\", x )");
    utf16 = QByteArray("\xff\xfe");
    utf16.append(reinterpret_cast<const char *>(valid.utf16()), valid.size() * 2);
    EXPECT_EQ(PropertyList::read(utf16), QVariant(QVariantList{fromUtf8("東京"), QStringLiteral("x")}));
}

TEST(PropertyList, OpenStepReaderRefusesMalformedDocuments)
{
    const QByteArray cases[] = {
        "",
        "  // only a comment\n",
        "\"unterminated",
        "( a, b",
        "( a b )",
        "{ a = b; c }",
        "{ a b; }",
        "{ (x) = y; }",
        "<0fb>",
        "<0fbz>",
        "( a ) trailing",
        "/* open comment",
        "{ a = \"x\\",
        "\xff\xfe\x00",
        "\xc3\x28",
    };
    for (const QByteArray &document : cases) {
        QString error;
        EXPECT_FALSE(PropertyList::readOpenStep(document, &error).isValid()) << document.toStdString();
        EXPECT_FALSE(error.isEmpty()) << document.toStdString();
    }
}

namespace {

// Builds a binary property list object by object, the way a test wants it, including broken ones.
class BinaryPlistBuilder
{
public:
    int add(const QByteArray &object)
    {
        m_objects.push_back(object);
        return int(m_objects.size() - 1);
    }

    static QByteArray marker(int type, quint64 count)
    {
        QByteArray bytes;
        if (count < 15) {
            bytes.append(char(type << 4 | int(count)));
        } else {
            bytes.append(char(type << 4 | 0xf));
            bytes.append('\x13');
            bytes.append(bigEndian(count, 8));
        }
        return bytes;
    }

    static QByteArray bigEndian(quint64 value, int width)
    {
        QByteArray bytes(width, '\0');
        for (int i = width - 1; i >= 0; --i, value >>= 8)
            bytes[i] = char(value & 0xff);
        return bytes;
    }

    static QByteArray ascii(const char *text) { return marker(0x5, std::strlen(text)) + text; }
    static QByteArray utf16(const QString &text)
    {
        QByteArray bytes = marker(0x6, quint64(text.size()));
        for (QChar c : text)
            bytes.append(bigEndian(c.unicode(), 2));
        return bytes;
    }
    static QByteArray refs(int type, const std::vector<int> &indexes)
    {
        QByteArray bytes = marker(type, indexes.size());
        for (int index : indexes)
            bytes.append(char(index));
        return bytes;
    }
    static QByteArray dict(const std::vector<int> &keys, const std::vector<int> &values)
    {
        std::vector<int> all = keys;
        all.insert(all.end(), values.begin(), values.end());
        QByteArray bytes = refs(0xd, all);
        bytes[0] = char(0xd0 | int(keys.size()));
        return bytes;
    }
    static QByteArray real(double value)
    {
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        return QByteArray("\x23") + bigEndian(bits, 8);
    }

    QByteArray build(int top, int referenceSize = 1) const
    {
        QByteArray file("bplist00");
        std::vector<quint64> offsets;
        for (const QByteArray &object : m_objects) {
            offsets.push_back(quint64(file.size()));
            file.append(object);
        }
        const quint64 tableOffset = quint64(file.size());
        for (quint64 offset : offsets)
            file.append(bigEndian(offset, 2));
        file.append(QByteArray(6, '\0'));
        file.append(char(2));
        file.append(char(referenceSize));
        file.append(bigEndian(m_objects.size(), 8));
        file.append(bigEndian(quint64(top), 8));
        file.append(bigEndian(tableOffset, 8));
        return file;
    }

private:
    std::vector<QByteArray> m_objects;
};

void expectBinaryError(const QByteArray &file, const char *why)
{
    QString error;
    EXPECT_FALSE(PropertyList::readBinary(file, &error).isValid()) << why;
    EXPECT_FALSE(error.isEmpty()) << why;
}

} // namespace

TEST(PropertyList, BinaryReaderReadsEveryObjectKind)
{
    using B = BinaryPlistBuilder;
    B b;
    const int kName = b.add(B::ascii("name"));
    const int name = b.add(B::utf16(fromUtf8("Zoë 東京 ✓")));
    const int kNumbers = b.add(B::ascii("numbers"));
    const int small = b.add(QByteArray("\x10\xff", 2));      // 255, unsigned
    const int medium = b.add(QByteArray("\x11\x01\x2c", 3)); // 300
    const int negative = b.add(QByteArray("\x13") + B::bigEndian(quint64(-5), 8));
    const int wide = b.add(QByteArray("\x14") + B::bigEndian(0, 8) + B::bigEndian(~quint64(0), 8));
    const int wideNegative = b.add(QByteArray("\x14") + B::bigEndian(~quint64(0), 8) + B::bigEndian(quint64(-7), 8));
    const int uid = b.add(QByteArray("\x80\x07", 2));
    const int numbers = b.add(B::refs(0xa, {small, medium, negative, wide, wideNegative, uid}));
    const int kMisc = b.add(B::ascii("misc"));
    const int yes = b.add(QByteArray("\x09"));
    const int no = b.add(QByteArray("\x08"));
    const int half = b.add(B::real(0.5));
    const int single = b.add(QByteArray("\x22\x3f\xc0\x00\x00", 5));                     // 1.5f
    const int date = b.add(QByteArray("\x33") + B::bigEndian(0x41d2b371f0000000ull, 8)); // 1255000000 s
    const int bytes = b.add(QByteArray("\x42\x00\xff", 3));
    const int longText = b.add(B::ascii("a string of more than fifteen characters"));
    const int set = b.add(B::refs(0xc, {yes, no}));
    const int misc = b.add(B::refs(0xa, {yes, no, half, single, date, bytes, longText, set}));
    const int root = b.add(B::dict({kName, kNumbers, kMisc}, {name, numbers, misc}));

    QString error;
    PropertyList::Format format = PropertyList::Format::Xml;
    const QVariant value = PropertyList::read(b.build(root), &error, &format);
    ASSERT_TRUE(value.isValid()) << error.toStdString();
    EXPECT_EQ(format, PropertyList::Format::Binary);
    const QVariantMap map = value.toMap();
    EXPECT_EQ(map.value(QStringLiteral("name")).toString(), fromUtf8("Zoë 東京 ✓"));

    const QVariantList n = map.value(QStringLiteral("numbers")).toList();
    ASSERT_EQ(n.size(), 6);
    EXPECT_EQ(n[0].toLongLong(), 255);
    EXPECT_EQ(n[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[1].toLongLong(), 300);
    EXPECT_EQ(n[2].toLongLong(), -5);
    EXPECT_EQ(n[3].toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(n[4].toLongLong(), -7);
    EXPECT_EQ(n[5].toLongLong(), 7);

    const QVariantList m = map.value(QStringLiteral("misc")).toList();
    ASSERT_EQ(m.size(), 8);
    EXPECT_EQ(m[0], QVariant(true));
    EXPECT_EQ(m[1], QVariant(false));
    EXPECT_EQ(m[2].toDouble(), 0.5);
    EXPECT_EQ(m[3].toDouble(), 1.5);
    EXPECT_EQ(m[4].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(1255000000));
    EXPECT_EQ(m[5].toByteArray(), QByteArray("\x00\xff", 2));
    EXPECT_EQ(m[6].toString(), QStringLiteral("a string of more than fifteen characters"));
    EXPECT_EQ(m[7], QVariant(QVariantList{true, false}));
}

TEST(PropertyList, BinaryReaderAllowsSharedObjects)
{
    using B = BinaryPlistBuilder;
    B b;
    const int leaf = b.add(B::ascii("x"));
    const int inner = b.add(B::refs(0xa, {leaf, leaf}));
    const int root = b.add(B::refs(0xa, {inner, inner}));
    const QVariant inside = QVariantList{QStringLiteral("x"), QStringLiteral("x")};
    EXPECT_EQ(PropertyList::readBinary(b.build(root)), QVariant(QVariantList{inside, inside}));
}

TEST(PropertyList, BinaryReaderRefusesHostileFiles)
{
    using B = BinaryPlistBuilder;
    {
        B b;
        const int text = b.add(B::ascii("hello"));
        const int root = b.add(B::refs(0xa, {text}));
        const QByteArray good = b.build(root);
        ASSERT_TRUE(PropertyList::readBinary(good).isValid());
        for (qsizetype size = 0; size < good.size(); ++size)
            expectBinaryError(good.left(size), "truncated");
        QByteArray badVersion = good;
        badVersion[7] = '1';
        expectBinaryError(badVersion, "unknown version");
        QByteArray badTop = good;
        badTop[badTop.size() - 9] = 2; // top object 2 of 2
        expectBinaryError(badTop, "top object out of range");
        QByteArray badOffsetSize = good;
        badOffsetSize[badOffsetSize.size() - 26] = 0;
        expectBinaryError(badOffsetSize, "zero-byte offsets");
        QByteArray hugeCount = good;
        for (int i = 0; i < 8; ++i)
            hugeCount[hugeCount.size() - 24 + i] = '\xff';
        expectBinaryError(hugeCount, "object count beyond the table");
        QByteArray badOffset = good;
        badOffset[badOffset.size() - 34] = '\x7f'; // the root's offset now points into the trailer
        expectBinaryError(badOffset, "offset past the objects");
    }
    {
        B b;
        const int self = b.add(B::refs(0xa, {0}));
        expectBinaryError(b.build(self), "array containing itself");
    }
    {
        B b;
        b.add(B::refs(0xa, {1}));
        b.add(B::dict({2}, {0}));
        b.add(B::ascii("k"));
        expectBinaryError(b.build(0), "cycle through a dictionary");
    }
    {
        B b;
        b.add(B::refs(0xa, {5}));
        expectBinaryError(b.build(0), "reference beyond the object count");
    }
    {
        B b;
        b.add(QByteArray("\xaf\x13") + B::bigEndian(quint64(1) << 62, 8) + QByteArray(4, '\0'));
        expectBinaryError(b.build(0), "array count beyond the file");
        B s;
        s.add(QByteArray("\x5f\x13") + B::bigEndian(~quint64(0), 8) + "abc");
        expectBinaryError(s.build(0), "string length beyond the file");
        B u;
        u.add(QByteArray("\x6f\x13") + B::bigEndian(quint64(1) << 63, 8) + "abcd");
        expectBinaryError(u.build(0), "UTF-16 length that overflows when doubled");
    }
    {
        B b;
        const int key = b.add(QByteArray("\x10\x01", 2));
        const int root = b.add(B::dict({key}, {key}));
        expectBinaryError(b.build(root), "integer dictionary key");
    }
    {
        B b;
        b.add(QByteArray("\x00"));
        expectBinaryError(b.build(0), "null");
        B f;
        f.add(QByteArray("\x15") + QByteArray(32, '\0'));
        expectBinaryError(f.build(0), "32-byte integer");
        B d;
        d.add(B::real(std::nan("")));
        d.add(QByteArray("\x33") + B::real(1e300).mid(1));
        d.add(B::refs(0xa, {1}));
        expectBinaryError(d.build(2), "date out of range");
        EXPECT_TRUE(std::isnan(PropertyList::readBinary(d.build(0)).toDouble()));
    }
    {
        // A chain deeper than the limit: object i holds object i + 1.
        B b;
        const int depth = PropertyList::maximumDepth + 5;
        for (int i = 0; i < depth; ++i)
            b.add(QByteArray("\xa1") + B::bigEndian(quint64(i + 1), 2));
        b.add(B::ascii("end"));
        expectBinaryError(b.build(0, 2), "deeper than the limit");
    }
    {
        // Each level holds the next one 14 times: 14^12 values from a few hundred bytes.
        B b;
        for (int level = 0; level < 12; ++level)
            b.add(B::refs(0xa, std::vector<int>(14, level + 1)));
        b.add(B::ascii("leaf"));
        expectBinaryError(b.build(0), "exponential sharing");

        // One long string referenced from every slot of a big array: text quadratic in the size.
        B s;
        s.add(B::refs(0xa, std::vector<int>(14, 1)));
        s.add(B::refs(0xa, std::vector<int>(2000, 2)));
        s.add(B::marker(0x5, 3000) + QByteArray(3000, 'x'));
        expectBinaryError(s.build(0), "shared long string");
    }
}

TEST(PropertyList, ReadDetectsTheForm)
{
    PropertyList::Format format = PropertyList::Format::Binary;
    PropertyList::read("\n  <plist version=\"1.0\"><string>x</string></plist>", nullptr, &format);
    EXPECT_EQ(format, PropertyList::Format::Xml);
    PropertyList::read("<00ff>", nullptr, &format);
    EXPECT_EQ(format, PropertyList::Format::OpenStep);

    // UTF-16 XML with a byte order mark.
    const QString xml = QString::fromUtf8(PropertyList::writeXml(fromUtf8("東京")))
                            .replace(QLatin1String("UTF-8"), QLatin1String("UTF-16"));
    QByteArray utf16("\xff\xfe");
    utf16.append(reinterpret_cast<const char *>(xml.utf16()), xml.size() * 2);
    QString error;
    EXPECT_EQ(PropertyList::read(utf16, &error, &format).toString(), fromUtf8("東京")) << error.toStdString();
    EXPECT_EQ(format, PropertyList::Format::Xml);
}
