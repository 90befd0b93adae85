#pragma once

#include "app/OVNEntryEdits.h"
#include "browser/OVNAnnotationChanges.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <functional>

class OVNDatabaseAccess;

// Auto-fill's writes, without any window: the changes go into every entry whose own category
// grants "READ & WRITE", in transactions of up to a few hundred entries, each written in a few
// statements whatever its size (a server far away costs a few round trips a batch, not a few an
// entry); a batch with a write the catalog refuses is made again a write at a time, each in a
// savepoint, so that a refused one undoes itself alone. The values are worked out before anything is written,
// so that a transaction whose server session ended is made again with the same values (waiting
// for a server that went away, up to 30 seconds); nothing is written twice over itself. The values an entry holds now
// come from the caller (the thumbnail view's records), which also shows each value once the catalog took it.
class OVNAnnotationWrites
{
public:
    // A field the catalog did not take, and why (no column: the whole transaction).
    struct Failure {
        QString mid, column, reason;
    };
    // Entries in the row set, fields written, entries refused by privileges, fields the catalog
    // did not take (with their reasons), entries with a failed field.
    struct Summary {
        int entries = 0;
        int written = 0;
        int refused = 0;
        int failed = 0;
        int failedEntries = 0;
        bool cancelled = false;
        QList<Failure> failures;
        QString refusedLevel;
        bool committed = true; // false: the work stopped, and not all of it is stored
        // The entries left unwritten when the work stopped; the first failure names the first of
        // them (none when no entry was left to write) and says why it stopped.
        int leftByStop = 0;
        bool purchasedWritten = false; // a purchased-licence field was written
        bool soldWritten = false;
    };
    // The caller's side: the value it holds for a target's key (by the target's tag) and what it
    // shows once a value is stored; `progress` (done, total) answers false to stop.
    struct Callbacks {
        std::function<QVariant(int tag, const QString &key)> value;
        std::function<void(int tag, const QString &key, const QString &value)> show;
        std::function<bool(int done, int total)> progress;
        // The status while a catalog server that went away is waited for (may be empty).
        std::function<void(const QString &text)> status;
    };

    explicit OVNAnnotationWrites(OVNDatabaseAccess *connection);

    Summary apply(const QList<OVNEntryEdits::Target> &targets, const AnnotationChanges &changes,
                  AnnotationChanges::Mode mode, bool clearEmptyFields, const Callbacks &callbacks);

    // Why a change of a field the pane does not offer is refused ("purchased.KEY", "sold.KEY" or
    // the record's key): apply() then writes nothing.
    static QString notOfferedText(const QString &field);

    // The text of the one alert about what was refused or failed; empty when nothing was.
    static QString reportText(const Summary &summary);

private:
    OVNDatabaseAccess *m_db;
};
