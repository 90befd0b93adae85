#include "OVNAdjustChain.h"

#include <QColorSpace>

#include <algorithm>
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

float srgbToLinear(float v)
{
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float v)
{
    v = std::clamp(v, 0.0f, 1.0f);
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

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
            const float *p = img.row(yy) + std::size_t(xx) * 4;
            for (int c = 0; c < 4; ++c)
                out[c] += w * p[c];
        }
    }
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

struct Taps
{
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

// Separable Gaussian blur of every channel, edges clamped.
OVNLinearImage gaussian(const OVNLinearImage &in, double sigma, int threads)
{
    const int r = std::max(1, int(std::ceil(sigma * 3)));
    std::vector<float> k(2 * r + 1);
    float sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += k[i + r] = float(std::exp(-(i * i) / (2 * sigma * sigma)));
    for (float &v : k)
        v /= sum;
    OVNLinearImage tmp = OVNLinearImage::allocate(in.width, in.height);
    forRows(in.height, threads, [&](int y) {
        const float *s = in.row(y);
        float *d = tmp.row(y);
        for (int x = 0; x < in.width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (int i = -r; i <= r; ++i) {
                const float *p = s + std::size_t(std::clamp(x + i, 0, in.width - 1)) * 4;
                for (int c = 0; c < 4; ++c)
                    acc[c] += k[i + r] * p[c];
            }
            std::copy(acc, acc + 4, d + std::size_t(x) * 4);
        }
    });
    OVNLinearImage out = OVNLinearImage::allocate(in.width, in.height);
    forRows(in.height, threads, [&](int y) {
        float *d = out.row(y);
        std::fill(d, d + std::size_t(in.width) * 4, 0.0f);
        for (int i = -r; i <= r; ++i) {
            const float *s = tmp.row(std::clamp(y + i, 0, in.height - 1));
            const float w = k[i + r];
            for (int x = 0; x < in.width * 4; ++x)
                d[x] += w * s[x];
        }
    });
    return out;
}

void sharpen(OVNLinearImage &img, double amount, int threads)
{
    if (amount == 0 || img.isNull())
        return;
    const float a = float(amount);
    // Luminance sharpen: the luma's detail against its 3x3 neighbourhood is added to every channel.
    {
        std::vector<float> luma(std::size_t(img.width) * img.height);
        forRows(img.height, threads, [&](int y) {
            const float *p = img.row(y);
            for (int x = 0; x < img.width; ++x, p += 4)
                luma[std::size_t(y) * img.width + x] = kLumaR * p[0] + kLumaG * p[1] + kLumaB * p[2];
        });
        OVNLinearImage out = OVNLinearImage::allocate(img.width, img.height);
        forRows(img.height, threads, [&](int y) {
            const float *s = img.row(y);
            float *d = out.row(y);
            for (int x = 0; x < img.width; ++x) {
                float box = 0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i)
                        box += luma[std::size_t(std::clamp(y + j, 0, img.height - 1)) * img.width
                                    + std::clamp(x + i, 0, img.width - 1)];
                const float detail = a * (luma[std::size_t(y) * img.width + x] - box / 9);
                const float alpha = s[x * 4 + 3];
                for (int c = 0; c < 3; ++c)
                    d[x * 4 + c] = std::clamp(s[x * 4 + c] + detail * alpha, 0.0f, alpha);
                d[x * 4 + 3] = alpha;
            }
        });
        img = std::move(out);
    }
    // Unsharp mask with half the amount.
    const OVNLinearImage blurred = gaussian(img, 2.5, threads);
    const float half = a / 2;
    forRows(img.height, threads, [&](int y) {
        float *d = img.row(y);
        const float *b = blurred.row(y);
        for (int x = 0; x < img.width; ++x) {
            const float alpha = d[x * 4 + 3];
            for (int c = 0; c < 3; ++c)
                d[x * 4 + c] = std::clamp(d[x * 4 + c] + half * (d[x * 4 + c] - b[x * 4 + c]), 0.0f, alpha);
        }
    });
}

} // namespace

void forRows(int height, int threads, const std::function<void(int)> &fn)
{
    const int n = std::min(threadCount(threads), std::max(1, height / 16));
    if (n <= 1) {
        for (int y = 0; y < height; ++y)
            fn(y);
        return;
    }
    std::vector<std::jthread> workers;
    workers.reserve(n);
    for (int t = 0; t < n; ++t) {
        const int from = int(std::int64_t(height) * t / n), to = int(std::int64_t(height) * (t + 1) / n);
        workers.emplace_back([&fn, from, to] {
            for (int y = from; y < to; ++y)
                fn(y);
        });
    }
}

