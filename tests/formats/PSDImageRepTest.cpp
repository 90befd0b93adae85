#include "formats/PSDImageRep.h"
#include "decoding/ColourTransform.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "tests/formats/SceneFiles.h"
#include "tests/support/ColourFiles.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <vector>

using namespace syntheticpictures;

namespace {

enum Mode { Grey = 1, Rgb = 3, Cmyk = 4 };

struct Layout {
    const char *name;
    int mode;
    int depth;      // 8 or 16 bits a sample
    bool packBits;  // else raw
    bool alpha;     // a transparency channel for the composite
    QByteArray icc; // an embedded colour profile (an image resource)
};

QByteArray big16(int value)
{
    QByteArray b(2, '\0');
    qToBigEndian(quint16(value), b.data());
    return b;
}

QByteArray big32(quint32 value)
{
    QByteArray b(4, '\0');
    qToBigEndian(value, b.data());
    return b;
}

// PackBits: runs of three or more as a repeat, the rest as literal stretches.
QByteArray packBits(const uchar *row, qsizetype size)
{
    QByteArray out;
    for (qsizetype i = 0; i < size;) {
        qsizetype run = 1;
        while (i + run < size && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 3) {
            out.append(char(257 - run)).append(char(row[i]));
            i += run;
            continue;
        }
        qsizetype literal = 0;
        while (i + literal < size && literal < 128
               && !(i + literal + 2 < size && row[i + literal] == row[i + literal + 1]
                    && row[i + literal] == row[i + literal + 2]))
            ++literal;
        out.append(char(literal - 1)).append(reinterpret_cast<const char *>(row + i), literal);
        i += literal;
    }
    return out;
}

// A Photoshop file of `size` whose channel rows `rowOf(c, y, levels)` gives (8 bits; 16-bit files
// hold each level in both bytes), written a channel row at a time through `out`.
void writePsd(const Layout &l, QSize size, const std::function<void(int, int, uchar *)> &rowOf,
              const std::function<void(const QByteArray &)> &out)
{
    const int colours = l.mode == Rgb ? 3 : l.mode == Cmyk ? 4 : 1;
    const int channels = colours + (l.alpha ? 1 : 0);
    QByteArray head = QByteArray("8BPS") + big16(1) + QByteArray(6, '\0') + big16(channels)
                      + big32(quint32(size.height())) + big32(quint32(size.width())) + big16(l.depth) + big16(l.mode);
    // No colour mode data; the colour profile among the image resources, after another one.
    QByteArray resources;
    if (!l.icc.isEmpty()) {
        resources += QByteArray("8BIM") + big16(0x0404) + QByteArray("\x03IPT", 4) + big32(3) + QByteArray(4, '\0');
        resources += QByteArray("8BIM") + big16(0x040F) + QByteArray(2, '\0') + big32(quint32(l.icc.size())) + l.icc;
        if (l.icc.size() % 2)
            resources += '\0';
    }
    head += big32(0) + big32(quint32(resources.size())) + resources;
    // The layers: none, but a negative count when the composite's transparency follows its colours.
    head += l.alpha ? big32(6) + big32(2) + big16(quint16(-1)) : big32(0);
    head += big16(l.packBits ? 1 : 0);
    out(head);
    const int w = size.width(), bytes = l.depth / 8;
    std::vector<uchar> levels(static_cast<size_t>(w)), row(size_t(w) * size_t(bytes));
    auto rowAt = [&](int c, int y) {
        rowOf(c, y, levels.data());
        if (bytes == 1)
            return levels.data();
        for (int x = 0; x < w; ++x)
            row[size_t(2 * x)] = row[size_t(2 * x + 1)] = levels[size_t(x)];
        return row.data();
    };
    const qsizetype rowBytes = qsizetype(w) * bytes;
    if (!l.packBits) {
        for (int c = 0; c < channels; ++c)
            for (int y = 0; y < size.height(); ++y)
                out(QByteArray(reinterpret_cast<const char *>(rowAt(c, y)), rowBytes));
        return;
    }
    // Each row packed twice: once for its count, once for its data.
    QByteArray counts;
    for (int c = 0; c < channels; ++c)
        for (int y = 0; y < size.height(); ++y)
            counts += big16(int(packBits(rowAt(c, y), rowBytes).size()));
    out(counts);
    for (int c = 0; c < channels; ++c)
        for (int y = 0; y < size.height(); ++y)
            out(packBits(rowAt(c, y), rowBytes));
}

// The channels of a picture's pixel: grey, RGB, or CMYK stored as what is left of the paper (for
// black, all of it); then its alpha.
int channelOf(const Layout &l, QRgb c, int channel)
{
    const int colours = l.mode == Rgb ? 3 : l.mode == Cmyk ? 4 : 1;
    if (channel == colours)
        return qAlpha(c);
    if (l.mode == Grey)
        return qGray(c);
    if (l.mode == Cmyk)
        return channel == 3 ? 255 : channel == 0 ? qRed(c) : channel == 1 ? qGreen(c) : qBlue(c);
    return channel == 0 ? qRed(c) : channel == 1 ? qGreen(c) : qBlue(c);
}

QByteArray psdOf(const Layout &l, const QImage &picture)
{
    QByteArray data;
    writePsd(
        l, picture.size(),
        [&](int c, int y, uchar *levels) {
            for (int x = 0; x < picture.width(); ++x)
                levels[x] = uchar(channelOf(l, picture.pixel(x, y), c));
        },
        [&](const QByteArray &bytes) { data += bytes; });
    return data;
}

const Layout layouts[] = {
    {"RGB", Rgb, 8, false, false},           {"RGB, PackBits", Rgb, 8, true, false},
    {"RGB, 16 bits", Rgb, 16, false, false}, {"RGB, 16 bits, PackBits", Rgb, 16, true, false},
    {"grey", Grey, 8, true, false},          {"CMYK", Cmyk, 8, true, false},
    {"RGB with alpha", Rgb, 8, true, true},
};

QImage picture()
{
    QImage image(41, 27, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba((x * 6) % 256, (y * 9) % 256, x < 20 ? 30 : 220, x < 6 ? 0 : 255));
    return image;
}

} // namespace

