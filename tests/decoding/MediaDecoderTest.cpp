// The decoder processes: every hostile kind of file ends within its decoder's limits with its
// reason, on the thumbnail read and on the full-size read; a decoder that crashes, is killed or
// is stuck costs only its file (its sandbox: DecoderSandboxTest).

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/MediaDecoder.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/RawDecoder.h"
#include "formats/GIFImageRep.h"
#include "platform/FileAccess.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/HostileFiles.h"
#include "tests/support/HostileMedia.h"
#include "tests/support/SyntheticPictures.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TiffWriting.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <optional>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

using Refusal = ImageFileReader::Facts::Refusal;
using Use = MediaDecoder::Use;
using namespace std::chrono_literals;

namespace {

// What a read may end with: a picture, or none with one of these refusals (None: the file's own
// fault, no picture and no refusal).
enum class Ends { Picture, TooLarge, OutOfTime, NoPicture };

struct Outcome {
    Ends ends = Ends::NoPicture;
    QString reason;
};

Outcome readWith(Use use, const QString &path, QSize box, bool movie)
{
    MediaDecoder decoder(use);
    Outcome outcome;
    QImage image;
    Refusal refusal = Refusal::None;
    if (movie) {
        QString error;
        if (const std::optional<MediaDecoder::MovieInfo> info = decoder.openMovie(path, &error)) {
            MovieTime time = info->duration;
            time.timeValue = 0;
            image = decoder.movieFrame(time, box, &error);
        }
        refusal = decoder.refusal();
        outcome.reason = error;
    } else {
        ImageFileReader::Facts facts;
        image = decoder.read(path, box, &facts);
        refusal = facts.refusal;
        outcome.reason = ImageFileReader::refusalText(refusal);
    }
    outcome.ends = !image.isNull()                 ? Ends::Picture
                   : refusal == Refusal::TooLarge  ? Ends::TooLarge
                   : refusal == Refusal::OutOfTime ? Ends::OutOfTime
                                                   : Ends::NoPicture;
    return outcome;
}

const char *name(Ends ends)
{
    switch (ends) {
    case Ends::Picture:
        return "a picture";
    case Ends::TooLarge:
        return "needs more memory";
    case Ends::OutOfTime:
        return "out of time";
    case Ends::NoPicture:
        return "no picture";
    }
    return "";
}

struct HostileKind {
    const char *file;
    QByteArray (*make)();
    bool movie;
    std::set<Ends> thumbnail; // what a thumbnail read may end with
    std::set<Ends> fullSize;  // what a full-size read may end with
};

// Each kind once made an in-process reader hold gigabytes or run for minutes. Where a reader may
// decode a picture within its decoder's limit (reduced, row by row), a picture is an answer too;
// what never happens is a decoder beyond its limit or past its deadline.
const HostileKind hostileKinds[] = {
    // A whole PNG in a small file: the larger decoder may read it within its limit.
    {"png-named.mov",
     [] { return hostilefiles::pngOfZeros(16000, 16000); },
     true,
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture},
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture}},
    // Read row by row, as the decoder's readers read them: their thumbnails are pictures.
    {"layers.psd",
     [] { return hostilemedia::psdOfZeros(9000, 9000); },
     true,
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture},
     {Ends::Picture, Ends::TooLarge, Ends::NoPicture}},
    {"huge-entry.ico",
     [] { return hostilemedia::icoHolding(hostilemedia::pngOfZerosRgba(8000, 8000)); },
     false,
     {Ends::TooLarge, Ends::NoPicture},
     {Ends::Picture, Ends::TooLarge, Ends::NoPicture}},
    {"one-bit.ppm",
     [] { return hostilemedia::pbmOneBit(20000, 20000, 3 << 20); },
     false,
     {Ends::TooLarge, Ends::Picture, Ends::NoPicture},
     {Ends::TooLarge, Ends::Picture, Ends::NoPicture}},
    {"huge-valid.png",
     [] { return hostilemedia::pngOfZerosRgba(14000, 14000); },
     false,
     {Ends::TooLarge, Ends::Picture},
     {Ends::TooLarge, Ends::Picture}},
    {"rle8.bmp",
     [] { return hostilemedia::bmpRle8(30000, 30000); },
     false,
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture},
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture}},
    {"many-scans.jpg",
     [] { return hostilemedia::jpegOfManyScans(512, 512); },
     false,
     {Ends::OutOfTime, Ends::Picture, Ends::NoPicture},
     {Ends::OutOfTime, Ends::TooLarge, Ends::Picture, Ends::NoPicture}},
    // 6,241 lossless-JPEG tiles that all name one 7.5 KB tile: 58 KB for 384 megapixels.
    {"shared-tiles.dng",
     [] { return hostilemedia::dngOfSharedTiles(79, 79, 248); },
     false,
     {Ends::TooLarge},
     {Ends::TooLarge}},
    {"empty-comments.jpg",
     [] { return hostilemedia::jpegWithEmptyComments(hostilemedia::jpegOfNoise(64, 64, false), 1000000); },
     false,
     {Ends::OutOfTime, Ends::Picture},
     {Ends::OutOfTime, Ends::Picture}},
};

class MediaDecoderTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        files = new QTemporaryDir;
        for (const HostileKind &kind : hostileKinds)
            hostilemedia::written(files->filePath(QLatin1String(kind.file)), kind.make());
        hostilemedia::written(files->filePath(QStringLiteral("small.jpg")), hostilemedia::jpegOfNoise(320, 200, false));
    }
    static void TearDownTestSuite()
    {
        delete files;
        files = nullptr;
    }

public:
    static QString path(const char *file) { return files->filePath(QLatin1String(file)); }
    static QTemporaryDir *files;
};

QTemporaryDir *MediaDecoderTest::files = nullptr;

void expectEachKindEnds(Use use, QSize box, const std::set<Ends> HostileKind::*accepted)
{
    for (const HostileKind &kind : hostileKinds) {
        SCOPED_TRACE(kind.file);
        // A short deadline of the caller's own, as the import gives each file.
        const DecodeInterrupt::Scope limit(nullptr, 4s);
        const Outcome outcome =
            readWith(use, MediaDecoderTest::files->filePath(QLatin1String(kind.file)), box, kind.movie);
        // On a loaded machine any read may reach its deadline first: that ends it within its
        // limits too.
        EXPECT_TRUE((kind.*accepted).count(outcome.ends) || outcome.ends == Ends::OutOfTime)
            << name(outcome.ends) << ": " << qPrintable(outcome.reason);
        if (outcome.ends == Ends::TooLarge) {
            EXPECT_EQ(outcome.reason, QStringLiteral("the picture needs more memory than decoding may use"));
        }
        if (outcome.ends == Ends::OutOfTime) {
            EXPECT_TRUE(outcome.reason == QLatin1String("the picture could not be read in time")
                        || outcome.reason == QLatin1String("the movie could not be opened in time")
                        || outcome.reason == QLatin1String("the frame could not be decoded in time"))
                << qPrintable(outcome.reason);
        }
    }
}

} // namespace

