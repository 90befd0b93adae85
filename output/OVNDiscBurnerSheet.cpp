#include "output/OVNDiscBurnerSheet.h"

#include "output/OVNDiscBurner.h"
#include "platform/Alert.h"
#include "platform/DiscDrives.h"
#include "platform/Localized.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

namespace {

std::atomic_int writingSheets{0};

// The image-file entry's data until a file is chosen.
const QString chooseImageData = QStringLiteral("image");

// How often the drives are looked at again while the sheet is open.
constexpr int pollInterval = 3000;

} // namespace

OVNDiscDriveWatcher::OVNDiscDriveWatcher(std::shared_ptr<DiscDrives> drives,
                                         std::shared_ptr<std::atomic_bool> cancelled)
    : m_drives(std::move(drives)),
      m_cancelled(std::move(cancelled))
{}

void OVNDiscDriveWatcher::start(int interval)
{
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &OVNDiscDriveWatcher::poll);
    m_timer->start(interval);
    poll();
}

void OVNDiscDriveWatcher::poll()
{
    // A scan must not meet a held drive: the selected one is let go and taken again right after.
    m_drives->release();
    m_grabbed = false;
    emit drivesFound(m_drives->scan());
    readSelected();
}

void OVNDiscDriveWatcher::select(const QString &address)
{
    if (address != m_selected && m_grabbed) {
        m_drives->release();
        m_grabbed = false;
    }
    m_selected = address;
    readSelected();
}

void OVNDiscDriveWatcher::readSelected()
{
    if (m_selected.isEmpty())
        return;
    // An open tray is read from the drive itself: holding it would lock the tray.
    if (!m_grabbed && m_drives->tray(m_selected) == DiscDrives::Tray::Open) {
        emit stateRead(m_selected, int(DiscBurn::Media::None), true);
        return;
    }
    if (!m_grabbed)
        m_grabbed = m_drives->grab(m_selected);
    emit stateRead(m_selected, m_grabbed ? int(m_drives->media()) : unusable, false);
}

void OVNDiscDriveWatcher::perform(Command command, const QString &address)
{
    m_drives->release();
    m_grabbed = false;
    const bool done = command == Command::Eject ? m_drives->eject(address)
                                                : m_drives->moveTray(address, command == Command::OpenTray);
    if (!done)
        emit commandFailed();
    readSelected();
}

void OVNDiscDriveWatcher::burn(const QString &address, const QString &discName, const QStringList &files,
                               qint64 mediumSize)
{
    m_drives->release();
    m_grabbed = false;
    const DiscBurn::Result result = m_drives->burn(
        address, discName, files, mediumSize,
        [this](const QString &text, int percent) { emit burnStatus(text, percent); }, m_cancelled.get());
    emit burnEnded(int(result.outcome), result.text);
    readSelected();
}

void OVNDiscDriveWatcher::stop()
{
    if (m_timer)
        m_timer->stop();
    m_drives->release();
    m_grabbed = false;
    m_selected.clear();
    thread()->quit();
}

