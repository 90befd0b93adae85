// ovn-mediaview-demo: fills a thumbnail view from generated records (or from a catalog file), at a
// chosen style, size and count, and writes what it shows to a PNG, offscreen.
//
//   ovn-mediaview-demo [--thumbnail-style 0..4 | --all-styles] [--size 128] [--items 60] [--film-roll]
//                      [--width 1000] [--height 700] [--select 1,4,5] [--stacks] [--rubber-band]
//                      [--catalog file.sqlite] [--out view.png] [--preview preview.png]
//                      [--scroll-bench] [--document-thumbnails] [--scroll-through]
//
// With 100,000 items or more it also prints the paint time of the whole view with the thumbnails
// cached (a screen's worth only at a screen's size: --width 1920 --height 1080 or 2560 x 1440). --scroll-bench (with
// --catalog, which it creates with 100,000 entries when the file does not exist) scrolls one screen at a time while the
// thumbnails load from the SQLite catalog and prints the longest time the GUI thread was kept from its events.
//
// --document-thumbnails hands out document pages (724 x 1024 JPEG thumbnails) instead of the small
// landscapes, each request in a fresh buffer as a catalog query gives. --scroll-through scrolls the
// whole list one screen at a time, every screen drawn complete, and prints the resident memory
// (VmRSS, and its peak VmHWM) before and after; for example:
//   ovn-mediaview-demo --items 100000 --width 1920 --height 1080 --document-thumbnails --scroll-through
#include "ToolAccount.h"

#include "browser/OVNMediaPreviewImage.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewDelegate.h"
#include "browser/OVNMediaViewGeometry.h"
#include "browser/OVNThumbnailCache.h"
#include "browser/OVNThumbnailRenderer.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/MediaRecord.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Options {
    int style = 2;
    bool allStyles = false;
    int size = 128;
    int items = 60;
    bool filmRoll = false;
    int width = 1000;
    int height = 700;
    QList<int> select;
    bool stacks = false;
    bool rubberBand = false;
    QString catalog;
    QString out = QStringLiteral("mediaview.png");
    QString preview;
    bool scrollBench = false;
    bool documents = false;
    bool scrollThrough = false;
};

// A picture of a landscape in one of a few proportions, as a thumbnail of the catalog would be.
QImage makePicture(int index)
{
    static const QSize sizes[] = {{256, 171}, {171, 256}, {256, 256}, {256, 192}, {256, 96}, {192, 256}};
    const QSize size = sizes[index % 6];
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int hue = (index * 47) % 360;
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(hue, 160, 240));
    sky.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 90, 255));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((hue + 180) % 360, 200, 250));
    painter.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.3), size.height() * 0.12, size.height() * 0.12);
    painter.setBrush(QColor::fromHsv((hue + 90) % 360, 180, 110));
    QPolygonF hills;
    hills << QPointF(0, size.height()) << QPointF(0, size.height() * 0.7)
          << QPointF(size.width() * 0.35, size.height() * 0.5) << QPointF(size.width() * 0.6, size.height() * 0.72)
          << QPointF(size.width(), size.height() * 0.55) << QPointF(size.width(), size.height());
    painter.drawPolygon(hills);
    painter.end();
    return image;
}

// A page of a document as its thumbnail is stored: 724 x 1024, a heading, lines of words and now
// and then a figure.
QImage makeDocumentPage(int index)
{
    QImage page(724, 1024, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    unsigned seed = 2166136261u ^ unsigned(index);
    auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % unsigned(range));
    };
    painter.fillRect(QRect(70, 80, 300 + next(200), 26), QColor(30, 30, 60));
    int y = 140;
    while (y < 950) {
        if (next(9) == 0) {
            const QColor figure = QColor::fromHsv((index * 53 + y) % 360, 120, 200);
            painter.fillRect(QRect(70, y, 584, 160), figure);
            painter.fillRect(QRect(110, y + 30, 200, 100), figure.darker(150));
            y += 190;
            continue;
        }
        int x = 70;
        while (x < 640) {
            const int word = 12 + next(60);
            painter.fillRect(QRect(x, y, std::min(word, 654 - x), 9), QColor(60, 60, 60));
            x += word + 7;
        }
        y += 18 + (next(7) == 0 ? 16 : 0);
    }
    painter.end();
    return page;
}