TEST_F(MediaDecoderTest, ThumbnailReadsOfHostileFilesEndWithinTheirLimits)
{
    expectEachKindEnds(Use::Thumbnail, QSize(256, 256), &HostileKind::thumbnail);
    // And the next file of an ordinary kind is read as ever.
    EXPECT_EQ(MediaDecoder().read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
}

TEST_F(MediaDecoderTest, FullSizeReadsOfHostileFilesEndWithinTheirLimits)
{
    expectEachKindEnds(Use::FullSize, QSize(), &HostileKind::fullSize);
    EXPECT_EQ(MediaDecoder(Use::FullSize).read(path("small.jpg")).size(), QSize(320, 200));
}

// A decoder that crashes, or that something else kills, costs its file only: the same caller's
// next read gets a new decoder.
TEST_F(MediaDecoderTest, ADecoderThatCrashesOrIsKilledCostsOnlyItsFile)
{
    const QString crashing = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-crashes.jpg")),
                                                   hostilemedia::jpegOfNoise(16, 16, false));
    const QString hanging = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-hangs-killed.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    struct Case {
        const char *name;
        QString file;
        bool killFromOutside;
    } cases[] = {{"crashes", crashing, false}, {"killed", hanging, true}};
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            MediaDecoder decoder(use);
            std::atomic<bool> done{false};
            std::thread killer;
            if (c.killFromOutside) {
                // Ends every decoder of this process that the kill finds (only this one reads).
                killer = std::thread([&] {
                    while (!done) {
                        std::this_thread::sleep_for(100ms);
                        QDir tasks(QStringLiteral("/proc/self/task"));
                        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                            QFile children(tasks.filePath(task + QStringLiteral("/children")));
                            if (!children.open(QIODevice::ReadOnly))
                                continue;
                            for (const QByteArray &pid : children.readAll().split(' '))
                                if (pid.trimmed().toInt() > 0) {
                                    QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid.trimmed().toInt()));
                                    if (command.open(QIODevice::ReadOnly) && command.readAll().contains("ovn-decoder"))
                                        ::kill(pid.trimmed().toInt(), SIGKILL);
                                }
                        }
                    }
                });
            }
            ImageFileReader::Facts facts;
            const DecodeInterrupt::Scope limit(nullptr, 30s);
            EXPECT_TRUE(decoder.read(c.file, QSize(64, 64), &facts).isNull());
            done = true;
            if (killer.joinable())
                killer.join();
            // Killed from outside is not the file's fault, and says so.
            EXPECT_EQ(facts.refusal, c.killFromOutside ? Refusal::EndedFromOutside : Refusal::Crashed);
            EXPECT_EQ(ImageFileReader::refusalText(facts.refusal),
                      c.killFromOutside ? QStringLiteral("the picture's reader was ended from outside the program")
                                        : QStringLiteral("the picture's reader stopped on a fault in the file"));
            EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
        }
    }
}

// A decoder that faults once it has taken all the memory its limit allows (a library that does not
// check what it mapped) needs more memory: its file is not blamed, on any road.
TEST_F(MediaDecoderTest, ADecoderThatEndsAtItsMemoryLimitNeedsMoreMemory)
{
    const QString exhausting = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-exhausts.jpg")),
                                                     hostilemedia::jpegOfNoise(16, 16, false));
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        MediaDecoder decoder(use);
        const DecodeInterrupt::Scope limit(nullptr, 30s);
        ImageFileReader::Facts facts;
        EXPECT_TRUE(decoder.read(exhausting, QSize(64, 64), &facts).isNull());
        EXPECT_EQ(facts.refusal, Refusal::TooLarge);
        EXPECT_EQ(ImageFileReader::refusalText(facts.refusal),
                  QStringLiteral("the picture needs more memory than decoding may use"));
        facts = {};
        EXPECT_FALSE(decoder.writeJpeg(exhausting, QSize(5000, 5000), 1, 90, &facts));
        EXPECT_EQ(facts.refusal, Refusal::TooLarge);
        // The next file is read as ever.
        EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
    }
}

