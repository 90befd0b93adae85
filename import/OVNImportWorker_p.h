#pragma once

// What the import's two pools of threads share: which file a thread may start next while the
// results are taken in list order.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstddef>

namespace OVNImportHandOut {

// About the bytes a value holds: text, data, and maps and lists of them.
inline qint64 weightOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return 2 * value.toString().size();
    case QMetaType::QByteArray:
        return value.toByteArray().size();
    case QMetaType::QVariantMap: {
        qint64 weight = 0;
        const QVariantMap map = value.toMap();
        for (auto entry = map.cbegin(); entry != map.cend(); ++entry)
            weight += 64 + 2 * entry.key().size() + weightOf(entry.value());
        return weight;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        qint64 weight = 0;
        for (const QVariant &item : value.toList())
            weight += 32 + weightOf(item);
        return weight;
    }
    default:
        return 16;
    }
}

// The files of a list are started in order and their results taken in order. A file is started
// while it is at most `maxAhead` past the oldest one not taken yet, and beyond that while the
// finished results that wait for their turn weigh less than `budget`: a file that takes long holds
// back only its own result, not the other threads, and what waits behind it stays bounded.
// Kept under the pool's lock.
struct Window {
    size_t maxAhead = 1;
    qint64 budget = 64 * 1024 * 1024;
    size_t next = 0;     // the next file to start
    size_t consumed = 0; // results taken
    qint64 waiting = 0;  // the weight of the finished results not taken yet

    bool mayStartNext() const { return next < consumed + maxAhead || waiting < budget; }
};

} // namespace OVNImportHandOut
