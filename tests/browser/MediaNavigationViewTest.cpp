#include "browser/OVNMediaNavigationView.h"

#include <gtest/gtest.h>

#include <QTest>

TEST(MediaNavigationViewTest, KnobAndClicksStayOnTheMovie)
{
    const QSize strip(200, 14); // a half height of 7 at each end: a travel of 186
    const MovieTime minute{36000, 600};
    struct Knob {
        MovieTime time;
        MovieTime duration;
        double x;
    };
    const Knob knobs[] = {
        {{0, 600}, minute, 0},
        {{18000, 600}, minute, 93},
        {{30, 1}, minute, 93},       // another time scale, through seconds
        {{40000, 600}, minute, 186}, // past the end: kept on the travel
        {{-60, 600}, minute, 0},
        {{150, 600}, {300, 600}, 93}, // a sub-second movie, by its exact length
        {{0, 600}, {0, 600}, 0},      // no length at all
        {{qint64(1) << 40, 600}, {qint64(1) << 41, 600}, 93},
    };
    for (const Knob &k : knobs)
        EXPECT_DOUBLE_EQ(OVNMediaNavigationView::knobX(k.time, k.duration, strip), k.x) << k.time.timeValue;

    struct Click {
        double x;
        MovieTime duration;
        qint64 value;
    };
    const qint64 big = qint64(1) << 41; // 3,665,038,759 whole seconds at 600
    const Click clicks[] = {
        {7, minute, 0},                          // the travel's start
        {100, minute, 30 * 600},                 // its middle
        {7 + 186 * 30.5 / 60, minute, 30 * 600}, // between two seconds: the earlier
        {0, minute, 0},                          // left of the travel
        {500, minute, 60 * 600},                 // right of it: kept on the movie
        {150, {300, 600}, 0},                    // a sub-second movie
        {100, {big, 600}, qint64(1832519379) * 600},
    };
    for (const Click &c : clicks) {
        const auto t = OVNMediaNavigationView::seekTime(c.x, c.duration, strip);
        ASSERT_TRUE(t) << c.x;
        EXPECT_EQ(t->timeValue, c.value) << c.x;
        EXPECT_EQ(t->timeScale, c.duration.timeScale);
    }
    EXPECT_FALSE(OVNMediaNavigationView::seekTime(5, minute, QSize(14, 14))) << "a strip without travel seeks";
    OVNMediaNavigationView empty;
    empty.resize(strip);
    QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(100, 7)); // no movie: nothing happens
}
