#include "formats/OVNHelper.h"
#include "platform/SystemInfo.h"
#include "platform/TemporaryFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>
#include <vector>

namespace {

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

QStringList strings(const QVariantList &list)
{
    QStringList out;
    for (const QVariant &v : list)
        out.append(v.toString());
    return out;
}

// Sets $HOME for the life of the object (QDir::homePath() reads it).
class ScopedHome
{
public:
    explicit ScopedHome(const QString &home) : m_old(qgetenv("HOME")) { qputenv("HOME", home.toUtf8()); }
    ~ScopedHome() { qputenv("HOME", m_old); }

private:
    QByteArray m_old;
};

} // namespace

TEST(VolumeOfPath, KnownMountFolders)
{
    EXPECT_EQ(OVNHelper::getVolumeForPath("/Volumes/Media/a.jpg"), "Media");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/Volumes/Media"), "Media");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/Volumes"), ""); // only two components
    EXPECT_EQ(OVNHelper::getVolumeForPath("/Volumes/"), "");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/media/bob/CARD/DCIM/1.jpg"), "CARD");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/media/bob"), "");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/run/media/bob/Disk/x"), "Disk");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/run/user/1000/gvfs/smb-share:server=nas,share=media,user=bob/x.jpg"),
              "media");
    EXPECT_EQ(OVNHelper::getVolumeRootForPath("/run/user/1000/gvfs/smb-share:server=nas,share=my%20media/x.jpg"),
              "/run/user/1000/gvfs/smb-share:server=nas,share=my%20media");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/run/user/1000/gvfs/smb-share:server=nas,share=my%20media"), "my media");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/run/user/1000/gvfs/sftp:host=box/x"), "sftp:host=box");
    EXPECT_TRUE(OVNHelper::isGvfsPath("/run/user/1000/gvfs/sftp:host=box/x"));
    EXPECT_FALSE(OVNHelper::isGvfsPath("/Volumes/Media/x"));
    EXPECT_EQ(OVNHelper::getVolumeForPath("/home/bob/Volumes/Media/x"), "");
    EXPECT_EQ(OVNHelper::getVolumeForPath("Volumes/Media/x"), "");
    EXPECT_EQ(OVNHelper::getVolumeForPath("/Volumes/../etc/passwd"), "");
    EXPECT_EQ(OVNHelper::getVolumeForPath(""), "");
}

TEST(VolumeOfPath, TheUsersMountFoldersAreTheAccountsWhateverUserSays)
{
    const QByteArray user = qgetenv("USER");
    const QByteArray roots = qgetenv("OVN_VOLUME_ROOTS");
    qunsetenv("OVN_VOLUME_ROOTS");
    const QString own = SystemInfo::accountName();
    ASSERT_FALSE(own.isEmpty());
    for (const char *said : {"", "mallory"}) {
        if (*said)
            qputenv("USER", said);
        else
            qunsetenv("USER");
        const QStringList found = OVNHelper::volumeRoots();
        EXPECT_TRUE(found.contains("/media/" + own)) << said << ": " << found.join(' ').toStdString();
        EXPECT_TRUE(found.contains("/run/media/" + own)) << said;
        EXPECT_FALSE(found.contains("/media/") || found.contains("/media/mallory")) << said;
    }
    qputenv("USER", user);
    if (!roots.isEmpty())
        qputenv("OVN_VOLUME_ROOTS", roots);
}

TEST(FileListExpansion, FoldersAreListedRecursivelyWithoutFinderLitter)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("drop");
    ASSERT_TRUE(touch(root + "/.DS_Store"));
    ASSERT_TRUE(touch(root + "/one.jpg"));
    ASSERT_TRUE(touch(root + "/sub/two.jpg"));
    ASSERT_TRUE(touch(root + "/.hidden.jpg"));
    ASSERT_TRUE(touch(dir.filePath("single.jpg")));

    const QVariantMap dropped{{"PATH", dir.filePath("single.jpg")}, {"EXTRA", "kept"}};
    const QVariantList result =
        OVNHelper::parseFileList({root, dropped, dir.filePath("missing.jpg"), 42, QVariantMap{{"NOPATH", "x"}}});
    ASSERT_EQ(result.size(), 4);
    const std::set<QString> files{result[0].toString(), result[1].toString(), result[2].toString()};
    EXPECT_EQ(files, (std::set<QString>{root + "/one.jpg", root + "/sub/two.jpg", root + "/.hidden.jpg"}));
    // A dictionary naming a file comes back as the same dictionary, after the folder's files.
    EXPECT_EQ(result[3].toMap(), dropped);

    // A dictionary naming a folder: its files come back as strings.
    const QVariantList fromFolder = OVNHelper::parseFileList({QVariantMap{{"PATH", root + "/sub"}}});
    ASSERT_EQ(fromFolder.size(), 1);
    EXPECT_EQ(fromFolder[0].typeId(), QMetaType::QString);
}

