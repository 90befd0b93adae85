// ovn-capture: lists the attached cameras and cards, or runs one download from one of them with the
// first built-in capture preset and the settings given, printing what happened to each file.

#include "ToolAccount.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNCaptureDownload.h"
#include "import/OVNImportCamera.h"
#include "platform/CaptureDevice.h"
#include "platform/SettingsPresetStore.h"
#include "platform/UserDefaults.h"
#include "tools/common/ToolCatalog.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

namespace {

constexpr const char *usageText =
    "usage: ovn-capture --list\n"
    "       ovn-capture [--device ID] [--catalog CATALOG] [--set KEY=VALUE]... [--cancel-after K]\n"
    "       ovn-capture --screenshot PREFIX [--set KEY=VALUE]...  (the capture window and, after a\n"
    "       download from the first device, its status view, as PREFIX-window.png, PREFIX-status.png)\n"
    "  Devices: cards under the volume roots ($OVN_VOLUME_ROOTS), directory-browse cameras over\n"
    "  the folders of $OVN_CAPTURE_DISK (DIR[:DIR]) and the cameras libgphoto2 detects.\n"
    "  CATALOG is a catalog file (made when missing) or postgresql://USER@HOST[:PORT]/DATABASE;\n"
    "  without it nothing is catalogued.\n";

void usage() { std::fputs(usageText, stderr); }

class Printer : public OVNCaptureDownload::Observer
{
public:
    Printer(int cancelAfter, std::atomic<bool> &cancel) : m_cancelAfter(cancelAfter), m_cancel(cancel) {}
    void fileDownloaded(int position, const QString &name, const QString &path) override
    {
        std::printf("file %d %s -> %s\n", position, ToolText::utf8(name).constData(), ToolText::utf8(path).constData());
        maybeCancel(position);
    }
    void fileFailed(int position, const QString &name, const QString &reason) override
    {
        std::printf("failed %d %s: %s\n", position, ToolText::utf8(name).constData(),
                    ToolText::utf8(reason).constData());
        maybeCancel(position);
    }
    void backupFolderMade(const QString &folder) override
    {
        std::printf("backup %s\n", ToolText::utf8(folder).constData());
    }
    void collectionMade(const QString &name, const QString &id) override
    {
        std::printf("collection %s %s\n", ToolText::utf8(name).constData(), ToolText::utf8(id).constData());
    }
    void catalogWaiting(const QString &text) override
    {
        std::fprintf(stderr, "%s\n", ToolText::utf8(text).constData());
        std::fflush(stderr);
    }

private:
    void maybeCancel(int position)
    {
        std::fflush(stdout);
        if (m_cancelAfter >= 0 && position >= m_cancelAfter)
            m_cancel = true;
    }
    int m_cancelAfter;
    std::atomic<bool> &m_cancel;
};

// The catalog as every tool opens it: a file (made when missing) or a postgresql:// address.
std::unique_ptr<OVNDatabaseAccess> openCatalog(const QString &catalog)
{
    std::unique_ptr<OVNDatabaseAccess> connection =
        ToolCatalog::open(catalog, ToolCatalog::Tables::CreateWhenMissing, "ovn-capture");
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty()) {
        std::fprintf(stderr, "ovn-capture: %s\n", ToolText::utf8(failure).constData());
        return nullptr;
    }
    // As the program: the account's own catalog user; one the catalog does not let in catalogues nothing.
    if (const QString refusal = ToolAccount::logIn(*connection); !refusal.isEmpty()) {
        std::fprintf(stderr, "ovn-capture: %s\n", ToolText::utf8(refusal).constData());
        return nullptr;
    }
    return connection;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText,
            {{"--list"}, {"--device", 1}, {"--screenshot", 1}, {"--catalog", 1}, {"--cancel-after", 1}, {"--set", 1}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString deviceId;
    QString catalog;
    QVariantMap overrides;
    int cancelAfter = -1;
    bool list = false;
    QString screenshot;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--list"))
            list = true;
        else if (option == QLatin1String("--device") && !args.isEmpty())
            deviceId = args.takeFirst();
        else if (option == QLatin1String("--screenshot") && !args.isEmpty())
            screenshot = args.takeFirst();
        else if (option == QLatin1String("--catalog") && !args.isEmpty())
            catalog = args.takeFirst();
        else if (option == QLatin1String("--cancel-after") && !args.isEmpty()) {
            const std::optional<int> n = ToolNumber::integer32("--cancel-after", args.takeFirst(), 0);
            if (!n)
                return 2;
            cancelAfter = *n;
        } else if (option == QLatin1String("--set") && !args.isEmpty() && args.first().contains(QLatin1Char('='))) {
            const QString pair = args.takeFirst();
            const qsizetype equals = pair.indexOf(QLatin1Char('='));
            overrides.insert(pair.left(equals), pair.mid(equals + 1));
        } else {
            usage();
            return 2;
        }
    }

