#pragma once

// What the program says when a boundary of its decoding children is missing on this system (see
// ChildConfinement.h): once a run, in a window and in the log, before it starts the first child.
namespace ConfinementNotice {

// Says it the first time it is called in a run where the kernel offers no Landlock; nothing
// otherwise. Callable from any thread.
void sayOnceIfMissing();

} // namespace ConfinementNotice
