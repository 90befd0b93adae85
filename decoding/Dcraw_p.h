#pragma once

// What the dcraw reader (DcrawReader.cpp) and its program (ovn-dcraw, Dcraw_main.cpp) share.
// ovn-dcraw FILE WIDTH HEIGHT MEMORY DCRAW PARENT runs DCRAW on FILE in a confined child of its
// own, reads the picture dcraw writes as it streams, reduces it into the WIDTH x HEIGHT box and
// writes this header and the reduced picture's rows (4 bytes a pixel, QImage::Format_RGB32) to
// its standard output. MEMORY bounds both processes' data; PARENT is the pid that started it.

#include <QtGlobal>

namespace DcrawPicture {

struct Header {
    char magic[4] = {'O', 'D', 'C', '1'};
    qint32 width = 0; // the picture that follows
    qint32 height = 0;
    qint32 sourceWidth = 0; // the picture dcraw gave
    qint32 sourceHeight = 0;
};

constexpr const char *programName = "ovn-dcraw";

// Exit statuses besides 0 (the picture written): dcraw gave no picture, or one with no samples.
constexpr int exitNoPicture = 1;
// Its picture did not fit the memory limit.
constexpr int exitOutOfMemory = 4;

} // namespace DcrawPicture
