#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// Reduced reading of TIFF files over libtiff, for pictures much larger than the size they are
// wanted at: the file's own reduced-resolution image when one covers the size, else the picture
// read a band of rows at a time and averaged into blocks on the way, so that the full picture is
// never held. Pictures come as stored (the orientation tag is not applied).
namespace TiffReader {

// The picture of the file's first image, reduced by a whole factor to no less than fittedSize()
// of `box` (the caller scales the rest of the way); null when libtiff cannot read it or the
// picture is no larger than the box.
QImage readReduced(const QString &path, QSize box);

} // namespace TiffReader
