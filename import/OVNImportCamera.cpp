#include "import/OVNImportCamera.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNCaptureDownload.h"
#include "import/OVNCaptureViews.h"
#include "import/OVNPanelPosition.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SettingsPresetStore.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNWindowPlacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Runs `work` on the GUI thread later, when the window still exists then.
void onGuiThread(QPointer<OVNImportCamera> window, std::function<void(OVNImportCamera &)> work)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [window, work = std::move(work)] {
            if (window)
                work(*window);
        },
        Qt::QueuedConnection);
}

const char *const kManualSettings = "Manual Settings";

enum class Kind { Text, Switch, PopUp, Digits };

struct ControlDescription {
    const char *key;
    const char *label;
    Kind kind;
    QStringList items;
};

const QList<ControlDescription> &controlDescriptions()
{
    static const QList<ControlDescription> specs{
        {"svDestination1_", "Download to:", Kind::Text, {}},
        {"svDestination1AddTSFolder_", "Into a new dated folder", Kind::Switch, {}},
        {"svDestination2_", "Back up to:", Kind::Text, {}},
        {"svDestination2AddTSFolder_", "Into a new dated folder", Kind::Switch, {}},
        {"svCreatorSelection_", "Creator:", Kind::PopUp, {"Leave as it is", "Set application's creator"}},
        {"svCreator_", "Application:", Kind::Text, {}},
        {"svCatalogSelection_",
         "Catalog:",
         Kind::PopUp,
         {"Do not catalog", "New collection: device and date", "New collection named:"}},
        {"svCatalog_", "Collection name:", Kind::Text, {}},
        {"svNamingSwitch_", "Rename files", Kind::Switch, {}},
        {"svNamingCaptureName_", "Capture name:", Kind::Text, {}},
        {"svNamingPrefix_", "Prefix:", Kind::Text, {}},
        {"svNamingSuffix_", "Suffix:", Kind::Text, {}},
        {"svNamingPostfix_", "Postfix:", Kind::Text, {}},
        {"svNamingCouterOptionsSelection_", "Counter:", Kind::PopUp, {"Digits", "Six digits", "None"}},
        {"svNamingCounterDigits_", "Counter digits:", Kind::Digits, {}},
        {"svNamingSample_", "Sample:", Kind::Text, {}},
        {"svPostSuccessDeleteAfterDLSwitch_", "Delete from device", Kind::Switch, {}},
        {"svPostSuccessEjectAfterDLSwitch_", "Eject device", Kind::Switch, {}},
        {"svPostSuccessShowStatusAfterDLSwitch_", "Show status", Kind::Switch, {}},
        {"svPostSuccessRevealInFinder_", "Show in file manager", Kind::Switch, {}},
        {"svPostErrorDeleteAfterDLSwitch_", "Delete from device", Kind::Switch, {}},
        {"svPostErrorEjectAfterDLSwitch_", "Eject device", Kind::Switch, {}},
        {"svPostErrorShowStatusAfterDLSwitch_", "Show status", Kind::Switch, {}},
        {"svPostErrorRevealInFinder_", "Show in file manager", Kind::Switch, {}},
    };
    return specs;
}

} // namespace

OVNImportCamera::OVNImportCamera(UserDefaults &defaults)
    : QWidget(nullptr, Qt::Tool),
      m_defaults(defaults),
      m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    setWindowTitle(localized("Camera Capture"));
    setAttribute(Qt::WA_QuitOnClose, false);
    m_pool.setMaxThreadCount(2);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    buildDevicePanel();
    m_optionsArea = new QWidget(this);
    auto *optionsLayout = new QVBoxLayout(m_optionsArea);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    buildSettingsView();
    m_settingsScroll = new QScrollArea(m_optionsArea);
    m_settingsScroll->setFrameShape(QFrame::NoFrame);
    m_settingsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_settingsScroll->setWidgetResizable(true);
    m_settingsScroll->setWidget(m_settingsView);
    m_settingsScroll->hide();
    buildProgressView();
    buildStatusView();
    layout->addWidget(m_optionsArea);

    m_presets = std::make_unique<SettingsPresetStore>(m_defaults, QStringLiteral("CaptureSettingsPresets"),
                                                      QStringLiteral("CaptureSettingsUserPresets"),
                                                      OVNCaptureDownload::settingsKeys());
    m_presets->load();
    if (!m_presets->builtIn().isEmpty())
        loadSettingsFromDictionary(m_presets->firstSettings());
    else
        validateSettings();
    setupPresets();
    const int first = SettingsPresetStore::initialItem(std::min(m_svPresets->count(), m_dsPresets->count()));
    m_loadingPreset = true;
    m_svPresets->setCurrentIndex(first);
    m_dsPresets->setCurrentIndex(first);
    m_loadingPreset = false;
    m_oldSelection = m_svPresets->currentIndex();

    if (m_defaults.contains(QStringLiteral("CapturePanelX")) && m_defaults.contains(QStringLiteral("CapturePanelY"))) {
        m_storedOrigin = QPointF(m_defaults.doubleForKey(QStringLiteral("CapturePanelX")),
                                 m_defaults.doubleForKey(QStringLiteral("CapturePanelY")));
    }

    rebuildDeviceList();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(3000);
    connect(m_pollTimer, &QTimer::timeout, this, [this] { refreshDevices(); });
    m_pollTimer->start();
    m_sessionTimer = new QTimer(this);
    m_sessionTimer->setSingleShot(true);
    m_sessionTimer->setInterval(30000);
    connect(m_sessionTimer, &QTimer::timeout, this, [this] {
        if (!m_downloading || m_sessionOpen)
            return;
        *m_cancel = true;
        Alerts::inform(localized("The capture device does not answer"),
                       localized("No session with the device could be opened within 30 seconds. Check that it is "
                                 "switched on and connected, then try again."),
                       this);
    });
    refreshDevices();
}

