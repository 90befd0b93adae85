#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// Decodes the first picture of a GIF file, drawn on its logical screen as Qt's reader draws it:
// what the picture does not cover is transparent where it has a transparent colour, else the
// screen's background colour. The program's image reading uses it for files named .gif and for
// any file that begins like one (PictureReaders registers it). The LZW data is decoded as it is read,
// a row at a time: a thumbnail of a picture stored in order holds one row and the reduced
// picture (PictureRows); an interlaced one holds its colour indices, a byte a pixel, until its
// last pass.
class GIFImageRep
{
public:
    static const QStringList &imageUnfilteredFileTypes();

    // The screen's size the header at the start of `head` gives; invalid for anything else.
    static QSize pictureSize(const QByteArray &head);

    // The first picture of the file the device holds (RGB32, or ARGB32 where it is transparent),
    // or null when the file holds none. With a valid `box` it is fitted into it, averaged row by
    // row as it is decoded; a picture whose reading would hold more than the decoding budget is
    // refused (`facts`). A file cut short or corrupt keeps the rows decoded before the fault, the
    // rest grey, and says so to the thread's DecodeReport ("the data ends early", "the data is
    // corrupt"); the blocks after the picture are walked to the file's end for the same.
    static QImage imageWithDevice(QIODevice &device, QSize box = QSize(), ImageFileReader::Facts *facts = nullptr);

    // The same from bytes in memory.
    static QImage initWithData(const QByteArray &data, QSize box = QSize());
};
