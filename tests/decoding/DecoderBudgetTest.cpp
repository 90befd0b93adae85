// The decoders' one budget: ordinary large files that can only be decoded whole get their
// thumbnail through the larger decoder, one file at a time, without their wait counting against
// their time; every file gets a decoder of its own state (movies in any order); no caller waits
// without a limit for a decoder that does not end.

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/JpegEncoder.h"
#include "decoding/MediaDecoder.h"
#include "decoding/MediaDecoder_p.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/HostileMedia.h"
#include "tests/support/LargeJpegs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using Refusal = ImageFileReader::Facts::Refusal;
using Use = MediaDecoder::Use;
using namespace std::chrono_literals;

namespace {

QByteArray dngWithoutPreview(int width, int height)
{
    syntheticdng::Options options;
    options.width = width;
    options.height = height;
    options.scene = [](int x, int y) {
        return syntheticdng::Rgb{quint16(x * 7 % 60000), quint16(y * 5 % 60000), 20000};
    };
    return syntheticdng::make(options);
}

struct LargeFile {
    const char *name;
    QByteArray (*make)();
    QSize full;
};

// Each needs more than a thumbnail decoder's limit when decoded whole, and is ordinary.
const LargeFile largeFiles[] = {
    {"24mp.dng", [] { return dngWithoutPreview(6000, 4000); }, QSize(6000, 4000)},
    {"61mp.dng", [] { return dngWithoutPreview(9504, 6336); }, QSize(9504, 6336)},
    // Progressive: libjpeg holds every coefficient of the picture, whatever the reduction.
    {"81mp-progressive.jpg", [] { return hostilemedia::jpegOfNoise(11000, 7400, true); }, QSize(11000, 7400)},
};

} // namespace

// Read at once from several threads, as an import does: each gets its thumbnail, in the larger
// decoder one at a time, within the time each file has of its own.
TEST(DecoderBudgetTest, LargeOrdinaryFilesGetTheirThumbnails)
{
    QTemporaryDir dir;
    QStringList paths;
    for (const LargeFile &file : largeFiles)
        paths << hostilemedia::written(dir.filePath(QLatin1String(file.name)), file.make());
    const QString small =
        hostilemedia::written(dir.filePath(QStringLiteral("small.jpg")), hostilemedia::jpegOfNoise(320, 200, false));
    std::vector<QSize> sizes(std::size(largeFiles));
    std::vector<Refusal> refusals(std::size(largeFiles));
    std::vector<QString> damage(std::size(largeFiles));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(largeFiles); ++i)
        threads.emplace_back([&, i] {
            // Each file's own time, as the import gives it: shorter than all of them in turn take.
            const DecodeInterrupt::Scope limit(nullptr, 40s);
            const DecodeReport::Scope report;
            ImageFileReader::Facts facts;
            sizes[i] = MediaDecoder().read(paths.at(qsizetype(i)), QSize(256, 256), &facts).size();
            refusals[i] = facts.refusal;
            damage[i] = report.damage();
        });
    // A small file meanwhile waits for none of them.
    EXPECT_EQ(MediaDecoder().read(small, QSize(160, 160)).size(), QSize(160, 100));
    for (std::thread &thread : threads)
        thread.join();
    for (size_t i = 0; i < std::size(largeFiles); ++i) {
        SCOPED_TRACE(largeFiles[i].name);
        EXPECT_EQ(sizes[i], ImageFileReader::fittedSize(largeFiles[i].full, QSize(256, 256)));
        EXPECT_EQ(refusals[i], Refusal::None) << qPrintable(ImageFileReader::refusalText(refusals[i]));
        EXPECT_TRUE(damage[i].isEmpty()) << qPrintable(damage[i]);
    }
}

