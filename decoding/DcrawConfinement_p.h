#pragma once

// What the dcraw program may do once ovn-dcraw has started it (see Dcraw_main.cpp): one list,
// set twice. Before the exec, ovn-dcraw's child confines itself with it and with the one exec
// that starts dcraw; the module it preloads into dcraw (DcrawConfine_preload.cpp) then sets the
// list again without that exec, before dcraw's main function reads a byte of the file, and says
// so with preloadMarker, the first bytes dcraw's output must carry.

#include "decoding/ChildConfinement.h"

#include <seccomp.h>

namespace DcrawConfinement {

// The module beside ovn-dcraw.
constexpr const char *preloadName = "ovn-dcraw-confine.so";
constexpr char preloadMarker[4] = {'O', 'V', 'N', 'C'};

// dcraw reads its file by name and writes the picture to standard output: the decoders' calls and
// the C library's start of a program (arch_prctl sets its thread pointer).
inline ChildConfinement::Allowances program()
{
    ChildConfinement::Allowances allowances;
    allowances.name = "dcraw";
    allowances.calls = ChildConfinement::decodingCalls();
    allowances.calls.push_back(SCMP_SYS(arch_prctl));
    allowances.threads = 16;
    return allowances;
}

// Its memory: `memory` of data, its libraries (dcraw maps a few MiB of them, the module it
// preloads a few more) and its stack beside it in its address space, which counts every mapping
// whatever is written or protected in it; and its file, its output, standard input and error and
// the libraries the loader opens one at a time for descriptors.
constexpr unsigned long long beyondData = 64ULL << 20;
inline void bound(ChildConfinement::Allowances &allowances, unsigned long long memory)
{
    allowances.data = memory;
    allowances.addressSpace = memory + beyondData;
    allowances.descriptors = 16;
}

} // namespace DcrawConfinement
