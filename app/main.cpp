#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/MessageBoxPresenter.h"
#include "platform/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrevan"));
    QApplication::setOrganizationName(QStringLiteral("Ostrevan"));
    QApplication::setApplicationVersion(QStringLiteral(OVN_VERSION));

    Alerts::setPresenter(std::make_unique<MessageBoxPresenter>());

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setArguments(QApplication::arguments());
    if (!defaults.loadProblem().isEmpty())
        Alerts::inform(localized("Your preferences could not be read"), defaults.loadProblem());

    QMainWindow window;
    window.setWindowTitle(localized("Asset Manager"));
    window.resize(1000, 700);
    QMenu *fileMenu = window.menuBar()->addMenu(localizedMenu("&File"));
    QAction *quit = fileMenu->addAction(localizedMenu("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    QObject::connect(quit, &QAction::triggered, &app, &QApplication::quit);
    window.show();

    const int status = QApplication::exec();
    defaults.synchronize();
    return status;
}
