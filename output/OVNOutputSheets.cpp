#include "output/OVNOutputSheets.h"

#include "platform/Alert.h"
#include "output/OVNExportImages.h"
#include "output/OVNOutputSizes.h"
#include "output/OVNSendImagesAsMail.h"
#include "platform/UserDefaults.h"
#include "platform/Localized.h"
#include "platform/Workspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <functional>

namespace {

// A folder line with a "Choose..." button beside it.
QWidget *folderRow(QLineEdit *field, QWidget *parent, const QString &title)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    auto *choose = new QPushButton(localized("Choose..."), row);
    layout->addWidget(choose);
    QObject::connect(choose, &QPushButton::clicked, parent, [field, parent, title] {
        const QString folder = QFileDialog::getExistingDirectory(parent, title, field->text());
        if (!folder.isEmpty())
            field->setText(folder);
    });
    return row;
}

// The export sheet's last choices, kept in the preferences as one dictionary of strings.
const QString kExportSettingsKey = QStringLiteral("ExportSettings");
// The theme preview of the web-gallery sheet, in points.
constexpr QSize themePreviewSize(240, 160);

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

QProgressDialog *progressSheet(QWidget *window, const QString &status, int maximum)
{
    auto *progress = new QProgressDialog(status, localized("Cancel"), 0, maximum, window);
    progress->setWindowModality(Qt::WindowModal);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    return progress;
}

// A worker's count of done items, shown on the sheet from the GUI thread (while it is still open).
std::function<void(int)> progressTo(const QPointer<QProgressDialog> &progress)
{
    return [progress](int done) {
        QMetaObject::invokeMethod(
            progress,
            [progress, done] {
                if (progress)
                    progress->setValue(done);
            },
            Qt::QueuedConnection);
    };
}

} // namespace

OVNExportImagesSheet::OVNExportImagesSheet(QWidget *parent)
    : QDialog(parent),
      m_sizeselector(new QComboBox(this)),
      m_sizefield(new QLineEdit(this)),
      m_watermarkswitch(new QCheckBox(localized("Add caption"), this)),
      m_watermarkauthor(new QLineEdit(this)),
      m_watermarkimagename(new QCheckBox(localized("Include the file name"), this)),
      m_revealafterexport(new QCheckBox(localized("Show the files when done"), this)),
      m_folder(new QLineEdit(QDir::homePath(), this))
{
    setWindowTitle(localized("Export images to"));
    for (const OVNOutputSizes::Size &size : OVNOutputSizes::scaled)
        m_sizeselector->addItem(localized(size.title));
    m_sizeselector->addItem(localized("Custom size"));
    m_sizeselector->insertSeparator(OVNExportImages::customSizeIndex + 1);
    m_sizeselector->addItem(localized("Original file"));
    m_sizeselector->setCurrentIndex(2);
    m_sizefield->setValidator(new QIntValidator(0, 100000, m_sizefield));
    auto *form = new QFormLayout(this);
    form->addRow(
        new QLabel(localized("Please select the destination folder and image settings for your export."), this));
    form->addRow(localized("Folder:"), folderRow(m_folder, this, localized("Export images to")));
    form->addRow(localized("Size:"), m_sizeselector);
    form->addRow(localized("Custom size:"), m_sizefield);
    form->addRow(QString(), m_watermarkswitch);
    form->addRow(localized("Author:"), m_watermarkauthor);
    form->addRow(QString(), m_watermarkimagename);
    form->addRow(QString(), m_revealafterexport);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(localized("Export"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_sizeselector, &QComboBox::currentIndexChanged, this, &OVNExportImagesSheet::sizeChanged);
    connect(m_watermarkswitch, &QCheckBox::toggled, this, &OVNExportImagesSheet::sizeChanged);
    loadSettings();
    connect(this, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted)
            runExport();
        else
            deleteLater();
    });
}

OVNExportImagesSheet::~OVNExportImagesSheet() = default;

