#include "formats/PictureReaders.h"

#include "formats/BMPImageRep.h"
#include "formats/GIFImageRep.h"
#include "formats/PBMImageRep.h"
#include "formats/PSDImageRep.h"
#include "formats/TGAImageRep.h"

#include <vector>

namespace PictureReaders {

std::span<const ImageFileReader::ImageRepClass> all()
{
    // Types, header, reading, read under any name by its signature, a still the movie readers
    // would open.
    static const std::vector<ImageFileReader::ImageRepClass> readers{
        {PBMImageRep::imageUnfilteredFileTypes(), &PBMImageRep::pictureSize, &PBMImageRep::imageWithDevice, true,
         false},
        {TGAImageRep::imageUnfilteredFileTypes(), &TGAImageRep::pictureSize, &TGAImageRep::imageWithDevice, false,
         false},
        {BMPImageRep::imageUnfilteredFileTypes(), &BMPImageRep::pictureSize, &BMPImageRep::imageWithDevice, true,
         false},
        {GIFImageRep::imageUnfilteredFileTypes(), &GIFImageRep::pictureSize, &GIFImageRep::imageWithDevice, true,
         false},
        {PSDImageRep::imageUnfilteredFileTypes(), &PSDImageRep::pictureSize, &PSDImageRep::imageWithDevice, true, true},
    };
    return readers;
}

void registerAll()
{
    // Once a process: later calls find the readers there.
    static const bool registered = [] {
        for (const ImageFileReader::ImageRepClass &reader : all())
            ImageFileReader::registerImageRepClass(reader);
        return true;
    }();
    (void)registered;
}

} // namespace PictureReaders
