// ovn-recordexport CATALOG COLLECTION FILE: imports the files a Cumulus record export lists into a
// collection (an id, or a name, made when missing), printing "imported N", "failed M" and a
// "failed: PATH: REASON" line for each record not imported; exit status 1 when a record failed.
//
// CATALOG is a catalog file (made when missing) or postgresql://USER@HOST[:PORT]/DATABASE with the
// password from PGPASSWORD or ~/.pgpass. A refused export exits with 1 and the reason on standard
// error; so does a catalog that cannot be used; 2 for a wrong command line. An account the catalog
// does not let in, or a collection the user may not change, prints "refused: " and the program's
// words and exits with 1.

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNCumulusParser.h"

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

constexpr const char *usageText = "usage: ovn-recordexport CATALOG COLLECTION FILE\n"
                                  "  imports the files of a record export into the collection\n";

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 3) {
        std::fputs(usageText, stderr);
        return 2;
    }
    // The export is read before the catalog is touched: a refused file makes no collection.
    const OVNCumulusParser::Parsed parsed = OVNCumulusParser::readFile(args.at(2));
    if (parsed.refused()) {
        // Named, as the other tools name what they refuse: several exports may be read in one script.
        std::fprintf(stderr, "ovn-recordexport: %s: %s\n%s\n", ToolText::utf8(args.at(2)).constData(),
                     ToolText::utf8(parsed.errorTitle).constData(), ToolText::utf8(parsed.errorMessage).constData());
        return 1;
    }
    std::unique_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(args.at(0), ToolCatalog::Tables::CreateWhenMissing, "ovn-recordexport");
    if (const QString failure = ToolCatalog::openFailure(*connection, args.at(0)); !failure.isEmpty()) {
        std::fprintf(stderr, "ovn-recordexport: %s\n", ToolText::utf8(failure).constData());
        return 1;
    }
    if (const QString refusal = ToolCatalog::logIn(*connection); !refusal.isEmpty())
        return ToolStart::refuse(refusal);
    // Into a collection that is there only with the right to change it; a new one is made at the
    // top level, which every user of the catalog may do.
    const QString &name = args.at(1);
    QString categoryId = ToolCatalog::categoryId(*connection, name);
    bool madeHere = false;
    if (!categoryId.isEmpty()) {
        if (const QString refusal = ToolAccount::refusal(*connection, QStringLiteral("READ & WRITE"), {categoryId});
            !refusal.isEmpty())
            return ToolStart::refuse(refusal);
    } else {
        QString error;
        categoryId = OVNCatalogSession::findOrMakeCategory(*connection, name, QStringLiteral("C"), QString(),
                                                           ToolCatalog::waitSeconds, nullptr, ToolCatalog::sayStatus,
                                                           &error, &madeHere);
        if (categoryId.isEmpty()) {
            const QString what = QStringLiteral("cannot make the collection ") + name;
            std::fprintf(stderr, "ovn-recordexport: %s\n",
                         ToolText::utf8(error.trimmed().isEmpty()
                                            ? ToolAccount::failure(*connection, what)
                                            : what + QStringLiteral(": ") + ToolCatalog::catalogWords(error))
                             .constData());
            return 1;
        }
    }

    OVNImportWorker::Settings settings;
    settings.categoryId = categoryId;
    OVNDatabaseAccess *shared = connection.get();
    OVNImportWorker worker([shared] { return shared->openSiblingConnection(); }, settings);
    OVNImportWorker::Summary summary;
    ToolStart::runServingEvents([&] { summary = worker.run(parsed.items); });
    // A collection made for an export that imported nothing goes again.
    if (madeHere && summary.importedIds.isEmpty()
        && OVNCatalogSession::removeIfEmpty(*connection, categoryId, QStringLiteral("C"), ToolCatalog::waitSeconds,
                                            ToolCatalog::sayStatus)
               == OVNCatalogSession::Removal::Removed)
        std::fprintf(stderr, "ovn-recordexport: nothing was imported: the collection %s made for it was removed\n",
                     ToolText::utf8(name).constData());
    if (summary.connectionFailed) {
        std::fprintf(stderr, "ovn-recordexport: the import could not open its connection\n");
        return 1;
    }
    // Only what is in the catalog counts as imported; a file catalogued with a problem is not failed.
    QList<OVNImportWorker::Failure> failed = parsed.failed;
    const QSet<QString> notImported(summary.notImported.cbegin(), summary.notImported.cend());
    QSet<QString> listed;
    for (const OVNImportWorker::Failure &failure : summary.failures)
        if (notImported.contains(failure.path) && !listed.contains(failure.path)) {
            failed.append(failure);
            listed.insert(failure.path);
        }
    for (const QString &path : summary.notImported)
        if (!listed.contains(path))
            failed.append({path, QStringLiteral("not imported")});
    std::printf("imported %lld\nfailed %lld\n", static_cast<long long>(summary.importedIds.size()),
                static_cast<long long>(failed.size()));
    for (const OVNImportWorker::Failure &failure : failed)
        std::printf("failed: %s: %s\n", ToolText::utf8(failure.path).constData(),
                    ToolText::utf8(failure.reason).constData());
    return failed.isEmpty() ? 0 : 1;
}
