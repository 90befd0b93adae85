#include "ToolAlerts.h"

#include <gtest/gtest.h>

// An alert as a tool says it on one line: its title and its reason, one punctuation mark between
// them, whether or not the title ends a sentence.
TEST(ToolAlertsTest, AnAlertIsSaidOnOneLineWithOnePunctuationMark)
{
    const struct {
        const char *message;
        const char *informative;
        const char *line;
    } cases[] = {
        {"The category could not be created.", "attempt to write a readonly database",
         "The category could not be created. attempt to write a readonly database"},
        {"Authorization Failed", "You may not change it.", "Authorization Failed: You may not change it."},
        {"Really?", "It goes for good.", "Really? It goes for good."},
        {"Refused:", "the reason", "Refused: the reason"},
        {"Done.", "", "Done."},
        {"Two\nlines.  ", "and\na reason", "Two lines. and a reason"},
    };
    for (const auto &c : cases) {
        Alert alert;
        alert.message = QString::fromUtf8(c.message);
        alert.informativeText = QString::fromUtf8(c.informative);
        EXPECT_EQ(ToolAlerts::oneLine(alert), QString::fromUtf8(c.line)) << c.message;
    }
    QString last;
    ToolAlerts::LastAlert presenter(&last);
    Alert alert;
    alert.message = QStringLiteral("The category could not be created.");
    alert.informativeText = QStringLiteral("disk full");
    presenter.run(alert);
    EXPECT_EQ(last, QStringLiteral("The category could not be created. disk full"));
}
