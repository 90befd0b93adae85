#include "platform/Resources.h"
#include "uikit/OVNIconSetHelper.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

// A resources folder of the test's own, used through the environment variable.
class IconSetFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_resources.isValid());
        m_previous = qgetenv(Resources::environmentVariable);
        qputenv(Resources::environmentVariable, m_resources.path().toUtf8());
        QDir(m_resources.path()).mkpath(QStringLiteral("IconSets/Velmor Aqua"));
        QDir(m_resources.path()).mkpath(QStringLiteral("IconSets/Night"));
    }
    void TearDown() override
    {
        if (m_previous.isNull())
            qunsetenv(Resources::environmentVariable);
        else
            qputenv(Resources::environmentVariable, m_previous);
    }
    QString iconSets() const { return m_resources.filePath(QStringLiteral("IconSets")); }
    void writeFile(const QString &relative, const QByteArray &contents)
    {
        QFile file(m_resources.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    void writeImage(const QString &relative, const QColor &color)
    {
        QImage image(8, 8, QImage::Format_ARGB32);
        image.fill(color);
        ASSERT_TRUE(image.save(m_resources.filePath(relative)));
    }

    QTemporaryDir m_resources;
    QByteArray m_previous;
};

} // namespace

TEST_F(IconSetFixture, SchemeFallsBackToVelmorAqua)
{
    writeFile(QStringLiteral("IconSets/Plain"), "not a folder");
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QString(), iconSets()), QStringLiteral("Velmor Aqua"));
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QStringLiteral("Missing"), iconSets()), QStringLiteral("Velmor Aqua"));
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QStringLiteral("Plain"), iconSets()), QStringLiteral("Velmor Aqua"));
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QStringLiteral(".."), iconSets()), QStringLiteral("Velmor Aqua"));
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QStringLiteral("Night"), iconSets()), QStringLiteral("Night"));
    EXPECT_EQ(OVNIconSetHelper(QStringLiteral("Night")).defaultIconSet(), QStringLiteral("Night"));
    // No resources at all still names the default set.
    EXPECT_EQ(OVNIconSetHelper::resolveIconSet(QStringLiteral("Night"), QString()), QStringLiteral("Velmor Aqua"));
}

