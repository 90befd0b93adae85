// dcraw_host FILE DCRAW: a program that reads FILE with the dcraw command DCRAW as the program does
// (through ovn-dcraw, see DcrawReader.h), for the tests of how dcraw ends with whoever started it.
// It reads on a thread of its own and waits to be ended.

#include "decoding/DecodeInterrupt.h"
#include "decoding/DcrawReader.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    QCoreApplication application(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString dcraw = QString::fromLocal8Bit(argv[2]);
    std::thread([&] {
        const DecodeInterrupt::Scope limit(nullptr, std::chrono::minutes(10));
        DcrawReader::read(file, dcraw, QSize(64, 64));
    }).detach();
    for (;;)
        ::pause();
}
