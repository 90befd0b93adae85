#include "formats/OVNHelper.h"

#include "formats/GioMountRunner.h"
#include "formats/OVNMSAHelper.h"

#include "platform/FileAccess.h"
#include "platform/SystemInfo.h"
#include "platform/TimedCall.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct VolumeLocation {
    QString root; // the folder the volume is mounted on
    QString name; // the volume's name
};

// The volume name of one gvfs mount folder: the share of an SMB mount
// ("smb-share:server=nas,share=media,user=bob" is "media"), else the folder's own name.
QString gvfsVolumeName(const QString &entry)
{
    static const QString smbShare = QStringLiteral("smb-share:");
    if (!entry.startsWith(smbShare))
        return entry;
    const QStringList items = entry.mid(smbShare.size()).split(QLatin1Char(','));
    for (const QString &item : items) {
        if (item.startsWith(QLatin1String("share=")))
            return QUrl::fromPercentEncoding(item.mid(6).toUtf8());
    }
    return entry;
}

VolumeLocation volumeLocation(const QString &path)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return {};
    const QString clean = QDir::cleanPath(path);
    // Tests stand folders of their own in for the mount points.
    if (qEnvironmentVariableIsSet("OVN_VOLUME_ROOTS")) {
        for (const QString &root : OVNHelper::volumeRoots()) {
            const QString prefix = QDir::cleanPath(root) + QLatin1Char('/');
            if (clean.startsWith(prefix) && clean.size() > prefix.size()) {
                const QString name = clean.mid(prefix.size()).section(QLatin1Char('/'), 0, 0);
                return {prefix + name, name};
            }
        }
        return {};
    }
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    auto rootOf = [&parts](qsizetype count) { return QLatin1Char('/') + parts.mid(0, count).join(QLatin1Char('/')); };

    // gvfs: $XDG_RUNTIME_DIR/gvfs/ENTRY, or the usual /run/user/UID/gvfs/ENTRY.
    const QString gvfs = GioMountRunner::gvfsFolder() + QLatin1Char('/');
    if (clean.startsWith(gvfs) && clean.size() > gvfs.size()) {
        const QString entry = clean.mid(gvfs.size()).section(QLatin1Char('/'), 0, 0);
        return {gvfs + entry, gvfsVolumeName(entry)};
    }
    if (parts.size() >= 5 && parts[0] == QLatin1String("run") && parts[1] == QLatin1String("user")
        && parts[3] == QLatin1String("gvfs"))
        return {rootOf(5), gvfsVolumeName(parts[4])};

    if (parts.size() >= 2 && parts[0] == QLatin1String("Volumes"))
        return {rootOf(2), parts[1]};
    if (parts.size() >= 3 && parts[0] == QLatin1String("media"))
        return {rootOf(3), parts[2]};
    if (parts.size() >= 4 && parts[0] == QLatin1String("run") && parts[1] == QLatin1String("media"))
        return {rootOf(4), parts[3]};
    return {};
}

QString joinPath(const QString &folder, const QString &entry)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + entry;
    return folder + QLatin1Char('/') + entry;
}

bool isInsideFolder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Deep enough for any real tree; a deeper one is cut off rather than exhausting the stack.
constexpr int kMaxFolderDepth = 512;

// The paths of a list or a folder checked on one timed call at most: a live mount answers for
// that many in far less than any limit, a stalled one for none.
constexpr qsizetype kChecksPerCall = 256;
// The entries of a folder checked at once, each on a timed call of its own, after one of them
// stalled.
constexpr qsizetype kChecksAtOnce = 32;

std::mutex folderReaderMutex;
OVNHelper::FolderReader &folderReader()
{
    static OVNHelper::FolderReader reader = [](const QString &folder, QStringList *undecodable, QString *why) {
        return FileAccess::folderEntries(folder, undecodable, why);
    };
    return reader;
}

OVNHelper::FolderReader currentFolderReader()
{
    const std::lock_guard lock(folderReaderMutex);
    return folderReader();
}

OVNHelper::PathCheckHook &pathCheckHook()
{
    static OVNHelper::PathCheckHook hook;
    return hook;
}

OVNHelper::PathCheckHook currentPathCheckHook()
{
    const std::lock_guard lock(folderReaderMutex);
    return pathCheckHook();
}

