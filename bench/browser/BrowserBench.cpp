// Times the thumbnail view on a large catalog listing and prints the figures: setting the list up
// to the first painted screen, sorting by name, filtering by a substring, selecting all, and the
// memory the records and the view take.
//
//   bench_browser [count]      (default 100000)
#include "BenchThumbnails.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewDelegate.h"
#include "platform/MediaRecord.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <vector>

namespace {

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Stands in for the catalog window: every thumbnail costs a JPEG hand-over (no database).
class BenchDelegate : public OVNMediaViewDelegate
{
public:
    Capabilities capabilities() const override { return ThumbnailData | SelectionDidChange; }
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *, const QString &) override
    {
        ++requests;
        return QByteArray(m_data.constData(), m_data.size()); // a fresh buffer, as a query gives
    }
    int requests = 0;

private:
    QByteArray m_data = BenchThumbnails::gradientThumbnail();
};

// A listing as the catalog layer delivers it: every field set at once; unique ids, names, paths and
// dates; the values that repeat from row to row (server, volume, user, type, category, rating)
// share one string each.
MediaListRef makeListing(int count)
{
    std::mt19937 random(42);
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), random);

    const QString server = QStringLiteral("photoserver");
    const QString serverPath = QStringLiteral("/Volumes/Photos");
    const QString volumeType = QStringLiteral("0");
    const QString volumeName = QStringLiteral("Photos");
    const QString user = QStringLiteral("Anna Lindqvist");
    const QString fileType = QStringLiteral("Image");
    const QString category = QStringLiteral("1000000000001234");
    const QString zero = QStringLiteral("0");
    const QString empty = QStringLiteral("");
    const QString widthText = QStringLiteral("4000");
    const QString heightText = QStringLiteral("3000");
    const QStringList ratings = {"0", "1", "2", "3", "4", "5"};
    const QStringList orientations = {"1", "6", "8"};
    const QStringList keywordSets = {"", "beach, summer, family", "studio, portrait", "landscape"};

    auto list = std::make_shared<MediaList>();
    list->reserve(count);
    for (int i = 0; i < count; ++i) {
        const int n = order[size_t(i)];
        std::array<QString, MediaRecord::fieldCount> texts;
        const QString name = QStringLiteral("IMG_%1.jpg").arg(n, 6, 10, QLatin1Char('0'));
        texts[MediaRecord::Mid] = QString::number(1000000000000000LL + n);
        texts[MediaRecord::DisplayTag] = name;
        texts[MediaRecord::ServerName] = server;
        texts[MediaRecord::ServerPath] = serverPath;
        texts[MediaRecord::AbsolutePath] =
            QStringLiteral("/Volumes/Photos/2024/Shoot_%1/").arg(n / 500, 3, 10, QLatin1Char('0')) + name;
        texts[MediaRecord::FileSize] = QString::number(2000000 + (n * 7919) % 9000000);
        texts[MediaRecord::ImageWidth] = widthText;
        texts[MediaRecord::ImageHeight] = heightText;
        const QString date = QStringLiteral("2024-%1-%2 %3:%4:%5")
                                 .arg(1 + n % 12, 2, 10, QLatin1Char('0'))
                                 .arg(1 + n % 28, 2, 10, QLatin1Char('0'))
                                 .arg(n % 24, 2, 10, QLatin1Char('0'))
                                 .arg(n % 60, 2, 10, QLatin1Char('0'))
                                 .arg((n / 60) % 60, 2, 10, QLatin1Char('0'));
        texts[MediaRecord::FileDts] = date;
        texts[MediaRecord::Dts] = date;
        texts[MediaRecord::Keywords] = keywordSets.at(n % keywordSets.size());
        texts[MediaRecord::ShortDesc] = empty;
        texts[MediaRecord::FullDesc] = empty;
        texts[MediaRecord::PriceTag] = empty;
        texts[MediaRecord::ModRelAvailable] = zero;
        texts[MediaRecord::ModRelInfo] = empty;
        texts[MediaRecord::PropRelAvailable] = zero;
        texts[MediaRecord::PropRelInfo] = empty;
        texts[MediaRecord::CataloguedBy] = user;
        texts[MediaRecord::VolumeType] = volumeType;
        texts[MediaRecord::VolumeName] = volumeName;
        texts[MediaRecord::Rating] = ratings.at(n % ratings.size());
        texts[MediaRecord::Orientation] = orientations.at(n % orientations.size());
        texts[MediaRecord::ImageSetMid] = zero;
        texts[MediaRecord::FileType] = fileType;
        texts[MediaRecord::CategoryId] = category;
        auto record = std::make_shared<MediaRecord>();
        record->setAllFields(std::move(texts));
        list->append(std::move(record));
    }
    return list;
}

