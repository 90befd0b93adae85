// The coarse scan against libjpeg's own entropy decoding: any bytes decoded at an eighth both ways
// give the same rows, stop at the same row with the same error, and draw a warning about the data
// alike or not, whether the coarse scan reads the data where it lies or a few bytes at a time.
// A difference aborts (libFuzzer keeps the input).

#include "decoding/JpegCoarseScan.h"
#include "tests/support/JpegPieces.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

namespace {

struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    bool warned = false;
};

void leave(j_common_ptr info) { std::longjmp(reinterpret_cast<Errors *>(info->err)->jump, 1); }

void noteWarning(j_common_ptr info, int level)
{
    // Bytes left between a scan's data and the next marker are counted as skipped or not by how
    // far each decoder had read ahead: that warning is not compared.
    if (level < 0 && info->err->msg_code != JWRN_EXTRANEOUS_DATA)
        reinterpret_cast<Errors *>(info->err)->warned = true;
}

void quiet(j_common_ptr) {}

struct Decoded {
    bool coarse = false; // the coarse scan took the decoding over
    std::vector<JSAMPLE> rows;
    bool warned = false;
    int error = 0;
    unsigned int scanline = 0;
};

Decoded decode(const uint8_t *data, size_t size, bool coarse, bool inPieces, J_COLOR_SPACE out)
{
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
        if (inPieces) {
            state->pieces.attach(state->info, data, size);
        } else {
            jpeg_mem_src(&state->info, data, static_cast<unsigned long>(size));
        }
        jpeg_read_header(&state->info, TRUE);
        // Pictures that would take long to decode are not worth a fuzzer's time.
        if (static_cast<unsigned long long>(state->info.image_width) * state->info.image_height <= (1ull << 24)) {
            state->info.out_color_space = out;
            state->info.scale_num = 1;
            state->info.scale_denom = 8;
            state->info.dct_method = JDCT_IFAST;
            state->info.do_fancy_upsampling = FALSE;
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
        }
    } else {
        state->result.error = state->errors.manager.msg_code;
    }
    state->result.scanline = state->info.output_scanline;
    state->result.warned = state->errors.warned;
    jpeg_destroy_decompress(&state->info);
    return state->result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const J_COLOR_SPACE out : {JCS_RGB, JCS_GRAYSCALE}) {
        const Decoded own = decode(data, size, false, true, out);
        for (const bool inPieces : {false, true}) {
            const Decoded coarse = decode(data, size, true, inPieces, out);
            // Where the coarse scan did not start, the two sources' own ends differ (an empty file).
            if (!inPieces && !coarse.coarse)
                continue;
            if (own.rows != coarse.rows || own.error != coarse.error || own.scanline != coarse.scanline
                || own.warned != coarse.warned) {
                std::fprintf(stderr,
                             "coarse scan differs%s: rows %s, error %d against %d, row %u against %u, warned %d/%d\n",
                             inPieces ? " (in pieces)" : "", own.rows == coarse.rows ? "alike" : "differ", own.error,
                             coarse.error, own.scanline, coarse.scanline, int(own.warned), int(coarse.warned));
                std::abort();
            }
        }
    }
    return 0;
}