// Every layout reads as the picture it was written from; a thumbnail is that picture averaged.
TEST(PSDImageRepTest, LayoutsReadAsWritten)
{
    const QImage source = picture();
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        QImage expected = l.alpha ? source : source.convertToFormat(QImage::Format_RGB32);
        if (l.mode == Grey)
            expected = expected.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
        const QByteArray psd = psdOf(l, l.alpha ? source : expected);
        // Inks without a profile of their own go through the system's standard one, where there is one.
        if (const QByteArray standard = ColourTransform::standardCmykProfile(); l.mode == Cmyk && !standard.isEmpty())
            expected = colourfiles::leftOfPaperThrough(standard, expected).convertToFormat(QImage::Format_RGB32);
        const DecodeReport::Scope report;
        const QImage ours = PSDImageRep::initWithData(psd);
        ASSERT_EQ(ours.size(), source.size());
        EXPECT_EQ(ours.hasAlphaChannel(), l.alpha);
        EXPECT_EQ(ours.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
        EXPECT_TRUE(report.damage().isEmpty());
        const QImage thumbnail = PSDImageRep::initWithData(psd, QSize(16, 16));
        ASSERT_EQ(thumbnail.size(), QSize(16, 11));
        EXPECT_LT(meanDifference(thumbnail, PictureRows::reduced(ours, thumbnail.size())), 1.0);
    }
}

// The colour profile among the image resources is the picture's: RGB rows keep its numbers and
// carry it, inks are turned into sRGB through it; the colour as stored is noted.
TEST(PSDImageRepTest, TheEmbeddedProfileIsThePicturesOwn)
{
    const QImage source = picture().convertToFormat(QImage::Format_RGB32);
    const QByteArray adobe = colourfiles::adobeRgbProfile();
    const QByteArray inks = colourfiles::systemProfile("ps_cmyk.icc");
    struct Case {
        Layout layout;
        const char *space;
        QImage expected;
    };
    std::vector<Case> cases = {{{"RGB, Adobe RGB", Rgb, 8, true, false, adobe}, "RGB", source}};
    if (!inks.isEmpty())
        cases.push_back({{"CMYK, its profile", Cmyk, 8, true, false, inks},
                         "CMYK",
                         colourfiles::leftOfPaperThrough(inks, source).convertToFormat(QImage::Format_RGB32)});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.layout.name);
        const QByteArray psd = psdOf(c.layout, source);
        for (const QSize box : {QSize(), QSize(16, 16)}) {
            const DecodeReport::Scope report;
            const QImage ours = PSDImageRep::initWithData(psd, box);
            ASSERT_FALSE(ours.isNull());
            EXPECT_EQ(report.colourSpace(), QLatin1String(c.space));
            EXPECT_EQ(report.colourProfile(), c.layout.icc);
            EXPECT_LT(meanDifference(ours, PictureRows::reduced(c.expected, ours.size())), 2.0);
            if (c.layout.mode == Rgb) {
                EXPECT_EQ(ours.colorSpace(), QColorSpace::fromIccProfile(adobe));
            }
        }
    }
}