namespace {

struct OrdinaryJpeg {
    const char *name;
    QSize size;
    bool progressive;
    // Whether its reduced roads hold no more than a thumbnail decoder may: a file of one scan is
    // read a band of rows at a time, reduced in the DCT; a progressive one holds its coefficients.
    bool withinThumbnailDecoder;
    // Whether the viewer's whole picture, reduced to 8192 pixels, fits the larger decoder: a
    // progressive file of 180 megapixels holds 516 MiB of coefficients beside that picture's 180
    // MiB, and is refused by its size; the viewer's picture fitted to the screen is read. (Of 150
    // megapixels, 430 MiB beside it fit: the rows are reduced as they come, never held whole.)
    bool wholeViewerPicture = true;
};

// Medium-format cameras and stitched panoramas; a flat frame of a few hundred kilobytes.
const OrdinaryJpeg ordinaryJpegs[] = {
    {"24mp-flat", {6000, 4000}, false, true},
    {"120mp", {13400, 8960}, false, true},
    {"150mp", {15000, 10000}, false, true},
    {"180mp", {16400, 11000}, false, true},
    {"150mp-progressive", {15000, 10000}, true, false},
    {"180mp-progressive", {16400, 11000}, true, false, false},
};

// The largest peak of the decoding children that ended since `before`, as the kernel counted them.
qint64 childPeakSince(const MediaDecoder::Children &before)
{
    MediaDecoder::endIdleDecoders();
    return MediaDecoder::endedChildren().peakBytes - before.peakBytes;
}

class OrdinaryJpegRoads : public testing::TestWithParam<OrdinaryJpeg>
{};

} // namespace

// Every road that reduces a picture gets it, upright and fitted, from ordinary JPEGs up to 180
// megapixels: the import's thumbnail, the light table's and viewer's pictures, a 1600-pixel output
// and the viewer's reduced whole picture, each in a decoder held by the kernel to its limit, the
// larger one 640 MiB (a whole tree within 1 GiB). A file of one scan needs no more than a
// thumbnail decoder on any of them; how small its file is (a flat frame) makes no difference.
TEST_P(OrdinaryJpegRoads, EveryReducingRoadGetsThePicture)
{
    const OrdinaryJpeg &file = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(file.name) + QStringLiteral(".jpg"));
    largejpegs::Options options;
    options.progressive = file.progressive;
    ASSERT_TRUE(largejpegs::write(path, file.size, options));
    if (QLatin1String(file.name).endsWith(QLatin1String("flat"))) {
        EXPECT_LT(QFileInfo(path).size(), 1 << 20);
    }
    const DecodeInterrupt::Scope limit(nullptr, 120s);
    struct Road {
        const char *name;
        Use use;
        QSize box;
        bool writesJpeg;
    };
    const Road roads[] = {
        {"thumbnail", Use::Thumbnail, {256, 256}, false},
        {"light table and viewer, fitted", Use::Thumbnail, {2560, 1600}, false},
        {"1600 px output", Use::FullSize, {1600, 1600}, true},
        {"viewer, whole picture reduced", Use::FullSize, {8192, 8192}, false},
    };
    for (const Road &road : roads) {
        SCOPED_TRACE(road.name);
        const MediaDecoder::Children before = MediaDecoder::endedChildren();
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        QImage picture;
        if (road.writesJpeg) {
            const std::optional<QByteArray> jpeg = MediaDecoder(road.use).writeJpeg(path, road.box, 1, 90, &facts);
            ASSERT_TRUE(jpeg.has_value()) << qPrintable(ImageFileReader::refusalText(facts.refusal));
            picture = QImage::fromData(*jpeg, "JPEG");
        } else {
            picture = MediaDecoder(road.use).read(path, road.box, &facts);
        }
        EXPECT_EQ(facts.size, file.size);
        if (!file.wholeViewerPicture && road.box.width() == 8192) {
            EXPECT_EQ(facts.refusal, Refusal::TooLarge);
            EXPECT_TRUE(picture.isNull());
            continue;
        }
        EXPECT_EQ(facts.refusal, Refusal::None) << qPrintable(ImageFileReader::refusalText(facts.refusal));
        // The outputs' writer truncates the fitted sides.
        EXPECT_EQ(picture.size(), road.writesJpeg ? JpegEncoder::writtenSize(file.size, road.box)
                                                  : ImageFileReader::fittedSize(file.size, road.box));
        EXPECT_TRUE(largejpegs::upright(picture));
        EXPECT_TRUE(report.damage().isEmpty()) << qPrintable(report.damage());
        const qint64 peak = childPeakSince(before);
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, qint64(1) << 30);
        // The viewer's whole picture reduced to 8192 pixels is itself most of a thumbnail
        // decoder's limit.
        if (file.withinThumbnailDecoder && road.box.width() <= 2560) {
            EXPECT_LT(peak, MediaDecoder::memoryLimit(Use::Thumbnail));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OrdinaryJpegRoads, testing::ValuesIn(ordinaryJpegs),
                         [](const testing::TestParamInfo<OrdinaryJpeg> &info) {
                             QByteArray name(info.param.name);
                             name.replace('-', '_');
                             return std::string(name.constData());
                         });