void OVNExportImagesSheet::setFiles(const QList<MediaRecord> &records) { m_originalfiles = records; }

void OVNExportImagesSheet::beginSheetModalForWindow(QWidget *window)
{
    sizeChanged();
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    open();
}

void OVNExportImagesSheet::sizeChanged()
{
    const int index = m_sizeselector->currentIndex();
    const bool copy = index == OVNExportImages::unchangedCopyIndex;
    const bool custom = index == OVNExportImages::customSizeIndex;
    m_watermarkswitch->setEnabled(!copy);
    m_watermarkauthor->setEnabled(!copy);
    m_watermarkauthor->setReadOnly(copy);
    m_watermarkimagename->setEnabled(!copy);
    m_sizefield->setEnabled(custom);
    m_sizefield->setReadOnly(!custom);
    if (m_watermarkswitch->isEnabled() && !m_watermarkswitch->isChecked()) {
        m_watermarkauthor->setEnabled(false);
        m_watermarkauthor->setReadOnly(true);
        m_watermarkimagename->setEnabled(false);
    }
}

void OVNExportImagesSheet::loadSettings()
{
    const QVariantMap last = UserDefaults::standard().dictionaryForKey(kExportSettingsKey);
    if (last.isEmpty())
        return;
    const auto text = [&last](const char *key) {
        return UserDefaults::stringFromVariant(last.value(QLatin1String(key)));
    };
    const auto on = [&last](const char *key) { return UserDefaults::boolFromVariant(last.value(QLatin1String(key))); };
    // A folder that has gone since is not offered again.
    if (QFileInfo(text("Folder")).isDir())
        m_folder->setText(text("Folder"));
    const int index = int(UserDefaults::integerFromVariant(last.value(QStringLiteral("SizeIndex"))));
    if (index >= 0 && index < m_sizeselector->count() && !m_sizeselector->itemText(index).isEmpty())
        m_sizeselector->setCurrentIndex(index);
    m_sizefield->setText(text("CustomSize"));
    m_watermarkswitch->setChecked(on("Caption"));
    m_watermarkauthor->setText(text("Author"));
    m_watermarkimagename->setChecked(on("CaptionFileName"));
    m_revealafterexport->setChecked(on("Reveal"));
}

void OVNExportImagesSheet::saveSettings() const
{
    UserDefaults::standard().setObject(
        QVariantMap{{QStringLiteral("Folder"), QFileInfo(m_folder->text()).absoluteFilePath()},
                    {QStringLiteral("SizeIndex"), QString::number(m_sizeselector->currentIndex())},
                    {QStringLiteral("CustomSize"), m_sizefield->text()},
                    {QStringLiteral("Caption"), flag(m_watermarkswitch->isChecked())},
                    {QStringLiteral("Author"), m_watermarkauthor->text()},
                    {QStringLiteral("CaptionFileName"), flag(m_watermarkimagename->isChecked())},
                    {QStringLiteral("Reveal"), flag(m_revealafterexport->isChecked())}},
        kExportSettingsKey);
}

