// ovn-catalog-window: opens a catalog window on a catalog file or a server catalog
// (postgresql://USER@HOST[:PORT]/DATABASE, as this account's catalog user), as the program's first window
// does, and optionally selects a category and thumbnails, so that the window can be looked at and
// photographed without going through start-up.
//
//   ovn-catalog-window FILE [--category NAME] [--row N] [--select NAME[,NAME...]] [--grab PNG]
//                      [--show-database] [--copy] [--paste] [--stay SECONDS]
//                      [--print-pdf PDF [--per-line N] [--print-style S] [--selection-only]]
//                      [--rate N] [--rotate left|right]...
//                      [--filter TEXT [--filter-field TAG]] [--actions] [--wait-for PATH]
//                      [--smart-add PATH... [--prefill FIELD=VALUE]...] [--outline] [--list]
//                      [--menus]
//
// --wait-for prints "waiting" once the outline is loaded and carries out the other options only
// once PATH exists: the window stands open meanwhile, as a user's does while someone else (an
// administrator) changes the catalog; the outline is not loaded again.
// --category selects the first category of that name ("Database" for the section item), --row
// selects a thumbnail in it, --select the thumbnails of those names in that order ("selected N"),
// --grab writes the window to a PNG file and quits. --copy puts the selected thumbnails on the
// clipboard ("copied N") and --stay keeps the window that long, so that other programs can take
// them; --paste adds the clipboard's files to the category, waits for the import and quits
// ("pasted N": the entries the category gained). --print-pdf prints the thumbnails as a contact
// sheet on A4 portrait paper into a PDF file without a print panel, prints the status line and
// quits (status 1 when there was nothing to print). --rate rates the selected thumbnails and
// --rotate turns them, as the Media menu does ("rated N", "turned right N": the entries changed).
// --filter types the text into the filter field, searching the field of the filter menu's tag
// (0 all, 1 name, 2 keywords, 3 title, 4 description, 5 rating), and prints "shown N"; --actions
// prints a line per menu command with the thumbnail view focused: "menuSetRating 3 enabled
// checked". Rating, turning, --filter and --actions quit afterwards unless --stay, --grab or
// --paste keeps the window.
//
// FILE may also be postgresql://USER@HOST[:PORT]/DATABASE (the password from PGPASSWORD or
// ~/.pgpass). The window works as the catalog user whose login is this account's name, as in the
// program. The options that write (--rate, --rotate, --paste, --rescan, --delete-category) are
// checked first as the window checks its commands: when the user may not, the tool prints
// "refused: " and the window's privilege text, writes nothing and exits with status 1.
// --smart-add runs the window's smart add on the paths after FILE, as if the open panel had
// answered them, and waits for its import to end; --outline then prints the rows the outline
// shows, one a line, indented two spaces per level: "NAME COUNT", or "NAME" where no count shows.
// Either quits afterwards unless --stay or --grab keeps the window. --smart-add goes through the
// smart add's open panel: each --prefill types VALUE into FIELD of the panel's smart-add pane first
// (FIELD a record key such as keywords, shortdesc, fulldesc, modrelinfo, or purchased.KEY and
// sold.KEY for the licence fields: purchased.owner, sold.customer; a check box takes 1 or 0, a
// licence type the index or the title of its item). --menus prints every item of the window's menus
// (the application's among them) and of its toolbar, one a line as "MENU > ITEM" (submenus and
// the toolbar's menus as further steps, the toolbar as "Toolbar"), with " (disabled)" after the
// items the window disables now, and quits. --list prints "listed N" and
// then the names of the thumbnails the window shows, one a line in its order, once the category is
// selected (after --wait-for: what an open window lists after another user's change), and quits
// afterwards as --filter does. --drops PATH shows the window on the display and takes drops from
// other programs until PATH exists: it prints "thumbnails X Y" (the centre of the thumbnails on the
// screen) once the window is there, "position" for each place of a drag over the window it is told
// of, and "imported" as each import ends, and quits once the imports under way have ended.
// --new-collection NAME makes a collection at the top level as the category menu's New Collection
// does ("created NAME"); --export DIR exports the selection (or the selected category's entries)
// as the Export command hands them on, at the export sheet's first size ("exported N of M", and
// "left out: NAME" for each entry the user may no longer see). Either, refused, prints "refused: "
// and the window's alert on one line and exits with status 1; both quit afterwards. With
// --wait-for they act after the wait, as an open window does after an administrator's change.

#include "app/OVNAssetManager.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNDocumentController.h"
#include "app/OVNSmartAddPanel.h"
#include "browser/OVNMediaDetails.h"
#include "app/OVNOutlineView.h"
#include "app/OVNRegisteredDefaults.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportMedia.h"
#include "output/OVNExportImages.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolUsage.h"