    if (list) {
        for (const CaptureDevices::Entry &entry : CaptureDevices::attachedEntries()) {
            QString error;
            const auto device = CaptureDevices::open(entry.id);
            const int count = device ? int(device->files(&error).size()) : 0;
            if (device)
                device->close();
            std::printf("device %s\t%s\t%d %s\n", ToolText::utf8(entry.id).constData(),
                        ToolText::utf8(entry.name).constData(), count, count == 1 ? "file" : "files");
        }
        return 0;
    }

    if (!screenshot.isEmpty()) {
        QTemporaryDir scratch;
        UserDefaults defaults(scratch.filePath(QStringLiteral("prefs.plist")));
        OVNImportCamera window(defaults);
        window.refreshDevices(true);
        window.makeKeyAndOrderFront();
        QEventLoop loop;
        QTimer::singleShot(500, &loop, &QEventLoop::quit);
        loop.exec();
        window.grab().save(screenshot + QStringLiteral("-window.png"));
        QVariantMap settings = window.getDictionaryFromSettings();
        settings.insert(QStringLiteral("svCatalogSelection_"), QStringLiteral("0"));
        for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
            settings.insert(it.key(), it.value());
        window.loadSettingsFromDictionary(settings);
        QObject::connect(&window, &OVNImportCamera::downloadFinished, &loop, &QEventLoop::quit);
        window.downloadFiles();
        loop.exec();
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        window.grab().save(screenshot + QStringLiteral("-status.png"));
        return 0;
    }

    if (deviceId.isEmpty()) {
        const QList<CaptureDevices::Entry> entries = CaptureDevices::attachedEntries();
        if (entries.isEmpty()) {
            std::fprintf(stderr, "ovn-capture: no camera or card is attached\n");
            return 1;
        }
        deviceId = entries.first().id;
    }
    std::unique_ptr<CaptureDevice> device = CaptureDevices::open(deviceId);
    if (!device) {
        std::fprintf(stderr, "ovn-capture: no device %s\n", ToolText::utf8(deviceId).constData());
        return 1;
    }

    // The presets are read from the resources; the user's own preferences are not touched.
    QTemporaryDir scratch;
    UserDefaults defaults(scratch.filePath(QStringLiteral("prefs.plist")));
    SettingsPresetStore presets(defaults, QStringLiteral("CaptureSettingsPresets"),
                                QStringLiteral("CaptureSettingsUserPresets"), OVNCaptureDownload::settingsKeys());
    presets.load();
    QVariantMap settings = presets.firstSettings();
    if (settings.isEmpty())
        settings = presets.complete({});
    if (catalog.isEmpty())
        settings.insert(QStringLiteral("svCatalogSelection_"), QStringLiteral("0"));
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        settings.insert(it.key(), it.value());

    const OVNCaptureDownload::ConnectionFactory connections = [&catalog]() -> std::unique_ptr<OVNDatabaseAccess> {
        return catalog.isEmpty() ? nullptr : openCatalog(catalog);
    };
    std::atomic<bool> cancel{false};
    Printer printer(cancelAfter, cancel);
    const OVNCaptureDownload::Result result =
        OVNCaptureDownload::run(*device, settings, settings.value(QStringLiteral("svNamingCaptureName_")).toString(),
                                connections, cancel, &printer);
    if (!result.alertTitle.isEmpty()) {
        std::fprintf(stderr, "ovn-capture: %s: %s\n", ToolText::utf8(result.alertTitle).constData(),
                     ToolText::utf8(result.alertMessage).constData());
        return 1;
    }
    std::printf("processed %d downloaded %lld errors %lld catalogued %lld\n", result.processed(),
                static_cast<long long>(result.files.size()), static_cast<long long>(result.failed.size()),
                static_cast<long long>(result.catalogued.size()));
    return result.failed.isEmpty() ? 0 : 1;
}
