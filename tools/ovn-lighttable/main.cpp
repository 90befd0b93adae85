// ovn-lighttable: a light table opened from a catalog window, driven from the command line.
//
//   ovn-lighttable CATALOG CATEGORY [--select ROW] [--click REGION] [--rate N] [--wait MS] [--grab OUT.png]
//
// Opens a catalog window on CATALOG (a file or a postgresql:// URL), selects CATEGORY (an id or a
// collection's name) and opens the light table through the window's own action. The options run
// in the order given, each as often as given: --select selects a roll item and waits for its load;
// --click clicks a status-strip region (full-screen, rotate-left, rotate-right, slideshow, full-res,
// style1 to style4); --rate rates the selection through the roll's rating menu; --wait lets MS
// milliseconds pass; --grab writes the light table's window as it is on screen.
//
// Prints "panes N" whenever the panes are built, "loaded ROW MID WxH rotation R" per finished load,
// "advance ROW" per automatic step, "rating ROW MID N" and "turned ROW MID CODE" per write that
// succeeded, and "failed: MESSAGE" for a refused or failed one (exit status 1). A load that fails
// is told on standard error. A catalog that cannot be opened is told on standard error with the
// reason (exit status 1, as every tool); exit status 2 on bad arguments or a category not there;
// an account the catalog does not let in prints "refused: " and the program's words (status 1).
#include "ToolAccount.h"
#include "ToolCatalog.h"

#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaRollView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNLightTable.h"
#include "viewers/OVNLightTableStatus.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolAlerts.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <map>
#include <optional>

namespace {

constexpr const char *usageText = "usage: ovn-lighttable CATALOG CATEGORY [--select ROW] [--click REGION] "
                                  "[--rate N] [--wait MS] [--grab OUT.png]\n";

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "ovn-lighttable: %s\n", problem);
    std::fputs(usageText, stderr);
    return 2;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Lets the light table's load end (or 60 s pass).
