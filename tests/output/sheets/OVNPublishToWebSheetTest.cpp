#include "output/OVNOutputSheets.h"

#include "../../support/ScriptedAlertPresenter.h"

#include <QDir>
#include <QFile>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

// The sheet's end: one alert that says where the gallery is, names a picture left out, and offers
// to open the gallery.
TEST(OVNPublishToWebSheetTest, TheEndSaysWhereTheGalleryIsAndWhatWasLeftOut)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    alerts->enqueueAnswers({1}); // "Close": no browser in a test
    QTemporaryDir dir;
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    ASSERT_TRUE(image.save(dir.filePath(QStringLiteral("good.jpg"))));
    QFile junk(dir.filePath(QStringLiteral("junk.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(2000, 'x')) > 0);
    junk.close();
    QList<MediaRecord> records;
    for (const char *name : {"good.jpg", "junk.jpg"}) {
        MediaRecord record;
        record.setField(MediaRecord::AbsolutePath, dir.filePath(QLatin1String(name)));
        record.setField(MediaRecord::DisplayTag, QLatin1String(name));
        records.append(record);
    }

    // On a shown window, as from the catalog window: its progress sheet shows, and goes at the end.
    QWidget window;
    window.resize(400, 300);
    window.show();
    QPointer<OVNPublishToWebSheet> sheet = new OVNPublishToWebSheet(&window);
    sheet->setFiles(records);
    ASSERT_TRUE(sheet->publish(&window)) << "no web gallery themes";
    sheet->folderField()->setText(dir.filePath(QStringLiteral("web")));
    sheet->accept();
    QTRY_COMPARE_WITH_TIMEOUT(alerts->shown().size(), 1, 30000);
    const Alert end = alerts->shown().first();
    const QString gallery = QDir(dir.filePath(QStringLiteral("web"))).filePath(QStringLiteral("Ostrevan PublishToWeb"));
    EXPECT_TRUE(end.informativeText.contains(gallery)) << end.informativeText.toStdString();
    EXPECT_TRUE(end.informativeText.contains(QStringLiteral("junk.jpg"))) << end.informativeText.toStdString();
    EXPECT_FALSE(end.informativeText.contains(QStringLiteral("good.jpg")));
    EXPECT_EQ(end.buttons.value(0), QStringLiteral("Open Gallery"));
    QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);
    Alerts::setPresenter(nullptr);
}

// The preview under the theme pop-up follows the chosen theme; a theme without a picture shows
// none rather than the last theme's.
TEST(OVNPublishToWebSheetTest, ThePreviewFollowsTheThemePopUp)
{
    QTemporaryDir resources;
    const QDir root(resources.filePath(QStringLiteral("PublishToWeb")));
    const struct {
        const char *folder;
        const char *title;
        Qt::GlobalColor preview; // Qt::transparent: the theme has no preview
    } themes[] = {
        {"a-red", "Red", Qt::red},
        {"b-bare", "Bare", Qt::transparent},
        {"c-blue", "Blue", Qt::blue},
    };
    for (const auto &theme : themes) {
        ASSERT_TRUE(root.mkpath(QLatin1String(theme.folder)));
        QFile info(root.filePath(QLatin1String(theme.folder) + QStringLiteral("/info.xml")));
        ASSERT_TRUE(info.open(QIODevice::WriteOnly));
        info.write(QByteArray("{ displaytag = ") + theme.title + "; }");
        info.close();
        if (theme.preview == Qt::transparent)
            continue;
        QImage picture(480, 320, QImage::Format_RGB32);
        picture.fill(theme.preview);
        ASSERT_TRUE(picture.save(root.filePath(QLatin1String(theme.folder) + QStringLiteral("/preview.jpg"))));
    }
    qputenv("OVN_RESOURCES_DIR", resources.path().toUtf8());
    QPointer<OVNPublishToWebSheet> sheet = new OVNPublishToWebSheet;
    ASSERT_TRUE(sheet->publish(nullptr));
    QComboBox *popUp = sheet->themeSelection();
    ASSERT_EQ(popUp->count(), 3);

    // The middle of the preview: the theme's colour, or no picture at all.
    const auto shown = [&]() -> QColor {
        const QPixmap pixmap = sheet->themePreview()->pixmap();
        if (pixmap.isNull())
            return Qt::transparent;
        const QImage image = pixmap.toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    };
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 40
               && a.alpha() == b.alpha();
    };
    EXPECT_TRUE(near(shown(), Qt::red)) << "the first theme's preview shows at once";
    for (const int index : {2, 1, 0, 2}) {
        popUp->setCurrentIndex(index);
        EXPECT_EQ(popUp->currentText(), QLatin1String(themes[index].title));
        EXPECT_TRUE(near(shown(), QColor(themes[index].preview))) << themes[index].title;
    }
    sheet->reject();
    qunsetenv("OVN_RESOURCES_DIR");
    // The shipped theme brings its preview.
    const QImage shipped(QStringLiteral(OVN_SOURCE_DIR "/resources/PublishToWeb/Plain/preview.jpg"));
    EXPECT_FALSE(shipped.isNull());
}
