#include "decoding/PlaybackPipeline_p.h"
#include "decoding/PlaybackBackend_p.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QTimer>
#include <QTransform>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <cmath>

PlaybackPipeline::PlaybackPipeline(QObject *parent) : QObject(parent)
{
    PlayerProtocol::chooseBackend();
    m_player = std::make_unique<QMediaPlayer>(this);
    m_sink = std::make_unique<QVideoSink>();
    m_player->setVideoSink(m_sink.get());
    // An audio output with no device behind it is what brings some backends down.
    attachAudioOutput(!QMediaDevices::audioOutputs().isEmpty());
    connect(m_sink.get(), &QVideoSink::videoFrameChanged, this, &PlaybackPipeline::onFrame);
    connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        const bool loaded = status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia;
        if (status == QMediaPlayer::InvalidMedia
            || (loaded && !m_open && !m_failed && !m_player->hasVideo() && !m_player->hasAudio())) {
            // GStreamer now and then calls a file it could not read loaded, with no track at all:
            // nothing to play is a failure, not an empty movie.
            if (!retryWithOtherSound())
                fail(m_player->errorString());
        } else if (!m_open && !m_failed && loaded) {
            m_open = true;
            m_rotation = m_player->metaData().value(QMediaMetaData::Orientation).toInt();
            announceOpened(m_path);
        } else if (m_open && m_resumeAt >= 0 && loaded) {
            // Opened again without the failed sound: on from where it stood.
            const qint64 at = std::exchange(m_resumeAt, -1);
            m_player->setPosition(std::min(at, m_player->duration()));
            if (m_rate != 0.0) {
                m_player->setPlaybackRate(m_rate);
                m_player->play();
            }
        } else if (status == QMediaPlayer::EndOfMedia && m_rate != 0.0 && !m_looping) {
            m_rate = 0.0;
            emit rateChanged(0.0);
        }
    });
    connect(m_player.get(), &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString &text) {
        if (error != QMediaPlayer::NoError && !retryWithOtherSound())
            fail(text.isEmpty() ? tr("The movie cannot be played.") : text);
    });
    connect(m_player.get(), &QMediaPlayer::positionChanged, this, &PlaybackPipeline::timeChanged);
    connect(m_player.get(), &QMediaPlayer::durationChanged, this, &PlaybackPipeline::durationChanged);
}

PlaybackPipeline::~PlaybackPipeline()
{
    // The sink and the output must outlive the player's use of them.
    m_player.reset();
}

void PlaybackPipeline::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_open = false;
    emit failed(reason.isEmpty() ? tr("The movie cannot be played.") : reason);
}

void PlaybackPipeline::announceOpened(const QString &path)
{
    if (path != m_path || !m_open || m_failed)
        return;
    // GStreamer in Qt 6.4 reports no rotation at all: the file's own track says it, read while
    // GStreamer opened the file. Never waited for here: GStreamer's video sink gives up on a main
    // thread that does not answer within a second, and the movie would then fail to load.
    if (m_rotationRead.valid()) {
        if (m_rotationRead.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            QTimer::singleShot(10, this, [this, path] { announceOpened(path); });
            return;
        }
        const int angle = m_rotationRead.get();
        if (m_rotation == 0)
            m_rotation = angle;
    }
    emit opened();
}

void PlaybackPipeline::attachAudioOutput(bool on)
{
    m_player->setAudioOutput(nullptr);
    m_audio.reset();
    if (on) {
        m_audio = std::make_unique<QAudioOutput>();
        m_player->setAudioOutput(m_audio.get());
    }
}

bool PlaybackPipeline::retryWithOtherSound()
{
    // GStreamer alone plays on with no device behind an output; a file without sound, or a
    // missing file, fails the same either way.
    if (m_retryPending)
        return true; // the same fault telling more
    if (m_retried || m_failed || m_path.isEmpty() || PlayerProtocol::chooseBackend() != QLatin1String("gstreamer"))
        return false;
    m_retried = true;
    const bool hadOutput = m_audio != nullptr;
    // A file that failed before it told its streams is opened once more too: its sound may be
    // what stopped it.
    if (m_open && !m_player->hasAudio())
        return false;
    m_soundFailed = true;
    m_retryPending = true;
    const qint64 resumeAt = m_open ? m_player->position() : -1;
    const QString path = m_path;
    QTimer::singleShot(0, this, [this, path, resumeAt, hadOutput] {
        if (path != m_path || m_failed || !m_retryPending)
            return;
        // The failed pipeline's last words (a second error, its stop) come while this runs.
        m_player->stop();
        m_player->setSource(QUrl());
        attachAudioOutput(!hadOutput);
        m_resumeAt = resumeAt;
        // From here on a failure is the new opening's own (it may come during setSource itself).
        m_retryPending = false;
        m_player->setSource(QUrl::fromLocalFile(path));
    });
    if (m_open)
        emit soundTurnedOff();
    return true;
}

