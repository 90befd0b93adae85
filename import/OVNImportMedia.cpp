// The import sheet: status, film strip, cancel and the finish.

#include "import/OVNImportMedia.h"

#include "import/OVNImportResultSheet.h"

#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

// Hands the worker's reports to the sheet on the GUI thread; reports for a sheet that is gone
// are dropped. The guarded pointer is made once on the GUI thread; the worker only copies it.
class OVNImportMedia::Relay : public OVNImportWorker::Observer
{
public:
    explicit Relay(OVNImportMedia *sheet) : m_sheet(sheet), m_guardedSheet(sheet) {}

    void importStatus(const QString &text) override
    {
        QPointer<OVNImportMedia> sheet = m_guardedSheet;
        MainThread::post(
            [sheet, text] {
                if (sheet)
                    sheet->m_statusText->setText(localized(text));
            },
            m_sheet);
    }
    void importStarted(int total) override
    {
        QPointer<OVNImportMedia> sheet = m_guardedSheet;
        MainThread::post(
            [sheet, total] {
                if (sheet)
                    sheet->setupProgressBarWithMax(total);
            },
            m_sheet);
    }
    void importProgress(int position, int total, const QString &path, const QByteArray &thumbnail) override
    {
        QPointer<OVNImportMedia> sheet = m_guardedSheet;
        MainThread::post(
            [sheet, position, total, path, thumbnail] {
                if (!sheet)
                    return;
                sheet->m_statusText->setText(path);
                sheet->m_statusFileCount->setText(QStringLiteral("%1/%2").arg(position).arg(total));
                sheet->m_statusIndicator->setValue(position);
                if (!thumbnail.isEmpty())
                    sheet->queueImage(thumbnail);
            },
            m_sheet);
    }
    void importFinished(const OVNImportWorker::Summary &summary) override
    {
        QPointer<OVNImportMedia> sheet = m_guardedSheet;
        MainThread::post(
            [sheet, summary] {
                if (sheet)
                    sheet->processFilesFinished(summary);
            },
            m_sheet);
    }

private:
    OVNImportMedia *m_sheet;
    const QPointer<OVNImportMedia> m_guardedSheet;
};

OVNImportMedia::OVNImportMedia(QWidget *parent) : QDialog(parent), m_relay(std::make_unique<Relay>(this))
{
    setWindowTitle(localized("Import"));
    auto *layout = new QVBoxLayout(this);
    m_statusTitle = new QLabel(this);
    m_statusFileCount = new QLabel(this);
    m_statusTitle->setTextFormat(Qt::PlainText);
    auto *top = new QHBoxLayout;
    top->addWidget(m_statusTitle, 1);
    top->addWidget(m_statusFileCount);
    layout->addLayout(top);
    m_statusIndicator = new QProgressBar(this);
    layout->addWidget(m_statusIndicator);
    m_statusText = new QLabel(this);
    m_statusText->setMinimumWidth(420);
    m_statusText->setTextFormat(Qt::PlainText);
    layout->addWidget(m_statusText);
    auto *strip = new QHBoxLayout;
    for (int i = 5; i >= 1; --i) {
        m_thumbs[size_t(i)] = new QLabel(this);
        m_thumbs[size_t(i)]->setFixedSize(64, 64);
        m_thumbs[size_t(i)]->setAlignment(Qt::AlignCenter);
        strip->addWidget(m_thumbs[size_t(i)]);
    }
    m_thumbs[0] = new QLabel(this);
    m_thumbs[0]->setFixedSize(128, 128);
    m_thumbs[0]->setAlignment(Qt::AlignCenter);
    strip->addWidget(m_thumbs[0]);
    layout->addLayout(strip);
    m_importButton = new QPushButton(localized("Cancel"), this);
    connect(m_importButton, &QPushButton::clicked, this, [this] { btCancelClicked(); });
    layout->addWidget(m_importButton, 0, Qt::AlignRight);
}

OVNImportMedia::~OVNImportMedia()
{
    if (m_worker) {
        m_worker->cancel();
        m_worker->wait();
    }
}

