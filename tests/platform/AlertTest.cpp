#include "platform/Alert.h"
#include "platform/MainThread.h"
#include "platform/MessageBoxPresenter.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

TEST(AlertTest, ScriptedAnswersComeBackInOrderThenDefault)
{
    ScriptedAlertPresenter *presenter = ScriptedAlertPresenter::install();
    presenter->enqueueAnswers({2, 1});
    Alert alert;
    alert.message = QStringLiteral("Connection failed");
    alert.buttons = {QStringLiteral("Retry"), QStringLiteral("Preferences"), QStringLiteral("Quit")};
    EXPECT_EQ(Alerts::run(alert), 2);
    EXPECT_EQ(Alerts::run(alert), 1);
    EXPECT_EQ(Alerts::run(alert), 0);
    ASSERT_EQ(presenter->shown().size(), 3);
    EXPECT_EQ(presenter->shown().at(0).message, QStringLiteral("Connection failed"));
    Alerts::setPresenter(nullptr);
}

TEST(AlertTest, WorkerAlertsOpenOnTheMainThread)
{
    struct ThreadRecorder : AlertPresenter {
        std::atomic<QThread *> thread{nullptr};
        int run(const Alert &) override
        {
            thread = QThread::currentThread();
            return 1;
        }
    };
    auto owned = std::make_unique<ThreadRecorder>();
    ThreadRecorder *recorder = owned.get();
    Alerts::setPresenter(std::move(owned));

    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = Alerts::run(Alert{}); });
    ASSERT_TRUE(processEventsUntil([&] { return answer.load() != -1; }));
    worker.join();
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(recorder->thread.load(), QCoreApplication::instance()->thread());

    // show() from a worker returns at once; the answer arrives on the main thread.
    recorder->thread = nullptr;
    std::atomic<bool> done{false};
    QThread *doneThread = nullptr;
    std::thread([&] {
        Alerts::show(Alert{}, [&](int) {
            doneThread = QThread::currentThread();
            done = true;
        });
    }).join();
    ASSERT_TRUE(processEventsUntil([&] { return done.load(); }));
    EXPECT_EQ(doneThread, QCoreApplication::instance()->thread());
    Alerts::setPresenter(nullptr);
}

TEST(AlertTest, MessageBoxPresenterAnswersTheClickedButton)
{
    MessageBoxPresenter presenter;
    Alert alert;
    alert.message = QStringLiteral("Delete?");
    alert.buttons = {QStringLiteral("Cancel"), QStringLiteral("Delete")};
    // Click "Delete" once the box is up.
    QTimer::singleShot(0, [] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                for (QAbstractButton *button : box->buttons())
                    if (button->text() == QLatin1String("Delete"))
                        button->click();
            }
        }
    });
    EXPECT_EQ(presenter.run(alert), 1);
}

TEST(MainThreadTest, PostWithDestroyedContextIsDropped)
{
    int ran = 0;
    {
        QObject context;
        std::thread([&] { MainThread::post([&] { ++ran; }, &context); }).join();
    }
    std::thread([&] { MainThread::post([&] { ran += 10; }); }).join();
    ASSERT_TRUE(processEventsUntil([&] { return ran >= 10; }));
    EXPECT_EQ(ran, 10);
}

TEST(MainThreadTest, RunAndWaitRunsOnMainThreadBeforeReturning)
{
    QThread *where = nullptr;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        MainThread::runAndWait([&] { where = QThread::currentThread(); });
        returned = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(where, QCoreApplication::instance()->thread());
}

TEST(AlertTest, MessageBoxShowsNamesAsTheyAreNotAsMarkup)
{
    MessageBoxPresenter presenter;
    Alert alert;
    alert.message = QStringLiteral("Delete the preset \"My Sepia & <b>x</b>\"?");
    alert.informativeText = QStringLiteral("/tmp/<img src=\"/etc/x.png\">.jpg");
    QStringList shown;
    QTimer::singleShot(0, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            for (QLabel *label : box->findChildren<QLabel *>())
                if (label->textFormat() == Qt::PlainText)
                    shown << label->text();
            box->buttons().constFirst()->click();
        }
    });
    presenter.run(alert);
    EXPECT_TRUE(shown.contains(alert.message)) << shown.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(shown.contains(alert.informativeText)) << shown.join(QLatin1Char('|')).toStdString();
}

