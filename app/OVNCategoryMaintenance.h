#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class OVNDatabaseAccess;

// The work behind deleting a category with everything below it and re-scanning a surveillance
// folder, without any window: the decisions are pure functions, the writes take a connection.
namespace OVNCategoryMaintenance {

struct Category {
    QString mid;
    QString kind; // "F", "C", "S", "M" or "I"
    QString name;
    QString level; // the user's privilege on it
};

// The category and every category below it, children before their parent (depth first), so
// that a folder is removed only after what it holds.
QList<Category> subtreeBottomUp(OVNDatabaseAccess &db, const Category &root);

// Whether deleteCategories() asks the catalog for the user's level on each category within its
// transaction ("FULL ACCESS" needed), or leaves the privileges to its caller.
enum class Check { None, LevelNow };
// The first category of the subtree, other than the root, that the user may not delete: everything
// that goes needs "FULL ACCESS", not only the category clicked. Nothing when all may go.
std::optional<Category> firstUndeletable(const QList<Category> &bottomUp, const QString &rootMid);

// Removes the categories in the order given with the entries that collections and surveillance
// folders own (their set memberships, metadata, purchased and sold rows) and the memberships of
// sets, all in one transaction: on a failure or a refusal nothing is removed and `error` says why.
// `progress` is told after each category (done, total). Made again on a new session through
// sessions that end, for up to 30 seconds; categories already gone after a lost answer count as
// deleted. `waiting` is told "Waiting for the catalog server..." while the server is waited for.
bool deleteCategories(OVNDatabaseAccess &db, const QList<Category> &bottomUp, QString *error,
                      const std::function<void(int, int)> &progress = {}, Check check = Check::None,
                      const std::function<void(const QString &)> &waiting = {});

// Removes the entries with their set memberships, metadata, purchased and sold rows, all in one
// transaction; on a failure none is removed.
bool deleteEntries(OVNDatabaseAccess &db, const QStringList &mids, QString *error,
                   const std::function<void(int, int)> &progress = {});

// The watched disk folder a surveillance folder's comment names; empty when there is none (also
// for a comment that is no property list).
QString watchedFolder(const QString &comment);

// NotReadInTime: the folder's listing did not end in time (its volume stopped answering).
// ForeignLink: the folder's path is, or goes through, a link that is not followed (another
// account's, or this account's in a folder others may rename in), walked as an import walks it.
enum class FolderState { Usable, Missing, NotAFolder, Unreadable, NotReadInTime, ForeignLink };
FolderState watchedFolderState(const QString &path);
// The alert text for a folder that cannot be re-scanned.
QString refusalText(FolderState state, const QString &path);

// An import date as stored: "yyyy-MM-dd HH:mm:ss", an optional fraction, an optional zone
// ("+0530", "-05:00", "Z"). Without a zone it is the local time at that date (with that date's
// daylight-saving rule). Nothing when it does not parse.
std::optional<QDateTime> importDate(const QString &dts);

struct Record {
    QString mid;
    QString absolutePath;
    QString dts;
};

struct RescanPlan {
    QStringList newFiles;
    QList<Record> missing;
    QList<Record> changed;
};

// Compares a folder's files with its catalogued records: paths match exactly (the first record
// of a path counts); a file is changed when its modification time, in whole seconds, is after
// the record's import date. An import date that does not parse counts as unchanged.
// `modified` holds each file's time in seconds since 1970 UTC (nothing when it could not be read).
RescanPlan planRescan(const QStringList &files, const QList<std::optional<qint64>> &modified,
                      const QList<Record> &records);
// The files a folder holds, as an import expands it (sub-folders included), in the order of a
// single expansion, with their modification times in seconds since 1970 UTC (nothing when one
// could not be read). Read on several threads, each call on the folder under the import's
// per-file limit: a volume that stops answering leaves the listing incomplete, and then it says
// nothing of which files are gone.
// A folder that could not be listed itself says nothing of which files are gone either: `state`
// then says why (not Usable).
struct FolderListing {
    QStringList files;
    QList<std::optional<qint64>> modified;
    bool complete = true;
    FolderState state = FolderState::Usable;
};
FolderListing folderFiles(const QString &folder);

} // namespace OVNCategoryMaintenance
