#include "platform/DiscBurn.h"
#include "platform/DiscDrives.h"
#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QSet>
#include <QThread>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// libburn's header first: libisofs refers to its burn_source.
#include <libburn/libburn.h>
#include <libisofs/libisofs.h>

#include <memory>
#include <optional>
#include <vector>

using namespace burn;

namespace {

QString statusText(burn::burn_drive_status status)
{
    switch (status) {
    case BURN_DRIVE_SPAWNING:
        return QStringLiteral("Preparing to burn disc...");
    case BURN_DRIVE_WRITING_LEADIN:
    case BURN_DRIVE_WRITING_PREGAP:
        return QStringLiteral("Opening Track...");
    case BURN_DRIVE_WRITING:
        return QStringLiteral("Writing Track...");
    case BURN_DRIVE_WRITING_LEADOUT:
    case BURN_DRIVE_CLOSING_TRACK:
        return QStringLiteral("Closing Track...");
    case BURN_DRIVE_CLOSING_SESSION:
        return QStringLiteral("Closing Session...");
    case BURN_DRIVE_WRITING_SYNC:
        return QStringLiteral("Finishing Disc...");
    default:
        return QStringLiteral("Burning disc...");
    }
}

// libburn cannot be started again after burn_finish(): it is started once, at the first burn.
struct BurnLibrary {
    bool ok = false;
    // libburn keeps one list of drives for the process: one caller at a time.
    QRecursiveMutex lock;
    BurnLibrary()
    {
        ok = burn_initialize() && iso_init() >= 0;
        // No signal handlers of libburn's own: the application keeps its default reactions.
        burn_set_signal_handling(nullptr, nullptr, 1);
        // Its complaints are queued for the burn's result, not printed.
        burn_msgs_set_severities(const_cast<char *>("SORRY"), const_cast<char *>("NEVER"),
                                 const_cast<char *>("libburn: "));
    }
    ~BurnLibrary()
    {
        iso_finish();
        burn_finish();
    }
};

BurnLibrary &burnLibrary()
{
    static BurnLibrary library;
    return library;
}

// What libburn complained about since the last call, one complaint a line.
QString takeComplaints()
{
    QStringList complaints;
    char text[BURN_MSGS_MESSAGE_LEN] = {};
    char severity[80] = {};
    int code = 0, osErrno = 0;
    while (burn_msgs_obtain(const_cast<char *>("SORRY"), &code, text, &osErrno, severity) > 0)
        complaints.append(QString::fromLocal8Bit(text));
    return complaints.join(QLatin1Char('\n'));
}

DiscBurn::Media mediaOf(burn::burn_drive *drive)
{
    switch (burn_disc_get_status(drive)) {
    case BURN_DISC_BLANK:
    case BURN_DISC_APPENDABLE:
        return DiscBurn::Media::Writable;
    case BURN_DISC_FULL:
        return DiscBurn::Media::Full;
    case BURN_DISC_EMPTY:
        return DiscBurn::Media::None;
    default:
        return DiscBurn::Media::Unknown;
    }
}

// An open device file, closed on every way out.
struct DeviceFile {
    int fd = -1;
    explicit DeviceFile(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {}
    ~DeviceFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    DeviceFile(const DeviceFile &) = delete;
    DeviceFile &operator=(const DeviceFile &) = delete;
};

class SystemDrives : public DiscDrives
{
public:
    ~SystemDrives() override { release(); }

    QStringList scan() override
    {
        release();
        return DiscBurn::scanDrives();
    }

    Tray tray(const QString &address) override
    {
        if (DiscBurn::isImageFile(address))
            return Tray::Closed;
        const DeviceFile device(address);
        if (device.fd < 0)
            return Tray::Unknown;
        switch (::ioctl(device.fd, CDROM_DRIVE_STATUS, CDSL_CURRENT)) {
        case CDS_TRAY_OPEN:
            return Tray::Open;
        case CDS_NO_DISC:
        case CDS_DISC_OK:
            return Tray::Closed;
        default:
            return Tray::Unknown;
        }
    }

    bool grab(const QString &address) override
    {
        release();
        BurnLibrary &library = burnLibrary();
        QByteArray native = QFile::encodeName(address);
        const QMutexLocker locker(&library.lock);
        if (!library.ok || burn_drive_scan_and_grab(&m_drives, native.data(), 0) <= 0) {
            m_drives = nullptr;
            return false;
        }
        return true;
    }

