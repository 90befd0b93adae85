#include "platform/Resources.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

TEST(ResourcesTest, EnvironmentVariableWinsAndMustNameAFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(Resources::locate(dir.path(), QStringLiteral("/nonexistent/bin")), QDir(dir.path()).absolutePath());
    EXPECT_TRUE(Resources::locate(dir.filePath(QStringLiteral("missing")), QString()).isEmpty());
}

TEST(ResourcesTest, FoundBesideTheProgramInBuildAndInstalledTrees)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir root(dir.path());
    // Build tree: build/resources beside build/tests/uikit.
    root.mkpath(QStringLiteral("build/resources"));
    root.mkpath(QStringLiteral("build/tests/uikit"));
    EXPECT_EQ(Resources::locate(QString(), root.filePath(QStringLiteral("build/tests/uikit"))),
              root.filePath(QStringLiteral("build/resources")));
    // Installed tree: prefix/bin and prefix/share/ostrevan/resources.
    root.mkpath(QStringLiteral("prefix/bin"));
    root.mkpath(QStringLiteral("prefix/share/ostrevan/resources"));
    EXPECT_EQ(Resources::locate(QString(), root.filePath(QStringLiteral("prefix/bin"))),
              root.filePath(QStringLiteral("prefix/share/ostrevan/resources")));
    // Nothing nearby.
    root.mkpath(QStringLiteral("elsewhere/a/b/c/d/e"));
    EXPECT_TRUE(Resources::locate(QString(), root.filePath(QStringLiteral("elsewhere/a/b/c/d/e"))).isEmpty());
}

TEST(ResourcesTest, NearestCandidateFirst)
{
    const QStringList candidates = Resources::candidateFolders(QStringLiteral("/opt/ovn/bin"));
    ASSERT_GE(candidates.size(), 4);
    EXPECT_EQ(candidates.at(0), QStringLiteral("/opt/ovn/bin/resources"));
    EXPECT_EQ(candidates.at(3), QStringLiteral("/opt/ovn/share/ostrevan/resources"));
}
