// ovn-publish CATALOG CATEGORY DEST [--title T] [--subtitle S] [--copyright C]: publishes a
// category's entries as a web gallery in DEST with the first theme, as the catalog window's
// Publish to Web does. Prints "gallery: PATH" and "pictures: N", or "refused: TEXT". Exit status
// 0 only when every picture was made.

#include "catalogdb/OVNDatabaseAccess.h"
#include "output/OVNPublishToWeb.h"
#include "platform/CatalogNames.h"

#include "ToolCatalog.h"
#include "ToolProcessTree.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

using ToolStart::refuse;

constexpr const char *usageText =
    "usage: ovn-publish CATALOG CATEGORY DEST [--title T] [--subtitle S] [--copyright C]\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--title", 1}, {"--subtitle", 1}, {"--copyright", 1}}))
        return *end;
    // A probe for scripts: no display needed (the caption's text is drawn into pictures only).
    ToolStart::offscreenUnlessNamed();
    QGuiApplication app(argc, argv);
    ToolProcessTree tree;
    const QStringList args = app.arguments().mid(1);
    OVNPublishToWeb::Texts texts;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--title") && hasValue)
            texts.title = args.at(++i);
        else if (arg == QLatin1String("--subtitle") && hasValue)
            texts.subtitle = args.at(++i);
        else if (arg == QLatin1String("--copyright") && hasValue)
            texts.copyright = args.at(++i);
        else if (arg.startsWith(QLatin1String("--")))
            return usage();
        else
            positional.append(arg);
    }
    if (positional.size() != 3)
        return usage();

    // Opens the catalog logged in as the account's catalog user (ToolAccount::logIn: strangers and
    // users in no group are refused) and needs READ ONLY on the category at this moment; only the
    // entries the user may read are handed on.
    ToolCatalog::CategoryInCatalog opened =
        ToolCatalog::openCategory(positional.at(0), positional.at(1), "ovn-publish");
    if (!opened.refusal.isEmpty())
        return refuse(opened.refusal);
    OVNDatabaseAccess &connection = *opened.connection;
    const std::optional<CategoryNode> category = connection.getCategoryForMID(opened.categoryId);
    if (!category)
        return refuse(QStringLiteral("no category %1").arg(positional.at(1)));
    if (texts.title.isEmpty())
        texts.title = category->value(CatalogNames::keyDisplayTag).toString();

    QString unreadable;
    const std::optional<QList<MediaRecord>> found =
        ToolCatalog::recordsWithFiles(connection, opened.categoryId, &unreadable);
    if (!found)
        return refuse(unreadable.isEmpty() ? QStringLiteral("Media file not found.") : unreadable);
    const QList<MediaRecord> &records = *found;
    if (records.isEmpty())
        return refuse(QStringLiteral("nothing to publish"));
    const QList<OVNPublishToWeb::Theme> themes = OVNPublishToWeb::themes(OVNPublishToWeb::themeRoot());
    if (themes.isEmpty())
        return refuse(QStringLiteral("Failed to locate templates"));

    const OVNPublishToWeb::Result result = OVNPublishToWeb::createWebPages(
        records, themes.first().path, QFileInfo(positional.at(2)).absoluteFilePath(), texts);
    if (result.galleryPath.isEmpty())
        return refuse(result.alertTitle + QStringLiteral(": ") + result.alertMessage);
    std::printf("gallery: %s\npictures: %d\n", ToolText::utf8(result.galleryPath).constData(), result.pictures);
    for (const QString &failure : result.failed)
        std::printf("failed: %s\n", ToolText::utf8(failure).constData());
    // The figures of this process and its decoders together, once they have ended.
    std::printf("%s\n", ToolText::utf8(ToolProcessTree::text(tree.finish())).constData());
    return result.failed.isEmpty() && result.pictures == records.size() ? 0 : 1;
}
