#pragma once

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "platform/HeapTuning.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// The GIF format's reading, shared by the program's reader (GIFImageRep) and the decoder's reader
// of small GIFs in a child without Qt (LiteGif): the blocks up to the first picture, its LZW data
// and the blocks after it, and the picture read as palette indices. Nothing here calls into Qt.
//
// `Input` is read as ImageRepInput is: `int byte()` (-1 where the data ends), `int64_t read(void *,
// int64_t)` (fewer where the data ends), `bool readAll(void *, int64_t)` and `void skip(int64_t)`.
namespace GifDecoding {

enum class Damage { None, EndsEarly, Corrupt };

// What a reader notes to DecodeReport for `damage`; null for none.
inline const char *damageText(Damage damage)
{
    switch (damage) {
    case Damage::EndsEarly:
        return "the data ends early";
    case Damage::Corrupt:
        return "the data is corrupt";
    case Damage::None:
        break;
    }
    return nullptr;
}

// Grey: the rows a damaged file does not hold (PictureRows::missing).
constexpr uint32_t missing = 0xff808080u;

using Palette = std::array<uint32_t, 256>;

// The data of a block: sub-blocks of a length byte and as many bytes, up to an empty one.
template <typename Input>
class SubBlocks
{
public:
    explicit SubBlocks(Input &input) : m_input(input) {}

    // The next byte of the data; -1 at the end of the blocks, or where the file ends (cut()).
    int byte()
    {
        if (m_left == 0) {
            if (m_ended || m_cut)
                return -1;
            const int length = m_input.byte();
            m_ended = length == 0;
            m_cut = length < 0;
            if (length <= 0)
                return -1;
            m_left = length;
        }
        const int value = m_input.byte();
        if (value < 0) {
            m_cut = true;
            return -1;
        }
        --m_left;
        return value;
    }

    // Up to `room` bytes of the data into `into`, across sub-blocks: fewer at the end of the
    // blocks, or where the file ends (cut()).
    int fill(uint8_t *into, int room)
    {
        int filled = 0;
        while (filled < room) {
            if (m_left == 0) {
                if (m_ended || m_cut)
                    break;
                const int length = m_input.byte();
                m_ended = length == 0;
                m_cut = length < 0;
                if (length <= 0)
                    break;
                m_left = length;
            }
            const int wanted = std::min(m_left, room - filled);
            const int read = int(std::max<int64_t>(0, m_input.read(into + filled, wanted)));
            filled += read;
            m_left -= read;
            if (read < wanted) {
                m_cut = true;
                break;
            }
        }
        return filled;
    }

    // Goes past the rest of the blocks; false when the file ends first.
    bool skipRest()
    {
        m_input.skip(m_left);
        m_left = 0;
        while (!m_ended && !m_cut) {
            const int length = m_input.byte();
            m_ended = length == 0;
            m_cut = length < 0;
            m_input.skip(std::max(length, 0));
        }
        return !m_cut;
    }

