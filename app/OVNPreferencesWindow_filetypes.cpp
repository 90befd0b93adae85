// The file-type tab of the preferences window: the table, its row sheet and its actions. Every
// change goes through the controller's OVNExtensionMapping, which saves the whole table at once.
#include "app/OVNPreferencesWindow.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "platform/Localized.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QStringList kColumns = {QStringLiteral("extension"), QStringLiteral("description"), QStringLiteral("processor"),
                              QStringLiteral("viewer"), QStringLiteral("type")};
const QStringList kTypes = {QStringLiteral("Image"),    QStringLiteral("RAW"),   QStringLiteral("Movie"),
                            QStringLiteral("Document"), QStringLiteral("Audio"), QStringLiteral("PDF")};
constexpr int kMaximumTypeCodeLength = 4;

} // namespace

// The table's rows as the view shows them; the columns are row keys.
class OVNFileTypeTableModel : public QAbstractTableModel
{
public:
    explicit OVNFileTypeTableModel(OVNExtensionMapping &table, QObject *parent)
        : QAbstractTableModel(parent),
          m_table(table)
    {}

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_table.count(); }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(kColumns.size());
    }
    // The processor and viewer columns say what the program does with the files (a Photoshop
    // file's row names the movie readers, the program reads and shows a picture), the tooltip
    // what the row names where the two differ.
    QVariant data(const QModelIndex &index, int role) const override
    {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid())
            return {};
        const FileTypeEntry row = m_table.objectAtIndex(index.row());
        const QString key = kColumns.value(index.column());
        const QString stored = row.value(key).toString();
        if (key != QLatin1String("processor") && key != QLatin1String("viewer"))
            return role == Qt::DisplayRole ? QVariant(fileTypeCodeDisplayName(stored)) : QVariant();
        const FileTypeCodes::TypeHandling handling = FileTypeCodes::handlingForType(
            row.value(QStringLiteral("extension")).toString(), row.value(QStringLiteral("processor")).toString(),
            row.value(QStringLiteral("viewer")).toString());
        const QString done = key == QLatin1String("processor") ? QString::fromLatin1(handling.processor->code)
                                                               : QString::fromLatin1(handling.viewer->code);
        if (role == Qt::DisplayRole)
            return fileTypeCodeDisplayName(done == QLatin1String(kFileTypeNone) ? stored : done);
        if (!handling.asStill || done == stored)
            return {};
        return localized("The row names %1; these files are still pictures, which the program reads and shows "
                         "as pictures.")
            .arg(fileTypeCodeDisplayName(stored));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const QStringList titles = {localized("Extension"), localized("Description"), localized("Processed By"),
                                           localized("Viewer"), localized("Type")};
        return titles.value(section);
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

private:
    OVNExtensionMapping &m_table;
};

QWidget *OVNPreferencesWindow::makeFileTypesTab()
{
    auto *tab = new QWidget;
    auto *layout = new QVBoxLayout(tab);
    m_fileTypeModel = new OVNFileTypeTableModel(m_table, this);
    m_fileTypes = new QTableView(tab);
    m_fileTypes->setModel(m_fileTypeModel);
    // Rows are edited in the sheet, never in place.
    m_fileTypes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fileTypes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileTypes->setSelectionMode(QAbstractItemView::SingleSelection);
    m_fileTypes->verticalHeader()->hide();
    m_fileTypes->setWordWrap(false);
    m_fileTypes->verticalHeader()->setDefaultSectionSize(m_fileTypes->fontMetrics().height() + 6);
    m_fileTypes->horizontalHeader()->setStretchLastSection(true);
    m_fileTypes->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    connect(m_fileTypes, &QTableView::doubleClicked, this, [this] { editFileType(); });
    connect(m_fileTypes->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateFileTypeButtons(); });
    layout->addWidget(m_fileTypes);

    auto *buttons = new QHBoxLayout;
    m_ftAdd = new QPushButton(QStringLiteral("+"), tab);
    m_ftAdd->setToolTip(localized("Add a file type"));
    m_ftDelete = new QPushButton(QStringLiteral("\u2212"), tab);
    m_ftDelete->setToolTip(localized("Delete the selected file type"));
    m_ftUp = new QPushButton(localized("Up"), tab);
    m_ftDown = new QPushButton(localized("Down"), tab);
    auto *edit = new QPushButton(localized("Edit..."), tab);
    m_ftAction = new QToolButton(tab);
    m_ftAction->setText(localized("More"));
    m_ftAction->setPopupMode(QToolButton::InstantPopup);
    m_ftActionMenu = new QMenu(m_ftAction);
    m_ftActionMenu->addAction(localized("Duplicate"), this, [this] { duplicateFileType(); });
    m_ftActionMenu->addSeparator();
    m_ftActionMenu->addAction(localized("Reset to the Built-in Table"), this, [this] { resetFileTypes(false); });
    m_ftActionMenu->addAction(localized("Reset to the Older Built-in Table"), this, [this] { resetFileTypes(true); });
    m_ftAction->setMenu(m_ftActionMenu);
    connect(m_ftAdd, &QPushButton::clicked, this, [this] { addFileType(); });
    connect(m_ftDelete, &QPushButton::clicked, this, [this] { deleteFileType(); });
    connect(m_ftUp, &QPushButton::clicked, this, [this] { moveFileType(-1); });
    connect(m_ftDown, &QPushButton::clicked, this, [this] { moveFileType(1); });
    connect(edit, &QPushButton::clicked, this, [this] { editFileType(); });
    connect(m_fileTypes->selectionModel(), &QItemSelectionModel::selectionChanged, edit,
            [this, edit] { edit->setEnabled(selectedFileTypeRow() >= 0); });
    for (QWidget *button : std::initializer_list<QWidget *>{m_ftAdd, m_ftDelete, m_ftUp, m_ftDown, edit, m_ftAction})
        buttons->addWidget(button);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return tab;
}

