#include "OVNAdjustChain.h"

#include <QColorSpace>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <cmath>
#include <thread>

// Choices the filters' documentation leaves open:
// - luma is Rec. 709 on linear values (0.2126, 0.7152, 0.0722);
// - hue turns colours about the grey axis (a rotation, so 2pi/3 takes red exactly to green);
// - contrast pivots on 0.5, brightness adds, saturation mixes with luma, all on linear values;
// - sharpening: a luminance sharpen against a 3x3 box blur with the given amount, then an unsharp
//   mask of radius 2.5 (Gaussian sigma 2.5) with half the amount; amount 0 leaves the picture alone;
// - sepia mixes with the classic sepia matrix by the intensity;
// - the white point scales each channel by the colour, so white is the identity.

namespace OVNAdjustChain {
namespace {

constexpr float kLumaR = 0.2126f, kLumaG = 0.7152f, kLumaB = 0.0722f;

float srgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

float linearToSrgb(float v)
{
    v = std::clamp(v, 0.0f, 1.0f);
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

// 8-bit sRGB to linear light, as every picture enters the chain.
const std::array<float, 256> &linearTable()
{
    static const std::array<float, 256> lut = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = srgbToLinear(i / 255.0f);
        return t;
    }();
    return lut;
}

// Where red, green, blue and alpha are in a packed pixel's four bytes.
struct ByteOrder {
    int r, g, b, a;
};

ByteOrder byteOrderOf(QImage::Format format)
{
    if (format == QImage::Format_RGBA8888)
        return {0, 1, 2, 3};
    // 0xAARRGGBB in memory, least significant byte first.
    return {2, 1, 0, 3};
}

inline void linearPixel(const uchar *s, ByteOrder o, const std::array<float, 256> &lut, float *d)
{
    const float a = s[o.a] / 255.0f;
    d[0] = lut[s[o.r]] * a;
    d[1] = lut[s[o.g]] * a;
    d[2] = lut[s[o.b]] * a;
    d[3] = a;
}

// A packed picture's pixels, read without asking the picture each time.
struct PackedPixels {
    const uchar *bits;
    qsizetype bytesPerLine;
    ByteOrder order;
    const std::array<float, 256> *lut;

