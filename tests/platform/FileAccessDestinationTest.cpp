#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
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

// A link at a destination is followed only when it belongs to this account or to the owner of the
// folder that holds it; one planted by another account is not, and what it points at is left as it
// was. Every write goes through a temporary file that is renamed into place and leaves nothing else.
TEST(FileAccessDestinationTest, LinksAreFollowedOnlyWhenTheirOwnerMayLeadThere)
{
    const bool root = ::geteuid() == 0;
    const struct {
        const char *name;
        uid_t linkOwner;   // of the link at the destination
        uid_t folderOwner; // of the shared destination folder
        bool dangling;     // the link points at a file not there yet
        bool followed;
    } cases[] = {
        {"own link", ::geteuid(), ::geteuid(), false, true},
        {"own dangling link", ::geteuid(), ::geteuid(), true, true},
        {"another's link in my folder", stranger, ::geteuid(), false, false},
        {"another's dangling link in my folder", stranger, ::geteuid(), true, false},
        {"the folder owner's link", stranger, stranger, false, true},
        {"the folder owner's dangling link", stranger, stranger, true, true},
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
        ::chmod(QFile::encodeName(shared).constData(), 01777);

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