void OVNPreferencesWindow::makeFileTypeSheet()
{
    m_sheet = new QDialog(this, Qt::Sheet);
    m_sheet->setWindowTitle(localized("File Type"));
    m_sheet->setWindowModality(Qt::WindowModal);
    auto *form = new QFormLayout(m_sheet);
    m_sheetDescription = new QLineEdit(m_sheet);
    m_sheetExtension = new QLineEdit(m_sheet);
    m_sheetExtension->setPlaceholderText(localized("such as jpg"));
    m_sheetTypeCode = new QLineEdit(m_sheet);
    m_sheetTypeCode->setPlaceholderText(localized("optional, up to four characters"));
    m_sheetProcessor = new QComboBox(m_sheet);
    // Every known code in the codes' own order: a processor by its code (the text is what is
    // stored), a viewer by its title.
    for (const ProcessorCode &processor : FileTypeCodes::processors())
        m_sheetProcessor->addItem(QString::fromLatin1(processor.code));
    m_sheetViewer = new QComboBox(m_sheet);
    for (const ViewerCode &viewer : FileTypeCodes::viewers()) {
        const QString code = QString::fromLatin1(viewer.code);
        m_sheetViewer->addItem(fileTypeCodeDisplayName(code), code);
    }
    m_sheetType = new QComboBox(m_sheet);
    m_sheetType->addItems(kTypes);
    m_sheetExif = new QCheckBox(localized("Read EXIF and XMP metadata"), m_sheet);
    m_sheetIptc = new QCheckBox(localized("Read IPTC metadata"), m_sheet);
    form->addRow(localized("Description:"), m_sheetDescription);
    form->addRow(localized("Extension:"), m_sheetExtension);
    form->addRow(localized("Type code:"), m_sheetTypeCode);
    form->addRow(localized("Processed by:"), m_sheetProcessor);
    form->addRow(localized("Viewer:"), m_sheetViewer);
    form->addRow(localized("Type:"), m_sheetType);
    form->addRow(QString(), m_sheetExif);
    form->addRow(QString(), m_sheetIptc);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, m_sheet);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { saveFileTypeSheet(); });
    connect(buttons, &QDialogButtonBox::rejected, m_sheet, &QDialog::reject);
    form->addRow(buttons);
}

QString OVNPreferencesWindow::normalizedExtension(const QString &typed)
{
    // Look-ups compare the lower-cased text after a file name's last dot.
    QString extension = typed.trimmed();
    const qsizetype dot = extension.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        extension = extension.mid(dot + 1);
    return extension.trimmed().toLower();
}

