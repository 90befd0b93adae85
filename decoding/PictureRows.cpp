#include "decoding/PictureRows.h"

#include "platform/HeapTuning.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OVN_ENLARGE_AVX2 1
#endif

namespace {

using Budget = DecodeMemoryBudget;

// A picture made `target`'s size on this thread: the exact average of the area each new pixel
// covers where the target is no larger either way, else Qt's smooth scaling (enlarged on a side).
QImage finished(const QImage &image, QSize target)
{
    if (AreaScaler::fits(image.size(), target))
        return AreaScaler::scaled(image, target);
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Whether every pixel of an ARGB32 picture (premultiplied or not) is opaque.
bool opaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

thread_local PictureRows::StreamScope *currentStream = nullptr;
thread_local PictureRows::IndexedScope *currentIndexed = nullptr;

} // namespace

PictureRows::IndexedScope::IndexedScope() : m_outer(currentIndexed) { currentIndexed = this; }

PictureRows::IndexedScope::~IndexedScope() { currentIndexed = m_outer; }

bool PictureRows::IndexedScope::take(QSize size, QSize box)
{
    IndexedScope *scope = currentIndexed;
    if (!scope || scope->m_taken || size.isEmpty())
        return false;
    if (box.isValid() && !box.isEmpty() && ImageFileReader::fittedSize(size, box) != size)
        return false;
    if (currentStream && !currentStream->m_taken)
        return false;
    scope->m_taken = true;
    return true;
}

QImage PictureRows::expanded(const QImage &image)
{
    if (image.format() != QImage::Format_Indexed8)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

PictureRows::StreamScope::StreamScope(RowSink &sink) : m_sink(sink), m_outer(currentStream) { currentStream = this; }

PictureRows::StreamScope::~StreamScope() { currentStream = m_outer; }

PictureRows::PictureRows(QSize size, QSize box, Order order, bool alpha)
    : m_size(size),
      m_target(box.isValid() && !box.isEmpty() ? ImageFileReader::fittedSize(size, box) : size),
      m_order(order),
      m_alpha(alpha)
{}

qint64 PictureRows::heldBytes() const
{
    if (m_size.isEmpty())
        return 0;
    if (m_target == m_size)
        return Budget::product({m_size.width(), m_size.height(), 4});
    const qint64 target = Budget::product({m_target.width(), m_target.height(), 4});
    // Reduced as it comes: a row, the scaler's sums and the result.
    if (AreaScaler::fits(m_size, m_target))
        return Budget::sum({Budget::product({m_size.width(), 4}), AreaScaler::heldBytes(m_size, m_target), target});
    // Enlarged on a side: the picture, and its scaled copy.
    return Budget::sum({Budget::product({m_size.width(), m_size.height(), 4}), target});
}

bool PictureRows::streamsTopFirst() const
{
    if (m_order != Order::BottomFirst || !m_seekable)
        return false;
    if (m_started)
        return m_stream != nullptr;
    const StreamScope *stream = currentStream;
    return stream && !stream->m_taken && m_target == m_size && !m_size.isEmpty();
}

bool PictureRows::start(qint64 readerBytes, ImageFileReader::Facts *facts)
{
    if (facts)
        facts->size = m_size;
    if (m_size.isEmpty())
        return false;
    m_started = true;
    StreamScope *stream = currentStream;
    if (stream && !stream->m_taken && m_target == m_size) {
        stream->m_taken = true;
        if (!m_icc.isEmpty())
            stream->m_sink.setColourProfile(m_icc);
        if (!stream->m_sink.begin(m_size, m_alpha ? RowSink::Pixels::PremultipliedArgb32 : RowSink::Pixels::Rgb32)) {
            stream->m_declined = true;
            return false;
        }
        if (m_order == Order::TopFirst || m_seekable)
            m_stream = stream;
        else
            m_streamWhole = stream;
    }
    const bool streams = m_stream != nullptr;
    const qint64 held = Budget::sum({streams ? Budget::product({m_size.width(), 4}) : heldBytes(), readerBytes});
    if (held > Budget::shared().capacity()) {
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    m_reservation = Budget::shared().reserve(held);
    if (streams) {
        m_row.resize(size_t(m_size.width()));
        return true;
    }
    if (m_target != m_size && AreaScaler::fits(m_size, m_target)) {
        m_scaler.emplace(m_size, m_target, m_order == Order::BottomFirst);
        m_row.resize(size_t(m_size.width()));
        if (!m_scaler->makePicture(m_alpha)) {
            m_scaler.reset();
            if (facts)
                facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
            return false;
        }
        return true;
    }
    m_image = QImage(m_size, m_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (m_image.isNull()) {
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    // Every row is written, read or filled.
    HeapTuning::mapForWriting(m_image.bits(), size_t(m_image.sizeInBytes()));
    return true;
}

void PictureRows::next()
{
    if (isComplete())
        return;
    if (m_stream) {
        if (m_alpha)
            for (QRgb &pixel : m_row)
                pixel = qPremultiply(pixel);
        if (!m_stream->m_failed && !m_stream->m_sink.addRows(reinterpret_cast<const uchar *>(m_row.data()), 0, 1))
            m_stream->m_failed = true;
    } else if (m_scaler) {
        if (m_alpha)
            for (QRgb &pixel : m_row)
                pixel = qPremultiply(pixel);
        m_scaler->addRow(m_row.data());
    }
    ++m_rowsDone;
}

void PictureRows::fill(QRgb colour, qint64 count)
{
    count = std::min<qint64>(count, m_size.height() - m_rowsDone);
    if (count <= 0)
        return;
    if (m_stream) {
        std::fill(m_row.begin(), m_row.end(), m_alpha ? qPremultiply(colour) : colour);
        for (qint64 i = 0; i < count && !m_stream->m_failed; ++i)
            if (!m_stream->m_sink.addRows(reinterpret_cast<const uchar *>(m_row.data()), 0, 1))
                m_stream->m_failed = true;
    } else if (m_scaler) {
        m_scaler->addRows(qPremultiply(colour), count);
    } else {
        for (qint64 i = 0; i < count; ++i) {
            QRgb *line = rowOfPicture(m_rowsDone + int(i));
            std::fill(line, line + m_size.width(), colour);
        }
    }
    m_rowsDone += int(count);
}

QImage PictureRows::take(QRgb rest)
{
    QImage image = takeRows(rest);
    if (!image.isNull() && !m_icc.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(m_icc));
    return image;
}

QImage PictureRows::takeRows(QRgb rest)
{
    if (m_stream) {
        fill(rest, m_size.height() - m_rowsDone);
        m_stream->m_streamed = !m_stream->m_failed;
        m_stream = nullptr;
        m_row = std::vector<QRgb>();
        return {};
    }
    if (m_image.isNull() && !m_scaler)
        return {};
    fill(rest, m_size.height() - m_rowsDone);
    m_row = std::vector<QRgb>();
    // A picture whose rows were all opaque is RGB32: the same pixels.
    if (m_scaler) {
        QImage image = m_scaler->takePicture();
        m_scaler.reset();
        if (m_alpha && opaque(image))
            image.reinterpretAsFormat(QImage::Format_RGB32);
        return image;
    }
    if (m_alpha && opaque(m_image))
        m_image.reinterpretAsFormat(QImage::Format_RGB32);
    if (StreamScope *stream = std::exchange(m_streamWhole, nullptr)) {
        // Top first, a row at a time, premultiplied where translucent.
        std::vector<QRgb> line(size_t(m_image.width()));
        for (int y = 0; y < m_image.height() && !stream->m_failed; ++y) {
            const auto *in = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
            for (int x = 0; x < m_image.width(); ++x)
                line[size_t(x)] = m_alpha ? qPremultiply(in[x]) : in[x];
            if (!stream->m_sink.addRows(reinterpret_cast<const uchar *>(line.data()), 0, 1))
                stream->m_failed = true;
        }
        stream->m_streamed = !stream->m_failed;
        m_image = QImage();
        return {};
    }
    if (m_target != m_size)
        return finished(std::exchange(m_image, QImage()), m_target);
    return std::move(m_image);
}

QImage PictureRows::reduced(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    QImage scaled = finished(image, target);
    scaled.setColorSpace(image.colorSpace());
    return scaled;
}

namespace {

// Where output pixel `at` of `outSize` falls between the input's pixels (`inSize` of them), their
// centres matched: the input pixel left of (or above) it and the weight of the one after, in
// 128ths; clamped at the edges, where the nearest pixel stands alone.
struct Between {
    int first;
    int weight;
};

Between between(int at, int outSize, int inSize)
{
    // In 1/65536 of an input pixel: (at + 0.5) * in / out - 0.5.
    const qint64 position = ((2 * qint64(at) + 1) * inSize * 65536) / (2 * qint64(outSize)) - 32768;
    if (position <= 0)
        return {0, 0};
    const int first = int(position >> 16);
    if (first >= inSize - 1)
        return {inSize - 2, 128};
    return {first, int(((position & 0xffff) + 256) >> 9)};
}

// `count` pixels of two rows blended, `weight` 128ths of the second.
void blendRows(const uchar *top, const uchar *bottom, uchar *out, qsizetype bytes, int weight)
{
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(64);
    const __m128i wTop = _mm_set1_epi16(short(128 - weight)), wBottom = _mm_set1_epi16(short(weight));
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(top + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + i));
        const auto blend = [&](__m128i x, __m128i y) {
            return _mm_srli_epi16(
                _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(x, wTop), _mm_mullo_epi16(y, wBottom)), half), 7);
        };
        const __m128i low = blend(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i high = blend(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < bytes; ++i)
        out[i] = uchar((top[i] * (128 - weight) + bottom[i] * weight + 64) >> 7);
}

// Where each output column falls, with its two weights ready for the blend.
struct Column {
    int first;
    int weight;
#ifdef __SSE2__
    __m128i weights; // 128 - weight in the first pixel's four lanes, weight in the second's
#endif
};

std::vector<Column> columnsOf(int outWidth, int inWidth)
{
    std::vector<Column> columns(static_cast<size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x) {
        const Between at = between(x, outWidth, inWidth);
        Column &column = columns[size_t(x)];
        column.first = at.first;
        column.weight = at.weight;
#ifdef __SSE2__
        column.weights = _mm_unpacklo_epi64(_mm_set1_epi16(short(128 - at.weight)), _mm_set1_epi16(short(at.weight)));
#endif
    }
    return columns;
}

// One output pixel from a blended input row: its two neighbours' blend.
void blendColumn(const QRgb *in, QRgb *out, const Column &at)
{
    const auto *a = reinterpret_cast<const uchar *>(in + at.first);
    auto *o = reinterpret_cast<uchar *>(out);
    for (int c = 0; c < 4; ++c)
        o[c] = uchar((a[c] * (128 - at.weight) + a[c + 4] * at.weight + 64) >> 7);
}

// One output row from a blended input row: each pixel its two neighbours' blend.
void blendColumns(const QRgb *in, QRgb *out, const std::vector<Column> &columns)
{
    const qsizetype count = qsizetype(columns.size());
    qsizetype x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(64);
    // The two pixels side by side, each channel in a lane of its own, weighed and summed (in the
    // low four lanes).
    const auto pair = [&](const Column &at) {
        const __m128i pixels =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + at.first)), zero);
        const __m128i products = _mm_mullo_epi16(pixels, at.weights);
        return _mm_add_epi16(products, _mm_srli_si128(products, 8));
    };
    for (; x + 2 <= count; x += 2) {
        const __m128i both = _mm_unpacklo_epi64(pair(columns[size_t(x)]), pair(columns[size_t(x + 1)]));
        const __m128i blended = _mm_srli_epi16(_mm_add_epi16(both, half), 7);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + x), _mm_packus_epi16(blended, blended));
    }
