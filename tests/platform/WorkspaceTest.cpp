#include "tests/support/TestEnvironment.h"
#include "platform/Workspace.h"

#include "../support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QStringList idsOf(const QList<Workspace::Application> &applications)
{
    QStringList ids;
    for (const Workspace::Application &application : applications)
        ids.append(application.id);
    return ids;
}

// The XDG folders point into a throwaway place for the test's lifetime.
class XdgFolders
{
public:
    XdgFolders()
    {
        for (const char *name :
             {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"})
            m_saved.append({name, qgetenv(name)});
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        qputenv("XDG_DATA_DIRS", dir.filePath("system").toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", dir.filePath("etc").toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "Test");
        // File types still come from the system's database.
        QDir().mkpath(dir.filePath("system"));
        QFile::link("/usr/share/mime", dir.filePath("system/mime"));
    }
    ~XdgFolders()
    {
        for (const auto &[name, value] : m_saved)
            qputenv(name, value);
    }
    QTemporaryDir dir;

private:
    QList<std::pair<const char *, QByteArray>> m_saved;
};

} // namespace

TEST(WorkspaceTest, ApplicationsComeFromDesktopEntriesAndMimeappsListsWithoutOurOwn)
{
    XdgFolders xdg;
    const QString apps = xdg.dir.filePath("data/applications/");
    const QString system = xdg.dir.filePath("system/applications/");
    writeFile(apps + "viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n"
                                       "MimeType=image/jpeg;\n");
    writeFile(apps + "sub/editor.desktop", "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %U\n"
                                           "MimeType=image/png;image/jpeg\n");
    // Our own entry, by id or by program, is never offered.
    writeFile(apps + "ostrevan.desktop", "[Desktop Entry]\nType=Application\nName=Ostrevan\nExec=ostrevan %F\n"
                                         "MimeType=image/jpeg;\n");
    writeFile(apps + "other-name.desktop", "[Desktop Entry]\nType=Application\nName=Us\nExec=/usr/bin/ostrevan %F\n"
                                           "MimeType=image/jpeg;\n");
    writeFile(apps + "removed.desktop", "[Desktop Entry]\nType=Application\nName=Removed\nExec=removed %f\n"
                                        "MimeType=image/jpeg;\n");
    writeFile(apps + "texteditor.desktop", "[Desktop Entry]\nType=Application\nName=Text\nExec=text %f\n"
                                           "MimeType=text/plain;\n");
    writeFile(apps + "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n"
                                     "MimeType=image/jpeg;\n");
    writeFile(apps + "missing.desktop", "[Desktop Entry]\nType=Application\nName=Missing\nExec=missing %f\n"
                                        "TryExec=/nonexistent/missing\nMimeType=image/jpeg;\n");
    // A system entry hidden by the user's entry of the same id, and one the user does not hide.
    writeFile(system + "viewer.desktop", "[Desktop Entry]\nType=Application\nName=Old Viewer\nExec=old %f\n"
                                         "MimeType=image/jpeg;\n");
    writeFile(system + "hidden.desktop", "[Desktop Entry]\nType=Application\nName=System\nExec=system %f\n"
                                         "MimeType=image/jpeg;\n");
    writeFile(apps + "hidden.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
    writeFile(system + "added.desktop", "[Desktop Entry]\nType=Application\nName=Added\nExec=added %F\n");
    writeFile(xdg.dir.filePath("config/test-mimeapps.list"), "[Default Applications]\nimage/jpeg=sub-editor.desktop\n");
    writeFile(xdg.dir.filePath("config/mimeapps.list"), "[Default Applications]\nimage/jpeg=viewer.desktop\n"
                                                        "[Added Associations]\nimage/jpeg=added.desktop;gone.desktop;\n"
                                                        "[Removed Associations]\nimage/jpeg=removed.desktop;\n");

    const QList<Workspace::Application> found = Workspace::applicationsForMimeType("image/jpeg");
    EXPECT_EQ(idsOf(found), (QStringList{"sub-editor.desktop", "added.desktop", "viewer.desktop"}));
    ASSERT_EQ(found.size(), 3);
    EXPECT_EQ(found.at(2).name, "Viewer");
    EXPECT_EQ(found.at(2).exec, "viewer %f");
    // A text file is plain text's, and derived types find their parents' applications.
    EXPECT_EQ(idsOf(Workspace::applicationsForMimeType("text/plain")), QStringList{"texteditor.desktop"});
    EXPECT_EQ(idsOf(Workspace::applicationsForMimeType("text/x-csrc")), QStringList{"texteditor.desktop"});
    writeFile(xdg.dir.filePath("photo.jpg"), QByteArray("\xff\xd8\xff\xe0", 4));
    EXPECT_EQ(idsOf(Workspace::applicationsForFile(xdg.dir.filePath("photo.jpg"))), idsOf(found));
}

TEST(WorkspaceTest, ExecFieldCodesMakeTheCommandLines)
{
    const QStringList files{"/p/a b.jpg", "/p/c.jpg"};
    struct Case {
        const char *exec;
        QList<QStringList> expected;
    };
    const Case cases[] = {
        {"viewer --title %c %f",
         {{"viewer", "--title", "My App", "/p/a b.jpg"}, {"viewer", "--title", "My App", "/p/c.jpg"}}},
        {"viewer %F", {{"viewer", "/p/a b.jpg", "/p/c.jpg"}}},
        {"browser %U", {{"browser", "file:///p/a%20b.jpg", "file:///p/c.jpg"}}},
        {"browser --open=%u", {{"browser", "--open=file:///p/a%20b.jpg"}, {"browser", "--open=file:///p/c.jpg"}}},
        {"\"/opt/my app/run\" --x=%f 100%%",
         {{"/opt/my app/run", "--x=/p/a b.jpg", "100%"}, {"/opt/my app/run", "--x=/p/c.jpg", "100%"}}},
        {"tool %i %k %d %F", {{"tool", "--icon", "pic", "/apps/my.desktop", "/p/a b.jpg", "/p/c.jpg"}}},
        {"sh -c \"echo \\\"%f\\\"\"", {{"sh", "-c", "echo \"%f\"", "/p/a b.jpg", "/p/c.jpg"}}},
        {"plain", {{"plain", "/p/a b.jpg", "/p/c.jpg"}}},
    };
    for (const Case &c : cases) {
        Workspace::Application application{"my.desktop", "My App", QString::fromUtf8(c.exec), "pic",
                                           "/apps/my.desktop"};
        EXPECT_EQ(Workspace::commandLines(application, files), c.expected) << c.exec;
    }
}

TEST(WorkspaceTest, LaunchingStartsTheApplicationWithTheFiles)
{
    QTemporaryDir dir;
    const QString script = dir.filePath("record.sh");
    const QString out = dir.filePath("args.txt");
    writeFile(script, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + out.toUtf8() + ".tmp\"; mv \""
                          + out.toUtf8() + ".tmp\" \"" + out.toUtf8() + "\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const Workspace::Application application{"record.desktop", "Record", "\"" + script + "\" %F", {}, {}};
    ASSERT_TRUE(Workspace::openFiles({"/p/a b.jpg", "/p/c.jpg"}, application));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), waitCeilingMs);
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("/p/a b.jpg\n/p/c.jpg\n"));
    // Our own program is never started with files.
    EXPECT_FALSE(Workspace::openFiles({"/p/a.jpg"}, {"x.desktop", "Us", "ostrevan %F", {}, {}}));
}

