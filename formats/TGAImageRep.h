#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// Decodes Truevision TGA images (colour-mapped, true-colour and grey, raw or run-length encoded,
// 8 to 32 bits a pixel, either origin) into a QImage. The program's image reading uses it for files
// named .tga (PictureReaders registers it): Qt's own reader takes only uncompressed files with the
// version 2 footer, and nothing of a file cut short. Files are read a row at a time: a thumbnail
// holds one row and the reduced picture (PictureRows), however large the picture.
class TGAImageRep
{
public:
    static const QStringList &imageUnfilteredFileTypes();

    // True when the data begins with a TGA header of a kind this reader decodes.
    static bool canInitWithData(const QByteArray &data);

    // The decoded picture (RGB32, or ARGB32 when its alpha bits say something), or null for a
    // header this reader does not take or a picture too large to be plausible for the data. Data
    // that ends before the picture does leaves the rest grey and is noted to the thread's
    // DecodeReport ("the data ends early"); a run that would pass the picture's end is cut there
    // and noted as "the data is corrupt".
    static QImage initWithData(const QByteArray &data);

    // The size the header at the start of `head` gives; invalid for a header this reader refuses.
    static QSize pictureSize(const QByteArray &head);
    // The picture of the file the device holds, as initWithData() reads it; with a valid `box`
    // fitted into it, averaged row by row as the file is read. A picture whose reading would hold
    // more than the decoding budget is refused (`facts`).
    static QImage imageWithDevice(QIODevice &device, QSize box = QSize(), ImageFileReader::Facts *facts = nullptr);

    // No picture is made larger than this, and none from data that could not hold it even
    // run-length encoded (so that a few bytes cannot make us read or fill gigabytes).
    static constexpr qint64 maxPixels = 400'000'000;
};
