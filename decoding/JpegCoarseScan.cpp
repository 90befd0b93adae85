#include "decoding/JpegCoarseScan.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include <jpeglib.h>

#include <jerror.h>
#include <jpegint.h>

namespace {

// Look-ahead of one code and its symbol (libjpeg's is eight bits).
constexpr int valueBits = 9;
// Look-ahead of the codes and value bits of the coefficients stepped over together.
constexpr int skipBits = 14;
// Look-ahead of one coefficient's code with its value bits, where the value is wanted.
constexpr int coefficientBits = 11;

// One Huffman table, decoded as libjpeg decodes it (canonical codes: the largest code of each
// length, and where that length's symbols start), with two look-up tables beside it.
struct Table {
    std::int32_t maxcode[18];   // the largest code of each length, -1 where none; [17] ends the search
    std::int32_t valoffset[18]; // a code of that length plus this is its symbol's index
    std::uint8_t huffval[256];
    // The next valueBits bits: the length of the code they begin with (1 to valueBits) above its
    // symbol, 0 where the code is longer.
    std::uint16_t value[1 << valueBits];
    // The next skipBits bits, for coefficients whose values are not wanted: the bits taken by the
    // whole codes and value bits they hold (0: not one fits), in bits 0-3; the coefficients those
    // advance past, in bits 4-10; and in bit 11, that the last of them ends the block. Made for an
    // AC table that a block skips with, else null.
    std::uint16_t *skip;
    // The next coefficientBits bits, for coefficients whose values are wanted: where one code and
    // its value bits fit, the bits they take in bits 0-4, the zeros they run past in bits 5-8, in
    // bit 9 that the code ends the block and in bit 10 that it runs past sixteen zeros, and the
    // value in bits 16-31; 0 where they do not fit. Made for an AC table whose values a block
    // takes, else null.
    std::int32_t *coefficient;
};

constexpr std::uint16_t skipEnds = 1u << 11;
constexpr std::int32_t coefficientEnds = 1 << 9;
constexpr std::int32_t coefficientZeros = 1 << 10;

struct Bits {
    std::uint64_t held = 0; // the low `count` bits are the next of the data, the first highest
    int count = 0;
};

// Takes the place of libjpeg's own entropy decoder, whose public part comes first.
struct Entropy {
    jpeg_entropy_decoder pub;
    Bits bits;
    int lastDc[MAX_COMPS_IN_SCAN];
    unsigned int restartsToGo;
    Table *dcTables[NUM_HUFF_TBLS];
    Table *acTables[NUM_HUFF_TBLS];
    bool skipBuilt[NUM_HUFF_TBLS];
    bool coefficientsBuilt[NUM_HUFF_TBLS];
    const Table *dcOf[D_MAX_BLOCKS_IN_MCU];
    const Table *acOf[D_MAX_BLOCKS_IN_MCU];
    bool dcNeeded[D_MAX_BLOCKS_IN_MCU];
    bool acNeeded[D_MAX_BLOCKS_IN_MCU];
};

Entropy &entropyOf(j_decompress_ptr info) { return *reinterpret_cast<Entropy *>(info->entropy); }

void *allocate(j_decompress_ptr info, std::size_t bytes)
{
    return (*info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, bytes);
}

// The table `number` of its kind, checked as libjpeg checks it.
void build(j_decompress_ptr info, bool dc, int number, Table &table)
{
    if (number < 0 || number >= NUM_HUFF_TBLS)
        ERREXIT1(info, JERR_NO_HUFF_TABLE, number);
    const JHUFF_TBL *stored = dc ? info->dc_huff_tbl_ptrs[number] : info->ac_huff_tbl_ptrs[number];
    if (!stored)
        ERREXIT1(info, JERR_NO_HUFF_TABLE, number);
    int sizes[257];
    unsigned int codes[257];
    int count = 0;
    for (int length = 1; length <= 16; ++length) {
        const int symbols = stored->bits[length];
        if (count + symbols > 256)
            ERREXIT(info, JERR_BAD_HUFF_TABLE);
        for (int i = 0; i < symbols; ++i)
            sizes[count++] = length;
    }
    sizes[count] = 0;
    unsigned int code = 0;
    int size = sizes[0];
    for (int p = 0; sizes[p] != 0;) {
        while (sizes[p] == size)
            codes[p++] = code++;
        // A code that does not fit its length: the table is over-subscribed.
        if (code >= (1u << size))
            ERREXIT(info, JERR_BAD_HUFF_TABLE);
        code <<= 1;
        ++size;
    }
    for (int length = 1, p = 0; length <= 16; ++length) {
        if (stored->bits[length] != 0) {
            table.valoffset[length] = p - std::int32_t(codes[p]);
            p += stored->bits[length];
            table.maxcode[length] = std::int32_t(codes[p - 1]);
        } else {
            table.maxcode[length] = -1;
        }
    }
    table.valoffset[17] = 0;
    table.maxcode[17] = 0xFFFFF;
    std::memcpy(table.huffval, stored->huffval, sizeof table.huffval);
    std::memset(table.value, 0, sizeof table.value);
    for (int p = 0; p < count && sizes[p] <= valueBits; ++p) {
        const int spare = valueBits - sizes[p];
        const unsigned int first = codes[p] << spare;
        for (unsigned int i = 0; i < (1u << spare); ++i)
            table.value[first + i] = std::uint16_t(sizes[p] << 8 | stored->huffval[p]);
    }
    // A DC table's symbols are sizes of differences: larger ones would shift past the coefficient.
    if (dc)
        for (int p = 0; p < count; ++p)
            if (stored->huffval[p] > 15)
                ERREXIT(info, JERR_BAD_HUFF_TABLE);
}

// The symbol of the code that begins `room` bits from the end of `prefix` (skipBits long), whose
// length is at most `room`; -1 where no code that short begins there. `length` is set to the code's.
int symbolWithin(const Table &table, unsigned int prefix, int room, int &length)
{
    int first = 1;
    if (room >= valueBits) {
        const unsigned int entry = table.value[(prefix >> (room - valueBits)) & ((1u << valueBits) - 1)];
        if (entry != 0) {
            length = int(entry >> 8);
            return int(entry & 0xFF);
        }
        first = valueBits + 1;
    }
    for (length = first; length <= room; ++length) {
        const std::int32_t code = std::int32_t((prefix >> (room - length)) & ((1u << length) - 1));
        if (code <= table.maxcode[length])
            return table.huffval[(code + table.valoffset[length]) & 0xFF];
    }
    return -1;
}

void buildSkip(Table &table)
{
    for (unsigned int prefix = 0; prefix < (1u << skipBits); ++prefix) {
        int used = 0, advance = 0;
        bool ends = false;
        while (used < skipBits && advance < DCTSIZE2) {
            int length = 0;
            const int symbol = symbolWithin(table, prefix, skipBits - used, length);
            if (symbol < 0)
                break;
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0 && run != 15) {
                // The end of the block (libjpeg ends it at any run without a value but sixteen zeros).
                used += length;
                ends = true;
                break;
            }
            if (used + length + size > skipBits)
                break;
            used += length + size;
            advance += size != 0 ? run + 1 : 16;
        }
        table.skip[prefix] = used == 0 ? 0 : std::uint16_t(used | advance << 4 | (ends ? skipEnds : 0));
    }
}

