#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// An account that is not this one, for links and folders another user owns (only root can give
// them away).
constexpr uid_t stranger = 65534;

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void put(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

bool writeText(const QString &path, const QByteArray &content, FileAccess::Existing existing, QString *why = nullptr)
{
    return FileAccess::writeThroughTemporary(
        path, [&content](QIODevice &out) { return out.write(content) == content.size(); }, existing, why);
}

// What is in the folder besides the names given: a temporary file left behind shows here.
QStringList leftovers(const QString &folder, const QStringList &expected)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : expected)
        names.removeAll(name);
    return names;
}

} // namespace

// A link at a destination is followed only when it belongs to this account (or root) in a folder no
// other account may rename in; one planted by another account, also by the owner of the folder in
// his own folder (who could as well have renamed one of this account's there), is not, and what it
// points at is left as it was. Every write
// goes through a temporary file that is renamed into place and leaves nothing else.
TEST(FileAccessDestinationTest, LinksAreFollowedOnlyWhenTheirOwnerMayLeadThere)
{
    const bool root = ::geteuid() == 0;
    const struct {
        const char *name;
        uid_t linkOwner;   // of the link at the destination
        uid_t folderOwner; // of the shared destination folder
        mode_t folderMode;
        bool dangling; // the link points at a file not there yet
        bool followed;
    } cases[] = {
        {"own link", ::geteuid(), ::geteuid(), 01777, false, true},
        {"own dangling link", ::geteuid(), ::geteuid(), 01777, true, true},
        {"another's link in my folder", stranger, ::geteuid(), 01777, false, false},
        {"another's dangling link in my folder", stranger, ::geteuid(), 01777, true, false},
        {"the folder owner's link, only he writes there", stranger, stranger, 0755, false, false},
        {"the folder owner's dangling link, only he writes there", stranger, stranger, 0755, true, false},
        {"the folder owner's link in a folder open to all", stranger, stranger, 0777, false, false},
        {"the folder owner's link in a sticky folder open to all", stranger, stranger, 01777, true, false},
        {"the folder owner's link in a folder his group writes", stranger, stranger, 02775, false, false},
    };
    for (const auto &c : cases) {
        if (!root && (c.linkOwner != ::geteuid() || c.folderOwner != ::geteuid()))
            continue; // only root can make a link or a folder that another account owns
        SCOPED_TRACE(c.name);
        QTemporaryDir top;
        const QString shared = top.filePath(QStringLiteral("shared"));
        const QString mine = top.filePath(QStringLiteral("mine"));
        ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(mine));
        const QString victim = QDir(mine).filePath(QStringLiteral("precious.txt"));
        if (!c.dangling)
            put(victim, "precious");
        const QString name = QDir(shared).filePath(QStringLiteral("out.jpg"));
        ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(name).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(name).constData(), c.linkOwner, ~gid_t(0)), 0);
        ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), c.folderOwner, ~gid_t(0)), 0);
        ::chmod(QFile::encodeName(shared).constData(), c.folderMode);

        QString why;
        const std::optional<QString> where = FileAccess::followableDestination(name, &why);
        EXPECT_EQ(where.has_value(), c.followed) << why.toStdString();
        EXPECT_EQ(writeText(name, "new", FileAccess::Existing::Replace, &why), c.followed) << why.toStdString();
        EXPECT_EQ(contentOf(victim), QByteArray(c.followed ? "new" : c.dangling ? "<none>" : "precious"));
        // The link itself is never replaced by the file.
        EXPECT_EQ(QFile::symLinkTarget(name), victim);
        EXPECT_EQ(leftovers(shared, {QStringLiteral("out.jpg")}), QStringList());
        EXPECT_EQ(
            leftovers(mine, c.followed || !c.dangling ? QStringList{QStringLiteral("precious.txt")} : QStringList()),
            QStringList());
        if (!c.followed) {
            EXPECT_FALSE(why.isEmpty());
        }
    }
}