#include "tools/common/ToolAccount.h"
#include "tools/common/ToolCatalog.h"
#include "tools/common/ToolAlerts.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>
#include <QPrinter>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include <functional>

namespace {

// Selects the thumbnails with these names, in the order given; answers the names not shown.
QStringList selectByName(OVNMediaView *view, const QStringList &names)
{
    QStringList missing;
    view->deselectAll();
    // The first row of each name, looked up once: selections of thousands stay quick.
    QHash<QString, int> rows;
    for (int candidate = view->count() - 1; candidate >= 0; --candidate)
        rows.insert(view->mediaObject(CatalogNames::keyDisplayTag, candidate).toString(), candidate);
    for (const QString &name : names) {
        const int row = rows.value(name, -1);
        if (row >= 0)
            view->selectImage(row, false, false);
        else
            missing.append(name);
    }
    view->notifySelectionDidChange();
    return missing;
}

// Rates and then turns the selected thumbnails, as the Media menu does; prints what changed.
// Answers whether anything was asked for.
bool rateAndRotate(OVNAssetManager *window, const QCommandLineParser &parser)
{
    const bool rate = parser.isSet(QStringLiteral("rate"));
    const QStringList turns = parser.values(QStringLiteral("rotate"));
    if (!rate && turns.isEmpty())
        return false;
    OVNMediaView *view = window->mediaView();
    const QList<int> rows = view->selectedRows();
    const auto changedRows = [&](const QString &key, const QStringList &before) {
        int changed = 0;
        for (qsizetype i = 0; i < rows.size(); ++i)
            changed += view->mediaObject(key, rows.at(i)).toString() != before.at(i) ? 1 : 0;
        return changed;
    };
    const auto values = [&](const QString &key) {
        QStringList result;
        for (int row : rows)
            result.append(view->mediaObject(key, row).toString());
        return result;
    };
    if (rate) {
        const int rating = parser.value(QStringLiteral("rate")).toInt();
        window->menuSetRating(rating);
        int rated = 0;
        for (int row : rows)
            rated += view->mediaObject(CatalogNames::keyRating, row).toString() == QString::number(rating) ? 1 : 0;
        QTextStream(stdout) << "rated " << rated << Qt::endl;
    }
    for (const QString &turn : turns) {
        const QStringList before = values(CatalogNames::keyOrientation);
        if (turn == QLatin1String("left")) {
            window->menuRotateLeft();
        } else if (turn == QLatin1String("right")) {
            window->menuRotateRight();
        } else {
            QTextStream(stderr) << "ovn-catalog-window: --rotate takes left or right, not " << turn << Qt::endl;
            continue;
        }
        QTextStream(stdout) << "turned " << turn << ' ' << changedRows(CatalogNames::keyOrientation, before)
                            << Qt::endl;
    }
    return true;
}

int printPdf(OVNAssetManager *window, const QString &target, int perLine, int style, bool selectionOnly)
{
    OVNMediaView *view = window->mediaView();
    view->setPrintImagesPerLine(perLine);
    view->setPrintStyle(style);
    view->setPrintSelectionOnly(selectionOnly);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(target);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Point);
    view->setPrintInfo(printer.pageLayout());
    QTextStream(stdout) << window->viewPrintOptionsRecalc() << Qt::endl;
    if (!window->printContactSheet(printer)) {
        QTextStream(stderr) << "ovn-catalog-window: nothing printed to " << target << Qt::endl;
        return 1;
    }
    return 0;
}

// ---- outline: --smart-add, --outline ----
// The rows the outline shows (inside open folders only), depth first.
void printOutline(OVNAssetManager *window)
{
    QTextStream out(stdout);
    const OVNCategoryTreeModel *model = window->categoryModel();
    const QTreeView *outline = window->categoryList();
    std::function<void(const QModelIndex &, int)> walk = [&](const QModelIndex &parent, int depth) {
        for (int row = 0; row < model->rowCount(parent); ++row) {
            const QModelIndex name = model->index(row, 0, parent);
            const QString count = model->columnCount(parent) > 1 ? model->data(model->index(row, 1, parent)).toString()
                                                                 : QString();
            out << QString(depth * 2, QLatin1Char(' ')) << ToolText::printable(model->data(name).toString());
            if (!count.isEmpty())
                out << ' ' << count;
            out << Qt::endl;
            if (outline->isExpanded(name))
                walk(name, depth + 1);
        }
    };
    walk(QModelIndex(), 0);
}
// ---- end outline ----