    explicit PackedPixels(const QImage &image)
        : bits(image.constBits()),
          bytesPerLine(image.bytesPerLine()),
          order(byteOrderOf(image.format())),
          lut(&linearTable())
    {}
    const uchar *at(int x, int y) const { return bits + y * bytesPerLine + std::size_t(x) * 4; }
    void pixel(int x, int y, float *d) const { linearPixel(at(x, y), order, *lut, d); }
};

int threadCount(int threads)
{
    if (threads > 0)
        return threads;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Bilinear sample of a premultiplied picture; transparent outside.
void sample(const OVNLinearImage &img, double x, double y, float *out)
{
    x -= 0.5;
    y -= 0.5;
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = float(x - x0), fy = float(y - y0);
    out[0] = out[1] = out[2] = out[3] = 0;
    for (int j = 0; j < 2; ++j) {
        const int yy = y0 + j;
        if (yy < 0 || yy >= img.height)
            continue;
        const float wy = j ? fy : 1 - fy;
        for (int i = 0; i < 2; ++i) {
            const int xx = x0 + i;
            if (xx < 0 || xx >= img.width)
                continue;
            const float w = wy * (i ? fx : 1 - fx);
            float p[4];
            img.readPixel(xx, yy, p);
            for (int c = 0; c < 4; ++c)
                out[c] += w * p[c];
        }
    }
}

// x' = a x + b y + c, y' = d x + e y + f.
struct Affine {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;
    // This map applied after `first`.
    Affine after(const Affine &first) const
    {
        return {a * first.a + b * first.d, a * first.b + b * first.e, a * first.c + b * first.f + c,
                d * first.a + e * first.d, d * first.b + e * first.e, d * first.c + e * first.f + f};
    }
};

// Pixel (x, y) of the picture whose pixel centres map through `map` into `src` (continuous
// coordinates, pixel i covering [i, i + 1)), sampled bilinearly; transparent outside.
// `packed` reads src when it is packed.
inline void resamplePixel(const OVNLinearImage &src, const PackedPixels *packedSrc, const Affine &map, int x, int y,
                          float *d)
{
    const double oy = y + 0.5;
    // The row's start and step in the source, less half a pixel for the pixel centres.
    const double rowX = map.b * oy + map.c - 0.5 + map.a * 0.5, rowY = map.e * oy + map.f - 0.5 + map.d * 0.5;
    const double sx = rowX + map.a * x, sy = rowY + map.d * x;
    // Truncation floors above -1; anything further left or up is outside anyway.
    const int x0 = int(sx + 1) - 1, y0 = int(sy + 1) - 1;
    if (x0 >= 0 && y0 >= 0 && x0 + 1 < src.width && y0 + 1 < src.height) {
        const float fx = float(sx - x0), fy = float(sy - y0);
        float packed[16];
        const float *p0, *p1;
        if (packedSrc) {
            const uchar *top = packedSrc->at(x0, y0), *bottom = packedSrc->at(x0, y0 + 1);
            linearPixel(top, packedSrc->order, *packedSrc->lut, packed);
            linearPixel(top + 4, packedSrc->order, *packedSrc->lut, packed + 4);
            linearPixel(bottom, packedSrc->order, *packedSrc->lut, packed + 8);
            linearPixel(bottom + 4, packedSrc->order, *packedSrc->lut, packed + 12);
            p0 = packed;
            p1 = packed + 8;
        } else if (src.hasFloats()) {
            p0 = src.row(y0) + std::size_t(x0) * 4;
            p1 = src.row(y0 + 1) + std::size_t(x0) * 4;
        } else {
            src.readPixels(x0, y0, 2, packed);
            src.readPixels(x0, y0 + 1, 2, packed + 8);
            p0 = packed;
            p1 = packed + 8;
        }
        const float w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
        for (int c = 0; c < 4; ++c)
            d[c] = w00 * p0[c] + w10 * p0[4 + c] + w01 * p1[c] + w11 * p1[4 + c];
    } else {
        sample(src, sx + 0.5, sy + 0.5, d);
    }
}

// A picture of outW x outH whose pixel centres map through `map` into `src`.
OVNLinearImage resample(const OVNLinearImage &src, int outW, int outH, const Affine &map, int threads)
{
    OVNLinearImage out = OVNLinearImage::allocate(outW, outH);
    const std::optional<PackedPixels> packed = src.isPacked() ? std::optional<PackedPixels>(PackedPixels(src.packed))
                                                              : std::nullopt;
    forRows(outH, threads, [&](int y) {
        float *d = out.row(y);
        for (int x = 0; x < outW; ++x, d += 4)
            resamplePixel(src, packed ? &*packed : nullptr, map, x, y, d);
    });
    return out;
}

// From the chain's geometric result (straighten, then turn) back to the source's coordinates.
Affine geometricToSource(int width, int height, const OVNAdjustValues &v)
{
    OVNAdjustValues straightenOnly;
    straightenOnly.straighten = v.straighten;
    int sw = width, sh = height;
    geometricSize(width, height, straightenOnly, &sw, &sh);
    Affine unturn;
    if (v.rotation == 90)
        unturn = {0, 1, 0, -1, 0, double(sh)};
    else if (v.rotation == 180)
        unturn = {-1, 0, double(sw), 0, -1, double(sh)};
    else if (v.rotation == 270)
        unturn = {0, -1, double(sw), 1, 0, 0};
    Affine unstraighten;
    if (v.straighten != 0) {
        const double a = v.straighten * M_PI / 180, c = std::cos(a), s = std::sin(a);
        unstraighten = {c, -s, -c * sw / 2 + s * sh / 2 + width / 2.0, s, c, -s * sw / 2 - c * sh / 2 + height / 2.0};
    }
    return unstraighten.after(unturn);
}

double lanczos3(double x)
{
    x = std::abs(x);
    if (x < 1e-9)
        return 1;
    if (x >= 3)
        return 0;
    const double px = M_PI * x;
    return 3 * std::sin(px) * std::sin(px / 3) / (px * px);
}

struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights; // count[i] weights per output, at offset i * maxTaps
    int maxTaps = 0;
};

Taps lanczosTaps(int inSize, int outSize)
{
    Taps t;
    const double scale = double(outSize) / inSize;
    const double support = 3 / std::min(scale, 1.0);
    t.maxTaps = int(std::ceil(support * 2)) + 2;
    t.first.resize(outSize);
    t.count.resize(outSize);
    t.weights.assign(std::size_t(outSize) * t.maxTaps, 0);
    for (int o = 0; o < outSize; ++o) {
        const double centre = (o + 0.5) / scale;
        const int lo = std::max(0, int(std::floor(centre - support)));
        const int hi = std::min(inSize - 1, int(std::ceil(centre + support)));
        double sum = 0;
        const int n = std::min(hi - lo + 1, t.maxTaps);
        for (int k = 0; k < n; ++k) {
            const double w = lanczos3((lo + k + 0.5 - centre) * std::min(scale, 1.0));
            t.weights[std::size_t(o) * t.maxTaps + k] = float(w);
            sum += w;
        }
        if (sum != 0)
            for (int k = 0; k < n; ++k)
                t.weights[std::size_t(o) * t.maxTaps + k] /= float(sum);
        t.first[o] = lo;
        t.count[o] = n;
    }
    return t;
}

// pow(x, p) for x >= 0 as exp2(p * log2(x)), with series good to about 1e-6 relative: well within
// what 8-bit output can show, and several times faster than std::pow.
inline float fastLog2(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const float e = float(int((bits >> 23) & 0xff) - 127);
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &bits, 4);
    // log2(m) = 2/ln 2 * atanh((m - 1) / (m + 1)), m in [1, 2).
    const float t = (m - 1) / (m + 1), t2 = t * t;
    const float series =
        t * (1 + t2 * (1.0f / 3 + t2 * (1.0f / 5 + t2 * (1.0f / 7 + t2 * (1.0f / 9 + t2 * (1.0f / 11))))));
    return e + 2.8853900817779268f * series;
}

inline float fastExp2(float y)
{
    y = std::min(std::max(y, -126.0f), 126.0f);
    const int n = int(y + 127.5f) - 127;                  // rounded; the sum is positive, so truncation floors it
    const float f = (y - float(n)) * 0.6931471805599453f; // |f| <= ln2 / 2
    const float poly =
        1 + f * (1 + f * (0.5f + f * (1.0f / 6 + f * (1.0f / 24 + f * (1.0f / 120 + f * (1.0f / 720))))));
    const std::uint32_t bits = std::uint32_t(n + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, 4);
    return poly * scale;
}

inline float fastPow(float x, float p)
{
    const float v = fastExp2(p * fastLog2(std::max(x, 1e-30f)));
    return x > 1e-30f ? v : 0.0f;
}

// The colour stages' constants, worked out once per run.
struct ColourParams {
    bool exposure, gamma, controls, hue, whitePoint, sepia, sharpen;
    float gain, power, sat, bri, con, sepiaAmount, sharpness;
    float m[9];
    float wp[3];

