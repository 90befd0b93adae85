#include "platform/CaptureDevice.h"
#include "platform/SystemInfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gphoto2/gphoto2.h>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

void sortFiles(QList<CaptureFile> &files)
{
    std::sort(files.begin(), files.end(), [](const CaptureFile &a, const CaptureFile &b) {
        if (a.folder != b.folder)
            return a.folder < b.folder;
        return a.name < b.name;
    });
}

QString gpError(int code) { return QString::fromUtf8(gp_result_as_string(code)); }

// ---- Cameras through libgphoto2 ----

class GPhotoCamera final : public CaptureDevice
{
public:
    GPhotoCamera(QString model, QString port, QString name)
        : m_model(std::move(model)),
          m_port(std::move(port)),
          m_name(std::move(name))
    {}
    ~GPhotoCamera() override { close(); }

    QString id() const override { return m_port; }
    QString name() const override { return m_name; }

    bool open(QString *error) override
    {
        if (m_camera)
            return true;
        m_context = gp_context_new();
        Camera *camera = nullptr;
        gp_camera_new(&camera);
        int result = setUp(camera);
        if (result >= GP_OK)
            result = gp_camera_init(camera, m_context);
        if (result < GP_OK) {
            gp_camera_free(camera);
            gp_context_unref(m_context);
            m_context = nullptr;
            if (error) {
                *error = result == GP_ERROR_IO_USB_CLAIM || result == GP_ERROR_IO_LOCK
                             ? QStringLiteral("Another program is using the camera. Unmount the camera in "
                                              "the file manager and try again.")
                             : QStringLiteral("The camera could not be opened (%1).").arg(gpError(result));
            }
            return false;
        }
        m_camera = camera;
        return true;
    }

    QList<CaptureFile> files(QString *error) override
    {
        QList<CaptureFile> out;
        if (!open(error))
            return out;
        QStringList pending{QStringLiteral("/")};
        while (!pending.isEmpty()) {
            const QString folder = pending.takeFirst();
            const QByteArray folderBytes = folder.toUtf8();
            CameraList *list = nullptr;
            gp_list_new(&list);
            if (gp_camera_folder_list_files(m_camera, folderBytes.constData(), list, m_context) >= GP_OK) {
                for (int i = 0, n = gp_list_count(list); i < n; ++i) {
                    const char *name = nullptr;
                    gp_list_get_name(list, i, &name);
                    CaptureFile file{folder, QString::fromUtf8(name), -1};
                    CameraFileInfo info;
                    if (gp_camera_file_get_info(m_camera, folderBytes.constData(), name, &info, m_context) >= GP_OK
                        && (info.file.fields & GP_FILE_INFO_SIZE))
                        file.size = qint64(info.file.size);
                    out.append(file);
                }
            }
            gp_list_reset(list);
            if (gp_camera_folder_list_folders(m_camera, folderBytes.constData(), list, m_context) >= GP_OK) {
                for (int i = 0, n = gp_list_count(list); i < n; ++i) {
                    const char *name = nullptr;
                    gp_list_get_name(list, i, &name);
                    pending.append(folder == QLatin1String("/") ? QLatin1Char('/') + QString::fromUtf8(name)
                                                                : folder + QLatin1Char('/') + QString::fromUtf8(name));
                }
            }
            gp_list_free(list);
        }
        sortFiles(out);
        return out;
    }

    bool download(const CaptureFile &file, int fd, QString *error) override
    {
        if (!open(error))
            return false;
        // The CameraFile closes the descriptor it is given.
        const int own = ::dup(fd);
        if (own < 0) {
            if (error)
                *error = QStringLiteral("out of file descriptors");
            return false;
        }
        CameraFile *target = nullptr;
        int result = gp_file_new_from_fd(&target, own);
        if (result < GP_OK) {
            ::close(own);
        } else {
            result = gp_camera_file_get(m_camera, file.folder.toUtf8().constData(), file.name.toUtf8().constData(),
                                        GP_FILE_TYPE_NORMAL, target, m_context);
            gp_file_free(target);
        }
        if (result < GP_OK && error)
            *error = gpError(result);
        return result >= GP_OK;
    }

