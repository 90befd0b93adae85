#include "formats/TGAImageRep.h"
#include "formats/PictureReaders.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "tests/formats/SceneFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <vector>

namespace {

struct Layout {
    const char *name;
    int imageType; // 1 colour-mapped, 2 true-colour, 3 grey; +8 run-length encoded
    int bits;      // bits a pixel
    bool topFirst; // rows stored top first (else bottom first, the default)
    int alphaBits; // the descriptor's alpha bits
};

// Four colours in bands, so that a colour map of four entries serves; rows differ by their band
// and a dot that moves along them.
QRgb scene(int x, int y, bool alpha)
{
    static const QRgb colours[4] = {qRgb(200, 30, 30), qRgb(30, 180, 40), qRgb(20, 40, 210), qRgb(240, 240, 240)};
    const QRgb c = x == y % 16 ? colours[(y / 4 + 1) % 4] : colours[(y / 4) % 4];
    return alpha ? qRgba(qRed(c), qGreen(c), qBlue(c), x < 8 ? 128 : 255) : c;
}

QByteArray tgaOf(const Layout &l, int width, int height)
{
    QByteArray tga(18, '\0');
    const bool mapped = (l.imageType & 7) == 1;
    const bool grey = (l.imageType & 7) == 3;
    tga[1] = char(mapped ? 1 : 0);
    tga[2] = char(l.imageType);
    if (mapped) {
        tga[5] = 4;  // four entries
        tga[7] = 24; // of 24 bits
    }
    tga[12] = char(width & 0xff), tga[13] = char(width >> 8);
    tga[14] = char(height & 0xff), tga[15] = char(height >> 8);
    tga[16] = char(l.bits);
    tga[17] = char((l.topFirst ? 0x20 : 0) | l.alphaBits);
    static const QRgb colours[4] = {qRgb(200, 30, 30), qRgb(30, 180, 40), qRgb(20, 40, 210), qRgb(240, 240, 240)};
    if (mapped)
        for (QRgb c : colours)
            tga.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
    auto pixel = [&](QRgb c) {
        QByteArray p;
        if (mapped) {
            p.append(char(std::find(colours, colours + 4, c) - colours));
        } else if (grey) {
            p.append(char(qGray(c)));
        } else if (l.bits == 16) {
            const int v = ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
            p.append(char(v & 0xff)).append(char(v >> 8));
        } else {
            p.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
            if (l.bits == 32)
                p.append(char(qAlpha(c)));
        }
        return p;
    };
    for (int row = 0; row < height; ++row) {
        const int y = l.topFirst ? row : height - 1 - row;
        for (int x = 0; x < width;) {
            const QRgb c = scene(x, y, l.alphaBits > 0);
            if (l.imageType < 8) {
                tga.append(pixel(c));
                ++x;
                continue;
            }
            // Runs of equal pixels within the row, single pixels as raw packets.
            int run = 1;
            while (x + run < width && run < 128 && scene(x + run, y, l.alphaBits > 0) == c)
                ++run;
            tga.append(char(run > 1 ? 0x80 | (run - 1) : 0)).append(pixel(c));
            x += run;
        }
    }
    return tga;
}

// What the reader should give for the layout: the scene as the layout can store it.
QRgb expected(const Layout &l, int x, int y)
{
    const QRgb c = scene(x, y, l.alphaBits > 0);
    if ((l.imageType & 7) == 3)
        return qRgb(qGray(c), qGray(c), qGray(c));
    if (l.bits == 16) {
        auto five = [](int v) { return ((v >> 3) << 3) | ((v >> 3) >> 2); };
        return qRgb(five(qRed(c)), five(qGreen(c)), five(qBlue(c)));
    }
    return c;
}

int rowsAsStored(const QImage &image, const Layout &l)
{
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        bool same = true;
        for (int x = 0; x < image.width() && same; ++x)
            same = image.pixel(x, y) == expected(l, x, y);
        rows += same ? 1 : 0;
    }
    return rows;
}

} // namespace

