#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "platform/MediaRecord.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

class OVNResultRow;
class PostgresConnection;
struct sqlite3;

// A category-tree item: "mid", "displaytag", "comment", "type", "MYPRIVILEGES" and, for category
// sets and smart folders read by parent or by id, "icon".
using CategoryNode = QVariantMap;
// A row of a query: the column values in select order (text, data for binary columns, QVariant()
// for NULL).
using OVNRow = QVariantList;

// The one connection to the catalog database, on a SQLite file (vendor "Integrated") or a
// PostgreSQL server (vendor "PostgreSQL"). Every window, sheet and worker reads and writes the
// catalog through an object of this class; each worker thread gets an object of its own.
//
// Calls are synchronous on the caller's thread. A mutex per connection keeps two threads that share
// one object from interleaving inside a statement; statements that depend on each other are the
// caller's to group (transactions).
//
// Failures are reported through results: false, -1, an empty list, empty data, an empty map or an
// empty record id. A write that failed never answers success. getLastErrorMessage() keeps the text
// of the last failure for the messages the user sees.
class OVNDatabaseAccess
{
public:
    enum class Vendor { None, PostgreSQL, Integrated };

    // How updateMediaListEntry() writes its value. The numeric columns are always written as
    // numbers, whatever the kind.
    enum UpdateKind { QuotedValue = 0, BareValue = 1, QuotedValueAlternate = 2 };

    OVNDatabaseAccess();
    ~OVNDatabaseAccess();
    OVNDatabaseAccess(const OVNDatabaseAccess &) = delete;
    OVNDatabaseAccess &operator=(const OVNDatabaseAccess &) = delete;

    // "PostgreSQL" and "Integrated" select a connection, compared exactly; anything else none.
    static Vendor vendorFromString(const QString &vendor);

    // ---- Connection (OVNDatabaseAccess.cpp) ----
    // Stores the settings and clears the login state. Opens nothing. For a server the host may
    // carry a port ("db.example.org:5433", "/run/postgresql:5433"); an empty host is the local
    // socket. A server connection gives up after 5 seconds without an answer.
    void setConnectionDetails(const QString &vendor, const QString &host, const QString &user, const QString &password,
                              const QString &database);
    // For a server connection set up without a password: the one sent when the server asks for
    // a password that neither PGPASSWORD nor ~/.pgpass gave. Kept until the next
    // setConnectionDetails().
    void setFallbackPassword(const QString &password);
    // How long a server statement's answer is waited for before its session is dropped as lost
    // (30 seconds, the time every reader and writer waits for the server); for sessions opened
    // from now on.
    void setAnswerWait(std::chrono::milliseconds wait);
    // A new connection with this one's settings, opened (test it with isDBConnectionActive()):
    // workers of a window write to the same catalog as the window, whatever the preferences say
    // by now, and as the same catalog user (taken over as this one found it, not looked up again).
    std::unique_ptr<OVNDatabaseAccess> openSiblingConnection() const;
    // Whether opening a catalog file that is not there makes a new, empty one (the default, as the
    // program's new catalogs are made); off, the open fails and says the file does not exist, for a
    // reader that was given a catalog to read and must leave no file behind on a mistyped name.
    void setCreatesMissingFile(bool creates) { m_createsMissingFile = creates; }
    bool openDBConnection();
    bool isDBConnectionActive() const;
    void closeDBConnection();
    // Closes and opens again; answers what the open gave.
    bool revalidateDBConnection();
    // Kept for the callers that ask for it after large list loads; nothing to do here.
    void runGarbageCollection() {}
    // The text of the last failure on this connection ("" when nothing has failed yet).
    QString getLastErrorMessage() const;
    // Whether that failure was a full disk: SQLite's SQLITE_FULL or ENOSPC, the server's disk_full.
    bool lastErrorWasDiskFull() const;
    // Whether that failure lost the server session (reconnected since, without its transaction).
    bool lastErrorLostConnection() const;
    // Whether that failure was a server that turned the session away because every connection
    // it allows is taken (it may free one soon: lastErrorLostConnection() is true too).
    bool lastErrorServerFull() const;
    // After a lost server session, before asking what it stored: waits until the server's process
    // of the session that was replaced has ended, so that a commit it still carried out is done
    // (or undone) and what a look-up sees stays so. A process still there after two seconds is
    // ended (the session is this connection's own). False when the server could not be asked, or
    // the process was still there after `seconds`. True at once on a catalog file.
    bool waitForEndedSession(int seconds);
    // Why the last failed statement failed: the server could not be reached (the session was
    // lost, or could not be opened again), it named a category or entry that is no longer there
    // (deleted by another client meanwhile), or anything else. Kept until another one fails.
    enum class Failure { None, Unreachable, MissingReference, Other };
    Failure lastFailure() const;
    // How many statements have failed on this connection so far: a reader compares the count
    // before and after a listing to tell an empty answer from a failed one.
    quint64 failureCount() const;

