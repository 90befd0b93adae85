#pragma once

#include "decoding/RowSink.h"

#include <QImage>
#include <QSize>
#include <QString>

// Reduced reading of TIFF files over libtiff, for pictures much larger than the size they are
// wanted at: the file's own reduced-resolution image when one covers the size, else the picture
// read a whole strip or a row of tiles at a time and averaged into blocks on the way, so that the
// full picture is never held. Pictures come as stored (the orientation tag is not applied). A strip
// or tile that cannot be read ends the reading there: the rows before it are the picture, the
// rest grey, and the damage is noted to the thread's DecodeReport ("the data ends early" where the
// strip lies past the end of the file, else "the data is corrupt").
namespace TiffReader {

// The picture of the file's first image, reduced by a whole factor to no less than fittedSize()
// of `box` (the caller scales the rest of the way); null when libtiff cannot read it or the
// picture is no larger than the box. `fullSize`, when given, gets the first image's size.
//
// What libtiff may hold (its directories, within the size of the file, and its strip, tile and
// row buffers, each within a fixed bound) and what the reading holds are one share of the
// process's decoding budget (DecodeMemoryBudget), taken before each stage allocates; sizes come
// from the header without overflow. The read ends, null, at the deadline or Cancel of the
// thread's DecodeInterrupt scope, asked at every row or band and between directories.
QImage readReduced(const QString &path, QSize box, QSize *fullSize = nullptr);

// Who reads the first image at its own size: Qt's TIFF reader (Common), only the readings here
// (OwnRows: inks, 16-bit ones for one, Lab, floating-point samples and samples in separate planes,
// which Qt's reader refuses or misreads), or neither of them (Unsupported: `words` then names the
// layout, "16-bit floating-point RGB samples"; Qt's reader may still know it). A file libtiff
// cannot open is Common: its reading says what is wrong with it.
//
// Inks and Lab are turned into sRGB as they are read, through the file's colour profile (inks
// without one through the system's standard CMYK profile, see ColourTransform); floating-point
// samples are linear light, 0 to 1, written as sRGB and clipped. RGB rows keep the numbers of
// their profile, which goes with the picture (its colour space) or to the sink. Each reading
// notes the colour as stored to the thread's DecodeReport.
enum class Layout { Common, OwnRows, Unsupported };
Layout layout(const QString &path, QString *words = nullptr);

// The first image read as readReduced() reads it, fitted by a whole factor to `box`, or at its
// own size when `box` is invalid or no smaller; `tooLarge` is set when that would take more than
// the whole decoding budget.
QImage read(const QString &path, QSize box, QSize *fullSize = nullptr, bool *tooLarge = nullptr);

// How a streamed read ended: every row went to the sink (a damaged file's missing rows grey, as
// damage), the sink declined the picture before any row was read, or the read failed (nothing
// libtiff reads, stopped, or the sink failed).
enum class Streamed { Whole, Declined, Failed };

// The first image at its own size handed to `sink` (premultiplied ARGB32 rows, top first) a strip
// or a row of tiles at a time, as readReduced reads them: only those bands are held, never the
// picture. `fullSize`, when given, gets the first image's size.
Streamed stream(const QString &path, RowSink &sink, QSize *fullSize = nullptr);

} // namespace TiffReader
