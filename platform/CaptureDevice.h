#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One file on a camera or memory card: its folder on the device, its name and size in bytes.
struct CaptureFile {
    QString folder;
    QString name;
    qint64 size = -1;
};

// A camera (through libgphoto2) or a mounted memory card with a "DCIM" folder. Every call blocks;
// callers keep them off the GUI thread. One object serves one thread at a time.
class CaptureDevice
{
public:
    virtual ~CaptureDevice() = default;
    // Stable for as long as the device stays attached: "disk:DIR", "usb:001,005", "card:/media/u/X".
    virtual QString id() const = 0;
    virtual QString name() const = 0;
    virtual QImage icon() const { return {}; }
    // Opens the session; false with the reason when the device cannot be used (for example a
    // camera that another program, such as the file manager's gvfs mount, holds).
    virtual bool open(QString *error) = 0;
    // Every file below "/", sorted by folder and then by name, so that a position in this list
    // names the same file each time it is asked for.
    virtual QList<CaptureFile> files(QString *error) = 0;
    // Writes the file's bytes into the open descriptor `fd`; false with the reason on failure.
    virtual bool download(const CaptureFile &file, int fd, QString *error) = 0;
    virtual void close() = 0;
    // Closes and ejects (cards: `gio mount -e`); false with the reason when it did not happen.
    virtual bool eject(QString *error) = 0;
};

// Finding the attached devices.
class CaptureDevices
{
public:
    // The folders whose subfolders are mounted volumes: $OVN_VOLUME_ROOTS (":"-separated) when set,
    // else /media/USER, /run/media/USER and /media.
    static QStringList volumeRoots();
    // A card for every volume under the roots that has a "DCIM" folder (gvfs mounts are not volumes
    // here), a directory-browse camera for every folder of $OVN_CAPTURE_DISK, then the cameras
    // libgphoto2's autodetection finds. Sorted by nothing but this order.
    static std::vector<std::unique_ptr<CaptureDevice>> attached();
    // The id and name of each attached device, without opening any (cheap enough to poll).
    struct Entry {
        QString id;
        QString name;
    };
    static QList<Entry> attachedEntries();
    // The device of that id, or null when it is gone.
    static std::unique_ptr<CaptureDevice> open(const QString &id);
    // A directory-browse camera over `folder` (libgphoto2's "Directory Browse" on port "disk:").
    static std::unique_ptr<CaptureDevice> directoryBrowseCamera(const QString &folder);
    static std::unique_ptr<CaptureDevice> card(const QString &volume);
};
