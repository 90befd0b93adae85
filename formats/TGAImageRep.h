#pragma once

#include <QByteArray>
#include <QImage>
#include <QStringList>

// Decodes Truevision TGA images (colour-mapped, true-colour and grey, raw or run-length encoded,
// 8 to 32 bits a pixel, either origin) into a QImage. The program's image reading uses it for files
// named .tga (registered at start-up): Qt's own reader takes only uncompressed files with the
// version 2 footer, and nothing of a file cut short.
class TGAImageRep
{
public:
    // The registration with the program's image reading; harmless to repeat.
    static void registerImageRepClass();

    static const QStringList &imageUnfilteredFileTypes();

    // True when the data begins with a TGA header of a kind this reader decodes.
    static bool canInitWithData(const QByteArray &data);

    // The decoded picture (RGB32, or ARGB32 when its alpha bits say something), or null for a
    // header this reader does not take or a picture too large to be plausible for the data. Data
    // that ends before the picture does leaves the rest grey and is noted to the thread's
    // DecodeReport ("the data ends early"); a run that would pass the picture's end is cut there
    // and noted as "the data is corrupt".
    static QImage initWithData(const QByteArray &data);

    // No picture is made larger than this or than the decoding budget (DecodeMemoryBudget), and
    // none from data that could not hold it even run-length encoded (so that a few bytes cannot
    // make us allocate gigabytes).
    static constexpr qint64 maxPixels = 400'000'000;
};
