#pragma once

#include <QString>

class MediaRecord;

// The pure rules behind the thumbnail view's filter, sort and automatic stacks, kept apart from the
// widget so that they can be tested and measured on their own.
namespace OVNMediaViewSorting {

// Sort codes: 0 none, 1 import date, 2 name, 3 file extension then name, 4 file date, 5 rating;
// adding 512 sorts descending.
enum SortCode { SortNone = 0, SortImportDate = 1, SortName = 2, SortExtension = 3, SortFileDate = 4, SortRating = 5 };
constexpr int descendingFlag = 512;

// True for the codes 1 to 5 (direction flag allowed): any other code leaves a list as it is.
bool isKnownSortCode(int code);

// Compares two records by a sort code (plus 512 for descending): negative, 0 or positive, as a
// case-insensitive text comparison; a missing value counts as the empty text. Unknown codes answer 0.
int mediaSort(const MediaRecord &a, const MediaRecord &b, int code);

// The key a record sorts by under a code (direction ignored): the case-folded text, so that sorting
// many records compares plain strings. Code 3 gives the folded extension; the name is the
// secondary key (sortKeyForName).
QString sortKey(const MediaRecord &record, int code);
QString sortKeyForName(const MediaRecord &record);

// "photo.JPG" -> "JPG"; the extension of the last path component, "" when it has none (a name that
// starts with its only dot has none either).
QString pathExtension(const QString &path);
// The path without the extension pathExtension() finds (and without its dot).
QString deletingPathExtension(const QString &path);

// The case-sensitive, literal substring test of the view: false when either text is empty or the
// text is shorter than the part.
bool tagContains(const QString &text, const QString &part);

// Whether the lower-cased value contains the filter, which is compared as given (owners pass it
// lower-cased, so an upper-case filter matches nothing). Fast for ASCII values, exact for all.
bool lowerContains(const QString &value, const QString &filter);

// Whether a record passes a filter: with a key its value for the key, without one any of
// "displaytag", "keywords", "shortdesc" and "fulldesc". A missing value does not match.
bool recordMatchesFilter(const MediaRecord &record, const QString &filter, const QString &key);

// The key that automatic stacking groups adjacent records by under a sort code, or nothing when the
// record can never join a run (code 0, or a missing or empty date or name).
// Codes 1 and 4: the date text before its last whitespace character (the day of "date time");
// code 2: the name without extension; code 3: that, cut before its last "-" or "_" when found after
// the first character; code 5: the rating, a missing one counted as "".
bool groupKey(const MediaRecord &record, int code, QString *key);

} // namespace OVNMediaViewSorting
