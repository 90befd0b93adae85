// Loaded into dcraw by ovn-dcraw (LD_PRELOAD, see DcrawConfinement_p.h): before dcraw's main
// function runs, the filter that ovn-dcraw's child set for the exec is set again without it, so
// that dcraw cannot start another program whatever its file makes it do. Then it writes the
// marker that tells ovn-dcraw the second filter holds; a dcraw that did not load this module
// writes none, and its picture is refused.

#include "decoding/DcrawConfinement_p.h"

#include <unistd.h>

namespace {

__attribute__((constructor)) void confineDcraw()
{
    if (!ChildConfinement::restrictCalls(DcrawConfinement::program()))
        _exit(127);
    if (::write(STDOUT_FILENO, DcrawConfinement::preloadMarker, sizeof DcrawConfinement::preloadMarker)
        != ssize_t(sizeof DcrawConfinement::preloadMarker))
        _exit(127);
}

} // namespace
