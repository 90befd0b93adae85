#include "platform/MediaRecord.h"
#include "platform/CatalogNames.h"

#include <QHash>
#include <QLocale>
#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
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
        CatalogNames::keyMid,           QStringLiteral("displaytag"),       QStringLiteral("servername"),
        QStringLiteral("serverpath"),   QStringLiteral("absolutepath"),     QStringLiteral("filesize"),
        QStringLiteral("imagewidth"),   QStringLiteral("imageheight"),      QStringLiteral("filedts"),
        QStringLiteral("dts"),          QStringLiteral("keywords"),         QStringLiteral("shortdesc"),
        QStringLiteral("fulldesc"),     QStringLiteral("pricetag"),         QStringLiteral("modrelavailable"),
        QStringLiteral("modrelinfo"),   QStringLiteral("proprelavailable"), QStringLiteral("proprelinfo"),
        QStringLiteral("cataloguedby"), QStringLiteral("volumetype"),       QStringLiteral("volumename"),
        QStringLiteral("rating"),       QStringLiteral("orientation"),      QStringLiteral("imagesetmid"),
        QStringLiteral("filetype"),     QStringLiteral("categoryid"),
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

MediaRecord::MediaRecord(const MediaRecord &other)
    : m_present(other.m_present),
      m_filled(other.m_filled),
      m_emptyNotNull(other.m_emptyNotNull),
      m_inline(other.m_inline),
      m_extra(other.m_extra)
{
    const int beyond = countBits(m_filled) - inlineCount;
    if (beyond > 0) {
        m_overflow = std::make_unique<QString[]>(size_t(beyond));
        std::copy_n(other.m_overflow.get(), beyond, m_overflow.get());
    }
}

MediaRecord &MediaRecord::operator=(const MediaRecord &other)
{
    if (this != &other)
        *this = MediaRecord(other);
    return *this;
}

const QString &MediaRecord::nullText()
{
    static const QString null;
    return null;
}

const QString &MediaRecord::emptyText()
{
    static const QString empty = QStringLiteral("");
    return empty;
}

std::array<QString, MediaRecord::fieldCount> MediaRecord::takeTexts()
{
    std::array<QString, fieldCount> texts;
    int index = 0;
    for (int i = 0; i < fieldCount; ++i) {
        if (m_filled & (1u << i)) {
            texts[size_t(i)] =
                std::move(index < inlineCount ? m_inline[size_t(index)] : m_overflow[size_t(index - inlineCount)]);
            ++index;
        }
    }
    m_overflow.reset();
    m_filled = 0;
    return texts;
}

void MediaRecord::placeTexts(std::uint32_t filled, std::array<QString, fieldCount> &texts)
{
    const int beyond = countBits(filled) - inlineCount;
    m_overflow = beyond > 0 ? std::make_unique<QString[]>(size_t(beyond)) : nullptr;
    int index = 0;
    for (int i = 0; i < fieldCount; ++i) {
        if (filled & (1u << i)) {
            (index < inlineCount ? m_inline[size_t(index)] : m_overflow[size_t(index - inlineCount)]) =
                std::move(texts[size_t(i)]);
            ++index;
        }
    }
    for (; index < inlineCount; ++index)
        m_inline[size_t(index)] = QString();
    m_filled = filled;
}

void MediaRecord::setField(Field field, const QString &value) { setField(field, QString(value)); }

void MediaRecord::setField(Field field, QString &&value)
{
    const std::uint32_t bit = 1u << field;
    m_present |= bit;
    m_emptyNotNull = value.isEmpty() && !value.isNull() ? m_emptyNotNull | bit : m_emptyNotNull & ~bit;
    if ((m_filled & bit) && !value.isEmpty()) {
        const int index = textIndex(field);
        (index < inlineCount ? m_inline[size_t(index)] : m_overflow[size_t(index - inlineCount)]) = std::move(value);
        return;
    }
    if (!(m_filled & bit) && value.isEmpty())
        return;
    // A key gains or loses its text: the texts after it move by one.
    const std::uint32_t filled = value.isEmpty() ? m_filled & ~bit : m_filled | bit;
    std::array<QString, fieldCount> texts = takeTexts();
    texts[size_t(field)] = std::move(value);
    placeTexts(filled, texts);
}

void MediaRecord::setAllFields(std::array<QString, fieldCount> &&texts)
{
    std::uint32_t filled = 0;
    std::uint32_t emptyNotNull = 0;
    for (int i = 0; i < fieldCount; ++i) {
        if (!texts[size_t(i)].isEmpty())
            filled |= 1u << i;
        else if (!texts[size_t(i)].isNull())
            emptyNotNull |= 1u << i;
    }
    placeTexts(filled, texts);
    m_emptyNotNull = emptyNotNull;
    m_present = allFields;
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
    return hasField(Field(slot)) ? QVariant(field(Field(slot))) : QVariant();
}

QString MediaRecord::string(const QString &key) const
{
    const int slot = fieldIndex(key);
    if (slot >= 0)
        return field(Field(slot));
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
    setField(Field(slot), QString());
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
            map.insert(all.at(i), field(Field(i)));
    }
    return map;
}

bool MediaRecord::operator==(const MediaRecord &other) const
{
    // As QStrings compare: a null text equals "".
    if (m_present != other.m_present || m_filled != other.m_filled || m_extra != other.m_extra)
        return false;
    for (int index = 0; index < countBits(m_filled); ++index) {
        if (text(index) != other.text(index))
            return false;
    }
    return true;
}
