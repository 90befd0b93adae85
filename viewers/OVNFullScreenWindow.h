#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QKeyEvent;
class QMouseEvent;

// Receives what reaches a full-screen window itself (keys the content did not take, clicks and moves
// over no widget that wants them). Every method is optional: the defaults drop the event.
class OVNFullScreenWindowDelegate
{
public:
    virtual ~OVNFullScreenWindowDelegate() = default;
    virtual void ovnFullScreenWindowKeyDown(QKeyEvent *event) { Q_UNUSED(event); }
    virtual void ovnFullScreenWindowMouseDown(QMouseEvent *event) { Q_UNUSED(event); }
    virtual void ovnFullScreenWindowMouseMoved(QMouseEvent *event) { Q_UNUSED(event); }
};

// The borderless window on top of everything that covers the primary screen while media are shown in
// full screen (movies, the light table, slide shows). Each entry makes a new one; its owner keeps it
// and deletes it on leaving, so an owner that goes away takes its full-screen window with it.
class OVNFullScreenWindow : public QWidget
{
    Q_OBJECT
public:
    enum class Opacity { Opaque, Translucent };

    // Capturing the display keeps other programs from drawing over the show elsewhere; on Linux a
    // window on top of everything does that, so capturing always succeeds and is only counted, which
    // lets tests check that every capture is released.
    static bool captureMainDisplay();
    static void releaseMainDisplay();
    static int capturedDisplayCount();

    // Captures the display, puts `content` in a new full-screen window (which takes ownership of it),
    // shows it in front as the active window and gives the content the keyboard focus. Returns null
    // when the display cannot be captured.
    static std::unique_ptr<OVNFullScreenWindow> enter(QWidget *content, Opacity opacity,
                                                      OVNFullScreenWindowDelegate *delegate = nullptr);

    ~OVNFullScreenWindow() override;

    void setDelegate(OVNFullScreenWindowDelegate *delegate) { m_delegate = delegate; }
    OVNFullScreenWindowDelegate *delegate() const { return m_delegate; }

    QWidget *contentView() const { return m_content; }
    // Hands the content back to the caller without a parent (for moving it back into its own window).
    QWidget *takeContentView();

    // Hides the window and releases the display; safe to call more than once.
    void leave();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    // A window manager that drops the full-screen state (or never took it up, as when another
    // window was activated while this one was being mapped) is asked again, a few times at most.
    void changeEvent(QEvent *event) override;

private:
    // Asks for the whole screen again when the window does not cover it, and for the keyboard when
    // another window kept it.
    void keepFullScreen();

    explicit OVNFullScreenWindow(Opacity opacity);

    OVNFullScreenWindowDelegate *m_delegate = nullptr;
    QPointer<QWidget> m_content;
    bool m_holdsDisplay = false;
    int m_requestsLeft = 3;
};
