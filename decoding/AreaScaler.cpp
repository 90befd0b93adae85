#include "decoding/AreaScaler.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

using Sums = float __attribute__((vector_size(16)));

// A pixel's four bytes as four sums, in the order QRgb holds them (blue, green, red, alpha).
inline Sums sumsOf(QRgb pixel)
{
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    __m128i lanes = _mm_cvtsi32_si128(int(pixel));
    lanes = _mm_unpacklo_epi16(_mm_unpacklo_epi8(lanes, zero), zero);
    return Sums(_mm_cvtepi32_ps(lanes));
#else
    return Sums{float(pixel & 0xff), float((pixel >> 8) & 0xff), float((pixel >> 16) & 0xff), float(pixel >> 24)};
#endif
}

inline int roundedByte(float value) { return std::clamp(int(value + 0.5f), 0, 255); }

} // namespace

bool AreaScaler::fits(QSize source, QSize target)
{
    return !source.isEmpty() && !target.isEmpty() && target.width() <= source.width()
           && target.height() <= source.height();
}

qint64 AreaScaler::heldBytes(QSize source, QSize target)
{
    return qint64(source.width() + 3) * qint64(sizeof(Sums))
           + qint64(target.width()) * qint64(sizeof(Span) + 3 * sizeof(Sums) + 4 * sizeof(float) + sizeof(QRgb));
}

AreaScaler::AreaScaler(QSize source, QSize target, bool bottomFirst, RowDone rowDone)
    : m_source(source),
      m_target(target),
      m_bottomFirst(bottomFirst),
      m_rowDone(std::move(rowDone))
{
    if (!fits(source, target)) {
        m_failed = true;
        return;
    }
    // In units of 1/target of a pixel of the picture: pixel i of the picture covers
    // [i * target, (i + 1) * target) and pixel x of the result [x * source, (x + 1) * source).
    const qint64 sw = source.width(), tw = target.width();
    m_spans.resize(size_t(tw));
    for (qint64 x = 0; x < tw; ++x) {
        Span &span = m_spans[size_t(x)];
        const qint64 from = x * sw, to = (x + 1) * sw;
        span.first = int(from / tw);
        span.last = int((to - 1) / tw);
        if (span.first == span.last) {
            span.firstWeight = 1;
            continue;
        }
        span.firstWeight = float(double((span.first + 1) * tw - from) / double(sw));
        span.lastWeight = float(double(to - span.last * tw) / double(sw));
        span.middleWeight = float(double(tw) / double(sw));
    }
    constexpr int taps = 4;
    int widest = 0;
    for (const Span &span : m_spans)
        widest = std::max(widest, span.last - span.first + 1);
    if (widest <= taps) {
        m_tapCount = widest;
        m_taps.assign(size_t(tw) * size_t(widest), 0.0f);
        for (size_t x = 0; x < m_spans.size(); ++x) {
            const Span &span = m_spans[x];
            float *weights = m_taps.data() + x * size_t(widest);
            weights[0] = span.firstWeight;
            for (int i = 1; i < span.last - span.first; ++i)
                weights[i] = span.middleWeight;
            if (span.last != span.first)
                weights[span.last - span.first] = span.lastWeight;
        }
    }
    // Past the row's end, what the last spans' unused weights multiply.
    m_pixels.resize(size_t(sw) + taps - 1);
    m_across.resize(size_t(tw));
    m_rows[0].assign(size_t(tw), Sums{});
    m_rows[1].assign(size_t(tw), Sums{});
    m_out.resize(size_t(tw));
}