// The larger decoder is one file's at a time: the others wait for it without their wait counting
// against their own time, and Cancel ends a wait at once.
TEST(DecoderBudgetTest, FilesWaitForTheLargerDecoderInTurn)
{
    QTemporaryDir dir;
    // Each ends a thumbnail decoder as out of memory; the larger decoder reads it once "PATH.go"
    // is there. Large enough to be an ordinary large picture's file.
    const QByteArray photo = hostilemedia::jpegOfNoise(3000, 2000, false) + QByteArray(4 << 20, '\0');
    const QString held = hostilemedia::written(dir.filePath(QStringLiteral("ovn-decoder-needs-more-1.jpg")), photo);
    const QString next = hostilemedia::written(dir.filePath(QStringLiteral("ovn-decoder-needs-more-2.jpg")), photo);
    const QString cancelled =
        hostilemedia::written(dir.filePath(QStringLiteral("ovn-decoder-needs-more-3.jpg")), photo);
    hostilemedia::written(next + QStringLiteral(".go"), "go");
    hostilemedia::written(cancelled + QStringLiteral(".go"), "go");
    QSize heldSize, nextSize;
    Refusal nextRefusal = Refusal::None, cancelledRefusal = Refusal::None;
    std::thread holder([&] {
        const DecodeInterrupt::Scope limit(nullptr, 60s);
        heldSize = MediaDecoder().read(held, QSize(64, 64)).size();
    });
    // The others come once the first holds the larger decoder, and are cancelled once in line.
    const auto untilCallers = [](int count) {
        while (MediaDecoder::largeDecoderCallers() < count)
            std::this_thread::sleep_for(10ms);
    };
    untilCallers(1);
    // A file with 3 seconds of its own, waiting longer than that for its turn.
    std::thread waiter([&] {
        const DecodeInterrupt::Scope limit(nullptr, 3s);
        ImageFileReader::Facts facts;
        nextSize = MediaDecoder().read(next, QSize(64, 64), &facts).size();
        nextRefusal = facts.refusal;
    });
    std::atomic<bool> cancel{false};
    std::thread cancelling([&] {
        const DecodeInterrupt::Scope limit(&cancel, 60s);
        ImageFileReader::Facts facts;
        EXPECT_TRUE(MediaDecoder().read(cancelled, QSize(64, 64), &facts).isNull());
        cancelledRefusal = facts.refusal;
    });
    untilCallers(3);
    cancel = true;
    cancelling.join();
    // Ended by Cancel, not by its minute's deadline (that would be OutOfTime).
    EXPECT_EQ(cancelledRefusal, Refusal::Cancelled);
    std::this_thread::sleep_for(3s);
    hostilemedia::written(held + QStringLiteral(".go"), "go");
    holder.join();
    waiter.join();
    EXPECT_EQ(heldSize, QSize(64, 43));
    EXPECT_EQ(nextSize, QSize(64, 43)) << qPrintable(ImageFileReader::refusalText(nextRefusal));
}

namespace {

// Movies made by the ffmpeg program, when the machine has it with the codecs asked for.
QString movie(const QTemporaryDir &dir, const char *name, const QStringList &arguments)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    const QString out = dir.filePath(QLatin1String(name));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ffmpeg, QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + arguments
                              + QStringList{out});
    if (!process.waitForFinished(120'000) || process.exitCode() != 0)
        return {};
    return out;
}

QStringList testSource(const char *size, const char *codec, const char *pixelFormat)
{
    return {
        QStringLiteral("-f"),       QStringLiteral("lavfi"),
        QStringLiteral("-i"),       QStringLiteral("testsrc2=size=%1:rate=25:duration=0.2").arg(QLatin1String(size)),
        QStringLiteral("-c:v"),     QLatin1String(codec),
        QStringLiteral("-preset"),  QStringLiteral("ultrafast"),
        QStringLiteral("-pix_fmt"), QLatin1String(pixelFormat)};
}

} // namespace