QByteArray jpeg(const QImage &image, int quality = 50)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return data;
}

// The fields of generated record i: photos, movies and camera-RAW files, every rating.
QVariantMap recordFields(int i)
{
    QVariantMap fields;
    const int kind = i % 9;
    QString name;
    QString type = QStringLiteral("Image");
    if (kind == 4) {
        name = QStringLiteral("MVI_%1.MOV").arg(i, 4, 10, QLatin1Char('0'));
        type = QStringLiteral("Movie;%1").arg(17 + i * 131 % 4000);
    } else if (kind == 7) {
        name = QStringLiteral("CRW_%1.CR2").arg(i, 4, 10, QLatin1Char('0'));
        type = QStringLiteral("RAW");
    } else {
        name = QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
    }
    const QSize picture = makePicture(i).size();
    const bool portrait = picture.height() > picture.width();
    fields.insert(CatalogNames::keyDisplayTag, name);
    fields.insert(CatalogNames::keyAbsolutePath, QStringLiteral("/home/ann/Pictures/Brittany/") + name);
    fields.insert(QStringLiteral("filesize"), QString::number(1200000 + (i * 7919) % 9000000));
    fields.insert(QStringLiteral("imagewidth"), QString::number(portrait ? 3000 : 4500));
    fields.insert(QStringLiteral("imageheight"), QString::number(portrait ? 4500 : 3000));
    fields.insert(QStringLiteral("filedts"), QStringLiteral("2024-05-%1 10:%2:00")
                                                 .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                                 .arg(i % 60, 2, 10, QLatin1Char('0')));
    fields.insert(QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00"));
    fields.insert(QStringLiteral("keywords"), QStringLiteral("Beach walk %1").arg(i));
    fields.insert(QStringLiteral("shortdesc"), QStringLiteral("sea, sand, holiday"));
    fields.insert(QStringLiteral("fulldesc"), QStringLiteral("Low tide, early in the morning."));
    // Every rating, and now and then a stored value out of range.
    fields.insert(CatalogNames::keyRating, i % 23 == 22 ? QStringLiteral("9") : QString::number(i % 6));
    fields.insert(CatalogNames::keyOrientation, QStringLiteral("1"));
    fields.insert(QStringLiteral("filetype"), type);
    return fields;
}

MediaListRef generatedList(int count)
{
    auto list = std::make_shared<MediaList>();
    list->reserve(count);
    for (int i = 0; i < count; ++i) {
        auto record = std::make_shared<MediaRecord>();
        const QVariantMap fields = recordFields(i);
        for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
            record->insert(it.key(), it.value());
        record->insert(CatalogNames::keyMid, QString::number(i));
        record->insert(QStringLiteral("imagesetmid"), QStringLiteral("0"));
        list->append(record);
    }
    return list;
}

// Stands in for the catalog window: generated thumbnails, or the catalog's own.
class DemoDelegate : public OVNMediaViewDelegate
{
public:
    explicit DemoDelegate(OVNDatabaseAccess *db = nullptr, bool documents = false) : m_db(db)
    {
        for (int i = 0; i < 18; ++i)
            m_thumbnails.append(documents ? jpeg(makeDocumentPage(i), 40) : jpeg(makePicture(i)));
    }
    qint64 averageSize() const
    {
        qint64 total = 0;
        for (const QByteArray &data : m_thumbnails)
            total += data.size();
        return total / m_thumbnails.size();
    }
    Capabilities capabilities() const override { return ThumbnailData | SelectionDidChange; }
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *, const QString &mid) override
    {
        ++requests;
        if (m_db)
            return m_db->getThumbnailForMediaID(mid);
        const QByteArray &data = m_thumbnails.at(mid.toInt() % m_thumbnails.size());
        return QByteArray(data.constData(), data.size()); // a fresh buffer, as a query gives
    }
    int requests = 0;

private:
    OVNDatabaseAccess *m_db;
    QList<QByteArray> m_thumbnails;
};

