#pragma once

#include "uikit/NTTextAttributes.h"

#include <QImage>
#include <QPushButton>

#include <memory>
#include <optional>

class OVNContextButtonTarget;
class OVNContextMenuHolder;
class QMenu;

// A footer button: a grey gradient with an image and a centred bold title, and a hairline on its
// right edge that separates it from its neighbour. A press fetches the menu from the target (it
// becomes the context menu), then the button works as a push button.
class OVNButtonFooter : public QPushButton
{
    Q_OBJECT

public:
    explicit OVNButtonFooter(QWidget *parent = nullptr);
    ~OVNButtonFooter() override;

    OVNContextButtonTarget *target() const;
    void setTarget(OVNContextButtonTarget *target);
    QMenu *contextMenu() const;

    QImage image() const { return m_image; }
    void setImage(const QImage &image);

    static QColor lightColor();
    static QColor darkColor();
    // Where an image of `imageSize` is drawn on a button of `size` (Qt coordinates).
    static QRectF imageRect(const QSizeF &size, const QSizeF &imageSize);
    // Where a title `titleHeight` high is drawn.
    static QRectF titleRect(const QSizeF &size, qreal titleHeight);
    // The shared background: gradient, or the light fill while pressed, then the image.
    static void drawFooterBackground(QPainter &painter, const QSizeF &size, bool highlighted, const QImage &image);
    static void drawHairline(QPainter &painter, const QSizeF &size);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    std::unique_ptr<OVNContextMenuHolder> m_menuHolder;
    QImage m_image;
    std::optional<NTTextAttributes> titleattr_;
};
