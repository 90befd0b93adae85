#pragma once

#include "platform/MediaRecord.h"

#include <QList>

#include <functional>
#include <optional>

// The last word on what an output sheet hands on, asked when the user confirms the sheet (which
// may be long after it opened) and before anything is written. The sheets know no catalog: whoever
// opens one gives it the question (the catalog window asks its read rule at that moment) and says
// itself why anything is left out or nothing goes.
class OVNOutputCheck
{
public:
    // The records that may go out now, in their order; nothing to stop the output.
    using Question = std::function<std::optional<QList<MediaRecord>>(const QList<MediaRecord> &records)>;

    OVNOutputCheck() = default;
    explicit OVNOutputCheck(Question question) : m_question(std::move(question)) {}

    bool isSet() const { return bool(m_question); }
    // What may go out of `records` now: all of them when no question was given; nothing when the
    // answer stops the output or keeps none of them. An empty list is asked too (the question may
    // stop even that), and stays empty.
    std::optional<QList<MediaRecord>> now(const QList<MediaRecord> &records) const;
    // The files of the records, in order (what the disc sheet writes).
    static QStringList paths(const QList<MediaRecord> &records);

private:
    Question m_question;
};
