#pragma once

#include "decoding/RowSink.h"

#include <QByteArray>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>

// A JPEG written through libjpeg-turbo a band of rows at a time, with the settings of Qt's JPEG
// writer (its defaults for three colours or grey, no optimised tables, the picture's density):
// whoever hands the rows never needs the whole picture, and the encoded bytes go to `output` a
// piece at a time as they are made. Translucent rows are laid on white, as the thumbnails show
// them. An error of the library ends the encode (false), never the process.
class JpegEncoder : public RowSink
{
public:
    // Takes each piece of the encoded file in order; false ends the encode.
    using Output = std::function<bool(const char *data, qsizetype size)>;

    // `quality` 0..100; `dotsPerMeter` the picture's density as QImage keeps it.
    JpegEncoder(int quality, QSize dotsPerMeter, Output output);
    ~JpegEncoder() override;
    JpegEncoder(const JpegEncoder &) = delete;
    JpegEncoder &operator=(const JpegEncoder &) = delete;

    void setColourProfile(const QByteArray &icc) override;
    void setDotsPerMeter(QSize dotsPerMeter) override;
    bool begin(QSize size, Pixels pixels) override;
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override;
    // Writes the end of the file once every row is in; false when the encode failed anywhere.
    bool finish();
    bool failed() const;

    // The size a picture of `size` is written at in `box`: the longer ratio decides (the height on
    // a tie), the other side truncated, never enlarged, at least 1 x 1.
    static QSize writtenSize(QSize size, QSize box);

    // A whole picture as a JPEG file, byte for byte what Qt's writer makes of it: RGB32 and grey
    // pictures without texts or a colour profile encoded here, without first turning each row
    // into RGB as that writer does, others by Qt's writer. nullopt when it cannot be encoded.
    static std::optional<QByteArray> encode(const QImage &image, int quality);
    // The rows of `image` (of a format encode() takes) handed to `sink`, a band at a time.
    static bool sendRows(const QImage &image, RowSink &sink);
    // The same turned by the EXIF `orientation` (1 to 8; others as 1): each band of the turned
    // picture's rows gathered from `image` as it is (RGB32, premultiplied ARGB32 or grey), so
    // that no turned copy of the picture is made.
    static bool sendTurnedRows(const QImage &image, int orientation, RowSink &sink);

    struct State;

private:
    std::unique_ptr<State> m_state;
};
