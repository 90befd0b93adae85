#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNCaptureDownload.h"
#include "platform/CaptureDevice.h"
#include "platform/SettingsPresetStore.h"
#include "platform/UserDefaults.h"

#include "../support/CatalogUsers.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <functional>
#include <thread>

namespace {

void writeJpeg(const QString &path, int seed)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, 120));
    ASSERT_TRUE(image.save(path, "JPEG", 85));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Calls a hook after each file, so that a case can cancel or pull the device away mid-download.
class Hook : public OVNCaptureDownload::Observer
{
public:
    std::function<void(int)> after;
    QStringList backups;
    QString collectionName;
    void fileDownloaded(int k, const QString &, const QString &) override
    {
        if (after)
            after(k);
    }
    void fileFailed(int k, const QString &, const QString &) override
    {
        if (after)
            after(k);
    }
    void backupFolderMade(const QString &folder) override { backups.append(folder); }
    void collectionMade(const QString &name, const QString &) override { collectionName = name; }
};

} // namespace

TEST(CaptureDownloadTest, NamesAreComposedAndKeptInsideTheFolder)
{
    EXPECT_EQ(OVNCaptureDownload::composeFileName("A", "Trip", "-", 4, 7, "z"), "ATrip-0007z");
    EXPECT_EQ(OVNCaptureDownload::composeFileName("", "", "", 10, 1, ""), "0000000001");
    EXPECT_EQ(OVNCaptureDownload::composeFileName("x", "", "", 0, 5, "y"), "xy");
    EXPECT_EQ(OVNCaptureDownload::composeFileName("", "", "", 2, 12345, ""), "12345");
    const struct {
        QString in;
        QString out;
    } names[] = {{"IMG_1.JPG", "IMG_1.JPG"},
                 {"\t\nIMG.JPG\r", "IMG.JPG"},
                 {"../../etc/x", "..-..-etc-x"},
                 {"a/b", "a-b"},
                 {QString("a") + QChar(0) + "b", "a-b"},
                 {"", "file-3"},
                 {".", "file-3"},
                 {"..", "file-3"},
                 {"\x01", "file-3"}};
    for (const auto &name : names)
        EXPECT_EQ(OVNCaptureDownload::safeName(name.in, 3), name.out) << name.in.toStdString();
}

