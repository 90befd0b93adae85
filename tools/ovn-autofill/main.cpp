// ovn-autofill: fills in annotations for every entry of a category, as the auto-fill sheet does
// with no thumbnail selected, through the catalog window's own code.
//
//   ovn-autofill CATALOG CATEGORY MODE [FIELD=VALUE]... [--filename COLUMN] [--folders COLUMN N]
//                [--clear-empty]
//
// CATALOG is a catalog file or postgresql://USER@HOST[:PORT]/DATABASE (the password from PGPASSWORD
// or ~/.pgpass), opened as the program opens it: as the catalog user whose login is this account's
// name. When that user may not change the category, or every entry of it (READ & WRITE on the
// category and on the category that owns each entry), nothing is written: "refused: " and the
// program's privilege text, status 1. Each batch asks the levels again as it writes: entries whose
// level is lowered meanwhile are left as they were and counted in "refused". An account the catalog does not let in, a
// category that is not there and a catalog that cannot be opened are refused alike (the catalog's words), status 1.
// CATEGORY is a category id or a collection's name; MODE overwrite, append
// or merge. FIELD is one the auto-fill sheet offers: keywords, shortdesc, fulldesc, modrelinfo,
// proprelinfo, volumename, modrelavailable, proprelavailable; purchased.licensetype,
// purchased.licenserestrictions, purchased.owner, purchased.ordernumber, purchased.photographer;
// sold.licensetype, sold.licenserestrictions, sold.customer. Any other field is refused (status 1)
// before anything is written. An empty VALUE empties the field (written only with --clear-empty). --filename adds
// the file's name to COLUMN (keywords or shortdesc), --folders the names of N enclosing folders.
// A category whose entries could not be read (the server away for longer than it is waited for) is
// refused with the reason, status 1: nothing was filled in.
// Prints "entries: N", "written: W" (fields), "refused: R" (entries), "failed: F" (fields), a line
// "failed: MID COLUMN: reason" per failed field ("failed: MID: reason" for an entry none of whose
// fields could be written), and "time: S s". A run cut off (the server gone for good) says so first:
// "failed: MID and the N entries after it: reason", MID the first entry it left unwritten. Exit
// status 1 when something was refused or failed, 2 on a wrong command line.

#include "app/OVNAnnotationWrites.h"
#include "app/OVNAssetManager.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNAnnotationChanges.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolAccount.h"
#include "tools/common/ToolCatalog.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextStream>

