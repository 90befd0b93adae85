#include "formats/GioMountRunner.h"
#include "formats/OVNHelper.h"
#include "formats/OVNMSAHelper.h"

#include "FakeMountRunner.h"
#include "PreferenceKeys.h"

#include "../support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <thread>
#include <vector>

namespace {

const QStringList kMediaServerKeys = {"MSAProtocol", "MSAServer",     "MSAUser",     "MSAPassword",
                                      "MSAVolume",   "MSAImportpath", "MSAAutomount"};

void setMediaServer(const QString &protocol, const QString &password = "s3cr3t pass:@/")
{
    auto &defaults = UserDefaults::standard();
    if (!protocol.isEmpty())
        defaults.setString(protocol, "MSAProtocol");
    defaults.setString("nas.example", "MSAServer");
    defaults.setString("bob", "MSAUser");
    defaults.setString(password, "MSAPassword");
    defaults.setString("Media", "MSAVolume");
}

class MediaServerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_runner = std::make_shared<FakeMountRunner>();
        OVNMSAHelper::setDefaultMountRunner(m_runner);
        m_alerts = ScriptedAlertPresenter::install();
    }
    void TearDown() override
    {
        OVNMSAHelper::setDefaultMountRunner(nullptr);
        Alerts::setPresenter(nullptr);
    }

    PreferenceKeys m_keys{kMediaServerKeys};
    std::shared_ptr<FakeMountRunner> m_runner;
    ScriptedAlertPresenter *m_alerts = nullptr;
};

} // namespace

TEST_F(MediaServerTest, SmbMountGivesThePasswordOnlyAtThePrompt)
{
    const QString password = "s3cr3t pass:@/";
    setMediaServer("SMB", password);
    OVNMSAHelper helper;
    EXPECT_TRUE(helper.automount());
    ASSERT_EQ(m_runner->commands().size(), 1);
    const MountCommand command = m_runner->commands().first();
    EXPECT_EQ(command.program, "gio");
    EXPECT_EQ(command.arguments, (QStringList{"mount", "smb://bob@nas.example/Media"}));
    EXPECT_EQ(command.secret, password);
    for (const QString &argument : command.arguments) {
        EXPECT_FALSE(argument.contains("s3cr3t"));
        EXPECT_FALSE(argument.contains(QUrl::toPercentEncoding(password)));
    }
    EXPECT_TRUE(m_alerts->shown().isEmpty());
}

TEST_F(MediaServerTest, MountCommandEncodesTheUrlParts)
{
    MSASettings settings;
    settings.server = "nas";
    settings.user = "DOM;ann@home";
    settings.password = "pw";
    settings.volume = "My Photos#1";
    const auto command = OVNMSAHelper::mountCommandFor(settings);
    ASSERT_TRUE(command);
    const QUrl url(command->arguments.at(1));
    EXPECT_EQ(url.scheme(), "smb");
    EXPECT_EQ(url.userName(), "DOM;ann@home");
    EXPECT_EQ(url.host(), "nas");
    EXPECT_EQ(url.path(), "/My Photos#1");
    EXPECT_FALSE(command->arguments.join(' ').contains("pw"));

    settings.user.clear();
    EXPECT_EQ(OVNMSAHelper::mountCommandFor(settings)->arguments.at(1), "smb://nas/My%20Photos%231");
    settings.server = "  ";
    EXPECT_FALSE(OVNMSAHelper::mountCommandFor(settings));
    settings.server = "bad host/name";
    EXPECT_FALSE(OVNMSAHelper::mountCommandFor(settings));
    settings.server = "nas";
    settings.volume.clear();
    EXPECT_FALSE(OVNMSAHelper::mountCommandFor(settings));
}

TEST_F(MediaServerTest, AfpCannotBeMountedAndSaysSo)
{
    // A media server without a chosen protocol is an SMB share; AFP only where it was chosen.
    setMediaServer(QString());
    EXPECT_EQ(MSASettings::fromDefaults().protocol, "SMB");
    setMediaServer("AFP");
    OVNMSAHelper helper;
    EXPECT_FALSE(helper.automount());
    EXPECT_TRUE(m_runner->commands().isEmpty());
    ASSERT_EQ(m_alerts->shown().size(), 1);
    EXPECT_EQ(m_alerts->shown().first().message, "Volume mount failed");
    EXPECT_TRUE(m_alerts->shown().first().informativeText.contains("AFP"));
    EXPECT_EQ(m_alerts->shown().first().style, Alert::Style::Critical);

    helper.setSilentMode(true);
    EXPECT_FALSE(helper.automount());
    EXPECT_EQ(m_alerts->shown().size(), 1);
}

