#pragma once

#include <cstddef>
#include <cstdint>

// A file's bytes read where they lie: a private read-only mapping of the file, its pages mapped
// in one call, so that a reader takes them from the system's cache without copying them into a
// buffer of its own (a fresh page each, in a process that reads one file). Where the file is cut
// short by another program while it is mapped, the part that is gone reads as zeros (what a read
// past the end of a damaged file gives a reader, which then finds its data ends early) instead of
// ending the process with SIGBUS. Used by the decoding processes only (allowInThisProcess()).
class MappedFile
{
public:
    // Lets this process map the files it reads, and installs the handler that turns a mapping
    // cut short into zeros. Call once, before the first mapping, with one thread.
    static void allowInThisProcess();
    static bool allowed();

    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // Maps the first `length` bytes of the file open as `fd`. False where this process may not,
    // or the mapping could not be made (its address space at its limit, say): read it otherwise.
    bool map(int fd, std::size_t length);
    const unsigned char *data() const { return m_data; }
    std::size_t size() const { return m_length; }

private:
    unsigned char *m_data = nullptr;
    std::size_t m_length = 0;
    std::size_t m_mapped = 0;
    int m_slot = -1;
};
