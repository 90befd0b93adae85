// Movies and the still formats of the movie framework, read through the FFmpeg libraries.

#include "decoding/MovieSource_p.h"
#include "decoding/MovieThreads.h"

#include <QLoggingCategory>
#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

#include <sys/resource.h>

namespace {

// The program's category for what the decoding libraries say (see LibraryMessages.h); the module
// has a category object of its own, ruled by the same name.
Q_LOGGING_CATEGORY(lcFfmpeg, "ovn.decoding", QtWarningMsg)

constexpr const char *outOfTime = "the frame could not be decoded in time";

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

// FFmpeg's warnings and errors go to the log, never to the terminal; its chatter is dropped. Called
// from any of FFmpeg's threads.
void logFfmpeg(void *object, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int printPrefix = 1;
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(object, level, format, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
    if (length > 0)
        qCInfo(lcFfmpeg, "FFmpeg: %s", line);
}

void routeFfmpegMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_WARNING);
        av_log_set_callback(logFfmpeg);
    });
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

// The bytes of one decoded picture as the codec stores it.
qint64 pictureBytes(const AVCodecParameters *par)
{
    const int bytes = av_image_get_buffer_size(AVPixelFormat(par->format), par->width, par->height, 1);
    return bytes > 0 ? bytes : qint64(par->width) * par->height * 4;
}

bool isStillFormat(const AVFormatContext *format)
{
    const char *name = format->iformat->name;
    return std::strstr(name, "_pipe") != nullptr || std::strcmp(name, "image2") == 0;
}

class FfmpegSource final : public Movie::Source
{
public:
    bool open(const QString &path, const FrameLimits &limits, QString *error);

    Movie::Kind kind() const override { return m_still ? Movie::Kind::Still : Movie::Kind::Video; }
    MovieTime duration() const override { return m_duration; }
    QSize naturalSize() const override { return m_naturalSize; }
    int rotationAngle() const override { return m_rotation; }
    bool fitsBudget() const override { return m_fitsBudget; }
    QImage frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error,
                            QString *damage) override;

private:
    // How a search for a frame ended.
    struct Decoded {
        bool have = false;    // a picture is in the frame
        bool stopped = false; // the limits were reached
        QString damage;       // what was wrong with the data on the way
    };
    Decoded decodeFrameAt(int64_t target, AVFrame *out);
    QImage toImage(const AVFrame *frame, QSize size);

    // The limits in force while the source works for a caller; FFmpeg's blocking I/O asks them too.
    class Working
    {
    public:
        Working(FfmpegSource &source, const FrameLimits &limits) : m_source(source) { source.m_limits = &limits; }
        ~Working() { m_source.m_limits = nullptr; }
        Working(const Working &) = delete;
        Working &operator=(const Working &) = delete;

    private:
        FfmpegSource &m_source;
    };
    static int interrupted(void *source);
    bool limitsReached() const { return m_limits && m_limits->reached(); }

    const FrameLimits *m_limits = nullptr;
    FormatPtr m_format;
    CodecPtr m_codec;
    SwsPtr m_sws;
    AVStream *m_stream = nullptr;
    int m_streamIndex = -1;
    bool m_still = false;
    bool m_fitsBudget = true;
    int m_rotation = 0;
    QSize m_pictureSize; // after the pixel aspect, before the rotation
    QSize m_naturalSize;
    MovieTime m_duration;
    FramePtr m_stillFrame;
    QString m_stillDamage;
};

int FfmpegSource::interrupted(void *source) { return static_cast<const FfmpegSource *>(source)->limitsReached(); }

bool FfmpegSource::open(const QString &path, const FrameLimits &limits, QString *error)
{
    routeFfmpegMessages();
    const Working working(*this, limits);
    auto fail = [this, error](const QString &why) {
        if (error)
            *error = limitsReached() ? QStringLiteral("the movie could not be opened in time") : why;
        return false;
    };
    if (limitsReached())
        return fail({});
    AVDictionary *options = nullptr;
    // Local files only: a playlist or reference movie must not make us open network streams or
    // other files, and a name with % in it is not a numbered picture sequence.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "pattern_type", "none", 0);
    const QByteArray url = "file:" + path.toUtf8();
    AVFormatContext *raw = avformat_alloc_context();
    if (raw == nullptr)
        return fail(QStringLiteral("out of memory"));
    // Reading, probing and finding the streams end at the limits.
    raw->interrupt_callback = AVIOInterruptCB{&FfmpegSource::interrupted, this};
    // On failure the context is freed and `raw` set to null.
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
    // As many threads as the machine has (as FFmpeg would take), unless the decoder process says,
    // and no more than the decoding budget holds: each frame thread holds pictures of its own.
    const int asked = qEnvironmentVariableIntValue("OVN_MOVIE_DECODE_THREADS");
    const int wanted = asked > 0 ? asked : std::min(av_cpu_count() + 1, 16);
    const int threads = MovieThreads::fitted(pictureBytes(par), decodingBudget(), wanted);
    m_fitsBudget = MovieThreads::isEnough(threads, wanted);
    m_codec->thread_count = std::max(threads, 1);
    m_codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (const int openedCodec = avcodec_open2(m_codec.get(), decoder, nullptr); openedCodec < 0)
        return fail(ffmpegError(openedCodec));

    int width = par->width;
    const AVRational aspect = av_guess_sample_aspect_ratio(m_format.get(), m_stream, nullptr);
    // Pixels a few per cent from square are a scaler's rounding (201:200 on a picture scaled to
    // an odd size), not a picture meant to be shown wider or narrower: the size is as stored. The
    // anamorphic formats' pixels are 8 per cent or more from square.
    if (aspect.num > 0 && aspect.den > 0 && std::abs(av_q2d(aspect) - 1.0) > 0.02) {
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
        // Its one picture is decoded here, whatever the threads: a still that opens fits.
        m_fitsBudget = true;
        m_stillFrame.reset(av_frame_alloc());
        if (!m_stillFrame)
            return fail(QStringLiteral("out of memory"));
        const Decoded still = decodeFrameAt(0, m_stillFrame.get());
        if (!still.have)
            return fail(QStringLiteral("the picture does not decode"));
        m_stillDamage = still.damage;
    }
    return true;
}