OVNImportCamera::~OVNImportCamera()
{
    *m_cancel = true;
    m_pool.waitForDone();
}

// ---- Building the views ----

void OVNImportCamera::buildDevicePanel()
{
    auto *panel = new QWidget(this);
    auto *grid = new QGridLayout(panel);
    m_deviceView = new OVNDeviceSelectionView(panel);
    m_deviceView->setFixedSize(96, 96);
    m_deviceView->setDefaultDeviceIcon();
    grid->addWidget(m_deviceView, 0, 0, 3, 1);
    m_devicePopUp = new QComboBox(panel);
    connect(m_devicePopUp, &QComboBox::activated, this, [this] { reloadDeviceStatus(); });
    grid->addWidget(m_devicePopUp, 0, 1, 1, 3);
    auto *info = new QWidget(panel);
    info->setAutoFillBackground(true);
    QPalette palette = info->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.83, 0.85, 0.73));
    info->setPalette(palette);
    auto *infoLayout = new QVBoxLayout(info);
    m_mainText = new QLabel(info);
    m_mainText->setTextFormat(Qt::PlainText);
    QFont bold = m_mainText->font();
    bold.setBold(true);
    m_mainText->setFont(bold);
    m_infoText = new QLabel(info);
    m_infoText->setTextFormat(Qt::PlainText);
    m_infoText->setWordWrap(true);
    m_infoText->setFixedWidth(300);
    infoLayout->addWidget(m_mainText);
    infoLayout->addWidget(m_infoText);
    grid->addWidget(info, 1, 1, 1, 3);
    m_settingsButton = new QPushButton(localized("Settings"), panel);
    connect(m_settingsButton, &QPushButton::clicked, this, [this] { toggleSettings(); });
    m_captureName = new QLineEdit(panel);
    m_captureName->setPlaceholderText(localized("Capture name"));
    m_dsPresets = new QComboBox(panel);
    connect(m_dsPresets, &QComboBox::currentIndexChanged, this, [this] { presetsChanged(m_dsPresets); });
    m_downloadButton = new QPushButton(localized("Download"), panel);
    connect(m_downloadButton, &QPushButton::clicked, this, [this] { downloadFiles(); });
    m_ejectButton = new QPushButton(localized("Eject"), panel);
    connect(m_ejectButton, &QPushButton::clicked, this, [this] { ejectSelected(); });
    grid->addWidget(m_settingsButton, 2, 1);
    grid->addWidget(m_captureName, 2, 2);
    grid->addWidget(m_dsPresets, 2, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ejectButton);
    buttons->addWidget(m_downloadButton);
    grid->addLayout(buttons, 3, 0, 1, 4);
    layout()->addWidget(panel);
}

