// Files whose headers promise far more than their bytes hold: the decode stays within the
// process's decoding budget, ends at its deadline or at Cancel, and the file gives no picture
// rather than holding its thread.

#include "platform/DecodeInterrupt.h"
#include "platform/DecodeMemoryBudget.h"
#include "platform/ImageFileReader.h"
#include "platform/JpegDecoder.h"
#include "platform/Movie.h"
#include "tests/support/HostileFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using hostilefiles::Ink;
using hostilefiles::jpegClaiming;
using hostilefiles::pdfWithHugeImage;

TEST(HostileHeaders, JpegDecodesStayWithinTheBudget)
{
    const qint64 budget = DecodeMemoryBudget::shared().capacity();
    struct Case {
        const char *name;
        QSize claimed;
        Ink ink;
        bool progressive;
        QSize box;
        bool decodes;
    };
    const Case cases[] = {
        // A small CMYK picture comes out in its colour.
        {"cmyk small", {8, 8}, Ink::Cmyk, false, {}, true},
        {"cmyk 4000 x 3000, thumbnail", {4000, 3000}, Ink::Cmyk, false, {256, 256}, true},
        // What libjpeg may hold for a picture of that size is far beyond any budget: refused
        // before decoding, in one scan or several.
        {"cmyk huge, one scan", {65500, 65500}, Ink::Cmyk, false, {256, 256}, false},
        {"cmyk huge, progressive", {65500, 65500}, Ink::Cmyk, true, {256, 256}, false},
        {"rgb huge, progressive", {65500, 65500}, Ink::Rgb, true, {256, 256}, false},
        // The whole picture asked for: 17 GB, refused.
        {"rgb huge, whole", {65500, 65500}, Ink::Rgb, false, {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray data = jpegClaiming(c.claimed, c.ink, c.progressive);
        const qint64 held = JpegDecoder::decodeBytes(data.constData(), size_t(data.size()), c.box);
        EXPECT_EQ(held <= budget, c.decodes) << held;
        const JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), c.box);
        EXPECT_EQ(result.fullSize, c.claimed);
        if (!c.decodes) {
            EXPECT_EQ(result.status, JpegDecoder::Status::Failed);
            continue;
        }
        ASSERT_EQ(result.status, JpegDecoder::Status::Decoded);
        EXPECT_LE(qint64(result.image.sizeInBytes()), held);
        const QRgb corner = result.image.pixel(0, 0);
        EXPECT_GT(qRed(corner), 200);
        EXPECT_LT(qGreen(corner), 60);
        EXPECT_LT(qBlue(corner), 60);
    }
}

TEST(HostileHeaders, DecodesEndAtCancelAndAtTheirDeadline)
{
    const QByteArray data = jpegClaiming(QSize(4000, 3000), Ink::Cmyk, false);
    struct Case {
        const char *name;
        bool cancelled;
        std::chrono::milliseconds limit;
    };
    const Case cases[] = {{"cancelled", true, std::chrono::minutes(1)}, {"past its deadline", false, {}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::atomic<bool> cancel{c.cancelled};
        const DecodeInterrupt::Scope scope(&cancel, c.limit);
        EXPECT_TRUE(DecodeInterrupt::shouldStop());
        EXPECT_EQ(JpegDecoder::decode(data.constData(), size_t(data.size()), QSize(256, 256)).status,
                  JpegDecoder::Status::Failed);
    }
    // Out of the scopes nothing stops.
    EXPECT_FALSE(DecodeInterrupt::shouldStop());
    EXPECT_FALSE(DecodeInterrupt::deadline());
}

TEST(HostileHeaders, ADocumentImageClaimingTeraPixelsEndsWithItsReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pdfWithHugeImage());
    file.close();
    const std::unique_ptr<Movie> pdf = Movie::open(path);
    ASSERT_TRUE(pdf);
    // The page is small; the image on it is what never finishes.
    EXPECT_EQ(pdf->naturalSize(), QSize(200, 200));
    for (const bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "cancelled" : "deadline");
        const std::atomic<bool> cancel{cancelled};
        const DecodeInterrupt::Scope scope(&cancel, std::chrono::seconds(2));
        EXPECT_TRUE(pdf->frameImageAtTime(MovieTime{0, 600}, QSize(100, 100)).isNull());
        EXPECT_FALSE(pdf->frameError().isEmpty());
    }
}
