#include "browser/OVNMediaRollView.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNLightTable.h"
#include "viewers/OVNLightTableStatus.h"
#include "viewers/OVNMovieView.h"
#include "decoding/MoviePlayer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace {

using Command = OVNLightTableStatus::Command;

// Lets a load end; a hung load fails the test rather than the run.
void waitForLoad(const OVNLightTable *table)
{
    QElapsedTimer clock;
    clock.start();
    while (table->isLoading() && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_FALSE(table->isLoading());
}

} // namespace

// Styles 1 to 4 as designed, y up (pane 1 at the bottom left); 0 counts as 2, 7 gives none.
TEST(LightTableTest, PaneFramesOfEachSplitStyle)
{
    const QRectF b(0, 0, 101, 61);
    struct Case {
        int stored;
        QList<QRectF> frames;
    };
    const Case cases[] = {
        {1, {{0, 0, 101, 61}}},
        {0, {{0, 0, 51, 61}, {51, 0, 48, 61}}},
        {2, {{0, 0, 51, 61}, {51, 0, 48, 61}}},
        {3, {{0, 0, 101, 31}, {0, 31, 101, 30}}},
        {4, {{0, 0, 51, 31}, {51, 0, 48, 31}, {0, 31, 51, 30}, {51, 31, 48, 30}}},
        {7, {}},
        {-1, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNLightTable::paneFrames(OVNLightTable::splitStyleFromPreference(c.stored), b), c.frames)
            << c.stored;
    // Converted once into the pane area's y-down coordinates: the bottom pane lands below.
    EXPECT_EQ(OVNLightTable::toWidget({0, 0, 101, 31}, 61), QRectF(0, 30, 101, 31));
    EXPECT_EQ(OVNLightTable::toWidget({0, 31, 101, 30}, 61), QRectF(0, 0, 101, 30));
    EXPECT_EQ(OVNLightTable::shrinkFactorFromPreference(1), 0);
    EXPECT_EQ(OVNLightTable::shrinkFactorFromPreference(0), 2);
    EXPECT_EQ(OVNLightTable::shrinkFactorFromPreference(5), 2);
}

// Points y up on strips of several widths: left and bottom edges count, right and top ones do not;
// the first region in click order wins where narrow strips overlap them.
TEST(LightTableTest, StatusStripHitsAndClickOrder)
{
    struct Case {
        double x, y, width;
        Command command;
        int style;
    };
    const Case cases[] = {
        {500 - 32, 3, 500, Command::ToggleFullScreen, 0},
        {500 - 17, 18, 500, Command::ToggleFullScreen, 0},
        {500 - 16, 10, 500, Command::None, 0},
        {500 - 20, 19, 500, Command::None, 0},
        {500 - 20, 2.9, 500, Command::None, 0},
        {500 - 91, 3, 500, Command::RotateLeft, 0},
        {500 - 67, 10, 500, Command::RotateRight, 0},
        {500 - 71, 10, 500, Command::None, 0},
        {500 - 72, 10, 500, Command::RotateLeft, 0},
        {500 - 124, 10, 500, Command::SlideShow, 0},
        {500 - 160, 10, 500, Command::FullResolution, 0},
        {4, 3, 500, Command::SplitStyle, 1},
        {20.9, 10, 500, Command::SplitStyle, 1},
        {21, 10, 500, Command::SplitStyle, 0},
        {22, 10, 500, Command::SplitStyle, 2},
        {36, 10, 500, Command::SplitStyle, 0},
        {50, 18, 500, Command::SplitStyle, 3},
        {66.9, 10, 500, Command::SplitStyle, 4},
        {67, 10, 500, Command::None, 4},
        {3.9, 10, 500, Command::None, 0},
        {10, 10, 100, Command::RotateLeft, 1},
        {40, 10, 100, Command::RotateRight, 3},
        {70, 10, 100, Command::ToggleFullScreen, 0},
        {60, 10, 100, Command::SplitStyle, 4},
        {10, 10, 10, Command::SplitStyle, 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(OVNLightTableStatus::commandAt({c.x, c.y}, c.width), c.command)
            << c.x << "," << c.y << " w " << c.width;
        EXPECT_EQ(OVNLightTableStatus::viewStyleForPoint({c.x, c.y}), c.style) << c.x << "," << c.y;
    }
    EXPECT_EQ(OVNLightTableStatus::fromWidget({5, 2}, 22), QPointF(5, 20));
    EXPECT_EQ(OVNLightTableStatus::toWidget({5, 3, 10, 16}, 22), QRectF(5, 3, 10, 16));
}

// The command icons are drawn only on strips wider than 120 points; a click reaches the handler y up.
TEST(LightTableTest, StatusStripDrawsIconsOnlyAbove120)
{
    OVNLightTableStatus strip;
    strip.setBackgroundColor(Qt::black);
    for (int width : {120, 121, 400}) {
        strip.resize(width, 22);
        const QImage picture = strip.grab().toImage();
        // The left edge of the full-screen frame, half way up.
        const QColor edge = picture.pixelColor(width - 32, 22 - 11);
        EXPECT_EQ(edge.lightness() > 200, width > 120) << width;
    }
    QPointF clicked;
    strip.setClickHandler([&](const QPointF &point) { clicked = point; });
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(30, 5), QPointF(30, 5), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&strip, &press);
    EXPECT_EQ(clicked, QPointF(30, 17));
}

// A light table over pictures made here: their records carry the orientation codes.
class LightTableFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::standard().removeObjectForKey("LightTableSplitStyle");
        for (int i = 0; i < 4; ++i) {
            QImage picture(80, 40, QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(i * 60, 200, 200));
            const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            ASSERT_TRUE(picture.save(path, "JPEG"));
            add(path, QStringList{"1", "6", "8", "3"}[i]);
        }
        QFile broken(dir.filePath("broken.jpg"));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture at all");
        broken.close();
        add(broken.fileName(), "1");        // row 4
        add(dir.filePath("gone.jpg"), "1"); // row 5, missing
        QFile clip(dir.filePath("clip.mp4"));
        ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
        clip.write(QByteArray(4096, 'x'));
        clip.close();
        add(clip.fileName(), "1"); // row 6, a movie that does not play
    }
    void TearDown() override
    {
        if (table)
            table->close();
        OVNImageLoader::waitForAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UserDefaults::standard().removeObjectForKey("LightTableSplitStyle");
    }
    void add(const QString &path, const QString &orientation)
    {
        auto record = std::make_shared<MediaRecord>();
        record->setField(MediaRecord::Mid, QStringLiteral("m%1").arg(list.size()));
        record->setField(MediaRecord::AbsolutePath, path);
        record->setField(MediaRecord::Orientation, orientation);
        list.append(record);
    }
    OVNLightTable *open(const MediaList &items)
    {
        table = new OVNLightTable;
        table->resize(900, 700);
        table->setMediaContainer(items, QStringLiteral("C"), QStringLiteral("cat"));
        table->showLightTable();
        return table;
    }
    void select(std::initializer_list<int> rows)
    {
        table->roll()->deselectAll();
        for (int row : rows)
            table->roll()->selectRow(row);
        table->ovnMediaViewSelectionDidChange(table->roll());
        waitForLoad(table);
    }

    QTemporaryDir dir;
    MediaList list;
    QPointer<OVNLightTable> table;
};

