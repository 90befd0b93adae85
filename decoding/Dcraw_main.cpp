// ovn-dcraw FILE WIDTH HEIGHT MEMORY DCRAW PARENT: the dcraw command for the processor "DCRAW",
// run so that neither dcraw nor its picture comes near the program (see Dcraw_p.h). Run by the
// program, never by people.
//
// dcraw is a program of its own, so it runs in a child: with a data and CPU limit, no core files,
// no file it may create or write (a file size limit of 0 as well), no network, nothing of the
// user's to read but FILE, no new processes, no signals outside itself, and killed when this
// process ends. This process reads the picture dcraw writes to a pipe, row by row, and averages
// the rows into the box as they come: the whole picture is never held anywhere but in dcraw.
// Before it reads the first byte it gives up what a decoder gives up (DecoderSandbox).

#include "decoding/BlockAverager.h"
#include "decoding/ChildConfinement.h"
#include "decoding/DcrawConfinement_p.h"
#include "decoding/DecoderSandbox.h"
#include "decoding/Dcraw_p.h"
#include "decoding/MediaDecoder_p.h"

#include <QImage>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// What the launcher maps beside what it mapped at its start and its data (its stack grown, the
// sandbox's own setting up).
constexpr unsigned long long launcherBeyondData = 32ULL << 20;

// The pipe dcraw writes to, read through a buffer.
class Input
{
public:
    explicit Input(int fd) : m_fd(fd) {}

    bool byte(unsigned char &out)
    {
        if (m_at == m_end && !fill())
            return false;
        out = m_buffer[m_at++];
        return true;
    }

    bool bytes(unsigned char *into, size_t size)
    {
        while (size > 0) {
            if (m_at == m_end && !fill())
                return false;
            const size_t count = std::min(size, m_end - m_at);
            std::memcpy(into, m_buffer + m_at, count);
            m_at += count;
            into += count;
            size -= count;
        }
        return true;
    }