// Each layout reads as stored; a file cut at half keeps the rows before the cut (the bottom ones
// where the rows are stored bottom first) and says the data ends early; a run past the picture's
// end is corrupt. A whole file says nothing.
TEST(TGAImageRepTest, LayoutsReadWholeAndKeepTheirRowsWhenCutOrCorrupt)
{
    const Layout layouts[] = {
        {"true-colour 24, bottom first", 2, 24, false, 0},
        {"true-colour 32 with alpha, top first", 2, 32, true, 8},
        {"true-colour 16", 2, 16, false, 0},
        {"run-length 24", 10, 24, false, 0},
        {"colour-mapped", 1, 8, true, 0},
        {"run-length colour-mapped", 9, 8, false, 0},
        {"run-length grey", 11, 8, true, 0},
    };
    const int width = 40, height = 32;
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QByteArray whole = tgaOf(l, width, height);
        ASSERT_TRUE(TGAImageRep::canInitWithData(whole));
        {
            const DecodeReport::Scope report;
            const QImage image = TGAImageRep::initWithData(whole);
            ASSERT_EQ(image.size(), QSize(width, height));
            EXPECT_EQ(image.hasAlphaChannel(), l.alphaBits > 0);
            EXPECT_EQ(rowsAsStored(image, l), height);
            EXPECT_TRUE(report.damage().isEmpty());
        }
        {
            const DecodeReport::Scope report;
            const QImage image = TGAImageRep::initWithData(whole.left(whole.size() / 2));
            ASSERT_EQ(image.size(), QSize(width, height));
            const int kept = rowsAsStored(image, l);
            EXPECT_GE(kept, height / 3);
            EXPECT_LT(kept, height);
            // The first row stored is kept, the last is grey.
            const int first = l.topFirst ? 0 : height - 1, last = l.topFirst ? height - 1 : 0;
            EXPECT_EQ(image.pixel(5, first), expected(l, 5, first));
            EXPECT_EQ(image.pixel(20, last), qRgb(128, 128, 128));
            EXPECT_EQ(report.damage(), QStringLiteral("the data ends early"));
        }
    }
    // A run that claims more pixels than are left: the picture is cut there.
    const Layout rle = layouts[3];
    QByteArray runPast = tgaOf(rle, width, height);
    runPast.append(char(0xff)).append("\x01\x02\x03", 3);
    const DecodeReport::Scope report;
    EXPECT_EQ(rowsAsStored(TGAImageRep::initWithData(runPast), rle), height);
    EXPECT_TRUE(report.damage().isEmpty()) << "bytes after the picture are ignored";
    QByteArray overlong = tgaOf(rle, width, height);
    overlong[18] = char(0xff); // the first packet: a run of 128 pixels where the row has 40
    const DecodeReport::Scope corrupt;
    EXPECT_FALSE(TGAImageRep::initWithData(overlong).isNull());
    EXPECT_EQ(corrupt.damage(), QStringLiteral("the data is corrupt"));
}

TEST(TGAImageRepTest, RefusesWhatIsNoTgaAndClaimsTheDataCannotHold)
{
    EXPECT_FALSE(TGAImageRep::canInitWithData(QByteArray(17, '\0')));
    QByteArray header(18, '\0');
    header[2] = 2;
    header[16] = 24;
    EXPECT_FALSE(TGAImageRep::canInitWithData(header)) << "no width";
    header[12] = char(0xff), header[13] = char(0xff), header[14] = char(0xff), header[15] = char(0xff);
    EXPECT_TRUE(TGAImageRep::canInitWithData(header));
    // 65535 × 65535 pixels from 18 bytes: refused before anything is allocated.
    EXPECT_TRUE(TGAImageRep::initWithData(header).isNull());
    header[2] = 7;
    EXPECT_FALSE(TGAImageRep::canInitWithData(header));
}

// The program's image reading takes .tga files to this reader, Qt's would refuse those without
// the version 2 footer.
TEST(TGAImageRepTest, ProgramImageReadingUsesThisReaderForTgaFiles)
{
    PictureReaders::registerAll();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.tga"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tgaOf({"run-length", 10, 24, false, 0}, 40, 32));
    file.close();
    EXPECT_EQ(ImageFileReader::read(path).size(), QSize(40, 32));
    EXPECT_EQ(ImageFileReader::read(path, QSize(20, 20)).size(), QSize(20, 16));
}

// Large TGA files of 16 megapixels get their thumbnails from a thumbnail decoder: raw and
// run-length encoded, 24 and 32 bits, stored bottom first and top first.
TEST(TGAImageRepTest, LargeFilesGetTheirThumbnailsWithinTheThumbnailDecodersLimit)
{
    QTemporaryDir dir;
    const QSize size(4608, 3456);
    const Layout cases[] = {
        {"true-colour 24, bottom first", 2, 24, false, 0},
        {"true-colour 32, top first", 2, 32, true, 8},
        {"run-length 24, bottom first", 10, 24, false, 0},
        {"run-length 32, top first", 10, 32, true, 8},
    };
    for (const Layout &l : cases) {
        SCOPED_TRACE(l.name);
        const QString path = dir.filePath(QStringLiteral("large.tga"));
        {
            const scenefiles::Scene scene(size);
            scenefiles::Writer file(path);
            QByteArray header(18, '\0');
            header[2] = char(l.imageType);
            header[12] = char(size.width() & 0xff), header[13] = char(size.width() >> 8);
            header[14] = char(size.height() & 0xff), header[15] = char(size.height() >> 8);
            header[16] = char(l.bits);
            header[17] = char((l.topFirst ? 0x20 : 0) | l.alphaBits);
            file.write(header);
            const int bytes = l.bits / 8;
            std::vector<QRgb> pixels(static_cast<size_t>(size.width()));
            std::vector<uchar> row(size_t(size.width()) * size_t(bytes + 1));
            for (int stored = 0; stored < size.height(); ++stored) {
                const int y = l.topFirst ? stored : size.height() - 1 - stored;
                scene.pixels(y, false, pixels.data());
                const QRgb *p = pixels.data();
                uchar *d = row.data();
                for (int x = 0; x < size.width();) {
                    // Runs of equal pixels within the row, as packets when run-length encoded.
                    int run = 1;
                    if (l.imageType >= 8) {
                        while (x + run < size.width() && run < 128 && p[x + run] == p[x])
                            ++run;
                        *d++ = uchar(0x80 | (run - 1));
                    }
                    *d++ = uchar(qBlue(p[x])), *d++ = uchar(qGreen(p[x])), *d++ = uchar(qRed(p[x]));
                    if (bytes == 4)
                        *d++ = 255;
                    x += run;
                }
                file.write(QByteArray(reinterpret_cast<const char *>(row.data()), d - row.data()));
            }
        }
        scenefiles::expectThumbnailOfScene(path, size, false);
    }
}

