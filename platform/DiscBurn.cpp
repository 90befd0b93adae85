#include "platform/DiscBurn.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

// libburn's header first: libisofs refers to its burn_source.
#include <libburn/libburn.h>
#include <libisofs/libisofs.h>

using namespace burn;

namespace {

QString statusText(burn::burn_drive_status status)
{
    switch (status) {
    case BURN_DRIVE_SPAWNING: return QStringLiteral("Preparing to burn disc...");
    case BURN_DRIVE_WRITING_LEADIN:
    case BURN_DRIVE_WRITING_PREGAP: return QStringLiteral("Opening Track...");
    case BURN_DRIVE_WRITING: return QStringLiteral("Writing Track...");
    case BURN_DRIVE_WRITING_LEADOUT:
    case BURN_DRIVE_CLOSING_TRACK: return QStringLiteral("Closing Track...");
    case BURN_DRIVE_CLOSING_SESSION: return QStringLiteral("Closing Session...");
    case BURN_DRIVE_WRITING_SYNC: return QStringLiteral("Finishing Disc...");
    default: return QStringLiteral("Burning disc...");
    }
}

// libburn cannot be started again after burn_finish(): it is started once, at the first burn.
struct BurnLibrary {
    bool ok = false;
    BurnLibrary()
    {
        ok = burn_initialize() && iso_init() >= 0;
        // No signal handlers of libburn's own: the application keeps its default reactions.
        burn_set_signal_handling(nullptr, nullptr, 1);
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

} // namespace

QStringList DiscBurn::scanDrives()
{
    BurnLibrary &library = burnLibrary();
    QStringList addresses;
    burn::burn_drive_info *drives = nullptr;
    unsigned int count = 0;
    if (!library.ok || burn_drive_scan(&drives, &count) <= 0)
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
    if (!library.ok || burn_drive_scan_and_grab(&drives, native.data(), 0) <= 0)
        return Media::Unknown;
    Media media = Media::Unknown;
    switch (burn_disc_get_status(drives[0].drive)) {
    case BURN_DISC_BLANK:
    case BURN_DISC_APPENDABLE: media = Media::Writable; break;
    case BURN_DISC_FULL: media = Media::Full; break;
    case BURN_DISC_EMPTY: media = Media::None; break;
    default: break;
    }
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

DiscBurn::Result DiscBurn::burnToImageFile(const QString &imagePath, const QString &discName, const QStringList &files,
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
    if (QFileInfo::exists(imagePath)) {
        result.outcome = Outcome::Refused;
        result.text = QStringLiteral("The image file %1 exists already.").arg(imagePath);
        return result;
    }

    BurnLibrary &library = burnLibrary();
    if (!library.ok) {
        result.text = QStringLiteral("The burning library could not be started.");
        return result;
    }
    report(QStringLiteral("Preparing disc..."), 0);
    IsoImage *image = nullptr;
    const QByteArray volume = discName.left(32).toUtf8();
    if (iso_image_new(volume.constData(), &image) < 0) {
        result.text = QStringLiteral("The disc image could not be made.");
        return result;
    }
    iso_image_set_volume_id(image, volume.constData());
    IsoDir *root = iso_image_get_root(image);
    const QStringList names = rootNames(files);
    for (qsizetype i = 0; i < files.size(); ++i) {
        IsoNode *node = nullptr;
        const QByteArray name = names.at(i).toUtf8();
        const QByteArray path = QFile::encodeName(QFileInfo(files.at(i)).absoluteFilePath());
        const int added = iso_tree_add_new_node(image, root, name.constData(), path.constData(), &node);
        if (added < 0) {
            qWarning("libisofs: %s", iso_error_to_msg(added));
            iso_image_unref(image);
            result.outcome = Outcome::Refused;
            result.text = QStringLiteral("%1 cannot be put on the disc.").arg(QFileInfo(files.at(i)).fileName());
            return result;
        }
        result.bytes += QFileInfo(files.at(i)).size();
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
        result.text = QStringLiteral("The files need %1 bytes, the disc has %2 bytes free.").arg(imageSize).arg(mediumSize);
        return result;
    }

    burn::burn_drive_info *drives = nullptr;
    const QByteArray address = "stdio:" + QFile::encodeName(imagePath);
    if (burn_drive_scan_and_grab(&drives, const_cast<char *>(address.constData()), 1) <= 0) {
        burn_source_free(source);
        result.text = QStringLiteral("The drive could not be used.");
        return result;
    }
    burn::burn_drive *drive = drives[0].drive;
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
    char reasons[BURN_REASONS_LEN] = {};
    const bool writable = burn_write_opts_auto_write_type(write, disc, reasons, 0) != BURN_WRITE_NONE;
    bool wasCancelled = false;
    if (writable) {
        report(QStringLiteral("Burning disc..."), 0);
        burn_disc_write(write, disc);
        QString last;
        burn::burn_progress progress {};
        for (;;) {
            const burn::burn_drive_status state = burn_drive_get_status(drive, &progress);
            if (state == BURN_DRIVE_IDLE)
                break;
            const int percent = progress.sectors > 0 ? int(qint64(progress.sector) * 100 / progress.sectors) : 0;
            const QString text = statusText(state);
            if (text != last) {
                report(text, percent);
                last = text;
            }
            if (!wasCancelled && ((cancelAtPercent >= 0 && percent >= cancelAtPercent && state == BURN_DRIVE_WRITING)
                                  || (cancelled && cancelled->load()))) {
                burn_drive_cancel(drive);
                wasCancelled = true;
            }
            QThread::msleep(20);
        }
    }
    const bool wroteWell = writable && !wasCancelled && burn_drive_wrote_well(drive);
    burn_write_opts_free(write);
    burn_disc_free(disc);
    burn_drive_release(drive, 0);
    burn_drive_info_free(drives);
    if (wasCancelled) {
        QFile::remove(imagePath);
        result.outcome = Outcome::Cancelled;
        result.text = QStringLiteral("drive released");
    } else if (!wroteWell) {
        QFile::remove(imagePath);
        result.text = writable ? QStringLiteral("Failed to burn disc.") : QString::fromLocal8Bit(reasons);
    } else {
        report(QStringLiteral("Disc successfully finished. Ejecting..."), 100);
        result.outcome = Outcome::Done;
        result.files = int(files.size());
    }
    return result;
}
