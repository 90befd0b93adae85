#include "import/OVNImportHelper.h"
#include "import/OVNImportParserAdobe.h"
#include "import/OVNImportParserGenericDocument.h"
#include "import/OVNImportParserWeblocDocument.h"

#include "formats/OVNHelper.h"

#include "../formats/SyntheticDng.h"
#include "../support/HostileFiles.h"
#include "../support/LargeJpegs.h"
#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

QImage decoded(const QByteArray &jpeg) { return QImage::fromData(jpeg, "JPEG"); }

// Mean absolute difference of two pictures of the same size, per channel, 0 to 255.
double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

QString writeImage(const QString &path, QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height() / 2, Qt::red);
    EXPECT_TRUE(image.save(path, format));
    return path;
}

// Writes `data` as the file `name` in `dir`; its path.
QString writeFile(const QTemporaryDir &dir, const char *name, const QByteArray &data)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

} // namespace

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);

TEST(ImportHelper, ThumbnailBoxKeepsTheAspectAndTakesTheLongSide)
{
    EXPECT_NEAR(OVNImportHelper::thumbnailDimensions({3000, 2000}, {256, 256}).height(), 170.67, 0.01);
    EXPECT_NEAR(OVNImportHelper::thumbnailDimensions({2000, 3000}, {256, 256}).width(), 170.67, 0.01);
    EXPECT_EQ(OVNImportHelper::thumbnailPixelSize({3000, 2000}, {256, 256}), QSize(256, 171));
    EXPECT_EQ(OVNImportHelper::thumbnailPixelSize({100, 100}, {512, 512}), QSize(512, 512));
}