void OVNImportCamera::buildSettingsView()
{
    m_settingsView = new QWidget(m_optionsArea);
    m_settingsView->setAutoFillBackground(true);
    QPalette palette = m_settingsView->palette();
    palette.setColor(QPalette::Window, Qt::white);
    m_settingsView->setPalette(palette);
    auto *form = new QFormLayout(m_settingsView);
    m_svPresets = new QComboBox(m_settingsView);
    connect(m_svPresets, &QComboBox::currentIndexChanged, this, [this] { presetsChanged(m_svPresets); });
    form->addRow(localized("Preset:"), m_svPresets);
    int row = 0;
    for (const ControlDescription &spec : controlDescriptions()) {
        if (row == 16)
            form->addRow(new QLabel(localized("After a download without errors:"), m_settingsView));
        if (row == 20)
            form->addRow(new QLabel(localized("After a download with errors:"), m_settingsView));
        ++row;
        QWidget *control = nullptr;
        switch (spec.kind) {
        case Kind::Text: {
            auto *field = new QLineEdit(m_settingsView);
            field->setMinimumWidth(260);
            if (QLatin1String(spec.key) == QLatin1String("svNamingSample_"))
                field->setReadOnly(true);
            connect(field, &QLineEdit::textEdited, this, [this] { userChangedSettings(); });
            control = field;
            break;
        }
        case Kind::Switch: {
            auto *box = new QCheckBox(localized(spec.label), m_settingsView);
            connect(box, &QCheckBox::clicked, this, [this] { userChangedSettings(); });
            control = box;
            break;
        }
        case Kind::PopUp: {
            auto *popUp = new QComboBox(m_settingsView);
            for (const QString &item : spec.items)
                popUp->addItem(localized(item.toUtf8().constData()));
            connect(popUp, &QComboBox::activated, this, [this] { userChangedSettings(); });
            control = popUp;
            break;
        }
        case Kind::Digits: {
            auto *stepper = new QSpinBox(m_settingsView);
            stepper->setRange(1, 10);
            stepper->setValue(4);
            connect(stepper, &QSpinBox::valueChanged, this, [this] { userChangedSettings(); });
            m_counterField = new QLabel(m_settingsView);
            auto *holder = new QWidget(m_settingsView);
            auto *line = new QHBoxLayout(holder);
            line->setContentsMargins(0, 0, 0, 0);
            line->addWidget(m_counterField);
            line->addWidget(stepper);
            line->addStretch();
            form->addRow(localized(spec.label), holder);
            m_controls[QLatin1String(spec.key)] = stepper;
            continue;
        }
        }
        m_controls[QLatin1String(spec.key)] = control;
        if (spec.kind == Kind::Switch)
            form->addRow(QString(), control);
        else
            form->addRow(localized(spec.label), control);
    }
    // Creator codes do not exist on this system: the settings are kept, the controls stay off.
    control(QStringLiteral("svCreatorSelection_"))->setEnabled(false);
    m_settingsView->hide();
}

void OVNImportCamera::buildProgressView()
{
    m_progressView = new QWidget(m_optionsArea);
    auto *layout = new QGridLayout(m_progressView);
    m_lastImage = new OVNLastImportImageView(QSize(160, 120), m_progressView);
    m_iconTitle = new QLabel(m_progressView);
    m_statusInfo = new QLabel(m_progressView);
    m_iconTitle->setTextFormat(Qt::PlainText);
    m_statusInfo->setTextFormat(Qt::PlainText);
    m_statusInfo->setWordWrap(true);
    m_statusInfo->setFixedWidth(260);
    m_progress = new QProgressBar(m_progressView);
    m_cancelButton = new QPushButton(localized("Cancel"), m_progressView);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { cancelDownload(); });
    layout->addWidget(m_lastImage, 0, 0);
    layout->addWidget(m_iconTitle, 1, 0);
    layout->addWidget(m_statusInfo, 0, 1);
    layout->addWidget(m_progress, 2, 0, 1, 2);
    layout->addWidget(m_cancelButton, 3, 1, Qt::AlignRight);
    m_progressView->hide();
}

void OVNImportCamera::buildStatusView()
{
    m_statusView = new QWidget(m_optionsArea);
    auto *form = new QFormLayout(m_statusView);
    m_stProcessed = new QLabel(m_statusView);
    m_stDownloaded = new QLabel(m_statusView);
    m_stErrors = new QLabel(m_statusView);
    m_stCatalogued = new QLabel(m_statusView);
    form->addRow(localized("Processed:"), m_stProcessed);
    form->addRow(localized("Downloaded:"), m_stDownloaded);
    form->addRow(localized("Download errors:"), m_stErrors);
    form->addRow(localized("Catalogued:"), m_stCatalogued);
    auto *close = new QPushButton(localized("Close"), m_statusView);
    connect(close, &QPushButton::clicked, this, [this] { closeStatus(); });
    form->addRow(QString(), close);
    m_statusView->hide();
}

QWidget *OVNImportCamera::control(const QString &key) const
{
    const auto it = m_controls.find(key);
    return it == m_controls.end() ? nullptr : it->second;
}

QString OVNImportCamera::infoText() const { return m_mainText->text() + QLatin1Char('\n') + m_infoText->text(); }

QStringList OVNImportCamera::statusTexts() const
{
    return {m_stProcessed->text(), m_stDownloaded->text(), m_stErrors->text(), m_stCatalogued->text()};
}

// ---- Options area ----

