#include "viewers/OVNCoreImageAdjustWindow.h"

#include "formats/OVNExtensionMapping.h"
#include "formats/OVNOrientation.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "viewers/OVNCoreImageView.h"
#include "viewers/OVNToolbarItems.h"
#include "uikit/CustomView.h"
#include "uikit/OVNWindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QColorSpace>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSlider>
#include <QVBoxLayout>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

struct ControlDescription {
    const char *key;
    const char *label;
    double minimum, maximum, start;
    const char *startText;
    double step; // the slider's resolution
};

// In the order of OVNCoreImageAdjustWindow::Control and of the preset keys.
const ControlDescription kControls[OVNCoreImageAdjustWindow::controlCount] = {
    {"ciexposure", "Exposure", -5.0, 5.0, 0, "0.0", 0.01},
    {"cigamma", "Gamma", 0.1, 3.0, 0.75, "0.75", 0.01},
    {"cibrightness", "Brightness", -100, 100, 0, "0.0", 0.1},
    {"cicontrast", "Contrast", 25, 400, 100, "100", 0.1},
    {"cisaturation", "Saturation", 0, 300, 100, "100", 0.1},
    {"citemperature", "Temperature", 25, 400, 100, "100", 0.1},
    {"citint", "Tint", 0, 2.38, 0, "0.0", 0.01},
    {"cisepia", "Sepia", 0, 1.0, 0, "0.0", 0.01},
    {"cisharpness", "Sharpness", 0, 2.0, 0, "0.0", 0.01},
    {"cistraighten", "Straighten", -90, 90, 0, "0.0", 0.1},
};
// The order in which the sliders are reset.
constexpr OVNCoreImageAdjustWindow::Control kResetOrder[] = {
    OVNCoreImageAdjustWindow::Exposure,  OVNCoreImageAdjustWindow::Gamma,      OVNCoreImageAdjustWindow::Brightness,
    OVNCoreImageAdjustWindow::Contrast,  OVNCoreImageAdjustWindow::Sepia,      OVNCoreImageAdjustWindow::Saturation,
    OVNCoreImageAdjustWindow::Sharpness, OVNCoreImageAdjustWindow::Straighten, OVNCoreImageAdjustWindow::Temperature,
    OVNCoreImageAdjustWindow::Tint};

enum PresetKind { ManualItem, BuiltInItem, UserItem, DeleteItem, SaveItem, SeparatorItem };
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kIndexRole = Qt::UserRole + 2;

using ToolbarItem = OVNToolbarItem<OVNCoreImageAdjustWindow>;

const ToolbarItem kToolbarItems[] = {
    {"OVNCoreImageAdjust ExportToolbarItemIdentifier", "Export Image", "Export Image", "tbExport",
     &OVNCoreImageAdjustWindow::menuExportImage},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {"OVNCoreImageAdjust RotateLeftToolbarItemIdentifier", "Rotate Left",
     "Rotate the image 90 degrees counterclock wise", "tbRotateLeft", &OVNCoreImageAdjustWindow::menuRotateLeft},
    {"OVNCoreImageAdjust RotateRightToolbarItemIdentifier", "Rotate Right", "Rotate the image 90 degrees clockwise",
     "tbRotateRight", &OVNCoreImageAdjustWindow::menuRotateRight},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {"OVNCoreImageAdjust CropToolbarItemIdentifier", "Crop Image", "Crop the image at the selection border", "tbCrop",
     &OVNCoreImageAdjustWindow::menuCropImage},
    {"OVNCoreImageAdjust RevertCropToolbarItemIdentifier", "Revert Crop",
     "Revert the image to the state it was before the cropping", "tbCrop",
     &OVNCoreImageAdjustWindow::menuRevertCropImage},
};

QString toolbarStateKey()
{
    return QStringLiteral("NSToolbar Configuration ") + QLatin1String(OVNCoreImageAdjustWindow::toolbarIdentifier);
}

int sliderSteps(const ControlDescription &spec) { return int(std::lround((spec.maximum - spec.minimum) / spec.step)); }

