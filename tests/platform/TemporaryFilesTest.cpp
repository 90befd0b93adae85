#include "platform/TemporaryFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <climits>
#include <set>

namespace {

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

TEST(TemporaryFiles, TheTemplateOnlyEverReceivesItsNumber)
{
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("Sunset %i.jpg", 42), "Sunset 42.jpg");
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("img%05d.jpg", 42), "img00042.jpg");
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("%s %n %x %i %i 100%%.jpg", 7), "%s %n %x 7 %i 100%.jpg");
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("../../etc/passwd %i", 1), "..-..-etc-passwd 1");
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("..", 1), "_..");
    EXPECT_EQ(TemporaryFiles::fileNameFromTemplate("trailing %", 1), "trailing %");

    const QString path = TemporaryFiles::tempfileWithTemplate("Holiday/2009 %i.jpg");
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QFileInfo(path).path(), QDir::cleanPath(QDir::tempPath()));
    EXPECT_FALSE(QFileInfo::exists(path));
    const QRegularExpressionMatch match =
        QRegularExpression("^Holiday-2009 (\\d+)\\.jpg$").match(QFileInfo(path).fileName());
    ASSERT_TRUE(match.hasMatch()) << qPrintable(path);
    EXPECT_LE(match.captured(1).toInt(), 100000);
}

TEST(TemporaryFiles, AFixedNameIsAnsweredOnlyWhileFree)
{
    const QString name = QStringLiteral("ovn-fixed-%1.tmp").arg(QCoreApplication::applicationPid());
    const QString expected = QDir::cleanPath(QDir::tempPath() + "/" + name);
    EXPECT_EQ(TemporaryFiles::tempfileWithTemplate(name), expected);
    ASSERT_TRUE(touch(expected));
    EXPECT_TRUE(TemporaryFiles::tempfileWithTemplate(name).isNull());
    QFile::remove(expected);
    // A dangling link counts as taken.
    ASSERT_TRUE(QFile::link("/nonexistent/target", expected));
    EXPECT_TRUE(TemporaryFiles::tempfileWithTemplate(name).isNull());
    QFile::remove(expected);
}

TEST(RandomIntBetween, BoundsAreIncludedInEitherOrder)
{
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(RandomIntBetween(5, 5), 5);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int value = RandomIntBetween(3, -2);
        ASSERT_GE(value, -2);
        ASSERT_LE(value, 3);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 6u);
    for (int i = 0; i < 100; ++i) {
        const int wide = RandomIntBetween(INT_MIN, INT_MAX);
        (void)wide; // no overflow, whatever comes
        const int top = RandomIntBetween(INT_MAX - 1, INT_MAX);
        EXPECT_GE(top, INT_MAX - 1);
    }
    // The template numbers spread over the whole range.
    int high = 0;
    for (int i = 0; i < 2000; ++i)
        high = qMax(high, RandomIntBetween(0, 100000));
    EXPECT_GT(high, 90000);
}