OVNDiscBurnerSheet::OVNDiscBurnerSheet(QWidget *parent, std::shared_ptr<DiscDrives> drives)
    : QDialog(parent),
      m_deviceSelection(new QComboBox(this)),
      m_mediumSelection(new QComboBox(this)),
      m_discName(new QLineEdit(localized("Ostrevan Backup Disc"), this)),
      m_progress(new QProgressBar(this)),
      m_statusText(new QLabel(this)),
      m_cancelButton(new QPushButton(localized("Cancel"), this)),
      m_okButton(new QPushButton(localized("Burn Disc"), this)),
      m_window(parent)
{
    setWindowTitle(localized("Burn Disc"));
    {
        const QSignalBlocker blocker(m_deviceSelection);
        m_deviceSelection->addItem(localized("Image file..."), chooseImageData);
        m_deviceSelection->setCurrentIndex(-1);
    }
    m_deviceSelection->setMinimumContentsLength(28);
    for (const char *medium : {"CD (700 MB)", "DVD (4.7 GB)", "Blu-ray (25 GB)"})
        m_mediumSelection->addItem(localized(medium));
    m_mediumSelection->setCurrentIndex(1);
    m_mediumSelection->setEnabled(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setWordWrap(true);
    m_statusText->setMinimumHeight(m_statusText->fontMetrics().height() * 2);
    m_okButton->setEnabled(false);
    m_okButton->setDefault(true);

    auto *form = new QFormLayout(this);
    form->addRow(localized("Burner:"), m_deviceSelection);
    form->addRow(localized("Image size:"), m_mediumSelection);
    form->addRow(localized("Disc name:"), m_discName);
    form->addRow(m_progress);
    form->addRow(m_statusText);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_okButton);
    form->addRow(buttons);

    connect(m_deviceSelection, &QComboBox::currentIndexChanged, this, &OVNDiscBurnerSheet::deviceChanged);
    // "Image file..." asks for the file each time it is chosen, also while it is the one shown
    // (as without drives), which changes no index.
    connect(m_deviceSelection, &QComboBox::activated, this, [this](int index) {
        if (m_deviceSelection->itemData(index).toString() == chooseImageData)
            chooseImageFile();
    });
    connect(m_okButton, &QPushButton::clicked, this, &OVNDiscBurnerSheet::burnOKClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &OVNDiscBurnerSheet::burnCancelClicked);
    connect(this, &QDialog::finished, this, &QObject::deleteLater);

    if (!drives)
        drives = DiscDrives::system();
    m_thread = new QThread;
    m_watcher = new OVNDiscDriveWatcher(std::move(drives), m_cancelled);
    m_watcher->moveToThread(m_thread);
    // Both outlive the sheet until the worker has let go of the drive.
    connect(m_thread, &QThread::finished, m_watcher, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    connect(m_watcher, &OVNDiscDriveWatcher::drivesFound, this, &OVNDiscBurnerSheet::drivesFound);
    connect(m_watcher, &OVNDiscDriveWatcher::stateRead, this, &OVNDiscBurnerSheet::stateRead);
    connect(m_watcher, &OVNDiscDriveWatcher::commandFailed, this, [this] { m_okButton->setEnabled(true); });
    connect(m_watcher, &OVNDiscDriveWatcher::burnStatus, this, &OVNDiscBurnerSheet::burnStatus);
    connect(m_watcher, &OVNDiscDriveWatcher::burnEnded, this, &OVNDiscBurnerSheet::burnEnded);
    m_thread->start();
}

OVNDiscBurnerSheet::~OVNDiscBurnerSheet()
{
    if (m_writing) {
        // Taken down with its window: the burn stops and the worker lets go of the drive.
        m_cancelled->store(true);
        setWriting(false);
    }
    if (!m_ended) {
        OVNDiscDriveWatcher *watcher = m_watcher;
        QMetaObject::invokeMethod(
            watcher, [watcher] { watcher->stop(); }, Qt::QueuedConnection);
    }
    // The worker may be in the middle of a look at the drives: it is let finish here, so that it
    // never outlives the program (the drives' lock would be taken down under it at exit).
    if (m_thread && m_thread->isRunning())
        m_thread->wait(QDeadlineTimer(std::chrono::seconds(10)));
}

bool OVNDiscBurnerSheet::anyWriting() { return writingSheets.load() > 0; }

qint64 OVNDiscBurnerSheet::mediumSize(int index)
{
    // Sectors of 2048 bytes on an 80-minute CD-R, a single-layer DVD+R and a single-layer BD-R.
    switch (index) {
    case 0:
        return 360000LL * 2048;
    case 2:
        return 12219392LL * 2048;
    default:
        return 2295104LL * 2048;
    }
}

void OVNDiscBurnerSheet::setRecords(const QList<MediaRecord> &records, OVNOutputCheck check)
{
    m_records = records;
    m_files = OVNOutputCheck::paths(records);
    m_check = std::move(check);
}

void OVNDiscBurnerSheet::burn()
{
    setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
    setStatus(localized("Looking for disc burners..."));
    open();
    OVNDiscDriveWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(
        watcher, [watcher] { watcher->start(pollInterval); }, Qt::QueuedConnection);
}

void OVNDiscBurnerSheet::refresh()
{
    OVNDiscDriveWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(
        watcher, [watcher] { watcher->poll(); }, Qt::QueuedConnection);
}

QString OVNDiscBurnerSheet::selectedAddress() const
{
    const QString data = m_deviceSelection->currentData().toString();
    return data == chooseImageData ? QString() : data;
}

void OVNDiscBurnerSheet::deviceChanged()
{
    // Chosen by the user, "Image file..." is activated next, which asks for the file.
    if (m_deviceSelection->currentData().toString() == chooseImageData)
        return;
    m_previousIndex = m_deviceSelection->currentIndex();
    const QString address = selectedAddress();
    m_mediumSelection->setEnabled(DiscBurn::isImageFile(address));
    m_action = Action::None;
    m_okButton->setEnabled(false);
    setStatus(localized("Reading disc information..."));
    OVNDiscDriveWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(
        watcher, [watcher, address] { watcher->select(address); }, Qt::QueuedConnection);
}

void OVNDiscBurnerSheet::chooseImageFile()
{
    const QString suggested = QDir::home().filePath(m_discName->text().trimmed() + QStringLiteral(".iso"));
    const QString path = QFileDialog::getSaveFileName(this, localized("Save Disc Image"), suggested,
                                                      localized("Disc images (*.iso)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        useImageFile(path);
    if (m_deviceSelection->currentData().toString() == chooseImageData) {
        // Nothing chosen: back to the drive selected before.
        const QSignalBlocker blocker(m_deviceSelection);
        m_deviceSelection->setCurrentIndex(m_previousIndex);
    }
}

void OVNDiscBurnerSheet::useImageFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        // The burn never writes over a file: a new image gets a new name.
        Alerts::inform(localized("The image file exists already."),
                       localized("Choose a name that is not in use for the disc image."), this);
        return;
    }
    const int last = m_deviceSelection->count() - 1;
    m_deviceSelection->setItemText(last, localized("Image file: %1").arg(info.fileName()));
    m_deviceSelection->setItemData(last, QStringLiteral("stdio:") + info.absoluteFilePath());
    m_deviceSelection->setItemData(last, info.absoluteFilePath(), Qt::ToolTipRole);
    {
        const QSignalBlocker blocker(m_deviceSelection);
        m_deviceSelection->setCurrentIndex(last);
    }
    deviceChanged();
}

void OVNDiscBurnerSheet::drivesFound(const QStringList &addresses)
{
    if (m_ended)
        return;
    const QString selected = selectedAddress();
    {
        const QSignalBlocker blocker(m_deviceSelection);
        // The drives come before the image-file entry, which stays last.
        for (int i = m_deviceSelection->count() - 2; i >= 0; --i) {
            if (!addresses.contains(m_deviceSelection->itemData(i).toString()))
                m_deviceSelection->removeItem(i);
        }
        for (const QString &address : addresses) {
            if (m_deviceSelection->findData(address) < 0)
                m_deviceSelection->insertItem(m_deviceSelection->count() - 1, address, address);
        }
    }
    if (m_writing || m_finishing)
        return;
    const int index = selected.isEmpty() ? -1 : m_deviceSelection->findData(selected);
    if (index >= 0)
        return;
    if (m_deviceSelection->count() > 1) {
        // Nothing (or a drive now gone) was selected: the first drive.
        const QSignalBlocker blocker(m_deviceSelection);
        m_deviceSelection->setCurrentIndex(0);
        deviceChanged();
    } else {
        // The one item left is shown selected; choosing it asks for the image file.
        const QSignalBlocker blocker(m_deviceSelection);
        m_deviceSelection->setCurrentIndex(m_deviceSelection->count() - 1);
        m_previousIndex = m_deviceSelection->currentIndex();
        m_action = Action::None;
        m_okButton->setEnabled(false);
        setStatus(localized("No disc burner was found. Choose 'Image file...' to write a disc image."));
    }
}

void OVNDiscBurnerSheet::stateRead(const QString &address, int media, bool trayOpen)
{
    // Only the selected drive speaks; a burn's own texts are not overwritten.
    if (m_writing || m_finishing || m_ended || address != selectedAddress())
        return;
    if (media == OVNDiscDriveWatcher::unusable) {
        m_action = Action::None;
        m_okButton->setEnabled(false);
        setStatus(localized("The drive cannot be used now. Another program may be using it."));
        return;
    }
    using Media = OVNDiscBurner::DriveState::Media;
    OVNDiscBurner::DriveState state;
    switch (DiscBurn::Media(media)) {
    case DiscBurn::Media::Writable:
        state.media = Media::Writable;
        m_action = Action::Burn;
        break;
    case DiscBurn::Media::Full:
        state.media = Media::Full;
        m_action = Action::Eject;
        break;
    case DiscBurn::Media::None:
        state.media = Media::None;
        m_action = trayOpen ? Action::CloseTray : Action::OpenTray;
        break;
    case DiscBurn::Media::Unknown:
        m_action = Action::None;
        break;
    }
    state.trayOpen = trayOpen;
    state.imageFile = DiscBurn::isImageFile(address);
    const OVNDiscBurner::Presentation shown = OVNDiscBurner::present(state);
    if (!shown.button.isEmpty())
        m_okButton->setText(shown.button);
    m_okButton->setEnabled(shown.enabled);
    setStatus(shown.status);
}

void OVNDiscBurnerSheet::burnOKClicked()
{
    const QString address = selectedAddress();
    if (address.isEmpty() || m_writing || m_finishing)
        return;
    OVNDiscDriveWatcher *watcher = m_watcher;
    auto perform = [&](OVNDiscDriveWatcher::Command command) {
        m_okButton->setEnabled(false);
        QMetaObject::invokeMethod(
            watcher, [watcher, command, address] { watcher->perform(command, address); }, Qt::QueuedConnection);
    };
    switch (m_action) {
    case Action::OpenTray:
        perform(OVNDiscDriveWatcher::Command::OpenTray);
        break;
    case Action::CloseTray:
        perform(OVNDiscDriveWatcher::Command::CloseTray);
        break;
    case Action::Eject:
        perform(OVNDiscDriveWatcher::Command::Eject);
        break;
    case Action::None:
        break;
    case Action::Burn: {
        QStringList files = m_files;
        if (m_check.isSet()) {
            // The sheet may have stood open for minutes: what goes out is asked again now.
            const std::optional<QList<MediaRecord>> records = m_check.now(m_records);
            if (!records) {
                endSheet(QDialog::Rejected);
                return;
            }
            files = OVNOutputCheck::paths(*records);
        }
        if (files.isEmpty())
            return;
        QString name = m_discName->text().trimmed();
        if (name.isEmpty())
            name = localized("Ostrevan Backup Disc");
        const qint64 size = DiscBurn::isImageFile(address) ? mediumSize(m_mediumSelection->currentIndex()) : 0;
        m_cancelled->store(false);
        setWriting(true);
        m_progress->setValue(0);
        setStatus(localized("Preparing disc..."));
        QMetaObject::invokeMethod(
            watcher, [watcher, address, name, files, size] { watcher->burn(address, name, files, size); },
            Qt::QueuedConnection);
        break;
    }
    }
}

void OVNDiscBurnerSheet::burnStatus(const QString &text, int percent)
{
    if (!m_writing || m_cancelled->load())
        return;
    m_progress->setValue(percent);
    if (text != m_statusText->text())
        setStatus(localized(text));
}

void OVNDiscBurnerSheet::burnEnded(int outcome, const QString &text)
{
    setWriting(false);
    const QString address = selectedAddress();
    switch (DiscBurn::Outcome(outcome)) {
    case DiscBurn::Outcome::Done: {
        m_finishing = true;
        m_progress->setValue(100);
        m_okButton->setEnabled(false);
        m_cancelButton->setEnabled(false);
        if (DiscBurn::isImageFile(address)) {
            // Nothing to eject: the end says what was written, and where.
            const QString path = m_deviceSelection->currentData(Qt::ToolTipRole).toString();
            setStatus(localized("The disc image was written."));
            QPointer<OVNDiscBurnerSheet> self(this);
            Alerts::show({localized("The disc image was written."),
                          localized("It is in %1.").arg(QDir::toNativeSeparators(path)),
                          {},
                          Alert::Style::Informational,
                          Alert::Modality::Window,
                          this},
                         [self](int) {
                             if (self)
                                 self->endSheet(QDialog::Accepted);
                         });
            break;
        }
        setStatus(localized("Disc successfully finished. Ejecting..."));
        // The disc comes out a moment after the last status is read; the window stays live.
        QTimer::singleShot(2000, this, [this, address] {
            OVNDiscDriveWatcher *watcher = m_watcher;
            QMetaObject::invokeMethod(
                watcher, [watcher, address] { watcher->perform(OVNDiscDriveWatcher::Command::Eject, address); },
                Qt::QueuedConnection);
            endSheet(QDialog::Accepted);
        });
        break;
    }
    case DiscBurn::Outcome::Cancelled:
        endSheet(QDialog::Rejected);
        break;
    case DiscBurn::Outcome::Refused:
        Alerts::inform(localized("The disc cannot be burned."), text, this);
        refresh();
        break;
    case DiscBurn::Outcome::Failed:
        m_finishing = false;
        m_progress->setValue(0);
        Alerts::inform(localized("Failed to burn disc."), text, this);
        refresh();
        break;
    }
}

void OVNDiscBurnerSheet::burnCancelClicked()
{
    if (m_finishing || m_ended)
        return;
    if (!m_writing) {
        endSheet(QDialog::Rejected);
        return;
    }
    if (m_confirming || m_cancelled->load())
        return;
    m_confirming = true;
    Alert alert;
    alert.message = localized("Stop burning the disc?");
    alert.informativeText = DiscBurn::isImageFile(selectedAddress())
                                ? localized("The image file written so far is removed.")
                                : localized("A disc stopped while it is written may not be usable afterwards.");
    alert.buttons = {localized("Continue Burning"), localized("Stop Burning")};
    alert.modality = Alert::Modality::Window;
    alert.window = this;
    QPointer<OVNDiscBurnerSheet> self(this);
    Alerts::show(alert, [self](int answer) {
        if (!self)
            return;
        self->m_confirming = false;
        if (answer != 1 || !self->m_writing)
            return;
        // The worker stops the drive, waits for it to be idle and lets it go; its end closes the sheet.
        self->m_cancelled->store(true);
        self->m_cancelButton->setEnabled(false);
        self->m_okButton->setEnabled(false);
        self->setStatus(localized("Stopping the burn..."));
    });
}

void OVNDiscBurnerSheet::reject()
{
    // Escape and the window's close button: the same as Cancel, which asks first during a burn.
    burnCancelClicked();
}

void OVNDiscBurnerSheet::setStatus(const QString &text)
{
    m_statusText->setText(text);
    emit statusShown(text);
}

void OVNDiscBurnerSheet::setWriting(bool writing)
{
    if (writing == m_writing)
        return;
    m_writing = writing;
    writingSheets += writing ? 1 : -1;
    m_deviceSelection->setEnabled(!writing);
    m_mediumSelection->setEnabled(!writing && DiscBurn::isImageFile(selectedAddress()));
    m_discName->setEnabled(!writing);
    m_okButton->setEnabled(false);
}

void OVNDiscBurnerSheet::endSheet(int code)
{
    if (m_ended)
        return;
    m_ended = true;
    OVNDiscDriveWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(
        watcher, [watcher] { watcher->stop(); }, Qt::QueuedConnection);
    done(code);
}