    QString dbVendor() const { return m_dbVendor; }
    QString dbDatabase() const { return m_dbDatabase; }
    QString dbHost() const { return m_dbHost; }
    Vendor vendor() const { return m_vendor; }

    // ---- Query primitives (OVNDatabaseAccess.cpp) ----
    // Each runs exactly one statement. `parameters` fill the placeholders $1, $2, ... in order:
    // QString as text, QByteArray as binary data, integers and doubles as numbers, QVariant() as
    // NULL. A statement text holding a second statement is refused.

    // True when the statement ran (its first step, for a query) without error.
    bool runSQLCommand(const QString &sql, const QVariantList &parameters = {});
    // The number of rows the statement returned; -1 when it failed.
    int affectedRowsForQuery(const QString &sql, const QVariantList &parameters = {});
    // Every row; the rows read before a failure when one happens mid-way.
    QList<OVNRow> rowsForQuery(const QString &sql, const QVariantList &parameters = {});
    // The first column of the last row whose first column holds data; empty data otherwise.
    QByteArray blobcolumnForQuery(const QString &sql, const QVariantList &parameters = {});
    // The last row, keyed by lower-cased column name, NULL as the empty text; empty when no row.
    QVariantMap rowDictionaryForQuery(const QString &sql, const QVariantList &parameters = {});

    // ---- Transactions (OVNDatabaseAccess.cpp) ----
    // Nest: an inner begin makes a savepoint that its own commit releases and its own rollback
    // undoes. Each answers false when the statement failed (or there is nothing to end).
    // On PostgreSQL a statement that fails inside a transaction undoes the innermost level at
    // once (the server takes no further statement in it): the level's further statements are
    // refused and its commit answers false; the levels around it go on.
    bool beginTransaction();
    bool commitTransaction();
    bool rollbackTransaction();
    int transactionDepth() const;
    // Whether a failed statement has undone an open level (on SQLite, a full disk undoes the
    // whole transaction) that is still to be ended by its commit or rollback.
    bool transactionUndone() const;

    // ---- Schema and record ids (OVNDatabaseAccess_schema.cpp) ----
    // True when both strvcategory and strvfile exist.
    bool checkForDatabaseSetup();
    // True when a table or index of that name exists (one this session sees, on a server).
    bool relationExists(const QString &name);
    // Every table of the database with its columns, both in lower case, keyed by the table (on a
    // server, the tables of the schemas this session sees); nothing when they could not be read.
    std::optional<QHash<QString, QStringList>> tablesWithColumns();
    // True when strvgroups and strvusers exist; the answer is kept in useAuthentication().
    bool checkForUserManagerSetup();
    bool useAuthentication() const { return m_useauthentication.load(); }
    // A new record id: local time "yyyy-MM-dd HH:mm:ss:zzz", "/", and the machine part. One
    // generator serves the whole process, so ids never repeat, not even within one millisecond;
    // the machine part is the process's own, so other clients of a catalog never make the same.
    QString createNewMID();
    // The machine part of record ids: "M" and 12 hexadecimal digits, one per process (SystemInfo).
    static QString getHWAddress();
    // The id for a local wall-clock time given in milliseconds since 1970-01-01 00:00 (wall time).
    static QString recordIdFor(qint64 localWallMsecs, const QString &machinePart);
    // The time the generator uses: `now`, or one millisecond after `last` when `now` is not later.
    static qint64 nextRecordIdTime(qint64 nowLocalWallMsecs, qint64 lastLocalWallMsecs);