    explicit ColourParams(const OVNAdjustValues &v)
    {
        exposure = v.exposure != 0;
        gamma = v.gamma != 0.75;
        controls = !(v.saturation == 100 && v.brightness == 0 && v.contrast == 100);
        hue = v.tint != 0;
        whitePoint = bool(v.whitePoint);
        sepia = v.sepia != 0;
        sharpen = v.sharpness != 0;
        gain = float(std::exp2(v.exposure));
        power = float(v.gamma);
        sat = float(v.saturation / 100);
        bri = float(v.brightness / 100);
        con = float(v.contrast / 100);
        sepiaAmount = float(v.sepia);
        sharpness = float(v.sharpness);
        // Rotation about the grey axis (Rodrigues).
        const float c = float(std::cos(v.tint)), s = float(std::sin(v.tint)), k = 1 / std::sqrt(3.0f);
        const float t = 1 - c;
        m[0] = c + k * k * t;
        m[1] = k * k * t - k * s;
        m[2] = k * k * t + k * s;
        m[3] = k * k * t + k * s;
        m[4] = c + k * k * t;
        m[5] = k * k * t - k * s;
        m[6] = k * k * t - k * s;
        m[7] = k * k * t + k * s;
        m[8] = c + k * k * t;
        for (int i = 0; i < 3; ++i)
            wp[i] = whitePoint ? float((*v.whitePoint)[i]) : 1.0f;
    }
    bool anyBefore() const { return exposure || gamma || controls || hue; }
    bool anyAfter() const { return whitePoint || sepia; }
};

// Wider vector units where the processor has them; every element is computed alone, by the same
// operations, so the result does not depend on which version runs.
#define OVN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

// d = k * s over n floats.
OVN_VECTOR_CLONES void setScaled(float *__restrict d, const float *__restrict s, float k, std::size_t n)
{
    for (std::size_t j = 0; j < n; ++j)
        d[j] = k * s[j];
}

// d += k * s over n floats.
OVN_VECTOR_CLONES void addScaled(float *__restrict d, const float *__restrict s, float k, std::size_t n)
{
    for (std::size_t j = 0; j < n; ++j)
        d[j] += k * s[j];
}

// The pointwise stages before sharpening (before = true) or after it, on a row of premultiplied
// pixels in place; the formulas see straight colour. Each stage is one simple loop over planes of
// the row, so that the compiler can vectorise it.
OVN_VECTOR_CLONES void pointwise(const ColourParams &k, bool before, float *p, int n)
{
    if (before ? !k.anyBefore() : !k.anyAfter())
        return;
    thread_local std::vector<float> planes;
    planes.resize(std::size_t(n) * 4);
    float *R = planes.data(), *G = R + n, *B = G + n, *A = B + n;
    for (int x = 0; x < n; ++x) {
        const float alpha = p[x * 4 + 3];
        // Branch-free, so that the loop vectorises: transparent pixels get 0 / 1.
        const float inv = (alpha > 0 ? 1.0f : 0.0f) / (alpha > 0 ? alpha : 1.0f);
        R[x] = p[x * 4] * inv;
        G[x] = p[x * 4 + 1] * inv;
        B[x] = p[x * 4 + 2] * inv;
        A[x] = alpha;
    }
    if (before) {
        if (k.exposure)
            for (int x = 0; x < n; ++x) {
                R[x] *= k.gain;
                G[x] *= k.gain;
                B[x] *= k.gain;
            }
        if (k.gamma)
            for (int x = 0; x < n; ++x) {
                R[x] = fastPow(R[x], k.power);
                G[x] = fastPow(G[x], k.power);
                B[x] = fastPow(B[x], k.power);
            }
        if (k.controls)
            for (int x = 0; x < n; ++x) {
                const float l = kLumaR * R[x] + kLumaG * G[x] + kLumaB * B[x];
                R[x] = ((l + k.sat * (R[x] - l) + k.bri) - 0.5f) * k.con + 0.5f;
                G[x] = ((l + k.sat * (G[x] - l) + k.bri) - 0.5f) * k.con + 0.5f;
                B[x] = ((l + k.sat * (B[x] - l) + k.bri) - 0.5f) * k.con + 0.5f;
            }
        if (k.hue)
            for (int x = 0; x < n; ++x) {
                const float r = R[x], g = G[x], b = B[x];
                R[x] = k.m[0] * r + k.m[1] * g + k.m[2] * b;
                G[x] = k.m[3] * r + k.m[4] * g + k.m[5] * b;
                B[x] = k.m[6] * r + k.m[7] * g + k.m[8] * b;
            }
    } else {
        if (k.whitePoint)
            for (int x = 0; x < n; ++x) {
                R[x] *= k.wp[0];
                G[x] *= k.wp[1];
                B[x] *= k.wp[2];
            }
        if (k.sepia)
            for (int x = 0; x < n; ++x) {
                const float r = R[x], g = G[x], b = B[x], i = k.sepiaAmount;
                R[x] = r + i * (0.393f * r + 0.769f * g + 0.189f * b - r);
                G[x] = g + i * (0.349f * r + 0.686f * g + 0.168f * b - g);
                B[x] = b + i * (0.272f * r + 0.534f * g + 0.131f * b - b);
            }
    }
    // Premultiplied storage needs colour within [0, alpha]; values above one stay for the later
    // stages only when fully opaque.
    for (int x = 0; x < n; ++x) {
        const float alpha = A[x];
        const float lo = alpha < 1 ? 0.0f : -HUGE_VALF, hi = alpha < 1 ? 1.0f : HUGE_VALF;
        p[x * 4] = std::min(std::max(R[x], lo), hi) * alpha;
        p[x * 4 + 1] = std::min(std::max(G[x], lo), hi) * alpha;
        p[x * 4 + 2] = std::min(std::max(B[x], lo), hi) * alpha;
    }
}

// Premultiplied linear to 8-bit sRGB with straight alpha, clamped.
const std::array<uchar, 65536> &srgbTable()
{
    // A 16-bit table for the sRGB curve: every 8-bit value survives the round trip.
    static const std::array<uchar, 65536> lut = [] {
        std::array<uchar, 65536> t{};
        for (int i = 0; i < 65536; ++i)
            t[i] = uchar(std::lround(linearToSrgb(i / 65535.0f) * 255));
        return t;
    }();
    return lut;
}

void storeRow8(const float *s, uchar *d, int n, const std::array<uchar, 65536> &lut)
{
    for (int x = 0; x < n; ++x, s += 4, d += 4) {
        const float a = std::clamp(s[3], 0.0f, 1.0f);
        const float inv = a > 0 ? 1 / a : 0.0f;
        for (int c = 0; c < 3; ++c) {
            const float v = std::clamp(s[c] * inv, 0.0f, 1.0f);
            d[c] = lut[std::size_t(v * 65535 + 0.5f)];
        }
        d[3] = uchar(a * 255 + 0.5f);
    }
}

template <typename T>
std::unique_ptr<T[]> scratch(std::size_t n)
{
    return std::make_unique_for_overwrite<T[]>(n);
}

// Runs fn(i) for i in [0, count) on up to `threads` workers, one index at a time as they come free.
void forEach(int count, int threads, const std::function<void(int)> &fn)
{
    const int n = std::min(threadCount(threads), count);
    if (n <= 1) {
        for (int i = 0; i < count; ++i)
            fn(i);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;)
            fn(i);
    };
    std::vector<std::jthread> workers;
    workers.reserve(n - 1);
    for (int t = 1; t < n; ++t)
        workers.emplace_back(work);
    work();
}

