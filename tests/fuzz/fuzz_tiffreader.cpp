// Reduced TIFF reading over libtiff (reduced images, scanlines, RGBA bands): any bytes give a
// picture or nothing, never a crash or a hang. The reader takes a path: the bytes go into a
// memory file, read through /proc.

#include "decoding/TiffReader.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int fd = memfd_create("fuzz.tif", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    (void)TiffReader::readReduced(path, QSize(16, 16));
    return 0;
}