namespace {

// The peak of this process's resident memory since the last reset, in bytes.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

void resetPeakResidentBytes()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

// A decoder taken over by its file may answer anything: a reply outside the message schema, or a
// picture other than the one asked for, is refused before anything of it is built, the decoder
// is treated as one that crashed, and the caller holds at most its reply and 400 MiB.
TEST_F(MediaDecoderTest, LyingRepliesCostOnlyTheirFile)
{
    const struct {
        const char *kind;
        QSize box; // invalid: a full-size read
    } lies[] = {
        {"oversized", QSize(256, 256)},      // 25000 x 20000 for a thumbnail, its rows streamed
        {"oversized", QSize()},              // ... and for a full-size read
        {"full-size", QSize(30000, 30000)},  // within the box, beyond any full-size picture
        {"qimages", QSize(256, 256)},        // twenty pictures as QVariant values
        {"claimed-list", QSize(256, 256)},   // a list claiming 2^31 values
        {"claimed-string", QSize(256, 256)}, // a string claiming 2 GB
        {"deep", QSize(256, 256)},           // lists nested a thousand deep
        {"claimed-length", QSize(256, 256)}, // a reply map claiming a gigabyte
        {"bytes-per-line", QSize(256, 256)}, // rows a megabyte long for 64 pixels
        {"picture-bytes", QSize(256, 256)},  // a gigabyte of rows for 64 x 64 pixels
        {"colours", QSize(256, 256)},        // a colour table of 262,144 entries
        {"address", QSize()},                // rows to be read where nothing is
        {"address-small", QSize(256, 256)},  // a direct read offered for a small picture
    };
    const qint64 mib = qint64(1) << 20;
    for (const auto &lie : lies) {
        SCOPED_TRACE(testing::Message() << lie.kind << " " << lie.box.width());
        const QString file = hostilemedia::written(
            files->filePath(QStringLiteral("ovn-decoder-lies-%1.jpg").arg(QLatin1String(lie.kind))),
            hostilemedia::jpegOfNoise(16, 16, false));
        resetPeakResidentBytes();
        const qint64 before = peakResidentBytes();
        for (const Use use : {Use::Thumbnail, Use::FullSize}) {
            const DecodeInterrupt::Scope limit(nullptr, 30s);
            MediaDecoder decoder(use);
            ImageFileReader::Facts facts;
            EXPECT_TRUE(decoder.read(file, lie.box, &facts).isNull());
            // Refused for what it is, not at the deadline (that would be OutOfTime).
            EXPECT_EQ(facts.refusal, Refusal::Crashed);
            // The same caller's next file is read as ever.
            EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
        }
        EXPECT_LT(peakResidentBytes() - before, 400 * mib);
    }
}

// A read stuck in a system call (a stalled mount) ends at the deadline, or at Cancel, whichever
// comes first, also where the program's own opening of the file is what stalls. A FIFO named as a movie is not a file
// the program hands a decoder: refused at once where the decoder's sandbox holds it off, else stuck like the stalled
// read.
TEST_F(MediaDecoderTest, StuckReadsEndAtTheirDeadlineOrAtCancel)
{
    const QString fifo = files->filePath(QStringLiteral("stuck.mov"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString hanging = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-hangs.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    const QString stalled = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-stalls-opening.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    struct Case {
        const char *name;
        QString file;
        bool movie;
        bool cancel;
        Refusal expected;
        bool held = false; // held for an import, as a file of a local disk's opens at once
    } cases[] = {
        {"FIFO, deadline", fifo, true, false, Refusal::OutOfTime},
        {"FIFO, cancel", fifo, true, true, Refusal::Cancelled},
        {"stalled read, deadline", hanging, false, false, Refusal::OutOfTime},
        {"stalled read, cancel", hanging, false, true, Refusal::Cancelled},
        // The program's own opening of the file, before any decoder has it.
        {"stalled opening, deadline", stalled, false, false, Refusal::OutOfTime},
        {"stalled opening, cancel", stalled, false, true, Refusal::Cancelled},
        // Held, the file stands for one on a mount that stopped answering: still opened where the
        // wait can be left.
        {"stalled opening of a held file, deadline", stalled, false, false, Refusal::OutOfTime, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> cancel{false};
        std::thread canceller;
        if (c.cancel)
            canceller = std::thread([&] {
                std::this_thread::sleep_for(300ms);
                cancel = true;
            });
        Refusal refusal = Refusal::None;
        std::optional<FileAccess::HeldFile> held;
        if (c.held)
            held.emplace(c.file);
        {
            // A long deadline where Cancel is to end the read, so that it is Cancel that does.
            const DecodeInterrupt::Scope limit(&cancel, c.cancel ? 120s : 1500ms);
            MediaDecoder decoder;
            if (c.movie) {
                EXPECT_FALSE(decoder.openMovie(c.file));
                refusal = decoder.refusal();
            } else {
                ImageFileReader::Facts facts;
                EXPECT_TRUE(decoder.read(c.file, QSize(64, 64), &facts).isNull());
                refusal = facts.refusal;
            }
        }
        if (canceller.joinable())
            canceller.join();
        // Ended by the caller's deadline or Cancel, as its refusal says (a fifo may also be refused
        // at once for what it is).
        if (!(c.file == fifo && refusal == Refusal::None)) {
            EXPECT_EQ(refusal, c.expected);
        }
    }
}

// No queue: a small file is read while another caller's decoder is stuck.
TEST_F(MediaDecoderTest, ASmallFileIsReadWhileAnotherDecoderIsStuck)
{
    const QString waiting = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-waits.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    QFile::remove(waiting + QStringLiteral(".go"));
    std::atomic<bool> slowEnded{false};
    QImage slow;
    std::thread reader([&] {
        const DecodeInterrupt::Scope limit(nullptr, 120s);
        slow = MediaDecoder().read(waiting, QSize(8, 8));
        slowEnded = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(MediaDecoder().read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
    EXPECT_FALSE(slowEnded);
    hostilemedia::written(waiting + QStringLiteral(".go"), "go");
    reader.join();
    EXPECT_EQ(slow.size(), QSize(8, 8));
}

namespace {

QByteArray turnedDng(int orientation, int width, int height)
{
    syntheticdng::Options options;
    options.orientation = orientation;
    options.width = width;
    options.height = height;
    return syntheticdng::make(options);
}

bool sameInfo(const RawDecoder::Info &a, const RawDecoder::Info &b)
{
    return a.make == b.make && a.model == b.model && a.rawWidth == b.rawWidth && a.rawHeight == b.rawHeight
           && a.width == b.width && a.height == b.height && a.flip == b.flip;
}

} // namespace

// Camera RAW files are identified in decoders, from several threads at once, each as the RAW
// decoder identifies it on its own.
TEST_F(MediaDecoderTest, RawFilesAreIdentifiedInDecodersFromSeveralThreadsAtOnce)
{
    QStringList raws;
    const struct {
        int orientation, width, height;
    } synthetic[] = {{1, 64, 48}, {3, 48, 64}, {6, 80, 40}, {8, 32, 32}};
    for (const auto &s : synthetic)
        raws << hostilemedia::written(
            files->filePath(QStringLiteral("turned-%1-%2x%3.dng").arg(s.orientation).arg(s.width).arg(s.height)),
            turnedDng(s.orientation, s.width, s.height));
    if (!testDataDir().isEmpty()) {
        // The DNGs are identified; of the other cameras' samples some are cut too short.
        for (const char *name :
             {"/exiftool-t-images/DNG.dng", "/exiv2-test-data/raw/IMG_1361.dng", "/exiftool-t-images/Nikon.nef",
              "/exiftool-t-images/CanonRaw.cr2", "/exiftool-t-images/FujiFilm.raf", "/exiftool-t-images/Panasonic.rw2"})
            if (QFile::exists(testDataDir() + QLatin1String(name)))
                raws << testDataDir() + QLatin1String(name);
    }
    // Not a RAW file: nothing.
    const QString notRaw = path("small.jpg");

    std::vector<std::optional<RawDecoder::Info>> expected;
    for (const QString &raw : raws) {
        expected.push_back(RawDecoder::identifyFile(raw));
        if (raw.endsWith(QLatin1String(".dng"))) {
            ASSERT_TRUE(expected.back()) << qPrintable(raw);
        }
    }
    EXPECT_EQ(expected.at(2)->flip, 6);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const DecodeInterrupt::Scope limit(nullptr, 120s);
            MediaDecoder decoder;
            for (int round = 0; round < 3; ++round)
                for (qsizetype i = 0; i < raws.size(); ++i) {
                    // Each thread in its own order.
                    const qsizetype at = (i + t) % raws.size();
                    const std::optional<RawDecoder::Info> info = decoder.identifyRaw(raws.at(at));
                    const std::optional<RawDecoder::Info> &wanted = expected.at(size_t(at));
                    if (bool(info) != bool(wanted) || (info && !sameInfo(*info, *wanted)))
                        ++wrong;
                }
            if (decoder.identifyRaw(notRaw) || decoder.refusal() != Refusal::None)
                ++wrong;
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

// A RAW file whose identification is stuck holds back no other thread's RAW file.
TEST_F(MediaDecoderTest, AStuckRawIdentificationHoldsBackNoOtherRawFile)
{
    const QString waiting =
        hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-waits.dng")), turnedDng(6, 64, 48));
    const QString other = hostilemedia::written(files->filePath(QStringLiteral("other.dng")), turnedDng(3, 64, 48));
    QFile::remove(waiting + QStringLiteral(".go"));
    std::atomic<bool> slowEnded{false};
    std::optional<RawDecoder::Info> slow;
    std::thread identifier([&] {
        const DecodeInterrupt::Scope limit(nullptr, 120s);
        slow = MediaDecoder().identifyRaw(waiting);
        slowEnded = true;
    });
    std::this_thread::sleep_for(200ms);
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        const std::optional<RawDecoder::Info> info = MediaDecoder(use).identifyRaw(other);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->flip, 3);
        ImageFileReader::Facts facts;
        EXPECT_EQ(MediaDecoder(use).read(other, QSize(32, 32), &facts).size(), QSize(32, 24));
        EXPECT_EQ(facts.orientation, 3);
    }
    EXPECT_FALSE(slowEnded);
    hostilemedia::written(waiting + QStringLiteral(".go"), "go");
    identifier.join();
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->flip, 6);
}

// A camera RAW file whose data lies past the end of the file is damaged, on every road and at
// any sensor size: never a file that needs more memory.
TEST_F(MediaDecoderTest, ARawFileWhoseDataLiesPastItsEndIsDamaged)
{
    const struct {
        int width, height;
    } sizes[] = {{64, 48}, {12000, 9000}};
    for (const auto &size : sizes) {
        syntheticdng::Options options;
        options.withData = false;
        options.width = size.width;
        options.height = size.height;
        const QString cut =
            hostilemedia::written(files->filePath(QStringLiteral("cut-%1x%2.dng").arg(size.width).arg(size.height)),
                                  syntheticdng::make(options));
        for (const Use use : {Use::Thumbnail, Use::FullSize}) {
            for (const char *road : {"read", "readRaw", "developRaw"}) {
                SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " " << int(use) << " " << road);
                const DecodeReport::Scope report;
                const DecodeInterrupt::Scope limit(nullptr, 30s);
                ImageFileReader::Facts facts;
                MediaDecoder decoder(use);
                const QImage image = road == std::string_view("read")      ? decoder.read(cut, QSize(64, 64), &facts)
                                     : road == std::string_view("readRaw") ? decoder.readRaw(cut, QSize(64, 64), &facts)
                                                                           : decoder.developRaw(cut, 2, &facts);
                EXPECT_TRUE(image.isNull());
                EXPECT_EQ(facts.refusal, Refusal::None);
                EXPECT_EQ(report.damage(), QStringLiteral("the raw data ends early"));
            }
        }
    }
}

// A large picture is read straight from the decoder's memory, a small one and every picture where
// the system refuses that read come through the socket: the rows are the file's on both roads.
TEST_F(MediaDecoderTest, PicturesArriveWholeOnBothRoads)
{
    const struct {
        int width, height;
    } sizes[] = {{64, 48}, {1200, 900}, {1201, 899}};
    for (const auto &size : sizes) {
        QImage scene(size.width, size.height, QImage::Format_RGB32);
        for (int y = 0; y < scene.height(); ++y)
            for (int x = 0; x < scene.width(); ++x)
                scene.setPixel(x, y, qRgb((x * 7 + y) & 0xff, (x ^ y) & 0xff, (x * y) & 0xff));
        const QString file = files->filePath(QStringLiteral("scene-%1x%2.png").arg(size.width).arg(size.height));
        ASSERT_TRUE(scene.save(file));
        for (const bool direct : {true, false}) {
            for (const Use use : {Use::Thumbnail, Use::FullSize}) {
                SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << (direct ? " direct" : " socket")
                                                << " " << int(use));
                DirectPictureReads::setAllowed(direct);
                const DecodeInterrupt::Scope limit(nullptr, 30s);
                MediaDecoder decoder(use);
                ImageFileReader::Facts facts;
                const int takenBefore = DirectPictureReads::taken();
                const QImage image = decoder.read(file, QSize(), &facts);
                EXPECT_EQ(facts.refusal, Refusal::None);
                EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), scene);
                // The system let this process read its decoder's memory: the road was taken, through
                // a handle on the child that answered.
                EXPECT_EQ(DirectPictureReads::allowed(), direct);
                EXPECT_EQ(DirectPictureReads::taken() - takenBefore, direct && size.width > 1000 ? 1 : 0);
                // The same decoder's next answer follows on the socket as ever.
                EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
            }
        }
    }
    DirectPictureReads::setAllowed(true);
}

// Pictures a decoder sends indexed (a GIF's, a quarter of the bytes) arrive as their reader makes
// them in the program's own process: the same pixels in the same format, translucent where they are.
TEST_F(MediaDecoderTest, IndexedPicturesArriveAsTheirReaderMakesThem)
{
    const QImage picture = syntheticpictures::rowsPicture(QSize(37, 29));
    const syntheticpictures::GifLayout layouts[] = {
        {"opaque", {37, 29}, {0, 0, 37, 29}, false, -1},
        {"transparent", {37, 29}, {0, 0, 37, 29}, false, 40},
        {"within a larger screen, transparent", {50, 40}, {5, 7, 37, 29}, false, 40},
    };
    for (const auto &layout : layouts) {
        const QString file = files->filePath(QStringLiteral("%1.gif").arg(QString::fromLatin1(layout.name)));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(syntheticpictures::gifOf(layout, picture));
        out.close();
        for (const Use use : {Use::Thumbnail, Use::FullSize})
            for (const QSize box : {QSize(), QSize(256, 256)}) {
                SCOPED_TRACE(testing::Message() << layout.name << " " << int(use) << " " << box.width());
                const DecodeInterrupt::Scope limit(nullptr, 30s);
                const QImage local = ImageFileReader::read(file, box);
                ASSERT_FALSE(local.isNull());
                const QImage image = MediaDecoder(use).read(file, box);
                EXPECT_EQ(image.format(), local.format());
                EXPECT_EQ(image, local);
            }
    }
}

namespace {

// Stands in for a decoder's template: a process that forks a child and a whole template, which
// forks a child of its own, and says their pids; all wait to be ended, and end with the test. (No
// fork handlers run: a fork's child of this process, which has threads, may find their locks taken.)
struct TemplateStandIn {
    pid_t template_ = -1, child = -1, whole = -1, wholeChild = -1;

