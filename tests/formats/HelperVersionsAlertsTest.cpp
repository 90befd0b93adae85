#include "formats/OVNHelper.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <atomic>
#include <thread>

TEST(Versions, TheNumberingCallersCompare)
{
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "10.3.9", "darwin"), 0x1030);
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "10.4.11", "darwin"), 0x1040);
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "junk", "darwin"), -1);
    EXPECT_EQ(OVNHelper::systemVersionNumber("debian", "12", ""), -1);
    // Linux: never the 10.3 table, and every feature that needs 10.4 or later is on.
    const int linux = OVNHelper::systemVersionNumber("debian", "12", "linux");
    EXPECT_NE(linux, 0x1030);
    EXPECT_GT(linux, 0x103F);
    EXPECT_EQ(OVNHelper::systemMajorVersion(), linux);

    EXPECT_GT(OVNHelper::quicktimeVersionNumber(0x3A0000, 2), 0x06FFFFFF);
    EXPECT_LE(OVNHelper::quicktimeVersionNumber(0x3A0000, 0), 0x06FFFFFF);
    EXPECT_LE(OVNHelper::quicktimeVersionNumber(0, 2), 0x06FFFFFF);
    EXPECT_EQ(OVNHelper::quicktimeMajorVersion() & 0x00FFFFFF, 0);
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
        OVNHelper::displayAlert("Import failed", "The file could not be read.");
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
    std::thread([&] { OVNHelper::displayAlert("Title", "Message", &window); }).join();
    ASSERT_TRUE(processEventsUntil([&] { return recorder->count.load() == 2; }));
    EXPECT_EQ(recorder->last.modality, Alert::Modality::Window);
    EXPECT_EQ(recorder->last.window.data(), &window);
    Alerts::setPresenter(nullptr);
}