    DiscBurn::Media media() override
    {
        if (!m_drives)
            return DiscBurn::Media::Unknown;
        const QMutexLocker locker(&burnLibrary().lock);
        return mediaOf(m_drives[0].drive);
    }

    void release() override { releaseHeld(false); }

    bool moveTray(const QString &address, bool open) override
    {
        release();
        if (DiscBurn::isImageFile(address))
            return true;
        const DeviceFile device(address);
        return device.fd >= 0 && ::ioctl(device.fd, open ? CDROMEJECT : CDROMCLOSETRAY, 0) == 0;
    }

    bool eject(const QString &address) override
    {
        if (DiscBurn::isImageFile(address))
            return true;
        if (!grab(address))
            return moveTray(address, true);
        releaseHeld(true);
        return true;
    }

    DiscBurn::Result burn(const QString &address, const QString &discName, const QStringList &files, qint64 mediumSize,
                          const std::function<void(const QString &, int)> &status,
                          const std::atomic_bool *cancelled) override
    {
        release();
        return DiscBurn::burn(address, discName, files, mediumSize, status, -1, cancelled);
    }

private:
    void releaseHeld(bool eject)
    {
        if (!m_drives)
            return;
        const QMutexLocker locker(&burnLibrary().lock);
        burn_drive_release(m_drives[0].drive, eject ? 1 : 0);
        burn_drive_info_free(m_drives);
        m_drives = nullptr;
    }

    burn::burn_drive_info *m_drives = nullptr;
};

} // namespace

std::unique_ptr<DiscDrives> DiscDrives::system() { return std::make_unique<SystemDrives>(); }

QStringList DiscBurn::scanDrives()
{
    BurnLibrary &library = burnLibrary();
    QStringList addresses;
    burn::burn_drive_info *drives = nullptr;
    unsigned int count = 0;
    const QMutexLocker locker(&library.lock);
    if (!library.ok)
        return addresses;
    // The scan runs on a thread of libburn's own: nothing else may start on a drive before it ends.
    int scanned = 0;
    while ((scanned = burn_drive_scan(&drives, &count)) == 0)
        QThread::msleep(10);
    if (scanned < 0)
        return addresses;
    for (unsigned int i = 0; i < count; ++i) {
        char address[BURN_DRIVE_ADR_LEN] = {};
        if (burn_drive_get_adr(&drives[i], address) > 0)
            addresses.append(QString::fromLocal8Bit(address));
    }
    burn_drive_info_free(drives);
    return addresses;
}

DiscBurn::Media DiscBurn::mediaAt(const QString &address)
{
    BurnLibrary &library = burnLibrary();
    burn::burn_drive_info *drives = nullptr;
    QByteArray native = QFile::encodeName(address);
    const QMutexLocker locker(&library.lock);
    if (!library.ok || burn_drive_scan_and_grab(&drives, native.data(), 0) <= 0)
        return Media::Unknown;
    const Media media = mediaOf(drives[0].drive);
    burn_drive_release(drives[0].drive, 0);
    burn_drive_info_free(drives);
    return media;
}

QStringList DiscBurn::rootNames(const QStringList &files)
{
    QStringList names;
    QSet<QString> given;
    for (const QString &file : files) {
        const QString name = QFileInfo(file).fileName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString base = dot > 0 ? name.left(dot) : name;
        const QString extension = dot > 0 ? name.mid(dot) : QString();
        QString candidate = name;
        for (int n = 2; given.contains(candidate); ++n)
            candidate = QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(extension);
        given.insert(candidate);
        names.append(candidate);
    }
    return names;
}

bool DiscBurn::isImageFile(const QString &address) { return address.startsWith(QLatin1String("stdio:")); }

DiscBurn::Result DiscBurn::burnToImageFile(const QString &imagePath, const QString &discName, const QStringList &files,
                                           qint64 mediumSize, const std::function<void(const QString &, int)> &status,
                                           int cancelAtPercent, const std::atomic_bool *cancelled)
{
    return burn(QStringLiteral("stdio:") + imagePath, discName, files, mediumSize, status, cancelAtPercent, cancelled);
}

namespace {

// The descriptors of the files a disc is made of, open until the disc is written.
struct HeldFiles {
    std::vector<int> fds;
    HeldFiles() = default;
    HeldFiles(const HeldFiles &) = delete;
    HeldFiles &operator=(const HeldFiles &) = delete;
    ~HeldFiles()
    {
        for (const int fd : fds)
            ::close(fd);
    }
    // Raises the soft limit of open files towards the hard one when `count` more would not fit
    // beside the descriptors the program holds anyway.
    static bool makeRoomFor(qsizetype count)
    {
        constexpr rlim_t besides = 256;
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return false;
        const rlim_t wanted = rlim_t(count) + besides;
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
            if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
                return false;
            limit.rlim_cur = wanted;
            if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
                return false;
        }
        return true;
    }
};

} // namespace

