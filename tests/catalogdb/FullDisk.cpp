#include "FullDisk.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>
#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// A VFS over the default one whose writes fail with SQLITE_FULL once a byte budget is spent.
sqlite3_vfs *realVfs = nullptr;
std::atomic<qint64> budget{-1};

struct BudgetFile {
    sqlite3_file base;
    sqlite3_file *real;
};

sqlite3_file *real(sqlite3_file *file) { return reinterpret_cast<BudgetFile *>(file)->real; }

int budgetClose(sqlite3_file *f) { return real(f)->pMethods->xClose(real(f)); }
int budgetRead(sqlite3_file *f, void *b, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), b, n, o); }
int budgetWrite(sqlite3_file *f, const void *b, int n, sqlite3_int64 o)
{
    qint64 left = budget.load();
    while (left >= 0) {
        if (left < n)
            return SQLITE_FULL;
        if (budget.compare_exchange_weak(left, left - n))
            break;
    }
    return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int budgetTruncate(sqlite3_file *f, sqlite3_int64 s) { return real(f)->pMethods->xTruncate(real(f), s); }
int budgetSync(sqlite3_file *f, int flags) { return real(f)->pMethods->xSync(real(f), flags); }
int budgetFileSize(sqlite3_file *f, sqlite3_int64 *s) { return real(f)->pMethods->xFileSize(real(f), s); }
int budgetLock(sqlite3_file *f, int l) { return real(f)->pMethods->xLock(real(f), l); }
int budgetUnlock(sqlite3_file *f, int l) { return real(f)->pMethods->xUnlock(real(f), l); }
int budgetCheckReserved(sqlite3_file *f, int *r) { return real(f)->pMethods->xCheckReservedLock(real(f), r); }
int budgetFileControl(sqlite3_file *f, int op, void *a) { return real(f)->pMethods->xFileControl(real(f), op, a); }
int budgetSectorSize(sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); }
int budgetDevice(sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }

const sqlite3_io_methods budgetMethods = {
    1,
    budgetClose,
    budgetRead,
    budgetWrite,
    budgetTruncate,
    budgetSync,
    budgetFileSize,
    budgetLock,
    budgetUnlock,
    budgetCheckReserved,
    budgetFileControl,
    budgetSectorSize,
    budgetDevice,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int budgetOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *wrapper = reinterpret_cast<BudgetFile *>(file);
    wrapper->real = reinterpret_cast<sqlite3_file *>(wrapper + 1);
    const int rc = realVfs->xOpen(realVfs, name, wrapper->real, flags, outFlags);
    wrapper->base.pMethods = wrapper->real->pMethods ? &budgetMethods : nullptr;
    return rc;
}

sqlite3_vfs budgetVfs;

} // namespace

FullDisk::FullDisk(Kind kind) : m_kind(kind)
{
    const QString folder = m_dir.filePath(QStringLiteral("disk"));
    QDir().mkpath(folder);
    if (kind == Kind::Mounted) {
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m") != 0) {
            m_why = QStringLiteral("cannot mount a tmpfs here: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
    } else {
        realVfs = sqlite3_vfs_find(nullptr);
        budgetVfs = *realVfs;
        budgetVfs.iVersion = 1; // no shared memory: rollback journals only
        budgetVfs.zName = "ovn-full-disk";
        budgetVfs.szOsFile = int(sizeof(BudgetFile)) + realVfs->szOsFile;
        budgetVfs.xOpen = budgetOpen;
        budgetVfs.pNext = nullptr;
        budget = -1;
        sqlite3_vfs_register(&budgetVfs, 1);
    }
    m_folder = folder;
}

FullDisk::~FullDisk()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    if (m_kind == Kind::Injected && !m_folder.isEmpty()) {
        sqlite3_vfs_unregister(&budgetVfs);
        sqlite3_vfs_register(realVfs, 1);
        budget = -1;
    }
}

void FullDisk::fillLeaving(qint64 bytes)
{
    if (m_kind == Kind::Injected) {
        budget = bytes;
        return;
    }
    // Fill the file system with one file, then give back what is to be left.
    QFile filler(m_folder + QStringLiteral("/.filler"));
    if (bytes < 0) {
        filler.remove();
        return;
    }
    filler.open(QIODevice::WriteOnly | QIODevice::Append);
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {}
    filler.close();
    filler.resize(qMax<qint64>(0, filler.size() - bytes));
}
