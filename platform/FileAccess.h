#pragma once

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

class QFile;

// What the file system holds at a path, and opening files for reading without being led into
// devices or pipes: a media file named "x.jpg" may be a link to /dev/zero (read for ever) or a
// pipe (blocks for ever).
namespace FileAccess {

enum class Kind { Missing, DanglingLink, NoAccess, Regular, Folder, Pipe, Socket, Device, Other };

// The kind of what the path names, symbolic links followed.
Kind kindOf(const QString &path);

// Why a path through a link that is not followed is left out, as a list of skipped files says it.
QString foreignLinkReason();

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

// The entries of a folder ("." and ".." left out), in the order the file system gives them. The
// folder is reached by the walk above and listed through the descriptor it was opened as.
// Names that are not valid UTF-8 cannot be opened through a QString path; they are left out of
// the answer and put into `undecodable` as textOfName() holds them. Null when the folder
// cannot be listed, with the system's reason in `why`.
std::optional<QStringList> folderEntries(const QString &path, QStringList *undecodable = nullptr,
                                         QString *why = nullptr);

// A file name's bytes as text: its valid UTF-8 decoded, and each byte that is not part of valid
// UTF-8 (0x80 to 0xFF) held as the lone surrogate U+DC80 to U+DCFF, which no decoded name holds,
// so that the byte stays known and unlike any text a name can say. Such a text names no file;
// it is only ever shown, through shownName() or the tools' printing.
QString textOfName(const QByteArray &name);
// The byte a character of textOfName() holds, or -1 for any other character (a lone surrogate
// of that range, not the second half of a pair, is one).
int heldByte(QChar c);
// A name or path as the window lists it where one may not be UTF-8: each byte held by
// textOfName() written "\xHH", and so that no name can look like one, a backslash of the name
// itself written twice ("\\"): the byte 0xE9 shows as caf\xE9.jpg, a name typed with the four
// characters \xE9 as caf\\xE9.jpg.
QString shownName(const QString &name);

// ---- Reading what a user named ----
// A path a user gives (an import's files and folders, a re-scan's, a record export's) is walked
// from the root one element at a time, each element held by a descriptor while it is judged, as
// destinations are (below), and a symbolic link met at any element is followed by the one rule of
// Walking::linkMayBeFollowed: root's, or this account's in a folder no other account may rename in.
// So another account's link laid anywhere in the path (DIR/hislink/private.jpg), in a shared folder
// or in his own, or one of this account's he renamed over the name, cannot lead an import to this
// account's private files, nor to the system's files for root. The file is then held open, and
// whatever reads it while it is held reads that very file, never what its name names meanwhile.

// What the walk of `path` finds: its kind (that of what links lead to), whether a link on the way
// was refused (`mayBeRead` false, kind Missing), and the path it ends at with the links replaced
// by what they lead to.
struct WalkedPath {
    Kind kind = Kind::Missing;
    bool mayBeRead = true;
    QString walked;
};
WalkedPath walkedPath(const QString &path);

// A regular file reached by that walk, held open for as long as this lives. Meanwhile
// openRegularFile and the decoders' openings of any name it answers for (the path it was given,
// and those added with alsoAnswersFor) open this file again: through the folder it was found in,
// without following a link, and only when what is there is still this file. Nothing reads another
// file under that name while it is held.
class HeldFile
{
public:
    explicit HeldFile(const QString &path);
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool isOpen() const;
    // Why the file is not held: a link on the way that is not followed (foreignLinkReason's
    // words), nothing there, not a regular file.
    QString reason() const;
    qint64 size() const;
    // Where the file was found: the path it was held by, with the links on the way replaced by what
    // they lead to, as the walk followed them (never looked up again by name).
    QString foundAt() const;
    // One more name this file answers for while it is held (the path a link of the user's at its
    // end leads to, say).
    void alsoAnswersFor(const QString &path);
    // Whether both hold the same file (one moved between them, say).
    bool isSameFileAs(const HeldFile &other) const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    QStringList m_names;
    QString m_reason;
    QString m_foundAt;
};

// A regular file that `path` names, opened for reading: the one a HeldFile holds under that name,
// else the one the walk above reaches (another account's link on the way is not followed, and
// what is opened is what the walk judged). -1 with the reason in `why` when the walk refuses,
// nothing is there, it is no regular file, or the held file is no longer where it was found.
int openFound(const QString &path, QString *why = nullptr);

// A new descriptor, for reading, of the file a HeldFile holds under `path`: none when no file is
// held under that name; -1 when one is but it is no longer where it was found.
std::optional<int> openHeld(const QString &path);

// Whether the file a HeldFile holds under `path` lies on a local disk's or memory's file system
// (isOnLocalFileSystem), where opening it again answers at once. False when nothing is held under
// that name.
bool heldOnLocalFileSystem(const QString &path);

// ---- Which file systems answer at once (FileAccess_mounts.cpp) ----
// A network file system, or one a program serves (FUSE), may stop answering, and a call into it
// then waits in the kernel for as long as it does: such calls are made on a thread the caller can
// leave (TimedCall). A local disk's or memory's file system answers at once.

// Whether a file system of that type, as the mount table names it ("ext4", "nfs4", "fuse.sshfs"),
// is a local disk's or memory's. An overlay is not: its layers may lie on a network.
bool isLocalFileSystemType(QByteArrayView type);
// Whether the file system of that device (a file's st_dev) is, by this process's mount table as it
// is now; false for a device the table does not show.
bool isOnLocalFileSystem(dev_t device);
// The type of each device's file system, from a mount table in /proc/PID/mountinfo's form.
QHash<dev_t, QByteArray> fileSystemTypes(QByteArrayView mountInfo);

// ---- Writing into a destination folder (FileAccess_destination.cpp) ----
// An output (export, e-mail attachments, a web gallery, a disc image) writes into a folder that
// other accounts may share. Each file goes in whole or not at all: it is written as a new temporary
// file in the folder it ends in and then renamed into place, so that a reader never meets half a
// file and a failure leaves what was there. The destination is walked as above, and a symbolic link
// met at any element (the chosen folder, a folder below it such as the gallery's, a file's name) is
// followed by the same rule. Anything else is refused, naming the link. So a link another account
// laid, or one of this account's he renamed there, cannot lead the output to overwrite this
// account's files elsewhere, while a user may still link his own gallery folder to a web root. A replaced file
// passes on no set-user or set-group id and no other account's permissions.

// Where something written at `path` ends up: `path` itself when no link is there, else the link's
// target (links to links followed one by one, each by the rule above); null when a link may not be
// followed or does not end, with the reason in `why`.
std::optional<QString> followableDestination(const QString &path, QString *why = nullptr);

// What happens to a file already at the destination (after the links followed): replaced, or kept
// and the write refused.
enum class Existing { Replace, Keep };

// Writes the file at `path` through a temporary file beside it: `write` fills the temporary file;
// when it answers true the file is renamed into place. The new file has the permission bits of a
// file of this account's it replaces, else the usual ones (0666 less the umask). False with the reason in `why` when
// the link may not be followed, a file is there and must be kept, or the writing failed; nothing of the temporary file
// is left then.
bool writeThroughTemporary(const QString &path, const std::function<bool(QIODevice &)> &write, Existing existing,
                           QString *why = nullptr);

// A copy of the regular file `source` at `destination`, written as writeThroughTemporary writes.
bool copyThroughTemporary(const QString &source, const QString &destination, Existing existing, QString *why = nullptr);

// A folder to write into at `path`: one that is there, one reached through links that may be
// followed (the answer is then where they lead), or one made now (with the folders above it). Links are followed on
// the way by the rule above: another account's link in his own folder, named like a folder to be made there, would
// lead everything written into it into this account's private folder. Null with the
// reason in `why` when something else is there (a file, a link that may not be followed), the folder cannot be made,
// or this account may not write in it.
std::optional<QString> folderToWriteInto(const QString &path, QString *why = nullptr);

// For a writer that wants a path rather than a device (a disc image written by a library): an empty
// new file beside the destination `path` (after the links followed) that only this account can
// read, to be moved into place with moveIntoPlace or removed. Null with the reason in `why`.
QString temporaryFileBeside(const QString &path, QString *why = nullptr);

// Renames the temporary file onto `path` (after the links followed), with the permissions
// writeThroughTemporary gives. With Existing::Keep a file that appeared there meanwhile is kept and
// the rename refused. The temporary file is removed when the move fails.
bool moveIntoPlace(const QString &temporary, const QString &path, Existing existing, QString *why = nullptr);

// Outputs into a folder (export, e-mail attachments, web galleries, a disc image's staging) make
// their calls into it through this: `call` runs on a thread of its own and is given up on after
// outputLimit(), as on a mount that stopped answering, and at once while an earlier call into the
// same folder is still stuck. The call's answer, or nullopt when given up on (its late answer is
// dropped: it must hold what it uses, not refer to its caller's). `cancel` may be null.
std::optional<bool> answerWithin(const QString &folder, std::function<bool()> call,
                                 const std::atomic_bool *cancel = nullptr);
// Why an output gave up on a folder: "the folder FOLDER did not answer in time".
QString notAnsweringReason(const QString &folder);
std::chrono::milliseconds outputLimit();
void setOutputLimit(std::chrono::milliseconds limit);
// Called on the call's thread before each call answerWithin() makes, with the folder (empty: none):
// what tests stall a destination with.
void setOutputCallHook(std::function<void(const QString &folder)> hook);

} // namespace FileAccess