    bool cut() const { return m_cut; }

private:
    Input &m_input;
    int m_left = 0;
    bool m_ended = false;
    bool m_cut = false;
};

// Decodes the LZW data of a picture `width` pixels wide and `height` high, handing `rowDone` each
// row of colour indices as it is complete; stops once every row came. What ended it early: the
// file (EndsEarly), a code no table holds (Corrupt), or the data's own end (None: as Qt's reader,
// the rows it did not give are the screen's).
template <typename Input, typename RowDone>
Damage decodeLzw(SubBlocks<Input> &blocks, int minimum, int width, int height, RowDone &&rowDone)
{
    constexpr int maxCodes = 4096;
    const int clear = 1 << minimum, end = clear + 1;
    // Each code's string is the string of its `prefix` code followed by its own last 1 to 8
    // indices (`tail`, from tail[0]; `lengths` holds the string's length less one). Only a
    // string's last piece is shorter than 8, so a string is written 8 indices at a time from its
    // end back, most in one piece.
    struct Table {
        std::array<uint16_t, maxCodes> prefix;
        std::array<uint16_t, maxCodes> lengths;
        std::array<std::array<uint8_t, 8>, maxCodes> tail;
        std::array<uint8_t, maxCodes> first;
    };
    const auto table = std::make_unique_for_overwrite<Table>();
    // A picture of more pixels than there are codes makes every code at least once.
    if (int64_t(width) * height >= maxCodes)
        HeapTuning::mapForWriting(table.get(), sizeof(Table));
    std::array<uint16_t, maxCodes> &prefix = table->prefix;
    std::array<uint16_t, maxCodes> &lengths = table->lengths;
    std::array<std::array<uint8_t, 8>, maxCodes> &tail = table->tail;
    std::array<uint8_t, maxCodes> &first = table->first;
    for (int i = 0; i < clear; ++i) {
        prefix[size_t(i)] = 0;
        lengths[size_t(i)] = 0;
        tail[size_t(i)] = {uint8_t(i)};
        first[size_t(i)] = uint8_t(i);
    }
    int codeSize = minimum + 1, next = clear + 2, previous = -1;
    // The data's bits, least significant first, taken from the sub-blocks a buffer at a time.
    uint64_t bits = 0;
    int count = 0;
    std::array<uint8_t, 4096> input;
    int taken = 0, held = 0;
    // The indices not yet handed on, a row's worth at most before a string; a string is at most
    // as long as the codes, and its last piece may write 7 indices past it.
    std::vector<uint8_t> indices(size_t(width) + maxCodes + 8);
    uint8_t *const out = indices.data();
    int x = 0, y = 0;
    for (;;) {
        if (count < codeSize) {
            if (held - taken >= 8) {
                // As many whole bytes as the word holds, 8 read at once.
                uint64_t word;
                std::memcpy(&word, input.data() + taken, sizeof word);
                const int bytes = (63 - count) >> 3;
                count += bytes * 8;
                bits = (bits | word << (count - bytes * 8)) & ((uint64_t(1) << count) - 1);
                taken += bytes;
            }
            while (count <= 56) {
                if (taken == held) {
                    held = blocks.fill(input.data(), int(input.size()));
                    taken = 0;
                    if (held == 0)
                        break;
                }
                bits |= uint64_t(input[size_t(taken++)]) << count;
                count += 8;
            }
            if (count < codeSize)
                return blocks.cut() ? Damage::EndsEarly : Damage::None;
        }
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        count -= codeSize;
        if (code == clear) {
            codeSize = minimum + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end)
            return Damage::None;
        if (previous < 0) {
            if (code > clear)
                return Damage::Corrupt;
        } else if (code > next) {
            return Damage::Corrupt;
        }
        // The code made of the string just before and the first index of this one (of the string
        // before again, for the code about to be made): made first, so that it can be written.
        if (previous >= 0 && next < maxCodes) {
            const size_t made = size_t(next), before = size_t(previous);
            const uint8_t index = code == next ? first[before] : first[size_t(code)];
            const int length = lengths[before] + 1;
            if ((lengths[before] & 7) != 7) {
                prefix[made] = prefix[before];
                tail[made] = tail[before];
                tail[made][size_t(length & 7)] = index;
            } else {
                prefix[made] = uint16_t(previous);
                tail[made] = {index};
            }
            lengths[made] = uint16_t(length);
            first[made] = first[before];
            if (++next == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        previous = code;
        // The string, from its end back: its last piece of 1 to 8 indices, then whole pieces.
        int current = code;
        const int length = lengths[size_t(current)] + 1;
        uint8_t *at = out + x + length - ((length - 1) % 8 + 1);
        std::memcpy(at, tail[size_t(current)].data(), 8);
        while (at != out + x) {
            current = prefix[size_t(current)];
            at -= 8;
            std::memcpy(at, tail[size_t(current)].data(), 8);
        }
        x += length;
        if (x < width)
            continue;
        // Whole rows handed on; what runs on into the next row moves to the start.
        int from = 0;
        do {
            if (DecodeInterrupt::shouldStop())
                return Damage::None;
            rowDone(static_cast<const uint8_t *>(out + from));
            from += width;
            if (++y == height)
                return Damage::None;
        } while (x - from >= width);
        std::memmove(out, out + from, size_t(x - from));
        x -= from;
    }
}

// The colour table `flags` announce (opaque 0xffRRGGBB colours); empty for none, or where the
// file ends within it.
template <typename Input>
std::vector<uint32_t> colourTable(Input &input, int flags)
{
    std::vector<uint32_t> colours;
    if (!(flags & 0x80))
        return colours;
    std::vector<uint8_t> bytes(size_t(3) << ((flags & 7) + 1));
    if (!input.readAll(bytes.data(), int64_t(bytes.size())))
        return {};
    for (size_t i = 0; i < bytes.size(); i += 3)
        colours.push_back(0xff000000u | uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2]);
    return colours;
}

// The blocks after the picture, walked to the trailer without decoding: a file cut short there or
// whose blocks lead nowhere is damaged all the same.
template <typename Input>
Damage walkToTrailer(Input &input)
{
    for (;;) {
        if (DecodeInterrupt::shouldStop())
            return Damage::None;
        const int introducer = input.byte();
        if (introducer < 0)
            return Damage::EndsEarly;
        if (introducer == 0x3B)
            return Damage::None;
        if (introducer == 0x21) {
            input.skip(1);
        } else if (introducer == 0x2C) {
            uint8_t descriptor[9];
            if (!input.readAll(descriptor, sizeof descriptor))
                return Damage::EndsEarly;
            if (descriptor[8] & 0x80)
                input.skip(int64_t(3) << ((descriptor[8] & 7) + 1));
            const int codeSize = input.byte();
            if (codeSize < 0)
                return Damage::EndsEarly;
            if (codeSize < 2 || codeSize > 11)
                return Damage::Corrupt;
        } else {
            return Damage::Corrupt;
        }
        if (!SubBlocks<Input>(input).skipRest())
            return Damage::EndsEarly;
    }
}

// Which row of an interlaced picture of `height` rows the `n`th row stored is (its four passes
// give every eighth row, the fourth ones between, then every fourth, then every second), and
// back.
struct Interlace {
    int height;

    int row(int n) const
    {
        const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
        if (n < first)
            return n * 8;
        if ((n -= first) < second)
            return 4 + n * 8;
        if ((n -= second) < third)
            return 2 + n * 4;
        return 1 + (n - third) * 2;
    }
    int order(int y) const
    {
        const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
        if (y % 8 == 0)
            return y / 8;
        if (y % 8 == 4)
            return first + y / 8;
        if (y % 4 == 2)
            return first + second + y / 4;
        return first + second + third + y / 2;
    }
};

// The first picture's place and colours, from the blocks before its data.
struct Opening {
    int screenWidth = 0, screenHeight = 0; // the picture's extent where the header gives none
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int minimum = 0; // the LZW data's minimum code size
    // The picture's colours; the transparent colour's entry wholly transparent, as in Qt's reader.
    Palette palette{};
    int transparent = -1;
    uint32_t outside = 0;  // what the picture does not cover, as Qt's reader fills it
    bool covers = false;   // whether the picture covers the screen
    bool alpha = false;    // whether the screen may be translucent
    int from = 0, to = 0;  // the picture's columns on the screen
    int outsideIndex = -1; // the palette's first entry of the outside colour

    // A picture stored in order whose screen's colour outside it is one of its own colours (or
    // that covers the screen) can be read as palette indices.
    bool indexable() const { return !interlaced && (covers || outsideIndex >= 0); }
    // The index the screen outside the picture takes there.
    uint8_t outsideAt() const { return uint8_t(covers ? 0 : outsideIndex); }
};

enum class Found { Picture, NoPicture, Stopped };

// Reads the header and the blocks up to the first picture's data into `opening`. NoPicture for a
// file that is no GIF or holds no picture, `damage` saying where that is the file's fault.
template <typename Input>
Found readOpening(Input &input, Opening &opening, Damage &damage)
{
    damage = Damage::None;
    uint8_t head[13];
    if (!input.readAll(head, sizeof head)
        || (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0))
        return Found::NoPicture;
    const auto u16 = [](const uint8_t *at) { return int(at[0] | at[1] << 8); };
    int screenWidth = u16(head + 6), screenHeight = u16(head + 8);
    const std::vector<uint32_t> global = colourTable(input, head[10]);
    if ((head[10] & 0x80) && global.empty()) {
        damage = Damage::EndsEarly;
        return Found::NoPicture;
    }
    // The blocks before the first picture: extensions, of which a graphic control one may name
    // the picture's transparent colour.
    int transparent = -1;
    for (;;) {
        if (DecodeInterrupt::shouldStop())
            return Found::Stopped;
        const int introducer = input.byte();
        if (introducer == 0x2C)
            break;
        if (introducer == 0x3B)
            return Found::NoPicture;
        if (introducer != 0x21) {
            damage = introducer < 0 ? Damage::EndsEarly : Damage::Corrupt;
            return Found::NoPicture;
        }
        const int label = input.byte();
        SubBlocks<Input> blocks(input);
        if (label == 0xF9) {
            int control[4];
            for (int &value : control)
                value = blocks.byte();
            transparent = control[0] >= 0 && (control[0] & 1) && control[3] >= 0 ? control[3] : -1;
        }
        if (label < 0 || !blocks.skipRest()) {
            damage = Damage::EndsEarly;
            return Found::NoPicture;
        }
    }
    uint8_t descriptor[9];
    if (!input.readAll(descriptor, sizeof descriptor)) {
        damage = Damage::EndsEarly;
        return Found::NoPicture;
    }
    Opening &o = opening;
    o.left = u16(descriptor);
    o.top = u16(descriptor + 2);
    o.width = u16(descriptor + 4);
    o.height = u16(descriptor + 6);
    o.interlaced = descriptor[8] & 0x40;
    const std::vector<uint32_t> local = colourTable(input, descriptor[8]);
    const std::vector<uint32_t> &colours = descriptor[8] & 0x80 ? local : global;
    o.minimum = input.byte();
    if (o.minimum < 0 || ((descriptor[8] & 0x80) && local.empty())) {
        damage = Damage::EndsEarly;
        return Found::NoPicture;
    }
    if (o.minimum < 2 || o.minimum > 8 || o.width == 0 || o.height == 0) {
        damage = Damage::Corrupt;
        return Found::NoPicture;
    }
    if (screenWidth <= 0 || screenHeight <= 0) {
        screenWidth = o.left + o.width;
        screenHeight = o.top + o.height;
    }
    o.screenWidth = screenWidth;
    o.screenHeight = screenHeight;
    for (size_t i = 0; i < o.palette.size(); ++i)
        o.palette[i] = i < colours.size() ? colours[i] : 0xff000000u;
    o.transparent = transparent;
    if (transparent >= 0 && transparent < 256)
        o.palette[size_t(transparent)] &= 0x00ffffffu;
    o.outside = transparent >= 0  ? o.palette[size_t(std::min(transparent, 255))] & 0x00ffffffu
                : !global.empty() ? global[std::min<size_t>(head[11], global.size() - 1)]
                                  : 0xff000000u;
    o.covers = o.left == 0 && o.top == 0 && o.width >= screenWidth && o.height >= screenHeight;
    o.alpha = transparent >= 0 || (!o.covers && (o.outside >> 24) == 0);
    o.from = std::min(o.left, screenWidth);
    o.to = std::min(o.left + o.width, screenWidth);
    const auto outsideIndex = std::find(o.palette.begin(), o.palette.end(), o.outside);
    o.outsideIndex = outsideIndex == o.palette.end() ? -1 : int(outsideIndex - o.palette.begin());
    return Found::Picture;
}

// The screen's rows as the palette's indices, for a picture read indexed: a byte a pixel rather
// than four. Rows come top first, whole. `Storage` holds them: `bool make(int width, int height)`
// makes the rows, their pages mapped for writing (every row is written, read or filled);
// `uint8_t *line(int y)` and `const uint8_t *line(int y) const` give one.
template <typename Storage>
class IndexedRows
{
public:
    IndexedRows(Storage &storage, int width, int height, const Palette &palette, int transparent)
        : m_storage(storage),
          m_width(width),
          m_height(height),
          m_palette(palette),
          m_transparent(transparent)
    {}

    // Takes the rows and the reader's own `readerBytes` from the process's decoding budget and
    // makes the rows. False when that is more than the whole budget or the rows cannot be made.
    bool start(int64_t readerBytes)
    {
        const int64_t held = DecodeMemoryBudget::sum({DecodeMemoryBudget::product({m_width, m_height}), readerBytes});
        if (held > DecodeMemoryBudget::shared().capacity())
            return false;
        m_reservation = DecodeMemoryBudget::shared().reserve(held);
        return m_storage.make(m_width, m_height);
    }

    uint8_t *row() { return m_storage.line(m_rowsDone); }
    void next() { m_rowsDone = std::min(m_rowsDone + 1, m_height); }
    void fill(uint8_t index, int64_t count)
    {
        for (; count > 0 && m_rowsDone < m_height; --count)
            std::memset(m_storage.line(m_rowsDone++), index, size_t(m_width));
    }

    // Makes the rows not read `rest`: the index of a colour of that value, else of one the picture
    // does not use. False, the rows and palette left as they are, where every index is used and
    // none is `rest`'s: the picture is then one of more than 256 colours.
    bool finish(uint32_t rest)
    {
        if (m_rowsDone < m_height) {
            int index = indexOf(rest);
            if (index < 0)
                index = unusedIndex();
            if (index < 0)
                return false;
            m_palette[size_t(index)] = rest;
            fill(uint8_t(index), m_height);
        }
        // Translucent where the picture uses the transparent colour only.
        if (m_transparent >= 0 && !uses(uint8_t(m_transparent)))
            m_palette[size_t(m_transparent)] |= 0xff000000u;
        return true;
    }

    int rowsDone() const { return m_rowsDone; }
    const Palette &palette() const { return m_palette; }

private:
    int indexOf(uint32_t colour) const
    {
        const auto found = std::find(m_palette.begin(), m_palette.end(), colour);
        return found == m_palette.end() ? -1 : int(found - m_palette.begin());
    }

    bool uses(uint8_t index) const
    {
        for (int y = 0; y < m_rowsDone; ++y)
            if (std::memchr(std::as_const(m_storage).line(y), index, size_t(m_width)))
                return true;
        return false;
    }

    int unusedIndex() const
    {
        std::array<bool, 256> used{};
        for (int y = 0; y < m_rowsDone; ++y) {
            const uint8_t *line = std::as_const(m_storage).line(y);
            for (int x = 0; x < m_width; ++x)
                used[line[x]] = true;
        }
        const auto unused = std::find(used.begin(), used.end(), false);
        return unused == used.end() ? -1 : int(unused - used.begin());
    }

    Storage &m_storage;
    int m_width;
    int m_height;
    Palette m_palette;
    int m_transparent;
    int m_rowsDone = 0;
    DecodeMemoryBudget::Reservation m_reservation;
};

// How a picture read indexed ended: its damage, and the colour of the rows it did not give (grey
// in a damaged file, the screen's in a whole one). `stopped` when DecodeInterrupt said so.
struct IndexedRead {
    Damage damage = Damage::None;
    uint32_t rest = 0;
    bool stopped = false;
};

// Reads the picture `opening` describes, its LZW data next in `input`, into `rows` (started): the
// screen outside it in its outside colour, then the blocks after it to the trailer. The rows it
// did not give are left for finish().
template <typename Input, typename Storage>
IndexedRead readIndexed(Input &input, const Opening &opening, IndexedRows<Storage> &rows)
{
    const Opening &o = opening;
    const uint8_t outsideAt = o.outsideAt();
    rows.fill(outsideAt, o.top);
    int decoded = 0;
    SubBlocks<Input> blocks(input);
    IndexedRead read;
    read.damage = decodeLzw(blocks, o.minimum, o.width, o.height, [&](const uint8_t *row) {
        if (o.top + decoded++ >= o.screenHeight)
            return;
        uint8_t *out = rows.row();
        std::memset(out, outsideAt, size_t(o.from));
        std::memcpy(out + o.from, row, size_t(o.to - o.from));
        std::memset(out + o.to, outsideAt, size_t(o.screenWidth - o.to));
        rows.next();
    });
    if (DecodeInterrupt::shouldStop()) {
        read.stopped = true;
        return read;
    }
    if (read.damage == Damage::None)
        read.damage = blocks.skipRest() ? walkToTrailer(input) : Damage::EndsEarly;
    if (decoded == o.height)
        rows.fill(outsideAt, o.screenHeight);
    read.rest = decoded < o.height && read.damage != Damage::None ? missing : o.outside;
    return read;
}

} // namespace GifDecoding
