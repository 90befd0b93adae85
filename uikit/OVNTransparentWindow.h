#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

// A frameless floating window that stays above normal windows, never takes the keyboard focus, and
// is moved by dragging anywhere in it and resized by dragging its bottom-right 16 x 16 corner.
// Sizes never go below 150 points; a moved window's top never rises above the main screen's top.
// All positions are Qt's (y-down); the drag arithmetic is in the static functions for tests.
class OVNTransparentWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr qreal resizeCornerSide = 16.0;
    static constexpr qreal minimumSide = 150.0;
    static constexpr qreal initialOpacity = 0.8;

    explicit OVNTransparentWindow(const QRect &contentRect, QWidget *parent = nullptr);

    // Puts a view in the window, filling it.
    void setContentView(QWidget *view);

    // Whether a press at `point` (window coordinates) in a window of `size` starts a resize.
    static bool isResizePress(const QPointF &point, const QSizeF &size);
    // For a resizing drag: the distance from the press to the right edge and to the bottom edge.
    static QSizeF dragOffsetFor(const QPointF &point, const QSizeF &size);
    // The top-left corner for a move: the cursor less where the drag began, relative to the
    // window; kept from rising above `screen`'s top.
    static QPointF movedOrigin(const QPointF &cursor, const QPointF &initialLocation, const QRectF &screen);
    // The frame for a resize that keeps the top-left corner: the width follows the cursor (at
    // least 150); the height follows only while it would stay above 150.
    static QRectF resizedFrame(const QPointF &cursor, const QSizeF &dragOffset, const QRectF &frame);

    bool isResizing() const { return dragisresizing_; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    // Ends the drag, so that the moves of a press that a child kept (the zoom panel's slider)
    // never move or resize the window with an old drag's state.
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF initialLocation_;
    QSizeF dragoffset_;
    bool dragisresizing_ = false;
    bool m_dragging = false;
};
