// The layout editor's window, driven offscreen as a user would: each control edits the selected
// layout and stores the whole list at once.
#include "browser/OVNThumbnailHelper.h"
#include "browser/OVNThumbnailLayoutListModel.h"
#include "browser/OVNUDFThumbnails.h"
#include "formats/OVNHelper.h"
#include "platform/UserDefaults.h"
#include "../support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

const QString listKey = QStringLiteral("ThumbnailLayoutList");

class UDFThumbnailsWindow : public ::testing::Test
{
protected:
    template <typename T>
    T *control(const char *key)
    {
        T *found = editor.findChild<T *>(QString::fromLatin1(key));
        EXPECT_NE(found, nullptr) << key;
        return found;
    }
    void selectRow(int row)
    {
        editor.layoutList()->clearSelection();
        editor.layoutList()->setCurrentIndex(editor.model()->index(row));
    }
    QVariantMap stored(int row) { return defaults.arrayForKey(listKey).value(row).toMap(); }

    UserDefaults defaults;
    OVNUDFThumbnails editor{defaults};
};

} // namespace

TEST_F(UDFThumbnailsWindow, EditsStoreTheWholeListOnlyWithOneRowSelected)
{
    editor.setSamplePicture(QImage(200, 100, QImage::Format_RGB32));
    ASSERT_EQ(editor.model()->rowCount(), 4);
    EXPECT_EQ(editor.model()->selectedRow(), 0);
    EXPECT_FALSE(defaults.contains(listKey));

    // One check box stores all four layouts.
    control<QCheckBox>("udfEnableFrame")->click();
    ASSERT_EQ(defaults.arrayForKey(listKey).size(), 4);
    EXPECT_EQ(stored(0).value("udfEnableFrame"), QVariant("0"));
    EXPECT_EQ(stored(2), OVNThumbnailHelper::getLayoutForThumbnail(2));

    // The field pop-ups list the titles in code order.
    QComboBox *bottomLeft = control<QComboBox>("udfBottomBarLeft");
    ASSERT_EQ(bottomLeft->count(), 9);
    EXPECT_EQ(bottomLeft->itemText(3), "Rating");
    bottomLeft->setCurrentIndex(3);
    EXPECT_EQ(stored(0).value("udfBottomBarLeft"), QVariant("3"));

    // Contact Sheet stores no list lines: every line shows "None"; choosing one adds that key only.
    for (int line = 1; line <= 7; ++line)
        EXPECT_EQ(editor.findChild<QComboBox *>(QStringLiteral("udfListLine%1").arg(line))->currentText(), "None");
    control<QComboBox>("udfListLine2")->setCurrentIndex(6);
    EXPECT_EQ(stored(0).value("udfListLine2"), QVariant("6"));
    EXPECT_FALSE(stored(0).contains("udfListLine1"));

    // "List View" turned to the picture cell: page, stored kind and preview follow.
    selectRow(3);
    auto *tabs = control<QStackedWidget>("udfLayoutTabs");
    EXPECT_EQ(tabs->currentIndex(), 1);
    // (At 130 by 130 both kinds draw the same square picture: the list panel gets no width.)
    control<QComboBox>("udfLayoutSelection")->setCurrentIndex(0);
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(stored(3).value("udfLayoutSelection"), QVariant("0"));
    EXPECT_EQ(editor.previewImage().size(), QSize(130, 130));

    // The spacing is stored as typed.
    control<QLineEdit>("udfManualSpacing")->clear();
    control<QLineEdit>("udfManualSpacing")->insert("12pt");
    emit control<QLineEdit>("udfManualSpacing")->textEdited("12pt");
    EXPECT_EQ(stored(3).value("udfManualSpacing"), QVariant("12pt"));

    // Without a single selection the controls are off and nothing is stored.
    const QVariantList before = defaults.arrayForKey(listKey);
    editor.layoutList()->clearSelection();
    EXPECT_EQ(editor.model()->selectedRow(), -1);
    control<QCheckBox>("udfEnableShadow")->setChecked(true);
    control<QComboBox>("udfTopBarLeft")->setCurrentIndex(5);
    editor.layoutList()->selectAll();
    control<QCheckBox>("udfEnableShadow")->setChecked(false);
    EXPECT_EQ(defaults.arrayForKey(listKey), before);
}