TEST_F(LightTableFixture, LoadsTurnedByOrientationAndEmptiesPanesOnBadInput)
{
    open(list);
    EXPECT_EQ(table->paneCount(), 2); // no stored style
    QSignalSpy loaded(table, &OVNLightTable::itemLoaded);
    struct Case {
        int row, rotation;
    };
    for (const Case c : {Case{0, 0}, Case{1, 90}, Case{2, 270}, Case{3, 180}}) {
        select({c.row});
        ASSERT_FALSE(loaded.isEmpty()) << c.row;
        EXPECT_EQ(loaded.last().at(0).toInt(), c.row);
        EXPECT_EQ(loaded.last().at(3).toInt(), c.rotation);
        EXPECT_EQ(table->imageView(0)->rotation(), c.rotation);
        EXPECT_EQ(table->imageView(0)->image().size(), QSize(80, 40));
        EXPECT_EQ(table->imageView(0)->representedObject().value("mid").toString(), QStringLiteral("m%1").arg(c.row));
        EXPECT_TRUE(table->statusStrip()->status().isEmpty());
    }
    // Two items at once: pane 1 empties and nothing loads.
    select({0, 1});
    EXPECT_TRUE(table->imageView(0)->image().isNull());
    EXPECT_TRUE(table->mediaPath().isEmpty());
    // A file that does not decode and one that is gone: the pane stays empty, the strip says why.
    for (const auto &[row, text] : {std::pair{4, "could not be loaded"}, std::pair{5, "not found"}}) {
        select({0});
        select({row});
        EXPECT_TRUE(table->imageView(0)->image().isNull()) << row;
        EXPECT_TRUE(table->statusStrip()->status().contains(QLatin1String(text))) << row;
    }
}