    // A decimal number after white space and comments, as Netpbm headers hold them.
    bool number(long long &out)
    {
        unsigned char c = 0;
        do {
            if (!byte(c))
                return false;
            if (c == '#')
                while (c != '\n')
                    if (!byte(c))
                        return false;
        } while (c == ' ' || c == '\t' || c == '\r' || c == '\n');
        if (c < '0' || c > '9')
            return false;
        out = 0;
        while (c >= '0' && c <= '9') {
            out = out * 10 + (c - '0');
            if (out > (1LL << 32))
                return false;
            if (!byte(c))
                return false;
        }
        // The one white-space character after the number has been read.
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    }

private:
    bool fill()
    {
        for (;;) {
            const ssize_t count = ::read(m_fd, m_buffer, sizeof m_buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            m_at = 0;
            m_end = size_t(count);
            return true;
        }
    }

    int m_fd;
    unsigned char m_buffer[1 << 16];
    size_t m_at = 0;
    size_t m_end = 0;
};

bool writeAll(const void *data, qint64 size)
{
    return DecoderProtocol::writeAll(STDOUT_FILENO, static_cast<const char *>(data), size);
}

// What dcraw reads and runs: the program and its loader, their libraries, the module that
// confines dcraw again and the one file.
std::vector<ChildConfinement::Rule> dcrawFiles(const std::string &dcraw, const std::string &file,
                                               const std::string &preload)
{
    std::vector<ChildConfinement::Rule> files = {
        {file, true, false, false},       {dcraw, true, true, false},
        {preload, true, false, false},    {"/etc/ld.so.cache", true, false, false},
        {"/usr/lib", true, false, false}, {"/lib", true, false, false},
        {"/lib64", true, false, false},   {"/usr/lib64", true, false, false}};
    const std::string interpreter = ChildConfinement::interpreterOf(dcraw);
    if (!interpreter.empty())
        files.push_back({interpreter, true, true, false});
    return files;
}

// The child that becomes dcraw; never returns. It confines itself with dcraw's allowances and
// the one exec (see DcrawConfinement_p.h), inside the domain this process entered for both.
[[noreturn]] void runDcraw(const std::string &dcraw, const std::string &file, const std::string &preload, int into,
                           pid_t parent, unsigned long long memory)
{
    if (::dup2(into, STDOUT_FILENO) < 0)
        _exit(127);
    ::syscall(SYS_close_range, 3U, ~0U, 0);
    ChildConfinement::limit(RLIMIT_CPU, 60);
    ChildConfinement::limit(RLIMIT_FSIZE, 0);
    ChildConfinement::Allowances allowances = DcrawConfinement::program();
    allowances.files = dcrawFiles(dcraw, file, preload);
    allowances.startsProgram = true;
    allowances.parent = parent;
    DcrawConfinement::bound(allowances, memory);
    if (ChildConfinement::confine(allowances) == ChildConfinement::Confined::Failed)
        _exit(127);
    // To standard output, the camera's white balance, half size, not turned (the turn is the
    // metadata's). dcraw knows no "--": the file goes by its absolute path, which no option
    // resembles.
    const char *argv[] = {dcraw.c_str(), "-c", "-w", "-h", "-t", "0", file.c_str(), nullptr};
    const std::string preloading = "LD_PRELOAD=" + preload;
    std::vector<char *> environment{const_cast<char *>(preloading.c_str())};
#ifdef OVN_DECODER_TEST_TRIGGERS
    // Test builds: Landlock made to look absent in dcraw too.
    std::string noLandlock = "OVN_DECODER_TEST_NO_LANDLOCK=";
    if (const char *absent = std::getenv("OVN_DECODER_TEST_NO_LANDLOCK")) {
        noLandlock += absent;
        environment.push_back(noLandlock.data());
    }
#endif
    environment.push_back(nullptr);
    ::execve(dcraw.c_str(), const_cast<char *const *>(argv), environment.data());
    _exit(127);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7)
        return 2;
    const std::string file = argv[1];
    const QSize box(std::atoi(argv[2]), std::atoi(argv[3]));
    const unsigned long long memory = std::strtoull(argv[4], nullptr, 10);
    const std::string dcraw = argv[5];
    const pid_t parent = pid_t(std::atoll(argv[6]));
    if (file.empty() || file.front() != '/' || dcraw.empty() || dcraw.front() != '/' || box.isEmpty()
        || box.width() > 16384 || box.height() > 16384)
        return 2;
    if (!ChildConfinement::endWithParent(parent))
        return 2;
    std::set_new_handler([] { _exit(DcrawPicture::exitOutOfMemory); });
    ::syscall(SYS_close_range, 3U, ~0U, 0);
    ChildConfinement::limit(RLIMIT_CORE, 0);

    char program[4096] = {};
    if (::readlink("/proc/self/exe", program, sizeof program - 1) <= 0)
        return DcrawPicture::exitNoPicture;
    const std::string preload =
        std::string(program).substr(0, std::string(program).rfind('/') + 1) + DcrawConfinement::preloadName;
    // dcraw's domain nests in this process's, so that this process's end (by the program's kill at
    // its deadline, or with the program) ends dcraw too.
    ChildConfinement::Allowances allowances = DecoderSandbox::allowances({});
    const std::vector<ChildConfinement::Rule> programFiles = dcrawFiles(dcraw, file, preload);
    std::vector<ChildConfinement::Rule> launcherFiles = allowances.files;
    launcherFiles.insert(launcherFiles.end(), programFiles.begin(), programFiles.end());
    // The child's own /proc/self, which no rule made here can name: it counts its threads there
    // before it confines itself. Each process of the domain reads less by a list of its own.
    launcherFiles.push_back({"/proc", true, false, false});
    if (ChildConfinement::enterLauncherDomain(launcherFiles) < 0)
        return DcrawPicture::exitNoPicture;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return DcrawPicture::exitNoPicture;
    const pid_t self = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return DcrawPicture::exitNoPicture;
    if (child == 0)
        runDcraw(dcraw, file, preload, ends[1], self, memory);
    ::close(ends[1]);

