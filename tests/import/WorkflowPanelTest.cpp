#include "CatalogFixture.h"

#include "import/OVNImportCamera.h"
#include "import/OVNWorkflowPanel.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

namespace {

QString writeJpeg(const QString &path, int seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, 90, 120));
    EXPECT_TRUE(image.save(path, "JPEG", 85));
    return path;
}

// HOME, the XDG folders and the volume roots in a temporary folder for the test's life.
class TempHome
{
public:
    TempHome()
    {
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "OVN_VOLUME_ROOTS"})
            m_saved.append({name, qgetenv(name)});
        qputenv("HOME", m_dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral(".config")).toUtf8());
        qputenv("OVN_VOLUME_ROOTS", m_dir.filePath(QStringLiteral("volumes")).toUtf8());
    }
    ~TempHome()
    {
        for (const auto &[name, value] : m_saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString pictures() const { return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation); }

private:
    QTemporaryDir m_dir;
    QList<std::pair<const char *, QByteArray>> m_saved;
};

QVariantMap album(const QString &name, const QStringList &keys)
{
    return {{"AlbumName", name}, {"KeyList", QVariantList(keys.begin(), keys.end())}};
}

void dropOn(QWidget *target, const QStringList &paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    mime.setUrls(urls);
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

} // namespace

// The panel opens where it was left, start after start: its place is stored and restored by the
// same corner, whatever the window frame adds around it. Shown at start-up beside the catalog
// window, it leaves that window the keyboard focus.
TEST(WorkflowPanelPlacementTest, OpensWhereItWasLeftStartAfterStart)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char *name;
        QPointF origin;
    };
    const Case cases[] = {
        {"low left", QPointF(screen.x() + 10, 20)},
        {"middle", QPointF(screen.x() + screen.width() / 3, screen.height() / 3)},
        {"fractional", QPointF(screen.x() + 40.5, 60.25)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults defaults;
        defaults.setDouble(c.origin.x(), "WorkflowPanelX");
        defaults.setDouble(c.origin.y(), "WorkflowPanelY");
        QPointF expected(qRound(c.origin.x()), qRound(c.origin.y()));
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE(start);
            OVNWorkflowPanel panel(defaults);
            if (start % 2 == 0)
                panel.orderFrontWithoutActivating();
            else
                panel.makeKeyAndOrderFront();
            QCoreApplication::processEvents();
            panel.saveLocation();
            EXPECT_EQ(QPointF(defaults.doubleForKey("WorkflowPanelX"), defaults.doubleForKey("WorkflowPanelY")),
                      expected);
        }
    }
}

// A panel's place given on the command line ("-WorkflowPanelX 200 -WorkflowPanelY 300") counts for
// that run only: the file keeps the place it held, whether or not the panel was moved, while the
// run follows the panel. Without the command line's place a moved panel's place is saved.
TEST(PanelPlacementTest, PlacesGivenOnTheCommandLineAreNeverSaved)
{
    struct Panel {
        const char *name;
        QString x;
        QString y;
        std::function<std::unique_ptr<QWidget>(UserDefaults &)> show;
        std::function<void(QWidget &)> save;
    };
    const Panel panels[] = {
        {"workflow panel", "WorkflowPanelX", "WorkflowPanelY",
         [](UserDefaults &defaults) {
             auto panel = std::make_unique<OVNWorkflowPanel>(defaults);
             panel->makeKeyAndOrderFront();
             return std::unique_ptr<QWidget>(std::move(panel));
         },
         [](QWidget &panel) { static_cast<OVNWorkflowPanel &>(panel).saveLocation(); }},
        {"capture window", "CapturePanelX", "CapturePanelY",
         [](UserDefaults &defaults) {
             auto window = std::make_unique<OVNImportCamera>(defaults);
             window->makeKeyAndOrderFront();
             return std::unique_ptr<QWidget>(std::move(window));
         },
         [](QWidget &window) { static_cast<OVNImportCamera &>(window).saveLocation(); }},
    };
    struct Case {
        const char *name;
        bool givenOnCommandLine;
        bool moved;
    };
    const Case cases[] = {
        {"given, left where it was", true, false},
        {"given, moved", true, true},
        {"stored only, moved", false, true},
    };
    for (const Panel &p : panels) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(p.name) + ": " + c.name);
            QTemporaryDir dir;
            const QString path = dir.filePath("preferences.plist");
            {
                UserDefaults saved(path);
                saved.setDouble(30, p.x);
                saved.setDouble(40, p.y);
            }
            UserDefaults run(path);
            if (c.givenOnCommandLine)
                run.setArguments({"ostrevan", "-" + p.x, "200", "-" + p.y, "300"});
            std::unique_ptr<QWidget> panel = p.show(run);
            QCoreApplication::processEvents();
            if (c.moved) {
                panel->move(panel->pos() + QPoint(50, 60));
                QCoreApplication::processEvents();
            }
            p.save(*panel);
            const QPointF place(run.doubleForKey(p.x), run.doubleForKey(p.y));
            const UserDefaults file(path);
            const QPointF saved(file.doubleForKey(p.x), file.doubleForKey(p.y));
            EXPECT_EQ(saved, c.givenOnCommandLine ? QPointF(30, 40) : place);
            if (c.moved) {
                EXPECT_NE(place, c.givenOnCommandLine ? QPointF(200, 300) : QPointF(30, 40));
            }
        }
    }
}

