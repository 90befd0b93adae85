#pragma once

#include <QString>
#include <QVariantMap>

// What a decoder gives up before it reads its first file: it needs no network, writes no file and
// starts no program, so a fault in a decoding library cannot be turned against the user's files.
// enter() sets no_new_privs and a seccomp filter that refuses (with EPERM) sockets and
// connections, opening a file for writing or creating it, removing, renaming and linking files,
// changing their modes and owners, starting programs and tracing other processes. Reading files,
// mapping memory, threads and the decoder's own socket stay.
namespace DecoderSandbox {

// False when the filter could not be set; the decoder then does not start.
bool enter();

// Tries each thing the filter refuses, with `path` as the file to create, and says in one line
// what it could do (test builds only).
QVariantMap probe(const QString &path);

} // namespace DecoderSandbox