TEST_F(MediaServerTest, FailedMountAnswersNoWithTheSettingsAlert)
{
    setMediaServer("SMB");
    m_runner->setExitCode(2);
    OVNMSAHelper helper;
    EXPECT_FALSE(helper.automount());
    ASSERT_EQ(m_alerts->shown().size(), 1);
    EXPECT_EQ(m_alerts->shown().first().informativeText,
              "Please check your Media Server Access settings and make sure your media server is online.");
    EXPECT_EQ(m_alerts->shown().first().modality, Alert::Modality::Application);

    // The command's own words follow the advice.
    m_runner->setErrorOutput("gio: smb://bob@nas.example/Media: Permission denied\n");
    EXPECT_FALSE(helper.automount());
    ASSERT_EQ(m_alerts->shown().size(), 2);
    EXPECT_EQ(m_alerts->shown().at(1).informativeText,
              "Please check your Media Server Access settings and make sure your media server is online."
              "\n\ngio: smb://bob@nas.example/Media: Permission denied");

    OVNMSAHelper silent;
    silent.setSilentMode(true);
    EXPECT_FALSE(silent.automount());
    EXPECT_EQ(m_alerts->shown().size(), 2);

    // Just after a failure, and without a server, nothing is run.
    UserDefaults::standard().removeObjectForKey("MSAServer");
    EXPECT_FALSE(silent.automount());
    EXPECT_EQ(m_runner->commands().size(), 2);
}

TEST_F(MediaServerTest, AnAlreadyMountedVolumeIsNotMountedAgain)
{
    setMediaServer("SMB");
    m_runner->setMounted({"/", "/media/bob/Media"});
    EXPECT_TRUE(OVNMSAHelper::isVolumeOnline());
    QObject window;
    OVNMSAHelper helper;
    helper.setWindow(&window);
    EXPECT_TRUE(helper.automount());
    EXPECT_TRUE(m_runner->commands().isEmpty());
    ASSERT_EQ(m_alerts->shown().size(), 1);
    EXPECT_EQ(m_alerts->shown().first().informativeText, "A volume with the specified volume name is already online.");
    EXPECT_EQ(m_alerts->shown().first().modality, Alert::Modality::Window);
}

TEST_F(MediaServerTest, VolumeOnlineAndImportPath)
{
    auto &defaults = UserDefaults::standard();
    EXPECT_FALSE(OVNMSAHelper::isVolumeOnline()); // no volume set
    defaults.setString("Media", "MSAVolume");
    defaults.setString("Incoming", "MSAImportpath");
    EXPECT_FALSE(OVNMSAHelper::isVolumeOnline());
    EXPECT_EQ(OVNMSAHelper::msaPath(), "/Volumes/Media/Incoming");

    m_runner->setMounted({"/Volumes/Media"});
    EXPECT_TRUE(OVNMSAHelper::isVolumeOnline());
    EXPECT_EQ(OVNMSAHelper::msaPath(), "/Volumes/Media/Incoming");

    // A folder below a mount does not make the volume online; a mount of another name neither.
    m_runner->setMounted({"/Volumes/Other", "/mnt/Media", "/Volumes/Other/Media"});
    EXPECT_FALSE(OVNMSAHelper::isVolumeOnline());

    m_runner->setMounted({"/run/user/1000/gvfs/smb-share:server=nas.example,share=media,user=bob"});
    EXPECT_TRUE(OVNMSAHelper::isVolumeOnline());
    EXPECT_EQ(OVNMSAHelper::msaPath(),
              "/run/user/1000/gvfs/smb-share:server=nas.example,share=media,user=bob/Incoming");
    defaults.setString("other-server", "MSAServer");
    EXPECT_FALSE(OVNMSAHelper::isVolumeOnline());
}

TEST_F(MediaServerTest, AutomountIsOnOnlyForTheNumberOne)
{
    auto &defaults = UserDefaults::standard();
    EXPECT_FALSE(OVNMSAHelper::isAutomountEnabled());
    for (const char *value : {"0", "yes", "2", ""}) {
        defaults.setString(value, "MSAAutomount");
        EXPECT_FALSE(OVNMSAHelper::isAutomountEnabled()) << value;
    }
    defaults.setString("1", "MSAAutomount");
    EXPECT_TRUE(OVNMSAHelper::isAutomountEnabled());
}

