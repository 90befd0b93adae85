// ovn-export CATALOG CATEGORY DEST [--size 0|1|2|3|6] [--custom N] [--caption AUTHOR] [--filename]:
// exports a category's entries as the catalog window's Export does, and prints what became of each.
//
// CATALOG is a catalog file or postgresql://USER@HOST[:PORT]/DATABASE; CATEGORY a category's id
// or the name of a collection. Prints "wrote: PATH WxH", "copied: PATH" or "failed: NAME: REASON"
// per entry, then "exported: N of M"; a refusal prints "refused: TEXT". Exit status 0 only when
// every entry went.

#include "catalogdb/OVNDatabaseAccess.h"
#include "output/OVNExportImages.h"
#include "platform/HeapTuning.h"

#include "ToolCatalog.h"
#include "ToolProcessTree.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

using ToolStart::refuse;

// The sizes are the export sheet's pop-up items (OVNOutputSizes).
constexpr const char *usageText = "usage: ovn-export CATALOG CATEGORY DEST [--size 0|1|2|3|6] [--custom N] "
                                  "[--caption AUTHOR] [--filename]\n"
                                  "  --size 0|1|2|3   each picture as a JPEG that fits a square of 256, 320, 640 "
                                  "(the default) or 1024 pixels\n"
                                  "  --size 6         each file copied unchanged\n"
                                  "  --custom N       each picture as a JPEG that fits a square of N pixels\n"
                                  "  --caption AUTHOR the author's name written on each picture\n"
                                  "  --filename       the file's name written on each picture\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--size", 1}, {"--custom", 1}, {"--caption", 1}, {"--filename"}}))
        return *end;
    // The pictures' buffers are reused from one file to the next, as the program does.
    HeapTuning::keepFreedMemoryForReuse(std::size_t(64) << 20);
    // A probe for scripts: no display needed (the caption's text is drawn into pictures only).
    ToolStart::offscreenUnlessNamed();
    QGuiApplication app(argc, argv);
    ToolProcessTree tree;
    QStringList args = app.arguments().mid(1);
    OVNExportImages::Options options;
    options.captionFilename = false;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--size") && hasValue) {
            // The sizes of the usage: the custom size comes with --custom, 5 is the pop-up's line.
            const std::optional<int> index =
                ToolNumber::code("--size", args.at(++i), {0, 1, 2, 3, OVNExportImages::unchangedCopyIndex});
            if (!index)
                return 2;
            options.sizeIndex = *index;
        } else if (arg == QLatin1String("--custom") && hasValue) {
            const std::optional<int> box = ToolNumber::integer32("--custom", args.at(++i), 1, 65535);
            if (!box)
                return 2;
            options.sizeIndex = OVNExportImages::customSizeIndex;
            options.customSize = *box;
        } else if (arg == QLatin1String("--caption") && hasValue) {
            options.caption = true;
            options.author = args.at(++i);
        } else if (arg == QLatin1String("--filename")) {
            options.caption = true;
            options.captionFilename = true;
        } else if (arg.startsWith(QLatin1String("--")))
            return usage();
        else
            positional.append(arg);
    }
    if (positional.size() != 3)
        return usage();

    // Opens the catalog logged in as the account's catalog user (ToolAccount::logIn: strangers and
    // users in no group are refused) and needs READ ONLY on the category at this moment; only the
    // entries the user may read are handed on.
    ToolCatalog::CategoryInCatalog opened = ToolCatalog::openCategory(positional.at(0), positional.at(1), "ovn-export");
    if (!opened.refusal.isEmpty())
        return refuse(opened.refusal);
    QString unreadable;
    const std::optional<QList<MediaRecord>> found =
        ToolCatalog::recordsWithFiles(*opened.connection, opened.categoryId, &unreadable);
    if (!found)
        return refuse(unreadable.isEmpty() ? QStringLiteral("Media file not found.") : unreadable);
    const QList<MediaRecord> &records = *found;
    if (records.isEmpty())
        return refuse(QStringLiteral("nothing to export"));
    const QString folder = QFileInfo(positional.at(2)).absoluteFilePath();
    if (const QString problem = OVNExportImages::folderProblem(folder); !problem.isEmpty())
        return refuse(problem);

    const QList<OVNExportImages::Entry> entries = OVNExportImages::exportRecords(records, folder, options);
    int written = 0;
    for (const OVNExportImages::Entry &entry : entries) {
        if (entry.written && entry.copied)
            std::printf("copied: %s\n", ToolText::utf8(entry.destination).constData());
        else if (entry.written)
            std::printf("wrote: %s %dx%d\n", ToolText::utf8(entry.destination).constData(), entry.size.width(),
                        entry.size.height());
        else
            std::printf("failed: %s: %s\n", ToolText::utf8(QFileInfo(entry.source).fileName()).constData(),
                        ToolText::utf8(entry.reason).constData());
        written += entry.written ? 1 : 0;
    }
    std::printf("exported: %d of %d\n", written, int(entries.size()));
    // The figures of this process and its decoders together, once they have ended.
    std::printf("%s\n", ToolText::utf8(ToolProcessTree::text(tree.finish())).constData());
    return written == entries.size() ? 0 : 1;
}
