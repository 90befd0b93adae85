#include "tests/support/TestEnvironment.h"
#include "viewers/OVNSlideShow.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNSlideShowView.h"

#include "support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

namespace {

bool waitUntil(const std::function<bool()> &done, int ms = waitCeilingMs)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the show's own end
        QThread::msleep(2);
    }
    return true;
}

QString testdata()
{
    const QString env = qEnvironmentVariable("OVN_TESTDATA");
    for (const QString &dir : {env, QStringLiteral("../shared/testdata"), QStringLiteral("/work/wt/shared/testdata")})
        if (!dir.isEmpty() && QDir(dir).exists())
            return dir;
    return {};
}

// What a show did, in order: "3" for slide 3 shown, "-2" for slide 2 skipped, "end".
struct Journal {
    QStringList events;
    QString statusAtShow;
    // Whether the screen showed anything but a picture when a slide was skipped.
    bool blankOnSkip = false;
    bool shownAny = false;
    void attach(OVNSlideShow *show)
    {
        QObject::connect(show, &OVNSlideShow::slideShown, show, [this, show](int i, const QString &) {
            events << QString::number(i + 1);
            shownAny = true;
            statusAtShow = show->view()->status();
        });
        QObject::connect(show, &OVNSlideShow::slideSkipped, show, [this, show](int i, const QString &) {
            events << QString::number(-(i + 1));
            // The slide shown before stays until the next one comes.
            blankOnSkip = blankOnSkip || (show->view() && show->view()->image().isNull() && shownAny);
        });
        QObject::connect(show, &OVNSlideShow::ended, show, [this] { events << QStringLiteral("end"); });
    }
};

} // namespace

TEST(SlideShowTest, SlideSizeIsCappedAtTwoAndAHalf)
{
    struct Case {
        QSizeF image;
        QRectF expected;
    };
    const Case cases[] = {
        {{960, 540}, {0, 0, 1920, 1080}},        // half the screen: twice as large
        {{192, 108}, {720, 405, 480, 270}},      // a tenth: 2.5 times, not 10
        {{6000, 4000}, {150, 0, 1620, 1080}},    // larger: fitted
        {{1080, 1920}, {656.25, 0, 607.5, 1080}} // upright
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNSlideShowView::slideRect(c.image, {1920, 1080}), c.expected) << c.image.width();
}

TEST(SlideShowTest, StepsKeysAndSkips)
{
    QTemporaryDir dir;
    QStringList good;
    for (int i = 0; i < 3; ++i) {
        good << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QImage image(40 + i, 30, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(good.last()));
    }
    const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
    QFile junk(bad);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(2048, 'x')) > 0);
    junk.close();

    enum Action { Step, Left, Right, Home, Other, Click, Close };
    struct Case {
        const char *name;
        QStringList files;
        QList<Action> actions;
        QStringList expected;
        QString lastStatus;
        int alerts = 0;
    };
    const Case cases[] = {
        {"three slides then the end", good, {Step, Step, Step}, {"1", "2", "3", "end"}, "[3 of 3]"},
        // A slide that cannot be read is passed over at once, without a word; a show with nothing
        // it could show says so at its end.
        {"an unreadable second slide", {good[0], bad, good[2]}, {Step, Step}, {"1", "-2", "3", "end"}, "[3 of 3]"},
        {"an unreadable first and last slide", {bad, good[1], bad}, {Step}, {"-1", "2", "-3", "end"}, "[2 of 3]"},
        {"nothing readable", {bad, bad}, {Step, Step}, {"-1", "-2", "end"}, "", 1},
        {"right on the last slide ends", good, {Step, Step, Right}, {"1", "2", "3", "end"}, "[3 of 3]"},
        {"left on the second shows the first", good, {Step, Left}, {"1", "2", "1"}, "[1 of 3]"},
        {"left on the first shows it again", good, {Left}, {"1", "1"}, "[1 of 3]"},
        {"home starts again", good, {Step, Step, Home}, {"1", "2", "3", "1"}, "[1 of 3]"},
        {"other keys do nothing", good, {Other}, {"1"}, "[1 of 3]"},
        {"a click ends it", good, {Click}, {"1", "end"}, "[1 of 3]"},
        {"closing its window ends it", good, {Close}, {"1", "end"}, "[1 of 3]"},
    };
    for (const Case &c : cases) {
        ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
        QPointer<OVNSlideShow> show = new OVNSlideShow;
        show->setFiles(c.files);
        show->setInterval(3600 * 1000); // steps come from the test
        Journal journal;
        journal.attach(show);
        show->startSlideShow();
        auto settle = [&](qsizetype count) { return waitUntil([&] { return journal.events.size() >= count; }); };
        // Each action waits for what it shows (loads run on workers): the skips before a slide
        // and the slide, or the end.
        qsizetype expectedSoFar = 0;
        auto advance = [&] {
            while (expectedSoFar < c.expected.size() && c.expected[expectedSoFar].startsWith('-'))
                ++expectedSoFar;
            expectedSoFar = std::min(expectedSoFar + 1, c.expected.size());
            settle(expectedSoFar);
        };
        advance();
        for (Action a : c.actions) {
            if (!show)
                break;
            if (a == Step) {
                show->slideShowTimer();
            } else if (a == Close) {
                show->window()->close();
            } else if (a == Click) {
                QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier);
                show->ovnFullScreenWindowMouseDown(&click);
            } else {
                const Qt::Key key = a == Left    ? Qt::Key_Left
                                    : a == Right ? Qt::Key_Right
                                    : a == Home  ? Qt::Key_Home
                                                 : Qt::Key_A;
                QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
                QApplication::sendEvent(show->window(), &event);
            }
            if (a != Other)
                advance();
        }
        EXPECT_EQ(journal.events, c.expected) << c.name;
        EXPECT_EQ(journal.statusAtShow, c.lastStatus) << c.name;
        EXPECT_FALSE(journal.blankOnSkip) << c.name << ": a skipped slide blanked the screen";
        EXPECT_EQ(alerts->shown().size(), c.alerts) << c.name;
        const bool ended = c.expected.last() == QLatin1String("end");
        if (ended)
            EXPECT_TRUE(waitUntil([&] { return show.isNull(); })) << c.name << ": the show outlives its end";
        else
            delete show;
    }
}