// ---- smart add's pane: --prefill ----
// Types `value` into the control as a user does: key presses into a text field ended with Return,
// a click on a check box that does not show the value yet, the item of a licence pop-up.
bool typeInto(QWidget *control, const QString &value)
{
    if (auto *text = qobject_cast<QLineEdit *>(control)) {
        text->setFocus();
        text->selectAll();
        if (value.isEmpty()) {
            QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
            QApplication::sendEvent(text, &erase);
        }
        for (const QChar character : value) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
            QApplication::sendEvent(text, &press);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(text, &enter);
        return true;
    }
    if (auto *box = qobject_cast<QCheckBox *>(control)) {
        if (value != QLatin1String("1") && value != QLatin1String("0"))
            return false;
        if (box->isChecked() != (value == QLatin1String("1")))
            box->click();
        return true;
    }
    if (auto *popUp = qobject_cast<QComboBox *>(control)) {
        bool number = false;
        int index = value.toInt(&number);
        if (!number)
            index = popUp->findText(value);
        if (index < 0 || index >= popUp->count())
            return false;
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
        return true;
    }
    return false;
}

// Types each FIELD=VALUE into the pane; answers the first that cannot be typed ("" when all went).
QString prefillPane(OVNMediaDetails *pane, const QStringList &assignments)
{
    for (const QString &assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return assignment;
        QString field = assignment.left(equals);
        OVNMediaDetails::Store store = OVNMediaDetails::Store::Annotation;
        for (const auto &[prefix, table] : {std::pair{QStringLiteral("purchased."), OVNMediaDetails::Store::Purchased},
                                            std::pair{QStringLiteral("sold."), OVNMediaDetails::Store::Sold}}) {
            if (field.startsWith(prefix)) {
                store = table;
                field.remove(0, prefix.size());
            }
        }
        QWidget *control = pane->showField(store, field);
        if (!control || !typeInto(control, assignment.mid(equals + 1)))
            return assignment;
    }
    return QString();
}
// ---- end smart add's pane ----

// ---- menus: --menus ----
QString plainTitle(QString title) { return title.remove(QLatin1Char('&')); }

void printMenu(QTextStream &out, const QString &path, QMenu *menu)
{
    // What the window shows when the menu opens: its items refreshed first.
    emit menu->aboutToShow();
    for (QAction *item : menu->actions()) {
        if (item->isSeparator() || !item->isVisible())
            continue;
        const QString step = path + QStringLiteral(" > ") + ToolText::printable(plainTitle(item->text()));
        // A submenu's items; an empty one (Open Recent at first) is an item of its own.
        if (item->menu() && !item->menu()->isEmpty()) {
            printMenu(out, step, item->menu());
            continue;
        }
        out << step << (item->isEnabled() ? "" : " (disabled)") << Qt::endl;
    }
}

void printMenus(OVNAssetManager *window)
{
    QTextStream out(stdout);
    for (QAction *top : window->menuBar()->actions()) {
        if (top->menu() && top->isVisible())
            printMenu(out, plainTitle(top->menu()->title()), top->menu());
    }
    const QToolBar *toolbar = window->findChild<QToolBar *>();
    if (!toolbar)
        return;
    const QString bar = QStringLiteral("Toolbar");
    for (QAction *item : toolbar->actions()) {
        if (item->isSeparator() || !item->isVisible())
            continue;
        QString label = plainTitle(item->iconText());
        const auto *holder = qobject_cast<QWidgetAction *>(item);
        const QWidget *control = holder ? holder->defaultWidget() : nullptr;
        if (label.isEmpty())
            continue; // a space
        const QString step = bar + QStringLiteral(" > ") + ToolText::printable(label);
        out << step << (item->isEnabled() ? "" : " (disabled)") << Qt::endl;
        if (!control)
            continue;
        // A control's own choices: a pop-up button's menu, a segment's name.
        for (QToolButton *button : control->findChildren<QToolButton *>()) {
            if (button->menu())
                printMenu(out, step, button->menu());
            else if (button->isCheckable())
                out << step << " > " << ToolText::printable(plainTitle(button->toolTip()))
                    << (button->isEnabled() ? "" : " (disabled)") << Qt::endl;
        }
    }
}
// ---- end menus ----

// ---- categories: --new-surveillance-folder, --rescan, --delete-category ----
void waitForImports(OVNAssetManager *window)
{
    while (!window->findChildren<OVNImportMedia *>().isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// ---- drops ----
// Says "position" for each place of a drag over the window the window system reports (the answer
// goes back right after it), so that whoever drives the pointer knows it has been answered.
class DragPositions : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)
            QTextStream(stdout) << "position" << Qt::endl;
        return QObject::eventFilter(watched, event);
    }
};