void OVNExportImagesSheet::runExport()
{
    QWidget *window = parentWidget();
    saveSettings();
    const QString folder = QFileInfo(m_folder->text()).absoluteFilePath();
    if (const QString problem = OVNExportImages::folderProblem(folder); !problem.isEmpty()) {
        Alerts::display(localized("The export cannot be written."), problem, window);
        deleteLater();
        return;
    }
    // The sheet may have stood open for minutes: what goes out is asked again now.
    const std::optional<QList<MediaRecord>> records = m_check.now(m_originalfiles);
    if (!records) {
        deleteLater();
        return;
    }
    OVNExportImages::Options options;
    options.sizeIndex = m_sizeselector->currentIndex();
    options.customSize = m_sizefield->text().toInt();
    options.caption = m_watermarkswitch->isChecked();
    options.author = m_watermarkauthor->text();
    options.captionFilename = m_watermarkimagename->isChecked();
    const bool reveal = m_revealafterexport->isChecked();

    QPointer<QProgressDialog> progress = progressSheet(window, localized("Exporting..."), int(records->size()));
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    connect(progress, &QProgressDialog::canceled, this, [cancelled] { cancelled->store(true); });
    auto entries = std::make_shared<QList<OVNExportImages::Entry>>();
    QThread *worker = QThread::create([records = *records, folder, options, cancelled, progress, entries] {
        *entries = OVNExportImages::exportRecords(records, folder, options, progressTo(progress), cancelled.get());
    });
    connect(worker, &QThread::finished, this, [this, worker, progress, entries, reveal, window] {
        worker->deleteLater();
        if (progress)
            progress->close();
        QStringList written, failures;
        for (const OVNExportImages::Entry &entry : std::as_const(*entries)) {
            if (entry.written)
                written.append(entry.destination);
            else if (!m_cancelled->load() || entry.reason != localized("cancelled"))
                // Files a cancel left unstarted are no failures.
                failures.append(QStringLiteral("%1: %2").arg(QFileInfo(entry.source).fileName(), entry.reason));
        }
        if (!failures.isEmpty())
            Alerts::display(localized("Some files could not be exported."), Alerts::namedList(failures), window);
        if (reveal && !written.isEmpty())
            Workspace::revealFiles({written.first()}, window);
        deleteLater();
    });
    worker->start();
}

OVNSendImagesAsMailSheet::OVNSendImagesAsMailSheet(QWidget *parent)
    : QDialog(parent),
      m_sizeselector(new QComboBox(this)),
      m_watermarkswitch(new QCheckBox(localized("Add caption"), this)),
      m_watermarkauthor(new QLineEdit(this)),
      m_watermarkimagename(new QCheckBox(localized("Include the file name"), this))
{
    setWindowTitle(localized("Send as E-mail"));
    for (const OVNOutputSizes::Size &size : OVNOutputSizes::scaled)
        m_sizeselector->addItem(localized(size.title));
    m_sizeselector->insertSeparator(int(OVNOutputSizes::scaled.size()));
    m_sizeselector->addItem(localized("Original file"));
    auto *form = new QFormLayout(this);
    form->addRow(localized("Size:"), m_sizeselector);
    form->addRow(QString(), m_watermarkswitch);
    form->addRow(localized("Author:"), m_watermarkauthor);
    form->addRow(QString(), m_watermarkimagename);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(localized("Send"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_sizeselector, &QComboBox::currentIndexChanged, this, &OVNSendImagesAsMailSheet::sizeChanged);
    connect(this, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted)
            sendMail();
        else
            deleteLater();
    });
}

void OVNSendImagesAsMailSheet::beginSheetModalForWindow(QWidget *window)
{
    sizeChanged();
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    open();
}

void OVNSendImagesAsMailSheet::sizeChanged()
{
    const bool original = m_sizeselector->currentIndex() == OVNSendImagesAsMail::originalIndex;
    if (original) {
        m_watermarkswitch->setChecked(false);
        m_watermarkimagename->setChecked(false);
    }
    m_watermarkswitch->setEnabled(!original);
    m_watermarkauthor->setEnabled(!original);
    m_watermarkauthor->setReadOnly(original);
    m_watermarkimagename->setEnabled(!original);
}

