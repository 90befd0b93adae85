#pragma once

#include "decoding/DecodeInterrupt.h"
#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QtGlobal>

#include <algorithm>
#include <memory>
#include <vector>

class QIODevice;

// A device read on from a position through a buffer of its own, for the picture readers that read
// a file a row or a run at a time. Several inputs may read one device at different places (a
// Photoshop file's channels, one after another in the file): each seeks the device before it
// fills its buffer. A read that the data ends before (or that the device fails) gives what there
// was and is remembered: the file is cut short.
class ImageRepInput
{
public:
    explicit ImageRepInput(QIODevice &device, qint64 position = 0);
    ImageRepInput(const ImageRepInput &) = delete;
    ImageRepInput &operator=(const ImageRepInput &) = delete;
    ImageRepInput(ImageRepInput &&) = default;

    qint64 position() const { return m_position; }
    void seek(qint64 position) { m_position = position; }

    // Up to `count` bytes into `into`: fewer where the data ends.
    qint64 read(void *into, qint64 count);
    bool readAll(void *into, qint64 count) { return read(into, count) == count; }
    // The next byte, or -1 where the data ends.
    int byte()
    {
        if (m_position >= m_start && m_position < m_start + m_length)
            return uchar(m_buffer[size_t(m_position++ - m_start)]);
        return refillAndRead();
    }
    void skip(qint64 count) { m_position += count; }

    // Whether a read asked for bytes past the end of the data.
    bool endedEarly() const { return m_endedEarly; }

    static constexpr qint64 bufferBytes = qint64(64) << 10;

    // A band of stored rows read at once by readRowsBackwards(): at least one row.
    static constexpr qint64 backwardBandBytes = qint64(4) << 20;
    static qint64 backwardBandRows(qint64 rowBytes) { return std::max<qint64>(1, backwardBandBytes / rowBytes); }

    // For a picture stored bottom first and handed on top first (PictureRows::streamsTopFirst()):
    // the stored rows `count` - 1 down to 0, `rowBytes` apart from `dataAt` in `device`, each
    // handed to `row` (its bytes), read a band of backwardBandRows() at a time from the last one
    // back, so that only a band is held. False where the device gave less than a band (the rows
    // from there on are not handed) or the read was stopped.
    template <typename Row>
    static bool readRowsBackwards(QIODevice &device, qint64 dataAt, qint64 rowBytes, qint64 count, Row row)
    {
        const qint64 bandRows = backwardBandRows(rowBytes);
        std::vector<uchar> band(size_t(std::min(bandRows, count) * rowBytes));
        for (qint64 end = count; end > 0;) {
            if (DecodeInterrupt::shouldStop())
                return false;
            const qint64 first = std::max<qint64>(0, end - bandRows);
            const qint64 bytes = (end - first) * rowBytes;
            if (!seekAndRead(device, dataAt + first * rowBytes, band.data(), bytes))
                return false;
            for (qint64 r = end - first - 1; r >= 0; --r)
                row(static_cast<const uchar *>(band.data() + r * rowBytes));
            end = first;
        }
        return true;
    }

    // What a reader's imageWithDevice makes of bytes in memory.
    using DeviceReader = QImage (*)(QIODevice &device, QSize box, ImageFileReader::Facts *facts);
    static QImage readBytes(DeviceReader reader, const QByteArray &data, QSize box = QSize());

private:
    static bool seekAndRead(QIODevice &device, qint64 at, uchar *into, qint64 count);
    bool fill();
    int refillAndRead();

    QIODevice *m_device;
    // Written by each read before it is read (not zeroed: a small file touches only its size).
    std::unique_ptr<char[]> m_buffer;
    qint64 m_start = 0;  // where in the device the buffer starts
    qint64 m_length = 0; // and how much of it holds data
    qint64 m_position = 0;
    bool m_endedEarly = false;
};
