#pragma once

#include "catalogdb/OVNCategoryAccess.h"
#include "platform/MediaRecord.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class OVNDatabaseAccess;

// What the output actions (export, e-mail, web gallery, disc, printing, the clipboard, opening in
// another program) hand on, without any window: the records in order, and the page title.
struct OVNOutputHandOff {
    QList<MediaRecord> records;
    QString pageTitle;

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

    // The one alert that names the entries left out: its title and its text.
    static OVNCategoryAccess::Refusal leftOutAlert(const QStringList &names);
};
