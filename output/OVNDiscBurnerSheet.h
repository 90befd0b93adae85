#pragma once

#include "output/OVNOutputCheck.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <memory>

class DiscDrives;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

// Lives on the burn sheet's worker thread and does all the drive work there: the repeated scan,
// holding the selected drive and reading what it holds, tray commands and the burn itself.
class OVNDiscDriveWatcher : public QObject
{
    Q_OBJECT
public:
    enum class Command { OpenTray, CloseTray, Eject };
    // The media value of a drive that could not be taken.
    static constexpr int unusable = -1;

    OVNDiscDriveWatcher(std::shared_ptr<DiscDrives> drives, std::shared_ptr<std::atomic_bool> cancelled);

    // Each runs on the worker thread (called through queued invocations).
    void start(int pollInterval);
    void poll();
    void select(const QString &address);
    void perform(Command command, const QString &address);
    void burn(const QString &address, const QString &discName, const QStringList &files, qint64 mediumSize);
    // Lets go of the drive and ends the worker thread.
    void stop();

signals:
    void drivesFound(const QStringList &addresses);
    // media: DiscBurn::Media as an int, or unusable.
    void stateRead(const QString &address, int media, bool trayOpen);
    void commandFailed();
    void burnStatus(const QString &text, int percent);
    // outcome: DiscBurn::Outcome as an int.
    void burnEnded(int outcome, const QString &text);

private:
    void readSelected();

    std::shared_ptr<DiscDrives> m_drives;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    QString m_selected;
    bool m_grabbed = false;
    QTimer *m_timer = nullptr;
};

// The disc-burn sheet: the burners (and an image file as a pseudo drive), what the selected one
// holds with the one action it offers, the disc's name, and the burn with its progress. Only the
// selected drive is held; the sheet cannot be closed while a disc is written, short of cancelling
// the burn. It deletes itself when it ends.
class OVNDiscBurnerSheet : public QDialog
{
    Q_OBJECT
public:
    explicit OVNDiscBurnerSheet(QWidget *parent = nullptr, std::shared_ptr<DiscDrives> drives = {});
    ~OVNDiscBurnerSheet() override;

    void setFiles(const QStringList &paths) { m_files = paths; }
    // The records' files; with a check, it is asked over the records when the burn starts, and
    // only the files of those it answers are written (none answered: the sheet ends, unburnt).
    void setRecords(const QList<MediaRecord> &records, OVNOutputCheck check = {});
    const QStringList &files() const { return m_files; }
    void setWindow(QWidget *window) { m_window = window; }
    // Opens the sheet on the window and starts watching the drives.
    void burn();

    // Selects the pseudo drive that writes `path` (what "Image file..." does after its dialog).
    void useImageFile(const QString &path);
    // Reads the drives again now rather than at the next round.
    void refresh();
    void burnOKClicked();
    void burnCancelClicked();

    bool isWriting() const { return m_writing; }
    // Whether any burn sheet is writing a disc now (the program must not end then).
    static bool anyWriting();

    // Medium sizes offered for an image file, in bytes: CD, DVD, BD.
    static qint64 mediumSize(int index);

    QComboBox *deviceSelection() const { return m_deviceSelection; }
    QComboBox *mediumSelection() const { return m_mediumSelection; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QLabel *statusText() const { return m_statusText; }
    QLineEdit *discName() const { return m_discName; }

signals:
    void statusShown(const QString &text);

protected:
    void reject() override;

private:
    enum class Action { None, Burn, Eject, OpenTray, CloseTray };

    QString selectedAddress() const;
    void deviceChanged();
    void chooseImageFile();
    void drivesFound(const QStringList &addresses);
    void stateRead(const QString &address, int media, bool trayOpen);
    void burnStatus(const QString &text, int percent);
    void burnEnded(int outcome, const QString &text);
    void setStatus(const QString &text);
    void setWriting(bool writing);
    void endSheet(int code);

    QComboBox *m_deviceSelection;
    QComboBox *m_mediumSelection;
    QLineEdit *m_discName;
    QProgressBar *m_progress;
    QLabel *m_statusText;
    QPushButton *m_cancelButton;
    QPushButton *m_okButton;
    QPointer<QWidget> m_window;
    QStringList m_files;
    QList<MediaRecord> m_records;
    OVNOutputCheck m_check;
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
    QPointer<QThread> m_thread;
    OVNDiscDriveWatcher *m_watcher = nullptr;
    Action m_action = Action::None;
    int m_previousIndex = -1;
    bool m_writing = false;
    bool m_confirming = false;
    bool m_finishing = false;
    bool m_ended = false;
};
