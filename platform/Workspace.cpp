#include "platform/Workspace.h"

#include "platform/Alert.h"
#include "platform/Localized.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

namespace {

QString environment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QStringList folders(const char *name, const QString &fallback)
{
    QStringList result;
    for (const QString &folder : environment(name, fallback).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(folder))
            result.append(folder);
    }
    return result;
}

QString configHome() { return environment("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config")); }

QString dataHome() { return environment("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share")); }

QStringList applicationFolders()
{
    QStringList result{dataHome() + QStringLiteral("/applications")};
    for (const QString &folder : folders("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")))
        result.append(folder + QStringLiteral("/applications"));
    return result;
}

// The mimeapps.list files, the one that decides first.
QStringList mimeappsLists()
{
    QStringList desktops;
    for (const QString &desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops.append(desktop.toLower());
    QStringList places{configHome()};
    places += folders("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    places += applicationFolders();
    QStringList lists;
    for (const QString &place : std::as_const(places)) {
        for (const QString &desktop : std::as_const(desktops))
            lists.append(place + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list"));
        lists.append(place + QStringLiteral("/mimeapps.list"));
    }
    return lists;
}

// The string escapes of desktop files.
QString unescape(const QString &value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            result.append(next);
            break;
        }
    }
    return result;
}

// The groups of a desktop or mimeapps.list file: group -> key -> value. Localized keys are kept
// under their full name. Files of unreasonable size are not read.
using Groups = QHash<QString, QHash<QString, QString>>;
Groups readKeyFile(const QString &path)
{
    Groups groups;
    QFile file(path);
    if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly))
        return groups;
    QString group;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || group.isEmpty())
            continue;
        QHash<QString, QString> &keys = groups[group];
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return groups;
}

QStringList listValue(const QString &value)
{
    QStringList items;
    for (const QString &item : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed());
    }
    return items;
}

bool ownApplication(const Workspace::Application &application)
{
    if (application.id.startsWith(QLatin1String("ostrevan"), Qt::CaseInsensitive))
        return true;
    const QString program =
        QFileInfo(Workspace::commandLines(application, {QStringLiteral("file")}).value(0).value(0)).fileName();
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return program == QLatin1String("ostrevan") || (!self.isEmpty() && program == self);
}

// Every installed application entry by id; the first folder that has an id decides (a hidden
// entry there hides the others).
QHash<QString, Workspace::Application> installedApplications(QStringList *order, bool includeOwn = false)
{
    QHash<QString, Workspace::Application> byId;
    QSet<QString> seen;
    for (const QString &folder : applicationFolders()) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        QStringList found;
        while (it.hasNext())
            found.append(it.next());
        found.sort();
        for (const QString &path : std::as_const(found)) {
            const QString id = QDir(folder).relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seen.contains(id))
                continue;
            seen.insert(id);
            const Workspace::Application application = Workspace::readDesktopEntry(path, id);
            if (application.id.isEmpty() || (!includeOwn && ownApplication(application)))
                continue;
            byId.insert(id, application);
            order->append(id);
        }
    }
    return byId;
}

} // namespace

