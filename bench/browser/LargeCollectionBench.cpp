// A collection of half a million entries in a catalog file, selected as the catalog window does
// it: the media list read through the catalog layer, handed to the thumbnail view, and the first
// screen painted with its thumbnails fetched from the catalog. Beside it, in the same process and
// alternating with it, the raw listing: sqlite3 stepping the same select and reading the text of
// every column. Prints the median of the pair ratios, and the anonymous resident memory the listed
// records and the view take per entry.
//
//   bench_large_collection [CATALOG [COUNT]]   (default: a temporary catalog of 500000 entries;
//                                               a named catalog is made when it does not exist)
#include "BenchThumbnails.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewDelegate.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/HeapTuning.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int pairs = 5;

// Anonymous memory only: the catalog's mapped pages count in VmRSS too.
double residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').first().toDouble();
    }
    return 0;
}

// The catalog window's part: each thumbnail from the catalog.
class CatalogDelegate : public OVNMediaViewDelegate
{
public:
    explicit CatalogDelegate(OVNDatabaseAccess &db) : m_db(db) {}
    Capabilities capabilities() const override { return ThumbnailData; }
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *, const QString &mediaId) override
    {
        ++requests;
        return m_db.getThumbnailForMediaID(mediaId);
    }
    int requests = 0;

private:
    OVNDatabaseAccess &m_db;
};

bool fill(const QString &path, const QString &category, int count)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    const QByteArray thumbnail = BenchThumbnails::gradientThumbnail();
    const QByteArray categoryUtf8 = category.toUtf8();
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into strvfile (mid, categoryid, displaytag, cataloguedby, volumetype, volumename, "
                       "servername, serverpath, absolutepath, thumbimage, filetype, filesize, imagewidth, "
                       "imageheight, filedts, dts, keywords, shortdesc, rating, orientation) values "
                       "(?1, ?2, ?3, 'Ann Example', 'local', 'Data', '', '', ?4, ?5, 'JPEG', ?6, 6000, 4000, "
                       "'2024-06-01 10:00:00', '2024-06-02 09:30:00', 'holiday, sea', 'Summer', ?7, 1)",
                       -1, &insert, nullptr);
    bool ok = insert != nullptr;
    for (int i = 0; ok && i < count; ++i) {
        const QByteArray mid =
            QStringLiteral("2024-06-02 09:30:00:%1/M0123456789AB").arg(i, 7, 10, QLatin1Char('0')).toUtf8();
        const QByteArray name = QStringLiteral("IMG_%1.JPG").arg(i, 7, 10, QLatin1Char('0')).toUtf8();
        const QByteArray file = "/home/ann/Pictures/2024/" + name;
        sqlite3_bind_text(insert, 1, mid.constData(), int(mid.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, categoryUtf8.constData(), int(categoryUtf8.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, file.constData(), int(file.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 5, thumbnail.constData(), int(thumbnail.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 6, 4000000 + i);
        sqlite3_bind_int(insert, 7, i % 6);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    sqlite3_close(db);
    return ok;
}

// sqlite3 on the layer's select: every row stepped and the text of every column read.
double rawListingMs(sqlite3 *db, const QByteArray &sql, const QByteArray &category, qint64 *rows)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr);
    sqlite3_bind_text(statement, 1, category.constData(), int(category.size()), SQLITE_STATIC);
    size_t bytes = 0;
    *rows = 0;
    const int columns = sqlite3_column_count(statement);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ++*rows;
        for (int column = 0; column < columns; ++column) {
            sqlite3_column_text(statement, column);
            bytes += size_t(sqlite3_column_bytes(statement, column));
        }
    }
    sqlite3_finalize(statement);
    return timer.nsecsElapsed() / 1e6 + (bytes == 0 ? 1e9 : 0.0);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    HeapTuning::keepFreedMemoryForReuse();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : folder.filePath(QStringLiteral("large.sqlite"));
    const int count = argc > 2 ? std::max(1, atoi(argv[2])) : 500000;
    UserDefaults::standard().registerDefaults(
        {{"AssetBackgroundLoader", "1"}, {"AssetBackgroundLoaderMaxCache", "1500"}});

    const bool exists = QFileInfo::exists(path);
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!db.openDBConnection() || (!exists && !OVNDBHelper::prefDBCreateLocalDatabase(db))) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(db.getLastErrorMessage()));
        return 1;
    }
    if (!exists) {
        const QString made = db.addCategoryListEntry(QStringLiteral("Everything"));
        QElapsedTimer timer;
        timer.start();
        if (made.isEmpty() || !fill(path, made, count)) {
            std::fprintf(stderr, "cannot fill %s\n", qPrintable(path));
            return 1;
        }
        std::printf("catalog: %d entries written in %.1f s\n", count, timer.elapsed() / 1000.0);
    }
    sqlite3 *raw = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    // The largest collection.
    QByteArray categoryUtf8;
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(raw, "select categoryid from strvfile group by categoryid order by count(*) desc limit 1",
                           -1, &statement, nullptr);
        if (statement && sqlite3_step(statement) == SQLITE_ROW)
            categoryUtf8 = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    const QString category = QString::fromUtf8(categoryUtf8);

    CatalogDelegate delegate(db);
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.resize(1200, 800);
    view.show();
    QApplication::processEvents();

    const QByteArray sql = (OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=?1")).toUtf8();

    // The collection selected: the list read, shown, and its first screen painted.
    auto select = [&] {
        QElapsedTimer timer;
        timer.start();
        auto list = std::make_shared<MediaList>(db.getMediaList(category));
        view.setMediaContainer(list);
        view.viewport()->repaint();
        return timer.nsecsElapsed() / 1e6;
    };
    const double rssBefore = residentKilobytes();
    select();
    const double rssShown = residentKilobytes();
    const qsizetype shown = view.count();
    qint64 rows = 0;
    rawListingMs(raw, sql, categoryUtf8, &rows);

    std::vector<double> selectTimes, rawTimes, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const int askedBefore = delegate.requests;
        const double a = select();
        if (delegate.requests == askedBefore)
            std::fprintf(stderr, "no thumbnail was fetched for the first screen\n");
        const double b = rawListingMs(raw, sql, categoryUtf8, &rows);
        selectTimes.push_back(a);
        rawTimes.push_back(b);
        ratios.push_back(a / b);
    }
    sqlite3_close(raw);

    std::printf("Selecting a collection of %lld entries (%s), view 1200 x 800, %d A B pairs after a warm-up\n",
                static_cast<long long>(shown), qPrintable(QFileInfo(path).fileName()), pairs);
    std::printf("  listed, shown and first screen painted: median %8.1f ms\n", median(selectTimes));
    std::printf("  raw sqlite3 listing (step + text):      median %8.1f ms (%lld rows)\n", median(rawTimes),
                static_cast<long long>(rows));
    const bool timeMet = median(ratios) <= 1.2;
    const double bytesPerEntry = (rssShown - rssBefore) * 1024.0 / std::max<qsizetype>(1, shown);
    const bool memoryMet = bytesPerEntry <= 1024;
    std::printf("  median pair ratio: %.2fx   target <= 1.2x: %s\n", median(ratios), timeMet ? "met" : "MISSED");
    std::printf("  memory: %.0f bytes per entry (RssAnon growth listing and showing it, %.0f MiB)   "
                "target <= 1024: %s\n",
                bytesPerEntry, (rssShown - rssBefore) / 1024.0, memoryMet ? "met" : "MISSED");
    // A target missed fails the benchmark.
    return timeMet && memoryMet ? 0 : 1;
}
