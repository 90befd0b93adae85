#include "decoding/JpegDecoder.h"

#include "decoding/ColourTransform.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/JpegCoarseScan.h"
#include "decoding/LibraryMessages.h"
#include "decoding/MappedFile.h"
#include "platform/HeapTuning.h"

#include <QColorSpace>
#include <QFileDevice>
#include <QIODevice>
#include <QSysInfo>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

constexpr int maxScans = JpegDecoder::maxScans;

// What the warnings of a decode said of the data it read past.
enum class Damage { None, Corrupt, EndsEarly };

struct ErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    Damage damage = Damage::None;
    bool stopped = false; // ended on purpose (too many scans, the deadline, Cancel), not by the data
};

// Every error of the library ends the decode here; the library's own handler would exit().
[[noreturn]] void leave(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1); }

// Warnings (a file cut short, a corrupt stretch) go to the log and are remembered as damage; the
// library reads on past them (a file cut short reads as grey from where its data ends). Traces
// are dropped; nothing is printed.
void noteMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto *error = reinterpret_cast<ErrorManager *>(info->err);
    char text[JMSG_LENGTH_MAX];
    error->manager.format_message(info, text);
    qCInfo(lcDecoding, "libjpeg warning: %s", text);
    switch (error->manager.msg_code) {
    case JWRN_JPEG_EOF:
        error->damage = Damage::EndsEarly;
        break;
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        if (error->damage == Damage::None)
            error->damage = Damage::Corrupt;
        break;
    default:
        break; // not about the data: an unknown colour transform, a JFIF revision
    }
}
void ignoreOutput(j_common_ptr) {}

// Also where a decode past its deadline, or cancelled, ends.
void limitScans(j_common_ptr common)
{
    const auto *info = reinterpret_cast<j_decompress_ptr>(common);
    if ((info->is_decompressor && info->input_scan_number > maxScans) || DecodeInterrupt::shouldStop()) {
        reinterpret_cast<ErrorManager *>(common->err)->stopped = true;
        leave(common);
    }
}

// The most a decode may hold: the process's decoding budget, and never more than maxDecodeBytes.
qint64 decodeLimit() { return std::min(JpegDecoder::maxDecodeBytes, DecodeMemoryBudget::shared().capacity()); }

// The file's colour profile (from its APP2 markers, which must have been saved); empty for none.
QByteArray embeddedProfile(j_decompress_ptr info)
{
    JOCTET *profile = nullptr;
    unsigned profileBytes = 0;
    if (!jpeg_read_icc_profile(info, &profile, &profileBytes) || !profile)
        return {};
    QByteArray icc(reinterpret_cast<const char *>(profile), qsizetype(profileBytes));
    std::free(profile);
    return icc;
}

// The colour as stored, told to the thread's report; the profile as stored.
QByteArray noteColour(j_decompress_ptr info)
{
    const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    QByteArray icc = embeddedProfile(info);
    DecodeReport::colour(cmyk                        ? QStringLiteral("CMYK")
                         : info->num_components == 1 ? QStringLiteral("grey")
                                                     : QStringLiteral("RGB"),
                         icc);
    return icc;
}

// Adobe's CMYK JPEGs store the inks inverted; others plainly.
ColourTransform inkTransform(j_decompress_ptr info, const QByteArray &icc)
{
    return ColourTransform::toSRgb(
        info->saw_Adobe_marker ? ColourTransform::Samples::InvertedCmyk8 : ColourTransform::Samples::Cmyk8, icc, 4);
}

