#pragma once

#include <QString>
#include <QStringList>

// The application's resources folder (icon sets, images, window layouts, presets, templates).
//
// Looked for, in this order:
// 1. $OVN_RESOURCES_DIR, when set (tests point it at a folder of their own);
// 2. beside the program: "<dir>/resources" or "<dir>/share/ostrevan/resources", for the program's
//    folder and up to three folders above it. That finds the build tree (build/resources beside
//    build/app, build/tools, build/tests/uikit) and the installed tree (bin/ -> share/ostrevan/).
class Resources
{
public:
    static constexpr const char *environmentVariable = "OVN_RESOURCES_DIR";

    // The resources folder, or an empty string when none was found.
    static QString resourcesPath();
    // A path inside the resources folder; empty when there is no resources folder.
    static QString pathFor(const QString &relativePath);

    // The folders searched for a program in `applicationDir`, nearest first.
    static QStringList candidateFolders(const QString &applicationDir);
    // The first candidate that exists as a folder, given the environment value and program folder.
    static QString locate(const QString &environmentValue, const QString &applicationDir);
};
