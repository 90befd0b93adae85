#include "decoding/RawDecoder.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/LibraryMessages.h"
#include "platform/HeapTuning.h"

#include <QFile>
#include <QFileInfo>

#include <libraw/libraw.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

namespace {

struct ProcessedImageFree {
    void operator()(libraw_processed_image_t *image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedImage = std::unique_ptr<libraw_processed_image_t, ProcessedImageFree>;

// LibRaw's default callbacks print to the error stream; ours go to the log. A data error is damage
// in the file being decoded.
void memoryError(void *, const char *, const char *where)
{
    qCInfo(lcDecoding, "LibRaw: out of memory in %s", where ? where : "");
}

void dataError(void *, const char *, const int offset)
{
    if (offset < 0) {
        qCInfo(lcDecoding, "LibRaw: unexpected end of file");
        DecodeReport::damaged(QStringLiteral("the raw data ends early"));
    } else {
        qCInfo(lcDecoding, "LibRaw: data corrupted at %d", offset);
        DecodeReport::damaged(QStringLiteral("the raw data is corrupt"));
    }
}

// Between its processing steps LibRaw asks whether to go on; it stops at the thread's deadline
// or Cancel.
int progress(void *, enum LibRaw_progress, int, int) { return DecodeInterrupt::shouldStop() ? 1 : 0; }

// LibRaw, with its own freeing at hand: what it allocated goes back through it.
class DevelopingLibRaw : public LibRaw
{
public:
    using LibRaw::LibRaw;
    // Gives back the sensor's samples of a developed picture (see RawDecoder::decode).
    void freeSamples()
    {
        libraw_rawdata_t &samples = imgdata.rawdata;
        void *held = samples.raw_alloc;
        if (!held)
            return;
        samples.raw_alloc = nullptr;
        samples.raw_image = nullptr;
        samples.color4_image = nullptr;
        samples.color3_image = nullptr;
        samples.float_image = nullptr;
        samples.float3_image = nullptr;
        samples.float4_image = nullptr;
        free(held);
    }
};

std::unique_ptr<LibRaw> makeLibRaw()
{
    std::unique_ptr<LibRaw> raw =
        std::make_unique<DevelopingLibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
    raw->set_memerror_handler(memoryError, nullptr);
    raw->set_dataerror_handler(dataError, nullptr);
    raw->set_progress_handler(progress, nullptr);
    return raw;
}

// Ends LibRaw's work at the deadline or Cancel of the thread that decodes. LibRaw asks the program
// only between its steps (the progress handler above), but asks its own cancel flag row by row in
// its loaders and in its processing: a thread of its own sets that flag the moment the limit is
// reached, and LibRaw ends with LIBRAW_CANCELLED_BY_CALLBACK.
class StopWatch
{
public:
    explicit StopWatch(LibRaw &raw)
        : m_raw(raw),
          m_deadline(DecodeInterrupt::deadline()),
          m_cancel(DecodeInterrupt::cancelFlag())
    {
        m_raw.clearCancelFlag();
        if (m_deadline || m_cancel)
            m_thread = std::thread([this] { watch(); });
    }
    ~StopWatch()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        // A flag set after LibRaw's last look would stop the next decode at once.
        m_raw.clearCancelFlag();
    }
    StopWatch(const StopWatch &) = delete;
    StopWatch &operator=(const StopWatch &) = delete;

private:
    void watch()
    {
        using Clock = DecodeInterrupt::Clock;
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            const Clock::time_point now = Clock::now();
            if ((m_cancel && m_cancel->load(std::memory_order_relaxed)) || (m_deadline && now >= *m_deadline)) {
                m_raw.setCancelFlag();
                return;
            }
            // Cancel is looked at ten times a second.
            Clock::time_point next = now + std::chrono::milliseconds(100);
            if (m_deadline && *m_deadline < next)
                next = *m_deadline;
            m_wake.wait_until(lock, next);
        }
    }

