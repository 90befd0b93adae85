// bench_small_pictures DIR: what reading one small picture costs inside one process, without the
// process a file's decoder is: each PNG and GIF file of DIR (bench/small-files-import makes 1,000
// of them) read into a 256 x 256 box, over and over, and the time of one file of each kind; then
// the time of making one of them the thumbnail's size (256 x 192), as the import does.

#include "decoding/ImageFileReader.h"
#include "decoding/PictureRows.h"
#include "formats/PictureReaders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    // The readers as a decoder has them (the GIF files go to ours).
    PictureReaders::registerAll();
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_small_pictures DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const char *kind : {"*.png", "*.gif"}) {
        const QStringList files = dir.entryList({QString::fromLatin1(kind)}, QDir::Files);
        if (files.isEmpty())
            continue;
        qint64 best = -1;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer timer;
            timer.start();
            for (const QString &file : files)
                if (ImageFileReader::read(dir.filePath(file), QSize(256, 256)).isNull())
                    return 1;
            const qint64 took = timer.nsecsElapsed();
            best = best < 0 ? took : std::min(best, took);
        }
        std::printf("%s: %.1f us a file (%lld files, the best of 5 rounds)\n", kind + 2,
                    double(best) / 1000.0 / double(files.size()), static_cast<long long>(files.size()));
    }
    const QStringList pictures = dir.entryList({QStringLiteral("*.png")}, QDir::Files);
    if (!pictures.isEmpty()) {
        const QImage picture = ImageFileReader::read(dir.filePath(pictures.first()), QSize(256, 256));
        const QSize target = picture.size().scaled(256, 256, Qt::KeepAspectRatio);
        const int times = 2000;
        qint64 best = -1;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < times; ++i)
                if (PictureRows::enlarged(picture, target).isNull())
                    return 1;
            const qint64 took = timer.nsecsElapsed();
            best = best < 0 ? took : std::min(best, took);
        }
        std::printf("enlarged %dx%d to %dx%d: %.1f us (the best of 5 rounds)\n", picture.width(), picture.height(),
                    target.width(), target.height(), double(best) / 1000.0 / times);
    }
    return 0;
}
