#include "decoding/LiteGif.h"

#include "decoding/DecodeMemoryBudget.h"
#include "decoding/GifDecoding.h"
#include "platform/HeapTuning.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

namespace LiteGif {

namespace {

// A file read from its start through a buffer of its own, refilled with pread: never mapped, so
// that a file cut while it is read ends as a read that ends early rather than with SIGBUS. A read
// that gives less than the buffer (or fails) found the file's end; nothing past it is read again.
class FileInput
{
public:
    static constexpr int64_t bufferBytes = int64_t(64) << 10;

    explicit FileInput(int fd) : m_fd(fd) {}

    // Up to `count` bytes into `into`: fewer where the file ends.
    int64_t read(void *into, int64_t count)
    {
        auto *out = static_cast<uint8_t *>(into);
        int64_t done = 0;
        while (done < count) {
            if (m_position >= m_start && m_position < m_start + m_length) {
                const int64_t n = std::min(count - done, m_start + m_length - m_position);
                std::memcpy(out + done, m_buffer.get() + (m_position - m_start), size_t(n));
                m_position += n;
                done += n;
            } else if (!fill()) {
                break;
            }
        }
        return done;
    }
    bool readAll(void *into, int64_t count) { return read(into, count) == count; }
    // The next byte, or -1 where the file ends.
    int byte()
    {
        if (m_position >= m_start && m_position < m_start + m_length)
            return m_buffer[size_t(m_position++ - m_start)];
        return fill() ? m_buffer[size_t(m_position++ - m_start)] : -1;
    }
    void skip(int64_t count) { m_position += count; }

private:
    bool fill()
    {
        m_start = m_position;
        m_length = 0;
        if (m_position >= m_end)
            return false;
        if (!m_buffer) {
            m_buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(bufferBytes));
            // As much of it as the file can fill is written now.
            struct stat status;
            const int64_t left = ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode)
                                     ? int64_t(status.st_size) - m_position
                                     : bufferBytes;
            HeapTuning::mapForWriting(m_buffer.get(), size_t(std::clamp<int64_t>(left, 0, bufferBytes)));
        }
        ssize_t n;
        do
            n = ::pread(m_fd, m_buffer.get(), size_t(bufferBytes), off_t(m_position));
        while (n < 0 && errno == EINTR);
        m_length = std::max<int64_t>(0, n);
        if (m_length < bufferBytes)
            m_end = m_position + m_length;
        return m_length > 0;
    }

    int m_fd;
    // Written by each read before it is read (not zeroed: a small file touches only its size).
    std::unique_ptr<uint8_t[]> m_buffer;
    int64_t m_start = 0;  // where in the file the buffer starts
    int64_t m_length = 0; // and how much of it holds data
    int64_t m_position = 0;
    int64_t m_end = std::numeric_limits<int64_t>::max(); // the file's end, once a read found it
};

// The picture's rows, laid out as an Indexed8 QImage's: each padded to 4 bytes.
struct PictureLines {
    Picture &picture;

    bool make(int width, int height)
    {
        picture.width = width;
        picture.height = height;
        picture.bytesPerLine = (width + 3) & ~3;
        const size_t bytes = size_t(picture.bytesPerLine) * size_t(height);
        // Mapped before the padding is zeroed, rather than a fault at each page as it is.
        picture.indices.reserve(bytes);
        HeapTuning::mapForWriting(picture.indices.data(), bytes);
        picture.indices.resize(bytes);
        return true;
    }
    uint8_t *line(int y) { return picture.indices.data() + size_t(y) * size_t(picture.bytesPerLine); }
    const uint8_t *line(int y) const { return picture.indices.data() + size_t(y) * size_t(picture.bytesPerLine); }
};

Outcome readPicture(int fd, int boxWidth, int boxHeight, Picture &picture)
{
    if (boxWidth <= 0 || boxHeight <= 0)
        return Outcome::NotHere;
    FileInput input(fd);
    GifDecoding::Opening opening;
    GifDecoding::Damage damage;
    switch (GifDecoding::readOpening(input, opening, damage)) {
    case GifDecoding::Found::Picture:
        break;
    case GifDecoding::Found::NoPicture:
        return Outcome::NotHere;
    case GifDecoding::Found::Stopped:
        return Outcome::Stopped;
    }
    // As PictureRows::IndexedScope::take: only a screen read unreduced.
    if (!opening.indexable() || opening.screenWidth > boxWidth || opening.screenHeight > boxHeight)
        return Outcome::NotHere;
    PictureLines lines{picture};
    GifDecoding::IndexedRows rows(lines, opening.screenWidth, opening.screenHeight, opening.palette,
                                  opening.transparent);
    // What GIFImageRep holds beside the rows, its input's buffer as large as this one's.
    if (!rows.start(DecodeMemoryBudget::sum({opening.width, FileInput::bufferBytes, 32 << 10})))
        return Outcome::NotHere;
    const GifDecoding::IndexedRead indexed = GifDecoding::readIndexed(input, opening, rows);
    if (indexed.stopped)
        return Outcome::Stopped;
    // A picture of more than 256 colours is GIFImageRep's to make.
    if (!rows.finish(indexed.rest))
        return Outcome::NotHere;
    picture.palette = rows.palette();
    picture.damage = GifDecoding::damageText(indexed.damage);
    return Outcome::Read;
}

} // namespace

Outcome read(int fd, int boxWidth, int boxHeight, Picture &picture)
{
    picture = Picture();
    const Outcome outcome = readPicture(fd, boxWidth, boxHeight, picture);
    // Rows read before the reader gave up are no picture.
    if (outcome != Outcome::Read)
        picture = Picture();
    return outcome;
}

} // namespace LiteGif