#endif
    for (; x < count; ++x)
        blendColumn(in, out + x, columns[size_t(x)]);
}

#ifdef OVN_ENLARGE_AVX2
// The same blends on processors with AVX2, to the same value in every byte: rows 32 bytes at a
// time, columns eight output pixels at a time.
[[gnu::target("avx2")]] void blendRowsAvx2(const uchar *top, const uchar *bottom, uchar *out, qsizetype bytes,
                                           int weight)
{
    const __m256i half = _mm256_set1_epi16(64);
    const __m256i wTop = _mm256_set1_epi16(short(128 - weight)), wBottom = _mm256_set1_epi16(short(weight));
    qsizetype i = 0;
    for (; i + 32 <= bytes; i += 32) {
        __m256i blended[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i a =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(top + i + 16 * h)));
            const __m256i b =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + i + 16 * h)));
            blended[h] = _mm256_srli_epi16(
                _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, wTop), _mm256_mullo_epi16(b, wBottom)), half),
                7);
        }
        // The pack works within each half: its quarters back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(blended[0], blended[1]), 0xd8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), packed);
    }
    for (; i < bytes; ++i)
        out[i] = uchar((top[i] * (128 - weight) + bottom[i] * weight + 64) >> 7);
}

// Eight output columns at once: as no output column lies left of the one before, nor further
// right than one input pixel, their left input pixels lie within eight from the first one's
// (`base`), and each is picked from one load of the row (`pick`), its right neighbour from a load
// one pixel on; `left` and `right` hold each pixel's weights in its four channels' lanes.
struct ColumnGroup {
    int base;
    int pick[8];
    short left[32], right[32];
};