// A thumbnail is stored as the JPEG Qt's writer makes of it at the catalog's quality, translucency
// laid on white, whatever the picture's format and colour space.
TEST(ImportHelper, ThumbnailsAreStoredAsQtsWriterWritesThem)
{
    QImage rgb(256, 192, QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            rgb.setPixel(x, y, qRgb((x * 7 + y) % 256, (x * y) % 256, (x ^ y) % 256));
    QImage translucent = rgb.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, qRgba(200, x % 256, 9, x % 256));
    QImage profiled = rgb;
    profiled.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    QImage dense = rgb;
    dense.setDotsPerMeterX(11811);
    dense.setDotsPerMeterY(5906);
    const struct {
        const char *name;
        QImage picture;
    } cases[] = {
        {"RGB", rgb},
        {"translucent", translucent},
        {"grey", rgb.convertToFormat(QImage::Format_Grayscale8)},
        {"with a colour profile", profiled},
        {"with a density", dense},
        {"RGB in 24 bits", rgb.convertToFormat(QImage::Format_RGB888)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QImage opaque = c.picture;
        if (opaque.hasAlphaChannel()) {
            opaque = QImage(c.picture.size(), QImage::Format_RGB32);
            opaque.fill(Qt::white);
            QPainter(&opaque).drawImage(0, 0, c.picture);
        }
        QByteArray expected;
        QBuffer buffer(&expected);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(opaque.save(&buffer, "JPEG", 50));
        EXPECT_EQ(OVNImportHelper::jpegData(c.picture), expected);
    }
}

TEST(ImportHelper, PathWordsFromTheFifthComponentOn)
{
    EXPECT_EQ(OVNImportHelper::pathWords(QStringLiteral("/Users/user/Pictures/Trip/img01.jpg")),
              QStringLiteral("img01 Trip "));
    EXPECT_EQ(OVNImportHelper::pathWords(QStringLiteral("/a/b.jpg")), QString());
    EXPECT_EQ(OVNImportHelper::pathWords(QStringLiteral("/a/b/c/d.e/f")), QStringLiteral("f d.e "));
}

TEST(ImportHelper, MovieFrameTimesAndDocumentPages)
{
    const auto times = OVNImportHelper::movieFrameTimes(1000, {{10, 40, 60, 90}});
    EXPECT_EQ(times, (std::array<qint64, 4>{{100, 400, 600, 900}}));
    EXPECT_EQ(OVNImportHelper::documentPages(1), (std::array<int, 4>{{0, 0, 0, 0}}));
    EXPECT_EQ(OVNImportHelper::documentPages(10), (std::array<int, 4>{{0, 1, 8, 9}}));
}

// A movie's four frames make one canvas only when all four were had: a frame that needed more
// memory than a decoder has leaves the first one had, alone, never a hole of white.
TEST(ImportHelper, FramesMakeACanvasOnlyWhenAllWereHad)
{
    auto frame = [](QRgb colour) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    };
    const QImage red = frame(qRgb(255, 0, 0)), green = frame(qRgb(0, 255, 0)), blue = frame(qRgb(0, 0, 255));
    struct Case {
        const char *name;
        QList<QImage> frames;
        QSize size;   // of the thumbnail; invalid for none
        QRgb topLeft; // its first pixel
    };
    const Case cases[] = {
        {"all four", {red, green, blue, red}, QSize(85, 65), qRgb(255, 0, 0)},
        {"the first alone of four", {red, QImage(), QImage(), QImage()}, QSize(40, 30), qRgb(255, 0, 0)},
        {"the first missing", {QImage(), green, blue, red}, QSize(40, 30), qRgb(0, 255, 0)},
        {"one in the middle missing", {red, green, QImage(), blue}, QSize(40, 30), qRgb(255, 0, 0)},
        {"none", {QImage(), QImage(), QImage(), QImage()}, QSize(0, 0), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage thumbnail = OVNImportHelper::composeFrames(c.frames, 2, 1);
        EXPECT_EQ(thumbnail.size(), c.size);
        if (!thumbnail.isNull()) {
            EXPECT_EQ(thumbnail.pixel(0, 0) & 0xffffffu, c.topLeft & 0xffffffu);
        }
    }
}

TEST(ImportHelper, PostScriptStringsOfACommentLine)
{
    EXPECT_EQ(OVNImportParserAdobe::getPSStringFromLine(QStringLiteral("%%Title: (Poster) (Final)")),
              QStringLiteral("Poster Final"));
    EXPECT_EQ(OVNImportParserAdobe::getPSStringFromLine(QStringLiteral("%%Title: (a)(b)")), QStringLiteral("a"));
    EXPECT_EQ(OVNImportParserAdobe::getPSStringFromLine(QStringLiteral("%%Title: (open")), QString());
    const QVariantMap comments = OVNImportParserAdobe::commentsFromText(
        "%!PS-Adobe-3.0 EPSF-3.0\r%%Title: (Poster)\n%%Creator: Illustrator 9\r\n%%For: (Ann)\n");
    EXPECT_EQ(comments.value(QStringLiteral("Title")), QStringLiteral("Poster"));
    EXPECT_EQ(comments.value(QStringLiteral("Author")), QStringLiteral("Ann"));
    EXPECT_EQ(comments.value(QStringLiteral("Creator")), QStringLiteral("Illustrator 9"));
}

TEST(ImportHelper, WebLocationAddressFromPlistOrLink)
{
    EXPECT_EQ(
        OVNImportParserWeblocDocument::urlFromData("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>URL</key>"
                                                   "<string>https://example.org/</string></dict></plist>"),
        QStringLiteral("https://example.org/"));
    EXPECT_EQ(OVNImportParserWeblocDocument::urlFromData("[InternetShortcut]\nURL=https://x.test/a\n"),
              QStringLiteral("https://x.test/a"));
    EXPECT_EQ(OVNImportParserWeblocDocument::urlFromData("\x01\x02garbage"), QString());
}

TEST(ImportHelper, ImageFileGivesSizesTypeAndScaledThumbnail)
{
    QTemporaryDir dir;
    OVNImportHelper helper;
    for (const char *format : {"jpg", "tif", "png"}) {
        const QString path =
            writeImage(dir.filePath(QStringLiteral("pic.") + QLatin1String(format)), {900, 600}, format);
        QVariantMap record;
        const QByteArray jpeg = helper.thumbnailForMediaFile(path, record);
        ASSERT_FALSE(jpeg.isEmpty()) << format;
        EXPECT_EQ(record.value(QStringLiteral("filetype")), QStringLiteral("NSImage")) << format;
        EXPECT_EQ(record.value(QStringLiteral("imagewidth")), QStringLiteral("900")) << format;
        EXPECT_EQ(record.value(QStringLiteral("imageheight")), QStringLiteral("600")) << format;
        EXPECT_EQ(record.value(QStringLiteral("filesize")).toLongLong(), QFileInfo(path).size());
        EXPECT_EQ(record.value(QStringLiteral("displaytag")), QStringLiteral("pic.") + QLatin1String(format));
        EXPECT_EQ(record.value(QStringLiteral("thumbimage")).toByteArray(), jpeg);
        const QImage thumb = decoded(jpeg);
        EXPECT_EQ(thumb.size(), QSize(256, 171)) << format;
        // The red quarter stays at the top left.
        EXPECT_GT(qRed(thumb.pixel(20, 20)), 200);
        EXPECT_LT(qRed(thumb.pixel(230, 150)), 80);
    }
}

TEST(ImportHelper, EmptyBrokenAndUnknownFiles)
{
    QTemporaryDir dir;
    OVNImportHelper helper;
    QFile(dir.filePath(QStringLiteral("empty.jpg"))).open(QIODevice::WriteOnly);
    QVariantMap record;
    QImage icon = decoded(helper.thumbnailForMediaFile(dir.filePath(QStringLiteral("empty.jpg")), record));
    EXPECT_EQ(icon.size(), QSize(128, 128));
    EXPECT_EQ(record.value(QStringLiteral("imagewidth")), QStringLiteral("0"));
    EXPECT_EQ(record.value(QStringLiteral("Orientation")).toInt(), 0);
    EXPECT_FALSE(helper.lastProblem().isEmpty());

    QFile broken(dir.filePath(QStringLiteral("broken.jpg")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("\xff\xd8\xff\xe1\x00\x10garbage", 14) + QByteArray(5000, '\x7f'));
    broken.close();
    record.clear();
    EXPECT_FALSE(helper.thumbnailForMediaFile(broken.fileName(), record).isEmpty());
    EXPECT_EQ(helper.lastProblem(), QStringLiteral("the picture cannot be read"));

    QFile unknown(dir.filePath(QStringLiteral("notes.zzq")));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("text");
    unknown.close();
    record.clear();
    EXPECT_TRUE(helper.thumbnailForMediaFile(unknown.fileName(), record).isEmpty());
    EXPECT_EQ(record.value(QStringLiteral("filetype")), QStringLiteral("None"));
}

// A document without a picture: with "ImportGenericNoThumbnailAction" 0 the desktop's icon for
// its type (from the icon theme, on any thread), and the drawn type icon where the theme has none;
// with any other value always the type icon.
TEST(ImportHelper, DocumentsWithoutAPictureTakeTheDesktopIconOrTheTypeIcon)
{
    QTemporaryDir dir;
    const QString theme = QStringLiteral("ovn-test-theme");
    const QString icons = dir.filePath(QStringLiteral("icons/") + theme);
    QDir().mkpath(icons + QStringLiteral("/128x128/mimetypes"));
    QFile index(icons + QStringLiteral("/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=ovn-test-theme\nDirectories=128x128/mimetypes\n\n"
                "[128x128/mimetypes]\nSize=128\nContext=MimeTypes\nType=Fixed\n");
    index.close();
    for (const auto &[name, color] :
         {std::pair{"text-plain", QColor(Qt::red)}, std::pair{"application-pdf", QColor(Qt::blue)},
          std::pair{"application-rtf", QColor(Qt::green)}}) {
        QImage icon(128, 128, QImage::Format_RGB32);
        icon.fill(color);
        ASSERT_TRUE(icon.save(icons + QStringLiteral("/128x128/mimetypes/%1.png").arg(QLatin1String(name))));
    }
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeBefore = QIcon::themeName();
    QIcon::setThemeSearchPaths({dir.filePath(QStringLiteral("icons"))});
    QIcon::setThemeName(theme);

    const auto write = [&dir](const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    const QString text = write("notes.txt", "Shopping list\n");
    const QString pdf = write("broken.pdf", "%PDF-1.4\nnot a page in sight\n%%EOF\n");
    const QString doc = write("letter.doc", QByteArray(300, 'd'));
    const struct {
        QString path;
        int action;
        QColor desktop; // the theme's icon's colour; invalid: the type icon
    } cases[] = {
        {text, 0, Qt::red}, {pdf, 0, Qt::blue}, {text, 1, QColor()},
        {pdf, 1, QColor()}, {pdf, 7, QColor()}, {doc, 0, QColor()}, // a type the theme has no icon for
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(QFileInfo(c.path).fileName() + QStringLiteral(" action %1").arg(c.action)));
        OVNImportHelper helper;
        OVNImportHelper::Preferences prefs = OVNImportHelper::readPreferences();
        prefs.noThumbnailAction = c.action;
        helper.setPreferences(prefs);
        QVariantMap record;
        const QImage thumb = decoded(helper.thumbnailForMediaFile(c.path, record));
        ASSERT_EQ(thumb.size(), QSize(128, 128));
        EXPECT_EQ(record.value(QStringLiteral("imagewidth")), QStringLiteral("0"));
        QImage expected(128, 128, QImage::Format_RGB32);
        if (c.desktop.isValid())
            expected.fill(c.desktop);
        else
            expected = decoded(
                OVNImportHelper::jpegData(OVNImportParserGenericDocument::typeIcon(QFileInfo(c.path).suffix())));
        EXPECT_LT(meanDifference(thumb, expected), 6.0);
    }

    // From an import's thread the icon is made on the GUI thread, which goes on with its events.
    QImage fromThread;
    std::atomic<bool> done = false;
    std::thread worker([&] {
        OVNImportHelper helper;
        OVNImportHelper::Preferences prefs = OVNImportHelper::readPreferences();
        prefs.noThumbnailAction = 0;
        helper.setPreferences(prefs);
        QVariantMap record;
        fromThread = decoded(helper.thumbnailForMediaFile(write("letter.rtf", "{\\rtf1 Dear}"), record));
        done = true;
    });
    EXPECT_TRUE(processEventsUntil([&] { return done.load(); }, waitCeilingMs));
    worker.join();
    QImage greenSquare(128, 128, QImage::Format_RGB32);
    greenSquare.fill(Qt::green);
    EXPECT_LT(meanDifference(fromThread, greenSquare), 6.0);

    QIcon::setThemeName(themeBefore);
    QIcon::setThemeSearchPaths(searchPaths);
}

// The orientation examples show a digit, and "top" at the top of the scene when shown right. Each
// thumbnail turned upright looks like the untagged example's; a wrong turn does not.
TEST(ImportHelper, OrientationExamplesComeOutUpright)
{
    OVN_REQUIRE_TESTDATA();
    const QDir examples(testDataDir() + QStringLiteral("/exif-orientation-examples"));
    OVNImportHelper helper;
    for (const char *shape : {"Landscape", "Portrait"}) {
        QVariantMap reference;
        const QImage upright = decoded(helper.thumbnailForMediaFile(
            examples.filePath(QStringLiteral("%1_0.jpg").arg(QLatin1String(shape))), reference));
        ASSERT_FALSE(upright.isNull());
        for (int code = 1; code <= 8; ++code) {
            QVariantMap record;
            const QImage thumb = decoded(helper.thumbnailForMediaFile(
                examples.filePath(QStringLiteral("%1_%2.jpg").arg(QLatin1String(shape)).arg(code)), record));
            EXPECT_EQ(record.value(QStringLiteral("Orientation")).toInt(), code);
            ASSERT_EQ(thumb.size(), upright.size()) << shape << code;
            EXPECT_LT(meanDifference(thumb, upright), 12.0) << shape << code;
            EXPECT_GT(meanDifference(thumb.mirrored(true, true), upright), 20.0) << shape << code;
        }
    }
}

// What a JPEG's header and metadata say is catalogued whatever its decoding gives: a 120-megapixel
// camera file turned by its orientation gets its upright thumbnail; a picture refused for its size
// (a progressive one whose coefficients alone exceed every decoder) keeps its size, camera, date
// and turn beside the type's icon and the reason.
TEST(ImportHelper, LargeJpegsKeepWhatTheirHeaderSays)
{
    QTemporaryDir dir;
    const QString camera = dir.filePath(QStringLiteral("camera-120mp.jpg"));
    largejpegs::Options options;
    options.orientation = 6;
    ASSERT_TRUE(largejpegs::write(camera, QSize(13400, 8960), options));
    // (Padded past its end to the least a metadata reader reads.)
    const QString refused =
        writeFile(dir, "refused.jpg",
                  largejpegs::withExif(hostilefiles::jpegClaiming({65500, 65500}, hostilefiles::Ink::Rgb, true), 6)
                      + QByteArray(1024, '\0'));
    const struct {
        QString path;
        QString width, height;
        QString problem;
        bool picture;
    } cases[] = {
        {camera, QStringLiteral("13400"), QStringLiteral("8960"), {}, true},
        {refused, QStringLiteral("65500"), QStringLiteral("65500"),
         QStringLiteral("the picture needs more memory than decoding may use"), false},
    };
    OVNImportHelper helper;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QVariantMap record;
        const QImage thumb = decoded(helper.thumbnailForMediaFile(c.path, record));
        EXPECT_EQ(helper.lastProblem(), c.problem);
        EXPECT_EQ(record.value(QStringLiteral("imagewidth")).toString(), c.width);
        EXPECT_EQ(record.value(QStringLiteral("imageheight")).toString(), c.height);
        EXPECT_EQ(record.value(QStringLiteral("Orientation")).toInt(), 6);
        const QVariantMap exif = record.value(QStringLiteral("exif")).toMap();
        EXPECT_EQ(exif.value(QStringLiteral("CameraMake")).toString(), QStringLiteral("Tessera"));
        EXPECT_EQ(exif.value(QStringLiteral("CameraModel")).toString(), QStringLiteral("MF-150"));
        EXPECT_TRUE(exif.value(QStringLiteral("DateTime")).toString().startsWith(QLatin1String("2026")))
            << qPrintable(exif.value(QStringLiteral("DateTime")).toString());
        ASSERT_FALSE(thumb.isNull());
        if (!c.picture)
            continue;
        // Stored with its red quarter at the top left, shown turned a quarter clockwise: at the
        // top right of a portrait thumbnail.
        EXPECT_EQ(thumb.size(), QSize(171, 256));
        const QRgb topRight = thumb.pixel(thumb.width() * 7 / 8, thumb.height() / 8);
        const QRgb bottomLeft = thumb.pixel(thumb.width() / 8, thumb.height() * 7 / 8);
        EXPECT_GT(qRed(topRight), 200);
        EXPECT_LT(qRed(bottomLeft), 80);
    }
}

TEST(ImportHelper, MoviePdfDocumentAndRawFiles)
{
    OVN_REQUIRE_TESTDATA();
    const QDir images(testDataDir() + QStringLiteral("/exiftool-t-images"));
    OVNImportHelper helper;
    QVariantMap movie;
    const QString movieFile = testDataDir() + QStringLiteral("/exiv2-test-data/movies/sample_640x360.mov");
    const QImage frames = decoded(helper.thumbnailForMediaFile(movieFile, movie));
    EXPECT_TRUE(helper.lastProblem().isEmpty());
    EXPECT_TRUE(movie.value(QStringLiteral("filetype")).toString().startsWith(QLatin1String("Movie;")))
        << qPrintable(movie.value(QStringLiteral("filetype")).toString());
    EXPECT_EQ(movie.value(QStringLiteral("imagewidth")), QStringLiteral("640"));
    // Four frames, two by two: the largest side is the movie box's.
    EXPECT_EQ(frames.width(), 512);

    QVariantMap pdf;
    const QImage page = decoded(helper.thumbnailForMediaFile(images.filePath(QStringLiteral("PDF.pdf")), pdf));
    EXPECT_EQ(pdf.value(QStringLiteral("filetype")), QStringLiteral("PDF"));
    EXPECT_EQ(std::max(page.width(), page.height()), 1024);

    QVariantMap eps;
    EXPECT_FALSE(helper.thumbnailForMediaFile(images.filePath(QStringLiteral("PostScript.eps")), eps).isEmpty());
    EXPECT_EQ(eps.value(QStringLiteral("imagewidth")), QStringLiteral("0"));

    // The iPhone's DNG keeps its header but lost its picture data: no picture, whichever loader,
    // and listed as damaged: its data lies past the end of the file.
    QVariantMap raw;
    const QString dng = testDataDir() + QStringLiteral("/exiv2-test-data/raw/IMG_1361.dng");
    EXPECT_TRUE(helper.loadImageForRAWMediaFile(dng, raw, QSize(256, 256)).isNull());
    raw.clear();
    EXPECT_FALSE(helper.thumbnailForMediaFile(dng, raw).isEmpty());
    EXPECT_EQ(helper.lastProblem(), QStringLiteral("the file is damaged (the data ends early)"));
}

// A Photoshop file goes the movie loader's road as a still: its thumbnail is its one picture, not
// four copies of it (the left half is white, the right half black).
TEST(ImportHelper, APhotoshopFileIsOnePicture)
{
    const quint32 width = 400, height = 300;
    QByteArray psd = QByteArray("8BPS") + QByteArray("\x00\x01", 2) + QByteArray(6, '\0') + QByteArray("\x00\x03", 2)
                     + hostilefiles::bigEndian32(height) + hostilefiles::bigEndian32(width)
                     + QByteArray("\x00\x08\x00\x03", 4) + QByteArray(12, '\0') + QByteArray(2, '\0');
    const QByteArray row = QByteArray(width / 2, '\xff') + QByteArray(width / 2, '\0');
    for (quint32 i = 0; i < 3 * height; ++i)
        psd += row;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("halves.psd"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(psd);
    out.close();

    OVNImportHelper helper;
    QVariantMap record;
    const QImage thumbnail = decoded(helper.thumbnailForMediaFile(file, record));
    ASSERT_FALSE(thumbnail.isNull()) << qPrintable(helper.lastProblem());
    EXPECT_EQ(record.value(QStringLiteral("imagewidth")), QStringLiteral("400"));
    EXPECT_EQ(thumbnail.width() * 3, thumbnail.height() * 4);
    const int y = thumbnail.height() / 2;
    EXPECT_GT(qGray(thumbnail.pixel(thumbnail.width() / 10, y)), 200);
    EXPECT_LT(qGray(thumbnail.pixel(thumbnail.width() * 6 / 10, y)), 50);
}

// A camera RAW file through each processor the file-type table may name for it (by extension:
// "dng" the image reader, "srf" the RAW decoder, "x3f" the dcraw command): the orientation in the
// EXIF numbering, and the thumbnail turned upright once. The sensor's picture is landscape with
// its top half red.
TEST(ImportHelper, CameraRawFilesAreTurnedUprightByEveryLoader)
{
    const bool haveDcraw = !QStandardPaths::findExecutable(OVNHelper::dcrawCommand()).isEmpty();
    QTemporaryDir dir;
    OVNImportHelper helper;
    struct Case {
        int orientation;
        bool portrait;
        QPoint red; // where the red half lies in the upright thumbnail, in eighths of its sides
        QPoint other;
    };
    const Case cases[] = {
        {1, false, {4, 1}, {4, 7}},
        {3, false, {4, 7}, {4, 1}},
        {6, true, {7, 4}, {1, 4}},
        {8, true, {1, 4}, {7, 4}},
    };
    for (const char *extension : {"dng", "srf", "x3f"}) {
        if (QLatin1String(extension) == QLatin1String("x3f") && !haveDcraw)
            continue;
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(extension) + " orientation " + std::to_string(c.orientation));
            syntheticdng::Options o;
            o.width = 96;
            o.height = 64;
            o.orientation = c.orientation;
            o.scene = [](int, int y) {
                return y < 32 ? syntheticdng::Rgb{50000, 3000, 3000} : syntheticdng::Rgb{3000, 3000, 50000};
            };
            const QString path =
                dir.filePath(QStringLiteral("turned%1.%2").arg(c.orientation).arg(QLatin1String(extension)));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(syntheticdng::make(o));
            file.close();
            QVariantMap record;
            const QImage thumb = decoded(helper.thumbnailForMediaFile(path, record));
            EXPECT_TRUE(helper.lastProblem().isEmpty()) << qPrintable(helper.lastProblem());
            EXPECT_EQ(record.value(QStringLiteral("Orientation")).toInt(), c.orientation);
            ASSERT_FALSE(thumb.isNull());
            EXPECT_EQ(thumb.height() > thumb.width(), c.portrait) << thumb.width() << "x" << thumb.height();
            const QRgb red = thumb.pixel(c.red.x() * thumb.width() / 8, c.red.y() * thumb.height() / 8);
            const QRgb other = thumb.pixel(c.other.x() * thumb.width() / 8, c.other.y() * thumb.height() / 8);
            EXPECT_GT(qRed(red), qBlue(red) + 60) << std::hex << red;
            EXPECT_GT(qBlue(other), qRed(other) + 60) << std::hex << other;
        }
    }

    // A file cut off after its header decodes to nothing but zeros: unreadable, with the icon, and
    // the decoder's reason where it gives one.
    syntheticdng::Options cut;
    cut.width = 400;
    cut.height = 300;
    cut.withData = false;
    for (const char *extension : {"dng", "srf", "x3f"}) {
        if (QLatin1String(extension) == QLatin1String("x3f") && !haveDcraw)
            continue;
        SCOPED_TRACE(extension);
        const QString path = dir.filePath(QStringLiteral("cut.") + QLatin1String(extension));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(syntheticdng::make(cut));
        file.close();
        QVariantMap record;
        const QImage icon = decoded(helper.thumbnailForMediaFile(path, record));
        EXPECT_TRUE(helper.lastProblem() == QStringLiteral("the file is damaged (the raw data ends early)")
                    || (QLatin1String(extension) == QLatin1String("x3f")
                        && helper.lastProblem() == QStringLiteral("the picture cannot be read")))
            << qPrintable(helper.lastProblem());
        EXPECT_EQ(icon.size(), QSize(128, 128));
        EXPECT_EQ(record.value(QStringLiteral("imagewidth")), QStringLiteral("0"));
    }
}

// Files that give less than their picture, beside good ones: each is catalogued, with the
// problem named; a document whose image claims tera-pixels is refused before a page is drawn, and the
// files after it are made as usual. The cut camera RAW is a DNG whose raw data cannot be decoded,
// so that only the small preview its TIFF structure leads with can be read.
TEST(ImportHelper, HostileAndDamagedFilesAreCataloguedWithTheirProblem)
{
    QTemporaryDir dir;
    auto write = [&](const char *name, const QByteArray &data) { return writeFile(dir, name, data); };
    const QString before = writeImage(dir.filePath(QStringLiteral("before.jpg")), QSize(40, 30), "JPEG");
    const QString hostile = write("hostile.pdf", hostilefiles::pdfWithHugeImage());
    const QString claiming =
        write("claiming.jpg", hostilefiles::jpegClaiming({65500, 65500}, hostilefiles::Ink::Cmyk, true));
    const QString after = writeImage(dir.filePath(QStringLiteral("after.png")), QSize(40, 30), "PNG");
    // Sixteen billion pixels: no build reads them within the two seconds it is given below.
    const QString strip = write("strip.tif", hostilefiles::tiffOfZerosInOneStrip(1 << 20, 16384));
    const QString rawSource = testDataDir() + QStringLiteral("/exiftool-t-images/DNG.dng");
    // A JPEG cut at half, as a card pulled out while it was written leaves it.
    auto cutAtHalf = [&](const char *name, const QString &source) {
        QFile file(source);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        return write(name, whole.left(whole.size() / 2));
    };
    const QString cut = cutAtHalf("cut.jpg", writeImage(dir.filePath(QStringLiteral("whole.jpg")), {900, 600}, "JPEG"));
    const QString cameraSource = testDataDir() + QStringLiteral("/exif-orientation-examples/Landscape_1.jpg");
    // A PNG cut at half: of pixels that do not compress away, so that the cut falls among its rows.
    const QString cutPng = [&] {
        QImage noise(300, 200, QImage::Format_RGB32);
        quint32 seed = 12345;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) | 0xff000000u);
        const QString whole = dir.filePath(QStringLiteral("noise.png"));
        EXPECT_TRUE(noise.save(whole, "PNG"));
        return cutAtHalf("noise-cut.png", whole);
    }();

    struct Case {
        QString path;
        QString problem; // empty: none
        bool keptPicture;
    };
    std::vector<Case> cases{
        {before, {}, false},
        {hostile, QStringLiteral("the document holds a picture too large to draw"), false},
        {claiming, QStringLiteral("the picture needs more memory than decoding may use"), false},
        {strip, QStringLiteral("the picture could not be read in time"), false},
        {after, {}, false},
        {dir.filePath(QStringLiteral("whole.jpg")), {}, false},
        {cut, QStringLiteral("the file is damaged (the data ends early)"), true},
        {dir.filePath(QStringLiteral("noise.png")), {}, false},
        {cutPng, QStringLiteral("the file is damaged (the data ends early)"), true},
    };
    // A JPEG with a byte pair no marker is in the middle of its data: libjpeg decodes every row up
    // to it and fails there; cut BMP and PPM files, whose readers see no end marker.
    const QString strayMarker = [&] {
        QFile file(dir.filePath(QStringLiteral("whole.jpg")));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray data = file.readAll();
        const qsizetype scan = data.indexOf(QByteArray("\xFF\xDA", 2));
        data.replace(scan + (data.size() - scan) / 2, 2, QByteArray("\xFF\x0D", 2));
        return write("stray-marker.jpg", data);
    }();
    cases.push_back({strayMarker, QStringLiteral("the file is damaged (the data is corrupt)"), true});
    for (const char *format : {"bmp", "ppm"})
        cases.push_back(
            {cutAtHalf(format[0] == 'b' ? "cut.bmp" : "cut.ppm",
                       writeImage(dir.filePath(QStringLiteral("whole.") + QLatin1String(format)), {300, 200}, format)),
             QStringLiteral("the file is damaged (the data ends early)"), true});
    if (QFileInfo::exists(cameraSource))
        cases.push_back({cutAtHalf("camera-cut.jpg", cameraSource),
                         QStringLiteral("the file is damaged (the data ends early)"), true});
    if (QFileInfo::exists(rawSource))
        cases.push_back({rawSource, QStringLiteral("only the embedded preview could be read"), true});
    else
        std::fprintf(stderr, "skipping the damaged camera RAW: %s is absent\n", qPrintable(rawSource));

    const std::chrono::milliseconds limit = OVNImportHelper::decodeTimeLimit();
    OVNImportHelper::setDecodeTimeLimit(std::chrono::seconds(2));
    OVNImportHelper helper;
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(QFileInfo(c.path).fileName()));
        QVariantMap record;
        EXPECT_FALSE(helper.thumbnailForMediaFile(c.path, record).isEmpty());
        EXPECT_EQ(helper.lastProblem(), c.problem);
        EXPECT_EQ(helper.lastProblemKeptPicture(), c.keptPicture);
        // The RAW's own size, not its preview's.
        if (c.keptPicture) {
            EXPECT_GT(record.value(QStringLiteral("imagewidth")).toInt(), 8);
        }
    }
    // Cancel reaches a document being drawn.
    auto cancelled = std::make_shared<std::atomic<bool>>(true);
    helper.setCancelFlag(cancelled);
    QVariantMap record;
    EXPECT_FALSE(helper.thumbnailForMediaFile(hostile, record).isEmpty());
    EXPECT_FALSE(helper.lastProblem().isEmpty());
    OVNImportHelper::setDecodeTimeLimit(limit);
}