// A link is judged at every element of the destination's path, the chosen folder itself and each
// folder below it, by the rule for a file's name; a refused one is named, and nothing is written
// through it.
TEST(FileAccessDestinationTest, LinksAreJudgedAtEveryElementOfThePath)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make links and folders that another account owns";
    const struct {
        const char *name;
        const char *link;  // the link's place below the top folder
        const char *write; // what is written, below the top folder
        uid_t linkOwner;
        uid_t holderOwner; // of the folder that holds the link
        mode_t holderMode;
        bool followed;
        bool folderFollowed; // by folderToWriteInto, which follows only this account's and root's
    } cases[] = {
        {"the chosen folder is another's link", "shared/exports", "shared/exports/a.jpg", stranger, 0, 01777, false,
         false},
        {"the chosen folder is my link", "shared/exports", "shared/exports/a.jpg", 0, 0, 01777, true, true},
        {"a folder below the chosen one is another's link", "shared/gallery", "shared/gallery/images/a.jpg", stranger,
         0, 01777, false, false},
        {"a folder below, linked by the owner of a folder open to all", "drop/gallery", "drop/gallery/images/a.jpg",
         stranger, stranger, 0777, false, false},
        {"the chosen folder, linked by the owner of a folder open to all", "drop/exports", "drop/exports/a.jpg",
         stranger, stranger, 0777, false, false},
        {"a folder below, linked by the owner of his own folder", "home/gallery", "home/gallery/images/a.jpg", stranger,
         stranger, 0755, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir top;
        const QString link = top.filePath(QString::fromLatin1(c.link));
        const QString holder = QFileInfo(link).path();
        const QString mine = top.filePath(QStringLiteral("mine"));
        ASSERT_TRUE(QDir().mkpath(holder) && QDir().mkpath(mine + QStringLiteral("/images")));
        const QString victim = mine + QStringLiteral("/") + QFileInfo(QString::fromLatin1(c.write)).fileName();
        const QString deeper = mine + QStringLiteral("/images/") + QFileInfo(QString::fromLatin1(c.write)).fileName();
        put(victim, "precious");
        put(deeper, "precious");
        ASSERT_EQ(::symlink(QFile::encodeName(mine).constData(), QFile::encodeName(link).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), c.linkOwner, ~gid_t(0)), 0);
        ASSERT_EQ(::chown(QFile::encodeName(holder).constData(), c.holderOwner, ~gid_t(0)), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(holder).constData(), c.holderMode), 0);

        QString why;
        const bool written =
            writeText(top.filePath(QString::fromLatin1(c.write)), "new", FileAccess::Existing::Replace, &why);
        EXPECT_EQ(written, c.followed) << why.toStdString();
        EXPECT_EQ(
            FileAccess::folderToWriteInto(QFileInfo(top.filePath(QString::fromLatin1(c.write))).path()).has_value(),
            c.folderFollowed);
        const bool deep = QString::fromLatin1(c.write).contains(QLatin1String("/images/"));
        EXPECT_EQ(contentOf(deep ? deeper : victim), QByteArray(c.followed ? "new" : "precious"));
        if (!c.followed) {
            EXPECT_TRUE(why.contains(link)) << why.toStdString();
        }
        EXPECT_EQ(leftovers(mine, {QStringLiteral("images"), QFileInfo(victim).fileName()}), QStringList());
    }
}

// A file the output replaces passes on none of its set-user or set-group id, and another account's
// file none of its permissions: the new file is this account's, with its own file's permission bits
// or the usual ones.
TEST(FileAccessDestinationTest, AReplacedFilePassesOnNoSpecialBitsNorAnotherAccountsPermissions)
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const struct {
        const char *name;
        uid_t owner;
        mode_t before;
        mode_t after;
    } cases[] = {
        {"my set-user-id file", ::geteuid(), 04777, 0777},
        {"my set-group-id file", ::geteuid(), 02750, 0750},
        {"my private file", ::geteuid(), 0600, 0600},
        {"another's set-user-id file", stranger, 06777, 0666 & ~mask},
        {"another's private file", stranger, 0600, 0666 & ~mask},
    };
    for (const auto &c : cases) {
        if (c.owner != ::geteuid() && ::geteuid() != 0)
            continue; // only root can give a file away
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.jpg"));
        put(path, "old");
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), c.owner, ~gid_t(0)), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.before), 0);
        ASSERT_TRUE(writeText(path, "new", FileAccess::Existing::Replace));
        struct stat made {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &made), 0);
        EXPECT_EQ(made.st_mode & 07777, c.after);
        EXPECT_EQ(made.st_uid, ::geteuid());
        EXPECT_EQ(contentOf(path), "new");
    }
}

