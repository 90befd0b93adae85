#include "formats/OVNXMPHelper.h"

#include <gtest/gtest.h>

#include <QTemporaryFile>

namespace {

QByteArray packet(const QByteArray &properties)
{
    return R"(<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:photoshop="http://ns.adobe.com/photoshop/1.0/"
    xmlns:Iptc4xmpCore="http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/"
    xmlns:xapRights="http://ns.adobe.com/xap/1.0/rights/"
    xmlns:xmp="http://ns.adobe.com/xap/1.0/">
)" + properties
           + R"(
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="w"?>)";
}

MetadataDictionary read(const QByteArray &bytes) { return OVNXMPHelper().parseXMP(bytes); }

} // namespace

TEST(OVNXMPHelper, DublinCoreListsAndAlternatives)
{
    const MetadataDictionary m = read(packet(R"(
    <dc:title>
     <rdf:Alt>
      <rdf:li xml:lang="x-default">Harbour at dusk</rdf:li>
      <rdf:li xml:lang="de">Hafen</rdf:li>
     </rdf:Alt>
    </dc:title>
    <dc:subject>
     <rdf:Bag>
      <rdf:li>a</rdf:li>
      <rdf:li>b</rdf:li>
     </rdf:Bag>
    </dc:subject>
    <dc:description><rdf:Alt><rdf:li xml:lang="x-default">  Two boats
on the water  </rdf:li></rdf:Alt></dc:description>
    <xmp:CreateDate>2004-02-26T09:36:46</xmp:CreateDate>
    <xmp:Empty>   </xmp:Empty>)"));
    EXPECT_EQ(m.value("DC Title"), "Harbour at dusk Hafen");
    EXPECT_EQ(m.value("DC Subject and Keywords"), "a b");
    EXPECT_EQ(m.value("DC Description"), "Two boats\non the water");
    EXPECT_EQ(m.value("xmp:CreateDate"), "2004-02-26T09:36:46");
    // Blank elements and the layout between elements give no key.
    EXPECT_EQ(m.size(), 4) << QStringList(m.keys()).join(", ").toStdString();
}

TEST(OVNXMPHelper, RightsAndIptcKeys)
{
    EXPECT_EQ(read(packet("<xapRights:Marked>True</xapRights:Marked>")).value("CC Marked"), "Copyright Protected");
    EXPECT_EQ(read(packet("<xapRights:Marked>False</xapRights:Marked>")).value("CC Marked"), "Public Domain");
    EXPECT_EQ(read(packet("<xapRights:Marked>maybe</xapRights:Marked>")).value("CC Marked"), "maybe");

    const MetadataDictionary city = read(packet(R"(
    <photoshop:City>Kingston</photoshop:City>
    <Iptc4xmpCore:CreatorContactInfo rdf:parseType="Resource">
     <Iptc4xmpCore:CiAdrCity>Toronto</Iptc4xmpCore:CiAdrCity>
     <Iptc4xmpCore:CiEmailWork>a@example.org</Iptc4xmpCore:CiEmailWork>
    </Iptc4xmpCore:CreatorContactInfo>)"));
    EXPECT_EQ(city.value("IPTC City"), "Toronto"); // the one that ends later wins
    EXPECT_EQ(city.value("IPTC Email"), "a@example.org");
    EXPECT_FALSE(city.contains("IPTC Creator's Contact Info"));

    EXPECT_EQ(OVNXMPHelper::displayKeyForElement(u"photoshop:TransmissionReference"), "IPTC Job Identifier");
    EXPECT_EQ(OVNXMPHelper::displayKeyForElement(u"Iptc4xmpCore:CiAdrCity"), "IPTC City");
    EXPECT_EQ(OVNXMPHelper::displayKeyForElement(u"dc:Title"), QString());
    EXPECT_EQ(OVNXMPHelper::displayKeyForElement(u"xmp:Rating"), QString());
}

TEST(OVNXMPHelper, AttributesAndCdataAreNotValues)
{
    const MetadataDictionary m = read(packet(R"(
    <dc:format><![CDATA[image/jpeg]]></dc:format>
    <dc:creator photoshop:City="Paris"><rdf:Seq><rdf:li>Ann</rdf:li></rdf:Seq></dc:creator>)"));
    EXPECT_FALSE(m.contains("DC Format"));
    EXPECT_FALSE(m.contains("IPTC City"));
    EXPECT_EQ(m.value("DC Creator"), "Ann");
}

TEST(OVNXMPHelper, MalformedPacketsKeepWhatCameBeforeTheFault)
{
    EXPECT_TRUE(read("").isEmpty());
    EXPECT_TRUE(read("not xml at all").isEmpty());
    const QByteArray cut = packet("<dc:title>One</dc:title><dc:source>Two</dc:sorce><dc:rights>Three</dc:rights>");
    const MetadataDictionary m = read(cut);
    EXPECT_EQ(m.value("DC Title"), "One");
    EXPECT_FALSE(m.contains("DC Rights Management"));
    EXPECT_EQ(read(cut.left(cut.indexOf("<dc:source>"))).value("DC Title"), "One");
}

TEST(OVNXMPHelper, NoExternalEntitiesAndNoEntityExplosion)
{
    QTemporaryFile secret;
    ASSERT_TRUE(secret.open());
    secret.write("SECRET-CONTENTS");
    secret.flush();
    const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://"
                                + secret.fileName().toUtf8()
                                + "\">]><r><dc:title>&x;</dc:title><dc:source>after</dc:source></r>";
    for (const QVariant &value : read(external))
        EXPECT_FALSE(value.toString().contains("SECRET")) << value.toString().toStdString();

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c)
        laughs += QByteArray("<!ENTITY ") + c + " \""
                  + QByteArray(10, '&').replace("&", QByteArray("&") + char(c - 1) + ";") + "\">";
    laughs += "]><r><dc:title>&k;</dc:title></r>";
    // The entities are not expanded a billion times: what comes back is bounded.
    const MetadataDictionary m = read(laughs);
    EXPECT_LT(m.value("DC Title").toString().size(), 1 << 20);
}

TEST(OVNXMPHelper, EncodingsAndFiles)
{
    const QByteArray utf8 = packet("<dc:title>Caf\xC3\xA9</dc:title>");
    EXPECT_EQ(read(utf8).value("DC Title"), QString::fromUtf8("Café"));

    const QString text = QString::fromUtf8(packet("<dc:title>Caf\xC3\xA9</dc:title>"));
    QByteArray utf16("\xFE\xFF", 2);
    for (const QChar c : text) {
        utf16.append(char(c.unicode() >> 8));
        utf16.append(char(c.unicode() & 0xFF));
    }
    EXPECT_EQ(read(utf16).value("DC Title"), QString::fromUtf8("Café"));

    QTemporaryFile sidecar;
    ASSERT_TRUE(sidecar.open());
    sidecar.write(utf8);
    sidecar.flush();
    EXPECT_EQ(OVNXMPHelper().parseXMPFile(sidecar.fileName()).value("DC Title"), QString::fromUtf8("Café"));
    EXPECT_TRUE(OVNXMPHelper().parseXMPFile("/nonexistent/file.xmp").isEmpty());
}
