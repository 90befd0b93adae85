#pragma once

#include <QImage>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>

#include <functional>

#include "decoding/MoviePlayer.h"

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
    void setAspectRatioMode(Qt::AspectRatioMode mode)
    {
        m_aspectMode = mode;
        update();
    }

    // ---- as a light-table pane ----
    // The picture turned clockwise by quarter turns (0, 90, 180, 270); the movie itself is not.
    void setRotation(int degrees)
    {
        m_rotation = ((degrees % 360) + 360) % 360;
        update();
    }
    int rotation() const { return m_rotation; }
    void rotateLeft() { setRotation(m_rotation + 270); }
    void rotateRight() { setRotation(m_rotation + 90); }
    // A small play bar (play and pause, position) along the bottom, for movies but not for sound.
    void setShowsController(bool shows);
    bool showsController() const { return m_bar != nullptr && !m_bar->isHidden(); }
    // Off: the picture fills the view, stretched.
    void setPreservesAspectRatio(bool keep) { setAspectRatioMode(keep ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio); }
    bool preservesAspectRatio() const { return m_aspectMode == Qt::KeepAspectRatio; }
    void setInset(float inset)
    {
        m_inset = inset;
        update();
    }
    void setBackgroundColor(const QColor &color)
    {
        m_background = color;
        update();
    }
    // Selected panes draw a white frame; a click selects the view and tells the callback.
    void setSelected(bool selected)
    {
        m_selected = selected;
        update();
    }
    bool isSelected() const { return m_selected; }
    void setSelectionDidChange(std::function<void(OVNMovieView *)> callback)
    {
        m_selectionDidChange = std::move(callback);
    }
    void setRepresentedObject(const QVariantMap &object) { m_represented = object; }
    QVariantMap representedObject() const { return m_represented; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void drawPicture(QPainter &painter);
    void layoutBar();
    void refreshBar();
    void askFrameSize();

    QPointer<MoviePlayer> m_player;
    QImage m_image;
    qint64 m_painted = 0;
    Qt::AspectRatioMode m_aspectMode = Qt::KeepAspectRatio;
    int m_rotation = 0;
    float m_inset = 0;
    QColor m_background = Qt::black;
    bool m_selected = false;
    std::function<void(OVNMovieView *)> m_selectionDidChange;
    QVariantMap m_represented;
    QWidget *m_bar = nullptr;
};
