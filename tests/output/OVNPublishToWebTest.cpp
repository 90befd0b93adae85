#include "output/OVNPublishToWeb.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/FileAccess.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace {

const QString sourceTheme = QStringLiteral(OVN_SOURCE_DIR "/resources/PublishToWeb/Plain");

void writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QList<MediaRecord> pictures(const QTemporaryDir &dir, int count)
{
    QList<MediaRecord> records;
    for (int i = 0; i < count; ++i) {
        QImage image(600, 400, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 40, 200, 200));
        const QString path = dir.filePath(QStringLiteral("src/pic%1.jpg").arg(i));
        QDir().mkpath(dir.filePath(QStringLiteral("src")));
        EXPECT_TRUE(image.save(path));
        MediaRecord record;
        record.setField(MediaRecord::AbsolutePath, path);
        record.setField(MediaRecord::DisplayTag, QStringLiteral("pic%1.jpg").arg(i));
        record.setField(MediaRecord::Keywords, i == 1 ? QStringLiteral("%%TITLE%%") : QStringLiteral("Tom & Jerry's"));
        record.setField(MediaRecord::Orientation, i == 2 ? QStringLiteral("6") : QStringLiteral("1"));
        records.append(record);
    }
    return records;
}

} // namespace

TEST(OVNPublishToWebTest, TemplatesAreFilledOnceAndEscaped)
{
    const struct {
        const char *text;
        const char *filled;
    } cases[] = {
        {"<h1>%%TITLE%%</h1>", "<h1>%%HEADER1%%</h1>"}, // a value is never scanned again
        {"%%title%% and %%Title%%", "%%HEADER1%% and %%HEADER1%%"},
        {"%%UNKNOWN%% %% 50%%", "%%UNKNOWN%% %% 50%%"},
        {"%%%TITLE%%%", "%%%HEADER1%%%"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OVNPublishToWeb::Template(QString::fromUtf8(c.text))
                      .fill({{QStringLiteral("TITLE"), QStringLiteral("%%HEADER1%%")}}),
                  QString::fromUtf8(c.filled))
            << c.text;
    EXPECT_EQ(OVNPublishToWeb::htmlEscaped(QStringLiteral("<img src=x onerror=\"a('1')\">&")),
              QStringLiteral("&lt;img src=x onerror=&quot;a(&#39;1&#39;)&quot;&gt;&amp;"));
}

TEST(OVNPublishToWebTest, ThemesAndBrokenThemes)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("themes"));
    writeText(root + QStringLiteral("/b/info.xml"), "{ displaytag = Second; }");
    writeText(root + QStringLiteral("/a/info.xml"), "{ displaytag = \"\"; }");
    writeText(root + QStringLiteral("/c/info.xml"), "( not, a, dictionary )");
    writeText(root + QStringLiteral("/d/readme"), "no info");
    const QList<OVNPublishToWeb::Theme> themes = OVNPublishToWeb::themes(root);
    ASSERT_EQ(themes.size(), 1);
    EXPECT_EQ(themes[0].displaytag, QStringLiteral("Second"));

    // A theme lacking a file or a marker builds nothing at all.
    const QList<MediaRecord> records = pictures(dir, 1);
    const struct {
        const char *index;
        const char *details;
    } broken[] = {
        {nullptr, "<p>%%IMAGETITLE%%</p>"},
        {"%%ROWSTART%%%%COLSTART%%x%%COLEND%%%%ROWEND%%", nullptr},
        {"%%ROWSTART%%%%COLSTART%%x%%COLEND%%", "d"},
        {"%%ROWEND%%%%COLSTART%%x%%COLEND%%%%ROWSTART%%", "d"},
        {"%%ROWSTART%%x%%ROWEND%%", "d"},
    };
    for (const auto &b : broken) {
        QTemporaryDir theme;
        if (b.index)
            writeText(theme.filePath(QStringLiteral("index.html")), b.index);
        if (b.details)
            writeText(theme.filePath(QStringLiteral("details.html")), b.details);
        const QString out = dir.filePath(QStringLiteral("out"));
        const OVNPublishToWeb::Result result = OVNPublishToWeb::createWebPages(records, theme.path(), out, {});
        EXPECT_TRUE(result.galleryPath.isEmpty());
        EXPECT_EQ(result.alertTitle, QStringLiteral("Failed to locate template"));
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

TEST(OVNPublishToWebTest, GalleryOfSevenPictures)
{
    QTemporaryDir dir;
    const QList<MediaRecord> records = pictures(dir, 7);
    const QString out = dir.filePath(QStringLiteral("web"));
    // An old gallery's asset is replaced; a plain file where the gallery goes moves it to "-1".
    writeText(out + QStringLiteral("/Ostrevan PublishToWeb"), "a file");
    writeText(out + QStringLiteral("/Ostrevan PublishToWeb-1/assets/gallery.css"), "old");

    QList<std::pair<int, int>> steps;
    const OVNPublishToWeb::Texts texts{QStringLiteral("<img src=x onerror=alert(1)>"), QStringLiteral("Sub & title"),
                                       QStringLiteral("© 2026")};
    const OVNPublishToWeb::Result result =
        OVNPublishToWeb::createWebPages(records, sourceTheme, out, texts, [&](int step, int of) {
            steps.append({step, of});
        });
    ASSERT_EQ(result.galleryPath, out + QStringLiteral("/Ostrevan PublishToWeb-1"));
    EXPECT_EQ(result.pictures, 7);
    ASSERT_FALSE(steps.isEmpty());
    EXPECT_EQ(steps.last(), std::make_pair(10, 10));
    EXPECT_EQ(steps.first().first, 1);

    const QDir gallery(result.galleryPath);
    const QString index = readText(gallery.filePath(QStringLiteral("index.html")));
    EXPECT_EQ(index.count(QStringLiteral("<tr>")), 3);
    EXPECT_EQ(index.count(QStringLiteral("class=\"cell\"")), 7);
    EXPECT_TRUE(index.contains(QStringLiteral("&lt;img src=x onerror=alert(1)&gt;")));
    EXPECT_FALSE(index.contains(QStringLiteral("<img src=x")));
    EXPECT_TRUE(index.contains(QStringLiteral("%%TITLE%%")));
    EXPECT_TRUE(index.contains(QStringLiteral("Tom &amp; Jerry&#39;s")));
    EXPECT_TRUE(index.contains(QStringLiteral("thumbnails/thumb0006.jpg")));
    EXPECT_FALSE(index.contains(QStringLiteral("<script")));
    EXPECT_TRUE(readText(gallery.filePath(QStringLiteral("details0006.html")))
                    .contains(QStringLiteral("photos/photo0006.jpg")));
    EXPECT_NE(readText(gallery.filePath(QStringLiteral("assets/gallery.css"))), QStringLiteral("old"));
    EXPECT_EQ(QImageReader(gallery.filePath(QStringLiteral("photos/photo0000.jpg"))).size(), QSize(512, 341));
    EXPECT_EQ(QImageReader(gallery.filePath(QStringLiteral("thumbnails/thumb0002.jpg"))).size(), QSize(170, 256));

    // Publishing again reuses the folder.
    EXPECT_EQ(OVNPublishToWeb::createWebPages(records, sourceTheme, out, texts).galleryPath, result.galleryPath);

    // What a browser makes of it: the theme's elements, one image per picture, no script, each
    // picture loaded.
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    auto dumpDom = [&](const QString &page) {
        QProcess browser;
        browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--allow-file-access-from-files",
                                 "--virtual-time-budget=5000", "--run-all-compositor-stages-before-draw", "--dump-dom",
                                 QUrl::fromLocalFile(gallery.filePath(page)).toString()});
        EXPECT_TRUE(browser.waitForFinished(60000));
        return QString::fromUtf8(browser.readAllStandardOutput());
    };
    const QString dom = dumpDom(QStringLiteral("index.html"));
    EXPECT_EQ(dom.count(QRegularExpression(QStringLiteral("<img [^>]*class=\"thumbnail\""))), 7) << qPrintable(dom);
    EXPECT_TRUE(dom.contains(QStringLiteral("<h1>&lt;img src=x onerror=alert(1)&gt;</h1>")));
    EXPECT_FALSE(dom.contains(QStringLiteral("<script")));
    const QString details = dumpDom(QStringLiteral("details0002.html"));
    EXPECT_EQ(details.count(QRegularExpression(QStringLiteral("<img [^>]*class=\"photo\""))), 1);
    EXPECT_FALSE(details.contains(QStringLiteral("<script")));

    // Each picture is shown: its colour is on the rendered page.
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    QProcess browser;
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                             "--window-size=1100,1500", "--screenshot=" + shot,
                             QUrl::fromLocalFile(gallery.filePath(QStringLiteral("index.html"))).toString()});
    EXPECT_TRUE(browser.waitForFinished(60000));
    const QImage screen(shot);
    ASSERT_FALSE(screen.isNull());
    for (int i = 0; i < 7; ++i) {
        const QColor want = QColor::fromHsv(i * 40, 200, 200);
        bool seen = false;
        for (int y = 0; y < screen.height() && !seen; y += 4)
            for (int x = 0; x < screen.width() && !seen; x += 4) {
                const QColor got = screen.pixelColor(x, y);
                seen = std::abs(got.red() - want.red()) + std::abs(got.green() - want.green())
                           + std::abs(got.blue() - want.blue())
                       < 24;
            }
        EXPECT_TRUE(seen) << "picture " << i;
    }
}

