#include "decoding/PngReader.h"

#include "decoding/BlockAverager.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "platform/FileAccess.h"
#include "decoding/ImageFileReader.h"
#include "decoding/LibraryMessages.h"
#include "decoding/PictureRows.h"
#include "platform/HeapTuning.h"

#include <QColorSpace>
#include <QFile>
#include <QtEndian>

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define OVN_PNG_SSSE3 1
#endif

namespace {

constexpr uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// The largest ancillary chunk libpng keeps, and the largest colour profile it inflates.
constexpr qint64 maxChunkBytes = qint64(8) << 20;
// libpng's structures, zlib's window and a decompressed chunk beside its compressed bytes.
constexpr qint64 fixedLibraryBytes = 2 * maxChunkBytes + (qint64(1) << 20);
// The file is handed to libpng in pieces of this size.
constexpr qint64 inputBytes = 64 << 10;
// A picture whose filtered rows fit in this is inflated in one piece (see readRowsWhole): several
// times faster than libpng's row by row, for what a small picture costs in memory. Larger ones keep
// to libpng's rows, which hold one row of the picture.
constexpr qint64 wholeBufferBytes = qint64(4) << 20;

// The most compressed data a picture of `filtered` bytes of rows takes on the whole-buffer road:
// what deflate makes of data it cannot compress, and some room. More goes to libpng's rows.
constexpr qint64 compressedBound(qint64 filtered) { return filtered + filtered / 64 + 1024; }

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
    bool finished = false; // libpng met the picture's end
    // The file's bytes on their way to libpng, written by each read before libpng sees them (a
    // buffer left unfilled: most files go to libpng a few chunks' heads only).
    std::unique_ptr<char[]> input;
    // A streamed read's: the rows go to `sink` as they come (see PngReader::stream).
    RowSink *sink = nullptr;
    png_uint_32 height = 0;
    bool declined = false;
    bool sinkFailed = false;
    // Whether the rows are to be inflated in one piece: libpng then reads only the chunks before
    // the picture's data (`headerTaken` once it has), and the data is read here.
    bool wholeBuffer = false;
    bool headerTaken = false;
    bool retry = false; // the whole-buffer road met something only libpng's rows take as they should
    int depth = 0;
    int colour = 0;
    // A palette picture's colours with their alpha (unlisted entries black, as libpng's are), and
    // the colour a grey or RGB picture's tRNS makes transparent.
    std::vector<QRgb> palette;
    std::optional<png_color_16> key;
    std::vector<uchar> narrowed; // a 16-bit row made 8-bit (see pixels)

    ~State()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// The picture's colour space, noted as stored to the thread's report: its iCCP profile, or the
// one its sRGB or gamma chunk makes (noted without a profile: a picture's numbers are not turned
// for its gamma alone).
QColorSpace colourSpace(png_structp png, png_infop info)
{
    const QString space = png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR ? QStringLiteral("RGB")
                                                                               : QStringLiteral("grey");
    if (png_get_valid(png, info, PNG_INFO_iCCP)) {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
            const QByteArray icc(reinterpret_cast<const char *>(profile), qsizetype(length));
            DecodeReport::colour(space, icc);
            return QColorSpace::fromIccProfile(icc);
        }
    }
    DecodeReport::colour(space, {});
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

// Makes ready what the rows go to: the sink, the averaging or the picture. False when the sink
// declines the picture (`declined`: it is to be read whole) or there is no memory for it.
bool prepare(State &state, QSize size)
{
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
            return false;
        }
        state.row.resize(size_t(size.width()));
    } else if (state.passes == 1 && state.factor > 1) {
        // Row by row into the averaging: the picture's pixels are never all held.
        state.averager.emplace(size, state.factor);
        state.row.resize(size_t(size.width()));
        if (state.averager->isNull())
            return false;
    } else {
        state.image = QImage(size, state.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (state.image.isNull())
            return false;
        // Passes of an interlaced picture are combined with what earlier ones left.
        if (state.passes > 1)
            state.image.fill(0);
    }
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
    state.depth = depth;
    state.colour = colour;
    if (state.wholeBuffer && interlace == PNG_INTERLACE_NONE) {
        // The rows are inflated and turned into pixels here (readRowsWhole), as libpng's
        // transformations below would, from the colours and transparency libpng has checked.
        state.passes = 1;
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        png_color_16p keyColour = nullptr;
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_get_tRNS(png, info, &alphas, &alphaCount, &keyColour);
        if (colour == PNG_COLOR_TYPE_PALETTE) {
            png_colorp colours = nullptr;
            int count = 0;
            png_get_PLTE(png, info, &colours, &count);
            state.palette.assign(256, qRgba(0, 0, 0, 255));
            for (int i = 0; i < std::min(count, 256); ++i)
                state.palette[size_t(i)] = qRgba(colours[i].red, colours[i].green, colours[i].blue,
                                                 alphas && i < alphaCount ? alphas[i] : 255);
        } else if (keyColour && !(colour & PNG_COLOR_MASK_ALPHA)) {
            state.key = *keyColour;
        }
    } else {
        state.wholeBuffer = false;
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
    }
    state.height = height;
    if (state.wholeBuffer) {
        state.headerTaken = true;
        return;
    }
    if (!prepare(state, QSize(int(width), int(height))))
        png_error(png, state.declined ? "read whole instead" : "no memory for the picture");
}