// The colour stages over a picture of w x h whose rows `fetch(y, row)` writes (w * 4 floats, before
// the stages), to the rows `store(y, row)` receives. Sharpening: a luminance sharpen (the luma's
// detail against its 3x3 box added to every channel), then an unsharp mask (Gaussian sigma 2.5 on
// the colour channels) with half the amount. The picture is cut into stripes of rows, each worked
// through from top to bottom by one worker that keeps only the rows the blur reaches (rolling
// buffers), so that the memory needed does not grow with the picture's height; every row comes out
// the same whatever the stripe.
template <typename Fetch, typename Store>
void colourRows(int w, int h, const OVNAdjustValues &v, int threads, Fetch fetch, Store store)
{
    const ColourParams k(v);
    const std::size_t rowFloats = std::size_t(w) * 4;
    if (!k.sharpen) {
        forRows(h, threads, [&](int y) {
            thread_local std::vector<float> row;
            row.resize(rowFloats);
            fetch(y, row.data());
            pointwise(k, true, row.data(), w);
            pointwise(k, false, row.data(), w);
            store(y, row.data());
        });
        return;
    }

    constexpr double sigma = 2.5;
    constexpr int r = 8; // ceil(3 sigma)
    float kernel[2 * r + 1];
    {
        double sum = 0;
        double raw[2 * r + 1];
        for (int i = -r; i <= r; ++i)
            sum += raw[i + r] = std::exp(-(i * i) / (2 * sigma * sigma));
        for (int i = 0; i <= 2 * r; ++i)
            kernel[i] = float(raw[i] / sum);
    }
    const float amount = k.sharpness, half = amount / 2;
    const std::size_t rgbFloats = std::size_t(w) * 3;
    // Rows kept: the first stages and luma from the output row to r + 1 below it; the sharpened
    // rows and their blur across from r above to r below.
    constexpr int firstRing = 2 * r + 4, sharpRing = 2 * r + 2;
    // Enough stripes to keep every worker busy; each costs the rows of its margins once more.
    const int stripes = std::max(1, std::min(threadCount(threads) * 2, h / 64));
    forEach(stripes, threads, [&](int index) {
        const int y0 = int(std::int64_t(h) * index / stripes), y1 = int(std::int64_t(h) * (index + 1) / stripes);
        if (y1 <= y0)
            return;
        auto first = scratch<float>(firstRing * rowFloats);
        auto luma = scratch<float>(std::size_t(firstRing) * w);
        auto sharp = scratch<float>(sharpRing * rgbFloats);
        auto across = scratch<float>(sharpRing * rgbFloats);
        const auto firstRow = [&](int y) { return first.get() + std::size_t(y % firstRing) * rowFloats; };
        const auto lumaRow = [&](int y) { return luma.get() + std::size_t(std::clamp(y, 0, h - 1) % firstRing) * w; };
        const auto sharpRow = [&](int y) { return sharp.get() + std::size_t(y % sharpRing) * rgbFloats; };
        const auto acrossRow = [&](int y) {
            return across.get() + std::size_t(std::clamp(y, 0, h - 1) % sharpRing) * rgbFloats;
        };
        int nextFirst = std::max(0, y0 - r - 1), nextAcross = std::max(0, y0 - r);
        const auto firstStagesTo = [&](int last) {
            for (; nextFirst <= last; ++nextFirst) {
                float *row = firstRow(nextFirst);
                fetch(nextFirst, row);
                pointwise(k, true, row, w);
                float *l = luma.get() + std::size_t(nextFirst % firstRing) * w;
                for (int x = 0; x < w; ++x)
                    l[x] = kLumaR * row[x * 4] + kLumaG * row[x * 4 + 1] + kLumaB * row[x * 4 + 2];
            }
        };
        std::vector<float> column(std::size_t(w) + 2), padded(rgbFloats + std::size_t(2 * r) * 3);
        // The luminance-sharpened colour of row y, and its Gaussian across the row (as shifted
        // whole-row sums over the row with its edge pixels repeated, which vectorise).
        const auto sharpenAcross = [&](int y) {
            firstStagesTo(std::min(h - 1, y + 1));
            const float *up = lumaRow(y - 1), *mid = lumaRow(y), *down = lumaRow(y + 1);
            for (int x = 0; x < w; ++x)
                column[x + 1] = up[x] + mid[x] + down[x];
            column[0] = column[1];
            column[w + 1] = column[w];
            const float *row = firstRow(y);
            float *rgb = sharpRow(y);
            for (int x = 0; x < w; ++x) {
                const float box = column[x] + column[x + 1] + column[x + 2];
                const float detail = amount * (mid[x] - box * (1.0f / 9));
                const float alpha = row[x * 4 + 3];
                for (int c = 0; c < 3; ++c)
                    rgb[x * 3 + c] = std::min(std::max(row[x * 4 + c] + detail * alpha, 0.0f), alpha);
            }
            std::copy_n(rgb, rgbFloats, padded.data() + std::size_t(r) * 3);
            for (int i = 0; i < r; ++i)
                for (int c = 0; c < 3; ++c) {
                    padded[std::size_t(i) * 3 + c] = rgb[c];
                    padded[rgbFloats + std::size_t(r + i) * 3 + c] = rgb[rgbFloats - 3 + c];
                }
            float *d = across.get() + std::size_t(y % sharpRing) * rgbFloats;
            setScaled(d, padded.data(), kernel[0], rgbFloats);
            for (int i = 1; i <= 2 * r; ++i)
                addScaled(d, padded.data() + std::size_t(i) * 3, kernel[i], rgbFloats);
        };
        // The Gaussian down, the unsharp mask, the stages after sharpening, and the store.
        std::vector<float> blurred(rgbFloats), out(rowFloats);
        for (int y = y0; y < y1; ++y) {
            for (; nextAcross <= std::min(h - 1, y + r); ++nextAcross)
                sharpenAcross(nextAcross);
            setScaled(blurred.data(), acrossRow(y - r), kernel[0], rgbFloats);
            for (int i = 1; i <= 2 * r; ++i)
                addScaled(blurred.data(), acrossRow(y + i - r), kernel[i], rgbFloats);
            const float *row = firstRow(y);
            const float *rgb = sharpRow(y);
            for (int x = 0; x < w; ++x) {
                const float alpha = row[x * 4 + 3];
                for (int c = 0; c < 3; ++c) {
                    const float p = rgb[x * 3 + c];
                    out[x * 4 + c] = std::min(std::max(p + half * (p - blurred[x * 3 + c]), 0.0f), alpha);
                }
                out[x * 4 + 3] = alpha;
            }
            pointwise(k, false, out.data(), w);
            store(y, out.data());
        }
    });
}

