#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QSize>
#include <QtGlobal>

// Where a streamed read hands a picture's rows, top first, as they are decoded, so that neither
// the reader nor what takes the rows holds the whole picture (see ImageFileReader::stream).
class RowSink
{
public:
    enum class Pixels {
        Rgb32,               // opaque 0xffRRGGBB values
        PremultipliedArgb32, // QRgb values, premultiplied
        Grey8,               // one byte a pixel
    };

    virtual ~RowSink() = default;

    // `icc` where it can go with rows of RGB pixels: a profile of RGB data that Qt's colour
    // management reads (as a picture read whole keeps it), else empty. A profile of inks, Lab or
    // grey describes samples the rows are no longer in.
    static QByteArray rgbProfile(const QByteArray &icc)
    {
        if (icc.size() < 128 || icc.mid(16, 4) != "RGB " || !QColorSpace::fromIccProfile(icc).isValid())
            return {};
        return icc;
    }

    // The colour profile (ICC) the rows are in, when the file has one other than sRGB's; before
    // begin().
    virtual void setColourProfile(const QByteArray &) {}
    // The picture's density, in dots per metre as QImage keeps it, when the file says; before
    // begin().
    virtual void setDotsPerMeter(QSize) {}
    // What the reader holds beside the sink while it reads (its buffers), told before begin(). A
    // sink that takes a share of the decoding budget itself answers true and takes this with its
    // own, in one reservation (a thread that holds a share never waits for another); the reader
    // then takes none, and the sink's begin() refuses what is more than the whole budget.
    virtual bool takeReaderShare(qint64) { return false; }
    // The picture's size and its rows' pixels, once, before any row. False ends the read before
    // it decodes anything (the caller then reads the picture otherwise).
    virtual bool begin(QSize size, Pixels pixels) = 0;
    // The next `count` rows, `bytesPerLine` apart. False ends the read.
    virtual bool addRows(const uchar *first, qsizetype bytesPerLine, int count) = 0;
};