TEST_F(MediaServerTest, MissingFileOnTheMediaServerMountsOnceSilently)
{
    setMediaServer("SMB");
    auto &defaults = UserDefaults::standard();
    defaults.setString("1", "MSAAutomount");
    m_runner->setMountsOnSuccess("/Volumes/Media");

    EXPECT_FALSE(OVNHelper::fileExistsAtPath("/Volumes/Media/a.jpg"));
    EXPECT_EQ(m_runner->commands().size(), 1);
    // Now mounted: the next test finds the volume online and mounts nothing.
    EXPECT_FALSE(OVNHelper::fileExistsAtPath("/Volumes/Media/a.jpg"));
    EXPECT_EQ(m_runner->commands().size(), 1);
    EXPECT_TRUE(m_alerts->shown().isEmpty());

    // Elsewhere, on another volume, or with automount off: no mount attempt.
    m_runner->setMounted({});
    EXPECT_FALSE(OVNHelper::fileExistsAtPath(QDir::homePath() + "/no-such-file.jpg"));
    EXPECT_FALSE(OVNHelper::fileExistsAtPath("/Volumes/Other/a.jpg"));
    EXPECT_FALSE(OVNHelper::fileExistsAtPath("/Volumes/media/a.jpg"));
    defaults.setString("0", "MSAAutomount");
    EXPECT_FALSE(OVNHelper::fileExistsAtPath("/Volumes/Media/a.jpg"));
    EXPECT_EQ(m_runner->commands().size(), 1);
    EXPECT_FALSE(OVNHelper::fileExistsAtPath(""));

    // An existing file needs no volume at all.
    QTemporaryDir dir;
    QFile file(dir.filePath("here.jpg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(OVNHelper::fileExistsAtPath(file.fileName()));
}

// Stored "/Volumes/NAME/..." paths lie in the folder the share NAME is mounted on; the media
// server's volume only on its own server.
TEST(MediaServerPathTest, StoredVolumePathsLieInTheMountFolderOfTheirShare)
{
    MSASettings settings;
    settings.server = "nas.example";
    settings.volume = "Media";
    const QString gvfs = "/run/user/1000/gvfs/smb-share:server=nas.example,share=media,user=bob";
    const QString otherServer = "/run/user/1000/gvfs/smb-share:server=other,share=media";
    const QString photos = "/run/user/1000/gvfs/smb-share:server=other,share=photos";
    const struct {
        QStringList mounted;
        const char *stored;
        QString expected;
    } cases[] = {
        {{gvfs}, "/Volumes/Media/2024/100_0306.AVI", gvfs + "/2024/100_0306.AVI"},
        {{gvfs}, "/Volumes/Media", gvfs},
        {{otherServer}, "/Volumes/Media/a.jpg", "/Volumes/Media/a.jpg"},
        {{otherServer, gvfs}, "/Volumes/Media/a.jpg", gvfs + "/a.jpg"},
        {{photos}, "/Volumes/Photos/a.jpg", photos + "/a.jpg"},
        {{"/media/bob/Media"}, "/Volumes/Media/a b/c.jpg", "/media/bob/Media/a b/c.jpg"},
        {{"/Volumes/Media"}, "/Volumes/Media/a.jpg", "/Volumes/Media/a.jpg"},
        {{gvfs}, "/Volumes/Other/a.jpg", "/Volumes/Other/a.jpg"},
        {{gvfs}, "/home/bob/Media/a.jpg", "/home/bob/Media/a.jpg"},
        {{}, "/Volumes/Media/a.jpg", "/Volumes/Media/a.jpg"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OVNMSAHelper::localPathFor(c.stored, c.mounted, settings), c.expected) << c.stored;
}

// A missing file on the media server mounts it through gvfs and is then found in the mount
// folder; a mount that fails is not tried again for a minute by the silent checks, but at once
// with other settings or when the user asks.
TEST_F(MediaServerTest, MissingFilesFindTheGvfsMountAndAFailedMountWaitsAMinute)
{
    QTemporaryDir runtime;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const QString share = runtime.filePath("gvfs/smb-share:server=nas.example,share=media,user=bob");
    ASSERT_TRUE(QDir().mkpath(share + "/2024"));
    QFile file(share + "/2024/100_0306.AVI");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qint64 now = 1000;
    OVNMSAHelper::setClock([&now] { return now; });

    setMediaServer("SMB");
    UserDefaults::standard().setString("1", "MSAAutomount");
    const QString stored = "/Volumes/Media/2024/100_0306.AVI";
    m_runner->setExitCode(1);
    const struct {
        qint64 after;
        int commands;
    } failing[] = {{0, 1}, {1000, 1}, {OVNMSAHelper::kFailedMountPauseMs - 1001, 1}, {1, 2}, {0, 2}};
    for (const auto &step : failing) {
        now += step.after;
        EXPECT_FALSE(OVNHelper::fileExistsAtPath(stored));
        EXPECT_EQ(m_runner->commands().size(), step.commands) << now;
    }
    UserDefaults::standard().setString("new password", "MSAPassword");
    EXPECT_FALSE(OVNHelper::fileExistsAtPath(stored));
    EXPECT_EQ(m_runner->commands().size(), 3);
    EXPECT_FALSE(OVNMSAHelper().automount());
    EXPECT_EQ(m_runner->commands().size(), 4);

    m_runner->setExitCode(0);
    m_runner->setMountsOnSuccess(share);
    now += OVNMSAHelper::kFailedMountPauseMs;
    EXPECT_EQ(OVNHelper::existingFilePath(stored), file.fileName());
    EXPECT_EQ(OVNHelper::existingFilePath(stored), file.fileName());
    EXPECT_EQ(m_runner->commands().size(), 5);
    EXPECT_TRUE(m_alerts->shown().size() == 1); // the one mount the user asked for

    OVNMSAHelper::setClock(nullptr);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

// ---- The real runner, against a stand-in for gio that prompts like it -----------------------

namespace {

QString writeScript(const QTemporaryDir &dir, const QString &name, const QString &body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QTextStream(&file) << "#!/bin/sh\n" << body;
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

TEST(GioMountRunner, AnswersDefaultsAndTypesThePasswordAtItsPrompt)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("answers");
    const QString script = writeScript(dir, "fake-gio",
                                       "printf 'Authentication Required\\nEnter user and password for share "
                                       "\\342\\200\\234Media\\342\\200\\235 on \\342\\200\\234nas\\342\\200\\235:\\n'\n"
                                       "printf 'Domain [WORKGROUP]: '\nread domain\n"
                                       "printf 'Password: '\nread password\n"
                                       "printf 'args=%s|domain=%s|password=%s\\n' \"$*\" \"$domain\" \"$password\" > '"
                                           + log
                                           + "'\n"
                                             "exit 0\n");
    ASSERT_FALSE(script.isEmpty());

    GioMountRunner runner;
    const MountResult result = runner.run({script, {"mount", "smb://bob@nas/Media"}, "pa ss"});
    EXPECT_TRUE(result.succeeded()) << qPrintable(result.errorOutput);
    EXPECT_EQ(readAll(log), "args=mount smb://bob@nas/Media|domain=|password=pa ss\n");
}

TEST(GioMountRunner, ARefusedPasswordEndsTheCommand)
{
    QTemporaryDir dir;
    const QString script =
        writeScript(dir, "fake-gio", "while true; do printf 'Password: '; read password || exit 2; done\n");
    GioMountRunner runner(20000);
    const MountResult result = runner.run({script, {"mount", "smb://nas/Media"}, "wrong"});
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.exitCode, 2);
}

TEST(GioMountRunner, AHangingCommandIsStoppedAtTheTimeLimit)
{
    QTemporaryDir dir;
    const QString script = writeScript(dir, "fake-gio", "exec sleep 30\n");
    GioMountRunner runner(300);
    const MountResult result = runner.run({script, {}, {}});
    EXPECT_FALSE(result.succeeded());

    const MountResult missing = runner.run({dir.filePath("no-such-program"), {}, {}});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.succeeded());
    EXPECT_FALSE(missing.errorOutput.isEmpty());

    EXPECT_TRUE(runner.mountedVolumePaths().contains("/"));
}

TEST_F(MediaServerTest, ConcurrentMountsRunTheCommandOnce)
{
    setMediaServer("SMB");
    UserDefaults::standard().setString("1", "MSAAutomount");
    m_runner->setMountsOnSuccess("/Volumes/Media");
    std::vector<std::thread> workers;
    std::atomic<int> mounted{0};
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&] {
            OVNMSAHelper helper;
            helper.setSilentMode(true);
            if (helper.automount())
                ++mounted;
        });
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(mounted.load(), 8);
    EXPECT_EQ(m_runner->commands().size(), 1);
}
