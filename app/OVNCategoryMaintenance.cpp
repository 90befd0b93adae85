#include "app/OVNCategoryMaintenance.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNHelper.h"
#include "import/OVNImportHelper.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"
#include "platform/TimedCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <optional>
#include <QTimeZone>

#include <algorithm>
#include <thread>
#include <vector>

#include <sys/stat.h>

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
            Category below{child.value(CatalogNames::keyMid).toString(), child.value(QStringLiteral("type")).toString(),
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

std::optional<Category> firstUndeletable(const QList<Category> &bottomUp, const QString &rootMid)
{
    for (const Category &below : bottomUp) {
        if (below.mid != rootMid && !OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::fullAccess(), below.level))
            return below;
    }
    return std::nullopt;
}

namespace {
bool deleteCategoriesOnce(OVNDatabaseAccess &db, const QList<Category> &bottomUp, QString *error,
                          const std::function<void(int, int)> &progress, Check check)
{
    const auto fail = [&] {
        if (error)
            *error = db.getLastErrorMessage();
        return false;
    };
    OVNDatabaseTransaction transaction(db);
    if (!transaction.isActive())
        return fail();
    if (check == Check::LevelNow) {
        // Every category that goes is locked and asked before the first row is removed.
        for (const Category &category : bottomUp) {
            if (const auto refusal = OVNCategoryAccess::refusalNow(db, category.mid, OVNPrivilegeLevel::fullAccess())) {
                if (error)
                    *error = bottomUp.size() > 1
                                 ? localized("\"%1\": %2\n\n%3").arg(category.name, refusal->title, refusal->text)
                                 : refusal->title + QStringLiteral("\n\n") + refusal->text;
                return false;
            }
        }
    }
    int done = 0;
    for (const Category &category : bottomUp) {
        // Set-wise per category: a folder of many thousand entries is a handful of statements.
        if (category.kind == QLatin1String("C") || category.kind == QLatin1String("M")) {
            if (!db.deleteEntriesOwnedByCategory(category.mid))
                return fail();
        } else if (category.kind == QLatin1String("S")) {
            if (!db.deleteSetMemberships(category.mid))
                return fail();
        }
        if (!db.deleteCategoryListEntry(category.mid))
            return fail();
        if (progress)
            progress(++done, int(bottomUp.size()));
    }
    if (!transaction.commit())
        return fail();
    return true;
}
} // namespace

