#pragma once

#include <QImage>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Leaves new elements uninitialised: every stage writes all of its output, and zero-filling
// hundreds of megabytes first would cost more than some stages.
template <typename T>
struct OVNUninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = OVNUninitialisedAllocator<U>;
    };
    OVNUninitialisedAllocator() = default;
    template <typename U>
    OVNUninitialisedAllocator(const OVNUninitialisedAllocator<U> &) noexcept
    {}
    template <typename U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};

namespace OVNAdjustChain {
class CropView;
}

// The adjustment window's filter chain, without widgets: pictures in float, premultiplied RGBA,
// linear light. Geometric stages (straighten, turn, fit-to-view scaling) work on premultiplied
// values; colour formulas see unpremultiplied ones.
//
// A picture may instead keep its 8-bit sRGB pixels (`packed`, with `pixels` empty), read into linear
// light a row or a pixel at a time by the same table fromImage uses: the same values in a quarter of
// the memory, for a camera's picture as the chain's source.
//
// Or it may be a crop view (`cropView`, with neither pixels nor packed): a rectangle of another picture after
// that picture's straighten and turn, each pixel worked out from it again whenever it is read. It
// holds nothing but the other picture, and reads exactly as the same crop made in floats would.
//
// row() is for float pictures only; the chain reads every kind through readRow() and readPixel().
struct OVNLinearImage {
    int width = 0;
    int height = 0;
    std::vector<float, OVNUninitialisedAllocator<float>> pixels; // width * height * 4, premultiplied linear RGBA
    QImage packed; // or: 8-bit sRGB, straight alpha (RGBA8888, ARGB32 or RGB32)
    std::shared_ptr<const OVNAdjustChain::CropView> cropView; // or: made from another picture when read

    bool isNull() const { return width <= 0 || height <= 0; }
    bool isPacked() const { return !packed.isNull(); }
    bool isCropView() const { return bool(cropView); }
    // Whether `pixels` holds the picture.
    bool hasFloats() const { return !isPacked() && !isCropView(); }
    float *row(int y) { return pixels.data() + std::size_t(y) * std::size_t(width) * 4; }
    const float *row(int y) const { return pixels.data() + std::size_t(y) * std::size_t(width) * 4; }
    // Row y (width * 4 floats), pixel (x, y) (4 floats), or the n pixels of row y from x on, as
    // premultiplied linear RGBA.
    void readRow(int y, float *out) const { readPixels(0, y, width, out); }
    void readPixel(int x, int y, float *out) const { readPixels(x, y, 1, out); }
    void readPixels(int x, int y, int n, float *out) const;
    // A float picture of the same values.
    OVNLinearImage unpacked() const;

    static OVNLinearImage allocate(int width, int height);
    // From the picture's own colour profile (sRGB when it has none).
    static OVNLinearImage fromImage(const QImage &image);
    // The same values, kept packed.
    static OVNLinearImage fromImagePacked(const QImage &image);
    // Back to 8-bit sRGB, clamped; straight alpha.
    QImage toImage() const;
};

struct OVNAdjustValues {
    double exposure = 0;     // EV
    double gamma = 0.75;     // power; 0.75 is the slider's start and skips the stage
    double saturation = 100; // percent
    double brightness = 0;   // percent
    double contrast = 100;   // percent
    double sharpness = 0;
    double tint = 0;                                 // hue angle in radians
    double straighten = 0;                           // degrees, positive counter-clockwise
    double sepia = 0;                                // 0..1
    int rotation = 0;                                // 0, 90, 180 or 270 clockwise
    std::optional<std::array<double, 3>> whitePoint; // linear RGB; none skips the stage
};

