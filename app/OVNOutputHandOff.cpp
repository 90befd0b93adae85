#include "app/OVNOutputHandOff.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"

#include <QPointer>

std::optional<OVNOutputHandOff> OVNOutputHandOff::gather(const QList<MediaRecordRef> &records, const QString &pageTitle)
{
    OVNOutputHandOff handOff;
    bool missing = false;
    for (const MediaRecordRef &record : records) {
        if (!record)
            continue;
        if (OVNHelper::fileExistsAtPath(record->field(MediaRecord::AbsolutePath)))
            handOff.records.append(*record);
        else
            missing = true;
    }
    if (missing)
        return std::nullopt;
    handOff.pageTitle = pageTitle;
    return handOff;
}

OVNOutputHandOff::Readable OVNOutputHandOff::readableNow(OVNDatabaseAccess *db, const MediaList &records)
{
    Readable answer;
    MediaList given;
    for (const MediaRecordRef &record : records) {
        if (record)
            given.append(record);
    }
    if (!db) {
        answer.records = given;
        return answer;
    }
    if (auto refusal = OVNCategoryAccess::membershipRefusalNow(*db)) {
        if (refusal->reason == OVNCategoryAccess::Refusal::Reason::Excluded)
            refusal->text = OVNCategoryAccess::loginRefusalText(*db, db->boundLogin()) + QStringLiteral("\n\n")
                            + localized("Nothing was handed on.");
        answer.refusal = std::move(refusal);
        return answer;
    }
    const std::optional<MediaList> readable = OVNCategoryAccess::readableNow(*db, given);
    if (!readable) {
        answer.refusal = OVNCategoryAccess::readFailure(*db);
        return answer;
    }
    answer.records = *readable;
    QSet<const MediaRecord *> kept;
    for (const MediaRecordRef &record : *readable)
        kept.insert(record.get());
    for (const MediaRecordRef &record : given) {
        if (kept.contains(record.get()))
            continue;
        answer.leftOutNames.append(record->field(MediaRecord::DisplayTag));
        answer.leftOutMids.insert(record->field(MediaRecord::Mid));
    }
    return answer;
}

void OVNOutputHandOff::showMissingFiles(QObject *window)
{
    Alerts::display(localized("Media file not found."),
                    localized("At least one media file could not be located. Please check the media file path for "
                              "the selected files and make sure the original files are available."),
                    window);
}

OVNCategoryAccess::Refusal OVNOutputHandOff::leftOutAlert(const QStringList &names)
{
    const QString title = countedText(names.size(), "%1 entry was left out.", "%1 entries were left out.");
    return {OVNCategoryAccess::Refusal::Reason::Privileges, title,
            localized("Your access privileges no longer let you see these entries, so they are not handed on:")
                + QStringLiteral("\n\n") + Alerts::namedList(names)};
}

std::optional<MediaList> OVNOutputHandOff::readableSaid(OVNDatabaseAccess *db, const MediaList &records,
                                                        QObject *window, QSet<QString> *leftOut)
{
    return said(readableNow(db, records), records, window, leftOut);
}

std::optional<MediaList> OVNOutputHandOff::said(const Readable &readable, const MediaList &records, QObject *window,
                                                QSet<QString> *leftOut)
{
    if (readable.refusal) {
        Alerts::display(readable.refusal->title, readable.refusal->text, window);
        return std::nullopt;
    }
    if (!readable.leftOutNames.isEmpty()) {
        const OVNCategoryAccess::Refusal alert = leftOutAlert(readable.leftOutNames);
        Alerts::display(alert.title, alert.text, window);
    }
    if (leftOut)
        *leftOut = readable.leftOutMids;
    if (readable.records.isEmpty() && !records.isEmpty())
        return std::nullopt;
    return readable.records;
}

bool OVNOutputHandOff::catalogHasUsers(OVNDatabaseAccess *db)
{
    if (!db)
        return false;
    // Only a server's catalog has user tables; whether it has them now is asked afresh.
    if (db->vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
        return false;
    const quint64 failures = db->failureCount();
    return db->useAuthentication() || db->checkForUserManagerSetup() || db->failureCount() != failures;
}

OVNOutputCheck::Question OVNOutputHandOff::checkAtOutput(QObject *window, ReadRule readable, bool withUsers)
{
    return [window = QPointer<QObject>(window), readable = std::move(readable),
            withUsers](const QList<MediaRecord> &records) -> std::optional<QList<MediaRecord>> {
        if (!window && !withUsers)
            return records;
        if (!window) {
            Alerts::display(localized("Nothing was handed on."),
                            localized("The catalog window these entries came from was closed, so your access "
                                      "privileges cannot be asked any more. Open them again from a catalog window."));
            return std::nullopt;
        }
        MediaList given;
        for (const MediaRecord &record : records)
            given.append(std::make_shared<MediaRecord>(record));
        const std::optional<MediaList> answer = readable(given);
        if (!answer)
            return std::nullopt;
        QList<MediaRecord> kept;
        for (const MediaRecordRef &record : *answer)
            kept.append(*record);
        return kept;
    };
}

std::function<bool()> OVNOutputHandOff::checkForRecord(OVNOutputCheck::Question question, const MediaRecord &record)
{
    return [check = OVNOutputCheck(std::move(question)), record] { return check.now({record}).has_value(); };
}
