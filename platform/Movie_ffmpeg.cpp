// Movies and the still formats of the movie framework, read through the FFmpeg libraries.

#include "platform/MovieSource_p.h"

#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>
#include <mutex>

namespace {

// Larger pictures than this are refused rather than allocated (a damaged header can claim any size).
constexpr qint64 maxPicturePixels = qint64(16384) * 16384;

struct FormatClose {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext *c) const { sws_freeContext(c); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatClose>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

QString ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

void silenceFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The track's rotation in degrees clockwise, a multiple of 90.
int trackRotation(const AVStream *stream)
{
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(int32_t))
        return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (std::isnan(angle))
        return 0;
    // The display matrix turns counter-clockwise; we turn clockwise.
    int degrees = int(std::lround(-angle / 90.0)) * 90;
    degrees %= 360;
    return degrees < 0 ? degrees + 360 : degrees;
}

bool isStillFormat(const AVFormatContext *format)
{
    const char *name = format->iformat->name;
    return std::strstr(name, "_pipe") != nullptr || std::strcmp(name, "image2") == 0;
}

class FfmpegSource final : public Movie::Source
{
public:
    bool open(const QString &path, QString *error);

    Movie::Kind kind() const override { return m_still ? Movie::Kind::Still : Movie::Kind::Video; }
    MovieTime duration() const override { return m_duration; }
    QSize naturalSize() const override { return m_naturalSize; }
    int rotationAngle() const override { return m_rotation; }
    QImage frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error) override;

private:
    bool decodeFrameAt(int64_t target, AVFrame *out);
    QImage toImage(const AVFrame *frame, QSize size);

    FormatPtr m_format;
    CodecPtr m_codec;
    SwsPtr m_sws;
    AVStream *m_stream = nullptr;
    int m_streamIndex = -1;
    bool m_still = false;
    int m_rotation = 0;
    QSize m_pictureSize; // after the pixel aspect, before the rotation
    QSize m_naturalSize;
    MovieTime m_duration;
    FramePtr m_stillFrame;
};

