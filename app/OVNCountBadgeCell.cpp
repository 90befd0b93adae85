#include "app/OVNCountBadgeCell.h"

#include "uikit/DrawingKit.h"

#include <QPainter>
#include <QPainterPath>
#include <QPaintDevice>
#include <QWidget>

#include <cmath>

QRectF OVNCountBadgeCell::badgeRect(const QRectF &cell)
{
    constexpr double height = 12.0;
    return QRectF(cell.x(), cell.y() + std::ceil((cell.height() - height) / 2.0), cell.width(), height);
}

void OVNCountBadgeCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    painter->save();
    const QWidget *view = option.widget;
    const bool onScreen = painter->device() && painter->device()->devType() == QInternal::Widget;
    if (view && view->isActiveWindow() && onScreen) {
        const QRectF badge = badgeRect(option.rect);
        QPainterPath path;
        // The badge is narrower than twice the corner radius: its ends are half circles.
        const double radius = std::min(8.0, badge.height() / 2.0);
        path.addRoundedRect(badge, radius, radius);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(path, badgeColor());
    }
    QFont font = option.font;
    font.setFamily(DrawingKit::installedFamily(QStringLiteral("Helvetica")));
    font.setBold(true);
    font.setPixelSize(9);
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(badgeRect(option.rect), Qt::AlignCenter, text);
    painter->restore();
}
