#pragma once

#include "decoding/Movie.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <future>
#include <memory>

class QAudioOutput;
class QMediaPlayer;
class QVideoFrame;
class QVideoSink;

// The playing itself, in the player program (ovn-player, see Player_main.cpp), never in the
// program's own process: Qt Multimedia on its GStreamer backend, times in the movie scale of 600
// units a second. A rate of 0 is stopped; any other rate plays, negative ones backwards. Frames go
// out through frameChanged() already turned upright and fitted into the frame box.
class PlaybackPipeline : public QObject
{
    Q_OBJECT
public:
    explicit PlaybackPipeline(QObject *parent = nullptr);
    ~PlaybackPipeline() override;

    // Starts opening; opened() or failed(reason) follows.
    void open(const QString &path);
    // The box frames are fitted into (their aspect kept); none: as they come.
    void setFrameBox(QSize box) { m_box = box; }
    // What the sound system's failure makes GStreamer report, for tests.
    void simulateSoundFault();

    bool isOpen() const { return m_open; }
    bool hasAudio() const;
    bool hasVideo() const;
    bool hasAudioOutput() const { return m_audio != nullptr; }
    // The movie plays without sound: no sound output could be started (no device, or the sound
    // system failed and the movie was opened again without it).
    bool isSoundOff() const { return hasAudio() && (m_audio == nullptr || m_soundFailed); }
    const QString &path() const { return m_path; }

    MovieTime duration() const;
    MovieTime currentTime() const;
    void setCurrentTime(MovieTime time);
    double rate() const { return m_rate; }
    void setRate(double rate);
    bool isLooping() const { return m_looping; }
    void setLooping(bool loop);
    void setVolume(float volume);

    // The last frame, upright; its natural size once one has come.
    QImage currentImage() const { return m_image; }
    int rotationAngle() const { return m_rotation; }
    // The movie's own size, upright.
    QSize naturalSize() const;

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
    void onFrame(const QVideoFrame &frame);
    void fail(const QString &reason);
    // A playback error: with a sound output in the play, first tried once more the other way
    // round (with none, or with one when there was none), so that a sound-system fault costs the
    // sound and not the picture. Answers whether it tries again.
    bool retryWithOtherSound();
    void attachAudioOutput(bool on);
    // opened(), once the track's angle has been read (checked again shortly while it is not).
    void announceOpened(const QString &path);

    std::unique_ptr<QMediaPlayer> m_player;
    std::unique_ptr<QVideoSink> m_sink;
    std::unique_ptr<QAudioOutput> m_audio;
    QString m_path;
    QImage m_image;
    QSize m_box;
    QSize m_natural;                 // of the last frame, upright
    std::future<int> m_rotationRead; // the track's angle, read on a worker while GStreamer opens
    double m_rate = 0.0;
    int m_rotation = 0;
    bool m_open = false;
    bool m_looping = false;
    bool m_failed = false;
    bool m_retried = false; // the other sound set-up was tried for this file
    bool m_retryPending = false;
    bool m_soundFailed = false; // opened again without working sound
    qint64 m_resumeAt = -1;     // where playing stood when the retry began, in ms
};