// Row y of geometric(source, v), made alone from the source: the same values, pixel for pixel.
class GeometricRows
{
public:
    GeometricRows(const OVNLinearImage &source, const OVNAdjustValues &v) : m_source(source), m_rotation(v.rotation)
    {
        if (source.isPacked())
            m_packed.emplace(source.packed);
        OVNAdjustValues straightenOnly;
        straightenOnly.straighten = v.straighten;
        m_straighten = v.straighten != 0;
        m_sw = source.width;
        m_sh = source.height;
        if (m_straighten) {
            geometricSize(source.width, source.height, straightenOnly, &m_sw, &m_sh);
            m_map = geometricToSource(source.width, source.height, straightenOnly);
        }
        geometricSize(source.width, source.height, v, &width, &height);
    }

    int width = 0, height = 0;

    void operator()(int y, float *out) const { range(y, 0, width, out); }

    // Pixels x0 .. x0 + n - 1 of row y.
    void range(int y, int x0, int n, float *out) const
    {
        const bool turned = m_rotation == 90 || m_rotation == 180 || m_rotation == 270;
        if (!turned && !m_straighten) {
            m_source.readPixels(x0, y, n, out);
            return;
        }
        for (int x = x0; x < x0 + n; ++x, out += 4) {
            // The pixel of the straightened picture that the turn puts here.
            int i = x, j = y;
            if (m_rotation == 90) {
                i = y;
                j = m_sh - 1 - x;
            } else if (m_rotation == 180) {
                i = m_sw - 1 - x;
                j = m_sh - 1 - y;
            } else if (m_rotation == 270) {
                i = m_sw - 1 - y;
                j = x;
            }
            if (m_straighten)
                resamplePixel(m_source, m_packed ? &*m_packed : nullptr, m_map, i, j, out);
            else if (m_packed)
                m_packed->pixel(i, j, out);
            else
                m_source.readPixel(i, j, out);
        }
    }

private:
    const OVNLinearImage &m_source;
    std::optional<PackedPixels> m_packed;
    int m_rotation;
    bool m_straighten = false;
    int m_sw = 0, m_sh = 0;
    Affine m_map;
};

} // namespace

// The pixels from (x0, y0) on of geometric(*source, values), made when they are read.
class CropView
{
public:
    CropView(std::shared_ptr<const OVNLinearImage> source, const OVNAdjustValues &values, int x0, int y0)
        : source(std::move(source)),
          values(values),
          x0(x0),
          y0(y0),
          m_rows(*this->source, values)
    {}

    void read(int x, int y, int n, float *out) const { m_rows.range(y0 + y, x0 + x, n, out); }

    const std::shared_ptr<const OVNLinearImage> source;
    const OVNAdjustValues values;
    const int x0, y0;

private:
    const GeometricRows m_rows;
};

void forRows(int height, int threads, const std::function<void(int)> &fn)
{
    const int n = std::min(threadCount(threads), std::max(1, height / 16));
    if (n <= 1) {
        for (int y = 0; y < height; ++y)
            fn(y);
        return;
    }
    // Rows are handed out in small chunks as workers come free, so that on a busy machine a worker
    // that lost its processor does not hold up the whole pass.
    constexpr int chunk = 8;
    std::atomic<int> next{0};
    auto work = [&] {
        for (int from; (from = next.fetch_add(chunk, std::memory_order_relaxed)) < height;)
            for (int y = from, to = std::min(from + chunk, height); y < to; ++y)
                fn(y);
    };
    std::vector<std::jthread> workers;
    workers.reserve(n - 1);
    for (int t = 1; t < n; ++t)
        workers.emplace_back(work);
    work();
}

OVNAdjustValues finiteValues(const OVNAdjustValues &values)
{
    const OVNAdjustValues neutral;
    OVNAdjustValues v = values;
    for (auto [value, start] : {std::pair{&v.exposure, neutral.exposure}, std::pair{&v.gamma, neutral.gamma},
                                std::pair{&v.saturation, neutral.saturation},
                                std::pair{&v.brightness, neutral.brightness}, std::pair{&v.contrast, neutral.contrast},
                                std::pair{&v.sharpness, neutral.sharpness}, std::pair{&v.tint, neutral.tint},
                                std::pair{&v.straighten, neutral.straighten}, std::pair{&v.sepia, neutral.sepia}})
        if (!std::isfinite(*value))
            *value = start;
    if (v.whitePoint
        && !std::all_of(v.whitePoint->begin(), v.whitePoint->end(), [](double c) { return std::isfinite(c); }))
        v.whitePoint.reset();
    return v;
}

std::vector<Stage> stagesFor(const OVNAdjustValues &values, bool scaled)
{
    const OVNAdjustValues v = finiteValues(values);
    std::vector<Stage> s;
    if (v.straighten != 0)
        s.push_back(Straighten);
    if (v.rotation == 90 || v.rotation == 180 || v.rotation == 270)
        s.push_back(Turn);
    if (scaled)
        s.push_back(Scale);
    if (v.exposure != 0)
        s.push_back(Exposure);
    if (v.gamma != 0.75)
        s.push_back(Gamma);
    if (!(v.saturation == 100 && v.brightness == 0 && v.contrast == 100))
        s.push_back(ColorControls);
    if (v.tint != 0)
        s.push_back(Hue);
    if (v.sharpness != 0)
        s.push_back(Sharpen);
    if (v.whitePoint)
        s.push_back(WhitePoint);
    if (v.sepia != 0)
        s.push_back(Sepia);
    return s;
}