void OVNImportMedia::setDestinationFolder(const QString &folder)
{
    m_settings.destinationFolder = folder;
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        QDir().mkpath(folder);
}

void OVNImportMedia::activatePrefillWithMediaInfo(const QVariantMap &info, const QVariantMap &purchased,
                                                  const QVariantMap &sold, bool keywordsAddFilename,
                                                  int keywordsParseFolders, bool shortDescriptionAddFilename,
                                                  int shortDescriptionParseFolders)
{
    m_settings.prefillEnabled = true;
    m_settings.prefillInfo = info;
    m_settings.prefillPurchased = purchased;
    m_settings.prefillSold = sold;
    m_settings.prefillWords = {keywordsAddFilename, keywordsParseFolders, shortDescriptionAddFilename,
                               shortDescriptionParseFolders};
}

void OVNImportMedia::processFiles(const QVariantList &files, const QString &categoryId, QWidget *sheetParent)
{
    m_settings.categoryId = categoryId;
    initSheetOnWindow(sheetParent);
    m_worker = std::make_unique<OVNImportWorker>(m_connections, m_settings);
    m_worker->start(files, m_relay.get());
}

void OVNImportMedia::processFilesSmart(const QVariantList &files, const QString &folderId, QWidget *sheetParent)
{
    m_smart = true;
    m_folderId = folderId;
    const int maximum = m_smartMaximum >= 0
                            ? m_smartMaximum
                            : int(UserDefaults::standard().integerForKey(QStringLiteral("SmartAddFilesPerCatalog")));
    initSheetOnWindow(sheetParent);
    m_worker = std::make_unique<OVNImportWorker>(m_connections, m_settings);
    m_worker->startSmart(files, folderId, OVNImportWorker::smartMaximum(maximum), m_relay.get());
}

void OVNImportMedia::reprocessFiles(const QVariantList &records, const QString &categoryId, QWidget *sheetParent)
{
    m_settings.categoryId = categoryId;
    initSheetOnWindow(sheetParent);
    m_worker = std::make_unique<OVNImportWorker>(m_connections, m_settings);
    m_worker->startReprocess(records, m_relay.get());
}

void OVNImportMedia::initSheetOnWindow(QWidget *window)
{
    for (size_t i = 0; i < m_thumbs.size(); ++i) {
        m_thumbs[i]->clear();
        m_thumbImages[i] = QImage();
    }
    m_statusText->clear();
    m_statusFileCount->clear();
    if (window && window != parentWidget())
        setParent(window, windowFlags());
    if (window) {
        window->raise();
        window->activateWindow();
        setWindowModality(Qt::WindowModal);
        open();
    } else {
        show();
        raise();
        activateWindow();
    }
    m_importButton->setEnabled(true);
    m_statusIndicator->setRange(0, 0); // indeterminate while the list is prepared
}

void OVNImportMedia::setupProgressBarWithMax(int maximum)
{
    m_statusIndicator->setRange(0, std::max(0, maximum));
    m_statusIndicator->setValue(0);
}

