#include "uikit/NTPopUpHeaderViewCell.h"

#include "uikit/DrawingKit.h"
#include "uikit/NTGlyphBlitter.h"
#include "uikit/NTPopUpHeaderViewDelegate.h"
#include "uikit/NTTextAttributes.h"

#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>

namespace {
const QColor headerTopColor = QColor::fromRgbF(0.898f, 0.898f, 0.898f, 1.0f);
const QColor headerBottomColor = QColor::fromRgbF(0.66f, 0.66f, 0.66f, 1.0f);

QImage makeGripImage(bool verticalBars)
{
    const int side = NTPopUpHeaderViewCell::gripImageSide;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int offset : {0, 3, 6}) {
        if (verticalBars)
            painter.fillRect(QRect(offset, 0, 1, side), Qt::black);
        else
            painter.fillRect(QRect(0, offset, side, 1), Qt::black);
    }
    return image;
}
} // namespace

NTPopUpHeaderViewCell::NTPopUpHeaderViewCell() : m_font(DrawingKit::systemFont(13)) {}

NTPopUpHeaderViewCell::~NTPopUpHeaderViewCell()
{
    if (m_cursorPushed)
        QGuiApplication::restoreOverrideCursor();
}

QMenu *NTPopUpHeaderViewCell::menu() const { return m_menu; }
void NTPopUpHeaderViewCell::setMenu(QMenu *menu) { m_menu = menu; }

const NTTextAttributes &NTPopUpHeaderViewCell::attributes(const QFont &cellFont)
{
    // Made once, from the font of the first header that draws, and shared by all.
    static const NTTextAttributes shared = [&cellFont] {
        NTTextAttributes attributes;
        attributes.font = cellFont;
        attributes.font.setPixelSize(int(titleFontSize));
        attributes.alignment = Qt::AlignHCenter;
        attributes.truncation = Qt::ElideMiddle;
        return attributes;
    }();
    return shared;
}

const QImage &NTPopUpHeaderViewCell::gripImageVertical()
{
    static const QImage image = makeGripImage(true);
    return image;
}

const QImage &NTPopUpHeaderViewCell::gripImageHorizontal()
{
    static const QImage image = makeGripImage(false);
    return image;
}

NTPopUpHeaderViewCell::Slices NTPopUpHeaderViewCell::slicesForCellFrame(const QRectF &cellFrame)
{
    QRectF rest = cellFrame.adjusted(titleInset, 0, -titleInset, 0);
    Slices slices;
    slices.right = QRectF(rest.right() - gripSliceWidth, rest.y(), gripSliceWidth, rest.height());
    rest.setWidth(rest.width() - gripSliceWidth);
    slices.left = QRectF(rest.x(), rest.y(), gripSliceWidth, rest.height());
    rest.setLeft(rest.left() + gripSliceWidth);
    slices.title = rest;
    return slices;
}

QRectF NTPopUpHeaderViewCell::gripImageRectForSlice(const QRectF &slice)
{
    const qreal bottom = slice.y() + slice.height() - 4.0;
    return QRectF(slice.x() + 1.0, bottom - gripImageSide, gripImageSide, gripImageSide);
}

NTPopUpHeaderViewCell::GripHit NTPopUpHeaderViewCell::gripHitAt(const QPointF &point, const QSizeF &viewSize,
                                                                int leftGrip, int rightGrip)
{
    // Half-open zones, so that a point on the zone's far edge is outside it.
    auto inZone = [&point](const QRectF &zone) {
        return point.x() >= zone.left() && point.x() < zone.right() && point.y() >= zone.top()
               && point.y() < zone.bottom();
    };
    const QRectF leftZone(0, 0, gripHitWidth, viewSize.height());
    const QRectF rightZone(viewSize.width() - gripHitWidth, 0, gripHitWidth, viewSize.height());
    GripHit hit;
    if (inZone(leftZone) && leftGrip != 0)
        hit = {1, leftGrip};
    if (inZone(rightZone) && rightGrip != 0)
        hit = {2, rightGrip};
    return hit;
}

const NTGlyphBlitter *NTPopUpHeaderViewCell::glyphBlitter(const QString &title, const QSizeF &size)
{
    if (_glyphBlitter && (title != _drawnTitle || _glyphBlitter->size() != size))
        _glyphBlitter.reset();
    if (!_glyphBlitter) {
        _drawnTitle = title;
        _glyphBlitter = NTGlyphBlitter::blitterWithString(title, size, 1, true, attributes(m_font), std::nullopt, false,
                                                          true, false);
    }
    return _glyphBlitter.get();
}

void NTPopUpHeaderViewCell::drawInteriorWithFrame(QPainter &painter, const QRectF &cellFrame, const QRectF &viewBounds)
{
    DrawingKit::fillSteppedGradient(painter, viewBounds, headerTopColor, headerBottomColor,
                                    DrawingKit::RowOrder::TopDown);
    painter.fillRect(QRectF(viewBounds.x(), viewBounds.y(), viewBounds.width(), 1.0), DrawingKit::lightGrayColor());

    const Slices slices = slicesForCellFrame(cellFrame);
    if (const NTGlyphBlitter *blitter = glyphBlitter(m_title, slices.title.size()))
        blitter->drawRect(painter, slices.title, std::nullopt, std::nullopt);

    auto drawGrip = [&painter](int code, const QRectF &slice) {
        if (code == HorizontalGrip)
            painter.drawImage(gripImageRectForSlice(slice), gripImageHorizontal());
        else if (code == VerticalGrip)
            painter.drawImage(gripImageRectForSlice(slice), gripImageVertical());
    };
    drawGrip(leftgrip_, slices.left);
    drawGrip(rightgrip_, slices.right);
}

bool NTPopUpHeaderViewCell::startTracking(const QPointF &point, const QSizeF &viewSize, const QPointF &mouseLocation)
{
    trackinggrip_ = 0;
    const GripHit hit = gripHitAt(point, viewSize, leftgrip_, rightgrip_);
    if (hit.grip == 0)
        return false;
    trackinggrip_ = hit.grip;
    trackingdirection_ = hit.direction;
    lpoint_ = mouseLocation;
    if (!m_cursorPushed) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::ClosedHandCursor));
        m_cursorPushed = true;
    }
    return true;
}

bool NTPopUpHeaderViewCell::continueTracking(const QPointF &mouseLocation)
{
    if (delegate_) {
        const NTPopUpHeaderViewDelegate::Capabilities answers = delegate_->headerDelegateCapabilities();
        if (trackingdirection_ == VerticalGrip) {
            if (answers & NTPopUpHeaderViewDelegate::ResizeByWidth)
                delegate_->headerCellResizeViewByWidth(this, static_cast<float>(mouseLocation.x() - lpoint_.x()));
        } else if (answers & NTPopUpHeaderViewDelegate::ResizeByHeight) {
            // Screen y grows downward; the delegate counts upward movement as positive.
            delegate_->headerCellResizeViewByHeight(this, static_cast<float>(lpoint_.y() - mouseLocation.y()));
        }
    }
    lpoint_ = mouseLocation;
    return true;
}

void NTPopUpHeaderViewCell::stopTracking()
{
    if (m_cursorPushed) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorPushed = false;
    }
}
