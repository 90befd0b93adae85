#include "decoding/PngReader.h"

#include "decoding/BlockAverager.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "platform/FileAccess.h"
#include "decoding/ImageFileReader.h"
#include "decoding/LibraryMessages.h"
#include "decoding/PictureRows.h"

#include <QColorSpace>
#include <QFile>
#include <QtEndian>

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// The largest ancillary chunk libpng keeps, and the largest colour profile it inflates.
constexpr qint64 maxChunkBytes = qint64(8) << 20;
// libpng's structures, zlib's window and a decompressed chunk beside its compressed bytes.
constexpr qint64 fixedLibraryBytes = 2 * maxChunkBytes + (qint64(1) << 20);
// The file is handed to libpng in pieces of this size.
constexpr qint64 inputBytes = 64 << 10;

// Chunks the picture does not need: skipped unread whatever their length claims.
constexpr png_byte skippedChunks[] = "tEXt\0zTXt\0iTXt\0sPLT\0eXIf\0tIME\0hIST\0sCAL\0pCAL\0sTER\0";
constexpr int skippedChunkCount = int(sizeof skippedChunks / 5);

// libpng's allocations for one file, each with its size in front, within an allowance.
struct Allocations {
    qint64 allowance = 0;
    qint64 held = 0;
    qint64 peak = 0;
};

constexpr size_t blockHeader = alignof(std::max_align_t);

png_voidp allocate(png_structp png, png_alloc_size_t size)
{
    auto *allocations = static_cast<Allocations *>(png_get_mem_ptr(png));
    if (!allocations || size > png_alloc_size_t(allocations->allowance - allocations->held))
        return nullptr;
    auto *block = static_cast<unsigned char *>(std::malloc(size + blockHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    allocations->held += qint64(size);
    allocations->peak = std::max(allocations->peak, allocations->held);
    return block + blockHeader;
}

void release(png_structp png, png_voidp pointer)
{
    if (!pointer)
        return;
    auto *block = static_cast<unsigned char *>(pointer) - blockHeader;
    png_alloc_size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    if (auto *allocations = static_cast<Allocations *>(png_get_mem_ptr(png)))
        allocations->held -= qint64(size);
    std::free(block);
}

[[noreturn]] void fail(png_structp png, png_const_charp message)
{
    qCInfo(lcDecoding, "libpng error: %s", message);
    png_longjmp(png, 1);
}

void warn(png_structp, png_const_charp message) { qCInfo(lcDecoding, "libpng warning: %s", message); }

// The decode's state lives on the heap, made before setjmp: after a longjmp nothing in it is
// left in a register or skipped by a destructor.
struct State {
    Allocations allocations;
    QFile file;
    png_structp png = nullptr;
    png_infop info = nullptr;
    QImage image;
    QColorSpace space;
    int passes = 0;
    png_uint_32 rowsDone = 0; // rows of the first pass read whole
    int pass = 0;             // the pass rows come from (an interlaced picture's), those before it whole
    bool endedEarly = false;  // the file ended before libpng had what it asked for
    // For a thumbnail of a picture that is not interlaced: each row is read into `row` and averaged
    // into blocks of `factor` pixels at once, so that the full picture is never held.
    int factor = 1;
    std::optional<BlockAverager> averager;
    std::vector<QRgb> row;
    bool alpha = false;
    bool finished = false;   // libpng met the picture's end
    std::vector<char> input; // the file's bytes on their way to libpng
    // A streamed read's: the rows go to `sink` as they come (see PngReader::stream).
    RowSink *sink = nullptr;
    png_uint_32 height = 0;
    bool declined = false;
    bool sinkFailed = false;

    ~State()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

QColorSpace colourSpace(png_structp png, png_infop info)
{
    if (png_get_valid(png, info, PNG_INFO_iCCP)) {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0)
            return QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char *>(profile), qsizetype(length)));
    }
    if (png_get_valid(png, info, PNG_INFO_sRGB))
        return QColorSpace(QColorSpace::SRgb);
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) && gamma > 0)
        return QColorSpace(QColorSpace::Primaries::SRgb, float(1.0 / gamma));
    return {};
}

