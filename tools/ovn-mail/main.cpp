// ovn-mail CATALOG CATEGORY [--size 0|1|2|3|5] [--caption AUTHOR] [--filename] [--command PROGRAM]:
// sends a category's entries as the catalog window's Send as e-mail does. Prints "attached: PATH"
// per file in order, then "handed to: PROGRAM, exit N". A file that could not be converted prints
// "failed: TEXT"; a refusal prints "refused: TEXT". Exit status 0 only when the mail command took
// every file.

#include "catalogdb/OVNDatabaseAccess.h"
#include "output/OVNSendImagesAsMail.h"

#include "ToolCatalog.h"
#include "decoding/MediaDecoder.h"
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

// The sizes are the mail sheet's pop-up items (OVNOutputSizes).
constexpr const char *usageText = "usage: ovn-mail CATALOG CATEGORY [--size 0|1|2|3|5] [--caption AUTHOR] "
                                  "[--filename] [--command PROGRAM]\n"
                                  "  --size 0|1|2|3   each picture as a JPEG that fits a square of 256 (the "
                                  "default), 320, 640 or 1024 pixels\n"
                                  "  --size 5         each file attached as it is\n"
                                  "  --caption AUTHOR the author's name written on each picture\n"
                                  "  --filename       the file's name written on each picture\n"
                                  "  --command PROGRAM\n"
                                  "                   the mail program handed the attachments (xdg-email by "
                                  "default)\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText, {{"--size", 1}, {"--caption", 1}, {"--filename"}, {"--command", 1}}))
        return *end;
    // A probe for scripts: no display needed (the caption's text is drawn into pictures only).
    ToolStart::offscreenUnlessNamed();
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    OVNSendImagesAsMail::Options options;
    QString command = OVNSendImagesAsMail::defaultCommand();
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--size") && hasValue) {
            // 4 is the pop-up's line between the sizes and the original, no size of its own.
            const std::optional<int> index =
                ToolNumber::code("--size", args.at(++i), {0, 1, 2, 3, OVNSendImagesAsMail::originalIndex});
            if (!index)
                return 2;
            options.sizeIndex = *index;
        } else if (arg == QLatin1String("--caption") && hasValue) {
            options.caption = true;
            options.author = args.at(++i);
        } else if (arg == QLatin1String("--filename")) {
            options.caption = true;
            options.captionFilename = true;
        } else if (arg == QLatin1String("--command") && hasValue)
            command = args.at(++i);
        else if (arg.startsWith(QLatin1String("--")))
            return usage();
        else
            positional.append(arg);
    }
    if (positional.size() != 2)
        return usage();
    // Opens the catalog logged in as the account's catalog user (ToolAccount::logIn: strangers and
    // users in no group are refused) and needs READ ONLY on the category at this moment; only the
    // entries the user may read are handed on.
    ToolCatalog::CategoryInCatalog opened = ToolCatalog::openCategory(positional.at(0), positional.at(1), "ovn-mail");
    if (!opened.refusal.isEmpty())
        return refuse(opened.refusal);
    QString unreadable;
    const std::optional<QList<MediaRecord>> found =
        ToolCatalog::recordsWithFiles(*opened.connection, opened.categoryId, &unreadable);
    if (!found)
        return refuse(unreadable.isEmpty() ? QStringLiteral("Media file not found.") : unreadable);
    const QList<MediaRecord> &records = *found;
    if (records.isEmpty())
        return refuse(QStringLiteral("nothing to send"));

    const QString folder = OVNSendImagesAsMail::attachmentFolder();
    if (folder.isEmpty())
        return refuse(QStringLiteral("no private temporary folder"));
    OVNSendImagesAsMail::removeOldAttachments(folder);
    const OVNSendImagesAsMail::Prepared prepared = OVNSendImagesAsMail::prepare(records, options, folder);
    for (const QString &source : prepared.failed)
        std::printf("failed: %s could not be converted\n", ToolText::utf8(QFileInfo(source).fileName()).constData());
    for (const QString &file : prepared.files)
        std::printf("attached: %s\n", ToolText::utf8(file).constData());
    if (prepared.files.isEmpty())
        return refuse(QStringLiteral("nothing to attach"));
    const OVNSendImagesAsMail::Result result = OVNSendImagesAsMail::handOver(command, prepared.files);
    if (result.exitCode < 0)
        std::printf("failed: %s\n", ToolText::utf8(result.problem).constData());
    else
        std::printf("handed to: %s, exit %d\n", ToolText::utf8(result.program).constData(), result.exitCode);
    if (result.exitCode > 0)
        std::printf("failed: %s\n", ToolText::utf8(result.problem).constData());
    // Its decoders end before it does.
    MediaDecoder::endIdleDecoders();
    return result.exitCode == 0 && prepared.failed.isEmpty() ? 0 : 1;
}