// Every case runs one download from a directory-browse camera (or a card) of three JPEGs in two
// folders and checks the files, the counts and the catalog.
TEST(CaptureDownloadTest, DownloadsFromACameraAndACard)
{
    struct Case {
        const char *what;
        bool card;
        QVariantMap settings;
        std::function<void(const QString &device, const QString &dest)> before;
        std::function<void(int k, const QString &device, std::atomic<bool> &cancel)> after;
        QStringList expectNames;
        int downloaded, errors, catalogued;
    };
    const QVariantMap rename{{"svNamingSwitch_", "1"},        {"svNamingPrefix_", "A"},  {"svNamingSuffix_", "-"},
                             {"svNamingCounterDigits_", "4"}, {"svNamingPostfix_", "z"}, {"svCatalogSelection_", "1"}};
    const Case cases[] = {
        {"renamed, catalogued, backed up",
         false,
         rename,
         {},
         {},
         {"ATrip-0000z.JPG", "ATrip-0001z.JPG", "ATrip-0002z.JPG"},
         3,
         0,
         3},
        {"own names, not catalogued", false, {}, {}, {}, {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}, 3, 0, 0},
        {"a card",
         true,
         {{"svCatalogSelection_", "2"}, {"svCatalog_", "Card"}},
         {},
         {},
         {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"},
         3,
         0,
         3},
        {"a name clash adds -1",
         false,
         {},
         [](const QString &, const QString &dest) {
             QFile f(dest + "/IMG_0002.JPG");
             f.open(QIODevice::WriteOnly);
             f.write("mine");
         },
         {},
         {"IMG_0001.JPG", "IMG_0002-1.JPG", "IMG_0002.JPG", "IMG_0003.JPG"},
         3,
         0,
         0},
        {"a ../ prefix stays inside",
         false,
         {{"svNamingSwitch_", "1"}, {"svNamingPrefix_", "../"}, {"svNamingCounterDigits_", "1"}},
         {},
         {},
         {"..-Trip0.JPG", "..-Trip1.JPG", "..-Trip2.JPG"},
         3,
         0,
         0},
        {"an unreadable file is an error",
         false,
         {{"svCatalogSelection_", "1"}},
         {},
         [](int k, const QString &device, std::atomic<bool> &) {
             if (k == 0)
                 QFile::remove(device + "/100/IMG_0002.JPG");
         },
         {"IMG_0001.JPG", "IMG_0003.JPG"},
         2,
         1,
         2},
        {"cancel after file 1",
         false,
         {{"svCatalogSelection_", "1"}},
         {},
         [](int k, const QString &, std::atomic<bool> &cancel) {
             if (k == 1)
                 cancel = true;
         },
         {"IMG_0001.JPG", "IMG_0002.JPG"},
         2,
         0,
         1},
        {"the device goes away",
         false,
         {},
         {},
         [](int k, const QString &device, std::atomic<bool> &) {
             if (k == 0)
                 QDir(device).removeRecursively();
         },
         {"IMG_0001.JPG"},
         1,
         2,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString device = dir.filePath(c.card ? "vol/CARD/DCIM" : "cam");
        QDir().mkpath(device + "/100");
        QDir().mkpath(device + "/101");
        writeJpeg(device + "/101/IMG_0003.JPG", 3);
        writeJpeg(device + "/100/IMG_0002.JPG", 2);
        writeJpeg(device + "/100/IMG_0001.JPG", 1);
        const QString dest = dir.filePath("dest");
        QDir().mkpath(dest);
        if (c.before)
            c.before(device, dest);
        QVariantMap settings{{"svDestination1_", dest},
                             {"svDestination2_", dir.filePath("backup")},
                             {"svDestination2AddTSFolder_", "1"},
                             {"svNamingCaptureName_", "ignored"}};
        for (auto it = c.settings.cbegin(); it != c.settings.cend(); ++it)
            settings.insert(it.key(), it.value());

        const QString catalog = dir.filePath("catalog.sqlite");
        const auto connections = [&catalog] {
            auto connection = std::make_unique<OVNDatabaseAccess>();
            connection->setConnectionDetails("Integrated", {}, {}, {}, catalog);
            EXPECT_TRUE(connection->openDBConnection());
            if (!connection->checkForDatabaseSetup())
                OVNDBHelper::prefDBCreateLocalDatabase(*connection);
            return connection;
        };
        qputenv("OVN_VOLUME_ROOTS", dir.filePath("vol").toUtf8());
        std::unique_ptr<CaptureDevice> camera = c.card ? CaptureDevices::card(dir.filePath("vol/CARD"))
                                                       : CaptureDevices::directoryBrowseCamera(device);
        ASSERT_TRUE(camera);
        std::atomic<bool> cancel{false};
        Hook hook;
        hook.after = [&](int k) {
            if (c.after)
                c.after(k, device, cancel);
        };
        const auto result = OVNCaptureDownload::run(*camera, settings, "Trip", connections, cancel, &hook);

        EXPECT_TRUE(result.alertTitle.isEmpty()) << result.alertMessage.toStdString();
        EXPECT_EQ(entries(dest), c.expectNames);
        EXPECT_EQ(result.files.size(), c.downloaded);
        EXPECT_EQ(result.failed.size(), c.errors);
        EXPECT_EQ(result.catalogued.size(), c.catalogued);
        EXPECT_EQ(result.processed(), c.downloaded + c.errors);
        for (const QString &path : result.files)
            EXPECT_TRUE(path.startsWith(dest + "/") && QFile::exists(path)) << path.toStdString();
        if (c.before) {
            EXPECT_EQ(QFile(dest + "/IMG_0002.JPG").size(), 4); // the earlier file is untouched
        }
        // One time-stamped backup folder holding every downloaded file.
        ASSERT_EQ(hook.backups.size(), 1);
        EXPECT_EQ(entries(dir.filePath("backup")).size(), 1);
        EXPECT_EQ(entries(hook.backups.first()).size(), c.downloaded);
        if (settings.value("svCatalogSelection_").toInt() == 1) {
            EXPECT_TRUE(hook.collectionName.startsWith(camera->name() + " - 20")) << hook.collectionName.toStdString();
        }
        EXPECT_EQ(result.collectionId.isEmpty(), settings.value("svCatalogSelection_").toInt() == 0);
        if (!result.collectionId.isEmpty()) {
            auto db = connections();
            EXPECT_EQ(db->getMediaMIDListForCategory(result.collectionId).size(), c.catalogued);
        }
    }
}

TEST(CaptureDownloadTest, StopsWithAnAlertAndAnEmptyDeviceEndsWithNoFiles)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("cam"));
    QDir().mkpath(dir.filePath("dest"));
    std::atomic<bool> cancel{false};
    auto camera = CaptureDevices::directoryBrowseCamera(dir.filePath("cam"));
    ASSERT_TRUE(camera);
    auto result = OVNCaptureDownload::run(*camera, {{"svDestination1_", dir.filePath("dest")}}, "", {}, cancel);
    EXPECT_TRUE(result.alertTitle.isEmpty());
    EXPECT_EQ(result.processed(), 0);
    // A catalog that refuses new collections, in its own words.
    const QString catalog = dir.filePath("catalog.sqlite");
    const auto refusing = [&catalog] {
        auto connection = std::make_unique<OVNDatabaseAccess>();
        connection->setConnectionDetails("Integrated", {}, {}, {}, catalog);
        EXPECT_TRUE(connection->openDBConnection());
        if (!connection->checkForDatabaseSetup()) {
            OVNDBHelper::prefDBCreateLocalDatabase(*connection);
            EXPECT_TRUE(connection->runSQLCommand("create trigger refuse before insert on strvcategory begin "
                                                  "select raise(abort, 'this catalog takes no new collections'); end"));
        }
        return connection;
    };
    const struct {
        QVariantMap settings;
        std::function<std::unique_ptr<OVNDatabaseAccess>()> connections;
        const char *alert;
        const char *says; // in the alert's text
    } stops[] = {
        {{{"svDestination1_", dir.filePath("missing")}}, {}, "Failed to create download folder", "destination"},
        {{{"svDestination1_", dir.filePath("dest")}, {"svDestination2_", dir.filePath("missing")}},
         {},
         "Failed to create backup folder",
         "backup folder"},
        {{{"svDestination1_", dir.filePath("dest")}, {"svCatalogSelection_", "1"}},
         {},
         "Failed to create catalog",
         "The catalog could not be opened."},
        {{{"svDestination1_", dir.filePath("dest")}, {"svCatalogSelection_", "1"}},
         refusing,
         "Failed to create catalog",
         "this catalog takes no new collections"},
    };
    for (const auto &stop : stops) {
        result = OVNCaptureDownload::run(*camera, stop.settings, "", stop.connections, cancel);
        EXPECT_EQ(result.alertTitle, stop.alert);
        EXPECT_TRUE(result.alertMessage.contains(QLatin1String(stop.says))) << qPrintable(result.alertMessage);
        EXPECT_FALSE(result.alertMessage.contains(QLatin1String("illegal"))) << qPrintable(result.alertMessage);
    }
}

