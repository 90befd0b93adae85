#pragma once

#include "platform/DiscBurn.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// The burners the burn sheet watches, one drive at a time held ("grabbed") so that no other
// program takes its disc. The sheet calls it from one worker thread only; tests fake it.
class DiscDrives
{
public:
    enum class Tray { Unknown, Open, Closed };

    virtual ~DiscDrives() = default;

    // The burners' addresses (no drive may be held).
    virtual QStringList scan() = 0;
    // Whether the tray of a drive that is not held is open.
    virtual Tray tray(const QString &address) = 0;
    // Holds the drive at `address`, releasing any other held one.
    virtual bool grab(const QString &address) = 0;
    // What the held drive holds; Unknown when none is held.
    virtual DiscBurn::Media media() = 0;
    virtual void release() = 0;
    // Opens or closes the tray of a drive that is not held.
    virtual bool moveTray(const QString &address, bool open) = 0;
    virtual bool eject(const QString &address) = 0;
    // Burns to a drive that is not held (see DiscBurn::burn).
    virtual DiscBurn::Result burn(const QString &address, const QString &discName, const QStringList &files,
                                  qint64 mediumSize, const std::function<void(const QString &, int)> &status,
                                  const std::atomic_bool *cancelled) = 0;

    // The machine's burners through libburn, and CDROM_DRIVE_STATUS for the tray.
    static std::unique_ptr<DiscDrives> system();
};
