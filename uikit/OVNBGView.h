#pragma once

#include "uikit/NTTextAttributes.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

// A background or information panel with three draw types:
// 0 a plain fill with hairlines along the top and the second row from the bottom;
// 1 a mirrored two-colour gradient with a main text, an option text and a wrapped info text;
// 2 a strip tiled from the image "topview_bg".
// Any other type draws nothing. The geometry is designed y-up and converted where it is drawn.
class OVNBGView : public QWidget
{
    Q_OBJECT

public:
    enum DrawType { Plain = 0, GradientPanel = 1, TiledStrip = 2 };

    explicit OVNBGView(QWidget *parent = nullptr);

    // The colour and type setters do not redraw; the texts do.
    void setBackgroundColor(const std::optional<QColor> &color) { backgroundColor_ = color; }
    void setBackgroundColor2(const std::optional<QColor> &color) { backgroundColor2_ = color; }
    void setType(int type) { type_ = type; }
    int type() const { return type_; }
    void setMainText(const QString &text);
    void setOptionText(const QString &text);
    void setInfoText(const QString &text);

    // Draw type 1's text rectangles for a view of the given size, in Qt coordinates.
    static QRectF mainTextRect(const QSizeF &size);
    static QRectF optionTextRect(const QSizeF &size);
    static QRectF infoTextRect(const QSizeF &size);
    // Draw type 2's tile positions: from int(x), one image width apart, while left of x + width.
    // None for an image without width.
    static std::vector<qreal> tileOffsets(qreal x, qreal width, qreal imageWidth);

    // The strip image of draw type 2; tests and the gallery may hand in their own.
    void setTileImage(const QImage &image);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawText(QPainter &painter, const QString &text, const QRectF &rect, const NTTextAttributes &attributes,
                  bool wrap) const;

    std::optional<QColor> backgroundColor_;
    std::optional<QColor> backgroundColor2_;
    QString maintext_;
    QString optiontext_;
    QString infotext_;
    NTTextAttributes attrLeftTag_;
    NTTextAttributes attrOptionTag_;
    NTTextAttributes attrInfoTag_;
    int type_ = 0;
    QImage m_tileImage;
    bool m_tileImageLoaded = false;
};