namespace {

constexpr const char *usageText = "usage: ovn-autofill CATALOG CATEGORY overwrite|append|merge [FIELD=VALUE]... "
                                  "[--filename COLUMN] [--folders COLUMN N] [--clear-empty]\n";

int usage(const QString &problem)
{
    QTextStream err(stderr);
    if (!problem.isEmpty())
        err << "ovn-autofill: " << ToolText::printable(problem) << Qt::endl;
    err << usageText;
    return 2;
}

// "MID COLUMN: reason" for a field, "MID: reason" for a whole entry; a stop names the first entry it
// left unwritten and counts the others.
QString failureLine(const OVNAssetManager::AnnotationSummary &summary, qsizetype index)
{
    const OVNAssetManager::AnnotationFailure &failure = summary.failures.at(index);
    QString subject = ToolText::printable(failure.mid);
    const bool stop = index == 0 && !summary.committed && summary.leftByStop > 0;
    if (stop && summary.leftByStop > 1)
        subject += countedText(summary.leftByStop - 1, " and the %1 entry after it", " and the %1 entries after it");
    if (subject.isEmpty())
        subject = QStringLiteral("the run was cut off before an entry");
    if (!failure.column.isEmpty())
        subject += QLatin1Char(' ') + ToolText::printable(failure.column);
    return subject + QStringLiteral(": ") + ToolText::printable(failure.reason);
}

bool isTextColumn(const QString &column)
{
    return column == QLatin1String("keywords") || column == QLatin1String("shortdesc");
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--clear-empty"}, {"--filename", 1}, {"--folders", 2}}))
        return *end;
    // A tool for scripts: no display needed.
    ToolStart::offscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));

    QStringList args = QApplication::arguments().mid(1);
    if (args.size() < 3)
        return usage(QString());
    const QString catalog = args.takeFirst();
    const QString categoryName = args.takeFirst();
    const QString modeName = args.takeFirst();
    AnnotationChanges::Mode mode;
    if (modeName == QLatin1String("overwrite"))
        mode = AnnotationChanges::Mode::Overwrite;
    else if (modeName == QLatin1String("append"))
        mode = AnnotationChanges::Mode::Append;
    else if (modeName == QLatin1String("merge"))
        mode = AnnotationChanges::Mode::Merge;
    else
        return usage(QStringLiteral("MODE is overwrite, append or merge, not ") + modeName);

    AnnotationChanges changes;
    bool clearEmpty = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--clear-empty")) {
            clearEmpty = true;
        } else if (arg == QLatin1String("--filename")) {
            const QString column = args.isEmpty() ? QString() : args.takeFirst();
            if (!isTextColumn(column))
                return usage(QStringLiteral("--filename takes keywords or shortdesc"));
            (column == QLatin1String("keywords") ? changes.keywordsAddFilename : changes.shortDescriptionAddFilename) =
                true;
        } else if (arg == QLatin1String("--folders")) {
            const QString column = args.isEmpty() ? QString() : args.takeFirst();
            const std::optional<qint64> count = args.isEmpty() ? std::nullopt
                                                               : ToolNumber::parseInteger(args.takeFirst(), 0, 4);
            if (!isTextColumn(column) || !count)
                return usage(QStringLiteral("--folders takes keywords or shortdesc and a count from 0 to 4"));
            (column == QLatin1String("keywords") ? changes.keywordsParseFolders
                                                 : changes.shortDescriptionParseFolders) = int(*count);
        } else if (arg.contains(QLatin1Char('=')) && !arg.startsWith(QLatin1Char('-'))) {
            const qsizetype equals = arg.indexOf(QLatin1Char('='));
            QString field = arg.left(equals);
            const QString value = arg.mid(equals + 1);
            AnnotationChanges::Table table = AnnotationChanges::Table::Info;
            if (field.startsWith(QLatin1String("purchased."))) {
                table = AnnotationChanges::Table::Purchased;
                field = field.mid(10);
            } else if (field.startsWith(QLatin1String("sold."))) {
                table = AnnotationChanges::Table::Sold;
                field = field.mid(5);
            }
            if (field.isEmpty())
                return usage(QStringLiteral("no field name in ") + arg);
            changes.changes(table).insert(field, value);
        } else {
            return usage(QStringLiteral("unknown argument ") + arg);
        }
    }

    // Only the fields the auto-fill sheet offers, refused before the catalog is opened.
    if (const std::optional<QString> other = changes.firstFieldNotOffered())
        return ToolStart::refuse(OVNAnnotationWrites::notOfferedText(*other));

    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    std::shared_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::AsTheyAre, "ovn-autofill");
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty())
        return ToolStart::refuse(failure);
    if (const QString refusal = ToolCatalog::logIn(*connection); !refusal.isEmpty())
        return ToolStart::refuse(refusal);
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->windowControllerDidLoadNib();

    // An id first; a name only names a collection.
    QString categoryId;
    for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems()) {
        if (item->node.value(CatalogNames::keyMid).toString() == categoryName) {
            categoryId = categoryName;
            break;
        }
        if (categoryId.isEmpty() && item->node.value(CatalogNames::keyType).toString() == QLatin1String("C")
            && item->node.value(CatalogNames::keyDisplayTag).toString() == categoryName)
            categoryId = item->node.value(CatalogNames::keyMid).toString();
    }
    if (categoryId.isEmpty() || !window->selectCategory(categoryId)) {
        delete window.data();
        return ToolStart::refuse(QStringLiteral("no category %1").arg(categoryName));
    }
    // A list that could not be read is no empty category: nothing was filled in.
    if (const QString failure = window->listReadFailure(); !failure.isEmpty()) {
        delete window.data();
        return ToolStart::refuse(failure);
    }
    window->mediaView()->deselectAll();
    // As the catalog window asks before its auto-fill: the selected category first (also when it
    // shows no entry the user may read), then the category that owns each entry.
    QStringList owners{categoryId};
    for (int row : window->mediaView()->allRows())
        owners.append(window->mediaView()->mediaObject(CatalogNames::keyCategoryId, row).toString());
    if (const QString refusal = ToolAccount::refusal(*connection, QStringLiteral("READ & WRITE"), owners);
        !refusal.isEmpty()) {
        delete window.data();
        return ToolStart::refuse(refusal);
    }

    QElapsedTimer timer;
    timer.start();
    const OVNAssetManager::AnnotationSummary summary = window->applyAnnotationChanges(changes, mode, clearEmpty, false);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    QTextStream out(stdout);
    out << "entries: " << summary.entries << '\n'
        << "written: " << summary.written << '\n'
        << "refused: " << summary.refused << '\n'
        << "failed: " << summary.failed << '\n';
    for (qsizetype i = 0; i < summary.failures.size(); ++i)
        out << "failed: " << failureLine(summary, i) << '\n';
    out << "time: " << QString::number(seconds, 'f', 3) << " s" << Qt::endl;
    delete window.data();
    return summary.refused > 0 || summary.failed > 0 ? 1 : 0;
}
