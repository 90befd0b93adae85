#pragma once

#include "decoding/RowSink.h"

#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstddef>

// JPEG decoding straight through libjpeg-turbo, for thumbnails: the decoder reduces the picture
// by the largest of its DCT scales (1/8 to 1) that still covers the box, with its fastest
// settings, into the picture's own rows (CMYK pictures turned into sRGB as they are read, through
// their embedded profile or the standard one: see ColourTransform). An
// error of the library before any row was decoded gives a null picture; one after (a stray
// marker libjpeg cannot read past) gives the rows decoded, the rest grey, as damage. Nothing the
// bytes say can crash the process or make it hold more than the process's decoding budget
// (DecodeMemoryBudget) or `maxDecodeBytes`. A
// decode past the deadline of its thread's DecodeInterrupt scope, or cancelled, fails. The
// library's warnings go to the log ("ovn.decoding").
class JpegDecoder
{
public:
    enum class Status {
        Decoded,     // the picture (also a damaged file: what it holds, a missing part grey)
        Failed,      // not a JPEG, or broken: no picture
        Unsupported, // a JPEG of a kind left to Qt's reader (neither grey, three-colour nor CMYK)
    };
    struct Result {
        Status status = Status::Failed;
        QImage image;   // RGB32 or Grayscale8, at least as large as the box asked for when the
                        // picture is (its aspect kept), never larger than it needs to be by more
                        // than one DCT step
        QSize fullSize; // the picture's stored size, when the header was read
        QString damage; // what the decoder read past, in a few words ("the data ends early"); empty
                        // for a whole file. Also noted to the thread's DecodeReport scope.
    };

    // Pictures whose decode would hold more than this are refused.
    static constexpr qint64 maxDecodeBytes = qint64(1024) << 20;
    // A progressive file may hold any number of scans, each a pass over the whole picture; real
    // files have about ten. A decode stops past this many.
    static constexpr int maxScans = 500;

    // How many scans the JPEG data `device` holds from where it stands, counted through its markers
    // without decoding (the device is put back): no more than atMost + 1, so that a file of endless
    // scans costs a look at atMost + 1 of them; -1 when the thread's DecodeInterrupt scope stopped
    // the count.
    static int scanCount(QIODevice &device, int atMost = maxScans);

    // Whether the bytes begin like a JPEG file (SOI and a marker).
    static bool looksLikeJpeg(const void *data, std::size_t size);

    // Whether the picture `device` holds from where it stands is of inks (CMYK or YCCK); the
    // device is put back.
    static bool storesInks(QIODevice &device);

    // The stored size from the header, or an invalid size.
    static QSize size(const void *data, std::size_t size);

    // The picture, decoded at the smallest DCT scale whose result still covers `box` (the whole
    // picture for an invalid or empty box). The caller fits it to the box exactly.
    static Result decode(const void *data, std::size_t size, QSize box = QSize());
    // The same, read from `device` a piece at a time from where it stands, no more than
    // `maxBytes` of it: the file is never held whole.
    static Result decode(QIODevice &device, qint64 maxBytes, QSize box = QSize());

    // How a streamed decode ended.
    enum class Streamed {
        Whole,       // every row went to the sink (a damaged file's missing rows grey, as damage)
        Declined,    // the sink declined the picture before a row was decoded
        Failed,      // not a JPEG, broken before its first row, stopped, or the sink failed
        Unsupported, // a kind left to Qt's reader
    };
    // The picture handed to `sink` a band of rows at a time as libjpeg decodes them (RGB32 or
    // grey), read from `device` a piece at a time, no more than `maxBytes` of it: at its own size,
    // or with a valid `box` smaller than the picture at the smallest DCT scale that still covers
    // it (the sink reduces the rest of the way). Only libjpeg's buffers are held (a band of rows
    // at the decoded width, and a file of several scans' coefficients as the file subsamples
    // them), within the budget, never the picture. `fullSize` gets the stored size.
    static Streamed stream(QIODevice &device, qint64 maxBytes, RowSink &sink, QSize *fullSize = nullptr,
                           QSize box = QSize());

    // The DCT scale (in eighths, 1..8) for a picture of `full` pixels wanted in `box`.
    static int scaleEighths(QSize full, QSize box);

    // What decode() will hold for these at most: the decoded picture and libjpeg's own buffers
    // (CMYK has four components): every coefficient of a file of several scans (progressive, or
    // its components in scans of their own), else a band of rows at the decoded width, at any
    // scale. The defaults answer for any JPEG of that size.
    static qint64 decodeBytes(QSize full, QSize box, int components = 4, bool multipleScans = true);
    // The same for the picture these bytes hold, from their header; 0 when it cannot be read.
    static qint64 decodeBytes(const void *data, std::size_t size, QSize box);
    // The same for the picture `device` holds from where it stands, which it is put back to.
    static qint64 decodeBytes(QIODevice &device, QSize box);
};
