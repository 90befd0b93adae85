#pragma once

#include <QStyledItemDelegate>

// The count column of the category outline: the count in white bold 9-point type, centred, over a
// rounded blue-grey badge 12 points high. The badge is drawn only on the screen of the active
// window; in the background and when printing the number stands alone.
class OVNCountBadgeCell : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The badge's frame in a cell: the cell's x and width, 12 high, centred (rounded down).
    static QRectF badgeRect(const QRectF &cell);
    static QColor badgeColor() { return QColor::fromRgbF(0.6f, 0.67f, 0.77f, 1.0f); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
