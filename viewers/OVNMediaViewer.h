#pragma once

#include "decoding/MoviePlayer.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class OVNControllerBGView;
class OVNFullScreenWindow;
class OVNMediaNavigationView;
#include "viewers/OVNMovieView.h"
class QAction;
class QLabel;
class QTimer;
class QToolButton;

// The program's window for one movie. A floating controller (rewind, play, fast forward, full
// screen, elapsed and remaining time, the position strip) shows over the movie while the pointer
// moves over it and hides half a second after; in full screen the movie fills the primary screen
// with a second controller that adds the aspect-ratio buttons. The window opens at the movie's
// natural size, kept on the screen, starts playing (looping) when the preference says so, and
// deletes itself when closed. A movie that cannot be played gets the failure sheet with the
// player's reason and the window then closes.
class OVNMediaViewer : public QMainWindow
{
    Q_OBJECT

public:
    // The margins around the movie: the title bar's share above, a band below.
    static constexpr int spaceTop = 22;
    static constexpr int spaceBottom = 20;
    // A medium this short (in its time units) is a still: no controller, no start.
    static constexpr qint64 shortestMovie = 40;

    // One floating controller; the full-screen one also has the aspect buttons. Its view is a
    // borderless window of its own, owned by the window it floats over.
    struct Controller {
        OVNControllerBGView *view = nullptr;
        QToolButton *rewind = nullptr, *play = nullptr, *forward = nullptr, *zoom = nullptr;
        QToolButton *aspectZoom = nullptr, *aspect16by9 = nullptr, *aspect4by3 = nullptr, *aspectOriginal = nullptr;
        QLabel *elapsed = nullptr, *remaining = nullptr;
        OVNMediaNavigationView *navigation = nullptr;
    };

    explicit OVNMediaViewer(QWidget *parent = nullptr);
    ~OVNMediaViewer() override;

    void loadAndShowFile(const QString &path);
    QString path() const { return m_player.path(); }
    MoviePlayer *player() { return &m_player; }
    // The line over the movie that says why nothing is heard; empty while hidden.
    QString noticeText() const;
    OVNMovieView *movieView() const { return m_mediaView; }
    OVNMovieView *movieViewFS() const { return m_mediaViewFS; }
    OVNFullScreenWindow *fullScreenWindow() const { return m_mediaWindowFS.get(); }
    const Controller &controller() const { return m_controller; }
    const Controller *controllerFS() const { return m_mediaWindowFS ? &m_controllerFS : nullptr; }
    QAction *loopAction() const { return m_loop; }
    bool isFullscreen() const { return m_isFullscreen; }
    bool isMovie() const { return m_isMovie; }
    bool isControllerVisible() const;

    void controllerPlay();
    void controllerRewind();
    void controllerForward();
    // Full screen; asked before the movie has opened, it follows the opening.
    void controllerZoom();
    void controllerUnzoom();
    void setFSAspectRatio(double ratio);
    void setFSAspectRatioToZoom();
    void setFSAspectRatioTo16by9() { setFSAspectRatio(16.0 / 9.0); }
    void setFSAspectRatioTo4by3() { setFSAspectRatio(4.0 / 3.0); }
    void setFSAspectRatioToOriginal() { setFSAspectRatio(m_aspectRatio); }
    void resizeWithMagnification(double magnification);
    void showController();
    void hideController();
    void hideControllerFS();
    // One tick of the controller's 0.1-second timer.
    void mediaWindowTimer();

    void buttonHalfSizeClick() { resizeWithMagnification(0.5); }
    void buttonNormalSizeClick() { resizeWithMagnification(1.0); }
    void buttonDoubleSizeClick() { resizeWithMagnification(2.0); }
    void buttonFullScreenClick() { controllerZoom(); }
    void buttonShowControllerClick() { showController(); }
    void buttonLoopClick();
    // Shows the file in the file manager when the check allows it; the context menu offers it.
    void buttonRevealInFinderClick();
    // The catalog's read rule for the entry shown, asked before the file is revealed.
    void setHandOnCheck(std::function<bool()> check) { m_handOnCheck = std::move(check); }

    // What the movie views hand their owner: a key (true when taken), and a pointer that moved or
    // clicked over the movie.
    bool ovnMovieViewKeyDown(QKeyEvent *event);
    void ovnMovieViewShowController(bool show);

    // The window size for a movie of `natural` size on a screen with `visible` room and a title bar
    // of `frameTop`: the natural size, scaled down (aspect kept) until it fits both ways, plus the
    // margins; at least `leastWidth` wide where the screen has room (the movie then shows in the
    // middle), so that the controller fits over a small movie.
    static QSize windowSizeFor(QSize natural, QSize visible, int frameTop = spaceTop, int leastWidth = 0);
    // The narrowest window the controller fits in, with a margin on either side.
    int leastWindowWidth() const;
    // The window controller's place (y downward) in a window of `client` size whose movie view
    // has `movie` as its frame: centred when the window is wider, 10 above the movie's bottom when
    // the window is tall enough.
    static QPoint controllerPosition(QSize client, QRect movie, QSize controller);
    // The full-screen movie's bounds on a screen of `screen` size for an aspect ratio.
    static QRectF fullScreenBounds(QSizeF screen, double ratio);
    // "hh:mm:ss" of a time value in whole seconds (the value itself for a scale of 0).
    static QString timeValueToDisplay(qint64 value, qint64 timeScale);
    // The rate after Rewind and after Forward: from normal speed to double speed backwards or
    // forwards, from anything else (paused included) to normal speed.
    static double rateAfterRewind(double rate) { return rate == 1.0 ? -2.0 : 1.0; }
    static double rateAfterForward(double rate) { return rate == 1.0 ? 2.0 : 1.0; }

signals:
    void opened();
    void loadFailed(const QString &reason);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    Controller makeController(QWidget *parent, bool fullScreen);
    // The full-screen window, its content and the content's children no longer report their
    // events here.
    void stopWatchingWindowFS();
    void watchMovieView(OVNMovieView *view);
    void layoutWindow();
    void layoutFullScreen();
    void setTrackingWindowFrame();
    void autostart();
    void movieOpened();
    void movieFailed(const QString &reason);
    void showSoundOff();
    void showPlayState();
    // The play button's picture: "ctrlPause" while playing, else "ctrlPlay".
    QIcon playStateIcon(bool playing) const;
    void syncLoopMark();
    MoviePlayer *currentMovie();

    MoviePlayer m_player;
    QWidget *m_central = nullptr;
    OVNMovieView *m_mediaView = nullptr;
    QLabel *m_notice = nullptr;
    bool m_noticeOnTop = false;
    Controller m_controller;
    Controller m_controllerFS;
    QPointer<OVNMovieView> m_mediaViewFS;
    QAction *m_loop = nullptr;
    QTimer *m_clock = nullptr;
    int m_hideTimer = 0;
    double m_aspectRatio = 0.0;
    QRectF m_fsBounds;
    bool m_isFullscreen = false;
    bool m_isMovie = false;
    bool m_failed = false;
    bool m_zoomWhenOpened = false;
    std::function<bool()> m_handOnCheck;
    // Last: destroyed first, so a viewer that goes in full screen takes its window down.
    std::unique_ptr<OVNFullScreenWindow> m_mediaWindowFS;
};
