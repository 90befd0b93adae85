#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Pictures held as bytes rather than files: the thumbnails a catalog stores. What the decoder
// program runs for MediaDecoder::readData; the program's own roads call that, not this.
namespace PictureData {

// `source` made to fit `box` with its aspect kept; never enlarged, at least 1 × 1.
QSize fittedSize(QSize source, QSize box);

// The picture in `data` decoded to fit `box` (a JPEG at the smallest DCT scale that covers it,
// others through Qt's readers), or null; `sourceSize` gets the size as stored.
QImage decodeToFit(const QByteArray &data, QSize box, QSize *sourceSize = nullptr);

} // namespace PictureData
