#include "browser/OVNUDFThumbnails.h"

#include "browser/OVNThumbnailLayoutListModel.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "uikit/OVNWindowPlacement.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int previewSide = 130;

const char *const barFieldTitles[] = {
    "None",           "File Name",          "File Type", "Rating", "Size (Pixel)", "File Size", "Asset Date/Time",
    "File Date/Time", "Movie length (Time)"};
const char *const listFieldTitles[] = {"None",      "File Name",    "File Processor", "File Size",
                                       "File Date", "Catalog Date", "Title",          "Description"};

// A colour swatch over a checkerboard, so that a translucent colour shows as one.
QIcon swatch(const QColor &color)
{
    QPixmap pixmap(32, 16);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    for (int y = 0; y < 16; y += 4)
        for (int x = 0; x < 32; x += 4)
            if (((x + y) / 4) % 2)
                painter.fillRect(x, y, 4, 4, QColor(0xc8, 0xc8, 0xc8));
    painter.fillRect(pixmap.rect(), color);
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

// A flag or code as the cells read it.
int codeOf(const QVariantMap &layout, const QString &key)
{
    const double value = OVNHelper::leadingDouble(layout.value(key).toString().left(64));
    return int(std::clamp(value, -1.0, 1000.0));
}

} // namespace

OVNUDFThumbnails::OVNUDFThumbnails(UserDefaults &defaults, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_model(new OVNThumbnailLayoutListModel(defaults, this))
{
    setWindowTitle(localized("Thumbnail Layouts"));
    setAttribute(Qt::WA_QuitOnClose, false);

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("udfThumbnailSets"));
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFixedWidth(210);

    m_controls = new QWidget(this);
    auto *controls = new QVBoxLayout(m_controls);
    controls->setContentsMargins(0, 0, 0, 0);

    // The preview and the settings of the whole cell.
    m_preview = new QLabel(m_controls);
    m_preview->setObjectName(QStringLiteral("udfLayoutPreview"));
    m_preview->setFixedSize(previewSide + 2, previewSide + 2);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setFrameShape(QFrame::Box);

    auto *cell = new QGroupBox(localized("Cell"), m_controls);
    auto *cellGrid = new QGridLayout(cell);
    int row = 0;
    cellGrid->addWidget(new QLabel(localized("Background:"), cell), row, 0);
    cellGrid->addWidget(makeColorButton(QStringLiteral("udfBackgroundColor"), localized("Background")), row++, 1);
    cellGrid->addWidget(makeCheckBox(QStringLiteral("udfEnableFrame"), localized("Frame")), row, 0);
    cellGrid->addWidget(makeColorButton(QStringLiteral("udfFrameColor"), localized("Frame")), row++, 1);
    cellGrid->addWidget(makeCheckBox(QStringLiteral("udfFrameDrawBackground"), localized("Fill inside the frame")), row,
                        0);
    cellGrid->addWidget(makeColorButton(QStringLiteral("udfFrameBackgroundColor"), localized("Frame fill")), row++, 1);
    cellGrid->addWidget(
        makeCheckBox(QStringLiteral("udfFrameFullSize"), localized("Frame and bars span the picture area")), row++, 0,
        1, 2);
    cellGrid->addWidget(makeCheckBox(QStringLiteral("udfEnableShadow"), localized("Drop shadow")), row, 0);
    cellGrid->addWidget(makeColorButton(QStringLiteral("udfShadowColor"), localized("Shadow")), row++, 1);
    cellGrid->addWidget(makeCheckBox(QStringLiteral("udfEnableManualSpacing"), localized("Manual spacing")), row, 0);
    m_manualSpacing = new QLineEdit(cell);
    m_manualSpacing->setObjectName(QStringLiteral("udfManualSpacing"));
    m_manualSpacing->setMaximumWidth(70);
    // Stored as typed, number or not.
    connect(m_manualSpacing, &QLineEdit::textEdited, this,
            [this](const QString &text) { applyEdit(QStringLiteral("udfManualSpacing"), text); });
    cellGrid->addWidget(m_manualSpacing, row++, 1);
    cellGrid->addWidget(new QLabel(localized("Cell kind:"), cell), row, 0);
    m_layoutSelection = new QComboBox(cell);
    m_layoutSelection->setObjectName(QStringLiteral("udfLayoutSelection"));
    m_layoutSelection->addItems({localized("Picture"), localized("List")});
    cellGrid->addWidget(m_layoutSelection, row++, 1);
    // The colours sit beside what they colour.
    cellGrid->setColumnStretch(2, 1);

    auto *top = new QHBoxLayout;
    top->addWidget(m_preview, 0, Qt::AlignTop);
    top->addWidget(cell, 1);
    controls->addLayout(top);

    auto *bars = new QHBoxLayout;
    bars->addWidget(
        makeBarGroup(localized("Name Bar"), QStringLiteral("udfNameBar"), QStringLiteral("udfEnableNameBar")));
    bars->addWidget(
        makeBarGroup(localized("Top Bar"), QStringLiteral("udfTopBar"), QStringLiteral("udfEnableTopInfoBar")));
    bars->addWidget(makeBarGroup(localized("Bottom Bar"), QStringLiteral("udfBottomBar"),
                                 QStringLiteral("udfEnableBottomInfoBar")));
    controls->addLayout(bars);

    // The page of the cell kind: the picture cell has nothing more to set, the list cell its lines.
    m_layoutTabs = new QStackedWidget(m_controls);
    m_layoutTabs->setObjectName(QStringLiteral("udfLayoutTabs"));
    auto *picturePage = new QLabel(localized("The picture fills the cell; the bars lie over it."), m_layoutTabs);
    picturePage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_layoutTabs->addWidget(picturePage);
    m_layoutTabs->addWidget(makeListPage());
    controls->addWidget(m_layoutTabs, 1);
    connect(m_layoutSelection, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_loading || index < 0)
            return;
        m_layoutTabs->setCurrentIndex(index);
        applyEdit(QStringLiteral("udfLayoutSelection"), QString::number(index));
    });

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_controls, 1);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    m_model->load();
    // The model reset replaced the selection model's rows; select the first layout.
    m_list->setCurrentIndex(m_model->index(0));
    selectionChanged();
}

