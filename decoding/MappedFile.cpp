#include "decoding/MappedFile.h"

#include "decoding/SignalPassOn.h"

#include <atomic>

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The mappings alive, read by the signal handler, which may take no lock.
struct Range {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
};
constexpr int rangeCount = 16;
Range ranges[rangeCount];

std::atomic<bool> mappingAllowed{false};
struct sigaction previousHandler {};

// A page of a mapped file past the file's end (another program cut it short): an empty page in its
// place, and the access runs again. Any other SIGBUS goes on as it would have.
void onBusError(int signal, siginfo_t *info, void *context)
{
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (const Range &range : ranges) {
        if (info->si_code > 0 && at >= range.start.load() && at < range.end.load()) {
            const std::uintptr_t page = at & ~(std::uintptr_t(::sysconf(_SC_PAGESIZE)) - 1);
            if (::mmap(reinterpret_cast<void *>(page), std::size_t(::sysconf(_SC_PAGESIZE)), PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
                != MAP_FAILED)
                return;
            break;
        }
    }
    passSignalOn(signal, info, context, previousHandler);
}

} // namespace

void MappedFile::allowInThisProcess()
{
    if (mappingAllowed.load())
        return;
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGBUS, &action, &previousHandler) == 0)
        mappingAllowed.store(true);
}

bool MappedFile::allowed() { return mappingAllowed.load(); }

MappedFile::~MappedFile()
{
    if (!m_data)
        return;
    ranges[m_slot].end.store(0);
    ranges[m_slot].start.store(0);
    ::munmap(m_data, m_mapped);
}

bool MappedFile::map(int fd, std::size_t length)
{
    if (!mappingAllowed.load() || m_data || fd < 0 || length == 0)
        return false;
    int slot = -1;
    for (int i = 0; i < rangeCount && slot < 0; ++i) {
        std::uintptr_t free = 0;
        // A slot is taken by marking its start before the mapping exists; the handler matches
        // nothing while its end is 0.
        if (ranges[i].start.compare_exchange_strong(free, 1))
            slot = i;
    }
    if (slot < 0)
        return false;
    void *mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) {
        ranges[slot].start.store(0);
        return false;
    }
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    m_data = static_cast<unsigned char *>(mapped);
    m_length = length;
    m_mapped = (length + page - 1) / page * page;
    m_slot = slot;
    ranges[slot].start.store(reinterpret_cast<std::uintptr_t>(mapped));
    ranges[slot].end.store(reinterpret_cast<std::uintptr_t>(mapped) + m_mapped);
    return true;
}