bool AreaScaler::makePicture(bool alpha)
{
    if (m_failed)
        return false;
    m_picture = QImage(m_target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return !m_picture.isNull();
}

void AreaScaler::reduceAcross(const QRgb *row)
{
    // The row's pixels as sums first, each once, whatever number of the result's pixels it falls in.
    Sums *pixels = m_pixels.data();
    const size_t width = size_t(m_source.width());
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= width; i += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        const __m128i low = _mm_unpacklo_epi8(four, zero), high = _mm_unpackhi_epi8(four, zero);
        pixels[i] = Sums(_mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)));
        pixels[i + 1] = Sums(_mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)));
        pixels[i + 2] = Sums(_mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)));
        pixels[i + 3] = Sums(_mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)));
    }
#endif
    for (; i < width; ++i)
        pixels[i] = sumsOf(row[i]);
    Sums *out = m_across.data();
    const float *weights = m_taps.data();
    switch (m_tapCount) {
    case 1:
        for (const Span &span : m_spans)
            *out++ = *weights++ * pixels[span.first];
        return;
    case 2:
        for (const Span &span : m_spans) {
            const Sums *at = pixels + span.first;
            *out++ = weights[0] * at[0] + weights[1] * at[1];
            weights += 2;
        }
        return;
    case 3:
        for (const Span &span : m_spans) {
            const Sums *at = pixels + span.first;
            *out++ = weights[0] * at[0] + weights[1] * at[1] + weights[2] * at[2];
            weights += 3;
        }
        return;
    case 4:
        for (const Span &span : m_spans) {
            const Sums *at = pixels + span.first;
            *out++ = weights[0] * at[0] + weights[1] * at[1] + weights[2] * at[2] + weights[3] * at[3];
            weights += 4;
        }
        return;
    default:
        break;
    }
    for (const Span &span : m_spans) {
        Sums sum = span.firstWeight * pixels[span.first];
        if (span.last != span.first) {
            sum += span.lastWeight * pixels[span.last];
            if (span.last > span.first + 1) {
                Sums middle = pixels[span.first + 1];
                for (int j = span.first + 2; j < span.last; ++j)
                    middle += pixels[j];
                sum += span.middleWeight * middle;
            }
        }
        *out++ = sum;
    }
}

void AreaScaler::addInto(int row, float weight, const Sums *across, const Sums *colour)
{
    if (colour) {
        m_colour[row] += weight * *colour;
        return;
    }
    Sums *into = m_rows[row].data();
    const size_t width = m_rows[row].size();
    for (size_t x = 0; x < width; ++x)
        into[x] += weight * across[x];
}

// Four sums as the bytes of a pixel, rounded and held to 0-255; no colour above the pixel's alpha
// (premultiplied pixels), which rounding could otherwise leave.
inline QRgb pixelOf(Sums value)
{
    const int alpha = roundedByte(value[3]);
    const int b = std::min(roundedByte(value[0]), alpha), g = std::min(roundedByte(value[1]), alpha),
              r = std::min(roundedByte(value[2]), alpha);
    return QRgb(b) | QRgb(g) << 8 | QRgb(r) << 16 | QRgb(alpha) << 24;
}

void AreaScaler::finishRow()
{
    const Sums *sums = m_rows[0].data();
    const Sums colour = m_colour[0];
    const size_t width = m_out.size();
    size_t x = 0;
#ifdef __SSE2__
    // Four pixels at a time: rounded to the nearest, held to 0-255 as they are packed into bytes,
    // each colour then held to its pixel's alpha.
    const __m128 add = __m128(colour);
    for (; x + 4 <= width; x += 4) {
        const __m128i p0 = _mm_cvtps_epi32(_mm_add_ps(__m128(sums[x]), add));
        const __m128i p1 = _mm_cvtps_epi32(_mm_add_ps(__m128(sums[x + 1]), add));
        const __m128i p2 = _mm_cvtps_epi32(_mm_add_ps(__m128(sums[x + 2]), add));
        const __m128i p3 = _mm_cvtps_epi32(_mm_add_ps(__m128(sums[x + 3]), add));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(p0, p1), _mm_packs_epi32(p2, p3));
        __m128i alpha = _mm_srli_epi32(bytes, 24);
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(m_out.data() + x), _mm_min_epu8(bytes, alpha));
    }