TEST(CaptureDownloadTest, PresetsLoadSaveAndDelete)
{
    QTemporaryDir dir;
    QFile resource(dir.filePath("TestPresets.plist"));
    ASSERT_TRUE(resource.open(QIODevice::WriteOnly));
    resource.write("({Title = First; Type = Setting; Creator = Ostrevan; Settings = {svCatalog_ = X;};},"
                   " {Title = Other; Type = Filter;}, {Type = Setting;})");
    resource.close();
    qputenv("OVN_RESOURCES_DIR", dir.path().toUtf8());
    UserDefaults defaults(dir.filePath("prefs.plist"));
    SettingsPresetStore store(defaults, "TestPresets", "TestUserPresets", OVNCaptureDownload::settingsKeys());
    store.load();
    ASSERT_EQ(store.builtIn().size(), 1);
    const QVariantMap first = store.firstSettings();
    EXPECT_EQ(first.size(), 24);
    EXPECT_EQ(first.value("svCatalog_"), "X");
    EXPECT_EQ(first.value("svNamingCouterOptionsSelection_"), "");
    store.addUserPreset("Mine", first);
    store.addUserPreset("Mine", {});
    EXPECT_EQ(store.userPresetIndex("Mine"), 0);
    SettingsPresetStore again(defaults, "TestPresets", "TestUserPresets", OVNCaptureDownload::settingsKeys());
    again.load();
    ASSERT_EQ(again.user().size(), 2);
    EXPECT_EQ(again.user().first().toMap().value("Creator"), "User");
    EXPECT_TRUE(again.removeUserPreset(0));
    EXPECT_FALSE(again.removeUserPreset(5));
    EXPECT_EQ(again.user().size(), 1);
    EXPECT_EQ(SettingsPresetStore::initialItem(3), 2);
    EXPECT_EQ(SettingsPresetStore::initialItem(1), 0);
    qunsetenv("OVN_RESOURCES_DIR");
}

