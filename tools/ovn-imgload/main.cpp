// ovn-imgload FILE [--shrink N] [--size N] [--time T] -o OUT.png
//
// Loads a file the way the program does for its file type (the processor of the file-type table:
// the user's "FileTypeMapping" preference or the built-in table; --processor overrides it) and
// writes the picture, so that a person can look at what the loaders make of a file.

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QStringList>

#include <cmath>
#include <cstdio>

namespace {

constexpr const char *usageText =
    "usage: ovn-imgload FILE [--shrink N] [--size N] [--time SECONDS] [--processor P] -o OUT.png\n"
    "  --shrink N   RAW decoding at about 1/2^N a side (processor RAW; Image reads at 1/2^N too)\n"
    "  --size N     for processor Image: fit the picture into N x N, decoding at a reduced size\n"
    "  --time T     for movies and PDF documents: the picture at T seconds (default 0)\n"
    "  --processor P  Image, RAW, DCRAW or QuickTime instead of the file-type table's\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText, {{"-o", 1}, {"--shrink", 1}, {"--size", 1}, {"--time", 1}, {"--processor", 1}}))
        return *end;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString input, output;
    int shrink = 0, size = 0;
    double seconds = 0.0;
    QString forced;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("-o") && hasValue)
            output = args[++i];
        else if (a == QLatin1String("--shrink") && hasValue) {
            const std::optional<int> n = ToolNumber::integer32("--shrink", args[++i], 0, 16);
            if (!n)
                return 2;
            shrink = *n;
        } else if (a == QLatin1String("--size") && hasValue) {
            const std::optional<int> n = ToolNumber::integer32("--size", args[++i], 0, 65535);
            if (!n)
                return 2;
            size = *n;
        } else if (a == QLatin1String("--time") && hasValue) {
            const std::optional<double> t = ToolNumber::real("--time", args[++i], 0, 1e9);
            if (!t)
                return 2;
            seconds = *t;
        } else if (a == QLatin1String("--processor") && hasValue)
            forced = args[++i];
        else if (!a.startsWith(QLatin1Char('-')) && input.isEmpty())
            input = a;
        else
            return usage();
    }
    if (input.isEmpty() || output.isEmpty() || shrink < 0 || size < 0)
        return usage();

    const QString processor = forced.isEmpty() ? OVNExtensionMapping().getProcessorForFile(input) : forced;
    QElapsedTimer timer;
    timer.start();
    QImage image;
    const ProcessorCode::Loader loader = FileTypeCodes::processor(processor).loader;
    if (loader == ProcessorCode::Loader::CameraRaw) {
        image = OVNHelper::imageForRAWMediaFile(input, shrink);
    } else if (loader == ProcessorCode::Loader::Dcraw) {
        image = OVNHelper::imageForDCRAWMediaFile(input, shrink);
    } else if (loader == ProcessorCode::Loader::Movie) {
        MediaDecoder decoder(MediaDecoder::Use::FullSize);
        if (const std::optional<MediaDecoder::MovieInfo> movie = decoder.openMovie(input)) {
            MovieTime time = movie->duration;
            time.timeValue = std::llround(seconds * time.timeScale);
            image = decoder.movieFrame(time);
            std::printf("movie: %dx%d, duration %lld/%d\n", movie->naturalSize.width(), movie->naturalSize.height(),
                        static_cast<long long>(movie->duration.timeValue), movie->duration.timeScale);
        }
    } else if (loader == ProcessorCode::Loader::Image) {
        QSize box;
        if (size > 0)
            box = QSize(size, size);
        // A thumbnail-sized read has a thumbnail's limits, the whole picture a full-size read's.
        ImageFileReader::Facts facts;
        const DecodeReport::Scope report;
        image = MediaDecoder(box.isValid() ? MediaDecoder::Use::Thumbnail : MediaDecoder::Use::FullSize)
                    .read(input, box, &facts);
        // The picture comes in sRGB, turned from the colour the file stores where it is another.
        if (!report.colourSpace().isEmpty())
            std::printf(
                "colour: %s%s, shown in sRGB\n", qPrintable(report.colourSpace()),
                report.colourProfile().isEmpty()
                    ? ""
                    : qPrintable(QStringLiteral(" with a profile of %1 bytes").arg(report.colourProfile().size())));
        if (image.isNull() && facts.refusal != ImageFileReader::Facts::Refusal::None)
            std::fprintf(stderr, "%s: %s\n", qPrintable(input),
                         qPrintable(ImageFileReader::refusalText(facts.refusal)));
        if (shrink > 0 && !image.isNull())
            image = image.scaled(std::max(1, image.width() >> shrink), std::max(1, image.height() >> shrink),
                                 Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        std::fprintf(stderr, "%s: processor %s gives no picture\n", ToolText::utf8(input).constData(),
                     ToolText::utf8(processor).constData());
        return 1;
    }
    const qint64 ms = timer.elapsed();
    // Its decoders end before it does, so that their processor time is this process's children's.
    MediaDecoder::endIdleDecoders();
    if (image.isNull()) {
        std::fprintf(stderr, "%s: no picture (processor %s)\n", ToolText::utf8(input).constData(),
                     ToolText::utf8(processor).constData());
        return 1;
    }
    QImageWriter writer(output);
    if (!writer.write(image)) {
        std::fprintf(stderr, "%s: %s\n", ToolText::utf8(output).constData(),
                     ToolText::utf8(writer.errorString()).constData());
        return 1;
    }
    std::printf("%s: processor %s, %dx%d, %lld ms -> %s\n", ToolText::utf8(input).constData(),
                ToolText::utf8(processor).constData(), image.width(), image.height(), static_cast<long long>(ms),
                ToolText::utf8(output).constData());
    return 0;
}
