#include "output/OVNOutputSheets.h"

#include "../../support/ScriptedAlertPresenter.h"

#include <QDir>
#include <QFile>
#include <QImage>
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
    const Alert &end = alerts->shown().first();
    const QString gallery = QDir(dir.filePath(QStringLiteral("web"))).filePath(QStringLiteral("Ostrevan PublishToWeb"));
    EXPECT_TRUE(end.informativeText.contains(gallery)) << end.informativeText.toStdString();
    EXPECT_TRUE(end.informativeText.contains(QStringLiteral("junk.jpg"))) << end.informativeText.toStdString();
    EXPECT_FALSE(end.informativeText.contains(QStringLiteral("good.jpg")));
    EXPECT_EQ(end.buttons.value(0), QStringLiteral("Open Gallery"));
    QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);
    Alerts::setPresenter(nullptr);
}