// An interlaced picture whose data failed part of the way: what its passes read whole give, the
// rows between them made of the ones above (libpng's blocky display already widened each pixel of
// a pass across the columns it stands for). With no pass whole, the first pass's rows read so far
// and the rest grey. False when not a row of the first pass was read.
bool keepPassesRead(State &state)
{
    // The rows each pass leaves known once it and those before it are whole (Adam7): every 8th
    // after passes 1 and 2, every 4th after 3 and 4, every 2nd after 5 and 6.
    static constexpr int rowSteps[7] = {8, 8, 4, 4, 2, 2, 1};
    const int whole = std::clamp(state.pass, 0, 7);
    if (whole == 0 && state.rowsDone == 0)
        return false;
    const int step = whole == 0 ? 8 : rowSteps[whole - 1];
    // The first pass's last row read stands for the 7 below it.
    const int known = whole == 0 ? std::min(int(state.rowsDone) + 7, state.image.height()) : state.image.height();
    const int width = state.image.width();
    for (int y = 0; y < state.image.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(state.image.scanLine(y));
        if (y >= known)
            std::fill(row, row + width, 0xff808080u);
        else if (y % step != 0)
            std::memcpy(row, state.image.constScanLine(y - y % step), size_t(width) * 4);
    }
    return true;
}

// What can be shown of a picture whose data failed part of the way: the rows read whole of one
// that is not interlaced, the rest grey, as a cut JPEG shows, or an interlaced one's passes read
// whole; noted as damage, also when nothing of it can be shown (no row read yet). False when
// nothing can be shown, or the decode was stopped.
bool keepRowsRead(State &state)
{
    if (DecodeInterrupt::shouldStop() || state.sinkFailed)
        return false;
    if (state.sink) {
        // A streamed read: the rest of its rows grey, once the sink has its first.
        const QString damage = state.endedEarly ? QStringLiteral("the data ends early")
                                                : QStringLiteral("the data is corrupt");
        DecodeReport::damaged(damage);
        if (state.passes != 1 || state.rowsDone == 0)
            return false;
        std::fill(state.row.begin(), state.row.end(), 0xff808080u);
        for (png_uint_32 y = state.rowsDone; y < state.height; ++y)
            if (!state.sink->addRows(reinterpret_cast<const uchar *>(state.row.data()), 0, 1))
                return false;
        return true;
    }
    if (DecodeInterrupt::shouldStop() || !state.png || (state.image.isNull() && !state.averager))
        return false;
    const QString damage = state.endedEarly ? QStringLiteral("the data ends early")
                                            : QStringLiteral("the data is corrupt");
    if (state.passes > 1) {
        if (!keepPassesRead(state)) {
            DecodeReport::damaged(damage);
            return false;
        }
    } else if (state.passes != 1 || state.rowsDone == 0) {
        DecodeReport::damaged(damage);
        return false;
    } else if (state.averager) {
        state.averager->fillRemaining(0xff808080u);
        state.image = state.averager->take();
    } else {
        for (int y = int(state.rowsDone); y < state.image.height(); ++y) {
            auto *row = reinterpret_cast<quint32 *>(state.image.scanLine(y));
            std::fill(row, row + state.image.width(), 0xff808080u);
        }
    }
    if (state.image.isNull())
        return false;
    if (state.space.isValid())
        state.image.setColorSpace(state.space);
    DecodeReport::damaged(damage);
    return true;
}

// Whether a chunk is one the picture does not need: ancillary, and neither transparency nor
// colour (libpng would drop unknown ones and the text and others of skippedChunks unread).
bool skipped(const char *type)
{
    if (!(uchar(type[0]) & 0x20))
        return false;
    for (const char *needed : {"tRNS", "gAMA", "cHRM", "sRGB", "iCCP", "sBIT"})
        if (std::memcmp(type, needed, 4) == 0)
            return false;
    return true;
}