void geometricSize(int width, int height, const OVNAdjustValues &values, int *outWidth, int *outHeight)
{
    const OVNAdjustValues v = finiteValues(values);
    int w = width, h = height;
    if (v.straighten != 0 && w > 0 && h > 0) {
        const double a = v.straighten * M_PI / 180, c = std::cos(a), s = std::sin(a);
        w = std::max(1, int(std::ceil(std::abs(width * c) + std::abs(height * s) - 1e-6)));
        h = std::max(1, int(std::ceil(std::abs(width * s) + std::abs(height * c) - 1e-6)));
    }
    if (v.rotation == 90 || v.rotation == 270)
        std::swap(w, h);
    *outWidth = w;
    *outHeight = h;
}

double fitZoom(int width, int height, int maxWidth, int maxHeight, int *outWidth, int *outHeight)
{
    const double sx = width > maxWidth ? double(maxWidth) / width : 1;
    const double sy = height > maxHeight ? double(maxHeight) / height : 1;
    const double z = std::min(sx, sy);
    if (outWidth)
        *outWidth = z >= 1 ? width : std::max(1, int(std::lround(width * z)));
    if (outHeight)
        *outHeight = z >= 1 ? height : std::max(1, int(std::lround(height * z)));
    return z;
}

OVNLinearImage geometric(const OVNLinearImage &source, const OVNAdjustValues &values, int threads)
{
    if (source.isNull())
        return {};
    const OVNAdjustValues v = finiteValues(values);
    // Each stage reads the one before without copying the source first.
    OVNLinearImage straightened;
    if (v.straighten != 0) {
        // Counter-clockwise as seen on screen; the picture grows to the turned bounds.
        OVNAdjustValues straightenOnly;
        straightenOnly.straighten = v.straighten;
        int ow = 0, oh = 0;
        geometricSize(source.width, source.height, straightenOnly, &ow, &oh);
        OVNLinearImage out =
            resample(source, ow, oh, geometricToSource(source.width, source.height, straightenOnly), threads);
        straightened = std::move(out);
    }
    const OVNLinearImage &img = v.straighten != 0 ? straightened : source;
    if (v.rotation == 90 || v.rotation == 180 || v.rotation == 270) {
        const bool swap = v.rotation != 180;
        OVNLinearImage out = OVNLinearImage::allocate(swap ? img.height : img.width, swap ? img.width : img.height);
        forRows(out.height, threads, [&](int y) {
            float *d = out.row(y);
            for (int x = 0; x < out.width; ++x) {
                int sx, sy;
                if (v.rotation == 90) {
                    sx = y;
                    sy = img.height - 1 - x;
                } else if (v.rotation == 180) {
                    sx = img.width - 1 - x;
                    sy = img.height - 1 - y;
                } else {
                    sx = img.width - 1 - y;
                    sy = x;
                }
                img.readPixel(sx, sy, d + std::size_t(x) * 4);
            }
        });
        return out;
    }
    return v.straighten != 0 ? std::move(straightened) : source;
}

OVNLinearImage scaleToFit(const OVNLinearImage &img, int maxWidth, int maxHeight, double *zoom, int threads)
{
    int ow = 0, oh = 0;
    const double z = fitZoom(img.width, img.height, maxWidth, maxHeight, &ow, &oh);
    if (zoom)
        *zoom = z;
    if (z >= 1 || img.isNull())
        return img;
    const Taps tx = lanczosTaps(img.width, ow), ty = lanczosTaps(img.height, oh);
    OVNLinearImage tmp = OVNLinearImage::allocate(ow, img.height);
    forRows(img.height, threads, [&](int y) {
        thread_local std::vector<float> unpacked;
        const float *s = img.row(y);
        if (!img.hasFloats()) {
            unpacked.resize(std::size_t(img.width) * 4);
            img.readRow(y, unpacked.data());
            s = unpacked.data();
        }
        float *d = tmp.row(y);
        for (int x = 0; x < ow; ++x) {
            float acc[4] = {0, 0, 0, 0};
            const float *w = tx.weights.data() + std::size_t(x) * tx.maxTaps;
            for (int k = 0; k < tx.count[x]; ++k) {
                const float *p = s + std::size_t(tx.first[x] + k) * 4;
                for (int c = 0; c < 4; ++c)
                    acc[c] += w[k] * p[c];
            }
            for (int c = 0; c < 4; ++c)
                d[x * 4 + c] = std::max(acc[c], 0.0f);
        }
    });
    OVNLinearImage out = OVNLinearImage::allocate(ow, oh);
    forRows(oh, threads, [&](int y) {
        float *d = out.row(y);
        std::fill(d, d + std::size_t(ow) * 4, 0.0f);
        const float *w = ty.weights.data() + std::size_t(y) * ty.maxTaps;
        for (int k = 0; k < ty.count[y]; ++k) {
            const float *s = tmp.row(ty.first[y] + k);
            for (int x = 0; x < ow * 4; ++x)
                d[x] += w[k] * s[x];
        }
        for (int x = 0; x < ow; ++x) {
            float &a = d[x * 4 + 3];
            a = std::clamp(a, 0.0f, 1.0f);
            for (int c = 0; c < 3; ++c)
                d[x * 4 + c] = std::clamp(d[x * 4 + c], 0.0f, a);
        }
    });
    return out;
}

void colour(OVNLinearImage &img, const OVNAdjustValues &values, int threads)
{
    if (img.isNull())
        return;
    const OVNAdjustValues v = finiteValues(values);
    // The rows come out while others still read theirs around them: work from a copy.
    const bool floats = img.hasFloats();
    const OVNLinearImage copy = floats ? img.unpacked() : img;
    if (!floats)
        img = img.unpacked();
    const std::size_t rowFloats = std::size_t(img.width) * 4;
    colourRows(
        img.width, img.height, v, threads, [&](int y, float *row) { copy.readRow(y, row); },
        [&](int y, const float *row) { std::copy_n(row, rowFloats, img.row(y)); });
}