    TemplateStandIn()
    {
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        const pid_t test = ::getpid();
        template_ = ::_Fork();
        if (template_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != test)
                _exit(0);
            // Each process ends with its parent: one whose parent ended before it asked so ends now.
            const pid_t standIn = ::getpid();
            pid_t pids[3] = {::_Fork(), -1, -1};
            if (pids[0] == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != standIn)
                    _exit(0);
                for (;;)
                    ::pause();
            }
            int inner[2];
            if (::pipe(inner) != 0)
                _exit(1);
            pids[1] = ::_Fork();
            if (pids[1] == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != standIn)
                    _exit(0);
                const pid_t whole = ::getpid();
                const pid_t own = ::_Fork();
                if (own == 0) {
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    if (::getppid() != whole)
                        _exit(0);
                    for (;;)
                        ::pause();
                }
                (void)!::write(inner[1], &own, sizeof own);
                for (;;)
                    ::pause();
            }
            (void)!::read(inner[0], &pids[2], sizeof pids[2]);
            (void)!::write(ends[1], pids, sizeof pids);
            for (;;)
                ::pause();
        }
        ::close(ends[1]);
        pid_t pids[3] = {-1, -1, -1};
        if (::read(ends[0], pids, sizeof pids) == ssize_t(sizeof pids)) {
            child = pids[0];
            whole = pids[1];
            wholeChild = pids[2];
        }
        ::close(ends[0]);
    }
    ~TemplateStandIn()
    {
        if (template_ > 0) {
            ::kill(template_, SIGKILL);
            ::waitpid(template_, nullptr, 0);
        }
    }
};

} // namespace

