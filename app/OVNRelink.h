#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class OVNDatabaseAccess;

// Pointing catalog entries at their files' new places. All entries are written in one
// transaction, each in a savepoint of its own, so that one refused write leaves the others; the
// caller changes its records only for the entries named in `relinked`, after the commit. A session
// that ends on the way, or a server away, has the whole transaction written again on a new session
// within `seconds` (a path is the same however often it is written; after a lost commit answer the
// next try looks once the old session has ended), `status` saying the wait.
namespace OVNRelink {

struct Entry {
    QString mid;
    QString path;       // the entry's "absolutepath"
    QString categoryId; // the category that owns it
};

struct Result {
    QList<int> relinked;     // indexes into the entries
    QStringList newPaths;    // the written paths, one per relinked entry
    QStringList failedNames; // file names that could not be re-linked
    bool ok = true;          // false when the transaction itself failed (then nothing changed)
};

using MayWrite = std::function<bool(const QString &categoryId)>;

// How a relink waits through ended sessions: said while it waits, the seconds it may, and what runs
// before each try (so that what a try read, such as privilege levels, is read again on the next).
struct Waiting {
    std::function<void(const QString &)> status;
    int seconds = 30;
    std::function<void()> eachTry;
};

// Each entry to the file of the same name in the folder, when there is one.
Result toFolder(OVNDatabaseAccess &db, const QList<Entry> &entries, const QString &folder, const MayWrite &mayWrite,
                const Waiting &waiting = {});
// One entry to the chosen file.
Result toFile(OVNDatabaseAccess &db, const Entry &entry, const QString &file, const MayWrite &mayWrite,
              const Waiting &waiting = {});
// The status report's text.
QString statusReport(const Result &result);

} // namespace OVNRelink
