#include "decoding/JpegCoarseScan.h"
#include "tests/support/JpegPieces.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

// The coarse scan must hand libjpeg what libjpeg's own entropy decoder hands it: every file is
// decoded at an eighth both ways and the rows, the warnings and any error compared to the byte.

namespace {

struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    std::vector<int> warnings;
};

void leave(j_common_ptr info)
{
    auto *errors = reinterpret_cast<Errors *>(info->err);
    std::longjmp(errors->jump, 1);
}

void noteWarning(j_common_ptr info, int level)
{
    if (level < 0)
        reinterpret_cast<Errors *>(info->err)->warnings.push_back(info->err->msg_code);
}

void quiet(j_common_ptr) {}

// What one decode gave: its rows as far as they came, its warnings, and the error that ended it.
struct Decoded {
    bool coarse = false; // the coarse scan took the decoding over
    std::vector<JSAMPLE> rows;
    std::vector<int> warnings;
    int error = 0; // the message code of the error that ended it, 0 for none
    unsigned int scanline = 0;

    // The same rows and end, and damage seen alike. (Which warnings a damaged file gives may depend
    // on how far each decoder had read ahead when it met the damage: a few stray bytes before a
    // marker are counted as skipped or not. For these files whether any is given is the same.)
    bool operator==(const Decoded &other) const
    {
        return rows == other.rows && warnings.empty() == other.warnings.empty() && error == other.error
               && scanline == other.scanline;
    }
};

struct Reading {
    J_COLOR_SPACE out = JCS_RGB;
    bool fancy = false;
    unsigned int scale = 1; // eighths
};

enum class Source { Memory, Pieces };

Decoded decode(const std::vector<unsigned char> &file, bool coarse, Reading reading = {},
               Source source = Source::Memory)
{
    // Everything changed after setjmp lives here, outside the jump's reach.
    struct State {
        jpeg_decompress_struct info{};
        Errors errors;
        Decoded result;
        std::vector<JSAMPLE> row; // here, not on the stack a longjmp leaves
        JpegPieces pieces;
    };
    auto state = std::make_unique<State>();
    state->info.err = jpeg_std_error(&state->errors.manager);
    state->errors.manager.error_exit = leave;
    state->errors.manager.emit_message = noteWarning;
    state->errors.manager.output_message = quiet;
    jpeg_create_decompress(&state->info);
    if (setjmp(state->errors.jump) == 0) {
        if (source == Source::Pieces) {
            state->pieces.attach(state->info, file.data(), file.size());
        } else {
            jpeg_mem_src(&state->info, file.data(), static_cast<unsigned long>(file.size()));
        }
        jpeg_read_header(&state->info, TRUE);
        state->info.out_color_space = reading.out;
        state->info.scale_num = reading.scale;
        state->info.scale_denom = 8;
        state->info.do_fancy_upsampling = reading.fancy ? TRUE : FALSE;
        state->info.dct_method = JDCT_IFAST;
        jpeg_start_decompress(&state->info);
        if (coarse)
            state->result.coarse = JpegCoarseScan::install(state->info);
        const size_t stride = size_t(state->info.output_width) * size_t(state->info.output_components);
        state->row.resize(stride);
        while (state->info.output_scanline < state->info.output_height) {
            JSAMPROW rows[1] = {state->row.data()};
            if (jpeg_read_scanlines(&state->info, rows, 1) != 1)
                break;
            state->result.rows.insert(state->result.rows.end(), state->row.begin(), state->row.end());
        }
        jpeg_finish_decompress(&state->info);
    } else {
        state->result.error = state->errors.manager.msg_code;
    }
    state->result.scanline = state->info.output_scanline;
    state->result.warnings = state->errors.warnings;
    jpeg_destroy_decompress(&state->info);
    return state->result;
}