    LibRaw &m_raw;
    const std::optional<DecodeInterrupt::Clock::time_point> m_deadline;
    const std::atomic<bool> *const m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

QByteArray cameraString(const char *text, size_t capacity)
{
    return QByteArray(text, qsizetype(strnlen(text, capacity)));
}

// Halves the picture `times` times, each output pixel the mean of a 2 × 2 block (a last odd row or
// column is averaged with itself).
RawDecoder::Image halve(RawDecoder::Image image, int times)
{
    for (int pass = 0; pass < times && image.width > 1 && image.height > 1; ++pass) {
        const int w = (image.width + 1) / 2;
        const int h = (image.height + 1) / 2;
        QByteArray out(qsizetype(w) * h * 3, Qt::Uninitialized);
        const auto *src = reinterpret_cast<const uchar *>(image.rgb.constData());
        auto *dst = reinterpret_cast<uchar *>(out.data());
        const qsizetype stride = qsizetype(image.width) * 3;
        for (int y = 0; y < h; ++y) {
            const uchar *row0 = src + qsizetype(2 * y) * stride;
            const uchar *row1 = (2 * y + 1 < image.height) ? row0 + stride : row0;
            for (int x = 0; x < w; ++x) {
                const int x0 = 2 * x * 3;
                const int x1 = (2 * x + 1 < image.width) ? x0 + 3 : x0;
                for (int c = 0; c < 3; ++c)
                    *dst++ = uchar((row0[x0 + c] + row0[x1 + c] + row1[x0 + c] + row1[x1 + c] + 2) / 4);
            }
        }
        image = RawDecoder::Image{w, h, std::move(out)};
    }
    return image;
}

// True when the unpacked sensor data is all zero: a file whose header promises a picture its data
// does not hold (cut off, or never written) decodes to black otherwise. A real exposure always
// has some signal, if only the sensor's black level and noise.
bool hasNoSamples(const LibRaw &raw)
{
    const libraw_rawdata_t &r = raw.imgdata.rawdata;
    const uchar *bytes = nullptr;
    size_t size = 0;
    if (r.raw_alloc) {
        bytes = static_cast<const uchar *>(r.raw_alloc);
        size = size_t(r.sizes.raw_height) * r.sizes.raw_pitch;
    } else if (raw.imgdata.image) {
        bytes = reinterpret_cast<const uchar *>(raw.imgdata.image);
        size = size_t(raw.imgdata.sizes.iheight) * raw.imgdata.sizes.iwidth * sizeof *raw.imgdata.image;
    }
    if (!bytes || size == 0)
        return false;
    // All bytes equal to the first, and the first zero.
    return bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0;
}

// Where the identification found the raw data to start, in bytes from the file's start.
qint64 dataOffset(LibRaw &raw) { return qint64(raw.get_internal_data_pointer()->unpacker_data.data_offset); }

void logFailure(const char *step, int code)
{
    qCInfo(lcDecoding, "LibRaw: %s failed: %s", step, libraw_strerror(code));
}

} // namespace

// The file's bytes as LibRaw reads them. A read that reaches past the end fills the rest of the
// buffer with zeros, where LibRaw would leave it as it was (whatever the heap or the stack held
// before), so that a file cut short decodes the same every time; the read still comes back short,
// for the loaders that look. The bytes asked for past the end are counted.
class RawDecoder::Stream : public LibRaw_buffer_datastream
{
public:
    // LibRaw only reads the buffer it is given.
    explicit Stream(const QByteArray &data)
        : LibRaw_buffer_datastream(const_cast<char *>(data.constData()), size_t(data.size()))
    {}

    qint64 missingBytes() const { return m_missing; }
    void clearMissingBytes() { m_missing = 0; }

    int read(void *ptr, size_t sz, size_t nmemb) override
    {
        const INT64 before = tell();
        const int got = LibRaw_buffer_datastream::read(ptr, sz, nmemb);
        if (sz == 0 || nmemb > std::numeric_limits<size_t>::max() / sz)
            return got;
        const size_t asked = sz * nmemb;
        const size_t copied = size_t(tell() - before);
        if (copied < asked) {
            std::memset(static_cast<char *>(ptr) + copied, 0, asked - copied);
            m_missing += qint64(asked - copied);
        }
        return got;
    }

