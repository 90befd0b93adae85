#pragma once

#include "decoding/ChildConfinement.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

class QThreadPool;

#include <sys/types.h>

// What a child that decodes media (ovn-decoder, the PDF page child, the dcraw launcher) may do,
// declared in one list (see ChildConfinement.h for the boundaries that hold it):
// - read the system's libraries, plugins, fonts, locale and colour data, its own process's files
//   and what Options names (the child's own folder); a decoder reads the user's file through a
//   descriptor it was handed, never by name;
// - the calls the readers, FFmpeg, LibRaw, poppler and Qt make: reading and mapping files, memory,
//   threads, waiting, time, signals to itself, writing to the descriptors it holds.
// It may not write, create or remove a file, start a process or a program, open a socket or
// connect one, reach System V IPC, shared memory of others, inotify or fanotify, signal another
// process, trace or read another process, change its own session, undo its end with its parent,
// or hold more memory or threads than its limits. Where the kernel has no Landlock the child
// still starts, says so on standard error and in the system log, and relies on the filter alone.
namespace DecoderSandbox {

struct Options {
    // Folders and files the child reads besides the system's (each read-only).
    QStringList readable;
    // The process it ends with (0: none is set here).
    pid_t parent = 0;
    // Its data and address-space limits (0: none).
    unsigned long long data = 0;
    unsigned long long addressSpace = 0;
    // The descriptors it may hold (0: as many as it inherited the right to).
    unsigned long long descriptors = 0;
    // The threads it may hold at once.
    unsigned long long threads = 256;
    // A template that forks a child per request (see ChildConfinement::confineForkedChild).
    bool startsChildren = false;
};

// The decoder's allowances.
ChildConfinement::Allowances allowances(const Options &options);

// False when the child could not be confined; it must then not go on. Call it while the process
// has one thread only (before QCoreApplication); the descriptors it holds open stay usable.
bool enter(const Options &options = {});

// The Landlock ABI the kernel offers (0: none).
int landlockVersion();

// Test builds: tries every road the sandbox closes, from inside it, from the calling thread, from
// one of `pool`'s threads and from a thread it starts, and says in the map's "damage" how each
// went ("ROAD (WHERE): taken" or "ROAD (WHERE): refused", joined by commas, WHERE being "main
// thread", "pool thread" or "new thread"; the last road of each, "reading", reads a system file,
// which a decoder must still do). `file` is the decoded file's name: the probe makes FILE.written,
// FILE.creat, FILE.folder and FILE.link, writes, truncates, renames and changes FILE.kept, removes
// FILE.removable, reads FILE.private and "home/.pgpass" beside FILE, lists that home and connects
// to the local socket FILE.sock, if it can; `parent` is the process that started the child.
QVariantMap probe(const QString &file, pid_t parent, QThreadPool *pool);

// Test builds: every road of the probe above, tried from the calling thread only, WHERE being
// `where` (the movie player tries them from its own kinds of thread).
QStringList tryRoads(const QString &file, pid_t parent, const char *where);

// Test builds: takes memory every way a hostile file could, each way until the kernel refuses
// (or 4 GiB), and gives it back before the next: memory written and made read-only, mapped
// PROT_NONE and opened, shared anonymous memory, threads of the default stack, and pipes filled.
// Says in the map's "damage" how far each went, "ROAD: N KiB" joined by commas (the threads'
// stacks, the pipes' bytes), and "address space: N KiB", the limit it ran under (0: none).
QVariantMap takeMemory();

} // namespace DecoderSandbox
