#include "app/OVNOutputHandOff.h"
#include "../support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QObject>
#include <QTemporaryDir>

namespace {
MediaRecordRef recordFor(const QString &path)
{
    auto record = std::make_shared<MediaRecord>();
    record->setField(MediaRecord::AbsolutePath, path);
    return record;
}
} // namespace

// The records go on in order with the title given; one missing file refuses the whole hand-off.
TEST(OutputHandOff, TakesExistingFilesInOrderAndRefusesAMissingOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
    for (const QString &path : {a, b}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const std::optional<OVNOutputHandOff> handOff =
        OVNOutputHandOff::gather({recordFor(b), nullptr, recordFor(a)}, "Shown");
    ASSERT_TRUE(handOff);
    ASSERT_EQ(handOff->records.size(), 2);
    EXPECT_EQ(handOff->records[0].field(MediaRecord::AbsolutePath), b);
    EXPECT_EQ(handOff->records[1].field(MediaRecord::AbsolutePath), a);
    EXPECT_EQ(handOff->pageTitle, "Shown");
    EXPECT_TRUE(OVNOutputHandOff::gather({}, QString()).has_value());
    EXPECT_FALSE(OVNOutputHandOff::gather({recordFor(a), recordFor(dir.filePath("gone.jpg"))}, "Shown"));
    EXPECT_FALSE(OVNOutputHandOff::gather({recordFor(QString())}, QString()));
}

// The question asked when output starts: the window's rule while its window is there; once it is
// closed, nothing on a catalog with users (said in one alert), everything on one without.
TEST(OutputHandOff, TheQuestionAtOutputOutlivesItsWindowOnlyWithoutUsers)
{
    ScriptedAlertPresenter *presenter = ScriptedAlertPresenter::install();
    const struct {
        const char *name;
        bool windowOpen;
        bool withUsers;
        int kept; // -1: nothing goes
        int alerts;
    } cases[] = {
        {"window open, with users", true, true, 1, 0},
        {"window open, without users", true, false, 1, 0},
        {"window closed, with users", false, true, -1, 1},
        {"window closed, without users", false, false, 2, 0},
    };
    MediaRecord first, second;
    first.setField(MediaRecord::Mid, "m1");
    second.setField(MediaRecord::Mid, "m2");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto window = std::make_unique<QObject>();
        int asked = 0;
        // The window's rule keeps the first record only.
        const OVNOutputCheck check(OVNOutputHandOff::checkAtOutput(
            window.get(),
            [&](const MediaList &records) {
                ++asked;
                return std::optional<MediaList>(records.mid(0, 1));
            },
            c.withUsers));
        if (!c.windowOpen)
            window.reset();
        const qsizetype alerts = presenter->shown().size();
        const std::optional<QList<MediaRecord>> kept = check.now({first, second});
        EXPECT_EQ(kept ? int(kept->size()) : -1, c.kept);
        EXPECT_EQ(asked, c.windowOpen ? 1 : 0);
        EXPECT_EQ(presenter->shown().size(), alerts + c.alerts);
    }
    Alerts::setPresenter(nullptr);
}