// A slider position as the decimal it stands for (0.75, not 0.7500000000000001).
double valueAtPosition(const ControlDescription &spec, int position)
{
    const int decimals = spec.step < 0.05 ? 2 : 1;
    return QString::number(spec.minimum + position * spec.step, 'f', decimals).toDouble();
}

int positionOf(const ControlDescription &spec, double value)
{
    return std::clamp(int(std::lround((value - spec.minimum) / spec.step)), 0, sliderSteps(spec));
}

// The shortest text that reads back as the value, with at least one decimal ("0.75", "100.0").
QString exactText(double value)
{
    QString text = QString::number(value, 'g', 15);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

// Numbers as the C locale writes them, whatever the user's locale; anything else reads as 0.
double numberFromText(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

// JPEG has no transparency: the colour over white, as the thumbnails show it, in the picture's own
// storage. A picture from the chain is 8-bit RGBA with straight alpha.
void flattenOverWhite(QImage &image)
{
    if (!image.hasAlphaChannel())
        return;
    if (image.format() != QImage::Format_RGBA8888)
        image = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < image.height(); ++y) {
        uchar *p = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 4) {
            const int a = p[3];
            for (int c = 0; c < 3; ++c)
                p[c] = uchar((p[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGBX8888);
}

void paintWell(QPushButton *well, const QColor &colour)
{
    QPixmap swatch(40, 14);
    swatch.fill(colour.isValid() ? colour : Qt::white);
    well->setIcon(QIcon(swatch));
    well->setIconSize(swatch.size());
}

class WindowFactory : public OVNCoreImageAdjust::Factory
{
public:
    OVNCoreImageAdjust *create() override { return new OVNCoreImageAdjustWindow; }
};

} // namespace

namespace {
// The last export's folder and options, one dictionary of strings in the preferences.
const QString kExportSettingsKey = QStringLiteral("AdjustExportSettings");
} // namespace

OVNCoreImageAdjustWindow::OVNCoreImageAdjustWindow() : OVNCoreImageAdjustWindow(UserDefaults::standard()) {}

OVNCoreImageAdjustWindow::OVNCoreImageAdjustWindow(UserDefaults &defaults, QWidget *parent)
    : QMainWindow(parent),
      m_defaults(defaults),
      m_presetStore(defaults, QStringLiteral("CoreImageAdjustPresets"), QStringLiteral("CoreImageAdjustUserPresets"),
                    settingsKeys().mid(0, controlCount - 1))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(localized("Adjust Image"));
    resize(1000, 680);
    m_loader = new OVNImageLoader(this);
    connect(m_loader, &OVNImageLoader::loaded, this, &OVNCoreImageAdjustWindow::loaded);
    buildControls();
    buildToolbar();
    resetSlider();
    m_preview->setShowLoadingTag(false);
    m_presetStore.load();
    setupPresets();
    m_presets->setCurrentIndex(0);
    m_oldSelection = 0;
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
}

OVNCoreImageAdjustWindow::~OVNCoreImageAdjustWindow() = default;

void OVNCoreImageAdjustWindow::installFactory() { OVNCoreImageAdjust::setFactory(std::make_shared<WindowFactory>()); }

QStringList OVNCoreImageAdjustWindow::settingsKeys()
{
    QStringList keys;
    for (const ControlDescription &spec : kControls)
        keys.append(QLatin1String(spec.key));
    return keys;
}

void OVNCoreImageAdjustWindow::buildControls()
{
    auto *central = new QWidget(this);
    auto *layout = new QHBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    m_preview = new OVNCoreImageView(central);
    layout->addWidget(m_preview, 1);

    // The controls sit on a plain light-grey panel beside the preview.
    auto *panel = new CustomView(central);
    panel->setObjectName(QStringLiteral("controlsPanel"));
    panel->setFixedWidth(300);
    auto *form = new QGridLayout(panel);
    form->setContentsMargins(8, 8, 8, 8);
    m_presets = new QComboBox(panel);
    connect(m_presets, &QComboBox::activated, this, &OVNCoreImageAdjustWindow::presetsChanged);
    form->addWidget(m_presets, 0, 0, 1, 3);
    for (int i = 0; i < controlCount; ++i) {
        const ControlDescription &spec = kControls[i];
        auto *label = new QLabel(localized(spec.label), panel);
        auto *slider = new QSlider(Qt::Horizontal, panel);
        slider->setRange(0, sliderSteps(spec));
        auto *field = new QLineEdit(panel);
        field->setFixedWidth(60);
        field->setAlignment(Qt::AlignRight);
        const auto control = Control(i);
        connect(slider, &QSlider::sliderMoved, this, [this, control, slider](int position) {
            m_values[control] = valueAtPosition(kControls[control], position);
            Q_UNUSED(slider);
            sliderMoved();
        });
        // Keyboard and page steps move the slider without sliderMoved.
        connect(slider, &QSlider::actionTriggered, this, [this, control, slider](int action) {
            if (action == QAbstractSlider::SliderMove)
                return;
            QMetaObject::invokeMethod(
                this,
                [this, control, slider] {
                    m_values[control] = valueAtPosition(kControls[control], slider->value());
                    sliderMoved();
                },
                Qt::QueuedConnection);
        });
        connect(field, &QLineEdit::editingFinished, this, [this, control] { valueChanged(control); });
        m_sliders[i] = slider;
        m_fields[i] = field;
        form->addWidget(label, i + 1, 0);
        form->addWidget(slider, i + 1, 1);
        form->addWidget(field, i + 1, 2);
    }
    int row = controlCount + 1;
    form->addWidget(new QLabel(localized("White Point"), panel), row, 0);
    m_whitePointWell = new QPushButton(panel);
    paintWell(m_whitePointWell, m_whitePoint);
    connect(m_whitePointWell, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(m_whitePoint, this, localized("White Point"));
        if (chosen.isValid())
            setWhitePointColour(chosen);
    });
    form->addWidget(m_whitePointWell, row++, 1, 1, 2, Qt::AlignLeft);
    m_showGrid = new QCheckBox(localized("Show Grid"), panel);
    connect(m_showGrid, &QCheckBox::toggled, this, [this](bool on) { m_preview->setShowGrid(on); });
    form->addWidget(m_showGrid, row++, 0, 1, 3);
    form->setRowStretch(row, 1);
    layout->addWidget(panel);
    setCentralWidget(central);

    // The sheet that names a new preset.
    m_saveSheet = new QDialog(this);
    m_saveSheet->setWindowModality(Qt::WindowModal);
    m_saveSheet->setWindowTitle(localized("Save settings as..."));
    auto *sheetLayout = new QVBoxLayout(m_saveSheet);
    sheetLayout->addWidget(new QLabel(localized("Preset name:"), m_saveSheet));
    m_saveTitle = new QLineEdit(m_saveSheet);
    sheetLayout->addWidget(m_saveTitle);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, m_saveSheet);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { saveSettingsButtonPressed(true); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { saveSettingsButtonPressed(false); });
    sheetLayout->addWidget(buttons);
}