void waitForLoad(const OVNLightTable *table)
{
    QElapsedTimer clock;
    clock.start();
    while (table && table->isLoading() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

void click(OVNLightTableStatus *strip, const QRectF &regionUp)
{
    const QPointF point = OVNLightTableStatus::toWidget(regionUp, strip->height()).center();
    const QPointF global = strip->mapToGlobal(point);
    QMouseEvent press(QEvent::MouseButtonPress, point, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, point, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &release);
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText, {{"--select", 1}, {"--click", 1}, {"--rate", 1}, {"--wait", 1}, {"--grab", 1}}))
        return *end;
    ToolStart::offscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    QStringList args = QApplication::arguments().mid(1);
    if (args.size() < 2)
        return usage(nullptr);
    const QString catalog = args.takeFirst();
    const QString category = args.takeFirst();
    for (int i = 0; i < args.size(); i += 2) {
        static const QStringList known{"--select", "--click", "--rate", "--wait", "--grab"};
        if (!known.contains(args[i]) || i + 1 >= args.size())
            return usage("unknown option or missing value");
        // The numbers before anything opens: a row from 0, a rating from 0 to 5, up to ten minutes.
        const int most = args[i] == QLatin1String("--rate") ? 5 : args[i] == QLatin1String("--wait") ? 600000 : -1;
        if (most != -1 || args[i] == QLatin1String("--select"))
            if (!ToolNumber::integer32(qPrintable(args[i]), args[i + 1], 0,
                                       most == -1 ? std::numeric_limits<int>::max() : most))
                return 2;
    }

    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    std::shared_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::AsTheyAre, "ovn-lighttable");
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty()) {
        std::fprintf(stderr, "ovn-lighttable: %s\n", ToolText::utf8(failure).constData());
        return 1;
    }
    // As the program: the account's own catalog user, with its privileges.
    if (const QString refusal = ToolAccount::logIn(*connection); !refusal.isEmpty())
        return ToolStart::refuse(refusal);
    const QString categoryId = ToolCatalog::categoryId(*connection, category);
    if (categoryId.isEmpty()) {
        std::fprintf(stderr, "ovn-lighttable: no category %s\n", ToolText::utf8(category).constData());
        return 2;
    }
    QString lastAlert;
    Alerts::setPresenter(std::make_unique<ToolAlerts::LastAlert>(&lastAlert));
    static OVNImageViewerDocuments viewers;
    OVNViewerDocuments::setShared(&viewers);

    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();
    if (!window->selectCategory(categoryId)) {
        std::fprintf(stderr, "ovn-lighttable: cannot show the category %s\n", ToolText::utf8(category).constData());
        return 2;
    }
    // Through the window's own action, which keeps no reference: the new top-level light table.
    window->buttonLightTableClick();
    QPointer<OVNLightTable> table;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<OVNLightTable *>(widget))
            table = found;
    }
    if (!table) {
        std::fprintf(stderr, "ovn-lighttable: no light table opened\n");
        return 2;
    }
    int status = 0;
    const auto out = [](const QString &line) {
        std::printf("%s\n", ToolText::utf8(line).constData());
        std::fflush(stdout);
    };
    std::printf("panes %d\n", table->paneCount());
    QObject::connect(table, &OVNLightTable::panesBuilt, [&](int count) { out(QStringLiteral("panes %1").arg(count)); });
    QObject::connect(table, &OVNLightTable::itemLoaded, [&](int row, const QString &mid, QSize size, int rotation) {
        out(QStringLiteral("loaded %1 %2 %3x%4 rotation %5")
                .arg(row)
                .arg(mid)
                .arg(size.width())
                .arg(size.height())
                .arg(rotation));
    });
    QObject::connect(table, &OVNLightTable::itemFailed, [](int row, const QString &mid, const QString &reason) {
        std::fprintf(stderr, "ovn-lighttable: %d %s not loaded: %s\n", row, ToolText::utf8(mid).constData(),
                     ToolText::utf8(reason).constData());
    });
    QObject::connect(table, &OVNLightTable::advanced, [&](int row) { out(QStringLiteral("advance %1").arg(row)); });
    QObject::connect(table, &OVNLightTable::rated, [&](int row, const QString &mid, int rating) {
        out(QStringLiteral("rating %1 %2 %3").arg(row).arg(mid).arg(rating));
    });
    QObject::connect(table, &OVNLightTable::turned, [&](int row, const QString &mid, const QString &code) {
        out(QStringLiteral("turned %1 %2 %3").arg(row).arg(mid, code));
    });
    QObject::connect(table, &OVNLightTable::writeFailed, [&](const QString &what, const QString &mid) {
        out(QStringLiteral("failed: ") + (lastAlert.isEmpty() ? what + QLatin1Char(' ') + mid : lastAlert));
        lastAlert.clear();
        status = 1;
    });

    // A region as the strip is now (full screen changes its width).
    const auto regionFor = [&](const QString &name) -> std::optional<QRectF> {
        using Region = OVNLightTableStatus::Region;
        const double w = table->statusStrip()->width();
        const std::map<QString, QRectF> regions{
            {QStringLiteral("full-screen"), OVNLightTableStatus::regionRect(Region::FullScreen, w)},
            {QStringLiteral("rotate-left"), OVNLightTableStatus::regionRect(Region::RotateLeft, w)},
            {QStringLiteral("rotate-right"), OVNLightTableStatus::regionRect(Region::RotateRight, w)},
            {QStringLiteral("slideshow"), OVNLightTableStatus::regionRect(Region::SlideShow, w)},
            {QStringLiteral("full-res"), OVNLightTableStatus::regionRect(Region::FullResolution, w)},
            {QStringLiteral("style1"), OVNLightTableStatus::styleRect(1)},
            {QStringLiteral("style2"), OVNLightTableStatus::styleRect(2)},
            {QStringLiteral("style3"), OVNLightTableStatus::styleRect(3)},
            {QStringLiteral("style4"), OVNLightTableStatus::styleRect(4)},
        };
        const auto found = regions.find(name);
        return found == regions.end() ? std::nullopt : std::optional<QRectF>(found->second);
    };

    for (int i = 0; i + 1 < args.size() && table; i += 2) {
        const QString option = args[i];
        const QString value = args[i + 1];
        OVNMediaRollView *roll = table->roll();
        if (option == QLatin1String("--select")) {
            bool ok = false;
            const int row = value.toInt(&ok);
            if (!ok || row < 0 || row >= roll->count())
                return usage("--select needs a row of the roll");
            roll->selectImage(row, true, true);
            roll->notifySelectionDidChange();
            waitForLoad(table);
        } else if (option == QLatin1String("--click")) {
            const std::optional<QRectF> rect = regionFor(value);
            if (!rect)
                return usage(
                    "--click takes full-screen, rotate-left, rotate-right, slideshow, full-res or style1 to style4");
            click(table->statusStrip(), *rect);
            QCoreApplication::processEvents();
            waitForLoad(table);
        } else if (option == QLatin1String("--rate")) {
            bool ok = false;
            const int rating = value.toInt(&ok);
            if (!ok || rating < 0 || rating > 5 || roll->numberOfSelectedRows() == 0)
                return usage("--rate needs a rating of 0 to 5 and a selected item");
            const std::unique_ptr<QMenu> menu = roll->menuForEvent(roll->imageRect(roll->selectedRow()).center());
            QAction *chosen = nullptr;
            for (QAction *action : menu->actions()) {
                if (!action->menu())
                    continue;
                for (QAction *item : action->menu()->actions()) {
                    if (item->data().isValid() && item->data().toInt() == rating)
                        chosen = item;
                }
            }
            if (!chosen || !chosen->isEnabled())
                return usage("the roll's menu has no such rating");
            chosen->trigger();
        } else if (option == QLatin1String("--wait")) {
            spin(*ToolNumber::parseInteger(value, 0, 600000));
        } else if (option == QLatin1String("--grab")) {
            QWidget *shown = table->centralWidget() ? static_cast<QWidget *>(table) : table->roll()->window();
            QCoreApplication::processEvents();
            if (!shown->grab().save(value)) {
                std::fprintf(stderr, "ovn-lighttable: cannot write %s\n", ToolText::utf8(value).constData());
                return 2;
            }
        }
    }
    if (table)
        table->close();
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
    delete window.data();
    return status;
}