// The origin bits of the descriptor (bit 5 top first, bit 4 right to left) put the stored rows
// and pixels in their places, whole and as a thumbnail: four files by hand, one per corner, of a
// picture with a red band at the top and a blue one at the left. ImageMagick's files read as
// ImageMagick itself shows them turned by their origin (-auto-orient): ImageMagick 6 stores a
// picture's top row first and marks the origin bottom left, so that every reader that follows the
// origin (ffmpeg's, GIMP's, ImageMagick's own -auto-orient) shows its pictures upside down.
TEST(TGAImageRepTest, OriginBitsPutTheRowsInTheirPlaces)
{
    PictureReaders::registerAll();
    const int width = 40, height = 30;
    auto scene = [](int x, int y) {
        return y < 5 ? qRgb(255, 0, 0) : x < 5 && y >= 10 ? qRgb(0, 0, 255) : qRgb(255, 255, 255);
    };
    QTemporaryDir dir;
    struct Case {
        QString path;
        std::function<QRgb(int, int)> expected;
    };
    std::vector<Case> cases;
    for (const bool top : {false, true})
        for (const bool right : {false, true}) {
            QByteArray tga(18, '\0');
            tga[2] = 2;
            tga[12] = char(width), tga[14] = char(height), tga[16] = 24;
            tga[17] = char((right ? 0x10 : 0) | (top ? 0x20 : 0));
            for (int row = 0; row < height; ++row)
                for (int column = 0; column < width; ++column) {
                    const QRgb c = scene(right ? width - 1 - column : column, top ? row : height - 1 - row);
                    tga.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
                }
            const QString path =
                dir.filePath(QStringLiteral("%1 %2.tga")
                                 .arg(QLatin1String(top ? "top" : "bottom"), QLatin1String(right ? "right" : "left")));
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(tga);
            file.close();
            cases.push_back({path, scene});
        }
    const QString png = dir.filePath(QStringLiteral("scene.png"));
    {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, scene(x, y));
        ASSERT_TRUE(image.save(png));
    }
    auto run = [](const QString &command) { return std::system(command.toLocal8Bit().constData()) == 0; };
    if (run(QStringLiteral("convert -version >/dev/null 2>&1"))) {
        for (const char *options : {"", "-compress RLE", "-type TrueColor", "-alpha set"}) {
            const QString path = dir.filePath(QStringLiteral("magick %1.tga").arg(QLatin1String(options)));
            const QString shown = path + QStringLiteral(".png");
            ASSERT_TRUE(run(QStringLiteral("convert '%1' %2 '%3' && convert '%3' -auto-orient '%4'")
                                .arg(png, QLatin1String(options), path, shown)));
            const QImage reference(shown);
            ASSERT_FALSE(reference.isNull());
            cases.push_back({path, [reference](int x, int y) { return reference.pixel(x, y) | 0xff000000u; }});
        }
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QImage whole = ImageFileReader::read(c.path);
        ASSERT_EQ(whole.size(), QSize(width, height));
        for (const QPoint p : {QPoint(20, 1), QPoint(20, 28), QPoint(1, 20), QPoint(38, 20), QPoint(1, 1)})
            EXPECT_EQ(whole.pixel(p) | 0xff000000u, c.expected(p.x(), p.y())) << p.x() << "," << p.y();
        const QImage small = ImageFileReader::read(c.path, QSize(20, 20));
        ASSERT_EQ(small.size(), QSize(20, 15));
        for (const QPoint p : {QPoint(10, 0), QPoint(10, 14), QPoint(0, 10), QPoint(19, 10)})
            EXPECT_LT(std::abs(qRed(small.pixel(p)) - qRed(c.expected(p.x() * 2, p.y() * 2)))
                          + std::abs(qBlue(small.pixel(p)) - qBlue(c.expected(p.x() * 2, p.y() * 2))),
                      40)
                << p.x() << "," << p.y();
    }
}