TEST(OVNPublishToWebTest, PicturesThatCannotBeMadeLeaveNoDeadLinks)
{
    QTemporaryDir dir;
    QList<MediaRecord> records = pictures(dir, 5);
    records[1].setField(MediaRecord::AbsolutePath, dir.filePath(QStringLiteral("src/gone.jpg")));
    writeText(dir.filePath(QStringLiteral("src/junk.jpg")), QByteArray(3000, 'x'));
    records[3].setField(MediaRecord::AbsolutePath, dir.filePath(QStringLiteral("src/junk.jpg")));
    records[3].setField(MediaRecord::DisplayTag, QString()); // named by its file then

    const OVNPublishToWeb::Result result =
        OVNPublishToWeb::createWebPages(records, sourceTheme, dir.filePath(QStringLiteral("web")), {});
    ASSERT_FALSE(result.galleryPath.isEmpty());
    EXPECT_EQ(result.pictures, 3);
    ASSERT_EQ(result.failed.size(), 2);
    EXPECT_TRUE(result.failed.at(0).startsWith(QStringLiteral("pic1.jpg: "))) << result.failed.at(0).toStdString();
    EXPECT_TRUE(result.failed.at(1).startsWith(QStringLiteral("junk.jpg: "))) << result.failed.at(1).toStdString();
    EXPECT_NE(result.failed.at(0).section(": ", 1), result.failed.at(1).section(": ", 1)) << "one reason for both";

    // Every page's links and images lead to files that are there; the index shows the three.
    const QDir gallery(result.galleryPath);
    const QString index = readText(gallery.filePath(QStringLiteral("index.html")));
    EXPECT_EQ(index.count(QStringLiteral("class=\"cell\"")), 3);
    QStringList pages{QStringLiteral("index.html")};
    for (const QFileInfo &page : gallery.entryInfoList({QStringLiteral("details*.html")}, QDir::Files))
        pages << page.fileName();
    EXPECT_EQ(pages.size(), 4);
    const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\"#:]+)\""));
    int links = 0;
    for (const QString &page : pages) {
        auto it = link.globalMatch(readText(gallery.filePath(page)));
        while (it.hasNext()) {
            const QString target = it.next().captured(1);
            ++links;
            EXPECT_TRUE(QFileInfo::exists(gallery.filePath(target)))
                << page.toStdString() << " -> " << target.toStdString();
        }
    }
    EXPECT_GE(links, 3 * 3);
}