// A file whose decoding is stopped, at its time limit or by Cancel, is catalogued with its icon and
// the reason, whatever decoder it was in.
TEST(ImportHelper, FilesStoppedAtTheirLimitGetTheirIconAndTheReason)
{
    QTemporaryDir dir;
    auto write = [&](const char *name, const QByteArray &data) { return writeFile(dir, name, data); };
    struct File {
        QString path;
        QString outOfTime; // the reason at the time limit
        QString cancelled; // the reason on Cancel
    };
    std::vector<File> files{
        {writeImage(dir.filePath(QStringLiteral("picture.jpg")), {900, 600}, "JPEG"),
         QStringLiteral("the picture could not be read in time"), QStringLiteral("reading the file was cancelled")},
        {write("sensor.dng", syntheticdng::make({})), QStringLiteral("the picture could not be read in time"),
         QStringLiteral("reading the file was cancelled")},
    };
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const QString movie = dir.filePath(QStringLiteral("clip.mp4"));
    if (!ffmpeg.isEmpty()
        && QProcess::execute(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-t",
                                      "2", "-c:v", "mpeg4", movie})
               == 0)
        files.push_back({movie, QStringLiteral("the movie could not be opened in time"),
                         QStringLiteral("opening the movie was cancelled")});
    else
        std::fprintf(stderr, "skipping the movie: ffmpeg cannot make one here\n");

    const std::chrono::milliseconds limit = OVNImportHelper::decodeTimeLimit();
    for (const File &file : files) {
        SCOPED_TRACE(qPrintable(QFileInfo(file.path).fileName()));
        struct Stop {
            bool cancelled;
            std::chrono::milliseconds limit;
            QString problem;
        };
        for (const Stop &stop : {Stop{false, OVNImportHelper::defaultDecodeTimeLimit, {}},
                                 Stop{false, std::chrono::milliseconds(0), file.outOfTime},
                                 Stop{true, OVNImportHelper::defaultDecodeTimeLimit, file.cancelled}}) {
            SCOPED_TRACE(stop.problem.isEmpty() ? "not stopped" : qPrintable(stop.problem));
            OVNImportHelper::setDecodeTimeLimit(stop.limit);
            OVNImportHelper helper;
            helper.setCancelFlag(std::make_shared<std::atomic<bool>>(stop.cancelled));
            QVariantMap record;
            EXPECT_FALSE(helper.thumbnailForMediaFile(file.path, record).isEmpty());
            EXPECT_EQ(helper.lastProblem(), stop.problem);
            EXPECT_FALSE(helper.lastProblemKeptPicture());
            // The icon stands for the picture: no size is known.
            EXPECT_EQ(record.value(QStringLiteral("imagewidth")) == QStringLiteral("0"), !stop.problem.isEmpty());
        }
    }
    OVNImportHelper::setDecodeTimeLimit(limit);
}

