#pragma once

#include <QList>
#include <QString>
#include <QVariant>

class UserDefaults;

// One value of the stored layout list that could not be used as it was, and what is read instead.
struct OVNLayoutProblem {
    int layout = 0; // index of the layout (the thumbnail style)
    QString key;    // the layout key, or "(layout)" for the whole entry
    QString reason; // what was wrong and what stands in
};

// The stored list as every reader sees it: always the four layouts of the thumbnail styles.
struct OVNLayoutListReading {
    QVariant stored;       // the preference as it was found, for keeping a copy
    QVariantList layouts;  // four layouts, repaired where needed
    QList<bool> fromStore; // per layout: read from the stored list (else a built-in one)
    QList<OVNLayoutProblem> problems;

    bool repaired() const { return !problems.isEmpty(); }
};

// The one reading of the preference "ThumbnailLayoutList", shared by the thumbnail views and the
// layout editor. The preference is plain property-list data that anyone may have edited, so it is
// read defensively: whatever it holds, the result is four usable layouts, keys this version does
// not know stay as stored, and each value that had to be replaced is named. Reading never writes.
class OVNThumbnailLayoutList
{
public:
    OVNThumbnailLayoutList() = delete;

    static const QString preferenceKey; // "ThumbnailLayoutList"
    static constexpr int layoutCount = 4;

    // Reads a stored value (invalid when the preference is absent).
    static OVNLayoutListReading read(const QVariant &stored);
    // Reads the preference; the first repaired reading of a run is reported on standard error.
    static OVNLayoutListReading read(const UserDefaults &defaults);

    // One line per problem: "layout 2 "Plain Image View with Title", udfTopBarLeft: ...".
    static QStringList problemLines(const OVNLayoutListReading &reading);
    // The message for the user: what was repaired, and where the stored list will be kept (when
    // `keptCopyPath` is not empty). Empty when nothing was repaired.
    static QString message(const OVNLayoutListReading &reading, const QString &keptCopyPath);

    // Where a repaired list is kept before it is first replaced: a free name beside the
    // preferences file. Empty when the preferences live in memory only.
    static QString keptCopyPath(const UserDefaults &defaults);
    // Writes the stored value as an XML property list; false with a sentence in `error` on failure.
    static bool writeKeptCopy(const QVariant &stored, const QString &path, QString *error);
};
