#pragma once

#include "decoding/RowSink.h"

#include <QSize>
#include <QtGlobal>

#include <functional>

// A picture too large to be held whole, written turned a quarter (the EXIF orientations 5 to 8,
// whose rows are the picture's columns): its file is read once for each strip of its columns, and
// the columns of a strip are the turned picture's next rows. Only the strip is held, never the
// picture; each further strip costs another read of the file.
namespace TurnedStrips {

// Reads the file's rows into the sink it is given (ImageFileReader::stream); false when the read
// failed.
using Read = std::function<bool(RowSink &)>;

// Hands `sink` the picture `read` gives turned by `orientation` (5 to 8): its colour profile and
// density, begin() with the turned size, then every row in order, reading the file again for each
// strip of at most `stripBytes`. False when a read or the sink failed, when a read gave another
// picture than the first, or for another orientation.
bool send(const Read &read, int orientation, qint64 stripBytes, RowSink &sink);

// How many reads of its rows send() makes of a picture of `stored` pixels of `bytesPerPixel`, in
// strips of at most `stripBytes` (besides the look at its header).
int reads(QSize stored, int bytesPerPixel, qint64 stripBytes);

} // namespace TurnedStrips