void OVNCoreImageAdjustWindow::buildToolbar()
{
    m_actions = addViewerToolbar(this, toolbarIdentifier, kToolbarItems);
    const QByteArray state = QByteArray::fromBase64(m_defaults.stringForKey(toolbarStateKey()).toLatin1());
    if (!state.isEmpty())
        restoreState(state);
}

QAction *OVNCoreImageAdjustWindow::toolbarAction(const QString &identifier) const
{
    for (QAction *action : m_actions)
        if (action->objectName() == identifier)
            return action;
    return nullptr;
}

void OVNCoreImageAdjustWindow::setOnLoadOrientation(int code) { m_turn = OVNOrientation::turnFor(code); }

void OVNCoreImageAdjustWindow::setOnLoadRotation(int degrees) { m_turn = {degrees, false}; }

void OVNCoreImageAdjustWindow::setImageName(const QString &name)
{
    setWindowTitle(name.isEmpty() ? localized("Adjust Image")
                                  : localized("Adjust Image") + QStringLiteral(" - ") + name);
    m_fileName = name;
}

void OVNCoreImageAdjustWindow::loadImage(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    setImageName(QFileInfo(path).fileName());
    m_preview->setShowLoadingTag(true);
    m_preview->repaint();
    // Whole size: what is exported is the file itself, not a screen copy. The chain reads it as
    // it comes, 8 bits a channel, a row at a time: a camera's picture in float would take four
    // times its memory.
    m_loader->load({.path = absolute, .processor = OVNExtensionMapping().getProcessorForFile(absolute)});
}

