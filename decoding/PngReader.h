#pragma once

#include "decoding/RowSink.h"

#include <QImage>
#include <QSize>
#include <QString>

// PNG files read through libpng under the program's own limits, rather than Qt's reader, which
// lets libpng hold whatever a chunk claims. The picture and everything libpng allocates for the
// file (its chunk buffers, the colour profile, its rows) are estimated from the header and held
// as one share of the process's decoding budget (DecodeMemoryBudget) before the decode starts;
// libpng's allocations are counted, and one beyond that share fails. Text and other chunks the
// program does not use are skipped unread. The decode ends at the deadline or Cancel of the
// thread's DecodeInterrupt scope, asked at every read of the file and every row of every pass.
// libpng's messages go to the "ovn.decoding" log.
namespace PngReader {

// Whether the bytes begin with the PNG signature.
bool looksLikePng(const char *data, qint64 size);

// Which way the rows are read. Fastest: a picture whose rows and data fit in a few megabytes is
// inflated in one piece and its rows unfiltered here, several times faster than libpng's rows, and
// a file that is anything but plain goes to libpng's rows, which say what of it can be shown.
// Library: always libpng's rows (the two give the same pixels; tests compare them).
enum class Road { Fastest, Library };

struct Result {
    QImage image;              // ARGB32 or RGB32 (a reduced picture with alpha ARGB32_Premultiplied);
                               // null when it could not be read (or was stopped)
    QSize size;                // the size the header claims, when it could be read
    bool tooLarge = false;     // the header claims more than the whole decoding budget: nothing was read
    qint64 libraryBytes = 0;   // the most libpng held at once for this file
    qint64 reserved = 0;       // the share of the budget the decode held
    Road road = Road::Library; // the road its rows came by
};

// The picture of a PNG file; with a valid `box` fitted into it (ImageFileReader::fittedSize). A
// picture that is not interlaced is then averaged row by row as it is read, so that only a row of
// it is held; an interlaced one is decoded whole and scaled, the reduced copy in the same share.
Result read(const QString &path, QSize box = QSize(), Road road = Road::Fastest);

// How a streamed read ended: every row went to the sink (a damaged file's missing rows grey, as
// damage), the picture is one to read whole (interlaced, or in a colour space of its own), or the
// read failed (not a PNG, broken before its first row, stopped, or the sink failed).
enum class Streamed { Whole, Declined, Failed };

// The picture at its own size handed to `sink` a row at a time as libpng reads it (RGB32, or
// premultiplied ARGB32 where it may be translucent): only libpng's buffers and a row are held.
Streamed stream(const QString &path, RowSink &sink, Road road = Road::Fastest);

// What libpng may hold beside the picture for a picture `width` pixels wide.
qint64 libraryAllowance(qint64 width);

} // namespace PngReader
