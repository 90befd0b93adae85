#include "output/OVNExportImages.h"
#include "output/OVNJpegWriter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include "platform/FileAccess.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace {

MediaRecord recordFor(const QString &path, int orientation = 1)
{
    MediaRecord record;
    record.setField(MediaRecord::AbsolutePath, path);
    record.setField(MediaRecord::Orientation, QString::number(orientation));
    return record;
}

QString writePicture(const QString &path, QSize size)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    EXPECT_TRUE(image.save(path, "jpeg"));
    return path;
}

} // namespace

TEST(OVNExportImagesTest, BoxSizesAndDestinationNames)
{
    const int boxes[][3] = {{0, 0, 256}, {1, 0, 320},  {2, 0, 640}, {3, 0, 1024}, {4, 1600, 1600},
                            {4, 0, 256}, {4, -5, 256}, {5, 0, 256}, {6, 0, 0},    {9, 0, 256}};
    for (const auto &b : boxes)
        EXPECT_EQ(OVNExportImages::boxSize(b[0], b[1]), b[2]) << b[0] << " " << b[1];

    const QStringList sources = {"/a.jpg",          "/one/a.jpg", "/two/A.jpg", "/x/IMG_0001.CR2",
                                 "/y/IMG_0001.jpg", "/z/a-1.jpg", "/noext",     "/w/.hidden"};
    EXPECT_EQ(OVNExportImages::destinationNames(sources, false),
              QStringList({"a.jpg", "a-1.jpg", "A.jpg", "IMG_0001.jpg", "IMG_0001-1.jpg", "a-1-1.jpg", "noext.jpg",
                           ".hidden.jpg"}));
    EXPECT_EQ(
        OVNExportImages::destinationNames(sources, true),
        QStringList({"a.jpg", "a-1.jpg", "A.jpg", "IMG_0001.CR2", "IMG_0001.jpg", "a-1-1.jpg", "noext", ".hidden"}));
}

