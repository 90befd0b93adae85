#include "platform/DiscBurn.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/FileAccess.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(DiscBurnTest, ImageFileGivesEveryFileBackUnderItsName)
{
    const QString xorriso = QStandardPaths::findExecutable(QStringLiteral("xorriso"));
    if (xorriso.isEmpty())
        GTEST_SKIP() << "xorriso is not installed";
    QTemporaryDir dir;
    QByteArray big(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 3);
    const QStringList files = {
        writeFile(dir.filePath("one/a.bin"), big), writeFile(dir.filePath("two/a.bin"), "second"),
        writeFile(dir.filePath(QString::fromUtf8("one/A long name with blanks, \"quotes\" and ünï, well past "
                                                 "sixty-four characters.txt")),
                  "long")};
    EXPECT_EQ(DiscBurn::rootNames(files).mid(0, 2), QStringList({"a.bin", "a (2).bin"}));

    QStringList texts;
    const QString image = dir.filePath("disc.iso");
    const auto result =
        DiscBurn::burnToImageFile(image, "Backup", files, 0, [&](const QString &text, int) { texts.append(text); });
    ASSERT_EQ(result.outcome, DiscBurn::Outcome::Done) << result.text.toStdString();
    EXPECT_EQ(result.files, 3);
    EXPECT_EQ(texts.last(), QStringLiteral("Disc successfully finished. Ejecting..."));

    const QString out = dir.filePath("out");
    QProcess extract;
    extract.start(xorriso, {"-osirrox", "on", "-indev", image, "-extract", "/", out});
    ASSERT_TRUE(extract.waitForFinished(60000));
    EXPECT_EQ(readFile(out + "/a.bin"), big);
    EXPECT_EQ(readFile(out + "/a (2).bin"), QByteArray("second"));
    EXPECT_EQ(readFile(out + "/" + QFileInfo(files.at(2)).fileName()), QByteArray("long"));
}

// A disc holds the files as they were when they were walked to: one whose name is taken by another
// file, or by a link to a private one, while the disc is written (here when burning starts, before
// the writer reaches it behind a large file) still goes on the disc with its own bytes.
TEST(DiscBurnTest, AFileRenamedOverWhileTheDiscIsWrittenGoesOnAsItWasWalkedTo)
{
    const QString xorriso = QStandardPaths::findExecutable(QStringLiteral("xorriso"));
    if (xorriso.isEmpty())
        GTEST_SKIP() << "xorriso is not installed";
    for (const bool asLink : {false, true}) {
        QTemporaryDir dir;
        const QString big = writeFile(dir.filePath("a.bin"), QByteArray(24 * 1024 * 1024, 'a'));
        const QString named = writeFile(dir.filePath("b.bin"), QByteArray(4096, 'b'));
        const QString secret = writeFile(dir.filePath("private/secret.bin"), QByteArray(4096, 's'));
        bool swapped = false;
        const auto swap = [&](const QString &text, int) {
            if (swapped || text != QStringLiteral("Burning disc..."))
                return;
            swapped = true;
            const QString beside = dir.filePath("c.bin");
            if (asLink)
                ASSERT_TRUE(QFile::link(secret, beside));
            else
                writeFile(beside, QByteArray(4096, 'c'));
            ASSERT_EQ(::rename(QFile::encodeName(beside).constData(), QFile::encodeName(named).constData()), 0);
        };
        const QString image = dir.filePath("disc.iso");
        const auto result = DiscBurn::burnToImageFile(image, "Backup", {big, named}, 0, swap);
        ASSERT_EQ(result.outcome, DiscBurn::Outcome::Done) << result.text.toStdString();
        ASSERT_TRUE(swapped);
        const QString out = dir.filePath("out");
        QProcess extract;
        extract.start(xorriso, {"-osirrox", "on", "-indev", image, "-extract", "/", out});
        ASSERT_TRUE(extract.waitForFinished(60000));
        const QByteArray onDisc = readFile(out + "/b.bin");
        EXPECT_TRUE(onDisc == QByteArray(4096, 'b'))
            << (asLink ? "renamed over by a link: " : "renamed over by a file: ") << onDisc.left(8).constData();
        EXPECT_EQ(readFile(out + "/a.bin").size(), 24 * 1024 * 1024);
    }
}