// Hands the next row of a picture that is not interlaced, as QRgb values that are not
// premultiplied, to what the read is for: the sink, the averaging or the picture. False when the
// sink refused it.
bool takeRow(State &state, QRgb *row, png_uint_32 number)
{
    if (state.sink || state.averager) {
        if (state.alpha)
            for (QRgb *pixel = row, *end = row + state.row.size(); pixel != end; ++pixel)
                *pixel = qPremultiply(*pixel);
        if (state.averager) {
            state.averager->addRow(row);
        } else if (!state.sink->addRows(reinterpret_cast<const uchar *>(row), 0, 1)) {
            state.sinkFailed = true;
            return false;
        }
    }
    state.rowsDone = number + 1;
    return true;
}

void rowRead(png_structp png, png_bytep row, png_uint_32 number, int pass)
{
    State &state = *static_cast<State *>(png_get_progressive_ptr(png));
    if (DecodeInterrupt::shouldStop())
        png_error(png, "decoding stopped");
    state.pass = std::max(state.pass, pass);
    if (!row)
        return;
    if (state.sink || state.averager) {
        const png_uint_32 expected = state.sink ? state.rowsDone : png_uint_32(state.averager->rows());
        if (number != expected)
            png_error(png, "rows out of order");
        std::memcpy(state.row.data(), row, state.row.size() * sizeof(QRgb));
        if (!takeRow(state, state.row.data(), number))
            png_error(png, "the rows could not be taken");
        return;
    }
    if (number < png_uint_32(state.image.height()))
        png_progressive_combine_row(png, state.image.scanLine(int(number)), row);
    if (pass == 0)
        state.rowsDone = number + 1;
}

void endRead(png_structp png, png_infop) { static_cast<State *>(png_get_progressive_ptr(png))->finished = true; }

// The whole-buffer road: the picture's compressed data read in one piece from the first IDAT
// chunk on, inflated at once (libdeflate), its rows unfiltered and made into pixels as libpng's
// transformations make them (palette and low depths expanded, tRNS to alpha, 16 bits scaled to 8,
// grey to RGB). Anything out of the plain (a broken checksum, data that ends early or goes on,
// a chunk out of place, an unknown filter) sends the file back to libpng's rows, which say what
// can be shown of it and how it is damaged.

// The filters that look at the pixel to the left (1: sub, 3: average, 4: Paeth), for pixels `Step`
// bytes apart: the left pixel's bytes are kept in registers rather than read back from the row
// just written, which would make each byte wait for the one `Step` before it.
template <int Filter, int Step>
void unfilterLeft(uchar *row, const uchar *above, qsizetype bytes)
{
    int left[Step] = {}, aboveLeft[Step] = {};
    for (qsizetype i = 0; i + Step <= bytes; i += Step) {
        // Unrolled, so that the left pixel's bytes stay in registers.
#pragma GCC unroll 8
        for (int k = 0; k < Step; ++k) {
            const int a = left[k], b = above[i + k];
            int predicted;
            if constexpr (Filter == 1) {
                predicted = a;
            } else if constexpr (Filter == 3) {
                predicted = (a + b) >> 1;
            } else {
                // Paeth: whichever of left, above and above-left is nearest a + b - c.
                const int c = aboveLeft[k];
                const int p = b - c, q = a - c;
                const int pa = std::abs(p), pb = std::abs(q), pc = std::abs(p + q);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                aboveLeft[k] = b;
            }
            const uchar value = uchar(row[i + k] + predicted);
            row[i + k] = value;
            left[k] = value;
        }
    }
}