void OVNImportCamera::showOptions(QWidget *view)
{
    if (view == m_settingsView) {
        view = m_settingsScroll;
        m_settingsView->show();
        m_settingsScroll->setFixedSize(m_settingsView->sizeHint());
    }
    for (QWidget *each : {static_cast<QWidget *>(m_settingsScroll), m_progressView, m_statusView}) {
        if (each == view) {
            m_optionsArea->layout()->addWidget(each);
            each->show();
        } else {
            m_optionsArea->layout()->removeWidget(each);
            each->hide();
        }
    }
    // Keep the window's top edge where it is while it grows or shrinks, unless that would take its
    // bottom off the screen: then it moves up.
    const QPoint origin = pos();
    // The fixed size of the contents shown before is let go of first.
    layout()->activate();
    adjustSize();
    move(origin);
    if (view == m_settingsScroll) {
        // On a screen too small for the whole window the settings scroll within what is left.
        const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const int decoration = isVisible() ? frameGeometry().height() - height() : 36;
        const int over = screen ? height() + decoration - screen->availableGeometry().height() : 0;
        if (over > 0) {
            const QSize whole = m_settingsView->sizeHint();
            m_settingsScroll->setFixedSize(whole.width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                                           std::max(120, whole.height() - over));
            adjustSize();
            move(origin);
        }
    }
    if (isVisible())
        OVNWindowPlacement::fitOnScreen(this);
}

void OVNImportCamera::toggleSettings()
{
    const bool show = !m_settingsView->isVisibleTo(this);
    showOptions(show ? m_settingsView : nullptr);
    m_dsPresets->setEnabled(!show);
}

void OVNImportCamera::closeStatus()
{
    showOptions(nullptr);
    setDevicePanelEnabled(true);
    reloadDeviceStatus();
}

// ---- Settings ----

QVariantMap OVNImportCamera::getDictionaryFromSettings() const
{
    QVariantMap settings;
    for (const auto &[key, widget] : m_controls) {
        if (auto *field = qobject_cast<QLineEdit *>(widget))
            settings.insert(key, field->text());
        else if (auto *box = qobject_cast<QCheckBox *>(widget))
            settings.insert(key, QString::number(box->isChecked() ? 1 : 0));
        else if (auto *popUp = qobject_cast<QComboBox *>(widget))
            settings.insert(key, QString::number(popUp->currentIndex()));
        else if (auto *stepper = qobject_cast<QSpinBox *>(widget))
            settings.insert(key, QString::number(stepper->value()));
    }
    return settings;
}

void OVNImportCamera::loadSettingsFromDictionary(const QVariantMap &settings)
{
    for (const auto &[key, widget] : m_controls) {
        const QString value = settings.value(key).toString();
        const QSignalBlocker blocker(widget);
        if (auto *field = qobject_cast<QLineEdit *>(widget))
            field->setText(value);
        else if (auto *box = qobject_cast<QCheckBox *>(widget))
            box->setChecked(value == QLatin1String("1"));
        else if (auto *popUp = qobject_cast<QComboBox *>(widget))
            popUp->setCurrentIndex(std::clamp(value.toInt(), 0, popUp->count() - 1));
        else if (auto *stepper = qobject_cast<QSpinBox *>(widget))
            stepper->setValue(value.toInt());
    }
    validateSettings();
}

void OVNImportCamera::validateSettings()
{
    const QVariantMap s = getDictionaryFromSettings();
    auto on = [&s](const char *key) { return s.value(QLatin1String(key)).toString() == QLatin1String("1"); };
    auto number = [&s](const char *key) { return s.value(QLatin1String(key)).toString().toInt(); };
    control(QStringLiteral("svCreator_"))->setEnabled(false);
    control(QStringLiteral("svCatalog_"))->setEnabled(number("svCatalogSelection_") == 2);
    const bool renaming = on("svNamingSwitch_");
    for (const char *key :
         {"svNamingCaptureName_", "svNamingCounterDigits_", "svNamingPrefix_", "svNamingSuffix_", "svNamingPostfix_"})
        control(QLatin1String(key))->setEnabled(renaming);
    m_counterField->setEnabled(renaming);
    auto *style = qobject_cast<QComboBox *>(control(QStringLiteral("svNamingCouterOptionsSelection_")));
    if (renaming) {
        const QSignalBlocker blocker(style);
        style->setCurrentIndex(0);
    }
    style->setEnabled(false);
    auto *stepper = qobject_cast<QSpinBox *>(control(QStringLiteral("svNamingCounterDigits_")));
    int digits = 0;
    qint64 value = 1;
    if (style->currentIndex() == 0) {
        stepper->setEnabled(renaming);
        m_counterField->setText(QStringLiteral("%1").arg(1, stepper->value(), 10, QLatin1Char('0')));
        digits = stepper->value();
    } else {
        stepper->setEnabled(false);
        m_counterField->setText(QStringLiteral("123456"));
        if (style->currentIndex() == 1) {
            digits = 6;
            value = 123456;
        }
    }
    qobject_cast<QLineEdit *>(control(QStringLiteral("svNamingSample_")))
        ->setText(OVNCaptureDownload::composeFileName(
            s.value("svNamingPrefix_").toString(), s.value("svNamingCaptureName_").toString(),
            s.value("svNamingSuffix_").toString(), digits, value, s.value("svNamingPostfix_").toString()));
    syncCaptureName();
}

