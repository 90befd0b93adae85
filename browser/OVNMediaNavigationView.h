#pragma once

#include "decoding/MoviePlayer.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>

// The movie position strip: a knob running along a rounded translucent bar, and a click that moves
// the movie to the clicked whole second. It never redraws itself while the movie plays: its owner
// updates it on each tick of its controller.
class OVNMediaNavigationView : public QWidget
{
    Q_OBJECT
public:
    explicit OVNMediaNavigationView(QWidget *parent = nullptr);

    void setMovie(MoviePlayer *movie);
    MoviePlayer *movie() const { return m_movie; }

    // The knob's left edge for a strip of `size`: the travel (the width less a half height at each
    // end) times the share of the exact duration played, kept on the travel. A movie without
    // length has it at the start.
    static double knobX(MovieTime current, MovieTime duration, QSize size);
    // The time a click at `x` seeks to: the whole second under it, kept on the movie, in the
    // duration's scale and in 64 bits. A strip without travel seeks nowhere (nullopt).
    static std::optional<MovieTime> seekTime(double x, MovieTime duration, QSize size);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void buildTimeScale();

    QPointer<MoviePlayer> m_movie;
    QImage m_scaleBuffer; // the bar, drawn once per size or movie
};
