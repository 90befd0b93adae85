#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

TEST(SystemInfoTest, MachinePartIsAHashNeverTheRawId)
{
    const QByteArray id = "0123456789abcdef0123456789abcdef";
    const QString part = SystemInfo::recordIdMachinePartFor(id);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^M[0-9A-F]{12}$")).match(part).hasMatch()) << qPrintable(part);
    EXPECT_FALSE(part.contains(QStringLiteral("0123456789AB")));
    // A trailing newline, as the file has it, does not change the part.
    EXPECT_EQ(SystemInfo::recordIdMachinePartFor(id + "\n"), part);
    EXPECT_NE(SystemInfo::recordIdMachinePartFor("another machine"), part);
    // SHA-256("abc") begins ba7816bf8f01.
    EXPECT_EQ(SystemInfo::recordIdMachinePartFor("abc"), QStringLiteral("MBA7816BF8F01"));
}

TEST(SystemInfoTest, ThisMachineAndAccount)
{
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^M[0-9A-F]{12}$")).match(SystemInfo::recordIdMachinePart()).hasMatch());
    // One part for the whole process; a fresh one differs from it.
    EXPECT_EQ(SystemInfo::recordIdMachinePart(), SystemInfo::recordIdMachinePart());
    EXPECT_NE(SystemInfo::newRecordIdMachinePart(), SystemInfo::recordIdMachinePart());
    EXPECT_FALSE(SystemInfo::accountName().isEmpty());
    EXPECT_FALSE(SystemInfo::fullName().isEmpty());
    EXPECT_FALSE(SystemInfo::hostName().isEmpty());
}
