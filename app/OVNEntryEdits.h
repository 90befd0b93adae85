#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "catalogdb/OVNCategoryAccess.h"
#include "platform/MediaRecord.h"

#include <functional>
#include <optional>

class OVNDatabaseAccess;
class OVNDatabaseTransaction;

// Rating, turning and thumbnail writes on catalog entries, without any window. Each entry answers
// to its own category's level; the writes of one command go into one transaction, and an entry the
// catalog refuses stays as it was while the others go on. The caller shows only what is stored.
class OVNEntryEdits
{
public:
    enum class QuarterTurn { Left, Right };

    // An entry to change. `tag` is the caller's own mark (the window: the entry's row, -1 when it
    // does not show it). What the caller already holds of the entry saves a catalog read: its
    // thumbnail (empty: read it) and its orientation code (nothing: read it).
    struct Target {
        QString mid;
        QString owner; // the entry's own category
        int tag = -1;
        QByteArray thumbnail;
        std::optional<QString> orientation;
    };
    // What became of the targets of one command.
    struct Summary {
        int changed = 0;
        int refused = 0;    // by privileges
        int unreadable = 0; // a thumbnail that does not decode
        int failed = 0;     // the catalog did not take the write
        QString refusedLevel;
        // Left unchanged because their category's level could not be asked (the server out of
        // reach, the category deleted meanwhile, the user in no group any more), and why.
        int unchecked = 0;
        QString uncheckedTitle;
        QString uncheckedText;
    };
    // A target the catalog now holds changed, with what it holds.
    struct Stored {
        Target target;
        QByteArray thumbnail;
        QString orientation;
    };

    explicit OVNEntryEdits(OVNDatabaseAccess *connection);
    // Said while the catalog server is waited for (reads and writes go on through sessions that
    // end and a server away for up to 30 seconds): the window shows it as busy.
    // `secondsLeft`, when given, is what is left of the caller's 30 seconds for each wait.
    void setWaitingStatus(std::function<void(const QString &)> status, std::function<int()> secondsLeft = {})
    {
        m_status = std::move(status);
        m_secondsLeft = std::move(secondsLeft);
    }

    // The target for an entry by its id, its owner from the catalog; nothing for an unknown id.
    std::optional<Target> targetForMid(const QString &mid) const;
    // The user's level on a category ("NO ACCESS" for none), asked of the catalog once per
    // category and object, with the user's groups as they are then; "" when it could not be asked
    // (see writableTargets()).
    QString levelOf(const QString &categoryId) const;
    // Whether that category's entries may be changed ("READ & WRITE").
    bool mayWrite(const QString &categoryId) const;
    // What the window shows enabled: each entry judged by its owner's level as the connection last
    // read the user's groups (no fresh read, no alert). Granted when every owner grants `requested`
    // (no owners grant nothing); the lowest level met, the refusing one when one refuses;
    // `unreadable` when a level could not be read.
    struct OwnersLevel {
        bool granted = false;
        QString lowest;
        bool unreadable = false;
    };
    OwnersLevel ownersLevel(const QString &requested, const QStringList &owners) const;
    // The ids of the entries a re-import reads again: those whose file is there (there is nothing to
    // read again of a missing one) and whose category grants "READ & WRITE"; `refused` counts the
    // entries left out for their category.
    QStringList reimportable(const QList<MediaRecordRef> &records, int &refused) const;
    // Drops the targets whose category does not grant "READ & WRITE", counting them.
    QList<Target> writableTargets(const QList<Target> &targets, Summary &summary) const;

    // Each write of a command: the writable targets it changed (a rating outside 0 to 5 changes
    // nothing), with the values they now hold.
    QList<Stored> rate(int rating, const QList<Target> &targets, Summary &summary);
    // The stored thumbnail and the orientation code turn together or not at all.
    QList<Stored> turn(const QList<Target> &targets, QuarterTurn turn, Summary &summary);
    QList<Stored> setThumbnail(const QList<Target> &targets, const QByteArray &jpeg, Summary &summary);

    // Deleting: an entry leaves the catalog with its memberships and metadata, or only a set
    // membership goes. Each in a savepoint of its own, so that inside a transaction a refused one
    // stays alone while the others go; false when the catalog refused it.
    bool deleteEntry(const QString &mid);
    bool deleteMembership(const QString &membershipId);
    // Runs `work` (true when it changed something) in one transaction; false only when something
    // changed and the catalog would not commit it (then nothing of it is stored).
    bool inOneTransaction(const std::function<bool()> &work);

