#pragma once

// Where the program finds the helper programs of decoding/ (the dcraw launcher, the movie player):
// beside itself, where it is installed (lib/ostrevan), or where the build made them.

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

inline QString helperProgramPath(const char *name, const char *buildPath)
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        candidates << folder + QLatin1Char('/') + QLatin1String(name)
                   << folder + QStringLiteral("/../lib/ostrevan/") + QLatin1String(name);
    }
    if (buildPath)
        candidates << QString::fromLocal8Bit(buildPath);
    for (const QString &candidate : std::as_const(candidates))
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    return {};
}
