// LiteGif in a program built without Qt, as the minimal template's children run it: linked against the
// C and C++ runtime alone, it does not link if LiteGif reaches into Qt. Reads the GIF at argv[1] for
// a box of argv[2] × argv[3] and writes what it read (see LiteGifTest): a line of the outcome, the
// size, the row length and the damage, then the rows' bytes and the palette in hex.

#include "decoding/LiteGif.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    // Nothing of Qt in the process, loaded by whatever way.
    if (FILE *maps = std::fopen("/proc/self/maps", "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, maps))
            if (std::strstr(line, "libQt"))
                return 3;
        std::fclose(maps);
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 2;
    LiteGif::Picture picture;
    const LiteGif::Outcome outcome = LiteGif::read(fd, std::atoi(argv[2]), std::atoi(argv[3]), picture);
    ::close(fd);
    const char *names[] = {"Read", "NotHere", "Stopped"};
    std::printf("%s %d %d %d %s\n", names[int(outcome)], picture.width, picture.height, picture.bytesPerLine,
                picture.damage ? picture.damage : "-");
    for (const uint8_t index : picture.indices)
        std::printf("%02x", index);
    std::printf("\n");
    for (const uint32_t colour : picture.palette)
        std::printf("%08x", colour);
    std::printf("\n");
    return 0;
}
