#pragma once

#include "viewers/OVNFullScreenWindow.h"
#include "viewers/OVNImageLoader.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

#include "viewers/OVNSlideShowView.h"
class QTimer;

// Shows a list of pictures one after the other on the whole primary screen, each for three
// seconds, every one upright, and ends after the last. The arrow keys step, Home starts again,
// Escape or a click ends it. Pictures decode on the image loaders' workers, fitted to the screen,
// and the next one is read while the current one shows; unreadable files are skipped. The show
// owns itself: it deletes itself when it ends.
class OVNSlideShow
    : public QObject
    , public OVNFullScreenWindowDelegate
{
    Q_OBJECT
public:
    struct Slide {
        QString path;
        int orientation = fileOrientation; // the EXIF numbering
    };
    // A slide of this orientation is turned as its file's own metadata say.
    static constexpr int fileOrientation = -1;
    static constexpr int defaultInterval = 3000;
    // How long after a slide is shown the next is read when its window has not painted it.
    static constexpr int prefetchDelay = 200;

    explicit OVNSlideShow(QObject *parent = nullptr);
    ~OVNSlideShow() override;

    // Bare paths: each turned as its file says.
    void setFiles(const QStringList &paths);
    void setSlides(const QList<Slide> &slides);
    const QList<Slide> &slides() const { return m_files; }
    // The time a slide stays, in milliseconds; 0 keeps each until a key steps on (a picture
    // opened in full screen).
    void setInterval(int ms) { m_interval = ms; }
    // The size slides are decoded to fit (the screen's by default); for tools without a screen.
    void setScreenSize(QSize size) { m_screenSize = size; }

    void startSlideShow();
    void stopSlideShow();
    // One step: the next slide, skipping those that cannot be read; past the last, the end.
    void slideShowTimer();
    void startTimer();

    int imageCounter() const { return m_imageCounter; }
    bool isRunning() const { return m_running; }
    OVNSlideShowView *view() const { return m_view; }
    OVNFullScreenWindow *window() const { return m_window.get(); }

    void ovnFullScreenWindowKeyDown(QKeyEvent *event) override;
    void ovnFullScreenWindowMouseDown(QMouseEvent *event) override;

    // The file's own orientation (EXIF numbering, 0 when it gives none).
    static int orientationOfFile(const QString &path);
    // Reads a slide as the show does: fitted to `box` (when valid) and upright.
    static QImage slideImage(const QString &path, const QString &processor, int orientation, QSize box);

signals:
    void slideShown(int index, const QString &path);
    void slideSkipped(int index, const QString &path);
    void ended();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showIndex(int index);
    void startLoad(int index);
    // Reads the slide after the one on show, unless it is read already or on its way.
    void loadNext();
    void loaded(const OVNImageLoader::Result &result);
    void restartTimer();

    QList<Slide> m_files;
    std::unique_ptr<OVNFullScreenWindow> m_window;
    QPointer<OVNSlideShowView> m_view;
    QTimer *m_clock = nullptr;
    OVNImageLoader *m_loader = nullptr;
    int m_imageCounter = 0;
    int m_shownCount = 0;   // slides shown
    int m_skippedCount = 0; // slides that could not be shown
    int m_interval = defaultInterval;
    QSize m_screenSize;
    bool m_running = false;
    // The load in flight, the one whose picture has come, and the slide waiting to be shown.
    int m_loadIndex = -1;
    int m_readyIndex = -1;
    QImage m_ready;
    int m_waiting = -1;
};