// What the expansion asks the file system about one path before it takes it in or lists it.
struct PathFacts {
    bool mayBeRead = true; // no link on the way that is not followed
    FileAccess::Kind kind = FileAccess::Kind::Missing;
    QString canonical; // a folder's
};

PathFacts factsOf(const QString &clean)
{
    if (const OVNHelper::PathCheckHook hook = currentPathCheckHook())
        hook(clean);
    // Walked element by element: another account's link anywhere in the path is not followed.
    const FileAccess::WalkedPath walked = FileAccess::walkedPath(clean);
    PathFacts facts;
    facts.mayBeRead = walked.mayBeRead;
    facts.kind = walked.kind;
    if (facts.kind == FileAccess::Kind::Folder)
        facts.canonical = walked.walked;
    return facts;
}

struct FolderContents {
    std::optional<QStringList> entries;
    QStringList undecodable;
    QString why;
};

QString notInTimeReason(TimedCall::Ending ending, const QString &what)
{
    switch (ending) {
    case TimedCall::Ending::Cancelled:
        return QStringLiteral("reading the %1 was cancelled").arg(what);
    case TimedCall::Ending::NoThread:
        return QStringLiteral("the %1 cannot be read: no thread could be started to read it").arg(what);
    case TimedCall::Ending::Returned:
    case TimedCall::Ending::OutOfTime:
        break;
    }
    return QStringLiteral("the %1 could not be read in time").arg(what);
}

// A folder's entries as read (null when they could not be, with the reason `why`) as paths, with
// the folder and the names that are not valid UTF-8 named in `skipped` as the expansion names them.
std::optional<QStringList> entryPaths(const QString &folder, const std::optional<QStringList> &entries,
                                      const QStringList &undecodable, const QString &why,
                                      QList<OVNHelper::SkippedFile> *skipped)
{
    if (!entries) {
        if (skipped)
            skipped->append({folder, QStringLiteral("the folder cannot be read: %1").arg(why)});
        return std::nullopt;
    }
    if (skipped)
        for (const QString &entry : undecodable)
            skipped->append({joinPath(folder, entry), QStringLiteral("the name is not valid UTF-8")});
    QStringList names = *entries;
    std::sort(names.begin(), names.end(), OVNHelper::namesInOrder);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &entry : names)
        paths.append(joinPath(folder, entry));
    return paths;
}

struct FileListExpansion {
    QString photoLibrary;
    QSet<QString> expandedFolders; // canonical paths
    QVariantList files;
    QList<OVNHelper::SkippedFile> *skipped = nullptr;
    std::optional<OVNHelper::ListingTime> time; // none: every call is made on this thread
    OVNHelper::FolderReader reader = currentFolderReader();

    void skip(const QString &path, const QString &reason)
    {
        if (skipped)
            skipped->append({path, reason});
    }

    void skipNotInTime(const QString &path, TimedCall::Ending ending, const QString &what)
    {
        if (skipped)
            skipped->append({path, notInTimeReason(ending, what), true, what == QLatin1String("folder")});
    }

    // The facts of the paths, in order. With a time limit they are asked on timed calls: when one
    // does not end in time, the facts asked before it are answered, fewer than the paths, and
    // `ending` says why.
    std::vector<PathFacts> factsOfAll(const QStringList &paths, TimedCall::Ending *ending) const
    {
        std::vector<PathFacts> facts;
        facts.reserve(size_t(paths.size()));
        *ending = TimedCall::Ending::Returned;
        if (!time) {
            for (const QString &path : paths)
                facts.push_back(factsOf(path));
            return facts;
        }
        while (facts.size() < size_t(paths.size())) {
            // The thread hands over each path's facts as it has them, so that a stall costs only
            // the paths from it on.
            struct Progress {
                std::mutex mutex;
                std::vector<PathFacts> facts;
                bool givenUp = false;
            };
            const auto progress = std::make_shared<Progress>();
            const QStringList chunk = paths.mid(qsizetype(facts.size()), kChecksPerCall);
            const TimedCall::Outcome<bool> checked = TimedCall::run(
                [progress, chunk] {
                    for (const QString &path : chunk) {
                        PathFacts one = factsOf(path);
                        const std::lock_guard lock(progress->mutex);
                        if (progress->givenUp)
                            return false;
                        progress->facts.push_back(std::move(one));
                    }
                    return true;
                },
                TimedCall::Clock::now() + time->limit, time->cancel);
            const std::lock_guard lock(progress->mutex);
            progress->givenUp = true;
            std::move(progress->facts.begin(), progress->facts.end(), std::back_inserter(facts));
            if (!checked) {
                *ending = checked.ending;
                return facts;
            }
        }
        return facts;
    }

