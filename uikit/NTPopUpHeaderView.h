#pragma once

#include <QWidget>

#include <memory>

class NTPopUpHeaderViewCell;
class NTPopUpHeaderViewDelegate;
class QMenu;

// The thin header strip on top of a pane: a grey gradient with a light top line, a centred
// 10-point title and up to two resize grips. Dragging a grip moves nothing itself: the cell reports
// each mouse step to the delegate, which resizes the panes. y grows downward; row 0 of the gradient
// is the top row.
class NTPopUpHeaderView : public QWidget
{
    Q_OBJECT

public:
    explicit NTPopUpHeaderView(QWidget *parent = nullptr);
    ~NTPopUpHeaderView() override;

    static NTPopUpHeaderView *viewWithFrame(const QRect &frame, const QString &title, QWidget *parent = nullptr);
    static float defaultHeight() { return 17.0f; }

    NTPopUpHeaderViewCell *cell() const { return m_cell.get(); }

    NTPopUpHeaderViewDelegate *delegate() const { return delegate_; }
    void setDelegate(NTPopUpHeaderViewDelegate *delegate);
    // The menu goes to the cell; the header shows it nowhere.
    void setMenu(QMenu *menu);
    QString title() const;
    void setTitle(const QString &title);
    void setLeftGrip(int grip);
    void setRightGrip(int grip);
    int leftGrip() const { return leftgrip_; }
    int rightGrip() const { return rightgrip_; }
    void setTag(int tag);
    int tag() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<NTPopUpHeaderViewCell> m_cell;
    NTPopUpHeaderViewDelegate *delegate_ = nullptr;
    int leftgrip_ = 0;
    int rightgrip_ = 0;
    bool m_tracking = false;
};
