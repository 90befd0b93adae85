#include "formats/GIFImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/GifDecoding.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"
#include "platform/HeapTuning.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using GifDecoding::Damage;

static_assert(GifDecoding::missing == PictureRows::missing);

void note(Damage damage)
{
    if (const char *text = GifDecoding::damageText(damage))
        DecodeReport::damaged(QString::fromLatin1(text));
}

// The indexed rows of a picture made indexed (see PictureRows::IndexedScope), in the picture
// itself.
struct IndexedImage {
    QImage image;

    bool make(int width, int height)
    {
        image = QImage(width, height, QImage::Format_Indexed8);
        if (image.isNull())
            return false;
        HeapTuning::mapForWriting(image.bits(), size_t(image.sizeInBytes()));
        return true;
    }
    uchar *line(int y) { return image.scanLine(y); }
    const uchar *line(int y) const { return image.constScanLine(y); }
};

// The picture of the indexed rows, the rows not read in `rest`. Where every index is used and
// none is `rest`'s, it is made ARGB32 or RGB32 as PictureRows would have made it.
QImage takeIndexed(GifDecoding::IndexedRows<IndexedImage> &rows, IndexedImage &storage, QRgb rest)
{
    const bool indexed = rows.finish(rest);
    storage.image.setColorTable(QList<QRgb>(rows.palette().begin(), rows.palette().end()));
    if (indexed)
        return std::move(storage.image);
    QImage expanded = storage.image.convertToFormat(QImage::Format_ARGB32);
    storage.image = QImage();
    if (expanded.isNull())
        return {};
    for (int y = rows.rowsDone(); y < expanded.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(expanded.scanLine(y));
        std::fill(line, line + expanded.width(), rest);
    }
    for (int y = 0; y < expanded.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(expanded.constScanLine(y));
        if (std::any_of(line, line + expanded.width(), [](QRgb pixel) { return qAlpha(pixel) != 255; }))
            return expanded;
    }
    expanded.reinterpretAsFormat(QImage::Format_RGB32);
    return expanded;
}

} // namespace

const QStringList &GIFImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("gif")};
    return types;
}

QSize GIFImageRep::pictureSize(const QByteArray &head)
{
    if (head.size() < 13 || (!head.startsWith("GIF87a") && !head.startsWith("GIF89a")))
        return {};
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    return QSize(qFromLittleEndian<quint16>(d + 6), qFromLittleEndian<quint16>(d + 8));
}

QImage GIFImageRep::initWithData(const QByteArray &data, QSize box)
{
    return ImageRepInput::readBytes(&GIFImageRep::imageWithDevice, data, box);
}

QImage GIFImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    // The header too through the input's own buffer: the device's would be filled for it alone.
    ImageRepInput input(device, 0);
    GifDecoding::Opening opening;
    Damage opened = Damage::None;
    if (GifDecoding::readOpening(input, opening, opened) != GifDecoding::Found::Picture) {
        note(opened);
        return {};
    }
    const QSize screen(opening.screenWidth, opening.screenHeight);
    const int left = opening.left, top = opening.top, width = opening.width, height = opening.height,
              from = opening.from, to = opening.to;
    const bool interlaced = opening.interlaced;
    const QRgb outside = opening.outside;

    // A picture stored in order, read whole, whose screen's colour outside it is one of its own
    // colours (or that covers the screen) is made indexed where the thread asks for it.
    if (opening.indexable() && PictureRows::IndexedScope::take(screen, box)) {
        IndexedImage storage;
        GifDecoding::IndexedRows rows(storage, screen.width(), screen.height(), opening.palette, opening.transparent);
        if (facts)
            facts->size = screen;
        if (!rows.start(DecodeMemoryBudget::sum({width, ImageRepInput::bufferBytes, 32 << 10}))) {
            if (facts)
                facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
            return {};
        }
        const GifDecoding::IndexedRead read = GifDecoding::readIndexed(input, opening, rows);
        if (read.stopped)
            return {};
        note(read.damage);
        return takeIndexed(rows, storage, read.rest);
    }

    PictureRows rows(screen, box, PictureRows::Order::TopFirst, opening.alpha);
    const qint64 indices = interlaced ? DecodeMemoryBudget::product({width, height}) : 0;
    if (!rows.start(DecodeMemoryBudget::sum({width, indices, ImageRepInput::bufferBytes, 32 << 10}), facts))
        return {};
    rows.fill(outside, top);
    // A screen row of the picture's row of indices.
    auto screenRow = [&](const uchar *row) {
        QRgb *out = rows.row();
        std::fill(out, out + from, outside);
        for (int x = from; x < to; ++x)
            out[x] = opening.palette[row[x - left]];
        std::fill(out + to, out + screen.width(), outside);
        rows.next();
    };
    std::vector<uchar> stored;
    if (interlaced)
        stored.resize(size_t(indices));
    int decoded = 0;
    GifDecoding::SubBlocks blocks(input);
    Damage damage = GifDecoding::decodeLzw(blocks, opening.minimum, width, height, [&](const uchar *row) {
        if (interlaced)
            std::memcpy(stored.data() + size_t(GifDecoding::Interlace{height}.row(decoded)) * size_t(width), row,
                        size_t(width));
        else if (top + decoded < screen.height())
            screenRow(row);
        ++decoded;
    });
    if (DecodeInterrupt::shouldStop())
        return {};
    if (damage == Damage::None)
        damage = blocks.skipRest() ? GifDecoding::walkToTrailer(input) : Damage::EndsEarly;
    note(damage);
    // Rows the data did not give: grey in a damaged file, the screen's in a whole one.
    const QRgb rest = decoded < height && damage != Damage::None ? PictureRows::missing : outside;
    if (interlaced) {
        const GifDecoding::Interlace interlace{height};
        for (int y = 0; y < height && top + y < screen.height(); ++y) {
            if (interlace.order(y) < decoded) {
                screenRow(stored.data() + size_t(y) * size_t(width));
            } else {
                rows.fill(rest, 1);
            }
        }
        stored = std::vector<uchar>(); // its memory given back ({} would keep it)
    }
    if (decoded == height)
        rows.fill(outside, screen.height());
    return rows.take(rest);
}
