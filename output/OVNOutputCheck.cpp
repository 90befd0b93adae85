#include "output/OVNOutputCheck.h"

std::optional<QList<MediaRecord>> OVNOutputCheck::now(const QList<MediaRecord> &records) const
{
    if (!m_question)
        return records;
    std::optional<QList<MediaRecord>> answer = m_question(records);
    if (!answer || (answer->isEmpty() && !records.isEmpty()))
        return std::nullopt;
    return answer;
}

QStringList OVNOutputCheck::paths(const QList<MediaRecord> &records)
{
    QStringList paths;
    for (const MediaRecord &record : records)
        paths.append(record.field(MediaRecord::AbsolutePath));
    return paths;
}
