#include "formats/OVNOrientation.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNImageTagParser.h"
#include "decoding/MediaDecoder.h"
#include "decoding/RawDecoder.h"

#include <QColorSpace>
#include <QTransform>

namespace OVNOrientation {

Turn turnFor(int code)
{
    switch (code) {
    case 2:
        return {0, true};
    case 3:
        return {180, false};
    case 4:
        return {180, true};
    case 5:
        return {90, true};
    case 6:
        return {90, false};
    case 7:
        return {270, true};
    case 8:
        return {270, false};
    default:
        return {0, false};
    }
}

QImage turned(const QImage &image, int code)
{
    const Turn turn = turnFor(code);
    if (image.isNull() || turn == Turn{})
        return image;
    QImage out = turn.degrees ? image.transformed(QTransform().rotate(turn.degrees)) : image;
    // (Qt's transformed() leaves the colour space behind.)
    out.setColorSpace(image.colorSpace());
    return turn.mirrored ? out.mirrored(true, false) : out;
}

QImage flippedBeforeTurn(const QImage &image, Turn turn)
{
    if (image.isNull() || !turn.mirrored)
        return image;
    // A left-right flip after a quarter turn is a top-bottom flip before it.
    return turn.degrees == 90 || turn.degrees == 270 ? image.mirrored(false, true) : image.mirrored(true, false);
}

int codeInFile(const QString &path, const QString &processor)
{
    if (FileTypeCodes::processor(processor).turn == ProcessorCode::Turn::Decoder) {
        // The camera's turn, from its RAW header read in a decoder.
        if (const std::optional<RawDecoder::Info> info = MediaDecoder().identifyRaw(path))
            return RawDecoder::exifOrientation(info->flip);
    }
    const int code = OVNImageTagParser().parseFileForExifInfo(path).value(QStringLiteral("Orientation")).toInt();
    return code >= 1 && code <= 8 ? code : 0;
}

} // namespace OVNOrientation
