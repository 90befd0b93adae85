// Thumbnails as an import stores them: a 256-pixel JPEG of a photograph at quality 50, 2.3 to 3 KB
// (2.7 KB on average, as imports of camera pictures make).
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace BenchThumbnails {

// Record `index`'s thumbnail: a landscape (a sky, a horizon, textured ground, sensor-like grain)
// whose colours and horizon vary with the index, so that no two rows hold the same bytes.
inline QByteArray photoThumbnail(int index)
{
    const bool portrait = index % 5 == 3;
    const int width = portrait ? 171 : 256, height = portrait ? 256 : 171;
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 2463534242u ^ quint32(index) * 2654435761u;
    const int hue = (index * 47) % 256;
    const int horizon = height / 3 + (index * 13) % (height / 3);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int grain = int(state % 7) - 3;
            int r, g, b;
            if (y < horizon) {
                r = 90 + y * 80 / horizon + hue / 4;
                g = 140 + y * 60 / horizon;
                b = 230 - hue / 8;
            } else {
                const int texture = ((x / 12 + y / 6 + index) % 6) * 5;
                r = 60 + hue / 3 + texture;
                g = 110 + texture - (y - horizon) / 3;
                b = 40 + texture / 2;
            }
            line[x] = qRgb(std::clamp(r + grain, 0, 255), std::clamp(g + grain, 0, 255), std::clamp(b + grain, 0, 255));
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 50);
    return data;
}

// The same 160 x 120 JPEG for every entry (a gradient at quality 80), where the bytes do not matter.
inline QByteArray gradientThumbnail()
{
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 160, 120);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return data;
}

} // namespace BenchThumbnails