    // ---- Categories (OVNDatabaseAccess_categories.cpp) ----
    QList<CategoryNode> getCategoryList(const QString &kind = QStringLiteral("C"));
    QList<CategoryNode> getCategoryListForMID(const QString &parentMid);
    // The id of the first category of `kind` named `name`, under `parentMid` (at the top level when
    // empty); empty when there is none or it could not be read (failureCount() tells).
    QString categoryNamed(const QString &name, const QString &kind, const QString &parentMid = QString());
    // Inside a transaction: makes this connection the only one that finds or makes a category by
    // name until the transaction ends, so that two clients never both make one of the same name.
    // On a catalog file the transaction holds the write lock from its begin already. False when
    // the lock could not be taken.
    bool lockCategoryMaking();
    // Nothing when there is no such item; an empty node when the user may not see it.
    std::optional<CategoryNode> getCategoryForMID(const QString &mid);
    // The new item's id, or "" when the insert failed or the kind is not one of F, C, S, M, I
    // (an empty kind makes a collection).
    QString addCategoryListEntry(const QString &name, const QString &kind = QStringLiteral("C"));
    // The same with the id `mid` (from createNewMID()) when no record has it yet; when the item of
    // that id has this kind and name, it is the writer's own earlier try whose answer was lost, and
    // its id is answered without a second item (lastInsertFoundEarlierCopy()); another new id when
    // something else has taken it.
    QString addCategoryListEntryWithMID(const QString &mid, const QString &name, const QString &kind);
    // The four updates answer false when the statement failed or no item has that id.
    bool updateCategoryListEntry(const QString &mid, const QString &name);
    bool updateCategoryListComment(const QString &mid, const QString &comment);
    bool setCategoryListEntrySuperMID(const QString &mid, const QString &parentMid);
    bool deleteCategoryListEntry(const QString &mid);
    // Removes the entries a collection or surveillance folder owns with their set memberships,
    // metadata, purchased and sold rows, set-wise (a few statements for any number of entries).
    // No transaction of its own: the caller's keeps a whole deletion together.
    bool deleteEntriesOwnedByCategory(const QString &categoryId);
    // Removes a category set's memberships; the entries stay with their collections.
    bool deleteSetMemberships(const QString &setId);
    // What the category holds, all of it: child categories of a folder, memberships of a set,
    // owned entries of a collection or surveillance folder; 0 for other kinds.
    qint64 getEntryCountForCategory(const QString &mid, const QString &kind);
    // The same, counting only what the catalog user may read: a folder's child categories other
    // than NO ACCESS, a set's members whose owning category the user may read. Whether the user
    // may read the category itself is the caller's question.
    qint64 getReadableEntryCountForCategory(const QString &mid, const QString &kind);