    void close() override
    {
        if (m_camera) {
            gp_camera_exit(m_camera, m_context);
            gp_camera_free(m_camera);
            m_camera = nullptr;
        }
        if (m_context) {
            gp_context_unref(m_context);
            m_context = nullptr;
        }
    }

    bool eject(QString *) override
    {
        // A camera has nothing to unmount: ending the session lets it go.
        close();
        return true;
    }

private:
    int setUp(Camera *camera)
    {
        CameraAbilitiesList *abilitiesList = nullptr;
        gp_abilities_list_new(&abilitiesList);
        gp_abilities_list_load(abilitiesList, m_context);
        const int model = gp_abilities_list_lookup_model(abilitiesList, m_model.toUtf8().constData());
        int result = model;
        if (model >= GP_OK) {
            CameraAbilities abilities;
            gp_abilities_list_get_abilities(abilitiesList, model, &abilities);
            result = gp_camera_set_abilities(camera, abilities);
        }
        gp_abilities_list_free(abilitiesList);
        if (result < GP_OK)
            return result;
        GPPortInfoList *ports = nullptr;
        gp_port_info_list_new(&ports);
        gp_port_info_list_load(ports);
        const int port = gp_port_info_list_lookup_path(ports, m_port.toUtf8().constData());
        result = port;
        if (port >= GP_OK) {
            GPPortInfo info;
            gp_port_info_list_get_info(ports, port, &info);
            result = gp_camera_set_port_info(camera, info);
        }
        gp_port_info_list_free(ports);
        return result;
    }

    QString m_model;
    QString m_port;
    QString m_name;
    GPContext *m_context = nullptr;
    Camera *m_camera = nullptr;
};

// ---- Memory cards: mounted volumes with a DCIM folder ----

class Card final : public CaptureDevice
{
public:
    explicit Card(QString volume) : m_volume(std::move(volume)) {}

    QString id() const override { return QStringLiteral("card:") + m_volume; }
    QString name() const override { return QFileInfo(m_volume).fileName(); }
    bool open(QString *error) override
    {
        if (QFileInfo(m_volume + QStringLiteral("/DCIM")).isDir())
            return true;
        if (error)
            *error = QStringLiteral("The card is no longer mounted.");
        return false;
    }
    QList<CaptureFile> files(QString *error) override
    {
        QList<CaptureFile> out;
        if (!open(error))
            return out;
        QDirIterator it(m_volume + QStringLiteral("/DCIM"), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            const QString folder = info.path().mid(m_volume.size());
            out.append({folder, info.fileName(), info.size()});
        }
        sortFiles(out);
        return out;
    }
    bool download(const CaptureFile &file, int fd, QString *error) override
    {
        QFile source(m_volume + file.folder + QLatin1Char('/') + file.name);
        if (!source.open(QIODevice::ReadOnly)) {
            if (error)
                *error = source.errorString();
            return false;
        }
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (;;) {
            const qint64 got = source.read(buffer.data(), buffer.size());
            if (got < 0) {
                if (error)
                    *error = source.errorString();
                return false;
            }
            if (got == 0)
                return true;
            for (qint64 done = 0; done < got;) {
                const ssize_t wrote = ::write(fd, buffer.constData() + done, size_t(got - done));
                if (wrote < 0) {
                    if (errno == EINTR)
                        continue;
                    if (error)
                        *error = QString::fromLocal8Bit(strerror(errno));
                    return false;
                }
                done += wrote;
            }
        }
    }
    void close() override {}
    bool eject(QString *error) override
    {
        QProcess gio;
        gio.start(QStringLiteral("gio"), {QStringLiteral("mount"), QStringLiteral("-e"), m_volume});
        if (gio.waitForFinished(30000) && gio.exitStatus() == QProcess::NormalExit && gio.exitCode() == 0)
            return true;
        if (error)
            *error = QString::fromLocal8Bit(gio.readAllStandardError()).trimmed();
        return false;
    }

private:
    QString m_volume;
};

