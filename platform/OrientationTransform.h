#pragma once

#include <QImage>

// Pictures come from the readers as stored; the file's EXIF orientation code says how to show
// them upright.
namespace Orientation {

// `image` turned upright for `exifCode` (3 a half turn, 6 a quarter turn clockwise, 8 counter-
// clockwise; 2, 4, 5 and 7 the mirrored forms); any other code leaves it as it is.
QImage orientedImage(const QImage &image, int exifCode);

} // namespace Orientation

using Orientation::orientedImage;