void OVNImportCamera::syncCaptureName()
{
    const bool renaming = qobject_cast<QCheckBox *>(control(QStringLiteral("svNamingSwitch_")))->isChecked();
    m_captureName->setText(renaming ? qobject_cast<QLineEdit *>(control(QStringLiteral("svNamingCaptureName_")))->text()
                                    : QString());
    m_captureName->setEnabled(renaming && !m_downloading);
}

void OVNImportCamera::setDevicePanelEnabled(bool enabled)
{
    m_dsPresets->setEnabled(enabled && !m_settingsView->isVisibleTo(this));
    m_settingsButton->setEnabled(enabled);
    if (enabled)
        syncCaptureName();
    else
        m_captureName->setEnabled(false);
}

void OVNImportCamera::userChangedSettings()
{
    if (m_loadingPreset)
        return;
    m_loadingPreset = true;
    m_svPresets->setCurrentIndex(0);
    m_dsPresets->setCurrentIndex(0);
    m_loadingPreset = false;
    m_oldSelection = 0;
    validateSettings();
}

// ---- Presets ----

void OVNImportCamera::setupPresets()
{
    m_loadingPreset = true;
    for (QComboBox *popUp : {m_dsPresets, m_svPresets}) {
        popUp->clear();
        popUp->addItem(localized(kManualSettings));
        popUp->insertSeparator(popUp->count());
        for (int i = 0; i < m_presets->builtIn().size(); ++i)
            popUp->addItem(m_presets->builtIn().at(i).toMap().value(QStringLiteral("Title")).toString(),
                           QStringLiteral("b%1").arg(i));
        if (!m_presets->user().isEmpty()) {
            popUp->insertSeparator(popUp->count());
            for (int i = 0; i < m_presets->user().size(); ++i)
                popUp->addItem(m_presets->user().at(i).toMap().value(QStringLiteral("Title")).toString(),
                               QStringLiteral("u%1").arg(i));
        }
    }
    m_svPresets->insertSeparator(m_svPresets->count());
    m_svPresets->addItem(localized("Delete selected preset..."), QStringLiteral("delete"));
    m_svPresets->addItem(localized("Save settings as..."), QStringLiteral("save"));
    m_loadingPreset = false;
}

void OVNImportCamera::presetsChanged(QComboBox *from)
{
    if (m_loadingPreset)
        return;
    const QString what = from->currentData().toString();
    const int index = from->currentIndex();
    if (what == QLatin1String("save")) {
        bool ok = false;
        const QString title = QInputDialog::getText(this, localized("Save settings as..."), localized("Title:"),
                                                    QLineEdit::Normal, localized("untitled"), &ok);
        if (ok) {
            m_presets->addUserPreset(title, getDictionaryFromSettings());
            setupPresets();
            m_loadingPreset = true;
            const int item = m_svPresets->findData(QStringLiteral("u%1").arg(m_presets->userPresetIndex(title)));
            m_svPresets->setCurrentIndex(item);
            m_dsPresets->setCurrentIndex(item);
            m_loadingPreset = false;
        } else {
            const QSignalBlocker blocker(m_svPresets);
            m_svPresets->setCurrentIndex(m_oldSelection);
        }
    } else if (what == QLatin1String("delete")) {
        const QString old = m_svPresets->itemData(m_oldSelection).toString();
        const QSignalBlocker blocker(m_svPresets);
        if (!old.startsWith(QLatin1Char('u'))) {
            Alerts::inform(localized("Cannot delete preset"),
                           localized("You can only delete user defined presets. Please select a user defined preset "
                                     "first."),
                           this);
            m_svPresets->setCurrentIndex(m_oldSelection);
        } else {
            Alert alert;
            alert.message = localized("Delete Preset: ") + m_svPresets->itemText(m_oldSelection);
            alert.informativeText =
                localized("Do you really want to delete the selected preset? This action cannot be undone.");
            alert.buttons = {localized("Delete Preset"), localized("Cancel")};
            if (Alerts::run(alert) == 0 && m_presets->removeUserPreset(old.mid(1).toInt())) {
                setupPresets();
                m_svPresets->setCurrentIndex(0);
                m_dsPresets->setCurrentIndex(0);
            } else {
                m_svPresets->setCurrentIndex(m_oldSelection);
            }
        }
    } else {
        QComboBox *other = from == m_svPresets ? m_dsPresets : m_svPresets;
        if (index < other->count()) {
            const QSignalBlocker blocker(other);
            other->setCurrentIndex(index);
        }
        const QVariantList &list = what.startsWith(QLatin1Char('u')) ? m_presets->user() : m_presets->builtIn();
        const int at = what.mid(1).toInt();
        if (!what.isEmpty() && at < list.size()) {
            const QVariantMap preset = list.at(at).toMap();
            if (preset.contains(QStringLiteral("Settings"))) {
                m_loadingPreset = true;
                loadSettingsFromDictionary(preset.value(QStringLiteral("Settings")).toMap());
                m_loadingPreset = false;
            }
        }
    }
    m_oldSelection = m_svPresets->currentIndex();
}