QStringList diskFolders()
{
    QStringList out;
    for (const QString &folder : qEnvironmentVariable("OVN_CAPTURE_DISK").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        out.append(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    return out;
}

QStringList cardVolumes()
{
    QStringList out;
    for (const QString &root : CaptureDevices::volumeRoots()) {
        if (root.contains(QLatin1String("/gvfs")))
            continue; // gvfs's own camera mounts: the camera is reached through libgphoto2 instead
        const QFileInfoList volumes = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &volume : volumes)
            if (QFileInfo(volume.absoluteFilePath() + QStringLiteral("/DCIM")).isDir())
                out.append(volume.absoluteFilePath());
    }
    return out;
}

QList<CaptureDevices::Entry> autodetected()
{
    QList<CaptureDevices::Entry> out;
    GPContext *context = gp_context_new();
    CameraList *list = nullptr;
    gp_list_new(&list);
    if (gp_camera_autodetect(list, context) >= GP_OK) {
        for (int i = 0, n = gp_list_count(list); i < n; ++i) {
            const char *model = nullptr;
            const char *port = nullptr;
            gp_list_get_name(list, i, &model);
            gp_list_get_value(list, i, &port);
            const QString portText = QString::fromUtf8(port);
            if (portText.startsWith(QLatin1String("disk:")))
                continue; // mass-storage cards are found as volumes
            out.append({portText, QString::fromUtf8(model)});
        }
    }
    gp_list_free(list);
    gp_context_unref(context);
    return out;
}

} // namespace

QStringList CaptureDevices::volumeRoots()
{
    if (qEnvironmentVariableIsSet("OVN_VOLUME_ROOTS"))
        return qEnvironmentVariable("OVN_VOLUME_ROOTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // The account's own login, not $USER: cron, su and service starts leave that unset or wrong.
    const QString user = SystemInfo::accountName();
    if (user.isEmpty())
        return {QStringLiteral("/media")};
    return {QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user, QStringLiteral("/media")};
}

QList<CaptureDevices::Entry> CaptureDevices::attachedEntries()
{
    QList<Entry> out;
    for (const QString &volume : cardVolumes())
        out.append({QStringLiteral("card:") + volume, QFileInfo(volume).fileName()});
    for (const QString &folder : diskFolders())
        out.append({QStringLiteral("disk:") + folder, QFileInfo(folder).fileName()});
    out.append(autodetected());
    return out;
}

std::vector<std::unique_ptr<CaptureDevice>> CaptureDevices::attached()
{
    std::vector<std::unique_ptr<CaptureDevice>> out;
    for (const Entry &entry : attachedEntries())
        if (auto device = open(entry.id))
            out.push_back(std::move(device));
    return out;
}

std::unique_ptr<CaptureDevice> CaptureDevices::open(const QString &id)
{
    if (id.startsWith(QLatin1String("card:")))
        return card(id.mid(5));
    if (id.startsWith(QLatin1String("disk:")))
        return directoryBrowseCamera(id.mid(5));
    for (const Entry &entry : autodetected())
        if (entry.id == id)
            return std::make_unique<GPhotoCamera>(entry.name, entry.id, entry.name);
    return nullptr;
}

std::unique_ptr<CaptureDevice> CaptureDevices::directoryBrowseCamera(const QString &folder)
{
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (!QFileInfo(clean).isDir())
        return nullptr;
    return std::make_unique<GPhotoCamera>(QStringLiteral("Directory Browse"), QStringLiteral("disk:") + clean,
                                          QFileInfo(clean).fileName());
}

std::unique_ptr<CaptureDevice> CaptureDevices::card(const QString &volume)
{
    if (!QFileInfo(volume + QStringLiteral("/DCIM")).isDir())
        return nullptr;
    return std::make_unique<Card>(QDir::cleanPath(volume));
}
