#include "tests/support/TestEnvironment.h"
#include "../../support/ScriptedAlertPresenter.h"
#include "output/OVNDiscBurnerSheet.h"
#include "platform/DiscDrives.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using Media = DiscBurn::Media;
using Tray = DiscDrives::Tray;

// Drives whose state the test sets; it notes which are held, and its burn runs until cancelled.
class FakeDrives : public DiscDrives
{
public:
    struct Drive {
        Media media = Media::Unknown;
        Tray tray = Tray::Closed;
    };

    void set(const QString &address, Media media, Tray tray = Tray::Closed)
    {
        QMutexLocker locker(&mutex);
        drives[address] = {media, tray};
    }
    void remove(const QString &address)
    {
        QMutexLocker locker(&mutex);
        drives.remove(address);
    }
    QSet<QString> heldNow() const
    {
        QMutexLocker locker(&mutex);
        return held;
    }

    QStringList scan() override
    {
        QMutexLocker locker(&mutex);
        heldDuringScan = heldDuringScan || !held.isEmpty();
        return drives.keys();
    }
    Tray tray(const QString &address) override
    {
        QMutexLocker locker(&mutex);
        return drives.value(address).tray;
    }
    bool grab(const QString &address) override
    {
        QMutexLocker locker(&mutex);
        if (!drives.contains(address) || takenElsewhere.contains(address))
            return false;
        held.insert(address);
        return true;
    }
    Media media() override
    {
        QMutexLocker locker(&mutex);
        return held.size() == 1 ? drives.value(*held.begin()).media : Media::Unknown;
    }
    void release() override
    {
        QMutexLocker locker(&mutex);
        held.clear();
    }
    bool moveTray(const QString &address, bool open) override
    {
        QMutexLocker locker(&mutex);
        drives[address].tray = open ? Tray::Open : Tray::Closed;
        return true;
    }
    bool eject(const QString &address) override { return moveTray(address, true); }
    DiscBurn::Result burn(const QString &, const QString &, const QStringList &, qint64,
                          const std::function<void(const QString &, int)> &status,
                          const std::atomic_bool *cancelled) override
    {
        status(QStringLiteral("Writing Track..."), 30);
        while (!cancelled->load())
            QThread::msleep(5);
        return {DiscBurn::Outcome::Cancelled, QStringLiteral("drive released"), 0, 0};
    }

    mutable QMutex mutex;
    QMap<QString, Drive> drives;
    QSet<QString> held;
    QSet<QString> takenElsewhere;
    bool heldDuringScan = false;
};

const QString verified = QStringLiteral("Disc verified. Click 'Burn Disc' to start.");
const QString imageReady = QStringLiteral("Ready to write the disc image. Click 'Burn Disc' to start.");

} // namespace

// Without drives the pop-up shows its one item selected, not an empty box; a drive that comes
// later is selected in its place.
TEST(OVNDiscBurnerSheetTest, WithoutDrivesTheImageFileItemIsShown)
{
    auto drives = std::make_shared<FakeDrives>();
    QPointer<OVNDiscBurnerSheet> sheet = new OVNDiscBurnerSheet(nullptr, drives);
    sheet->setFiles({QStringLiteral("/nowhere/a.jpg")});
    sheet->burn();
    QTRY_VERIFY_WITH_TIMEOUT(sheet->statusText()->text().startsWith(QStringLiteral("No disc burner was found.")),
                             10000);
    EXPECT_EQ(sheet->deviceSelection()->count(), 1);
    EXPECT_EQ(sheet->deviceSelection()->currentIndex(), 0);
    EXPECT_EQ(sheet->deviceSelection()->currentText(), QStringLiteral("Image file..."));
    EXPECT_FALSE(sheet->okButton()->isEnabled());

    drives->set(QStringLiteral("/dev/sr0"), Media::Writable);
    QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), verified, 20000);
    EXPECT_EQ(sheet->deviceSelection()->currentText(), QStringLiteral("/dev/sr0"));
    sheet->cancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);
}

