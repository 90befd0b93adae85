#include "formats/PictureReaders.h"

#include "decoding/MediaDecoder.h"
#include "formats/BMPImageRep.h"
#include "formats/FileTypeCodes.h"
#include "formats/GIFImageRep.h"
#include "formats/OVNExtensionMappingHelper.h"
#include "formats/PBMImageRep.h"
#include "formats/PSDImageRep.h"
#include "formats/TGAImageRep.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>

namespace {

// The picture readers written in formats/, each by its own class: what the registry must hold.
struct Reader {
    const char *name;
    QImage (*read)(QIODevice &, QSize, ImageFileReader::Facts *);
    const QStringList &types;
};

const Reader kReaders[] = {
    {"Netpbm", &PBMImageRep::imageWithDevice, PBMImageRep::imageUnfilteredFileTypes()},
    {"TGA", &TGAImageRep::imageWithDevice, TGAImageRep::imageUnfilteredFileTypes()},
    {"BMP", &BMPImageRep::imageWithDevice, BMPImageRep::imageUnfilteredFileTypes()},
    {"GIF", &GIFImageRep::imageWithDevice, GIFImageRep::imageUnfilteredFileTypes()},
    {"Photoshop", &PSDImageRep::imageWithDevice, PSDImageRep::imageUnfilteredFileTypes()},
};

const ImageFileReader::ImageRepClass *registered(const Reader &reader)
{
    const auto all = PictureReaders::all();
    const auto found = std::find_if(all.begin(), all.end(), [&reader](const ImageFileReader::ImageRepClass &entry) {
        return entry.imageWithDevice == reader.read;
    });
    return found == all.end() ? nullptr : &*found;
}

} // namespace

// Every reader written here is in the one table the decoder program registers at its start, with
// the file types its class reads.
TEST(PictureReadersTest, EveryReaderIsInTheTable)
{
    for (const Reader &reader : kReaders) {
        SCOPED_TRACE(reader.name);
        const ImageFileReader::ImageRepClass *entry = registered(reader);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->fileTypes, reader.types);
    }
    EXPECT_EQ(PictureReaders::all().size(), std::size(kReaders));
}

// Each extension of the built-in file-type tables (both sets) that a reader here reads goes to a
// loader that reaches it (the image reading, or the movie readers for a still they hand to it),
// and the decoders that serve its files have that reader: a thumbnail decoder and the larger one,
// asked what their program registered. A reader whose registration the program lost (once kept
// only by a linker flag) leaves its files to Qt's readers or to none, which no reading of a file
// tells apart.
TEST(PictureReadersTest, EveryReaderOfTheFileTypeTableIsInTheDecodersThatServeIt)
{
    QStringList served;
    for (const FileTypeTable &table : {OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4(),
                                       OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3()}) {
        for (const FileTypeEntry &row : table) {
            const QString extension = row.value(QStringLiteral("extension")).toString();
            const ProcessorCode::Loader loader =
                FileTypeCodes::processor(row.value(QStringLiteral("processor")).toString()).loader;
            for (const Reader &reader : kReaders) {
                if (!reader.types.contains(extension))
                    continue;
                SCOPED_TRACE(qPrintable(extension));
                const ImageFileReader::ImageRepClass *entry = registered(reader);
                ASSERT_NE(entry, nullptr) << reader.name;
                EXPECT_TRUE(loader == ProcessorCode::Loader::Image
                            || (loader == ProcessorCode::Loader::Movie && entry->movieStill))
                    << reader.name << " is not reached by processor "
                    << qPrintable(row.value(QStringLiteral("processor")).toString());
                if (!served.contains(extension))
                    served << extension;
            }
        }
    }
    // The table names files of every reader.
    for (const Reader &reader : kReaders)
        EXPECT_TRUE(std::any_of(reader.types.begin(), reader.types.end(), [&served](const QString &type) {
            return served.contains(type);
        })) << reader.name;

    for (const MediaDecoder::Use use : {MediaDecoder::Use::Thumbnail, MediaDecoder::Use::FullSize}) {
        SCOPED_TRACE(use == MediaDecoder::Use::Thumbnail ? "thumbnail decoder" : "larger decoder");
        MediaDecoder decoder(use);
        const std::optional<QStringList> types = decoder.readerFileTypes();
        ASSERT_TRUE(types.has_value());
        for (const QString &extension : served)
            EXPECT_TRUE(types->contains(extension)) << qPrintable(extension);
    }
}

// The program's own process asks whether a file is a still the movie readers would open, to open
// it in the image viewer: the readers that tell are registered for that question, with nothing
// registered before in this process.
TEST(PictureReadersTest, APhotoshopFileOpensInTheImageViewerWithoutRegisteringFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("still.psd"));
    QByteArray header(26, '\0');
    header.replace(0, 4, "8BPS");
    const auto put16 = [&header](int at, quint16 value) { qToBigEndian(value, header.data() + at); };
    const auto put32 = [&header](int at, quint32 value) { qToBigEndian(value, header.data() + at); };
    put16(4, 1);  // version
    put16(12, 3); // channels
    put32(14, 2); // height
    put32(18, 3); // width
    put16(22, 8); // depth
    put16(24, 3); // RGB
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(header);
    file.close();

    EXPECT_EQ(FileTypeCodes::windowForFile(u"QTInternal", path), ViewerCode::Window::ImageViewer);
    EXPECT_EQ(ImageFileReader::movieStillSize(path), QSize(3, 2));
    EXPECT_TRUE(ImageFileReader::registeredFileTypes().contains(QStringLiteral("tga")));
}