    // Byte-wise readers stop at the end by themselves; each byte asked for there is still missing.
    int get_char() override
    {
        const int c = LibRaw_buffer_datastream::get_char();
        if (c < 0)
            ++m_missing;
        return c;
    }

private:
    qint64 m_missing = 0;
};

RawDecoder::RawDecoder() = default;
RawDecoder::~RawDecoder() = default;

bool RawDecoder::open(const QByteArray &data)
{
    m_open = false;
    m_spent = false;
    m_info = Info{};
    m_data = data;
    // A decode whose time is over starts nothing more.
    if (m_data.isEmpty() || DecodeInterrupt::shouldStop())
        return false;
    try {
        m_raw.reset();
        m_stream = std::make_unique<Stream>(m_data);
        m_raw = makeLibRaw();
        if (m_raw->open_datastream(m_stream.get()) != LIBRAW_SUCCESS)
            return false;
    } catch (...) {
        m_raw.reset();
        return false;
    }
    if (!readInfo(*m_raw, m_info)) {
        m_raw->recycle();
        return false;
    }
    m_info.dataPastEnd = dataOffset(*m_raw) >= qint64(m_data.size());
    m_open = true;
    return true;
}

bool RawDecoder::readInfo(LibRaw &raw, Info &info)
{
    const libraw_data_t &d = raw.imgdata;
    info.make = cameraString(d.idata.make, sizeof d.idata.make);
    info.model = cameraString(d.idata.model, sizeof d.idata.model);
    info.rawWidth = d.sizes.raw_width;
    info.rawHeight = d.sizes.raw_height;
    info.width = d.sizes.width;
    info.height = d.sizes.height;
    info.flip = d.sizes.flip;
    const qint64 pixels = qint64(info.rawWidth) * info.rawHeight;
    return info.width > 0 && info.height > 0 && pixels > 0 && pixels <= maxSensorPixels;
}

std::optional<RawDecoder::Info> RawDecoder::identifyFile(const QString &path)
{
    if (DecodeInterrupt::shouldStop())
        return std::nullopt;
    try {
        const std::unique_ptr<LibRaw> raw = makeLibRaw();
        Info info;
        if (raw->open_file(QFile::encodeName(path).constData()) != LIBRAW_SUCCESS || !readInfo(*raw, info))
            return std::nullopt;
        info.dataPastEnd = dataOffset(*raw) >= QFileInfo(path).size();
        return info;
    } catch (...) {
        return std::nullopt;
    }
}

qint64 RawDecoder::decodeBytes(const Info &info, const Options &options)
{
    // The sensor's samples (16 bits each), the four-channel 16-bit work picture (a quarter of the
    // pixels for a reduced decode) and the 8-bit result.
    const qint64 sensor = qint64(info.rawWidth) * info.rawHeight;
    const qint64 picture = qint64(info.width) * info.height / (options.shrink > 0 ? 4 : 1);
    return sensor * 2 + picture * 8 + picture * 3;
}

int RawDecoder::exifOrientation(int flip)
{
    // The decoder's codes are the EXIF values read through "50132467"; this is the way back.
    static constexpr int exif[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return exif[std::max(flip, 0) & 7];
}

// Runs one of LibRaw's unpacking steps with the memory it takes zeroed: LibRaw's loaders leave rows
// unwritten where the data breaks off, and a reused decoder would show there what an earlier file
// left in the heap.
RawDecoder::Unpacked RawDecoder::unpack(int (LibRaw::*step)())
{
    Unpacked result;
    result.held = m_data.size() - std::clamp<qint64>(dataOffset(*m_raw), 0, m_data.size());
    m_stream->clearMissingBytes();
    try {
        const HeapTuning::ZeroedBlocks zeroed;
        result.code = (m_raw.get()->*step)();
    } catch (...) {
        result.code = LIBRAW_UNSPECIFIED_ERROR;
    }
    result.missing = m_stream->missingBytes();
    return result;
}

// A decode or a preview read leaves LibRaw's state spent: start from the identification again.
bool RawDecoder::reidentify()
{
    if (!m_spent)
        return true;
    m_raw->recycle();
    m_stream->seek(0, SEEK_SET);
    return m_raw->open_datastream(m_stream.get()) == LIBRAW_SUCCESS;
}

std::optional<RawDecoder::Image> RawDecoder::decode(const Options &options)
{
    if (!m_open || DecodeInterrupt::shouldStop())
        return std::nullopt;
    Image image;
    try {
        if (!reidentify())
            return std::nullopt;
        m_spent = true;
        const StopWatch watch(*m_raw);
        libraw_output_params_t &p = m_raw->imgdata.params;
        p.user_flip = 0; // keep the sensor's orientation; callers turn by `flip`
        p.use_camera_wb = 1;
        p.use_auto_wb = 0;
        p.use_camera_matrix = 1;
        p.four_color_rgb = 1;
        p.half_size = options.shrink > 0 ? 1 : 0;
        p.user_qual = options.interpolation == Interpolation::Full ? 1 : 0; // VNG, or bilinear
        p.output_bps = 8;
        p.bright = 1.0f;
        // Raw data that would start past the end of the file (a file cut short, or a header naming
        // data that was never written) is damage, whatever the sensor's size: LibRaw would first
        // hold a buffer for the whole sensor and then read nothing into it.
        if (m_info.dataPastEnd) {
            qCInfo(lcDecoding, "LibRaw: the raw data lies past the end of the file");
            DecodeReport::damaged(QStringLiteral("the raw data ends early"));
            m_raw->recycle();
            return std::nullopt;
        }
        const Unpacked unpacked = unpack(&LibRaw::unpack);
        if (unpacked.code != LIBRAW_SUCCESS) {
            logFailure("unpack", unpacked.code);
            m_raw->recycle();
            return std::nullopt;
        }
        // What a file cut short lacks is black (LibRaw reports the damage); a file that lacks more
        // of its data than it holds gives no picture.
        if (unpacked.missing > unpacked.held) {
            DecodeReport::damaged(QStringLiteral("the raw data ends early"));
            m_raw->recycle();
            return std::nullopt;
        }
        // A file whose sensor data is mostly missing or unreadable gives no picture; a few bad
        // reads (a file cut short near its end) still give the rest, noted as damage.
        if (qint64(m_raw->error_count()) > qint64(m_info.rawWidth) * m_info.rawHeight / 100 || hasNoSamples(*m_raw)) {
            m_raw->recycle();
            return std::nullopt;
        }
        if (m_raw->error_count() > 0)
            DecodeReport::damaged(QStringLiteral("the raw data is corrupt"));
        // This LibRaw's VNG interpolation keeps its position in a table in a static variable, so two
        // threads in it at once read past the table; decodes of one process take turns through it.
        static std::mutex vngTurn;
        std::unique_lock vng(vngTurn, std::defer_lock);
        if (p.user_qual == 1)
            vng.lock();
        const int processing = m_raw->dcraw_process();
        if (vng.owns_lock())
            vng.unlock();
        if (processing != LIBRAW_SUCCESS) {
            logFailure("processing", processing);
            m_raw->recycle();
            return std::nullopt;
        }
        // The sensor's samples are done with once the picture is developed: given back before the
        // picture is copied out (a 100-megapixel sensor holds 200 MB of them).
        static_cast<DevelopingLibRaw *>(m_raw.get())->freeSamples();
        int error = 0;
        ProcessedImage processed(m_raw->dcraw_make_mem_image(&error));
        // The work buffers are no longer needed; free them before the copy below.
        m_raw->free_image();
        if (!processed || error != LIBRAW_SUCCESS || processed->type != LIBRAW_IMAGE_BITMAP || processed->bits != 8
            || (processed->colors != 3 && processed->colors != 1) || processed->width == 0 || processed->height == 0)
            return std::nullopt;
        const qsizetype w = processed->width, h = processed->height, colors = processed->colors;
        if (qint64(processed->data_size) < qint64(w) * h * colors)
            return std::nullopt;
        image.width = int(w);
        image.height = int(h);
        if (colors == 3) {
            image.rgb = QByteArray(reinterpret_cast<const char *>(processed->data), w * h * 3);
        } else {
            image.rgb = QByteArray(w * h * 3, Qt::Uninitialized);
            char *dst = image.rgb.data();
            for (qsizetype i = 0; i < w * h; ++i, dst += 3)
                dst[0] = dst[1] = dst[2] = char(processed->data[i]);
        }
    } catch (...) {
        return std::nullopt;
    }
    m_raw->recycle();
    if (options.shrink > 1)
        image = halve(std::move(image), options.shrink - 1);
    return image;
}

QByteArray RawDecoder::embeddedJpeg()
{
    // A decode stopped at its limit gives nothing, not even the preview.
    if (!m_open || DecodeInterrupt::shouldStop())
        return {};
    try {
        if (!reidentify())
            return {};
        m_spent = true;
        if (unpack(&LibRaw::unpack_thumb).code != LIBRAW_SUCCESS)
            return {};
        const libraw_thumbnail_t &t = m_raw->imgdata.thumbnail;
        if (t.tformat != LIBRAW_THUMBNAIL_JPEG || t.thumb == nullptr || t.tlength < 4
            || qint64(t.tlength) > m_data.size())
            return {};
        const auto *bytes = reinterpret_cast<const uchar *>(t.thumb);
        if (bytes[0] != 0xFF || bytes[1] != 0xD8)
            return {};
        QByteArray jpeg(t.thumb, qsizetype(t.tlength));
        m_raw->recycle();
        return jpeg;
    } catch (...) {
        return {};
    }
}
