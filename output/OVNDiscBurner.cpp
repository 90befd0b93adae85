#include "output/OVNDiscBurner.h"

#include "platform/Localized.h"

OVNDiscBurner::Presentation OVNDiscBurner::present(const DriveState &state)
{
    using Media = DriveState::Media;
    switch (state.media) {
    case Media::Writable:
        if (state.imageFile)
            return {localized("Burn Disc"), true,
                    localized("Ready to write the disc image. Click 'Burn Disc' to start.")};
        return {localized("Burn Disc"), true, localized("Disc verified. Click 'Burn Disc' to start.")};
    case Media::Full:
        return {localized("Eject Disc"), true, localized("Cannot write to inserted disc.")};
    case Media::None:
        return {state.trayOpen ? localized("Close Tray") : localized("Open Tray"), true,
                localized("Please insert an empty disc.")};
    case Media::Unknown:
        break;
    }
    return {QString(), false, localized("Reading disc information...")};
}
