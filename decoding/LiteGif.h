#pragma once

#include <array>
#include <cstdint>
#include <vector>

// The decoder's reader of small GIFs for thumbnails in a child without Qt (the minimal template's):
// the first picture of a file, read as palette indices where GIFImageRep would read it so under
// PictureRows::IndexedScope, and exactly as it would, rows, colour table and damage alike. Any
// other file it leaves to GIFImageRep. It makes no call into Qt.
namespace LiteGif {

struct Picture {
    int width = 0, height = 0;           // the screen, as stored
    int bytesPerLine = 0;                // (width + 3) & ~3, as QImage::Format_Indexed8 lays rows out
    std::vector<uint8_t> indices;        // bytesPerLine * height; the padding of each row zero
    std::array<uint32_t, 256> palette{}; // 0xAARRGGBB, as GIFImageRep's colour table
    const char *damage = nullptr;        // what GIFImageRep notes to DecodeReport, or null
};

enum class Outcome {
    Read,    // `picture` holds it
    NotHere, // a file GIFImageRep reads otherwise, or finds no picture in: it is to decide
    Stopped, // DecodeInterrupt::shouldStop() said so
};

// Reads the first picture of the GIF file open at `fd` (from its start, whatever the descriptor's
// offset) for a thumbnail in a box of `boxWidth` × `boxHeight`, where the picture's screen fits
// unreduced and GIFImageRep would read it indexed.
Outcome read(int fd, int boxWidth, int boxHeight, Picture &picture);

} // namespace LiteGif
