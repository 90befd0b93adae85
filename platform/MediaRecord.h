#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <memory>

// The record of one catalogued file: a dictionary of strings under the 26 keys that every media
// list carries ("mid", "displaytag", ... "categoryid", in the order of the media select list), plus
// whatever other keys its holders add ("thumbimage", "preloaded", "group", "keyframe", ...).
//
// Catalogs hold hundreds of thousands of files, so the 26 list keys live in slots rather than in a
// map node each, and only the non-empty texts take a slot: a listed record leaves several columns
// empty, and a bit says which keys are set, which are empty and whether an empty text is null.
// The first texts sit in the record itself, so that sorting and filtering read a record's names
// without a second look-up; the few beyond go to an array of their own. A listing fills a record
// without a single key comparison. Everything else behaves like a QVariantMap of strings; a key is
// present only once it was set.
// Windows and views that show the same file share one record through MediaRecordRef, so that an
// edit made through one holder is seen by all.
class MediaRecord
{
public:
    enum Field : std::uint8_t {
        Mid,
        DisplayTag,
        ServerName,
        ServerPath,
        AbsolutePath,
        FileSize,
        ImageWidth,
        ImageHeight,
        FileDts,
        Dts,
        Keywords,
        ShortDesc,
        FullDesc,
        PriceTag,
        ModRelAvailable,
        ModRelInfo,
        PropRelAvailable,
        PropRelInfo,
        CataloguedBy,
        VolumeType,
        VolumeName,
        Rating,
        Orientation,
        ImageSetMid,
        FileType,
        CategoryId,
    };
    static constexpr int fieldCount = 26;
    static constexpr std::uint32_t allFields = (1u << fieldCount) - 1u;

    // The 26 keys, in the order of the media select list.
    static const QStringList &fieldKeys();
    // The slot of one of the 26 keys, or -1.
    static int fieldIndex(const QString &key);

    MediaRecord() = default;
    MediaRecord(const MediaRecord &other);
    MediaRecord &operator=(const MediaRecord &other);
    MediaRecord(MediaRecord &&) noexcept = default;
    MediaRecord &operator=(MediaRecord &&) noexcept = default;
    ~MediaRecord() = default;
    static MediaRecord fromVariantMap(const QVariantMap &map);

    // The text under one of the 26 keys ("" when not set). The reference lasts until the record's
    // list keys are changed.
    const QString &field(Field field) const;
    void setField(Field field, const QString &value);
    void setField(Field field, QString &&value);
    // Sets all 26 keys at once, as a listing does (one allocation instead of one per text).
    void setAllFields(std::array<QString, fieldCount> &&texts);
    bool hasField(Field field) const { return (m_present >> field) & 1u; }

    // QVariantMap-like access by key. A value stored under one of the 26 keys is kept as its text.
    bool contains(const QString &key) const;
    // The value, or an invalid QVariant when the key is not set.
    QVariant value(const QString &key) const;
    // The value's text form ("" when not set or not text-like).
    QString string(const QString &key) const;
    void insert(const QString &key, const QVariant &value);
    void remove(const QString &key);
    // The set keys: the list keys in select order, then the others in key order.
    QStringList keys() const;
    bool isEmpty() const { return m_present == 0 && m_extra.isEmpty(); }

    QVariantMap toVariantMap() const;

    bool operator==(const MediaRecord &other) const;
    bool operator!=(const MediaRecord &other) const { return !(*this == other); }

private:
    static const QString &nullText();
    static const QString &emptyText();
    static constexpr int inlineCount = 18;
    // The position among the non-empty texts of a key that has one.
    int textIndex(Field field) const;
    const QString &text(int index) const
    {
        return index < inlineCount ? m_inline[size_t(index)] : m_overflow[size_t(index - inlineCount)];
    }
    // Puts `texts` (indexed by key) in place as the texts of the keys in `filled`.
    void placeTexts(std::uint32_t filled, std::array<QString, fieldCount> &texts);
    // Every text, indexed by key, taken out of the record.
    std::array<QString, fieldCount> takeTexts();

    // Without the processor's own instruction, which the build does not assume, std::popcount
    // is a call into the compiler's library.
    static int countBits(std::uint32_t bits)
    {
        bits = bits - ((bits >> 1) & 0x55555555u);
        bits = (bits & 0x33333333u) + ((bits >> 2) & 0x33333333u);
        return int((((bits + (bits >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
    }

    // The bits first: a look-up reads them and the first texts from the same cache line.
    std::uint32_t m_present = 0;               // the set keys
    std::uint32_t m_filled = 0;                // the set keys with a non-empty text
    std::uint32_t m_emptyNotNull = 0;          // the set keys whose text is "" rather than null
    std::array<QString, inlineCount> m_inline; // the non-empty texts, in key order
    std::unique_ptr<QString[]> m_overflow;     // the ones beyond
    QVariantMap m_extra;
};

inline const QString &MediaRecord::field(Field field) const
{
    const std::uint32_t bit = 1u << field;
    if (m_filled & bit)
        return text(textIndex(field));
    return m_emptyNotNull & bit ? emptyText() : nullText();
}

inline int MediaRecord::textIndex(Field field) const { return countBits(m_filled & ((1u << field) - 1u)); }

using MediaRecordRef = std::shared_ptr<MediaRecord>;
using MediaList = QList<MediaRecordRef>;

// Drops these references to records on a background thread, one list after another: where they
// are the last, the records are freed there, and a window replacing a list of 100,000 records
// need not wait for that. The list may hold other references too; they go with it.
void releaseInBackground(MediaList list);
void releaseInBackground(std::shared_ptr<MediaList> list);
