#include "formats/GIFImageRep.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "tests/formats/SceneFiles.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <vector>

using namespace syntheticpictures;

namespace {

// A GIF of one picture of palette indices compressed as LZW encoders do (lzwBlocks), so that strings
// of many pixels, strings that run from one row into the next and codes used the moment they are
// made all occur.
QByteArray compressedGif(QSize size, const std::function<int(int, int)> &index, int minimum = 8,
                         bool clearsWhenFull = true)
{
    QByteArray out("GIF89a");
    put16(out, size.width());
    put16(out, size.height());
    out.append(char(0xF7)).append('\0').append('\0');
    for (int i = 0; i < 256; ++i)
        out.append(char(i)).append(char(255 - i)).append(char(i * 7));
    out.append(',');
    put16(out, 0);
    put16(out, 0);
    put16(out, size.width());
    put16(out, size.height());
    out.append('\0').append(char(minimum));
    std::vector<uchar> indices;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            indices.push_back(uchar(index(x, y)));
    return out.append(lzwBlocks(indices, minimum, clearsWhenFull)).append(';');
}

} // namespace

// Every layout reads as Qt's own reader reads the same bytes: interlaced, with a transparent
// colour, and a picture smaller than its screen (the rest the screen's background colour, or
// transparent).
TEST(GIFImageRepTest, LayoutsReadAsQtReadsThem)
{
    const QImage picture = rowsPicture(QSize(37, 29));
    const GifLayout layouts[] = {
        {"whole screen", {37, 29}, {0, 0, 37, 29}, false, -1},
        {"interlaced", {37, 29}, {0, 0, 37, 29}, true, -1},
        {"transparent colour", {37, 29}, {0, 0, 37, 29}, false, 40},
        {"within a larger screen", {50, 40}, {5, 7, 37, 29}, false, -1},
        {"within a larger screen, transparent", {50, 40}, {5, 7, 37, 29}, true, 40},
    };
    for (const GifLayout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QByteArray gif = gifOf(l, picture);
        const QImage qt = QImage::fromData(gif, "GIF");
        ASSERT_FALSE(qt.isNull());
        const DecodeReport::Scope report;
        const QImage ours = GIFImageRep::initWithData(gif);
        ASSERT_EQ(ours.size(), l.screen);
        EXPECT_EQ(ours.hasAlphaChannel(), l.transparent >= 0);
        EXPECT_EQ(ours.convertToFormat(QImage::Format_ARGB32), qt.convertToFormat(QImage::Format_ARGB32));
        EXPECT_TRUE(report.damage().isEmpty());
        // A thumbnail is the picture averaged as it is read, as the whole picture is averaged.
        const QImage thumbnail = GIFImageRep::initWithData(gif, QSize(12, 12));
        ASSERT_EQ(thumbnail.size(), ImageFileReader::fittedSize(l.screen, QSize(12, 12)));
        EXPECT_LT(meanDifference(thumbnail, PictureRows::reduced(ours, thumbnail.size())), 1.0);
    }
}

// Compressed data reads as Qt's reader reads it, whatever the strings' lengths and wherever they
// break across rows.
TEST(GIFImageRepTest, CompressedPicturesReadAsQtReadsThem)
{
    const struct {
        const char *name;
        QSize size;
        std::function<int(int, int)> index;
        int minimum = 8;
        bool clearsWhenFull = true;
    } pictures[] = {
        {"one colour", {300, 40}, [](int, int) { return 7; }},
        {"one pixel wide", {1, 333}, [](int, int y) { return y / 9 % 4; }},
        {"stripes", {37, 50}, [](int x, int y) { return (x / 5 + y) % 3; }},
        {"gradient", {256, 64}, [](int x, int y) { return (x + y / 8) % 256; }},
        {"noise", {123, 77}, [](int x, int y) { return (x * 7919 + y * 104729 + x * y) % 251; }},
        {"few colours of noise", {640, 100}, [](int x, int y) { return (x * x + y * 31) % 5; }},
        // Strings of every length up to some 150 pixels, each across dozens of rows of 3.
        {"one colour, narrow", {3, 4000}, [](int, int) { return 1; }, 2},
        {"two colours", {200, 150}, [](int x, int y) { return (x / 3 + y / 2) % 2; }, 2},
        {"full table kept", {500, 300}, [](int x, int y) { return (x * 13 + y * 7 + x * y / 5) % 97; }, 7, false},
        {"full table kept, long strings", {400, 400}, [](int x, int y) { return (x / 40 + y / 30) % 3; }, 8, false},
    };
    for (const auto &p : pictures) {
        SCOPED_TRACE(p.name);
        const QByteArray gif = compressedGif(p.size, p.index, p.minimum, p.clearsWhenFull);
        const QImage qt = QImage::fromData(gif, "GIF");
        ASSERT_FALSE(qt.isNull());
        const DecodeReport::Scope report;
        const QImage ours = GIFImageRep::initWithData(gif);
        EXPECT_TRUE(report.damage().isEmpty()) << report.damage().toStdString();
        EXPECT_EQ(ours.convertToFormat(QImage::Format_ARGB32), qt.convertToFormat(QImage::Format_ARGB32));
    }
}