TEST(FileListExpansion, AFoldersFilesComeInNameOrderWhateverTheListingsOrder)
{
    // Pairs in the order they must come: numbers by value, letters without regard to case.
    const std::vector<std::pair<QString, QString>> ordered{
        {"IMG_0012.jpg", "IMG_0013.jpg"},
        {"IMG_2.jpg", "IMG_10.jpg"},
        {"img_0012.jpg", "IMG_0013.jpg"},
        {"a.jpg", "B.jpg"},
        {"IMG_7.jpg", "IMG_007.jpg"},
        {"IMG.jpg", "IMG_1.jpg"},
        {"x9y", "x10a"},
        {"photo", "photo 2"},
        {"B.jpg", "b.jpg"},
        {"99999999999999999999", "100000000000000000000"},
    };
    for (const auto &[first, second] : ordered) {
        EXPECT_TRUE(OVNHelper::namesInOrder(first, second))
            << first.toStdString() << " before " << second.toStdString();
        EXPECT_FALSE(OVNHelper::namesInOrder(second, first))
            << second.toStdString() << " after " << first.toStdString();
        EXPECT_FALSE(OVNHelper::namesInOrder(first, first)) << first.toStdString();
    }

    // The file system's own order of a folder is no order at all: the listing below gives the names
    // scrambled, and the expansion and a folder's entries both come back sorted.
    QTemporaryDir dir;
    const QString root = dir.filePath("card");
    const QStringList scrambled{"IMG_0026.jpg", "IMG_0012.jpg", "sub", "IMG_0013.jpg", "IMG_0100.jpg", "IMG_0009.jpg"};
    for (const QString &name : scrambled)
        ASSERT_TRUE(name == "sub" ? QDir().mkpath(root + "/sub") : touch(root + "/" + name));
    ASSERT_TRUE(touch(root + "/sub/B.jpg"));
    ASSERT_TRUE(touch(root + "/sub/a.jpg"));
    OVNHelper::setFolderReader([scrambled](const QString &folder, QStringList *undecodable, QString *why) {
        if (folder.endsWith("/sub"))
            return std::optional<QStringList>(QStringList{"B.jpg", "a.jpg"});
        (void)undecodable;
        (void)why;
        return std::optional<QStringList>(scrambled);
    });
    const QStringList expanded = strings(OVNHelper::parseFileList({root}));
    const std::optional<QStringList> entries = OVNHelper::folderEntryPaths(root, nullptr);
    OVNHelper::setFolderReader({});
    EXPECT_EQ(expanded,
              (QStringList{root + "/IMG_0009.jpg", root + "/IMG_0012.jpg", root + "/IMG_0013.jpg",
                           root + "/IMG_0026.jpg", root + "/IMG_0100.jpg", root + "/sub/a.jpg", root + "/sub/B.jpg"}));
    ASSERT_TRUE(entries);
    EXPECT_EQ(*entries, (QStringList{root + "/IMG_0009.jpg", root + "/IMG_0012.jpg", root + "/IMG_0013.jpg",
                                     root + "/IMG_0026.jpg", root + "/IMG_0100.jpg", root + "/sub"}));
}

