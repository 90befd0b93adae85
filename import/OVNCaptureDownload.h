#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

class CaptureDevice;
class OVNDatabaseAccess;

// One download of every file of a camera or card: naming, the download and backup folders,
// cataloguing into a collection made for it. Runs on the caller's thread (the capture window runs it
// on a worker thread of its own) and touches no widget; the settings are a `CaptureSettings`
// dictionary taken from the window before the download starts.
class OVNCaptureDownload
{
public:
    class Observer
    {
    public:
        virtual ~Observer() = default;
        virtual void started(int /*total*/) {}
        virtual void fileStarted(int /*position*/, const QString & /*name*/, qint64 /*size*/) {}
        virtual void fileDownloaded(int /*position*/, const QString & /*name*/, const QString & /*path*/) {}
        virtual void fileFailed(int /*position*/, const QString & /*name*/, const QString & /*reason*/) {}
        virtual void fileCatalogued(const QString & /*path*/, const QByteArray & /*thumbnail*/) {}
        virtual void backupFolderMade(const QString & /*folder*/) {}
        virtual void collectionMade(const QString & /*name*/, const QString & /*id*/) {}
        // "Waiting for the catalog server...": said once each time the download starts waiting for
        // a server that does not answer (it goes on downloading meanwhile only between batches).
        virtual void catalogWaiting(const QString & /*text*/) {}
    };

    struct Result {
        QStringList files;  // the paths the files were saved under
        QStringList failed; // the device names of the files that failed
        QStringList catalogued;
        // When cataloguing stopped: the files downloaded that are not in the catalog.
        QStringList notCatalogued;
        // When cataloguing stopped: the files whose entries the server may have stored, its answer
        // lost and nobody left to ask (neither catalogued nor notCatalogued).
        QStringList uncertain;
        QString collectionId; // empty when none was made
        QString destination;  // the download folder
        QString alertTitle;   // set when the download stopped, or its cataloguing did
        QString alertMessage;
        bool cancelled = false;
        int processed() const { return int(files.size() + failed.size()); }
    };

    // The 24 keys of a `CaptureSettings` dictionary, in the settings view's order (the counter
    // style's key keeps its stored spelling).
    static QStringList settingsKeys();

    using ConnectionFactory = std::function<std::unique_ptr<OVNDatabaseAccess>()>;

    // Prefix, capture name and suffix, then the counter zero-filled to `digits` (none for 0), then
    // the postfix: ("A", "Trip", "-", 4, 7, "z") gives "ATrip-0007z".
    static QString composeFileName(const QString &prefix, const QString &captureName, const QString &suffix, int digits,
                                   qint64 value, const QString &postfix);
    // A name that stays inside its folder: control characters trimmed from both ends, "/" and NUL
    // made "-", and an empty, "." or ".." name made "file-K" (K the file's position).
    static QString safeName(const QString &name, int position);
    // The folder a settings text names ("~" expanded); with `timeStamped` a new dated folder inside
    // it (made, with the path to it, when missing); without, the folder when it exists, else empty.
    static QString resolveFolder(const QString &text, bool timeStamped);
    // "DEVICE - 2009-05-01 12:34:56 +0200" for now.
    static QString collectionName(const QString &deviceName);

    // Downloads every file of `device` (opened here and always closed again). `captureName` is the
    // device panel's field; `cancel` stops the chain after the file in flight, which is kept but
    // not catalogued.
    // Cataloguing stops, with the reason in the alert's fields, when the user may no longer write
    // into the collection, or the catalog server stays away for `reconnectWaitSeconds`; what was
    // stored stays, the download goes on, and the files left out of the catalog are named and
    // counted in the alert.
    static Result run(CaptureDevice &device, const QVariantMap &settings, const QString &captureName,
                      const ConnectionFactory &connections, const std::atomic<bool> &cancel,
                      Observer *observer = nullptr, int reconnectWaitSeconds = 30);
};
