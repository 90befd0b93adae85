#pragma once

#include "decoding/ImageFileReader.h"

#include <QImage>
#include <QSize>
#include <QString>

// The pictures of the processor "DCRAW": the dcraw command's half-size picture, fitted into a box.
// dcraw runs confined, in a child of a decoding process of the program's own (ovn-dcraw, see
// Dcraw_main.cpp) that reduces its picture into the box as it streams: only the reduced picture
// comes to the caller, which refuses anything larger than it asked for. Ended at the thread's
// DecodeInterrupt deadline (a minute at most) or Cancel, like every decoder.
namespace DcrawReader {

// The box of a full-size read.
constexpr int fullSizeSide = 16384;

// The picture fitted into `box` (full size: fullSizeSide a side), or null: `sourceSize` gets the
// size dcraw gave, `refusal` why there is none when it was the limits rather than the file.
// `dcraw` is the command's absolute path.
QImage read(const QString &path, const QString &dcraw, QSize box = QSize(), QSize *sourceSize = nullptr,
            ImageFileReader::Facts::Refusal *refusal = nullptr);

} // namespace DcrawReader
