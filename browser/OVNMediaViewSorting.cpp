#include "browser/OVNMediaViewSorting.h"

#include "platform/MediaRecord.h"

#include <algorithm>

namespace OVNMediaViewSorting {

namespace {

MediaRecord::Field fieldForCode(int code)
{
    switch (code) {
    case SortImportDate:
        return MediaRecord::Dts;
    case SortFileDate:
        return MediaRecord::FileDts;
    case SortRating:
        return MediaRecord::Rating;
    default:
        return MediaRecord::DisplayTag;
    }
}

int compareFolded(const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseInsensitive); }

} // namespace

bool isKnownSortCode(int code)
{
    const int base = code >= descendingFlag ? code - descendingFlag : code;
    return base >= SortImportDate && base <= SortRating;
}

int mediaSort(const MediaRecord &a, const MediaRecord &b, int code)
{
    bool descending = false;
    if (code > 511) {
        descending = true;
        code -= descendingFlag;
    }
    int result = 0;
    switch (code) {
    case SortImportDate:
    case SortName:
    case SortFileDate:
    case SortRating: {
        const MediaRecord::Field field = fieldForCode(code);
        result = compareFolded(a.field(field), b.field(field));
        break;
    }
    case SortExtension: {
        const QString &nameA = a.field(MediaRecord::DisplayTag);
        const QString &nameB = b.field(MediaRecord::DisplayTag);
        result = compareFolded(pathExtension(nameA), pathExtension(nameB));
        if (result == 0)
            result = compareFolded(nameA, nameB);
        break;
    }
    default:
        return 0;
    }
    return descending ? -result : result;
}

QString sortKey(const MediaRecord &record, int code)
{
    if (code >= descendingFlag)
        code -= descendingFlag;
    if (code == SortExtension)
        return pathExtension(record.field(MediaRecord::DisplayTag)).toCaseFolded();
    return record.field(fieldForCode(code)).toCaseFolded();
}

QString sortKeyForName(const MediaRecord &record) { return record.field(MediaRecord::DisplayTag).toCaseFolded(); }

QString pathExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return QString();
    return path.mid(dot + 1);
}

QString deletingPathExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return path;
    return path.left(dot);
}

bool tagContains(const QString &text, const QString &part)
{
    if (text.isEmpty() || part.isEmpty() || text.size() < part.size())
        return false;
    return text.contains(part, Qt::CaseSensitive);
}

bool lowerContains(const QString &value, const QString &filter)
{
    if (filter.isEmpty())
        return true;
    const qsizetype n = value.size();
    const qsizetype m = filter.size();
    const QChar *v = value.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (v[i].unicode() >= 0x80)
            return value.toLower().contains(filter);
    }
    if (m > n)
        return false;
    // ASCII value: lower-case each character on the fly instead of building a lowered copy.
    const QChar *f = filter.constData();
    for (qsizetype start = 0; start + m <= n; ++start) {
        qsizetype j = 0;
        for (; j < m; ++j) {
            char16_t c = v[start + j].unicode();
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + (u'a' - u'A'));
            if (c != f[j].unicode())
                break;
        }
        if (j == m)
            return true;
    }
    return false;
}

bool recordMatchesFilter(const MediaRecord &record, const QString &filter, const QString &key)
{
    if (!key.isEmpty()) {
        if (!record.contains(key))
            return false;
        return lowerContains(record.string(key), filter);
    }
    static constexpr MediaRecord::Field searched[] = {
        MediaRecord::DisplayTag,
        MediaRecord::Keywords,
        MediaRecord::ShortDesc,
        MediaRecord::FullDesc,
    };
    for (MediaRecord::Field field : searched) {
        if (record.hasField(field) && lowerContains(record.field(field), filter))
            return true;
    }
    return false;
}

bool groupKey(const MediaRecord &record, int code, QString *key)
{
    if (code >= descendingFlag)
        code -= descendingFlag;
    switch (code) {
    case SortImportDate:
    case SortFileDate: {
        const MediaRecord::Field field = code == SortImportDate ? MediaRecord::Dts : MediaRecord::FileDts;
        if (record.field(field).isEmpty())
            return false;
        const QString &date = record.field(field);
        qsizetype last = -1;
        for (qsizetype i = date.size() - 1; i >= 0; --i) {
            if (date.at(i).isSpace()) {
                last = i;
                break;
            }
        }
        *key = last > 0 ? date.left(last) : date;
        return true;
    }
    case SortName:
    case SortExtension: {
        if (record.field(MediaRecord::DisplayTag).isEmpty())
            return false;
        QString name = deletingPathExtension(record.field(MediaRecord::DisplayTag));
        if (code == SortExtension) {
            const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('-')), name.lastIndexOf(QLatin1Char('_')));
            if (cut > 0)
                name.truncate(cut);
        }
        *key = name;
        return true;
    }
    case SortRating:
        *key = record.field(MediaRecord::Rating);
        return true;
    default:
        return false;
    }
}

} // namespace OVNMediaViewSorting