TEST_F(IconSetFixture, TifIsPreferredToPngAndMissingIconsAreNull)
{
    writeImage(QStringLiteral("IconSets/Night/Folder.png"), Qt::red);
    writeImage(QStringLiteral("IconSets/Night/Folder.tif"), Qt::green);
    const OVNIconSetHelper helper(QStringLiteral("Night"));
    EXPECT_TRUE(helper.iconFilePath(QStringLiteral("Folder"), QStringLiteral("Night")).endsWith(QLatin1String(".tif")));
    const QImage icon = helper.toolbarIconFor(QStringLiteral("Folder"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(QColor(icon.pixel(2, 2)), QColor(Qt::green));
    EXPECT_TRUE(helper.toolbarIconFor(QStringLiteral("Mail")).isNull());
    EXPECT_TRUE(helper.toolbarIconFor(QStringLiteral("Folder"), QStringLiteral("Nowhere")).isNull());
    EXPECT_TRUE(helper.toolbarIconFor(QStringLiteral("../Night/Folder"), QStringLiteral("Velmor Aqua")).isNull());
}

TEST_F(IconSetFixture, ColoursComeFromInfoXmlOrAreWhite)
{
    writeFile(QStringLiteral("IconSets/Night/info.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>displaytag</key><string>Night</string>"
              "<key>PreviewBackgroundColor</key><dict>"
              "<key>RED</key><string>0.2000</string><key>GREEN</key><string>0.4000</string>"
              "<key>BLUE</key><string>0.6000</string><key>ALPHA</key><string>1.0000</string></dict>"
              "<key>DetailsBackgroundColor</key><string>0.5</string>"
              "</dict></plist>");
    const OVNIconSetHelper helper(QStringLiteral("Night"));
    const QColor preview = helper.colorFor(QStringLiteral("PreviewBackgroundColor"));
    EXPECT_NEAR(preview.redF(), 0.2, 1e-3);
    EXPECT_NEAR(preview.greenF(), 0.4, 1e-3);
    EXPECT_NEAR(preview.blueF(), 0.6, 1e-3);
    EXPECT_EQ(helper.colorFor(QStringLiteral("DetailsBackgroundColor")), QColor(Qt::white));
    EXPECT_EQ(helper.colorFor(QStringLiteral("DBViewBackgroundColor")), QColor(Qt::white));
    EXPECT_EQ(helper.colorFor(QStringLiteral("PreviewBackgroundColor"), QStringLiteral("Velmor Aqua")),
              QColor(Qt::white));
    writeFile(QStringLiteral("IconSets/Night/info.xml"), "<plist><array><string>x</string></array></plist>");
    EXPECT_EQ(helper.colorFor(QStringLiteral("PreviewBackgroundColor")), QColor(Qt::white));
    writeFile(QStringLiteral("IconSets/Night/info.xml"), "<plist><dict><key>unterminated");
    EXPECT_EQ(helper.colorFor(QStringLiteral("PreviewBackgroundColor")), QColor(Qt::white));
}

TEST(OVNIconSetHelperTest, OutlineIconNames)
{
    using Helper = OVNIconSetHelper;
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("S"), 16.0f), QStringLiteral("CategoryMini"));
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("S"), 16.5f), QStringLiteral("Category"));
    EXPECT_EQ(Helper::outlineIconNameForType(QString(), 24.0f), QStringLiteral("Collection"));
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("EXPANDABLE"), 12.0f), QStringLiteral("DBMini"));
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("M"), 20.0f), QStringLiteral("SurveillanceFolder"));
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("I"), 16.0f), QStringLiteral("SmartFolderMini"));
    EXPECT_EQ(Helper::outlineIconNameForType(QStringLiteral("F"), 17.0f), QStringLiteral("Folder"));
    EXPECT_TRUE(Helper::outlineIconNameForType(QStringLiteral("X"), 16.0f).isEmpty());
}

// The shipped default set holds every icon the program asks for, and its colours.
TEST(OVNIconSetHelperTest, VelmorAquaIsComplete)
{
    const QByteArray previous = qgetenv(Resources::environmentVariable);
    qputenv(Resources::environmentVariable, QByteArrayLiteral(OVN_SOURCE_DIR "/resources"));
    const OVNIconSetHelper helper{QString()};
    EXPECT_EQ(helper.defaultIconSet(), QStringLiteral("Velmor Aqua"));
    const QStringList names = {QStringLiteral("Adjust"),
                               QStringLiteral("AutoFill"),
                               QStringLiteral("Export"),
                               QStringLiteral("Mail"),
                               QStringLiteral("Burn"),
                               QStringLiteral("Capture"),
                               QStringLiteral("Delete"),
                               QStringLiteral("ViewIconOSV"),
                               QStringLiteral("ViewIconIPhoto"),
                               QStringLiteral("ViewIconIPhoto2"),
                               QStringLiteral("ViewIconList"),
                               QStringLiteral("ViewOrder"),
                               QStringLiteral("CtrlPreviewCollapseMini"),
                               QStringLiteral("CtrlPreviewExpandMini")};
    for (const QString &name : names)
        EXPECT_FALSE(helper.toolbarIconFor(name).isNull()) << qPrintable(name);
    for (const char *kind : {"EXPANDABLE", "F", "C", "M", "I", "S"}) {
        for (float height : {16.0f, 24.0f}) {
            const QImage icon = helper.outlineIconForType(QLatin1String(kind), height);
            EXPECT_FALSE(icon.isNull()) << kind << " " << height;
            EXPECT_EQ(icon.deviceIndependentSize().height(), height > 16 ? 32 : 16) << kind;
        }
    }
    for (const char *color :
         {"DBViewBackgroundColor", "PreviewBackgroundColor", "DetailsBackgroundColor", "LightTableBackgroundColor"})
        EXPECT_NE(helper.colorFor(QLatin1String(color)), QColor(Qt::white)) << color;
    if (previous.isNull())
        qunsetenv(Resources::environmentVariable);
    else
        qputenv(Resources::environmentVariable, previous);
}
