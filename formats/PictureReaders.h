#pragma once

#include "decoding/ImageFileReader.h"

#include <span>

// The picture readers written here (Netpbm, TGA, BMP, GIF, Photoshop) in one table: what each reads
// and how the image reading (ImageFileReader) asks it. Nothing registers itself when a program
// loads: a program that reads pictures in its own process (the decoder program, the tests and
// benchmarks of the readers) or asks the image reading about a file (whether a Photoshop file is
// a still, FileTypeCodes::windowForFile) calls registerAll() first. A new reader is a row here.
namespace PictureReaders {

// Every reader, in the order the image reading asks them.
std::span<const ImageFileReader::ImageRepClass> all();

// Registers every reader of all() with the image reading. Harmless to repeat, from any thread.
void registerAll();

} // namespace PictureReaders
