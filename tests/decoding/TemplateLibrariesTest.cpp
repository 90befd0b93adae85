#include "decoding/MediaDecoder_p.h"
#include "decoding/TemplateLibraries.h"

#include <gtest/gtest.h>

#include <QImage>

#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
    // Small enough that Qt scales and converts it on this thread.
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(qRgb(200, 40, 10));
    if (image.scaled(16, 12, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(8, 6) != qRgb(200, 40, 10)
        || image.convertToFormat(QImage::Format_RGB888).pixel(40, 30) != qRgb(200, 40, 10))
        return 13;
    TemplateLibraries::endOnReachingGivenUp();
    reinterpret_cast<int (*)()>(fontconfig)();
    return 14;
}

// In a child that gave up the unusual libraries: a new thread, which copies the thread-local data of
// every library, those given up too.
int startAThread()
{
    TemplateLibraries::giveUpUnusual();
    TemplateLibraries::endOnReachingGivenUp();
    std::thread([] {}).join();
    return 16;
}

// Whether a library that a template gives up holds thread-local data (Qt's GUI library brings
// OpenGL's dispatch library, which does).
bool givenUpLibraryHoldsThreadData()
{
    const auto look = [](dl_phdr_info *info, size_t, void *found) {
        const char *name = info->dlpi_name ? std::strrchr(info->dlpi_name, '/') : nullptr;
        if (name && std::strncmp(name, "/libGLdispatch", 14) == 0)
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_TLS)
                    *static_cast<bool *>(found) = true;
        return 0;
    };
    bool found = false;
    ::dl_iterate_phdr(look, &found);
    return found;
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

} // namespace

// A process that gave up the libraries the usual files never reach keeps far fewer mappings, still
// scales and converts small pictures, and where it reaches a library given up (by a call, or by a
// new thread) it ends as needing the whole template; any other fault still ends it by its signal.
TEST(TemplateLibraries, ChildrenWithoutTheUnusualLibrariesWorkAndSayWhenTheyNeedThem)
{
#ifdef OVN_TEST_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers' runtime is a library the process cannot give up";
#endif
    // Each check runs in the test program started again, with every symbol bound at its start as
    // the decoder's are: a library given up can no longer be searched for a symbol.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::setenv("LD_BIND_NOW", "1", 1);
    void *fontconfig = ::dlsym(RTLD_DEFAULT, "FcInit");
    ASSERT_NE(fontconfig, nullptr);
    void *write = ::dlsym(RTLD_DEFAULT, "write");
    ASSERT_NE(write, nullptr);
    EXPECT_EXIT(_exit(reachAGivenUpLibrary(fontconfig, write)),
                testing::ExitedWithCode(DecoderProtocol::exitNeedsWholeDecoder), "");
    if (givenUpLibraryHoldsThreadData()) {
        EXPECT_EXIT(_exit(startAThread()), testing::ExitedWithCode(DecoderProtocol::exitNeedsWholeDecoder), "");
    }
    EXPECT_EXIT(_exit(faultElsewhere(false)), testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(_exit(faultElsewhere(true)), testing::KilledBySignal(SIGSEGV), "");
    ::unsetenv("LD_BIND_NOW");
    GTEST_FLAG_SET(death_test_style, style);
}
