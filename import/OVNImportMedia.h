#pragma once

#include "import/OVNImportWorker.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// One import: the status sheet on a catalog window (or a window of its own without one), with the
// counter, the current path, a progress bar and a film strip of the last six thumbnails, and the
// worker (OVNImportWorker) that does the work on threads of its own over its own catalog
// connection.
//
// Configure with the setters, then start with processFiles(). At the end the sheet closes, the
// files that could not be catalogued are listed in an alert (or with the imported ones in the
// result sheet), and "OVNNotificationImportMediaDidFinish" is posted with {"categoryid"}. The
// object deletes itself after the finish; closing its parent window cancels the import and waits
// for the worker.
class OVNImportMedia : public QDialog
{
    Q_OBJECT
public:
    explicit OVNImportMedia(QWidget *parent = nullptr);
    ~OVNImportMedia() override;

    // Where the worker gets its connection (on its own thread).
    void setConnectionMaker(OVNImportWorker::ConnectionMaker maker) { m_connections = std::move(maker); }
    // Keeps the path and creates the folder with its parents when it does not exist.
    void setDestinationFolder(const QString &folder);
    QString destinationFolder() const { return m_settings.destinationFolder; }
    void setCopyOnProcess(bool copy) { m_settings.copyOnProcess = copy; }
    void setMoveOnProcess(bool move) { m_settings.moveOnProcess = move; }
    void setProcessAsRemovable(bool removable) { m_settings.processAsRemovable = removable; }
    void setVolumeName(const QString &name) { m_settings.volumeName = name; }
    void setVolumeType(const QString &type) { m_settings.volumeType = type; }
    void activatePrefillWithMediaInfo(const QVariantMap &info, const QVariantMap &purchased, const QVariantMap &sold,
                                      bool keywordsAddFilename, int keywordsParseFolders,
                                      bool shortDescriptionAddFilename, int shortDescriptionParseFolders);
    // Worker tuning (tests, tools): threads (0 one per processor) and records per transaction.
    void setThreadCount(int count) { m_settings.threadCount = count; }
    void setBatchSize(int size) { m_settings.batchSize = size; }
    // What was offered but cannot be imported (web addresses in a drop): listed with the files
    // not catalogued at the end.
    void setSkippedItems(QList<OVNImportWorker::Failure> items) { m_skipped = std::move(items); }
    // Whether the object deletes itself after the finish (on by default).
    void setDeleteOnFinish(bool on) { m_deleteOnFinish = on; }
    // The record export's finish: instead of the alert of failures, the result sheet lists the
    // imported and the failed files with their counts, and "OVNNotificationReloadCategory" is
    // posted for the category as well.
    void setShowsResultSheet(bool on) { m_showsResultSheet = on; }

    // Plain import of files and folders into one category; returns at once.
    void processFiles(const QVariantList &files, const QString &categoryId, QWidget *sheetParent);

    // Re-processing of catalogued entries ({"mid", "absolutepath"}) of a category; returns at once.
    void reprocessFiles(const QVariantList &records, const QString &categoryId, QWidget *sheetParent);

    // Smart import into new collections under the folder `folderId` (see OVNImportWorker::runSmart),
    // with "SmartAddFilesPerCatalog" files per collection; returns at once. Its finish posts
    // "OVNNotificationReloadCategory" for the folder, "OVNNotificationCategoryListDidChange", then
    // "OVNNotificationImportMediaDidFinish" for the one collection made, else for the folder.
    void processFilesSmart(const QVariantList &files, const QString &folderId, QWidget *sheetParent);
    void setSmartMaximum(int files) { m_smartMaximum = files; }

    // Cancel: closes the sheet at once and ends the import; what was imported stays, files still
    // being read are dropped.
    void btCancelClicked();

    bool isFinished() const { return m_finished; }
    const OVNImportWorker::Summary &summary() const { return m_summary; }
    QString statusText() const;
    QString counterText() const;
    int progressMaximum() const;
    int progressValue() const;
    // The film strip: [0] the newest thumbnail, [1] .. [5] the ones before it.
    QImage filmStripImage(int slot) const;

    // The alert at the end of an import with problems: the counts first, then in the details the
    // whole of two lists, the files not imported and those catalogued with an icon or without
    // some details, "path: reason" a line. No message when there was no problem.
    struct Report {
        QString message;
        QString informativeText;
        QString details;
    };
    static Report importReport(const OVNImportWorker::Summary &summary);

    static QString importMediaDidFinishNotification() { return QStringLiteral("OVNNotificationImportMediaDidFinish"); }

private:
    class Relay;
    void initSheetOnWindow(QWidget *window);
    void setupProgressBarWithMax(int maximum);
    void queueImage(const QByteArray &jpeg);
    void processFilesFinished(const OVNImportWorker::Summary &summary);
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

    OVNImportWorker::ConnectionMaker m_connections;
    OVNImportWorker::Settings m_settings;
    std::unique_ptr<OVNImportWorker> m_worker;
    std::unique_ptr<Relay> m_relay;
    OVNImportWorker::Summary m_summary;
    bool m_finished = false;
    bool m_deleteOnFinish = true;
    bool m_smart = false;
    bool m_showsResultSheet = false;
    QString m_folderId;
    int m_smartMaximum = -1; // -1: the stored preference
    QList<OVNImportWorker::Failure> m_skipped;

    QLabel *m_statusTitle = nullptr;
    QLabel *m_statusFileCount = nullptr;
    QProgressBar *m_statusIndicator = nullptr;
    QLabel *m_statusText = nullptr;
    QPushButton *m_importButton = nullptr;
    std::array<QLabel *, 6> m_thumbs{}; // [0] large, newest
    std::array<QImage, 6> m_thumbImages;
};