    // The reduced picture (its averages, the picture scaled and converted: 12 bytes a pixel of the
    // box) beside the launcher's own buffers, never more than the larger decoder may hold.
    allowances.data = std::min(memory, (256ULL << 20) + 3ULL * 4 * box.width() * box.height());
#ifndef OVN_DECODER_WATCHED
    // Every mapping counts besides, whatever its kind or protection: what the launcher maps now
    // (Qt and the C library), that data, and its main thread's stack. Qt's scaling may start
    // threads: their stacks are data, and they share one arena of the allocator (each further one
    // would reserve 64 MiB).
    mallopt(M_ARENA_MAX, 1);
    const int gauge = ChildConfinement::openMappedGauge();
    const unsigned long long mapped = ChildConfinement::mappedBytes(gauge);
    if (gauge >= 0)
        ::close(gauge);
    if (mapped == 0)
        return DcrawPicture::exitNoPicture;
    allowances.addressSpace = mapped + allowances.data + launcherBeyondData;
#endif
    // The pipe from dcraw, standard output and error.
    allowances.descriptors = 16;
    allowances.inLauncherDomain = true;
    if (ChildConfinement::confine(allowances) == ChildConfinement::Confined::Failed)
        return DcrawPicture::exitNoPicture;

    Input input(ends[0]);
    // The word of the module that confined dcraw again before it read its file.
    unsigned char marker[sizeof DcrawConfinement::preloadMarker] = {};
    if (!input.bytes(marker, sizeof marker) || std::memcmp(marker, DcrawConfinement::preloadMarker, sizeof marker) != 0)
        return DcrawPicture::exitNoPicture;
    unsigned char p = 0, kind = 0;
    long long width = 0, height = 0, maximum = 0;
    if (!input.byte(p) || !input.byte(kind) || p != 'P' || (kind != '5' && kind != '6') || !input.number(width)
        || !input.number(height) || !input.number(maximum) || width <= 0 || height <= 0 || width > 65535
        || height > 65535 || maximum <= 0 || maximum > 65535)
        return DcrawPicture::exitNoPicture;
    const int channels = kind == '6' ? 3 : 1;
    const int sampleBytes = maximum > 255 ? 2 : 1;
    const QSize source{int(width), int(height)};
    const QSize target = source.scaled(box, Qt::KeepAspectRatio).boundedTo(source).expandedTo({1, 1});
    // Whole blocks that still cover the box; the rest of the way is scaled smoothly.
    const int factor = std::max(1, std::min(source.width() / target.width(), source.height() / target.height()));
    BlockAverager averager(source, factor);
    if (averager.isNull())
        return DcrawPicture::exitOutOfMemory;
    std::vector<unsigned char> row(size_t(width) * channels * sampleBytes);
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    bool anySample = false;
    for (long long y = 0; y < height; ++y) {
        if (!input.bytes(row.data(), row.size()))
            return DcrawPicture::exitNoPicture; // cut short: dcraw failed on the way
        for (long long x = 0; x < width; ++x) {
            int c[3];
            for (int i = 0; i < channels; ++i) {
                const unsigned char *sample = &row[size_t((x * channels + i) * sampleBytes)];
                const int value = sampleBytes == 2 ? (sample[0] << 8) | sample[1] : sample[0];
                c[i] = int(value * 255 / maximum);
            }
            if (channels == 1)
                c[1] = c[2] = c[0];
            anySample = anySample || c[0] || c[1] || c[2];
            pixels[size_t(x)] = qRgb(c[0], c[1], c[2]);
        }
        averager.addRow(pixels.data());
    }
    // A file whose header promises a picture its data does not hold comes out black.
    if (!anySample)
        return DcrawPicture::exitNoPicture;
    QImage image = averager.take();
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = std::move(image).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return DcrawPicture::exitOutOfMemory;
    const DcrawPicture::Header header{
        {'O', 'D', 'C', '1'}, image.width(), image.height(), source.width(), source.height()};
    if (!writeAll(&header, sizeof header))
        return DcrawPicture::exitNoPicture;
    for (int y = 0; y < image.height(); ++y)
        if (!writeAll(image.constScanLine(y), qint64(image.width()) * 4))
            return DcrawPicture::exitNoPicture;
    return 0;
}