// The program reads a child's memory, and ends a child that lingers, only through a handle on the
// child the template started: a note that names any other process (the template itself, a process
// that is no child of it, a child that has ended, whose pid another may take up) gets none.
TEST_F(MediaDecoderTest, AChildsMemoryIsReadOnlyThroughAHandleOnThatChild)
{
    TemplateStandIn standIn;
    ASSERT_GT(standIn.wholeChild, 0);
    TemplateStandIn other;
    ASSERT_GT(other.child, 0);
    // A child of this test's own that has ended and waits to be reaped.
    const pid_t ended = ::_Fork();
    if (ended == 0)
        _exit(0);
    ASSERT_GT(ended, 0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, id_t(ended), &info, WEXITED | WNOWAIT), 0);
    const struct {
        const char *what;
        pid_t child;
        pid_t template_;
        bool handled;
    } cases[] = {
        {"the template's child", standIn.child, standIn.template_, true},
        {"its whole template's child", standIn.wholeChild, standIn.template_, true},
        {"its whole template", standIn.whole, standIn.template_, true},
        {"the template itself", standIn.template_, standIn.template_, false},
        {"another template's child", other.child, standIn.template_, false},
        {"another template's whole template's child", other.wholeChild, standIn.template_, false},
        {"the program", ::getpid(), standIn.template_, false},
        {"a child that has ended", ended, ::getpid(), false},
        {"no process", 0, standIn.template_, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int handle = DecoderProcesses::childHandle(c.child, c.template_);
        EXPECT_EQ(handle >= 0, c.handled);
        if (handle >= 0)
            ::close(handle);
    }
    ::waitpid(ended, nullptr, 0);
}

// A child that stays after its answer (a file took it over) costs the next file nothing: the
// program ends it through its handle, and its template, which may signal no process, forks the
// next file's child once it has ended.
TEST_F(MediaDecoderTest, AChildThatStaysAfterItsAnswerIsEndedBeforeTheNextFile)
{
    const QString lingering = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-lingers.jpg")),
                                                    hostilemedia::jpegOfNoise(32, 32, false));
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        SCOPED_TRACE(int(use));
        const DecodeInterrupt::Scope limit(nullptr, 30s);
        MediaDecoder decoder(use);
        EXPECT_EQ(decoder.read(lingering, QSize(16, 16)).size(), QSize(16, 16));
        ImageFileReader::Facts facts;
        EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160), &facts).size(), QSize(160, 100));
        EXPECT_EQ(facts.refusal, Refusal::None);
    }
}

// Each file's child is counted as its decoder tells its end, with the memory it held: a child
// that holds a large picture raises the figure by about its size, which a look at the process tree
// every 50 ms would mostly miss.
TEST_F(MediaDecoderTest, EveryChildIsCountedWithItsPeakMemory)
{
    MediaDecoder::endIdleDecoders();
    const MediaDecoder::Children before = MediaDecoder::endedChildren();
    QImage large(3000, 2000, QImage::Format_RGB32);
    large.fill(qRgb(10, 200, 30));
    const QString file = files->filePath(QStringLiteral("large.png"));
    ASSERT_TRUE(large.save(file));
    {
        const DecodeInterrupt::Scope limit(nullptr, 30s);
        MediaDecoder decoder(Use::FullSize);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
        EXPECT_EQ(decoder.read(file).size(), large.size());
    }
    MediaDecoder::endIdleDecoders();
    const MediaDecoder::Children after = MediaDecoder::endedChildren();
    EXPECT_GE(after.started - before.started, 4);
    EXPECT_GE(after.templates - before.templates, 1);
    // The large picture's child held at least its pixels.
    EXPECT_GE(after.peakBytes - before.peakBytes, qint64(large.sizeInBytes()));
}

