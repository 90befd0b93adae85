// The find sheet over the catalog window, the search result bar (save as smart folder, edit) and
// the compiler of smart folders.

#include "app/OVNAssetManager.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNCategoryNodes.h"
#include "app/OVNSmartFolders.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNFind.h"
#include "search/OVNFindSheet.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QList<OVNSmartFolderSearch::Catalog> OVNAssetManager::findCatalogs() const
{
    return OVNCategoryNodes::searchCatalogs(m_internalCategoryList.value_or(QList<CategoryNode>()));
}

OVNFind OVNAssetManager::initFindWithSettings(const QVariantMap &settings) const
{
    OVNFind find;
    find.clearCatalogs();
    for (const OVNSmartFolderSearch::Catalog &catalog : findCatalogs())
        find.addCatalog(catalog.title, catalog.ids, catalog.kind);
    if (!settings.isEmpty())
        find.setSearchSettings(settings);
    return find;
}

void OVNAssetManager::buttonFindClick() { initFindSheetWithSettings(QVariantMap()); }

void OVNAssetManager::initFindSheetWithSettings(const QVariantMap &settings)
{
    if (m_findSheet && m_findSheet->isVisible())
        return; // one find sheet per window
    m_findSheet = new OVNFindSheet(initFindWithSettings(settings), this);
    m_findSheet->setAttribute(Qt::WA_DeleteOnClose);
    OVNFindSheet *sheet = m_findSheet;
    connect(sheet, &QDialog::finished, this, [this, sheet](int result) { findDidEnd(sheet, result); });
    sheet->open();
}

void OVNAssetManager::findDidEnd(OVNFindSheet *sheet, int returnCode)
{
    if (returnCode != QDialog::Accepted || !sheet)
        return;
    if (!selectedCategoryNodes().isEmpty()) {
        deselectAllCategories();
        m_state.mediaView->setMediaContainer(nullptr);
        m_state.mediaView->setMediaContainerMID(QString());
        m_state.mediaView->setMediaContainerType(QString());
    }
    const OVNFind &find = sheet->find();
    const QString statement = find.searchClause(
        m_state.dbcon && m_state.dbcon->vendor() == OVNDatabaseAccess::Vendor::PostgreSQL ? OVNFind::Dialect::PostgreSQL
                                                                                          : OVNFind::Dialect::SQLite);
    const QVariantMap settings = find.searchSettings();
    m_lastSearchSettings = settings;
    // An entry whose texts are too large for what the lines ask of each is left out of the find
    // and named, when the user may read it.
    QString leftOut;
    if (m_state.dbcon && !statement.isEmpty()) {
        const OVNDatabaseAccess::ReadOnlySearch checked = OVNExpressSearch::checkFieldSizes(*m_state.dbcon, find);
        if (checked.status != OVNDatabaseAccess::ReadOnlySearch::Status::Found) {
            reloadMediaListWithFind(QString());
            setStatus(checked.message, false);
            return;
        }
        leftOut = checked.leftOut;
    }
    reloadMediaListWithFind(statement);
    if (!leftOut.isEmpty())
        setStatus(leftOut, false);
}

void OVNAssetManager::tfFindSaveClick()
{
    if (m_lastSearchSettings.isEmpty() || m_saveSmartFolderWindow) {
        QApplication::beep();
        return;
    }
    auto *sheet = new QDialog(this);
    sheet->setObjectName(QStringLiteral("saveSmartFolderWindow_"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    auto *name = new QLineEdit(localized("SmartFolder"), sheet);
    name->setObjectName(QStringLiteral("saveSmartFolderName_"));
    name->selectAll();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, sheet);
    auto *layout = new QVBoxLayout(sheet);
    layout->addWidget(new QLabel(localized("Name of the smart folder:"), sheet));
    layout->addWidget(name);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    connect(sheet, &QDialog::accepted, this, [this, name] { saveSmartFolder(name->text()); });
    m_saveSmartFolderWindow = sheet;
    sheet->open();
}

QString OVNAssetManager::saveSmartFolder(const QString &name)
{
    if (m_lastSearchSettings.isEmpty() || name.trimmed().isEmpty() || !m_state.dbcon
        || !categoryActions().mayAddTopLevelCategory())
        return QString();
    QString mid;
    bool searchLost = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        mid = OVNSmartFolders::store(*m_state.dbcon, name, m_lastSearchSettings, *wait, &searchLost);
    }
    if (searchLost)
        Alerts::inform(localized("The smart folder could not be saved."),
                       localized("Its search could not be stored in the catalog. Please try again."), this);
    if (mid.isEmpty())
        return QString();
    postNotification(categoryListDidChangeNotification(), {{QStringLiteral("action"), QStringLiteral("add")}});
    return mid;
}

void OVNAssetManager::tfFindEditClick()
{
    if (m_lastSearchSettings.isEmpty()) {
        QApplication::beep();
        return;
    }
    initFindSheetWithSettings(m_lastSearchSettings);
}

OVNFindSheet *OVNAssetManager::findSheet() const { return m_findSheet; }

QDialog *OVNAssetManager::smartFolderNameSheet() const { return m_saveSmartFolderWindow; }