// The Media menu follows the selection: disabled with none, the rating checked for one (a record
// without one leaves the marks), unchecked for several; full screen takes exactly one item.
TEST_F(LightTableFixture, TheMediaMenuFollowsTheSelection)
{
    struct Opens : OVNLightTableDelegate {
        QList<int> calls;
        Capabilities lightTableCapabilities() const override { return Open; }
        void lightTableOpen(OVNMediaView *, int viewerType) override { calls << viewerType; }
    } delegate;
    list[0]->setField(MediaRecord::Rating, QStringLiteral("3"));
    list[1]->setField(MediaRecord::Rating, QStringLiteral("5"));
    open(list);
    table->setDelegate(&delegate);
    QList<QAction *> items = table->mediaMenu()->actions();
    items.removeIf([](QAction *item) { return item->isSeparator(); });
    ASSERT_EQ(items.size(), 9);
    const auto checked = [&] {
        QList<int> stars;
        for (QAction *item : items)
            if (item->isChecked())
                stars << item->data().toInt();
        return stars;
    };
    table->validateMenus();
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_FALSE(items[3]->isEnabled());
    select({0});
    table->validateMenus();
    EXPECT_TRUE(items[0]->isEnabled() && items[1]->isEnabled() && items[2]->isEnabled() && items[6]->isEnabled());
    EXPECT_EQ(checked(), QList<int>{3});
    select({2}); // no rating stored: the marks stay
    table->validateMenus();
    EXPECT_EQ(checked(), QList<int>{3});
    select({0, 1});
    table->validateMenus();
    EXPECT_TRUE(checked().isEmpty());

    items[1]->trigger(); // full screen with two selected: nothing opens
    items[0]->trigger();
    select({1});
    items[1]->trigger();
    EXPECT_EQ(delegate.calls, (QList<int>{0, 2}));
    table->setDelegate(nullptr);
}

TEST_F(LightTableFixture, APaneSwitchingKindStartsUnturned)
{
    open(list);
    select({1});
    table->rotateSelectedPane(OVNLightTableDelegate::Turn::Right); // no delegate: on screen only
    EXPECT_EQ(table->imageView(0)->rotation(), 180);
    select({6});
    ASSERT_TRUE(table->paneShowsMovie(0));
    EXPECT_EQ(table->movieView(0)->rotation(), 0);
    EXPECT_FALSE(table->imageView(0)->isVisible());
    EXPECT_EQ(table->movieView(0)->geometry(), table->imageView(0)->geometry());
    table->rotateSelectedPane(OVNLightTableDelegate::Turn::Left); // a movie pane turns its picture
    EXPECT_EQ(table->movieView(0)->rotation(), 270);
    select({0});
    EXPECT_FALSE(table->paneShowsMovie(0));
    EXPECT_EQ(table->imageView(0)->rotation(), 0);
    select({6});
    EXPECT_EQ(table->movieView(0)->rotation(), 0);
    // Another style rebuilds the panes empty and is kept; the style in use changes nothing.
    QSignalSpy built(table, &OVNLightTable::panesBuilt);
    table->statusStripClicked(OVNLightTableStatus::styleRect(2).center());
    EXPECT_TRUE(built.isEmpty());
    table->statusStripClicked(OVNLightTableStatus::styleRect(4).center());
    EXPECT_EQ(table->paneCount(), 4);
    EXPECT_EQ(built.size(), 1);
    EXPECT_EQ(UserDefaults::standard().integerForKey("LightTableSplitStyle"), 4);
    EXPECT_FALSE(table->paneShowsMovie(0));
    EXPECT_EQ(table->selectedPane(), 0);
}

TEST_F(LightTableFixture, AdvanceWrapsRecoversFromSeveralSelectedAndIgnoresALateTimer)
{
    open(MediaList(list.begin(), list.begin() + 3));
    QSignalSpy advanced(table, &OVNLightTable::advanced);
    select({2});
    table->toggleAdvance(); // the last item: the first comes next
    waitForLoad(table);
    EXPECT_EQ(advanced.last().at(0).toInt(), 0);
    EXPECT_TRUE(table->isAdvanceTimerActive()); // counts from the moment the item is on screen
    table->displayNextMediaFile();              // the timer's step
    waitForLoad(table);
    EXPECT_EQ(table->roll()->selectedRows(), QList<int>{1});
    // Several selected when switched on: they are let go and the first item is shown.
    table->toggleAdvance();
    select({1, 2});
    table->toggleAdvance();
    waitForLoad(table);
    EXPECT_EQ(table->roll()->selectedRows(), QList<int>{0});
    EXPECT_EQ(table->imageView(0)->representedObject().value("mid"), "m0");
    // Switched off: a timer that still fires changes nothing.
    table->toggleAdvance();
    EXPECT_FALSE(table->isAdvanceTimerActive());
    table->displayNextMediaFile();
    EXPECT_EQ(table->roll()->selectedRows(), QList<int>{0});
    table->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(table.isNull());

    // An empty roll: nothing is selected or loaded, and the advance stops by itself.
    open({});
    table->toggleAdvance();
    EXPECT_EQ(table->roll()->numberOfSelectedRows(), 0);
    EXPECT_FALSE(table->isLoading());
    EXPECT_FALSE(table->isAdvanceTimerActive());
}

