// Folder expansion of dropped paths: the input bytes build a small tree of folders, files, links
// (to folders above and below, to files, dangling) and pipes in a temporary folder, which is then
// expanded. The expansion must end and list every file of the tree, each folder entry once, and
// nothing that is not a file.
//
// Each operation is three bytes: what to make, in which folder, and which target it points at.

#include "formats/OVNHelper.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void link(const QString &target, const QString &path)
{
    std::error_code error; // a clash leaves the entry out
    std::filesystem::create_symlink(target.toStdString(), path.toStdString(), error);
}

[[noreturn]] void fail(const char *what, const QString &path)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(path));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir base(QStringLiteral("/dev/shm/fuzz-filelist-XXXXXX"));
    if (!base.isValid())
        return 0;
    const QString root = base.filePath(QStringLiteral("tree"));
    std::filesystem::remove_all(root.toStdString()); // removes links, never follows them
    QDir().mkpath(root);

    static const char *const names[] = {"a", "b", "Thumbs", "Data", ".DS_Store", ".hidden", "c d", "e"};
    QStringList folders{root};
    QStringList files; // real files
    int made = 0;
    for (size_t i = 0; i + 3 <= size && i < 3 * 48; i += 3) {
        const QString parent = folders[data[i + 1] % folders.size()];
        // ".DS_Store" keeps its exact name (and may clash); the others are made unique.
        const QString name = QString::fromLatin1(names[data[i] >> 5]);
        const QString path = parent + QLatin1Char('/') + name
                             + (name == QLatin1String(".DS_Store") ? QString() : QString::number(made++));
        const int target = data[i + 2];
        switch (data[i] & 7) {
        case 0:
        case 1:
            if (QDir().mkdir(path))
                folders.append(path);
            break;
        case 2:
        case 3: {
            // Never opens what is there already: it may be a pipe.
            const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) {
                ::close(fd);
                files.append(path);
            }
            break;
        }
        case 4: // a link to a folder: the tree's root, an ancestor, a sibling or itself
            link(folders[target % folders.size()], path);
            break;
        case 5: { // a relative link upwards, at most to the tree's root
            const int depth = int(parent.mid(root.size()).count(QLatin1Char('/')));
            link(QStringLiteral("../").repeated(target % (depth + 1)) + QStringLiteral("."), path);
            break;
        }
        case 6: // a link to a file, or dangling
            link(files.isEmpty() || target % 4 == 0 ? path + QStringLiteral("-missing") : files[target % files.size()],
                 path);
            break;
        default: // a pipe: reading it would block for good
            ::mkfifo(path.toLocal8Bit().constData(), 0600);
            break;
        }
    }

    const QVariantList listed = OVNHelper::parseFileList({root});

    QSet<QString> entries; // folder (canonical) + name: each entry of the tree at most once
    QSet<QString> reached; // canonical paths of the files listed
    for (const QVariant &element : listed) {
        const QString path = element.toString();
        const QFileInfo info(path);
        if (!path.startsWith(root + QLatin1Char('/')))
            fail("listed outside the tree", path);
        if (!info.isFile())
            fail("listed what is no file", path);
        const QString entry = QFileInfo(info.path()).canonicalFilePath() + QLatin1Char('/') + info.fileName();
        if (entries.contains(entry))
            fail("listed twice", path);
        entries.insert(entry);
        reached.insert(info.canonicalFilePath());
    }
    for (const QString &file : files) {
        if (QFileInfo(file).fileName() == QLatin1String(".DS_Store"))
            continue;
        if (!reached.contains(QFileInfo(file).canonicalFilePath()))
            fail("not listed", file);
    }
    return 0;
}
