// bench_write_dng WIDTH HEIGHT FILE: writes an uncompressed DNG of WIDTH x HEIGHT 16-bit RGGB samples
// with no embedded preview, as a camera without one writes it, so that the probes read its whole
// mosaic. The scene varies smoothly with a little grain, as a photograph does, so that neither the
// reader nor its scaling meets a flat picture. Exits 1 when the file cannot be written, 2 on a wrong
// command line.

#include "SyntheticDng.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A few hundred steps of grain from the pixel's position alone: the same file every run.
int grain(int x, int y)
{
    quint32 h = quint32(x) * 0x9e3779b1u ^ quint32(y) * 0x85ebca77u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    return int(h % 1024) - 512;
}

quint16 level(double value, int x, int y)
{
    return quint16(std::clamp(value * 52000.0 + 4000.0 + grain(x, y), 0.0, 65535.0));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fputs("usage: bench_write_dng WIDTH HEIGHT FILE\n", stderr);
        return 2;
    }
    syntheticdng::Options options;
    options.width = std::atoi(argv[1]);
    options.height = std::atoi(argv[2]);
    if (options.width < 2 || options.height < 2 || options.width > 20000 || options.height > 20000) {
        std::fputs("bench_write_dng: WIDTH and HEIGHT are 2 to 20000\n", stderr);
        return 2;
    }
    options.model = "Probe Sensor";
    const double w = options.width, h = options.height;
    options.scene = [w, h](int x, int y) {
        const double u = x / w, v = y / h;
        const double sky = 0.5 + 0.5 * std::sin(6.0 * u + 2.0 * std::sin(9.0 * v));
        const double hills = 0.5 + 0.5 * std::cos(11.0 * v - 3.0 * u + std::sin(23.0 * u));
        return syntheticdng::Rgb{level(0.3 + 0.6 * sky * v, x, y), level(0.2 + 0.7 * hills * (1 - u), x, y + 1),
                                 level(0.25 + 0.6 * (1 - v) * sky * hills, x + 1, y)};
    };
    QFile file(QString::fromLocal8Bit(argv[3]));
    const QByteArray data = syntheticdng::make(options);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "bench_write_dng: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
