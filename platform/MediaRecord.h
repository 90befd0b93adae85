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
// Catalogs hold tens of thousands of files, so the 26 list keys live in fixed slots rather than in
// a map node each: a record costs about a third of what a QVariantMap with the same keys does, and
// a listing fills it without a single key comparison. Everything else behaves like a QVariantMap
// of strings; a key is present only once it was set.
//
// Windows and views that show the same file share one record through MediaRecordRef, so that an
// edit made through one holder is seen by all.
class MediaRecord
{
public:
    enum Field : std::uint8_t {
        Mid, DisplayTag, ServerName, ServerPath, AbsolutePath, FileSize, ImageWidth, ImageHeight,
        FileDts, Dts, Keywords, ShortDesc, FullDesc, PriceTag, ModRelAvailable, ModRelInfo,
        PropRelAvailable, PropRelInfo, CataloguedBy, VolumeType, VolumeName, Rating, Orientation,
        ImageSetMid, FileType, CategoryId,
    };
    static constexpr int fieldCount = 26;

    // The 26 keys, in the order of the media select list.
    static const QStringList &fieldKeys();
    // The slot of one of the 26 keys, or -1.
    static int fieldIndex(const QString &key);

    MediaRecord() = default;
    static MediaRecord fromVariantMap(const QVariantMap &map);

    // The text under one of the 26 keys ("" when not set).
    const QString &field(Field field) const { return m_fields[field]; }
    void setField(Field field, const QString &value);
    void setField(Field field, QString &&value);
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
    std::array<QString, fieldCount> m_fields;
    std::uint32_t m_present = 0;
    QVariantMap m_extra;
};

using MediaRecordRef = std::shared_ptr<MediaRecord>;
using MediaList = QList<MediaRecordRef>;

// Drops these references to records on a background thread, one list after another: where they
// are the last, the records are freed there, and a window replacing a list of 100,000 records
// need not wait for that. The list may hold other references too; they go with it.
void releaseInBackground(MediaList list);
void releaseInBackground(std::shared_ptr<MediaList> list);
