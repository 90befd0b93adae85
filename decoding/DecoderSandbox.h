#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <sys/types.h>

// What a child that decodes media gives up before it reads its first byte of a file, so that a
// fault in a decoding library cannot be turned against the user. Two boundaries, each of which
// holds without the other:
// - a system-call filter (seccomp) that allows only what the readers, FFmpeg, LibRaw, poppler and
//   Qt call: reading and mapping files, memory, threads (clone of a thread only), waiting, time,
//   signals to itself. Everything else is refused: io_uring, starting processes or programs,
//   signals to other processes, ptrace and reading other processes' memory, the kernel's key
//   store, bpf, perf events, userfaultfd, sockets, terminal input (ioctl), opening a file for
//   writing, removing or renaming files, changing process settings;
// - Landlock: no writing anywhere, reading only the system's libraries, plugins, fonts, locale
//   and colour data and what Options names (the child's own folder), no TCP, no abstract local
//   sockets, no signals out of the domain. A decoder reads the user's file through a descriptor
//   it was handed, never by name. Where the kernel has no Landlock the child still starts, says
//   so on standard error and in the system log, and relies on the filter alone.
namespace DecoderSandbox {

struct Options {
    // Folders and files the child reads besides the system's (each read-only).
    QStringList readable;
};

// False when the filter could not be set; a child must then not go on. Callable from any child
// program; the descriptors it holds open stay usable.
bool enter(const Options &options = {});

// The Landlock ABI the kernel offers (0: none).
int landlockVersion();

// Test builds: tries every road the sandbox closes, from inside it, and says in the map's
// "damage" how each went ("ROAD: taken" or "ROAD: refused", joined by commas; the last road,
// "reading", reads a system file, which a decoder must still do). `file` is the decoded file's
// name: the probe makes FILE.written, FILE.creat, FILE.folder and FILE.link, writes, truncates,
// renames and changes FILE.kept, removes FILE.removable, reads FILE.private and connects to the
// local socket FILE.sock, if it can; `parent` is the process that started the child.
QVariantMap probe(const QString &file, pid_t parent);

} // namespace DecoderSandbox