// Inks into RGB32 through their profile (`transform`), or where there is none, as the ink taken
// off white, each channel darkened by the black.
void cmykToRgb32(const uchar *cmyk, uchar *out, int width, bool inverted, const ColourTransform &transform)
{
    if (transform.isValid()) {
        transform.convert(cmyk, reinterpret_cast<QRgb *>(out), width);
        return;
    }
    auto *pixel = reinterpret_cast<quint32 *>(out);
    for (int x = 0; x < width; ++x, cmyk += 4) {
        const int c = inverted ? cmyk[0] : 255 - cmyk[0];
        const int m = inverted ? cmyk[1] : 255 - cmyk[1];
        const int y = inverted ? cmyk[2] : 255 - cmyk[2];
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        pixel[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

// The decode's state lives on the heap, made before setjmp: after a longjmp nothing in it is
// left in a register or skipped by a destructor.
// A source that reads a device a piece at a time, so that a file is never held whole: at its end
// (or at the most it may read) the decoder is told the data ends, as libjpeg's own sources do.
struct DeviceSource {
    jpeg_source_mgr manager{};
    QIODevice *device = nullptr;
    qint64 left = 0;
    std::vector<JOCTET> buffer;
};

boolean fillFromDevice(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<DeviceSource *>(info->src);
    qint64 count = 0;
    if (source->left > 0)
        count = source->device->read(reinterpret_cast<char *>(source->buffer.data()),
                                     std::min<qint64>(qint64(source->buffer.size()), source->left));
    if (count <= 0) {
        WARNMS(info, JWRN_JPEG_EOF);
        source->buffer[0] = JOCTET(0xFF);
        source->buffer[1] = JOCTET(JPEG_EOI);
        count = 2;
    } else {
        source->left -= count;
    }
    source->manager.next_input_byte = source->buffer.data();
    source->manager.bytes_in_buffer = size_t(count);
    return TRUE;
}

void skipInDevice(j_decompress_ptr info, long count)
{
    auto *source = reinterpret_cast<DeviceSource *>(info->src);
    while (count > long(source->manager.bytes_in_buffer)) {
        count -= long(source->manager.bytes_in_buffer);
        fillFromDevice(info);
    }
    if (count > 0) {
        source->manager.next_input_byte += count;
        source->manager.bytes_in_buffer -= size_t(count);
    }
}

void noSourceStep(j_decompress_ptr) {}

struct State {
    jpeg_decompress_struct info{};
    ErrorManager error{};
    jpeg_progress_mgr progress{};
    DeviceSource source;
    // The file read where it lies, where the process may (see begin): after the library is
    // destroyed, which the destructor's body does.
    MappedFile mapped;
    bool created = false;
    JpegDecoder::Result result;
    QColorSpace space;         // the picture's colour profile, where it goes with RGB rows
    QByteArray icc;            // the file's colour profile, as stored
    ColourTransform inks;      // a CMYK picture's, into sRGB
    std::vector<uchar> inkRow; // a CMYK row as read, before it is turned into RGB

    ~State()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

void create(State &state)
{
    state.info.err = jpeg_std_error(&state.error.manager);
    state.error.manager.error_exit = leave;
    state.error.manager.emit_message = noteMessage;
    state.error.manager.output_message = ignoreOutput;
    jpeg_create_decompress(&state.info);
    state.created = true;
    state.progress.progress_monitor = limitScans;
    state.info.progress = &state.progress;
    state.info.mem->max_memory_to_use = long(decodeLimit());
}

void begin(State &state, const void *data, std::size_t size)
{
    create(state);
    jpeg_mem_src(&state.info, static_cast<const unsigned char *>(data), static_cast<unsigned long>(size));
}

// Files smaller than this are read a piece at a time all the same: copying them costs less than
// mapping them.
constexpr qint64 mappedFileBytes = qint64(128) << 10;

void begin(State &state, QIODevice &device, qint64 maxBytes)
{
    create(state);
    // In a decoding process a file of some size is read where it lies, its pages mapped rather
    // than copied a piece at a time into fresh ones (see MappedFile).
    if (auto *file = qobject_cast<QFileDevice *>(&device); file && MappedFile::allowed()) {
        const qint64 at = file->pos();
        const qint64 end = std::min(file->size(), at + std::max<qint64>(maxBytes, 0));
        if (end - at >= mappedFileBytes && state.mapped.map(file->handle(), std::size_t(end))) {
            jpeg_mem_src(&state.info, state.mapped.data() + at, static_cast<unsigned long>(end - at));
            return;
        }
    }
    DeviceSource &source = state.source;
    source.device = &device;
    source.left = maxBytes;
    source.buffer.resize(64 * 1024);
    source.manager.init_source = noSourceStep;
    source.manager.fill_input_buffer = fillFromDevice;
    source.manager.skip_input_data = skipInDevice;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = noSourceStep;
    state.info.src = &source.manager;
}

QSize fitted(QSize size, QSize box)
{
    if (size.isEmpty() || box.isEmpty() || (size.width() <= box.width() && size.height() <= box.height()))
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

qint64 scaledSide(qint64 side, int eighths) { return (side * eighths + 7) / 8; }

// libjpeg's rows beside a picture `width` pixels wide as it decodes a band of them (its sample rows
// of every component, before and after upsampling), and the band of RGB32 rows handed on.
qint64 bandBytes(qint64 width, int components)
{
    return DecodeMemoryBudget::product({width, 16, 4 + 2 * std::max(components, 1)});
}

// What libjpeg keeps of a file of several scans (progressive, or its components in scans of their
// own): every coefficient block of every component, as the file subsamples it, whatever the scale
// it is decoded at. A file of one scan keeps a block row at a time: nothing counted here.
qint64 coefficientBytes(jpeg_decompress_struct &info)
{
    if (!jpeg_has_multiple_scans(&info))
        return 0;
    const auto roundedUp = [](qint64 value, qint64 step) {
        return (value + step - 1) / std::max<qint64>(step, 1) * step;
    };
    qint64 bytes = 0;
    for (int i = 0; i < info.num_components; ++i) {
        const jpeg_component_info &component = info.comp_info[i];
        bytes = DecodeMemoryBudget::sum(
            {bytes, DecodeMemoryBudget::product({roundedUp(component.width_in_blocks, component.h_samp_factor),
                                                 roundedUp(component.height_in_blocks, component.v_samp_factor),
                                                 qint64(sizeof(JBLOCK))})});
    }
    return bytes;
}

// What a decode of the whole picture at the scale for `box` holds, from the header read into
// `info`: the decoded picture, and libjpeg's coefficients or band.
qint64 wholeDecodeBytes(jpeg_decompress_struct &info, QSize box)
{
    const QSize full(int(info.image_width), int(info.image_height));
    if (full.isEmpty())
        return 0;
    const int eighths = JpegDecoder::scaleEighths(full, box);
    const qint64 width = scaledSide(full.width(), eighths);
    const qint64 picture = DecodeMemoryBudget::product({width, scaledSide(full.height(), eighths), 4});
    return DecodeMemoryBudget::sum({picture, bandBytes(width, info.num_components), coefficientBytes(info)});
}

// A decoded picture, with what the decoder read past said beside it and to the thread's report.
void noteDamage(State &state)
{
    state.result.status = JpegDecoder::Status::Decoded;
    switch (state.error.damage) {
    case Damage::None:
        break;
    case Damage::EndsEarly:
        state.result.damage = QStringLiteral("the data ends early");
        break;
    case Damage::Corrupt:
        state.result.damage = QStringLiteral("the data is corrupt");
        break;
    }
    DecodeReport::damaged(state.result.damage);
}

// After an error of the library: keeps the rows decoded before it, the rest grey, as damage.
// False when there are none, or the decode was ended on purpose.
bool keepRowsDecoded(State &state)
{
    QImage &image = state.result.image;
    const int rows = state.created ? int(state.info.output_scanline) : 0;
    if (state.error.stopped || DecodeInterrupt::shouldStop() || image.isNull() || rows <= 0)
        return false;
    for (int y = std::min(rows, image.height()); y < image.height(); ++y) {
        if (image.format() == QImage::Format_RGB32) {
            auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
            std::fill(row, row + image.width(), 0xff808080u);
        } else {
            std::memset(image.scanLine(y), 0x80, size_t(image.width()));
        }
    }
    if (state.error.damage == Damage::None)
        state.error.damage = Damage::Corrupt;
    noteDamage(state);
    return true;
}

} // namespace

bool JpegDecoder::looksLikeJpeg(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

int JpegDecoder::scaleEighths(QSize full, QSize box)
{
    if (full.isEmpty() || !box.isValid() || box.isEmpty())
        return 8;
    const QSize target = fitted(full, box);
    int eighths = 1;
    while (
        eighths < 8
        && (scaledSide(full.width(), eighths) < target.width() || scaledSide(full.height(), eighths) < target.height()))
        ++eighths;
    return eighths;
}

qint64 JpegDecoder::decodeBytes(QSize full, QSize box, int components, bool multipleScans)
{
    if (full.isEmpty())
        return 0;
    const int eighths = scaleEighths(full, box);
    const qint64 width = scaledSide(full.width(), eighths);
    // The decoded picture, and a file of several scans' coefficients (two bytes a sample, every
    // component at full resolution, as no file holds more) or one scan's band of rows at the
    // decoded width: a file of one scan is decoded a band at a time at any scale.
    const qint64 picture = DecodeMemoryBudget::product({width, scaledSide(full.height(), eighths), 4});
    const qint64 held = multipleScans
                            ? DecodeMemoryBudget::product({full.width(), full.height(), 2, std::max(components, 1)})
                            : bandBytes(width, components);
    return DecodeMemoryBudget::sum({picture, held});
}

qint64 JpegDecoder::decodeBytes(const void *data, std::size_t size, QSize box)
{
    if (!looksLikeJpeg(data, size))
        return 0;
    const auto state = std::make_unique<State>();
    if (setjmp(state->error.jump))
        return 0;
    begin(*state, data, size);
    jpeg_read_header(&state->info, TRUE);
    return wholeDecodeBytes(state->info, box);
}

qint64 JpegDecoder::decodeBytes(QIODevice &device, QSize box)
{
    const qint64 start = device.pos();
    char head[3];
    if (device.peek(head, sizeof head) != sizeof head || !looksLikeJpeg(head, sizeof head))
        return 0;
    qint64 bytes = 0;
    {
        const auto state = std::make_unique<State>();
        if (setjmp(state->error.jump) == 0) {
            begin(*state, device, std::numeric_limits<qint64>::max());
            jpeg_read_header(&state->info, TRUE);
            bytes = wholeDecodeBytes(state->info, box);
        }
    }
    return device.seek(start) ? bytes : 0;
}

bool JpegDecoder::storesInks(QIODevice &device)
{
    const qint64 start = device.pos();
    char head[3];
    if (device.peek(head, sizeof head) != sizeof head || !looksLikeJpeg(head, sizeof head))
        return false;
    bool inks = false;
    {
        const auto state = std::make_unique<State>();
        if (setjmp(state->error.jump) == 0) {
            begin(*state, device, std::numeric_limits<qint64>::max());
            jpeg_read_header(&state->info, TRUE);
            inks = state->info.jpeg_color_space == JCS_CMYK || state->info.jpeg_color_space == JCS_YCCK;
        }
    }
    return device.seek(start) && inks;
}

int JpegDecoder::scanCount(QIODevice &device, int atMost)
{
    const qint64 start = device.pos();
    // The file's bytes one at a time, read a piece at a time; -1 at its end or at a stop.
    std::vector<char> piece(64 * 1024);
    qint64 have = 0, at = 0;
    bool stopped = false;
    auto next = [&]() -> int {
        if (at == have) {
            if (DecodeInterrupt::shouldStop()) {
                stopped = true;
                return -1;
            }
            have = device.read(piece.data(), qint64(piece.size()));
            at = 0;
            if (have <= 0) {
                have = 0;
                return -1;
            }
        }
        return uchar(piece[size_t(at++)]);
    };
    int scans = 0;
    if (next() == 0xFF && next() == 0xD8) {
        int byte = next();
        while (byte >= 0 && scans <= atMost) {
            if (byte != 0xFF) {
                byte = next();
                continue; // between segments only in a damaged file: looked past, as libjpeg does
            }
            int marker = next();
            while (marker == 0xFF)
                marker = next();
            if (marker < 0 || marker == 0xD9)
                break;
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                byte = next();
                continue;
            }
            const int high = next(), low = next();
            if (high < 0 || low < 0)
                break;
            for (int left = (high << 8 | low) - 2; left > 0 && byte >= 0; --left)
                byte = next();
            if (byte < 0)
                break;
            if (marker != 0xDA) {
                byte = next();
                continue;
            }
            ++scans;
            // The scan's entropy-coded data: a 0xFF in it is followed by 0 or a restart marker;
            // anything else is the next marker.
            for (byte = next(); byte >= 0;) {
                if (byte != 0xFF) {
                    byte = next();
                    continue;
                }
                const int following = next();
                if (following == 0 || (following >= 0xD0 && following <= 0xD7)) {
                    byte = next();
                    continue;
                }
                // Back to the marker's start for the segment loop: its 0xFF is taken as read.
                if (following >= 0 && at > 0)
                    --at;
                break;
            }
        }
    }
    device.seek(start);
    return stopped ? -1 : std::min(scans, atMost + 1);
}

QSize JpegDecoder::size(const void *data, std::size_t size)
{
    if (!looksLikeJpeg(data, size))
        return {};
    const auto state = std::make_unique<State>();
    if (setjmp(state->error.jump))
        return {};
    begin(*state, data, size);
    jpeg_read_header(&state->info, TRUE);
    return QSize(int(state->info.image_width), int(state->info.image_height));
}

namespace {

// The decode of whatever source `open` gives the state.
template <typename Open>
JpegDecoder::Result decodeFrom(const Open &open, QSize box)
{
    using Status = JpegDecoder::Status;
    const auto state = std::make_unique<State>();
    if (setjmp(state->error.jump)) {
        // An error in the data after rows were decoded (a stray marker, which libjpeg cannot read
        // past, or one met when the rows are done): those rows are the picture, the rest grey.
        if (keepRowsDecoded(*state))
            return state->result;
        state->result.status = Status::Failed;
        state->result.image = QImage();
        return state->result;
    }
    open(*state);
    jpeg_decompress_struct &info = state->info;
    // The colour profile goes with the picture, as a streamed read hands it on.
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    const QSize full(int(info.image_width), int(info.image_height));
    state->result.fullSize = full;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    const bool gray = info.num_components == 1;
    if (!cmyk && !gray && info.num_components != 3) {
        state->result.status = Status::Unsupported;
        return state->result;
    }
    // (A CMYK file's profile is of its inks, which its rows are turned from, and a grey one's of
    // grey: neither is the RGB rows'.)
    state->icc = noteColour(&info);
    if (!cmyk && !gray && !RowSink::rgbProfile(state->icc).isEmpty())
        state->space = QColorSpace::fromIccProfile(state->icc);
    // Whatever the header claims, the decode holds no more than the budget allows.
    if (wholeDecodeBytes(info, box) > decodeLimit())
        return {Status::Failed, {}, full};

    // RGB32's fourth byte must be opaque; the X forms leave it undefined.
    info.out_color_space = cmyk   ? JCS_CMYK
                           : gray ? JCS_GRAYSCALE
                                  : (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB);
    info.scale_num = unsigned(JpegDecoder::scaleEighths(full, box));
    info.scale_denom = 8;
    // A picture that is reduced further after decoding shows nothing of the finer IDCT or of
    // smooth chroma upsampling.
    if (fitted(full, box) != full) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
        info.do_block_smoothing = FALSE;
    }
    jpeg_start_decompress(&info);
    JpegCoarseScan::install(info);

    state->result.image = QImage(int(info.output_width), int(info.output_height),
                                 gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    QImage &image = state->result.image;
    if (image.isNull())
        return {Status::Failed, {}, full};
    // Every row is written, decoded or filled.
    HeapTuning::mapForWriting(image.bits(), size_t(image.sizeInBytes()));
    if (state->space.isValid())
        image.setColorSpace(state->space);
    // CMYK rows are read into a row of their own (as wide as RGB32's) and turned into RGB there.
    // It is the state's: an error in the data jumps past this function's own objects.
    std::vector<uchar> &inks = state->inkRow;
    inks.resize(cmyk ? size_t(image.width()) * 4 : 0);
    if (cmyk)
        state->inks = inkTransform(&info, state->icc);
    JSAMPROW rows[8];
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int count = cmyk ? 1 : std::min<int>(std::min<int>(info.rec_outbuf_height, 8), image.height() - first);
        for (int i = 0; i < count; ++i)
            rows[i] = cmyk ? inks.data() : image.scanLine(first + i);
        if (jpeg_read_scanlines(&info, rows, JDIMENSION(count)) == 0)
            break; // not reached: both sources pad a short file
        if (cmyk)
            cmykToRgb32(inks.data(), image.scanLine(first), image.width(), info.saw_Adobe_marker, state->inks);
    }
    jpeg_finish_decompress(&info);
    noteDamage(*state);
    return state->result;
}

} // namespace

JpegDecoder::Result JpegDecoder::decode(const void *data, std::size_t size, QSize box)
{
    if (!looksLikeJpeg(data, size))
        return {};
    return decodeFrom([&](State &state) { begin(state, data, size); }, box);
}

JpegDecoder::Result JpegDecoder::decode(QIODevice &device, qint64 maxBytes, QSize box)
{
    char head[3];
    if (device.peek(head, sizeof head) != sizeof head || !looksLikeJpeg(head, sizeof head))
        return {};
    return decodeFrom([&](State &state) { begin(state, device, maxBytes); }, box);
}

JpegDecoder::Streamed JpegDecoder::stream(QIODevice &device, qint64 maxBytes, RowSink &sink, QSize *fullSize, QSize box)
{
    char head[3];
    if (device.peek(head, sizeof head) != sizeof head || !looksLikeJpeg(head, sizeof head))
        return Streamed::Failed;
    const auto state = std::make_unique<State>();
    // What changes after setjmp lives on the heap: nothing of it is lost to the jump.
    struct Band {
        std::vector<uchar> rows;
        std::vector<uchar> inks;
        DecodeMemoryBudget::Reservation reservation;
        int sent = 0;
        int width = 0;
        int height = 0;
        bool grey = false;
    };
    const auto band = std::make_unique<Band>();
    if (setjmp(state->error.jump)) {
        // An error of the data after rows went out: the rest is grey, as damage.
        if (state->error.stopped || DecodeInterrupt::shouldStop() || band->sent <= 0 || band->rows.empty())
            return Streamed::Failed;
        std::fill(band->rows.begin(), band->rows.end(), uchar(0x80));
        const qsizetype bytesPerLine = qsizetype(band->width) * (band->grey ? 1 : 4);
        if (!band->grey)
            for (size_t i = 3; i < band->rows.size(); i += 4)
                band->rows[i] = 0xff;
        while (band->sent < band->height) {
            const int rows = std::min(16, band->height - band->sent);
            if (!sink.addRows(band->rows.data(), bytesPerLine, rows))
                return Streamed::Failed;
            band->sent += rows;
        }
        if (state->error.damage == Damage::None)
            state->error.damage = Damage::Corrupt;
        noteDamage(*state);
        return Streamed::Whole;
    }
    begin(*state, device, maxBytes);
    jpeg_decompress_struct &info = state->info;
    // The colour profile goes on into what takes the rows.
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    const QSize full(int(info.image_width), int(info.image_height));
    if (fullSize)
        *fullSize = full;
    // The density as Qt's reader takes it.
    if (info.density_unit == 1 && info.X_density > 0 && info.Y_density > 0)
        sink.setDotsPerMeter(QSize(int(100. * info.X_density / 2.54), int(100. * info.Y_density / 2.54)));
    else if (info.density_unit == 2 && info.X_density > 0 && info.Y_density > 0)
        sink.setDotsPerMeter(QSize(int(100. * info.X_density), int(100. * info.Y_density)));
    // (A CMYK file's profile is of its inks, which the rows are turned from into sRGB.)
    state->icc = noteColour(&info);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    if (!cmyk && !state->icc.isEmpty())
        sink.setColourProfile(state->icc);
    const bool grey = band->grey = info.num_components == 1;
    if (!cmyk && !grey && info.num_components != 3)
        return Streamed::Unsupported;
    info.out_color_space = cmyk   ? JCS_CMYK
                           : grey ? JCS_GRAYSCALE
                                  : (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB);
    // Reduced in the DCT where a box asks for less than the picture, with the fastest settings:
    // the rows are reduced further by what takes them.
    info.scale_num = unsigned(scaleEighths(full, box));
    info.scale_denom = 8;
    if (fitted(full, box) != full) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
        info.do_block_smoothing = FALSE;
    }
    jpeg_calc_output_dimensions(&info);
    const QSize decoded(int(info.output_width), int(info.output_height));
    // libjpeg's band of rows at the decoded width and a file of several scans' coefficients. A
    // sink that takes its own share of the budget takes this with it.
    const qint64 held = DecodeMemoryBudget::sum(
        {bandBytes(decoded.width(), info.num_components), coefficientBytes(info), qint64(state->source.buffer.size())});
    const bool shared = sink.takeReaderShare(held);
    if (!shared && held > decodeLimit())
        return Streamed::Failed;
    if (!sink.begin(decoded, grey ? RowSink::Pixels::Grey8 : RowSink::Pixels::Rgb32))
        return Streamed::Declined;
    if (!shared)
        band->reservation = DecodeMemoryBudget::shared().reserve(held);
    jpeg_start_decompress(&info);
    JpegCoarseScan::install(info);
    const int width = band->width = int(info.output_width);
    const int height = band->height = int(info.output_height);
    const qsizetype bytesPerLine = qsizetype(width) * (grey ? 1 : 4);
    constexpr int bandRows = 16;
    band->rows.resize(size_t(bytesPerLine) * bandRows);
    if (cmyk)
        band->inks.resize(size_t(width) * 4);
    if (cmyk)
        state->inks = inkTransform(&info, state->icc);
    uchar *const rowsOut = band->rows.data();
    uchar *const inks = band->inks.data();
    while (info.output_scanline < info.output_height) {
        int filled = 0;
        const int wanted = std::min<int>(bandRows, height - int(info.output_scanline));
        while (filled < wanted) {
            JSAMPROW rows[bandRows];
            const int count = cmyk ? 1 : wanted - filled;
            for (int i = 0; i < count; ++i)
                rows[i] = cmyk ? inks : rowsOut + qsizetype(filled + i) * bytesPerLine;
            const JDIMENSION read = jpeg_read_scanlines(&info, rows, JDIMENSION(count));
            if (read == 0)
                break; // not reached: the source pads a short file
            if (cmyk)
                cmykToRgb32(inks, rowsOut + qsizetype(filled) * bytesPerLine, width, info.saw_Adobe_marker,
                            state->inks);
            filled += int(read);
        }
        if (filled == 0)
            break;
        if (!sink.addRows(rowsOut, bytesPerLine, filled))
            return Streamed::Failed;
        band->sent += filled;
    }
    jpeg_finish_decompress(&info);
    noteDamage(*state);
    return Streamed::Whole;
}
