#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>

class QMimeData;

// What the thumbnail view puts on the clipboard and into drags, what it reads back from them, and
// which drops it takes. Drags and the clipboard come from other programs too: everything read is
// treated as hostile, and media ids count only when they come from the same catalog.
class OVNMediaPasteboard
{
public:
    // The selection, in selection order, as a drag or the clipboard carries it.
    struct Contents {
        QStringList paths;  // file names; none leaves text/uri-list out
        QStringList mids;   // with `withMedia`, the media formats
        QString sourceMid;  // the category the view shows
        QString sourceKind; // its kind
        QByteArray catalog; // the catalog's identity
        bool withMedia = false;
        QImage thumbnail; // none leaves the image out
    };
    static std::unique_ptr<QMimeData> write(const Contents &contents);

    // What a drag or the clipboard offers.
    struct Payload {
        // The media formats, complete, from this catalog, with a usable id list.
        bool media = false;
        QStringList mids;
        QString sourceMid;
        QString sourceKind;
        QStringList paths;   // local files, in the order given
        QStringList skipped; // URLs that are not local files
    };
    static Payload read(const QMimeData *data, const QByteArray &catalog);

    // The category a drop would go into.
    struct Target {
        QString mid;          // empty: the view shows no category
        QString kind;         // empty: the view was never given a kind
        bool writable = true; // the user may change it
    };
    enum class Operation { None, Copy, Link, Move };
    // The drop rules: moving between collections, linking into sets, files added. Media from a
    // category of another kind, or from another catalog, count as the files they name.
    static Operation dropOperation(const Payload &payload, const Target &target);

    // A short digest that names a catalog without telling where it lives.
    static QByteArray catalogIdentity(const QString &description);
    // Media ids are at most 60 characters of printable text.
    static bool isMediaId(const QString &mid);
};