void OVNCoreImageAdjustWindow::loaded(const OVNImageLoader::Result &result)
{
    if (m_failed)
        return;
    std::shared_ptr<const OVNLinearImage> source;
    if (!result.image.isNull())
        source = std::make_shared<const OVNLinearImage>(
            OVNLinearImage::fromImagePacked(OVNOrientation::flippedBeforeTurn(result.image, m_turn)));
    if (!source || source->isNull()) {
        m_failed = true;
        emit loadFailed();
        showLoadFailureAndClose(this, result.problem);
        return;
    }
    showSource(std::move(source));
    m_preview->setShowLoadingTag(false);
}

void OVNCoreImageAdjustWindow::setImage(const QImage &image)
{
    showSource(std::make_shared<const OVNLinearImage>(OVNLinearImage::fromImagePacked(image)));
}

void OVNCoreImageAdjustWindow::showSource(std::shared_ptr<const OVNLinearImage> source)
{
    m_preview->setRotation(m_turn.degrees);
    m_preview->setCoreImage(std::move(source));
    resetSlider();
    updateFilter();
    emit imageLoaded();
}

double OVNCoreImageAdjustWindow::sliderValue(Control control) const { return m_values[control]; }

QString OVNCoreImageAdjustWindow::fieldText(Control control) const { return m_fields[control]->text(); }

QSlider *OVNCoreImageAdjustWindow::slider(Control control) const { return m_sliders[control]; }

QLineEdit *OVNCoreImageAdjustWindow::field(Control control) const { return m_fields[control]; }

double OVNCoreImageAdjustWindow::minimumOf(Control control) { return kControls[control].minimum; }

double OVNCoreImageAdjustWindow::maximumOf(Control control) { return kControls[control].maximum; }

void OVNCoreImageAdjustWindow::moveSlider(Control control, double value)
{
    const ControlDescription &spec = kControls[control];
    if (!std::isfinite(value)) // no position stands for it: the slider stays
        return;
    m_values[control] = std::clamp(value, spec.minimum, spec.maximum);
    m_sliders[control]->setValue(positionOf(spec, m_values[control]));
    sliderMoved();
}

void OVNCoreImageAdjustWindow::typeValue(Control control, const QString &text)
{
    m_fields[control]->setText(text);
    valueChanged(control);
}

void OVNCoreImageAdjustWindow::setWhitePointColour(const QColor &colour)
{
    m_whitePoint = colour;
    paintWell(m_whitePointWell, colour);
    updateFilter();
}

void OVNCoreImageAdjustWindow::setShowGrid(bool on) { m_showGrid->setChecked(on); }

void OVNCoreImageAdjustWindow::sliderMoved()
{
    for (int i = 0; i < controlCount; ++i)
        m_fields[i]->setText(QString::number(m_values[i], 'f', 1));
    updateFilter();
}

void OVNCoreImageAdjustWindow::valueChanged(Control control)
{
    // The field keeps what was typed; the slider takes its number (0 for anything else), within
    // the slider's range.
    const ControlDescription &spec = kControls[control];
    m_values[control] = std::clamp(numberFromText(m_fields[control]->text()), spec.minimum, spec.maximum);
    m_sliders[control]->setValue(positionOf(spec, m_values[control]));
    updateFilter();
}