OVNUDFThumbnails::~OVNUDFThumbnails() = default;

QWidget *OVNUDFThumbnails::makeColorButton(const QString &key, const QString &title)
{
    auto *button = new QToolButton(this);
    button->setObjectName(key);
    button->setToolTip(title);
    button->setIconSize(QSize(32, 16));
    button->setIcon(swatch(Qt::transparent));
    connect(button, &QToolButton::clicked, this, [this, key] { chooseColor(key); });
    m_colorButtons.insert(key, button);
    return button;
}

QCheckBox *OVNUDFThumbnails::makeCheckBox(const QString &key, const QString &title)
{
    auto *box = new QCheckBox(title, this);
    box->setObjectName(key);
    connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
        if (!m_loading)
            applyEdit(key, on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    m_checkBoxes.insert(key, box);
    return box;
}

QComboBox *OVNUDFThumbnails::makeFieldPopUp(const QString &key, bool listField)
{
    auto *popUp = new QComboBox(this);
    popUp->setObjectName(key);
    if (listField) {
        for (const char *title : listFieldTitles)
            popUp->addItem(localizedMenu(title));
    } else {
        for (const char *title : barFieldTitles)
            popUp->addItem(localizedMenu(title));
    }
    connect(popUp, &QComboBox::currentIndexChanged, this, [this, key](int index) {
        if (!m_loading && index >= 0)
            applyEdit(key, QString::number(index));
    });
    m_fieldPopUps.insert(key, popUp);
    return popUp;
}

QWidget *OVNUDFThumbnails::makeBarGroup(const QString &title, const QString &prefix, const QString &enableKey)
{
    auto *group = new QGroupBox(title, this);
    auto *form = new QFormLayout(group);
    form->addRow(makeCheckBox(enableKey, localized("Show")));
    form->addRow(localized("Fill:"), makeColorButton(prefix + QStringLiteral("BGColor"), title));
    form->addRow(localized("Text:"), makeColorButton(prefix + QStringLiteral("FontColor"), title));

    const QString fontKey = prefix + QStringLiteral("Font");
    auto *font = new QLineEdit(group);
    font->setObjectName(fontKey);
    font->setReadOnly(true);
    auto *choose = new QPushButton(localized("Font..."), group);
    choose->setObjectName(prefix + QStringLiteral("FontSelection"));
    connect(choose, &QPushButton::clicked, this, [this, fontKey] { chooseFont(fontKey); });
    m_fontFields.insert(fontKey, font);
    form->addRow(localized("Font:"), font);
    form->addRow(QString(), choose);

    form->addRow(localized("Left:"), makeFieldPopUp(prefix + QStringLiteral("Left"), false));
    form->addRow(localized("Middle:"), makeFieldPopUp(prefix + QStringLiteral("Middle"), false));
    form->addRow(localized("Right:"), makeFieldPopUp(prefix + QStringLiteral("Right"), false));
    return group;
}

QWidget *OVNUDFThumbnails::makeListPage()
{
    auto *page = new QGroupBox(localized("List Lines"), this);
    auto *grid = new QGridLayout(page);
    for (int line = 1; line <= 7; ++line) {
        const int column = (line - 1) / 4 * 2;
        const int row = (line - 1) % 4;
        grid->addWidget(new QLabel(localized("Line %1:").arg(line), page), row, column);
        grid->addWidget(makeFieldPopUp(QStringLiteral("udfListLine%1").arg(line), true), row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return page;
}

void OVNUDFThumbnails::setSamplePicture(const QImage &picture)
{
    m_samplePicture = picture;
    updatePreview();
}

void OVNUDFThumbnails::makeKeyAndOrderFront()
{
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
}

void OVNUDFThumbnails::orderOut() { hide(); }

void OVNUDFThumbnails::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_problemsShown)
        return;
    m_problemsShown = true;
    const QString message = m_model->problemMessage();
    if (message.isEmpty())
        return;
    Alert alert;
    alert.message = localized("Some stored thumbnail layouts could not be used as they were.");
    alert.informativeText = message;
    alert.modality = Alert::Modality::Window;
    alert.window = this;
    // Once the window is up and raised, so that the alert opens above it.
    QTimer::singleShot(0, this, [alert] { Alerts::show(alert); });
}

void OVNUDFThumbnails::selectionChanged()
{
    QList<int> rows;
    for (const QModelIndex &index : m_list->selectionModel()->selectedRows())
        rows.append(index.row());
    m_model->setSelectedRows(rows);
    const int row = m_model->selectedRow();
    // The controls edit one layout; with none or several selected there is nothing they could show.
    m_controls->setEnabled(row >= 0);
    if (row >= 0)
        loadLayout(m_model->layout(row));
}

void OVNUDFThumbnails::loadLayout(const QVariantMap &layout)
{
    m_loading = true;
    for (auto it = m_colorButtons.cbegin(); it != m_colorButtons.cend(); ++it)
        it.value()->setIcon(swatch(OVNHelper::decodeToColor(layout.value(it.key()).toMap())));
    for (auto it = m_checkBoxes.cbegin(); it != m_checkBoxes.cend(); ++it)
        it.value()->setChecked(codeOf(layout, it.key()) == 1);
    m_manualSpacing->setText(layout.value(QStringLiteral("udfManualSpacing")).toString());
    const int kind = codeOf(layout, QStringLiteral("udfLayoutSelection")) == 1 ? 1 : 0;
    m_layoutSelection->setCurrentIndex(kind);
    m_layoutTabs->setCurrentIndex(kind);
    for (auto it = m_fontFields.cbegin(); it != m_fontFields.cend(); ++it)
        showFont(it.key(), layout);
    for (auto it = m_fieldPopUps.cbegin(); it != m_fieldPopUps.cend(); ++it) {
        const int code = codeOf(layout, it.key());
        it.value()->setCurrentIndex(code >= 0 && code < it.value()->count() ? code : 0);
    }
    m_loading = false;
    updatePreview();
}

void OVNUDFThumbnails::updatePreview()
{
    const int row = m_model->selectedRow();
    if (row < 0)
        return;
    m_previewImage = m_model->preview(m_model->layout(row), m_samplePicture);
    m_preview->setPixmap(QPixmap::fromImage(m_previewImage));
}

void OVNUDFThumbnails::applyEdit(const QString &key, const QVariant &value)
{
    applyResult(int(m_model->setValue(key, value)));
}

void OVNUDFThumbnails::applyResult(int result)
{
    using Result = OVNThumbnailLayoutListModel::EditResult;
    if (Result(result) == Result::NoSingleSelection)
        return;
    updatePreview();
    if (Result(result) == Result::NotSaved) {
        Alert alert;
        alert.message = localized("The thumbnail layouts could not be stored.");
        alert.informativeText = m_model->lastError();
        alert.modality = Alert::Modality::Window;
        alert.window = this;
        Alerts::show(alert);
    }
}

void OVNUDFThumbnails::showColor(const QString &key, const QColor &color)
{
    if (QToolButton *button = m_colorButtons.value(key))
        button->setIcon(swatch(color));
}

void OVNUDFThumbnails::showFont(const QString &key, const QVariantMap &layout)
{
    QLineEdit *field = m_fontFields.value(key);
    if (!field)
        return;
    field->setText(OVNHelper::decodeToFontDescription(layout.value(key).toMap()));
    field->setCursorPosition(0);
    field->setToolTip(field->text().left(200));
}

void OVNUDFThumbnails::chooseColor(const QString &key)
{
    const int row = m_model->selectedRow();
    if (row < 0)
        return;
    if (!m_colorDialog) {
        m_colorDialog = new QColorDialog(this);
        m_colorDialog->setOption(QColorDialog::ShowAlphaChannel);
        m_colorDialog->setOption(QColorDialog::DontUseNativeDialog);
        connect(m_colorDialog, &QColorDialog::colorSelected, this, [this](const QColor &color) {
            if (m_dialogKey.isEmpty())
                return;
            const auto result = m_model->setColor(m_dialogKey, color);
            if (result != OVNThumbnailLayoutListModel::EditResult::NoSingleSelection)
                showColor(m_dialogKey,
                          OVNHelper::decodeToColor(m_model->layout(m_model->selectedRow()).value(m_dialogKey).toMap()));
            applyResult(int(result));
        });
    }
    m_dialogKey = key;
    m_colorDialog->setWindowTitle(m_colorButtons.value(key)->toolTip());
    m_colorDialog->setCurrentColor(OVNHelper::decodeToColor(m_model->layout(row).value(key).toMap()));
    m_colorDialog->open();
}

void OVNUDFThumbnails::chooseFont(const QString &key)
{
    const int row = m_model->selectedRow();
    if (row < 0)
        return;
    if (!m_fontDialog) {
        m_fontDialog = new QFontDialog(this);
        m_fontDialog->setOption(QFontDialog::DontUseNativeDialog);
        connect(m_fontDialog, &QFontDialog::fontSelected, this, [this](const QFont &font) {
            if (m_dialogKey.isEmpty())
                return;
            const auto result = m_model->setFont(m_dialogKey, font);
            const int selected = m_model->selectedRow();
            if (selected >= 0)
                showFont(m_dialogKey, m_model->layout(selected));
            applyResult(int(result));
        });
    }
    m_dialogKey = key;
    // The stored size is in points that the cells draw as pixels; the dialog speaks points.
    QFont font = OVNHelper::decodeToFont(m_model->layout(row).value(key).toMap());
    if (font.pixelSize() > 0)
        font.setPointSizeF(font.pixelSize());
    m_fontDialog->setCurrentFont(font);
    m_fontDialog->open();
}