template <typename Step>
double medianMs(int runs, Step step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    UserDefaults::standard().registerDefaults(
        {{"AssetBackgroundLoader", "1"}, {"AssetBackgroundLoaderMaxCache", "1500"}});
    constexpr int runs = 7;

    BenchDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.resize(1200, 800);
    view.show();
    QApplication::processEvents();

    // Memory first, while the heap holds nothing else of size.
    const double rssStart = residentMegabytes();
    MediaListRef list = makeListing(count);
    const double rssRecords = residentMegabytes();
    view.setMediaContainer(list);
    view.viewport()->repaint();
    const double rssView = residentMegabytes();
    view.setMediaContainer(nullptr);

    // Each run shows a fresh copy of the listing's records: no thumbnail fetched before.
    std::vector<MediaListRef> fresh;
    for (int i = 0; i < runs; ++i) {
        auto copy = std::make_shared<MediaList>();
        copy->reserve(list->size());
        for (const MediaRecordRef &record : *list) {
            auto clean = std::make_shared<MediaRecord>(*record);
            clean->remove(QStringLiteral("thumbimage"));
            clean->remove(QStringLiteral("preloaded"));
            copy->append(std::move(clean));
        }
        fresh.push_back(copy);
    }
    const int askedBefore = delegate.requests;
    int run = 0;
    const double firstScreen = medianMs(runs, [&] {
        view.setMediaContainer(nullptr);
        view.setMediaContainer(fresh[size_t(run++)]);
        view.viewport()->repaint();
    });
    const int askedFirstScreen = (delegate.requests - askedBefore) / runs;
    view.setMediaContainer(list);
    fresh.clear();
    const double repaintOnly = medianMs(runs, [&] { view.viewport()->repaint(); });

    view.setSortOrder(2);
    view.setSortAscending(true);
    bool ascending = true;
    const double sortName = medianMs(runs, [&] {
        view.setSortAscending(ascending);
        ascending = !ascending;
        view.sortMediaContainer();
        view.viewport()->repaint();
    });
    const double sortOnly = medianMs(runs, [&] {
        view.setSortAscending(ascending);
        ascending = !ascending;
        view.sortMediaContainer();
    });
    const double filterSubstring = medianMs(runs, [&] {
        view.setFilter(QStringLiteral("img_0123"));
        view.viewport()->repaint();
    });
    const int filtered = view.count();
    const double filterAll = medianMs(runs, [&] {
        view.setFilter(QStringLiteral("summer"));
        view.viewport()->repaint();
    });
    const int filteredAll = view.count();
    view.setFilter(QString());
    const double selectAll = medianMs(runs, [&] {
        view.deselectAll();
        view.mvselectAll();
        view.viewport()->repaint();
    });

    std::printf("OVNMediaView, %d records, view 1200 x 800, median of %d runs\n", count, runs);
    std::printf("  setMediaContainer to first painted screen: %8.2f ms (%d thumbnails fetched)\n", firstScreen,
                askedFirstScreen);
    std::printf("  repaint of a screen, thumbnails decoded:   %8.2f ms\n", repaintOnly);
    std::printf("  sort by name (+ repaint):                  %8.2f ms (sort alone %.2f ms)\n", sortName, sortOnly);
    std::printf("  filter \"img_0123\" (+ repaint):             %8.2f ms (%d match)\n", filterSubstring, filtered);
    std::printf("  filter \"summer\" (+ repaint):               %8.2f ms (%d match)\n", filterAll, filteredAll);
    std::printf("  select all (+ repaint):                    %8.2f ms (%d selected)\n", selectAll,
                view.numberOfSelectedRows());
    std::printf("  memory: records %.1f MB, view on top %.1f MB (RSS growth)\n", rssRecords - rssStart,
                rssView - rssRecords);
    return 0;
}
