#pragma once

// The libraries a decoder template lends its usual children (see Decoder_main.cpp). A child forked
// from a template copies every mapping of it, and the kernel's work for a fork and an exit grows
// with their number: the template loads some 56 libraries (Qt's GUI library alone brings those of
// the window system, OpenGL, fonts and D-Bus), of which a PNG, GIF or JPEG file's reading reaches
// a dozen. A template that gives up the rest forks its children with a third of the mappings.
//
// What a library given up leaves is a reserved range that holds nothing, so that no later mapping
// of the template or a child takes its place: code that still reaches it (a reader of a rarer
// format, a plugin that binds to it, a walk over every library's headers) faults there, and a child
// whose handler sees that ends with DecoderProtocol::exitNeedsWholeDecoder: its program asks again
// of a template that kept everything, and what the child had made is dropped with it. The image of
// a library's thread-local data stays, read-only, where it was: each new thread copies it.
namespace TemplateLibraries {

// Gives up every loaded library but those the usual files' reading needs: the C and C++ runtime,
// Qt's core and GUI libraries, the JPEG, PNG, deflate and TIFF libraries, and LittleCMS. GLib is
// given up too: Qt reaches it only from its GLib event dispatcher, so a process that starts Qt
// threads after this runs Qt's own (QT_NO_GLIB). The process may not call into the libraries given up
// again, nor run their destructors: it ends with _exit. Call it with one thread, after every
// library is bound (LD_BIND_NOW). False when nothing was given up.
bool giveUpUnusual();

// What a template keeps: the runtime and the usual files' readers (giveUpUnusual), or the C and
// C++ runtime alone (the C library, its loader, the maths library, the C++ library and its
// unwinder) with the program itself, for a template whose children's code calls into no other
// library, Qt's included.
enum class Kept { UsualReaders, RuntimeOnly };
bool giveUpAllBut(Kept kept);

// The ranges given up, and whether `address` lies in one.
int givenUpRanges();
bool isGivenUp(const void *address);

// In a forked child of a template that gave libraries up: a fault in a range given up ends the
// child with DecoderProtocol::exitNeedsWholeDecoder; any other fault ends it as it would have.
void endOnReachingGivenUp();

} // namespace TemplateLibraries
