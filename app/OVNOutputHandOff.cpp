#include "app/OVNOutputHandOff.h"

#include "formats/OVNHelper.h"

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