// Movies and pictures in every order each get their picture from a decoder of their own state:
// an ordinary 4K H.264 movie after a 10-bit HEVC one is no damaged file, a photograph after an 8K
// movie is read as ever, and a valid 8K movie is no file that "ends early".
TEST(DecoderBudgetTest, MoviesAndPicturesInAnyOrderGetTheirPictures)
{
    QTemporaryDir dir;
    const QString hevc = movie(dir, "hevc10.mp4", testSource("3840x2160", "libx265", "yuv420p10le"));
    const QString h264 = movie(dir, "h264.mp4", testSource("3840x2160", "libx264", "yuv420p"));
    const QString h264Large = movie(dir, "h264-8k.mp4", testSource("7680x4320", "libx264", "yuv420p"));
    if (hevc.isEmpty() || h264.isEmpty() || h264Large.isEmpty())
        GTEST_SKIP() << "no ffmpeg with libx264 and libx265";
    const QString photo =
        hostilemedia::written(dir.filePath(QStringLiteral("photo.jpg")), hostilemedia::jpegOfNoise(4000, 3000, false));
    struct Item {
        QString path;
        bool movie;
        QSize natural;
    };
    const Item items[] = {{hevc, true, QSize(3840, 2160)},
                          {h264, true, QSize(3840, 2160)},
                          {h264Large, true, QSize(7680, 4320)},
                          {photo, false, QSize(4000, 3000)}};
    const int orders[][4] = {{0, 1, 2, 3}, {2, 3, 0, 1}, {3, 2, 1, 0}, {1, 0, 3, 2}};
    for (const auto &order : orders) {
        for (const int at : order) {
            const Item &item = items[at];
            SCOPED_TRACE(qPrintable(item.path));
            const DecodeInterrupt::Scope limit(nullptr, 60s);
            const DecodeReport::Scope report;
            MediaDecoder decoder;
            QImage picture;
            QString error;
            if (item.movie) {
                const std::optional<MediaDecoder::MovieInfo> info = decoder.openMovie(item.path, &error);
                ASSERT_TRUE(info) << qPrintable(error);
                EXPECT_EQ(info->naturalSize, item.natural);
                MovieTime time = info->duration;
                time.timeValue = 0;
                picture = decoder.movieFrame(time, ImageFileReader::fittedSize(item.natural, QSize(256, 256)), &error);
            } else {
                picture = decoder.read(item.path, QSize(256, 256));
            }
            EXPECT_EQ(picture.size(), ImageFileReader::fittedSize(item.natural, QSize(256, 256))) << qPrintable(error);
            EXPECT_TRUE(report.damage().isEmpty()) << qPrintable(report.damage());
        }
    }
}

namespace {

// A child that never ends, as far as the caller can tell.
pid_t neverEnds(pid_t, int *, int) { return 0; }

} // namespace

// A decoder that does not end after its kill (stuck in the kernel on a stalled mount) is given
// up on: the caller goes on within a bounded time and the next file is read.
TEST(DecoderBudgetTest, ADecoderThatDoesNotEndIsGivenUpOn)
{
    QTemporaryDir dir;
    const QString hanging = hostilemedia::written(dir.filePath(QStringLiteral("ovn-decoder-hangs-stalled.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    const QString small =
        hostilemedia::written(dir.filePath(QStringLiteral("small.jpg")), hostilemedia::jpegOfNoise(320, 200, false));
    const int givenUp = DecoderProcesses::givenUp();
    DecoderProcesses::setWaitFunctionForTesting(&neverEnds);
    ImageFileReader::Facts facts;
    {
        const DecodeInterrupt::Scope limit(nullptr, 1s);
        EXPECT_TRUE(MediaDecoder().read(hanging, QSize(64, 64), &facts).isNull());
    }
    DecoderProcesses::setWaitFunctionForTesting(nullptr);
    // The read returned at its deadline, and the process whose end never came was given up on.
    EXPECT_EQ(facts.refusal, Refusal::OutOfTime);
    EXPECT_EQ(DecoderProcesses::givenUp(), givenUp + 1);
    EXPECT_EQ(MediaDecoder().read(small, QSize(160, 160)).size(), QSize(160, 100));
}
