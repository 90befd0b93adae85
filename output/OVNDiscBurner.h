#pragma once

#include <QString>

// What the burn sheet offers for the selected drive: one action button and a status line.
class OVNDiscBurner
{
public:
    struct DriveState {
        enum class Media { Unknown, None, Writable, Full };
        Media media = Media::Unknown;
        bool trayOpen = false;
        bool imageFile = false; // the pseudo drive that writes a disc image: nothing to check
    };
    struct Presentation {
        QString button; // empty: no button
        bool enabled = false;
        QString status;
    };

    static Presentation present(const DriveState &state);
};
