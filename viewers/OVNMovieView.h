#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "platform/MoviePlayer.h"

// Shows a playing movie: the player's latest frame, upright, fitted into the view on black.
class OVNMovieView : public QWidget
{
    Q_OBJECT
public:
    explicit OVNMovieView(QWidget *parent = nullptr);

    void setMovie(MoviePlayer *player);
    MoviePlayer *movie() const { return m_player; }
    // Frames painted since the movie was set (for benchmarks).
    qint64 paintedFrames() const { return m_painted; }
    QImage currentImage() const { return m_image; }
    // Kept (fitted on black) by default; full screen may stretch it to an aspect of its own.
    void setAspectRatioMode(Qt::AspectRatioMode mode) { m_aspectMode = mode; update(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<MoviePlayer> m_player;
    QImage m_image;
    qint64 m_painted = 0;
    Qt::AspectRatioMode m_aspectMode = Qt::KeepAspectRatio;
};
