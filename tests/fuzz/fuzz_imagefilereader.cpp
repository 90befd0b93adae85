// The thumbnail path of the image reading, as the import takes it: a file of any type read into a
// thumbnail box (Qt's readers at a reduced size, the Netpbm reader, a camera's embedded preview or
// a reduced RAW decode). Any bytes give a picture within the box or nothing, never a crash.
//
// The first byte chooses the file's name extension and the box; the rest is the file.

#include "decoding/ImageFileReader.h"
#include "formats/PictureReaders.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const suffixes[] = {"jpg", "tif", "png", "gif", "pbm", "cr2", "dng", "crw"};
    static const QSize boxes[] = {QSize(160, 160), QSize(1, 1), QSize(512, 256), QSize()};
    static QTemporaryDir dir(QStringLiteral("/dev/shm/fuzz-imagefilereader-XXXXXX"));
    // The readers of formats/, as the decoder program has them.
    PictureReaders::registerAll();
    if (size < 1 || !dir.isValid())
        return 0;
    const QString suffix = QString::fromLatin1(suffixes[data[0] & 7]);
    const QSize box = boxes[(data[0] >> 3) & 3];
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    const QString path = dir.filePath(QStringLiteral("input.") + suffix);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return 0;
    }

    const bool raw = data[0] & 0x80;
    const QImage image = raw ? ImageFileReader::readRaw(bytes, box) : ImageFileReader::read(path, box);
    if (!image.isNull() && box.isValid() && (image.width() > box.width() || image.height() > box.height())) {
        std::fprintf(stderr, "%dx%d picture for a %dx%d box\n", image.width(), image.height(), box.width(),
                     box.height());
        std::abort();
    }
    return 0;
}
