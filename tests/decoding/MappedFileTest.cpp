// A file read where it lies: what another program cuts off while it is mapped reads as zeros.

#include "decoding/MappedFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr std::size_t fileBytes = std::size_t(1) << 20;

unsigned char patternAt(std::size_t at) { return static_cast<unsigned char>(at * 7 + 1); }

} // namespace

TEST(MappedFile, ACutOffFileReadsAsZerosAndOtherFaultsStayFaults)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("cut.bin")).toLocal8Bit();
    {
        std::vector<unsigned char> bytes(fileBytes);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = patternAt(i);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::close(fd);
    }
    // Only a process that allows it maps files (this one does not).
    {
        const int fd = ::open(path.constData(), O_RDONLY);
        MappedFile mapped;
        EXPECT_FALSE(mapped.map(fd, fileBytes));
        ::close(fd);
    }
    // In a process of its own, as a decoder's child: status 0 when every byte read as expected.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        MappedFile::allowInThisProcess();
        const int fd = ::open(path.constData(), O_RDONLY);
        MappedFile mapped;
        if (fd < 0 || !mapped.map(fd, fileBytes) || mapped.size() != fileBytes)
            ::_exit(2);
        if (mapped.data()[fileBytes - 1] != patternAt(fileBytes - 1))
            ::_exit(3);
        // Another program cuts the file to a tenth: the rest reads as zeros, the start as it was.
        if (::truncate(path.constData(), off_t(fileBytes / 10)) != 0)
            ::_exit(4);
        const volatile unsigned char *data = mapped.data();
        if (data[fileBytes / 2] != 0 || data[fileBytes - 1] != 0)
            ::_exit(5);
        if (data[1000] != patternAt(1000))
            ::_exit(6);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    // A SIGBUS outside every mapping is still one: the process ends by it.
    const pid_t faulty = ::fork();
    ASSERT_GE(faulty, 0);
    if (faulty == 0) {
        MappedFile::allowInThisProcess();
        ::raise(SIGBUS);
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(faulty, &status, 0), faulty);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << "status " << status;
}