TEST(OVNExportImagesTest, ExportKeepsWhatItWroteAndListsFailures)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    EXPECT_FALSE(OVNExportImages::folderProblem(dir.filePath(QStringLiteral("none"))).isEmpty());
    EXPECT_TRUE(OVNExportImages::folderProblem(out).isEmpty());

    const QString first = writePicture(dir.filePath(QStringLiteral("one/same.jpg")), {800, 600});
    const QString second = writePicture(dir.filePath(QStringLiteral("two/same.jpg")), {600, 800});
    QFile junk(dir.filePath(QStringLiteral("junk.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(1000, 'j'));
    junk.close();
    // A file that was in the folder before: a JPEG replaces it, a copy does not.
    writePicture(QDir(out).filePath(QStringLiteral("old.jpg")), {10, 10});
    const QString old = writePicture(dir.filePath(QStringLiteral("three/old.jpg")), {100, 50});

    const QList<MediaRecord> records = {recordFor(first), recordFor(second, 6), recordFor(junk.fileName()),
                                        recordFor(dir.filePath(QStringLiteral("vanished.jpg"))), recordFor(old)};
    OVNExportImages::Options options;
    options.sizeIndex = 4;
    options.customSize = 0;
    std::atomic_int calls{0};
    QList<OVNExportImages::Entry> entries =
        OVNExportImages::exportRecords(records, out, options, [&](int) { ++calls; });
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(calls.load(), 5);
    const struct {
        const char *name;
        bool written;
        QSize size;
    } jpegs[] = {{"same.jpg", true, {256, 192}},
                 {"same-1.jpg", true, {256, 192}},
                 {"junk.jpg", false, {}},
                 {"vanished.jpg", false, {}},
                 {"old.jpg", true, {100, 50}}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(QFileInfo(entries[i].destination).fileName(), QLatin1String(jpegs[i].name));
        EXPECT_EQ(entries[i].written, jpegs[i].written) << i;
        EXPECT_EQ(entries[i].written, entries[i].reason.isEmpty()) << i;
        if (jpegs[i].written) {
            EXPECT_EQ(QImageReader(entries[i].destination).size(), jpegs[i].size) << i;
        }
    }
    EXPECT_FALSE(QFile::exists(QDir(out).filePath(QStringLiteral("junk.jpg"))));

    options.sizeIndex = OVNExportImages::unchangedCopyIndex;
    const QString copies = dir.filePath(QStringLiteral("copies"));
    QDir().mkpath(copies);
    QFile::copy(old, QDir(copies).filePath(QStringLiteral("old.jpg")));
    QFile::resize(QDir(copies).filePath(QStringLiteral("old.jpg")), 10);
    entries = OVNExportImages::exportRecords({recordFor(first), recordFor(second), recordFor(old)}, copies, options);
    EXPECT_TRUE(entries[0].written && entries[0].copied);
    EXPECT_TRUE(entries[1].written);
    EXPECT_EQ(QFileInfo(entries[1].destination).fileName(), QLatin1String("same-1.jpg"));
    EXPECT_EQ(QFileInfo(entries[1].destination).size(), QFileInfo(second).size());
    EXPECT_FALSE(entries[2].written);
    EXPECT_EQ(QFileInfo(entries[2].destination).size(), 10);

    // Cancelled before any file starts: nothing is written.
    const std::atomic_bool cancelled{true};
    const QString none = dir.filePath(QStringLiteral("none"));
    QDir().mkpath(none);
    entries = OVNExportImages::exportRecords({recordFor(first)}, none, options, {}, &cancelled);
    EXPECT_FALSE(entries[0].written);
    EXPECT_TRUE(QDir(none).isEmpty());
}

// A destination that stopped answering (its calls held as on a stalled mount): the export gives
// up at the limit and names the folder for every file, the files after the first without a call
// of their own, for JPEGs and unchanged copies alike, and the folder's check says so; once the
// stuck call ends, the folder is written to again.
TEST(OVNExportImagesTest, AStalledDestinationIsGivenUpOnAndNamed)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("stalled"));
    QDir().mkpath(out);
    const QList<MediaRecord> records = {recordFor(writePicture(dir.filePath(QStringLiteral("a.jpg")), {64, 48})),
                                        recordFor(writePicture(dir.filePath(QStringLiteral("b.jpg")), {64, 48})),
                                        recordFor(writePicture(dir.filePath(QStringLiteral("c.jpg")), {64, 48}))};
    const std::chrono::milliseconds previous = FileAccess::outputLimit();
    FileAccess::setOutputLimit(std::chrono::milliseconds(300));
    auto released = std::make_shared<std::promise<void>>();
    const std::shared_future<void> release = released->get_future().share();
    const auto calls = std::make_shared<std::atomic<int>>(0);
    const auto stuck = std::make_shared<std::atomic<int>>(0);
    const QString key = QDir::cleanPath(out);
    FileAccess::setOutputCallHook([=](const QString &folder) {
        if (folder != key)
            return;
        ++*calls;
        ++*stuck;
        release.wait_for(std::chrono::seconds(60));
        --*stuck;
    });
    const QString reason = FileAccess::notAnsweringReason(out);
    int callsOfTheFirst = 0;
    for (const int sizeIndex : {2, OVNExportImages::unchangedCopyIndex}) {
        SCOPED_TRACE(sizeIndex);
        OVNExportImages::Options options;
        options.sizeIndex = sizeIndex;
        const QList<OVNExportImages::Entry> entries =
            OVNExportImages::exportRecords(records, out, options, {}, nullptr);
        ASSERT_EQ(entries.size(), 3);
        for (const OVNExportImages::Entry &entry : entries) {
            EXPECT_FALSE(entry.written);
            EXPECT_EQ(entry.reason, reason);
        }
        // The files written at once each made their call; nothing after them made one.
        if (callsOfTheFirst == 0)
            callsOfTheFirst = calls->load();
        EXPECT_EQ(calls->load(), callsOfTheFirst);
    }
    EXPECT_EQ(OVNExportImages::folderProblem(out),
              QStringLiteral("The folder \"%1\" did not answer in time.").arg(out));
    EXPECT_EQ(calls->load(), callsOfTheFirst);
    EXPECT_LE(callsOfTheFirst, OVNJpegWriter::picturesAtOnce());
    released->set_value();
    FileAccess::setOutputCallHook({});
    // Once the stuck calls end, the folder answers again.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((stuck->load() > 0 || !OVNExportImages::folderProblem(out).isEmpty())
           && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const QList<OVNExportImages::Entry> again =
        OVNExportImages::exportRecords(records.mid(0, 1), out, OVNExportImages::Options{}, {}, nullptr);
    ASSERT_EQ(again.size(), 1);
    EXPECT_TRUE(again.first().written) << again.first().reason.toStdString();
    FileAccess::setOutputLimit(previous);
}
