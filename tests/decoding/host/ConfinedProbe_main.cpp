// confined_probe KIND FILE: confines itself as the decoding child KIND confines itself ("decoder"
// for ovn-decoder's children, the PDF page child and the dcraw launcher; "template" for
// ovn-decoder's template; "dcraw" for the dcraw program, whose
// list is set before its exec and again after it; "player" for the movie player), starts a Qt pool thread the way a
// decoder does, then tries every road out (DecoderSandbox::probe) and prints the outcomes, one a line. With
// OVN_DECODER_TEST_NO_LANDLOCK set, Landlock looks absent. Run by root, it first becomes the
// unprivileged account 65534.
//
// confined_probe memory KIND: confines itself as KIND with KIND's memory limits ("dcraw" as the
// larger decoder's dcraw, "player" as the player), takes memory every way it can
// (DecoderSandbox::takeMemory) and prints how far each went, one a line.
//
// confined_probe linger KIND: a child confined as KIND tries to undo its end with this process
// (PR_SET_PDEATHSIG, a session of its own), prints its pid and waits for ever.

#include "decoding/DcrawConfinement_p.h"
#include "decoding/DecoderSandbox.h"
#include "decoding/PlayerConfinement_p.h"

#include <QFile>
#include <QSemaphore>
#include <QString>
#include <QThreadPool>

#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

ChildConfinement::Allowances allowancesOf(const char *kind, const QString &file)
{
    if (std::strcmp(kind, "dcraw") == 0) {
        ChildConfinement::Allowances allowances = DcrawConfinement::program();
        allowances.files = {{QFile::encodeName(file).toStdString(), true, false, false},
                            {"/usr", true, false, false},
                            {"/lib", true, false, false},
                            {"/etc/ld.so.cache", true, false, false}};
        allowances.startsProgram = true;
        DcrawConfinement::bound(allowances, 640ULL << 20);
        return allowances;
    }
    if (std::strcmp(kind, "player") == 0)
        return PlayerConfinement::allowances(640ULL << 20, 0);
    DecoderSandbox::Options options;
    options.data = 176ULL << 20;
    options.addressSpace = options.data + (1536ULL << 20);
    // ovn-decoder's template, which forks the child that reads each file.
    options.startsChildren = std::strcmp(kind, "template") == 0;
    return DecoderSandbox::allowances(options);
}

bool confineAs(const char *kind, const QString &file, pid_t parent)
{
    ChildConfinement::Allowances allowances = allowancesOf(kind, file);
    allowances.parent = parent;
    if (ChildConfinement::confine(allowances) == ChildConfinement::Confined::Failed)
        return false;
    // dcraw's second filter, as its preloaded module sets it.
    return std::strcmp(kind, "dcraw") != 0 || ChildConfinement::restrictCalls(DcrawConfinement::program());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    // The kernel exempts root from every task cap: run as an account of its own, as users do.
    if (::getuid() == 0
        && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0
            || ::setresuid(65534, 65534, 65534) != 0))
        return 2;
    if (std::strcmp(argv[1], "linger") == 0) {
        const pid_t self = ::getpid();
        const pid_t child = ::fork();
        if (child == 0) {
            if (!confineAs(argv[2], QString(), self))
                _exit(1);
            ::prctl(PR_SET_PDEATHSIG, 0);
            ::setsid();
            std::printf("%d\n", int(::getpid()));
            std::fflush(stdout);
            for (;;)
                ::pause();
        }
        for (;;)
            ::pause();
    }
    if (std::strcmp(argv[1], "memory") == 0) {
        if (!confineAs(argv[2], QString(), ::getppid()))
            return 1;
        const QString taken = DecoderSandbox::takeMemory().value(QStringLiteral("damage")).toString();
        for (const QString &outcome : taken.split(QLatin1Char(',')))
            std::printf("%s\n", qPrintable(outcome));
        return 0;
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    if (!confineAs(argv[1], file, ::getppid())) {
        std::printf("not confined\n");
        return 1;
    }
    QThreadPool pool;
    // A pool thread started after the confinement, kept for the probe.
    QSemaphore started;
    pool.start([&] { started.release(); });
    started.acquire();
    const QString damage = DecoderSandbox::probe(file, ::getppid(), &pool).value(QStringLiteral("damage")).toString();
    for (const QString &outcome : damage.split(QLatin1Char(',')))
        std::printf("%s\n", qPrintable(outcome));
    return 0;
}