std::vector<Stage> stagesFor(const OVNAdjustValues &v, bool scaled)
{
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

void geometricSize(int width, int height, const OVNAdjustValues &v, int *outWidth, int *outHeight)
{
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

OVNLinearImage geometric(const OVNLinearImage &source, const OVNAdjustValues &v, int threads)
{
    OVNLinearImage img = source;
    if (img.isNull())
        return img;
    if (v.straighten != 0) {
        // Counter-clockwise as seen on screen; the picture grows to the turned bounds.
        const double a = v.straighten * M_PI / 180, c = std::cos(a), s = std::sin(a);
        const double w = img.width, h = img.height;
        int ow = 0, oh = 0;
        OVNAdjustValues straightenOnly;
        straightenOnly.straighten = v.straighten;
        geometricSize(img.width, img.height, straightenOnly, &ow, &oh);
        OVNLinearImage out = OVNLinearImage::allocate(ow, oh);
        forRows(oh, threads, [&](int y) {
            float *d = out.row(y);
            for (int x = 0; x < ow; ++x) {
                // Output centre-relative point, rotated back (screen y runs down).
                const double dx = x + 0.5 - ow / 2.0, dy = y + 0.5 - oh / 2.0;
                const double sx = c * dx - s * dy + w / 2, sy = s * dx + c * dy + h / 2;
                sample(img, sx, sy, d + std::size_t(x) * 4);
            }
        });
        img = std::move(out);
    }
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
                std::copy_n(img.row(sy) + std::size_t(sx) * 4, 4, d + std::size_t(x) * 4);
            }
        });
        img = std::move(out);
    }
    return img;
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
        const float *s = img.row(y);
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

void colour(OVNLinearImage &img, const OVNAdjustValues &v, int threads)
{
    if (img.isNull())
        return;
    // Pointwise stages before sharpening, fused into one pass.
    const bool exposure = v.exposure != 0, gamma = v.gamma != 0.75,
               controls = !(v.saturation == 100 && v.brightness == 0 && v.contrast == 100), hue = v.tint != 0;
    const float gain = float(std::exp2(v.exposure)), power = float(v.gamma);
    const float sat = float(v.saturation / 100), bri = float(v.brightness / 100), con = float(v.contrast / 100);
    // Rotation about the grey axis (Rodrigues).
    float m[9];
    {
        const float c = float(std::cos(v.tint)), s = float(std::sin(v.tint)), k = 1 / std::sqrt(3.0f);
        const float t = 1 - c;
        const float kx = k, ky = k, kz = k;
        m[0] = c + kx * kx * t;      m[1] = kx * ky * t - kz * s; m[2] = kx * kz * t + ky * s;
        m[3] = ky * kx * t + kz * s; m[4] = c + ky * ky * t;      m[5] = ky * kz * t - kx * s;
        m[6] = kz * kx * t - ky * s; m[7] = kz * ky * t + kx * s; m[8] = c + kz * kz * t;
    }
    auto pointwise = [&](bool a, bool b, bool cc, bool d, bool wp, bool sepia) {
        if (!(a || b || cc || d || wp || sepia))
            return;
        forRows(img.height, threads, [&](int y) {
            float *p = img.row(y);
            for (int x = 0; x < img.width; ++x, p += 4) {
                const float alpha = p[3];
                if (alpha <= 0) {
                    p[0] = p[1] = p[2] = 0;
                    continue;
                }
                float r = p[0] / alpha, g = p[1] / alpha, bl = p[2] / alpha;
                if (a) {
                    r *= gain; g *= gain; bl *= gain;
                }
                if (b) {
                    r = std::pow(std::max(r, 0.0f), power);
                    g = std::pow(std::max(g, 0.0f), power);
                    bl = std::pow(std::max(bl, 0.0f), power);
                }
                if (cc) {
                    const float l = kLumaR * r + kLumaG * g + kLumaB * bl;
                    r = ((l + sat * (r - l) + bri) - 0.5f) * con + 0.5f;
                    g = ((l + sat * (g - l) + bri) - 0.5f) * con + 0.5f;
                    bl = ((l + sat * (bl - l) + bri) - 0.5f) * con + 0.5f;
                }
                if (d) {
                    const float nr = m[0] * r + m[1] * g + m[2] * bl;
                    const float ng = m[3] * r + m[4] * g + m[5] * bl;
                    const float nb = m[6] * r + m[7] * g + m[8] * bl;
                    r = nr; g = ng; bl = nb;
                }
                if (wp) {
                    r *= float((*v.whitePoint)[0]);
                    g *= float((*v.whitePoint)[1]);
                    bl *= float((*v.whitePoint)[2]);
                }
                if (sepia) {
                    const float i = float(v.sepia);
                    const float sr = 0.393f * r + 0.769f * g + 0.189f * bl;
                    const float sg = 0.349f * r + 0.686f * g + 0.168f * bl;
                    const float sb = 0.272f * r + 0.534f * g + 0.131f * bl;
                    r += i * (sr - r); g += i * (sg - g); bl += i * (sb - bl);
                }
                // Premultiplied storage needs colour within [0, alpha]; values above one stay for
                // the later stages only when fully opaque.
                if (alpha < 1) {
                    r = std::clamp(r, 0.0f, 1.0f); g = std::clamp(g, 0.0f, 1.0f); bl = std::clamp(bl, 0.0f, 1.0f);
                }
                p[0] = r * alpha; p[1] = g * alpha; p[2] = bl * alpha;
            }
        });
    };
    pointwise(exposure, gamma, controls, hue, false, false);
    sharpen(img, v.sharpness, threads);
    pointwise(false, false, false, false, bool(v.whitePoint), v.sepia != 0);
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
    for (int r = 0; r < out.height; ++r)
        std::copy_n(image.row(y0 + r) + std::size_t(x0) * 4, std::size_t(out.width) * 4, out.row(r));
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

OVNLinearImage OVNLinearImage::fromImage(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage src = image;
    if (src.colorSpace().isValid() && src.colorSpace() != QColorSpace(QColorSpace::SRgb))
        src.convertToColorSpace(QColorSpace::SRgb);
    src = src.convertToFormat(QImage::Format_RGBA8888);
    static const std::array<float, 256> lut = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = OVNAdjustChain::srgbToLinear(i / 255.0f);
        return t;
    }();
    OVNLinearImage img = allocate(src.width(), src.height());
    OVNAdjustChain::forRows(img.height, 0, [&](int y) {
        const uchar *s = src.constScanLine(y);
        float *d = img.row(y);
        for (int x = 0; x < img.width; ++x, s += 4, d += 4) {
            const float a = s[3] / 255.0f;
            d[0] = lut[s[0]] * a;
            d[1] = lut[s[1]] * a;
            d[2] = lut[s[2]] * a;
            d[3] = a;
        }
    });
    return img;
}