    // ---- Media records (OVNDatabaseAccess_media.cpp) ----
    QStringList getMediaMIDListForCategory(const QString &categoryId);
    MediaList getMediaList(const QString &categoryId, const QString &kind = QStringLiteral("C"));
    // The records getMediaList(categoryId, kind) lists, in the same order, each handed to
    // `onRecord` as it is read and none kept: a listing of any length in little memory. The record
    // lasts only for the call; `onRecord` must not use the connection and answers false to stop.
    // False when the statement failed (the last error says why) or the kind lists nothing here.
    bool forEachMediaRecord(const QString &categoryId, const QString &kind,
                            const std::function<bool(const MediaRecord &)> &onRecord);
    MediaList getMediaListForArray(const QStringList &categoryIds);
    // Runs a statement that selects the 26 columns of the media select list, maps rows by position.
    MediaList getMediaListForSQL(const QString &sql, const QVariantList &parameters = {});
    // One column of one record ("" when none, NULL, or the column is not a media column).
    QString getMediaListEntryForMediaID(const QString &mediaId, const QString &column);
    bool updateMediaListEntry(const QString &mediaId, const QString &column, const QString &value,
                              UpdateKind kind = QuotedValue);
    QVariantMap getExifForMediaID(const QString &mediaId);
    // Stores the entry's metadata row from the dictionary the import read, in place of any row it
    // had (OVNDatabaseAccess_exif.cpp). An empty dictionary stores nothing and answers true.
    bool setExifForMediaID(const QString &mediaId, const QVariantMap &metadata);
    QVariantMap getPurchasedForMediaID(const QString &mediaId);
    QVariantMap getSoldForMediaID(const QString &mediaId);
    bool updatePurchasedEntry(const QString &mediaId, const QString &column, const QString &value);
    bool updateSoldEntry(const QString &mediaId, const QString &column, const QString &value);
    QByteArray getThumbnailForMediaID(const QString &mediaId);
    // ---- Fields of many entries at once (OVNDatabaseAccess_fieldbatch.cpp) ----
    // A value for one field of one entry. Of two values of one entry's column the later one is
    // written, as writes one after the other would leave it.
    struct FieldValue {
        QString mid;
        QString column;
        QString value;
    };
    // Writes every value into the media records in one statement, each as updateMediaListEntry()
    // writes it (QuotedValue). False when a column is no writable media column, a value is no
    // number where the column needs one or does not fit its column (nothing written then), an
    // entry is not there, or the statement failed: run it inside a transaction, which undoes what
    // was written; a caller that needs to know which write it was writes them one by one.
    bool updateMediaListEntries(const QList<FieldValue> &values);
    // The same for the licence rows: every row of an entry that has one is updated, an entry
    // without one gets a row with its values, as updatePurchasedEntry() and updateSoldEntry()
    // write one field; a few statements for any number of entries. Run it inside a transaction:
    // on its failure part of it may be written.
    bool updatePurchasedEntries(const QList<FieldValue> &values);
    bool updateSoldEntries(const QList<FieldValue> &values);
    // The licence rows of many entries in one statement, each as getPurchasedForMediaID() and
    // getSoldForMediaID() read one; an entry without a row has none in the answer. Nothing when
    // the read failed.
    std::optional<QHash<QString, QVariantMap>> getPurchasedForMediaIDs(const QStringList &mediaIds);
    std::optional<QHash<QString, QVariantMap>> getSoldForMediaIDs(const QStringList &mediaIds);
    bool updateThumbnailForMediaID(const QString &mediaId, const QByteArray &jpegData);
    // Inserts a record from an import record (with its "thumbimage"); the new id, or "" on failure.
    QString addMediaListEntry(const QVariantMap &importRecord);
    // The same with the id `mid` (from createNewMID()) when no record has it yet, another new id
    // when it is taken: an import gives its files ids in the order of its list, whatever order they
    // are stored in. A record of that id with this category and file is the writer's own earlier
    // try whose answer was lost (a commit the server carried out): its id is answered and no second
    // record made; lastInsertFoundEarlierCopy() tells. On a server the insert waits for a try still
    // running in a session that went away, so the answer holds.
    QString addMediaListEntry(const QVariantMap &importRecord, const QString &mid);
    // Whether the last add with a chosen id found the writer's earlier row instead of inserting.
    bool lastInsertFoundEarlierCopy() const;
    // Removes the record with its set memberships and its metadata row.
    bool deleteMediaListEntry(const QString &mediaId);
    // Removes the record with its set memberships, metadata, purchased and sold rows, without a
    // transaction of its own (the caller's keeps many entries together).
    bool deleteEntryWithLicences(const QString &mediaId);
    // Whether a record has that id; false also when the catalog does not answer.
    bool mediaEntryExists(const QString &mediaId);
    // Which of the ids name a record. Nothing when the catalog did not answer (its session was
    // lost, say): an unanswered question is no "none of them".
    std::optional<QSet<QString>> mediaEntriesPresent(const QStringList &mediaIds);
    // Every entry of a category, whatever a view's filter hides: its id, its file's path and its
    // import date as written ("yyyy-MM-dd HH:mm:ss" and what followed it; a server's timestamps as
    // timestampText() writes them).
    struct EntryFile {
        QString mid;
        QString absolutePath;
        QString importDate;
    };
    QList<EntryFile> getEntryFilesForCategory(const QString &categoryId);
    // The new membership id, or "" on failure.
    QString addEntryToImageSet(const QString &mediaId, const QString &setId);
    // Which of `mids` the set holds now, in one statement (empty after a failure: see failureCount()).
    QSet<QString> membersOfImageSet(const QString &setId, const QStringList &mids);
    bool deleteImageSetEntry(const QString &membershipId);

