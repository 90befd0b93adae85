#include "uikit/BundleImage.h"

#include "platform/Resources.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

namespace BundleImage {

namespace {
constexpr qreal svgRenderRatio = 2.0;
// A drawing larger than this in points is refused rather than rendered.
constexpr int maximumSvgSide = 4096;
} // namespace

QImage loadImageFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return QImage();
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        if (!renderer.isValid())
            return QImage();
        const QSize size = renderer.defaultSize();
        if (size.isEmpty() || size.width() > maximumSvgSide || size.height() > maximumSvgSide)
            return QImage();
        QImage image(size * svgRenderRatio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter);
        }
        image.setDevicePixelRatio(svgRenderRatio);
        return image;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

QImage imageNamed(const QString &name)
{
    const QString folder = Resources::pathFor(QStringLiteral("Images"));
    if (folder.isEmpty() || name.isEmpty())
        return QImage();
    for (const char *extension : {"png", "svg"}) {
        const QString path = QDir(folder).filePath(name + QLatin1Char('.') + QLatin1String(extension));
        if (QFileInfo(path).isFile())
            return loadImageFile(path);
    }
    return QImage();
}

} // namespace BundleImage
