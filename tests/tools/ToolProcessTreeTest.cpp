#include "ToolProcessTree.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t touchedBytes = size_t(48) << 20;

// A stand-in for a decoder and its child for one file: both named as the decoder is named, the
// child holding `touchedBytes` of its own. Answers the decoder's pid once the child holds them.
pid_t startDecoderWithChild()
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t decoder = ::fork();
    if (decoder == 0) {
        ::prctl(PR_SET_NAME, "ovn-decoder");
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const pid_t child = ::fork();
        if (child == 0) {
            ::prctl(PR_SET_NAME, "ovn-decoder");
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            void *held = ::mmap(nullptr, touchedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (held != MAP_FAILED)
                std::memset(held, 1, touchedBytes);
            const char byte = 1;
            (void)!::write(ready[1], &byte, 1);
            ::pause();
            ::_exit(0);
        }
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return held ? decoder : -1;
}

} // namespace

// "At most" bounds what was held at once, whichever processes held it: a decoder's child caught
// alive by a look, of which a decoder may have several at once, counts in the bound as in what is held.
TEST(ToolProcessTree, TheBoundIsNeverBelowWhatWasHeldAtOnce)
{
    const pid_t decoder = startDecoderWithChild();
    ASSERT_GT(decoder, 0);
    ToolProcessTree tree;
    const ToolProcessTree::Figures figures = tree.finish();
    ::kill(decoder, SIGKILL);
    ::waitpid(decoder, nullptr, 0);
    EXPECT_GE(figures.heldBytes, qint64(touchedBytes));
    EXPECT_GE(figures.peakBytes, figures.heldBytes);
    EXPECT_GE(figures.seen, figures.processes);
    EXPECT_TRUE(ToolProcessTree::text(figures).contains(QStringLiteral("processes alive together")));
}

TEST(ToolProcessTree, OneProcessIsNamedInTheSingular)
{
    ToolProcessTree::Figures figures;
    figures.heldBytes = qint64(30) << 20;
    figures.peakBytes = qint64(40) << 20;
    figures.processes = 1;
    figures.seen = 1;
    const QString text = ToolProcessTree::text(figures);
    EXPECT_TRUE(text.contains(QStringLiteral("at most 40 MiB (the peaks of 1 process alive together; 1 in all)")))
        << text.toStdString();
}
