#include "app/OVNCatalogWindowCategoryActions.h"

#include "app/OVNAssetManager.h"
#include "app/OVNCatalogWait.h"

#include "app/OVNCategoryComment.h"
#include "app/OVNCategoryMaintenance.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNEntryEdits.h"
#include "app/OVNOutlineView.h"
#include "app/OVNSmartAddPanel.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "import/OVNCumulusParser.h"
#include "import/OVNImportMedia.h"
#include "platform/Alert.h"
#include "uikit/OVNBGView.h"
#include "uikit/OVNPopUpButtonFooter.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"
#include "platform/CatalogNames.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QProgressDialog>
#include <QThread>
#include <QToolButton>

using Category = OVNCategoryMaintenance::Category;
using Action = OVNCatalogActions::Action;

namespace {
using CatalogNames::keyComment;
using CatalogNames::keyDisplayTag;
using CatalogNames::keyMid;
using CatalogNames::keyType;

QString deletionText(const QString &kind)
{
    if (kind == QLatin1String("M"))
        return localized("This will remove all images stored in this Surveillance Folder from Ostrevan's database. "
                         "This action cannot be undone.");
    if (kind == QLatin1String("F"))
        return localized("This will remove all images stored in this Folder (and any subfolders) from Ostrevan's "
                         "database. This action cannot be undone.");
    if (kind == QLatin1String("S"))
        return localized("This will only remove the selected Category Set. Your assets will still be available after "
                         "removing the Category Set. This action cannot be undone.");
    if (kind == QLatin1String("I"))
        return localized("This will only remove the selected Smart Folder. Your assets will still be available after "
                         "removing the Smart Folder. This action cannot be undone.");
    return localized("This will remove all images stored in this Collection from Ostrevan's database. This action "
                     "cannot be undone.");
}
} // namespace

OVNCatalogWindowCategoryActions::OVNCatalogWindowCategoryActions(OVNAssetManager &window, OVNCatalogWindowState &state)
    : QObject(&window),
      w(window),
      m_state(state)
{}

// ---- the items ----

