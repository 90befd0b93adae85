// The decoder processes: every hostile kind of file ends within its decoder's limits with its
// reason, on the thumbnail read and on the full-size read; a decoder that crashes, is killed or
// is stuck costs only its file; a decoder can neither write files nor open sockets.

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/MediaDecoder.h"
#include "tests/support/HostileMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

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
    {"png-named.mov",
     [] { return hostilefiles::pngOfZeros(16000, 16000); },
     true,
     {Ends::TooLarge, Ends::NoPicture},
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture}},
    {"layers.psd",
     [] { return hostilemedia::psdOfZeros(9000, 9000); },
     true,
     {Ends::TooLarge, Ends::NoPicture},
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
     {Ends::TooLarge, Ends::NoPicture},
     {Ends::TooLarge, Ends::NoPicture, Ends::Picture}},
    {"many-scans.jpg",
     [] { return hostilemedia::jpegOfManyScans(512, 512); },
     false,
     {Ends::OutOfTime, Ends::Picture, Ends::NoPicture},
     {Ends::OutOfTime, Ends::TooLarge, Ends::Picture, Ends::NoPicture}},
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
            EXPECT_EQ(facts.refusal, Refusal::Crashed);
            EXPECT_EQ(ImageFileReader::refusalText(facts.refusal),
                      QStringLiteral("the picture's reader stopped on a fault in the file"));
            EXPECT_EQ(decoder.read(path("small.jpg"), QSize(160, 160)).size(), QSize(160, 100));
        }
    }
}

// A read stuck in a system call (a FIFO named as a movie, a stalled mount) ends at the deadline,
// or at Cancel, whichever comes first.
TEST_F(MediaDecoderTest, StuckReadsEndAtTheirDeadlineOrAtCancel)
{
    const QString fifo = files->filePath(QStringLiteral("stuck.mov"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString hanging = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-hangs.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    struct Case {
        const char *name;
        QString file;
        bool movie;
        bool cancel;
        Refusal expected;
    } cases[] = {
        {"FIFO, deadline", fifo, true, false, Refusal::OutOfTime},
        {"FIFO, cancel", fifo, true, true, Refusal::Cancelled},
        {"stalled read, deadline", hanging, false, false, Refusal::OutOfTime},
        {"stalled read, cancel", hanging, false, true, Refusal::Cancelled},
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
        const auto start = std::chrono::steady_clock::now();
        Refusal refusal = Refusal::None;
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
        EXPECT_EQ(refusal, c.expected);
        // Ended, long before the decoder's own limit of a minute.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 50s);
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

// A decoder cannot create or write a file, remove one, open a socket or start a program; it can
// read.
TEST_F(MediaDecoderTest, ADecoderCannotWriteFilesOrOpenSockets)
{
    const QString probe = hostilemedia::written(files->filePath(QStringLiteral("ovn-decoder-probes.jpg")),
                                                hostilemedia::jpegOfNoise(16, 16, false));
    // The file it tries to open for writing exists already, so that opening it to write is
    // tried on a file the user could write.
    const QString target = hostilemedia::written(probe + QStringLiteral(".written"), "kept");
    for (const Use use : {Use::Thumbnail, Use::FullSize}) {
        SCOPED_TRACE(int(use));
        const DecodeReport::Scope report;
        MediaDecoder(use).read(probe, QSize(8, 8));
        EXPECT_EQ(report.damage(), QStringLiteral("sandboxed"));
        QFile kept(target);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("kept"));
    }
}
