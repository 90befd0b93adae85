#include "formats/OVNHelper.h"

#include "formats/GioMountRunner.h"
#include "formats/OVNMSAHelper.h"

#include "platform/FileAccess.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

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

struct FileListExpansion {
    QString photoLibrary;
    QSet<QString> expandedFolders; // canonical paths
    QVariantList files;
    QList<OVNHelper::SkippedFile> *skipped = nullptr;

    void skip(const QString &path, const QString &reason)
    {
        if (skipped)
            skipped->append({path, reason});
    }

    void expand(const QString &path, const QVariant &element, int depth)
    {
        const QString clean = QDir::cleanPath(path);
        if (!FileAccess::linkMayBeRead(clean)) {
            skip(path, FileAccess::foreignLinkReason());
            return;
        }
        const FileAccess::Kind kind = FileAccess::kindOf(clean);
        if (kind == FileAccess::Kind::Missing || kind == FileAccess::Kind::DanglingLink
            || kind == FileAccess::Kind::NoAccess) {
            // A name that was not valid UTF-8 where it came from (an argument, a dropped URL)
            // reaches us with replacement characters and names nothing.
            skip(path, kind == FileAccess::Kind::Missing && path.contains(QChar::ReplacementCharacter)
                           ? QStringLiteral("the name is not valid UTF-8")
                           : FileAccess::refusalReason(kind));
            return;
        }
        const QFileInfo info(clean);
        const QString name = info.fileName();
        if ((name == QLatin1String("Thumbs") || name == QLatin1String("Data")) && isInsideFolder(clean, photoLibrary))
            return;

        if (kind == FileAccess::Kind::Folder) {
            if (depth >= kMaxFolderDepth) {
                skip(path, QStringLiteral("folders nested too deeply"));
                return;
            }
            // A folder reached a second time (through a link, or a link loop) is not listed again.
            const QString canonical = info.canonicalFilePath();
            if (canonical.isEmpty() || expandedFolders.contains(canonical))
                return;
            expandedFolders.insert(canonical);
            const std::optional<QStringList> entries = OVNHelper::folderEntryPaths(clean, skipped);
            if (!entries)
                return;
            for (const QString &entry : *entries)
                expand(entry, QVariant(), depth + 1);
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
    const QString user = qEnvironmentVariable("USER");
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

std::optional<QStringList> OVNHelper::folderEntryPaths(const QString &folder, QList<SkippedFile> *skipped)
{
    QStringList undecodable;
    QString why;
    const std::optional<QStringList> entries = FileAccess::folderEntries(folder, &undecodable, &why);
    if (!entries) {
        if (skipped)
            skipped->append({folder, QStringLiteral("the folder cannot be read: %1").arg(why)});
        return std::nullopt;
    }
    if (skipped)
        for (const QString &entry : undecodable)
            skipped->append({joinPath(folder, entry), QStringLiteral("the name is not valid UTF-8")});
    QStringList paths;
    paths.reserve(entries->size());
    for (const QString &entry : *entries)
        paths.append(joinPath(folder, entry));
    return paths;
}

QVariantList OVNHelper::parseFileList(const QVariantList &list, QList<SkippedFile> *skipped)
{
    FileListExpansion expansion;
    expansion.skipped = skipped;
    expansion.photoLibrary = QDir::cleanPath(QDir::homePath() + QStringLiteral("/Pictures/iPhoto Library"));
    for (const QVariant &element : list) {
        const int typeId = element.typeId();
        if (typeId == QMetaType::QString) {
            const QString path = element.toString();
            if (!path.isEmpty())
                expansion.expand(path, path, 0);
        } else if (typeId == QMetaType::QVariantMap || typeId == QMetaType::QVariantHash) {
            const QVariantMap dictionary = element.toMap();
            const auto it = dictionary.constFind(QStringLiteral("PATH"));
            if (it != dictionary.constEnd() && it->typeId() == QMetaType::QString && !it->toString().isEmpty())
                expansion.expand(it->toString(), element, 0);
        }
    }
    return expansion.files;
}

QString OVNHelper::resolveAliasInPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isSymLink())
        return path;
    QString current = info.absoluteFilePath();
    // The kernel's own limit on link chains; a longer chain is a loop.
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo link(current);
        if (!link.isSymLink())
            return link.exists() ? QDir::cleanPath(current) : path;
        const QString target = link.symLinkTarget();
        if (target.isEmpty())
            return path;
        current = target;
    }
    return path;
}