// A file cut short or corrupt keeps the rows decoded before the fault, the rest grey, and says
// why; the whole one says nothing. The full-size read and the thumbnail alike.
TEST(GIFImageRepTest, DamagedFilesKeepTheirRowsAndSayWhy)
{
    const QImage picture = rowsPicture(QSize(160, 120));
    const QString endsEarly = QStringLiteral("the data ends early"), corrupt = QStringLiteral("the data is corrupt");
    for (const bool interlaced : {false, true}) {
        const QByteArray whole = gifOf({"", {160, 120}, {0, 0, 160, 120}, interlaced, -1}, picture);
        const QImage reference = GIFImageRep::initWithData(whole);
        const struct {
            const char *name;
            QByteArray data;
            QString damage;
        } cases[] = {
            {"whole", whole, {}},
            {"cut", whole.left(whole.size() / 2), endsEarly},
            // A sub-block's length turned over: its codes are taken for lengths and lengths for codes.
            {"corrupt", scrambled(whole, 13 + 768 + 10 + 1 + 256 * 40, 1), corrupt},
            // The trailer gone: the picture is whole, the file is not.
            {"no trailer", whole.left(whole.size() - 1), endsEarly},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (interlaced ? ", interlaced" : ""));
            {
                const DecodeReport::Scope report;
                const QImage image = GIFImageRep::initWithData(c.data);
                EXPECT_EQ(report.damage(), c.damage);
                ASSERT_EQ(image.size(), picture.size());
                const int kept = rowsKept(image, reference);
                if (c.damage.isEmpty() || QByteArray(c.name) == "no trailer") {
                    EXPECT_EQ(kept, picture.height());
                } else {
                    EXPECT_GE(kept, 8);
                    EXPECT_LT(kept, picture.height());
                    EXPECT_EQ(image.pixel(5, 119), qRgb(128, 128, 128));
                }
            }
            const DecodeReport::Scope report;
            const QImage thumbnail = GIFImageRep::initWithData(c.data, QSize(64, 64));
            EXPECT_EQ(report.damage(), c.damage);
            ASSERT_EQ(thumbnail.size(), QSize(64, 48));
            // The first rows of a picture in order are there before any fault.
            if (!interlaced) {
                EXPECT_EQ(
                    rowsKept(thumbnail.copy(0, 0, 64, 1), PictureRows::reduced(reference, {64, 48}).copy(0, 0, 64, 1)),
                    1);
            }
        }
    }
}

