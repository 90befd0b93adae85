#pragma once

#include "platform/MediaRecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Publishing to the web: a static HTML gallery from a theme's templates (an index page in rows of
// three, a details page per picture, thumbnails, photos and the theme's assets). The pages are
// built by a worker; the pictures are made in parallel.
class OVNPublishToWeb
{
public:
    struct Theme {
        QString path;
        QString displaytag;
    };
    struct Texts {
        QString title, subtitle, copyright;
    };
    struct Result {
        QString galleryPath; // empty when nothing was built
        int pictures = 0;    // pictures written (thumbnail and photo)
        QStringList failed;  // "NAME: REASON" of each picture left out of the gallery
        QString alertTitle;  // why nothing was built
        QString alertMessage;
    };

    // A template cut once at its "%%NAME%%" placeholders (any letter case) and filled in one
    // pass: what is put in is never scanned again.
    class Template
    {
    public:
        explicit Template(const QString &text = {});
        // Every known placeholder replaced (values as given: the caller escapes them); unknown
        // ones stay as they are.
        QString fill(const QHash<QString, QString> &values) const;

    private:
        struct Piece {
            QString text;
            QString name; // upper case; empty for literal text
        };
        QList<Piece> m_pieces;
    };

    static constexpr int imagesPerRow = 3;

    // The theme folders under `root`: folders holding an "info.xml" dictionary with a non-empty
    // "displaytag", in name order.
    static QList<Theme> themes(const QString &root);
    static QString themeRoot();

    // `text` safe as HTML text or attribute value.
    static QString htmlEscaped(const QString &text);

    // The folder made for the gallery: `path`, or the first of "path-1".."path-999" that can be
    // made; empty when none can. A folder already there is used again, and a link there only when
    // the walk's rule follows it (FileAccess: root's, or this account's in a folder no other account
    // may rename in): the answer is then the folder it leads to.
    static QString createFolder(const QString &path);

    // Builds the gallery in "<folder>/Ostrevan PublishToWeb". `progress(step, steps)` is called
    // from the worker: one step to start, one per slot of every row. Nothing is written when the
    // theme lacks a template file or marker. The pictures are made first: one that cannot be made
    // gets no page, link or cell, and is named in `failed`.
    static Result createWebPages(const QList<MediaRecord> &records, const QString &themePath, const QString &folder,
                                 const Texts &texts, const std::function<void(int step, int steps)> &progress = {},
                                 const std::atomic_bool *cancelled = nullptr);
};
