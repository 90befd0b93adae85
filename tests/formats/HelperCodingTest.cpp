#include "formats/OVNHelper.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFont>
#include <QFontInfo>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <string>

namespace {

// Switches the C and Qt locales to German (comma decimals) for the life of the object, as far as
// the machine has the locale.
class GermanLocale
{
public:
    GermanLocale()
    {
        const char *old = std::setlocale(LC_ALL, nullptr);
        m_oldC = old != nullptr ? old : "C";
        m_haveC = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        if (!m_haveC && compileGermanLocale())
            m_haveC = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~GermanLocale()
    {
        std::setlocale(LC_ALL, m_oldC.c_str());
        QLocale::setDefault(QLocale::c());
    }
    bool haveCLocale() const { return m_haveC; }

private:
    // Where the machine lacks the locale but has its sources, it is built into a private folder.
    static bool compileGermanLocale()
    {
        static QTemporaryDir folder;
        static const bool built = [] {
            if (!folder.isValid())
                return false;
            const int status =
                QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", folder.filePath("de_DE.UTF-8")});
            if (status != 0)
                return false;
            qputenv("LOCPATH", folder.path().toUtf8());
            return true;
        }();
        return built;
    }

    std::string m_oldC;
    bool m_haveC = false;
};

} // namespace

TEST(ColourCoding, FourDecimalsWithAPointInAnyLocale)
{
    GermanLocale german;
    if (german.haveCLocale()) {
        char printed[32];
        std::snprintf(printed, sizeof printed, "%.4f", 0.26);
        ASSERT_STREQ(printed, "0,2600"); // the C library now writes commas
    } else {
        std::printf("note: de_DE.UTF-8 is not available; only the Qt locale is German\n");
    }
    ASSERT_EQ(QLocale().toString(0.5), "0,5");

    const QVariantMap colour = OVNHelper::encodeColorR(0.26, 0.55, 0.9, 1);
    EXPECT_EQ(colour, (QVariantMap{{"RED", "0.2600"}, {"GREEN", "0.5500"}, {"BLUE", "0.9000"}, {"ALPHA", "1.0000"}}));

    const QColor decoded = OVNHelper::decodeToColor(colour);
    EXPECT_NEAR(decoded.redF(), 0.26, 1e-4);
    EXPECT_NEAR(decoded.greenF(), 0.55, 1e-4);
    EXPECT_NEAR(decoded.blueF(), 0.90, 1e-4);
    EXPECT_NEAR(decoded.alphaF(), 1.0, 1e-4);
    // Round trip through a colour object.
    EXPECT_EQ(OVNHelper::encodeColor(decoded), colour);

    // Stored by a program that wrote commas, the number ends at the comma.
    EXPECT_NEAR(OVNHelper::decodeToColor({{"RED", "0,75"}, {"ALPHA", "1"}}).redF(), 0.0, 1e-6);
    EXPECT_EQ(OVNHelper::encodeFontWithName("Arial", 11)["SIZE"], "11.0000");
}

TEST(ColourCoding, MissingAndOddValues)
{
    const QColor empty = OVNHelper::decodeToColor({});
    EXPECT_EQ(empty.rgba(), qRgba(0, 0, 0, 0)); // transparent black
    const QColor odd =
        OVNHelper::decodeToColor({{"RED", "2.5"}, {"GREEN", "-1"}, {"BLUE", "nan"}, {"ALPHA", QVariantList{1}}});
    EXPECT_EQ(odd.redF(), 1.0f);
    EXPECT_EQ(odd.greenF(), 0.0f);
    EXPECT_EQ(odd.blueF(), 0.0f);
    EXPECT_EQ(odd.alphaF(), 0.0f);
    EXPECT_NEAR(OVNHelper::decodeToColor({{"RED", 0.5}, {"ALPHA", " 0.25xyz"}}).alphaF(), 0.25, 1e-4);
    // Colours of other models are encoded through RGB.
    EXPECT_EQ(OVNHelper::encodeColor(QColor::fromHsvF(0, 1, 1))["RED"], "1.0000");
    EXPECT_EQ(OVNHelper::encodeColorR(qQNaN(), 0, 0, 0)["RED"], "0.0000");
}

TEST(ColourCoding, LeadingNumbers)
{
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("0.5000"), 0.5);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("  +0.5abc"), 0.5);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("1e-1"), 0.1);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("-.25"), -0.25);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("abc"), 0.0);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble(""), 0.0);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("inf"), 0.0);
    EXPECT_DOUBLE_EQ(OVNHelper::leadingDouble("1e999"), 0.0);
}

TEST(FontCoding, DefaultsAndDescriptions)
{
    const QFont fallback = OVNHelper::decodeToFont({});
    EXPECT_EQ(fallback.pixelSize(), 10);
    EXPECT_TRUE(fallback.bold()); // "Helvetica-Bold"
    EXPECT_EQ(OVNHelper::decodeToFontDescription({}), "Helvetica-Bold, 10");

    const QVariantMap zero{{"NAME", "Helvetica-Bold"}, {"SIZE", "0.0000"}};
    EXPECT_EQ(OVNHelper::decodeToFont(zero).pixelSize(), 10);
    EXPECT_EQ(OVNHelper::decodeToFontDescription(zero), "Helvetica-Bold, 0");
    EXPECT_EQ(OVNHelper::decodeToFontDescription({{"NAME", ""}, {"SIZE", "12.6"}}), ", 13");
    EXPECT_EQ(OVNHelper::decodeToFont({{"NAME", ""}, {"SIZE", "-3"}}).pixelSize(), 10);

    EXPECT_EQ(OVNHelper::decodeStringFromDict(QVariant()), "");
    EXPECT_FALSE(OVNHelper::decodeStringFromDict(QVariant()).isNull());
    EXPECT_EQ(OVNHelper::decodeStringFromDict(QString("Title")), "Title");
}

TEST(FontCoding, InstalledFontsRoundTrip)
{
    QFont font(QFontInfo(QFont()).family());
    font.setPixelSize(14);
    font.setBold(true);
    font.setItalic(true);
    const QVariantMap coded = OVNHelper::encodeFont(font);
    EXPECT_EQ(coded["SIZE"], "14.0000");
    const QFont decoded = OVNHelper::decodeToFont(coded);
    EXPECT_EQ(decoded.family(), font.family());
    EXPECT_EQ(decoded.pixelSize(), 14);
    EXPECT_TRUE(decoded.bold());
    EXPECT_TRUE(decoded.italic());

    const QFont plain = OVNHelper::decodeToFont(OVNHelper::encodeFontWithName(font.family(), 11.4));
    EXPECT_EQ(plain.family(), font.family());
    EXPECT_FALSE(plain.bold());
    EXPECT_EQ(plain.pixelSize(), 11);
}
