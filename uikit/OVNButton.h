#pragma once

#include <QPushButton>

#include <memory>

class OVNContextButtonTarget;
class OVNContextMenuHolder;
class QMenu;

// A plain button whose press only fetches a menu from its target: it neither highlights nor sends
// its action; the target shows what it wants. The fetched menu is the button's context menu.
class OVNButton : public QPushButton
{
    Q_OBJECT

public:
    explicit OVNButton(QWidget *parent = nullptr);
    ~OVNButton() override;

    OVNContextButtonTarget *target() const;
    void setTarget(OVNContextButtonTarget *target);
    QMenu *contextMenu() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    std::unique_ptr<OVNContextMenuHolder> m_menuHolder;
};
