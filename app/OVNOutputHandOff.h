#pragma once

#include "catalogdb/OVNCategoryAccess.h"
#include "output/OVNOutputCheck.h"
#include "platform/MediaRecord.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class OVNDatabaseAccess;
class QObject;

// What the output actions (export, e-mail, web gallery, disc, printing, the clipboard, opening in
// another program) hand on, without any window: the records in order, and the page title.
struct OVNOutputHandOff {
    QList<MediaRecord> records;
    QString pageTitle;
    // What the sheet that hands them on asks again when the user confirms it (see checkAtOutput).
    OVNOutputCheck check;

    // The records whose files exist, in order, with the title given (the one selected category's
    // name, or none); nothing as soon as one file is missing (the user is told, no sheet opens).
    // Null records are left out.
    static std::optional<OVNOutputHandOff> gather(const QList<MediaRecordRef> &records, const QString &pageTitle);

    // Which records the user may still read, asked of the catalog when the output starts: his
    // groups and each owning category's privileges as they are at that moment, whatever the window
    // showed when it loaded them. Every output road asks this before anything leaves the catalog.
    struct Readable {
        MediaList records;         // the readable ones, in order
        QStringList leftOutNames;  // the names of those left out, in order
        QSet<QString> leftOutMids; // their ids
        // Set when nothing may be handed on: the user is in no group any more (the start-up's
        // words), or his privileges could not be read.
        std::optional<OVNCategoryAccess::Refusal> refusal;
    };
    static Readable readableNow(OVNDatabaseAccess *db, const MediaList &records);

    // readableNow with its words: a refusal, or the entries left out, said in one alert on
    // `window`. The readable records (their ids left out in `leftOut`); nothing when nothing may
    // go out (refused, or every entry left out).
    static std::optional<MediaList> readableSaid(OVNDatabaseAccess *db, const MediaList &records, QObject *window,
                                                 QSet<QString> *leftOut = nullptr);
    // The same with `readable` already read (through ended sessions, say) for `records`.
    static std::optional<MediaList> said(const Readable &readable, const MediaList &records, QObject *window,
                                         QSet<QString> *leftOut = nullptr);

    // The one alert that says a file to hand on is missing, on `window`.
    static void showMissingFiles(QObject *window);
    // The one alert that names the entries left out: its title and its text.
    static OVNCategoryAccess::Refusal leftOutAlert(const QStringList &names);

    // The question an output sheet, a light table or an adjustment window asks when it shows or
    // hands on entries, which may be long after the window handed the records on: `readable` (the
    // window's read rule with its words, as readableSaid) over the records as they are then, for
    // as long as `window` is there. Once it is closed, on a catalog with users nothing goes out,
    // and an alert says why: its connection, the user it was bound to and its alerts went with
    // it, and an output nobody can ask about is one the rule would not have let through. On a
    // catalog without users (`withUsers` false) there is no rule to ask: everything goes, as the
    // window that handed them on would have let it.
    using ReadRule = std::function<std::optional<MediaList>(const MediaList &records)>;
    static OVNOutputCheck::Question checkAtOutput(QObject *window, ReadRule readable, bool withUsers = true);
    // Whether the catalog behind the connection has users, so that a read rule applies (asked of
    // the catalog now); true when it cannot be told, which is the careful answer.
    static bool catalogHasUsers(OVNDatabaseAccess *db);
    // The adjustment window's form of it for the one record it shows: whether it may go out now.
    static std::function<bool()> checkForRecord(OVNOutputCheck::Question question, const MediaRecord &record);
};