// A thumbnail decoder reads the usual files in children of a template that gave up the libraries
// they never reach (one child each), and a file that reaches one of those again in a child of its
// template that kept them all: the picture is the file's either way, and its child's end is not
// taken for a fault of the file.
TEST_F(MediaDecoderTest, AFileThatNeedsALibraryTheUsualChildrenLackIsReadAgainWhole)
{
    QImage scene(96, 64, QImage::Format_RGB32);
    for (int y = 0; y < scene.height(); ++y)
        for (int x = 0; x < scene.width(); ++x)
            scene.setPixel(x, y, qRgb(x * 2, y * 3, 90));
    const QString png = files->filePath(QStringLiteral("usual.png"));
    const QString gif = files->filePath(QStringLiteral("usual.gif"));
    const QString tiff = files->filePath(QStringLiteral("rarer-codec.tif"));
    ASSERT_TRUE(scene.save(png));
    QFile gifFile(gif);
    ASSERT_TRUE(gifFile.open(QIODevice::WriteOnly));
    gifFile.write(hostilefiles::gifClaiming(scene.size()));
    gifFile.close();
    // Strips that only a library outside the usual files' reach decodes (ZSTD, else LZMA).
    ASSERT_TRUE(tiffwriting::writeRgb(tiff, scene, COMPRESSION_ZSTD)
                || tiffwriting::writeRgb(tiff, scene, COMPRESSION_LZMA));

    const DecodeInterrupt::Scope limit(nullptr, 30s);
    MediaDecoder decoder(Use::Thumbnail);
    auto childrenFor = [&](const QString &file, QImage *picture) {
        const int before = MediaDecoder::endedChildren().started;
        ImageFileReader::Facts facts;
        *picture = decoder.read(file, QSize(48, 48), &facts);
        EXPECT_EQ(facts.refusal, Refusal::None) << qPrintable(file);
        return MediaDecoder::endedChildren().started - before;
    };
    QImage picture;
    for (const QString &usual : {png, gif, path("small.jpg")}) {
        EXPECT_EQ(childrenFor(usual, &picture), 1) << qPrintable(usual);
        EXPECT_FALSE(picture.isNull()) << qPrintable(usual);
    }
    // (Sanitizer builds keep one whole template: their runtime is a library none can give up.)
    bool sanitized = false;
#if defined(__SANITIZE_ADDRESS__)
    sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    sanitized = true;
#endif
#endif
    EXPECT_EQ(childrenFor(tiff, &picture), sanitized ? 1 : 2);
    ASSERT_EQ(picture.size(), QSize(48, 32));
    const QRgb middle = picture.pixel(24, 16);
    const QRgb expected = scene.pixel(48, 32);
    EXPECT_NEAR(qRed(middle), qRed(expected), 6);
    EXPECT_NEAR(qGreen(middle), qGreen(expected), 6);
    EXPECT_EQ(qBlue(middle), 90);
    // The decoder goes on with the next usual file in a child of the usual template.
    EXPECT_EQ(childrenFor(png, &picture), 1);
    EXPECT_EQ(picture.size(), QSize(48, 32));
}

namespace {

// A process's name, its parent, and a line of one of its /proc files (without its label); empty
// where the process or the line is not there.
std::string procLine(pid_t pid, const char *file, std::string_view label)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(QByteArray(label.data(), qsizetype(label.size()))))
            return line.mid(qsizetype(label.size())).simplified().toStdString();
    return {};
}
std::string nameOf(pid_t pid) { return procLine(pid, "status", "Name:"); }
pid_t parentOf(pid_t pid) { return pid_t(std::atoi(procLine(pid, "status", "PPid:").c_str())); }

// Whether the sanitizers' runtime is in the program: its decoders then keep every library.
constexpr bool underSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// A child for one file that a template named `templateName` of a decoder of this process forked
// (a decoder's processes keep the command line it was started with, which names this process).
pid_t childOfTemplateNamed(const char *templateName)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number || nameOf(pid) != "ovn-decoder" || nameOf(parentOf(pid)) != templateName)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = commandLine.readAll().split('\0');
        if (arguments.size() > 3 && arguments.at(3) == QByteArray::number(::getpid()))
            return pid;
    }
    return -1;
}

} // namespace

// A thumbnail of a GIF whose screen fits the box is read by one child of the decoder's minimal
// template, and is the GIF reader's picture. A GIF that child does not read (interlaced) is read
// again by a child of the whole template; one larger than the box goes to the usual template at
// once.
TEST_F(MediaDecoderTest, ASmallGifIsReadByAChildOfTheMinimalTemplate)
{
    if (underSanitizer())
        GTEST_SKIP() << "the sanitizers' runtime is a library no template can give up";
    const QByteArray small = hostilefiles::gifClaiming(QSize(40, 30));
    QByteArray interlaced = small;
    interlaced[28] = '\x40'; // the picture's flags: interlaced, no table of its own
    const struct {
        const char *file;
        QByteArray bytes;
        QSize box;
        int children;
    } cases[] = {
        {"small.gif", small, QSize(256, 256), 1},
        {"interlaced.gif", interlaced, QSize(256, 256), 2},
        {"larger-than-the-box.gif", hostilefiles::gifClaiming(QSize(400, 300)), QSize(256, 256), 1},
        {"as-large-as-the-box.gif", hostilefiles::gifClaiming(QSize(256, 256)), QSize(256, 256), 1},
    };
    const DecodeInterrupt::Scope limit(nullptr, 30s);
    MediaDecoder decoder(Use::Thumbnail);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = hostilemedia::written(files->filePath(QLatin1String(c.file)), c.bytes);
        const int before = MediaDecoder::endedChildren().started;
        ImageFileReader::Facts facts;
        const QImage picture = decoder.read(file, c.box, &facts);
        EXPECT_EQ(MediaDecoder::endedChildren().started - before, c.children);
        EXPECT_EQ(facts.refusal, Refusal::None);
        const QImage expected = GIFImageRep::initWithData(c.bytes, c.box);
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(picture.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
    }
}