// The window on screen, taking drops from other programs until `donePath` exists: prints where the
// thumbnails are ("thumbnails X Y", their centre on the screen) once the window manager has put it
// there, and "imported" as each import ends. Waits for the imports under way before it answers.
int watchDrops(OVNAssetManager *window, const QString &donePath)
{
    window->show();
    window->raise();
    window->activateWindow();
    const QPointer<OVNAssetManager> alive(window);
    NotificationCenter::defaultCenter().addObserver(
        window, OVNAssetManager::importMediaDidFinishNotification(),
        [](const QString &, const QVariantMap &) { QTextStream(stdout) << "imported" << Qt::endl; });
    QElapsedTimer shown;
    shown.start();
    while (alive && !(window->windowHandle() && window->windowHandle()->isExposed())) {
        if (shown.elapsed() > 60000)
            return 1;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    // The window manager's frame settles before the place is read.
    QElapsedTimer settle;
    settle.start();
    while (alive && settle.elapsed() < 500)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!alive)
        return 1;
    window->windowHandle()->installEventFilter(new DragPositions(window));
    QWidget *thumbnails = window->mediaView()->viewport();
    const QPoint centre = thumbnails->mapToGlobal(thumbnails->rect().center());
    QTextStream(stdout) << "thumbnails " << centre.x() << ' ' << centre.y() << Qt::endl;
    while (alive && !QFileInfo::exists(donePath))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    // A drop sent just before is taken before the imports are waited for.
    settle.restart();
    while (alive && settle.elapsed() < 1500)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!alive)
        return 1;
    waitForImports(window);
    return 0;
}

std::optional<CategoryNode> categoryNamed(OVNAssetManager *window, const QString &name)
{
    for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems()) {
        if (item->node.value(CatalogNames::keyDisplayTag).toString() == name
            && item->node.contains(CatalogNames::keyMid))
            return window->databaseConnection()->getCategoryForMID(item->node.value(CatalogNames::keyMid).toString());
    }
    return std::nullopt;
}

// Nothing when none of the options is given; otherwise the exit status once the worker and its
// imports are done.
std::optional<int> runCategoryCommands(OVNAssetManager *window, const QCommandLineParser &parser)
{
    QTextStream out(stdout);
    if (parser.isSet(QStringLiteral("new-surveillance-folder"))) {
        const QString mid =
            window->categoryActions().addSurveillanceFolder(parser.value(QStringLiteral("new-surveillance-folder")));
        waitForImports(window);
        if (mid.isEmpty()) {
            out << "not created" << Qt::endl;
            return 1;
        }
        out << "created " << window->databaseConnection()->getEntryCountForCategory(mid, QStringLiteral("M"))
            << " entries" << Qt::endl;
        return 0;
    }
    const bool rescan = parser.isSet(QStringLiteral("rescan"));
    const bool remove = parser.isSet(QStringLiteral("delete-category"));
    if (!rescan && !remove)
        return std::nullopt;
    const QString name = parser.value(rescan ? QStringLiteral("rescan") : QStringLiteral("delete-category"));
    const std::optional<CategoryNode> node = categoryNamed(window, name);
    if (!node || node->isEmpty()) {
        QTextStream(stderr) << "ovn-catalog-window: no category named " << ToolText::printable(name) << Qt::endl;
        return 1;
    }
    QEventLoop loop;
    int status = 0;
    if (rescan) {
        QObject::connect(window, &OVNAssetManager::rescanFinished, &loop,
                         [&](int added, int missing, int changed, const QString &refusal) {
                             if (refusal.isEmpty())
                                 out << "new " << added << " missing " << missing << " changed " << changed << Qt::endl;
                             else
                                 out << ToolText::printable(refusal) << Qt::endl;
                             status = refusal.isEmpty() ? 0 : 1;
                             loop.quit();
                         });
        // A refusal is reported before the call returns.
        if (!window->categoryActions().rescanSurveillanceFolder(*node))
            return status == 0 ? 1 : status;
    } else {
        // No alert is answered here but by its default button, "Delete".
        QObject::connect(window, &OVNAssetManager::deletionFinished, &loop, [&](const QString &failure) {
            out << (failure.isEmpty() ? QStringLiteral("deleted") : ToolText::printable(failure)) << Qt::endl;
            status = failure.isEmpty() ? 0 : 1;
            loop.quit();
        });
        if (!window->categoryActions().deleteCategory(*node)) {
            out << "not deleted" << Qt::endl;
            return 1;
        }
    }
    loop.exec();
    waitForImports(window);
    return status;
}
// ---- end categories ----