// libpng's reading is driven by the file's bytes as they come (its progressive reader), so that
// a file cut short gives every row its data holds, however the compressed data is laid out in
// chunks. These are its callbacks: the header read, a row done, the end met.
void headerRead(png_structp png, png_infop info)
{
    State &state = *static_cast<State *>(png_get_progressive_ptr(png));
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    state.alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    state.space = colourSpace(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    // Into QImage's 32-bit pixels: B, G, R, A in memory on little-endian machines.
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        png_set_bgr(png);
        if (!state.alpha)
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    } else {
        png_set_swap_alpha(png);
        if (!state.alpha)
            png_set_filler(png, 0xff, PNG_FILLER_BEFORE);
    }
    state.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        png_error(png, "unexpected row layout");
    const QSize size{int(width), int(height)};
    state.height = height;
    if (state.sink) {
        // Rows straight on, with the colour profile a picture read whole keeps and is written with
        // (its iCCP profile as stored, or the one its sRGB or gamma chunk makes); an interlaced
        // picture, or one whose colours no profile of RGB data gives, is read whole by the caller
        // instead.
        const QByteArray icc = state.space.isValid() ? RowSink::rgbProfile(state.space.iccProfile()) : QByteArray();
        if (!icc.isEmpty())
            state.sink->setColourProfile(icc);
        if (state.passes != 1 || (state.space.isValid() && icc.isEmpty())
            || !state.sink->begin(size, state.alpha ? RowSink::Pixels::PremultipliedArgb32 : RowSink::Pixels::Rgb32)) {
            state.declined = true;
            png_error(png, "read whole instead");
        }
        state.row.resize(size_t(width));
    } else if (state.passes == 1 && state.factor > 1) {
        // Row by row into the averaging: the picture's pixels are never all held.
        state.averager.emplace(size, state.factor);
        state.row.resize(size_t(width));
        if (state.averager->isNull())
            png_error(png, "no memory for the picture");
    } else {
        state.image = QImage(size, state.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (state.image.isNull())
            png_error(png, "no memory for the picture");
        // Passes of an interlaced picture are combined with what earlier ones left.
        if (state.passes > 1)
            state.image.fill(0);
    }
}

void rowRead(png_structp png, png_bytep row, png_uint_32 number, int pass)
{
    State &state = *static_cast<State *>(png_get_progressive_ptr(png));
    if (DecodeInterrupt::shouldStop())
        png_error(png, "decoding stopped");
    state.pass = std::max(state.pass, pass);
    if (!row)
        return;
    if (state.sink) {
        if (number != state.rowsDone)
            png_error(png, "rows out of order");
        std::memcpy(state.row.data(), row, state.row.size() * sizeof(QRgb));
        if (state.alpha)
            for (QRgb &pixel : state.row)
                pixel = qPremultiply(pixel);
        if (!state.sink->addRows(reinterpret_cast<const uchar *>(state.row.data()), 0, 1)) {
            state.sinkFailed = true;
            png_error(png, "the rows could not be taken");
        }
    } else if (state.averager) {
        if (number != png_uint_32(state.averager->rows()))
            png_error(png, "rows out of order");
        std::memcpy(state.row.data(), row, state.row.size() * sizeof(QRgb));
        if (state.alpha)
            for (QRgb &pixel : state.row)
                pixel = qPremultiply(pixel);
        state.averager->addRow(state.row.data());
    } else if (number < png_uint_32(state.image.height())) {
        png_progressive_combine_row(png, state.image.scanLine(int(number)), row);
    }
    if (pass == 0)
        state.rowsDone = number + 1;
}

void endRead(png_structp png, png_infop) { static_cast<State *>(png_get_progressive_ptr(png))->finished = true; }

// Decodes into state.image; false on any error of libpng's before a row could be read and when
// the decode was stopped.
bool decode(State &state)
{
    png_structp png = state.png;
    png_infop info = state.info;
    if (setjmp(png_jmpbuf(png)))
        return !state.declined && keepRowsRead(state);
    png_set_progressive_read_fn(png, &state, headerRead, rowRead, endRead);
    // The budget, not libpng's defaults, bounds the sides.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(png, png_alloc_size_t(maxChunkBytes));
    png_set_chunk_cache_max(png, 64);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skippedChunks, skippedChunkCount);
    state.input.resize(inputBytes);
    // Hands the next `length` bytes of the file to libpng, as far as the file holds them.
    auto feed = [&](qint64 length) {
        while (length > 0) {
            if (DecodeInterrupt::shouldStop())
                png_error(png, "decoding stopped");
            const qint64 read = state.file.read(state.input.data(), std::min<qint64>(length, inputBytes));
            if (read > 0)
                png_process_data(png, info, reinterpret_cast<png_bytep>(state.input.data()), size_t(read));
            if (read < std::min<qint64>(length, inputBytes)) {
                state.endedEarly = true;
                png_error(png, "Read Error");
            }
            length -= read;
        }
    };
    feed(sizeof signature);
    // Chunk by chunk: the progressive reader holds a whole ancillary chunk before it looks at it,
    // so those the picture does not need are skipped here, unread, whatever their length.
    while (!state.finished) {
        char head[8];
        if (state.file.peek(head, sizeof head) != qint64(sizeof head)) {
            state.endedEarly = true;
            png_error(png, "Read Error");
        }
        const qint64 length = qFromBigEndian<quint32>(head);
        if (skipped(head + 4)) {
            const qint64 next = state.file.pos() + 8 + length + 4;
            if (next > state.file.size() || !state.file.seek(next)) {
                state.endedEarly = true;
                png_error(png, "Read Error");
            }
            continue;
        }
        feed(8 + length + 4);
    }
    if (state.sink)
        return !state.sinkFailed && state.rowsDone == state.height;
    if (state.averager)
        state.image = state.averager->take();
    if (state.image.isNull())
        return false;
    if (state.space.isValid())
        state.image.setColorSpace(state.space);
    return true;
}

} // namespace

bool PngReader::looksLikePng(const char *data, qint64 size)
{
    return size >= qint64(sizeof signature) && std::memcmp(data, signature, sizeof signature) == 0;
}

