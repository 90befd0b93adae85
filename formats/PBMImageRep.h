#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// Decodes the binary Netpbm images (P4 bitmaps, P5 grey, P6 colour, 8 or 16 bits a sample) into a
// QImage. The camera-RAW paths produce P6 images in memory, and the program's image reading uses
// this reader for files named .ppm, .pnm, .pgm and .pbm and for any file that begins like one
// (PictureReaders registers it; plain-text Netpbm files, which this reader refuses, fall through to
// Qt's reader there). Files are read a row at a time: a thumbnail holds one row and the reduced
// picture (PictureRows), however large the picture.
class PBMImageRep
{
public:
    static const QStringList &imageUnfilteredFileTypes();
    static QStringList imageUnfilteredPasteboardTypes() { return {}; }
    static bool canInitWithPasteboard() { return false; }

    // True only for "P4", "P5" and "P6" data of more than one byte.
    static bool canInitWithData(const QByteArray &data);
    // Null unless canInitWithData(), else initWithData().
    static QImage imageRepWithData(const QByteArray &data);
    static QList<QImage> imageRepsWithData(const QByteArray &data);

    // The decoded picture (RGB32), or null for any other type, a damaged header or a picture too
    // large to be plausible for the data. Data shorter than the picture leaves the rest grey
    // (white for a bitmap) and is noted as damage to the thread's DecodeReport ("the data ends
    // early"); data beyond it is ignored.
    static QImage initWithData(const QByteArray &data);

    // The size the header at the start of `head` gives; invalid for anything this reader refuses.
    static QSize pictureSize(const QByteArray &head);
    // The picture of the file the device holds, as initWithData() reads it; with a valid `box`
    // fitted into it, averaged row by row as the file is read. A picture whose reading would hold
    // more than the decoding budget is refused (`facts`).
    static QImage imageWithDevice(QIODevice &device, QSize box = QSize(), ImageFileReader::Facts *facts = nullptr);

    // No picture is made larger than this, and none from data that holds less than a sixteenth of
    // it (so that a few bytes cannot make us allocate gigabytes).
    static constexpr qint64 maxPixels = 400'000'000;
};