namespace {

// A card that takes its time for every file, as a camera on a slow cable does: the download's
// batches (a second's worth each) are then committed while files are still coming.
class SlowCard : public CaptureDevice
{
public:
    explicit SlowCard(const QString &volume) : m_card(CaptureDevices::card(volume)) {}
    QString id() const override { return m_card->id(); }
    QString name() const override { return m_card->name(); }
    bool open(QString *error) override { return m_card->open(error); }
    QList<CaptureFile> files(QString *error) override { return m_card->files(error); }
    bool download(const CaptureFile &file, int fd, QString *error) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return m_card->download(file, fd, error);
    }
    void close() override { m_card->close(); }
    bool eject(QString *) override { return false; }

private:
    std::unique_ptr<CaptureDevice> m_card;
};

} // namespace

class CaptureDownloadUsersTest : public CatalogFixture
{};

// A catalog user taken out of his only group, or lowered to READ ONLY on the download's collection,
// right after a batch went in: the next batch is not stored, the entries stored before stay, every
// file is downloaded all the same, and those not catalogued are named and counted in the alert.
TEST_P(CaptureDownloadUsersTest, CataloguingStopsAtTheNextBatchWhenWritingIsWithdrawn)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server catalog has users";
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    const struct {
        const char *name;
        const char *change; // run by the administrator after the first batch
        const char *reason; // in the alert
    } cases[] = {
        {"taken out of his only group", "delete from strvgroupusers", "belongs to no group"},
        {"lowered to READ ONLY", nullptr, "READ ONLY"},
    };
    // Enough files for a batch to end with files still to come, however many are in flight.
    const int count = 2 * std::max(1, QThread::idealThreadCount()) + 40;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(putAnnBackInStaff(db, staff));
        QTemporaryDir dir;
        const QString card = dir.filePath("vol/CARD");
        QDir().mkpath(card + "/DCIM/100");
        for (int k = 0; k < count; ++k)
            writeJpeg(QString("%1/DCIM/100/IMG_%2.JPG").arg(card).arg(k, 4, 10, QLatin1Char('0')), k);
        const QString dest = dir.filePath("dest");
        QDir().mkpath(dest);
        const QVariantMap settings{{"svDestination1_", dest}, {"svCatalogSelection_", "2"}, {"svCatalog_", c.name}};
        const auto asAnn = [this] {
            std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
            signInAsAnn(*connection);
            return connection;
        };
        struct Administrator : OVNCaptureDownload::Observer {
            std::function<void()> change;
            QString collection;
            bool changed = false;
            void collectionMade(const QString &, const QString &id) override { collection = id; }
            void fileCatalogued(const QString &, const QByteArray &) override
            {
                if (!changed)
                    change();
                changed = true;
            }
        } administrator;
        int storedBeforeTheChange = -1;
        administrator.change = [&] {
            storedBeforeTheChange = int(db.getMediaMIDListForCategory(administrator.collection).size());
            if (c.change)
                EXPECT_TRUE(db.runSQLCommand(c.change));
            else
                grantPrivilege(db, administrator.collection, staff, "READ ONLY");
        };
        SlowCard device(card);
        std::atomic<bool> cancel{false};
        const OVNCaptureDownload::Result result =
            OVNCaptureDownload::run(device, settings, QString(), asAnn, cancel, &administrator);

        ASSERT_TRUE(administrator.changed);
        EXPECT_GE(storedBeforeTheChange, 1);
        EXPECT_EQ(db.getMediaMIDListForCategory(result.collectionId).size(), storedBeforeTheChange);
        EXPECT_EQ(result.catalogued.size(), storedBeforeTheChange);
        EXPECT_EQ(result.files.size(), count);
        EXPECT_TRUE(result.failed.isEmpty());
        for (const QString &path : result.files)
            EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        // The files downloaded but not catalogued, in download order.
        QStringList rest = result.files;
        for (const QString &path : result.catalogued)
            rest.removeOne(path);
        EXPECT_FALSE(rest.isEmpty());
        EXPECT_EQ(result.notCatalogued, rest);
        EXPECT_TRUE(result.alertMessage.contains(c.reason)) << result.alertMessage.toStdString();
        EXPECT_TRUE(result.alertMessage.contains(QString(" %1 downloaded files").arg(rest.size())))
            << result.alertMessage.toStdString();
    }
}