namespace {

// Stands in for the desktop's file manager on a private session bus.
class FileManagerStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shownItems() const
    {
        QMutexLocker lock(&m_lock);
        return m_shown;
    }
public slots:
    void ShowItems(const QStringList &uris, const QString &)
    {
        QMutexLocker lock(&m_lock);
        m_shown = uris;
    }

private:
    mutable QMutex m_lock;
    QStringList m_shown;
};

class FolderRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

TEST(WorkspaceTest, RevealAsksTheFileManagerOnTheBusElseOpensTheFolders)
{
    FolderRecorder folders;
    QDesktopServices::setUrlHandler("file", &folders, "open");
    const auto unsetHandler = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();

    // Without a file manager on the bus (or without a bus), each folder opens once, with the
    // desktop's application for folders; without one the user is told that nothing can show them.
    const QDBusConnectionInterface *names = QDBusConnection::sessionBus().interface();
    if (names == nullptr
        || (!names->isServiceRegistered("org.freedesktop.FileManager1")
            && !names->activatableServiceNames().value().contains("org.freedesktop.FileManager1"))) {
        XdgFolders xdg;
        EXPECT_EQ(Workspace::revealFiles({"/p/a.jpg"}), Workspace::RevealResult::Failed);
        EXPECT_TRUE(folders.opened.isEmpty());
        ASSERT_EQ(alerts->shown().size(), 1);
        EXPECT_EQ(alerts->shown().first().message, "No application is set to open \"p\".");

        writeFile(xdg.dir.filePath("data/applications/files.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Files\nExec=files %U\nMimeType=inode/directory;\n");
        EXPECT_EQ(Workspace::revealFiles({"/p/a.jpg", "/p/b.jpg", "/q/c.jpg"}), Workspace::RevealResult::Folder);
        EXPECT_EQ(folders.opened, (QList<QUrl>{QUrl::fromLocalFile("/p"), QUrl::fromLocalFile("/q")}));
        EXPECT_EQ(alerts->shown().size(), 1);
    }

    // Only on a private session bus (ctest runs this test again under dbus-run-session), never on
    // the user's own.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (qEnvironmentVariable("OVN_PRIVATE_SESSION_BUS") != QLatin1String("1") || !bus.isConnected())
        GTEST_SKIP() << "no private session bus (ctest runs this under dbus-run-session)";
    if (bus.interface()->isServiceRegistered("org.freedesktop.FileManager1"))
        GTEST_SKIP() << "a real file manager owns org.freedesktop.FileManager1 on this bus";

    // The stand-in answers on a connection and a thread of its own, as another program would.
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "file-manager-stand-in");
    ASSERT_TRUE(other.isConnected());
    QThread thread;
    auto standIn = std::make_unique<FileManagerStandIn>();
    standIn->moveToThread(&thread);
    thread.start();
    const auto stop = qScopeGuard([&] {
        other.unregisterObject("/org/freedesktop/FileManager1");
        other.unregisterService("org.freedesktop.FileManager1");
        QDBusConnection::disconnectFromBus("file-manager-stand-in");
        thread.quit();
        thread.wait();
    });
    ASSERT_TRUE(other.registerObject("/org/freedesktop/FileManager1", standIn.get(), QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(other.registerService("org.freedesktop.FileManager1"));

    folders.opened.clear();
    EXPECT_EQ(Workspace::revealFiles({"/p/a b.jpg", "/q/c.jpg"}), Workspace::RevealResult::FileManager);
    QTRY_COMPARE_WITH_TIMEOUT(standIn->shownItems(), (QStringList{"file:///p/a%20b.jpg", "file:///q/c.jpg"}),
                              waitCeilingMs);
    QTest::qWait(50);
    EXPECT_TRUE(folders.opened.isEmpty());
}

#include "WorkspaceTest.moc"
