// The tab strip, the content background, the multi-selection summary and the clicks on them.

#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsDataSource.h"
#include "platform/Localized.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNIconSetHelper.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal tabStep = 60.0;
constexpr qreal tabWidth = 80.0;
constexpr qreal tabTop = 3.0;
constexpr qreal tabHeight = 17.0;

struct ActionAreaArt {
    OVNMediaDetails::ActionArea area;
    const char *icon;
    const char *title;
    OVNMediaDetailsDataSource::Capability capability;
};

const ActionAreaArt actionAreas[] = {
    {OVNMediaDetails::ActionArea::BurnCD, "Burn", "Burn", OVNMediaDetailsDataSource::Capability::BurnCD},
    {OVNMediaDetails::ActionArea::AutoFill, "AutoFill", "Auto-Fill", OVNMediaDetailsDataSource::Capability::AutoFill},
    {OVNMediaDetails::ActionArea::SendAsEmail, "Mail", "E-Mail", OVNMediaDetailsDataSource::Capability::SendAsEmail},
};

QColor controlBackgroundColor() { return DrawingKit::whiteColor(); }

} // namespace

QRectF OVNMediaDetails::tabRect(int index) { return QRectF(tabStep * index, tabTop, tabWidth, tabHeight); }

QRect OVNMediaDetails::tabHitRect(int index)
{
    return QRect(int(tabStep) * index, 0, int(tabStep), int(tabStripHeight));
}

QRect OVNMediaDetails::actionAreaRect(ActionArea area, int paneHeight)
{
    switch (area) {
    case ActionArea::BurnCD:
        return QRect(5, paneHeight - 55, 50, 48);
    case ActionArea::AutoFill:
        return QRect(60, paneHeight - 55, 50, 48);
    case ActionArea::SendAsEmail:
        return QRect(115, paneHeight - 55, 42, 48);
    }
    return QRect();
}

QPainterPath OVNMediaDetails::tabPath(const QRectF &r, bool selected, qreal rightEdge)
{
    const qreal x = r.x(), y = r.y(), w = r.width(), h = r.height();
    QPainterPath path;
    path.moveTo(x, y + h);
    path.lineTo(x + 3, y + h);
    path.cubicTo(x + 4, y + h - 1, x + 5, y + h - 2, x + 6, y + h - 3);
    path.lineTo(x + 6, y + 3);
    path.cubicTo(x + 7, y + 2, x + 8, y + 1, x + 9, y);
    path.lineTo(x + w - 21, y);
    path.lineTo(x + w, y + h);
    if (selected)
        path.lineTo(rightEdge, y + h);
    return path;
}

void OVNMediaDetails::drawTabInRect(QPainter &painter, const QRectF &rect, const QString &title, bool selected,
                                    bool /*enabled*/)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Half-point offset: the one-point outline then covers whole pixels.
    const QPainterPath outline = tabPath(rect.translated(0.5, 0.5), selected, width() - 0.5);
    QPainterPath shape = outline;
    shape.closeSubpath();
    if (selected) {
        painter.fillPath(shape, DrawingKit::whiteColor());
        painter.strokePath(outline, QPen(DrawingKit::controlShadowColor(), 1.0));
    } else {
        painter.fillPath(shape, QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.3f));
    }
    painter.setFont(DrawingKit::pixelFont(9));
    painter.setPen(DrawingKit::blackColor());
    const QRectF titleRect(rect.x() + 6, rect.y() + 3, rect.width() - 21, 18);
    painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, title);
    painter.restore();
}

void OVNMediaDetails::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();

    const QRectF content(0, tabStripHeight, w, h - tabStripHeight);
    if (content.height() > 0) {
        painter.fillRect(content, controlBackgroundColor());
        DrawingKit::frameRect(painter, content, DrawingKit::controlShadowColor());
    }

    // The selected tab goes on top of its neighbours.
    const int selected = tabsenabled_ ? selectedtab_ : -1;
    for (int i = 0; i < tabs_.size(); ++i) {
        if (i != selected)
            drawTabInRect(painter, tabRect(i), tabs_.at(i), false, tabsenabled_);
    }
    if (selected >= 0 && selected < tabs_.size())
        drawTabInRect(painter, tabRect(selected), tabs_.at(selected), true, tabsenabled_);

    if (autofill_)
        return;
    painter.setPen(DrawingKit::blackColor());
    if (selectionCount_ == 0) {
        painter.setFont(attrHeadline_);
        painter.drawText(headlineRect(w), Qt::AlignHCenter | Qt::AlignTop, localized("No Selection"));
    } else if (selectionCount_ >= 2) {
        painter.setFont(attrHeadline_);
        painter.drawText(headlineRect(w), Qt::AlignHCenter | Qt::AlignTop,
                         localized("%d items selected").replace(QLatin1String("%d"), countText(selectionCount_)));
        painter.setFont(attrSizeInfo_);
        painter.drawText(sizeInfoRect(w), Qt::AlignHCenter | Qt::AlignTop, formatFileSize(selectionSize_));
        drawActionAreas(painter);
    }
}

void OVNMediaDetails::drawActionAreas(QPainter &painter)
{
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setFont(DrawingKit::labelFont(9));
    for (const ActionAreaArt &art : actionAreas) {
        const QRect area = actionAreaRect(art.area, height());
        // An action the data source does not offer is shown faded; a click on it does nothing.
        painter.setOpacity(offers(unsigned(art.capability)) ? 1.0 : 0.35);
        const QImage icon = OVNIconSetHelper::sharedIconSet().toolbarIconFor(QString::fromLatin1(art.icon));
        if (!icon.isNull()) {
            const QRectF iconRect(area.x() + (area.width() - 32) / 2.0, area.y() + 1, 32, 32);
            painter.drawImage(iconRect, icon);
        }
        painter.setPen(DrawingKit::darkGrayColor());
        painter.drawText(QRect(area.x() - 4, area.y() + 35, area.width() + 8, 12), Qt::AlignHCenter | Qt::AlignTop,
                         localized(art.title));
    }
    painter.restore();
}

void OVNMediaDetails::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (selectionCount_ < 2 && tabsenabled_) {
        const int tabCount = autofill_ ? SoldTab + 1 : MetaDataTab + 1;
        for (int i = 0; i < tabCount; ++i) {
            if (tabHitRect(i).contains(point)) {
                tabPressed(i);
                return;
            }
        }
    }
    if (selectionCount_ >= 2) {
        for (const ActionAreaArt &art : actionAreas) {
            if (!actionAreaRect(art.area, height()).contains(point))
                continue;
            // Asked just before the send: the data source's answers may change.
            if (!offers(unsigned(art.capability)))
                return;
            switch (art.area) {
            case ActionArea::BurnCD:
                datasource_->buttonBurnCDClick(this);
                break;
            case ActionArea::AutoFill:
                datasource_->buttonAutoFillClick(this);
                break;
            case ActionArea::SendAsEmail:
                datasource_->buttonSendAsEmailClick(this);
                break;
            }
            return;
        }
    }
    QWidget::mousePressEvent(event);
}
