#include "decoding/PictureRows.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using Budget = DecodeMemoryBudget;

// The rest of the way after the block averaging, for pictures at most a few times the target:
// Qt's smooth scaling, several times faster here than an exact area average and the same picture
// to within rounding (a decoder makes Qt's pool threads at its start, within its limit).
QImage finished(const QImage &blocks, QSize target)
{
    return blocks.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The reduction by whole blocks that leaves a picture no smaller than `target`.
int blockFactor(QSize size, QSize target)
{
    return std::max(1,
                    std::min(size.width() / std::max(1, target.width()), size.height() / std::max(1, target.height())));
}

thread_local PictureRows::StreamScope *currentStream = nullptr;

} // namespace

PictureRows::StreamScope::StreamScope(RowSink &sink) : m_sink(sink), m_outer(currentStream) { currentStream = this; }

PictureRows::StreamScope::~StreamScope() { currentStream = m_outer; }

PictureRows::PictureRows(QSize size, QSize box, Order order, bool alpha)
    : m_size(size),
      m_target(box.isValid() && !box.isEmpty() ? ImageFileReader::fittedSize(size, box) : size),
      m_order(order),
      m_alpha(alpha)
{
    if (m_target != m_size)
        m_factor = blockFactor(m_size, m_target);
}

qint64 PictureRows::heldBytes() const
{
    if (m_size.isEmpty())
        return 0;
    if (m_target == m_size)
        return Budget::product({m_size.width(), m_size.height(), 4});
    // Less than twice the target on a side: the picture, and its scaled copy.
    if (m_factor == 1)
        return Budget::sum({Budget::product({m_size.width(), m_size.height(), 4}),
                            Budget::product({m_target.width(), m_target.height(), 4})});
    const qint64 w = m_size.width(), h = m_size.height(), f = m_factor;
    const qint64 averaged = Budget::product({(w + f - 1) / f, (h + f - 1) / f, 4});
    // The row, the averaged picture and its sums, its turned copy, the scaling's rows across and
    // the result.
    return Budget::sum({Budget::product({w, 4}), Budget::product({averaged, 5}),
                        Budget::product({m_target.width(), m_target.height(), 4})});
}

bool PictureRows::streamsTopFirst() const
{
    if (m_order != Order::BottomFirst || !m_seekable)
        return false;
    if (m_started)
        return m_stream != nullptr;
    const StreamScope *stream = currentStream;
    return stream && !stream->m_taken && m_target == m_size && !m_size.isEmpty();
}

