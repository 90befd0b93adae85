#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// What an alert shows. The first button is the default one; no buttons means a single "OK".
struct Alert {
    enum class Style { Informational, Warning, Critical };
    enum class Modality { Application, Window };

    QString message;         // the bold first line
    QString informativeText; // the smaller text below it
    QStringList buttons;
    Style style = Style::Warning;
    Modality modality = Modality::Application;
    // For a window-modal alert, the window (a QWidget) it is attached to.
    QPointer<QObject> window;
    // A long list, in a scrolling box that the user opens (plain text).
    QString detailedText;
};

// Shows alerts to the user. The application installs one that opens real message boxes; tests
// install one that answers from a script, so that prompts need no display.
class AlertPresenter
{
public:
    virtual ~AlertPresenter() = default;
    // Shows the alert and answers the index of the chosen button. Called on the main thread.
    virtual int run(const Alert &alert) = 0;
    // Shows the alert without blocking; `done` gets the chosen button. Called on the main thread.
    // The default runs it modally.
    virtual void show(const Alert &alert, std::function<void(int)> done);
};

class Alerts
{
public:
    // The presenter in use; without an installed one, alerts go to standard error and answer
    // their default button.
    static AlertPresenter &presenter();
    // Takes ownership; null restores the standard-error presenter.
    static void setPresenter(std::unique_ptr<AlertPresenter> presenter);

    // Both can be called from any thread: the alert always opens on the main thread.
    // run() blocks the caller until the user chose; show() returns at once and calls `done`
    // (when given) on the main thread.
    static int run(const Alert &alert);
    static void show(const Alert &alert, std::function<void(int)> done = nullptr);

    // A one-button alert with a title and a message.
    static void inform(const QString &title, const QString &message, QObject *window = nullptr);
    // An alert with the title as its message and the presenter's one default OK button. With a
    // window, as a sheet on it: the call returns at once. Without one, application-modal: the call
    // returns when the user dismissed it. Both texts are shown as given.
    static void display(const QString &title, const QString &message, QObject *window = nullptr);

    // The names an alert is about, one a line: the first `shown` of them and then how many others
    // there are ("and 5,997 others"), so that the alert and its buttons stay on the screen however
    // many there are. One more than `shown` is named rather than counted.
    static QString namedList(const QStringList &names, int shown = namesShown);
    static constexpr int namesShown = 10;
    // The most lines of informative text an alert shows; the presenters put a longer text in
    // the scrolling details and show its beginning.
    static constexpr int mostInformativeLines = 24;
};
