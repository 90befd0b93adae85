#include "formats/FileTypeCodes.h"

#include "decoding/ImageFileReader.h"
#include "formats/FileTypeEntry.h"
#include "formats/PictureReaders.h"
#include "platform/Localized.h"

namespace {

using Loader = ProcessorCode::Loader;
using Turn = ProcessorCode::Turn;
using Window = ViewerCode::Window;

// Code, loader, decodes at any size, badged, turn, writable. The file-type editor offers them in
// this order, and a new row starts with the first.
constexpr ProcessorCode kProcessors[] = {
    {"QuickTime", Loader::Movie, false, false, Turn::None, true},
    {"Image", Loader::Image, true, false, Turn::Metadata, true},
    {"RAW", Loader::CameraRaw, false, true, Turn::Decoder, true},
    {"DCRAW", Loader::Dcraw, false, true, Turn::Decoder, true},
    {"Adobe.Illustrator", Loader::Illustrator, false, false, Turn::None, false},
    {"Document.Generic", Loader::Document, false, false, Turn::None, false},
    {"Document.Webloc", Loader::Webloc, false, false, Turn::None, false},
};
// What a code no row names does: nothing. The file-type table's miss answer lands here too.
constexpr ProcessorCode kUnknownProcessor{kFileTypeNone, Loader::None, false, false, Turn::None, false};

// In the file-type editor's order, as the processors.
constexpr ViewerCode kViewers[] = {
    {"QTInternal", Window::MovieViewer, "Built-in movie viewer"},
    {"NSIInternal", Window::ImageViewer, "Built-in image viewer"},
    {"Creator", Window::Desktop, "Default application"},
};
constexpr ViewerCode kUnknownViewer{kFileTypeNone, Window::None, kFileTypeNone};

} // namespace

namespace FileTypeCodes {

std::span<const ProcessorCode> processors() { return kProcessors; }

const ProcessorCode &processor(QStringView code)
{
    for (const ProcessorCode &row : kProcessors)
        if (code == QLatin1StringView(row.code))
            return row;
    return kUnknownProcessor;
}

const ProcessorCode &plainImage()
{
    for (const ProcessorCode &row : kProcessors)
        if (row.loader == Loader::Image)
            return row;
    return kUnknownProcessor;
}

std::span<const ViewerCode> viewers() { return kViewers; }

const ViewerCode &viewer(QStringView code)
{
    for (const ViewerCode &row : kViewers)
        if (code == QLatin1StringView(row.code))
            return row;
    return kUnknownViewer;
}

ViewerCode::Window windowForFile(QStringView viewerCode, const QString &path)
{
    const ViewerCode::Window window = viewer(viewerCode).window;
    if (window != ViewerCode::Window::MovieViewer)
        return window;
    // The readers that say which files are stills are asked in this process.
    PictureReaders::registerAll();
    if (ImageFileReader::movieStillSize(path).isValid())
        return ViewerCode::Window::ImageViewer;
    return window;
}

TypeHandling handlingForType(QStringView extension, QStringView processorCode, QStringView viewerCode)
{
    TypeHandling handling{&processor(processorCode), &viewer(viewerCode), false};
    const bool movieRoad = handling.processor->loader == ProcessorCode::Loader::Movie
                           || handling.viewer->window == ViewerCode::Window::MovieViewer;
    if (!movieRoad)
        return handling;
    const QString type = extension.toString().toLower();
    for (const ImageFileReader::ImageRepClass &reader : PictureReaders::all()) {
        if (!reader.movieStill || !reader.fileTypes.contains(type))
            continue;
        handling.asStill = true;
        if (handling.processor->loader == ProcessorCode::Loader::Movie)
            handling.processor = &plainImage();
        if (handling.viewer->window == ViewerCode::Window::MovieViewer) {
            for (const ViewerCode &row : kViewers)
                if (row.window == ViewerCode::Window::ImageViewer)
                    handling.viewer = &row;
        }
        break;
    }
    return handling;
}

} // namespace FileTypeCodes

QString fileTypeCodeDisplayName(const QString &code)
{
    // The catalog's file type of a picture the image reading read.
    if (code == QLatin1String("NSImage"))
        return localized("Image");
    const ViewerCode &viewer = FileTypeCodes::viewer(code);
    if (viewer.window != ViewerCode::Window::None)
        return localized(viewer.title);
    return code;
}
