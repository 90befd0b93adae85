#include "decoding/PictureRows.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>

namespace {

using Budget = DecodeMemoryBudget;

// How the pixels of one side of `source` pixels fall into `target` pixels when each pixel is
// taken as an area: output pixel o covers source units [o * source, (o + 1) * source), source
// pixel i covers [i * target, (i + 1) * target); each output pixel is the sum of the source
// pixels it overlaps, weighted by the overlap, over `source`.
struct AreaWeights {
    std::vector<int> first;      // per output pixel, its first source pixel
    std::vector<int> count;      // and how many it overlaps
    std::vector<quint32> weight; // those overlaps, one output pixel after another
};

AreaWeights areaWeights(int source, int target)
{
    AreaWeights w;
    w.first.reserve(size_t(target));
    w.count.reserve(size_t(target));
    for (qint64 o = 0; o < target; ++o) {
        const qint64 low = o * source, high = low + source;
        const qint64 i0 = low / target, i1 = (high - 1) / target;
        w.first.push_back(int(i0));
        w.count.push_back(int(i1 - i0 + 1));
        for (qint64 i = i0; i <= i1; ++i)
            w.weight.push_back(quint32(std::min(high, (i + 1) * target) - std::max(low, i * target)));
    }
    return w;
}

// A premultiplied ARGB32 or RGB32 picture made `target`'s size, each output pixel the average of
// the area of the picture it covers. For pictures at most a few times the target: the rest of the
// way after the block averaging.
QImage areaScaled(const QImage &image, QSize target)
{
    const int sw = image.width(), sh = image.height(), tw = target.width(), th = target.height();
    const AreaWeights across = areaWeights(sw, tw), down = areaWeights(sh, th);
    // The rows scaled across first, in 1/256ths of a level.
    std::vector<quint16> middle(size_t(tw) * size_t(sh) * 4);
    for (int y = 0; y < sh; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        quint16 *out = middle.data() + size_t(y) * size_t(tw) * 4;
        const quint32 *weight = across.weight.data();
        for (int ox = 0; ox < tw; ++ox, out += 4) {
            quint64 b = 0, g = 0, r = 0, a = 0;
            const QRgb *p = line + across.first[size_t(ox)];
            for (int i = 0; i < across.count[size_t(ox)]; ++i, ++weight) {
                b += quint64(p[i] & 0xff) * *weight;
                g += quint64((p[i] >> 8) & 0xff) * *weight;
                r += quint64((p[i] >> 16) & 0xff) * *weight;
                a += quint64(p[i] >> 24) * *weight;
            }
            const quint64 total = quint64(sw);
            out[0] = quint16((b * 256 + total / 2) / total);
            out[1] = quint16((g * 256 + total / 2) / total);
            out[2] = quint16((r * 256 + total / 2) / total);
            out[3] = quint16((a * 256 + total / 2) / total);
        }
    }
    QImage scaled(target, image.format());
    if (scaled.isNull())
        return {};
    const quint32 *weight = down.weight.data();
    std::vector<quint64> sums(size_t(tw) * 4);
    for (int oy = 0; oy < th; ++oy) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int i = 0; i < down.count[size_t(oy)]; ++i, ++weight) {
            const quint16 *in = middle.data() + size_t(down.first[size_t(oy)] + i) * size_t(tw) * 4;
            for (size_t k = 0; k < sums.size(); ++k)
                sums[k] += quint64(in[k]) * *weight;
        }
        const quint64 total = quint64(sh) * 256;
        auto *line = reinterpret_cast<QRgb *>(scaled.scanLine(oy));
        for (int ox = 0; ox < tw; ++ox) {
            const quint64 *s = &sums[size_t(ox) * 4];
            auto level = [&](int c) { return int((s[c] + total / 2) / total); };
            const int alpha = level(3);
            line[ox] = qRgba(std::min(level(2), alpha), std::min(level(1), alpha), std::min(level(0), alpha), alpha);
        }
    }
    return scaled;
}

// The reduction by whole blocks that leaves a picture no smaller than `target`.
int blockFactor(QSize size, QSize target)
{
    return std::max(1,
                    std::min(size.width() / std::max(1, target.width()), size.height() / std::max(1, target.height())));
}

} // namespace

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
    const qint64 w = m_size.width(), h = m_size.height(), f = m_factor;
    const qint64 averaged = Budget::product({(w + f - 1) / f, (h + f - 1) / f, 4});
    // The row, the averaged picture and its sums, its turned copy, the scaling's rows across and
    // the result.
    return Budget::sum({Budget::product({w, 4}), Budget::product({averaged, 5}),
                        Budget::product({m_target.width(), m_target.height(), 4})});
}

bool PictureRows::start(qint64 readerBytes, ImageFileReader::Facts *facts)
{
    if (facts)
        facts->size = m_size;
    if (m_size.isEmpty())
        return false;
    const qint64 held = Budget::sum({heldBytes(), readerBytes});
    if (held > Budget::shared().capacity()) {
        if (facts)
            facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
        return false;
    }
    m_reservation = Budget::shared().reserve(held);
    if (m_target == m_size) {
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
    if (m_averager) {
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
    if (m_averager) {
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
    if (m_image.isNull() && !m_averager)
        return {};
    fill(rest, m_size.height() - m_rowsDone);
    m_row = {};
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
        return std::move(m_image);
    }
    QImage image = m_averager->take();
    m_averager.reset();
    // Averaged as stored: the bottom rows first, the picture upside down.
    if (m_order == Order::BottomFirst)
        image = image.mirrored(false, true);
    if (image.size() != m_target)
        image = areaScaled(image, m_target);
    return image;
}

QImage PictureRows::reduced(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    const QSize size = image.size();
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
    QImage scaled = areaScaled(averager.take(), target);
    scaled.setColorSpace(image.colorSpace());
    return scaled;
}
