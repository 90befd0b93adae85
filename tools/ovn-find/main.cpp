// ovn-find CATALOG SETTINGS [--save NAME] | ovn-find CATALOG --smart-folder ID: compiles a search
// as the find sheet does and runs it. CATALOG is a catalog file or postgresql://USER@HOST[:PORT]/DB;
// SETTINGS a property-list file (XML or text form) of {"CATALOG", "LINES"}; the search-in list is
// the catalog window's. Prints "sql: STATEMENT", "found: N", then "MID<TAB>DISPLAYTAG" per entry
// (an entry left out for texts too large for the lines is named on standard error, "left out: ");
// --save stores the search as a smart folder and prints "saved: ID"; a refused search prints
// "refused: MESSAGE" and exits 1, as does a catalog that cannot be opened; 2 is a wrong command
// line. The search-in list holds only categories the user may read; a folder covers every readable
// category below it, also inside a folder the user may not read. A place the list does not offer
// (renamed or deleted since, or unreadable) searches every entry, as the find sheet does.
// Control characters of the catalog's text are printed as \xHH, a backslash as \\. The search runs as the account's
// catalog user and finds only entries that user may read; an account the catalog does not let in
// is refused, as the program refuses it, and reads nothing.

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/HeapTuning.h"
#include "platform/PropertyList.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNFind.h"

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using ToolStart::refuse;

constexpr const char *usageText =
    "usage: ovn-find CATALOG SETTINGS [--save NAME]\n"
    "       ovn-find CATALOG --smart-folder ID\n"
    "SETTINGS is a property-list file (XML or text form) holding what the find sheet keeps, e.g.\n"
    "  { CATALOG = Travel; LINES = ( { FIELDTITLE = Name; OPERATORID = 0; VALUE = \"beach\"; },\n"
    "      { COMBOPERATORTITLE = OR; FIELDTITLE = Rating; OPERATORID = 1; VALUE = 3; } ); }\n"
    "  CATALOG            where to search: a title of the sheet's search-in list (none: every entry)\n"
    "  FIELDTITLE         a field's title as the sheet's field pop-up shows it\n"
    "  OPERATORID         the sheet's operator pop-up counted from 0: for texts contains, starts with,\n"
    "                     ends with, is, is empty; for numbers equals, is larger than, is smaller than;\n"
    "                     for dates equals, is after, is before; for yes-or-no fields YES, NO; for a\n"
    "                     field with a list of values, that list\n"
    "  VALUE              what the field is compared with\n"
    "  COMBOPERATORTITLE  AND (the default) or OR, joining the line to the ones before it\n"
    "  --save NAME        also stores the search as a smart folder NAME\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

