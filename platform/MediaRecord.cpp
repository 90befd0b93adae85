#include "platform/MediaRecord.h"

#include <QHash>
#include <QLocale>
#include <QRunnable>
#include <QThreadPool>

#include <memory>

namespace {

const QHash<QString, int> &fieldSlotsByKey()
{
    static const QHash<QString, int> fieldSlots = [] {
        QHash<QString, int> byKey;
        const QStringList &keys = MediaRecord::fieldKeys();
        for (int i = 0; i < keys.size(); ++i)
            byKey.insert(keys.at(i), i);
        return byKey;
    }();
    return fieldSlots;
}

QString textOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QByteArray:
        return value.toString();
    default:
        return QString();
    }
}

class Release final : public QRunnable
{
public:
    Release(MediaList list, std::shared_ptr<MediaList> shared) : m_list(std::move(list)), m_shared(std::move(shared)) {}
    void run() override
    {
        m_list = MediaList();
        m_shared.reset();
    }

private:
    MediaList m_list;
    std::shared_ptr<MediaList> m_shared;
};

void startRelease(MediaList list, std::shared_ptr<MediaList> shared)
{
    // One thread for all releases: they are rare, and taking them in turn keeps memory bounded.
    static QThreadPool &pool = []() -> QThreadPool & {
        static QThreadPool threads;
        threads.setMaxThreadCount(1);
        threads.setObjectName(QStringLiteral("media list release"));
        return threads;
    }();
    // The pool owns the task and deletes it once it has run.
    pool.start(std::make_unique<Release>(std::move(list), std::move(shared)).release());
}

} // namespace

void releaseInBackground(MediaList list)
{
    if (!list.isEmpty())
        startRelease(std::move(list), nullptr);
}

void releaseInBackground(std::shared_ptr<MediaList> list)
{
    if (list && !list->isEmpty())
        startRelease(MediaList(), std::move(list));
}

const QStringList &MediaRecord::fieldKeys()
{
    static const QStringList keys = {
        QStringLiteral("mid"), QStringLiteral("displaytag"), QStringLiteral("servername"),
        QStringLiteral("serverpath"), QStringLiteral("absolutepath"), QStringLiteral("filesize"),
        QStringLiteral("imagewidth"), QStringLiteral("imageheight"), QStringLiteral("filedts"),
        QStringLiteral("dts"), QStringLiteral("keywords"), QStringLiteral("shortdesc"),
        QStringLiteral("fulldesc"), QStringLiteral("pricetag"), QStringLiteral("modrelavailable"),
        QStringLiteral("modrelinfo"), QStringLiteral("proprelavailable"), QStringLiteral("proprelinfo"),
        QStringLiteral("cataloguedby"), QStringLiteral("volumetype"), QStringLiteral("volumename"),
        QStringLiteral("rating"), QStringLiteral("orientation"), QStringLiteral("imagesetmid"),
        QStringLiteral("filetype"), QStringLiteral("categoryid"),
    };
    return keys;
}

int MediaRecord::fieldIndex(const QString &key)
{
    const QHash<QString, int> &fieldSlots = fieldSlotsByKey();
    const auto it = fieldSlots.constFind(key);
    return it == fieldSlots.constEnd() ? -1 : it.value();
}

MediaRecord MediaRecord::fromVariantMap(const QVariantMap &map)
{
    MediaRecord record;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        record.insert(it.key(), it.value());
    return record;
}

void MediaRecord::setField(Field field, const QString &value)
{
    m_fields[field] = value;
    m_present |= 1u << field;
}

void MediaRecord::setField(Field field, QString &&value)
{
    m_fields[field] = std::move(value);
    m_present |= 1u << field;
}

bool MediaRecord::contains(const QString &key) const
{
    const int slot = fieldIndex(key);
    return slot >= 0 ? hasField(Field(slot)) : m_extra.contains(key);
}

QVariant MediaRecord::value(const QString &key) const
{
    const int slot = fieldIndex(key);
    if (slot < 0)
        return m_extra.value(key);
    return hasField(Field(slot)) ? QVariant(m_fields[size_t(slot)]) : QVariant();
}

QString MediaRecord::string(const QString &key) const
{
    const int slot = fieldIndex(key);
    if (slot >= 0)
        return m_fields[size_t(slot)];
    return textOf(m_extra.value(key));
}

void MediaRecord::insert(const QString &key, const QVariant &value)
{
    const int slot = fieldIndex(key);
    if (slot >= 0)
        setField(Field(slot), textOf(value));
    else
        m_extra.insert(key, value);
}

void MediaRecord::remove(const QString &key)
{
    const int slot = fieldIndex(key);
    if (slot < 0) {
        m_extra.remove(key);
        return;
    }
    m_fields[size_t(slot)] = QString();
    m_present &= ~(1u << slot);
}

QStringList MediaRecord::keys() const
{
    QStringList result;
    const QStringList &all = fieldKeys();
    for (int i = 0; i < fieldCount; ++i) {
        if (hasField(Field(i)))
            result.append(all.at(i));
    }
    result += m_extra.keys();
    return result;
}

QVariantMap MediaRecord::toVariantMap() const
{
    QVariantMap map = m_extra;
    const QStringList &all = fieldKeys();
    for (int i = 0; i < fieldCount; ++i) {
        if (hasField(Field(i)))
            map.insert(all.at(i), m_fields[size_t(i)]);
    }
    return map;
}

bool MediaRecord::operator==(const MediaRecord &other) const
{
    return m_present == other.m_present && m_fields == other.m_fields && m_extra == other.m_extra;
}