// The catalog as the account's own catalog user, as the program opens it; `refusal` says why an
// account the catalog does not let in is turned away.
bool openCatalog(OVNDatabaseAccess &db, const QString &path, QString &refusal)
{
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!db.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(db))
        return false;
    refusal = ToolAccount::logIn(db);
    return refusal.isEmpty();
}

// Fills a new catalog with `count` generated entries in one collection.
bool fillCatalog(OVNDatabaseAccess &db, int count)
{
    const QString category = db.addCategoryListEntry(QStringLiteral("Brittany"));
    if (category.isEmpty())
        return false;
    QList<QByteArray> thumbnails;
    for (int i = 0; i < 18; ++i)
        thumbnails.append(jpeg(makePicture(i)));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        if (i % 1000 == 0)
            db.beginTransaction();
        QVariantMap record = recordFields(i);
        record.insert(CatalogNames::keyCategoryId, category);
        record.insert(QStringLiteral("cataloguedby"), QStringLiteral("Ann Example"));
        record.insert(QStringLiteral("volumetype"), QStringLiteral("local"));
        record.insert(QStringLiteral("volumename"), QStringLiteral("Data"));
        record.insert(QStringLiteral("servername"), QStringLiteral("workstation"));
        record.insert(QStringLiteral("serverpath"), QStringLiteral("/home/ann"));
        record.insert(QStringLiteral("Orientation"), 1);
        record.insert(CatalogNames::keyThumbImage, thumbnails.at(i % thumbnails.size()));
        db.addMediaListEntry(record);
        if (i % 1000 == 999 || i == count - 1)
            db.commitTransaction();
    }
    std::printf("catalog: %d entries written in %.1f s\n", count, timer.elapsed() / 1000.0);
    return true;
}

MediaListRef catalogList(OVNDatabaseAccess &db)
{
    const QList<CategoryNode> categories = db.getCategoryList(QStringLiteral("C"));
    MediaList all;
    for (const CategoryNode &category : categories)
        all.append(db.getMediaList(category.value(CatalogNames::keyMid).toString(), QStringLiteral("C")));
    // Only what the catalog user may read, as the catalog window shows it.
    return std::make_shared<MediaList>(ToolAccount::readable(db, std::move(all), nullptr).value_or(MediaList()));
}

// VmRSS and VmHWM of this process, in MiB.
std::pair<double, double> residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double rss = 0;
    double hwm = 0;
    if (!status.open(QIODevice::ReadOnly))
        return {rss, hwm};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        else if (line.startsWith("VmHWM:"))
            hwm = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return {rss, hwm};
}

void printMemory(const char *when)
{
    const auto [rss, hwm] = residentMemory();
    std::printf("memory %s: VmRSS %.0f MiB, VmHWM %.0f MiB\n", when, rss, hwm);
}

void runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The rows whose cells the viewport shows.
std::pair<int, int> visibleRows(const OVNMediaView &view)
{
    const QRectF shown = view.visibleDocumentRect();
    int first = 0;
    int last = -1;
    OVNMediaViewGeometry::rowsInSpan(shown.top(), shown.bottom(), view.numberOfColumnsPerRow(), view.count(),
                                     {view.thumbnailWidth(), view.thumbnailHeight(), view.thumbnailDistance()}, &first,
                                     &last);
    return {first, last};
}

// Paints the whole viewport `repeats` times and answers the times in milliseconds, sorted.
std::vector<double> paintTimes(OVNMediaView &view, int repeats)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}

