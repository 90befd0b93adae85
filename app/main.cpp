#include "app/OVNApplicationIcon.h"
#include "app/OVNDocumentController.h"
#include "platform/HeapTuning.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/MessageBoxPresenter.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"

#include <QApplication>

// Start-up runs before the event loop. "-OVNQuitAfterStartup YES" on the command line ends the
// program right after start-up (scripts and tests use it to create a catalog and check it).
int main(int argc, char *argv[])
{
    HeapTuning::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    QApplication::setOrganizationName(QStringLiteral("Ostrevan"));
    QApplication::setApplicationVersion(QStringLiteral(OVN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("ostrevan"));
    QApplication::setWindowIcon(OVNApplicationIcon::icon());
    DrawingKit::installApplicationStyle();

    Alerts::setPresenter(std::make_unique<MessageBoxPresenter>());

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setArguments(QApplication::arguments());
    if (!defaults.loadProblem().isEmpty())
        Alerts::inform(localized("Your preferences could not be read"), defaults.loadProblem());

    int status = 0;
    {
        OVNDocumentController controller(defaults);
        if (controller.startUp() == OVNDocumentController::StartupResult::Run) {
            controller.awakeFromNib();
            if (!defaults.boolForKey(QStringLiteral("OVNQuitAfterStartup")))
                status = QApplication::exec();
            controller.applicationWillTerminate();
        }
    }
    defaults.synchronize();
    return status;
}
