// The find sheet over the catalog window, the search result bar (save as smart folder, edit) and
// the compiler of smart folders.

#include "app/OVNAssetManager.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNCategoryComment.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNFind.h"
#include "search/OVNFindSheet.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using CatalogNames::keyDisplayTag;
using CatalogNames::keyMid;
using CatalogNames::keyType;

// The find model's compiler behind the smart-folder interface.
class FindSmartFolderSearch : public OVNSmartFolderSearch
{
public:
    QString searchClause(const QVariantMap &settings, const QList<Catalog> &catalogs, bool onServer,
                         QString *refusal) const override
    {
        OVNFind find;
        for (const Catalog &catalog : catalogs)
            find.addCatalog(catalog.title, catalog.ids);
        find.setSearchSettings(settings);
        const QString why = find.refusal();
        if (!why.isEmpty()) {
            if (refusal)
                *refusal = localized("The smart folder's search cannot run. %1").arg(why);
            return QString();
        }
        return find.searchClause(onServer ? OVNFind::Dialect::PostgreSQL : OVNFind::Dialect::SQLite);
    }
};

} // namespace

std::shared_ptr<const OVNSmartFolderSearch> OVNAssetManager::builtInSmartFolderSearch()
{
    static const auto search = std::make_shared<const FindSmartFolderSearch>();
    return search;
}

QStringList OVNAssetManager::subcategoriesForItem(const CategoryNode &node)
{
    QStringList ids{node.value(keyMid).toString()};
    for (const QVariant &child : node.value(QStringLiteral("folderitems")).toList())
        ids << subcategoriesForItem(child.toMap());
    return ids;
}

QList<OVNSmartFolderSearch::Catalog> OVNAssetManager::findCatalogs() const
{
    QList<OVNSmartFolderSearch::Catalog> catalogs{{localized("All Entries"), {}}};
    for (const CategoryNode &node : m_internalCategoryList.value_or(QList<CategoryNode>())) {
        const QString kind = node.value(keyType).toString();
        if (!node.contains(keyDisplayTag) || kind.isEmpty() || kind == QLatin1String("I"))
            continue;
        catalogs.append({node.value(keyDisplayTag).toString(), subcategoriesForItem(node), kind});
    }
    return catalogs;
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
    const QString mid = m_state.dbcon->addCategoryListEntry(name, QStringLiteral("I"));
    if (mid.isEmpty())
        return QString();
    // Setting the search is the same however often it is done: it goes again on a new session while
    // sessions end, so that the folder goes only when the catalog does not hold its search.
    const QString comment = OVNCategoryComment::textForm(m_lastSearchSettings);
    bool stored = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        stored = OVNCatalogOpening::retried(
                     *m_state.dbcon, [&] { stored = m_state.dbcon->updateCategoryListComment(mid, comment); },
                     wait->status(), wait->secondsLeft())
                 && stored;
    }
    if (!stored) {
        // A smart folder without its search would only ever show nothing.
        m_state.dbcon->deleteCategoryListEntry(mid);
        Alerts::inform(localized("The smart folder could not be saved."),
                       localized("Its search could not be stored in the catalog. Please try again."), this);
        return QString();
    }
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
