#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class LibRaw;

// Camera-RAW decoding over LibRaw (the thread-safe build: each object keeps its state to itself).
// It runs in the decoder processes (see MediaDecoder.h), one file at a time in each, where the
// decoder's memory limit bounds its work buffers (a full-size 16-bit, four-channel picture); no
// lock is shared between objects, so a file on one thread never waits for another thread's file.
//
// The pixels are left in the sensor's orientation; `Info::flip` says how to turn them.
//
// A decode ends at the deadline or Cancel of its thread's DecodeInterrupt scope (within about a
// tenth of a second of LibRaw's rows), and once they are reached nothing more is read: no preview,
// no decode. Data errors that LibRaw reads past are noted to the thread's DecodeReport scope; what
// LibRaw says goes to the log ("ovn.decoding").
class RawDecoder
{
public:
    struct Info {
        QByteArray make;
        QByteArray model;
        int rawWidth = 0;
        int rawHeight = 0;
        int width = 0; // the picture a full decode gives, before any turning
        int height = 0;
        int flip = 0; // the decoder's rotation code (0 none, 3 180°, 5 90° left, 6 90° right)
        // The raw data would start past the end of the file (a file cut short, or a header naming
        // data that was never written): a decode gives nothing and notes the file as damaged.
        bool dataPastEnd = false;
    };

    enum class Interpolation { Full, Quick };

    struct Options {
        // 0 full size; n > 0 about 1/2^n of the sensor size on each side.
        int shrink = 0;
        Interpolation interpolation = Interpolation::Full;
    };

    // 8-bit RGB, rows of 3 × width bytes without padding, gamma and white point applied.
    struct Image {
        int width = 0;
        int height = 0;
        QByteArray rgb;
    };

    RawDecoder();
    ~RawDecoder();
    RawDecoder(const RawDecoder &) = delete;
    RawDecoder &operator=(const RawDecoder &) = delete;

    // Identifies the camera format of the bytes. The decoder reads from `data` until it is done,
    // so the caller keeps it alive and unchanged. False for anything that is not a supported,
    // plausibly sized camera-RAW file.
    bool open(const QByteArray &data);
    bool isOpen() const { return m_open; }
    const Info &info() const { return m_info; }

    // The decoded picture, or nothing when the data is damaged, holds no picture (its samples are
    // all zero: a header without its data), memory runs out, or the decode is stopped.
    std::optional<Image> decode(const Options &options);

    // The camera's embedded preview when it is a JPEG stream (starts with FF D8), else empty.
    QByteArray embeddedJpeg();

    // The facts open() would give, from the file's header alone (the file is not read whole);
    // nothing for a file that is no supported camera-RAW file.
    static std::optional<Info> identifyFile(const QString &path);

    // The memory a decode of a picture with these facts holds at its peak, about.
    static qint64 decodeBytes(const Info &info, const Options &options);

    // The rotation code as an EXIF orientation: 0 (none) is 1, 3 is 3, 5 is 8 and 6 is 6; the
    // mirrored codes likewise.
    static int exifOrientation(int flip);

    // The largest number of sensor pixels the decoder accepts (it works on 8 bytes per pixel).
    static constexpr qint64 maxSensorPixels = 400'000'000;

private:
    static bool readInfo(LibRaw &raw, Info &info);
    bool reidentify();
    struct Unpacked {
        int code = 0;
        qint64 held = 0;    // bytes of the file from where its raw data starts
        qint64 missing = 0; // bytes asked for past the file's end
    };
    Unpacked unpack(int (LibRaw::*step)());

    class Stream;

    QByteArray m_data;
    std::unique_ptr<Stream> m_stream; // read by m_raw, so made before it and gone after it
    std::unique_ptr<LibRaw> m_raw;
    Info m_info;
    bool m_open = false;
    bool m_spent = false;
};