    // The facts of each path on a timed call of its own, all at once with one deadline: a path
    // that does not answer in time costs only itself. Null for those; `endings` says why.
    std::vector<std::optional<PathFacts>> factsOfEach(const QStringList &paths,
                                                      std::vector<TimedCall::Ending> &endings) const
    {
        std::vector<std::optional<PathFacts>> facts(size_t(paths.size()));
        endings.assign(size_t(paths.size()), TimedCall::Ending::NoThread);
        const TimedCall::Clock::time_point deadline = TimedCall::Clock::now() + time->limit;
        const std::atomic<bool> *cancel = time->cancel;
        std::vector<std::thread> waiting;
        waiting.reserve(size_t(paths.size()));
        for (size_t i = 0; i < size_t(paths.size()); ++i) {
            try {
                waiting.emplace_back([&facts, &endings, i, path = paths.at(qsizetype(i)), deadline, cancel] {
                    TimedCall::Outcome<PathFacts> one =
                        TimedCall::run([path] { return factsOf(path); }, deadline, cancel);
                    endings[i] = one.ending;
                    if (one)
                        facts[i] = std::move(*one.result);
                });
            } catch (const std::system_error &) {
                break; // no more threads: the rest are not checked (NoThread)
            }
        }
        for (std::thread &thread : waiting)
            thread.join();
        return facts;
    }

    // Reads the folder's entries; false (the folder named in `skipped`) when that did not end in
    // time.
    bool readFolder(const QString &folder, FolderContents &contents)
    {
        // A stop heard before the folder is begun leaves it unread, however quickly a listing
        // started after the stop would have answered.
        if (time && time->cancel && time->cancel->load()) {
            skipNotInTime(folder, TimedCall::Ending::Cancelled, QStringLiteral("folder"));
            return false;
        }
        if (!time) {
            contents.entries = reader(folder, &contents.undecodable, &contents.why);
            return true;
        }
        TimedCall::Outcome<FolderContents> listed = TimedCall::run(
            [reader = reader, folder] {
                FolderContents read;
                read.entries = reader(folder, &read.undecodable, &read.why);
                return read;
            },
            TimedCall::Clock::now() + time->limit, time->cancel);
        if (!listed) {
            skipNotInTime(folder, listed.ending, QStringLiteral("folder"));
            return false;
        }
        contents = std::move(*listed.result);
        return true;
    }

    std::optional<std::pair<QStringList, std::vector<PathFacts>>> listFolder(const QString &folder)
    {
        FolderContents contents;
        if (!readFolder(folder, contents))
            return std::nullopt;
        const std::optional<QStringList> paths =
            entryPaths(folder, contents.entries, contents.undecodable, contents.why, skipped);
        if (!paths)
            return std::nullopt;
        QStringList cleaned;
        cleaned.reserve(paths->size());
        for (const QString &path : *paths)
            cleaned.append(QDir::cleanPath(path));
        TimedCall::Ending ending;
        std::vector<PathFacts> facts = factsOfAll(cleaned, &ending);
        QStringList checked = paths->mid(0, qsizetype(facts.size()));
        if (facts.size() == size_t(paths->size()))
            return std::make_pair(checked, std::move(facts));
        if (ending == TimedCall::Ending::Cancelled) {
            skipNotInTime(folder, ending, QStringLiteral("folder"));
            return std::make_pair(checked, std::move(facts));
        }
        // An entry that does not answer in time is left out and named. The entries after it are
        // checked each on a call of its own, several at once, so that another that stalls (or
        // one held up behind it) costs only itself: every one is taken in or named. When none of
        // a round answers, the folder's volume stopped answering: the rest are named unchecked,
        // and the folder with them.
        skipNotInTime(paths->at(qsizetype(facts.size())), ending, QStringLiteral("file"));
        for (qsizetype next = qsizetype(facts.size()) + 1; next < paths->size();) {
            const qsizetype count = std::min(kChecksAtOnce, paths->size() - next);
            std::vector<TimedCall::Ending> endings;
            const std::vector<std::optional<PathFacts>> round = factsOfEach(cleaned.mid(next, count), endings);
            bool answered = false;
            TimedCall::Ending last = TimedCall::Ending::OutOfTime;
            for (qsizetype i = 0; i < count; ++i) {
                if (round[size_t(i)]) {
                    answered = true;
                    checked.append(paths->at(next + i));
                    facts.push_back(*round[size_t(i)]);
                } else {
                    last = endings[size_t(i)];
                    skipNotInTime(paths->at(next + i), last, QStringLiteral("file"));
                }
            }
            next += count;
            if (!answered || last == TimedCall::Ending::Cancelled) {
                for (; next < paths->size(); ++next)
                    skipNotInTime(paths->at(next), last, QStringLiteral("file"));
                skipNotInTime(folder, last, QStringLiteral("folder"));
            }
        }
        return std::make_pair(checked, std::move(facts));
    }

