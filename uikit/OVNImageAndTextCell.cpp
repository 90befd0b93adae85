#include "uikit/OVNImageAndTextCell.h"

#include "uikit/DrawingKit.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {
constexpr qreal iconInset = 3.0;
constexpr qreal textGap = 2.0;
constexpr qreal editorGapWithIcon = 5.0;
constexpr qreal editorGapWithoutIcon = 2.0;
constexpr qsizetype maximumRowIcons = 64;
} // namespace

OVNImageAndTextCell::OVNImageAndTextCell(QObject *parent)
    : QStyledItemDelegate(parent),
      textcolor_(DrawingKit::controlTextColor()),
      m_font(DrawingKit::labelFont(12))
{}

float OVNImageAndTextCell::controlHeightForControlSize(unsigned controlSize)
{
    switch (controlSize) {
    case 0:
        return 16.0f;
    case 1:
        return 12.0f;
    case 2:
        return 10.0f;
    case 24:
        return 24.0f;
    default:
        return 16.0f;
    }
}

void OVNImageAndTextCell::setControlSize(unsigned controlSize)
{
    controlheight_ = controlHeightForControlSize(controlSize);
}

QSizeF OVNImageAndTextCell::scaledImageSize(const QSizeF &imageSize, float controlHeight)
{
    if (!(imageSize.height() > 0) || controlHeight <= 0)
        return QSizeF(0, std::max(0.0f, controlHeight));
    const double width = std::ceil(imageSize.width() / imageSize.height() * double(controlHeight));
    return QSizeF(width, controlHeight);
}

OVNImageAndTextCell::ScaledIcon OVNImageAndTextCell::scaledIcon(const QImage &source) const
{
    ScaledIcon icon;
    if (source.isNull())
        return icon;
    icon.present = true;
    icon.size = scaledImageSize(source.deviceIndependentSize(), controlheight_);
    if (icon.size.width() < 1 || icon.size.height() < 1)
        return icon;
    const qreal ratio = std::max<qreal>(2.0, qApp ? qApp->devicePixelRatio() : 1.0);
    QImage scaled((icon.size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    scaled.fill(Qt::transparent);
    {
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(scaled.size())), source);
    }
    scaled.setDevicePixelRatio(ratio);
    icon.image = scaled;
    return icon;
}

void OVNImageAndTextCell::setImage(const QImage &newImage)
{
    if (newImage.isNull()) {
        m_image = QImage();
        m_hasImage = false;
        m_imageSize = QSizeF();
        m_sourceKey = 0;
        return;
    }
    if (m_hasImage && newImage.cacheKey() == m_sourceKey)
        return;
    const ScaledIcon icon = scaledIcon(newImage);
    m_image = icon.image;
    m_hasImage = true;
    m_imageSize = icon.size;
    m_sourceKey = newImage.cacheKey();
}

void OVNImageAndTextCell::setTextColor(const QColor &color)
{
    textcolor_ = color.isValid() ? color : DrawingKit::controlTextColor();
}

QRectF OVNImageAndTextCell::imageFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize)
{
    if (!hasImage)
        return QRectF();
    const qreal y = cellFrame.y() + std::ceil((cellFrame.height() - imageSize.height()) / 2);
    return QRectF(QPointF(cellFrame.x() + iconInset, y), imageSize);
}

QRectF OVNImageAndTextCell::iconDrawRect(const QRectF &cellFrame, const QSizeF &imageSize)
{
    // In a flipped view the icon's bottom edge lies at y + ceil((height + icon height) / 2).
    const qreal bottom = cellFrame.y() + std::ceil((cellFrame.height() + imageSize.height()) / 2);
    return QRectF(cellFrame.x() + iconInset, bottom - imageSize.height(), imageSize.width(), imageSize.height());
}

QRectF OVNImageAndTextCell::textFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize)
{
    if (!hasImage)
        return cellFrame;
    const qreal iconPart = imageSize.width() + iconInset;
    QRectF text = cellFrame.adjusted(iconPart, 0, 0, 0);
    text.translate(textGap, 0);
    return text;
}