TEST_F(UDFThumbnailsWindow, ColourAndFontDialogsRoundTrip)
{
    selectRow(2);
    const QImage before = editor.previewImage();
    control<QToolButton>("udfNameBarBGColor")->click();
    auto *colors = editor.findChild<QColorDialog *>();
    ASSERT_NE(colors, nullptr);
    EXPECT_TRUE(colors->testOption(QColorDialog::ShowAlphaChannel));
    const QColor picked = QColor::fromHsv(120, 255, 255, 128);
    colors->setCurrentColor(picked);
    colors->accept();
    EXPECT_NE(editor.previewImage(), before);
    const QVariantMap color = stored(2).value("udfNameBarBGColor").toMap();
    EXPECT_EQ(color, OVNHelper::encodeColor(picked.toRgb()));
    const QColor decoded = OVNHelper::decodeToColor(color);
    EXPECT_EQ(decoded.rgba(), picked.toRgb().rgba());

    if (!QFontDatabase::hasFamily("DejaVu Sans"))
        GTEST_SKIP() << "DejaVu Sans (fonts-dejavu-core) is not installed";
    control<QPushButton>("udfTopBarFontSelection")->click();
    auto *fonts = editor.findChild<QFontDialog *>();
    ASSERT_NE(fonts, nullptr);
    QFont font("DejaVu Sans");
    font.setPointSize(14);
    font.setBold(true);
    fonts->setCurrentFont(font);
    fonts->accept();
    const QVariantMap storedFont = stored(2).value("udfTopBarFont").toMap();
    EXPECT_EQ(storedFont.value("SIZE"), QVariant("14.0000"));
    const QFont back = OVNHelper::decodeToFont(storedFont);
    EXPECT_EQ(storedFont.value("NAME"), QVariant("DejaVu Sans-Bold"));
    EXPECT_EQ(back.family(), "DejaVu Sans");
    EXPECT_TRUE(back.bold());
    EXPECT_EQ(back.pixelSize(), 14);
    EXPECT_EQ(control<QLineEdit>("udfTopBarFont")->text(), OVNHelper::decodeToFontDescription(storedFont));
    EXPECT_TRUE(control<QLineEdit>("udfTopBarFont")->text().endsWith(", 14"));
}

TEST(UDFThumbnails, RepairedListIsAnnouncedOnceWhenTheEditorOpens)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    UserDefaults defaults(dir.filePath("preferences.plist"));
    ASSERT_TRUE(defaults.setObject(
        QVariantList{QVariantMap{{"NAME", "Mine"}, {"udfListLine4", "40"}, {"udfEnableFrame", "1e308"}}}, listKey));
    OVNUDFThumbnails editor(defaults);
    EXPECT_TRUE(alerts->shown().isEmpty());
    editor.makeKeyAndOrderFront();
    QCoreApplication::processEvents();
    editor.orderOut();
    editor.makeKeyAndOrderFront();
    QCoreApplication::processEvents();
    ASSERT_EQ(alerts->shown().size(), 1);
    const QString text = alerts->shown().first().informativeText;
    EXPECT_TRUE(text.contains("layout 0 \"Mine\", udfListLine4: \"40\" is no list field")) << text.toStdString();
    EXPECT_TRUE(text.contains("layout 3 \"List View\"")) << text.toStdString();
    EXPECT_TRUE(text.contains(dir.filePath("ThumbnailLayoutList.kept.plist"))) << text.toStdString();
    EXPECT_EQ(editor.model()->data(editor.model()->index(0)).toString(), "Mine");
    EXPECT_FALSE(editor.findChild<QCheckBox *>("udfEnableFrame")->isChecked());
}