bool PictureRows::start(qint64 readerBytes, ImageFileReader::Facts *facts)
{
    if (facts)
        facts->size = m_size;
    if (m_size.isEmpty())
        return false;
    m_started = true;
    StreamScope *stream = currentStream;
    if (stream && !stream->m_taken && m_target == m_size) {
        stream->m_taken = true;
        if (!stream->m_sink.begin(m_size, m_alpha ? RowSink::Pixels::PremultipliedArgb32 : RowSink::Pixels::Rgb32)) {
            stream->m_declined = true;
            return false;
        }
        if (m_order == Order::TopFirst || m_seekable)
            m_stream = stream;
        else
            m_streamWhole = stream;
    }
    const bool streams = m_stream != nullptr;
    const qint64 held = Budget::sum({streams ? Budget::product({m_size.width(), 4}) : heldBytes(), readerBytes});
    if (held > Budget::shared().capacity()) {
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    m_reservation = Budget::shared().reserve(held);
    if (streams) {
        m_row.resize(size_t(m_size.width()));
        return true;
    }
    // A picture less than twice the target on a side is read whole and scaled once: averaging
    // blocks of one pixel would only copy it, a sum at a time.
    if (m_target == m_size || m_factor == 1) {
        m_image = QImage(m_size, m_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (m_image.isNull()) {
            if (facts)
                facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
            return false;
        }
        return true;
    }
    m_averager.emplace(m_size, m_factor, m_order == Order::BottomFirst);
    m_row.resize(size_t(m_size.width()));
    if (m_averager->isNull()) {
        m_averager.reset();
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    return true;
}

void PictureRows::next()
{
    if (isComplete())
        return;
    if (m_stream) {
        if (m_alpha)
            for (QRgb &pixel : m_row)
                pixel = qPremultiply(pixel);
        if (!m_stream->m_failed && !m_stream->m_sink.addRows(reinterpret_cast<const uchar *>(m_row.data()), 0, 1))
            m_stream->m_failed = true;
    } else if (m_averager) {
        if (m_alpha)
            for (QRgb &pixel : m_row)
                pixel = qPremultiply(pixel);
        m_averager->addRow(m_row.data());
    }
    ++m_rowsDone;
}

void PictureRows::fill(QRgb colour, qint64 count)
{
    count = std::min<qint64>(count, m_size.height() - m_rowsDone);
    if (count <= 0)
        return;
    if (m_stream) {
        std::fill(m_row.begin(), m_row.end(), m_alpha ? qPremultiply(colour) : colour);
        for (qint64 i = 0; i < count && !m_stream->m_failed; ++i)
            if (!m_stream->m_sink.addRows(reinterpret_cast<const uchar *>(m_row.data()), 0, 1))
                m_stream->m_failed = true;
    } else if (m_averager) {
        m_averager->addRows(qPremultiply(colour), count);
    } else {
        for (qint64 i = 0; i < count; ++i) {
            QRgb *line = rowOfPicture(m_rowsDone + int(i));
            std::fill(line, line + m_size.width(), colour);
        }
    }
    m_rowsDone += int(count);
}

QImage PictureRows::take(QRgb rest)
{
    if (m_stream) {
        fill(rest, m_size.height() - m_rowsDone);
        m_stream->m_streamed = !m_stream->m_failed;
        m_stream = nullptr;
        m_row = std::vector<QRgb>();
        return {};
    }
    if (m_image.isNull() && !m_averager)
        return {};
    fill(rest, m_size.height() - m_rowsDone);
    m_row = std::vector<QRgb>();
    if (!m_averager) {
        // A picture whose rows were all opaque is RGB32: the same pixels.
        if (m_alpha) {
            bool opaque = true;
            for (int y = 0; y < m_image.height() && opaque; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
                for (int x = 0; x < m_image.width() && opaque; ++x)
                    opaque = qAlpha(line[x]) == 255;
            }
            if (opaque)
                m_image.reinterpretAsFormat(QImage::Format_RGB32);
        }
        if (StreamScope *stream = std::exchange(m_streamWhole, nullptr)) {
            // Top first, a row at a time, premultiplied where translucent.
            std::vector<QRgb> line(size_t(m_image.width()));
            for (int y = 0; y < m_image.height() && !stream->m_failed; ++y) {
                const auto *in = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
                for (int x = 0; x < m_image.width(); ++x)
                    line[size_t(x)] = m_alpha ? qPremultiply(in[x]) : in[x];
                if (!stream->m_sink.addRows(reinterpret_cast<const uchar *>(line.data()), 0, 1))
                    stream->m_failed = true;
            }
            stream->m_streamed = !stream->m_failed;
            m_image = QImage();
            return {};
        }
        if (m_target != m_size)
            return finished(std::exchange(m_image, QImage()), m_target);
        return std::move(m_image);
    }
    QImage image = m_averager->take();
    m_averager.reset();
    // Averaged as stored: the bottom rows first, the picture upside down.
    if (m_order == Order::BottomFirst)
        image = image.mirrored(false, true);
    if (image.size() != m_target)
        image = finished(image, m_target);
    return image;
}

QImage PictureRows::reduced(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    const QSize size = image.size();
    // A picture less than twice the target (a JPEG decoded reduced) goes the rest of the way at once.
    if (target.width() <= size.width() && target.height() <= size.height() && blockFactor(size, target) == 1) {
        QImage scaled = finished(image, target);
        scaled.setColorSpace(image.colorSpace());
        return scaled;
    }
    // Whole blocks first, each row taken to premultiplied ARGB32 on its own.
    BlockAverager averager(
        size, target.width() <= size.width() && target.height() <= size.height() ? blockFactor(size, target) : 1);
    if (averager.isNull())
        return {};
    const bool direct = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32;
    for (int y = 0; y < size.height(); ++y) {
        if (direct) {
            averager.addRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)));
            continue;
        }
        QImage line(image.constScanLine(y), size.width(), 1, image.bytesPerLine(), image.format());
        if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
            || image.format() == QImage::Format_MonoLSB)
            line.setColorTable(image.colorTable());
        const QImage converted = line.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (converted.isNull())
            return {};
        averager.addRow(reinterpret_cast<const QRgb *>(converted.constScanLine(0)));
    }
    const QImage blocks = averager.take();
    QImage scaled = blocks.size() == target ? blocks : finished(blocks, target);
    scaled.setColorSpace(image.colorSpace());
    return scaled;
}

QImage PictureRows::onWhite(const QImage &image)
{
    if (image.isNull() || !image.hasAlphaChannel())
        return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    // Premultiplied: what the pixel covers is its colour, the rest (255 - alpha) is white.
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const int white = 255 - qAlpha(p);
            line[x] =
                qRgb(std::min(255, qRed(p) + white), std::min(255, qGreen(p) + white), std::min(255, qBlue(p) + white));
        }
    }
    out.reinterpretAsFormat(QImage::Format_RGB32);
    out.setColorSpace(image.colorSpace());
    return out;
}