void OVNCatalogWindowCategoryActions::setupCategoryActions()
{
    const auto command = [this](Action which, const char *title, std::function<void()> handler) {
        QAction *item = w.commands().addCommand(which, -1, localizedMenu(title));
        connect(item, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    };
    command(Action::RenameCatalog, "Rename...", [this] { buttonRenameCatalogClick(); });
    command(Action::DeleteCatalog, "Delete...", [this] { buttonDeleteCatalogClick(); });
    command(Action::AddFolder, "New Folder", [this] { buttonAddFolderClick(); });
    command(Action::AddCatalog, "New Collection", [this] { buttonAddCatalogClick(); });
    command(Action::AddImageSet, "New Category Set", [this] { buttonAddImageSetClick(); });
    command(Action::AddSurveillanceFolder, "New Surveillance Folder...",
            [this] { buttonAddSurveillanceFolderClick(); });
    command(Action::RescanSurveillanceFolder, "Re-Scan Surveillance Folder",
            [this] { buttonRescanSurveillanceFolderClick(); });
    command(Action::RevealInFinder, "Reveal in File Manager", [this] { buttonRevealInFinderClick(); });
    command(Action::AddSmart, "Smart Add...", [this] { buttonAddSmartClick(); });
    command(Action::ImportCumulus, "Import Record Export...", [this] { buttonImportCumulusClick(); });
    if (m_state.topviewsurveillance) {
        auto *rescan = new QToolButton(m_state.topviewsurveillance);
        rescan->setDefaultAction(w.action(Action::RescanSurveillanceFolder));
        rescan->setText(localized("Re-Scan"));
        m_state.topviewsurveillance->layout()->addWidget(rescan);
    }
}

std::unique_ptr<QMenu> OVNCatalogWindowCategoryActions::menuForContextButton(QAbstractButton *button)
{
    w.refreshActions();
    auto menu = std::make_unique<QMenu>();
    if (button && button == m_state.footerButtonAction)
        menu->addAction(localizedMenu("Action"))->setEnabled(false);
    // The View menu's "Reload Category List", under the category menu's own title.
    QAction *reload = w.action(Action::ReloadCatalogList);
    QAction *reloadDatabase = menu->addAction(localizedMenu("Reload Database"), reload, &QAction::trigger);
    reloadDatabase->setEnabled(reload->isEnabled());
    menu->addSeparator();
    menu->addAction(w.action(Action::RenameCatalog));
    menu->addAction(w.action(Action::DeleteCatalog));
    menu->addSeparator();
    menu->addAction(w.action(Action::AddSmart));
    menu->addSeparator();
    for (Action which : {Action::AddFolder, Action::AddCatalog, Action::AddImageSet, Action::AddSurveillanceFolder})
        menu->addAction(w.action(which));
    // Smart folders are made from a search: the item opens the find sheet.
    QAction *smartFolder = menu->addAction(localizedMenu("New Smart Folder..."));
    connect(smartFolder, &QAction::triggered, &w, &OVNAssetManager::buttonFindClick);
    smartFolder->setEnabled(w.action(Action::Find)->isEnabled());
    menu->addSeparator();
    QAction *privileges = menu->addAction(localizedMenu("Access Privileges..."));
    connect(privileges, &QAction::triggered, &w, &OVNAssetManager::menuAccessPrivileges);
    privileges->setEnabled(w.selectedCategory().has_value());
    return menu;
}

// ---- new categories ----

bool OVNCatalogWindowCategoryActions::mayAddTopLevelCategory()
{
    // The top level is the Database item's: every member of a group may add there, as the tools
    // let him, and nobody once he is in no group (asked now, said in an alert).
    return w.isUserAuthorizedNow(OVNPrivilegeLevel::readWrite(), QString());
}

QString OVNCatalogWindowCategoryActions::addTopLevelCategory(const QString &kind, const QString &name)
{
    if (!m_state.dbcon)
        return QString();
    if (name.trimmed().isEmpty()) {
        QApplication::beep();
        return QString();
    }
    if (!mayAddTopLevelCategory())
        return QString();
    // Through sessions that end and a server away for a while, made once.
    QString mid;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        OVNEntryEdits edits(m_state.dbcon.get());
        edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
        // The top level is the Database item's: a member of a group, asked again with each try.
        bool refused = false;
        mid = edits.addTopLevelCategory(name, kind,
                                        w.levelCheckInTransaction(OVNPrivilegeLevel::readWrite(), QString()), &refused);
        if (refused)
            return QString();
    }
    if (mid.isEmpty()) {
        Alerts::inform(localized("The category could not be created."), m_state.dbcon->getLastErrorMessage(), &w);
        return QString();
    }
    return mid;
}

QString OVNCatalogWindowCategoryActions::buttonAddFolderClick()
{
    const QString mid = addTopLevelCategory(QStringLiteral("F"), localized("untitled"));
    if (!mid.isEmpty())
        w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                           {{QStringLiteral("action"), QStringLiteral("add")}});
    return mid;
}

QString OVNCatalogWindowCategoryActions::buttonAddCatalogClick(const QString &name)
{
    const QString mid = addTopLevelCategory(QStringLiteral("C"), name.isEmpty() ? localized("untitled") : name);
    if (!mid.isEmpty())
        w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                           {{QStringLiteral("action"), QStringLiteral("add")}});
    return mid;
}

QString OVNCatalogWindowCategoryActions::buttonAddImageSetClick()
{
    const QString mid = addTopLevelCategory(QStringLiteral("S"), localized("untitled"));
    if (!mid.isEmpty())
        w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                           {{QStringLiteral("action"), QStringLiteral("add")}});
    return mid;
}