// Writing replaces or keeps what is at the name as asked, gives a new file the usual permissions and
// a replaced one its own, and a failed write leaves what was there and no temporary file.
TEST(FileAccessDestinationTest, WritesWholeFilesThroughATemporaryFileBeside)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.html"));
    const mode_t mask = ::umask(022);
    ::umask(mask);

    ASSERT_TRUE(writeText(path, "one", FileAccess::Existing::Keep));
    EXPECT_EQ(contentOf(path), "one");
    struct stat made {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0666 & ~mask);

    QString why;
    EXPECT_FALSE(writeText(path, "two", FileAccess::Existing::Keep, &why));
    EXPECT_EQ(contentOf(path), "one");
    EXPECT_FALSE(why.isEmpty());

    ::chmod(QFile::encodeName(path).constData(), 0640);
    ASSERT_TRUE(writeText(path, "three", FileAccess::Existing::Replace));
    EXPECT_EQ(contentOf(path), "three");
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0640u);

    EXPECT_FALSE(FileAccess::writeThroughTemporary(
        path, [](QIODevice &out) { return out.write("half") < 0; }, FileAccess::Existing::Replace));
    EXPECT_EQ(contentOf(path), "three");
    EXPECT_EQ(leftovers(dir.path(), {QStringLiteral("page.html")}), QStringList());

    const QString source = dir.filePath(QStringLiteral("source.bin"));
    put(source, QByteArray(200000, 'x'));
    const QString copy = dir.filePath(QStringLiteral("copy.bin"));
    ASSERT_TRUE(FileAccess::copyThroughTemporary(source, copy, FileAccess::Existing::Keep));
    EXPECT_EQ(contentOf(copy), QByteArray(200000, 'x'));
    EXPECT_FALSE(FileAccess::copyThroughTemporary(source, copy, FileAccess::Existing::Keep));
    EXPECT_EQ(
        leftovers(dir.path(), {QStringLiteral("page.html"), QStringLiteral("source.bin"), QStringLiteral("copy.bin")}),
        QStringList());
}

// A folder to write into: one there, a link to one by the same rule as files, one made now; a file
// or a link that may not be followed is no folder to write into.
TEST(FileAccessDestinationTest, FoldersToWriteIntoFollowLinksByTheSameRule)
{
    QTemporaryDir top;
    const QString webRoot = top.filePath(QStringLiteral("www"));
    ASSERT_TRUE(QDir().mkpath(webRoot));
    const QString own = top.filePath(QStringLiteral("gallery"));
    ASSERT_EQ(::symlink(QFile::encodeName(webRoot).constData(), QFile::encodeName(own).constData()), 0);
    EXPECT_EQ(FileAccess::folderToWriteInto(own), std::optional<QString>(webRoot));

    const QString made = top.filePath(QStringLiteral("new/deeper"));
    EXPECT_EQ(FileAccess::folderToWriteInto(made), std::optional<QString>(made));
    EXPECT_TRUE(QFileInfo(made).isDir());

    const QString file = top.filePath(QStringLiteral("file"));
    put(file, "x");
    EXPECT_EQ(FileAccess::folderToWriteInto(file), std::nullopt);

    if (::geteuid() == 0) {
        const QString planted = top.filePath(QStringLiteral("planted"));
        ASSERT_EQ(::symlink(QFile::encodeName(webRoot).constData(), QFile::encodeName(planted).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(planted).constData(), stranger, ~gid_t(0)), 0);
        QString why;
        EXPECT_EQ(FileAccess::folderToWriteInto(planted, &why), std::nullopt);
        EXPECT_FALSE(why.isEmpty());
    }
}
