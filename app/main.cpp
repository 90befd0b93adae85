#include "app/OVNApplicationIcon.h"
#include "app/OVNAssetManager.h"
#include "app/OVNCommandLine.h"
#include "app/OVNDocumentController.h"
#include "app/OVNInstanceForwarding.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "platform/HeapTuning.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/MessageBoxPresenter.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNImageLoader.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPaintEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

namespace {

// Ends the process as soon as a catalog window has been painted for the first time, so that the
// time from exec to exit, measured from outside, is the start-up the user waits through. The
// process ends without tearing down: that would be counted too, and nobody waits for it. When the
// start-up selects a category, the paint awaited is that of the thumbnail view showing its entries.
class QuitAfterFirstPaint : public QObject
{
public:
    bool awaitThumbnails = false;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            const auto *widget = qobject_cast<QWidget *>(watched);
            if (widget && qobject_cast<OVNAssetManager *>(widget->window()) && painted(widget)) {
                m_seen = true;
                // After the whole window is drawn: the paint events of one update come together.
                QTimer::singleShot(0, [] {
                    std::fflush(nullptr);
                    _exit(0);
                });
            }
        }
        return false;
    }

private:
    bool painted(const QWidget *widget) const
    {
        if (!awaitThumbnails)
            return true;
        const auto *view = qobject_cast<const OVNMediaView *>(widget->parentWidget());
        return view && view->viewport() == widget && view->count() > 0;
    }

    bool m_seen = false;
};

// The program's window in front: the one shown last (a viewer just opened for a handed-over file,
// else the catalog window), so that an alert put over it is not hidden behind it.
QWidget *frontWindow()
{
    const QWindowList windows = QGuiApplication::topLevelWindows(); // in the order they were made
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (!(*it)->isVisible() || (*it)->type() != Qt::Window)
            continue;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->windowHandle() == *it && widget->isVisible())
                return widget;
    }
    return QApplication::activeWindow();
}

} // namespace

