#include "decoding/DecoderSandbox.h"

#include <QFile>

#include <cstring>

namespace {

// What a decoder reads of the system: libraries and the loader's cache, Qt's plugins, fonts,
// locale, time-zone and colour data (all under /usr but for these), and its own process's files.
// Not /dev/shm, nor anything of the user's: the file it decodes comes as a descriptor.
const char *const systemReadable[] = {
    "/usr",
    "/lib",
    "/lib64",
    "/lib32",
    "/libx32",
    "/etc/ld.so.cache",
    "/etc/fonts",
    "/etc/localtime",
    "/etc/locale.alias",
    "/var/cache/fontconfig",
    "/sys/devices/system/cpu",
    "/proc/self",
    "/dev/null",
    "/dev/urandom",
};

} // namespace

ChildConfinement::Allowances DecoderSandbox::allowances(const Options &options)
{
    ChildConfinement::Allowances allowances;
    allowances.name = "decoder";
    // A template's own /proc/self would be its children's way to their parent's files: it and
    // they read none of their process's files.
    for (const char *path : systemReadable)
        if (!options.startsChildren || std::strcmp(path, "/proc/self") != 0)
            allowances.files.push_back({path, true, false, false});
    for (const QString &path : options.readable)
        allowances.files.push_back({QFile::encodeName(path).toStdString(), true, false, false});
    // The calls every reader makes (see ChildConfinement::decodingCalls), and nothing else.
    allowances.calls = ChildConfinement::decodingCalls();
    allowances.parent = options.parent;
    allowances.data = options.data;
    allowances.addressSpace = options.addressSpace;
    allowances.descriptors = options.descriptors;
    allowances.threads = options.threads;
    allowances.startsChildren = options.startsChildren;
    return allowances;
}

int DecoderSandbox::landlockVersion() { return ChildConfinement::landlockVersion(); }

bool DecoderSandbox::enter(const Options &options)
{
    return ChildConfinement::confine(allowances(options)) != ChildConfinement::Confined::Failed;
}