void OVNCatalogWindowCategoryActions::buttonAddSurveillanceFolderClick()
{
    auto *panel =
        new QFileDialog(&w, localized("Select the Folder that will be monitored for changes."), QDir::homePath());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, localized("Add Folder"));
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList &paths) {
        if (paths.size() == 1)
            addSurveillanceFolder(paths.first());
    });
    panel->open();
}

QString OVNCatalogWindowCategoryActions::addSurveillanceFolder(const QString &path)
{
    if (!m_state.dbcon)
        return QString();
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const OVNCategoryMaintenance::FolderState state = OVNCategoryMaintenance::watchedFolderState(folder);
    if (state != OVNCategoryMaintenance::FolderState::Usable) {
        Alerts::inform(localized("The folder cannot be watched."), OVNCategoryMaintenance::refusalText(state, folder),
                       &w);
        return QString();
    }
    QString name = QFileInfo(folder).fileName();
    if (name.isEmpty())
        name = folder;
    const QString mid = addTopLevelCategory(QStringLiteral("M"), name);
    if (mid.isEmpty())
        return QString();
    const QString comment = OVNCategoryComment::textForm({{QStringLiteral("SURVEILLANCEFOLDER"), folder}});
    // Setting the comment is the same however often it is done: it goes again on a new session
    // while sessions end, so that the folder goes only when the catalog does not hold its comment.
    bool stored = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        stored = OVNCatalogOpening::retried(
                     *m_state.dbcon, [&] { stored = m_state.dbcon->updateCategoryListComment(mid, comment); },
                     wait->status(), wait->secondsLeft())
                 && stored;
    }
    if (!stored) {
        // A surveillance folder that does not know its folder is of no use: it goes again.
        const QString message = m_state.dbcon->getLastErrorMessage();
        m_state.dbcon->deleteCategoryListEntry(mid);
        Alerts::inform(localized("The surveillance folder could not be created."), message, &w);
        return QString();
    }
    w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                       {{QStringLiteral("action"), QStringLiteral("add")}});
    w.importFiles({folder}, mid);
    return mid;
}

// ---- renaming ----

void OVNCatalogWindowCategoryActions::buttonRenameCatalogClick()
{
    const std::optional<CategoryNode> node = w.selectedCategory();
    if (!node) {
        QApplication::beep();
        return;
    }
    // The Database item keeps its name.
    if (!node->contains(keyMid) || node->value(keyType).toString() == QLatin1String("EXPANDABLE"))
        return;
    if (!w.isUserAuthorizedNow(OVNPrivilegeLevel::fullAccess(), node))
        return;
    OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(node->value(keyMid).toString());
    if (item)
        m_state.categoryList->edit(m_state.categoryModel->indexForItem(item, 0));
}

// ---- deleting ----

void OVNCatalogWindowCategoryActions::buttonDeleteCatalogClick()
{
    const std::optional<CategoryNode> node = w.selectedCategory();
    if (!node) {
        QApplication::beep();
        return;
    }
    deleteCategory(*node);
}