// Empty when the catalog user may do what the writing options ask; otherwise the window's refusal.
QString writeRefusal(OVNAssetManager *window, const QCommandLineParser &parser)
{
    OVNDatabaseAccess &connection = *window->databaseConnection();
    const QString readWrite = QStringLiteral("READ & WRITE");
    if (parser.isSet(QStringLiteral("rate")) || parser.isSet(QStringLiteral("rotate"))) {
        // Each selected entry answers to the category that owns it.
        QStringList owners;
        for (int row : window->mediaView()->selectedRows())
            owners.append(window->mediaView()->mediaObject(CatalogNames::keyCategoryId, row).toString());
        if (!owners.isEmpty()) {
            if (const QString refusal = ToolAccount::refusal(connection, readWrite, owners); !refusal.isEmpty())
                return refusal;
        }
    }
    if (parser.isSet(QStringLiteral("paste"))) {
        const std::optional<CategoryNode> category = window->selectedCategory();
        if (category && category->contains(CatalogNames::keyMid)) {
            const QString refusal =
                ToolAccount::refusal(connection, readWrite, {category->value(CatalogNames::keyMid).toString()});
            if (!refusal.isEmpty())
                return refusal;
        }
    }
    const struct {
        const char *option;
        const char *level;
    } categoryOptions[] = {{"rescan", "READ & WRITE"}, {"delete-category", "FULL ACCESS"}};
    for (const auto &option : categoryOptions) {
        if (!parser.isSet(QLatin1String(option.option)))
            continue;
        const std::optional<CategoryNode> node = categoryNamed(window, parser.value(QLatin1String(option.option)));
        if (!node || node->isEmpty())
            continue;
        const QString refusal = ToolAccount::refusal(connection, QLatin1String(option.level),
                                                     {node->value(CatalogNames::keyMid).toString()});
        if (!refusal.isEmpty())
            return refusal;
    }
    return QString();
}

// ---- writes and output after a wait: --new-collection, --export ----
// Nothing when neither option is given; otherwise the exit status.
std::optional<int> runWindowWrites(OVNAssetManager *window, const QCommandLineParser &parser)
{
    const bool collection = parser.isSet(QStringLiteral("new-collection"));
    const bool exporting = parser.isSet(QStringLiteral("export"));
    if (!collection && !exporting)
        return std::nullopt;
    QString lastAlert;
    Alerts::setPresenter(
        std::make_unique<ToolAlerts::LastAlert>(&lastAlert, ToolAlerts::LastAlert::Echo::StandardError));
    QTextStream out(stdout);
    int status = 0;
    if (collection) {
        const QString name = parser.value(QStringLiteral("new-collection"));
        if (window->categoryActions().buttonAddCatalogClick(name).isEmpty())
            status = ToolStart::refuse(lastAlert);
        else
            out << "created " << ToolText::printable(name) << Qt::endl;
    }
    if (exporting && status == 0) {
        const std::optional<OVNAssetManager::OutputHandOff> handOff = window->outputHandOff();
        const QString folder = QFileInfo(parser.value(QStringLiteral("export"))).absoluteFilePath();
        if (!handOff) {
            status = ToolStart::refuse(lastAlert);
        } else {
            if (!lastAlert.isEmpty()) // the entries left out, named in the one alert
                out << "left out: " << ToolText::printable(lastAlert) << Qt::endl;
            OVNExportImages::Options options;
            options.sizeIndex = 0;
            const QList<OVNExportImages::Entry> entries =
                OVNExportImages::exportRecords(handOff->records, folder, options);
            int written = 0;
            for (const OVNExportImages::Entry &entry : entries)
                written += entry.written ? 1 : 0;
            out << "exported " << written << " of " << entries.size() << Qt::endl;
            status = written == entries.size() ? 0 : 1;
        }
    }
    Alerts::setPresenter(nullptr);
    return status;
}
// ---- end writes and output ----

} // namespace