// ---- Devices ----

void OVNImportCamera::refreshDevices(bool wait)
{
    if (m_polling.exchange(true)) {
        if (wait)
            m_pool.waitForDone();
        if (!wait)
            return;
    }
    m_polling = true;
    QPointer<OVNImportCamera> self(this);
    auto counts = std::make_shared<std::map<QString, int>>();
    auto known = m_fileCounts;
    m_pool.start([self, counts, known] {
        const QList<CaptureDevices::Entry> entries = CaptureDevices::attachedEntries();
        // File counts are taken once per device, when it first appears.
        for (const CaptureDevices::Entry &entry : entries) {
            if (known.count(entry.id))
                continue;
            QString error;
            if (auto device = CaptureDevices::open(entry.id))
                (*counts)[entry.id] = int(device->files(&error).size());
        }
        onGuiThread(self, [entries, counts](OVNImportCamera &window) {
            for (const auto &[id, count] : *counts)
                window.m_fileCounts[id] = count;
            window.m_polling = false;
            window.devicesFound(entries);
        });
    });
    if (wait) {
        m_pool.waitForDone();
        QCoreApplication::sendPostedEvents(QCoreApplication::instance());
        QCoreApplication::processEvents();
    }
}

void OVNImportCamera::devicesFound(const QList<CaptureDevices::Entry> &entries)
{
    auto ids = [](const QList<CaptureDevices::Entry> &list) {
        QStringList out;
        for (const auto &entry : list)
            out.append(entry.id);
        return out;
    };
    const QStringList before = ids(m_entries);
    const QStringList now = ids(entries);
    if (before == now && !m_firstPoll)
        return;
    bool added = false;
    for (const QString &id : now)
        added = added || !before.contains(id);
    for (auto it = m_fileCounts.begin(); it != m_fileCounts.end();)
        it = now.contains(it->first) ? std::next(it) : m_fileCounts.erase(it);
    m_entries = entries;
    const bool first = m_firstPoll;
    m_firstPoll = false;
    rebuildDeviceList();
    if (added && !first)
        makeKeyAndOrderFront();
}

void OVNImportCamera::rebuildDeviceList()
{
    const QString selected = m_devicePopUp->currentData().toString();
    m_deviceView->setDeviceCount(int(m_entries.size()));
    m_devicePopUp->clear();
    for (const auto &entry : m_entries)
        if (!entry.name.isEmpty())
            m_devicePopUp->addItem(entry.name, entry.id);
    if (m_devicePopUp->count() == 0)
        m_devicePopUp->addItem(localized("No device found."));
    // A running download keeps its device; the list shows it still while it is there.
    const int keep = m_devicePopUp->findData(selected);
    m_devicePopUp->setCurrentIndex(m_downloading && keep >= 0 ? keep : 0);
    reloadDeviceStatus();
}

void OVNImportCamera::fitInfoText()
{
    // A fixed-size window asks its wrapped labels for a height without their width, which cuts
    // them: the label keeps the height its whole text needs at its width.
    m_infoText->setMinimumHeight(m_infoText->heightForWidth(m_infoText->width()));
    adjustSize();
}

