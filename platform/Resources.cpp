#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr int levelsAbove = 3;
}

QStringList Resources::candidateFolders(const QString &applicationDir)
{
    QStringList folders;
    if (applicationDir.isEmpty())
        return folders;
    // Climbed by name, so that folders which do not exist still give their candidates.
    QString dir = QDir::cleanPath(QDir(applicationDir).absolutePath());
    for (int level = 0; level <= levelsAbove; ++level) {
        folders << QDir::cleanPath(dir + QStringLiteral("/resources"));
        folders << QDir::cleanPath(dir + QStringLiteral("/share/ostrevan/resources"));
        const QString parent = QDir::cleanPath(dir + QStringLiteral("/.."));
        if (parent == dir)
            break;
        dir = parent;
    }
    return folders;
}

QString Resources::locate(const QString &environmentValue, const QString &applicationDir)
{
    if (!environmentValue.isEmpty())
        return QFileInfo(environmentValue).isDir() ? QDir(environmentValue).absolutePath() : QString();
    for (const QString &folder : candidateFolders(applicationDir)) {
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QString();
}

QString Resources::resourcesPath()
{
    // Not cached: tests change the environment between cases, and the look-up is a few stat calls.
    const QString applicationDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return locate(qEnvironmentVariable(environmentVariable), applicationDir);
}

QString Resources::pathFor(const QString &relativePath)
{
    const QString root = resourcesPath();
    if (root.isEmpty())
        return QString();
    return QDir(root).filePath(relativePath);
}
