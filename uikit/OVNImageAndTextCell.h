#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QStyledItemDelegate>

// The editable text cell of the category tree: a small icon in front of the text. The icon is
// scaled once, when it is handed to the cell, to the cell's icon height. A row may also bring its
// own icon as a QImage in Qt::DecorationRole; each distinct icon is scaled once and kept.
//
// The cell draws no highlight of its own; a highlighted row's text is white. All geometry is y-down
// (the outline is a flipped view).
class OVNImageAndTextCell : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit OVNImageAndTextCell(QObject *parent = nullptr);

    // Platform control sizes: regular (0) gives 16-point icons, small (1) 12, mini (2) 10; the value
    // 24 gives 24; any other value 16.
    void setControlSize(unsigned controlSize);
    float controlHeight() const { return controlheight_; }
    static float controlHeightForControlSize(unsigned controlSize);

    // Keeps a copy scaled to the icon height; a null image clears the icon. Handing in the image
    // already held does nothing.
    void setImage(const QImage &image);
    QImage image() const { return m_image; }
    bool hasImage() const { return m_hasImage; }
    // The icon's size in points (its height is the icon height in force when it was set).
    QSizeF imageSize() const { return m_imageSize; }

    void setTextColor(const QColor &color);
    QColor textColor() const { return textcolor_; }
    void setApplyFormat(bool applyFormat) { applyformat_ = applyFormat; }
    bool applyFormat() const { return applyformat_; }
    void setFont(const QFont &font) { m_font = font; }
    QFont font() const { return m_font; }

    // Geometry, for a cell rectangle and an icon (or none).
    static QSizeF scaledImageSize(const QSizeF &imageSize, float controlHeight);
    static QRectF imageFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize);
    // Where the icon is drawn in a flipped view.
    static QRectF iconDrawRect(const QRectF &cellFrame, const QSizeF &imageSize);
    // The text area: right of the icon part (icon width + 3) and 2 more points.
    static QRectF textFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize);
    // The field editor's rectangle: the cell less icon width + 5 on the left (2 without an icon).
    static QRectF editFrameForCellFrame(const QRectF &cellFrame, bool hasImage, const QSizeF &imageSize);
    static QSizeF cellSizeFor(const QSizeF &baseSize, bool hasImage, const QSizeF &imageSize);
    // The text rectangle moved down to centre a text `textHeight` high; its height stays.
    static QRectF centeredTextRect(const QRectF &textFrame, qreal textHeight);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    // Draws icon and text of one cell; `highlighted` turns the text white.
    void drawInteriorWithFrame(QPainter &painter, const QRectF &cellFrame, const QString &text, bool highlighted) const;

private:
    struct ScaledIcon {
        bool present = false;
        QImage image;
        QSizeF size;
    };
    ScaledIcon scaledIcon(const QImage &source) const;
    ScaledIcon iconForIndex(const QModelIndex &index) const;
    void drawCell(QPainter &painter, const QRectF &cellFrame, const QString &text, bool highlighted,
                  const ScaledIcon &icon) const;

    QImage m_image;
    float controlheight_ = 0.0f;
    QColor textcolor_;
    bool applyformat_ = true;
    bool m_hasImage = false;
    QSizeF m_imageSize;
    qint64 m_sourceKey = 0;
    QFont m_font;
    mutable QHash<qint64, ScaledIcon> m_rowIcons;
    mutable float m_rowIconsHeight = -1.0f;
};
