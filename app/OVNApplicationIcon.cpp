#include "app/OVNApplicationIcon.h"

#include <QPainter>
#include <QSvgRenderer>

QPixmap OVNApplicationIcon::pixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/app/ostrevan.svg"));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon OVNApplicationIcon::icon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(pixmap(size));
    return icon;
}
