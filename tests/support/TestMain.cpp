#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

// Every test program runs inside a Qt application on the offscreen platform, with the settings
// and runtime folders in a throwaway place, so that no test reads or writes the user's own files.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/ovn-test-XXXXXX"));
    if (!scratch.isValid())
        return 2;
    QDir(scratch.path()).mkpath(QStringLiteral("config"));
    QDir(scratch.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(scratch.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", scratch.filePath(QStringLiteral("runtime")).toUtf8());

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
