#include "decoding/JpegEncoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QSysInfo>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <optional>
#include <vector>

#include <jpeglib.h>

struct JpegEncoder::State {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    std::jmp_buf jump{};
    Output output;
    std::vector<JOCTET> piece = std::vector<JOCTET>(256 * 1024);
    std::vector<uchar> converted; // a translucent row laid on white
    int quality = 85;
    QSize dotsPerMeter;
    QByteArray profile;
    Pixels pixels = Pixels::Rgb32;
    bool created = false;
    bool started = false;
    bool failed = false;

    ~State()
    {
        if (created)
            jpeg_destroy_compress(&info);
    }
};

namespace {

JpegEncoder::State &stateOf(j_compress_ptr info) { return *static_cast<JpegEncoder::State *>(info->client_data); }

void startPiece(j_compress_ptr info)
{
    JpegEncoder::State &state = stateOf(info);
    state.destination.next_output_byte = state.piece.data();
    state.destination.free_in_buffer = state.piece.size();
}

boolean takePiece(j_compress_ptr info)
{
    JpegEncoder::State &state = stateOf(info);
    if (!state.output(reinterpret_cast<const char *>(state.piece.data()), qsizetype(state.piece.size())))
        std::longjmp(state.jump, 1);
    startPiece(info);
    return TRUE;
}

void takeLastPiece(j_compress_ptr info)
{
    JpegEncoder::State &state = stateOf(info);
    const qsizetype size = qsizetype(state.piece.size() - state.destination.free_in_buffer);
    if (size > 0 && !state.output(reinterpret_cast<const char *>(state.piece.data()), size))
        std::longjmp(state.jump, 1);
}

[[noreturn]] void stopEncoding(j_common_ptr info)
{
    std::longjmp(static_cast<JpegEncoder::State *>(info->client_data)->jump, 1);
}

void ignoreMessage(j_common_ptr) {}

// The density Qt's writer records: dots per inch where the picture's resolution is nearer a whole
// number of them than of dots per centimetre.
void setDensity(jpeg_compress_struct &info, QSize dotsPerMeter)
{
    const int x = dotsPerMeter.width(), y = dotsPerMeter.height();
    const double perInchX = x * 2.54 / 100.0;
    const double perInchY = y * 2.54 / 100.0;
    const double offInch = std::abs(perInchX - qRound(perInchX)) + std::abs(perInchY - qRound(perInchY));
    const double offCm = (std::abs(x / 100.0 - qRound(x / 100.0)) + std::abs(y / 100.0 - qRound(y / 100.0))) * 2.54;
    if (offInch < offCm) {
        info.density_unit = 1;
        info.X_density = UINT16(qRound(perInchX));
        info.Y_density = UINT16(qRound(perInchY));
    } else {
        info.density_unit = 2;
        info.X_density = UINT16((x + 50) / 100);
        info.Y_density = UINT16((y + 50) / 100);
    }
}

// A premultiplied pixel laid on white.
inline quint32 onWhite(quint32 p)
{
    const quint32 rest = 255 - (p >> 24);
    const quint32 b = std::min<quint32>(255, (p & 0xff) + rest);
    const quint32 g = std::min<quint32>(255, ((p >> 8) & 0xff) + rest);
    const quint32 r = std::min<quint32>(255, ((p >> 16) & 0xff) + rest);
    return 0xff000000u | (r << 16) | (g << 8) | b;
}

} // namespace

JpegEncoder::JpegEncoder(int quality, QSize dotsPerMeter, Output output) : m_state(std::make_unique<State>())
{
    m_state->quality = std::clamp(quality, 0, 100);
    m_state->dotsPerMeter = dotsPerMeter;
    m_state->output = std::move(output);
}

JpegEncoder::~JpegEncoder() = default;

bool JpegEncoder::failed() const { return m_state->failed; }

void JpegEncoder::setColourProfile(const QByteArray &icc) { m_state->profile = icc; }

void JpegEncoder::setDotsPerMeter(QSize dotsPerMeter)
{
    if (dotsPerMeter.width() > 0 && dotsPerMeter.height() > 0)
        m_state->dotsPerMeter = dotsPerMeter;
}