OVN_CATALOG_VENDORS(CaptureDownloadUsersTest);

class CaptureDownloadSessionsTest : public CatalogFixture
{
protected:
    // A card of `count` pictures in `dir`, and the settings of a download from it into a folder
    // beside it that catalogues into the collection `collection`.
    static QVariantMap makeCard(const QTemporaryDir &dir, int count, const QString &collection, QString *card)
    {
        *card = dir.filePath("vol/CARD");
        QDir().mkpath(*card + "/DCIM/100");
        for (int k = 0; k < count; ++k)
            writeJpeg(QString("%1/DCIM/100/IMG_%2.JPG").arg(*card).arg(k, 4, 10, QLatin1Char('0')), k);
        const QString dest = dir.filePath("dest");
        QDir().mkpath(dest);
        return {{"svDestination1_", dest}, {"svCatalogSelection_", "2"}, {"svCatalog_", collection}};
    }
    // Connections to the test server through `proxy`.
    OVNCaptureDownload::ConnectionFactory through(const PgTestServer &server, const SessionCutProxy &proxy) const
    {
        return [this, server, &proxy] {
            auto connection = std::make_unique<OVNDatabaseAccess>();
            connection->setConnectionDetails(QStringLiteral("PostgreSQL"),
                                             QStringLiteral("127.0.0.1:%1").arg(proxy.port()), server.user,
                                             server.password, m_pgDatabase);
            connection->openDBConnection();
            return connection;
        };
    }
};

