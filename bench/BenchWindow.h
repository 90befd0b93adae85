// The catalog window as the timed programs in bench/ open it: offscreen, with its own settings
// folder, startup defaults registered and a 1280 x 800 frame.
#pragma once

#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "platform/UserDefaults.h"

#include <QPointer>
#include <QTemporaryDir>

#include <memory>

namespace BenchWindow {

// Before the QApplication: the offscreen platform unless one is set, and settings kept in `scratch`.
inline void prepareEnvironment(const QTemporaryDir &scratch)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
}

// A catalog window on `connection`, made and sized but not yet shown; the caller deletes it.
inline QPointer<OVNAssetManager> openWindow(const std::shared_ptr<OVNDatabaseAccess> &connection)
{
    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();
    window->resize(1280, 800);
    return window;
}

} // namespace BenchWindow