void PlaybackPipeline::open(const QString &path)
{
    if (m_soundFailed)
        attachAudioOutput(!QMediaDevices::audioOutputs().isEmpty());
    m_path = path;
    m_open = false;
    m_failed = false;
    m_retried = false;
    m_retryPending = false;
    m_soundFailed = false;
    m_resumeAt = -1;
    m_image = QImage();
    m_natural = QSize();
    m_rate = 0.0;
    if (!QFileInfo(path).isFile()) {
        QTimer::singleShot(0, this, [this, path] { fail(tr("The file \"%1\" cannot be found.").arg(path)); });
        return;
    }
    // The track's angle comes from FFmpeg (its first use loads the readers' module): on a worker,
    // beside GStreamer's own opening, rather than after it.
    m_rotationRead = std::async(std::launch::async, [path] {
        const auto movie = Movie::open(path);
        return movie ? movie->rotationAngle() : 0;
    });
    m_player->setSource(QUrl::fromLocalFile(path));
}

void PlaybackPipeline::simulateSoundFault()
{
    for (int i = 0; i < 2; ++i)
        emit m_player->errorOccurred(QMediaPlayer::ResourceError, QStringLiteral("Internal data stream error."));
}

bool PlaybackPipeline::hasAudio() const { return m_player->hasAudio(); }
bool PlaybackPipeline::hasVideo() const { return m_player->hasVideo(); }

MovieTime PlaybackPipeline::duration() const
{
    return {m_player->duration() * Movie::movieTimeScale / 1000, Movie::movieTimeScale};
}

MovieTime PlaybackPipeline::currentTime() const
{
    return {m_player->position() * Movie::movieTimeScale / 1000, Movie::movieTimeScale};
}

void PlaybackPipeline::setCurrentTime(MovieTime time)
{
    // Through seconds in 64 bits, whatever the caller's scale, kept on the movie.
    qint64 ms = qint64(std::llround(time.seconds() * 1000.0));
    ms = std::clamp<qint64>(ms, 0, std::max<qint64>(0, m_player->duration()));
    m_player->setPosition(ms);
}

void PlaybackPipeline::setRate(double rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    if (rate == 0.0) {
        m_player->pause();
    } else {
        m_player->setPlaybackRate(rate);
        m_player->play();
    }
    emit rateChanged(rate);
}

void PlaybackPipeline::setLooping(bool loop)
{
    m_looping = loop;
    m_player->setLoops(loop ? QMediaPlayer::Infinite : 1);
}

void PlaybackPipeline::setVolume(float volume)
{
    if (m_audio)
        m_audio->setVolume(volume);
}

QSize PlaybackPipeline::naturalSize() const
{
    if (m_natural.isValid())
        return m_natural;
    const QSize s = m_player->metaData().value(QMediaMetaData::Resolution).toSize();
    return (m_rotation % 180) ? s.transposed() : s;
}

void PlaybackPipeline::onFrame(const QVideoFrame &frame)
{
    if (!frame.isValid())
        return;
    // toImage() already turns a frame that carries its angle; one that does not is turned by the
    // angle the file's track gives.
    QImage image = frame.toImage();
    if (image.isNull())
        return;
    if (frame.rotationAngle() != QVideoFrame::Rotation0)
        m_rotation = int(frame.rotationAngle());
    else if (m_rotation % 360)
        image = image.transformed(QTransform().rotate(m_rotation));
    m_natural = image.size();
    if (m_box.isValid() && (image.width() > m_box.width() || image.height() > m_box.height()))
        image = image.scaled(m_box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_image = image;
    emit frameChanged(m_image);
}
