#pragma once

#include "decoding/Movie.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <sys/types.h>

class QSocketNotifier;

// Plays a movie, times in the movie scale of 600 units a second. A rate of 0 is stopped; any other
// rate plays, negative ones backwards. Frames go out through frameChanged() already turned upright
// for whichever view shows the movie, fitted into the frame box.
//
// The movie is played in a process of its own (ovn-player: Qt Multimedia on its GStreamer backend),
// never in the program's: held by the kernel to a full-size read's data limit, confined (no
// writing, no network, no programs, nothing of the user's but the movie and the sound system), in a
// session of its own and ended with the program. Only frames of the box's size come back. A movie
// that needs more than the limit, or whose decoder fails, fails with a reason and costs nothing
// else.
class MoviePlayer : public QObject
{
    Q_OBJECT
public:
    // The media backend players use (GStreamer unless the user named another), chosen before the
    // first player starts, and the first audio output device's name (see PlaybackBackend_p.h).
    static QString chooseBackend();
    static QString audioDeviceName();

    explicit MoviePlayer(QObject *parent = nullptr);
    ~MoviePlayer() override;

    // Starts opening; opened() or failed(reason) follows.
    void open(const QString &path);
    // Opens and waits up to `timeoutMs` for the result, for tools and tests.
    bool openAndWait(const QString &path, QString *error, int timeoutMs = 20000);

    bool isOpen() const { return m_open; }
    bool hasAudio() const { return m_hasAudio; }
    bool hasVideo() const { return m_hasVideo; }
    bool hasAudioOutput() const { return m_hasAudioOutput; }
    // The movie plays without sound: no sound output could be started (no device, or the sound
    // system failed and the movie was opened again without it).
    bool isSoundOff() const { return m_soundOff; }
    const QString &path() const { return m_path; }

    MovieTime duration() const;
    MovieTime currentTime() const;
    void setCurrentTime(MovieTime time);
    double rate() const { return m_rate; }
    void setRate(double rate);
    bool isLooping() const { return m_looping; }
    void setLooping(bool loop);
    void setVolume(float volume);

    // The box frames are fitted into (their aspect kept), at most 4096 pixels a side: a view sets
    // its own size. Frames are never larger than the movie.
    void setFrameBox(QSize box);
    QSize frameBox() const { return m_box; }

    // The last frame, upright, fitted into the frame box.
    QImage currentImage() const { return m_image; }
    int rotationAngle() const { return m_rotation; }
    // The movie's own size, upright.
    QSize naturalSize() const { return m_natural; }

    // What a failing sound system makes the backend report, for tests: the movie goes on without
    // sound.
    void simulateSoundFault();

signals:
    void opened();
    void failed(const QString &reason);
    void frameChanged(const QImage &image);
    void rateChanged(double rate);
    void timeChanged();
    // Some files tell their length only after they opened.
    void durationChanged();
    // The sound system failed after the movie opened; it goes on without sound.
    void soundTurnedOff();

private:
    void fail(const QString &reason);
    void stop();
    void send(const QVariantMap &command);
    void receive();
    void handle(const QVariantMap &event);
    void takeState(const QVariantMap &event);
    void ended();

    QString m_path;
    pid_t m_pid = -1;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
    // What came from the player and is not yet a whole message; a frame's rows go into m_frame.
    QByteArray m_incoming;
    QImage m_frame;
    qint64 m_frameFilled = -1; // bytes of m_frame's rows received; -1 when no frame is coming

    QImage m_image;
    QSize m_box;
    QSize m_natural;
    qint64 m_durationMs = 0;
    qint64 m_positionMs = 0;
    double m_rate = 0.0;
    float m_volume = 1.0f;
    int m_rotation = 0;
    bool m_open = false;
    bool m_failed = false;
    bool m_looping = false;
    bool m_hasAudio = false;
    bool m_hasVideo = false;
    bool m_hasAudioOutput = false;
    bool m_soundOff = false;
};
