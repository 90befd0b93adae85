#pragma once

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

// A libjpeg source that hands a file over a few bytes at a time, and at its end an end-of-image
// marker with the warning libjpeg's memory source gives. libjpeg's decoder then takes its careful
// path throughout: its fast path, taken where much data is at hand, meets a run of 0xFF fill bytes
// in damaged data as a marker and keeps coefficients of the attempt it then abandons for the careful
// one. Keep one where a longjmp out of libjpeg cannot leave it (on the heap with the decode's state).
class JpegPieces
{
public:
    // Makes `info` read `size` bytes at `data` through this source.
    void attach(jpeg_decompress_struct &info, const unsigned char *data, std::size_t size)
    {
        m_manager.init_source = noStep;
        m_manager.fill_input_buffer = nextPiece;
        m_manager.skip_input_data = skip;
        m_manager.resync_to_restart = jpeg_resync_to_restart;
        m_manager.term_source = noStep;
        m_manager.next_input_byte = nullptr;
        m_manager.bytes_in_buffer = 0;
        m_next = data;
        m_left = size;
        info.src = &m_manager;
    }

private:
    static constexpr std::size_t pieceBytes = 37;

    static void noStep(j_decompress_ptr) {}

    static boolean nextPiece(j_decompress_ptr info)
    {
        static const JOCTET end[2] = {0xFF, JPEG_EOI};
        auto *pieces = reinterpret_cast<JpegPieces *>(info->src);
        if (pieces->m_left == 0) {
            WARNMS(info, JWRN_JPEG_EOF);
            pieces->m_manager.next_input_byte = end;
            pieces->m_manager.bytes_in_buffer = 2;
            return TRUE;
        }
        const std::size_t count = pieces->m_left < pieceBytes ? pieces->m_left : pieceBytes;
        pieces->m_manager.next_input_byte = pieces->m_next;
        pieces->m_manager.bytes_in_buffer = count;
        pieces->m_next += count;
        pieces->m_left -= count;
        return TRUE;
    }

    static void skip(j_decompress_ptr info, long count)
    {
        auto *pieces = reinterpret_cast<JpegPieces *>(info->src);
        while (count > long(pieces->m_manager.bytes_in_buffer)) {
            count -= long(pieces->m_manager.bytes_in_buffer);
            nextPiece(info);
        }
        if (count > 0) {
            pieces->m_manager.next_input_byte += count;
            pieces->m_manager.bytes_in_buffer -= std::size_t(count);
        }
    }

    jpeg_source_mgr m_manager{}; // first: libjpeg's pointer to it is a pointer to this
    const unsigned char *m_next = nullptr;
    std::size_t m_left = 0;
};
