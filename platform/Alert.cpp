#include "platform/Alert.h"

#include "platform/Localized.h"
#include "platform/MainThread.h"

#include <QLocale>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>

namespace {

// Without a display: the alert goes to standard error and its default button is taken.
class StandardErrorPresenter : public AlertPresenter
{
public:
    int run(const Alert &alert) override
    {
        std::fprintf(stderr, "Ostrevan: %s\n", qPrintable(alert.message));
        if (!alert.informativeText.isEmpty())
            std::fprintf(stderr, "  %s\n", qPrintable(alert.informativeText));
        if (!alert.detailedText.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(alert.detailedText));
        return 0;
    }
};

QMutex presenterMutex;
std::unique_ptr<AlertPresenter> installedPresenter;

} // namespace

void AlertPresenter::show(const Alert &alert, std::function<void(int)> done)
{
    const int answer = run(alert);
    if (done)
        done(answer);
}

AlertPresenter &Alerts::presenter()
{
    static StandardErrorPresenter fallback;
    QMutexLocker locker(&presenterMutex);
    if (installedPresenter)
        return *installedPresenter;
    return fallback;
}

void Alerts::setPresenter(std::unique_ptr<AlertPresenter> presenter)
{
    QMutexLocker locker(&presenterMutex);
    installedPresenter = std::move(presenter);
}

int Alerts::run(const Alert &alert)
{
    int answer = 0;
    MainThread::runAndWait([&] { answer = presenter().run(alert); });
    return answer;
}

void Alerts::show(const Alert &alert, std::function<void(int)> done)
{
    auto present = [alert, done = std::move(done)] { presenter().show(alert, done); };
    if (MainThread::isCurrent())
        present();
    else
        MainThread::post(std::move(present));
}

void Alerts::inform(const QString &title, const QString &message, QObject *window)
{
    Alert alert;
    alert.message = title;
    alert.informativeText = message;
    alert.buttons = {localized("OK")};
    if (window != nullptr) {
        alert.modality = Alert::Modality::Window;
        alert.window = window;
    }
    show(alert);
}

QString Alerts::namedList(const QStringList &names, int shown)
{
    shown = std::max(shown, 1);
    if (names.size() <= shown + 1)
        return names.join(QLatin1Char('\n'));
    const qsizetype others = names.size() - shown;
    return names.first(shown).join(QLatin1Char('\n')) + QLatin1Char('\n')
           + localized("and %1 others").arg(countText(others));
}

void Alerts::display(const QString &title, const QString &message, QObject *window)
{
    Alert alert;
    alert.message = title;
    alert.informativeText = message;
    // No buttons: the presenter shows its single default OK button.
    if (window != nullptr) {
        alert.modality = Alert::Modality::Window;
        alert.window = window;
        Alerts::show(alert);
    } else {
        alert.modality = Alert::Modality::Application;
        Alerts::run(alert);
    }
}
