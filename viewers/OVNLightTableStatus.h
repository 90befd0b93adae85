#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <functional>

// The strip along the bottom of the light table: a status line while an item loads, the split-style
// selector at its left end and, when wider than 120 points, five command icons at its right end
// (full resolution, slide show, rotate left, rotate right, full screen). It draws itself and
// answers hit tests; the light table decides what a click does.
//
// Every region is laid out from the bottom-left corner with y growing upwards, as the strip was
// designed; the pure functions below work in those coordinates, and the widget converts a point or
// rectangle to Qt's once (toWidget, fromWidget) and nowhere else.
class OVNLightTableStatus : public QWidget
{
    Q_OBJECT

public:
    enum class Region { FullResolution, SlideShow, RotateLeft, RotateRight, FullScreen, StyleStrip };
    // What a click does, tested in this order: full screen, rotate left, rotate right, slide show,
    // full resolution, the style strip.
    enum class Command { None, ToggleFullScreen, RotateLeft, RotateRight, SlideShow, FullResolution, SplitStyle };
    static constexpr double iconsMinimumWidth = 120; // icons are drawn only above this width

    // ---- pure geometry, y up, for a strip `width` wide ----
    static QRectF regionRect(Region region, double width);
    // Styles 1 to 4; an empty rectangle for any other.
    static QRectF styleRect(int style);
    // Left and bottom edges inside, right and top edges outside.
    static bool contains(const QRectF &rect, const QPointF &point);
    static bool isPointIn(Region region, const QPointF &point, double width);
    // 1 to 4 under the point, 0 elsewhere (the gaps between the styles too).
    static int viewStyleForPoint(const QPointF &point);
    static Command commandAt(const QPointF &point, double width);
    // A point of the widget (y down) in the strip's coordinates, and a strip rectangle in the widget's.
    static QPointF fromWidget(const QPointF &point, double height);
    static QRectF toWidget(const QRectF &rect, double height);

    explicit OVNLightTableStatus(QWidget *parent = nullptr);

    // A copy of the text; null clears it. Redraws.
    void setStatus(const QString &status);
    QString status() const { return m_status; }
    void setBackgroundColor(const QColor &color) { m_backgroundcolor = color; }
    QColor backgroundColor() const { return m_backgroundcolor; }
    void setViewStyle(int style) { m_viewstyle = style; }
    int viewStyle() const { return m_viewstyle; }
    void setSlideShowStatus(bool running) { m_runningSlideShow = running; }
    bool slideShowStatus() const { return m_runningSlideShow; }
    // Told of each left click, with the point in the strip's coordinates.
    void setClickHandler(std::function<void(const QPointF &)> handler) { m_clicked = std::move(handler); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void drawStyleSelector(QPainter &painter);
    void drawIcons(QPainter &painter);

    QString m_status;
    QColor m_backgroundcolor = Qt::black;
    bool m_runningSlideShow = false;
    int m_viewstyle = 1;
    std::function<void(const QPointF &)> m_clicked;
};
