#pragma once

// The page renderer the document reader runs in a process of its own (ovn-pdf-page), and what
// the two share. Poppler gives no way to bound the drawing of one image on a page: an image that
// claims billions of pixels holds its thread for hours in one drawing call, which no abort
// callback reaches. The reader therefore draws every page in a child process that it ends at the
// page's deadline or at Cancel, and whose memory is limited; the child stops by itself as well
// (its own deadline between drawing operations, a CPU-time limit), should the reader be gone.

#include <QSize>
#include <QtGlobal>

namespace PdfPage {

// Pages are refused beyond 16384 pixels a side or 100 megapixels: a damaged page box can claim
// anything.
constexpr int maxSide = 16384;
constexpr qint64 maxPixels = 100'000'000;

inline bool isDrawableSize(QSize size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= maxSide && size.height() <= maxSide
           && qint64(size.width()) * size.height() <= maxPixels;
}

// The child's address space: its libraries, poppler's own buffers for the page's fonts and
// images, and the page drawn twice (poppler's bitmap and the picture made of it).
inline qint64 childMemoryLimit(QSize size)
{
    return (qint64(768) << 20) + qint64(size.width()) * size.height() * 4 * 3;
}

// The child writes this header and then the page's rows, 4 bytes a pixel (QImage::Format_RGB32).
struct Header {
    char magic[4] = {'O', 'P', 'G', '1'};
    qint32 width = 0;
    qint32 height = 0;
};

constexpr const char *programName = "ovn-pdf-page";

// The child's exit status when it stopped at its own deadline.
constexpr int exitOutOfTime = 3;

} // namespace PdfPage