namespace OVNAdjustChain {

// The values with every one that is not a finite number (NaN, infinity) at its neutral value, so
// that a value from anywhere never reaches the pixels as NaN or turns a size into nonsense. Every
// function here reads its values through this.
OVNAdjustValues finiteValues(const OVNAdjustValues &values);

// Which stages run for these values, in chain order (for tests and diagnostics).
enum Stage { Straighten, Turn, Scale, Exposure, Gamma, ColorControls, Hue, Sharpen, WhitePoint, Sepia };
std::vector<Stage> stagesFor(const OVNAdjustValues &values, bool scaled);

// The size of the picture after straighten and turn, without computing it.
void geometricSize(int width, int height, const OVNAdjustValues &values, int *outWidth, int *outHeight);
// The factor and size scaleToFit gives a picture of that size.
double fitZoom(int width, int height, int maxWidth, int maxHeight, int *outWidth = nullptr, int *outHeight = nullptr);
// Straighten, then the orientation turn.
OVNLinearImage geometric(const OVNLinearImage &source, const OVNAdjustValues &values, int threads = 0);
// Shrinks to fit maxWidth x maxHeight (never enlarges); zoom receives the factor used.
OVNLinearImage scaleToFit(const OVNLinearImage &image, int maxWidth, int maxHeight, double *zoom, int threads = 0);
// The colour stages (exposure to sepia), in place.
void colour(OVNLinearImage &image, const OVNAdjustValues &values, int threads = 0);
// The colour stages straight to 8-bit sRGB (what toImage() of colour() gives, without the float copy).
QImage colourToImage(const OVNLinearImage &image, const OVNAdjustValues &values, int threads = 0);
// The whole chain unscaled to 8-bit sRGB: what export writes. It works in bands of rows, each
// made from the source as it is needed, so that besides the source and the result it holds a few
// rows per worker; the bytes are those of toImage() of render().
QImage renderImage(const OVNLinearImage &source, const OVNAdjustValues &values, int threads = 0);
// The whole chain unscaled: what export and crop use.
OVNLinearImage render(const OVNLinearImage &source, const OVNAdjustValues &values, int threads = 0);
// The pixels of rect (x, y, w, h) of image, clamped to it; empty when nothing is left.
OVNLinearImage crop(const OVNLinearImage &image, int x, int y, int w, int h);
// crop(geometric(*source, values), x, y, w, h) as a crop view (see OVNLinearImage): the same
// values, pixel for pixel, without ever holding the turned picture or the crop. Empty when
// nothing is left.
OVNLinearImage cropGeometric(std::shared_ptr<const OVNLinearImage> source, const OVNAdjustValues &values, int x, int y,
                             int w, int h);

// Runs fn(y) for every row, on `threads` workers (0: the machine's cores). Each row is computed
// alone, so the result is the same for any thread count.
void forRows(int height, int threads, const std::function<void(int)> &fn);

} // namespace OVNAdjustChain

// The geometric stages at display size, kept while the source, turn, straighten and box stay the
// same, so that a colour change reruns only the colour stages on the display-size picture.
class OVNAdjustPreviewCache
{
public:
    // The chain with display scaling into maxWidth x maxHeight; zoom receives the factor.
    OVNLinearImage render(const std::shared_ptr<const OVNLinearImage> &source, const OVNAdjustValues &values,
                          int maxWidth, int maxHeight, double *zoom = nullptr, int threads = 0);

    // The same as 8-bit sRGB, for the screen.
    QImage renderImage(const std::shared_ptr<const OVNLinearImage> &source, const OVNAdjustValues &values, int maxWidth,
                       int maxHeight, double *zoom = nullptr, int threads = 0);

private:
    const OVNLinearImage &geometricAtSize(const std::shared_ptr<const OVNLinearImage> &source,
                                          const OVNAdjustValues &values, int maxWidth, int maxHeight, int threads);

    std::shared_ptr<const OVNLinearImage> source_;
    OVNLinearImage prescaled_;
    OVNLinearImage cached_;
    double zoom_ = 1;
    int rotation_ = -1, maxWidth_ = -1, maxHeight_ = -1;
    double straighten_ = 0;
};

// The picture being adjusted, with crop and revert. A crop bakes only the geometric stages (straighten
// and turn) into the new source, so the colour stages stay live and apply once in preview and export.
class OVNAdjustDocument
{
public:
    void setSource(OVNLinearImage source);
    // The same for a source made on another thread; null is an empty picture.
    void setSource(std::shared_ptr<const OVNLinearImage> source);
    const OVNLinearImage &source() const;
    // The source as shared with a preview worker; replaced, never changed, by crop and revert.
    std::shared_ptr<const OVNLinearImage> sharedSource() const { return source_; }
    bool canRevert() const { return revert_.has_value(); }

    OVNAdjustValues values;

    // The chain with display scaling into maxWidth x maxHeight; zoom receives the factor.
    OVNLinearImage preview(int maxWidth, int maxHeight, double *zoom = nullptr, int threads = 0)
    {
        return cache_.render(source_, values, maxWidth, maxHeight, zoom, threads);
    }
    // The chain unscaled: what export writes.
    OVNLinearImage render(int threads = 0) const { return OVNAdjustChain::render(source(), values, threads); }
    QImage renderImage(int threads = 0) const { return OVNAdjustChain::renderImage(source(), values, threads); }

    // Crops to the rectangle between two view points (y down), given where the picture is drawn in
    // the view and its zoom factor. The rectangle is clamped to the picture; an empty one does
    // nothing and answers false. Straighten and turn are reset, as they are now in the source.
    bool cropToView(double x1, double y1, double x2, double y2, double originX, double originY, double zoom);
    // The two halves of that, so that the first can run on another thread: the new source for the
    // rectangle (none when it is empty), then taking it.
    static std::optional<OVNLinearImage> croppedToView(const std::shared_ptr<const OVNLinearImage> &source,
                                                       const OVNAdjustValues &values, double x1, double y1, double x2,
                                                       double y2, double originX, double originY, double zoom);
    void takeCrop(OVNLinearImage cropped);
    // Back to the picture before the first crop, with the turn and straighten it had then.
    void revert();

private:
    std::shared_ptr<const OVNLinearImage> source_;
    struct Revert {
        std::shared_ptr<const OVNLinearImage> image;
        int rotation;
        double straighten;
    };
    std::optional<Revert> revert_;
    OVNAdjustPreviewCache cache_;
};
