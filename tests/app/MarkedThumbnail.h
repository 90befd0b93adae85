#pragma once

#include "CatalogWindowFixture.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

// 160 x 120, grey, with a red marker in its top-left corner.
inline QByteArray markedThumbnail()
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(Qt::gray);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return jpegBytes(image, 95);
}

// The corner holding the red marker: 0 top left, 1 top right, 2 bottom right, 3 bottom left; -1 none.
inline int markerCorner(const QByteArray &data, QSize *size = nullptr)
{
    const QImage image = QImage::fromData(data);
    if (size)
        *size = image.size();
    const int w = image.width(), h = image.height();
    const QPoint corners[4] = {{8, 8}, {w - 9, 8}, {w - 9, h - 9}, {8, h - 9}};
    int found = -1;
    for (int i = 0; i < 4; ++i) {
        const QColor colour = image.pixelColor(corners[i]);
        if (colour.red() > 200 && colour.green() < 60) {
            if (found >= 0)
                return -1;
            found = i;
        }
    }
    return found;
}