qint64 PngReader::libraryAllowance(qint64 width)
{
    // Two rows of up to 8 bytes a pixel (the row and the previous one for the filters), and as
    // many again for an interlaced picture's passes.
    return DecodeMemoryBudget::sum({fixedLibraryBytes, DecodeMemoryBudget::product({width, 8, 4})});
}

PngReader::Result PngReader::read(const QString &path, QSize box)
{
    LibraryMessages::install();
    Result result;
    auto state = std::make_unique<State>();
    if (!FileAccess::openRegularFile(state->file, path))
        return result;
    // The header the signature is followed by: IHDR, its length, width, height, depth, colour
    // type, compression, filter and interlace method.
    char head[29];
    if (state->file.peek(head, sizeof head) != qint64(sizeof head) || !looksLikePng(head, sizeof head)
        || std::memcmp(head + 12, "IHDR", 4) != 0)
        return result;
    const qint64 width = qFromBigEndian<quint32>(head + 16);
    const qint64 height = qFromBigEndian<quint32>(head + 20);
    if (width <= 0 || height <= 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return result;
    result.size = QSize(int(width), int(height));
    const qint64 allowance = libraryAllowance(width);
    const bool reduced = box.isValid() && !box.isEmpty();
    const QSize target = reduced ? ImageFileReader::fittedSize(result.size, box) : result.size;
    // A thumbnail of a picture that is not interlaced (byte 28: the interlace method) is averaged
    // row by row into whole blocks no smaller than the target, then scaled the rest of the way.
    const bool interlaced = head[28] != 0;
    const qint64 factor = target == result.size || interlaced
                              ? 1
                              : std::max<qint64>(1, std::min(width / target.width(), height / target.height()));
    state->factor = int(std::min<qint64>(factor, 1 << 23));
    const qint64 picture =
        state->factor > 1 ? DecodeMemoryBudget::sum(
            {DecodeMemoryBudget::product({width, 4}),
             DecodeMemoryBudget::product({(width + factor - 1) / factor, (height + factor - 1) / factor, 4})})
                          : DecodeMemoryBudget::product({width, height, 4});
    const qint64 held = DecodeMemoryBudget::sum(
        {allowance, picture,
         target != result.size ? DecodeMemoryBudget::product({target.width(), target.height(), 4}) : 0});
    if (held > DecodeMemoryBudget::shared().capacity()) {
        result.tooLarge = true;
        return result;
    }
    const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(held);
    if (DecodeInterrupt::shouldStop())
        return result;
    result.reserved = reservation.bytes();
    state->allocations.allowance = allowance;
    state->png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, fail, warn, &state->allocations, allocate, release);
    if (!state->png)
        return result;
    state->info = png_create_info_struct(state->png);
    if (state->info && decode(*state)) {
        result.image = std::move(state->image);
        if (result.image.size() != target)
            result.image = PictureRows::reduced(result.image, target);
    }
    result.libraryBytes = state->allocations.peak;
    return result;
}

PngReader::Streamed PngReader::stream(const QString &path, RowSink &sink)
{
    LibraryMessages::install();
    auto state = std::make_unique<State>();
    if (!FileAccess::openRegularFile(state->file, path))
        return Streamed::Failed;
    char head[29];
    if (state->file.peek(head, sizeof head) != qint64(sizeof head) || !looksLikePng(head, sizeof head)
        || std::memcmp(head + 12, "IHDR", 4) != 0)
        return Streamed::Failed;
    const qint64 width = qFromBigEndian<quint32>(head + 16);
    const qint64 height = qFromBigEndian<quint32>(head + 20);
    if (width <= 0 || height <= 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return Streamed::Failed;
    // An interlaced picture is read whole.
    if (head[28] != 0)
        return Streamed::Declined;
    const qint64 allowance = libraryAllowance(width);
    const qint64 held = DecodeMemoryBudget::sum({allowance, DecodeMemoryBudget::product({width, 4})});
    if (held > DecodeMemoryBudget::shared().capacity())
        return Streamed::Failed;
    const DecodeMemoryBudget::Reservation reservation = DecodeMemoryBudget::shared().reserve(held);
    if (DecodeInterrupt::shouldStop())
        return Streamed::Failed;
    state->sink = &sink;
    state->allocations.allowance = allowance;
    state->png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, fail, warn, &state->allocations, allocate, release);
    if (!state->png)
        return Streamed::Failed;
    state->info = png_create_info_struct(state->png);
    if (!state->info)
        return Streamed::Failed;
    const bool read = decode(*state);
    if (state->declined)
        return Streamed::Declined;
    return read ? Streamed::Whole : Streamed::Failed;
}