bool OVNCatalogWindowCategoryActions::deleteCategory(const CategoryNode &node)
{
    if (!m_state.dbcon || m_state.maintenanceRunning || !node.contains(keyMid)
        || node.value(keyType).toString() == QLatin1String("EXPANDABLE"))
        return false;
    if (!w.isUserAuthorizedNow(OVNPrivilegeLevel::fullAccess(), node))
        return false;
    Category root{node.value(keyMid).toString(), node.value(keyType).toString(), node.value(keyDisplayTag).toString(),
                  w.getMyPrivilegesForItem(node)};
    if (root.kind.isEmpty())
        root.kind = QStringLiteral("C");
    // Read whole through sessions that end: a subtree read in part would leave what it missed.
    QList<Category> bottomUp;
    bool counted = false;
    qint64 entries = 0;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        const bool read = OVNCatalogOpening::retried(
            *m_state.dbcon,
            [&] {
                bottomUp = OVNCategoryMaintenance::subtreeBottomUp(*m_state.dbcon, root);
                counted = bottomUp.size() == 1 && root.kind != QLatin1String("I");
                entries = counted ? m_state.dbcon->getEntryCountForCategory(root.mid, root.kind) : 0;
            },
            wait->status(), wait->secondsLeft());
        if (!read) {
            wait->end();
            Alerts::inform(localized("\"%1\" could not be deleted. Nothing was removed.").arg(root.name),
                           m_state.dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable
                               ? localized("The catalog server cannot be reached.")
                               : m_state.dbcon->getLastErrorMessage(),
                           &w);
            return false;
        }
    }
    // Everything that goes needs "FULL ACCESS", not only the category clicked.
    if (const std::optional<Category> below = OVNCategoryMaintenance::firstUndeletable(bottomUp, root.mid)) {
        Alerts::inform(localized("Authorization Failed"),
                       localized("\"%1\" inside it may not be deleted.\n\n").arg(below->name)
                           + w.authorizationMessage(OVNPrivilegeLevel::fullAccess(), below->level),
                       &w);
        return false;
    }
    const bool empty = counted && entries == 0;
    if (!empty) {
        Alert alert;
        alert.message = localized("Do you really want to delete \"%1\"?").arg(root.name);
        alert.informativeText = deletionText(root.kind);
        alert.buttons = {localized("Delete"), localized("Cancel")};
        alert.modality = Alert::Modality::Window;
        alert.window = &w;
        if (Alerts::run(alert) != 0)
            return false;
    }
    QStringList deleted;
    for (const Category &category : bottomUp)
        deleted.append(category.mid);
    const QString title = root.kind == QLatin1String("F")   ? localized("Removing Folder")
                          : root.kind == QLatin1String("M") ? localized("Removing Surveillance Folder")
                                                            : localized("Removing Category");
    runMaintenance(
        title,
        [bottomUp](OVNDatabaseAccess *db, Progress progress, Waiting waiting) -> QVariant {
            QString error;
            // The worker's connection is the window's user's: each category's level is asked
            // again within the deletion's transaction.
            if (OVNCategoryMaintenance::deleteCategories(*db, bottomUp, &error, progress,
                                                         OVNCategoryMaintenance::Check::LevelNow, waiting))
                return QString();
            return error.isEmpty() ? QStringLiteral("the catalog refused it") : error;
        },
        [this, deleted, name = root.name](const QVariant &answer) {
            const QString failure = answer.toString();
            if (failure.isEmpty()) {
                w.deselectAllCategories();
                w.reloadCategoryList();
                w.postNotification(
                    OVNAssetManager::categoryListDidChangeNotification(),
                    {{QStringLiteral("action"), QStringLiteral("delete")}, {QStringLiteral("deleted"), deleted}});
            } else {
                Alerts::inform(localized("\"%1\" could not be deleted. Nothing was removed.").arg(name), failure, &w);
            }
            emit w.deletionFinished(failure);
        });
    return true;
}