    // ---- Read-only searches (OVNDatabaseAccess_search.cpp) ----
    struct ReadOnlySearch {
        enum class Status { Found, Refused, Stopped, TimedOut, Failed };
        Status status = Status::Failed;
        MediaList records;
        QString message; // why nothing was found, for every status but Found
        // With Found: the entries the search left out and why, said to the user ("" for none).
        QString leftOut;
    };
    // The longest any search may run, whatever its caller asks: a longer time limit is held to it.
    static constexpr int searchTimeLimitCeilingMs = 300000;
    // Runs one SELECT of the 26 media-list columns that a user may have written in part: it can
    // neither change the catalog nor read beyond the media tables (strvfile, strvexif,
    // strvpurchased, strvsold, strvset, strvcategory), and it ends after `timeLimitMs` (at most
    // searchTimeLimitCeilingMs) or at stopReadOnlySearch(). On SQLite a statement that is not
    // read-only is refused, an authorizer allows reads of the media tables and a short list of
    // functions only, and a progress handler keeps the time; on PostgreSQL it runs in a read-only
    // transaction with a statement timeout, rolled back afterwards, and the server ends it within
    // a second or two of its client's end (client_connection_check_interval, from PostgreSQL 14).
    // The connection is busy meanwhile: give a search one of its own.
    // `stop`, when given, is the caller's own stop request for this search, looked at throughout.
    // `fields` (bits of MediaRecord::Field) are the columns read into the records; the others are
    // left empty, for a caller that needs only a few of them.
    ReadOnlySearch searchMediaListReadOnly(const QString &sql, int timeLimitMs, const std::atomic<bool> *stop = nullptr,
                                           std::uint32_t fields = MediaRecord::allFields);
    // From any thread: ends the read-only search running on this connection (at once on SQLite,
    // by a cancel request on a server). A search that starts later is not affected.
    void stopReadOnlySearch();

    // ---- Login and privileges (OVNDatabaseAccess_privileges.cpp) ----
    // Without user tables every user may log in and every level is "FULL ACCESS".
    // False when the catalog has user tables and the login is no catalog user or belongs to no
    // group (or the user tables could not be read: see failureCount()).
    bool authenticateUser(const QString &login);
    QString getAccessPrivilegesForCurrentUser(const QString &categoryComment) const;
    // "" (which grants nothing) when the category could not be read.
    QString getCategoryAccessPrivilegesForMID(const QString &categoryMid);
    // The user's level on a category as the catalog holds it at this moment: the category's
    // privilege list and the user's groups are read afresh (the groups then serve this
    // connection's other checks too). Inside a transaction on a server the category's row stays
    // locked until the transaction ends, so that a change of its privileges waits for the write
    // this answer allowed. Missing: no such category (any more); Failed: lastFailure() says why.
    struct CategoryAccess {
        enum class Status { Found, Missing, Failed };
        Status status = Status::Failed;
        QString level;
    };
    CategoryAccess categoryAccessNow(const QString &categoryMid);
    // The user's groups as the catalog holds them at this moment, read afresh for the login this
    // connection was bound to (also when the user tables were made after the binding); they then
    // serve this connection's checks and lists. Member also without user tables; NoGroup when the
    // login is no catalog user (any more) or belongs to no group; Failed: lastFailure() says why,
    // and the groups read before stay.
    enum class Membership { Member, NoGroup, Failed };
    Membership refreshUserGroups();
    // For a write to entries: each entry's own category and the user's level on it, with the
    // entry's stored `column` when one is named (what a try after a lost answer compares with the
    // value it writes; nothing for a name that is no column), read in one statement for all of `mids`, the user's
    // groups read afresh as categoryAccessNow() reads them. Inside a transaction on a server the entries' rows and
    // their categories' rows stay locked until it ends, so that neither the entry's category nor the category's
    // privileges change under the writes this answer allowed (other writers only read the categories' rows and do not
    // wait for each other there). An entry the catalog does not hold, or whose category is gone, is not in the answer.
    // Nothing when the rows or the groups could not be read (lastFailure() says why); `membership` says whether the
    // user is still in a group.
    struct EntryAccess {
        QString owner;
        QString level;
        QString value;
    };
    std::optional<QHash<QString, EntryAccess>> entriesAccessNow(const QStringList &mids, const QString &column,
                                                                Membership *membership);
    // The login this connection was bound to by authenticateUser(), whether or not it was let in.
    QString boundLogin() const;
    // The category's comment whatever the user may see (the privileges window edits it); nothing
    // when there is no such category or the query failed.
    std::optional<QString> getCategoryCommentForMID(const QString &categoryMid);
    QString authUserName() const { return m_authusername; }
    QString authUserMid() const { return m_authusermid; }
    QStringList authGroupMids() const { return m_authgroupmids; }

    // ---- Users, groups and memberships (OVNDatabaseAccess_users.cpp) ----
    // Only a PostgreSQL catalog has user tables: on any other connection these do nothing and
    // answer false, "" or an empty list. Passwords are kept as crypt hashes ("Qz" and "Vx" salts)
    // and checked here, never sent to the server in a statement. Inserts answer the new id, ""
    // when nothing was inserted; updates and deletes answer true when a row changed.

