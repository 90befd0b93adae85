#include "decoding/ConfinementNotice.h"

#include "decoding/ChildConfinement.h"
#include "platform/Alert.h"
#include "platform/Localized.h"

#include <QtGlobal>

#include <mutex>

void ConfinementNotice::sayOnceIfMissing()
{
    static std::once_flag said;
    std::call_once(said, [] {
        if (ChildConfinement::landlockVersion() > 0)
            return;
        qWarning("The kernel offers no Landlock (Linux 5.13 or later): the programs that read media files "
                 "are held by their system-call filter alone and may read files of yours they are not handed");
        Alerts::show({localized("Media files are read with one protection less"),
                      localized("This system's kernel has no Landlock (Linux 5.13 or later). The programs that "
                                "read your pictures, movies and documents still cannot write, create or remove "
                                "files, start programs or signal other programs, but a damaged or hostile file "
                                "could make them read other files of yours."),
                      {},
                      Alert::Style::Warning,
                      Alert::Modality::Application,
                      nullptr,
                      {}});
    });
}