void OVNImportCamera::reloadDeviceStatus()
{
    const QString id = m_devicePopUp->currentData().toString();
    if (id.isEmpty()) {
        m_mainText->setText(localized("No capture device selected."));
        m_infoText->setText(localized("Plug-In a capture device (ie. a digital camera or memory card) and select the "
                                      "device with the device selection popup."));
        fitInfoText();
        m_deviceView->setDefaultDeviceIcon();
        m_deviceView->update();
        m_devicePopUp->setEnabled(false);
        m_downloadButton->setEnabled(false);
        m_ejectButton->setEnabled(false);
        return;
    }
    m_mainText->setText(m_devicePopUp->currentText());
    const auto count = m_fileCounts.find(id);
    m_infoText->setText(count == m_fileCounts.end() ? localized("Checking for media files...")
                                                    : localized("Contains %1 media files.").arg(count->second));
    fitInfoText();
    m_deviceView->setDeviceIcon(QImage());
    m_devicePopUp->setEnabled(!m_downloading);
    m_downloadButton->setEnabled(!m_downloading);
    m_ejectButton->setEnabled(!m_downloading);
}

void OVNImportCamera::ejectSelected()
{
    const QString id = m_devicePopUp->currentData().toString();
    if (id.isEmpty())
        return;
    QPointer<OVNImportCamera> self(this);
    m_pool.start([self, id] {
        QString error;
        auto device = CaptureDevices::open(id);
        const bool ok = !device || device->eject(&error);
        onGuiThread(self, [ok, error](OVNImportCamera &window) {
            if (!ok)
                Alerts::inform(localized("The device could not be ejected"), error, &window);
            window.refreshDevices();
        });
    });
}

// ---- The download ----

namespace {

class GuiObserver : public OVNCaptureDownload::Observer
{
public:
    explicit GuiObserver(QPointer<OVNImportCamera> window) : m_window(std::move(window)) {}
    void post(std::function<void(OVNImportCamera &)> work) { onGuiThread(m_window, std::move(work)); }
    void started(int total) override
    {
        post([total](OVNImportCamera &w) { w.onDownloadStarted(total); });
    }
    void fileStarted(int k, const QString &name, qint64 size) override
    {
        post([k, name, size](OVNImportCamera &w) { w.onFileStarted(k, name, size); });
    }
    void fileCatalogued(const QString &path, const QByteArray &thumbnail) override
    {
        post([path, thumbnail](OVNImportCamera &w) { w.onFileCatalogued(path, thumbnail); });
    }
    void catalogWaiting(const QString &text) override
    {
        post([text](OVNImportCamera &w) { w.onCatalogWaiting(text); });
    }
    void collectionMade(const QString &, const QString &) override
    {
        NotificationCenter::defaultCenter().postNotification(QStringLiteral("OVNNotificationCategoryListDidChange"),
                                                             {{QStringLiteral("action"), QStringLiteral("add")}});
    }

private:
    QPointer<OVNImportCamera> m_window;
};

} // namespace

void OVNImportCamera::downloadFiles()
{
    const QString id = m_devicePopUp->currentData().toString();
    if (id.isEmpty() || m_downloading)
        return;
    m_downloading = true;
    m_sessionOpen = false;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    showOptions(m_progressView);
    setDevicePanelEnabled(false);
    m_devicePopUp->setEnabled(false);
    m_downloadButton->setEnabled(false);
    m_ejectButton->setEnabled(false);
    m_cancelButton->setEnabled(true);
    m_lastImage->setImage(QImage());
    m_lastImage->setText(localized("Capturing file..."), true);
    m_iconTitle->clear();
    m_statusInfo->setText(localized("Pre-Processing download"));
    m_progress->setRange(0, 0);

    // Everything the worker needs is taken here; it touches no widget.
    const QVariantMap settings = getDictionaryFromSettings();
    const QString captureName = m_captureName->text();
    // The connection is made here, on the GUI thread, and handed to the download, which alone uses it.
    auto connection = std::make_shared<std::unique_ptr<OVNDatabaseAccess>>();
    if (settings.value(QStringLiteral("svCatalogSelection_")).toString().toInt() != 0 && m_connections)
        *connection = m_connections();
    const ConnectionFactory connections = [connection] { return std::move(*connection); };
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    QPointer<OVNImportCamera> self(this);
    m_sessionTimer->start();
    m_pool.start([self, id, settings, captureName, connections, cancel] {
        GuiObserver observer(self);
        OVNCaptureDownload::Result result;
        std::unique_ptr<CaptureDevice> device = CaptureDevices::open(id);
        if (!device) {
            result.alertTitle = localized("The capture device is gone");
            result.alertMessage = localized("The device was disconnected before the download started.");
        } else {
            result = OVNCaptureDownload::run(*device, settings, captureName, connections, *cancel, &observer);
        }
        QVariantMap summary{{QStringLiteral("processed"), result.processed()},
                            {QStringLiteral("downloaded"), int(result.files.size())},
                            {QStringLiteral("errors"), int(result.failed.size())},
                            {QStringLiteral("catalogued"), int(result.catalogued.size())},
                            {QStringLiteral("collection"), result.collectionId},
                            {QStringLiteral("destination"), result.destination},
                            {QStringLiteral("alertTitle"), result.alertTitle},
                            {QStringLiteral("alertMessage"), result.alertMessage},
                            {QStringLiteral("cancelled"), result.cancelled},
                            {QStringLiteral("settings"), settings}};
        onGuiThread(self, [summary](OVNImportCamera &window) { window.finishDownload(summary); });
    });
}