// Start-up runs before the event loop. "-OVNQuitAfterStartup YES" on the command line ends the
// program right after start-up (scripts and tests use it to create a catalog and check it);
// "-OVNQuitAfterFirstPaint YES" ends it once the first catalog window is painted (the start-up
// benchmark times that); with "-OVNStartupCategory ID" as well, the first window selects that
// category before its first paint, and the program ends once its thumbnails are painted.
int main(int argc, char *argv[])
{
    // --help, --version and an unknown option answer before Qt opens a display or a catalog.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (const auto answer = OVNCommandLine::answerBeforeStart(arguments, QStringLiteral(OVN_VERSION))) {
            std::fputs(answer->standardOutput.toLocal8Bit().constData(), stdout);
            std::fputs(answer->standardError.toLocal8Bit().constData(), stderr);
            return answer->status;
        }
    }
    HeapTuning::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    QApplication::setOrganizationName(QStringLiteral("Ostrevan"));
    QApplication::setApplicationVersion(QStringLiteral(OVN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("ostrevan"));
    QApplication::setWindowIcon(OVNApplicationIcon::icon());
    DrawingKit::installApplicationStyle();

    OVNCoreImageAdjustWindow::installFactory();

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setArguments(QApplication::arguments());
    // A start that ends after start-up has nobody to answer an alert: each goes to standard error
    // and takes its default button, and start-up ends the program where it would ask.
    if (!defaults.boolForKey(QStringLiteral("OVNQuitAfterStartup")))
        Alerts::setPresenter(std::make_unique<MessageBoxPresenter>());
    if (!defaults.loadProblem().isEmpty())
        Alerts::inform(localized("Your preferences could not be read"), defaults.loadProblem());

    // A second start hands its files to the program already running. Scripted starts (which
    // create or time a catalog) always run on their own.
    const QStringList files = OVNInstanceForwarding::filesFromArguments(QApplication::arguments());
    const bool scripted = defaults.boolForKey(QStringLiteral("OVNQuitAfterStartup"))
                          || defaults.boolForKey(QStringLiteral("OVNQuitAfterFirstPaint"));
    // A file that is not there is named where the start was asked for; the program that opens
    // the others says so too.
    QStringList present;
    for (const QString &file : files) {
        if (QFileInfo::exists(file))
            present.append(file);
        else
            std::fprintf(stderr, "ostrevan: %s: no such file\n", qPrintable(QDir::toNativeSeparators(file)));
    }
    // Its "-Key Value" settings are not handed over: they would change the running program's
    // catalog or windows under its user's feet. Both programs say so, and this one ends with 1.
    const QStringList settings = defaults.argumentDomain().keys();
    if (!scripted && OVNInstanceForwarding::forward(files, settings)) {
        // Only the files that are there were handed over: the others were named above.
        std::fprintf(stderr, "ostrevan: %s\n", qPrintable(OVNInstanceForwarding::forwardedNotice(present, settings)));
        return settings.isEmpty() ? 0 : 1;
    }

    int status = 0;
    {
        QuitAfterFirstPaint quitAfterFirstPaint;
        const QString startupCategory = defaults.stringForKey(QStringLiteral("OVNStartupCategory"));
        if (defaults.boolForKey(QStringLiteral("OVNQuitAfterFirstPaint"))) {
            quitAfterFirstPaint.awaitThumbnails = !startupCategory.isEmpty();
            app.installEventFilter(&quitAfterFirstPaint);
        }
        OVNDocumentController controller(defaults);
        OVNImageViewerDocuments viewers;
        viewers.noteRecent = [&controller](const QString &path) { controller.noteNewRecentDocument(path); };
        controller.setViewerDocuments(&viewers);
        OVNViewerDocuments::setShared(&viewers);
        const OVNDocumentController::StartupResult started = controller.startUp();
        if (started == OVNDocumentController::StartupResult::Refused)
            status = 1;
        if (started == OVNDocumentController::StartupResult::Run) {
            controller.awakeFromNib();
            // A start asked for a category that is not there ends here, before it opens any file
            // (a viewer, another program) that would keep it from ending.
            bool selected = true;
            if (quitAfterFirstPaint.awaitThumbnails) {
                selected = !controller.documents().isEmpty()
                           && controller.documents().first()->selectCategory(startupCategory);
                if (!selected) {
                    std::fprintf(stderr, "ostrevan: the catalog has no category %s\n", qPrintable(startupCategory));
                    status = 1;
                }
            }
            OVNInstanceForwarding forwarding;
            if (selected && !scripted && forwarding.listen()) {
                QObject::connect(&forwarding, &OVNInstanceForwarding::filesReceived, &controller,
                                 [&controller](const QStringList &received, const QStringList &missing,
                                               const QStringList &notApplied) {
                                     // Its windows come to the front also when none of the files
                                     // it was handed is there, as the second start said.
                                     if (received.isEmpty())
                                         controller.activateIgnoringOtherApps();
                                     controller.reportMissingFiles(missing);
                                     controller.openFiles(received);
                                     // Said once the files' windows are open, over the one in
                                     // front, which would otherwise cover it.
                                     if (!notApplied.isEmpty()) {
                                         Alert alert;
                                         alert.message = localized("Ostrevan is already running");
                                         alert.informativeText =
                                             OVNInstanceForwarding::settingsNotAppliedText(notApplied);
                                         alert.window = frontWindow();
                                         Alerts::show(alert);
                                     }
                                 });
            }
            if (selected)
                controller.openFiles(files);
            if (selected && !defaults.boolForKey(QStringLiteral("OVNQuitAfterStartup")))
                status = QApplication::exec();
            controller.applicationWillTerminate();
        }
        OVNViewerDocuments::setShared(nullptr);
        OVNImageLoader::waitForAll();
    }
    defaults.synchronize();
    return status;
}
