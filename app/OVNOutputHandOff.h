#pragma once

#include "platform/MediaRecord.h"

#include <QList>
#include <QString>

#include <optional>

// What the output actions (export, e-mail, web gallery, disc) hand on, without any window: the
// records in order, and the page title.
struct OVNOutputHandOff {
    QList<MediaRecord> records;
    QString pageTitle;

    // The records whose files exist, in order, with the title given (the one selected category's
    // name, or none); nothing as soon as one file is missing (the user is told, no sheet opens).
    // Null records are left out.
    static std::optional<OVNOutputHandOff> gather(const QList<MediaRecordRef> &records, const QString &pageTitle);
};