INSTANTIATE_TEST_SUITE_P(Server, CaptureDownloadSessionsTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

// A card download of 80 files whose sessions end at a commit whose answer is lost, or every few
// milliseconds: it ends, every file is downloaded, each catalogued file is there once, and
// what it says was catalogued is what the catalog holds; any file it did not catalogue is counted
// in its alert.
TEST_P(CaptureDownloadSessionsTest, ACardDownloadThroughEndedSessionsEndsAndSaysTruly)
{
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        int cutEveryMin, cutEveryMax; // 0: one commit's answer lost
        bool everyFile;               // every file must be catalogued
    } cuts[] = {
        {"a commit's answer lost", 0, 0, true},
        {"sessions ended every 5 to 20 ms", 5, 20, false},
    };
    const int count = 80;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        QTemporaryDir dir;
        QString card;
        const QVariantMap settings = makeCard(dir, count, cut.name, &card);
        SessionCutProxy proxy(server.port, {});
        // Sessions end every few milliseconds from the moment the collection is made: on a busy
        // machine, making it through such cuts may take longer than the download waits, which ends
        // the download before its first file.
        struct Cutter : OVNCaptureDownload::Observer {
            std::function<void()> start;
            void collectionMade(const QString &, const QString &) override
            {
                if (start)
                    start();
            }
        } cutter;
        if (cut.cutEveryMin > 0)
            cutter.start = [&] { proxy.cutEvery(cut.cutEveryMin, cut.cutEveryMax); };
        else
            proxy.cutAt("COMMIT", 1, SessionCutProxy::How::AnswerLost);
        SlowCard device(card);
        std::atomic<bool> cancel{false};
        const OVNCaptureDownload::Result result =
            OVNCaptureDownload::run(device, settings, QString(), through(server, proxy), cancel, &cutter);

        EXPECT_GE(proxy.cuts(), 1);
        EXPECT_EQ(result.files.size(), count);
        ASSERT_FALSE(result.collectionId.isEmpty());
        const QList<OVNRow> rows = db.rowsForQuery(
            QStringLiteral("select absolutepath, count(*) from strvfile where categoryid=$1 group by absolutepath"),
            {result.collectionId});
        QStringList held;
        for (const OVNRow &row : rows) {
            EXPECT_EQ(row.value(1).toInt(), 1) << qPrintable(row.value(0).toString());
            held.append(row.value(0).toString());
        }
        const QStringList &said = result.catalogued;
        for (const QString &path : said)
            EXPECT_TRUE(held.contains(path)) << "said as catalogued, not held: " << qPrintable(path);
        // A file whose commit went unanswered while the server stayed away may be held: it is
        // then said to be in doubt.
        for (const QString &path : std::as_const(held))
            EXPECT_TRUE(said.contains(path) || result.uncertain.contains(path))
                << "held, not said as catalogued: " << qPrintable(path);
        for (const QString &path : result.notCatalogued)
            EXPECT_FALSE(held.contains(path)) << "said not catalogued, held: " << qPrintable(path);
        EXPECT_EQ(said.size() + result.uncertain.size() + result.notCatalogued.size(), count);
        if (cut.everyFile) {
            EXPECT_EQ(held.size(), count) << qPrintable(result.alertMessage);
        }
        if (said.size() < count) {
            EXPECT_TRUE(result.alertMessage.contains(QString(" %1 downloaded files").arg(result.notCatalogued.size())))
                << qPrintable(result.alertMessage);
        } else {
            EXPECT_TRUE(result.notCatalogued.isEmpty());
        }
    }
}

// A card download whose server goes away for three seconds after a few files: it says it waits
// for the catalog server, goes on, and catalogues every file once.
TEST_P(CaptureDownloadSessionsTest, ACardDownloadWaitsForARestartingServerAndSaysSo)
{
    const PgTestServer server = *pgTestServer();
    const int count = 40;
    QTemporaryDir dir;
    QString card;
    const QVariantMap settings = makeCard(dir, count, "restart", &card);
    SessionCutProxy proxy(server.port, {});
    struct Restarter : OVNCaptureDownload::Observer {
        SessionCutProxy *proxy = nullptr;
        std::thread back;
        QStringList said;
        void fileDownloaded(int k, const QString &, const QString &) override
        {
            if (k != 10)
                return;
            proxy->goDown();
            back = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::seconds(3));
                proxy->comeBack();
            });
        }
        void catalogWaiting(const QString &text) override { said.append(text); }
    } restarter;
    restarter.proxy = &proxy;
    SlowCard device(card);
    std::atomic<bool> cancel{false};
    const OVNCaptureDownload::Result result =
        OVNCaptureDownload::run(device, settings, QString(), through(server, proxy), cancel, &restarter);
    if (restarter.back.joinable())
        restarter.back.join();
    EXPECT_EQ(result.files.size(), count);
    EXPECT_EQ(result.catalogued.size(), count) << qPrintable(result.alertMessage);
    EXPECT_TRUE(result.alertMessage.isEmpty()) << qPrintable(result.alertMessage);
    EXPECT_TRUE(restarter.said.contains(QStringLiteral("Waiting for the catalog server...")))
        << qPrintable(restarter.said.join('|'));
    EXPECT_EQ(db.rowsForQuery(QStringLiteral("select count(distinct absolutepath), count(*) from strvfile where "
                                             "categoryid=$1"),
                              {result.collectionId})
                  .value(0),
              (OVNRow{QString::number(count), QString::number(count)}));
}