// A file cut short keeps the rows every channel holds, the rest grey, and says so; one whose
// channels are cut before the first row has all of them gives nothing; a row that does not unpack
// to its length is corrupt.
TEST(PSDImageRepTest, DamagedFilesKeepTheRowsOfEveryChannel)
{
    const QImage source = rowsPicture(QSize(120, 90));
    const Layout rgb{"", Rgb, 8, true, false}, raw{"", Rgb, 8, false, false};
    const QByteArray packed = psdOf(rgb, source), plain = psdOf(raw, source);
    const qsizetype dataAt = 26 + 4 + 4 + 4 + 2;
    const qsizetype countsEnd = dataAt + 3 * 90 * 2;
    // The last channel's rows: the counts of its rows are the last of the counts.
    const qsizetype blueAt = packed.size() - [&] {
        qsizetype bytes = 0;
        for (int y = 0; y < 90; ++y)
            bytes += qFromBigEndian<quint16>(packed.constData() + countsEnd - 2 * (90 - y));
        return bytes;
    }();
    QByteArray badCount = packed;
    // Blue's tenth row claims one byte more, so that it and the rows after it do not unpack.
    qToBigEndian(quint16(qFromBigEndian<quint16>(packed.constData() + countsEnd - 2 * 80) + 1),
                 badCount.data() + countsEnd - 2 * 80);
    const struct {
        const char *name;
        QByteArray data;
        QString damage;
        int kept; // rows kept, at least; -1: no picture
    } cases[] = {
        {"PackBits, cut in the last channel", packed.left(blueAt + (packed.size() - blueAt) / 2),
         QStringLiteral("the data ends early"), 30},
        {"raw, cut in the last channel", plain.left(plain.size() - 120 * 45), QStringLiteral("the data ends early"),
         40},
        {"raw, cut in the first channel", plain.left(dataAt + 120 * 45), QStringLiteral("the data ends early"), -1},
        {"PackBits, a row's count wrong", badCount, QStringLiteral("the data is corrupt"), 9},
    };
    const QImage whole = PSDImageRep::initWithData(plain);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeReport::Scope report;
        const QImage image = PSDImageRep::initWithData(c.data);
        EXPECT_EQ(report.damage(), c.damage);
        if (c.kept < 0) {
            EXPECT_TRUE(image.isNull());
            continue;
        }
        ASSERT_EQ(image.size(), source.size());
        const int kept = rowsKept(image, whole);
        EXPECT_GE(kept, c.kept);
        EXPECT_LT(kept, 90);
        EXPECT_EQ(image.pixel(5, 89), qRgb(128, 128, 128));
        const QImage thumbnail = PSDImageRep::initWithData(c.data, QSize(60, 60));
        ASSERT_EQ(thumbnail.size(), QSize(60, 45));
        EXPECT_EQ(thumbnail.pixel(5, 44), qRgb(128, 128, 128));
    }
}

// Large Photoshop files of 24 megapixels get their thumbnails from a thumbnail decoder, as the
// import reads them (as a movie's still): 8 and 16 bits, RGB, grey and CMYK, raw and PackBits.
TEST(PSDImageRepTest, LargeFilesGetTheirThumbnailsWithinTheThumbnailDecodersLimit)
{
    QTemporaryDir dir;
    const QSize size(6000, 4000);
    const Layout cases[] = {
        {"RGB, PackBits", Rgb, 8, true, false},           {"RGB, 16 bits", Rgb, 16, false, false},
        {"RGB, 16 bits, PackBits", Rgb, 16, true, false}, {"grey", Grey, 8, false, false},
        {"CMYK, PackBits", Cmyk, 8, true, false},
    };
    for (const Layout &l : cases) {
        SCOPED_TRACE(l.name);
        const QString path = dir.filePath(QStringLiteral("large.psd"));
        {
            const scenefiles::Scene scene(size);
            scenefiles::Writer file(path);
            writePsd(
                l, size,
                [&](int c, int y, uchar *levels) {
                    if (c > 2)
                        std::fill(levels, levels + size.width(), uchar(255));
                    else
                        scene.levels(l.mode == Grey ? scenefiles::Scene::Grey : scenefiles::Scene::Channel(c), y,
                                     levels);
                },
                [&](const QByteArray &bytes) { file.write(bytes); });
        }
        // Inks without a profile of their own go through the system's standard one, where there is one.
        const QByteArray standard = l.mode == Cmyk ? ColourTransform::standardCmykProfile() : QByteArray();
        scenefiles::expectThumbnailOfScene(path, size, l.mode == Grey, true, 3.0, [&](const QImage &reference) {
            return standard.isEmpty() ? reference : colourfiles::leftOfPaperThrough(standard, reference);
        });
    }
}