FileTypeEntry OVNPreferencesWindow::fileTypeFromSheet() const
{
    FileTypeEntry row;
    row.insert(QStringLiteral("extension"), normalizedExtension(m_sheetExtension->text()));
    row.insert(QStringLiteral("hfstype"), m_sheetTypeCode->text().trimmed());
    row.insert(QStringLiteral("description"), m_sheetDescription->text());
    row.insert(QStringLiteral("processor"), m_sheetProcessor->currentText());
    row.insert(QStringLiteral("viewer"), m_sheetViewer->currentData().toString());
    row.insert(QStringLiteral("type"), m_sheetType->currentText());
    row.insert(QStringLiteral("exif"), m_sheetExif->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    row.insert(QStringLiteral("iptc"), m_sheetIptc->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    return row;
}

void OVNPreferencesWindow::loadFileTypeSheet(const FileTypeEntry &row)
{
    m_sheetExtension->setText(row.value(QStringLiteral("extension")).toString());
    m_sheetTypeCode->setText(row.value(QStringLiteral("hfstype")).toString());
    m_sheetDescription->setText(row.value(QStringLiteral("description")).toString());
    // A stored value the pop-up has no item for leaves its selection as it is.
    const auto select = [](QComboBox *popUp, const QVariant &value) {
        int index = popUp->findData(value.toString());
        if (index < 0)
            index = popUp->findText(value.toString());
        if (index >= 0)
            popUp->setCurrentIndex(index);
    };
    select(m_sheetProcessor, row.value(QStringLiteral("processor")));
    select(m_sheetViewer, row.value(QStringLiteral("viewer")));
    select(m_sheetType, row.value(QStringLiteral("type")));
    m_sheetExif->setChecked(row.value(QStringLiteral("exif")).toString().trimmed().toInt() == 1);
    m_sheetIptc->setChecked(row.value(QStringLiteral("iptc")).toString().trimmed().toInt() == 1);
}

int OVNPreferencesWindow::selectedFileTypeRow() const
{
    const QModelIndexList rows = m_fileTypes->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void OVNPreferencesWindow::selectFileTypeRow(int row)
{
    if (row < 0 || row >= m_table.count()) {
        m_fileTypes->clearSelection();
    } else {
        m_fileTypes->selectRow(row);
        m_fileTypes->scrollTo(m_fileTypeModel->index(row, 0));
    }
    updateFileTypeButtons();
}

void OVNPreferencesWindow::updateFileTypeButtons()
{
    const int row = selectedFileTypeRow();
    m_ftDelete->setEnabled(row >= 0);
    m_ftAction->setEnabled(row >= 0);
    m_ftUp->setEnabled(row > 0);
    m_ftDown->setEnabled(row >= 0 && row < m_table.count() - 1);
}

void OVNPreferencesWindow::fileTypeTableChanged(bool written, int selectRow)
{
    m_fileTypeModel->reload();
    selectFileTypeRow(std::min(selectRow, m_table.count() - 1));
    if (!written)
        tell(localized("The file types could not be saved"), localized("Your preferences file could not be written."));
}

void OVNPreferencesWindow::addFileType()
{
    m_sheetContext = SheetContext::Add;
    m_sheetDescription->setText(localized("untitled"));
    m_sheetExtension->clear();
    m_sheetTypeCode->clear();
    m_sheetProcessor->setCurrentIndex(0);
    m_sheetViewer->setCurrentIndex(0);
    m_sheetExif->setChecked(false);
    m_sheetIptc->setChecked(false);
    m_sheet->open();
}

void OVNPreferencesWindow::editFileType()
{
    const int row = selectedFileTypeRow();
    if (row < 0) {
        QApplication::beep();
        return;
    }
    m_sheetContext = SheetContext::Edit;
    loadFileTypeSheet(m_table.objectAtIndex(row));
    m_sheet->open();
}

bool OVNPreferencesWindow::saveFileTypeSheet()
{
    if (m_sheetTypeCode->text().trimmed().size() > kMaximumTypeCodeLength) {
        tell(localized("The type code is too long"),
             localized("A type code has at most four characters. Leave it empty when the files have none."));
        return false;
    }
    const FileTypeEntry row = fileTypeFromSheet();
    m_sheet->accept();
    if (m_sheetContext == SheetContext::Add) {
        const bool written = m_table.addObject(row);
        fileTypeTableChanged(written, m_table.count() - 1);
    } else {
        const int selected = selectedFileTypeRow();
        if (selected < 0)
            return false;
        fileTypeTableChanged(m_table.replaceObjectAtIndex(selected, row), selected);
    }
    emit preferencesWritten();
    return true;
}

void OVNPreferencesWindow::duplicateFileType()
{
    const int row = selectedFileTypeRow();
    if (row < 0)
        return;
    fileTypeTableChanged(m_table.duplicateObjectAtIndex(row), row);
    emit preferencesWritten();
}

void OVNPreferencesWindow::deleteFileType()
{
    const int row = selectedFileTypeRow();
    if (row < 0 || !confirm(localized("Do you really want to delete the selected item?")))
        return;
    fileTypeTableChanged(m_table.deleteObjectAtIndex(row), row);
    emit preferencesWritten();
}

void OVNPreferencesWindow::moveFileType(int delta)
{
    const int row = selectedFileTypeRow();
    const int target = row + delta;
    if (row < 0 || target < 0 || target >= m_table.count())
        return;
    const FileTypeEntry moved = m_table.objectAtIndex(row);
    const FileTypeEntry other = m_table.objectAtIndex(target);
    bool written = m_table.replaceObjectAtIndex(row, other);
    written = m_table.replaceObjectAtIndex(target, moved) && written;
    fileTypeTableChanged(written, target);
    emit preferencesWritten();
}

void OVNPreferencesWindow::resetFileTypes(bool olderTable)
{
    const QString question =
        olderTable
            ? localized("Do you really want to reset the file types to the older built-in table, which reads most "
                        "camera RAW files with the built-in decoder?")
            : localized("Do you really want to reset the file types to the built-in table?");
    if (!confirm(question))
        return;
    const bool written = olderTable ? m_table.resetExtensionMapToMacOSX10_3() : m_table.resetExtensionMapToMacOSX10_4();
    fileTypeTableChanged(written, 0);
    emit preferencesWritten();
}
