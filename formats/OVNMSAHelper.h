#pragma once

#include "formats/MountRunner.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QObject;

// The media-server access settings, as the preferences window writes them.
struct MSASettings {
    QString protocol;   // "MSAProtocol": "AFP" or "SMB" (also when missing)
    QString server;     // "MSAServer"
    QString user;       // "MSAUser"
    QString password;   // "MSAPassword"
    QString volume;     // "MSAVolume": the share's name
    QString importPath; // "MSAImportpath": the folder inside the volume that receives imports

    static MSASettings fromDefaults();
};

// The media server: a network share that holds catalogued files. Tells whether it is mounted,
// where imports go on it, and mounts it. SMB shares are mounted through gvfs ("gio mount"), the
// password typed in at the command's prompt; AFP has no client on Linux.
class OVNMSAHelper
{
public:
    // Uses the process-wide runner unless given one.
    explicit OVNMSAHelper(std::shared_ptr<MountRunner> runner = nullptr);

    // YES when "MSAAutomount" read as an integer is exactly 1.
    static bool isAutomountEnabled();
    // YES when the "MSAVolume" share is among the mounted volumes.
    static bool isVolumeOnline();
    // The import folder on the media server: the volume's mount folder ("/Volumes/VOLUME" while
    // it is not mounted) with "MSAImportpath" appended.
    static QString msaPath();
    // Where a stored path lies on this machine: "/Volumes/NAME/..." in the folder the share NAME
    // is mounted on (gvfs mounts SMB shares under $XDG_RUNTIME_DIR/gvfs/smb-share:server=...,
    // share=NAME), on the media server's own server when NAME is its volume. Any other path, or one
    // whose volume is not mounted, is given back as it is.
    static QString localPath(const QString &storedPath);
    static QString localPathFor(const QString &storedPath, const QStringList &mountedPaths,
                                const MSASettings &settings);

    // Alerts go to this window as sheets; without one they are application-modal.
    void setWindow(QObject *window);
    // YES suppresses every alert.
    void setSilentMode(bool silent);
    // Mounts the media server. YES when it is mounted afterwards (also when it already was).
    // Blocks the calling thread while the mount command runs. In silent mode (the checks for
    // missing files) a mount that failed is not tried again with the same settings for a minute:
    // every such check would otherwise wait for the server again.
    bool automount();
    static constexpr qint64 kFailedMountPauseMs = 60'000;

    // The runner every helper made without one uses; the program's is a GioMountRunner.
    static std::shared_ptr<MountRunner> defaultMountRunner();
    // Also forgets the mounts that failed.
    static void setDefaultMountRunner(std::shared_ptr<MountRunner> runner);
    // The monotonic clock in milliseconds that times the pause after a failed mount (tests);
    // nothing restores the steady clock.
    static void setClock(std::function<qint64()> monotonicMsecs);

    // The command that mounts an SMB share: gio mount smb://USER@SERVER/VOLUME, its parts
    // URL-encoded, the password as the command's secret. Nothing when the server or volume is
    // missing or the server is no valid host.
    static std::optional<MountCommand> mountCommandFor(const MSASettings &settings);
    // Among mounted folders, the one of the named share (gvfs mounts match the share name without
    // regard to case, and the server when one is given); empty when none.
    static QString findMountedVolume(const QStringList &mountedPaths, const QString &volume, const QString &server);

private:
    // Mounts while holding the process-wide mount lock; sets the alert text when there is one.
    bool mountLocked(QString *problem);
    void present(const QString &message, const QString &informativeText) const;

    std::shared_ptr<MountRunner> m_runner;
    QPointer<QObject> m_window;
    bool m_silent = false;
};