void OVNCoreImageAdjustWindow::resetSlider()
{
    for (Control control : kResetOrder) {
        const ControlDescription &spec = kControls[control];
        m_values[control] = spec.start;
        m_sliders[control]->setValue(positionOf(spec, spec.start));
        m_fields[control]->setText(QLatin1String(spec.startText));
    }
    applyValues();
}

void OVNCoreImageAdjustWindow::applyValues()
{
    m_preview->setExposure(m_values[Exposure]);
    m_preview->setGamma(m_values[Gamma]);
    m_preview->setSaturation(m_values[Saturation]);
    m_preview->setBrightness(m_values[Brightness]);
    m_preview->setContrast(m_values[Contrast]);
    m_preview->setSharpness(m_values[Sharpness]);
    m_preview->setTint(m_values[Tint]);
    m_preview->setUserRotation(m_values[Straighten]);
    m_preview->setSepiaTone(m_values[Sepia]);
}

void OVNCoreImageAdjustWindow::updateFilter()
{
    applyValues();
    m_preview->setWhitePoint(m_whitePoint);
    m_preview->updateFilter();
}

void OVNCoreImageAdjustWindow::menuRotateLeft()
{
    m_preview->rotateLeft();
    m_preview->updateFilter();
}

void OVNCoreImageAdjustWindow::menuRotateRight()
{
    m_preview->rotateRight();
    m_preview->updateFilter();
}

void OVNCoreImageAdjustWindow::menuCropImage()
{
    if (!m_preview->cropImage())
        return;
    m_values[Straighten] = 0;
    m_sliders[Straighten]->setValue(positionOf(kControls[Straighten], 0));
    m_fields[Straighten]->setText(QStringLiteral("0.0"));
    updateFilter();
}

void OVNCoreImageAdjustWindow::menuRevertCropImage()
{
    m_preview->revertCropImage();
    // The straighten the picture had before its first crop comes back with it.
    m_values[Straighten] = m_preview->userRotation();
    m_sliders[Straighten]->setValue(positionOf(kControls[Straighten], m_values[Straighten]));
    m_fields[Straighten]->setText(QString::number(m_values[Straighten], 'f', 1));
    updateFilter();
}

QString OVNCoreImageAdjustWindow::exportPath(const QString &path, ExportFormat format)
{
    static const QStringList jpeg{QStringLiteral("jpg"), QStringLiteral("jpeg")};
    static const QStringList tiff{QStringLiteral("tif"), QStringLiteral("tiff")};
    const QStringList &fits = format == ExportFormat::Jpeg ? jpeg : tiff;
    const QStringList &other = format == ExportFormat::Jpeg ? tiff : jpeg;
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    if (fits.contains(suffix))
        return path;
    if (other.contains(suffix))
        return path.left(path.size() - suffix.size()) + fits.first();
    return path + QLatin1Char('.') + fits.first();
}

