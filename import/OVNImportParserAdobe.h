#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Illustrator and EPS files: the type icon as the thumbnail, and the document's header comments
// ("%%Title:", "%%CreationDate:", "%%For:", "%%Creator:") as its metadata.
class OVNImportParserAdobe
{
public:
    OVNImportParserAdobe() = delete;

    // The icon; writes "imagewidth", "imageheight" "0", "Orientation" 0 and, from the comments,
    // "exif" ("Title", "DateTime", "Author", "Creator") and "keywords" (the title).
    static QImage loadImageForIllustratorFile(const QString &path, QVariantMap &record);
    // The metadata of a document's text (the comments are read from its first part only).
    static QVariantMap commentsFromText(const QByteArray &text);
    // The PostScript strings of one comment line, joined by blanks: the text between each "(" and
    // the ")" after it, until no "(" is left, a "(" follows the previous ")" directly, or no ")"
    // closes it.
    static QString getPSStringFromLine(const QString &line);

    // How much of a file is searched for its header comments.
    static constexpr qint64 headerBytes = 1 << 20;
};
