#include "formats/OVNMSAHelper.h"

#include "formats/GioMountRunner.h"
#include "formats/OVNHelper.h"

#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#include <chrono>

namespace {

QMutex runnerMutex;
// One mount at a time: a second caller waits and then finds the volume online instead of
// starting a mount that fails because the first one succeeded.
QMutex mountMutex;

constexpr qsizetype kMaxDetailsLength = 400;

std::shared_ptr<MountRunner> &installedRunner()
{
    static std::shared_ptr<MountRunner> runner;
    return runner;
}

// When each mount command last failed, by the whole command (server, share, user and password):
// settings changed in the preferences are tried at once. Guarded by mountMutex.
QHash<QString, qint64> &failedMounts()
{
    static QHash<QString, qint64> failures;
    return failures;
}

std::function<qint64()> &installedClock()
{
    static std::function<qint64()> clock;
    return clock;
}

qint64 nowMsecs()
{
    if (const std::function<qint64()> &clock = installedClock())
        return clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString failureKey(const MountCommand &command)
{
    return (QStringList{command.program} + command.arguments + QStringList{command.secret}).join(QChar(0));
}

// The server part of a gvfs SMB mount folder ("smb-share:server=nas,share=media"), or empty.
QString gvfsServer(const QString &mountPath)
{
    const QString entry = mountPath.section(QLatin1Char('/'), -1);
    static const QString smbShare = QStringLiteral("smb-share:");
    if (!entry.startsWith(smbShare))
        return {};
    for (const QString &item : entry.mid(smbShare.size()).split(QLatin1Char(','))) {
        if (item.startsWith(QLatin1String("server=")))
            return QUrl::fromPercentEncoding(item.mid(7).toUtf8());
    }
    return {};
}

} // namespace

MSASettings MSASettings::fromDefaults()
{
    const UserDefaults &defaults = UserDefaults::standard();
    MSASettings settings;
    // Without a choice: SMB, the share this system can mount (AFP stays only where it was chosen).
    settings.protocol = defaults.stringForKey(QStringLiteral("MSAProtocol")).trimmed();
    if (settings.protocol.isEmpty())
        settings.protocol = QStringLiteral("SMB");
    settings.server = defaults.stringForKey(QStringLiteral("MSAServer"));
    settings.user = defaults.stringForKey(QStringLiteral("MSAUser"));
    settings.password = defaults.stringForKey(QStringLiteral("MSAPassword"));
    settings.volume = defaults.stringForKey(QStringLiteral("MSAVolume"));
    settings.importPath = defaults.stringForKey(QStringLiteral("MSAImportpath"));
    return settings;
}

OVNMSAHelper::OVNMSAHelper(std::shared_ptr<MountRunner> runner)
    : m_runner(runner ? std::move(runner) : defaultMountRunner())
{}

bool OVNMSAHelper::isAutomountEnabled()
{
    return UserDefaults::standard().integerForKey(QStringLiteral("MSAAutomount")) == 1;
}

bool OVNMSAHelper::isVolumeOnline()
{
    const MSASettings settings = MSASettings::fromDefaults();
    if (settings.volume.isEmpty())
        return false;
    return !findMountedVolume(defaultMountRunner()->mountedVolumePaths(), settings.volume, settings.server).isEmpty();
}

QString OVNMSAHelper::msaPath()
{
    const MSASettings settings = MSASettings::fromDefaults();
    QString root;
    if (!settings.volume.isEmpty())
        root = findMountedVolume(defaultMountRunner()->mountedVolumePaths(), settings.volume, settings.server);
    if (root.isEmpty())
        root = QStringLiteral("/Volumes/") + settings.volume;
    if (settings.importPath.isEmpty())
        return root;
    return QDir::cleanPath(root + QLatin1Char('/') + settings.importPath);
}

QString OVNMSAHelper::localPath(const QString &storedPath)
{
    if (!storedPath.startsWith(QLatin1String("/Volumes/")))
        return storedPath;
    return localPathFor(storedPath, defaultMountRunner()->mountedVolumePaths(), MSASettings::fromDefaults());
}

QString OVNMSAHelper::localPathFor(const QString &storedPath, const QStringList &mountedPaths,
                                   const MSASettings &settings)
{
    const QString clean = QDir::cleanPath(storedPath);
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts[0] != QLatin1String("Volumes"))
        return storedPath;
    const QString volume = parts[1];
    const bool mediaServer = volume.compare(settings.volume, Qt::CaseInsensitive) == 0;
    const QString root = findMountedVolume(mountedPaths, volume, mediaServer ? settings.server : QString());
    if (root.isEmpty())
        return storedPath;
    const QStringList rest = parts.mid(2);
    return rest.isEmpty() ? root : root + QLatin1Char('/') + rest.join(QLatin1Char('/'));
}

void OVNMSAHelper::setWindow(QObject *window) { m_window = window; }