    // The items of the list, each expanded with its facts; an item whose check did not end in
    // time is left out and named, and the items after it are checked on.
    void expandAll(const QStringList &paths, const QVariantList &elements)
    {
        QStringList cleaned;
        cleaned.reserve(paths.size());
        for (const QString &path : paths)
            cleaned.append(QDir::cleanPath(path));
        qsizetype done = 0;
        while (done < paths.size()) {
            TimedCall::Ending ending;
            const std::vector<PathFacts> facts = factsOfAll(cleaned.mid(done), &ending);
            for (const PathFacts &one : facts) {
                expand(paths[done], elements[done], 0, one);
                ++done;
            }
            if (done < paths.size()) {
                skipNotInTime(paths[done], ending, QStringLiteral("file"));
                ++done;
            }
        }
    }

    void expand(const QString &path, const QVariant &element, int depth, const PathFacts &facts)
    {
        const QString clean = QDir::cleanPath(path);
        if (!facts.mayBeRead) {
            skip(path, FileAccess::foreignLinkReason());
            return;
        }
        const FileAccess::Kind kind = facts.kind;
        if (kind == FileAccess::Kind::Missing || kind == FileAccess::Kind::DanglingLink
            || kind == FileAccess::Kind::NoAccess) {
            // A name that was not valid UTF-8 where it came from (an argument, a dropped URL)
            // reaches us with replacement characters and names nothing.
            skip(path, kind == FileAccess::Kind::Missing && path.contains(QChar::ReplacementCharacter)
                           ? QStringLiteral("the name is not valid UTF-8")
                           : FileAccess::refusalReason(kind));
            return;
        }
        const QString name = QFileInfo(clean).fileName();
        if ((name == QLatin1String("Thumbs") || name == QLatin1String("Data")) && isInsideFolder(clean, photoLibrary))
            return;

        if (kind == FileAccess::Kind::Folder) {
            if (depth >= kMaxFolderDepth) {
                skip(path, QStringLiteral("folders nested too deeply"));
                return;
            }
            // A folder reached a second time (through a link, or a link loop) is not listed again.
            if (facts.canonical.isEmpty() || expandedFolders.contains(facts.canonical))
                return;
            expandedFolders.insert(facts.canonical);
            const auto listed = listFolder(clean);
            if (!listed)
                return;
            for (qsizetype entry = 0; entry < listed->first.size(); ++entry)
                expand(listed->first[entry], QVariant(), depth + 1, listed->second[size_t(entry)]);
            return;
        }

        if (name == QLatin1String(".DS_Store"))
            return;
        // Devices, pipes and sockets are no media; reading a pipe would block the import for good.
        if (kind != FileAccess::Kind::Regular) {
            skip(path, FileAccess::refusalReason(kind));
            return;
        }
        files.append(element.isValid() ? element : QVariant(path));
    }
};

// Replaces what would let a file name leave its folder.
} // namespace

bool OVNHelper::fileExistsAtPath(const QString &path) { return !existingFilePath(path).isEmpty(); }

