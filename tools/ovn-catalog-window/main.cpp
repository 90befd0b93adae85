// ovn-catalog-window: opens a catalog window on a catalog file, as the program's first window
// does, and optionally selects a category and thumbnails, so that the window can be looked at and
// photographed without going through start-up.
//
//   ovn-catalog-window FILE [--category NAME] [--row N] [--grab PNG] [--show-database]
//                      [--select NAME[,NAME...]] [--copy] [--paste] [--stay SECONDS]
//
// --category selects the first category of that name ("Database" for the section item), --row
// selects a thumbnail in it, --grab writes the window to a PNG file and quits.
// --select selects the thumbnails of those names, in that order; --copy puts them on the
// clipboard ("copied N") and --stay keeps the window that long, so that other programs can take
// them; --paste adds the clipboard's files to the category, waits for the import and quits
// ("pasted N": the entries the category gained).

#include "app/OVNAssetManager.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    DrawingKit::installApplicationStyle();

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("the catalog file"));
    parser.addOption({QStringLiteral("category"), QStringLiteral("category to select"), QStringLiteral("name")});
    parser.addOption({QStringLiteral("row"), QStringLiteral("thumbnail to select"), QStringLiteral("row")});
    parser.addOption({QStringLiteral("grab"), QStringLiteral("write the window to a PNG and quit"), QStringLiteral("png")});
    parser.addOption({QStringLiteral("show-database"), QStringLiteral("the Database item shows every entry")});
    // ---- clipboard options ----
    parser.addOption({QStringLiteral("select"), QStringLiteral("thumbnails to select, in order"), QStringLiteral("names")});
    parser.addOption({QStringLiteral("copy"), QStringLiteral("copy the selected thumbnails")});
    parser.addOption({QStringLiteral("paste"), QStringLiteral("paste the clipboard's files and quit")});
    parser.addOption({QStringLiteral("stay"), QStringLiteral("quit after that many seconds"), QStringLiteral("seconds")});
    // ---- end clipboard options ----
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().isEmpty())
        parser.showHelp(2);

    UserDefaults &defaults = UserDefaults::standard();
    QRectF visible(0, 0, 1280, 800);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        visible = QRectF(screen->availableGeometry());
    defaults.registerDefaults(OVNRegisteredDefaults::startupDefaults(visible));
    if (parser.isSet(QStringLiteral("show-database")))
        defaults.registerDefaults({{QStringLiteral("DatabaseShowThumbnails"), QStringLiteral("1")}});

    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                                     parser.positionalArguments().first());
    if (!connection->openDBConnection() || !connection->checkForDatabaseSetup()) {
        QTextStream(stderr) << "ovn-catalog-window: no catalog at " << parser.positionalArguments().first() << Qt::endl;
        return 1;
    }

    // The window deletes itself when it is closed.
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();

    if (parser.isSet(QStringLiteral("category"))) {
        const QString name = parser.value(QStringLiteral("category"));
        for (const OVNCategoryTreeModel::Item *item : window->categoryModel()->allItems()) {
            if (item->node.value(QStringLiteral("displaytag")).toString() != name)
                continue;
            QElapsedTimer timer;
            timer.start();
            window->selectCategory(item->node.value(QStringLiteral("mid")).toString());
            window->mediaView()->repaint();
            QTextStream(stdout) << name << ": " << window->mediaView()->count() << " items shown in "
                                << timer.elapsed() << " ms" << Qt::endl;
            break;
        }
    }
    if (parser.isSet(QStringLiteral("row"))) {
        const int row = parser.value(QStringLiteral("row")).toInt();
        if (row >= 0 && row < window->mediaView()->count()) {
            window->mediaView()->selectImage(row);
            window->mediaView()->notifySelectionDidChange();
        }
    }
    // ---- clipboard actions ----
    if (parser.isSet(QStringLiteral("select"))) {
        OVNMediaView *view = window->mediaView();
        view->deselectAll();
        for (const QString &name : parser.value(QStringLiteral("select")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            for (int row = 0; row < view->count(); ++row) {
                if (view->mediaObject(QStringLiteral("displaytag"), row).toString() == name) {
                    view->selectImage(row, false);
                    break;
                }
            }
        }
        view->notifySelectionDidChange();
        QTextStream(stdout) << "selected " << view->numberOfSelectedRows() << Qt::endl;
    }
    if (parser.isSet(QStringLiteral("copy")))
        QTextStream(stdout) << "copied " << window->copy() << Qt::endl;
    if (parser.isSet(QStringLiteral("paste"))) {
        const std::optional<CategoryNode> category = window->selectedCategory();
        const QString target = category ? category->value(QStringLiteral("mid")).toString() : QString();
        const qint64 before = connection->getEntryCountForCategory(target, QStringLiteral("C"));
        const auto report = [connection, target, before] {
            const qint64 after = connection->getEntryCountForCategory(target, QStringLiteral("C"));
            QTextStream(stdout) << "pasted " << std::max<qint64>(0, after - before) << Qt::endl;
        };
        if (!window->canPaste()) {
            QTextStream(stderr) << "ovn-catalog-window: nothing to paste, or no collection to paste into" << Qt::endl;
            report();
            return 1;
        }
        NotificationCenter::defaultCenter().addObserver(
            window, OVNAssetManager::importMediaDidFinishNotification(), [report](const QString &, const QVariantMap &) {
                report();
                QTimer::singleShot(0, [] { QApplication::quit(); });
            });
        window->paste();
    }
    if (parser.isSet(QStringLiteral("stay"))) {
        const int seconds = parser.value(QStringLiteral("stay")).toInt();
        QTimer::singleShot(std::max(0, seconds) * 1000, [] { QApplication::quit(); });
    }
    // ---- end clipboard actions ----
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
