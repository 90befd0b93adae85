#include "uikit/OVNFlatButton.h"

#include "uikit/BundleImage.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNContextMenuHolder.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

OVNFlatButton::OVNFlatButton(QWidget *parent)
    : QPushButton(parent),
      m_menuHolder(std::make_unique<OVNContextMenuHolder>())
{}

OVNFlatButton::~OVNFlatButton() = default;

OVNContextButtonTarget *OVNFlatButton::target() const { return m_menuHolder->target(); }
void OVNFlatButton::setTarget(OVNContextButtonTarget *target) { m_menuHolder->setTarget(target); }
QMenu *OVNFlatButton::popUpMenu() const { return m_menuHolder->menu(); }

void OVNFlatButton::setImage(const QImage &image)
{
    m_image = image;
    update();
}

QImage OVNFlatButton::effectiveImage() const
{
    if (!m_image.isNull())
        return m_image;
    if (m_defaultImage.isNull())
        m_defaultImage = BundleImage::imageNamed(QStringLiteral("viewAction"));
    return m_defaultImage;
}

std::pair<QColor, QColor> OVNFlatButton::gradientColors(bool highlighted)
{
    if (highlighted)
        return {QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f), QColor::fromRgbF(0.7f, 0.7f, 0.7f, 1.0f)};
    return {QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f), QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f)};
}

QRectF OVNFlatButton::imageRect(const QSizeF &size, const QSizeF &imageSize)
{
    const float dx = std::ceil(static_cast<float>(size.width() - imageSize.width()) / 2.0f);
    const float dy = std::ceil(static_cast<float>(size.height() - imageSize.height()) / 2.0f);
    return DrawingKit::flippedRect(QRectF(dx, dy, size.width() - 2 * dx, imageSize.height()), size.height());
}

QSize OVNFlatButton::sizeHint() const { return QSize(32, 21); }

void OVNFlatButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    const auto [edge, middle] = gradientColors(isDown());
    DrawingKit::fillMirroredGradient(painter, bounds, edge, middle);
    const QImage image = effectiveImage();
    if (!image.isNull()) {
        painter.save();
        painter.setOpacity(imageOpacity(isEnabled()));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(bounds.size(), image.deviceIndependentSize()), image);
        painter.restore();
    }
    DrawingKit::frameRect(painter, bounds, DrawingKit::controlShadowColor());
}

void OVNFlatButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QPushButton::mousePressEvent(event);
        return;
    }
    m_menuHolder->fetchMenu(this);
    m_menuHolder->popUpBelow(this, true);
    event->accept();
}

void OVNFlatButton::mouseReleaseEvent(QMouseEvent *event) { event->accept(); }