struct Encoding {
    int width = 640;
    int height = 480;
    int components = 3;
    int lumaH = 2, lumaV = 2; // the luma's sampling factors; the chroma's are 1
    int quality = 90;
    unsigned int restartInterval = 0;
    bool optimized = false; // Huffman tables made for the picture: longer and rarer codes
    bool progressive = false;
    bool ycck = false; // four components stored as YCCK (Adobe), else as CMYK
};

// A picture with edges, gradients and noise, so that blocks hold many coefficients of every size.
std::vector<unsigned char> encode(const Encoding &encoding, unsigned int seed)
{
    std::mt19937 random(seed);
    std::vector<JSAMPLE> pixels(size_t(encoding.width) * size_t(encoding.height) * size_t(encoding.components));
    for (int y = 0; y < encoding.height; ++y)
        for (int x = 0; x < encoding.width; ++x)
            for (int c = 0; c < encoding.components; ++c) {
                const int edge = ((x / (7 + c)) + (y / 11)) % 2 == 0 ? 60 : 0;
                const int ramp = (x * (c + 1) + y * 2) % 160;
                const int noise = int(random() % 64);
                pixels[(size_t(y) * size_t(encoding.width) + size_t(x)) * size_t(encoding.components) + size_t(c)] =
                    JSAMPLE(std::min(255, edge + ramp + noise));
            }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(encoding.width);
    info.image_height = JDIMENSION(encoding.height);
    info.input_components = encoding.components;
    info.in_color_space = encoding.components == 1 ? JCS_GRAYSCALE : encoding.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (encoding.ycck)
        jpeg_set_colorspace(&info, JCS_YCCK);
    jpeg_set_quality(&info, encoding.quality, TRUE);
    if (encoding.components == 3) {
        info.comp_info[0].h_samp_factor = encoding.lumaH;
        info.comp_info[0].v_samp_factor = encoding.lumaV;
    }
    info.restart_interval = encoding.restartInterval;
    info.optimize_coding = encoding.optimized ? TRUE : FALSE;
    if (encoding.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = size_t(encoding.width) * size_t(encoding.components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = pixels.data() + size_t(info.next_scanline) * stride;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

// Where the entropy-coded data of the file's first scan begins (past its SOS segment).
size_t scanStart(const std::vector<unsigned char> &file)
{
    size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const int marker = file[at + 1];
        const size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
        at += 2 + length;
        if (marker == 0xDA)
            return at;
    }
    return file.size();
}

std::string listed(const std::vector<int> &codes)
{
    std::string text;
    for (const int code : codes) {
        if (!text.empty())
            text += ' ';
        text += std::to_string(code);
    }
    return text;
}

void expectSame(const std::vector<unsigned char> &file, const std::string &what, Reading reading = {})
{
    // libjpeg's careful path against the coarse scan reading the data where it lies, and a piece at a time.
    const Decoded own = decode(file, false, reading, Source::Pieces);
    for (const Source source : {Source::Memory, Source::Pieces}) {
        const Decoded coarse = decode(file, true, reading, source);
        EXPECT_TRUE(own == coarse) << what << (source == Source::Pieces ? ", in pieces" : "") << ": rows "
                                   << (own.rows == coarse.rows ? "alike" : "differ") << ", error " << own.error
                                   << " against " << coarse.error << ", scanline " << own.scanline << " against "
                                   << coarse.scanline << " (warnings " << listed(own.warnings) << " against "
                                   << listed(coarse.warnings) << ")";
    }
}

TEST(JpegCoarseScanTest, WholeFilesDecodeAsLibjpegDecodesThem)
{
    struct Case {
        const char *name;
        Encoding encoding;
        Reading reading;
    };
    const std::vector<Case> cases = {
        {"4:2:0", {}, {}},
        {"4:2:0, smooth upsampling", {}, {JCS_RGB, true, 1}},
        {"4:2:2", {641, 479, 3, 2, 1}, {}},
        {"4:4:4", {333, 250, 3, 1, 1}, {}},
        {"4:4:0", {320, 241, 3, 1, 2}, {}},
        {"grey", {517, 389, 1}, {}},
        {"grey out of colour", {}, {JCS_GRAYSCALE, false, 1}},
        {"quality 100 (long values)", {400, 300, 3, 2, 2, 100}, {}},
        {"quality 20 (short blocks)", {400, 300, 3, 2, 2, 20}, {}},
        {"restart every MCU", {400, 300, 3, 2, 2, 90, 1}, {}},
        {"restart every 7 MCUs", {401, 299, 3, 2, 2, 90, 7}, {}},
        {"tables made for the picture", {640, 480, 3, 2, 2, 95, 0, true}, {}},
        {"grey, tables made for it, restarts", {300, 200, 1, 1, 1, 98, 3, true}, {}},
        {"one block", {8, 8, 1}, {}},
        {"CMYK", {320, 241, 4}, {JCS_CMYK, false, 1}},
        {"YCCK", {321, 240, 4, 2, 2, 90, 0, false, false, true}, {JCS_CMYK, false, 1}},
    };
    for (const Case &test : cases) {
        const std::vector<unsigned char> file = encode(test.encoding, 7);
        const Decoded coarse = decode(file, true, test.reading);
        EXPECT_TRUE(coarse.coarse) << test.name;
        EXPECT_EQ(coarse.error, 0) << test.name;
        EXPECT_TRUE(coarse.warnings.empty()) << test.name;
        expectSame(file, test.name, test.reading);
    }
}

TEST(JpegCoarseScanTest, LeavesWhatItDoesNotReduceToLibjpeg)
{
    const std::vector<unsigned char> progressive = encode({320, 240, 3, 2, 2, 90, 0, false, true}, 3);
    EXPECT_FALSE(decode(progressive, true).coarse);
    // At a quarter every block's coefficients are wanted: nothing to step over.
    const std::vector<unsigned char> baseline = encode({320, 240, 3, 1, 1}, 3);
    EXPECT_FALSE(decode(baseline, true, {JCS_RGB, false, 2}).coarse);
    EXPECT_TRUE(decode(baseline, true).coarse);
}

// Damaged files: cut anywhere in their data, bytes changed, markers dropped into it. The coarse
// scan must warn where libjpeg warns, stop where it stops and give the rows it gives.
TEST(JpegCoarseScanTest, DamagedDataDecodesAsLibjpegDecodesIt)
{
    std::mt19937 random(20261209);
    const std::vector<Encoding> encodings = {
        {480, 360, 3, 2, 2, 92},
        {480, 360, 3, 2, 2, 92, 5},
        {300, 220, 1, 1, 1, 97, 0, true},
    };
    for (size_t e = 0; e < encodings.size(); ++e) {
        const std::vector<unsigned char> file = encode(encodings[e], unsigned(e));
        const size_t start = scanStart(file);
        ASSERT_LT(start + 64, file.size());
        const size_t data = file.size() - 2 - start;
        for (int cut = 0; cut < 24; ++cut) {
            const size_t at = start + data * size_t(cut) / 24 + size_t(random() % 5);
            expectSame(std::vector<unsigned char>(file.begin(), file.begin() + long(at)),
                       "encoding " + std::to_string(e) + " cut at " + std::to_string(at));
        }
        for (int mutant = 0; mutant < 120; ++mutant) {
            std::vector<unsigned char> damaged = file;
            const int kind = mutant % 4;
            const size_t at = start + random() % data;
            switch (kind) {
            case 0: // a byte changed
                damaged[at] = static_cast<unsigned char>(random());
                break;
            case 1: // a run of bytes set
                for (size_t i = at; i < std::min(damaged.size() - 2, at + 1 + random() % 40); ++i)
                    damaged[i] = kind == 1 && mutant % 8 == 1 ? 0xFF : 0x00;
                break;
            case 2: { // a marker in the data: a restart out of turn, or any other; or fill bytes
                if (mutant % 12 == 10) {
                    damaged.insert(damaged.begin() + long(at), {0xFF, 0xFF, 0xFF, 0x00});
                    break;
                }
                const unsigned char marker = mutant % 8 == 2 ? static_cast<unsigned char>(0xD0 + random() % 8)
                                                             : static_cast<unsigned char>(0xC0 + random() % 0x3F);
                damaged.insert(damaged.begin() + long(at), {0xFF, marker});
                break;
            }
            default: // bits flipped here and there
                for (int i = 0; i < 4; ++i)
                    damaged[start + random() % data] ^= static_cast<unsigned char>(1u << (random() % 8));
                break;
            }
            expectSame(damaged, "encoding " + std::to_string(e) + ", damage " + std::to_string(mutant) + " at "
                                    + std::to_string(at));
        }
    }
}

// A grey picture of 8 x 8 blocks whose DC differences are all +2047 under a quantiser of one,
// written by hand: the running DC value passes what a coefficient holds many times over.
std::vector<unsigned char> runawayDc(int blocksWide, int blocksHigh)
{
    std::vector<unsigned char> file = {0xFF, 0xD8};
    const auto segment = [&](unsigned char marker, const std::vector<unsigned char> &body) {
        file.insert(file.end(), {0xFF, marker, static_cast<unsigned char>((body.size() + 2) >> 8),
                                 static_cast<unsigned char>(body.size() + 2)});
        file.insert(file.end(), body.begin(), body.end());
    };
    std::vector<unsigned char> quantisers(65, 1);
    quantisers[0] = 0;
    segment(0xDB, quantisers);
    const int width = blocksWide * 8, height = blocksHigh * 8;
    segment(0xC0, {8, static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height),
                   static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width), 1, 1, 0x11, 0});
    // DC: one code of one bit, '0', for a difference of 11 bits. AC: one code, '0', the block's end.
    std::vector<unsigned char> dc(1 + 16 + 1, 0), ac(1 + 16 + 1, 0);
    dc[0] = 0x00;
    dc[1] = 1;
    dc[17] = 11;
    ac[0] = 0x10;
    ac[1] = 1;
    ac[17] = 0;
    segment(0xC4, dc);
    segment(0xC4, ac);
    segment(0xDA, {1, 1, 0x00, 0, 63, 0});
    unsigned int held = 0;
    int count = 0;
    const auto put = [&](unsigned int bits, int length) {
        for (int i = length - 1; i >= 0; --i) {
            held = held << 1 | ((bits >> i) & 1);
            if (++count == 8) {
                file.push_back(static_cast<unsigned char>(held));
                if ((held & 0xFF) == 0xFF)
                    file.push_back(0);
                held = 0;
                count = 0;
            }
        }
    };
    for (int block = 0; block < blocksWide * blocksHigh; ++block) {
        put(0, 1);
        put(2047, 11);
        put(0, 1);
    }
    while (count != 0)
        put(1, 1);
    file.insert(file.end(), {0xFF, 0xD9});
    return file;
}

TEST(JpegCoarseScanTest, RunawayDcValuesEndAsLibjpegEndsThem)
{
    expectSame(runawayDc(40, 30), "40 x 30 blocks");
    expectSame(runawayDc(1100, 1000), "1100 x 1000 blocks");
}

TEST(JpegCoarseScanTest, CameraFilesDecodeAsLibjpegDecodesThem)
{
    OVN_REQUIRE_TESTDATA();
    int files = 0, coarse = 0;
    QDirIterator it(testDataDir(), {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        const std::vector<unsigned char> data(bytes.begin(), bytes.end());
        expectSame(data, path.toStdString());
        coarse += decode(data, true).coarse ? 1 : 0;
        ++files;
    }
    EXPECT_GT(files, 50);
    EXPECT_GT(coarse, files / 2);
}

} // namespace