// Decodes from the key frame before `target` (in stream time) and keeps the picture that is
// showing at `target`: the last one that starts at or before it, or the first one after it
// when none does. The limits (the caller's DecodeInterrupt scope and the reader's own deadline)
// are asked before every packet, and by FFmpeg's I/O while it waits.
FfmpegSource::Decoded FfmpegSource::decodeFrameAt(int64_t target, AVFrame *out)
{
    Decoded result;
    avcodec_flush_buffers(m_codec.get());
    if (!m_still && av_seek_frame(m_format.get(), m_streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(m_format.get(), m_streamIndex, INT64_MIN, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return result;
    bool corruptPacket = false;
    // Answers true when the search is over.
    auto takeFrames = [&]() {
        while (avcodec_receive_frame(m_codec.get(), frame.get()) >= 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (result.have && pts != AV_NOPTS_VALUE && pts > target) {
                av_frame_unref(frame.get());
                return true;
            }
            av_frame_unref(out);
            av_frame_move_ref(out, frame.get());
            result.have = true;
            if (m_still || pts == AV_NOPTS_VALUE || pts >= target)
                return true;
        }
        return false;
    };
    bool done = false;
    int read = 0;
    while (!done) {
        if (limitsReached()) {
            result.stopped = true;
            break;
        }
        read = av_read_frame(m_format.get(), packet.get());
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
            if (sent == AVERROR_INVALIDDATA)
                corruptPacket = true;
            if (!done && sent >= 0)
                done = takeFrames();
        }
        av_packet_unref(packet.get());
    }
    if (result.stopped)
        return Decoded{false, true, {}};
    if (!done && avcodec_send_packet(m_codec.get(), nullptr) >= 0)
        takeFrames();
    result.have = result.have && out->width > 0 && out->height > 0;
    if (result.have && (out->decode_error_flags != 0 || (out->flags & AV_FRAME_FLAG_CORRUPT)))
        result.damage = QStringLiteral("the frame's data is corrupt");
    else if (!result.have && read < 0 && read != AVERROR_EOF)
        result.damage = QStringLiteral("the data cannot be read: %1").arg(ffmpegError(read));
    else if (!result.have && read == AVERROR_EOF && !m_still)
        result.damage = QStringLiteral("the data ends early");
    else if (!result.have && corruptPacket)
        result.damage = QStringLiteral("the data is corrupt");
    return result;
}

QImage FfmpegSource::frameImageAtTime(MovieTime time, QSize size, const FrameLimits &limits, QString *error,
                                      QString *damage)
{
    if (m_still) {
        *damage = m_stillDamage;
        return toImage(m_stillFrame.get(), size);
    }
    const Working working(*this, limits);
    int64_t target =
        av_rescale_q(std::max<qint64>(time.timeValue, 0), AVRational{1, time.timeScale}, m_stream->time_base);
    if (m_stream->start_time != AV_NOPTS_VALUE)
        target += m_stream->start_time;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return {};
    const Decoded decoded = decodeFrameAt(target, frame.get());
    *damage = decoded.damage;
    if (decoded.stopped) {
        *error = QString::fromLatin1(outOfTime);
        return {};
    }
    if (!decoded.have) {
        *error = decoded.damage.isEmpty() ? QStringLiteral("the frame cannot be decoded") : decoded.damage;
        return {};
    }
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

qint64 decodingBudget()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<qint64>::max();
    constexpr qint64 processBytes = qint64(32) << 20;
    return std::max<qint64>(0, qint64(limit.rlim_cur) - processBytes);
}

std::unique_ptr<Movie::Source> openFfmpegMovieSource(const QString &path, const FrameLimits &limits, QString *error)
{
    auto source = std::make_unique<FfmpegSource>();
    if (!source->open(path, limits, error))
        return nullptr;
    return source;
}
