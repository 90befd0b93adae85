#pragma once

#include <QImage>
#include <QString>

// Images from the application's resources.
namespace BundleImage {

// The image "<resources>/Images/<name>.png" (or ".svg"); a null image when there is none.
QImage imageNamed(const QString &name);

// Loads an image file. SVG drawings are rendered at twice their size with a device pixel ratio of
// 2, so they stay sharp on high-density screens while keeping their size in points. Null on failure.
QImage loadImageFile(const QString &path);

} // namespace BundleImage