// The read rule its opener gives is asked whenever an entry is shown whole or leaves through the
// roll: a refused one empties the pane (the automatic advance stops there) and stays out of a drag.
TEST_F(LightTableFixture, TheReadRuleDecidesWhatIsShownAndWhatLeaves)
{
    open(MediaList(list.begin(), list.begin() + 3));
    int asked = 0;
    bool refuseAll = false;
    // Keeps everything but m1; nothing at all when refusing all or when only m1 was asked about.
    table->setReadRule([&](const QList<MediaRecord> &records) -> std::optional<QList<MediaRecord>> {
        ++asked;
        QList<MediaRecord> kept;
        for (const MediaRecord &record : records)
            if (record.field(MediaRecord::Mid) != QLatin1String("m1"))
                kept.append(record);
        if (refuseAll || kept.isEmpty())
            return std::nullopt;
        return kept;
    });
    QSignalSpy failed(table, &OVNLightTable::itemFailed);
    const struct {
        int row;
        bool shown;
    } selections[] = {{0, true}, {1, false}, {2, true}, {1, false}};
    for (const auto &s : selections) {
        SCOPED_TRACE(s.row);
        const int before = asked;
        select({s.row});
        EXPECT_EQ(asked, before + 1);
        EXPECT_EQ(table->mediaPath().isEmpty(), !s.shown);
        EXPECT_EQ(table->imageView(table->selectedPane())->image().isNull(), !s.shown);
        if (!s.shown) {
            ASSERT_FALSE(failed.isEmpty());
            EXPECT_EQ(failed.last().at(1).toString(), "m1");
        }
    }

    // The automatic advance stops at the entry it may not show.
    select({0});
    table->toggleAdvance();
    waitForLoad(table);
    EXPECT_EQ(table->roll()->selectedRows(), QList<int>{1});
    EXPECT_FALSE(table->isAdvancing());
    EXPECT_FALSE(table->isAdvanceTimerActive());

    // A drag out of the roll carries only what may leave, from whichever row it starts.
    table->roll()->deselectAll();
    table->roll()->selectRow(0);
    table->roll()->selectRow(1);
    for (int row : {0, 1}) {
        const std::unique_ptr<QMimeData> data = table->roll()->dragContents(row);
        ASSERT_TRUE(data) << row;
        EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(list[0]->field(MediaRecord::AbsolutePath))}) << row;
    }
    refuseAll = true;
    EXPECT_EQ(table->roll()->dragContents(0), nullptr);
}

TEST_F(LightTableFixture, EscapeLeavesFullScreenOnly)
{
    open(list);
    const int captured = OVNFullScreenWindow::capturedDisplayCount();
    QWidget *content = table->centralWidget();
    const auto key = [&](Qt::Key code, const QString &text) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
        table->ovnFullScreenWindowKeyDown(&event);
    };
    key(Qt::Key_Escape, QStringLiteral("\x1b")); // windowed: nothing
    EXPECT_FALSE(table->isFullscreen());
    table->statusStripClicked(
        OVNLightTableStatus::regionRect(OVNLightTableStatus::Region::FullScreen, table->statusStrip()->width())
            .center());
    ASSERT_TRUE(table->isFullscreen());
    EXPECT_NE(content->window(), table.data());
    EXPECT_EQ(table->roll()->menuForEventType(), 2);
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured + 1);
    key(Qt::Key_Left, QString()); // a key without characters
    key(Qt::Key_A, QStringLiteral("a"));
    EXPECT_TRUE(table->isFullscreen());
    key(Qt::Key_Escape, QStringLiteral("\x1b"));
    EXPECT_FALSE(table->isFullscreen());
    EXPECT_EQ(table->centralWidget(), content);
    EXPECT_EQ(table->roll()->menuForEventType(), 1);
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);
    // Closing in full screen gives the display back too.
    table->gotoFullscreenMode();
    table->close();
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);
}