void OVNImportCamera::cancelDownload()
{
    *m_cancel = true;
    m_cancelButton->setEnabled(false);
}

void OVNImportCamera::onDownloadStarted(int total)
{
    m_sessionOpen = true;
    m_sessionTimer->stop();
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(0);
}

void OVNImportCamera::onFileStarted(int position, const QString &name, qint64 size)
{
    m_progress->setValue(position);
    m_statusInfo->setText(localized("Importing %1 (%2 KB, %3 of %4)")
                              .arg(name)
                              .arg(size < 0 ? 0 : size / 1024)
                              .arg(position + 1)
                              .arg(m_progress->maximum()));
}

void OVNImportCamera::onFileCatalogued(const QString &path, const QByteArray &thumbnail)
{
    m_lastImage->setImage(QImage::fromData(thumbnail));
    m_lastImage->update();
    m_iconTitle->setText(path.section(QLatin1Char('/'), -1));
}

void OVNImportCamera::onCatalogWaiting(const QString &text)
{
    // In the progress line, until the next file's line replaces it.
    m_statusInfo->setText(text);
}

void OVNImportCamera::finishDownload(const QVariantMap &summary)
{
    m_sessionTimer->stop();
    m_downloading = false;
    const QString alertTitle = summary.value(QStringLiteral("alertTitle")).toString();
    const QString collection = summary.value(QStringLiteral("collection")).toString();
    // A collection made for the download is announced whatever became of the download.
    if (!collection.isEmpty())
        NotificationCenter::defaultCenter().postNotification(QStringLiteral("OVNNotificationImportMediaDidFinish"),
                                                             {{QStringLiteral("categoryid"), collection}});
    const QVariantMap settings = summary.value(QStringLiteral("settings")).toMap();
    const bool errors = summary.value(QStringLiteral("errors")).toInt() > 0;
    auto on = [&](const char *success, const char *error) {
        return settings.value(QLatin1String(errors ? error : success)).toString() == QLatin1String("1");
    };
    const bool finished = alertTitle.isEmpty() && !summary.value(QStringLiteral("cancelled")).toBool();
    if (!alertTitle.isEmpty())
        Alerts::inform(alertTitle, summary.value(QStringLiteral("alertMessage")).toString(), this);
    if (finished && on("svPostSuccessEjectAfterDLSwitch_", "svPostErrorEjectAfterDLSwitch_"))
        ejectSelected();
    if (finished && on("svPostSuccessShowStatusAfterDLSwitch_", "svPostErrorShowStatusAfterDLSwitch_")) {
        const auto files = [&summary](const char *key) {
            return countedText(summary.value(QLatin1String(key)).toInt(), "%1 File", "%1 Files");
        };
        m_stProcessed->setText(files("processed"));
        m_stDownloaded->setText(files("downloaded"));
        m_stErrors->setText(countedText(summary.value(QStringLiteral("errors")).toInt(), "%1 Error", "%1 Errors"));
        m_stCatalogued->setText(files("catalogued"));
        showOptions(m_statusView);
        setDevicePanelEnabled(true);
        reloadDeviceStatus();
    } else {
        closeStatus();
    }
    emit downloadFinished();
}

void OVNImportCamera::makeKeyAndOrderFront()
{
    m_wasShown = true;
    // Shown the first time, it goes where it was left, placed by its contents at their size now
    // (the device list has filled them since it was made): fitOnScreen would take their corner for
    // the frame's and move it by the title bar's height.
    if (m_storedOrigin && !isVisible()) {
        adjustSize();
        setGeometry(OVNPanelPosition::restoredContents(*m_storedOrigin, size()));
    } else {
        OVNWindowPlacement::fitOnScreen(this);
    }
    m_storedOrigin.reset();
    show();
    raise();
    activateWindow();
}

void OVNImportCamera::orderOut() { hide(); }

void OVNImportCamera::saveLocation()
{
    if (!m_wasShown)
        return;
    // By its contents, as it is placed: the title bar's height must not move it at each start.
    const QPointF origin = OVNPanelPosition::storedOrigin(geometry(), OVNPanelPosition::primaryScreenBottom());
    m_defaults.setDouble(origin.x(), QStringLiteral("CapturePanelX"));
    m_defaults.setDouble(origin.y(), QStringLiteral("CapturePanelY"));
}
