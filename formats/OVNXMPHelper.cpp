#include "formats/OVNXMPHelper.h"

#include "platform/FileAccess.h"
#include "platform/Localized.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>

namespace {

struct ElementKey {
    const char *element;
    const char *displayKey;
};

// Sorted by element name for the binary search below.
constexpr ElementKey elementKeys[] = {
    {"Iptc4xmpCore:CiAdrCity", "IPTC City"},
    {"Iptc4xmpCore:CiAdrCtry", "IPTC Country"},
    {"Iptc4xmpCore:CiAdrExtadr", "IPTC Address"},
    {"Iptc4xmpCore:CiAdrPcode", "IPTC Postal Code"},
    {"Iptc4xmpCore:CiAdrRegion", "IPTC State/Province"},
    {"Iptc4xmpCore:CiEmailWork", "IPTC Email"},
    {"Iptc4xmpCore:CiTelWork", "IPTC Phone"},
    {"Iptc4xmpCore:CiUrlWork", "IPTC Web URL"},
    {"Iptc4xmpCore:CountryCode", "IPTC ISO Country Code"},
    {"Iptc4xmpCore:CreatorContactInfo", "IPTC Creator's Contact Info"},
    {"Iptc4xmpCore:IntellectualGenre", "IPTC Intellectual genre"},
    {"Iptc4xmpCore:Location", "IPTC Location"},
    {"Iptc4xmpCore:SubjectCode", "IPTC Subject Code"},
    {"dc:contributor", "DC Contributor"},
    {"dc:coverage", "DC Coverage"},
    {"dc:creator", "DC Creator"},
    {"dc:date", "DC Date"},
    {"dc:description", "DC Description"},
    {"dc:format", "DC Format"},
    {"dc:identifier", "DC Resource Identifier"},
    {"dc:language", "DC Language"},
    {"dc:publisher", "DC Publisher"},
    {"dc:relation", "DC Relation"},
    {"dc:rights", "DC Rights Management"},
    {"dc:source", "DC Source"},
    {"dc:subject", "DC Subject and Keywords"},
    {"dc:title", "DC Title"},
    {"dc:type", "DC Resource Type"},
    {"photoshop:AuthorsPosition", "IPTC Creator's Job Title"},
    {"photoshop:CaptionWriter", "IPTC Caption/Description writer"},
    {"photoshop:City", "IPTC City"},
    {"photoshop:Country", "IPTC Country"},
    {"photoshop:Credit", "IPTC Provider"},
    {"photoshop:DateCreated", "IPTC Date Created"},
    {"photoshop:Headline", "IPTC Headline"},
    {"photoshop:Instructions", "IPTC Instructions"},
    {"photoshop:Source", "IPTC Source"},
    {"photoshop:State", "IPTC Province/State"},
    {"photoshop:TransmissionReference", "IPTC Job Identifier"},
    {"xapRights:Copyright", "CC Copyright"},
    {"xapRights:Marked", "CC Marked"},
    {"xapRights:WebStatement", "CC Web Statement"},
    {"xmpRights:UsageTerms", "IPTC Rights Usage Terms"},
};

bool isListContainer(QStringView name) { return name == u"rdf:Alt" || name == u"rdf:Bag" || name == u"rdf:Seq"; }

} // namespace

QString OVNXMPHelper::displayKeyForElement(QStringView qualifiedName)
{
    const auto *end = std::end(elementKeys);
    const auto *it =
        std::lower_bound(std::begin(elementKeys), end, qualifiedName, [](const ElementKey &entry, QStringView name) {
            return QLatin1StringView(entry.element) < name;
        });
    if (it == end || QLatin1StringView(it->element) != qualifiedName)
        return QString();
    return localizedMetadata(it->displayKey);
}

QString OVNXMPHelper::markedText(const QString &text)
{
    if (text == u"True")
        return localizedMetadata("Copyright Protected");
    if (text == u"False")
        return localizedMetadata("Public Domain");
    return text;
}

MetadataDictionary OVNXMPHelper::parseXMP(QByteArrayView packet)
{
    m_result.clear();
    m_value.reset();
    if (packet.isEmpty())
        return m_result;

    // QXmlStreamReader fetches no external entity or DTD, and caps the expansion of internal
    // entities, so a packet can neither reach outside the file nor blow up in memory.
    QXmlStreamReader xml(QByteArray::fromRawData(packet.data(), packet.size()));
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::Characters:
            // CDATA sections are not part of the values, nor is the layout white space between
            // elements, so that list items read "a b" however the packet is indented.
            if (!xml.isCDATA() && !xml.isWhitespace())
                characters(xml.text());
            break;
        case QXmlStreamReader::EndElement:
            elementEnded(xml.qualifiedName());
            break;
        default:
            break;
        }
    }
    // A malformed packet simply ends the loop; what was found before the fault stays.
    return m_result;
}

MetadataDictionary OVNXMPHelper::parseXMPFile(const QString &path)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path))
        return MetadataDictionary();
    // Read, not mapped: a file cut short while it is read must not end the program.
    const QByteArray contents = FileAccess::readAtMost(file, maximumSidecarBytes);
    if (contents.isEmpty())
        return MetadataDictionary();
    return parseXMP(contents);
}

void OVNXMPHelper::characters(QStringView text)
{
    // Text of enclosing and nested elements gathers until the next element end stores it.
    if (!m_value)
        m_value.emplace();
    m_value->append(text);
}

void OVNXMPHelper::elementEnded(QStringView qualifiedName)
{
    if (qualifiedName == u"rdf:li") {
        // The items of a list are joined by single blanks.
        if (m_value)
            m_value->append(u' ');
        return;
    }
    if (isListContainer(qualifiedName))
        return;

    const QString text = m_value ? m_value->trimmed() : QString();
    m_value.reset();
    if (text.isEmpty())
        return;
    QString key = displayKeyForElement(qualifiedName);
    if (key.isEmpty()) {
        m_result.insert(qualifiedName.toString(), text);
        return;
    }
    m_result.insert(key, qualifiedName == u"xapRights:Marked" ? markedText(text) : text);
}