// A picture read indexed, where the thread asks for it, is what the rows make once expanded: its
// pixels, its alpha channel where (and only where) it uses a translucent colour, its damage and the
// grey of its missing rows, also where every index is taken. Interlaced pictures and thumbnails
// smaller than the picture are read as ever.
TEST(GIFImageRepTest, IndexedPicturesExpandToWhatTheRowsMake)
{
    const QImage picture = rowsPicture(QSize(37, 29));
    // Greys of 100 to 199 only: index 5 is in no pixel.
    QImage pale(QSize(37, 29), QImage::Format_RGB32);
    for (int y = 0; y < pale.height(); ++y)
        for (int x = 0; x < pale.width(); ++x)
            pale.setPixel(x, y, qRgb(100 + (x + y) % 100, 100 + (x + y) % 100, 100 + (x + y) % 100));
    // Every index used, in a palette without the missing rows' grey; and a few of them only.
    const QByteArray everyIndex = compressedGif({256, 40}, [](int x, int y) { return (x + y * 3) % 256; });
    const QByteArray fewIndices = compressedGif({256, 40}, [](int x, int y) { return (x / 16 + y) % 4; });
    // Cut within the picture's data, a third of the way from its end.
    const auto cutShort = [](const QByteArray &gif) { return gif.left(gif.size() - (gif.size() - 800) / 3); };
    const struct {
        const char *name;
        QByteArray data;
        QSize box;
        bool indexed;
    } cases[] = {
        {"whole screen", gifOf({"", {37, 29}, {0, 0, 37, 29}, false, -1}, picture), {}, true},
        {"transparent colour", gifOf({"", {37, 29}, {0, 0, 37, 29}, false, 40}, picture), {}, true},
        {"transparent colour unused", gifOf({"", {37, 29}, {0, 0, 37, 29}, false, 5}, pale), {}, true},
        {"within a larger screen", gifOf({"", {50, 40}, {5, 7, 37, 29}, false, -1}, picture), {}, true},
        {"within a larger screen, transparent", gifOf({"", {50, 40}, {5, 7, 37, 29}, false, 40}, picture), {}, true},
        {"a box the picture fits", gifOf({"", {37, 29}, {0, 0, 37, 29}, false, 40}, picture), {64, 64}, true},
        {"a thumbnail", gifOf({"", {37, 29}, {0, 0, 37, 29}, false, 40}, picture), {12, 12}, false},
        {"interlaced", gifOf({"", {37, 29}, {0, 0, 37, 29}, true, -1}, picture), {}, false},
        {"cut", cutShort(gifOf({"", {37, 29}, {0, 0, 37, 29}, false, -1}, picture)), {}, true},
        {"cut, every index used", cutShort(everyIndex), {}, true},
        {"cut, few indices used", cutShort(fewIndices), {}, true},
        {"corrupt", scrambled(everyIndex, 13 + 768 + 10 + 1 + 400, 1), {}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString plainDamage;
        QImage plain;
        {
            const DecodeReport::Scope report;
            plain = GIFImageRep::initWithData(c.data, c.box);
            plainDamage = report.damage();
        }
        ASSERT_FALSE(plain.isNull());
        const DecodeReport::Scope report;
        const PictureRows::IndexedScope scope;
        const QImage indexed = GIFImageRep::initWithData(c.data, c.box);
        EXPECT_EQ(scope.taken(), c.indexed);
        EXPECT_EQ(report.damage(), plainDamage);
        // With no index left for the missing rows' grey, the picture is made what the rows make.
        const bool full = QByteArray(c.name) == "cut, every index used";
        EXPECT_EQ(indexed.format() == QImage::Format_Indexed8, c.indexed && !full);
        const QImage expanded = PictureRows::expanded(indexed);
        EXPECT_EQ(expanded.format(), plain.format());
        EXPECT_EQ(expanded, plain);
    }
}

// Large GIFs, in order and interlaced, get their thumbnails from a thumbnail decoder.
TEST(GIFImageRepTest, LargeGifsGetTheirThumbnailsWithinTheThumbnailDecodersLimit)
{
    QTemporaryDir dir;
    const QSize size(7360, 4912);
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "in order");
        const QString path = dir.filePath(QStringLiteral("large.gif"));
        {
            const scenefiles::Scene scene(size);
            scenefiles::Writer file(path);
            writeGif(
                {"", size, QRect(QPoint(), size), interlaced, -1},
                [&](int y, uchar *greys) { scene.levels(scenefiles::Scene::Grey, y, greys); },
                [&](const QByteArray &bytes) { file.write(bytes); });
        }
        scenefiles::expectThumbnailOfScene(path, size, true);
    }
}
