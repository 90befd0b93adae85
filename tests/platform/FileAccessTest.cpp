#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Reading whole files up to a cap: what the file holds from where it stands, never more than the
// cap, and nothing from an empty file.
TEST(FileAccessTest, ReadAtMostTakesWhatTheFileHoldsUpToTheCap)
{
    QTemporaryDir dir;
    QByteArray content;
    for (int i = 0; i < 3 << 20; ++i)
        content.append(char(i * 7 % 251));
    const struct {
        qsizetype size;
        qint64 start;
        qint64 cap;
        qsizetype expected;
    } cases[] = {
        {qsizetype(content.size()), 0, qint64(1) << 30, qsizetype(content.size())},
        {qsizetype(content.size()), 1000, qint64(1) << 30, qsizetype(content.size()) - 1000},
        {qsizetype(content.size()), 0, 4096, 4096},
        {qsizetype(content.size()), 10, 4096, 4096},
        {17, 0, 17, 17},
        {0, 0, 1 << 20, 0},
    };
    for (const auto &c : cases) {
        const QString path = dir.filePath(QStringLiteral("f"));
        QFile write(path);
        ASSERT_TRUE(write.open(QIODevice::WriteOnly | QIODevice::Truncate));
        write.write(content.left(c.size));
        write.close();
        QFile file;
        ASSERT_TRUE(FileAccess::openRegularFile(file, path));
        ASSERT_TRUE(file.seek(c.start));
        const QByteArray read = FileAccess::readAtMost(file, c.cap);
        EXPECT_EQ(read, content.mid(c.start, c.expected)) << c.size << " " << c.start << " " << c.cap;
    }
}

namespace {

constexpr uid_t stranger = 65534;

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readHeld(const QString &path)
{
    QFile file;
    return FileAccess::openRegularFile(file, path) ? file.readAll() : QByteArray();
}

bool layLink(const QString &target, const QString &link, uid_t owner)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0
           && ::lchown(QFile::encodeName(link).constData(), owner, ~gid_t(0)) == 0;
}

// Exchanges two names at once (a decoy folder and a link), as another account's loop does.
bool exchange(const QString &one, const QString &other)
{
    return ::syscall(SYS_renameat2, AT_FDCWD, QFile::encodeName(one).constData(), AT_FDCWD,
                     QFile::encodeName(other).constData(), 2 /* RENAME_EXCHANGE */)
           == 0;
}

} // namespace