TEST(OVNDiscBurnerSheetTest, OnlyTheSelectedDriveIsHeldAndSpeaks)
{
    auto drives = std::make_shared<FakeDrives>();
    const QString sr0 = QStringLiteral("/dev/sr0"), sr1 = QStringLiteral("/dev/sr1");
    drives->set(sr0, Media::Writable);
    drives->set(sr1, Media::Full);
    QPointer<OVNDiscBurnerSheet> sheet = new OVNDiscBurnerSheet(nullptr, drives);
    sheet->setFiles({QStringLiteral("/nowhere/a.jpg")});
    sheet->burn();
    // The first drive is selected, although the last one would have spoken before.
    QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), verified, waitCeilingMs);

    const struct {
        const char *step;
        std::function<void()> change;
        const char *status;
        const char *button;
        QSet<QString> held;
    } steps[] = {
        {"select the other drive",
         [&] { sheet->deviceSelection()->setCurrentIndex(1); },
         "Cannot write to inserted disc.",
         "Eject Disc",
         {sr1}},
        {"a change on the drive not selected",
         [&] {
             drives->set(sr0, Media::None);
             drives->set(sr1, Media::Writable);
             sheet->refresh();
         },
         "Disc verified. Click 'Burn Disc' to start.",
         "Burn Disc",
         {sr1}},
        {"tray opened: read from the drive, not held",
         [&] {
             drives->set(sr1, Media::None, Tray::Open);
             sheet->refresh();
         },
         "Please insert an empty disc.",
         "Close Tray",
         {}},
        {"Close Tray clicked", [&] { sheet->okButton()->click(); }, "Please insert an empty disc.", "Open Tray", {sr1}},
        {"selected drive gone: the first one",
         [&] {
             drives->remove(sr1);
             sheet->refresh();
         },
         "Please insert an empty disc.",
         "Open Tray",
         {sr0}},
        {"held by another program",
         [&] {
             QMutexLocker locker(&drives->mutex);
             drives->takenElsewhere.insert(sr0);
             locker.unlock();
             sheet->refresh();
         },
         "The drive cannot be used now. Another program may be using it.",
         "",
         {}},
    };
    for (const auto &s : steps) {
        s.change();
        QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), QString::fromUtf8(s.status), waitCeilingMs);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->okButton()->isEnabled(), *s.button != 0, waitCeilingMs);
        if (*s.button) {
            EXPECT_EQ(sheet->okButton()->text(), QString::fromUtf8(s.button)) << s.step;
        }
        QTRY_COMPARE_WITH_TIMEOUT(drives->heldNow(), s.held, waitCeilingMs);
    }
    EXPECT_FALSE(drives->heldDuringScan);
    sheet->cancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), waitCeilingMs);
    QTRY_VERIFY_WITH_TIMEOUT(drives->heldNow().isEmpty(), waitCeilingMs);
}

TEST(OVNDiscBurnerSheetTest, CancelMidWriteAsksAndCloseIsRefused)
{
    ScriptedAlertPresenter *presenter = ScriptedAlertPresenter::install();
    auto drives = std::make_shared<FakeDrives>();
    drives->set(QStringLiteral("/dev/sr0"), Media::Writable);
    QPointer<OVNDiscBurnerSheet> sheet = new OVNDiscBurnerSheet(nullptr, drives);
    sheet->setFiles({QStringLiteral("/nowhere/a.jpg")});
    sheet->burn();
    QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), verified, waitCeilingMs);
    sheet->okButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), QStringLiteral("Writing Track..."), waitCeilingMs);
    EXPECT_TRUE(OVNDiscBurnerSheet::anyWriting());

    presenter->enqueueAnswers({0}); // "Continue Burning"
    EXPECT_FALSE(sheet->close());
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_EQ(presenter->shown()[0].message, QStringLiteral("Stop burning the disc?"));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->isWriting());

    presenter->enqueueAnswers({1}); // "Stop Burning"
    sheet->cancelButton()->click();
    EXPECT_EQ(presenter->shown().size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), waitCeilingMs);
    EXPECT_FALSE(OVNDiscBurnerSheet::anyWriting());
    QTRY_VERIFY_WITH_TIMEOUT(drives->heldNow().isEmpty(), waitCeilingMs);
    Alerts::setPresenter(nullptr);
}

// The real engine on the image-file pseudo drive: a file gone before the burn is named and
// nothing is written; otherwise the image is written and the sheet ends by itself.
TEST(OVNDiscBurnerSheetTest, BurnsAnImageFile)
{
    ScriptedAlertPresenter *presenter = ScriptedAlertPresenter::install();
    QTemporaryDir dir;
    const QString here = dir.filePath(QStringLiteral("a.bin"));
    QFile file(here);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300000, 'x'));
    file.close();

    const struct {
        QStringList files;
        bool written;
    } cases[] = {{{here, dir.filePath(QStringLiteral("gone.bin"))}, false}, {{here}, true}};
    for (const auto &c : cases) {
        const QString image = dir.filePath(QStringLiteral("disc.iso"));
        QPointer<OVNDiscBurnerSheet> sheet = new OVNDiscBurnerSheet;
        QStringList shown;
        QObject::connect(sheet, &OVNDiscBurnerSheet::statusShown, [&](const QString &text) { shown.append(text); });
        sheet->setFiles(c.files);
        sheet->burn();
        sheet->useImageFile(image);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), imageReady, 30000);
        EXPECT_EQ(sheet->okButton()->text(), QStringLiteral("Burn Disc"));
        const qsizetype alerts = presenter->shown().size();
        sheet->okButton()->click();
        if (!c.written) {
            QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), alerts + 1, 30000);
            EXPECT_TRUE(presenter->shown().last().informativeText.contains(QStringLiteral("gone.bin")));
            QTRY_COMPARE_WITH_TIMEOUT(sheet->statusText()->text(), imageReady, 30000);
            EXPECT_FALSE(QFile::exists(image));
            sheet->cancelButton()->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);
        EXPECT_EQ(QFile::exists(image), c.written) << qPrintable(shown.join(" / "));
        if (c.written) {
            EXPECT_GT(QFileInfo(image).size(), 300000);
            EXPECT_EQ(shown.last(), QStringLiteral("The disc image was written."));
            ASSERT_EQ(presenter->shown().size(), alerts + 1);
            EXPECT_TRUE(presenter->shown().last().informativeText.contains(image));
        }
        for (const QString &status : shown) {
            EXPECT_FALSE(status.contains(QStringLiteral("verified"))) << qPrintable(status);
        }
    }
    Alerts::setPresenter(nullptr);
}
