#include "platform/FileAccess.h"
#include "platform/FileAccess_p.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
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

namespace {

// Runs `work` on a thread of its own whose effective user is `uid`: the raw call changes the
// calling thread's credentials only (the C library's would change every thread's), so the test
// acts as the user while the rest of it stays root.
void asAccount(uid_t uid, const std::function<void()> &work)
{
    std::thread thread([&] {
        if (::syscall(SYS_setresuid, -1, uid, -1) != 0) {
            ADD_FAILURE() << "cannot act as account " << uid;
            return;
        }
        work();
    });
    thread.join();
}

bool chownMode(const QString &path, uid_t owner, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), owner, ~gid_t(0)) == 0 && ::chmod(name.constData(), mode) == 0;
}

} // namespace

// Every road that reads or writes a path the user names, from the side of the account that attacks
// it: in a folder another account may rename in (his, or one its group or everybody writes without
// the sticky bit), his link swapped in under the name, and also the user's own second link renamed
// over it, lead nowhere; the user's own links where nobody else may rename, and root's, still do.
TEST(FileAccessTest, EveryRoadFollowsNoLinkAnotherAccountMayHavePutUnderTheName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can act as two other accounts";
    constexpr uid_t user = 65533;
    const struct {
        const char *name;
        uid_t linkOwner;
        uid_t holderOwner; // of the folder the link is in
        mode_t holderMode;
        bool followed;
    } attacks[] = {
        {"his link swapped in, a group folder of the user's", stranger, user, 02775, false},
        {"the user's own link renamed over the name, a group folder", user, user, 02775, false},
        {"the user's own link renamed over the name, a folder open to all", user, user, 0777, false},
        {"the user's own link in the attacker's own folder", user, stranger, 0755, false},
        {"the user's own link in his own folder", user, user, 0755, true},
        {"the user's own link in a sticky folder open to all", user, 0, 01777, true},
        {"root's link in a group folder", 0, user, 02775, true},
    };
    // Each road answers whether it reached the private file (`path` below, in the folder `folder`).
    const struct {
        const char *name;
        std::function<bool(const QString &path, const QString &folder, const QString &secret)> reached;
    } roads[] = {
        {"import's listing (walkedPath)",
         [](const QString &path, const QString &, const QString &) {
             const FileAccess::WalkedPath walked = FileAccess::walkedPath(path);
             return walked.mayBeRead && walked.kind == FileAccess::Kind::Regular;
         }},
        {"import, re-scan, record export (HeldFile)",
         [](const QString &path, const QString &, const QString &) {
             const FileAccess::HeldFile held(path);
             return held.isOpen() && readHeld(path) == "SECRET";
         }},
        {"outputs' and viewers' decoding (openFound)",
         [](const QString &path, const QString &, const QString &) {
             const int fd = FileAccess::openFound(path);
             char buffer[8] = {};
             const bool read = fd >= 0 && ::read(fd, buffer, sizeof buffer) == 6;
             if (fd >= 0)
                 ::close(fd);
             return read;
         }},
        {"watched folder's listing (folderEntries)",
         [](const QString &, const QString &folder, const QString &) {
             return FileAccess::folderEntries(folder).has_value();
         }},
        {"export, mail, disc image (writeThroughTemporary)",
         [](const QString &path, const QString &, const QString &secret) {
             FileAccess::writeThroughTemporary(
                 path, [](QIODevice &file) { return file.write("OVERWRITTEN") == 11; }, FileAccess::Existing::Replace);
             QFile file(secret);
             return file.open(QIODevice::ReadOnly) && file.readAll() == "OVERWRITTEN";
         }},
        {"web gallery (folderToWriteInto)",
         [](const QString &, const QString &folder, const QString &) {
             return FileAccess::folderToWriteInto(folder).has_value();
         }},
    };
    enum class Where { Last, Middle };
    for (const Where where : {Where::Last, Where::Middle}) {
        for (const auto &attack : attacks) {
            for (const auto &road : roads) {
                SCOPED_TRACE(std::string(attack.name) + (where == Where::Last ? ", the file's name: " : ", a folder: ")
                             + road.name);
                QTemporaryDir dir;
                ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
                // The user's private picture, in his private folder.
                const QString privateFolder = dir.filePath("private");
                const QString secret = privateFolder + "/sub/pic.jpg";
                ASSERT_TRUE(writeFile(secret, "SECRET"));
                for (const QString &mine : {privateFolder, privateFolder + "/sub", secret}) {
                    ASSERT_TRUE(chownMode(mine, user, mine == secret ? 0600 : 0700));
                }
                // DIR/holder/pic.jpg or DIR/holder/sub/pic.jpg, the link where the user names them.
                const QString holder = dir.filePath("holder");
                ASSERT_TRUE(QDir().mkpath(holder));
                const QString link = holder + (where == Where::Last ? "/pic.jpg" : "/sub");
                ASSERT_TRUE(layLink(where == Where::Last ? secret : privateFolder + "/sub", link, attack.linkOwner));
                ASSERT_TRUE(chownMode(holder, attack.holderOwner, attack.holderMode));
                const QString path = holder + "/sub/pic.jpg";
                const QString named = where == Where::Last ? holder + "/pic.jpg" : path;
                const QString folder = where == Where::Last ? holder : holder + "/sub";
                if (where == Where::Last
                    && (road.name == std::string("watched folder's listing (folderEntries)")
                        || road.name == std::string("web gallery (folderToWriteInto)")))
                    continue; // these name a folder
                bool reached = false;
                asAccount(user, [&] { reached = road.reached(named, folder, secret); });
                EXPECT_EQ(reached, attack.followed);
            }
        }
    }
}

