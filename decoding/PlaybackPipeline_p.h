#pragma once

#include "decoding/Movie.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <mutex>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstSample GstSample;

// The playing itself, in the player program (ovn-player, see Player_main.cpp), never in the
// program's own process: a GStreamer playbin whose two sinks hand back what it decodes, times in
// the movie scale of 600 units a second. A rate of 0 is stopped; any other rate plays, negative
// ones backwards. Frames go out through frameChanged() already turned upright and fitted into the
// frame box, each with its place in the movie; sound goes out through sound() as interleaved
// signed 16-bit samples at the stream's own rate, when wanted and only forwards (at rate 2 they
// come twice as fast). Nothing is shown or played here.
class PlaybackPipeline : public QObject
{
    Q_OBJECT
public:
    explicit PlaybackPipeline(QObject *parent = nullptr);
    ~PlaybackPipeline() override;

    // Starts opening; opened() or failed(reason) follows.
    void open(const QString &path);
    // The box frames are fitted into (their aspect kept); none: as they come.
    void setFrameBox(QSize box);
    // Whether the program plays the sound: when not, none is sent.
    void setSoundWanted(bool wanted) { m_soundWanted = wanted; }

    bool isOpen() const { return m_open; }
    bool hasAudio() const { return m_hasAudio; }
    bool hasVideo() const { return m_hasVideo; }
    const QString &path() const { return m_path; }

    MovieTime duration() const { return {m_durationMs * Movie::movieTimeScale / 1000, Movie::movieTimeScale}; }
    MovieTime currentTime() const { return {m_positionMs * Movie::movieTimeScale / 1000, Movie::movieTimeScale}; }
    void setCurrentTime(MovieTime time);
    double rate() const { return m_rate; }
    void setRate(double rate);
    bool isLooping() const { return m_looping; }
    void setLooping(bool loop) { m_looping = loop; }

    // The last frame, upright; its natural size once one has come.
    QImage currentImage() const { return m_image; }
    int rotationAngle() const { return m_rotation; }
    // The movie's own size, upright.
    QSize naturalSize() const { return m_natural; }

    // How many seeks have begun: a frame handed over before the last of them is of the place left.
    int seeks() const { return m_frameSeeks; }

    // Runs `work` once on the thread that hands over the next frame (a thread of GStreamer's own).
    void runOnStreamingThread(std::function<void()> work);

signals:
    void opened();
    void failed(const QString &reason);
    // `ms`: the frame's place in the movie, -1 when its stream does not say.
    void frameChanged(const QImage &image, qint64 ms);
    void rateChanged(double rate);
    void timeChanged();
    // Some files tell their length only after they opened.
    void durationChanged();
    // Samples at `rate` a second in `channels` channels, starting at `ms` in the movie.
    void sound(const QByteArray &pcm, int rate, int channels, qint64 ms);

private:
    friend struct PipelineCallbacks;
    // On a streaming thread: a decoded frame, a stretch of sound.
    void takeFrame(GstElement *sink, GstSample *sample);
    void takeSound(GstSample *sample);
    void runStreamingWork();
    // The rate and place asked for, given to GStreamer once it has opened the movie.
    void apply();
    void handle(GstMessage *message);
    void fail(const QString &reason);
    void close();
    // A flushing seek to `ms` playing at `rate` (backwards: from `ms` down to the start).
    void seek(qint64 ms, double rate);
    void refreshPosition();
    void refreshDuration();

    GstElement *m_playbin = nullptr;
    GstElement *m_scale = nullptr; // converts and scales frames into the box
    GstElement *m_fit = nullptr;   // the box's caps
    QString m_path;
    QImage m_image;
    QSize m_natural;
    QTimer m_clock;     // the position told while playing
    std::mutex m_mutex; // what the streaming threads read: the box, the work to run there
    QSize m_box;
    std::function<void()> m_streamingWork;
    std::atomic<bool> m_soundWanted{false};
    std::atomic<bool> m_soundAtRate{false}; // playing forwards
    std::atomic<int> m_rotation{0};
    std::atomic<int> m_segment{0};        // counts the seeks, for the messages posted meanwhile
    std::atomic<int> m_frameSeeks{0};     // counts the seeks as they begin, for the frames taken before
    std::atomic<bool> m_videoCame{false}; // a frame, a stretch of sound reached their sinks
    std::atomic<bool> m_audioCame{false};
    qint64 m_durationMs = 0;
    qint64 m_positionMs = 0;
    qint64 m_frameMs = -1; // the last frame's place, since the last seek
    double m_rate = 0.0;
    double m_seekRate = 1.0; // the rate of the last segment GStreamer was given
    bool m_open = false;
    bool m_failed = false;
    bool m_looping = false;
    bool m_hasAudio = false;
    bool m_hasVideo = false;
    bool m_atEnd = false;      // GStreamer reached the end of the segment
    qint64 m_pendingSeek = -1; // asked for before the movie opened, in ms
};