QImage colourToImage(const OVNLinearImage &img, const OVNAdjustValues &values, int threads)
{
    if (img.isNull())
        return {};
    const OVNAdjustValues v = finiteValues(values);
    QImage out(img.width, img.height, QImage::Format_RGBA8888);
    if (out.isNull())
        return {};
    const auto &lut = srgbTable();
    colourRows(
        img.width, img.height, v, threads, [&](int y, float *row) { img.readRow(y, row); },
        [&](int y, const float *row) { storeRow8(row, out.scanLine(y), img.width, lut); });
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

QImage renderImage(const OVNLinearImage &source, const OVNAdjustValues &adjustments, int threads)
{
    if (source.isNull())
        return {};
    const OVNAdjustValues values = finiteValues(adjustments);
    const GeometricRows rows(source, values);
    QImage out(rows.width, rows.height, QImage::Format_RGBA8888);
    if (out.isNull())
        return {};
    const auto &lut = srgbTable();
    colourRows(rows.width, rows.height, values, threads, rows,
               [&](int y, const float *row) { storeRow8(row, out.scanLine(y), rows.width, lut); });
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

OVNLinearImage render(const OVNLinearImage &source, const OVNAdjustValues &values, int threads)
{
    OVNLinearImage img = geometric(source, values, threads);
    colour(img, values, threads);
    return img;
}

OVNLinearImage crop(const OVNLinearImage &image, int x, int y, int w, int h)
{
    const int x0 = std::clamp(x, 0, image.width), y0 = std::clamp(y, 0, image.height);
    const int x1 = std::clamp(x + std::max(w, 0), 0, image.width), y1 = std::clamp(y + std::max(h, 0), 0, image.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    OVNLinearImage out = OVNLinearImage::allocate(x1 - x0, y1 - y0);
    for (int r = 0; r < out.height; ++r) {
        if (image.hasFloats()) {
            std::copy_n(image.row(y0 + r) + std::size_t(x0) * 4, std::size_t(out.width) * 4, out.row(r));
            continue;
        }
        for (int x = 0; x < out.width; ++x)
            image.readPixel(x0 + x, y0 + r, out.row(r) + std::size_t(x) * 4);
    }
    return out;
}

OVNLinearImage cropGeometric(std::shared_ptr<const OVNLinearImage> source, const OVNAdjustValues &adjustments, int x,
                             int y, int w, int h)
{
    if (!source || source->isNull())
        return {};
    OVNAdjustValues values = finiteValues(adjustments);
    int width = 0, height = 0;
    geometricSize(source->width, source->height, values, &width, &height);
    const auto clamped = [](std::int64_t v, int most) { return int(std::clamp<std::int64_t>(v, 0, most)); };
    int x0 = clamped(x, width), y0 = clamped(y, height);
    const int x1 = clamped(std::int64_t(x) + std::max(w, 0), width);
    const int y1 = clamped(std::int64_t(y) + std::max(h, 0), height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    OVNLinearImage out;
    out.width = x1 - x0;
    out.height = y1 - y0;
    // A plain crop of a crop view is a smaller rectangle of what that view shows: taken from its
    // source, so that cropping again and again adds no step to every pixel read.
    const bool plain = values.straighten == 0 && values.rotation != 90 && values.rotation != 180
                       && values.rotation != 270;
    if (plain && source->isCropView()) {
        const CropView &inner = *source->cropView;
        x0 += inner.x0;
        y0 += inner.y0;
        values = inner.values;
        source = inner.source;
    }
    out.cropView = std::make_shared<const CropView>(std::move(source), values, x0, y0);
    return out;
}

} // namespace OVNAdjustChain

OVNLinearImage OVNLinearImage::allocate(int width, int height)
{
    OVNLinearImage img;
    img.width = width;
    img.height = height;
    img.pixels.resize(std::size_t(width) * std::size_t(height) * 4);
    return img;
}

namespace {

// The picture in sRGB, in a format whose pixels linearPixel reads.
QImage packedSource(const QImage &image)
{
    QImage src = image;
    if (src.colorSpace().isValid() && src.colorSpace() != QColorSpace(QColorSpace::SRgb))
        src.convertToColorSpace(QColorSpace::SRgb);
    const QImage::Format format = src.format();
    const bool readable =
        format == QImage::Format_RGBA8888
        || (Q_BYTE_ORDER == Q_LITTLE_ENDIAN && (format == QImage::Format_ARGB32 || format == QImage::Format_RGB32));
    return readable ? src : src.convertToFormat(QImage::Format_RGBA8888);
}

} // namespace

void OVNLinearImage::readPixels(int x, int y, int n, float *out) const
{
    if (cropView) {
        cropView->read(x, y, n, out);
        return;
    }
    if (!isPacked()) {
        std::copy_n(row(y) + std::size_t(x) * 4, std::size_t(n) * 4, out);
        return;
    }
    const OVNAdjustChain::PackedPixels pixels(packed);
    const uchar *s = pixels.at(x, y);
    for (int i = 0; i < n; ++i, s += 4, out += 4)
        OVNAdjustChain::linearPixel(s, pixels.order, *pixels.lut, out);
}

OVNLinearImage OVNLinearImage::unpacked() const
{
    if (hasFloats())
        return *this;
    OVNLinearImage img = allocate(width, height);
    OVNAdjustChain::forRows(height, 0, [&](int y) { readRow(y, img.row(y)); });
    return img;
}

OVNLinearImage OVNLinearImage::fromImage(const QImage &image) { return fromImagePacked(image).unpacked(); }

OVNLinearImage OVNLinearImage::fromImagePacked(const QImage &image)
{
    if (image.isNull())
        return {};
    OVNLinearImage img;
    img.packed = packedSource(image);
    if (img.packed.isNull())
        return {};
    img.width = img.packed.width();
    img.height = img.packed.height();
    return img;
}

QImage OVNLinearImage::toImage() const
{
    if (isNull())
        return {};
    QImage out(width, height, QImage::Format_RGBA8888);
    if (out.isNull())
        return {};
    const auto &lut = OVNAdjustChain::srgbTable();
    OVNAdjustChain::forRows(height, 0, [&](int y) {
        thread_local std::vector<float> floats;
        const float *s = row(y);
        if (!hasFloats()) {
            floats.resize(std::size_t(width) * 4);
            readRow(y, floats.data());
            s = floats.data();
        }
        OVNAdjustChain::storeRow8(s, out.scanLine(y), width, lut);
    });
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

const OVNLinearImage &OVNAdjustPreviewCache::geometricAtSize(const std::shared_ptr<const OVNLinearImage> &source,
                                                             const OVNAdjustValues &values, int maxWidth, int maxHeight,
                                                             int threads)
{
    // The source is shrunk once for the box (enough for either orientation); straighten and turn
    // then resample only the display-size picture, so that they follow the slider too.
    if (source_ != source || maxWidth_ != maxWidth || maxHeight_ != maxHeight) {
        const int w = source->width, h = source->height;
        const double z0 = std::max(OVNAdjustChain::fitZoom(w, h, maxWidth, maxHeight),
                                   OVNAdjustChain::fitZoom(h, w, maxWidth, maxHeight));
        if (z0 < 1)
            prescaled_ = OVNAdjustChain::scaleToFit(*source, std::max(1, int(std::lround(w * z0))),
                                                    std::max(1, int(std::lround(h * z0))), nullptr, threads);
        else
            prescaled_ = *source;
        source_ = source;
        maxWidth_ = maxWidth;
        maxHeight_ = maxHeight;
        rotation_ = -1;
    }
    if (rotation_ != values.rotation || straighten_ != values.straighten) {
        int gw = 0, gh = 0, dw = 0, dh = 0;
        OVNAdjustChain::geometricSize(source->width, source->height, values, &gw, &gh);
        zoom_ = OVNAdjustChain::fitZoom(gw, gh, maxWidth, maxHeight, &dw, &dh);
        // Display pixels to the whole picture's geometric result, to the source, to the shrunk source.
        const OVNAdjustChain::Affine toGeometric{double(gw) / dw, 0, 0, 0, double(gh) / dh, 0};
        const OVNAdjustChain::Affine toPrescaled{double(prescaled_.width) / source->width,   0, 0, 0,
                                                 double(prescaled_.height) / source->height, 0};
        const bool plain = values.straighten == 0 && values.rotation != 90 && values.rotation != 180
                           && values.rotation != 270;
        if (plain && dw == prescaled_.width && dh == prescaled_.height)
            cached_ = prescaled_;
        else
            cached_ = OVNAdjustChain::resample(
                prescaled_, dw, dh,
                toPrescaled.after(OVNAdjustChain::geometricToSource(source->width, source->height, values))
                    .after(toGeometric),
                threads);
        rotation_ = values.rotation;
        straighten_ = values.straighten;
    }
    return cached_;
}

OVNLinearImage OVNAdjustPreviewCache::render(const std::shared_ptr<const OVNLinearImage> &source,
                                             const OVNAdjustValues &adjustments, int maxWidth, int maxHeight,
                                             double *zoom, int threads)
{
    if (!source)
        return {};
    const OVNAdjustValues values = OVNAdjustChain::finiteValues(adjustments);
    OVNLinearImage out = geometricAtSize(source, values, maxWidth, maxHeight, threads);
    if (zoom)
        *zoom = zoom_;
    OVNAdjustChain::colour(out, values, threads);
    return out;
}

QImage OVNAdjustPreviewCache::renderImage(const std::shared_ptr<const OVNLinearImage> &source,
                                          const OVNAdjustValues &adjustments, int maxWidth, int maxHeight, double *zoom,
                                          int threads)
{
    if (!source)
        return {};
    const OVNAdjustValues values = OVNAdjustChain::finiteValues(adjustments);
    const OVNLinearImage &geometric = geometricAtSize(source, values, maxWidth, maxHeight, threads);
    if (zoom)
        *zoom = zoom_;
    return OVNAdjustChain::colourToImage(geometric, values, threads);
}

void OVNAdjustDocument::setSource(OVNLinearImage source)
{
    setSource(std::make_shared<const OVNLinearImage>(std::move(source)));
}

void OVNAdjustDocument::setSource(std::shared_ptr<const OVNLinearImage> source)
{
    source_ = source ? std::move(source) : std::make_shared<const OVNLinearImage>();
    revert_.reset();
}

const OVNLinearImage &OVNAdjustDocument::source() const
{
    static const OVNLinearImage empty;
    return source_ ? *source_ : empty;
}

std::optional<OVNLinearImage> OVNAdjustDocument::croppedToView(const std::shared_ptr<const OVNLinearImage> &source,
                                                               const OVNAdjustValues &values, double x1, double y1,
                                                               double x2, double y2, double originX, double originY,
                                                               double zoom)
{
    if (!(zoom > 0) || !source || source->isNull() || !std::isfinite(x1 + y1 + x2 + y2 + originX + originY + zoom))
        return std::nullopt;
    const double left = std::max(0.0, std::min(x1, x2) - originX), top = std::max(0.0, std::min(y1, y2) - originY);
    const double right = std::max(x1, x2) - originX, bottom = std::max(y1, y2) - originY;
    if (right <= left || bottom <= top)
        return std::nullopt;
    // A hair of slack, so that a rectangle given in picture pixels times the zoom maps back exactly.
    constexpr double slack = 1e-6;
    // Anything beyond the largest picture is outside it anyway; the limit keeps the ints whole.
    const auto pixel = [](double v) { return int(std::clamp(v, -1e9, 1e9)); };
    const int x = pixel(std::floor(left / zoom + slack)), y = pixel(std::floor(top / zoom + slack));
    const int r = pixel(std::ceil(right / zoom - slack)), b = pixel(std::ceil(bottom / zoom - slack));
    OVNLinearImage cropped = OVNAdjustChain::cropGeometric(source, values, x, y, r - x, b - y);
    if (cropped.isNull())
        return std::nullopt;
    return cropped;
}

void OVNAdjustDocument::takeCrop(OVNLinearImage cropped)
{
    if (!revert_)
        revert_ = Revert{source_, values.rotation, values.straighten};
    source_ = std::make_shared<const OVNLinearImage>(std::move(cropped));
    values.rotation = 0;
    values.straighten = 0;
}

bool OVNAdjustDocument::cropToView(double x1, double y1, double x2, double y2, double originX, double originY,
                                   double zoom)
{
    std::optional<OVNLinearImage> cropped = croppedToView(source_, values, x1, y1, x2, y2, originX, originY, zoom);
    if (!cropped)
        return false;
    takeCrop(std::move(*cropped));
    return true;
}

void OVNAdjustDocument::revert()
{
    if (!revert_)
        return;
    source_ = std::move(revert_->image);
    values.rotation = revert_->rotation;
    values.straighten = revert_->straighten;
    revert_.reset();
}
