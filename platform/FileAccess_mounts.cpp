// Which file systems answer at once: those of a local disk or of memory. A call into a network
// file system, or into one a program serves (FUSE), waits in the kernel for as long as its server
// does not answer, and callers that must not wait that long make it on a thread they can leave.

#include "platform/FileAccess.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace FileAccess {

namespace {

// A field of a mount table's line with the table's escapes undone ("\040" is a space).
QByteArray unescaped(QByteArrayView field)
{
    const auto octal = [&](qsizetype at) { return at < field.size() && field.at(at) >= '0' && field.at(at) <= '7'; };
    QByteArray text;
    text.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            text.append(
                char(((field.at(i + 1) - '0') << 6) | ((field.at(i + 2) - '0') << 3) | (field.at(i + 3) - '0')));
            i += 3;
            continue;
        }
        text.append(field.at(i));
    }
    return text;
}

// The mount table as this process sees it, read again whenever the kernel says it changed (a
// device number a file system left may be given to the next one mounted, of another kind). Each
// thread keeps its own, so that the threads that open files look at it without waiting for each
// other: the kernel tells each opening of the table of a change.
struct MountTable {
    int changes = -1; // /proc/self/mountinfo, held open: polled, it tells of a change
    bool known = false;
    QHash<dev_t, QByteArray> types;

    ~MountTable()
    {
        if (changes >= 0)
            ::close(changes);
    }
};

QByteArray readAll(int fd)
{
    QByteArray text;
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return text;
    char chunk[16384];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return text;
        text.append(chunk, count);
    }
}

} // namespace

QHash<dev_t, QByteArray> fileSystemTypes(QByteArrayView mountInfo)
{
    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue": the
    // device is the third field; the type follows the lone "-" that ends the optional fields,
    // after the sixth.
    QHash<dev_t, QByteArray> types;
    std::string_view rest(mountInfo.data(), size_t(mountInfo.size()));
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::vector<std::string_view> fields;
        while (!line.empty()) {
            const size_t space = std::min(line.find(' '), line.size());
            if (space > 0)
                fields.push_back(line.substr(0, space));
            line.remove_prefix(std::min(space + 1, line.size()));
        }
        if (fields.size() < 8)
            continue;
        const auto separator = std::find(fields.cbegin() + 6, fields.cend(), std::string_view("-"));
        if (separator == fields.cend() || separator + 1 == fields.cend())
            continue;
        unsigned major = 0, minor = 0;
        const std::string_view device = fields[2];
        const auto [majorEnd, majorError] = std::from_chars(device.data(), device.data() + device.size(), major);
        if (majorError != std::errc() || majorEnd == device.data() + device.size() || *majorEnd != ':')
            continue;
        const auto [minorEnd, minorError] = std::from_chars(majorEnd + 1, device.data() + device.size(), minor);
        if (minorError != std::errc() || minorEnd != device.data() + device.size())
            continue;
        const std::string_view type = *(separator + 1);
        types.insert(makedev(major, minor), unescaped(QByteArrayView(type.data(), qsizetype(type.size()))));
    }
    return types;
}

bool isLocalFileSystemType(QByteArrayView type)
{
    // Disks' and memory's file systems. An overlay is left out: its layers may lie on a network.
    static constexpr std::array<std::string_view, 25> local{
        "ext2",     "ext3",    "ext4",    "xfs",   "btrfs",    "f2fs",  "jfs",      "reiserfs", "nilfs2",
        "bcachefs", "zfs",     "tmpfs",   "ramfs", "vfat",     "msdos", "exfat",    "ntfs",     "ntfs3",
        "hfs",      "hfsplus", "iso9660", "udf",   "squashfs", "erofs", "devtmpfs",
    };
    const std::string_view name(type.data(), size_t(type.size()));
    return std::find(local.cbegin(), local.cend(), name) != local.cend();
}

bool isOnLocalFileSystem(dev_t device)
{
    thread_local MountTable table;
    if (table.changes < 0)
        table.changes = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (table.changes < 0)
        return false;
    // Read again when the kernel tells of a change since the last look (a mount or an unmount
    // tells at once): a device not in the table then is one no mount of this process's shows.
    pollfd changed{table.changes, POLLPRI, 0};
    if (!table.known || ::poll(&changed, 1, 0) > 0) {
        table.types = fileSystemTypes(readAll(table.changes));
        table.known = true;
    }
    const auto found = table.types.constFind(device);
    return found != table.types.cend() && isLocalFileSystemType(*found);
}

} // namespace FileAccess
