#include "output/OVNOutputSheets.h"
#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Whether something bright (the caption's white text) is drawn near the top-right corner.
bool captioned(const QImage &image)
{
    for (int y = 10; y < 40 && y < image.height(); ++y)
        for (int x = image.width() - 90; x < image.width() - 8; ++x)
            if (qGray(image.pixel(x, y)) > 200)
                return true;
    return false;
}

} // namespace

TEST(OVNSendImagesAsMailSheetTest, SizeAndCaptionChoicesReachTheAttachments)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("pic.jpg"));
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(picture, "jpeg"));
    // A stand-in mail program that records its arguments, one a line.
    const QString stub = dir.filePath(QStringLiteral("stub-mail"));
    const QString recorded = dir.filePath(QStringLiteral("args"));
    QFile script(stub);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    UserDefaults::standard().setString(stub, QStringLiteral("MailCommand"));
    MediaRecord record;
    record.setField(MediaRecord::AbsolutePath, picture);
    record.setField(MediaRecord::Orientation, QStringLiteral("1"));

    const struct {
        int index;
        bool caption;
        int side; // 0: the original goes
        bool captionDrawn;
    } cases[] = {{1, true, 320, true}, {2, false, 640, false}, {5, true, 0, false}};
    for (const auto &c : cases) {
        QFile::remove(recorded);
        QPointer<OVNSendImagesAsMailSheet> sheet = new OVNSendImagesAsMailSheet;
        sheet->setFiles({record});
        sheet->beginSheetModalForWindow(nullptr);
        sheet->watermarkSwitch()->setChecked(c.caption);
        sheet->watermarkAuthor()->setText(QStringLiteral("Ann Author"));
        sheet->sizeSelector()->setCurrentIndex(c.index);
        sheet->accept();
        QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);

        QFile args(recorded);
        ASSERT_TRUE(args.open(QIODevice::ReadOnly)) << c.index;
        const QStringList lines = QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'));
        const qsizetype attach = lines.indexOf(QStringLiteral("--attach"));
        ASSERT_GE(attach, 0) << c.index;
        const QString attached = lines.value(attach + 1);
        if (c.side == 0) {
            // The original goes as a private copy under its own name, byte for byte.
            EXPECT_NE(attached, picture);
            EXPECT_EQ(QFileInfo(attached).fileName(), QFileInfo(picture).fileName());
            QFile sent(attached), original(picture);
            ASSERT_TRUE(sent.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
            EXPECT_EQ(sent.readAll(), original.readAll());
            continue;
        }
        EXPECT_TRUE(QFileInfo(attached).fileName().startsWith(QStringLiteral("Ostrevan pic.jpg ")))
            << qPrintable(attached);
        const QImage sent(attached);
        EXPECT_EQ(sent.width(), c.side) << c.index;
        EXPECT_EQ(captioned(sent), c.captionDrawn) << c.index;
        QFile::remove(attached);
    }
    UserDefaults::standard().removeObjectForKey(QStringLiteral("MailCommand"));
}
