#include "app/OVNOpenRoute.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString localized(const char *text) { return QCoreApplication::translate("Localizable", text); }
} // namespace

QString OVNOpenRoute::missingFileMessage() { return localized("Media file not found."); }

QString OVNOpenRoute::missingFileText(const QString &volume, const QString &path)
{
    if (volume.isEmpty() && path.isEmpty())
        return localized("File not found. Please check path.");
    if (volume.isEmpty())
        return localized("The file '%1' was not found. Please make sure this volume is online and try again.")
            .arg(path);
    if (path.isEmpty())
        return localized(
                   "The file was cataloged from volume '%1'. Please make sure this volume is online and try again.")
            .arg(volume);
    return localized(
               "The file was cataloged from volume '%1' ('%2'). Please make sure this volume is online and try again.")
        .arg(volume, path);
}

OVNOpenRoute OVNOpenRoute::forDesktop(const QString &path)
{
    OVNOpenRoute route;
    route.path = path;
    const Workspace::DefaultApplication found = Workspace::defaultApplicationForFile(path);
    switch (found.kind) {
    case Workspace::DefaultKind::Other:
        route.kind = Kind::Desktop;
        route.application = found.application;
        break;
    case Workspace::DefaultKind::Own:
        // Handing the file to the desktop would hand it straight back to us.
        route.kind = Kind::Refused;
        route.alert = localized("Ostrevan itself is the application set to open \"%1\". Please choose another "
                                "application for this kind of file in your desktop's settings.")
                          .arg(QFileInfo(path).fileName());
        break;
    case Workspace::DefaultKind::None:
        route.kind = Kind::Refused;
        route.alert = Workspace::noApplicationText(path);
        break;
    }
    return route;
}

OVNOpenRoute OVNOpenRoute::forFile(const QString &path, const QString &volume, const OVNExtensionMapping &mapping)
{
    OVNOpenRoute route;
    route.path = path;
    const QString existing = path.isEmpty() ? QString() : OVNHelper::existingFilePath(path);
    if (existing.isEmpty() || !QFileInfo(existing).isFile()) {
        route.kind = Kind::Missing;
        route.alert = missingFileText(volume, path);
        return route;
    }
    const QString viewer = mapping.getViewerForExtension(OVNExtensionMapping::pathExtension(existing));
    switch (FileTypeCodes::windowForFile(viewer, existing)) {
    case ViewerCode::Window::ImageViewer:
        route.kind = Kind::ImageViewer;
        break;
    case ViewerCode::Window::MovieViewer:
        route.kind = Kind::MovieViewer;
        break;
    case ViewerCode::Window::Desktop:
        return forDesktop(existing);
    case ViewerCode::Window::None:
        break;
    }
    route.path = existing;
    return route;
}

QString OVNOpenRoute::describe() const
{
    switch (kind) {
    case Kind::ImageViewer:
        return QStringLiteral("viewer image ") + path;
    case Kind::MovieViewer:
        return QStringLiteral("viewer movie ") + path;
    case Kind::Desktop:
        return QStringLiteral("desktop ") + application.id + QLatin1Char(' ') + path;
    case Kind::Refused:
        return QStringLiteral("refused ") + path + QStringLiteral(": ") + alert;
    case Kind::Missing:
        return QStringLiteral("missing ") + path + QStringLiteral(": ") + alert;
    case Kind::Nothing:
        break;
    }
    return QStringLiteral("nothing ") + path;
}