// A child of the minimal template is confined as a child of the usual template is: the same
// filters (the template's and its own), no new privileges, a limit on its address space. Each is
// looked at while it reads a file that never ends reading, until its deadline.
TEST_F(MediaDecoderTest, AChildOfTheMinimalTemplateIsConfinedAsTheUsualChildren)
{
    if (underSanitizer())
        GTEST_SKIP() << "the sanitizers' runtime is a library no template can give up";
    struct Confinement {
        std::string seccomp, filters, noNewPrivileges, addressSpace;
    };
    const auto whileReading = [](const QString &file, const char *templateName) {
        Confinement seen;
        std::atomic<bool> ended{false};
        std::thread reader([&] {
            const DecodeInterrupt::Scope limit(nullptr, 1s);
            MediaDecoder decoder(Use::Thumbnail);
            ImageFileReader::Facts facts;
            EXPECT_TRUE(decoder.read(file, QSize(64, 64), &facts).isNull());
            EXPECT_EQ(facts.refusal, Refusal::OutOfTime);
            ended = true;
        });
        pid_t child = -1;
        while (!ended && (child = childOfTemplateNamed(templateName)) < 0)
            std::this_thread::sleep_for(5ms);
        if (child > 0)
            seen = {procLine(child, "status", "Seccomp:"), procLine(child, "status", "Seccomp_filters:"),
                    procLine(child, "status", "NoNewPrivs:"), procLine(child, "limits", "Max address space")};
        reader.join();
        return seen;
    };
    const QString gif = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-hangs.gif")),
                                              hostilefiles::gifClaiming(QSize(40, 30)));
    const QString jpeg = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-hangs.jpg")),
                                               hostilemedia::jpegOfNoise(32, 32, false));
    const Confinement minimal = whileReading(gif, "ovn-decoder-min");
    const Confinement usual = whileReading(jpeg, "ovn-decoder");
    ASSERT_FALSE(minimal.seccomp.empty());
    ASSERT_FALSE(usual.seccomp.empty());
    EXPECT_EQ(minimal.seccomp, "2");
    EXPECT_EQ(minimal.seccomp, usual.seccomp);
    EXPECT_EQ(minimal.filters, usual.filters);
    EXPECT_EQ(minimal.noNewPrivileges, "1");
    EXPECT_EQ(usual.noNewPrivileges, "1");
    EXPECT_FALSE(minimal.addressSpace.empty());
    EXPECT_EQ(minimal.addressSpace.find("unlimited"), std::string::npos) << minimal.addressSpace;
}

// A file's child counts in the program's processor time once its decoder has ended, also when it
// was the child of a thumbnail decoder's whole template (a file over 1 MiB): the decoder ends its
// whole template and waits for it before it ends itself.
TEST_F(MediaDecoderTest, TheWholeTemplatesChildrenCountInTheProgramsProcessorTime)
{
    QImage noise(3200, 2000, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            row[x] = (seed = seed * 1664525u + 1013904223u) | 0xff000000u;
    }
    const QString file = files->filePath(QStringLiteral("noise.png"));
    ASSERT_TRUE(noise.save(file));
    ASSERT_GT(QFileInfo(file).size(), qint64(1) << 20);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    auto used = [&](int who) {
        rusage usage{};
        ::getrusage(who, &usage);
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    };
    // The same read here, for the processor time it takes.
    const double selfBefore = used(RUSAGE_SELF);
    ASSERT_FALSE(ImageFileReader::read(file, QSize(64, 64)).isNull());
    const double inProcess = used(RUSAGE_SELF) - selfBefore;

    MediaDecoder::endIdleDecoders();
    const double before = used(RUSAGE_CHILDREN);
    {
        const DecodeInterrupt::Scope limit(nullptr, 30s);
        MediaDecoder decoder(Use::Thumbnail);
        EXPECT_EQ(decoder.read(file, QSize(64, 64)).size(), QSize(64, 40));
    }
    MediaDecoder::endIdleDecoders();
    EXPECT_GE(used(RUSAGE_CHILDREN) - before, inProcess / 2) << "read here in " << inProcess << " s";
}

namespace {

// The processes whose parent is `parent`, with the name the kernel keeps for each.
QMap<pid_t, QByteArray> processesUnder(pid_t parent)
{
    QMap<pid_t, QByteArray> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (open < 0 || close < open || fields.size() < 2 || fields.at(0) == "Z")
            continue;
        if (pid_t(fields.at(1).toLongLong()) == parent)
            found.insert(pid_t(entry.toInt()), line.mid(open + 1, close - open - 1));
    }
    return found;
}

QList<pid_t> named(const QMap<pid_t, QByteArray> &processes, const char *name)
{
    QList<pid_t> found;
    for (auto it = processes.begin(); it != processes.end(); ++it)
        if (it.value() == name)
            found << it.key();
    return found;
}

// The file names of the libraries `pid` maps, and how many mappings it has.
struct Mapped {
    QSet<QString> libraries;
    int mappings = 0;
};

Mapped mappedBy(pid_t pid)
{
    Mapped mapped;
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return mapped;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        ++mapped.mappings;
        const qsizetype slash = line.indexOf('/');
        if (slash > 0 && line.contains(".so"))
            mapped.libraries << QFileInfo(QString::fromUtf8(line.mid(slash))).fileName();
    }
    return mapped;
}