// The album reader: file order of albums, "ImagePath" when "OriginalPath" is missing, images with
// neither skipped, keywords named by the keyword list each followed by a blank; the panel's pop-up
// reads the library under the pictures folder.
TEST(WorkflowPanelAlbumTest, AlbumsAndTheirItems)
{
    TempHome home;
    const QVariantMap library{
        {"List of Albums", QVariantList{album("Trip", {"1", "2", "3", "9"}), album("Empty", {})}},
        {"Master Image List", QVariantMap{{"1", QVariantMap{{"OriginalPath", "/p/1.jpg"},
                                                            {"ImagePath", "/p/1-edit.jpg"},
                                                            {"Caption", "one"},
                                                            {"Rating", 3},
                                                            {"Keywords", QVariantList{"k1", "k9", "k2"}}}},
                                          {"2", QVariantMap{{"ImagePath", "/p/2.jpg"}, {"Comment", "two"}}},
                                          {"3", QVariantMap{{"Caption", "no file"}}}}},
        {"List of Keywords", QVariantMap{{"k1", "sea"}, {"k2", "sun"}}}};
    EXPECT_EQ(OVNWorkflowPanel::albumNames(library), QStringList({"Trip", "Empty"}));
    const QVariantList items = OVNWorkflowPanel::albumItems(library, 0, "Trip");
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toMap(),
              QVariantMap({{"PATH", "/p/1.jpg"}, {"CAPTION", "one"}, {"RATING", 3}, {"KEYWORDS", "sea sun "}}));
    EXPECT_EQ(items[1].toMap(), QVariantMap({{"PATH", "/p/2.jpg"}, {"COMMENT", "two"}, {"KEYWORDS", ""}}));
    EXPECT_TRUE(OVNWorkflowPanel::albumItems(library, 1, "Trip").isEmpty());
    EXPECT_TRUE(OVNWorkflowPanel::albumItems(library, 5, "Trip").isEmpty());
    EXPECT_TRUE(OVNWorkflowPanel::albumNames(QVariant(QStringLiteral("not a library"))).isEmpty());

    UserDefaults defaults(home.path("prefs.plist"));
    OVNWorkflowPanel panel(defaults);
    panel.selectWorkflow(3);
    EXPECT_EQ(panel.albumSelection()->count(), 0); // no library yet
    QDir().mkpath(QFileInfo(OVNWorkflowPanel::albumDataPath()).absolutePath());
    QFile file(OVNWorkflowPanel::albumDataPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(PropertyList::writeXml(library));
    file.close();
    panel.selectWorkflow(3);
    EXPECT_EQ(panel.albumSelection()->count(), 2);
    EXPECT_EQ(panel.startView(), panel.albumSelection()->parentWidget());
    panel.selectWorkflow(-1);
    EXPECT_EQ(panel.startView(), nullptr);
    EXPECT_EQ(panel.descriptionText(), QStringLiteral("Please select a Workflow Action above."));
}

class WorkflowPanelTest : public CatalogFixture
{};

