#include "decoding/PlaybackPipeline_p.h"

#include <QFile>
#include <QFileInfo>
#include <QTransform>

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

// playbin's flags: video, audio, deinterlacing; no subtitles drawn, no volume of its own (the
// program sets the sound's volume).
constexpr unsigned playVideo = 1U << 0;
constexpr unsigned playAudio = 1U << 1;
constexpr unsigned playDeinterlace = 1U << 9;

// The angle the stream's tags ask the picture to be turned by, clockwise; -1 when none says.
gboolean findOrientation(GstPad *, GstEvent **event, gpointer angle)
{
    if (GST_EVENT_TYPE(*event) != GST_EVENT_TAG)
        return TRUE;
    GstTagList *tags = nullptr;
    gst_event_parse_tag(*event, &tags);
    gchar *orientation = nullptr;
    if (tags && gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation) && orientation) {
        for (const int a : {0, 90, 180, 270})
            if (std::strcmp(orientation, QByteArray("rotate-" + QByteArray::number(a)).constData()) == 0)
                *static_cast<int *>(angle) = a;
        g_free(orientation);
    }
    return TRUE;
}

// How many threads libav may decode a movie of these caps with, so that its frames fit the data
// limit the player runs under: where it threads over frames (a GStreamer that cannot ask for
// slices), each thread holds a frame of its own besides those the stream refers to, and an 8K
// 10-bit frame alone is 100 MB. 0: as many as it likes.
int decodingThreads(const GstCaps *caps)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || !caps
        || gst_caps_get_size(caps) == 0)
        return 0;
    const GstStructure *stream = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0;
    if (!gst_structure_get_int(stream, "width", &width) || !gst_structure_get_int(stream, "height", &height)
        || width <= 0 || height <= 0)
        return 0;
    // Samples a pixel (4:2:0 unless the profile says more) and bytes a sample (deeper than 8 bits: 2).
    const char *profile = gst_structure_get_string(stream, "profile");
    const QByteArray named = profile ? QByteArray(profile) : QByteArray();
    const double samples = named.contains("444") ? 3.0 : named.contains("422") ? 2.0 : 1.5;
    const double bytes = named.contains("10") || named.contains("12") || named.contains("high-4") ? 2.0 : 1.0;
    const double frame = double(width) * height * samples * bytes;
    // Half the limit for the decoder's frames, of which up to 6 are the stream's references; the
    // rest is GStreamer's, the scaled frames' and the libraries'.
    const double room = double(limit.rlim_cur) / 2 / frame - 6;
    const int processors = int(std::max(1U, std::thread::hardware_concurrency()));
    return room >= processors ? 0 : std::max(1, int(room));
}

// Caught on a libav decoder's way in, before it opens at the stream's size.
GstPadProbeReturn limitThreads(GstPad *, GstPadProbeInfo *info, gpointer decoder)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps *caps = nullptr;
    gst_event_parse_caps(event, &caps);
    if (const int threads = decodingThreads(caps); threads > 0)
        g_object_set(decoder, "max-threads", threads, nullptr);
    return GST_PAD_PROBE_OK;
}

void decoderAdded(GstBin *, GstBin *, GstElement *element, gpointer)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    const gchar *name = factory ? GST_OBJECT_NAME(factory) : nullptr;
    if (!name || !g_str_has_prefix(name, "avdec_")
        || !g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-threads"))
        return;
    // Threads on the parts of a frame, never a frame each: frame threads hold a frame apiece and,
    // at 4K, stall waiting for buffers GStreamer's pool has handed out to the others.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "thread-type"))
        gst_util_set_object_arg(G_OBJECT(element), "thread-type", "slice");
    if (GstPad *pad = gst_element_get_static_pad(element, "sink")) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &limitThreads, element, nullptr);
        gst_object_unref(pad);
    }
}

// The caps frames are fitted into by GStreamer itself, converted and scaled in one step at the
// box's size: a 4K or 8K movie never goes through RGB at its own size. Square, as large as the
// box's longer side, so that a turned movie fits too (the last fitting, turned, is done on the
// small frame); none: as they come.
GstCaps *fittingCaps(QSize box)
{
    if (!box.isValid() || box.isEmpty())
        return gst_caps_from_string("video/x-raw,format=BGRx");
    const int side = std::max(box.width(), box.height());
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", GST_TYPE_INT_RANGE, 1, side,
                               "height", GST_TYPE_INT_RANGE, 1, side, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                               nullptr);
}