QString OVNHelper::existingFilePath(const QString &path)
{
    if (path.isEmpty())
        return {};
    if (QFileInfo::exists(path))
        return path;
    if (const QString local = OVNMSAHelper::localPath(path); local != path)
        return QFileInfo::exists(local) ? local : QString();

    const QString volume = getVolumeForPath(path);
    const QString mediaServerVolume = UserDefaults::standard().stringForKey(QStringLiteral("MSAVolume"));
    if (!OVNMSAHelper::isAutomountEnabled() || volume.isEmpty() || mediaServerVolume.isEmpty())
        return {};
    // gvfs keeps share names in lower case; other mounts carry the volume's own name.
    const Qt::CaseSensitivity sensitivity = isGvfsPath(path) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (volume.compare(mediaServerVolume, sensitivity) != 0)
        return {};

    OVNMSAHelper mounter;
    mounter.setSilentMode(true);
    if (!mounter.automount())
        return {};
    const QString local = OVNMSAHelper::localPath(path);
    return QFileInfo::exists(local) ? local : QString();
}

QString OVNHelper::getVolumeForPath(const QString &path) { return volumeLocation(path).name; }

QString OVNHelper::getVolumeRootForPath(const QString &path) { return volumeLocation(path).root; }

QStringList OVNHelper::volumeRoots()
{
    const QString roots = qEnvironmentVariable("OVN_VOLUME_ROOTS");
    if (!roots.isEmpty())
        return roots.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // The account's own login, not $USER: cron, su and service starts leave that unset or wrong.
    const QString user = SystemInfo::accountName();
    if (user.isEmpty())
        return {QStringLiteral("/Volumes"), QStringLiteral("/mnt")};
    return {QStringLiteral("/Volumes"), QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user,
            QStringLiteral("/mnt")};
}

bool OVNHelper::isGvfsPath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (clean.startsWith(GioMountRunner::gvfsFolder() + QLatin1Char('/')))
        return true;
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.size() >= 5 && parts[0] == QLatin1String("run") && parts[1] == QLatin1String("user")
           && parts[3] == QLatin1String("gvfs");
}

QString OVNHelper::createPictureImportFolder()
{
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return createImportFolderAtLocation(pictures + QStringLiteral("/Ostrevan"));
}

QString OVNHelper::createImportFolderAtLocation(const QString &location)
{
    const QString base = expandTilde(location);
    if (!QFileInfo(base).isDir())
        QDir().mkpath(base); // failures show later, when files are copied there
    const QString folder = QDir::cleanPath(joinPath(base, importFolderName(QDateTime::currentDateTime())));
    QDir().mkpath(folder);
    return folder;
}

QString OVNHelper::importFolderName(const QDateTime &localTime)
{
    const int offset = localTime.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    QString name = localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') + zone;
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return name;
}

QString OVNHelper::expandTilde(const QString &path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::cleanPath(QDir::homePath() + path.mid(1));
    return QDir::cleanPath(path);
}

QVariantList OVNHelper::parseFileList(const QVariantList &list) { return parseFileList(list, nullptr); }

void OVNHelper::setPathCheckHook(PathCheckHook hook)
{
    const std::lock_guard lock(folderReaderMutex);
    pathCheckHook() = std::move(hook);
}

void OVNHelper::setFolderReader(FolderReader reader)
{
    const std::lock_guard lock(folderReaderMutex);
    folderReader() = reader ? std::move(reader) : [](const QString &folder, QStringList *undecodable, QString *why) {
        return FileAccess::folderEntries(folder, undecodable, why);
    };
}