bool mapsLibrary(const Mapped &mapped, const char *prefix)
{
    for (const QString &library : mapped.libraries)
        if (library.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

} // namespace

// A thumbnail decoder that reads one file forks one process for it: the file's child, from the
// template as it started. Only at its second file does it fork its whole template and give up,
// in the template the usual files' children are forked from, every library of the window system,
// fonts, D-Bus, GLib and the rarer readers: that template maps none of them, far fewer mappings,
// and still the readers of the usual files.
TEST_F(MediaDecoderTest, ATemplateSplitsAtItsSecondFileAndItsUsualHalfHoldsOnlyTheReaders)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' runtime keeps every template whole";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizers' runtime keeps every template whole";
#endif
#endif
    QImage scene(96, 64, QImage::Format_RGB32);
    scene.fill(qRgb(30, 120, 200));
    const QString png = files->filePath(QStringLiteral("split.png"));
    ASSERT_TRUE(scene.save(png));
    MediaDecoder::endIdleDecoders();
    const DecodeInterrupt::Scope limit(nullptr, 30s);
    const MediaDecoder::Children before = MediaDecoder::endedChildren();
    {
        MediaDecoder decoder(Use::Thumbnail);
        EXPECT_EQ(decoder.read(png, QSize(48, 48)).size(), QSize(48, 32));
    }
    const QList<pid_t> templates = named(processesUnder(::getpid()), "ovn-decoder");
    ASSERT_EQ(templates.size(), 1);
    const pid_t usual = templates.front();
    // The file's child may still be ending: what must not be there is a second template.
    EXPECT_TRUE(named(processesUnder(usual), "ovn-decoder-all").isEmpty());
    const Mapped whole = mappedBy(usual);

    {
        MediaDecoder decoder(Use::Thumbnail); // the same decoder, from the pool
        EXPECT_EQ(decoder.read(png, QSize(48, 48)).size(), QSize(48, 32));
    }
    ASSERT_EQ(named(processesUnder(::getpid()), "ovn-decoder"), templates);
    const QList<pid_t> wholeTemplates = named(processesUnder(usual), "ovn-decoder-all");
    ASSERT_EQ(wholeTemplates.size(), 1);
    const Mapped split = mappedBy(usual);
    const Mapped kept = mappedBy(wholeTemplates.front());
    MediaDecoder::endIdleDecoders();
    EXPECT_EQ(MediaDecoder::endedChildren().started - before.started, 2);

    const struct {
        const char *library;
        bool usualMaps;
    } libraries[] = {
        // What the usual files' children run.
        {"libQt6Core.so", true},
        {"libjpeg.so", true},
        {"libpng16.so", true},
        {"libdeflate.so", true},
        // The window system, OpenGL, fonts, D-Bus and GLib, which Qt's GUI library brings.
        {"libX11.so", false},
        {"libxcb.so", false},
        {"libxkbcommon.so", false},
        {"libEGL.so", false},
        {"libGLX.so", false},
        {"libOpenGL.so", false},
        {"libGLdispatch.so", false},
        {"libfontconfig.so", false},
        {"libfreetype.so", false},
        {"libharfbuzz.so", false},
        {"libQt6DBus.so", false},
        {"libdbus-1.so", false},
        {"libglib-2.0.so", false},
        {"libicuuc.so", false},
        {"libsystemd.so", false},
        // The rarer readers.
        {"libraw_r.so", false},
        {"libwebp.so", false},
        {"libzstd.so", false},
    };
    for (const auto &[library, usualMaps] : libraries) {
        SCOPED_TRACE(library);
        EXPECT_EQ(mapsLibrary(split, library), usualMaps);
        // Loaded at the start, kept whole in the other template.
        EXPECT_TRUE(mapsLibrary(whole, library));
        EXPECT_TRUE(mapsLibrary(kept, library));
    }
    EXPECT_LT(split.mappings, whole.mappings * 3 / 4) << whole.mappings << " mappings before the split";
}

// A movie's or a Photoshop file's child stays for the frames after its first: when its caller is
// done it is ended and waited for by its template all the same, so that what it held and the
// processor time it took count in the figures, and no other process is left to adopt it.
TEST_F(MediaDecoderTest, AMoviesChildIsWaitedForAndCounted)
{
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("pattern.mp4"));
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QProcess make;
    if (!ffmpeg.isEmpty())
        make.start(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=2",
                            "-c:v", "mpeg4", movie});
    const bool haveMovie = !ffmpeg.isEmpty() && make.waitForFinished(120'000) && make.exitCode() == 0;
    struct Case {
        const char *name;
        QString file;
        QSize frame;
    };
    const Case cases[] = {
        {"a Photoshop file",
         hostilemedia::written(dir.filePath(QStringLiteral("black.psd")), hostilemedia::psdOfZeros(2000, 1500)),
         QSize(2000, 1500)},
        {"a movie", haveMovie ? movie : QString(), QSize(640, 360)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.file.isEmpty())
            continue; // no ffmpeg to make the movie here
        MediaDecoder::endIdleDecoders();
        const MediaDecoder::Children before = MediaDecoder::endedChildren();
        {
            const DecodeInterrupt::Scope limit(nullptr, 30s);
            MediaDecoder decoder(Use::FullSize);
            const std::optional<MediaDecoder::MovieInfo> info = decoder.openMovie(c.file);
            ASSERT_TRUE(info);
            MovieTime time = info->duration;
            time.timeValue /= 2;
            EXPECT_EQ(decoder.movieFrame(time).size(), c.frame);
        }
        MediaDecoder::endIdleDecoders();
        const MediaDecoder::Children after = MediaDecoder::endedChildren();
        EXPECT_GE(after.templates - before.templates, 1);
        // Its child held at least the frame it sent.
        EXPECT_GE(after.peakBytes - before.peakBytes, qint64(c.frame.width()) * c.frame.height() * 4);
    }
}

// A document's page is drawn at the size asked (its own where none is) as far as the decoders'
// budget goes: a page larger than that is drawn by the larger decoder, reduced to what it holds,
// never refused for its size.
TEST_F(MediaDecoderTest, APageIsDrawnAsLargeAsTheBudgetHolds)
{
    QTemporaryDir dir;
    auto document = [&](const char *name, QSizeF points) {
        const QString file = dir.filePath(QLatin1String(name));
        QPdfWriter writer(file);
        writer.setPageSize(QPageSize(points, QPageSize::Point));
        writer.setPageMargins(QMarginsF());
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width() / 2, writer.height()), Qt::red);
        painter.end();
        return file;
    };
    const QString poster = document("poster.pdf", QSizeF(14400, 14400));
    const QString card = document("card.pdf", QSizeF(298, 420));
    struct Case {
        const char *name;
        QString file;
        QSize box;
        QSize least, most; // the picture's size between these
    };
    const Case cases[] = {
        {"a small page at its own size", card, QSize(), QSize(296, 419), QSize(299, 421)},
        // More than a thumbnail decoder holds (some 10 megapixels), less than may be drawn.
        {"a 14,400-point page at its own size", poster, QSize(), QSize(4000, 4000), QSize(10000, 10000)},
        {"a 14,400-point page's thumbnail", poster, QSize(256, 256), QSize(256, 256), QSize(256, 256)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeInterrupt::Scope limit(nullptr, 60s);
        MediaDecoder decoder(Use::FullSize);
        const std::optional<MediaDecoder::MovieInfo> info = decoder.openMovie(c.file);
        ASSERT_TRUE(info);
        QString error;
        const QImage page = decoder.movieFrame(MovieTime{0, 600}, c.box, &error);
        ASSERT_FALSE(page.isNull()) << qPrintable(error);
        EXPECT_GE(page.width(), c.least.width());
        EXPECT_GE(page.height(), c.least.height());
        EXPECT_LE(page.width(), c.most.width());
        EXPECT_LE(page.height(), c.most.height());
        // Red on its left half, as drawn.
        EXPECT_EQ(QColor(page.pixel(page.width() / 4, page.height() / 2)).red(), 255);
    }
}
