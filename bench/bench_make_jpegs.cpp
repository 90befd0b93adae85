// bench_make_jpegs DIR PREFIX COUNT WIDTH HEIGHT SEED: writes COUNT photograph-like JPEG files
// (quality 90) of WIDTH x HEIGHT into DIR as PREFIX1.jpg, PREFIX2.jpg ..., for the benchmarks that
// time whole imports and exports. Each picture is a gradient whose colours and direction, and the
// sensor-like noise over it, come from SEED and the file's number, so that a run with another
// seed reads files no earlier run has read, with entropy data as heavy as a real photograph's.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct Noise {
    std::uint64_t state;
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return std::uint32_t(state >> 32);
    }
};

QImage picture(int width, int height, std::uint64_t seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    Noise noise{seed * 0x9E3779B97F4A7C15ULL + 1};
    const int red = int(noise.next() % 200), green = int(noise.next() % 200), blue = int(noise.next() % 200);
    const int slope = int(noise.next() % 5) - 2;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint32_t bits = noise.next();
            const int n = int(bits % 25) - 12;
            const int across = x * 255 / width, down = y * 255 / height;
            line[x] =
                qRgb(std::clamp(red / 4 + across * 3 / 4 + n, 0, 255),
                     std::clamp(green / 4 + down * 3 / 4 + int((bits >> 8) % 25) - 12, 0, 255),
                     std::clamp(blue / 4 + 96 + slope * (across - down) / 4 + int((bits >> 16) % 25) - 12, 0, 255));
        }
    }
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 7) {
        std::fprintf(stderr, "usage: bench_make_jpegs DIR PREFIX COUNT WIDTH HEIGHT SEED\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    const int count = std::atoi(argv[3]), width = std::atoi(argv[4]), height = std::atoi(argv[5]);
    const std::uint64_t seed = std::strtoull(argv[6], nullptr, 10);
    if (!dir.exists() || count < 1 || width < 1 || height < 1) {
        std::fprintf(stderr, "bench_make_jpegs: nothing to make\n");
        return 2;
    }
    std::atomic<int> next{1};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (int i = next++; i <= count && !failed; i = next++) {
            QImageWriter writer(dir.filePath(prefix + QString::number(i) + QStringLiteral(".jpg")), "jpeg");
            writer.setQuality(90);
            if (!writer.write(picture(width, height, seed * 100003 + std::uint64_t(i))))
                failed = true;
        }
    };
    std::vector<std::thread> threads;
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1U, 8U);
    for (unsigned t = 0; t < workers; ++t)
        threads.emplace_back(work);
    for (std::thread &thread : threads)
        thread.join();
    if (failed) {
        std::fprintf(stderr, "bench_make_jpegs: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