// A destination folder that stopped answering (its calls held as on a stalled mount) is given up
// on at the limit and named, with nothing written.
TEST(OVNPublishToWebTest, AStalledDestinationIsGivenUpOnAndNamed)
{
    QTemporaryDir dir;
    const QList<MediaRecord> records = pictures(dir, 2);
    const QString out = dir.filePath(QStringLiteral("web"));
    QDir().mkpath(out);
    const std::chrono::milliseconds previous = FileAccess::outputLimit();
    FileAccess::setOutputLimit(std::chrono::milliseconds(300));
    auto released = std::make_shared<std::promise<void>>();
    const std::shared_future<void> release = released->get_future().share();
    const auto stuck = std::make_shared<std::atomic<int>>(0);
    FileAccess::setOutputCallHook([=, key = QDir::cleanPath(out)](const QString &folder) {
        if (folder != key)
            return;
        ++*stuck;
        release.wait_for(std::chrono::seconds(60));
        --*stuck;
    });
    const OVNPublishToWeb::Result result = OVNPublishToWeb::createWebPages(records, sourceTheme, out, {});
    EXPECT_TRUE(result.galleryPath.isEmpty());
    EXPECT_EQ(result.alertMessage, FileAccess::notAnsweringReason(out));
    FileAccess::setOutputCallHook({});
    released->set_value();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (stuck->load() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    FileAccess::setOutputLimit(previous);
}