void OVNImportMedia::queueImage(const QByteArray &jpeg)
{
    for (size_t n = m_thumbImages.size() - 1; n >= 1; --n)
        m_thumbImages[n] = m_thumbImages[n - 1];
    m_thumbImages[0] = QImage::fromData(jpeg, "JPEG");
    for (size_t n = 0; n < m_thumbImages.size(); ++n) {
        const QSize box = m_thumbs[n]->size();
        m_thumbs[n]->setPixmap(m_thumbImages[n].isNull() ? QPixmap()
                                                         : QPixmap::fromImage(m_thumbImages[n].scaled(
                                                             box, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
}

QImage OVNImportMedia::filmStripImage(int slot) const
{
    return slot >= 0 && size_t(slot) < m_thumbImages.size() ? m_thumbImages[size_t(slot)] : QImage();
}

QString OVNImportMedia::statusText() const { return m_statusText->text(); }
QString OVNImportMedia::counterText() const { return m_statusFileCount->text(); }
int OVNImportMedia::progressMaximum() const { return m_statusIndicator->maximum(); }
int OVNImportMedia::progressValue() const { return m_statusIndicator->value(); }

void OVNImportMedia::btCancelClicked()
{
    if (!m_worker || m_finished)
        return;
    m_worker->cancel();
    m_importButton->setEnabled(false);
    m_statusText->setText(localized("Canceling import..."));
    // The sheet goes at once; the finish follows as soon as the worker has committed what it
    // inserted (files still being read are not waited for).
    hide();
}

namespace {

QString files(qsizetype count) { return count == 1 ? localized("1 file") : localized("%1 files").arg(count); }
QString folders(qsizetype count) { return count == 1 ? localized("1 folder") : localized("%1 folders").arg(count); }

} // namespace

OVNImportMedia::Report OVNImportMedia::importReport(const OVNImportWorker::Summary &summary)
{
    // The paths as the window lists names that may not be UTF-8: a byte that is not looks unlike
    // any name's own text.
    QStringList notImported;
    QStringList notImportedPaths;
    // A folder left out unread is named apart: what it holds is not known, so it counts as no file.
    QStringList notRead;
    for (const OVNImportWorker::Failure &failure : summary.failures) {
        if (failure.catalogued)
            continue;
        if (summary.foldersNotRead.contains(failure.path)) {
            notRead.append(QStringLiteral("%1: %2").arg(FileAccess::shownName(failure.path), failure.reason));
            notImportedPaths.append(failure.path);
            continue;
        }
        notImported.append(QStringLiteral("%1: %2").arg(FileAccess::shownName(failure.path), failure.reason));
        notImportedPaths.append(failure.path);
    }
    // A stopped import names what it never reached, without a reason of its own.
    for (const QString &path : summary.notImported) {
        if (!notImportedPaths.contains(path)) {
            (summary.foldersNotRead.contains(path) ? notRead : notImported).append(FileAccess::shownName(path));
            notImportedPaths.append(path);
        }
    }
    QStringList catalogued;
    for (const OVNImportWorker::Failure &failure : summary.failures) {
        // A file that made a problem and was then refused counts once, as not imported.
        if (failure.catalogued && !notImportedPaths.contains(failure.path))
            catalogued.append(QStringLiteral("%1: %2").arg(FileAccess::shownName(failure.path), failure.reason));
    }
    // A smart import's folder with more files than a collection takes went into numbered ones.
    QStringList splits;
    for (const OVNImportWorker::Summary::Split &split : summary.splits) {
        QStringList names;
        for (const QString &name : split.collections)
            names.append(QStringLiteral("“%1”").arg(name));
        const QString last = names.takeLast();
        splits.append(localized("“%1” has %2, more than the %3 one collection takes: they were filed into %4 and %5.")
                          .arg(split.name, files(split.files), QLocale().toString(summary.collectionLimit),
                               names.join(QStringLiteral(", ")), last));
    }
    Report report;
    if (notImported.isEmpty() && notRead.isEmpty() && catalogued.isEmpty()) {
        if (!splits.isEmpty()) {
            report.message = localized("Some folders were filed into several collections.");
            report.informativeText = splits.join(QLatin1Char('\n'));
        }
        return report;
    }
    report.message = !notImported.isEmpty() ? localized("Some files were not imported.")
                     : !notRead.isEmpty()   ? localized("Some folders were not read.")
                                            : localized("Some files were catalogued with an icon.");
    QStringList counts{localized("Imported: %1").arg(files(summary.importedIds.size()))};
    if (!notImported.isEmpty())
        counts.append(localized("Not imported: %1").arg(files(notImported.size())));
    if (!notRead.isEmpty())
        counts.append(localized("Not read: %1").arg(folders(notRead.size())));
    if (!catalogued.isEmpty())
        counts.append(localized("Catalogued with an icon or without some details: %1").arg(files(catalogued.size())));
    report.informativeText = counts.join(QLatin1Char('\n')) + QStringLiteral("\n\n")
                             + (splits.isEmpty() ? QString() : splits.join(QLatin1Char('\n')) + QStringLiteral("\n\n"))
                             + localized("Show Details lists each file with its reason.");
    QStringList sections;
    if (!notImported.isEmpty())
        sections.append(localized("Not imported:") + QLatin1Char('\n') + notImported.join(QLatin1Char('\n')));
    if (!notRead.isEmpty())
        sections.append(localized("Folders not read:") + QLatin1Char('\n') + notRead.join(QLatin1Char('\n')));
    if (!catalogued.isEmpty())
        sections.append(localized("Catalogued with an icon or without some details:") + QLatin1Char('\n')
                        + catalogued.join(QLatin1Char('\n')));
    report.details = sections.join(QStringLiteral("\n\n"));
    return report;
}

void OVNImportMedia::processFilesFinished(const OVNImportWorker::Summary &finished)
{
    if (m_finished)
        return;
    m_finished = true;
    OVNImportWorker::Summary summary = finished;
    summary.failures = m_skipped + summary.failures;
    m_summary = summary;
    if (m_worker)
        m_worker->wait();
    QWidget *window = parentWidget();
    hide();
    if (summary.connectionFailed) {
        Alerts::display(localized("Database connection failed"),
                        localized("The import could not open its own connection to the catalog."), window);
    } else if (m_showsResultSheet && summary.abortTitle.isEmpty()) {
        auto *result = new OVNImportResultSheet(window);
        result->setResult(summary);
        if (window) {
            result->setWindowModality(Qt::WindowModal);
            result->open();
        } else {
            result->show();
        }
    } else {
        const Report report = importReport(summary);
        Alert alert;
        alert.message = report.message;
        alert.informativeText = report.informativeText;
        alert.detailedText = report.details;
        if (!summary.abortTitle.isEmpty()) {
            // What stopped the import comes first; the lists follow as they do for any import.
            m_statusText->setText(localized(summary.abortStatus));
            alert.message = localized(summary.abortTitle);
            alert.informativeText =
                summary.abortMessage
                + (report.informativeText.isEmpty() ? QString() : QStringLiteral("\n\n") + report.informativeText);
        }
        if (!alert.message.isEmpty()) {
            if (window) {
                alert.window = window;
                alert.modality = Alert::Modality::Window;
                Alerts::show(alert);
            } else {
                Alerts::run(alert);
            }
        }
    }
    if (m_smart) {
        const QString last = summary.collections.isEmpty() ? QString() : summary.collections.constLast().id;
        NotificationCenter::defaultCenter().postNotification(
            QStringLiteral("OVNNotificationReloadCategory"),
            {{QStringLiteral("categoryid"), m_folderId.isEmpty() ? last : m_folderId}});
        NotificationCenter::defaultCenter().postNotification(QStringLiteral("OVNNotificationCategoryListDidChange"),
                                                             {{QStringLiteral("action"), QStringLiteral("add")}});
        // Where the files went: the one collection made, else the folder that holds them all.
        const QString target = summary.collections.size() == 1 ? last : (m_folderId.isEmpty() ? last : m_folderId);
        if (!target.isEmpty())
            NotificationCenter::defaultCenter().postNotification(importMediaDidFinishNotification(),
                                                                 {{QStringLiteral("categoryid"), target}});
    } else {
        NotificationCenter::defaultCenter().postNotification(importMediaDidFinishNotification(),
                                                             {{QStringLiteral("categoryid"), m_settings.categoryId}});
        if (m_showsResultSheet)
            NotificationCenter::defaultCenter().postNotification(
                QStringLiteral("OVNNotificationReloadCategory"),
                {{QStringLiteral("categoryid"), m_settings.categoryId},
                 {QStringLiteral("object"), QVariant::fromValue(static_cast<QObject *>(this))}});
    }
    if (m_deleteOnFinish)
        deleteLater();
}

void OVNImportMedia::closeEvent(QCloseEvent *event)
{
    // The window closes at the finish; until then closing it means cancel.
    if (!m_finished) {
        btCancelClicked();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void OVNImportMedia::reject()
{
    if (!m_finished)
        btCancelClicked();
    else
        QDialog::reject();
}