Workspace::Application Workspace::readDesktopEntry(const QString &path, const QString &id)
{
    Application application;
    const QHash<QString, QString> entry = readKeyFile(path).value(QStringLiteral("Desktop Entry"));
    if (entry.value(QStringLiteral("Type")) != QLatin1String("Application")
        || entry.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return application;
    const QString exec = unescape(entry.value(QStringLiteral("Exec")));
    if (exec.trimmed().isEmpty())
        return application;
    const QString tryExec = unescape(entry.value(QStringLiteral("TryExec")));
    if (!tryExec.isEmpty() && QStandardPaths::findExecutable(tryExec).isEmpty()
        && !(QDir::isAbsolutePath(tryExec) && QFileInfo(tryExec).isExecutable()))
        return application;
    application.id = id;
    application.name = unescape(entry.value(QStringLiteral("Name"), id));
    application.exec = exec;
    application.icon = unescape(entry.value(QStringLiteral("Icon")));
    application.desktopFile = path;
    application.mimeTypes = listValue(entry.value(QStringLiteral("MimeType")));
    return application;
}

QList<Workspace::Application> Workspace::applicationsForFile(const QString &path)
{
    return applicationsForMimeType(QMimeDatabase().mimeTypeForFile(path).name());
}

namespace {
QList<Workspace::Application> applicationsFor(const QString &mimeType, bool includeOwn);
}

QList<Workspace::Application> Workspace::applicationsForMimeType(const QString &mimeType)
{
    return applicationsFor(mimeType, false);
}

bool Workspace::isOwnApplication(const Application &application) { return ownApplication(application); }

Workspace::DefaultApplication Workspace::defaultApplicationForFile(const QString &path)
{
    DefaultApplication result;
    const QList<Application> applications = applicationsFor(QMimeDatabase().mimeTypeForFile(path).name(), true);
    if (applications.isEmpty())
        return result;
    result.application = applications.first();
    result.kind = ownApplication(result.application) ? DefaultKind::Own : DefaultKind::Other;
    return result;
}

QString Workspace::ownDesktopEntryPath()
{
    for (const QString &folder : applicationFolders()) {
        const QString path = folder + QStringLiteral("/ostrevan.desktop");
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

namespace {
QList<Workspace::Application> applicationsFor(const QString &mimeType, bool includeOwn)
{
    using Application = Workspace::Application;
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    QStringList types{type.isValid() ? type.name() : mimeType};
    if (type.isValid()) {
        types += type.aliases();
        for (const QString &ancestor : type.allAncestors()) {
            // Every file is a stream of bytes; the applications for any bytes are no choice.
            if (ancestor != QLatin1String("application/octet-stream"))
                types.append(ancestor);
        }
    }

    QStringList order;
    const QHash<QString, Application> installed = installedApplications(&order, includeOwn);
    QStringList defaults;
    QStringList added;
    QSet<QString> removed;
    for (const QString &list : mimeappsLists()) {
        const Groups groups = readKeyFile(list);
        for (const QString &name : std::as_const(types)) {
            // A list that removes an application overrides the lists after it, not those before.
            for (const QString &id : listValue(groups.value(QStringLiteral("Default Applications")).value(name)))
                if (!removed.contains(id))
                    defaults.append(id);
            for (const QString &id : listValue(groups.value(QStringLiteral("Added Associations")).value(name)))
                if (!removed.contains(id))
                    added.append(id);
        }
        for (const QString &name : std::as_const(types)) {
            for (const QString &id : listValue(groups.value(QStringLiteral("Removed Associations")).value(name)))
                removed.insert(id);
        }
    }

    QStringList ids;
    for (const QString &id : std::as_const(defaults)) {
        if (installed.contains(id)) {
            ids.append(id);
            break;
        }
    }
    ids += added;
    for (const QString &name : std::as_const(types)) {
        for (const QString &id : std::as_const(order)) {
            if (!removed.contains(id) && installed.value(id).mimeTypes.contains(name))
                ids.append(id);
        }
    }
    QList<Application> result;
    QSet<QString> taken;
    for (const QString &id : std::as_const(ids)) {
        if (taken.contains(id) || !installed.contains(id))
            continue;
        taken.insert(id);
        result.append(installed.value(id));
    }
    return result;
}
} // namespace

QList<QStringList> Workspace::commandLines(const Application &application, const QStringList &paths)
{
    // Split by the desktop file quoting rules: double quotes, and within them \" \` \$ \\.
    QStringList arguments;
    QList<bool> quoted;
    QString current;
    bool inQuotes = false;
    bool wasQuoted = false;
    bool started = false;
    const QString &exec = application.exec;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current.append(exec.at(++i));
            } else if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            wasQuoted = true;
            started = true;
        } else if (c.isSpace()) {
            if (started) {
                arguments.append(current);
                quoted.append(wasQuoted);
            }
            current.clear();
            started = wasQuoted = false;
        } else {
            current.append(c);
            started = true;
        }
    }
    if (started) {
        arguments.append(current);
        quoted.append(wasQuoted);
    }

    const auto urlOf = [](const QString &path) { return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()); };
    bool perFile = false;
    bool takesFiles = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (quoted.at(i))
            continue;
        for (const char *code : {"%f", "%u"})
            if (arguments.at(i).contains(QLatin1String(code)))
                perFile = takesFiles = true;
        for (const char *code : {"%F", "%U"})
            if (arguments.at(i) == QLatin1String(code))
                takesFiles = true;
    }

    // One line per file for %f and %u, else one line for all of them.
    const int runs = perFile ? int(paths.size()) : 1;
    QList<QStringList> lines;
    for (int run = 0; run < std::max(runs, perFile ? 0 : 1); ++run) {
        QStringList line;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString &argument = arguments.at(i);
            if (!quoted.at(i) && (argument == QLatin1String("%F") || argument == QLatin1String("%U"))) {
                for (const QString &path : paths)
                    line.append(argument == QLatin1String("%F") ? path : urlOf(path));
                continue;
            }
            if (!quoted.at(i) && argument == QLatin1String("%i")) {
                if (!application.icon.isEmpty())
                    line << QStringLiteral("--icon") << application.icon;
                continue;
            }
            QString expanded;
            for (qsizetype k = 0; k < argument.size(); ++k) {
                const QChar c = argument.at(k);
                if (c != QLatin1Char('%') || k + 1 == argument.size() || quoted.at(i)) {
                    expanded.append(c);
                    continue;
                }
                switch (argument.at(++k).unicode()) {
                case '%':
                    expanded.append(QLatin1Char('%'));
                    break;
                case 'f':
                    expanded.append(paths.value(run));
                    break;
                case 'u':
                    expanded.append(perFile ? urlOf(paths.value(run)) : QString());
                    break;
                case 'c':
                    expanded.append(application.name);
                    break;
                case 'k':
                    expanded.append(application.desktopFile);
                    break;
                default:
                    break; // the deprecated codes and unknown ones go
                }
            }
            if (!expanded.isEmpty() || quoted.at(i))
                line.append(expanded);
        }
        if (!takesFiles)
            line += paths;
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

