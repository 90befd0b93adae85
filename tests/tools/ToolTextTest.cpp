// File names as the window lists them and as the tools print them: a byte that is not UTF-8 looks
// unlike anything a name's own text can say, a typed backslash included.
#include "ToolText.h"

#include "platform/FileAccess.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

TEST(ToolTextTest, BytesThatAreNotUtf8LookUnlikeAnyTypedName)
{
    struct Case {
        const char *name;
        QByteArray bytes; // the name as the file system holds it
        QString window;   // as the window lists it
        QString tools;    // as the tools print it
    };
    const Case cases[] = {
        {"a Latin-1 byte", "caf\xe9.jpg", "caf\\xE9.jpg", "caf\\xE9.jpg"},
        {"the same typed", "caf\\xE9.jpg", "caf\\\\xE9.jpg", "caf\\\\xE9.jpg"},
        {"UTF-8", "caf\xc3\xa9.jpg", QStringLiteral("caf\u00e9.jpg"), QStringLiteral("caf\u00e9.jpg")},
        {"a replacement character typed",
         "caf\xef\xbf\xbd"
         "E9.jpg",
         QStringLiteral("caf\ufffdE9.jpg"), QStringLiteral("caf\ufffdE9.jpg")},
        {"a sequence cut short", "caf\xc3.jpg", "caf\\xC3.jpg", "caf\\xC3.jpg"},
        {"an overlong slash",
         "a\xc0\xaf"
         "b",
         "a\\xC0\\xAFb", "a\\xC0\\xAFb"},
        {"a surrogate written as UTF-8", "x\xed\xb3\xa9", "x\\xED\\xB3\\xA9", "x\\xED\\xB3\\xA9"},
        {"a character beyond U+FFFF", "\xf0\x9f\x93\xb7.jpg", QStringLiteral("\U0001F4F7.jpg"),
         QStringLiteral("\U0001F4F7.jpg")},
        {"an escape character",
         "a\x1b"
         "b",
         QStringLiteral("a\x1b"
                        "b"),
         "a\\x1bb"},
    };
    QSet<QString> windowLooks;
    QSet<QString> toolLooks;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = FileAccess::textOfName(c.bytes);
        EXPECT_EQ(FileAccess::shownName(text), c.window);
        EXPECT_EQ(ToolText::printable(text), c.tools);
        EXPECT_FALSE(windowLooks.contains(c.window));
        EXPECT_FALSE(toolLooks.contains(c.tools));
        windowLooks.insert(c.window);
        toolLooks.insert(c.tools);
        // Valid UTF-8 is the name itself.
        if (QString::fromUtf8(c.bytes).toUtf8() == c.bytes) {
            EXPECT_EQ(text, QString::fromUtf8(c.bytes));
        }
    }
}

} // namespace