void printPaintFigures(OVNMediaView &view)
{
    // Warm the decoded thumbnails of the screen, then time full repaints.
    const int budget = view.thumbnailLoadBudgetMs();
    view.setThumbnailLoadBudgetMs(0);
    view.viewport()->repaint();
    view.setThumbnailLoadBudgetMs(budget);
    const auto rows = visibleRows(view);
    const std::vector<double> times = paintTimes(view, 50);
    // The same with every cell drawn afresh by the renderer (as after a change of style or size).
    std::vector<double> fresh;
    for (int i = 0; i < 20; ++i) {
        view.setThumbnailWidth(int(view.thumbnailHeight()));
        const std::vector<double> one = paintTimes(view, 1);
        fresh.push_back(one.front());
    }
    std::sort(fresh.begin(), fresh.end());
    // The pictures as the cells keep them, fitted to the cell.
    const QSize box(int(view.thumbnailWidth()), int(view.thumbnailHeight()));
    QList<QImage> pictures;
    for (int row = rows.first; row <= rows.second; ++row)
        pictures.append(
            OVNThumbnailCache::decodeToFit(view.mediaObject(CatalogNames::keyThumbImage, row).toByteArray(), box));
    QElapsedTimer rendererTimer;
    rendererTimer.start();
    for (int row = rows.first; row <= rows.second; ++row)
        view.thumbnailRenderer()->createThumbnailForImage(pictures.at(row - rows.first), *view.objectForRow(row));
    std::printf("the renderer alone on the same cells: %.2f ms (picture format %d, %dx%d)\n",
                rendererTimer.nsecsElapsed() / 1e6, int(pictures.first().format()), pictures.first().width(),
                pictures.first().height());
    std::printf("repaint of the whole view with every cell drawn afresh (thumbnails decoded): median %.2f ms, worst "
                "%.2f ms\n",
                fresh[fresh.size() / 2], fresh.back());
    std::printf("repaint of the whole view, %dx%d, %d-pixel cells, style %d, %d items, %d cells shown, thumbnails "
                "and cells cached: median %.2f ms, best %.2f ms, worst %.2f ms (target < 8 ms)\n",
                view.viewport()->width(), view.viewport()->height(), int(view.thumbnailHeight()), view.thumbnailStyle(),
                view.count(), rows.second - rows.first + 1, times[times.size() / 2], times.front(), times.back());
}

int scrollBench(OVNMediaView &view, DemoDelegate &delegate)
{
    // The longest gap between two turns of a 1 ms heartbeat is the longest time the GUI thread was
    // kept from its events (a paint, a delegate call, a decode).
    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = clock.nsecsElapsed();
    double longest = 0;
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - lastBeat) / 1e6);
        lastBeat = now;
    });
    auto settle = [&](int firstRow, int lastRow) {
        // Until every shown cell has its thumbnail, and the screen was painted once more.
        runEventsUntil(
            [&] {
                for (int row = firstRow; row <= lastRow; ++row) {
                    if (!view.mediaObject(CatalogNames::keyThumbImage, row).isValid())
                        return false;
                }
                return true;
            },
            20000);
        runEventsUntil([] { return false; }, 60);
    };
    for (int budget : {25, 0}) {
        view.setThumbnailLoadBudgetMs(budget);
        view.verticalScrollBar()->setValue(budget == 25 ? 0 : view.verticalScrollBar()->maximum() / 2);
        runEventsUntil([] { return false; }, 300);
        double worst = 0;
        double totalMs = 0;
        const int screens = 8;
        for (int i = 0; i < screens; ++i) {
            delegate.requests = 0;
            lastBeat = clock.nsecsElapsed();
            longest = 0;
            heartbeat.start();
            QElapsedTimer timer;
            timer.start();
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + view.viewport()->height());
            const auto rows = visibleRows(view);
            settle(rows.first, rows.second);
            heartbeat.stop();
            totalMs += timer.elapsed() - 60;
            worst = std::max(worst, longest);
        }
        std::printf("scroll by one screen, thumbnails from the SQLite catalog (%d entries), paint budget %s: "
                    "longest GUI stall %.1f ms (target < 50 ms), a screen complete after %.0f ms on average\n",
                    view.count(), budget ? "25 ms" : "none", worst, totalMs / screens);
    }
    return 0;
}