    // The privilege texts of the groups of `login` as the catalog holds them now, without the
    // password (for a change by a user who logged in with it before). Inside a transaction on a
    // server the rows read stay locked until it ends, so that the groups and memberships that
    // allowed a change cannot change before it is committed. Nothing when they could not be read.
    std::optional<QStringList> groupPrivilegesForLoginNow(const QString &login);
    // The "xml" texts of the groups of the user with that login, when the password matches.
    QStringList getGroupPrivilegesForUser(const QString &login, const QString &password);
    // authenticateUser() for a login whose password matches.
    bool authenticateWebUser(const QString &login, const QString &password);
    // `privileges` is stored as XML property-list text ("" when empty).
    // Each add takes an optional id `mid` (from createNewMID()): a writer that tries again with the
    // id it chose first, after an answer was lost, finds its own earlier row instead of making a
    // second one (lastInsertFoundEarlierCopy() then tells).
    QString addUserEntry(const QString &name, const QString &login, const QString &password,
                         const QString &secondPassword, const QVariantMap &privileges, const QString &mid = QString());
    // Rows {"mid", "name", "comment", "xml", "login"} ordered by name.
    QList<QVariantMap> getUserList();
    // The last user row with that login; empty when none.
    QVariantMap getUserForLogin(const QString &login);
    bool setNameForUser(const QString &name, const QString &userMid);
    bool setLoginForUser(const QString &login, const QString &userMid);
    bool setPasswordForUser(const QString &password, const QString &userMid);
    bool setXMLForUser(const QVariantMap &privileges, const QString &userMid);
    // Removes the user with its memberships.
    bool deleteUserEntry(const QString &userMid);
    QString addGroupEntry(const QString &name, const QString &comment, const QVariantMap &privileges,
                          const QString &mid = QString());
    // Rows {"mid", "name", "comment", "xml"} ordered by name.
    QList<QVariantMap> getGroupList();
    bool setNameForGroup(const QString &name, const QString &groupMid);
    bool setXMLForGroup(const QVariantMap &privileges, const QString &groupMid);
    // Removes the group with its memberships.
    bool deleteGroupEntry(const QString &groupMid);
    QString addUserToGroup(const QString &userMid, const QString &groupMid, const QString &mid = QString());
    // Rows {"mid" (the membership), "name", "login", "groupmid", "usermid"} ordered by name.
    QList<QVariantMap> getUserListForGroup(const QString &groupMid);
    // The group ids of one user.
    QStringList getGroupListForUser(const QString &userMid);
    bool deleteUserFromGroup(const QString &membershipMid);
    // Whether the user has a password that a login can match (not empty, not a locked "*" hash).
    bool userHasPassword(const QString &userMid);

    // ---- PostgreSQL binary values, pure (OVNDatabaseAccess_pgvalues.cpp) ----
    // Big-endian readers; `bytes` must hold at least the width read.
    static qint16 int16FromBytes(const unsigned char *bytes);
    static qint32 int32FromBytes(const unsigned char *bytes);
    static qint64 int64FromBytes(const unsigned char *bytes);
    static float float32FromBytes(const unsigned char *bytes);
    static double float64FromBytes(const unsigned char *bytes);
    // An integer of 2, 4 or 8 bytes; nothing for any other length.
    static std::optional<qint64> integerObjectFromBytes(QByteArrayView bytes);
    // 2000-01-01 00:00:00, the origin of PostgreSQL's timestamps, as a wall-clock time.
    static QDateTime epochDate();
    // A `timestamp` value (8 bytes: integer microseconds, or a double of seconds, since the epoch
    // date) as the local wall-clock time that was written; nothing for another length or infinity.
    static std::optional<QDateTime> timestampFromBytes(QByteArrayView bytes, bool integerDateTimes);
    // "yyyy-MM-dd HH:mm:ss +hhmm", the offset that of the local zone at that time.
    static QString timestampText(const QDateTime &dateTime);
    // The same of a moment in seconds since the epoch, in the local zone as the C library has read
    // it: no local time of Qt's, which takes a lock that every thread waits on and reads the zone's
    // file again each time.
    static QString localTimestampText(qint64 secondsSinceEpoch);
    // A `numeric` value in its text form ("NaN" for not-a-number); nothing when malformed.
    static std::optional<QString> numericTextFromBytes(QByteArrayView bytes);
    // A binary result value of the given type oid in this layer's value model: text for text,
    // numbers, booleans and dates; data for bytea; nothing for a malformed value. Unknown types
    // are taken as text.
    static std::optional<QVariant> postgresBinaryValue(unsigned int typeOid, QByteArrayView bytes,
                                                       bool integerDateTimes);
    // Data as a complete quoted bytea literal in the escape format, for a session that runs with
    // standard_conforming_strings on. This layer binds binary data instead; kept for tools.
    static QString quotedStringFromData(const QByteArray &data);

private:
    struct StatementResult {
        bool ok = false;
        qint64 changedRows = 0;
    };
    using RowHandler = std::function<bool(const OVNResultRow &)>;