TEST(DisplayAlert, AlwaysOnTheGuiThread)
{
    struct Recorder : AlertPresenter {
        std::atomic<QThread *> thread{nullptr};
        Alert last;
        std::atomic<int> count{0};
        int run(const Alert &alert) override
        {
            thread = QThread::currentThread();
            last = alert;
            ++count;
            return 0;
        }
    };
    auto owned = std::make_unique<Recorder>();
    Recorder *recorder = owned.get();
    Alerts::setPresenter(std::move(owned));

    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Alerts::display("Import failed", "The file could not be read.");
        returned = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(recorder->thread.load(), QCoreApplication::instance()->thread());
    EXPECT_EQ(recorder->last.message, "Import failed");
    EXPECT_EQ(recorder->last.informativeText, "The file could not be read.");
    EXPECT_TRUE(recorder->last.buttons.isEmpty());
    EXPECT_EQ(recorder->last.modality, Alert::Modality::Application);

    // On a window: a sheet, the call does not wait for it.
    QObject window;
    std::thread([&] { Alerts::display("Title", "Message", &window); }).join();
    ASSERT_TRUE(processEventsUntil([&] { return recorder->count.load() == 2; }));
    EXPECT_EQ(recorder->last.modality, Alert::Modality::Window);
    EXPECT_EQ(recorder->last.window.data(), &window);
    Alerts::setPresenter(nullptr);
}

// However many entries an alert is about, it names the first few and counts the rest.
TEST(AlertTest, NamedListNamesTheFirstAndCountsTheOthers)
{
    const auto names = [](int count) {
        QStringList list;
        for (int i = 1; i <= count; ++i)
            list.append(QStringLiteral("IMG_%1.jpg").arg(i));
        return list;
    };
    const struct {
        int count;
        int shown;
        int lines;
        const char *last;
    } cases[] = {
        {0, 10, 1, ""},
        {1, 10, 1, "IMG_1.jpg"},
        {10, 10, 10, "IMG_10.jpg"},
        // One more than shown is named, not counted as "1 others".
        {11, 10, 11, "IMG_11.jpg"},
        {12, 10, 11, "and 2 others"},
        {6007, 10, 11, "and 5,997 others"},
        {5, 0, 2, "and 4 others"},
    };
    for (const auto &c : cases) {
        const QStringList lines = Alerts::namedList(names(c.count), c.shown).split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), c.lines) << c.count;
        EXPECT_EQ(lines.last(), QString::fromLatin1(c.last)) << c.count;
    }
}

// A text longer than the screen shows its beginning; the whole of it is in the details.
TEST(AlertTest, MessageBoxKeepsALongTextWithinItsLines)
{
    MessageBoxPresenter presenter;
    QStringList lines;
    for (int i = 0; i < 6014; ++i)
        lines.append(QStringLiteral("entry %1").arg(i));
    const struct {
        QString text;
        int shownLines;
        bool details;
    } cases[] = {{lines.mid(0, Alerts::mostInformativeLines).join('\n'), Alerts::mostInformativeLines, false},
                 {lines.join('\n'), Alerts::mostInformativeLines, true}};
    for (const auto &c : cases) {
        Alert alert;
        alert.message = QStringLiteral("Long");
        alert.informativeText = c.text;
        QString shown, details;
        QTimer::singleShot(0, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box == nullptr || !box->isVisible())
                    continue;
                shown = box->informativeText();
                details = box->detailedText();
                box->defaultButton()->click();
            }
        });
        presenter.run(alert);
        EXPECT_EQ(shown.count(QLatin1Char('\n')) + 1, c.shownLines);
        EXPECT_EQ(details == c.text, c.details);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("entry 0\nentry 1\n")));
    }
}