// Drops on each workflow: the category made, where the files are catalogued, what was moved, and
// the alerts.
TEST_P(WorkflowPanelTest, DropsRunTheSelectedWorkflow)
{
    TempHome home;
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString card = home.path("volumes/CARD/DCIM");
    writeJpeg(card + "/IMG_1.jpg", 1);
    writeJpeg(card + "/IMG_2.jpg", 2);
    const QString trip = home.path("Desktop/Trip");
    writeJpeg(trip + "/a.jpg", 3);
    const QString loose = writeJpeg(home.path("Desktop/loose.jpg"), 4);
    const QString quick = home.path("volumes/QUICK/DCIM");
    writeJpeg(quick + "/q.jpg", 5);

    UserDefaults defaults(home.path("prefs.plist"));
    OVNWorkflowPanel panel(defaults);
    panel.setConnectionMaker([this] { return openAnother(); });
    int finished = 0;
    const int token =
        NotificationCenter::defaultCenter().addObserver(nullptr, QStringLiteral("OVNNotificationImportMediaDidFinish"),
                                                        [&](const QString &, const QVariantMap &) { ++finished; });
    const QString privateStore = home.pictures() + "/Ostrevan/";
    EXPECT_TRUE(panel.workflowDefinition(0).value("description").toString().contains(privateStore));

    const struct {
        const char *name;
        int row;
        QStringList dropped;
        QString category;       // empty: none made
        QStringList catalogued; // "volumetype|volumename|path", path relative to the home folder
        int alerts;
    } cases[] = {
        {"card on CD/DVD",
         2,
         {card},
         "CARD",
         {"removable|CARD|volumes/CARD/DCIM/IMG_1.jpg", "removable|CARD|volumes/CARD/DCIM/IMG_2.jpg"},
         0},
        {"folder on media files", 4, {trip}, "Trip", {"||Desktop/Trip/a.jpg"}, 0},
        {"file on media files", 4, {loose}, "drag", {"||Desktop/loose.jpg"}, 0},
        {"folder to private store", 0, {trip}, "Trip", {"||Pictures/Ostrevan/*/a.jpg"}, 0},
        {"media server offline, no automount", 1, {trip}, "", {}, 1},
        {"quick scan", 5, {quick, home.path("volumes/QUICK/gone")}, "", {}, 1},
        {"no row", -1, {trip}, "", {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        db.runSQLCommand(QStringLiteral("delete from strvfile"));
        const int categoriesBefore = db.rowsForQuery(QStringLiteral("select mid from strvcategory")).size();
        const int alertsBefore = alerts->shown().size();
        const int finishedBefore = finished;
        panel.selectWorkflow(c.row);
        dropOn(panel.fileDump(), c.dropped);
        if (!c.category.isEmpty()) {
            ASSERT_TRUE(processEventsUntil([&] { return finished > finishedBefore; }, waitCeilingMs));
        }
        const auto categories = db.rowsForQuery(QStringLiteral("select displaytag from strvcategory order by mid"));
        EXPECT_EQ(categories.size(), categoriesBefore + (c.category.isEmpty() ? 0 : 1));
        if (!c.category.isEmpty() && !categories.isEmpty()) {
            EXPECT_EQ(categories.last().value(0).toString(), c.category);
        }
        QStringList catalogued;
        for (const auto &row : db.rowsForQuery(
                 QStringLiteral("select volumetype, volumename, absolutepath from strvfile order by absolutepath")))
            catalogued.append(QStringLiteral("%1|%2|%3")
                                  .arg(row.value(0).toString(), row.value(1).toString(),
                                       QDir(home.path("")).relativeFilePath(row.value(2).toString())));
        ASSERT_EQ(catalogued.size(), c.catalogued.size()) << catalogued.join(", ").toStdString();
        for (int i = 0; i < catalogued.size(); ++i)
            EXPECT_TRUE(QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                                               c.catalogued[i], QRegularExpression::UnanchoredWildcardConversion))
                            .match(catalogued[i])
                            .hasMatch())
                << catalogued[i].toStdString();
        ASSERT_EQ(alerts->shown().size(), alertsBefore + c.alerts);
    }
    // The quick scan moved the card's folder into a dated folder and named the one path it could not move.
    EXPECT_FALSE(QFileInfo::exists(quick));
    const QStringList dated = QDir(privateStore).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    bool moved = false;
    for (const QString &folder : dated)
        moved = moved || QFileInfo::exists(privateStore + folder + "/DCIM/q.jpg");
    EXPECT_TRUE(moved);
    const QString alertText = alerts->shown().last().informativeText;
    EXPECT_TRUE(alertText.contains(home.path("volumes/QUICK/gone"))) << alertText.toStdString();
    EXPECT_FALSE(alertText.contains(quick + "\n"));
    NotificationCenter::defaultCenter().removeObserver(token);
}

// The panel only makes a category and hands the files to the import, whose catalogs are tested
// with both vendors elsewhere.
INSTANTIATE_TEST_SUITE_P(Vendors, WorkflowPanelTest, testing::Values(OVNDatabaseAccess::Vendor::Integrated),
                         catalogVendorName);