    // How a server's rows reach `onRow`: after the whole result came (`onRow` may run statements
    // of its own), or each as it arrives (for long listings; `onRow` must not use the connection).
    enum class RowDelivery { WholeResult, AsRowsArrive };
    // Runs one statement under the connection's lock and hands each result row to `onRow`, which
    // answers false to stop reading. The vendor dispatch of every primitive ends here.
    StatementResult execute(const QString &sql, const QVariantList &parameters, const RowHandler &onRow,
                            RowDelivery delivery = RowDelivery::WholeResult);
    StatementResult executeLocked(const QString &sql, const QVariantList &parameters, const RowHandler &onRow,
                                  RowDelivery delivery = RowDelivery::WholeResult);
    StatementResult executeSqlite(const QString &sql, const QVariantList &parameters, const RowHandler &onRow);
    StatementResult executePostgres(const QString &sql, const QVariantList &parameters, const RowHandler &onRow,
                                    RowDelivery delivery);
    // BEGIN, COMMIT, SAVEPOINT and their kin, which the transaction bookkeeping itself sends.
    bool executeTransactionControl(const QString &sql);
    // After a failed PostgreSQL statement: ends what the failure aborted, reconnects a lost session.
    void recoverPostgresAfterFailure();
    // Before a statement outside any transaction: a session lost since the last statement is
    // opened again first, so that the first statement after an outage does not fail for nothing.
    // False (with the failure set) when the server still cannot be reached.
    bool reopenLostPostgresSession();
    // Whether a new session may be opened now in place of a lost one. Every retry of the catalog,
    // whoever makes it, comes through here: after a lost session the next is opened at once, and
    // while they keep ending each further one waits OVNCatalogOpening::pauseAfter() the number in
    // a row (here, when the last one was let in; else the caller's wait tries again), so that a
    // server that lets sessions in and ends them gets a few a second at most. False at a stop.
    bool mayReplaceLostSession();
    // Notes a failed statement: counts it and keeps why it failed.
    void noteFailure(Failure why);
    void setLastError(const QString &message);
    // Marks the transaction levels from `depth` inward as undone by a failed statement.
    void markAborted(int depth);
    // The error of a statement refused because its transaction was undone.
    void setAbortedError();
    // True when a failed COMMIT ended the transaction all the same, leaving nothing to roll back.
    bool commitFailureEndedTransaction();
    // Runs an insert whose $1 is a new record id. An id that another client has taken already is
    // no failure: this connection takes a new machine part and the insert runs again with a new
    // id. The id, or "" when the insert failed.
    // `earlier` is a query whose $1 is the id and whose further placeholders are its parameters:
    // a row it finds at `firstMid` is the caller's own earlier insert, answered as made.
    struct EarlierCopy {
        QString sql;
        QVariantList parameters;
    };
    QString insertWithNewMID(const QString &sql, QVariantList parameters, const QString &firstMid = QString(),
                             const EarlierCopy &earlier = {});
    // True when every value fits its strvfile column on this catalog; otherwise false, with a
    // message that names `subject` (the file), the column and its limit. Only a server catalog
    // has limits; they are read once per session.
    bool fitsFileColumns(const QString &subject, const QList<std::pair<QString, QVariant>> &values);
    bool openSqlite();
    void closeSqlite();
    bool openPostgres();
    void closePostgres();
    // Notes whether `session` was turned away by a full server, and says so as the last failure.
    void noteServerFull(const PostgresConnection &session);
    // The rows of a user-table query keyed by the given names; empty off PostgreSQL.
    QList<QVariantMap> userTableRows(const QString &sql, const QVariantList &parameters, const QStringList &keys);
    // True when the statement ran on PostgreSQL and changed at least one row.
    bool userTableWrite(const QString &sql, const QVariantList &parameters);