void OVNCatalogWindowCategoryActions::runMaintenance(
    const QString &title, std::function<QVariant(OVNDatabaseAccess *, Progress, Waiting)> work,
    std::function<void(const QVariant &)> done, WorkerConnection connection)
{
    m_state.maintenanceRunning = true;
    auto *progress = new QProgressDialog(title, QString(), 0, 0, &w);
    progress->setWindowModality(Qt::WindowModal);
    progress->setCancelButton(nullptr);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setLabelText(localized("Pre-Processing entries..."));
    progress->show();
    const QPointer<QProgressDialog> guardedProgress = progress;
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_state.dbcon;
    // While the work waits for the catalog server: the status line's text before (on the main
    // thread only), given back when the work goes on or ends.
    auto waitedOver = std::make_shared<std::optional<QString>>();
    const auto endWait = [this, waitedOver] {
        if (!*waitedOver)
            return;
        w.setStatus(**waitedOver, false);
        waitedOver->reset();
    };
    QThread *thread = QThread::create([this, windowConnection, connection, guardedProgress, waitedOver, endWait,
                                       work = std::move(work), done = std::move(done)] {
        QVariant answer = QStringLiteral("could not open a connection to the catalog");
        std::unique_ptr<OVNDatabaseAccess> own;
        if (connection == WorkerConnection::Own)
            own = windowConnection->openSiblingConnection();
        if (connection == WorkerConnection::None || (own && own->isDBConnectionActive())) {
            const auto progress = [this, guardedProgress, waitedOver, endWait](int step, int total) {
                QMetaObject::invokeMethod(
                    this,
                    [guardedProgress, waitedOver, endWait, step, total] {
                        if (!guardedProgress)
                            return;
                        if (guardedProgress->maximum() != total || *waitedOver) {
                            guardedProgress->setLabelText(localized("Removing entries..."));
                            guardedProgress->setRange(0, total);
                        }
                        endWait();
                        guardedProgress->setValue(step);
                    },
                    Qt::QueuedConnection);
            };
            const auto waiting = [this, guardedProgress, waitedOver](const QString &text) {
                QMetaObject::invokeMethod(
                    this,
                    [this, guardedProgress, waitedOver, text] {
                        if (guardedProgress)
                            guardedProgress->setLabelText(text);
                        if (!*waitedOver)
                            *waitedOver = w.statusText();
                        w.setStatus(text, true);
                    },
                    Qt::QueuedConnection);
            };
            answer = work(own.get(), progress, waiting);
        }
        QMetaObject::invokeMethod(
            this,
            [this, guardedProgress, answer, done, endWait] {
                endWait();
                // A modal progress dialog handles events inside setValue(): never delete it under it.
                if (guardedProgress) {
                    guardedProgress->hide();
                    guardedProgress->deleteLater();
                }
                m_state.maintenanceRunning = false;
                done(answer);
            },
            Qt::QueuedConnection);
    });
    m_state.maintenanceThread = thread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

// ---- revealing ----

void OVNCatalogWindowCategoryActions::buttonRevealInFinderClick()
{
    if (!m_state.mediaView)
        return;
    MediaList records;
    for (int row : m_state.mediaView->selectedRows())
        records.append(m_state.mediaView->objectForRow(row));
    // The file manager shows the files to whoever sits at the screen: only entries the user may
    // still read, asked now (the others are named in one alert).
    QStringList paths;
    if (!records.isEmpty()) {
        for (const MediaRecordRef &record : w.readableForOutput(records).value_or(MediaList()))
            paths.append(record->field(MediaRecord::AbsolutePath));
    }
    paths.removeAll(QString());
    if (paths.isEmpty())
        QApplication::beep();
    else
        Workspace::revealFiles(paths, &w);
}

// ---- smart import ----

// Files and folders filed into new collections inside a new folder named after what was added.
OVNSmartAddPanel *OVNCatalogWindowCategoryActions::buttonAddSmartClick()
{
    if (!m_state.dbcon) {
        QApplication::beep();
        return nullptr;
    }
    auto *panel = new OVNSmartAddPanel(&w);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QDialog::accepted, this,
            [this, panel] { buttonAddSmartClickEndSheet(panel->chosen(), panel->changes()); });
    panel->open();
    return panel;
}

QString OVNCatalogWindowCategoryActions::smartAddFolderName(const QStringList &paths)
{
    const QFileInfo first(QDir::cleanPath(paths.value(0)));
    if (!paths.isEmpty() && first.isDir() && !first.fileName().isEmpty())
        return first.fileName();
    return localized("Smart Add");
}

