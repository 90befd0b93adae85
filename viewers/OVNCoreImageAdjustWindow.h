#pragma once

#include "formats/OVNOrientation.h"
#include "platform/SettingsPresetStore.h"
#include "viewers/OVNCoreImageAdjust.h"
#include "viewers/OVNImageLoader.h"

#include <QColor>
#include <QMainWindow>
#include <QVariantMap>

#include <array>

class OVNCoreImageView;
class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QPushButton;
class QSlider;
class UserDefaults;

// The adjustment window: ten sliders with their value fields, a white-point colour, a grid switch,
// quarter turns, crop and revert, presets, and export as JPEG or TIFF. One window per picture; it
// deletes itself when closed, and nobody keeps a reference to it.
class OVNCoreImageAdjustWindow
    : public QMainWindow
    , public OVNCoreImageAdjust
{
    Q_OBJECT

public:
    static constexpr const char *toolbarIdentifier = "OVNCoreImageAdjust Toolbar Identifier";
    // The controls, in the order of the preset keys.
    enum Control { Exposure, Gamma, Brightness, Contrast, Saturation, Temperature, Tint, Sepia, Sharpness, Straighten };
    static constexpr int controlCount = 10;
    enum class ExportFormat { Tiff, Jpeg };

    explicit OVNCoreImageAdjustWindow(UserDefaults &defaults, QWidget *parent = nullptr);
    OVNCoreImageAdjustWindow();
    ~OVNCoreImageAdjustWindow() override;

    // Makes the factory the catalog window opens adjustment windows through.
    static void installFactory();

    // The start turn from an orientation code (mirrored codes also flip), or in degrees.
    void setOnLoadOrientation(int code) override;
    void setOnLoadRotation(int degrees);
    int onLoadRotation() const { return m_turn.degrees; }
    // Titles the window after the file and loads it in the background at full size.
    void loadImage(const QString &path) override;
    void setExportCheck(ExportCheck check) override { m_exportCheck = std::move(check); }
    // A picture in hand (from the image viewer): shown with the start turn, sliders reset.
    void setImage(const QImage &image);
    void setImageName(const QString &name);
    QString fileName() const { return m_fileName; }
    OVNCoreImageView *preview() const { return m_preview; }
    QAction *toolbarAction(const QString &identifier) const;

    // The settings keys, in control order ("ciexposure" ... "cistraighten").
    static QStringList settingsKeys();
    // The range a control's slider takes.
    static double minimumOf(Control control);
    static double maximumOf(Control control);
    double sliderValue(Control control) const;
    QString fieldText(Control control) const;
    QSlider *slider(Control control) const;
    QLineEdit *field(Control control) const;
    // As the user moving a slider to `value`, and typing `text` into its field and pressing Return.
    void moveSlider(Control control, double value);
    void typeValue(Control control, const QString &text);
    void setWhitePointColour(const QColor &colour);
    void setShowGrid(bool on);

    void resetSlider();
    // Pushes every value into the preview and refilters.
    void updateFilter();
    void menuRotateLeft();
    void menuRotateRight();
    void menuCropImage();
    void menuRevertCropImage();
    // The export panel (a sheet on the window).
    void menuExportImage();
    // Writes the picture as it is adjusted, at full size. The extension follows the format. On
    // failure the "Failed to save file" sheet shows, nothing is left at the target, and false.
    // The export check is asked first; its refusal writes nothing either (false, its words only).
    bool exportImage(const QString &path, ExportFormat format, int quality, bool reveal = false);
    // `path` with an extension that fits the format: kept when it fits, the other format's replaced,
    // anything else appended to.
    static QString exportPath(const QString &path, ExportFormat format);

    // Presets.
    QComboBox *presetPopUp() const { return m_presets; }
    const SettingsPresetStore &presetStore() const { return m_presetStore; }
    void setupPresets();
    void presetsChanged(int index);
    QDialog *saveSheet() const { return m_saveSheet; }
    QLineEdit *saveTitleField() const { return m_saveTitle; }
    void saveSettingsButtonPressed(bool ok);
    QVariantMap getDictionaryFromSettings() const;
    void loadSettingsFromDictionary(const QVariantMap &settings);

signals:
    // The picture is in and shown (loadImage or setImage).
    void imageLoaded();
    // Loading failed; the failure sheet follows and then the window closes.
    void loadFailed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildToolbar();
    // Hands every control's value to the preview.
    void applyValues();
    void sliderMoved();
    void valueChanged(Control control);
    void loaded(const OVNImageLoader::Result &result);
    void showSource(std::shared_ptr<const OVNLinearImage> source);
    void removeAlertDidEnd(int button, int userIndex, int presetItem);
    int presetKind(int item) const;

    UserDefaults &m_defaults;
    OVNCoreImageView *m_preview = nullptr;
    QComboBox *m_presets = nullptr;
    std::array<QSlider *, controlCount> m_sliders{};
    std::array<QLineEdit *, controlCount> m_fields{};
    std::array<double, controlCount> m_values{}; // the sliders' exact values
    QPushButton *m_whitePointWell = nullptr;
    QColor m_whitePoint = Qt::white;
    QCheckBox *m_showGrid = nullptr;
    QDialog *m_saveSheet = nullptr;
    QLineEdit *m_saveTitle = nullptr;
    QList<QAction *> m_actions;
    SettingsPresetStore m_presetStore;
    int m_oldSelection = 0;
    OVNImageLoader *m_loader = nullptr;
    QString m_fileName;
    OVNOrientation::Turn m_turn;
    bool m_failed = false;
    bool m_busy = false; // an export is running
    ExportFormat m_exportFormat = ExportFormat::Jpeg;
    int m_exportQuality = 90;
    bool m_exportReveal = false;
    ExportCheck m_exportCheck;
};
