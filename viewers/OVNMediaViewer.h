#pragma once

#include "platform/MoviePlayer.h"

#include <QMainWindow>

class OVNMovieView;
class QAction;
class QLabel;
class QSlider;
class QTimer;
class QToolButton;

// The program's window for one movie: the movie view with its controller (play, the position strip,
// the time, looping and full screen) below. It opens at the movie's natural size, kept on the
// screen, plays nothing until asked, and deletes itself when closed. A movie that cannot be played
// gets the failure sheet with the player's reason and the window then closes.
class OVNMediaViewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit OVNMediaViewer(QWidget *parent = nullptr);
    ~OVNMediaViewer() override;

    void loadAndShowFile(const QString &path);
    QString path() const { return m_player.path(); }
    MoviePlayer *player() { return &m_player; }
    OVNMovieView *movieView() const { return m_view; }
    QAction *loopAction() const { return m_loop; }
    QSlider *positionStrip() const { return m_strip; }

    void togglePlay();
    void toggleFullScreen();
    // The window size for a movie of `natural` size on a screen with `available` room: the natural
    // size plus the controller, scaled down (aspect kept) until it fits both ways.
    static QSize windowSizeFor(QSize natural, int controllerHeight, QSize available);
    // The strip's knob (0..strip maximum) for a time, and the time for a knob, both through seconds
    // in 64 bits and kept on the movie.
    static int knobForTime(MovieTime time, MovieTime duration, int maximum);
    static MovieTime timeForKnob(int knob, MovieTime duration, int maximum);

signals:
    void opened();
    void loadFailed(const QString &reason);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void movieOpened();
    void movieFailed(const QString &reason);
    void tick();

    MoviePlayer m_player;
    OVNMovieView *m_view = nullptr;
    QToolButton *m_play = nullptr;
    QSlider *m_strip = nullptr;
    QLabel *m_time = nullptr;
    QAction *m_loop = nullptr;
    QTimer *m_ticker = nullptr;
    bool m_failed = false;
};
