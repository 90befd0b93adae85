#pragma once

#include <QString>
#include <QStringView>

#include <span>

// What the program does with each code the file-type table's "processor" and "viewer" columns
// hold. Every place that loads, shows, turns or writes a file by its processor, opens it by its
// viewer, or offers the codes in the preferences' file-type editor asks these tables, so that a new
// code is one row here (and, for a new kind of loader, that loader's case where pictures are made).
// The codes themselves are stored in the user's file-type table and never change.

// One processor: the loader that reads its files and what follows from it.
struct ProcessorCode {
    // The decoder of the files, as the import, the viewers and the JPEG writer call it.
    enum class Loader {
        None,        // an unknown code: the import skips its files, no viewer or writer gets a picture
        Image,       // the image reading (ImageFileReader)
        CameraRaw,   // the in-process camera-RAW decoder
        Dcraw,       // the dcraw command
        Movie,       // a movie's frames, a PDF's pages
        Illustrator, // an Illustrator file's embedded preview
        Document,    // any other document's preview
        Webloc,      // a web location file
    };

    const char *code;
    Loader loader;
    // Loaded and shown: decoded straight at the size asked, so a viewer shows a reduced picture
    // first and its first whole picture is already the full one. The other picture loaders decode
    // by a shrink factor, and the full picture is a second step the user asks for.
    bool decodesAtAnySize;
    // Shown: the thumbnail view's list style writes the code on the picture (a camera's RAW file).
    bool badged;
    // Turned: whether the import turns the thumbnail upright, and whose orientation code it and
    // the viewers read from the file.
    enum class Turn {
        None,     // never turned (movies, documents)
        Metadata, // by the EXIF orientation of the file's metadata
        Decoder,  // by the RAW decoder's own, the turn its pixels need (a sensor's tag may differ)
    };
    Turn turn;
    // Written: the JPEG writer of export, e-mail and web gallery renders these files.
    bool writable;
};

// One viewer: the window that opens a file.
struct ViewerCode {
    enum class Window {
        None,        // an unknown code: opening the file does nothing
        ImageViewer, // the image viewer, a picture in the light table
        MovieViewer, // the movie viewer, a movie in the light table
        Desktop,     // the application the desktop opens the file with
    };

    const char *code;
    Window window;
    // The name the preferences' file-type editor and the details pane show for the code.
    const char *title;
};

namespace FileTypeCodes {

// Every known processor, in the order the file-type editor offers them.
std::span<const ProcessorCode> processors();
// The row of a stored processor code, compared exactly; every other text ("None", "", a code in
// other letter case) gets a row of loader None that loads, shows and writes nothing.
const ProcessorCode &processor(QStringView code);
// The image reading's row: what a caller that was handed no processor reads a file with.
const ProcessorCode &plainImage();

// Every known viewer, in the order the file-type editor offers them.
std::span<const ViewerCode> viewers();
// The row of a stored viewer code, compared exactly; an unknown one gets a row of window None.
const ViewerCode &viewer(QStringView code);

// The window that opens the file at `path` by the viewer code its type has: the code's own, except
// that a still picture the movie readers would open (a Photoshop file, whose row has long named
// the movie viewer) is never sent to the movie viewer, which plays movies only: it opens in the
// image viewer and shows as a picture in the light table. Reads the file's header only.
ViewerCode::Window windowForFile(QStringView viewerCode, const QString &path);

// What the program does with the files of one row of the file-type table, as the preferences show
// it: the processor that reads them and the viewer that opens them. The row's own codes, except
// for the files of a type that a picture reader reads as a still the movie readers would open (a
// Photoshop file): the image reading reads them and the image viewer opens them, as the loaders
// and windowForFile() decide by each file's header through the same readers.
struct TypeHandling {
    const ProcessorCode *processor;
    const ViewerCode *viewer;
    bool asStill; // the row's codes say movie, the program reads and shows a still picture
};
TypeHandling handlingForType(QStringView extension, QStringView processorCode, QStringView viewerCode);

} // namespace FileTypeCodes
