#include "app/OVNRelink.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Localized.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

OVNRelink::Result relink(OVNDatabaseAccess &db, const QList<OVNRelink::Entry> &entries, const QStringList &targets,
                         const OVNRelink::MayWrite &mayWrite)
{
    OVNRelink::Result result;
    if (!db.beginTransaction()) {
        result.ok = false;
        for (const OVNRelink::Entry &entry : entries)
            result.failedNames.append(QFileInfo(entry.path).fileName());
        return result;
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const OVNRelink::Entry &entry = entries.at(i);
        const QString &target = targets.at(i);
        bool written = false;
        if (!target.isEmpty() && QFileInfo(target).isFile() && (!mayWrite || mayWrite(entry.categoryId))
            && db.beginTransaction()) {
            written = db.updateMediaListEntry(entry.mid, QStringLiteral("absolutepath"), target);
            written = written ? db.commitTransaction() : (db.rollbackTransaction(), false);
        }
        if (written) {
            result.relinked.append(int(i));
            result.newPaths.append(target);
        } else {
            result.failedNames.append(QFileInfo(entry.path).fileName());
        }
    }
    if (!db.commitTransaction()) {
        db.rollbackTransaction();
        // Nothing of it stayed: every entry counts as failed.
        result.ok = false;
        result.failedNames.clear();
        for (const OVNRelink::Entry &entry : entries)
            result.failedNames.append(QFileInfo(entry.path).fileName());
        result.relinked.clear();
        result.newPaths.clear();
    }
    return result;
}

// The relink, tried again on a new session while its session ends or the server is away.
OVNRelink::Result relinkThroughEndedSessions(OVNDatabaseAccess &db, const QList<OVNRelink::Entry> &entries,
                                             const QStringList &targets, const OVNRelink::MayWrite &mayWrite,
                                             const OVNRelink::Waiting &waiting)
{
    OVNRelink::Result result;
    OVNCatalogOpening::run(
        db, waiting.seconds,
        [&] {
            if (waiting.eachTry)
                waiting.eachTry();
            const quint64 failures = db.failureCount();
            result = relink(db, entries, targets, mayWrite);
            return !OVNCatalogOpening::failedForLostServer(db, failures);
        },
        waiting.status);
    return result;
}

} // namespace

namespace OVNRelink {

Result toFolder(OVNDatabaseAccess &db, const QList<Entry> &entries, const QString &folder, const MayWrite &mayWrite,
                const Waiting &waiting)
{
    QStringList targets;
    targets.reserve(entries.size());
    const QDir dir(folder);
    for (const Entry &entry : entries) {
        const QString name = QFileInfo(entry.path).fileName();
        targets.append(name.isEmpty() ? QString() : QDir::cleanPath(dir.absoluteFilePath(name)));
    }
    return relinkThroughEndedSessions(db, entries, targets, mayWrite, waiting);
}

Result toFile(OVNDatabaseAccess &db, const Entry &entry, const QString &file, const MayWrite &mayWrite,
              const Waiting &waiting)
{
    return relinkThroughEndedSessions(db, {entry}, {QFileInfo(file).absoluteFilePath()}, mayWrite, waiting);
}

QString statusReport(const Result &result)
{
    QString text =
        localized("Successfully re-linked: %1\n").arg(countedText(result.relinked.size(), "%1 file", "%1 files"))
        + localized("Re-link failed with: %1\n\n").arg(countedText(result.failedNames.size(), "%1 file", "%1 files"));
    if (!result.failedNames.isEmpty())
        text += localized("Re-Link failed for:\n") + result.failedNames.join(QStringLiteral(", "));
    return text;
}

} // namespace OVNRelink
