#pragma once

// What the movie player (ovn-player, Player_main.cpp) may do: one list, set by the player before
// its first thread (before GStreamer and Qt start theirs).

#include "decoding/ChildConfinement.h"

#include <seccomp.h>

#include <sys/stat.h>

#include <cstdlib>

namespace PlayerConfinement {

// The player's address space beyond its data: the libraries GStreamer loads (its plugins, libav
// and their codecs, Qt: some 170 MiB for a usual movie), the allocator's arenas (four of 64 MiB:
// see Player_main.cpp) and its threads' guard pages (their stacks are data), none of which hold
// memory until written. Memory that the player writes and makes read-only, or maps PROT_NONE and
// opens later, counts here whatever the data limit sees.
constexpr unsigned long long addressSpaceBeyondData = 768ULL << 20;

// The descriptors it holds at once: standard input, output and error, its socket and the movie's
// two openings, GStreamer's wake-up pipes and what its plugins open. Each pipe beyond these
// would hold kernel memory that no limit counts.
constexpr unsigned long long descriptors = 64;

// GStreamer makes a thread per stream and queue, libav one per processor for each decoder: a
// movie of several streams holds a few dozen.
constexpr unsigned long long threads = 256;

// Everything the player may read, nothing of it written: the system's libraries (GStreamer's
// plugins and the decoders they load among them), what the C library and the processor
// detection read, and GStreamer's list of plugins (the file the program named in GST_REGISTRY).
// The movie is not here: it comes as descriptors.
inline std::vector<ChildConfinement::Rule> readList()
{
    std::vector<ChildConfinement::Rule> rules;
    const auto read = [&rules](const std::string &path) { rules.push_back({path, true, false, false}); };
    for (const char *path : {"/usr", "/lib", "/lib64", "/etc/ld.so.cache", "/etc/localtime", "/proc/self",
                             "/proc/cpuinfo", "/sys/devices/system/cpu", "/dev/urandom"})
        read(path);
    // That one file, never a folder the name might give.
    struct stat status {};
    if (const char *registry = std::getenv("GST_REGISTRY");
        registry && ::stat(registry, &status) == 0 && S_ISREG(status.st_mode))
        read(registry);
    return rules;
}

// The decoders' calls and of the rest only what GStreamer's libraries ask: the file-creation mask
// (GLib sets and restores it), and memory locked by a cipher library some plugins load (bounded
// by the user's RLIMIT_MEMLOCK). `memory` is the data limit (0: none, and no address-space limit
// either); `parent` the process the player ends with.
inline ChildConfinement::Allowances allowances(unsigned long long memory, pid_t parent)
{
    ChildConfinement::Allowances allowances;
    allowances.name = "movie player";
    allowances.files = readList();
    allowances.calls = ChildConfinement::decodingCalls();
    for (const int call : {SCMP_SYS(umask), SCMP_SYS(mlock), SCMP_SYS(munlock)})
        allowances.calls.push_back(call);
    allowances.data = memory;
    allowances.addressSpace = memory > 0 ? memory + addressSpaceBeyondData : 0;
    allowances.descriptors = descriptors;
    allowances.threads = threads;
    allowances.parent = parent;
    return allowances;
}

} // namespace PlayerConfinement