#ifdef __SSE2__
// A pixel of `Step` bytes in the low bytes of a register, and back, put together in registers
// (through memory a pixel of 3 or 6 bytes would wait for its own store on every read).
template <int Step>
__m128i loadPixel(const uchar *at)
{
    if constexpr (Step == 4 || Step == 8) {
        std::conditional_t<Step == 4, quint32, quint64> bytes;
        std::memcpy(&bytes, at, Step);
        return _mm_cvtsi64_si128(qint64(bytes));
    } else {
        using Low = std::conditional_t<Step == 3, quint16, quint32>;
        Low low;
        std::memcpy(&low, at, sizeof low);
        quint64 high = 0;
        std::memcpy(&high, at + sizeof low, Step - sizeof low);
        return _mm_cvtsi64_si128(qint64(quint64(low) | high << (8 * sizeof low)));
    }
}

template <int Step>
void storePixel(uchar *at, __m128i pixel)
{
    const quint64 bytes = quint64(_mm_cvtsi128_si64(pixel));
    if constexpr (Step == 4 || Step == 8) {
        const std::conditional_t<Step == 4, quint32, quint64> whole(bytes);
        std::memcpy(at, &whole, Step);
    } else {
        using Low = std::conditional_t<Step == 3, quint16, quint32>;
        const Low low = Low(bytes);
        std::memcpy(at, &low, sizeof low);
        const auto high = std::conditional_t<Step == 3, quint8, quint16>(bytes >> (8 * sizeof low));
        std::memcpy(at + sizeof low, &high, Step - sizeof low);
    }
}

// The same filters a pixel at a time, each of its bytes in a lane of its own: the left pixel is
// the register just computed, and Paeth's choice is made with comparisons rather than branches
// that noise would mispredict.
template <int Filter, int Step>
void unfilterPixels(uchar *row, const uchar *above, qsizetype bytes)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i left = zero, aboveLeft = zero;
    for (qsizetype i = 0; i + Step <= bytes; i += Step) {
        const __m128i raw = loadPixel<Step>(row + i);
        const __m128i up = loadPixel<Step>(above + i);
        __m128i predicted;
        if constexpr (Filter == 1) {
            predicted = left;
        } else if constexpr (Filter == 3) {
            // (a + b) / 2 rounded down: the rounded-up average less the bit it rounded.
            predicted = _mm_sub_epi8(_mm_avg_epu8(left, up), _mm_and_si128(_mm_xor_si128(left, up), _mm_set1_epi8(1)));
        } else {
            const __m128i a = _mm_unpacklo_epi8(left, zero), b = _mm_unpacklo_epi8(up, zero),
                          c = _mm_unpacklo_epi8(aboveLeft, zero);
            const __m128i p = _mm_sub_epi16(b, c), q = _mm_sub_epi16(a, c), pq = _mm_add_epi16(p, q);
            const __m128i pa = _mm_max_epi16(p, _mm_sub_epi16(zero, p));
            const __m128i pb = _mm_max_epi16(q, _mm_sub_epi16(zero, q));
            const __m128i pc = _mm_max_epi16(pq, _mm_sub_epi16(zero, pq));
            const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            // Left when it is nearest (ties included), else above when it is no farther than
            // above-left, else above-left.
            const __m128i byB = _mm_cmpeq_epi16(smallest, pb), byA = _mm_cmpeq_epi16(smallest, pa);
            __m128i nearest = _mm_or_si128(_mm_and_si128(byB, b), _mm_andnot_si128(byB, c));
            nearest = _mm_or_si128(_mm_and_si128(byA, a), _mm_andnot_si128(byA, nearest));
            predicted = _mm_packus_epi16(nearest, nearest);
            aboveLeft = up;
        }
        left = _mm_add_epi8(raw, predicted);
        storePixel<Step>(row + i, left);
    }
}
#endif