bool OVNCoreImageAdjustWindow::exportImage(const QString &path, ExportFormat format, int quality, bool reveal)
{
    // Whoever opened the window may ask whether the picture may still leave: asked now, at the
    // export itself. A refusal writes nothing and is said by the check.
    if (m_exportCheck && !m_exportCheck())
        return false;
    const QString target = exportPath(path, format);
    bool ok = m_preview->hasImage() && !path.isEmpty();
    if (ok) {
        // The whole-size rendering and the encoding take seconds for a camera's picture: they run
        // on a worker while the window, disabled, keeps drawing.
        auto job = [render = m_preview->renderJob(), target, format, quality] {
            QImage image = render();
            if (image.isNull())
                return false;
            if (format == ExportFormat::Jpeg)
                flattenOverWhite(image);
            // Written beside the target and renamed over it at the end, so that a failure leaves
            // neither a partial file nor a damaged old one.
            QSaveFile file(target);
            if (!file.open(QIODevice::WriteOnly))
                return false;
            QImageWriter writer(&file, format == ExportFormat::Jpeg ? "jpeg" : "tiff");
            if (format == ExportFormat::Jpeg)
                writer.setQuality(std::clamp(quality, 0, 100));
            else
                writer.setCompression(1); // LZW
            return writer.write(image) && file.commit();
        };
        m_busy = true;
        centralWidget()->setEnabled(false);
        for (QAction *action : std::as_const(m_actions))
            action->setEnabled(false);
        QApplication::setOverrideCursor(Qt::BusyCursor);
        QEventLoop loop;
        std::atomic<bool> written = false;
        std::thread worker([&] {
            written = job();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        worker.join();
        QApplication::restoreOverrideCursor();
        for (QAction *action : std::as_const(m_actions))
            action->setEnabled(true);
        centralWidget()->setEnabled(true);
        m_busy = false;
        ok = written;
    }
    if (!ok) {
        Alerts::show({localized("Failed to save file"),
                      localized("The image file could not be saved. Please check your file name, path and available "
                                "disk space."),
                      {},
                      Alert::Style::Warning,
                      Alert::Modality::Window,
                      this});
        return false;
    }
    // The next export, here or in another adjustment window, starts from these choices.
    m_defaults.setObject(QVariantMap{{QStringLiteral("Folder"), QFileInfo(target).absolutePath()},
                                     {QStringLiteral("Format"),
                                      format == ExportFormat::Jpeg ? QStringLiteral("JPEG") : QStringLiteral("TIFF")},
                                     {QStringLiteral("Quality"), QString::number(std::clamp(quality, 0, 100))},
                                     {QStringLiteral("Reveal"), reveal ? QStringLiteral("1") : QStringLiteral("0")}},
                         kExportSettingsKey);
    if (reveal)
        Workspace::revealFiles({target}, this);
    return true;
}

void OVNCoreImageAdjustWindow::menuExportImage()
{
    auto *panel = new QFileDialog(this, localized("Export images to"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setLabelText(QFileDialog::Accept, localized("Export"));
    // The last export's folder and options, as long as the folder is still there.
    const QVariantMap last = m_defaults.dictionaryForKey(kExportSettingsKey);
    const QString lastFolder = UserDefaults::stringFromVariant(last.value(QStringLiteral("Folder")));
    panel->setDirectory(!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir() ? lastFolder : QDir::homePath());
    if (!last.isEmpty()) {
        m_exportFormat = UserDefaults::stringFromVariant(last.value(QStringLiteral("Format"))) == QLatin1String("TIFF")
                             ? ExportFormat::Tiff
                             : ExportFormat::Jpeg;
        if (last.contains(QStringLiteral("Quality")))
            m_exportQuality = int(
                std::clamp<qint64>(UserDefaults::integerFromVariant(last.value(QStringLiteral("Quality"))), 0, 100));
        m_exportReveal = UserDefaults::boolFromVariant(last.value(QStringLiteral("Reveal")));
    }
    panel->setWindowModality(Qt::WindowModal);

    // The export options below the file chooser.
    auto *options = new QWidget(panel);
    auto *form = new QFormLayout(options);
    form->addRow(
        new QLabel(localized("Please select the destination folder and image settings for your export."), options));
    auto *format = new QComboBox(options);
    format->addItems({QStringLiteral("TIFF"), QStringLiteral("JPEG")});
    format->setCurrentIndex(m_exportFormat == ExportFormat::Jpeg ? 1 : 0);
    form->addRow(localized("Format:"), format);
    auto *qualityRow = new QWidget(options);
    auto *qualityLayout = new QHBoxLayout(qualityRow);
    qualityLayout->setContentsMargins(0, 0, 0, 0);
    auto *quality = new QSlider(Qt::Horizontal, qualityRow);
    quality->setRange(0, 100);
    quality->setValue(m_exportQuality);
    auto *qualityValue = new QLineEdit(QString::number(m_exportQuality), qualityRow);
    qualityValue->setReadOnly(true);
    qualityValue->setFixedWidth(40);
    qualityLayout->addWidget(quality);
    qualityLayout->addWidget(qualityValue);
    form->addRow(localized("Quality:"), qualityRow);
    auto *reveal = new QCheckBox(localized("Reveal in file manager"), options);
    reveal->setChecked(m_exportReveal);
    form->addRow(reveal);
    if (auto *grid = qobject_cast<QGridLayout *>(panel->layout()))
        grid->addWidget(options, grid->rowCount(), 0, 1, grid->columnCount());

    const QString base = m_fileName.isEmpty() ? QString() : QFileInfo(m_fileName).completeBaseName();
    auto applyFormat = [this, panel, format, quality, qualityValue] {
        m_exportFormat = format->currentIndex() == 1 ? ExportFormat::Jpeg : ExportFormat::Tiff;
        const bool jpeg = m_exportFormat == ExportFormat::Jpeg;
        quality->setEnabled(jpeg);
        qualityValue->setEnabled(jpeg);
        panel->setNameFilters(
            jpeg ? QStringList{QStringLiteral("JPEG (*.jpg *.jpeg)"), QStringLiteral("TIFF (*.tif *.tiff)")}
                 : QStringList{QStringLiteral("TIFF (*.tif *.tiff)"), QStringLiteral("JPEG (*.jpg *.jpeg)")});
        panel->setDefaultSuffix(jpeg ? QStringLiteral("jpg") : QStringLiteral("tif"));
    };
    applyFormat();
    if (!base.isEmpty())
        panel->selectFile(exportPath(base, m_exportFormat));
    connect(format, &QComboBox::currentIndexChanged, panel, [applyFormat, panel, this] {
        applyFormat();
        // The proposed name follows the format.
        const QStringList chosen = panel->selectedFiles();
        if (!chosen.isEmpty() && !QFileInfo(chosen.first()).fileName().isEmpty() && !QFileInfo(chosen.first()).isDir())
            panel->selectFile(QFileInfo(exportPath(chosen.first(), m_exportFormat)).fileName());
    });
    connect(quality, &QSlider::valueChanged, panel, [this, qualityValue](int value) {
        m_exportQuality = value;
        qualityValue->setText(QString::number(value));
    });
    connect(reveal, &QCheckBox::toggled, panel, [this](bool on) { m_exportReveal = on; });
    connect(panel, &QFileDialog::fileSelected, this,
            [this](const QString &file) { exportImage(file, m_exportFormat, m_exportQuality, m_exportReveal); });
    panel->open();
}

int OVNCoreImageAdjustWindow::presetKind(int item) const
{
    const QVariant kind = m_presets->itemData(item, kKindRole);
    return kind.isValid() ? kind.toInt() : SeparatorItem;
}

void OVNCoreImageAdjustWindow::setupPresets()
{
    m_presets->clear();
    auto add = [this](const QString &title, int kind, int index = -1) {
        m_presets->addItem(title);
        m_presets->setItemData(m_presets->count() - 1, kind, kKindRole);
        m_presets->setItemData(m_presets->count() - 1, index, kIndexRole);
    };
    add(localized("Manual Adjustment"), ManualItem);
    m_presets->insertSeparator(m_presets->count());
    const QVariantList &builtIn = m_presetStore.builtIn();
    for (int i = 0; i < builtIn.size(); ++i)
        add(builtIn.at(i).toMap().value(QStringLiteral("Title")).toString(), BuiltInItem, i);
    const QVariantList &user = m_presetStore.user();
    if (!user.isEmpty()) {
        m_presets->insertSeparator(m_presets->count());
        for (int i = 0; i < user.size(); ++i)
            add(user.at(i).toMap().value(QStringLiteral("Title")).toString(), UserItem, i);
    }
    m_presets->insertSeparator(m_presets->count());
    add(localized("Delete selected preset..."), DeleteItem);
    add(localized("Save settings as..."), SaveItem);
}

void OVNCoreImageAdjustWindow::presetsChanged(int index)
{
    m_presets->setCurrentIndex(index);
    const int kind = presetKind(index);
    const int presetIndex = m_presets->itemData(index, kIndexRole).toInt();
    if (kind == BuiltInItem || kind == UserItem) {
        const QVariantMap preset =
            (kind == BuiltInItem ? m_presetStore.builtIn() : m_presetStore.user()).value(presetIndex).toMap();
        if (preset.contains(QStringLiteral("Settings")))
            loadSettingsFromDictionary(preset.value(QStringLiteral("Settings")).toMap());
    } else if (kind == SaveItem) {
        m_saveTitle->setText(localized("untitled"));
        m_saveSheet->open();
    } else if (kind == DeleteItem) {
        const int old = m_oldSelection;
        if (presetKind(old) == UserItem) {
            const int userIndex = m_presets->itemData(old, kIndexRole).toInt();
            const QString title =
                m_presetStore.user().value(userIndex).toMap().value(QStringLiteral("Title")).toString();
            m_oldSelection = index;
            QPointer<OVNCoreImageAdjustWindow> self(this);
            Alerts::show({localized("Delete Preset: ") + title,
                          localized("Do you really want to delete the selected preset? This action cannot be undone."),
                          {localized("Delete Preset"), localized("Cancel")},
                          Alert::Style::Warning,
                          Alert::Modality::Window,
                          this},
                         [self, userIndex, old](int button) {
                             if (self)
                                 self->removeAlertDidEnd(button, userIndex, old);
                         });
            return;
        }
        Alerts::show({localized("Cannot delete preset"),
                      localized("You can only delete user defined presets. Please select a user defined preset first."),
                      {},
                      Alert::Style::Warning,
                      Alert::Modality::Window,
                      this});
        m_presets->setCurrentIndex(old);
    }
    m_oldSelection = m_presets->currentIndex();
}

void OVNCoreImageAdjustWindow::removeAlertDidEnd(int button, int userIndex, int presetItem)
{
    if (button == 0) {
        m_presetStore.removeUserPreset(userIndex);
        setupPresets();
        m_presets->setCurrentIndex(0);
    } else {
        m_presets->setCurrentIndex(presetItem);
    }
    m_oldSelection = m_presets->currentIndex();
}

void OVNCoreImageAdjustWindow::saveSettingsButtonPressed(bool ok)
{
    m_saveSheet->close();
    if (!ok)
        return;
    m_presetStore.addUserPreset(m_saveTitle->text(), getDictionaryFromSettings());
    setupPresets();
    // The new preset is the last user item, whatever its title.
    const int newest = int(m_presetStore.user().size()) - 1;
    for (int i = 0; i < m_presets->count(); ++i) {
        if (presetKind(i) == UserItem && m_presets->itemData(i, kIndexRole).toInt() == newest) {
            m_presets->setCurrentIndex(i);
            break;
        }
    }
    m_oldSelection = m_presets->currentIndex();
}

QVariantMap OVNCoreImageAdjustWindow::getDictionaryFromSettings() const
{
    // Straighten belongs to one picture and is not kept; the others keep the sliders' exact values.
    QVariantMap settings;
    for (int i = 0; i < controlCount - 1; ++i)
        settings.insert(QLatin1String(kControls[i].key), exactText(m_values[i]));
    return settings;
}

void OVNCoreImageAdjustWindow::loadSettingsFromDictionary(const QVariantMap &settings)
{
    for (int i = 0; i < controlCount; ++i) {
        const QString key = QLatin1String(kControls[i].key);
        if (!settings.contains(key))
            continue;
        const double value = numberFromText(settings.value(key).toString());
        if (value == -9999.0)
            continue;
        m_values[i] = std::clamp(value, kControls[i].minimum, kControls[i].maximum);
        m_sliders[i]->setValue(positionOf(kControls[i], m_values[i]));
    }
    sliderMoved();
}

void OVNCoreImageAdjustWindow::closeEvent(QCloseEvent *event)
{
    if (m_busy) { // an export is being written
        event->ignore();
        return;
    }
    m_defaults.setString(QString::fromLatin1(saveState().toBase64()), toolbarStateKey());
    m_loader->cancel();
    QMainWindow::closeEvent(event);
}
