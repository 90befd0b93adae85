#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// Decodes Windows and OS/2 bitmaps (BMP): 1, 4 and 8 bits a pixel with a palette, 16, 24 and 32
// bits with or without bit fields (32 bits with an alpha mask keep their alpha), and the
// run-length encoded RLE8 and RLE4 pictures; rows stored bottom first or top first. The program's
// image reading uses it for files named .bmp and .dib and for any file that begins like one
// (PictureReaders registers it); bitmaps holding a JPEG or PNG and the OS/2 compressions are left to
// Qt's reader. Files are read a row at a time: a thumbnail holds one row and the reduced picture
// (PictureRows), however large the picture.
class BMPImageRep
{
public:
    static const QStringList &imageUnfilteredFileTypes();

    // The size the header at the start of `head` gives; invalid for a header this reader refuses.
    static QSize pictureSize(const QByteArray &head);

    // The picture of the file the device holds (RGB32, or ARGB32 when its alpha says something),
    // or null for a header this reader refuses or an uncompressed picture too large to be
    // plausible for the data. With a valid `box` it is fitted into it, averaged row by row as
    // the file is read; a picture whose reading would hold more than the decoding budget is
    // refused (`facts`). Data that ends before the picture does leaves the rows not read grey and
    // is noted to the thread's DecodeReport ("the data ends early"); pixels a run-length encoded
    // picture skips take the palette's first colour.
    static QImage imageWithDevice(QIODevice &device, QSize box = QSize(), ImageFileReader::Facts *facts = nullptr);

    // The same from bytes in memory.
    static QImage initWithData(const QByteArray &data, QSize box = QSize());
};
