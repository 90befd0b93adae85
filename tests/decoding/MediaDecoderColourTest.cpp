// Pictures come out of the decoder processes in their own colours: for the screen (thumbnails,
// full-size reads) in sRGB through the profile the file embeds, with the colour as stored told to
// the caller's report; for the outputs, RGB in the numbers of its profile with that profile, inks
// and Lab in sRGB.

#include "decoding/DecodeReport.h"
#include "decoding/MediaDecoder.h"
#include "tests/support/ColourFiles.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <vector>

using Use = MediaDecoder::Use;

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct ColourFile {
    const char *name;
    // Writes the file, its left half of one colour and its right half of another.
    std::function<bool(const QString &)> write;
    QRgb screenLeft; // in sRGB
    QRgb screenRight;
    const char *space;
    QByteArray profile; // as the file embeds it
    bool outputKeepsProfile;
    QRgb outputLeft; // the numbers an output writes
};

QRgb at(const QImage &image, int x, int y, int width = 64)
{
    const double scale = image.width() / double(width);
    return image.pixel(int(x * scale), int(y * scale));
}

} // namespace

TEST(MediaDecoderColourTest, PicturesComeInTheirOwnColoursOnEveryRoad)
{
    const QByteArray adobe = colourfiles::adobeRgbProfile();
    const QByteArray inks = colourfiles::systemProfile("ps_cmyk.icc");
    const QSize size(64, 32);
    // sRGB's green as Adobe RGB stores it on the left, red (the two spaces share it) on the right.
    auto adobeRgb = [](int x, int) { return x < 32 ? qRgb(144, 255, 60) : qRgb(255, 0, 0); };
    std::vector<ColourFile> files = {
        {"adobe.jpg",
         [&](const QString &path) {
             return writeBytes(path, colourfiles::writeJpeg(size, false, adobe, [&](int x, int y) {
                                   const QRgb c = adobeRgb(x, y);
                                   return std::vector<int>{qRed(c), qGreen(c), qBlue(c)};
                               }));
         },
         qRgb(0, 255, 0), qRgb(255, 0, 0), "RGB", adobe, true, qRgb(144, 255, 60)},
        {"adobe.tif",
         [&](const QString &path) {
             colourfiles::TiffLayout layout;
             layout.icc = adobe;
             return colourfiles::writeTiff(path, layout, size, [&](int x, int y) {
                 const QRgb c = adobeRgb(x, y);
                 return std::vector<double>{double(qRed(c)), double(qGreen(c)), double(qBlue(c))};
             });
         },
         qRgb(0, 255, 0), qRgb(255, 0, 0), "RGB", adobe, true, qRgb(144, 255, 60)},
        {"adobe.png",
         [&](const QString &path) {
             QImage picture(size, QImage::Format_RGB32);
             for (int y = 0; y < size.height(); ++y)
                 for (int x = 0; x < size.width(); ++x)
                     picture.setPixel(x, y, adobeRgb(x, y));
             picture.setColorSpace(QColorSpace::fromIccProfile(adobe));
             return picture.save(path);
         },
         qRgb(0, 255, 0), qRgb(255, 0, 0), "RGB", adobe, true, qRgb(144, 255, 60)},
        {"plain.jpg",
         [&](const QString &path) {
             return writeBytes(path, colourfiles::writeJpeg(size, false, {}, [](int x, int) {
                                   return x < 32 ? std::vector<int>{200, 30, 30} : std::vector<int>{20, 40, 210};
                               }));
         },
         qRgb(200, 30, 30),
         qRgb(20, 40, 210),
         "RGB",
         {},
         false,
         qRgb(200, 30, 30)},
        {"lab.tif",
         [&](const QString &path) {
             colourfiles::TiffLayout layout;
             layout.photometric = PHOTOMETRIC_CIELAB;
             // sRGB's blue and red in ICC's D50 Lab.
             return colourfiles::writeTiff(path, layout, size, [](int x, int) {
                 return x < 32 ? std::vector<double>{29.57 * 2.55, 68, -112}
                               : std::vector<double>{54.29 * 2.55, 81, 70};
             });
         },
         qRgb(0, 0, 255),
         qRgb(255, 0, 0),
         "Lab",
         {},
         false,
         qRgb(0, 0, 255)},
    };
    if (!inks.isEmpty()) {
        const QRgb cyan = colourfiles::inksThrough(inks, 255, 0, 0, 0);
        const QRgb red = colourfiles::inksThrough(inks, 0, 255, 255, 0);
        files.push_back({"cmyk.jpg",
                         [&](const QString &path) {
                             return writeBytes(
                                 path, colourfiles::writeJpeg(size, true, inks, [](int x, int) {
                                     return x < 32 ? std::vector<int>{255, 0, 0, 0} : std::vector<int>{0, 255, 255, 0};
                                 }));
                         },
                         cyan, red, "CMYK", inks, false, cyan});
        files.push_back(
            {"cmyk planes.tif",
             [&](const QString &path) {
                 colourfiles::TiffLayout layout;
                 layout.photometric = PHOTOMETRIC_SEPARATED;
                 layout.colours = 4;
                 layout.bits = 16;
                 layout.planar = PLANARCONFIG_SEPARATE;
                 layout.icc = inks;
                 return colourfiles::writeTiff(path, layout, size, [](int x, int) {
                     return x < 32 ? std::vector<double>{65535, 0, 0, 0} : std::vector<double>{0, 65535, 65535, 0};
                 });
             },
             cyan, red, "CMYK", inks, false, cyan});
    }
    QTemporaryDir dir;
    for (const ColourFile &file : files) {
        SCOPED_TRACE(file.name);
        const QString path = dir.filePath(QLatin1String(file.name));
        ASSERT_TRUE(file.write(path));
        // For the screen: a thumbnail and the whole picture.
        for (const Use use : {Use::Thumbnail, Use::FullSize}) {
            const DecodeReport::Scope report;
            const QImage image = MediaDecoder(use).read(path, use == Use::Thumbnail ? QSize(16, 16) : QSize());
            ASSERT_FALSE(image.isNull());
            EXPECT_LE(colourfiles::distance(at(image, 8, 16), file.screenLeft), 9)
                << std::hex << at(image, 8, 16) << " for " << file.screenLeft;
            EXPECT_LE(colourfiles::distance(at(image, 56, 16), file.screenRight), 9)
                << std::hex << at(image, 56, 16) << " for " << file.screenRight;
            EXPECT_EQ(report.colourSpace(), QLatin1String(file.space));
            EXPECT_EQ(report.colourProfile(), file.profile);
        }
        // For the outputs: streamed at its own size, and reduced.
        for (const QSize box : {QSize(64, 64), QSize(32, 32)}) {
            const std::optional<QByteArray> jpeg = MediaDecoder(Use::FullSize).writeJpeg(path, box, 1, 95);
            ASSERT_TRUE(jpeg.has_value()) << box.width();
            const QImage written = QImage::fromData(*jpeg, "JPEG");
            ASSERT_FALSE(written.isNull());
            EXPECT_LE(colourfiles::distance(at(written, 8, 16), file.outputLeft), 12)
                << box.width() << ": " << std::hex << at(written, 8, 16) << " for " << file.outputLeft;
            const QByteArray carried = written.colorSpace().isValid() ? written.colorSpace().iccProfile()
                                                                      : QByteArray();
            if (file.outputKeepsProfile)
                EXPECT_EQ(carried, file.profile) << box.width();
            else
                EXPECT_TRUE(carried.isEmpty() || written.colorSpace() == QColorSpace(QColorSpace::SRgb)) << box.width();
        }
    }
}
