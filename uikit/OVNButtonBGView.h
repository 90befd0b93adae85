#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

// The backdrop of a row of buttons: a gradient from a darker grey at the bottom to a lighter grey
// at the top, row by row. Either colour may be taken away, and then nothing is drawn.
class OVNButtonBGView : public QWidget
{
    Q_OBJECT

public:
    explicit OVNButtonBGView(QWidget *parent = nullptr);

    // Neither setter redraws; the change shows at the next display.
    void setBackgroundColor(const std::optional<QColor> &bottomColor) { backgroundColor_ = bottomColor; }
    void setBackgroundColor2(const std::optional<QColor> &topColor) { backgroundColor2_ = topColor; }
    std::optional<QColor> backgroundColor() const { return backgroundColor_; }
    std::optional<QColor> backgroundColor2() const { return backgroundColor2_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<QColor> backgroundColor_;
    std::optional<QColor> backgroundColor2_;
};
