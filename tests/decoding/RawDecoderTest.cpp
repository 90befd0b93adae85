#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/RawDecoder.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/HostileMedia.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

// A decode ends at its thread's deadline and at Cancel, whether they are reached before it starts
// or in the middle of its work, and the decoder is whole for the next decode afterwards.
TEST(RawDecoderTest, DecodesEndAtTheirDeadlineAndAtCancel)
{
    // Six million sensor pixels: a full-size decode with its interpolation takes LibRaw far longer
    // than the limits below.
    syntheticdng::Options options;
    options.width = 3000;
    options.height = 2000;
    options.scene = [](int x, int y) {
        return syntheticdng::Rgb{quint16(x * 20), quint16(y * 30), quint16((x + y) * 10)};
    };
    const QByteArray data = syntheticdng::make(options);
    RawDecoder decoder;
    ASSERT_TRUE(decoder.open(data));

    struct Case {
        const char *name;
        bool cancelledAtStart;
        std::chrono::milliseconds cancelAfter; // 0: not cancelled on the way
        std::chrono::milliseconds limit;
    };
    const Case cases[] = {
        {"cancelled before it starts", true, 0ms, 10min},
        {"past its deadline before it starts", false, 0ms, 0ms},
        {"cancelled on the way", false, 20ms, 10min},
        {"reaches its deadline on the way", false, 0ms, 20ms},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> cancel{c.cancelledAtStart};
        std::thread canceller;
        {
            const DecodeInterrupt::Scope scope(&cancel, c.limit);
            if (c.cancelAfter > 0ms)
                canceller = std::thread([&cancel, after = c.cancelAfter] {
                    std::this_thread::sleep_for(after);
                    cancel.store(true);
                });
            EXPECT_FALSE(decoder.decode({0, RawDecoder::Interpolation::Full}));
            if (canceller.joinable())
                canceller.join();
            // Once stopped, nothing more is read for the file.
            EXPECT_TRUE(decoder.embeddedJpeg().isEmpty());
        }
        // Out of the scope the same decoder decodes again.
        const std::optional<RawDecoder::Image> reduced = decoder.decode({2, RawDecoder::Interpolation::Quick});
        ASSERT_TRUE(reduced);
        EXPECT_EQ(reduced->width, 750);
        EXPECT_EQ(reduced->height, 500);
    }
}

// The cameras' files read nothing once their decode is stopped: no picture, not even the preview
// that the import falls back on.
TEST(RawDecoderTest, CameraFilesReadNothingOnceStopped)
{
    OVN_REQUIRE_TESTDATA();
    const QString folder = testDataDir() + QStringLiteral("/exiftool-t-images/");
    int read = 0;
    for (const char *name : {"DNG.dng", "CanonRaw.cr2", "Nikon.nef", "FujiFilm.raf"}) {
        SCOPED_TRACE(name);
        QFile file(folder + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.readAll();
        const std::atomic<bool> cancel{false};
        {
            const DecodeInterrupt::Scope scope(&cancel, 0ms);
            EXPECT_TRUE(ImageFileReader::readRaw(data, QSize(256, 256)).isNull());
        }
        // The same bytes without a limit give what they have.
        if (!ImageFileReader::readRaw(data, QSize(256, 256)).isNull())
            ++read;
    }
    EXPECT_GT(read, 0);
}

// The hostile tiled DNG is a real one: small, its tiles that all name one lossless-JPEG tile
// decode to a picture of the whole size.
TEST(RawDecoderTest, TilesThatShareOneLosslessJpegTileDecodeWhole)
{
    RawDecoder decoder;
    ASSERT_TRUE(decoder.open(hostilemedia::dngOfSharedTiles(3, 2, 32)));
    EXPECT_EQ(decoder.info().width, 96);
    EXPECT_EQ(decoder.info().height, 64);
    const std::optional<RawDecoder::Image> image = decoder.decode({0, RawDecoder::Interpolation::Quick});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 96);
    EXPECT_EQ(image->height, 64);
    // Every sample is the same mid-grey: the picture is one flat colour, not black.
    const auto *rgb = reinterpret_cast<const uchar *>(image->rgb.constData());
    EXPECT_GT(rgb[0], 40);
    int different = 0;
    for (qsizetype i = 0; i < image->rgb.size(); i += 3)
        different += std::memcmp(rgb, rgb + i, 3) != 0;
    EXPECT_EQ(different, 0);
}

// A file cut short decodes the same whatever the decoder read before it: what its data lacks is
// black, never what an earlier file left in memory.
TEST(RawDecoderTest, AFileCutShortDecodesAloneWhateverCameBefore)
{
    auto flat = [](syntheticdng::Rgb colour) {
        syntheticdng::Options options;
        options.width = 96;
        options.height = 64;
        options.dataLast = true;
        options.scene = [colour](int, int) { return colour; };
        return syntheticdng::make(options);
    };
    const QByteArray others[] = {flat({60000, 60000, 60000}), flat({60000, 2000, 40000})};
    const QByteArray uncompressed = flat({30000, 30000, 30000});
    const qsizetype samples = qsizetype(96) * 64 * 2; // the file's last bytes
    struct Case {
        const char *name;
        QByteArray data;
        int greyRows; // rows of the whole picture; -1: no picture
    };
    const Case cases[] = {
        // LibRaw gives up on a strip that ends early.
        {"a strip a tenth short", uncompressed.left(uncompressed.size() - samples / 10), -1},
        {"a strip cut in the middle", uncompressed.left(uncompressed.size() - samples / 2), -1},
        // Its lossless-JPEG loader stops at the first tile it cannot find and leaves the rest.
        {"the first of six tiles", hostilemedia::dngOfSharedTiles(3, 2, 32, 1), 32},
        {"the first row of tiles", hostilemedia::dngOfSharedTiles(3, 2, 32, 3), 32},
    };
    auto decode = [](const QByteArray &data) {
        RawDecoder decoder;
        EXPECT_TRUE(decoder.open(data));
        return decoder.decode({0, RawDecoder::Interpolation::Full});
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<RawDecoder::Image> first = decode(c.data);
        for (const QByteArray &other : others) {
            ASSERT_TRUE(decode(other));
            const std::optional<RawDecoder::Image> again = decode(c.data);
            ASSERT_EQ(bool(again), bool(first));
            if (again) {
                EXPECT_TRUE(again->rgb == first->rgb);
            }
        }
        ASSERT_EQ(bool(first), c.greyRows >= 0);
        if (!first)
            continue;
        // The last rows are black; the first tile's, away from its edge, grey.
        const qsizetype rowBytes = qsizetype(first->width) * 3;
        const QByteArray last = first->rgb.right(rowBytes * 4);
        EXPECT_EQ(last.count('\0'), last.size());
        EXPECT_GT(uchar(first->rgb.at(rowBytes * (c.greyRows / 2) + 3 * 4)), 40);
    }
}