// Scrolls from the top to the end one screen at a time, each screen drawn complete.
int scrollThrough(OVNMediaView &view, DemoDelegate &delegate)
{
    view.setThumbnailLoadBudgetMs(0);
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(0);
    delegate.requests = 0;
    printMemory("before scrolling");
    QElapsedTimer timer;
    timer.start();
    int screens = 0;
    for (;;) {
        view.viewport()->repaint();
        ++screens;
        if (screens % 200 == 0) {
            const auto [rss, hwm] = residentMemory();
            std::printf("  %d screens, %d thumbnails fetched: VmRSS %.0f MiB, VmHWM %.0f MiB, cache %.0f MiB in %lld "
                        "records\n",
                        screens, delegate.requests, rss, hwm, view.thumbnailCacheBytes() / 1048576.0,
                        qlonglong(view.thumbnailCacheCount()));
        }
        if (bar->value() >= bar->maximum())
            break;
        bar->setValue(bar->value() + view.viewport()->height());
    }
    qsizetype holding = 0;
    for (int row = 0; row < view.count(); ++row)
        holding += view.mediaObject(CatalogNames::keyThumbImage, row).isValid() ? 1 : 0;
    std::printf("scrolled %d entries (%d screens, %d thumbnails of %lld bytes on average fetched) in %.1f s; %lld "
                "records still hold their thumbnail data, cache %.0f MiB of %.0f MiB\n",
                view.count(), screens, delegate.requests, qlonglong(delegate.averageSize()), timer.elapsed() / 1000.0,
                qlonglong(holding), view.thumbnailCacheBytes() / 1048576.0, view.thumbnailCacheMaxBytes() / 1048576.0);
    printMemory("after scrolling");
    return 0;
}

constexpr const char *usageText =
    "usage: ovn-mediaview-demo [--thumbnail-style 0..4 | --all-styles] [--size 128] [--items 60] [--film-roll]\n"
    "                          [--width 1000] [--height 700] [--select 1,4,5] [--stacks] [--rubber-band]\n"
    "                          [--catalog file.sqlite] [--out view.png] [--preview preview.png]\n"
    "                          [--scroll-bench] [--document-thumbnails] [--scroll-through]\n"
    "  fills a thumbnail view from generated records (or a catalog file) and writes it to a PNG\n";

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto next = [&] { return i + 1 < args.size() ? args.at(++i) : QString(); };
        const auto number = [&](int minimum, int maximum) {
            const std::optional<int> value = ToolNumber::integer32(qPrintable(a), next(), minimum, maximum);
            if (!value)
                std::exit(2);
            return *value;
        };
        if (a == QLatin1String("--thumbnail-style"))
            o.style = number(0, 4);
        else if (a == QLatin1String("--all-styles"))
            o.allStyles = true;
        else if (a == QLatin1String("--size"))
            o.size = number(16, 1024);
        else if (a == QLatin1String("--items"))
            o.items = number(0, 10000000);
        else if (a == QLatin1String("--film-roll"))
            o.filmRoll = true;
        else if (a == QLatin1String("--width"))
            o.width = number(1, 16384);
        else if (a == QLatin1String("--height"))
            o.height = number(1, 16384);
        else if (a == QLatin1String("--select")) {
            for (const QString &row : next().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const std::optional<int> value = ToolNumber::integer32("--select", row, 0);
                if (!value)
                    std::exit(2);
                o.select.append(*value);
            }
        } else if (a == QLatin1String("--stacks"))
            o.stacks = true;
        else if (a == QLatin1String("--rubber-band"))
            o.rubberBand = true;
        else if (a == QLatin1String("--catalog"))
            o.catalog = next();
        else if (a == QLatin1String("--out"))
            o.out = next();
        else if (a == QLatin1String("--preview"))
            o.preview = next();
        else if (a == QLatin1String("--scroll-bench"))
            o.scrollBench = true;
        else if (a == QLatin1String("--document-thumbnails"))
            o.documents = true;
        else if (a == QLatin1String("--scroll-through"))
            o.scrollThrough = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", ToolText::utf8(a).constData());
            std::fputs(usageText, stderr);
            std::exit(2);
        }
    }
    return o;
}

