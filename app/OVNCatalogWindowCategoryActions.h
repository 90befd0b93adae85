#pragma once

#include "browser/OVNAnnotationChanges.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "uikit/OVNContextButtonTarget.h"

#include <QObject>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

class OVNAssetManager;
struct OVNCatalogWindowState;
class OVNSmartAddPanel;
class QMenu;

// The catalog window's category actions: new categories, renaming, deleting a category with
// everything below it, surveillance folders and their re-scan, smart add, record exports, and the
// category menu of the outline and the footer's action button. Owned by the window; acts on the
// tree and connection of the state the window hands it, and through the window's public methods.
class OVNCatalogWindowCategoryActions
    : public QObject
    , public OVNContextButtonTarget
{
    Q_OBJECT

public:
    OVNCatalogWindowCategoryActions(OVNAssetManager &window, OVNCatalogWindowState &state);

    // Makes the category items (among the window's commands) and the re-scan button.
    void setupCategoryActions();
    // The category actions menu; `button` is the pressed context button, none for the outline.
    // The footer's action button pulls it down under its title item "Action".
    std::unique_ptr<QMenu> menuForContextButton(QAbstractButton *button) override;

    // Edits the selected category's name in place ("FULL ACCESS"; never the Database item).
    void buttonRenameCatalogClick();
    // A new folder, collection or category set named "untitled" (the collection: `name` when given)
    // at the top level; its id, or "" when the catalog refused it (said in an alert).
    QString buttonAddFolderClick();
    QString buttonAddCatalogClick(const QString &name = QString());
    QString buttonAddImageSetClick();
    // Asks for a disk folder, then addSurveillanceFolder().
    void buttonAddSurveillanceFolderClick();
    // A surveillance folder watching `path`, named after it, with the folder's import started;
    // "" when the folder cannot be watched or the catalog refused (said in an alert).
    QString addSurveillanceFolder(const QString &path);
    // Deletes the selected category with everything below it, after asking unless it is empty.
    void buttonDeleteCatalogClick();
    // The same for a given category; false when nothing was started (refused, cancelled).
    bool deleteCategory(const CategoryNode &node);
    // Re-scans the selected surveillance folder against its disk folder.
    void buttonRescanSurveillanceFolderClick();
    bool rescanSurveillanceFolder(const CategoryNode &node);
    // Re-processes the files of these entries of the category (thumbnail, orientation, import
    // date) on an import of its own over its own connection. Needs "READ & WRITE".
    void reimport(const QStringList &mediaIds, const QString &categoryId);
    // Reveals the selected thumbnails' files in the file manager.
    void buttonRevealInFinderClick();
    // Smart add: opens its panel window-modal (none without a catalog), then
    // buttonAddSmartClickEndSheet() with the choice and what was filled in the panel's pane.
    OVNSmartAddPanel *buttonAddSmartClick();
    // Makes a folder named after the first path (when it is a folder, else "Smart Add") at the top
    // level and smart-imports the paths into it, every entry given `changes`; the new folder's id,
    // "" when none was made.
    QString buttonAddSmartClickEndSheet(const QStringList &paths, const AnnotationChanges &changes = {});
    static QString smartAddFolderName(const QStringList &paths);
    // Asks for one record export (".cre" files offered first), then importRecordExport().
    void buttonImportCumulusClick();
    // Imports the files of the record export at `path` into a new collection named after the file, with
    // the import sheet and, at the end, the result sheet; answers the collection's id ("" when the
    // export is refused or the collection cannot be made).
    QString importRecordExport(const QString &path);

    // Whether the user may add a category at the top level now (any member of a group); says why not.
    bool mayAddTopLevelCategory();

private:
    QString addTopLevelCategory(const QString &kind, const QString &name);
    void startSmartImport(const QStringList &paths, const QString &folderId, const AnnotationChanges &changes);
    // Runs `work` on a thread of its own with a connection of its own (none when the work needs
    // none), behind a window-modal progress dialog; `done` gets its answer on the main thread.
    // The work tells its progress (done, total) and its waits for the catalog server, which the
    // progress dialog and the window's status line show until the work goes on.
    enum class WorkerConnection { Own, None };
    using Progress = std::function<void(int, int)>;
    using Waiting = std::function<void(const QString &)>;
    void runMaintenance(const QString &title, std::function<QVariant(OVNDatabaseAccess *, Progress, Waiting)> work,
                        std::function<void(const QVariant &)> done,
                        WorkerConnection connection = WorkerConnection::Own);
    void reimportRecords(const QVariantList &records, const QString &categoryId);
    void removeMissingAndImport(const QString &folderId, const QVariantList &missing, const QStringList &newFiles,
                                const QVariantList &changed);

    OVNAssetManager &w;
    OVNCatalogWindowState &m_state; // the window's, shared with it
};
