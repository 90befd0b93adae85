#pragma once

#include <QByteArray>
#include <QImage>
#include <QStringList>

// Decodes the binary Netpbm images (P4 bitmaps, P5 grey, P6 colour) into a QImage. The camera-RAW
// paths produce P6 images in memory, and the program's image reading uses this reader for files
// named .ppm, .pnm, .pgm and .pbm (registered at start-up; plain-text Netpbm files, which this
// reader refuses, fall through to Qt's reader there).
class PBMImageRep
{
public:
    // The registration with the program's image reading; done once when the program starts and
    // harmless to repeat.
    static void registerImageRepClass();

    static const QStringList &imageUnfilteredFileTypes();
    static QStringList imageUnfilteredPasteboardTypes() { return {}; }
    static bool canInitWithPasteboard() { return false; }

    // True only for "P4", "P5" and "P6" data of more than one byte.
    static bool canInitWithData(const QByteArray &data);
    // Null unless canInitWithData(), else initWithData().
    static QImage imageRepWithData(const QByteArray &data);
    static QList<QImage> imageRepsWithData(const QByteArray &data);

    // The decoded picture, or null for any other type, a damaged header or a picture too large to
    // be plausible for the data. Data shorter than the picture leaves the rest grey (white for a
    // bitmap) and is noted as damage to the thread's DecodeReport ("the data ends early"); data
    // beyond it is ignored.
    static QImage initWithData(const QByteArray &data);

    // No picture is made larger than this, and none from data that holds less than a sixteenth of
    // it (so that a few bytes cannot make us allocate gigabytes).
    static constexpr qint64 maxPixels = 400'000'000;
};
