// decoder_host HANGING PICTURE: a program that decodes as the tools do, for the tests of how its
// decoders end with it. It reads PICTURE in a decoder started by a thread that then ends (the
// decoder goes to the pool), prints "pooled", reads HANGING on another thread (its decoder hangs)
// and prints "hung", then waits to be ended.

#include "decoding/DecodeInterrupt.h"
#include "decoding/MediaDecoder.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <thread>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    QCoreApplication application(argc, argv);
    const QString hanging = QString::fromLocal8Bit(argv[1]);
    const QString picture = QString::fromLocal8Bit(argv[2]);
    bool read = false;
    std::thread([&] { read = !MediaDecoder().read(picture, QSize(16, 16)).isNull(); }).join();
    std::printf(read ? "pooled\n" : "no picture\n");
    std::fflush(stdout);
    std::thread([&] {
        const DecodeInterrupt::Scope limit(nullptr, std::chrono::minutes(10));
        MediaDecoder().read(hanging, QSize(16, 16));
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("hung\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