// The groups of eight of `columns` that can be read this way (each group's loads within a row of
// `inWidth` pixels); the columns after the last group are blended one at a time.
std::vector<ColumnGroup> columnGroupsOf(const std::vector<Column> &columns, int inWidth)
{
    std::vector<ColumnGroup> groups;
    for (size_t x = 0; x + 8 <= columns.size(); x += 8) {
        const int base = columns[x].first;
        if (columns[x + 7].first - base > 7 || base + 9 > inWidth)
            break;
        ColumnGroup group;
        group.base = base;
        for (int i = 0; i < 8; ++i) {
            group.pick[i] = columns[x + size_t(i)].first - base;
            for (int c = 0; c < 4; ++c) {
                group.left[4 * i + c] = short(128 - columns[x + size_t(i)].weight);
                group.right[4 * i + c] = short(columns[x + size_t(i)].weight);
            }
        }
        groups.push_back(group);
    }
    return groups;
}

[[gnu::target("avx2")]] void blendColumnsAvx2(const QRgb *in, QRgb *out, const std::vector<Column> &columns,
                                              const std::vector<ColumnGroup> &groups)
{
    const __m256i half = _mm256_set1_epi16(64);
    qsizetype x = 0;
    for (const ColumnGroup &group : groups) {
        const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(group.pick));
        const __m256i lefts =
            _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + group.base)), pick);
        const __m256i rights = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + group.base + 1)), pick);
        __m256i blended[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i a =
                _mm256_cvtepu8_epi16(h == 0 ? _mm256_castsi256_si128(lefts) : _mm256_extracti128_si256(lefts, 1));
            const __m256i b =
                _mm256_cvtepu8_epi16(h == 0 ? _mm256_castsi256_si128(rights) : _mm256_extracti128_si256(rights, 1));
            blended[h] = _mm256_srli_epi16(
                _mm256_add_epi16(
                    _mm256_add_epi16(_mm256_mullo_epi16(
                                         a, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(group.left + 16 * h))),
                                     _mm256_mullo_epi16(b, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(
                                                               group.right + 16 * h)))),
                    half),
                7);
        }
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(blended[0], blended[1]), 0xd8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), packed);
        x += 8;
    }
    const qsizetype count = qsizetype(columns.size());
    for (; x < count; ++x)
        blendColumn(in, out + x, columns[size_t(x)]);
}

bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

} // namespace

QImage PictureRows::enlarged(const QImage &image, QSize target)
{
    if (image.isNull() || target.width() < image.width() || target.height() < image.height())
        return {};
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    // Pictures of one pixel's width or height are Qt's to scale; the blend needs two.
    if (image.width() < 2 || image.height() < 2)
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage in = image.convertToFormat(format);
    QImage out(target, format);
    if (in.isNull() || out.isNull())
        return {};
    const std::vector<Column> columns = columnsOf(target.width(), in.width());
    std::vector<QRgb> row(size_t(in.width()));
    const qsizetype rowBytes = qsizetype(in.width()) * qsizetype(sizeof(QRgb));
#ifdef OVN_ENLARGE_AVX2
    if (hasAvx2()) {
        const std::vector<ColumnGroup> groups = columnGroupsOf(columns, in.width());
        for (int y = 0; y < target.height(); ++y) {
            const Between at = between(y, target.height(), in.height());
            blendRowsAvx2(in.constScanLine(at.first), in.constScanLine(at.first + 1),
                          reinterpret_cast<uchar *>(row.data()), rowBytes, at.weight);
            blendColumnsAvx2(row.data(), reinterpret_cast<QRgb *>(out.scanLine(y)), columns, groups);
        }
    } else
#endif
    {
        for (int y = 0; y < target.height(); ++y) {
            const Between at = between(y, target.height(), in.height());
            blendRows(in.constScanLine(at.first), in.constScanLine(at.first + 1), reinterpret_cast<uchar *>(row.data()),
                      rowBytes, at.weight);
            blendColumns(row.data(), reinterpret_cast<QRgb *>(out.scanLine(y)), columns);
        }
    }
    out.setColorSpace(image.colorSpace());
    // Translucent pixels kept as they came, as Qt's scaling keeps them.
    return image.format() == QImage::Format_ARGB32 ? out.convertToFormat(QImage::Format_ARGB32) : out;
}

QImage PictureRows::onWhite(const QImage &image)
{
    if (image.isNull() || !image.hasAlphaChannel())
        return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    // Premultiplied: what the pixel covers is its colour, the rest (255 - alpha) is white.
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const int white = 255 - qAlpha(p);
            line[x] =
                qRgb(std::min(255, qRed(p) + white), std::min(255, qGreen(p) + white), std::min(255, qBlue(p) + white));
        }
    }
    out.reinterpretAsFormat(QImage::Format_RGB32);
    out.setColorSpace(image.colorSpace());
    return out;
}