// A category comment's dictionary (XML or text form); empty for anything else.
QVariantMap commentDictionary(const QString &comment)
{
    const QVariant value = PropertyList::read(comment.toUtf8());
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {{"--save", 1}, {"--smart-folder", 1}}))
        return *end;
    // The allocator set up as the application sets it, so that the listing costs what it costs there.
    HeapTuning::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return usage();
    const QString catalog = args.takeFirst();
    QVariantMap settings;
    QString saveName;
    bool save = false;
    std::unique_ptr<OVNDatabaseAccess> db = ToolCatalog::open(catalog, ToolCatalog::Tables::AsTheyAre, "ovn-find");
    if (const QString failure = ToolCatalog::openFailure(*db, catalog); !failure.isEmpty())
        return refuse(failure);
    if (const QString refusal = ToolCatalog::logIn(*db); !refusal.isEmpty())
        return refuse(refusal);
    if (args.first() == QLatin1String("--smart-folder")) {
        if (args.size() != 2)
            return usage();
        const std::optional<CategoryNode> node = db->getCategoryForMID(args.at(1));
        if (!node || node->value(CatalogNames::keyType).toString() != QLatin1String("I"))
            return refuse(QStringLiteral("No smart folder has the id %1.").arg(args.at(1)));
        if (const QString refusal = ToolAccount::refusal(*db, QStringLiteral("READ ONLY"), {args.at(1)});
            !refusal.isEmpty())
            return refuse(refusal);
        settings = commentDictionary(node->value(CatalogNames::keyComment).toString());
        if (settings.isEmpty())
            return refuse(QStringLiteral("The smart folder holds no search."));
    } else {
        QFile file(args.takeFirst());
        // A file that is not there is a request that cannot be met, not a wrong command line.
        if (!file.open(QIODevice::ReadOnly))
            return refuse(
                QStringLiteral("The settings file %1 cannot be read: %2").arg(file.fileName(), file.errorString()));
        const QVariant read = PropertyList::read(file.readAll());
        if (read.typeId() != QMetaType::QVariantMap)
            return refuse(QStringLiteral("The settings file holds no dictionary."));
        settings = read.toMap();
        if (!args.isEmpty()) {
            if (args.size() != 2 || args.first() != QLatin1String("--save"))
                return usage();
            save = true;
            saveName = args.at(1);
        }
    }

    OVNFind find;
    for (const OVNFind::Catalog &item : OVNFind::catalogsOf(*db))
        find.addCatalog(item.title, item.ids);
    // As the find sheet: a place the list does not offer (renamed since a smart folder was saved,
    // deleted, or one the user may not read) searches every entry, and only the entries the user
    // may read are listed below.
    find.setSearchSettings(settings);
    const QString refusal = find.refusal();
    if (!refusal.isEmpty())
        return refuse(refusal);
    const QString sql = find.searchClause(OVNFind::dialectOf(*db));
    std::printf("sql: %s\n", ToolText::utf8(sql).constData());
    // As the find sheet: an entry whose texts are too large for what the lines ask of each is left
    // out, and named when the user may read it.
    const OVNDatabaseAccess::ReadOnlySearch checked = OVNExpressSearch::checkFieldSizes(*db, find);
    if (checked.status == OVNDatabaseAccess::ReadOnlySearch::Status::Failed)
        return refuse(OVNExpressSearch::failureText(*db));
    if (checked.status != OVNDatabaseAccess::ReadOnlySearch::Status::Found)
        return refuse(checked.message);
    // Read-only, and ended by the server at the search time limit, as the find sheet runs it.
    OVNDatabaseAccess::ReadOnlySearch all = db->searchMediaListReadOnly(sql, OVNExpressSearch::defaultTimeLimitMs);
    if (all.status == OVNDatabaseAccess::ReadOnlySearch::Status::Failed)
        return refuse(OVNExpressSearch::failureText(*db));
    if (all.status != OVNDatabaseAccess::ReadOnlySearch::Status::Found)
        return refuse(all.message);
    QString unreadable;
    const std::optional<MediaList> readable = ToolAccount::readable(*db, std::move(all.records), &unreadable);
    if (!readable)
        return refuse(unreadable);
    const MediaList &found = *readable;
    if (!checked.leftOut.isEmpty())
        std::fprintf(stderr, "left out: %s\n", ToolText::utf8(checked.leftOut).constData());
    std::printf("found: %lld\n", static_cast<long long>(found.size()));
    QByteArray lines;
    for (const MediaRecordRef &record : found) {
        lines += ToolText::utf8(record->field(MediaRecord::Mid));
        lines += '\t';
        lines += ToolText::utf8(record->field(MediaRecord::DisplayTag));
        lines += '\n';
    }
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
    if (save) {
        if (saveName.trimmed().isEmpty())
            return refuse(QStringLiteral("The smart folder needs a name."));
        const QString mid = db->addCategoryListEntry(saveName, QStringLiteral("I"));
        if (mid.isEmpty())
            return refuse(QStringLiteral("The smart folder could not be made."));
        if (!db->updateCategoryListComment(mid,
                                           QString::fromUtf8(PropertyList::writeOpenStep(find.searchSettings())))) {
            db->deleteCategoryListEntry(mid);
            return refuse(QStringLiteral("The search could not be stored in the smart folder."));
        }
        std::printf("saved: %s\n", ToolText::utf8(mid).constData());
        return 0;
    }
    // Only read: the system takes the memory and the connection back at once, without freeing
    // the records and the page cache one by one.
    std::fflush(stdout);
    std::_Exit(0);
}