bool JpegEncoder::begin(QSize size, Pixels pixels)
{
    State &state = *m_state;
    if (state.started || state.failed || size.isEmpty() || size.width() > JPEG_MAX_DIMENSION
        || size.height() > JPEG_MAX_DIMENSION) {
        state.failed = true;
        return false;
    }
    if (setjmp(state.jump)) {
        state.failed = true;
        return false;
    }
    jpeg_compress_struct &info = state.info;
    info.err = jpeg_std_error(&state.errors);
    state.errors.error_exit = stopEncoding;
    state.errors.output_message = ignoreMessage;
    jpeg_create_compress(&info);
    state.created = true;
    info.client_data = &state;
    state.destination.init_destination = startPiece;
    state.destination.empty_output_buffer = takePiece;
    state.destination.term_destination = takeLastPiece;
    info.dest = &state.destination;
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    const bool grey = pixels == Pixels::Grey8;
    // The defaults of a three-colour picture, as Qt's writer sets them; the rows are then handed
    // over as they are stored (libjpeg takes RGB32's byte order itself).
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    if (!grey) {
        info.input_components = 4;
        info.in_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    }
    setDensity(info, state.dotsPerMeter);
    jpeg_set_quality(&info, state.quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (!state.profile.isEmpty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET *>(state.profile.constData()),
                               unsigned(state.profile.size()));
    state.pixels = pixels;
    if (pixels == Pixels::PremultipliedArgb32)
        state.converted.resize(size_t(size.width()) * 4);
    state.started = true;
    return true;
}

bool JpegEncoder::addRows(const uchar *first, qsizetype bytesPerLine, int count)
{
    State &state = *m_state;
    if (!state.started || state.failed)
        return false;
    if (setjmp(state.jump)) {
        state.failed = true;
        return false;
    }
    jpeg_compress_struct &info = state.info;
    for (int i = 0; i < count && info.next_scanline < info.image_height; ++i) {
        const uchar *row = first + qsizetype(i) * bytesPerLine;
        JSAMPROW line = const_cast<JSAMPROW>(row);
        if (state.pixels == Pixels::PremultipliedArgb32) {
            const auto *in = reinterpret_cast<const quint32 *>(row);
            auto *out = reinterpret_cast<quint32 *>(state.converted.data());
            for (JDIMENSION x = 0; x < info.image_width; ++x)
                out[x] = onWhite(in[x]);
            line = state.converted.data();
        }
        jpeg_write_scanlines(&info, &line, 1);
    }
    return true;
}

bool JpegEncoder::finish()
{
    State &state = *m_state;
    if (!state.started || state.failed || state.info.next_scanline < state.info.image_height)
        return false;
    if (setjmp(state.jump)) {
        state.failed = true;
        return false;
    }
    jpeg_finish_compress(&state.info);
    return true;
}

namespace {

// The rows a sink takes of a picture of `format`; none for a format it takes no rows of. Straight
// alpha (ARGB32) is sent premultiplied, a band at a time, where `straightAlpha` allows.
std::optional<RowSink::Pixels> sinkPixels(QImage::Format format, bool straightAlpha)
{
    switch (format) {
    case QImage::Format_RGB32:
        return RowSink::Pixels::Rgb32;
    case QImage::Format_Grayscale8:
        return RowSink::Pixels::Grey8;
    case QImage::Format_ARGB32_Premultiplied:
        return RowSink::Pixels::PremultipliedArgb32;
    case QImage::Format_ARGB32:
        if (straightAlpha)
            return RowSink::Pixels::PremultipliedArgb32;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace

bool JpegEncoder::sendRows(const QImage &image, RowSink &sink)
{
    const QImage &source = image;
    const std::optional<Pixels> pixels = sinkPixels(image.format(), true);
    if (!pixels || !sink.begin(image.size(), *pixels))
        return false;
    constexpr int band = 16;
    std::vector<QRgb> premultiplied;
    for (int top = 0; top < image.height(); top += band) {
        const int rows = std::min(band, image.height() - top);
        if (image.format() == QImage::Format_ARGB32) {
            premultiplied.resize(size_t(image.width()) * size_t(rows));
            for (int y = 0; y < rows; ++y) {
                const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(top + y));
                QRgb *out = premultiplied.data() + qsizetype(y) * image.width();
                for (int x = 0; x < image.width(); ++x)
                    out[x] = qPremultiply(in[x]);
            }
            if (!sink.addRows(reinterpret_cast<const uchar *>(premultiplied.data()), qsizetype(image.width()) * 4,
                              rows))
                return false;
        } else if (!sink.addRows(source.constScanLine(top), source.bytesPerLine(), rows)) {
            return false;
        }
    }
    return true;
}

namespace {

// The rows top..top + count - 1 of `image` (of `size`, pixels of type T) turned by `orientation`,
// into `out`, `width` pixels a row. Output pixel (x, y) is the stored one at: 2 (w-1-x, y),
// 3 (w-1-x, h-1-y), 4 (x, h-1-y), 5 (y, x), 6 (y, h-1-x), 7 (w-1-y, h-1-x), 8 (w-1-y, x).
template <typename T>
void turnedBand(const QImage &image, int orientation, int top, int count, T *out, int width)
{
    const int w = image.width(), h = image.height();
    if (orientation <= 4) {
        const bool mirrored = orientation == 2 || orientation == 3;
        const bool flipped = orientation == 3 || orientation == 4;
        for (int i = 0; i < count; ++i) {
            const auto *in = reinterpret_cast<const T *>(image.constScanLine(flipped ? h - 1 - (top + i) : top + i));
            T *row = out + qsizetype(i) * width;
            if (mirrored)
                std::reverse_copy(in, in + w, row);
            else
                std::copy(in, in + w, row);
        }
        return;
    }
    // Each turned row is a stored column: a band of them is gathered one stored row at a time.
    const bool columnsBack = orientation == 7 || orientation == 8;
    const bool rowsBack = orientation == 6 || orientation == 7;
    for (int x = 0; x < width; ++x) {
        const auto *in = reinterpret_cast<const T *>(image.constScanLine(rowsBack ? h - 1 - x : x));
        for (int i = 0; i < count; ++i)
            out[qsizetype(i) * width + x] = in[columnsBack ? w - 1 - (top + i) : top + i];
    }
}

} // namespace

bool JpegEncoder::sendTurnedRows(const QImage &image, int orientation, RowSink &sink)
{
    if (orientation < 2 || orientation > 8)
        return sendRows(image, sink);
    const std::optional<Pixels> sent = sinkPixels(image.format(), false);
    if (!sent)
        return false;
    const Pixels pixels = *sent;
    const bool across = orientation >= 5;
    const QSize size = across ? image.size().transposed() : image.size();
    if (!sink.begin(size, pixels))
        return false;
    constexpr int band = 16;
    const bool grey = pixels == Pixels::Grey8;
    const qsizetype bytesPerLine = qsizetype(size.width()) * (grey ? 1 : 4);
    std::vector<uchar> rows(size_t(bytesPerLine) * band);
    for (int top = 0; top < size.height(); top += band) {
        const int count = std::min(band, size.height() - top);
        if (grey)
            turnedBand(image, orientation, top, count, rows.data(), size.width());
        else
            turnedBand(image, orientation, top, count, reinterpret_cast<quint32 *>(rows.data()), size.width());
        if (!sink.addRows(rows.data(), bytesPerLine, count))
            return false;
    }
    return true;
}

std::optional<QByteArray> JpegEncoder::encode(const QImage &image, int quality)
{
    if (image.isNull())
        return std::nullopt;
    const bool grey = image.format() == QImage::Format_Grayscale8;
    // A colour profile of RGB data in one marker is written here as Qt's writer writes it.
    const QByteArray profile = image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray();
    const bool ownProfile = profile.isEmpty()
                            || (!grey && profile.size() <= 65000 && !RowSink::rgbProfile(profile).isEmpty());
    // Anything else the encoder here does not write as Qt's writer does (texts, other profiles,
    // other formats) goes through Qt's writer.
    if ((!grey && image.format() != QImage::Format_RGB32) || !image.textKeys().isEmpty() || !ownProfile) {
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(quality);
        if (!writer.write(image))
            return std::nullopt;
        return out;
    }
    QByteArray out;
    JpegEncoder encoder(quality, QSize(image.dotsPerMeterX(), image.dotsPerMeterY()),
                        [&out](const char *data, qsizetype size) {
                            out.append(data, size);
                            return true;
                        });
    encoder.setColourProfile(profile);
    if (!sendRows(image, encoder) || !encoder.finish())
        return std::nullopt;
    return out;
}

QSize JpegEncoder::writtenSize(QSize size, QSize box)
{
    const double w = size.width(), h = size.height();
    if (w <= box.width() && h <= box.height())
        return size;
    const double rw = w / box.width(), rh = h / box.height();
    const double fw = rw > rh ? box.width() : w / rh;
    const double fh = rw > rh ? h / rw : box.height();
    return QSize(std::max(1, int(fw)), std::max(1, int(fh)));
}