QRectF OVNImageAndTextCell::editFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize)
{
    const qreal cut = hasImage ? imageSize.width() + editorGapWithIcon : editorGapWithoutIcon;
    return cellFrame.adjusted(cut, 0, 0, 0);
}

QSizeF OVNImageAndTextCell::cellSizeFor(const QSizeF &baseSize, bool hasImage, const QSizeF &imageSize)
{
    return QSizeF(baseSize.width() + (hasImage ? imageSize.width() : 0.0) + iconInset, baseSize.height());
}

QRectF OVNImageAndTextCell::centeredTextRect(const QRectF &textFrame, qreal textHeight)
{
    return textFrame.translated(0, std::ceil((textFrame.height() - textHeight) / 2));
}

void OVNImageAndTextCell::drawCell(QPainter &painter, const QRectF &cellFrame, const QString &text, bool highlighted,
                                   const ScaledIcon &icon) const
{
    painter.save();
    if (icon.present && !icon.image.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(iconDrawRect(cellFrame, icon.size), icon.image);
    }
    QRectF textFrame = textFrameForCellFrame(cellFrame, icon.present, icon.size);
    const QFontMetricsF metrics(m_font);
    if (applyformat_)
        textFrame = centeredTextRect(textFrame, metrics.height());
    painter.setFont(m_font);
    painter.setPen(highlighted ? DrawingKit::whiteColor() : textcolor_);
    painter.setClipRect(cellFrame, Qt::IntersectClip);
    painter.drawText(textFrame, int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine),
                     metrics.elidedText(text, Qt::ElideRight, std::max<qreal>(0, textFrame.width())));
    painter.restore();
}

void OVNImageAndTextCell::drawInteriorWithFrame(QPainter &painter, const QRectF &cellFrame, const QString &text,
                                                bool highlighted) const
{
    drawCell(painter, cellFrame, text, highlighted, ScaledIcon{m_hasImage, m_image, m_imageSize});
}

OVNImageAndTextCell::ScaledIcon OVNImageAndTextCell::iconForIndex(const QModelIndex &index) const
{
    const QVariant decoration = index.data(Qt::DecorationRole);
    if (decoration.typeId() != QMetaType::QImage)
        return ScaledIcon{m_hasImage, m_image, m_imageSize};
    const QImage source = decoration.value<QImage>();
    if (source.isNull())
        return ScaledIcon{};
    if (m_rowIconsHeight != controlheight_) {
        m_rowIcons.clear();
        m_rowIconsHeight = controlheight_;
    }
    auto found = m_rowIcons.constFind(source.cacheKey());
    if (found != m_rowIcons.constEnd())
        return *found;
    const ScaledIcon icon = scaledIcon(source);
    // A model that makes a new image for every row would otherwise grow the cache without end.
    if (m_rowIcons.size() >= maximumRowIcons)
        m_rowIcons.clear();
    m_rowIcons.insert(source.cacheKey(), icon);
    return icon;
}

void OVNImageAndTextCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool highlighted = option.state & QStyle::State_Selected;
    if (highlighted) {
        // The row's highlight is the view's, drawn as the view's style draws it.
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
    }
    drawCell(*painter, QRectF(option.rect), index.data(Qt::DisplayRole).toString(), highlighted, iconForIndex(index));
}

QSize OVNImageAndTextCell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QFontMetricsF metrics(m_font);
    const QString text = index.data(Qt::DisplayRole).toString();
    const ScaledIcon icon = iconForIndex(index);
    const QSizeF base(std::ceil(metrics.horizontalAdvance(text)) + 4,
                      std::max<qreal>(std::ceil(metrics.height()), icon.size.height()));
    Q_UNUSED(option);
    return cellSizeFor(base, icon.present, icon.size).toSize();
}

void OVNImageAndTextCell::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                               const QModelIndex &index) const
{
    const ScaledIcon icon = iconForIndex(index);
    editor->setGeometry(editFrameForCellFrame(QRectF(option.rect), icon.present, icon.size).toRect());
}
