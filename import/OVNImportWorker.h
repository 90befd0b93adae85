#pragma once

#include "catalogdb/OVNDBHelper.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class OVNDatabaseAccess;

// The work of one import, without any window: expands the list of files and folders, copies or
// moves each file when asked, makes its record and thumbnail, inserts the records into one
// category and pre-fills them.
//
// Files are processed in parallel on a bounded pool of threads, and the records are stored in the
// order of the list: a finished file waits only for the files before it that are still being read,
// and a file that holds the head of the list for more than half a second is passed over and stored
// when it finishes, so that a file that takes long holds back no other for longer than that. A
// cancel or a crash keeps what was stored before it. The record ids follow the order of the list
// (each item's id is given out before any later one's). The threads keep going for as long as the records not yet
// stored stay small in all (so memory stays bounded whatever the number of files); the records are
// inserted in transactions of a few hundred (or of half a second, so that other writers are not
// locked out of a SQLite catalog for long). Every insert
// has a savepoint of its own: one refused insert loses no other. A file that cannot be catalogued
// is listed with its reason and the import goes on; so are the paths the folder expansion leaves
// out (pipes, devices, links to nothing, unreadable names and folders). A failed copy or move ends
// the import (files already copied for the files after it are taken back).
//
// When the catalog server goes away or ends the import's session, the import waits for it (trying
// again every second), opens a new session and goes on, putting in again what the lost session
// took with it; a batch whose commit went unanswered is looked up first, so that nothing is
// stored twice. It goes on however often that happens; it stops only when the server cannot be
// reached for the stated time (or answers, but for that long nothing can be stored), and then
// lists what was not imported.
//
// Before each transaction is committed the user's membership and level on the category are read
// afresh: when he may no longer write there, that transaction is undone and the import stops; what
// was stored before stays, the rest is listed as not imported, with the reason.
//
// Cancel keeps everything inserted so far and ends the import at once: files still being made
// are not waited for; their threads finish them in the background and drop them. So does a file
// whose thread stays stuck past the file's time limit (on a mount that stopped answering): it is
// listed as not read in time, and a new thread takes the stuck one's place. The time of a file
// runs from when it is where it is imported from: a copy or move into the destination folder,
// which takes long for a large file, is not limited. The folders given are listed under the
// same limit, each one: a folder that cannot be listed in time is left out and named.
//
// The worker gets its own catalog connection from the maker, on its own thread.
class OVNImportWorker
{
public:
    using ConnectionMaker = std::function<std::unique_ptr<OVNDatabaseAccess>()>;

    struct Settings {
        QString categoryId;
        // The folder a smart import files its collections into: it must stay writable too.
        QString folderId;
        QString destinationFolder; // where files are copied or moved first; empty for none
        bool copyOnProcess = false;
        bool moveOnProcess = false;
        bool processAsRemovable = false;
        QString volumeName;
        QString volumeType;
        bool prefillEnabled = false;
        QVariantMap prefillInfo;
        QVariantMap prefillPurchased;
        QVariantMap prefillSold;
        OVNPrefillWords prefillWords;
        int threadCount = 0;           // 0: one per processor
        int batchSize = 250;           // records per transaction
        int reconnectWaitSeconds = 30; // how long a catalog server that went away is waited for
        // How long a file still being read may hold the head of the list while later files are
        // finished, before it is passed over and stored when it finishes.
        int headHoldMilliseconds = 500;
        // How long past its deadline a file's thread may stay stuck in one call (a stat or a read
        // on a mount that stopped answering, which no deadline ends) before the import gives up
        // on it: the file is listed as not read in time and a new thread takes the old one's place.
        int stallGraceMilliseconds = 10'000;
        // Called on the processing thread as each file's reading starts, once it is copied or moved
        // where it is imported from, and as a re-scan starts reading each file again (tests stand
        // in a slow file).
        std::function<void(const QString &path)> fileStarted;
    };

    struct Failure {
        QString path;
        QString reason;
        // The file is in the catalog all the same (with an icon, or without some details).
        bool catalogued = false;
    };

    struct Summary {
        int total = 0; // files in the expanded list
        // Paths named or found that the expansion passed over (a file that is not there, a folder
        // that cannot be read, a name that is not valid UTF-8), each listed in failures.
        int passedOver = 0;
        int processed = 0;         // files handled (inserted, skipped or failed)
        QStringList importedIds;   // the new records, in list order
        QStringList importedPaths; // the file of each record of importedIds, in the same order
        QList<Failure> failures;   // files not catalogued, or catalogued with a problem
        // The paths of the list that are not in the catalog at the end (leaving out those that a
        // cancel left unprocessed).
        QStringList notImported;
        // After a cancel: the paths of the list that it left unprocessed (neither stored nor in
        // notImported), so that whoever cancelled can say what was not imported.
        QStringList notReached;
        // The folders among the paths passed over (and not imported) that were left out unread, as
        // a stop or a mount that stopped answering left them: their files are not known, and are
        // counted nowhere.
        QStringList foldersNotRead;
        bool cancelled = false;
        bool connectionFailed = false;
        // The catalog could not be reached again and the import stopped.
        bool catalogLost = false;
        // The disk that holds the catalog is full and the import stopped.
        bool diskFull = false;
        // The user may no longer write where the import writes, and it stopped.
        bool writeRefused = false;
        // Set when a copy or move failed, the catalog was lost, its disk is full or the user may no
        // longer write there, and that ended the import.
        QString abortTitle;
        QString abortMessage;
        QString abortStatus;
        // Smart import: the collections made, in order, with the files handled for each.
        struct Collection {
            QString name;
            QString id;
            int count = 0;
        };
        QList<Collection> collections;
        // Smart import: a folder with more files than one collection takes, and the collections its
        // files were filed into, in order.
        struct Split {
            QString name;
            QStringList collections;
            int files = 0;
        };
        QList<Split> splits;
        int collectionLimit = 0; // the most files one collection of a smart import takes
    };

