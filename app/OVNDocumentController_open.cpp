// Opening media files: the file-type table picks our viewer or the desktop's application.
#include "app/OVNDocumentController.h"

#include "app/OVNOpenRoute.h"
#include "app/OVNViewerDocuments.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {
const QString kRecentKey = QStringLiteral("RecentDocuments");
constexpr int kRecentCount = 10;

void alertForRoute(const OVNOpenRoute &route)
{
    const bool missing = route.kind == OVNOpenRoute::Kind::Missing;
    Alerts::run({missing ? OVNOpenRoute::missingFileMessage()
                         : QCoreApplication::translate("Localizable", "The file could not be opened."),
                 route.alert,
                 {QCoreApplication::translate("Localizable", "OK")},
                 Alert::Style::Warning,
                 Alert::Modality::Application,
                 {}});
}
} // namespace

bool OVNDocumentController::openWithDesktop(const QString &stored, const QString &volume, const QString &application)
{
    // A file of the media server may be in the folder its share is mounted on.
    const QString path = stored.isEmpty() ? QString() : OVNHelper::existingFilePath(stored);
    if (path.isEmpty()) {
        OVNOpenRoute missing;
        missing.kind = OVNOpenRoute::Kind::Missing;
        missing.alert = OVNOpenRoute::missingFileText(volume, stored);
        alertForRoute(missing);
        return false;
    }
    if (!application.isEmpty()) {
        // The chosen application is a desktop entry or a program: the path is one argument.
        if (application.endsWith(QLatin1String(".desktop")))
            return Workspace::openFiles({path},
                                        Workspace::readDesktopEntry(application, QFileInfo(application).fileName()));
        return QProcess::startDetached(application, {path});
    }
    const OVNOpenRoute route = OVNOpenRoute::forDesktop(path);
    if (route.kind == OVNOpenRoute::Kind::Desktop && launch(route))
        return true;
    alertForRoute(route.kind == OVNOpenRoute::Kind::Desktop
                      ? OVNOpenRoute{OVNOpenRoute::Kind::Refused,
                                     path,
                                     {},
                                     QCoreApplication::translate("Localizable", "\"%1\" could not be started.")
                                         .arg(route.application.name)}
                      : route);
    return false;
}

void OVNDocumentController::openFiles(const QStringList &paths)
{
    for (const QString &path : paths)
        openDocumentWithContentsOfFile(path);
}

void OVNDocumentController::reportMissingFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList names;
    for (const QString &path : paths)
        names.append(QDir::toNativeSeparators(path));
    Alerts::run({OVNOpenRoute::missingFileMessage(),
                 localized("Ostrevan was asked to open files that are not there:") + QLatin1Char('\n')
                     + Alerts::namedList(names),
                 {},
                 Alert::Style::Warning,
                 Alert::Modality::Application,
                 {}});
}

bool OVNDocumentController::launch(const OVNOpenRoute &route)
{
    return route.kind == OVNOpenRoute::Kind::Desktop && Workspace::openFiles({route.path}, route.application);
}

bool OVNDocumentController::openDocumentWithContentsOfFile(const QString &path, const QString &volume, int orientation)
{
    const bool opened = openFile(path, volume, orientation, m_viewers);
    if (opened)
        noteNewRecentDocument(path);
    return opened;
}

bool OVNDocumentController::openFile(const QString &path, const QString &volume, int orientation,
                                     OVNViewerDocuments *viewers, OpenMode mode,
                                     const std::function<bool()> &handOnCheck)
{
    // A fresh table each time: the preferences may have changed it since the last open.
    const OVNExtensionMapping mapping;
    OVNOpenRoute route = OVNOpenRoute::forFile(path, volume, mapping);
    bool opened = false;
    switch (route.kind) {
    case OVNOpenRoute::Kind::ImageViewer:
    case OVNOpenRoute::Kind::MovieViewer:
        // A kind of file the program has no viewer for yet takes the desktop's road.
        if (viewers
            && (route.kind == OVNOpenRoute::Kind::ImageViewer
                    ? (mode == OpenMode::FullScreen ? viewers->openImageFullScreen(route.path, orientation, handOnCheck)
                                                    : viewers->openImage(route.path, orientation, handOnCheck))
                : mode == OpenMode::FullScreen ? viewers->openMovieFullScreen(route.path, handOnCheck)
                                               : viewers->openMovie(route.path, handOnCheck)))
            return true;
        route = OVNOpenRoute::forDesktop(route.path);
        break;
    default:
        break;
    }
    switch (route.kind) {
    case OVNOpenRoute::Kind::Desktop:
        opened = launch(route);
        if (!opened) {
            Alerts::run(
                {QCoreApplication::translate("Localizable", "The file could not be opened."),
                 QCoreApplication::translate("Localizable", "\"%1\" could not be started.").arg(route.application.name),
                 {},
                 Alert::Style::Warning,
                 Alert::Modality::Application,
                 {}});
        }
        break;
    case OVNOpenRoute::Kind::Missing:
        Alerts::run({OVNOpenRoute::missingFileMessage(),
                     route.alert,
                     {QCoreApplication::translate("Localizable", "OK")},
                     Alert::Style::Warning,
                     Alert::Modality::Application,
                     {}});
        break;
    case OVNOpenRoute::Kind::Refused:
        Alerts::run({QCoreApplication::translate("Localizable", "The file could not be opened."),
                     route.alert,
                     {},
                     Alert::Style::Warning,
                     Alert::Modality::Application,
                     {}});
        break;
    default:
        break;
    }
    return opened;
}

QStringList OVNDocumentController::recentDocuments() const
{
    QStringList recent;
    for (const QVariant &item : m_defaults.objectForKey(kRecentKey).toList()) {
        const QString path = UserDefaults::stringFromVariant(item);
        if (!path.isEmpty() && !recent.contains(path))
            recent.append(path);
    }
    return recent.mid(0, kRecentCount);
}

void OVNDocumentController::noteNewRecentDocument(const QString &path)
{
    QStringList recent = recentDocuments();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    QVariantList stored;
    for (const QString &item : recent.mid(0, kRecentCount))
        stored.append(item);
    m_defaults.setObject(stored, kRecentKey);
}

void OVNDocumentController::activateIgnoringOtherApps()
{
    const QList<OVNAssetManager *> open = documents();
    if (open.isEmpty()) {
        fileNewViewerDocument();
        return;
    }
    OVNAssetManager *front = open.last();
    // A minimised window is not in front by being raised: it comes back first.
    if (front->isMinimized())
        front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->show();
    front->raise();
    front->activateWindow();
}