// Closed while a large picture decodes, and with the advance's timer pending: the late result and
// the timer find nothing (run under the sanitizer build).
TEST_F(LightTableFixture, ClosingDuringALoadAndWithATimerPending)
{
    QImage large(4000, 3000, QImage::Format_RGB32);
    large.fill(Qt::darkGreen);
    const QString path = dir.filePath("large.jpg");
    ASSERT_TRUE(large.save(path, "JPEG"));
    MediaList items = list;
    add(path, "6");
    items.append(list.last());
    open(items);
    // A newer selection wins over a slower older one, whichever ends last.
    QSignalSpy loaded(table, &OVNLightTable::itemLoaded);
    table->roll()->selectRow(int(items.size()) - 1);
    table->ovnMediaViewSelectionDidChange(table->roll());
    select({0});
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded.last().at(0).toInt(), 0);
    EXPECT_EQ(table->imageView(0)->image().size(), QSize(80, 40));

    table->roll()->deselectAll();
    table->roll()->selectRow(int(items.size()) - 1);
    table->ovnMediaViewSelectionDidChange(table->roll());
    EXPECT_TRUE(table->isLoading());
    table->close();
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(table.isNull());

    open(items);
    select({0});
    table->toggleAdvance();
    waitForLoad(table);
    ASSERT_TRUE(table->isAdvanceTimerActive());
    table->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(table.isNull());
}

// A movie plays looping with its play bar and its shape kept; a sound file loops in the same pane
// with neither (made by ffmpeg; skipped without it).
TEST_F(LightTableFixture, MoviesLoopWithTheirBarAndSoundWithout)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "no ffmpeg to make a movie and a sound file";
    const QString movie = dir.filePath("movie.mp4");
    const QString sound = dir.filePath("sound.wav");
    for (const QStringList &args :
         {QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-t", "2", "-pix_fmt", "yuv420p", movie},
          QStringList{"-f", "lavfi", "-i", "sine=frequency=440", "-t", "2", sound}}) {
        QProcess process;
        process.start(ffmpeg, QStringList{"-loglevel", "error", "-y"} + args);
        ASSERT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0) << qPrintable(args.last());
    }
    MediaList items;
    add(movie, "1");
    items.append(list.last());
    add(sound, "1");
    items.append(list.last());
    open(items);
    QSignalSpy failed(table, &OVNLightTable::itemFailed);
    struct Case {
        int row;
        bool bar;
    };
    for (const Case c : {Case{0, true}, Case{1, false}}) {
        select({c.row});
        ASSERT_TRUE(failed.isEmpty()) << failed.last().at(2).toString().toStdString();
        ASSERT_TRUE(table->paneShowsMovie(0));
        OVNMovieView *view = table->movieView(0);
        ASSERT_TRUE(view->movie()) << c.row;
        EXPECT_TRUE(view->movie()->isLooping());
        EXPECT_NE(view->movie()->rate(), 0.0);
        EXPECT_EQ(view->showsController(), c.bar) << c.row;
        EXPECT_EQ(view->preservesAspectRatio(), c.bar) << c.row;
    }
}

// A Photoshop file, whose row in the file-type table names the movie viewer, is a still: the light
// table shows it as a picture, never through the movie player (which has no reader for it).
TEST_F(LightTableFixture, APhotoshopFileShowsAsAPicture)
{
    // 60 × 30, three channels of 8 bits, raw: red.
    QByteArray psd("8BPS\x00\x01", 6);
    psd.append(QByteArray(6, '\0'));
    psd.append(QByteArray("\x00\x03\x00\x00\x00\x1e\x00\x00\x00\x3c\x00\x08\x00\x03", 14));
    psd.append(QByteArray(12, '\0')); // colour mode data, resources, layers: none
    psd.append(QByteArray("\x00\x00", 2));
    psd.append(QByteArray(60 * 30, char(220))).append(QByteArray(60 * 30 * 2, char(20)));
    QFile file(dir.filePath(QStringLiteral("layered.psd")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(psd);
    file.close();
    add(file.fileName(), "1"); // row 7
    open(list);
    select({7});
    EXPECT_FALSE(table->paneShowsMovie(0));
    const QImage shown = table->imageView(0)->image();
    ASSERT_EQ(shown.size(), QSize(60, 30));
    EXPECT_GT(qRed(shown.pixel(30, 15)), 200);
    EXPECT_TRUE(table->statusStrip()->status().isEmpty()) << table->statusStrip()->status().toStdString();
}