// A path walked element by element: a link at the first, a middle or the last element below the
// folder the user names is followed when it is this account's, and not when another account laid
// it, in a folder open to all or in his own. What is not followed is neither listed, nor held, nor
// read, and is named as another user's link.
TEST(FileAccessTest, ALinkAnywhereInAPathIsFollowedOnlyWhenItIsThisAccounts)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    enum class Where { First, Middle, Last };
    enum class Holder { Shared, His };
    const struct {
        const char *name;
        Where where;
        uid_t owner;
        Holder holder;
        bool followed;
    } cases[] = {
        {"my link first", Where::First, ::geteuid(), Holder::Shared, true},
        {"my link in the middle", Where::Middle, ::geteuid(), Holder::Shared, true},
        {"my link last", Where::Last, ::geteuid(), Holder::Shared, true},
        {"his link first, shared folder", Where::First, stranger, Holder::Shared, false},
        {"his link in the middle, shared folder", Where::Middle, stranger, Holder::Shared, false},
        {"his link last, shared folder", Where::Last, stranger, Holder::Shared, false},
        {"his link first, his own folder", Where::First, stranger, Holder::His, false},
        {"his link in the middle, his own folder", Where::Middle, stranger, Holder::His, false},
        {"his link last, his own folder", Where::Last, stranger, Holder::His, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        // The user's private picture, and the folders its links lead to.
        const QString privateFolder = dir.filePath("private");
        ASSERT_TRUE(writeFile(privateFolder + "/a/b/pic.jpg", "SECRET"));
        ASSERT_TRUE(writeFile(privateFolder + "/b/pic.jpg", "SECRET"));
        ASSERT_TRUE(writeFile(privateFolder + "/pic.jpg", "SECRET"));
        ASSERT_EQ(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
        // DIR/a/b/pic.jpg, each folder on the way open to all (sticky) or his own.
        const QString top = dir.filePath("top");
        ASSERT_TRUE(QDir().mkpath(top + "/a/b"));
        for (const QString &folder : {top, top + "/a", top + "/a/b"}) {
            const QByteArray name = QFile::encodeName(folder);
            ASSERT_EQ(::chmod(name.constData(), c.holder == Holder::Shared ? 01777 : 0755), 0);
            if (c.holder == Holder::His) {
                ASSERT_EQ(::chown(name.constData(), stranger, ~gid_t(0)), 0);
            }
        }
        const QString path = top + "/a/b/pic.jpg";
        switch (c.where) {
        case Where::First:
            ASSERT_TRUE(QDir(top).removeRecursively());
            ASSERT_TRUE(QDir().mkpath(top));
            ASSERT_EQ(::chmod(QFile::encodeName(top).constData(), c.holder == Holder::Shared ? 01777 : 0755), 0);
            if (c.holder == Holder::His) {
                ASSERT_EQ(::chown(QFile::encodeName(top).constData(), stranger, ~gid_t(0)), 0);
            }
            ASSERT_TRUE(layLink(privateFolder + "/a", top + "/a", c.owner));
            break;
        case Where::Middle:
            ASSERT_TRUE(QDir(top + "/a/b").removeRecursively());
            ASSERT_TRUE(layLink(privateFolder + "/b", top + "/a/b", c.owner));
            break;
        case Where::Last:
            ASSERT_TRUE(layLink(privateFolder + "/pic.jpg", path, c.owner));
            break;
        }

        const FileAccess::WalkedPath walked = FileAccess::walkedPath(path);
        EXPECT_EQ(walked.mayBeRead, c.followed);
        EXPECT_EQ(walked.kind, c.followed ? FileAccess::Kind::Regular : FileAccess::Kind::Missing);
        const FileAccess::HeldFile held(path);
        EXPECT_EQ(held.isOpen(), c.followed);
        if (c.followed) {
            EXPECT_EQ(readHeld(path), "SECRET");
        } else {
            EXPECT_EQ(held.reason(), FileAccess::foreignLinkReason());
        }
        // The folder holding it, listed.
        QString why;
        const std::optional<QStringList> listed = FileAccess::folderEntries(top + "/a/b", nullptr, &why);
        if (c.where == Where::Last || c.followed) {
            EXPECT_EQ(listed, std::optional<QStringList>(QStringList{"pic.jpg"}));
        } else {
            EXPECT_TRUE(!listed && why.contains("belongs to another user")) << qPrintable(why);
        }
    }
}

// While a file is held, what reads it by its name reads the file that was found: a file put in its
// place meanwhile is not read, and a file moved away is not read under its old name either.
TEST(FileAccessTest, AHeldFileIsReadAsFoundWhateverItsNameNamesMeanwhile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("pic.jpg");
    ASSERT_TRUE(writeFile(path, "FOUND"));
    {
        const FileAccess::HeldFile held(path);
        ASSERT_TRUE(held.isOpen());
        EXPECT_EQ(held.size(), 5);
        EXPECT_EQ(readHeld(path), "FOUND");
        // Two openings of their own: each reads from its start.
        QFile one, two;
        ASSERT_TRUE(FileAccess::openRegularFile(one, path));
        ASSERT_TRUE(FileAccess::openRegularFile(two, path));
        EXPECT_EQ(one.read(2), "FO");
        EXPECT_EQ(two.read(5), "FOUND");
        // Replaced under its name: nothing is read under that name while the file is held.
        ASSERT_TRUE(QFile::rename(path, dir.filePath("moved.jpg")));
        ASSERT_TRUE(writeFile(path, "OTHER"));
        QString why;
        QFile replaced;
        EXPECT_FALSE(FileAccess::openRegularFile(replaced, path, &why));
        EXPECT_FALSE(why.isEmpty());
        EXPECT_EQ(FileAccess::openHeld(path), std::optional<int>(-1));
    }
    // Let go: the name is opened as it is again.
    EXPECT_EQ(FileAccess::openHeld(path), std::nullopt);
    EXPECT_EQ(readHeld(path), "OTHER");
}

// Another account's loop exchanges a decoy folder with his link to the user's private folder while
// the user imports DIR/sub/pic.jpg, forty times: the private picture is never held nor read.
TEST(FileAccessTest, ARacedLinkInTheMiddleOfAPathNeverLeadsToThePrivateFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString privateFolder = dir.filePath("private");
    ASSERT_TRUE(writeFile(privateFolder + "/sub/pic.jpg", "SECRET"));
    ASSERT_EQ(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
    const QString shared = dir.filePath("shared");
    ASSERT_TRUE(writeFile(shared + "/sub/pic.jpg", "DECOY"));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    ASSERT_TRUE(layLink(privateFolder + "/sub", shared + "/.link", stranger));
    if (!exchange(shared + "/sub", shared + "/.link") || !exchange(shared + "/sub", shared + "/.link"))
        GTEST_SKIP() << "the file system cannot exchange two names at once";

    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        while (!stop.load()) {
            if (exchange(shared + "/sub", shared + "/.link"))
                swaps.fetch_add(1);
        }
    });
    const QString path = shared + "/sub/pic.jpg";
    int secrets = 0, decoys = 0, raced = 0, refused = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        // Each attempt while the names are being exchanged.
        for (const int before = swaps.load(); swaps.load() == before;)
            std::this_thread::yield();
        // Read by name as before, to show the race is run: not counted against the walk.
        QFile byName(path);
        if (byName.open(QIODevice::ReadOnly) && byName.readAll() == "SECRET")
            ++raced;
        // Refused when the walk met his link; else held, and the decoders' openings and every
        // reader's read what was held.
        const FileAccess::HeldFile held(path);
        refused += held.isOpen() ? 0 : 1;
        for (int reading = 0; held.isOpen() && reading < 5; ++reading) {
            const QByteArray read = readHeld(path);
            secrets += read == "SECRET" ? 1 : 0;
            decoys += read == "DECOY" ? 1 : 0;
            if (const std::optional<int> fd = FileAccess::openHeld(path); fd && *fd >= 0) {
                char buffer[8] = {};
                secrets += ::read(*fd, buffer, sizeof buffer) == 6 ? 1 : 0;
                ::close(*fd);
            }
        }
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(secrets, 0);
    EXPECT_GT(swaps.load(), 0);
    std::printf("raced: %d swaps, %d of 40 walks refused, %d decoy readings, %d of 40 reads by name found the "
                "private file\n",
                swaps.load(), refused, decoys, raced);
}