bool deleteCategories(OVNDatabaseAccess &db, const QList<Category> &bottomUp, QString *error,
                      const std::function<void(int, int)> &progress, Check check,
                      const std::function<void(const QString &)> &waiting)
{
    // Through sessions that end and a server away for up to 30 seconds. The deletion is one
    // transaction, so after a lost answer (once the old session has ended) either all of it is
    // gone, and that is what was asked, or none of it, and it is made again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(OVNCatalogOpening::waitSeconds);
    bool told = false;
    for (bool afterLoss = false;; afterLoss = true) {
        if (afterLoss && !bottomUp.isEmpty()) {
            std::optional<CategoryNode> root;
            const int left = int(
                std::chrono::duration_cast<std::chrono::seconds>(deadline - std::chrono::steady_clock::now()).count());
            if (OVNCatalogOpening::retried(
                    db, [&] { root = db.getCategoryForMID(bottomUp.last().mid); }, waiting, std::max(1, left))
                && !root) {
                if (error)
                    error->clear();
                return true;
            }
        }
        const quint64 failures = db.failureCount();
        if (deleteCategoriesOnce(db, bottomUp, error, progress, check))
            return true;
        if (db.transactionDepth() > 0 || !OVNCatalogOpening::failedForLostServer(db, failures)
            || !OVNCatalogOpening::resume(db, deadline, waiting, nullptr, &told))
            return false;
    }
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
    int done = 0;
    for (const QString &mid : mids) {
        if (!db.deleteEntryWithLicences(mid))
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
    // Asked from the window: a volume that stopped answering holds it a few seconds at most. A
    // folder that answers does so within milliseconds.
    constexpr std::chrono::seconds checkTime(5);
    const TimedCall::Outcome<FolderState> checked = TimedCall::run(
        [path] {
            // Walked as its listing and the import walk it: a link there that they do not follow
            // is named, not taken for a folder that holds no files.
            const FileAccess::WalkedPath walked = FileAccess::walkedPath(path);
            if (!walked.mayBeRead)
                return FolderState::ForeignLink;
            if (walked.kind == FileAccess::Kind::NoAccess)
                return FolderState::Unreadable;
            if (walked.kind == FileAccess::Kind::Missing || walked.kind == FileAccess::Kind::DanglingLink)
                return FolderState::Missing;
            if (walked.kind != FileAccess::Kind::Folder)
                return FolderState::NotAFolder;
            const QFileInfo info(walked.walked);
            if (!info.isReadable() || !info.isExecutable())
                return FolderState::Unreadable;
            return FolderState::Usable;
        },
        TimedCall::Clock::now() + checkTime, nullptr);
    return checked.result.value_or(FolderState::NotReadInTime);
}

QString refusalText(FolderState state, const QString &path)
{
    switch (state) {
    case FolderState::Usable:
        return QString();
    case FolderState::Missing:
        return localized("The folder \"%1\" is not there (perhaps its volume is not mounted). Nothing was changed.")
            .arg(path);
    case FolderState::NotAFolder:
        return localized("\"%1\" is not a folder. Nothing was changed.").arg(path);
    case FolderState::Unreadable:
        return localized("The folder \"%1\" cannot be read. Nothing was changed.").arg(path);
    case FolderState::ForeignLink:
        return localized("\"%1\" is, or lies behind, a link that belongs to another user; it is not followed. "
                         "Nothing was changed.")
            .arg(path);
    case FolderState::NotReadInTime:
        return localized("The folder \"%1\" could not be read in time (perhaps its volume stopped answering). "
                         "Nothing was changed.")
            .arg(path);
    }
    return QString();
}

namespace {

// `count` ASCII digits at `at` as a number, -1 when they are not all digits.
int digits(const QString &text, qsizetype at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text.at(at + i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

struct ParsedDate {
    QDate date;
    QTime time;
    std::optional<int> offsetSeconds; // the stored zone
};

std::optional<ParsedDate> parseDate(QStringView raw)
{
    const QString text = raw.trimmed().toString();
    // "yyyy-MM-dd HH:mm:ss", then an optional fraction, then an optional zone.
    if (text.size() < 19 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-')
        || (text.at(10) != QLatin1Char(' ') && text.at(10) != QLatin1Char('T')) || text.at(13) != QLatin1Char(':')
        || text.at(16) != QLatin1Char(':'))
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    qsizetype at = 19;
    int msecs = 0;
    if (at < text.size() && (text.at(at) == QLatin1Char('.') || text.at(at) == QLatin1Char(','))) {
        ++at;
        int places = 0;
        while (at < text.size() && text.at(at).isDigit()) {
            if (places < 3)
                msecs = msecs * 10 + (text.at(at).unicode() - '0');
            ++places;
            ++at;
        }
        if (places == 0)
            return std::nullopt;
        for (; places < 3; ++places)
            msecs *= 10;
    }
    while (at < text.size() && text.at(at) == QLatin1Char(' '))
        ++at;
    ParsedDate parsed{QDate(year, month, day), QTime(hour, minute, second, msecs), std::nullopt};
    if (!parsed.date.isValid() || !parsed.time.isValid())
        return std::nullopt;
    if (at == text.size())
        return parsed;
    QString zone = text.mid(at);
    if (zone == QLatin1String("Z")) {
        parsed.offsetSeconds = 0;
        return parsed;
    }
    zone.remove(QLatin1Char(':'));
    if ((zone.size() != 3 && zone.size() != 5) || (zone.at(0) != QLatin1Char('+') && zone.at(0) != QLatin1Char('-')))
        return std::nullopt;
    const int hours = digits(zone, 1, 2);
    const int minutes = zone.size() == 5 ? digits(zone, 3, 2) : 0;
    if (hours < 0 || minutes < 0 || hours > 14 || minutes > 59)
        return std::nullopt;
    parsed.offsetSeconds = (zone.at(0) == QLatin1Char('-') ? -1 : 1) * (hours * 3600 + minutes * 60);
    return parsed;
}

// Whole seconds since 1970 UTC. A local time's offset is looked up once per hour of a date: the
// zone's rules change on hour boundaries, and a folder's entries share few hours.
std::optional<qint64> importSeconds(const QString &dts, QHash<qint64, int> &localOffsets)
{
    const std::optional<ParsedDate> parsed = parseDate(dts);
    if (!parsed)
        return std::nullopt;
    const qint64 wall = parsed->date.toJulianDay() * 86400 + parsed->time.msecsSinceStartOfDay() / 1000;
    if (parsed->offsetSeconds)
        return wall - *parsed->offsetSeconds - QDate(1970, 1, 1).toJulianDay() * 86400;
    const qint64 hourKey = wall / 3600;
    auto found = localOffsets.constFind(hourKey);
    if (found == localOffsets.cend()) {
        const QDateTime local(parsed->date, parsed->time);
        if (!local.isValid())
            return std::nullopt;
        found = localOffsets.insert(hourKey,
                                    int(wall - QDate(1970, 1, 1).toJulianDay() * 86400 - local.toSecsSinceEpoch()));
    }
    return wall - *found - QDate(1970, 1, 1).toJulianDay() * 86400;
}

} // namespace

namespace {

// The files' modification times in seconds since 1970 UTC (nothing for one that could not be
// read), asked a few hundred at a time on timed calls; nothing at all when one did not end in time.
std::optional<QList<std::optional<qint64>>> modificationTimes(const QStringList &files,
                                                              const OVNHelper::ListingTime &time)
{
    QList<std::optional<qint64>> times;
    times.reserve(files.size());
    constexpr qsizetype perCall = 256;
    for (qsizetype at = 0; at < files.size(); at += perCall) {
        TimedCall::Outcome<QList<std::optional<qint64>>> read = TimedCall::run(
            [chunk = files.mid(at, perCall)] {
                QList<std::optional<qint64>> part;
                for (const QString &file : chunk) {
                    struct stat info;
                    if (::stat(QFile::encodeName(file).constData(), &info) == 0)
                        part.append(qint64(info.st_mtim.tv_sec));
                    else
                        part.append(std::nullopt);
                }
                return part;
            },
            TimedCall::Clock::now() + time.limit, time.cancel);
        if (!read)
            return std::nullopt;
        times.append(*read.result);
    }
    return times;
}

} // namespace

std::optional<QDateTime> importDate(const QString &dts)
{
    const std::optional<ParsedDate> parsed = parseDate(dts);
    if (!parsed)
        return std::nullopt;
    if (parsed->offsetSeconds)
        return QDateTime(parsed->date, parsed->time, QTimeZone(*parsed->offsetSeconds));
    const QDateTime local(parsed->date, parsed->time);
    return local.isValid() ? std::optional<QDateTime>(local) : std::nullopt;
}

FolderListing folderFiles(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    const OVNHelper::ListingTime time{OVNImportHelper::decodeTimeLimit(), nullptr};
    const auto anyNotInTime = [](const QList<OVNHelper::SkippedFile> &skipped) {
        return std::any_of(skipped.cbegin(), skipped.cend(), [](const auto &file) { return file.notInTime; });
    };
    QList<OVNHelper::SkippedFile> unlisted;
    const std::optional<QStringList> entries = OVNHelper::folderEntryPaths(clean, &unlisted, time);
    if (!entries) {
        FolderListing none;
        none.complete = !anyNotInTime(unlisted);
        if (none.complete) {
            // Named as the check names it; a folder that could not be listed is not empty.
            none.state = watchedFolderState(clean);
            if (none.state == FolderState::Usable)
                none.state = FolderState::Unreadable;
        }
        return none;
    }
    QVariantList paths;
    paths.reserve(entries->size());
    for (const QString &entry : *entries)
        paths.append(entry);
    // The folder's entries are expanded in slices side by side: the file system answers several
    // questions at once, one thread would wait for each in turn.
    const qsizetype threads = std::clamp<qsizetype>(paths.size() / 500, 1, std::min(8, QThread::idealThreadCount()));
    const qsizetype step = (paths.size() + threads - 1) / threads;
    std::vector<FolderListing> slices;
    slices.resize(size_t(threads));
    const auto readSlice = [&](qsizetype slice) {
        FolderListing &listing = slices[size_t(slice)];
        QList<OVNHelper::SkippedFile> skipped;
        for (const QVariant &file : OVNHelper::parseFileList(paths.mid(slice * step, step), &skipped, time))
            listing.files.append(file.toString());
        std::optional<QList<std::optional<qint64>>> modified = modificationTimes(listing.files, time);
        listing.complete = modified && !anyNotInTime(skipped);
        if (modified)
            listing.modified = std::move(*modified);
        else
            listing.modified = QList<std::optional<qint64>>(listing.files.size(), std::nullopt);
    };
    std::vector<std::thread> pool;
    for (qsizetype slice = 1; slice < threads; ++slice)
        pool.emplace_back(readSlice, slice);
    readSlice(0);
    for (std::thread &thread : pool)
        thread.join();
    if (threads == 1)
        return std::move(slices.front());
    FolderListing all;
    all.complete =
        std::all_of(slices.cbegin(), slices.cend(), [](const FolderListing &slice) { return slice.complete; });
    QSet<QString> seen; // a folder reached through links from two slices is listed once
    for (FolderListing &slice : slices) {
        for (qsizetype i = 0; i < slice.files.size(); ++i) {
            if (seen.contains(slice.files.at(i)))
                continue;
            seen.insert(slice.files.at(i));
            all.files.append(std::move(slice.files[i]));
            all.modified.append(slice.modified.at(i));
        }
    }
    return all;
}

RescanPlan planRescan(const QStringList &files, const QList<std::optional<qint64>> &modified,
                      const QList<Record> &records)
{
    RescanPlan plan;
    QHash<qint64, int> localOffsets;
    QHash<QString, qsizetype> byPath;
    byPath.reserve(records.size());
    // Filled backwards, so that the first record of a path is the one kept.
    for (qsizetype i = records.size() - 1; i >= 0; --i)
        byPath.insert(records.at(i).absolutePath, i);
    // A record is still on disk when its path is listed; every record of that path is.
    std::vector<char> listed(size_t(records.size()), 0);
    for (qsizetype index = 0; index < files.size(); ++index) {
        const QString &file = files.at(index);
        const auto found = byPath.constFind(file);
        if (found == byPath.cend()) {
            plan.newFiles.append(file);
            continue;
        }
        listed[size_t(*found)] = 1;
        const Record &record = records.at(*found);
        const std::optional<qint64> imported = importSeconds(record.dts, localOffsets);
        if (!imported)
            continue;
        const std::optional<qint64> time = index < modified.size() ? modified.at(index) : std::nullopt;
        if (time && *time > *imported)
            plan.changed.append(record);
    }
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (listed[size_t(i)])
            continue;
        // A second record of a listed path is not missing either.
        const auto first = byPath.constFind(records.at(i).absolutePath);
        if (first == byPath.cend() || !listed[size_t(*first)])
            plan.missing.append(records.at(i));
    }
    return plan;
}

} // namespace OVNCategoryMaintenance