QImage OVNLinearImage::toImage() const
{
    if (isNull())
        return {};
    // A 16-bit table for the sRGB curve: every 8-bit value survives the round trip.
    static const std::array<uchar, 65536> lut = [] {
        std::array<uchar, 65536> t{};
        for (int i = 0; i < 65536; ++i)
            t[i] = uchar(std::lround(OVNAdjustChain::linearToSrgb(i / 65535.0f) * 255));
        return t;
    }();
    QImage out(width, height, QImage::Format_RGBA8888);
    OVNAdjustChain::forRows(height, 0, [&](int y) {
        const float *s = row(y);
        uchar *d = out.scanLine(y);
        for (int x = 0; x < width; ++x, s += 4, d += 4) {
            const float a = std::clamp(s[3], 0.0f, 1.0f);
            for (int c = 0; c < 3; ++c) {
                const float v = a > 0 ? std::clamp(s[c] / a, 0.0f, 1.0f) : 0.0f;
                d[c] = lut[std::size_t(std::lround(v * 65535))];
            }
            d[3] = uchar(std::lround(a * 255));
        }
    });
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

OVNLinearImage OVNAdjustPreviewCache::render(const std::shared_ptr<const OVNLinearImage> &source,
                                             const OVNAdjustValues &values, int maxWidth, int maxHeight, double *zoom,
                                             int threads)
{
    if (!source)
        return {};
    if (source_ != source || rotation_ != values.rotation || straighten_ != values.straighten || maxWidth_ != maxWidth
        || maxHeight_ != maxHeight) {
        cached_ = OVNAdjustChain::scaleToFit(OVNAdjustChain::geometric(*source, values, threads), maxWidth, maxHeight,
                                             &zoom_, threads);
        source_ = source;
        rotation_ = values.rotation;
        straighten_ = values.straighten;
        maxWidth_ = maxWidth;
        maxHeight_ = maxHeight;
    }
    if (zoom)
        *zoom = zoom_;
    OVNLinearImage out = cached_;
    OVNAdjustChain::colour(out, values, threads);
    return out;
}

void OVNAdjustDocument::setSource(OVNLinearImage source)
{
    source_ = std::make_shared<const OVNLinearImage>(std::move(source));
    revert_.reset();
}

const OVNLinearImage &OVNAdjustDocument::source() const
{
    static const OVNLinearImage empty;
    return source_ ? *source_ : empty;
}

bool OVNAdjustDocument::cropToView(double x1, double y1, double x2, double y2, double originX, double originY,
                                   double zoom)
{
    if (zoom <= 0 || source().isNull())
        return false;
    const double left = std::max(0.0, std::min(x1, x2) - originX), top = std::max(0.0, std::min(y1, y2) - originY);
    const double right = std::max(x1, x2) - originX, bottom = std::max(y1, y2) - originY;
    if (right <= left || bottom <= top)
        return false;
    // A hair of slack, so that a rectangle given in picture pixels times the zoom maps back exactly.
    constexpr double slack = 1e-6;
    const int x = int(std::floor(left / zoom + slack)), y = int(std::floor(top / zoom + slack));
    const int r = int(std::ceil(right / zoom - slack)), b = int(std::ceil(bottom / zoom - slack));
    const OVNLinearImage turned = OVNAdjustChain::geometric(source(), values);
    OVNLinearImage cropped = OVNAdjustChain::crop(turned, x, y, r - x, b - y);
    if (cropped.isNull())
        return false;
    if (!revert_)
        revert_ = Revert{source_, values.rotation, values.straighten};
    source_ = std::make_shared<const OVNLinearImage>(std::move(cropped));
    values.rotation = 0;
    values.straighten = 0;
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