void OVNSendImagesAsMailSheet::sendMail()
{
    QWidget *window = parentWidget();
    // The sheet may have stood open for minutes: what goes out is asked again now.
    const std::optional<QList<MediaRecord>> records = m_check.now(m_originalfiles);
    if (!records) {
        deleteLater();
        return;
    }
    OVNSendImagesAsMail::Options options;
    options.sizeIndex = m_sizeselector->currentIndex();
    options.caption = m_watermarkswitch->isChecked();
    options.author = m_watermarkauthor->text();
    options.captionFilename = m_watermarkimagename->isChecked();
    QString command = UserDefaults::standard().stringForKey(QStringLiteral("MailCommand"));
    if (command.trimmed().isEmpty())
        command = OVNSendImagesAsMail::defaultCommand();

    QPointer<QProgressDialog> progress =
        progressSheet(window, localized("Preparing the e-mail..."), int(records->size()));
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    connect(progress, &QProgressDialog::canceled, this, [cancelled] { cancelled->store(true); });
    auto prepared = std::make_shared<OVNSendImagesAsMail::Prepared>();
    auto result = std::make_shared<OVNSendImagesAsMail::Result>();
    QThread *worker = QThread::create([records = *records, options, command, cancelled, progress, prepared, result] {
        const QString folder = OVNSendImagesAsMail::attachmentFolder();
        OVNSendImagesAsMail::removeOldAttachments(folder);
        *prepared = OVNSendImagesAsMail::prepare(records, options, folder, progressTo(progress), cancelled.get());
        if (!cancelled->load() && !prepared->files.isEmpty())
            *result = OVNSendImagesAsMail::handOver(command, prepared->files);
    });
    connect(worker, &QThread::finished, this, [this, worker, progress, prepared, result, window] {
        worker->deleteLater();
        if (progress)
            progress->close();
        const OVNSendImagesAsMail::Report report = OVNSendImagesAsMail::failureReport(*prepared, *result);
        if (!report.title.isEmpty())
            Alerts::display(report.title, report.text, window);
        deleteLater();
    });
    worker->start();
}

OVNPublishToWebSheet::OVNPublishToWebSheet(QWidget *parent)
    : QDialog(parent),
      m_pagetitle(new QLineEdit(this)),
      m_pagesubtitle(new QLineEdit(this)),
      m_pagecopyright(new QLineEdit(this)),
      m_themeselection(new QComboBox(this)),
      m_themepreview(new QLabel(this)),
      m_folder(new QLineEdit(QDir::home().filePath(QStringLiteral("Desktop")), this))
{
    setWindowTitle(localized("Publish to Web"));
    auto *form = new QFormLayout(this);
    form->addRow(localized("Title:"), m_pagetitle);
    form->addRow(localized("Sub-title:"), m_pagesubtitle);
    form->addRow(localized("Copyright:"), m_pagecopyright);
    form->addRow(localized("Theme:"), m_themeselection);
    m_themepreview->setFixedSize(themePreviewSize);
    m_themepreview->setAlignment(Qt::AlignCenter);
    m_themepreview->setFrameShape(QFrame::StyledPanel);
    form->addRow(QString(), m_themepreview);
    connect(m_themeselection, &QComboBox::currentIndexChanged, this, [this] { themeselectionChanged(); });
    form->addRow(localized("Save Web Publish Files to:"),
                 folderRow(m_folder, this, localized("Save Web Publish Files to:")));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(localized("Create Web Pages"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted)
            createWebPages();
        else
            deleteLater();
    });
}

void OVNPublishToWebSheet::setPageTitle(const QString &title)
{
    if (!title.isNull())
        m_pagetitle->setText(title);
}

QString OVNPublishToWebSheet::pageTitle() const { return m_pagetitle->text(); }

