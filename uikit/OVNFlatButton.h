#pragma once

#include <QImage>
#include <QPushButton>

#include <memory>

class OVNContextButtonTarget;
class OVNContextMenuHolder;
class QMenu;

// A flat pull-down button: a mirrored white-to-grey gradient, a centred image ("viewAction" when it
// has none of its own) and a hairline frame. A press fetches the menu from the target and pops it
// up; its first item is the button's title and is not offered.
class OVNFlatButton : public QPushButton
{
    Q_OBJECT

public:
    explicit OVNFlatButton(QWidget *parent = nullptr);
    ~OVNFlatButton() override;

    OVNContextButtonTarget *target() const;
    void setTarget(OVNContextButtonTarget *target);
    QMenu *popUpMenu() const;

    QImage image() const { return m_image; }
    void setImage(const QImage &image);
    // The image drawn: the button's own, else the resource "viewAction".
    QImage effectiveImage() const;

    // The gradient colours: {edge, middle}.
    static std::pair<QColor, QColor> gradientColors(bool highlighted);
    static QRectF imageRect(const QSizeF &size, const QSizeF &imageSize);
    static qreal imageOpacity(bool enabled) { return enabled ? 1.0 : 0.7; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<OVNContextMenuHolder> m_menuHolder;
    QImage m_image;
    mutable QImage m_defaultImage;
};