int main(int argc, char **argv)
{
    ToolStart::offscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    DrawingKit::installApplicationStyle();

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("the catalog file"));
    parser.addOption({QStringLiteral("category"), QStringLiteral("category to select"), QStringLiteral("name")});
    parser.addOption({QStringLiteral("row"), QStringLiteral("thumbnail to select"), QStringLiteral("row")});
    parser.addOption(
        {QStringLiteral("grab"), QStringLiteral("write the window to a PNG and quit"), QStringLiteral("png")});
    parser.addOption({QStringLiteral("show-database"), QStringLiteral("the Database item shows every entry")});
    parser.addOption(
        {QStringLiteral("select"), QStringLiteral("thumbnails to select, by name, in order"), QStringLiteral("names")});
    parser.addOption({QStringLiteral("print-pdf"), QStringLiteral("print a contact sheet to a PDF and quit"),
                      QStringLiteral("pdf")});
    parser.addOption(
        {QStringLiteral("per-line"), QStringLiteral("images per line"), QStringLiteral("n"), QStringLiteral("6")});
    parser.addOption({QStringLiteral("print-style"),
                      QStringLiteral("0 plain, 1 titled, 2 shadowed, 3 shadowed and titled"), QStringLiteral("s"),
                      QStringLiteral("0")});
    parser.addOption({QStringLiteral("selection-only"), QStringLiteral("print only the selected thumbnails")});
    parser.addOption({QStringLiteral("copy"), QStringLiteral("copy the selected thumbnails")});
    parser.addOption({QStringLiteral("paste"), QStringLiteral("paste the clipboard's files and quit")});
    // ---- rating and rotation ----
    parser.addOption(
        {QStringLiteral("rate"), QStringLiteral("rate the selected thumbnails 0 to 5 and quit"), QStringLiteral("n")});
    parser.addOption({QStringLiteral("rotate"),
                      QStringLiteral("turn the selected thumbnails left or right (repeatable, in order) and quit"),
                      QStringLiteral("left|right")});
    // ---- end rating and rotation ----
    parser.addOption(
        {QStringLiteral("stay"), QStringLiteral("quit after that many seconds"), QStringLiteral("seconds")});
    // ---- commands: the filter field and the enabling of the menu commands ----
    parser.addOption({QStringLiteral("filter"), QStringLiteral("text for the filter field"), QStringLiteral("text")});
    parser.addOption({QStringLiteral("filter-field"), QStringLiteral("the filter menu's tag (0 to 5)"),
                      QStringLiteral("tag"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("actions"), QStringLiteral("print whether each menu command is enabled")});
    // ---- end commands ----
    // ---- categories ----
    parser.addOption({QStringLiteral("new-surveillance-folder"),
                      QStringLiteral("add a surveillance folder watching PATH, import it and quit"),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("rescan"), QStringLiteral("re-scan the surveillance folder NAME and quit"),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("delete-category"), QStringLiteral("delete the category NAME and all below it"),
                      QStringLiteral("name")});
    // ---- end categories ----
    parser.addOption({QStringLiteral("new-collection"),
                      QStringLiteral("make a collection NAME at the top level as New Collection does, then quit"),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("export"),
                      QStringLiteral("export the selection as the Export command does, at its first size, then quit"),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("list"), QStringLiteral("print the names of the thumbnails shown, then quit")});
    parser.addOption({QStringLiteral("drops"),
                      QStringLiteral("show the window and take drops until PATH exists, then quit"),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("wait-for"),
                      QStringLiteral("after loading the outline, wait until PATH exists before the other options"),
                      QStringLiteral("path")});
    // ---- outline ----
    parser.addOption(
        {QStringLiteral("smart-add"), QStringLiteral("smart-add the paths given after the file, wait for the import")});
    parser.addOption({QStringLiteral("outline"), QStringLiteral("print the rows the outline shows")});
    parser.addOption({QStringLiteral("prefill"),
                      QStringLiteral("with --smart-add: type VALUE into FIELD of the smart-add pane (repeatable)"),
                      QStringLiteral("field=value")});
    parser.addOption(
        {QStringLiteral("menus"), QStringLiteral("print every item of the window's menus and toolbar, then quit")});
    // ---- end outline ----
    parser.addHelpOption();
    ToolUsage::parseOrEnd(parser, app.arguments());
    if (parser.positionalArguments().isEmpty())
        parser.showHelp(2);
    if (parser.isSet(QStringLiteral("prefill")) && !parser.isSet(QStringLiteral("smart-add"))) {
        QTextStream(stderr) << "ovn-catalog-window: --prefill needs --smart-add" << Qt::endl;
        return 2;
    }
    // The numbers are checked before the window opens; they are read where they are used.
    const struct {
        const char *name;
        int minimum, maximum;
    } numbers[] = {{"row", 0, std::numeric_limits<int>::max()},
                   {"per-line", 1, 100},
                   {"print-style", 0, 3},
                   {"rate", 0, 5},
                   {"stay", 0, 86400},
                   {"filter-field", 0, 5}};
    for (const auto &number : numbers)
        if (parser.isSet(QLatin1String(number.name))
            && !ToolNumber::integer32(qPrintable(QStringLiteral("--") + QLatin1String(number.name)),
                                      parser.value(QLatin1String(number.name)), number.minimum, number.maximum))
            return 2;

    UserDefaults &defaults = UserDefaults::standard();
    QRectF visible(0, 0, 1280, 800);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        visible = QRectF(screen->availableGeometry());
    defaults.registerDefaults(OVNRegisteredDefaults::startupDefaults(visible));
    if (parser.isSet(QStringLiteral("show-database")))
        defaults.registerDefaults({{QStringLiteral("DatabaseShowThumbnails"), QStringLiteral("1")}});

    const QString catalog = parser.positionalArguments().first();
    std::shared_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::AsTheyAre, "ovn-catalog-window");
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty()) {
        QTextStream(stderr) << "ovn-catalog-window: " << ToolText::printable(failure) << Qt::endl;
        return 1;
    }
    // As the program does: only a catalog user in a group is let in.
    if (const QString refusal = ToolAccount::logIn(*connection); !refusal.isEmpty()) {
        QTextStream(stderr) << "ovn-catalog-window: " << ToolText::printable(refusal) << Qt::endl;
        return 1;
    }

    // Opened entries show in the program's own viewers, as in the program.
    static OVNImageViewerDocuments viewers;
    OVNViewerDocuments::setShared(&viewers);

    // The window deletes itself when it is closed.
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();

    if (parser.isSet(QStringLiteral("wait-for"))) {
        const QString path = parser.value(QStringLiteral("wait-for"));
        QTextStream(stdout) << "waiting" << Qt::endl;
        while (window && !QFileInfo::exists(path))
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (!window)
            return 1;
    }

    if (parser.isSet(QStringLiteral("category"))) {
        const QString name = parser.value(QStringLiteral("category"));
        for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems()) {
            if (item->node.value(CatalogNames::keyDisplayTag).toString() != name)
                continue;
            QElapsedTimer timer;
            timer.start();
            window->selectCategory(item->node.value(CatalogNames::keyMid).toString());
            window->mediaView()->repaint();
            QTextStream(stdout) << ToolText::printable(name) << ": " << window->mediaView()->count()
                                << " items shown in " << timer.elapsed() << " ms" << Qt::endl;
            break;
        }
    }
    // The filter comes before the selection: filtering clears it.
    if (parser.isSet(QStringLiteral("filter"))) {
        window->commands().menuSetSearchFilter(parser.value(QStringLiteral("filter-field")).toInt());
        window->searchField()->setText(parser.value(QStringLiteral("filter")));
        QTextStream(stdout) << "shown " << window->mediaView()->count() << Qt::endl;
    }
    if (parser.isSet(QStringLiteral("row"))) {
        const int row = parser.value(QStringLiteral("row")).toInt();
        if (row >= 0 && row < window->mediaView()->count()) {
            window->mediaView()->selectImage(row);
            window->mediaView()->notifySelectionDidChange();
        }
    }
    if (parser.isSet(QStringLiteral("select"))) {
        const QStringList names = parser.value(QStringLiteral("select")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &name : selectByName(window->mediaView(), names))
            QTextStream(stderr) << "ovn-catalog-window: no thumbnail named " << ToolText::printable(name) << Qt::endl;
        QTextStream(stdout) << "selected " << window->mediaView()->numberOfSelectedRows() << Qt::endl;
    }
    // ---- list ----
    if (parser.isSet(QStringLiteral("list"))) {
        // What the window shows for the category now, in its order, after any --wait-for.
        OVNMediaView *view = window->mediaView();
        QTextStream out(stdout);
        out << "listed " << view->count() << Qt::endl;
        for (int row = 0; row < view->count(); ++row)
            out << ToolText::printable(view->mediaObject(QStringLiteral("displaytag"), row).toString()) << Qt::endl;
    }
    // ---- end list ----
    if (const QString refusal = writeRefusal(window, parser); !refusal.isEmpty()) {
        delete window.data();
        return ToolStart::refuse(refusal);
    }
    // ---- outline ----
    if (parser.isSet(QStringLiteral("smart-add")) || parser.isSet(QStringLiteral("outline"))) {
        int status = 0;
        if (parser.isSet(QStringLiteral("smart-add"))) {
            const QStringList paths = parser.positionalArguments().mid(1);
            // Through the panel, as the user goes: what is typed in its pane reaches every entry.
            QPointer<OVNSmartAddPanel> panel = window->categoryActions().buttonAddSmartClick();
            const QString untyped = panel ? prefillPane(panel->pane().view(), parser.values(QStringLiteral("prefill")))
                                          : QString();
            if (!untyped.isEmpty()) {
                QTextStream(stderr) << "ovn-catalog-window: cannot type " << untyped << " into the smart-add pane"
                                    << Qt::endl;
                delete window.data();
                return 2;
            }
            if (panel)
                panel->choose(paths);
            // The import object stands until its finish has been handled.
            if (!panel || window->findChild<OVNImportMedia *>() == nullptr) {
                QTextStream(stderr) << "ovn-catalog-window: nothing to smart-add" << Qt::endl;
                status = 1;
            }
            waitForImports(window);
        }
        if (parser.isSet(QStringLiteral("outline")))
            printOutline(window);
        if (!parser.isSet(QStringLiteral("stay")) && !parser.isSet(QStringLiteral("grab"))) {
            delete window.data();
            return status;
        }
    }
    // ---- end outline ----
    if (const std::optional<int> status = runWindowWrites(window, parser)) {
        delete window.data();
        return *status;
    }
    // ---- categories ----
    if (const std::optional<int> status = runCategoryCommands(window, parser)) {
        delete window.data();
        return *status;
    }
    // ---- end categories ----
    // ---- menus ----
    if (parser.isSet(QStringLiteral("menus"))) {
        // The application's menus join the window's, as the program gives every catalog window.
        OVNDocumentController controller(defaults);
        controller.populateMenuBar(window->menuBar());
        window->activateWindow();
        window->mediaView()->setFocus();
        QApplication::processEvents();
        printMenus(window);
        delete window.data();
        return 0;
    }
    // ---- end menus ----
    // ---- commands ----
    if (parser.isSet(QStringLiteral("actions"))) {
        window->activateWindow();
        window->mediaView()->setFocus();
        QApplication::processEvents();
        for (const QString &line : window->describeActions())
            QTextStream(stdout) << ToolText::printable(line) << Qt::endl;
    }
    const bool commandsOnly = (parser.isSet(QStringLiteral("filter")) || parser.isSet(QStringLiteral("actions"))
                               || parser.isSet(QStringLiteral("list")))
                              && !parser.isSet(QStringLiteral("print-pdf")) && !parser.isSet(QStringLiteral("paste"))
                              && !parser.isSet(QStringLiteral("stay")) && !parser.isSet(QStringLiteral("grab"))
                              && !parser.isSet(QStringLiteral("rate")) && !parser.isSet(QStringLiteral("rotate"))
                              && !parser.isSet(QStringLiteral("copy"));
    if (commandsOnly) {
        delete window.data();
        return 0;
    }
    // ---- end commands ----
    if (parser.isSet(QStringLiteral("print-pdf"))) {
        const int status = printPdf(
            window, parser.value(QStringLiteral("print-pdf")), parser.value(QStringLiteral("per-line")).toInt(),
            parser.value(QStringLiteral("print-style")).toInt(), parser.isSet(QStringLiteral("selection-only")));
        delete window.data();
        return status;
    }
    if (rateAndRotate(window, parser) && !parser.isSet(QStringLiteral("stay"))
        && !parser.isSet(QStringLiteral("grab"))) {
        delete window.data();
        return 0;
    }
    if (parser.isSet(QStringLiteral("copy")))
        QTextStream(stdout) << "copied " << window->mediaDelegate().copy() << Qt::endl;
    if (parser.isSet(QStringLiteral("paste"))) {
        const std::optional<CategoryNode> category = window->selectedCategory();
        const QString target = category ? category->value(CatalogNames::keyMid).toString() : QString();
        const qint64 before = connection->getEntryCountForCategory(target, QStringLiteral("C"));
        const auto report = [connection, target, before] {
            const qint64 after = connection->getEntryCountForCategory(target, QStringLiteral("C"));
            QTextStream(stdout) << "pasted " << std::max<qint64>(0, after - before) << Qt::endl;
        };
        if (!window->mediaDelegate().canPaste()) {
            QTextStream(stderr) << "ovn-catalog-window: nothing to paste, or no collection to paste into" << Qt::endl;
            report();
            return 1;
        }
        NotificationCenter::defaultCenter().addObserver(window, OVNAssetManager::importMediaDidFinishNotification(),
                                                        [report](const QString &, const QVariantMap &) {
                                                            report();
                                                            QTimer::singleShot(0, [] { QApplication::quit(); });
                                                        });
        window->mediaDelegate().paste();
    }
    if (parser.isSet(QStringLiteral("drops"))) {
        const int status = watchDrops(window, parser.value(QStringLiteral("drops")));
        delete window.data();
        return status;
    }
    if (parser.isSet(QStringLiteral("stay"))) {
        const int seconds = parser.value(QStringLiteral("stay")).toInt();
        QTimer::singleShot(std::max(0, seconds) * 1000, [] { QApplication::quit(); });
    }
    if (parser.isSet(QStringLiteral("grab"))) {
        const QString target = parser.value(QStringLiteral("grab"));
        QTimer::singleShot(800, [window, target] {
            if (window)
                window->grab().save(target);
            QApplication::quit();
        });
    }
    const int status = QApplication::exec();
    delete window.data();
    return status;
}