void OVNPublishToWebSheet::themeselectionChanged()
{
    // A theme without a picture shows none: the one before belongs to another theme.
    const QString theme = m_themeselection->currentData().toString();
    const QImage preview = theme.isEmpty() ? QImage() : QImage(QDir(theme).filePath(QStringLiteral("preview.jpg")));
    if (preview.isNull()) {
        m_themepreview->setPixmap(QPixmap());
        m_themepreview->setText(localized("No preview"));
        return;
    }
    const QSize room = m_themepreview->contentsRect().size();
    m_themepreview->setPixmap(QPixmap::fromImage(preview.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool OVNPublishToWebSheet::publish(QWidget *window)
{
    const QString root = OVNPublishToWeb::themeRoot();
    const QList<OVNPublishToWeb::Theme> themes = OVNPublishToWeb::themes(root);
    if (themes.isEmpty()) {
        Alerts::display(localized("Failed to locate templates"),
                        root.isEmpty() ? localized("The PublishToWeb template folder could not be found. Please "
                                                   "check your installation.")
                                       : localized("The PublishToWeb template folder does not seem to contain "
                                                   "any templates. Please check your installation."),
                        window);
        deleteLater();
        return false;
    }
    m_themeselection->clear();
    for (const OVNPublishToWeb::Theme &theme : themes)
        m_themeselection->addItem(theme.displaytag, theme.path);
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    open();
    return true;
}

void OVNPublishToWebSheet::announceGallery(const OVNPublishToWeb::Result &result, QWidget *window)
{
    // One alert: where the gallery is, what was left out of it, and the offer to open it.
    Alert alert;
    alert.style = result.failed.isEmpty() ? Alert::Style::Informational : Alert::Style::Warning;
    alert.message = result.failed.isEmpty() ? localized("The web gallery was published.")
                                            : localized("The web gallery was published without some pictures.");
    QString text = localized("It is in %1.").arg(QDir::toNativeSeparators(result.galleryPath));
    if (!result.failed.isEmpty()) {
        text += QStringLiteral("\n\n") + localized("These pictures could not be made and were left out:")
                + QLatin1Char('\n') + Alerts::namedList(result.failed);
    }
    alert.informativeText = text;
    const bool canOpen = result.pictures > 0;
    alert.buttons = canOpen ? QStringList{localized("Open Gallery"), localized("Close")}
                            : QStringList{localized("Close")};
    if (window) {
        alert.modality = Alert::Modality::Window;
        alert.window = window;
    }
    const QString index = QDir(result.galleryPath).filePath(QStringLiteral("index.html"));
    Alerts::show(alert, [canOpen, index](int answer) {
        if (canOpen && answer == 0)
            Workspace::openUrl(QUrl::fromLocalFile(index).toString());
    });
}

void OVNPublishToWebSheet::createWebPages()
{
    QWidget *window = parentWidget();
    // The sheet may have stood open for minutes: what goes out is asked again now.
    const std::optional<QList<MediaRecord>> records = m_check.now(m_files);
    if (!records) {
        deleteLater();
        return;
    }
    const OVNPublishToWeb::Texts texts{m_pagetitle->text(), m_pagesubtitle->text(), m_pagecopyright->text()};
    const QString theme = m_themeselection->currentData().toString();
    const QString folder = m_folder->text();
    QPointer<QProgressDialog> progress = progressSheet(window, localized("Exporting thumbnail and photo files..."), 0);
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    connect(progress, &QProgressDialog::canceled, this, [cancelled] { cancelled->store(true); });
    auto result = std::make_shared<OVNPublishToWeb::Result>();
    QThread *worker = QThread::create([records = *records, theme, folder, texts, progress, cancelled, result] {
        *result = OVNPublishToWeb::createWebPages(
            records, theme, folder, texts,
            [progress](int step, int steps) {
                QMetaObject::invokeMethod(
                    progress,
                    [progress, step, steps] {
                        if (progress) {
                            progress->setMaximum(steps);
                            progress->setValue(step);
                        }
                    },
                    Qt::QueuedConnection);
            },
            cancelled.get());
    });
    connect(worker, &QThread::finished, this, [this, worker, progress, result, cancelled, window] {
        worker->deleteLater();
        // Read before the progress sheet goes: closing it counts as a cancel.
        const bool stopped = cancelled->load();
        if (progress)
            progress->close();
        if (result->galleryPath.isEmpty())
            Alerts::display(result->alertTitle, result->alertMessage, window);
        else if (!stopped)
            announceGallery(*result, window);
        deleteLater();
    });
    worker->start();
}