template <int Step>
void unfilterLeft(uchar filter, uchar *row, const uchar *above, qsizetype bytes)
{
    const auto run = [&]<int Filter>() {
#ifdef __SSE2__
        // Pixels of 3 bytes and more a register at a time; narrower ones gain nothing by it.
        if constexpr (Step >= 3) {
            unfilterPixels<Filter, Step>(row, above, bytes);
            return;
        }
#endif
        unfilterLeft<Filter, Step>(row, above, bytes);
    };
    if (filter == 1)
        run.template operator()<1>();
    else if (filter == 3)
        run.template operator()<3>();
    else
        run.template operator()<4>();
}

// Unfilters `row` (`bytes` long, its pixels `step` bytes apart) by its filter type against the
// row above (`above`, zeros for the first). False for an unknown filter.
bool unfilter(uchar filter, uchar *row, const uchar *above, qsizetype bytes, int step)
{
    if (filter == 0)
        return true;
    if (filter == 2) {
        // The row above ends where this row's filter byte begins: they never overlap.
        qsizetype i = 0;
#ifdef __SSE2__
        for (; i + 16 <= bytes; i += 16) {
            const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + i)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), sum);
        }
#endif
        for (; i < bytes; ++i)
            row[i] = uchar(row[i] + above[i]);
        return true;
    }
    if (filter > 4)
        return false;
    // A row is a whole number of pixels of `step` bytes (pictures of under 8 bits a pixel have a
    // step of 1).
    switch (step) {
    case 1:
        unfilterLeft<1>(filter, row, above, bytes);
        break;
    case 2:
        unfilterLeft<2>(filter, row, above, bytes);
        break;
    case 3:
        unfilterLeft<3>(filter, row, above, bytes);
        break;
    case 4:
        unfilterLeft<4>(filter, row, above, bytes);
        break;
    case 6:
        unfilterLeft<6>(filter, row, above, bytes);
        break;
    case 8:
        unfilterLeft<8>(filter, row, above, bytes);
        break;
    default:
        return false;
    }
    return true;
}

// A 16-bit sample scaled to 8 bits as libpng scales it (round(v / 257)).
inline uint scaled(const uchar *sample)
{
    const int high = sample[0];
    return uint(high + (((int(sample[1]) - high + 128) * 65535) >> 24));
}

// The samples a pixel of a PNG colour type has.
int channels(int colour)
{
    return colour == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
           : colour == PNG_COLOR_TYPE_RGB        ? 3
           : colour == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                 : 1;
}

// `count` 16-bit samples (big-endian, as stored) scaled to 8 bits as scaled() scales each:
// (v * 255 + 32895) >> 16, which is the same.
void narrowSamples(const uchar *data, uchar *out, qsizetype count)
{
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i by = _mm_set1_epi16(255), rounding = _mm_set1_epi16(short(32895)),
                  sign = _mm_set1_epi16(short(0x8000));
    for (; i + 8 <= count; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 2 * i));
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        // The product's low and high halves; the rounding's carry out of the low half goes to the
        // high one (a lane of all ones, -1, where the sum wrapped).
        const __m128i low = _mm_mullo_epi16(v, by), high = _mm_mulhi_epu16(v, by);
        const __m128i sum = _mm_add_epi16(low, rounding);
        const __m128i carry = _mm_cmpgt_epi16(_mm_xor_si128(low, sign), _mm_xor_si128(sum, sign));
        const __m128i narrowed = _mm_sub_epi16(high, carry);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(narrowed, narrowed));
    }
#endif
    for (; i < count; ++i)
        out[i] = uchar(scaled(data + 2 * i));
}

// One unfiltered row (`data`) of samples `depth` bits deep as QRgb values that are not
// premultiplied.
#ifdef OVN_PNG_SSSE3
// Rows of 8-bit RGB or RGBA samples (`Channels` of them a pixel) as QRgb values, four pixels at a
// time on processors with SSSE3: each pixel's bytes put in QRgb's order by one shuffle. Answers how
// many pixels it made; the rest (the last ones, whose load would pass the row's end) are the
// caller's.
template <int Channels>
[[gnu::target("ssse3")]] qsizetype samplesAsRgb(const uchar *data, QRgb *out, qsizetype width)
{
    const __m128i order = Channels == 3 ? _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                                        : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const __m128i opaque = _mm_set1_epi32(Channels == 3 ? int(0xff000000u) : 0);
    qsizetype x = 0;
    for (; (x + 4) * Channels + (16 - 4 * Channels) <= width * Channels; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + x * Channels));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_or_si128(_mm_shuffle_epi8(in, order), opaque));
    }
    return x;
}

bool hasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

