#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <optional>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The mount table's lines as the kernel writes them: the device is the third field and the type
// follows the lone "-", however many optional fields come before it; a mount point's spaces are
// escaped, and a line that is not of this form is passed over.
TEST(FileAccessMountsTest, EachDeviceGetsTheTypeItsLineGives)
{
    const QByteArray table = "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                             "23 22 0:21 / /proc rw,nosuid - proc proc rw\n"
                             "40 22 0:45 / /mnt/photo\\040archive rw shared:7 master:2 - nfs4 nas:/photos rw\n"
                             "41 22 0:46 / /home/me/remote rw,nosuid - fuse.sshfs me@host:/ rw\n"
                             "42 22 0:47 / /media/with\\134slash rw - \\164mpfs tmpfs rw\n"
                             "43 22 0:48 / /- rw - btrfs /dev/sdb1 rw\n"
                             "44 22 bad / /broken rw - ext4 /dev/sdc rw\n"
                             "45 22 0:49 / /nothing-after rw -\n"
                             "46 22 0:50 / /no-separator rw ext4 /dev/sdd rw\n"
                             "\n"
                             "47 22 8:17 / /last rw - xfs /dev/sdb1 rw";
    const QHash<dev_t, QByteArray> types = FileAccess::fileSystemTypes(table);
    const struct {
        unsigned major, minor;
        std::optional<QByteArray> type;
    } cases[] = {
        {254, 0, "ext4"}, {0, 21, "proc"}, {0, 45, "nfs4"},       {0, 46, "fuse.sshfs"}, {0, 47, "tmpfs"},
        {0, 48, "btrfs"}, {8, 17, "xfs"},  {0, 49, std::nullopt}, {0, 50, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << ":" << c.minor);
        const auto found = types.constFind(makedev(c.major, c.minor));
        EXPECT_EQ(found != types.cend() ? std::optional<QByteArray>(*found) : std::nullopt, c.type);
    }
    EXPECT_EQ(types.size(), 7);
}

// Disks' and memory's file systems answer at once; a network's, a program's (FUSE), an overlay's
// (whose layers may lie on a network) and an unknown one may not.
TEST(FileAccessMountsTest, OnlyDisksAndMemoryCountAsLocal)
{
    for (const char *type : {"ext4", "xfs", "btrfs", "tmpfs", "vfat", "exfat", "iso9660", "squashfs"})
        EXPECT_TRUE(FileAccess::isLocalFileSystemType(type)) << type;
    for (const char *type : {"nfs", "nfs4", "cifs", "smb3", "9p", "ceph", "fuse", "fuse.sshfs", "fuseblk", "overlay",
                             "proc", "", "ext4x", "ext"})
        EXPECT_FALSE(FileAccess::isLocalFileSystemType(type)) << type;
}

namespace {

// Whether statfs tells a local disk's or memory's file system at `path` (none of the others' magic
// numbers needed: a type this does not know leaves the answer open).
std::optional<bool> knownLocal(const QString &path)
{
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    case NFS_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
        return false;
    default:
        return std::nullopt;
    }
}

} // namespace

// A held file's file system is told by the device it was found on, as the mount table says now;
// a name nothing is held under, one no longer held, and a device no mount shows are not local.
TEST(FileAccessMountsTest, AHeldFileIsLocalWhereItsFileSystemIs)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("picture.gif"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("GIF89a");
    file.close();

    EXPECT_FALSE(FileAccess::heldOnLocalFileSystem(path));
    {
        const FileAccess::HeldFile held(path);
        ASSERT_TRUE(held.isOpen());
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(FileAccess::heldOnLocalFileSystem(path), FileAccess::isOnLocalFileSystem(info.st_dev));
        if (const std::optional<bool> local = knownLocal(dir.path())) {
            EXPECT_EQ(FileAccess::heldOnLocalFileSystem(path), *local);
        }
        EXPECT_FALSE(FileAccess::heldOnLocalFileSystem(dir.filePath(QStringLiteral("other.gif"))));
        EXPECT_FALSE(FileAccess::heldOnLocalFileSystem(QString()));
    }
    EXPECT_FALSE(FileAccess::heldOnLocalFileSystem(path));

    struct stat proc {};
    ASSERT_EQ(::stat("/proc/self", &proc), 0);
    EXPECT_FALSE(FileAccess::isOnLocalFileSystem(proc.st_dev));
    EXPECT_FALSE(FileAccess::isOnLocalFileSystem(makedev(4095, 1048575)));
}