inline int extended(int value, int size) { return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value; }

void buildCoefficients(Table &table)
{
    for (unsigned int prefix = 0; prefix < (1u << coefficientBits); ++prefix) {
        std::int32_t entry = 0;
        const unsigned int wide = prefix << (skipBits - coefficientBits);
        int length = 0;
        const int symbol = symbolWithin(table, wide, skipBits, length);
        if (symbol >= 0 && length <= coefficientBits) {
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0) {
                entry = length | (run != 15 ? coefficientEnds : coefficientZeros);
            } else if (length + size <= coefficientBits) {
                const int bits = int(prefix >> (coefficientBits - length - size)) & ((1 << size) - 1);
                entry = std::int32_t((unsigned(extended(bits, size)) << 16) | unsigned(run << 5 | (length + size)));
            }
        }
        table.coefficient[prefix] = entry;
    }
}

// Whether any byte of `word` is 0xFF.
inline bool holdsFF(std::uint64_t word)
{
    const std::uint64_t inverted = ~word;
    return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

// Where the data is read from for one MCU: the source's bytes, held here and handed back to the
// source when the MCU is done or the source is called.
struct Cursor {
    const JOCTET *next;
    std::size_t left;
    bool atMarker; // a marker was met: no byte is read past it until a restart takes it
};

// Takes bytes until more than 56 bits are held, a marker is met (it is then the decompressor's
// unread marker, as libjpeg leaves it) or the data ends. False when the source suspended.
bool refillSlowly(j_decompress_ptr info, Bits &bits, Cursor &cursor)
{
    if (cursor.atMarker)
        return true;
    jpeg_source_mgr &source = *info->src;
    const auto nextByte = [&](int &byte) {
        if (cursor.left == 0) {
            source.next_input_byte = cursor.next;
            source.bytes_in_buffer = 0;
            if (!(*source.fill_input_buffer)(info))
                return false;
            cursor.next = source.next_input_byte;
            cursor.left = source.bytes_in_buffer;
        }
        byte = *cursor.next++;
        --cursor.left;
        return true;
    };
    while (bits.count <= 56) {
        int byte = 0;
        if (!nextByte(byte))
            return false;
        if (byte == 0xFF) {
            do {
                if (!nextByte(byte))
                    return false;
            } while (byte == 0xFF);
            if (byte == 0) {
                byte = 0xFF; // a stuffed zero after a data byte of 0xFF
            } else {
                info->unread_marker = byte;
                cursor.atMarker = true;
                return true;
            }
        }
        bits.held = bits.held << 8 | std::uint64_t(byte);
        bits.count += 8;
    }
    return true;
}

inline bool refill(j_decompress_ptr info, Bits &bits, Cursor &cursor)
{
    // Eight bytes without a 0xFF: as many of them as fit, at once.
    if (cursor.left >= 8 && !cursor.atMarker) {
        std::uint64_t word;
        std::memcpy(&word, cursor.next, sizeof word);
        if (!holdsFF(word)) {
            const int taken = (64 - bits.count) >> 3;
            word = __builtin_bswap64(word);
            bits.held = taken == 8 ? word : (bits.held << (8 * taken)) | (word >> (64 - 8 * taken));
            bits.count += 8 * taken;
            cursor.next += taken;
            cursor.left -= std::size_t(taken);
            return true;
        }
    }
    return refillSlowly(info, bits, cursor);
}

// Makes sure `wanted` bits are held: where the data has no more (a marker, or its end), they are
// zeros, and the first time so the decoder warns that the data is short, as libjpeg does.
bool needSlowly(j_decompress_ptr info, Bits &bits, Cursor &cursor, int wanted)
{
    if (!refill(info, bits, cursor))
        return false;
    if (bits.count < wanted && !refillSlowly(info, bits, cursor))
        return false;
    if (bits.count < wanted) {
        Entropy &entropy = entropyOf(info);
        if (!entropy.pub.insufficient_data) {
            WARNMS(info, JWRN_HIT_MARKER);
            entropy.pub.insufficient_data = TRUE;
        }
        bits.held <<= 57 - bits.count;
        bits.count = 57;
    }
    return true;
}

inline unsigned int peek(const Bits &bits, int count)
{
    return unsigned(bits.held >> (bits.count - count)) & ((1u << count) - 1);
}

inline bool take(j_decompress_ptr info, Bits &bits, Cursor &cursor, int count, int &value)
{
    if (bits.count < count && !needSlowly(info, bits, cursor, count))
        return false;
    value = int(peek(bits, count));
    bits.count -= count;
    return true;
}

// The next symbol of `table` where its code is longer than valueBits or fewer bits are held; 0
// with a warning for a code the table does not hold, as libjpeg decodes it.
bool decodeSymbolSlowly(j_decompress_ptr info, Bits &bits, Cursor &cursor, const Table &table, int &symbol)
{
    // With fewer bits held than a look-up takes, the code is read a bit at a time.
    int length = bits.count >= valueBits ? valueBits + 1 : 1;
    int code = 0;
    if (!take(info, bits, cursor, length, code))
        return false;
    while (code > table.maxcode[length]) {
        int bit = 0;
        if (!take(info, bits, cursor, 1, bit))
            return false;
        code = code << 1 | bit;
        ++length;
    }
    if (length > 16) {
        WARNMS(info, JWRN_HUFF_BAD_CODE);
        symbol = 0;
        return true;
    }
    symbol = table.huffval[(code + table.valoffset[length]) & 0xFF];
    return true;
}

inline bool decodeSymbol(j_decompress_ptr info, Bits &bits, Cursor &cursor, const Table &table, int &symbol)
{
    if (bits.count < 32 && !refill(info, bits, cursor))
        return false;
    if (bits.count >= valueBits) {
        const unsigned int entry = table.value[peek(bits, valueBits)];
        if (entry != 0) {
            bits.count -= int(entry >> 8);
            symbol = int(entry & 0xFF);
            return true;
        }
    }
    return decodeSymbolSlowly(info, bits, cursor, table, symbol);
}

void startPass(j_decompress_ptr info)
{
    Entropy &entropy = entropyOf(info);
    // Not an error, as libjpeg has it: some baseline files leave these zero.
    if (info->Ss != 0 || info->Se != DCTSIZE2 - 1 || info->Ah != 0 || info->Al != 0)
        WARNMS(info, JWRN_NOT_SEQUENTIAL);
    for (int ci = 0; ci < info->comps_in_scan; ++ci) {
        const jpeg_component_info *component = info->cur_comp_info[ci];
        for (const bool dc : {true, false}) {
            const int number = dc ? component->dc_tbl_no : component->ac_tbl_no;
            if (number < 0 || number >= NUM_HUFF_TBLS)
                ERREXIT1(info, JERR_NO_HUFF_TABLE, number);
            Table *&table = dc ? entropy.dcTables[number] : entropy.acTables[number];
            if (!table)
                table = new (allocate(info, sizeof(Table))) Table{};
            build(info, dc, number, *table);
            if (!dc)
                entropy.skipBuilt[number] = entropy.coefficientsBuilt[number] = false;
        }
        entropy.lastDc[ci] = 0;
    }
    for (int block = 0; block < info->blocks_in_MCU; ++block) {
        const jpeg_component_info *component = info->cur_comp_info[info->MCU_membership[block]];
        entropy.dcOf[block] = entropy.dcTables[component->dc_tbl_no];
        entropy.acOf[block] = entropy.acTables[component->ac_tbl_no];
        entropy.dcNeeded[block] = component->component_needed;
        // An eighth takes the mean of each block alone.
        entropy.acNeeded[block] = component->component_needed && component->DCT_scaled_size > 1;
        if (entropy.acNeeded[block] && !entropy.coefficientsBuilt[component->ac_tbl_no]) {
            Table &table = *entropy.acTables[component->ac_tbl_no];
            if (!table.coefficient)
                table.coefficient =
                    static_cast<std::int32_t *>(allocate(info, sizeof(std::int32_t) << coefficientBits));
            buildCoefficients(table);
            entropy.coefficientsBuilt[component->ac_tbl_no] = true;
        }
        if (!entropy.acNeeded[block] && !entropy.skipBuilt[component->ac_tbl_no]) {
            Table &table = *entropy.acTables[component->ac_tbl_no];
            if (!table.skip)
                table.skip = static_cast<std::uint16_t *>(allocate(info, sizeof(std::uint16_t) << skipBits));
            buildSkip(table);
            entropy.skipBuilt[component->ac_tbl_no] = true;
        }
    }
    entropy.bits = Bits{};
    entropy.pub.insufficient_data = FALSE;
    entropy.restartsToGo = info->restart_interval;
}

bool restart(j_decompress_ptr info, Entropy &entropy)
{
    // The bits left before the marker are padding; whole bytes among them count as skipped. Where
    // the marker was met already they are said now, as libjpeg says them on its way to a marker
    // its shorter look-ahead had not reached.
    info->marker->discarded_bytes += unsigned(entropy.bits.count / 8);
    entropy.bits = Bits{};
    if (info->unread_marker != 0 && info->marker->discarded_bytes != 0) {
        WARNMS2(info, JWRN_EXTRANEOUS_DATA, info->marker->discarded_bytes, info->unread_marker);
        info->marker->discarded_bytes = 0;
    }
    if (!(*info->marker->read_restart_marker)(info))
        return false;
    for (int ci = 0; ci < info->comps_in_scan; ++ci)
        entropy.lastDc[ci] = 0;
    entropy.restartsToGo = info->restart_interval;
    // Right against a marker the next interval is taken as empty, as libjpeg does: no made-up pixels.
    if (info->unread_marker == 0)
        entropy.pub.insufficient_data = FALSE;
    return true;
}

// The coefficients after the DC of one block whose values are not wanted.
inline bool skipBlock(j_decompress_ptr info, Bits &bits, Cursor &cursor, const Table &table)
{
    int k = 1;
    for (;;) {
        if (bits.count < 32 && !refill(info, bits, cursor))
            return false;
        if (bits.count >= skipBits) {
            const unsigned int entry = table.skip[peek(bits, skipBits)];
            const int advance = int(entry >> 4) & 127;
            if (entry != 0 && k + advance < DCTSIZE2) {
                bits.count -= int(entry & 15);
                k += advance;
                if (entry & skipEnds)
                    return true;
                continue;
            }
        }
        // One code at a time where the look-up does not reach (a long code or value, the block's
        // end near, or the data's).
        int symbol = 0;
        if (!decodeSymbol(info, bits, cursor, table, symbol))
            return false;
        const int run = symbol >> 4, size = symbol & 15;
        if (size != 0) {
            k += run;
            int ignored = 0;
            if (!take(info, bits, cursor, size, ignored))
                return false;
        } else {
            if (run != 15)
                return true;
            k += 15;
        }
        if (++k >= DCTSIZE2)
            return true;
    }
}

// The coefficients after the DC of one block, in natural order.
bool decodeBlock(j_decompress_ptr info, Bits &bits, Cursor &cursor, const Table &table, JBLOCKROW block)
{
    for (int k = 1; k < DCTSIZE2; ++k) {
        if (bits.count < 32 && !refill(info, bits, cursor))
            return false;
        if (bits.count >= coefficientBits) {
            const std::int32_t entry = table.coefficient[peek(bits, coefficientBits)];
            if (entry != 0) {
                bits.count -= entry & 31;
                if (entry & coefficientEnds)
                    break;
                if (entry & coefficientZeros) {
                    k += 15;
                    continue;
                }
                k += (entry >> 5) & 15;
                (*block)[jpeg_natural_order[k]] = JCOEF(entry >> 16);
                continue;
            }
        }
        int symbol = 0;
        if (!decodeSymbol(info, bits, cursor, table, symbol))
            return false;
        const int run = symbol >> 4, size = symbol & 15;
        if (size != 0) {
            k += run;
            int value = 0;
            if (!take(info, bits, cursor, size, value))
                return false;
            // jpeg_natural_order has sixteen spare entries for a k run past the block's end.
            (*block)[jpeg_natural_order[k]] = JCOEF(extended(value, size));
        } else {
            if (run != 15)
                break;
            k += 15;
        }
    }
    return true;
}

boolean decodeMcu(j_decompress_ptr info, JBLOCKROW *blocks)
{
    Entropy &entropy = entropyOf(info);
    if (info->restart_interval != 0 && entropy.restartsToGo == 0 && !restart(info, entropy))
        return FALSE;
    // After the data ran short the rest stays zero, until a restart marker resynchronises.
    if (!entropy.pub.insufficient_data) {
        jpeg_source_mgr &source = *info->src;
        Cursor cursor{source.next_input_byte, source.bytes_in_buffer, info->unread_marker != 0};
        Bits bits = entropy.bits;
        int lastDc[MAX_COMPS_IN_SCAN];
        std::memcpy(lastDc, entropy.lastDc, sizeof lastDc);
        for (int b = 0; b < info->blocks_in_MCU; ++b) {
            int size = 0;
            if (!decodeSymbol(info, bits, cursor, *entropy.dcOf[b], size))
                return FALSE;
            int difference = 0;
            if (size != 0) {
                if (!take(info, bits, cursor, size, difference))
                    return FALSE;
                difference = extended(difference, size);
            }
            // A hostile file's running value may pass an int: it wraps, as libjpeg's does, and only
            // its low bits reach the coefficient.
            int &last = lastDc[info->MCU_membership[b]];
            last = int(unsigned(last) + unsigned(difference));
            if (entropy.dcNeeded[b])
                blocks[b][0][0] = JCOEF(last);
            const bool done = entropy.acNeeded[b] ? decodeBlock(info, bits, cursor, *entropy.acOf[b], blocks[b])
                                                  : skipBlock(info, bits, cursor, *entropy.acOf[b]);
            if (!done)
                return FALSE;
        }
        // The state is kept when the MCU is whole. (No source here suspends: one that did would
        // have to be read again from the MCU's start, which this decoder does not keep.)
        source.next_input_byte = cursor.next;
        source.bytes_in_buffer = cursor.left;
        entropy.bits = bits;
        std::memcpy(entropy.lastDc, lastDc, sizeof lastDc);
    }
    if (info->restart_interval != 0)
        --entropy.restartsToGo;
    return TRUE;
}

} // namespace

bool JpegCoarseScan::install(jpeg_decompress_struct &info)
{
    if (info.progressive_mode || info.arith_code || info.data_precision != 8 || !info.entropy
        || jpeg_has_multiple_scans(&info) || info.comps_in_scan != info.num_components)
        return false;
    bool steppedOver = false;
    for (int ci = 0; ci < info.comps_in_scan; ++ci)
        steppedOver = steppedOver || !info.cur_comp_info[ci]->component_needed
                      || info.cur_comp_info[ci]->DCT_scaled_size == 1;
    if (!steppedOver)
        return false;
    auto *entropy = new (allocate(&info, sizeof(Entropy))) Entropy{};
    entropy->pub.start_pass = startPass;
    entropy->pub.decode_mcu = decodeMcu;
    info.entropy = &entropy->pub;
    startPass(&info);
    return true;
}
