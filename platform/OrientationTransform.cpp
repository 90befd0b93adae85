#include "platform/OrientationTransform.h"

#include <QTransform>

namespace Orientation {

QImage orientedImage(const QImage &image, int exifCode)
{
    if (image.isNull())
        return image;
    QTransform turn;
    switch (exifCode) {
    case 2: return image.mirrored(true, false);
    case 3: turn.rotate(180); break;
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: turn.rotate(90); break;
    case 7: return image.transformed(QTransform().rotate(-90)).mirrored(true, false);
    case 8: turn.rotate(-90); break;
    default: return image;
    }
    return image.transformed(turn);
}

} // namespace Orientation