// A new box renegotiates the scaler's output only: the decoder above keeps its frames and its
// pool (libav's frame threads, asked to give up the frames they hold mid-stream, stall).
GstPadProbeReturn keepDecoderOutput(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    return event && GST_EVENT_TYPE(event) == GST_EVENT_RECONFIGURE ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

} // namespace

struct PipelineCallbacks {
    static GstFlowReturn video(GstAppSink *sink, gpointer self)
    {
        auto *pipeline = static_cast<PlaybackPipeline *>(self);
        if (GstSample *sample = gst_app_sink_pull_sample(sink)) {
            pipeline->takeFrame(GST_ELEMENT(sink), sample);
            gst_sample_unref(sample);
        }
        pipeline->runStreamingWork();
        return GST_FLOW_OK;
    }
    static GstFlowReturn videoPreroll(GstAppSink *sink, gpointer self)
    {
        auto *pipeline = static_cast<PlaybackPipeline *>(self);
        if (GstSample *sample = gst_app_sink_pull_preroll(sink)) {
            pipeline->m_videoCame = true;
            pipeline->takeFrame(GST_ELEMENT(sink), sample);
            gst_sample_unref(sample);
        }
        return GST_FLOW_OK;
    }
    static GstFlowReturn audioPreroll(GstAppSink *, gpointer self)
    {
        static_cast<PlaybackPipeline *>(self)->m_audioCame = true;
        return GST_FLOW_OK;
    }
    static GstFlowReturn audio(GstAppSink *sink, gpointer self)
    {
        auto *pipeline = static_cast<PlaybackPipeline *>(self);
        if (GstSample *sample = gst_app_sink_pull_sample(sink)) {
            pipeline->takeSound(sample);
            gst_sample_unref(sample);
        }
        pipeline->runStreamingWork();
        return GST_FLOW_OK;
    }
    static GstBusSyncReply bus(GstBus *, GstMessage *message, gpointer self)
    {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_ASYNC_DONE:
        case GST_MESSAGE_DURATION_CHANGED: {
            auto *pipeline = static_cast<PlaybackPipeline *>(self);
            gst_message_ref(message);
            // Handled on the main thread; dropped with the pipeline if it is gone by then.
            const int segment = pipeline->m_segment;
            QMetaObject::invokeMethod(
                pipeline,
                [pipeline, message, segment] {
                    // The end of a stretch a seek has left is not the movie's.
                    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_EOS || segment == pipeline->m_segment)
                        pipeline->handle(message);
                    gst_message_unref(message);
                },
                Qt::QueuedConnection);
            break;
        }
        default:
            break;
        }
        return GST_BUS_DROP;
    }
};

PlaybackPipeline::PlaybackPipeline(QObject *parent) : QObject(parent)
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    m_clock.setInterval(40);
    connect(&m_clock, &QTimer::timeout, this, [this] {
        refreshPosition();
        emit timeChanged();
    });
}

PlaybackPipeline::~PlaybackPipeline() { close(); }

void PlaybackPipeline::close()
{
    m_clock.stop();
    if (m_playbin) {
        // Ends GStreamer's threads before the sinks' callbacks lose their pipeline.
        gst_element_set_state(m_playbin, GST_STATE_NULL);
        gst_object_unref(m_playbin);
        m_playbin = nullptr;
        m_fit = m_scale = nullptr;
    }
}

void PlaybackPipeline::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_open = false;
    m_clock.stop();
    emit failed(reason.isEmpty() ? tr("The movie cannot be played.") : reason);
}