#endif
    for (; x < width; ++x)
        m_out[x] = pixelOf(sums[x] + colour);
    const int y = m_bottomFirst ? m_target.height() - 1 - m_rowsDone : m_rowsDone;
    ++m_rowsDone;
    if (m_rowDone) {
        if (!m_rowDone(m_out.data(), y))
            m_failed = true;
    } else if (!m_picture.isNull()) {
        std::memcpy(m_picture.scanLine(y), m_out.data(), width * sizeof(QRgb));
    }
    std::swap(m_rows[0], m_rows[1]);
    std::fill(m_rows[1].begin(), m_rows[1].end(), Sums{});
    m_colour[0] = m_colour[1];
    m_colour[1] = Sums{};
}

void AreaScaler::addRow(const QRgb *row)
{
    if (m_failed || m_rowsAdded >= m_source.height())
        return;
    reduceAcross(row);
    // In units of 1/target of a row: row j of the picture covers [j * target, (j + 1) * target) and
    // row k of the result [k * source, (k + 1) * source). No row of the picture reaches past the
    // next row of the result, which is at least as tall.
    const qint64 sh = m_source.height(), th = m_target.height();
    const qint64 from = m_rowsAdded * th, to = from + th, boundary = (qint64(m_rowsDone) + 1) * sh;
    ++m_rowsAdded;
    if (to <= boundary) {
        addInto(0, float(double(th) / double(sh)), m_across.data(), nullptr);
        if (to == boundary)
            finishRow();
        return;
    }
    addInto(0, float(double(boundary - from) / double(sh)), m_across.data(), nullptr);
    addInto(1, float(double(to - boundary) / double(sh)), m_across.data(), nullptr);
    finishRow();
}

void AreaScaler::addRows(QRgb colour, qint64 count)
{
    count = std::min<qint64>(count, m_source.height() - m_rowsAdded);
    const Sums sums = sumsOf(colour);
    const qint64 sh = m_source.height(), th = m_target.height();
    while (count > 0 && !m_failed) {
        const qint64 from = m_rowsAdded * th, boundary = (qint64(m_rowsDone) + 1) * sh;
        // The rows that end within the result's row being made, then the one across its end.
        const qint64 within = std::min(count, (boundary - from) / th);
        if (within > 0) {
            addInto(0, float(double(within * th) / double(sh)), nullptr, &sums);
            m_rowsAdded += within;
            count -= within;
            if (m_rowsAdded * th == boundary)
                finishRow();
            continue;
        }
        const qint64 to = from + th;
        addInto(0, float(double(boundary - from) / double(sh)), nullptr, &sums);
        addInto(1, float(double(to - boundary) / double(sh)), nullptr, &sums);
        ++m_rowsAdded;
        --count;
        finishRow();
    }
}

QImage AreaScaler::scaled(const QImage &image, QSize target)
{
    if (image.isNull() || !fits(image.size(), target))
        return {};
    const bool alpha = image.hasAlphaChannel();
    AreaScaler scaler(image.size(), target, false);
    if (!scaler.makePicture(alpha))
        return {};
    const bool direct = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32;
    for (int y = 0; y < image.height(); ++y) {
        if (direct) {
            scaler.addRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)));
            continue;
        }
        QImage line(image.constScanLine(y), image.width(), 1, image.bytesPerLine(), image.format());
        if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
            || image.format() == QImage::Format_MonoLSB)
            line.setColorTable(image.colorTable());
        const QImage converted =
            line.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        if (converted.isNull())
            return {};
        scaler.addRow(reinterpret_cast<const QRgb *>(converted.constScanLine(0)));
    }
    QImage result = scaler.takePicture();
    result.setColorSpace(image.colorSpace());
    result.setDotsPerMeterX(image.dotsPerMeterX());
    result.setDotsPerMeterY(image.dotsPerMeterY());
    return result;
}