// PNGs whose text or profile chunk claims 2 GB, the file ending after its header, imported on
// four threads at once: each is catalogued with its icon and why.
TEST(ImportHelper, PngsClaimingGigabyteChunksAreCataloguedAtOnce)
{
    QTemporaryDir dir;
    const char *types[] = {"tEXt", "zTXt", "iTXt", "iCCP"};
    std::vector<std::thread> threads;
    std::atomic<int> catalogued{0};
    for (const char *type : types) {
        const QString path = dir.filePath(QString::fromLatin1(type) + QStringLiteral(".png"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(hostilefiles::pngClaimingChunk(type, 0x7ffffff0));
        file.close();
        threads.emplace_back([path, &catalogued] {
            OVNImportHelper helper;
            QVariantMap record;
            if (!helper.thumbnailForMediaFile(path, record).isEmpty()
                && helper.lastProblem() == QLatin1String("the picture cannot be read"))
                ++catalogued;
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(catalogued.load(), 4);
}

namespace {

// A picture red above and blue below, as stored by the writers below.
QRgb cutScene(int, int y, int height) { return y < height / 2 ? qRgb(220, 20, 20) : qRgb(20, 20, 220); }

// A Photoshop file of raw RGB planes, one after another.
QByteArray rawPsd(int width, int height)
{
    QByteArray psd("8BPS\x00\x01", 6);
    psd.append(QByteArray(6, '\0'));
    auto be16 = [&](int v) { psd.append(char(v >> 8)).append(char(v & 0xff)); };
    auto be32 = [&](qint64 v) { be16(int(v >> 16)), be16(int(v & 0xffff)); };
    be16(3), be32(height), be32(width), be16(8), be16(3);
    be32(0), be32(0), be32(0); // colour mode data, resources, layers
    be16(0);                   // raw
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const QRgb p = cutScene(x, y, height);
                psd.append(char(c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p)));
            }
    return psd;
}

// A baseline RGB TIFF whose directory comes first and its strips of 8 rows after it, as some
// writers lay them out: a file cut short keeps its directory and its first strips.
QByteArray directoryFirstTiff(int width, int height)
{
    const int rowsPerStrip = 8, strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto le16 = [&](int v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto le32 = [&](qint64 v) { le16(int(v & 0xffff)), le16(int(v >> 16)); };
    const int entries = 10;
    const qint64 after = 8 + 2 + entries * 12 + 4;
    const qint64 bits = after, offsets = bits + 6, counts = offsets + 4 * strips, data = counts + 4 * strips;
    auto entry = [&](int tag, int type, qint64 count, qint64 value) {
        le16(tag), le16(type), le32(count), le32(value);
    };
    le16(entries);
    entry(256, 3, 1, width);
    entry(257, 3, 1, height);
    entry(258, 3, 3, bits);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, strips, offsets);
    entry(277, 3, 1, 3);
    entry(278, 3, 1, rowsPerStrip);
    entry(279, 4, strips, counts);
    entry(284, 3, 1, 1);
    le32(0);
    le16(8), le16(8), le16(8);
    for (int s = 0; s < strips; ++s)
        le32(data + qint64(s) * rowsPerStrip * width * 3);
    for (int s = 0; s < strips; ++s)
        le32(qint64(std::min(rowsPerStrip, height - s * rowsPerStrip)) * width * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb p = cutScene(x, y, height);
            tiff.append(char(qRed(p))).append(char(qGreen(p))).append(char(qBlue(p)));
        }
    return tiff;
}

// A sound TIFF of five inks, which no reader here reads.
QByteArray fiveInkTiff(int width, int height)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto le16 = [&](int v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto le32 = [&](qint64 v) { le16(int(v & 0xffff)), le16(int(v >> 16)); };
    const int entries = 12;
    const qint64 bits = 8 + 2 + entries * 12 + 4, data = bits + 10;
    auto entry = [&](int tag, int type, qint64 count, qint64 value) {
        le16(tag), le16(type), le32(count), le32(value);
    };
    le16(entries);
    entry(256, 3, 1, width);
    entry(257, 3, 1, height);
    entry(258, 3, 5, bits);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 5);
    entry(273, 4, 1, data);
    entry(277, 3, 1, 5);
    entry(278, 3, 1, height);
    entry(279, 4, 1, qint64(width) * height * 5);
    entry(284, 3, 1, 1);
    entry(332, 3, 1, 2); // many inks
    entry(334, 3, 1, 5);
    le32(0);
    for (int i = 0; i < 5; ++i)
        le16(8);
    tiff.append(QByteArray(width * height * 5, char(40)));
    return tiff;
}

} // namespace

// Files cut at half say why as every cut file does ("the data ends early"), and keep what was read
// where their layout lets it be told: an interlaced PNG its passes read whole, a TIFF whose
// directory comes first its first strips. A Photoshop file's planes come one after another, and
// a TIFF whose directory comes last has none: their icons, for the same reason. A sound file of a
// kind nothing here reads says so, never that it is damaged.
TEST(ImportHelper, CutFilesOfEveryKindSayTheSameReasons)
{
    QTemporaryDir dir;
    auto write = [&](const char *name, const QByteArray &data) { return writeFile(dir, name, data); };
    auto half = [](const QByteArray &whole) { return whole.left(whole.size() / 2); };
    const int width = 96, height = 64;
    QImage scene(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            scene.setPixel(x, y, cutScene(x, y, height));
    const QString plainTiff = dir.filePath(QStringLiteral("plain.tif"));
    ASSERT_TRUE(scene.save(plainTiff, "TIFF"));
    QFile plain(plainTiff);
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));

    struct Case {
        QString path;
        QString problem; // empty: none
        bool keptPicture;
    };
    std::vector<Case> cases{
        {write("whole.psd", rawPsd(width, height)), {}, false},
        {write("cut.psd", half(rawPsd(width, height))), QStringLiteral("the file is damaged (the data ends early)"),
         false},
        {write("whole.tif", directoryFirstTiff(width, height)), {}, false},
        {write("cut.tif", half(directoryFirstTiff(width, height))),
         QStringLiteral("the file is damaged (the data ends early)"), true},
        {write("cut-directory-last.tif", half(plain.readAll())),
         QStringLiteral("the file is damaged (the data ends early)"), false},
        {write("five-inks.tif", fiveInkTiff(width, height)),
         QStringLiteral("the picture is of a kind the program does not read (a TIFF of 8-bit ink samples)"), false},
    };
    // An interlaced PNG, as ImageMagick writes one, of noise that does not compress away.
    const QString interlaced = dir.filePath(QStringLiteral("interlaced.png"));
    if (std::system(QStringLiteral("convert -size 300x200 xc: +noise Random -interlace PNG '%1' 2>/dev/null")
                        .arg(interlaced)
                        .toLocal8Bit()
                        .constData())
        == 0) {
        QFile file(interlaced);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        cases.push_back({write("interlaced-cut.png", half(file.readAll())),
                         QStringLiteral("the file is damaged (the data ends early)"), true});
        cases.push_back({interlaced, {}, false});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(QFileInfo(c.path).fileName()));
        OVNImportHelper helper;
        QVariantMap record;
        const QByteArray thumbnail = helper.thumbnailForMediaFile(c.path, record);
        ASSERT_FALSE(thumbnail.isEmpty());
        EXPECT_EQ(helper.lastProblem(), c.problem);
        EXPECT_EQ(helper.lastProblemKeptPicture(), c.keptPicture);
        if (c.problem.isEmpty() || c.keptPicture) {
            EXPECT_GT(record.value(QStringLiteral("imagewidth")).toInt(), 8);
            // The rows read are the picture's, the top ones red.
            const QImage image = QImage::fromData(thumbnail);
            if (!c.path.endsWith(QLatin1String(".png"))) {
                EXPECT_GT(qRed(image.pixel(image.width() / 2, 2)), 180);
            }
        }
    }
}