void OVNMSAHelper::setSilentMode(bool silent) { m_silent = silent; }

bool OVNMSAHelper::automount()
{
    QString problem;
    const bool mounted = mountLocked(&problem);
    if (!problem.isEmpty())
        present(localized("Volume mount failed"), problem);
    return mounted;
}

bool OVNMSAHelper::mountLocked(QString *problem)
{
    QMutexLocker locker(&mountMutex);
    const MSASettings settings = MSASettings::fromDefaults();

    if (!settings.volume.isEmpty()
        && !findMountedVolume(m_runner->mountedVolumePaths(), settings.volume, settings.server).isEmpty()) {
        *problem = localized("A volume with the specified volume name is already online.");
        return true;
    }

    if (settings.protocol.compare(QLatin1String("SMB"), Qt::CaseInsensitive) != 0) {
        *problem = localized("Media servers shared over AFP cannot be mounted on this system. "
                             "Please share the volume over SMB and choose SMB in your Media "
                             "Server Access settings.");
        return false;
    }

    const QString checkSettings =
        localized("Please check your Media Server Access settings and make sure your media server is online.");
    const std::optional<MountCommand> command = mountCommandFor(settings);
    if (!command) {
        *problem = checkSettings;
        return false;
    }
    const QString key = failureKey(*command);
    QHash<QString, qint64> &failures = failedMounts();
    const auto failed = failures.constFind(key);
    if (m_silent && failed != failures.constEnd() && nowMsecs() - *failed < kFailedMountPauseMs) {
        *problem = checkSettings;
        return false;
    }
    const MountResult result = m_runner->run(*command);
    if (result.succeeded())
        failures.remove(key);
    else
        failures.insert(key, nowMsecs());
    if (!result.succeeded()) {
        // The mount command's own words (no such share, access denied, no gvfs) follow the advice.
        *problem = checkSettings;
        const QString details = result.errorOutput.trimmed().left(kMaxDetailsLength);
        if (!details.isEmpty())
            *problem += QStringLiteral("\n\n") + details;
        return false;
    }
    return true;
}

std::shared_ptr<MountRunner> OVNMSAHelper::defaultMountRunner()
{
    QMutexLocker locker(&runnerMutex);
    std::shared_ptr<MountRunner> &runner = installedRunner();
    if (!runner)
        runner = std::make_shared<GioMountRunner>();
    return runner;
}

void OVNMSAHelper::setDefaultMountRunner(std::shared_ptr<MountRunner> runner)
{
    {
        QMutexLocker locker(&runnerMutex);
        installedRunner() = std::move(runner);
    }
    QMutexLocker mounting(&mountMutex);
    failedMounts().clear();
}

void OVNMSAHelper::setClock(std::function<qint64()> monotonicMsecs)
{
    QMutexLocker mounting(&mountMutex);
    installedClock() = std::move(monotonicMsecs);
}

std::optional<MountCommand> OVNMSAHelper::mountCommandFor(const MSASettings &settings)
{
    const QString server = settings.server.trimmed();
    if (server.isEmpty() || settings.volume.isEmpty())
        return std::nullopt;
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    url.setHost(server, QUrl::StrictMode);
    if (!settings.user.isEmpty())
        url.setUserName(settings.user, QUrl::DecodedMode);
    url.setPath(QLatin1Char('/') + settings.volume, QUrl::DecodedMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;

    MountCommand command;
    command.program = QStringLiteral("gio");
    command.arguments = {QStringLiteral("mount"), url.toString(QUrl::FullyEncoded)};
    command.secret = settings.password;
    return command;
}

QString OVNMSAHelper::findMountedVolume(const QStringList &mountedPaths, const QString &volume, const QString &server)
{
    if (volume.isEmpty())
        return {};
    for (const QString &path : mountedPaths) {
        const QString root = OVNHelper::getVolumeRootForPath(path);
        if (root.isEmpty() || root != QDir::cleanPath(path))
            continue; // not a volume's own mount folder
        const QString name = OVNHelper::getVolumeForPath(path);
        if (OVNHelper::isGvfsPath(path)) {
            const QString mountServer = gvfsServer(root);
            if (name.compare(volume, Qt::CaseInsensitive) == 0
                && (server.isEmpty() || mountServer.isEmpty()
                    || mountServer.compare(server.trimmed(), Qt::CaseInsensitive) == 0))
                return root;
        } else if (name == volume) {
            return root;
        }
    }
    return {};
}

void OVNMSAHelper::present(const QString &message, const QString &informativeText) const
{
    if (m_silent)
        return;
    Alert alert;
    alert.message = message;
    alert.informativeText = informativeText;
    alert.style = Alert::Style::Critical;
    if (m_window) {
        alert.modality = Alert::Modality::Window;
        alert.window = m_window;
        Alerts::show(alert);
    } else {
        Alerts::run(alert);
    }
}