    // Called on the worker's thread.
    class Observer
    {
    public:
        virtual ~Observer() = default;
        virtual void importStatus(const QString &text) { (void)text; }
        virtual void importStarted(int total) { (void)total; }
        // After each file (position from 1), with its thumbnail when it got one.
        virtual void importProgress(int position, int total, const QString &path, const QByteArray &thumbnail)
        {
            (void)position;
            (void)total;
            (void)path;
            (void)thumbnail;
        }
        virtual void importFinished(const Summary &summary) { (void)summary; }
    };

    OVNImportWorker(ConnectionMaker connections, Settings settings);
    // Cancels a running import and waits for it.
    ~OVNImportWorker();
    OVNImportWorker(const OVNImportWorker &) = delete;
    OVNImportWorker &operator=(const OVNImportWorker &) = delete;

    // Runs the whole import on the calling thread. Items are path strings or dictionaries with
    // "PATH" and optional "COMMENT", "RATING", "KEYWORDS" and "APPEND" (record columns whose
    // values follow the file's own, after a blank).
    Summary run(const QVariantList &items, Observer *observer = nullptr);
    // The same on a thread of its own; returns at once.
    void start(const QVariantList &items, Observer *observer);
    // Re-processes catalogued entries ({"mid", "absolutepath"}) on the calling thread: a new
    // thumbnail, orientation and import date for each whose file is there; the others keep theirs.
    Summary reprocess(const QVariantList &records, Observer *observer = nullptr);
    void startReprocess(const QVariantList &records, Observer *observer);
    // Smart import: files and folders filed into new collections under the folder `folderId`.
    // Loose files go into one named after their folder (the single folder given alone, which
    // stands for its entries, or the first loose file's), each top-level folder into one named
    // after it; a collection continues in "NAME-1", "NAME-2"... after
    // `maxFiles` files (0: 1000), made only when a file is left for it. One finish at the end.
    Summary runSmart(const QVariantList &items, const QString &folderId, int maxFiles, Observer *observer = nullptr);
    void startSmart(const QVariantList &items, const QString &folderId, int maxFiles, Observer *observer);
    static int smartMaximum(int stored) { return stored > 0 ? stored : 1000; }

    // Ends the import at once; what was inserted stays, files still being made are dropped.
    void cancel() { m_cancelled->store(true); }
    bool isCancelled() const { return m_cancelled->load(); }
    // Waits for a started import.
    void wait();

    // The text a failed copy or move shows.
    static QString copyFailedMessage(bool move, const QString &source, const QString &target);
    // "3 files were not imported.", and " 1 folder was not read." after it when a folder was left
    // out unread: such a folder counts as no file, as what it holds is not known.
    static QString notImportedText(const Summary &summary);

    // Waits up to `timeoutMs` for files that cancelled imports and re-scans left being made, and
    // for their reads on threads of their own, so that none is still at work while the program
    // ends. Whether none is left. A thread or read given up on as stuck (on a mount that stopped
    // answering) is not waited for.
    static bool waitForAbandonedFiles(int timeoutMs);

private:
    // The worker's connection from the maker. A server that does not answer, or ends the session
    // while the connection is being opened, is waited for as a running import waits for it.
    std::unique_ptr<OVNDatabaseAccess> openConnection(Observer *observer);
    // The import on a connection of the caller's (smart import uses one for all its parts).
    Summary runOn(OVNDatabaseAccess &connection, const QVariantList &items, Observer *observer);

    // Why the last import stopped, kept so that a smart import can say how many files of its whole
    // list were not imported.
    struct Stop {
        enum class Kind { None, Refused, DiskFull, Unreachable, SessionsKeptEnding };
        Kind kind = Kind::None;
        QString cause; // the refusal's text
        int sessionLosses = 0;
        qsizetype uncertain = 0; // files the catalog may hold
    };
    // The stop's message, naming the count of files not imported and, apart, of folders not read.
    QString stopMessage(const Stop &stop, const Summary &summary) const;

    ConnectionMaker m_connections;
    Settings m_settings;
    Stop m_stop;
    // Shared with the threads that make records, which may outlive a cancelled import.
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    std::thread m_thread;
};