    MediaList mediaListForStatement(const QString &sql, const QVariantList &parameters);
    // The statement and parameters of getMediaList(categoryId, kind); nothing for the kinds its
    // callers list themselves.
    std::optional<std::pair<QString, QVariantList>> mediaListStatement(const QString &categoryId,
                                                                       const QString &kind) const;
    bool updateLicenceEntry(const QString &table, const QStringList &columns, const QString &mediaId,
                            const QString &column, const QString &value);
    QVariantMap licenceRow(const QString &sql, const QString &mediaId);
    // Merges a licence row read into `licence` as licenceRow() does, the row's columns from `first` on.
    static void mergeLicenceRow(const OVNResultRow &row, int first, QVariantMap &licence);
    std::optional<QHash<QString, QVariantMap>> licenceRows(const QString &table, const QStringList &columns,
                                                           const QStringList &mediaIds);
    bool updateLicenceEntries(const QString &table, const QStringList &columns, const QList<FieldValue> &values);
    // A value as the update of one field binds it: a number for a numeric column (nothing, with the
    // last error set, when it is none), "" for a null text.
    std::optional<QVariant> fileParameter(const QString &column, const QString &value, UpdateKind kind);
    std::optional<QVariant> licenceParameter(const QString &column, const QString &value);
    bool insertFailed(const StatementResult &result) const { return !result.ok || result.changedRows < 1; }

    struct SqliteCloser {
        void operator()(sqlite3 *db) const;
    };
    class StatementCache;

    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<sqlite3, SqliteCloser> m_sqlitecon;
    std::unique_ptr<StatementCache> m_statements;
    std::unique_ptr<PostgresConnection> m_pgcon;
    bool m_integerDateTimes = true;

    QString m_dbVendor;
    Vendor m_vendor = Vendor::None;
    QString m_dbHost;
    QString m_dbUser;
    QString m_dbPassword;
    QString m_dbFallbackPassword;
    QString m_dbDatabase;
    bool m_createsMissingFile = true;
    QString m_lastErrorMessage;
    Failure m_lastFailure = Failure::None;
    quint64 m_failureCount = 0;
    // Why the statement running now failed, where its vendor branch knows better than "Other".
    Failure m_statementFailure = Failure::Other;
    QString m_midbasestring;
    std::atomic<bool> m_useauthentication{false};
    QString m_authusername;
    QString m_authusermid;
    QStringList m_authgroupmids;
    QString m_boundlogin;
    int m_transactionDepth = 0;
    // The transaction level that a failed statement undid (on SQLite, an I/O error such as a full
    // disk undoes the whole transaction); 0 when none. The failure's message goes with it.
    int m_abortedDepth = 0;
    QString m_abortMessage;
    bool m_lastErrorDiskFull = false;
    bool m_lastInsertFoundEarlierCopy = false;
    bool m_lastErrorLostConnection = false;
    bool m_lastErrorServerFull = false;
    bool m_abortDiskFull = false;
    bool m_abortLostConnection = false;
    // The limits of strvfile's columns on a server catalog: characters of a varchar, the largest
    // value of an integer; read at the first write of a session.
    struct ColumnLimit {
        qint64 maxCharacters = -1;
        qint64 maxNumber = -1;
    };
    std::optional<QHash<QString, ColumnLimit>> m_fileColumnLimits;
    // The read-only search: its stop request (set from any thread), whether the statements of the
    // moment must be read-only (SQLite) and the SQLSTATE of the last failed server statement.
    std::atomic<bool> m_searchStop{false};
    // The guard of the SQLite search running now (its clock and stop requests), for the pattern
    // functions that search puts in place; null outside one.
    void *m_searchGuard = nullptr;
    bool m_readOnlyStatementsOnly = false;
    bool m_refusedWritingStatement = false;
    // While a server search runs: when its session is given up if the server has not ended the
    // statement by then (executePostgres waits no longer, and never repeats it).
    std::optional<std::chrono::steady_clock::time_point> m_searchAbandonAt;
    std::function<bool()> m_searchStopRequested;
    QString m_lastSqlState;
    std::chrono::milliseconds m_answerWait{30000};
    // The pace of new sessions in place of lost ones (mayReplaceLostSession).
    std::optional<std::chrono::steady_clock::time_point> m_replacedAt;
    std::chrono::steady_clock::time_point m_nextReplacementAt;
    int m_replacementsInRow = 0;
    bool m_lastReplacementOpened = false;
};