    // A new collection, inside `folder` when one is given, made and placed together: its id, or ""
    // when the catalog refused (no collection is left behind at the top level). `allowed`, when
    // given, is asked inside the transaction before anything is written, so that the level it
    // reads holds for the write; when it refuses nothing is made. Made again through sessions that
    // end, once, as addTopLevelCategory() is; `allowed` answers false without a refusal of its own
    // when its question was lost with the session.
    QString addCollection(const QString &name, const QString &folder,
                          const std::function<bool(OVNDatabaseTransaction &)> &allowed = {});
    // A new category of `kind` ("C", "F", "S") at the top level, through sessions that end and a
    // server away for up to 30 seconds, `allowed` asked in its transaction on each try as
    // addCollection() asks it: it keeps the id chosen for it through every try, and a try after a
    // lost answer waits for the old session to end and finds the one it made. Its id, or "" when
    // the catalog did not make it (getLastErrorMessage() says why) or `allowed` refused.
    QString addTopLevelCategory(const QString &name, const QString &kind,
                                const std::function<bool(OVNDatabaseTransaction &)> &allowed = {},
                                bool *refused = nullptr);
    // A category's new name, or its new folder ("" for the top level), written in one transaction
    // with `allowed`'s check (as addCollection() asks it) through sessions that end and a server
    // away for up to 30 seconds: the same value however often it is written, so a try after a lost
    // answer (once the old session has ended) writes it again or finds it written. Whether the
    // catalog holds it; `refused` when `allowed` refused.
    bool renameCategory(const QString &mid, const QString &name,
                        const std::function<bool(OVNDatabaseTransaction &)> &allowed = {}, bool *refused = nullptr);
    bool moveCategory(const QString &mid, const QString &folder,
                      const std::function<bool(OVNDatabaseTransaction &)> &allowed = {}, bool *refused = nullptr);
    // Each entry's own category ("" for an id the catalog does not know), in order.
    QStringList ownersOf(const QStringList &mids) const;
    // Moves the entries into a collection, or links them into a set, as rate() writes: the
    // entries' own categories (READ & WRITE for a move, READ ONLY for a link) and the collection or
    // set (READ & WRITE) are asked in each batch's transaction, on each try. Through sessions that
    // end: a move sets a value, and a link finds the membership a lost answer hid (once the old
    // session has ended) instead of adding a second. What became of them.
    Summary moveEntries(const QStringList &mids, const QString &collection);
    Summary linkEntries(const QStringList &mids, const QString &setId);

    // The text of the one alert about what stayed unchanged; empty when everything changed.
    QString unchangedText(const Summary &summary) const;

    // The orientation code after a quarter turn: 1 6 3 8 to the right, 2 7 4 5 for the mirrored
    // codes, the reverse to the left; 0 and codes outside 1 to 8 count as 1.
    static int orientationAfterQuarterTurn(int code, QuarterTurn turn);
    // JPEG thumbnail data turned a quarter and encoded again at full quality; empty when the data
    // does not decode.
    static QByteArray turnedThumbnail(const QByteArray &data, QuarterTurn turn);

private:
    // Judges the targets of a batch for "READ & WRITE" in its transaction; after a lost answer
    // `holds` (target index, stored `column`) says which hold what is written already.
    std::function<std::optional<OVNCategoryAccess::EntriesVerdict>(int, int, bool)> entriesJudge(
        const QList<Target> &targets, const QString &column,
        const std::function<bool(int, const QString &)> &holds) const;
    // Judges entries going into `category` (a move or a link): `requested` on their own
    // categories, READ & WRITE on `category`.
    std::optional<OVNCategoryAccess::EntriesVerdict> intoCategoryNow(
        const QStringList &mids, const QString &requested, const QString &category, const QString &column,
        const std::function<bool(qsizetype, const QString &)> &holds);
    // Runs `write` in one transaction after `allowed`, again on a new session while the session is
    // lost on the way (waiting, after a lost answer, for the old session to end).
    bool setThroughEndedSessions(const std::function<bool()> &write,
                                 const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused);
    // addCollection() and addTopLevelCategory(): a category of `kind`, in `folder` when one is given.
    QString addCategoryThroughEndedSessions(const QString &name, const QString &kind, const QString &folder,
                                            const std::function<bool(OVNDatabaseTransaction &)> &allowed,
                                            bool *refused = nullptr);
    // One try of it with the id `chosen`; `refused` when `allowed` refused.
    QString addCategoryOnce(const QString &chosen, const QString &name, const QString &kind, const QString &folder,
                            const std::function<bool(OVNDatabaseTransaction &)> &allowed, bool *refused);

    OVNDatabaseAccess *m_db;
    mutable QHash<QString, QString> m_levels;
    // Why a category's level could not be asked, by category, as {title, text}.
    mutable QHash<QString, QStringList> m_unchecked;
    std::function<void(const QString &)> m_status;
    std::function<int()> m_secondsLeft;
    // How long a read or a write may wait for the server now.
    int waitSeconds() const;
};
