#include "uikit/OVNIconSetHelper.h"

#include "formats/OVNHelper.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"
#include "uikit/BundleImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// An info.xml larger than this is not a colour table; it is not read.
constexpr qint64 maximumInfoFileSize = 1 << 20;
} // namespace

OVNIconSetHelper::OVNIconSetHelper()
    : OVNIconSetHelper(UserDefaults::standard().stringForKey(QStringLiteral("ColorScheme")))
{}

OVNIconSetHelper::OVNIconSetHelper(const QString &colorScheme)
    : defaultIconSet_(resolveIconSet(colorScheme, iconSetsFolder()))
{}

OVNIconSetHelper &OVNIconSetHelper::sharedIconSet()
{
    static OVNIconSetHelper shared;
    return shared;
}

QString OVNIconSetHelper::iconSetsFolder() { return Resources::pathFor(QStringLiteral("IconSets")); }

QString OVNIconSetHelper::resolveIconSet(const QString &colorScheme, const QString &iconSetsFolder)
{
    // A name is a folder name: nothing that climbs out of IconSets or into a subfolder.
    const bool plainName = !colorScheme.isEmpty() && !colorScheme.contains(QLatin1Char('/'))
                           && colorScheme != QLatin1String(".") && colorScheme != QLatin1String("..");
    if (plainName && !iconSetsFolder.isEmpty() && QFileInfo(QDir(iconSetsFolder).filePath(colorScheme)).isDir())
        return colorScheme;
    return QString::fromLatin1(defaultIconSetName);
}

QStringList OVNIconSetHelper::iconExtensions()
{
    return {QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("gif"), QStringLiteral("png"),
            QStringLiteral("svg")};
}

QString OVNIconSetHelper::iconSetPath(const QString &iconSetName) const
{
    const QString folder = iconSetsFolder();
    if (iconSetName.isEmpty() || folder.isEmpty())
        return QString();
    return QDir(folder).filePath(iconSetName);
}

QString OVNIconSetHelper::iconFilePath(const QString &iconName, const QString &iconSetName) const
{
    const QString setPath = iconSetPath(iconSetName);
    if (setPath.isEmpty() || iconName.isEmpty() || iconName.contains(QLatin1Char('/')))
        return QString();
    const QDir set(setPath);
    for (const QString &extension : iconExtensions()) {
        const QString path = set.filePath(iconName + QLatin1Char('.') + extension);
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QImage OVNIconSetHelper::toolbarIconFor(const QString &iconName) const
{
    return toolbarIconFor(iconName, defaultIconSet_);
}

QImage OVNIconSetHelper::toolbarIconFor(const QString &iconName, const QString &iconSetName) const
{
    return BundleImage::loadImageFile(iconFilePath(iconName, iconSetName));
}

QColor OVNIconSetHelper::colorFor(const QString &colorName) const { return colorFor(colorName, defaultIconSet_); }

QColor OVNIconSetHelper::colorFor(const QString &colorName, const QString &iconSetName) const
{
    const QColor white = Qt::white;
    const QString setPath = iconSetPath(iconSetName);
    if (setPath.isEmpty())
        return white;
    QFile file(QDir(setPath).filePath(QStringLiteral("info.xml")));
    if (file.size() > maximumInfoFileSize || !file.open(QIODevice::ReadOnly))
        return white;
    const QVariant root = PropertyList::read(file.readAll());
    if (root.typeId() != QMetaType::QVariantMap)
        return white;
    const QVariant entry = root.toMap().value(colorName);
    if (entry.typeId() != QMetaType::QVariantMap)
        return white;
    return OVNHelper::decodeToColor(entry.toMap());
}

QString OVNIconSetHelper::outlineIconNameForType(const QString &kind, float height)
{
    QString name;
    if (kind.isNull() || kind == QLatin1String("C"))
        name = QStringLiteral("Collection");
    else if (kind == QLatin1String("EXPANDABLE"))
        name = QStringLiteral("DB");
    else if (kind == QLatin1String("F"))
        name = QStringLiteral("Folder");
    else if (kind == QLatin1String("M"))
        name = QStringLiteral("SurveillanceFolder");
    else if (kind == QLatin1String("I"))
        name = QStringLiteral("SmartFolder");
    else if (kind == QLatin1String("S"))
        name = QStringLiteral("Category");
    else
        return QString();
    return height > 16.0f ? name : name + QStringLiteral("Mini");
}

QImage OVNIconSetHelper::outlineIconForType(const QString &kind, float height) const
{
    const QString name = outlineIconNameForType(kind, height);
    return name.isEmpty() ? QImage() : toolbarIconFor(name);
}