// The walk follows the link it judged, and walks on through the folder it judged: a name replaced
// right after an element was judged (another account's rename at the worst moment, made certain by
// the walk's hook) changes nothing of what is read.
TEST(FileAccessTest, WhatTheWalkFollowsIsWhatItJudged)
{
    const struct {
        const char *name;
        const char *element; // the element replaced once judged, below the top folder
        const char *path;    // what is read, below the top folder
    } cases[] = {
        {"the file's name, a link", "pic.jpg", "pic.jpg"},
        {"a folder on the way, a link", "link", "link/pic.jpg"},
        {"a folder on the way", "sub", "sub/pic.jpg"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        // top/pic.jpg -> decoy/pic.jpg, top/link -> decoy, top/sub holds a decoy; each has a twin
        // (".twin") leading to the private picture, which the hook puts in its place.
        const QString top = dir.filePath("top");
        ASSERT_TRUE(writeFile(dir.filePath("decoy/pic.jpg"), "DECOY"));
        ASSERT_TRUE(writeFile(dir.filePath("private/pic.jpg"), "SECRET"));
        ASSERT_TRUE(writeFile(top + "/sub/pic.jpg", "DECOY"));
        ASSERT_TRUE(writeFile(top + "/.twin-sub/pic.jpg", "SECRET"));
        ASSERT_TRUE(layLink(dir.filePath("decoy/pic.jpg"), top + "/pic.jpg", ::geteuid()));
        ASSERT_TRUE(layLink(dir.filePath("private/pic.jpg"), top + "/.twin-pic.jpg", ::geteuid()));
        ASSERT_TRUE(layLink(dir.filePath("decoy"), top + "/link", ::geteuid()));
        ASSERT_TRUE(layLink(dir.filePath("private"), top + "/.twin-link", ::geteuid()));
        const QString element = top + "/" + c.element;
        const QString twin = top + "/.twin-" + c.element;
        int swapped = 0;
        FileAccess::Walking::setJudgedHook([&](const QString &judged) {
            if (judged == element && exchange(element, twin))
                ++swapped;
        });
        const QString path = top + "/" + c.path;
        const FileAccess::WalkedPath walked = FileAccess::walkedPath(path);
        EXPECT_EQ(walked.kind, FileAccess::Kind::Regular);
        EXPECT_FALSE(walked.walked.contains("private")) << qPrintable(walked.walked);
        // Put back, for the next walk to judge it and have it replaced again.
        if (swapped == 1) {
            ASSERT_TRUE(exchange(element, twin));
        }
        {
            const FileAccess::HeldFile held(path);
            ASSERT_TRUE(held.isOpen()) << qPrintable(held.reason());
            EXPECT_EQ(readHeld(path), "DECOY");
            EXPECT_FALSE(held.foundAt().contains("private")) << qPrintable(held.foundAt());
        }
        FileAccess::Walking::setJudgedHook({});
        if (swapped == 0)
            GTEST_SKIP() << "the file system cannot exchange two names at once";
        EXPECT_GE(swapped, 2);
    }
}
