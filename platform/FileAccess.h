#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <optional>

class QFile;

// What the file system holds at a path, and opening files for reading without being led into
// devices or pipes: a media file named "x.jpg" may be a link to /dev/zero (read for ever) or a
// pipe (blocks for ever).
namespace FileAccess {

enum class Kind { Missing, DanglingLink, NoAccess, Regular, Folder, Pipe, Socket, Device, Other };

// The kind of what the path names, symbolic links followed.
Kind kindOf(const QString &path);

// Why a path of that kind is no media file, as a list of skipped files says it ("a named pipe,
// not a file"); empty for a regular file or a folder.
QString refusalReason(Kind kind);

// Opens a regular file for reading. Anything else (a device, a pipe, a socket, a folder, also
// behind a link) is refused without blocking, with the reason in `why`. The file keeps its name.
bool openRegularFile(QFile &file, const QString &path, QString *why = nullptr,
                     QIODevice::OpenMode mode = QIODevice::ReadOnly);

// Up to `cap` bytes of an open file from where it stands, with room set aside for what the file
// holds rather than for `cap` (QIODevice::read(cap) takes `cap` bytes first: a gigabyte mapped and
// faulted in afresh for each photo). A file that grows while it is read stops at the cap.
QByteArray readAtMost(QFile &file, qint64 cap);

// The entries of a folder ("." and ".." left out), in the order the file system gives them.
// Names that are not valid UTF-8 cannot be opened through a QString path; they are left out of
// the answer and put into `undecodable` as displayNameOf() shows them. Null when the folder
// cannot be listed, with the system's reason in `why`.
std::optional<QStringList> folderEntries(const QString &path, QStringList *undecodable = nullptr,
                                         QString *why = nullptr);

// A file name's bytes as text, with each byte that is not part of valid UTF-8 shown as "\xHH".
QString displayNameOf(const QByteArray &name);

} // namespace FileAccess