TEST(DiscBurnTest, RefusalsAndCancelLeaveNoImage)
{
    QTemporaryDir dir;
    const QString small = writeFile(dir.filePath("small.bin"), QByteArray(100000, 'x'));
    const QString gone = dir.filePath("gone.bin");
    const QString large = writeFile(dir.filePath("large.bin"), QByteArray(40 * 1024 * 1024, 'y'));
    const struct {
        QStringList files;
        qint64 medium;
        int cancelAt;
        DiscBurn::Outcome outcome;
        const char *mentions;
    } cases[] = {
        {{small}, 50000, -1, DiscBurn::Outcome::Refused, "50000"},
        {{small, gone}, 0, -1, DiscBurn::Outcome::Refused, "gone.bin"},
        {{large}, 0, 30, DiscBurn::Outcome::Cancelled, "released"},
    };
    for (const auto &c : cases) {
        const QString image = dir.filePath("disc.iso");
        const auto result = DiscBurn::burnToImageFile(image, "Backup", c.files, c.medium, {}, c.cancelAt);
        EXPECT_EQ(result.outcome, c.outcome) << c.mentions;
        EXPECT_TRUE(result.text.contains(QLatin1String(c.mentions))) << result.text.toStdString();
        EXPECT_FALSE(QFile::exists(image)) << c.mentions;
    }
    // A file that is another account's link (to this account's private file, say) is not put on
    // the disc: refused, naming the link.
    if (::geteuid() == 0) {
        const QString planted = dir.filePath("planted.bin");
        ASSERT_EQ(::symlink(QFile::encodeName(small).constData(), QFile::encodeName(planted).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(planted).constData(), 65534, ~gid_t(0)), 0);
        const QString image = dir.filePath("disc.iso");
        const auto result = DiscBurn::burnToImageFile(image, "Backup", {planted}, 0, {});
        EXPECT_EQ(result.outcome, DiscBurn::Outcome::Refused);
        EXPECT_TRUE(result.text.contains("planted.bin") && result.text.contains(FileAccess::foreignLinkReason()))
            << result.text.toStdString();
        EXPECT_FALSE(QFile::exists(image));
    }
    EXPECT_EQ(DiscBurn::mediaAt("stdio:" + dir.filePath("new.iso")), DiscBurn::Media::Writable);
    // The drive was released: the next burn grabs it at once.
    const auto again = DiscBurn::burnToImageFile(dir.filePath("disc.iso"), "Backup", {small}, 0, {});
    EXPECT_EQ(again.outcome, DiscBurn::Outcome::Done) << again.text.toStdString();
    EXPECT_GT(QFileInfo(dir.filePath("disc.iso")).size(), 100000);
}

// An image file into a folder that stopped answering (its calls held as on a stalled mount) is
// refused at the output limit, naming the folder, and nothing is written.
TEST(DiscBurnTest, AnImageIntoAStalledFolderIsRefusedNamingIt)
{
    QTemporaryDir dir;
    const QString small = writeFile(dir.filePath("small.bin"), QByteArray(1000, 'x'));
    const QString folder = dir.filePath("stalled");
    QDir().mkpath(folder);
    const std::chrono::milliseconds previous = FileAccess::outputLimit();
    FileAccess::setOutputLimit(std::chrono::milliseconds(300));
    auto released = std::make_shared<std::promise<void>>();
    const std::shared_future<void> release = released->get_future().share();
    const auto stuck = std::make_shared<std::atomic<int>>(0);
    FileAccess::setOutputCallHook([=, key = QDir::cleanPath(folder)](const QString &called) {
        if (called != key)
            return;
        ++*stuck;
        release.wait_for(std::chrono::seconds(60));
        --*stuck;
    });
    const QString image = folder + QStringLiteral("/disc.iso");
    const auto result = DiscBurn::burnToImageFile(image, "Backup", {small}, 0, {});
    EXPECT_EQ(result.outcome, DiscBurn::Outcome::Refused);
    EXPECT_TRUE(result.text.contains(FileAccess::notAnsweringReason(folder))) << result.text.toStdString();
    FileAccess::setOutputCallHook({});
    released->set_value();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (stuck->load() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(QFile::exists(image));
    FileAccess::setOutputLimit(previous);
}
