#pragma once

#include "decoding/ImageFileReader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// Decodes the composite picture of Photoshop files (PSD, and PSB for large documents): bitmap,
// grey, duotone (as grey), indexed, RGB and CMYK pictures of 1, 8 or 16 bits a sample, raw or
// PackBits-compressed, with the transparency the file keeps for its composite. Layers are not
// read: the composite is the picture. The program's image reading uses it for files named .psd
// and .psb and for any file that begins like one, and the movie reading for the Photoshop files
// it is given (PictureReaders registers it). The channels are stored one after another; they are read
// a row of each at a time, so that a thumbnail holds a row of each and the reduced picture
// (PictureRows), however large the picture.
class PSDImageRep
{
public:
    static const QStringList &imageUnfilteredFileTypes();

    // The size the header at the start of `head` gives; invalid for a header this reader refuses.
    static QSize pictureSize(const QByteArray &head);

    // The composite picture of the file the device holds (RGB32, or ARGB32 where it is
    // translucent), or null when this reader cannot read it (ZIP-compressed data, 32 bits a
    // sample, Lab or multichannel pictures) or the data could not plausibly hold it. With a valid
    // `box` it is fitted into it, averaged row by row as the file is read; a picture whose reading
    // would hold more than the decoding budget is refused (`facts`). A file cut short or corrupt
    // keeps the rows every channel holds, the rest grey, and says so to the thread's DecodeReport
    // ("the data ends early", "the data is corrupt"); nothing when no row could be read.
    static QImage imageWithDevice(QIODevice &device, QSize box = QSize(), ImageFileReader::Facts *facts = nullptr);

    // The same from bytes in memory.
    static QImage initWithData(const QByteArray &data, QSize box = QSize());
};
