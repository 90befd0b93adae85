#pragma once

#include "formats/FileTypeEntry.h"

#include <QHash>
#include <QSet>
#include <QSize>
#include <QString>

// The file-type table: which loader reads a file (processor), which window shows it (viewer),
// whether its metadata is scanned, the media type it is filed under and its thumbnail size.
//
// Each user of the table makes its own instance, which starts from the preference
// "FileTypeMapping" (or the built-in set) and keeps its copy for its life. Every edit saves the
// whole table to the preference at once.
class OVNExtensionMapping
{
public:
    // Starts from OVNExtensionMappingHelper::getCurrentMapping().
    OVNExtensionMapping();
    // Starts from the given table (tests, tools); edits still save to the preferences.
    explicit OVNExtensionMapping(FileTypeTable table);

    int count() const;
    // The row at the index; an empty row when the index is out of range.
    FileTypeEntry objectAtIndex(int index) const;
    const FileTypeTable &getExtensionMap() const;

    // Editing. Out-of-range indexes change nothing. Each edit saves; the answer says whether the
    // preference was written.
    bool addObject(const FileTypeEntry &row);
    bool replaceObjectAtIndex(int index, const FileTypeEntry &row);
    bool deleteObjectAtIndex(int index);
    // Inserts a copy at the index, so the copy stands first and the copied row moves down.
    bool duplicateObjectAtIndex(int index);
    bool resetExtensionMapToMacOSX10_3();
    bool resetExtensionMapToMacOSX10_4();
    // Writes the whole table under "FileTypeMapping" and synchronizes the preferences.
    bool saveExtensionMap();

    // Look-ups by file: the file's HFS type code first, then its lower-cased extension. Linux files
    // carry no type code, so these go by the extension; callers that hold a stored code use the
    // forms that take one (0 means none). Every miss answers "None".
    QString getExtensionMapField(const QString &key, const QString &path) const;
    QString getExtensionMapField(const QString &key, const QString &path, quint32 hfsTypeCode) const;
    QString getProcessorForFile(const QString &path, quint32 hfsTypeCode = 0) const;
    QString getViewerForFile(const QString &path, quint32 hfsTypeCode = 0) const;
    QString getTypeForFile(const QString &path, quint32 hfsTypeCode = 0) const;
    bool getParseEXIFForFile(const QString &path, quint32 hfsTypeCode = 0) const;
    bool getParseIPTCForFile(const QString &path, quint32 hfsTypeCode = 0) const;
    QSize getThumbSizeForFile(const QString &path, quint32 hfsTypeCode = 0) const;

    // Look-ups by extension (no type code consulted).
    QString getProcessorForExtension(const QString &extension) const;
    QString getViewerForExtension(const QString &extension) const;
    QString getTypeForExtension(const QString &extension) const;
    // YES at the first row of that extension whose flag is "1", even behind a row whose flag is not.
    bool getParseEXIFForExtension(const QString &extension) const;
    bool getParseIPTCForExtension(const QString &extension) const;
    QSize getThumbSizeForExtension(const QString &extension) const;

    // The square thumbnail size for a media type: "PDF", "Movie" and "Image" from their
    // preferences (1024, 512 and 256 when unset or not positive), 256 for every other type.
    static QSize thumbSizeForType(const QString &type);

    // The text of a 32-bit HFS type code without its surrounding blanks ('GIF ' gives "GIF");
    // a null string for 0 or a code that is not four printable characters.
    static QString hfsTypeText(quint32 hfsTypeCode);
    // The extension of a path's last component, without the dot; empty for none, and for names
    // that only begin with a dot.
    static QString pathExtension(const QString &path);

private:
    // Rebuilds the look-up indexes after every change of the rows.
    void reindex();
    QString fieldForExtension(const QString &key, const QString &extension) const;

    FileTypeTable m_extensionMap;
    // The first row of each extension and each HFS type, and the extensions that have some row
    // flagged for EXIF or IPTC: the import asks for every file, so look-ups do not walk the table.
    QHash<QString, qsizetype> m_firstRowByExtension;
    QHash<QString, qsizetype> m_firstRowByHfsType;
    QSet<QString> m_exifExtensions;
    QSet<QString> m_iptcExtensions;
};
