#include "app/OVNOutputHandOff.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"

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

OVNCategoryAccess::Refusal OVNOutputHandOff::leftOutAlert(const QStringList &names)
{
    const QString title = names.size() == 1 ? localized("1 entry was left out.")
                                            : localized("%1 entries were left out.").arg(names.size());
    return {OVNCategoryAccess::Refusal::Reason::Privileges, title,
            localized("Your access privileges no longer let you see these entries, so they are not handed on:")
                + QStringLiteral("\n\n") + names.join(QLatin1Char('\n'))};
}