QString OVNCatalogWindowCategoryActions::buttonAddSmartClickEndSheet(const QStringList &paths,
                                                                     const AnnotationChanges &changes)
{
    if (paths.isEmpty() || !m_state.dbcon || !mayAddTopLevelCategory())
        return QString();
    w.deselectAllCategories();
    const QString folderId = m_state.dbcon->addCategoryListEntry(smartAddFolderName(paths), QStringLiteral("F"));
    const QString failure = folderId.isEmpty() ? m_state.dbcon->getLastErrorMessage() : QString();
    w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                       {{QStringLiteral("action"), QStringLiteral("add")}});
    if (folderId.isEmpty()) {
        Alerts::inform(localized("The folder for the files could not be created."), failure, &w);
        return QString();
    }
    // Open, so that its collections show as the import makes them.
    w.setCategoryExpanded(folderId, true);
    startSmartImport(paths, folderId, changes);
    return folderId;
}

void OVNCatalogWindowCategoryActions::startSmartImport(const QStringList &paths, const QString &folderId,
                                                       const AnnotationChanges &changes)
{
    QVariantList files;
    for (const QString &path : paths)
        files.append(path);
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_state.dbcon;
    auto *import = new OVNImportMedia(&w);
    const auto ownConnection = [windowConnection] { return windowConnection->openSiblingConnection(); };
    import->setConnectionMaker(ownConnection);
    if (!changes.isEmpty()) {
        const auto values = [](const QMap<QString, QString> &fields) {
            QVariantMap map;
            for (auto it = fields.cbegin(); it != fields.cend(); ++it)
                map.insert(it.key(), it.value());
            return map;
        };
        import->activatePrefillWithMediaInfo(values(changes.info), values(changes.purchased), values(changes.sold),
                                             changes.keywordsAddFilename, changes.keywordsParseFolders,
                                             changes.shortDescriptionAddFilename, changes.shortDescriptionParseFolders);
    }
    m_state.trackImportDidFinish = true;
    import->processFilesSmart(files, folderId, &w);
}

// ---- record export ----

void OVNCatalogWindowCategoryActions::buttonImportCumulusClick()
{
    if (!m_state.dbcon) {
        QApplication::beep();
        return;
    }
    auto *panel = new QFileDialog(&w, localized("Import Record Export"), QDir::homePath());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilter(localized("Record Exports (*.cre)"));
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList &paths) {
        if (paths.size() != 1) {
            QApplication::beep();
            return;
        }
        importRecordExport(paths.first());
    });
    panel->open();
}

QString OVNCatalogWindowCategoryActions::importRecordExport(const QString &path)
{
    if (!m_state.dbcon)
        return QString();
    // Refused files make no collection.
    const OVNCumulusParser::Parsed parsed = OVNCumulusParser::readFile(path);
    if (parsed.refused()) {
        Alerts::display(parsed.errorTitle, parsed.errorMessage, &w);
        return QString();
    }
    if (!mayAddTopLevelCategory())
        return QString();
    const QString categoryId = m_state.dbcon->addCategoryListEntry(QFileInfo(path).fileName(), QStringLiteral("C"));
    if (categoryId.isEmpty()) {
        Alerts::display(localized("The collection could not be made."), m_state.dbcon->getLastErrorMessage(), &w);
        return QString();
    }
    // From this window: the tree is rebuilt with the new collection in it.
    w.deselectAllCategories();
    w.postNotification(OVNAssetManager::categoryListDidChangeNotification(),
                       {{QStringLiteral("action"), QStringLiteral("add")}});
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_state.dbcon;
    auto *import = new OVNImportMedia(&w);
    const auto ownConnection = [windowConnection] { return windowConnection->openSiblingConnection(); };
    import->setConnectionMaker(ownConnection);
    import->setSkippedItems(parsed.failed);
    import->setShowsResultSheet(true);
    m_state.trackImportDidFinish = true;
    import->processFiles(parsed.items, categoryId, &w);
    return categoryId;
}
