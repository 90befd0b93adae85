#include "platform/MimeAppsList.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {
const QString kAdded = QStringLiteral("Added Associations");
const QString kDefault = QStringLiteral("Default Applications");
const QString kType = QStringLiteral("x-content/image-dcf");
} // namespace

// Every byte outside the one line stays: comments, other groups, CRLF, no final newline, long lines.
TEST(MimeAppsList, EditsTouchOnlyTheirLine)
{
    const QByteArray longLine = "image/x-long=" + QByteArray(64 * 1024, 'a') + ".desktop;";
    const struct {
        const char *what;
        QByteArray before;
        bool addOurs; // else set the default to `value`
        const char *value;
        QByteArray after;
    } cases[] = {
        {"empty file", "", true, "", "[Added Associations]\nx-content/image-dcf=ostrevan.desktop;\n"},
        {"put first", "# mine\n[Added Associations]\nx-content/image-dcf=other.desktop;\n[Other]\nk=v", true, "",
         "# mine\n[Added Associations]\nx-content/image-dcf=ostrevan.desktop;other.desktop;\n[Other]\nk=v"},
        {"already there", "[Added Associations]\nx-content/image-dcf=a.desktop;ostrevan.desktop;\n", true, "",
         "[Added Associations]\nx-content/image-dcf=a.desktop;ostrevan.desktop;\n"},
        {"group without final newline", "[Added Associations]\n" + longLine, true, "",
         "[Added Associations]\n" + longLine + "\nx-content/image-dcf=ostrevan.desktop;"},
        {"before a blank line and the next group", "[Added Associations]\na=b\n\n[Default Applications]\nc=d\n", true,
         "", "[Added Associations]\na=b\nx-content/image-dcf=ostrevan.desktop;\n\n[Default Applications]\nc=d\n"},
        {"CRLF file, new group", "# x\r\n[Other]\r\nk=v", true, "",
         "# x\r\n[Other]\r\nk=v\r\n[Added Associations]\r\nx-content/image-dcf=ostrevan.desktop;\r\n"},
        {"default set", "[Default Applications]\nimage/png=v.desktop\nx-content/image-dcf=old.desktop\n#c\n", false,
         "new.desktop;", "[Default Applications]\nimage/png=v.desktop\nx-content/image-dcf=new.desktop;\n#c\n"},
        {"default removed", "[Default Applications]\nx-content/image-dcf=old.desktop\nimage/png=v.desktop", false, "",
         "[Default Applications]\nimage/png=v.desktop"},
        {"nothing to remove", "# only a comment", false, "", "# only a comment"},
    };
    for (const auto &c : cases) {
        const QByteArray after = c.addOurs ? MimeAppsList::withItemFirst(c.before, kAdded, kType, "ostrevan.desktop")
                                           : MimeAppsList::withValue(c.before, kDefault, kType, c.value);
        EXPECT_EQ(after, c.after) << c.what;
    }
    EXPECT_EQ(
        MimeAppsList::values("[Added Associations]\n x-content/image-dcf = a.desktop; b.desktop ;\n", kAdded, kType),
        QStringList({"a.desktop", "b.desktop"}));
}

TEST(MimeAppsList, WritesKeepTheModeAndUnreadableFilesAreLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mimeapps.list");
    QByteArray text;
    EXPECT_TRUE(MimeAppsList::read(path, &text)); // missing: empty
    EXPECT_TRUE(text.isEmpty());
    ASSERT_TRUE(MimeAppsList::write(path, "[A]\nk=v\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(MimeAppsList::write(path, "[A]\nk=w\n"));
    EXPECT_EQ(QFile::permissions(path) & 0x0fff,
              QFile::ReadUser | QFile::WriteUser); // no group or other bits came back
    ASSERT_TRUE(MimeAppsList::read(path, &text));
    EXPECT_EQ(text, "[A]\nk=w\n");
    if (geteuid() != 0) {
        QFile::setPermissions(path, QFile::WriteOwner);
        EXPECT_FALSE(MimeAppsList::read(path, &text));
    }
}