DiscBurn::Result DiscBurn::burn(const QString &address, const QString &discName, const QStringList &files,
                                qint64 mediumSize, const std::function<void(const QString &, int)> &status,
                                int cancelAtPercent, const std::atomic_bool *cancelled)
{
    Result result;
    auto report = [&](const QString &text, int percent) {
        if (status)
            status(text, percent);
    };
    QStringList unreadable;
    for (const QString &file : files) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            unreadable.append(info.fileName());
    }
    if (!unreadable.isEmpty()) {
        result.outcome = Outcome::Refused;
        result.text = QStringLiteral("These files cannot be read: %1").arg(unreadable.join(QStringLiteral(", ")));
        return result;
    }
    const bool imageFile = isImageFile(address);
    // An image file is written beside its place and renamed into it when it is whole; a link there
    // is followed only by the walk's rule, and a file there is never replaced.
    QString imagePath = imageFile ? address.mid(6) : QString();
    QString writtenPath;
    if (imageFile) {
        // Asked given up on when the image's folder does not answer (a mount that stopped
        // answering), naming the folder.
        struct Place {
            QString why;
            std::optional<QString> target;
            bool exists = false;
            QString written;
        };
        const auto place = std::make_shared<Place>();
        const QString folder = QFileInfo(imagePath).absolutePath();
        const std::optional<bool> answered = FileAccess::answerWithin(folder, [place, imagePath] {
            place->target = FileAccess::followableDestination(imagePath, &place->why);
            struct stat there {};
            place->exists = place->target && ::lstat(QFile::encodeName(*place->target).constData(), &there) == 0;
            if (place->target && !place->exists)
                place->written = FileAccess::temporaryFileBeside(*place->target, &place->why);
            return true;
        });
        if (!answered) {
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("The image file %1 cannot be written: %2")
                              .arg(imagePath, FileAccess::notAnsweringReason(folder));
            return result;
        }
        const QString why = place->why;
        const std::optional<QString> target = place->target;
        if (!target) {
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("The image file %1 cannot be written: %2").arg(imagePath, why);
            return result;
        }
        if (place->exists) {
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("The image file %1 exists already.").arg(imagePath);
            return result;
        }
        imagePath = *target;
        writtenPath = place->written;
        if (writtenPath.isEmpty()) {
            result.text = QStringLiteral("The image file %1 cannot be written: %2").arg(imagePath, why);
            return result;
        }
    }
    // Whatever ends the burn before the image is whole takes its temporary file away.
    struct Unfinished {
        QString &path;
        int held = -1;
        ~Unfinished()
        {
            if (!path.isEmpty())
                QFile::remove(path);
            if (held >= 0)
                ::close(held);
        }
    } unfinished{writtenPath};
    if (imageFile) {
        // The temporary file is held from here on and written through its descriptor: in a folder
        // others may rename in, its name could meanwhile be another account's link to this
        // account's files. Only the empty file of this account's just made is taken.
        unfinished.held = ::open(QFile::encodeName(writtenPath).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        struct stat made {};
        if (unfinished.held < 0 || ::fstat(unfinished.held, &made) != 0 || !S_ISREG(made.st_mode)
            || made.st_uid != ::geteuid() || made.st_size != 0) {
            result.text =
                QStringLiteral("The image file %1 cannot be written: its temporary file was replaced").arg(imagePath);
            return result;
        }
    }

    BurnLibrary &library = burnLibrary();
    if (!library.ok) {
        result.text = QStringLiteral("The burning library could not be started.");
        return result;
    }
    const QMutexLocker locker(&library.lock);
    report(QStringLiteral("Preparing disc..."), 0);
    IsoImage *image = nullptr;
    const QByteArray volume = discName.left(32).toUtf8();
    if (iso_image_new(volume.constData(), &image) < 0) {
        result.text = QStringLiteral("The disc image could not be made.");
        return result;
    }
    iso_image_set_volume_id(image, volume.constData());
    // Each file goes on the disc from a descriptor opened by the walk and held until the disc is
    // written: the library reopens the path it is given when it writes the file, and in a folder
    // another account may rename in, the file's own name could by then be his link to this
    // account's private files. "/proc/self/fd/N" reopens the file the descriptor holds, whatever
    // its name names meanwhile; the library follows that one link to the file.
    iso_tree_set_follow_symlinks(image, 1);
    HeldFiles held;
    if (!held.makeRoomFor(files.size())) {
        iso_image_unref(image);
        result.outcome = Outcome::Refused;
        result.text = QStringLiteral("%1 files are more than can be held open at once to put them on one disc.")
                          .arg(files.size());
        return result;
    }
    IsoDir *root = iso_image_get_root(image);
    const QStringList names = rootNames(files);
    for (qsizetype i = 0; i < files.size(); ++i) {
        IsoNode *node = nullptr;
        const QByteArray name = names.at(i).toUtf8();
        // Each file is walked to as an import walks it, and put on the disc from where the walk
        // found it: another account's link on the way would put this account's private file there.
        const FileAccess::WalkedPath walked = FileAccess::walkedPath(files.at(i));
        QString why;
        const int fd = walked.mayBeRead && walked.kind == FileAccess::Kind::Regular
                           ? FileAccess::openFound(files.at(i), &why)
                           : -1;
        if (fd < 0) {
            iso_image_unref(image);
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("%1 cannot be put on the disc: %2")
                              .arg(QFileInfo(files.at(i)).fileName(),
                                   !walked.mayBeRead                          ? FileAccess::foreignLinkReason()
                                   : walked.kind == FileAccess::Kind::Folder  ? QStringLiteral("a folder, not a file")
                                   : walked.kind != FileAccess::Kind::Regular ? FileAccess::refusalReason(walked.kind)
                                                                              : why);
            return result;
        }
        held.fds.push_back(fd);
        struct stat found {};
        const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
        const int added = ::fstat(fd, &found) == 0
                              ? iso_tree_add_new_node(image, root, name.constData(), path.constData(), &node)
                              : ISO_FILE_ERROR;
        if (added < 0) {
            qWarning("libisofs: %s", iso_error_to_msg(added));
            iso_image_unref(image);
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("%1 cannot be put on the disc.").arg(QFileInfo(files.at(i)).fileName());
            return result;
        }
        result.bytes += found.st_size;
    }
    IsoWriteOpts *opts = nullptr;
    iso_write_opts_new(&opts, 0);
    iso_write_opts_set_rockridge(opts, 1);
    iso_write_opts_set_joliet(opts, 1);
    iso_write_opts_set_joliet_long_names(opts, 1);
    ::burn_source *isoSource = nullptr;
    const int made = iso_image_create_burn_source(image, opts, &isoSource);
    // The same C struct, declared once by each library.
    auto *source = reinterpret_cast<burn::burn_source *>(isoSource);
    iso_write_opts_free(opts);
    iso_image_unref(image);
    if (made < 0 || !isoSource) {
        result.text = QStringLiteral("The disc image could not be made.");
        return result;
    }
    const qint64 imageSize = source->get_size(source);
    if (mediumSize > 0 && imageSize > mediumSize) {
        burn_source_free(source);
        result.outcome = Outcome::Refused;
        result.text =
            QStringLiteral("The files need %1 bytes, the disc has %2 bytes free.").arg(imageSize).arg(mediumSize);
        return result;
    }

    burn::burn_drive_info *drives = nullptr;
    const QByteArray native = imageFile ? "stdio:/dev/fd/" + QByteArray::number(unfinished.held)
                                        : QFile::encodeName(address);
    if (burn_drive_scan_and_grab(&drives, const_cast<char *>(native.constData()), 1) <= 0) {
        burn_source_free(source);
        result.text = QStringLiteral("The drive could not be used.");
        return result;
    }
    burn::burn_drive *drive = drives[0].drive;
    auto releaseDrive = [&] {
        burn_drive_release(drive, 0);
        burn_drive_info_free(drives);
    };
    burn::burn_disc *disc = burn_disc_create();
    burn::burn_session *session = burn_session_create();
    burn_disc_add_session(disc, session, BURN_POS_END);
    burn::burn_track *track = burn_track_create();
    burn_track_define_data(track, 0, 0, 1, BURN_MODE1);
    burn_track_set_source(track, source);
    burn_session_add_track(session, track, BURN_POS_END);
    burn_source_free(source);
    burn::burn_write_opts *write = burn_write_opts_new(drive);
    burn_write_opts_set_perform_opc(write, 0);
    // A real disc: what it has free decides.
    if (!imageFile && mediumSize <= 0) {
        const qint64 available = burn_disc_available_space(drive, write);
        if (available > 0 && imageSize > available) {
            burn_write_opts_free(write);
            burn_disc_free(disc);
            releaseDrive();
            result.outcome = Outcome::Refused;
            result.text =
                QStringLiteral("The files need %1 bytes, the disc has %2 bytes free.").arg(imageSize).arg(available);
            return result;
        }
    }
    char reasons[BURN_REASONS_LEN] = {};
    const bool writable = burn_write_opts_auto_write_type(write, disc, reasons, 0) != BURN_WRITE_NONE;
    bool wasCancelled = false;
    takeComplaints();
    QString complaints;
    bool started = false;
    if (writable) {
        report(QStringLiteral("Burning disc..."), 0);
        // The worker thread of a burn cancelled just before may still be on its way out, and
        // libburn then refuses the write at once, with a complaint: try again a moment later.
        for (int attempt = 0; attempt < 250 && !started; ++attempt) {
            burn_disc_write(write, disc);
            burn::burn_progress begun{};
            complaints = burn_drive_get_status(drive, &begun) == BURN_DRIVE_IDLE ? takeComplaints() : QString();
            started = complaints.isEmpty();
            if (!started)
                QThread::msleep(20);
        }
        QString lastText;
        int lastPercent = -1;
        burn::burn_progress progress{};
        for (;;) {
            const burn::burn_drive_status state = burn_drive_get_status(drive, &progress);
            if (state == BURN_DRIVE_IDLE)
                break;
            const int percent = progress.sectors > 0 ? int(qint64(progress.sector) * 100 / progress.sectors) : 0;
            const QString text = statusText(state);
            if (text != lastText || percent != lastPercent) {
                report(text, percent);
                lastText = text;
                lastPercent = percent;
            }
            if (!wasCancelled
                && ((cancelAtPercent >= 0 && percent >= cancelAtPercent && state == BURN_DRIVE_WRITING)
                    || (cancelled && cancelled->load()))) {
                burn_drive_cancel(drive);
                wasCancelled = true;
            }
            QThread::msleep(20);
        }
    }
    // A write libburn refused ends idle without a word but its complaint.
    // A write libburn refused ends idle at once; it reports "wrote well" all the same.
    const bool wroteWell = started && !wasCancelled && burn_drive_wrote_well(drive);
    if (complaints.isEmpty() && !wroteWell)
        complaints = takeComplaints();
    burn_write_opts_free(write);
    burn_disc_free(disc);
    releaseDrive();
    if (wasCancelled) {
        result.outcome = Outcome::Cancelled;
        result.text = QStringLiteral("drive released");
    } else if (!wroteWell) {
        result.text = !writable              ? QString::fromLocal8Bit(reasons)
                      : complaints.isEmpty() ? QStringLiteral("Failed to burn disc.")
                                             : complaints;
    } else if (QString why;
               imageFile && !FileAccess::moveIntoPlace(writtenPath, imagePath, FileAccess::Existing::Keep, &why)) {
        writtenPath.clear(); // moveIntoPlace removed it
        result.text = QStringLiteral("The image file %1 cannot be written: %2").arg(imagePath, why);
    } else {
        writtenPath.clear(); // in its place now
        report(QStringLiteral("Disc successfully finished. Ejecting..."), 100);
        result.outcome = Outcome::Done;
        result.files = int(files.size());
    }
    return result;
}