QString outFor(const Options &o, int style)
{
    if (!o.allStyles)
        return o.out;
    const QFileInfo info(o.out);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("-style%1.png").arg(style);
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText,
                                                        {{"--thumbnail-style", 1},
                                                         {"--all-styles"},
                                                         {"--size", 1},
                                                         {"--items", 1},
                                                         {"--film-roll"},
                                                         {"--width", 1},
                                                         {"--height", 1},
                                                         {"--select", 1},
                                                         {"--stacks"},
                                                         {"--rubber-band"},
                                                         {"--catalog", 1},
                                                         {"--out", 1},
                                                         {"--preview", 1},
                                                         {"--scroll-bench"},
                                                         {"--document-thumbnails"},
                                                         {"--scroll-through"}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    DrawingKit::installApplicationStyle();
    const Options o = parse(app.arguments());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (o.scrollThrough)
        printMemory("at start");

    OVNDatabaseAccess db;
    MediaListRef list;
    if (!o.catalog.isEmpty()) {
        const bool exists = QFileInfo::exists(o.catalog);
        QString refusal;
        if (!openCatalog(db, o.catalog, refusal)) {
            if (!refusal.isEmpty())
                return ToolStart::refuse(refusal);
            std::fprintf(stderr, "cannot open the catalog %s\n", ToolText::utf8(o.catalog).constData());
            return 1;
        }
        if (!exists && !fillCatalog(db, o.scrollBench ? 100000 : o.items))
            return 1;
        QElapsedTimer timer;
        timer.start();
        list = catalogList(db);
        std::printf("catalog: %lld entries listed in %lld ms\n", qlonglong(list->size()), qlonglong(timer.elapsed()));
    } else {
        list = generatedList(o.items);
    }
    DemoDelegate delegate(o.catalog.isEmpty() ? nullptr : &db, o.documents);
    if (o.scrollThrough)
        printMemory("with the list");

    OVNMediaView view;
    view.resize(o.width, o.height);
    view.setDelegate(&delegate);
    view.setShowEmptySetMessage(true);
    if (o.filmRoll)
        view.setDisplayType(OVNMediaView::FilmRollDisplay);
    view.show();
    QCoreApplication::processEvents();

    const QList<int> styles = o.allStyles ? QList<int>{0, 1, 2, 3, 4} : QList<int>{o.style};
    for (int style : styles) {
        view.setThumbnailStyle(style);
        if (!o.filmRoll)
            view.setThumbnailWidth(o.size);
        const bool first = style == styles.first();
        if (first)
            view.setMediaContainer(list);
        view.deselectAll();
        if (first && o.stacks && view.count() > 12) {
            view.createGroupWithItems({2, 3, 4});
            const int collapsed = view.createGroupWithItems({8, 9, 10});
            view.collapseGroup(collapsed, 8);
        }
        for (int row : o.select)
            view.selectImage(row, false, false);
        if (o.rubberBand) {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(o.width - 30, 30),
                              view.viewport()->mapToGlobal(QPointF(o.width - 30, 30)), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &press);
            QMouseEvent move(QEvent::MouseMove, QPointF(o.width / 2.0, o.height / 3.0),
                             view.viewport()->mapToGlobal(QPointF(o.width / 2.0, o.height / 3.0)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &move);
        }
        QCoreApplication::processEvents();
        const int budget = view.thumbnailLoadBudgetMs();
        view.setThumbnailLoadBudgetMs(0); // the picture shows every cell
        const QImage shot = view.grab().toImage();
        view.setThumbnailLoadBudgetMs(budget);
        const QString out = outFor(o, style);
        if (!shot.save(out))
            std::fprintf(stderr, "cannot write %s\n", ToolText::utf8(out).constData());
        else
            std::printf("%s: style %d, %d items, %dx%d\n", ToolText::utf8(out).constData(), style, view.count(),
                        shot.width(), shot.height());
        if (view.count() >= 100000)
            printPaintFigures(view);
    }

    if (!o.preview.isEmpty()) {
        OVNMediaPreviewImage preview;
        preview.resize(320, 240);
        preview.setImage(view.imageForRow(std::max(0, view.selectedRow())), 3);
        preview.grab().toImage().save(o.preview);
    }
    if (o.scrollBench)
        return scrollBench(view, delegate);
    if (o.scrollThrough)
        return scrollThrough(view, delegate);
    return 0;
}
