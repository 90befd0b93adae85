#pragma once

#include "platform/CaptureDevice.h"

#include <QPointF>
#include <QThreadPool>
#include <QVariantMap>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class OVNDatabaseAccess;
class OVNDeviceSelectionView;
class OVNLastImportImageView;
class SettingsPresetStore;
class UserDefaults;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QScrollArea;
class QPushButton;
class QSpinBox;
class QTimer;

// The camera and memory-card capture window: the attached devices, the capture settings and their
// presets, and a download of every file of the selected device into the download folder, named,
// backed up and catalogued into a collection of its own. Devices are looked for every 3 seconds
// off the GUI thread; a download runs on a worker thread with its own catalog connection.
class OVNImportCamera : public QWidget
{
    Q_OBJECT
public:
    using ConnectionFactory = std::function<std::unique_ptr<OVNDatabaseAccess>()>;

    explicit OVNImportCamera(UserDefaults &defaults);
    ~OVNImportCamera() override;

    // Where downloads that catalogue get their connection; without one they stop with an alert.
    void setConnectionFactory(ConnectionFactory factory) { m_connections = std::move(factory); }

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();
    // Stores the window's origin under "CapturePanelX" and "CapturePanelY", once it has been on
    // screen; the window opens there the next time.
    void saveLocation();

    // The settings controls as a `CaptureSettings` dictionary, and back.
    QVariantMap getDictionaryFromSettings() const;
    void loadSettingsFromDictionary(const QVariantMap &settings);
    void validateSettings();

    // Looks for devices now (the 3-second poll does the same) and, for tests, waits for the answer.
    void refreshDevices(bool wait = false);
    // Starts the download from the selected device, as the download button does.
    void downloadFiles();
    void cancelDownload();
    bool isDownloading() const { return m_downloading; }

    // For tests and screenshots.
    QComboBox *devicePopUp() const { return m_devicePopUp; }
    QComboBox *settingsPresetPopUp() const { return m_svPresets; }
    QComboBox *devicePresetPopUp() const { return m_dsPresets; }
    QLineEdit *captureNameField() const { return m_captureName; }
    QWidget *control(const QString &key) const;
    QWidget *settingsView() const { return m_settingsView; }
    QWidget *progressView() const { return m_progressView; }
    QWidget *statusView() const { return m_statusView; }
    OVNDeviceSelectionView *deviceView() const { return m_deviceView; }
    QString infoText() const;
    QStringList statusTexts() const;
    void toggleSettings();
    void closeStatus();

    // Progress of the running download, called on the GUI thread.
    void onDownloadStarted(int total);
    void onFileStarted(int position, const QString &name, qint64 size);
    void onFileCatalogued(const QString &path, const QByteArray &thumbnail);
    void onCatalogWaiting(const QString &text);

signals:
    void downloadFinished();

private:
    void buildDevicePanel();
    void buildSettingsView();
    void buildProgressView();
    void buildStatusView();
    void showOptions(QWidget *view);
    void setDevicePanelEnabled(bool enabled);
    void syncCaptureName();
    void userChangedSettings();
    void setupPresets();
    void presetsChanged(QComboBox *from);
    void devicesFound(const QList<CaptureDevices::Entry> &entries);
    void rebuildDeviceList();
    void reloadDeviceStatus();
    void fitInfoText();
    void finishDownload(const QVariantMap &summary);
    void ejectSelected();

    UserDefaults &m_defaults;
    ConnectionFactory m_connections;
    bool m_wasShown = false;
    std::optional<QPointF> m_storedOrigin; // where it was left, until it is first shown

    OVNDeviceSelectionView *m_deviceView = nullptr;
    QComboBox *m_devicePopUp = nullptr;
    QLabel *m_mainText = nullptr;
    QLabel *m_infoText = nullptr;
    QPushButton *m_settingsButton = nullptr;
    QLineEdit *m_captureName = nullptr;
    QComboBox *m_dsPresets = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QPushButton *m_ejectButton = nullptr;
    QWidget *m_optionsArea = nullptr;

    QWidget *m_settingsView = nullptr;
    // Holds the settings view; it scrolls only on a screen too small for all of it.
    QScrollArea *m_settingsScroll = nullptr;
    std::map<QString, QWidget *> m_controls;
    QLabel *m_counterField = nullptr;
    QComboBox *m_svPresets = nullptr;

    QWidget *m_progressView = nullptr;
    OVNLastImportImageView *m_lastImage = nullptr;
    QLabel *m_iconTitle = nullptr;
    QLabel *m_statusInfo = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancelButton = nullptr;

    QWidget *m_statusView = nullptr;
    QLabel *m_stProcessed = nullptr;
    QLabel *m_stDownloaded = nullptr;
    QLabel *m_stErrors = nullptr;
    QLabel *m_stCatalogued = nullptr;

    std::unique_ptr<SettingsPresetStore> m_presets;
    int m_oldSelection = 0;
    bool m_loadingPreset = false;

    QList<CaptureDevices::Entry> m_entries;
    bool m_firstPoll = true;
    std::atomic<bool> m_polling{false};
    std::map<QString, int> m_fileCounts;
    QTimer *m_pollTimer = nullptr;
    QTimer *m_sessionTimer = nullptr;

    bool m_downloading = false;
    bool m_sessionOpen = false;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    // Last: its destructor waits for the poll and download tasks before the widgets go.
    QThreadPool m_pool;
};