TEST(FileListExpansion, SymlinkLoopsEndAndEachFileComesOnce)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("tree");
    ASSERT_TRUE(touch(root + "/a.jpg"));
    ASSERT_TRUE(touch(root + "/sub/b.jpg"));
    ASSERT_TRUE(QFile::link(root, root + "/sub/back-to-top"));
    ASSERT_TRUE(QFile::link(root + "/sub", root + "/sub-again"));
    ASSERT_TRUE(QFile::link(root + "/sub/self", root + "/sub/self")); // a link to itself
    ASSERT_TRUE(QFile::link(root + "/nowhere", root + "/dangling"));

    const QStringList files = strings(OVNHelper::parseFileList({root}));
    ASSERT_EQ(files.size(), 2) << qPrintable(files.join('\n'));
    QStringList names;
    for (const QString &file : files)
        names.append(QFileInfo(file).fileName());
    names.sort();
    EXPECT_EQ(names, (QStringList{"a.jpg", "b.jpg"}));
}

// What the expansion leaves out is named with its reason; only the regular files come back.
TEST(FileListExpansion, SkippedPathsAreNamedWithTheirReason)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("drop");
    ASSERT_TRUE(touch(root + "/ok.jpg"));
    ASSERT_TRUE(touch(root + "/locked/secret.jpg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/pipe.jpg").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", root + "/zero.jpg"));
    ASSERT_TRUE(QFile::link(root + "/gone.jpg", root + "/dangling.jpg"));
    const QByteArray latin1Name = QFile::encodeName(root) + "/caf\xe9.jpg";
    const int fd = ::open(latin1Name.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(QFile::setPermissions(root + "/locked", QFileDevice::Permissions()));

    QList<OVNHelper::SkippedFile> skipped;
    const QStringList files = strings(OVNHelper::parseFileList({root, root + "/missing.jpg"}, &skipped));
    QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QMap<QString, QString> reasons;
    for (const OVNHelper::SkippedFile &file : skipped)
        reasons.insert(file.path, file.reason);

    QMap<QString, QString> expected{
        {root + "/pipe.jpg", "a named pipe, not a file"},
        {root + "/zero.jpg", "a device, not a file"},
        {root + "/dangling.jpg", "a link to something that does not exist"},
        {root + "/caf" + QChar(0xDCE9) + ".jpg", "the name is not valid UTF-8"},
        {root + "/missing.jpg", "does not exist"},
    };
    // Root reads every folder; anyone else finds the locked one unreadable.
    if (geteuid() == 0)
        EXPECT_TRUE(files.contains(root + "/locked/secret.jpg"));
    else
        expected.insert(root + "/locked", "the folder cannot be read: Permission denied");
    EXPECT_EQ(reasons, expected);
    EXPECT_TRUE(files.contains(root + "/ok.jpg"));
    EXPECT_EQ(files.size(), geteuid() == 0 ? 2 : 1) << qPrintable(files.join('\n'));
}

// Links laid in an imported folder: one of this account's is followed; another account's link,
// wherever it leads (this account's private picture, a folder of it, or his own), is named and not
// followed, at the top of what is dropped as inside a folder, also when it leads there through a
// link of this account's.
TEST(FileListExpansion, AnotherAccountsLinksAreNotFollowed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can make links and files that another account owns";
    constexpr uid_t me = 0;
    constexpr uid_t stranger = 65534;
    const struct {
        const char *name;
        uid_t linkOwner;
        uid_t targetOwner;
        bool folder;      // the link leads to a folder holding one picture
        bool throughMine; // through a link of mine to the target
        bool dropped;     // the link itself is dropped, not a folder holding it
        bool followed;
    } cases[] = {
        {"my link to my picture", me, me, false, false, false, true},
        {"another's link to my private picture", stranger, me, false, false, false, false},
        {"another's link to my private picture, dropped", stranger, me, false, false, true, false},
        {"another's link to his own picture", stranger, stranger, false, false, false, false},
        {"another's link to a folder of mine", stranger, me, true, false, false, false},
        {"another's link to his own folder", stranger, stranger, true, false, false, false},
        {"another's link through mine to my picture", stranger, me, false, true, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString imported = dir.filePath("shared");
        const QString privateFolder = dir.filePath("private");
        ASSERT_TRUE(touch(imported + "/ok.jpg"));
        const QString target = privateFolder + (c.folder ? "/album" : "/me.jpg");
        ASSERT_TRUE(touch(c.folder ? target + "/in.jpg" : target));
        ASSERT_EQ(lchown(QFile::encodeName(target).constData(), c.targetOwner, ~gid_t(0)), 0);
        ::chmod(QFile::encodeName(privateFolder).constData(), 0700);
        QString leadsTo = target;
        if (c.throughMine) {
            leadsTo = dir.filePath("mine-link");
            ASSERT_TRUE(QFile::link(target, leadsTo));
        }
        const QString link = imported + "/laid.jpg";
        ASSERT_TRUE(QFile::link(leadsTo, link));
        ASSERT_EQ(lchown(QFile::encodeName(link).constData(), c.linkOwner, ~gid_t(0)), 0);

        QList<OVNHelper::SkippedFile> skipped;
        const QStringList files = strings(OVNHelper::parseFileList({c.dropped ? link : imported}, &skipped));
        const QString inside = c.folder ? link + "/in.jpg" : link;
        EXPECT_EQ(files.contains(inside), c.followed) << qPrintable(files.join('\n'));
        EXPECT_EQ(files.contains(imported + "/ok.jpg"), !c.dropped);
        if (c.followed) {
            EXPECT_TRUE(skipped.isEmpty());
        } else {
            ASSERT_EQ(skipped.size(), 1);
            EXPECT_EQ(skipped.first().path, link);
            EXPECT_EQ(skipped.first().reason, "a link that belongs to another user; it is not followed");
        }
    }
}

TEST(FileListExpansion, PhotoLibraryInnardsAreSkippedOnlyInsideTheLibrary)
{
    QTemporaryDir home;
    ScopedHome scopedHome(home.path());
    const QString library = home.filePath("Pictures/iPhoto Library");
    ASSERT_TRUE(touch(library + "/Data/x.jpg"));
    ASSERT_TRUE(touch(library + "/Thumbs/y.jpg"));
    ASSERT_TRUE(touch(library + "/Originals/z.jpg"));
    ASSERT_TRUE(touch(home.filePath("elsewhere/Data/w.jpg")));

    EXPECT_EQ(strings(OVNHelper::parseFileList({library})), QStringList{library + "/Originals/z.jpg"});
    EXPECT_TRUE(OVNHelper::parseFileList({library + "/Data"}).isEmpty());
    EXPECT_EQ(strings(OVNHelper::parseFileList({home.filePath("elsewhere/Data")})),
              QStringList{home.filePath("elsewhere/Data/w.jpg")});
}

TEST(ImportFolders, DatedFoldersAreCreatedInsideTheLocation)
{
    const QDateTime when(QDate(2009, 5, 1), QTime(14, 22, 10), QTimeZone(7200));
    EXPECT_EQ(OVNHelper::importFolderName(when), "2009-05-01 14-22-10 +0200");
    const QDateTime west(QDate(2009, 12, 31), QTime(3, 4, 5), QTimeZone(-(3 * 3600 + 1800)));
    EXPECT_EQ(OVNHelper::importFolderName(west), "2009-12-31 03-04-05 -0330");

    QTemporaryDir home;
    ScopedHome scopedHome(home.path());
    EXPECT_EQ(OVNHelper::expandTilde("~"), home.path());
    EXPECT_EQ(OVNHelper::expandTilde("~/a/../b"), home.filePath("b"));
    EXPECT_EQ(OVNHelper::expandTilde("/x/~/y"), "/x/~/y");

    const QString folder = OVNHelper::createImportFolderAtLocation("~/Imports/new");
    EXPECT_TRUE(QFileInfo(folder).isDir()) << qPrintable(folder);
    EXPECT_EQ(QFileInfo(folder).path(), home.filePath("Imports/new"));
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d [+-]\\d{4}$")
                    .match(QFileInfo(folder).fileName())
                    .hasMatch());

    // A file where the location should be: the path is answered all the same.
    ASSERT_TRUE(touch(home.filePath("blocked")));
    const QString blocked = OVNHelper::createImportFolderAtLocation(home.filePath("blocked"));
    EXPECT_TRUE(blocked.startsWith(home.filePath("blocked/")));
    EXPECT_FALSE(QFileInfo(blocked).isDir());
}

TEST(ImportFolders, PictureImportFolderLivesInPicturesOstrevan)
{
    QTemporaryDir home;
    ScopedHome scopedHome(home.path());
    const QString folder = OVNHelper::createPictureImportFolder();
    EXPECT_TRUE(QFileInfo(folder).isDir()) << qPrintable(folder);
    EXPECT_EQ(QFileInfo(folder).path(), home.filePath("Pictures/Ostrevan"));
}
