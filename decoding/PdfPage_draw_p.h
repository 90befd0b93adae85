#pragma once

// Drawing one page of a PDF document at a given size, shared by the page renderer (ovn-pdf-page)
// and the decoder program, which draws pages itself within its own limits.

#include <poppler-qt6.h>

#include <QImage>
#include <QSize>

#include <chrono>
#include <cmath>

namespace PdfPage {

// The page drawn at `size` in QImage::Format_RGB32, or null; `outOfTime` is set when drawing
// passed `deadline` (poppler asks between drawing operations whether to go on).
inline QImage draw(Poppler::Document &document, Poppler::Page &page, QSize size,
                   std::chrono::steady_clock::time_point deadline, bool *outOfTime)
{
    using Clock = std::chrono::steady_clock;
    document.setRenderHint(Poppler::Document::Antialiasing);
    document.setRenderHint(Poppler::Document::TextAntialiasing);
    const QSizeF points = page.pageSizeF();
    const QSize natural(std::max(1, int(std::lround(points.width()))), std::max(1, int(std::lround(points.height()))));
    const double xres = 72.0 * size.width() / natural.width();
    const double yres = 72.0 * size.height() / natural.height();
    thread_local Clock::time_point drawingDeadline;
    drawingDeadline = deadline;
    QImage image = page.renderToImage(
        xres, yres, -1, -1, -1, -1, Poppler::Page::Rotate0, nullptr, nullptr,
        [](const QVariant &) { return Clock::now() >= drawingDeadline; }, QVariant());
    *outOfTime = Clock::now() >= deadline;
    if (*outOfTime || image.isNull())
        return {};
    if (image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return std::move(image).convertToFormat(QImage::Format_RGB32);
}

} // namespace PdfPage