// The next slide is read once the one on show is painted, so that a step only swaps pictures.
TEST(SlideShowTest, StepShowsTheSlideReadAhead)
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 2; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Qt::green);
        ASSERT_TRUE(image.save(files.last()));
    }
    QPointer<OVNSlideShow> show = new OVNSlideShow;
    show->setFiles(files);
    show->setInterval(3600 * 1000);
    Journal journal;
    journal.attach(show);
    bool painted = false;
    show->startSlideShow();
    QObject::connect(show->view(), &OVNSlideShowView::slidePainted, show, [&] { painted = true; });
    ASSERT_TRUE(waitUntil([&] { return painted; }));
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents(); // the loader's answer
    show->slideShowTimer();
    EXPECT_EQ(journal.events, QStringList({"1", "2"}));
    delete show;
}

TEST(SlideShowTest, RunsToItsEndByItselfAndAnEmptyListAlerts)
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(files.last()));
    }
    const int captured = OVNFullScreenWindow::capturedDisplayCount();
    QPointer<OVNSlideShow> show = new OVNSlideShow;
    show->setFiles(files);
    show->setInterval(20);
    Journal journal;
    journal.attach(show);
    show->startSlideShow();
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured + 1);
    ASSERT_TRUE(waitUntil([&] { return show.isNull(); }));
    EXPECT_EQ(journal.events, QStringList({"1", "2", "3", "end"}));
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);

    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QPointer<OVNSlideShow> empty = new OVNSlideShow;
    empty->startSlideShow();
    ASSERT_TRUE(waitUntil([&] { return empty.isNull(); }));
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().first().message, QStringLiteral("Slideshow cannot start"));
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);
}

TEST(SlideShowTest, SlidesTurnByTheirOrientation)
{
    const QString data = testdata();
    if (data.isEmpty())
        GTEST_SKIP() << "no test data";
    const QString landscape6 = data + QStringLiteral("/exif-orientation-examples/Landscape_6.jpg");
    if (!QFile::exists(landscape6))
        GTEST_SKIP() << "no orientation examples";
    struct Case {
        int orientation;
        bool wide;
    };
    const Case cases[] = {
        {OVNSlideShow::fileOrientation, true}, // the file's own 6: upright, landscape
        {6, true},                             // the catalog's code
        {1, false},                            // the catalog says upright as stored
    };
    for (const Case &c : cases) {
        const QImage image = OVNSlideShow::slideImage(landscape6, QStringLiteral("Image"), c.orientation, {400, 300});
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width() > image.height(), c.wide) << c.orientation;
        EXPECT_LE(image.width(), 400);
        EXPECT_LE(image.height(), 300);
    }
}
