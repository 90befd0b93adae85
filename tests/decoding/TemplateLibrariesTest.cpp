#include "decoding/LiteGif.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/TemplateLibraries.h"

#include "tests/support/HostileFiles.h"

#include <gtest/gtest.h>

#include <QImage>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define OVN_TEST_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVN_TEST_UNDER_SANITIZER 1
#endif
#endif

namespace {

// The process's mappings, as the kernel counts them (read with system calls only: the process
// may have given up the libraries that Qt's file reading would reach).
int mappings()
{
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int lines = 0;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;)
        for (ssize_t i = 0; i < count; ++i)
            lines += buffer[i] == '\n';
    ::close(fd);
    return lines;
}

// In a child that gave up the unusual libraries: its checks' exit codes, or its end where it
// reaches fontconfig (a library that comes with Qt's GUI library and that no picture's reading
// reaches).
int reachAGivenUpLibrary(void *fontconfig, void *write)
{
    const int before = mappings();
    if (!TemplateLibraries::giveUpUnusual())
        return 10;
    // Each library given up leaves one reservation, which the kernel joins with its neighbours'.
    if (mappings() > before - 2 * TemplateLibraries::givenUpRanges())
        return 11;
    if (!TemplateLibraries::isGivenUp(fontconfig) || TemplateLibraries::isGivenUp(write))
        return 12;
    // Threads Qt starts from here on run its own event dispatcher, as a decoder's do.
    qputenv("QT_NO_GLIB", "1");
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 10));
    // Large enough that Qt converts it on its pool's threads.
    QImage converted(800, 600, QImage::Format_ARGB32);
    converted.fill(qRgb(200, 40, 10));
    converted = converted.convertToFormat(QImage::Format_RGB888);
    if (image.scaled(16, 12, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(8, 6) != qRgb(200, 40, 10)
        || converted.pixel(400, 300) != qRgb(200, 40, 10))
        return 13;
    // A new thread copies the thread-local data of every library, those given up too.
    std::thread([] {}).join();
    TemplateLibraries::endOnReachingGivenUp();
    reinterpret_cast<int (*)()>(fontconfig)();
    return 14;
}

// In a child that gave up the unusual libraries: a fault elsewhere, or a fault signal sent.
int faultElsewhere(bool sent)
{
    TemplateLibraries::giveUpUnusual();
    TemplateLibraries::endOnReachingGivenUp();
    if (sent)
        ::raise(SIGSEGV);
    void *page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int *>(page) = 1;
    return 15;
}

// In a child that gave up every library but the C and C++ runtime: a GIF read for a thumbnail by
// the reader of the minimal template's children (which may reach no other library), then the end
// where the child reaches Qt's core library; its checks' exit codes otherwise.
int readWithTheRuntimeAlone(int gif, void *qtCore)
{
    const int before = mappings();
    if (!TemplateLibraries::giveUpAllBut(TemplateLibraries::Kept::RuntimeOnly))
        return 20;
    // Qt's libraries go with the rest: far fewer mappings than those of the usual children.
    if (!TemplateLibraries::isGivenUp(qtCore) || mappings() > before / 2)
        return 21;
    TemplateLibraries::endOnReachingGivenUp();
    LiteGif::Picture picture;
    if (LiteGif::read(gif, 64, 64, picture) != LiteGif::Outcome::Read || picture.width != 40 || picture.height != 30
        || picture.indices.size() != size_t(40 * 30))
        return 22;
    reinterpret_cast<const char *(*)()>(qtCore)();
    return 23;
}

// Each check runs in the test program started again, with every symbol bound at its start as the
// decoder's are: a library given up can no longer be searched for a symbol.
class BoundAtStart
{
public:
    BoundAtStart() : m_style(GTEST_FLAG_GET(death_test_style))
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ::setenv("LD_BIND_NOW", "1", 1);
    }
    ~BoundAtStart()
    {
        ::unsetenv("LD_BIND_NOW");
        GTEST_FLAG_SET(death_test_style, m_style);
    }
    BoundAtStart(const BoundAtStart &) = delete;
    BoundAtStart &operator=(const BoundAtStart &) = delete;

private:
    std::string m_style;
};
} // namespace

// A process that gave up the libraries the usual files never reach keeps far fewer mappings, still
// scales pictures and starts threads (Qt's among them), and where it reaches a library given up it
// ends as needing the whole template; any other fault still ends it by its signal.
TEST(TemplateLibraries, ChildrenWithoutTheUnusualLibrariesWorkAndSayWhenTheyNeedThem)
{
#ifdef OVN_TEST_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers' runtime is a library the process cannot give up";
#endif
    const BoundAtStart bound;
    void *fontconfig = ::dlsym(RTLD_DEFAULT, "FcInit");
    ASSERT_NE(fontconfig, nullptr);
    void *write = ::dlsym(RTLD_DEFAULT, "write");
    ASSERT_NE(write, nullptr);
    EXPECT_EXIT(_exit(reachAGivenUpLibrary(fontconfig, write)),
                testing::ExitedWithCode(DecoderProtocol::exitNeedsWholeDecoder), "");
    EXPECT_EXIT(_exit(faultElsewhere(false)), testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(_exit(faultElsewhere(true)), testing::KilledBySignal(SIGSEGV), "");
}

// A process that gave up every library but the runtime (the decoder's minimal template) keeps
// fewer than half its mappings, reads a small GIF for a thumbnail all the same, and where it reaches
// Qt ends as needing the whole template.
TEST(TemplateLibraries, AChildWithTheRuntimeAloneReadsASmallGifAndSaysWhenItNeedsMore)
{
#ifdef OVN_TEST_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers' runtime is a library the process cannot give up";
#endif
    const BoundAtStart bound;
    void *qtCore = ::dlsym(RTLD_DEFAULT, "qVersion");
    ASSERT_NE(qtCore, nullptr);
    const QByteArray bytes = hostilefiles::gifClaiming(QSize(40, 30));
    const int gif = ::memfd_create("small.gif", MFD_CLOEXEC);
    ASSERT_GE(gif, 0);
    ASSERT_EQ(::write(gif, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    EXPECT_EXIT(_exit(readWithTheRuntimeAlone(gif, qtCore)),
                testing::ExitedWithCode(DecoderProtocol::exitNeedsWholeDecoder), "");
    ::close(gif);
}
