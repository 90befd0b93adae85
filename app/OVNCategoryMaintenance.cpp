#include "app/OVNCategoryMaintenance.h"

#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/Localized.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QRegularExpression>
#include <QTimeZone>

namespace OVNCategoryMaintenance {

namespace {

void collect(OVNDatabaseAccess &db, const Category &category, QList<Category> &out, QSet<QString> &seen)
{
    // A damaged tree with a cycle must not recurse for ever.
    if (seen.contains(category.mid))
        return;
    seen.insert(category.mid);
    if (category.kind == QLatin1String("F")) {
        for (const CategoryNode &child : db.getCategoryListForMID(category.mid)) {
            Category below{child.value(QStringLiteral("mid")).toString(), child.value(QStringLiteral("type")).toString(),
                           child.value(QStringLiteral("displaytag")).toString(),
                           child.value(QStringLiteral("MYPRIVILEGES")).toString()};
            if (below.kind.isEmpty())
                below.kind = QStringLiteral("C");
            if (!below.mid.isEmpty())
                collect(db, below, out, seen);
        }
    }
    out.append(category);
}

} // namespace

QList<Category> subtreeBottomUp(OVNDatabaseAccess &db, const Category &root)
{
    QList<Category> out;
    QSet<QString> seen;
    collect(db, root, out, seen);
    return out;
}

bool deleteCategories(OVNDatabaseAccess &db, const QList<Category> &bottomUp, QString *error,
                      const std::function<void(int, int)> &progress)
{
    const auto fail = [&] {
        if (error)
            *error = db.getLastErrorMessage();
        return false;
    };
    OVNDatabaseTransaction transaction(db);
    if (!transaction.isActive())
        return fail();
    // Set-wise per category: a folder of many thousand entries is a handful of statements.
    static const QString ownedEntries = QStringLiteral("(select mid from strvfile where categoryid=$1)");
    static const QStringList ownedStatements = {
        QStringLiteral("delete from strvset where filemid in ") + ownedEntries,
        QStringLiteral("delete from strvexif where mid in ") + ownedEntries,
        QStringLiteral("delete from strvpurchased where mid in ") + ownedEntries,
        QStringLiteral("delete from strvsold where mid in ") + ownedEntries,
        QStringLiteral("delete from strvfile where categoryid=$1"),
    };
    int done = 0;
    for (const Category &category : bottomUp) {
        if (category.kind == QLatin1String("C") || category.kind == QLatin1String("M")) {
            for (const QString &sql : ownedStatements)
                if (!db.runSQLCommand(sql, {category.mid}))
                    return fail();
        } else if (category.kind == QLatin1String("S")) {
            if (!db.runSQLCommand(QStringLiteral("delete from strvset where categorymid=$1"), {category.mid}))
                return fail();
        }
        if (!db.runSQLCommand(QStringLiteral("delete from strvcategory where mid=$1"), {category.mid}))
            return fail();
        if (progress)
            progress(++done, int(bottomUp.size()));
    }
    if (!transaction.commit())
        return fail();
    return true;
}

bool deleteEntries(OVNDatabaseAccess &db, const QStringList &mids, QString *error,
                   const std::function<void(int, int)> &progress)
{
    const auto fail = [&] {
        if (error)
            *error = db.getLastErrorMessage();
        return false;
    };
    OVNDatabaseTransaction transaction(db);
    if (!transaction.isActive())
        return fail();
    static const QStringList statements = {
        QStringLiteral("delete from strvset where filemid=$1"), QStringLiteral("delete from strvexif where mid=$1"),
        QStringLiteral("delete from strvpurchased where mid=$1"), QStringLiteral("delete from strvsold where mid=$1"),
        QStringLiteral("delete from strvfile where mid=$1")};
    int done = 0;
    for (const QString &mid : mids) {
        for (const QString &sql : statements)
            if (!db.runSQLCommand(sql, {mid}))
                return fail();
        if (progress && (++done % 100 == 0 || done == int(mids.size())))
            progress(done, int(mids.size()));
    }
    return transaction.commit() || fail();
}

QString watchedFolder(const QString &comment)
{
    return OVNCategoryComment::dictionary(comment).value(QStringLiteral("SURVEILLANCEFOLDER")).toString();
}

FolderState watchedFolderState(const QString &path)
{
    if (path.isEmpty())
        return FolderState::Missing;
    const QFileInfo info(path);
    if (!info.exists())
        return FolderState::Missing;
    if (!info.isDir())
        return FolderState::NotAFolder;
    if (!info.isReadable() || !info.isExecutable())
        return FolderState::Unreadable;
    return FolderState::Usable;
}

QString refusalText(FolderState state, const QString &path)
{
    switch (state) {
    case FolderState::Usable: return QString();
    case FolderState::Missing:
        return localized("The folder \"%1\" is not there (perhaps its volume is not mounted). Nothing was changed.")
            .arg(path);
    case FolderState::NotAFolder: return localized("\"%1\" is not a folder. Nothing was changed.").arg(path);
    case FolderState::Unreadable: return localized("The folder \"%1\" cannot be read. Nothing was changed.").arg(path);
    }
    return QString();
}

std::optional<QDateTime> importDate(const QString &dts)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*(\d{4})-(\d{2})-(\d{2})[ T](\d{2}):(\d{2}):(\d{2})(?:[.,:](\d{1,9}))?\s*(Z|[+-]\d{2}(?::?\d{2})?)?\s*$)"));
    const QRegularExpressionMatch match = form.match(dts);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    int msecs = 0;
    if (match.hasCaptured(7))
        msecs = int(match.captured(7).left(3).leftJustified(3, QLatin1Char('0')).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(), msecs);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    if (!match.hasCaptured(8)) {
        const QDateTime local(date, time);
        return local.isValid() ? std::optional<QDateTime>(local) : std::nullopt;
    }
    QString zone = match.captured(8);
    if (zone == QLatin1String("Z"))
        return QDateTime(date, time, QTimeZone::utc());
    zone.remove(QLatin1Char(':'));
    const int sign = zone.startsWith(QLatin1Char('-')) ? -1 : 1;
    const int hours = zone.mid(1, 2).toInt();
    const int minutes = zone.size() >= 5 ? zone.mid(3, 2).toInt() : 0;
    if (hours > 14 || minutes > 59)
        return std::nullopt;
    return QDateTime(date, time, QTimeZone(sign * (hours * 3600 + minutes * 60)));
}

RescanPlan planRescan(const QStringList &files, const QList<Record> &records,
                      const std::function<QDateTime(const QString &)> &modificationTime)
{
    RescanPlan plan;
    QHash<QString, qsizetype> byPath;
    byPath.reserve(records.size());
    // Filled backwards, so that the first record of a path is the one kept.
    for (qsizetype i = records.size() - 1; i >= 0; --i)
        byPath.insert(records.at(i).absolutePath, i);
    QSet<QString> onDisk;
    onDisk.reserve(files.size());
    for (const QString &file : files) {
        onDisk.insert(file);
        const auto found = byPath.constFind(file);
        if (found == byPath.cend()) {
            plan.newFiles.append(file);
            continue;
        }
        const Record &record = records.at(*found);
        const std::optional<QDateTime> imported = importDate(record.dts);
        if (!imported)
            continue;
        const QDateTime modified = modificationTime(file);
        if (modified.isValid() && modified.toSecsSinceEpoch() > imported->toSecsSinceEpoch())
            plan.changed.append(record);
    }
    for (const Record &record : records)
        if (!onDisk.contains(record.absolutePath))
            plan.missing.append(record);
    return plan;
}

} // namespace OVNCategoryMaintenance
