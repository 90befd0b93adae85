#pragma once

#include "import/OVNImportWorker.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

class QWidget;

// The import of a Cumulus record export: a Mac OS Roman text of "\r"-separated lines, the
// identifier on line 1, tab-separated field names on line 3 and one record per line after "%Data".
// Each record names a file by volume, colon-separated folder and file name, with notes, keywords
// and category names that follow the file's own annotations in the new entry.
class OVNCumulusParser
{
public:
    static constexpr qint64 maxFileSize = qint64(256) * 1024 * 1024;

    struct Parsed {
        // Set when the file is refused as a whole; nothing is imported then.
        QString errorTitle;
        QString errorMessage;
        // Import items: {"PATH", "APPEND": {"keywords", "shortdesc", "fulldesc"}}.
        QVariantList items;
        // Records that name no file that can be imported ("line N" or the path, and why).
        QList<OVNImportWorker::Failure> failed;
        bool refused() const { return !errorTitle.isEmpty(); }
    };

    static QString identifier() { return QStringLiteral("v5.0 Canto(r) Cumulus(r) Record Export"); }

    // Reads and parses the export at `path`. A record's volume is looked for under each of
    // OVNHelper::volumeRoots(), the first that has it taken.
    static Parsed readFile(const QString &path);
    static Parsed parse(const QByteArray &bytes);

    // The import with the progress sheet on `window` (cancel included): refused files get an alert
    // with the reason; at the end the result sheet lists the imported files and the failed ones,
    // records that name no file among them.
    static bool importFile(const QString &path, const QString &categoryId, OVNImportWorker::ConnectionMaker connections,
                           QWidget *window);
};
