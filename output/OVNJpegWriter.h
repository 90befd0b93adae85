#pragma once

#include <QSize>
#include <QString>

class QImage;

// The one JPEG writer of the output actions (export, e-mail, web gallery): any media file the
// program can render becomes a JPEG of bounded size, upright, optionally captioned. It holds no
// state and may run on any thread.
class OVNJpegWriter
{
public:
    enum class Caption { Off, On };

    // Loads `source` by the loader its processor names (those the file-type codes call writable),
    // fits it into maxwidth × maxheight pixels (never enlarged), turns it by the EXIF
    // `orientation`, stamps the caption (author line, then file name) when asked, and writes it
    // to `saveTo` at round(quality × 100) (0 or less means 0.85, above 1 means 1). True exactly
    // when the file was written; on any failure nothing is left at `saveTo`. The file is written
    // beside its place and renamed into it; a link at `saveTo` is followed only when it belongs to
    // this account or to the folder's owner (FileAccess::writeThroughTemporary).
    static bool scaleAndSaveAsJPEG(const QString &source, int maxwidth, int maxheight, float quality,
                                   const QString &saveTo, Caption caption, const QString &author,
                                   const QString &filename, int orientation);

    // The size `size` is written at in a maxwidth × maxheight box: the longer ratio decides (the
    // height on a tie), the other side truncated, never enlarged, at least 1 × 1.
    static QSize fittedSize(QSize size, int maxwidth, int maxheight);

    // The JPEG quality (0..100) for the caller's factor.
    static int jpegQuality(float quality);

    // Draws the caption box into the top-right corner of `image`.
    static void drawCaption(QImage &image, const QString &author, const QString &filename);
};
