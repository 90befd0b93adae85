#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QObject;

// The desktop around the program: which applications open a file (the desktop entries of the
// XDG data folders and the user's and system's mimeapps.list), starting one of them with files,
// and showing files in the file manager. The program's own entry is never offered, so that a
// file is not handed back to us in a loop.
class Workspace
{
public:
    struct Application {
        QString id; // the desktop file id, as mimeapps.list names it
        QString name;
        QString exec; // the Exec line, unescaped
        QString icon;
        QString desktopFile;   // where the entry was read from
        QStringList mimeTypes; // the types the entry says it opens
    };

    // The applications for a file by its type: the default first, then those added by
    // mimeapps.list, then those whose entries name the type (or a type it derives from), less
    // those the lists remove. Each once.
    static QList<Application> applicationsForFile(const QString &path);
    static QList<Application> applicationsForMimeType(const QString &mimeType);
    // An entry read from a desktop file; an empty id when it is no application one can start.
    static Application readDesktopEntry(const QString &path, const QString &id);

    // The command lines that open the files with the application, by the Exec field codes:
    // %f and %u run the application once per file, %F and %U pass all files at once; a line
    // without any gets the files at its end.
    static QList<QStringList> commandLines(const Application &application, const QStringList &paths);
    // Starts the application with the files, detached; false when a command did not start.
    static bool openFiles(const QStringList &paths, const Application &application);

    // The application the desktop opens a file with, by the mimeapps.list rules, our own entry
    // included: the caller must not hand a file to Own, which would come straight back.
    enum class DefaultKind { None, Own, Other };
    struct DefaultApplication {
        DefaultKind kind = DefaultKind::None;
        Application application;
    };
    static DefaultApplication defaultApplicationForFile(const QString &path);
    static bool isOwnApplication(const Application &application);
    // Where our desktop entry is installed in the XDG data folders; empty when it is not.
    static QString ownDesktopEntryPath();

    // Opens a web page in the user's browser (xdg-open, without a shell); false when it did not start.
    static bool openUrl(const QString &url);

    enum class RevealResult { FileManager, Folder, Failed };
    // Shows the files selected in the file manager (org.freedesktop.FileManager1 on the session
    // bus), without waiting for it; without one, or when it answers with an error, opens their
    // folders, each once, with the desktop's application for folders. Where there is none either,
    // nothing could show them: the user is told so in an alert (on `window`, when given), in the
    // words of noApplicationText() for the first folder, rather than in the terminal.
    static RevealResult revealFiles(const QStringList &paths, QObject *window = nullptr);
    // What the user is told when no application is set to open a file or folder of the desktop.
    static QString noApplicationText(const QString &path);
};
