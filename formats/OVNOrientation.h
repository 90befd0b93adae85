#pragma once

#include <QImage>
#include <QString>

// How a picture stored as the file holds it is shown upright, by its EXIF orientation code. Every
// viewer and the import's thumbnails turn through here, so that they agree; no reader turns.
namespace OVNOrientation {

// A turn clockwise by `degrees` (0, 90, 180 or 270), then, when `mirrored`, a flip left to right.
struct Turn {
    int degrees = 0;
    bool mirrored = false;
    bool operator==(const Turn &) const = default;
};

// Not a code: the picture turns as its own file says, read when it is opened (a file the catalog
// does not hold, so has no orientation stored for it).
inline constexpr int codeFromFile = -1;

// 1 upright, 6 a quarter turn clockwise, 3 a half turn, 8 a quarter turn counter-clockwise; the
// mirrored codes 2, 4, 5 and 7 as their turn and a flip. 0 and unknown codes are upright.
Turn turnFor(int code);

// The picture turned (and flipped) as the code says.
QImage turned(const QImage &image, int code);

// The picture flipped so that turning it by `turn.degrees` afterwards gives turned(): a viewer that
// turns by degrees itself applies the flip once when the picture arrives.
QImage flippedBeforeTurn(const QImage &image, Turn turn);

// The file's own code, read as the import reads it: from the RAW decoder for a processor whose turn
// is the decoder's (the turn its pixels need), from the metadata for any other. 0 when the file says
// nothing.
int codeInFile(const QString &path, const QString &processor);

} // namespace OVNOrientation