bool OVNHelper::namesInOrder(const QString &first, const QString &second)
{
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    qsizetype a = 0;
    qsizetype b = 0;
    // Between two names that are the same but for the zeros leading their numbers, the one with
    // fewer comes first.
    int zeros = 0;
    while (a < first.size() && b < second.size()) {
        if (isDigit(first.at(a)) && isDigit(second.at(b))) {
            qsizetype aEnd = a;
            while (aEnd < first.size() && isDigit(first.at(aEnd)))
                ++aEnd;
            qsizetype bEnd = b;
            while (bEnd < second.size() && isDigit(second.at(bEnd)))
                ++bEnd;
            qsizetype aStart = a;
            while (aStart + 1 < aEnd && first.at(aStart) == QLatin1Char('0'))
                ++aStart;
            qsizetype bStart = b;
            while (bStart + 1 < bEnd && second.at(bStart) == QLatin1Char('0'))
                ++bStart;
            // Without its leading zeros, the longer number is the larger; of equal length, the
            // first digit that differs decides.
            if (aEnd - aStart != bEnd - bStart)
                return aEnd - aStart < bEnd - bStart;
            const int digits = QStringView(first)
                                   .sliced(aStart, aEnd - aStart)
                                   .compare(QStringView(second).sliced(bStart, bEnd - bStart));
            if (digits != 0)
                return digits < 0;
            if (zeros == 0 && aStart - a != bStart - b)
                zeros = aStart - a < bStart - b ? -1 : 1;
            a = aEnd;
            b = bEnd;
            continue;
        }
        const int letter =
            QStringView(first).sliced(a, 1).compare(QStringView(second).sliced(b, 1), Qt::CaseInsensitive);
        if (letter != 0)
            return letter < 0;
        ++a;
        ++b;
    }
    if (first.size() - a != second.size() - b)
        return first.size() - a < second.size() - b;
    if (zeros != 0)
        return zeros < 0;
    return first < second;
}

std::optional<QStringList> OVNHelper::folderEntryPaths(const QString &folder, QList<SkippedFile> *skipped)
{
    return folderEntryPaths(folder, skipped, std::nullopt);
}

std::optional<QStringList> OVNHelper::folderEntryPaths(const QString &folder, QList<SkippedFile> *skipped,
                                                       const std::optional<ListingTime> &time)
{
    FileListExpansion expansion;
    expansion.skipped = skipped;
    expansion.time = time;
    FolderContents contents;
    if (!expansion.readFolder(folder, contents))
        return std::nullopt;
    return entryPaths(folder, contents.entries, contents.undecodable, contents.why, skipped);
}

std::vector<OVNHelper::PathKind> OVNHelper::pathKinds(const QStringList &paths, const std::optional<ListingTime> &time)
{
    FileListExpansion expansion;
    expansion.time = time;
    QStringList cleaned;
    cleaned.reserve(paths.size());
    for (const QString &path : paths)
        cleaned.append(QDir::cleanPath(path));
    std::vector<PathKind> kinds(size_t(paths.size()));
    qsizetype done = 0;
    // A path not answered in time is left as neither, and the ones after it are asked on.
    while (done < cleaned.size()) {
        TimedCall::Ending ending;
        for (const PathFacts &facts : expansion.factsOfAll(cleaned.mid(done), &ending)) {
            kinds[size_t(done)] = {facts.mayBeRead && facts.kind == FileAccess::Kind::Folder, facts.mayBeRead};
            ++done;
        }
        if (done < cleaned.size())
            ++done;
    }
    return kinds;
}

QVariantList OVNHelper::parseFileList(const QVariantList &list, QList<SkippedFile> *skipped)
{
    return parseFileList(list, skipped, std::nullopt);
}

QVariantList OVNHelper::parseFileList(const QVariantList &list, QList<SkippedFile> *skipped,
                                      const std::optional<ListingTime> &time)
{
    FileListExpansion expansion;
    expansion.skipped = skipped;
    expansion.time = time;
    expansion.photoLibrary = QDir::cleanPath(QDir::homePath() + QStringLiteral("/Pictures/iPhoto Library"));
    QStringList paths;
    QVariantList elements;
    for (const QVariant &element : list) {
        const int typeId = element.typeId();
        if (typeId == QMetaType::QString) {
            const QString path = element.toString();
            if (!path.isEmpty()) {
                paths.append(path);
                elements.append(path);
            }
        } else if (typeId == QMetaType::QVariantMap || typeId == QMetaType::QVariantHash) {
            const QVariantMap dictionary = element.toMap();
            const auto it = dictionary.constFind(QStringLiteral("PATH"));
            if (it != dictionary.constEnd() && it->typeId() == QMetaType::QString && !it->toString().isEmpty()) {
                paths.append(it->toString());
                elements.append(element);
            }
        }
    }
    expansion.expandAll(paths, elements);
    return expansion.files;
}