// How many of a row's 8-bit RGB (`channels` 3) or RGBA (4) pixels were made four at a time; the
// rest are the caller's.
qsizetype samplesAsRgbWide(int channels, const uchar *data, QRgb *out, qsizetype width)
{
#ifdef OVN_PNG_SSSE3
    if (hasSsse3())
        return channels == 3 ? samplesAsRgb<3>(data, out, width) : samplesAsRgb<4>(data, out, width);
#else
    Q_UNUSED(channels);
    Q_UNUSED(data);
    Q_UNUSED(out);
    Q_UNUSED(width);
#endif
    return 0;
}

void pixelsOfDepth(const State &state, int depth, const uchar *data, QRgb *out, qsizetype width)
{
    switch (state.colour) {
    case PNG_COLOR_TYPE_PALETTE: {
        const QRgb *colours = state.palette.data();
        if (depth == 8) {
            for (qsizetype x = 0; x < width; ++x)
                out[x] = colours[data[x]];
        } else {
            const int perByte = 8 / depth, mask = (1 << depth) - 1;
            for (qsizetype x = 0; x < width; ++x)
                out[x] = colours[(data[x / perByte] >> (8 - depth * (1 + x % perByte))) & mask];
        }
        return;
    }
    case PNG_COLOR_TYPE_GRAY: {
        if (depth == 16) {
            const uint keyed = state.key ? state.key->gray : 0x10000;
            for (qsizetype x = 0; x < width; ++x, data += 2) {
                const uint v = scaled(data);
                const uint alpha = (uint(data[0]) << 8 | data[1]) == keyed ? 0 : 255;
                out[x] = qRgba(int(v), int(v), int(v), int(alpha));
            }
            return;
        }
        // Low depths widened to 8 bits (1 bit: 0 or 255; 2 bits: 0x55 steps; 4 bits: 0x11 steps),
        // the transparent grey compared after widening as libpng does.
        const int perByte = 8 / depth, mask = (1 << depth) - 1, scale = 255 / mask;
        const uint keyed = state.key ? uint(state.key->gray & mask) * uint(scale) : 0x100;
        for (qsizetype x = 0; x < width; ++x) {
            const uint v = depth == 8
                               ? data[x]
                               : uint((data[x / perByte] >> (8 - depth * (1 + x % perByte))) & mask) * uint(scale);
            out[x] = qRgba(int(v), int(v), int(v), v == keyed ? 0 : 255);
        }
        return;
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        if (depth == 16) {
            for (qsizetype x = 0; x < width; ++x, data += 4) {
                const int v = int(scaled(data));
                out[x] = qRgba(v, v, v, int(scaled(data + 2)));
            }
        } else {
            for (qsizetype x = 0; x < width; ++x, data += 2)
                out[x] = qRgba(data[0], data[0], data[0], data[1]);
        }
        return;
    case PNG_COLOR_TYPE_RGB:
        if (depth == 16) {
            const bool keyed = state.key.has_value();
            const png_color_16 key = keyed ? *state.key : png_color_16{};
            for (qsizetype x = 0; x < width; ++x, data += 6) {
                const bool clear = keyed && (uint(data[0]) << 8 | data[1]) == key.red
                                   && (uint(data[2]) << 8 | data[3]) == key.green
                                   && (uint(data[4]) << 8 | data[5]) == key.blue;
                out[x] = qRgba(int(scaled(data)), int(scaled(data + 2)), int(scaled(data + 4)), clear ? 0 : 255);
            }
        } else if (state.key) {
            const uint red = state.key->red & 0xff, green = state.key->green & 0xff, blue = state.key->blue & 0xff;
            for (qsizetype x = 0; x < width; ++x, data += 3) {
                const bool clear = data[0] == red && data[1] == green && data[2] == blue;
                out[x] = qRgba(data[0], data[1], data[2], clear ? 0 : 255);
            }
        } else {
            const qsizetype done = samplesAsRgbWide(3, data, out, width);
            data += done * 3;
            for (qsizetype x = done; x < width; ++x, data += 3)
                out[x] = qRgb(data[0], data[1], data[2]);
        }
        return;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        if (depth == 16) {
            for (qsizetype x = 0; x < width; ++x, data += 8)
                out[x] = qRgba(int(scaled(data)), int(scaled(data + 2)), int(scaled(data + 4)), int(scaled(data + 6)));
        } else {
            const qsizetype done = samplesAsRgbWide(4, data, out, width);
            data += done * 4;
            for (qsizetype x = done; x < width; ++x, data += 4)
                out[x] = qRgba(data[0], data[1], data[2], data[3]);
        }
        return;
    default:
        return;
    }
}

// One unfiltered row (`data`) as QRgb values that are not premultiplied. 16-bit samples without
// a transparent colour to compare at full depth are made 8-bit first, a row at once.
void pixels(State &state, const uchar *data, QRgb *out, qsizetype width)
{
    if (state.depth != 16 || state.key) {
        pixelsOfDepth(state, state.depth, data, out, width);
        return;
    }
    const qsizetype samples = width * channels(state.colour);
    state.narrowed.resize(size_t(samples));
    narrowSamples(data, state.narrowed.data(), samples);
    pixelsOfDepth(state, 8, state.narrowed.data(), out, width);
}

// The bytes of one row of a picture `width` pixels wide before filtering.
qint64 rowBytes(int colour, int depth, qint64 width) { return (width * channels(colour) * depth + 7) / 8; }

// The rows from the first IDAT chunk's data on (its length `length`, the file just past its
// header). False when the file is to go to libpng's rows instead (`retry`), or the read failed.
bool readRowsWhole(State &state, qint64 length)
{
    state.retry = true;
    const QSize size(int(png_get_image_width(state.png, state.info)), int(state.height));
    const qint64 bytes = rowBytes(state.colour, state.depth, size.width());
    const qint64 filtered = DecodeMemoryBudget::product({bytes + 1, size.height()});
    if (filtered > wholeBufferBytes)
        return false;
    // The rest of the file from the first data chunk's data on, read at once, as much of it as the
    // data may take (its chunks' heads and checksums between included): the data is gathered in
    // place at the front of it, and the chunks after it are taken from it too where it holds them.
    const qint64 start = state.file.pos();
    const qint64 room = std::min(compressedBound(filtered), std::max<qint64>(0, state.file.size() - start));
    std::unique_ptr<uchar[]> held = std::make_unique_for_overwrite<uchar[]>(size_t(std::max<qint64>(room, 1)));
    uchar *const data = held.get();
    HeapTuning::mapForWriting(data, size_t(room));
    qint64 got = 0;
    while (got < room) {
        const qint64 read = state.file.read(reinterpret_cast<char *>(data + got), room - got);
        if (read <= 0)
            break;
        got += read;
    }
    // `count` bytes at `at` (from the start above): from what was read, else from the file.
    const auto bytesAt = [&](qint64 at, void *into, qint64 count) {
        if (at + count <= got) {
            std::memcpy(into, data + at, size_t(count));
            return true;
        }
        return state.file.seek(start + at) && state.file.read(static_cast<char *>(into), count) == count;
    };
    // Whether the checksum after a chunk's data (`length` bytes at `at`) is the chunk's.
    const auto checked = [&](const char *type, qint64 at, qint64 length) {
        uchar sum[4];
        if (!bytesAt(at + length, sum, 4))
            return false;
        quint32 crc = quint32(libdeflate_crc32(0, type, 4));
        if (length > 0)
            crc = quint32(libdeflate_crc32(crc, data + at, size_t(length)));
        return crc == qFromBigEndian<quint32>(sum);
    };
    static constexpr char idat[4] = {'I', 'D', 'A', 'T'};
    qint64 at = 0;         // the current chunk's data
    qint64 compressed = 0; // the data gathered at the front
    char head[8];
    for (;;) {
        // A data chunk wholly within what was read (the data can take no more), its checksum right.
        if (at + length + 4 > got || !checked(idat, at, length))
            return false;
        std::memmove(data + compressed, data + at, size_t(length));
        compressed += length;
        at += length + 4;
        if (!bytesAt(at, head, sizeof head))
            return false;
        at += qint64(sizeof head);
        length = qFromBigEndian<quint32>(head);
        if (length > PNG_UINT_31_MAX)
            return false;
        if (std::memcmp(head + 4, idat, 4) != 0)
            break;
    }
    // After the data: chunks the picture does not need, and the end.
    while (std::memcmp(head + 4, "IEND", 4) != 0) {
        if (!skipped(head + 4) || !bytesAt(at + length + 4, head, sizeof head))
            return false;
        at += length + 4 + qint64(sizeof head);
        length = qFromBigEndian<quint32>(head);
    }
    if (length != 0)
        return false;
    {
        uchar sum[4];
        if (!bytesAt(at, sum, 4) || qFromBigEndian<quint32>(sum) != quint32(libdeflate_crc32(0, "IEND", 4)))
            return false;
    }
    // Every byte is written by the inflate before it is read.
    const std::unique_ptr<uchar[]> rows = std::make_unique_for_overwrite<uchar[]>(size_t(filtered));
    HeapTuning::mapForWriting(rows.get(), size_t(filtered));
    libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
    if (!inflater)
        return false;
    size_t used = 0, made = 0;
    const libdeflate_result inflated =
        libdeflate_zlib_decompress_ex(inflater, data, size_t(compressed), rows.get(), size_t(filtered), &used, &made);
    libdeflate_free_decompressor(inflater);
    if (inflated != LIBDEFLATE_SUCCESS || used != size_t(compressed) || made != size_t(filtered))
        return false;
    for (qint64 y = 0; y < size.height(); ++y)
        if (rows[size_t(y * (bytes + 1))] > 4)
            return false;
    // Given back now, for the picture to take its place.
    held.reset();
    // From here on the file is read: what fails is the read's own.
    state.retry = false;
    if (!prepare(state, size))
        return false;
    const int step = std::max(1, channels(state.colour) * state.depth / 8);
    const std::vector<uchar> zeros(size_t(bytes), 0);
    for (qint64 y = 0; y < size.height(); ++y) {
        if (y % 64 == 0 && DecodeInterrupt::shouldStop())
            return false;
        uchar *row = rows.get() + y * (bytes + 1);
        const uchar *above = y == 0 ? zeros.data() : row - bytes;
        unfilter(row[0], row + 1, above, bytes, step);
        QRgb *out = !state.image.isNull() ? reinterpret_cast<QRgb *>(state.image.scanLine(int(y))) : state.row.data();
        pixels(state, row + 1, out, size.width());
        if (state.image.isNull() && !takeRow(state, out, png_uint_32(y)))
            return false;
    }
    state.rowsDone = png_uint_32(size.height());
    state.finished = true;
    return true;
}

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
    // A small file needs no more room than it has bytes.
    const qint64 piece = std::clamp<qint64>(state.file.size(), 64, inputBytes);
    state.input = std::make_unique_for_overwrite<char[]>(size_t(piece));
    // Hands the next `length` bytes of the file to libpng, as far as the file holds them.
    auto feed = [&](qint64 length) {
        while (length > 0) {
            if (DecodeInterrupt::shouldStop())
                png_error(png, "decoding stopped");
            const qint64 read = state.file.read(state.input.get(), std::min<qint64>(length, piece));
            if (read > 0)
                png_process_data(png, info, reinterpret_cast<png_bytep>(state.input.get()), size_t(read));
            if (read < std::min<qint64>(length, piece)) {
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
        if (state.wholeBuffer && std::memcmp(head + 4, "IDAT", 4) == 0) {
            // libpng takes the header chunks and the first data chunk's head; the rest is read
            // here, unless the header led libpng to read the rows itself.
            feed(8);
            if (state.headerTaken) {
                if (!readRowsWhole(state, length))
                    return false;
                break;
            }
            feed(length + 4);
            continue;
        }
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

namespace {

// The bytes the whole-buffer road holds beside libpng's share for the picture whose header is
// `head` (the signature and IHDR) in a file of `fileBytes`: its filtered rows and its compressed
// data. 0 when it takes libpng's rows (interlaced, or too large to hold at once).
qint64 wholeBufferHeld(const char *head, qint64 fileBytes)
{
    if (head[28] != 0)
        return 0;
    const int depth = uchar(head[24]);
    if (depth < 1 || depth > 16)
        return 0;
    const qint64 width = qFromBigEndian<quint32>(head + 16);
    const qint64 height = qFromBigEndian<quint32>(head + 20);
    const qint64 filtered = DecodeMemoryBudget::product({rowBytes(uchar(head[25]), depth, width) + 1, height});
    if (filtered > wholeBufferBytes)
        return 0;
    return filtered + std::min(fileBytes, compressedBound(filtered));
}

// A decode's state with the file of `path` open, at its start; null when it cannot be opened.
std::unique_ptr<State> opened(const QString &path)
{
    auto state = std::make_unique<State>();
    if (!FileAccess::openRegularFile(state->file, path))
        return {};
    return state;
}

// Makes libpng ready in `state` for rows that go to `sink` (or, without one, are averaged by
// `factor` or kept whole); false when it cannot be.
bool started(State &state, RowSink *sink, int factor, qint64 allowance, bool wholeBuffer)
{
    state.sink = sink;
    state.factor = factor;
    state.wholeBuffer = wholeBuffer;
    state.allocations.allowance = allowance;
    state.png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, fail, warn, &state.allocations, allocate, release);
    if (!state.png)
        return false;
    state.info = png_create_info_struct(state.png);
    return state.info != nullptr;
}

// Decodes the file open in `state` (whose header was read from it, not taken) through the
// whole-buffer road where `wholeBuffer` allows, and through libpng's rows where that road declines
// the file, read again from `path`.
std::unique_ptr<State> decoded(std::unique_ptr<State> state, const QString &path, RowSink *sink, int factor,
                               qint64 allowance, bool wholeBuffer, bool &succeeded)
{
    succeeded = false;
    if (!started(*state, sink, factor, allowance, wholeBuffer))
        return {};
    succeeded = decode(*state);
    if (succeeded || !state->retry)
        return state;
    const qint64 peak = state->allocations.peak;
    state = opened(path);
    if (state && started(*state, sink, factor, allowance, false)) {
        succeeded = decode(*state);
        state->allocations.peak = std::max(state->allocations.peak, peak);
    } else {
        state.reset();
    }
    return state;
}

} // namespace

PngReader::Result PngReader::read(const QString &path, QSize box, Road road)
{
    LibraryMessages::install();
    Result result;
    std::unique_ptr<State> opening = opened(path);
    if (!opening)
        return result;
    QFile &file = opening->file;
    // The header the signature is followed by: IHDR, its length, width, height, depth, colour
    // type, compression, filter and interlace method.
    char head[29];
    if (file.peek(head, sizeof head) != qint64(sizeof head) || !looksLikePng(head, sizeof head)
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
    const int blocks = int(std::min<qint64>(factor, 1 << 23));
    const qint64 picture =
        blocks > 1 ? DecodeMemoryBudget::sum(
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
    const qint64 whole = road == Road::Fastest ? wholeBufferHeld(head, file.size()) : 0;
    const bool wholeBuffer = whole > 0 && held + whole <= DecodeMemoryBudget::shared().capacity();
    const DecodeMemoryBudget::Reservation reservation =
        DecodeMemoryBudget::shared().reserve(wholeBuffer ? held + whole : held);
    if (DecodeInterrupt::shouldStop())
        return result;
    result.reserved = reservation.bytes();
    bool succeeded = false;
    const std::unique_ptr<State> state =
        decoded(std::move(opening), path, nullptr, blocks, allowance, wholeBuffer, succeeded);
    if (!state)
        return result;
    if (succeeded) {
        result.road = state->wholeBuffer ? Road::Fastest : Road::Library;
        result.image = std::move(state->image);
        if (result.image.size() != target)
            result.image = PictureRows::reduced(result.image, target);
    }
    result.libraryBytes = state->allocations.peak;
    return result;
}

PngReader::Streamed PngReader::stream(const QString &path, RowSink &sink, Road road)
{
    LibraryMessages::install();
    std::unique_ptr<State> opening = opened(path);
    if (!opening)
        return Streamed::Failed;
    QFile &file = opening->file;
    char head[29];
    if (file.peek(head, sizeof head) != qint64(sizeof head) || !looksLikePng(head, sizeof head)
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
    const qint64 whole = road == Road::Fastest ? wholeBufferHeld(head, file.size()) : 0;
    const bool wholeBuffer = whole > 0 && held + whole <= DecodeMemoryBudget::shared().capacity();
    const DecodeMemoryBudget::Reservation reservation =
        DecodeMemoryBudget::shared().reserve(wholeBuffer ? held + whole : held);
    if (DecodeInterrupt::shouldStop())
        return Streamed::Failed;
    bool succeeded = false;
    const std::unique_ptr<State> state = decoded(std::move(opening), path, &sink, 1, allowance, wholeBuffer, succeeded);
    if (!state)
        return Streamed::Failed;
    if (state->declined)
        return Streamed::Declined;
    return succeeded ? Streamed::Whole : Streamed::Failed;
}