bool FfmpegSource::open(const QString &path, QString *error)
{
    silenceFfmpeg();
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    AVDictionary *options = nullptr;
    // Local files only: a playlist or reference movie must not make us open network streams or
    // other files, and a name with % in it is not a numbered picture sequence.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "pattern_type", "none", 0);
    const QByteArray url = "file:" + path.toUtf8();
    AVFormatContext *raw = nullptr;
    const int opened = avformat_open_input(&raw, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return fail(ffmpegError(opened));
    m_format.reset(raw);
    if (const int found = avformat_find_stream_info(m_format.get(), nullptr); found < 0)
        return fail(ffmpegError(found));

    const AVCodec *decoder = nullptr;
    m_streamIndex = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (m_streamIndex < 0 || decoder == nullptr)
        return fail(QStringLiteral("no picture track"));
    m_stream = m_format->streams[m_streamIndex];
    const AVCodecParameters *par = m_stream->codecpar;
    if (par->width <= 0 || par->height <= 0 || qint64(par->width) * par->height > maxPicturePixels)
        return fail(QStringLiteral("implausible picture size"));

    m_codec.reset(avcodec_alloc_context3(decoder));
    if (!m_codec || avcodec_parameters_to_context(m_codec.get(), par) < 0)
        return fail(QStringLiteral("no decoder"));
    m_codec->thread_count = 0;
    m_codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (const int openedCodec = avcodec_open2(m_codec.get(), decoder, nullptr); openedCodec < 0)
        return fail(ffmpegError(openedCodec));

    int width = par->width;
    const AVRational aspect = av_guess_sample_aspect_ratio(m_format.get(), m_stream, nullptr);
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
        const qint64 shown = av_rescale(width, aspect.num, aspect.den);
        if (shown > 0 && shown <= 16384)
            width = int(shown);
    }
    m_pictureSize = QSize(width, par->height);
    m_rotation = trackRotation(m_stream);
    m_naturalSize = (m_rotation == 90 || m_rotation == 270) ? m_pictureSize.transposed() : m_pictureSize;

    m_still = isStillFormat(m_format.get()) || (m_stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
    double seconds = 0.0;
    if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        seconds = double(m_format->duration) / AV_TIME_BASE;
    else if (m_stream->duration != AV_NOPTS_VALUE && m_stream->duration > 0)
        seconds = m_stream->duration * av_q2d(m_stream->time_base);
    if (m_still || !(seconds > 0.0) || !std::isfinite(seconds)) {
        // One picture, shown for a second.
        m_duration = MovieTime{Movie::movieTimeScale, Movie::movieTimeScale};
    } else {
        m_duration =
            MovieTime{qint64(std::llround(std::min(seconds, 1.0e9) * Movie::movieTimeScale)), Movie::movieTimeScale};
    }
    if (m_still) {
        m_stillFrame.reset(av_frame_alloc());
        if (!m_stillFrame || !decodeFrameAt(0, m_stillFrame.get()))
            return fail(QStringLiteral("the picture does not decode"));
    }
    return true;
}

// Decodes from the key frame before `target` (in stream time) and keeps the picture that is
// showing at `target`: the last one that starts at or before it, or the first one after it
// when none does.
bool FfmpegSource::decodeFrameAt(int64_t target, AVFrame *out)
{
    avcodec_flush_buffers(m_codec.get());
    if (!m_still && av_seek_frame(m_format.get(), m_streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(m_format.get(), m_streamIndex, INT64_MIN, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return false;
    bool have = false;
    // Answers true when the search is over.
    auto takeFrames = [&]() {
        while (avcodec_receive_frame(m_codec.get(), frame.get()) >= 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (have && pts != AV_NOPTS_VALUE && pts > target) {
                av_frame_unref(frame.get());
                return true;
            }
            av_frame_unref(out);
            av_frame_move_ref(out, frame.get());
            have = true;
            if (m_still || pts == AV_NOPTS_VALUE || pts >= target)
                return true;
        }
        return false;
    };
    bool done = false;
    while (!done) {
        const int read = av_read_frame(m_format.get(), packet.get());
        if (read < 0)
            break;
        if (packet->stream_index == m_streamIndex) {
            int sent = avcodec_send_packet(m_codec.get(), packet.get());
            // A decoder with pictures waiting takes no more input until they are taken.
            for (int tries = 0; sent == AVERROR(EAGAIN) && !done && tries < 1000; ++tries) {
                done = takeFrames();
                if (!done)
                    sent = avcodec_send_packet(m_codec.get(), packet.get());
            }
            if (!done && sent >= 0)
                done = takeFrames();
        }
        av_packet_unref(packet.get());
    }
    if (!done && avcodec_send_packet(m_codec.get(), nullptr) >= 0)
        takeFrames();
    return have && out->width > 0 && out->height > 0;
}

QImage FfmpegSource::frameImageAtTime(MovieTime time, QSize size, const FrameLimits &, QString *)
{
    if (m_still)
        return toImage(m_stillFrame.get(), size);
    int64_t target =
        av_rescale_q(std::max<qint64>(time.timeValue, 0), AVRational{1, time.timeScale}, m_stream->time_base);
    if (m_stream->start_time != AV_NOPTS_VALUE)
        target += m_stream->start_time;
    FramePtr frame(av_frame_alloc());
    if (!frame || !decodeFrameAt(target, frame.get()))
        return {};
    return toImage(frame.get(), size);
}

QImage FfmpegSource::toImage(const AVFrame *frame, QSize size)
{
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0
        || qint64(frame->width) * frame->height > maxPicturePixels)
        return {};
    if (size.isEmpty())
        size = m_naturalSize;
    // `size` is the shown size; scale to the unturned one and turn afterwards.
    QSize scaled = (m_rotation == 90 || m_rotation == 270) ? size.transposed() : size;
    if (scaled.isEmpty() || qint64(scaled.width()) * scaled.height() > maxPicturePixels)
        return {};
    const auto format = AVPixelFormat(frame->format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (descriptor == nullptr)
        return {};
    const bool alpha = descriptor->flags & AV_PIX_FMT_FLAG_ALPHA;
    const int flags = (scaled.width() < frame->width ? SWS_AREA : SWS_BICUBIC) | SWS_ACCURATE_RND;
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame->width, frame->height, format, scaled.width(),
                                     scaled.height(), AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr));
    if (!m_sws)
        return {};
    // BGRA in memory is Qt's 0xAARRGGBB on a little-endian machine.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the pixel layout below assumes little-endian");
    QImage image(scaled, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(m_sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    if (m_rotation != 0)
        image = image.transformed(QTransform().rotate(m_rotation));
    return image;
}

} // namespace

std::unique_ptr<Movie::Source> openFfmpegMovieSource(const QString &path, QString *error)
{
    auto source = std::make_unique<FfmpegSource>();
    if (!source->open(path, error))
        return nullptr;
    return source;
}