// A batch's commit reaches the server, and the server goes away before its answer comes back and
// stays away past the download's patience: cataloguing stops with the batch's files in doubt. When
// the server is back before the download ends, one look-up settles them; when it stays away, they
// are named as files the catalog may hold, never counted among those it does not. Either way, what
// the download says it catalogued is what the catalog holds, and the rest are counted.
TEST_P(CaptureDownloadSessionsTest, FilesWhoseCommitWentUnansweredAreNeverSaidNotCatalogued)
{
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        bool backBeforeTheEnd;
    } cases[] = {{"server back before the download ends", true}, {"server away to the end", false}};
    const int count = 100; // four seconds of files: the first batch commits on the way
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        QString card;
        const QVariantMap settings = makeCard(dir, count, c.name, &card);
        SessionCutProxy proxy(server.port, {});
        // The collection's commit is the first; the first batch's the second.
        proxy.cutAt("COMMIT", 2, SessionCutProxy::How::AnswerLostThenDown);
        // The batch is committed on the download's own thread, which then waits out its patience:
        // a file downloaded while the server is down comes after cataloguing stopped.
        struct Returner : OVNCaptureDownload::Observer {
            SessionCutProxy *proxy = nullptr;
            bool bringBack = false;
            bool downSeen = false;
            void fileDownloaded(int, const QString &, const QString &) override
            {
                if (!proxy->isDown())
                    return;
                downSeen = true;
                if (bringBack)
                    proxy->comeBack();
            }
        } returner;
        returner.proxy = &proxy;
        returner.bringBack = c.backBeforeTheEnd;
        SlowCard device(card);
        std::atomic<bool> cancel{false};
        const OVNCaptureDownload::Result result =
            OVNCaptureDownload::run(device, settings, QString(), through(server, proxy), cancel, &returner, 2);

        ASSERT_TRUE(returner.downSeen) << "the first batch was committed after the last file";
        EXPECT_EQ(result.files.size(), count);
        const QList<OVNRow> rows = db.rowsForQuery(
            QStringLiteral("select absolutepath from strvfile where categoryid=$1"), {result.collectionId});
        QStringList held;
        for (const OVNRow &row : rows)
            held.append(row.value(0).toString());
        ASSERT_FALSE(held.isEmpty());
        QStringList said = result.catalogued;
        held.sort();
        said.sort();
        QStringList doubtful = result.uncertain;
        doubtful.sort();
        if (c.backBeforeTheEnd) {
            EXPECT_EQ(said, held);
            EXPECT_TRUE(doubtful.isEmpty()) << qPrintable(doubtful.join(' '));
        } else {
            EXPECT_TRUE(said.isEmpty());
            EXPECT_EQ(doubtful, held);
            EXPECT_TRUE(result.alertMessage.contains(QString("%1 files may be in the catalog").arg(held.size())))
                << qPrintable(result.alertMessage);
        }
        EXPECT_EQ(result.notCatalogued.size(), count - said.size() - doubtful.size());
        for (const QString &path : result.notCatalogued)
            EXPECT_FALSE(held.contains(path)) << qPrintable(path);
        EXPECT_TRUE(result.alertMessage.contains(QString(" %1 downloaded files").arg(result.notCatalogued.size())))
            << qPrintable(result.alertMessage);
    }
}
