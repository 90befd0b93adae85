#pragma once

#include "decoding/Movie.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <QElapsedTimer>
#include <QTimer>

#include <sys/types.h>

#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

// Where a movie's sound is played, in the program: the default audio device through Qt
// Multimedia, or what a test puts in its place (MoviePlayer::setSoundOutputs). Samples come
// interleaved, signed 16-bit.
class MovieSoundOutput : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Plays samples of this kind from now on; false when it cannot.
    virtual bool start(int rate, int channels) = 0;
    virtual void write(const QByteArray &samples) = 0;
    // Drops what it holds and has not played (a seek, another rate).
    virtual void clear() = 0;
    virtual void setPaused(bool paused) = 0;
    virtual void setVolume(float volume) = 0;
    // How long what it holds still plays, in ms: the frames wait as long, to stay in step.
    virtual qint64 latencyMs() const = 0;

signals:
    // The device failed: the movie goes on without sound.
    void faulted();
};

// Plays a movie, times in the movie scale of 600 units a second. A rate of 0 is stopped; any other
// rate plays, negative ones backwards. Frames go out through frameChanged() already turned upright
// for whichever view shows the movie, fitted into the frame box.
//
// The movie is decoded in a process of its own (ovn-player, over GStreamer), never in the
// program's: held by the kernel to a full-size read's data limit, confined (no writing, no
// sockets, no programs, nothing of the user's: it is handed the movie already open), in a session
// of its own and ended with the program. It presents nothing: frames of the box's size and the
// sound's samples come back, and the program shows the frames and plays the sound (a
// MovieSoundOutput), holding each frame back as long as the sound output's latency so that the two
// stay in step. Sound plays forwards only, faster or slower with the rate. A movie that needs more
// than the limit, or whose decoder fails, fails with a reason and costs nothing else.
class MoviePlayer : public QObject
{
    Q_OBJECT
public:
    // The media backend players use (GStreamer unless the user named another), chosen before the
    // first player starts, and the first audio output device's name (see PlaybackBackend_p.h).
    static QString chooseBackend();
    static QString audioDeviceName();

    // What makes each movie's sound output; none, or one that makes none, plays no sound (the
    // default: the default audio device, none without one). Answers the one it replaces.
    using SoundOutputs = std::function<std::unique_ptr<MovieSoundOutput>()>;
    static SoundOutputs setSoundOutputs(SoundOutputs make);

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
    // The movie plays without sound: no sound output could be started (no device, or it failed).
    bool isSoundOff() const { return m_hasAudio && !m_sound; }
    const QString &path() const { return m_path; }

    MovieTime duration() const;
    // Where the movie is: while frames are shown, the place of the frame shown (which waits for the
    // sound held before it), at any rate; otherwise where the player is (paused, at its end).
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

    // What a failing sound device does, for tests: the movie goes on without sound.
    void simulateSoundFault();
    // Test builds of the player: tries every road out of a decoding child from its kinds of thread
    // (DecoderSandbox::tryRoads beside the file targets["file"]); probed() answers with "damage".
    void probe(const QVariantMap &targets);

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
    void probed(const QVariantMap &outcomes);

private:
    void fail(const QString &reason);
    void stop();
    void send(const QVariantMap &command);
    void receive();
    void handle(const QVariantMap &event);
    void takeState(const QVariantMap &event);
    void ended();
    // A stretch of sound, to the sound output.
    void playSound();
    void soundFailed();
    // A frame shown now, or once the sound held before it has played; `ms` its place in the movie.
    void showFrame(QImage image, qint64 ms);
    void showDueFrames();
    void dropHeldFrames(bool showLast);
    void present(QImage image, qint64 ms);

    QString m_path;
    pid_t m_pid = -1;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
    // What came from the player and is not yet a whole message; a frame's rows go into m_frame.
    QByteArray m_incoming;
    QImage m_frame;
    qint64 m_frameMs = -1;    // its place in the movie
    qint64 m_framePlaces = 0; // the time commands the player had had before it
    QByteArray m_samples;
    QVariantMap m_payloadEvent; // the event whose bytes are coming
    char *m_payload = nullptr;
    qint64 m_payloadSize = 0;
    qint64 m_payloadFilled = -1; // bytes received; -1 when none are coming

    std::unique_ptr<MovieSoundOutput> m_sound;
    int m_soundRate = 0;
    int m_soundChannels = 0;
    bool m_soundStarted = false; // the output took that rate and channels
    struct HeldFrame {
        qint64 due; // at m_clock's ms
        qint64 ms;  // its place in the movie
        QImage image;
    };
    std::deque<HeldFrame> m_heldFrames;
    QElapsedTimer m_clock;
    QTimer m_frameTimer;

    QImage m_image;
    QSize m_box;
    QSize m_natural;
    qint64 m_durationMs = 0;
    qint64 m_positionMs = 0;   // told: the frame shown's place while frames show
    qint64 m_playerMs = 0;     // where the player said it is
    qint64 m_rateCommands = 0; // sent to this movie's player
    qint64 m_timeCommands = 0; // sent to this movie's player
    double m_rate = 0.0;
    double m_playedRate = 1.0; // the last rate other than 0, whose sound the output holds
    float m_volume = 1.0f;
    int m_rotation = 0;
    bool m_open = false;
    bool m_failed = false;
    bool m_looping = false;
    bool m_hasAudio = false;
    bool m_hasVideo = false;
    bool m_hasAudioOutput = false;
};
