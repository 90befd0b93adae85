#pragma once

#include <QImage>
#include <QPushButton>

#include <memory>

class OVNContextButtonTarget;
class OVNContextMenuHolder;
class QMenu;

// The pop-up footer button: the footer's gradient, an image and no title. A press fetches the menu
// from the target and pops it up below the button; as a pull-down button (the default) the menu's
// first item is its title and is not offered.
class OVNPopUpButtonFooter : public QPushButton
{
    Q_OBJECT

public:
    explicit OVNPopUpButtonFooter(QWidget *parent = nullptr);
    ~OVNPopUpButtonFooter() override;

    OVNContextButtonTarget *target() const;
    void setTarget(OVNContextButtonTarget *target);
    QMenu *popUpMenu() const;

    QImage image() const { return image_; }
    void setImage(const QImage &image);
    bool pullsDown() const { return m_pullsDown; }
    void setPullsDown(bool pullsDown) { m_pullsDown = pullsDown; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<OVNContextMenuHolder> m_menuHolder;
    QImage image_;
    bool m_pullsDown = true;
};