void PlaybackPipeline::setFrameBox(QSize box)
{
    {
        const std::lock_guard lock(m_mutex);
        if (box == m_box)
            return;
        m_box = box;
    }
    if (m_fit) {
        GstCaps *caps = fittingCaps(box);
        g_object_set(m_fit, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
}

void PlaybackPipeline::runOnStreamingThread(std::function<void()> work)
{
    const std::lock_guard lock(m_mutex);
    m_streamingWork = std::move(work);
}

void PlaybackPipeline::runStreamingWork()
{
    std::function<void()> work;
    {
        const std::lock_guard lock(m_mutex);
        work = std::exchange(m_streamingWork, nullptr);
    }
    if (work)
        work();
}

void PlaybackPipeline::open(const QString &path)
{
    close();
    m_path = path;
    m_open = m_failed = m_atEnd = false;
    m_hasAudio = m_hasVideo = false;
    m_image = QImage();
    m_natural = QSize();
    m_durationMs = m_positionMs = 0;
    m_frameMs = -1;
    m_seekRate = 1.0;
    m_rotation = 0;
    m_videoCame = m_audioCame = false;
    if (!QFileInfo(path).isFile()) {
        QTimer::singleShot(0, this, [this, path] { fail(tr("The file \"%1\" cannot be found.").arg(path)); });
        return;
    }
    m_playbin = gst_element_factory_make("playbin", nullptr);
    GstElement *video = gst_element_factory_make("appsink", nullptr);
    GstElement *audio = gst_element_factory_make("appsink", nullptr);
    GstElement *videoBin = gst_bin_new(nullptr);
    m_scale = gst_element_factory_make("videoconvertscale", nullptr);
    m_fit = gst_element_factory_make("capsfilter", nullptr);
    if (!m_playbin || !video || !audio || !m_scale || !m_fit) {
        for (GstElement *element : {video, audio, videoBin, m_scale, m_fit})
            if (element)
                gst_object_unref(gst_object_ref_sink(element));
        m_scale = m_fit = nullptr;
        QTimer::singleShot(0, this, [this] { fail(tr("The movie player cannot be started.")); });
        return;
    }
    // Frames reach their sink through the scaler and the box's caps (see fittingCaps).
    gst_bin_add_many(GST_BIN(videoBin), m_scale, m_fit, video, nullptr);
    gst_element_link_many(m_scale, m_fit, video, nullptr);
    if (GstPad *pad = gst_element_get_static_pad(m_scale, "sink")) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &keepDecoderOutput, nullptr, nullptr);
        gst_element_add_pad(videoBin, gst_ghost_pad_new("sink", pad));
        gst_object_unref(pad);
    }
    {
        const std::lock_guard lock(m_mutex);
        GstCaps *fitting = fittingCaps(m_box);
        g_object_set(m_fit, "caps", fitting, nullptr);
        gst_caps_unref(fitting);
    }
    // libav's decoders take only as many threads as their frames leave room for.
    g_signal_connect(m_playbin, "deep-element-added", G_CALLBACK(&decoderAdded), nullptr);
    GstCaps *videoCaps = gst_caps_from_string("video/x-raw,format=BGRx");
    GstCaps *audioCaps =
        gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved,channels=[1,2],rate=[8000,192000]");
    // Both at the pipeline's clock: frames and sound come when they are due, in step. A frame
    // that comes late is shown at once: the sink tells nothing upstream (no QoS) to drop frames
    // by. A decoder drops a late frame only after decoding it (the next ones refer to it), so one
    // slower than the movie (8K on one thread) fell further behind with every drop, and each drop
    // reached twice as far ahead as the lateness before: the picture stopped after a frame or two
    // while the movie ran on to its end.
    g_object_set(video, "caps", videoCaps, "sync", TRUE, "qos", FALSE, "enable-last-sample", FALSE, nullptr);
    g_object_set(audio, "caps", audioCaps, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(videoCaps);
    gst_caps_unref(audioCaps);
    GstAppSinkCallbacks videoCallbacks{};
    videoCallbacks.new_preroll = &PipelineCallbacks::videoPreroll;
    videoCallbacks.new_sample = &PipelineCallbacks::video;
    gst_app_sink_set_callbacks(GST_APP_SINK(video), &videoCallbacks, this, nullptr);
    GstAppSinkCallbacks audioCallbacks{};
    audioCallbacks.new_preroll = &PipelineCallbacks::audioPreroll;
    audioCallbacks.new_sample = &PipelineCallbacks::audio;
    gst_app_sink_set_callbacks(GST_APP_SINK(audio), &audioCallbacks, this, nullptr);
    gchar *uri = gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr);
    g_object_set(m_playbin, "uri", uri, "video-sink", videoBin, "audio-sink", audio, "flags",
                 playVideo | playAudio | playDeinterlace, nullptr);
    g_free(uri);
    GstBus *bus = gst_element_get_bus(m_playbin);
    gst_bus_set_sync_handler(bus, &PipelineCallbacks::bus, this, nullptr);
    gst_object_unref(bus);
    if (gst_element_set_state(m_playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        QTimer::singleShot(0, this, [this] { fail(tr("The movie cannot be played.")); });
}

void PlaybackPipeline::takeFrame(GstElement *sink, GstSample *sample)
{
    const int seeks = m_frameSeeks;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstCaps *caps = gst_sample_get_caps(sample);
    if (!buffer || !caps || !gst_video_info_from_caps(&info, caps))
        return;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return;
    const QImage mapped(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                        GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                        GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
    // The stream's own angle, told in its tags ahead of its frames.
    int angle = -1;
    if (GstPad *pad = gst_element_get_static_pad(sink, "sink")) {
        gst_pad_sticky_events_foreach(pad, &findOrientation, &angle);
        gst_object_unref(pad);
    }
    if (angle >= 0)
        m_rotation = angle;
    QSize box;
    {
        const std::lock_guard lock(m_mutex);
        box = m_box;
    }
    const int rotation = m_rotation;
    QImage image = rotation ? mapped.transformed(QTransform().rotate(rotation)) : mapped.copy();
    gst_video_frame_unmap(&frame);
    // The movie's own size is what the scaler was given, turned as the frame is.
    QSize natural = image.size();
    if (GstPad *pad = m_scale ? gst_element_get_static_pad(m_scale, "sink") : nullptr) {
        if (GstCaps *given = gst_pad_get_current_caps(pad)) {
            int width = 0, height = 0;
            const GstStructure *structure = gst_caps_get_structure(given, 0);
            if (gst_structure_get_int(structure, "width", &width) && gst_structure_get_int(structure, "height", &height)
                && width > 0 && height > 0)
                natural = rotation % 180 ? QSize(height, width) : QSize(width, height);
            gst_caps_unref(given);
        }
        gst_object_unref(pad);
    }
    if (box.isValid() && (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // Its place in the movie: its time stamp within the stretch it came in, at any rate or direction.
    qint64 ms = -1;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        const GstSegment *segment = gst_sample_get_segment(sample);
        const guint64 at = segment && segment->format == GST_FORMAT_TIME
                               ? gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
                               : GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(at))
            ms = qint64(at / GST_MSECOND);
    }
    QMetaObject::invokeMethod(
        this,
        [this, image, natural, ms, seeks] {
            // Taken before a seek that began since: a frame of the place left.
            if (seeks != m_frameSeeks)
                return;
            m_image = image;
            m_natural = natural;
            m_frameMs = ms;
            emit frameChanged(m_image, ms);
        },
        Qt::QueuedConnection);
}

void PlaybackPipeline::takeSound(GstSample *sample)
{
    if (!m_soundWanted || !m_soundAtRate)
        return;
    GstAudioInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstCaps *caps = gst_sample_get_caps(sample);
    if (!buffer || !caps || !gst_audio_info_from_caps(&info, caps) || GST_AUDIO_INFO_RATE(&info) <= 0)
        return;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const QByteArray pcm(reinterpret_cast<const char *>(map.data), qsizetype(map.size));
    gst_buffer_unmap(buffer, &map);
    const qint64 ms = GST_BUFFER_PTS_IS_VALID(buffer) ? qint64(GST_BUFFER_PTS(buffer) / GST_MSECOND) : -1;
    const int rate = GST_AUDIO_INFO_RATE(&info);
    const int channels = GST_AUDIO_INFO_CHANNELS(&info);
    QMetaObject::invokeMethod(
        this, [this, pcm, rate, channels, ms] { emit sound(pcm, rate, channels, ms); }, Qt::QueuedConnection);
}

void PlaybackPipeline::handle(GstMessage *message)
{
    if (!m_playbin || m_failed || GST_MESSAGE_SRC(message) == nullptr)
        return;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        const QString reason = error ? QString::fromUtf8(error->message) : QString();
        if (error)
            g_error_free(error);
        fail(reason);
        break;
    }
    case GST_MESSAGE_ASYNC_DONE:
        if (!m_open) {
            gint videos = 0, audios = 0;
            g_object_get(m_playbin, "n-video", &videos, "n-audio", &audios, nullptr);
            // Nothing to play is a failure, not an empty movie: streams that the file names but
            // that hold no data (it ends before them) are nothing.
            if (!(videos > 0 && m_videoCame) && !(audios > 0 && m_audioCame)) {
                fail(tr("The movie cannot be played."));
                return;
            }
            m_hasVideo = videos > 0;
            m_hasAudio = audios > 0;
            m_open = true;
            refreshDuration();
            emit opened();
            apply();
        } else {
            refreshPosition();
            emit timeChanged();
        }
        break;
    case GST_MESSAGE_DURATION_CHANGED: {
        const qint64 before = m_durationMs;
        refreshDuration();
        if (m_open && m_durationMs != before)
            emit durationChanged();
        break;
    }
    case GST_MESSAGE_EOS:
        if (!m_open)
            break;
        m_atEnd = true;
        if (m_looping && m_rate != 0.0) {
            seek(m_rate > 0 ? 0 : m_durationMs, m_rate);
        } else {
            refreshPosition();
            if (m_rate != 0.0) {
                m_rate = 0.0;
                m_soundAtRate = false;
                m_clock.stop();
                gst_element_set_state(m_playbin, GST_STATE_PAUSED);
                emit rateChanged(0.0);
            }
            emit timeChanged();
        }
        break;
    default:
        break;
    }
}

void PlaybackPipeline::refreshPosition()
{
    gint64 position = 0;
    // Backwards, GStreamer's position of a movie with sound stays where the stretch began (the
    // sound's sink gets nothing): the last frame tells it.
    if (m_seekRate < 0 && m_frameMs >= 0)
        m_positionMs = std::clamp<qint64>(m_frameMs, 0, std::max<qint64>(m_durationMs, 0));
    else if (m_playbin && gst_element_query_position(m_playbin, GST_FORMAT_TIME, &position) && position >= 0)
        m_positionMs = std::clamp<qint64>(position / GST_MSECOND, 0, std::max<qint64>(m_durationMs, 0));
    // At an end: the end it reached, whichever way it played (backwards, the start), where
    // GStreamer tells where the last stretch began.
    if (m_atEnd)
        m_positionMs = m_seekRate > 0 ? m_durationMs : 0;
}

void PlaybackPipeline::refreshDuration()
{
    gint64 duration = 0;
    if (m_playbin && gst_element_query_duration(m_playbin, GST_FORMAT_TIME, &duration) && duration >= 0)
        m_durationMs = duration / GST_MSECOND;
}

void PlaybackPipeline::seek(qint64 ms, double rate)
{
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    const gint64 at = ms * GST_MSECOND;
    m_atEnd = false;
    m_seekRate = rate;
    m_frameMs = -1;
    ++m_frameSeeks;
    // Forwards to the end: a stop left from playing backwards is cleared.
    if (rate > 0)
        gst_element_seek(m_playbin, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, at, GST_SEEK_TYPE_SET,
                         gint64(GST_CLOCK_TIME_NONE));
    else
        gst_element_seek(m_playbin, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_SET, at);
    // What was posted until the flush ended belongs to the stretch before.
    ++m_segment;
}

void PlaybackPipeline::setCurrentTime(MovieTime time)
{
    // Through seconds in 64 bits, whatever the caller's scale, kept on the movie.
    qint64 ms = qint64(std::llround(time.seconds() * 1000.0));
    ms = std::clamp<qint64>(ms, 0, std::max<qint64>(0, m_durationMs));
    m_positionMs = ms;
    if (!m_open) {
        m_pendingSeek = ms;
        return;
    }
    seek(ms, m_seekRate);
}

void PlaybackPipeline::setRate(double rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    if (m_open)
        apply();
    emit rateChanged(rate);
}

void PlaybackPipeline::apply()
{
    if (!m_playbin || !m_open)
        return;
    m_soundAtRate = m_rate > 0.0;
    if (m_pendingSeek >= 0) {
        const qint64 at = std::exchange(m_pendingSeek, -1);
        seek(std::min(at, m_durationMs), m_rate != 0.0 ? m_rate : m_seekRate);
    }
    if (m_rate == 0.0) {
        m_clock.stop();
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
        refreshPosition();
        return;
    }
    if (m_rate != m_seekRate || m_atEnd) {
        refreshPosition();
        seek(m_positionMs, m_rate);
    }
    gst_element_set_state(m_playbin, GST_STATE_PLAYING);
    m_clock.start();
}
