#include "decoding/DecodeInterrupt.h"
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