bool Workspace::openFiles(const QStringList &paths, const Application &application)
{
    const QList<QStringList> lines = commandLines(application, paths);
    if (lines.isEmpty() || ownApplication(application))
        return false;
    bool started = true;
    for (const QStringList &line : lines)
        started = QProcess::startDetached(line.first(), line.mid(1)) && started;
    return started;
}

QString Workspace::noApplicationText(const QString &path)
{
    return localized("No application is set to open \"%1\".").arg(QFileInfo(path).fileName());
}

namespace {
// The desktop opens a folder (xdg-open, which says why it could not only on its standard error)
// with its application for folders: without one, nothing opens.
bool openFolders(const QStringList &paths)
{
    if (Workspace::applicationsForMimeType(QStringLiteral("inode/directory")).isEmpty())
        return false;
    QStringList opened;
    bool any = false;
    for (const QString &path : paths) {
        const QString folder = QFileInfo(path).absolutePath();
        if (opened.contains(folder))
            continue;
        opened.append(folder);
        any = QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) || any;
    }
    return any;
}

void tellNothingShowsThem(const QStringList &paths, QObject *window)
{
    Alert alert;
    alert.message = Workspace::noApplicationText(QFileInfo(paths.first()).absolutePath());
    alert.informativeText = localized("Neither a file manager nor an application for folders is set up on this "
                                      "desktop to show the files.");
    alert.window = window;
    alert.modality = window ? Alert::Modality::Window : Alert::Modality::Application;
    Alerts::show(alert);
}
} // namespace

Workspace::RevealResult Workspace::revealFiles(const QStringList &paths, QObject *window)
{
    if (paths.isEmpty())
        return RevealResult::Failed;
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface *names = bus.isConnected() ? bus.interface() : nullptr;
    const bool fileManager =
        names && (names->isServiceRegistered(service) || names->activatableServiceNames().value().contains(service));
    if (!fileManager) {
        if (openFolders(paths))
            return RevealResult::Folder;
        tellNothingShowsThem(paths, window);
        return RevealResult::Failed;
    }

    QStringList uris;
    for (const QString &path : paths)
        uris.append(QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()));
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << uris << QString();
    // A file manager may take a while to start: the answer is not waited for. When it fails, the
    // folders open instead.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [paths, window = QPointer<QObject>(window)](QDBusPendingCallWatcher *done) {
                         if (done->isError() && !openFolders(paths))
                             tellNothingShowsThem(paths, window);
                         done->deleteLater();
                     });
    return RevealResult::FileManager;
}

bool Workspace::openUrl(const QString &url)
{
    const QUrl page(url);
    if (!page.isValid() || (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http")))
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {page.toString(QUrl::FullyEncoded)});
}
