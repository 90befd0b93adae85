// What a catalog window shows when imports end: new categories in the outline with their counts,
// the category the files went to selected, and count badges that follow their category.
#include "CatalogWindowFixture.h"
#include "tests/support/TestEnvironment.h"

#include "app/OVNCategoryTreeModel.h"
#include "app/OVNOutlineView.h"
#include "app/OVNSmartAddPanel.h"
#include "browser/OVNMediaDetails.h"
#include "import/OVNImportMedia.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

class ImportResultsTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        for (const char *key : {"ShowCountOnFilmRolls", "ShowCountOnLightTables", "LightTableShowThumbnails"})
            UserDefaults::standard().setBool(true, key);
        studio = category("Studio", "C");
        studio1 = entry(studio, "studio-1");
    }
    void TearDown() override
    {
        for (const char *key : {"ShowCountOnFilmRolls", "ShowCountOnLightTables", "LightTableShowThumbnails"})
            UserDefaults::standard().removeObjectForKey(key);
        UserDefaults::standard().removeObjectForKey("DatabaseShowThumbnails");
        tearDownWithAlerts();
    }

    OVNAssetManager *openWindow()
    {
        OVNAssetManager *window = loadWindow();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window, waitCeilingMs));
        return window;
    }

    // The rows the outline shows, indented two spaces per level, with their counts.
    static QStringList shownRows(OVNAssetManager *window)
    {
        QStringList rows;
        const OVNCategoryTreeModel *model = window->categoryModel();
        std::function<void(const QModelIndex &, int)> walk = [&](const QModelIndex &parent, int depth) {
            for (int row = 0; row < model->rowCount(parent); ++row) {
                const QModelIndex name = model->index(row, 0, parent);
                const QString count = model->data(model->index(row, 1, parent)).toString();
                rows.append(QString(depth * 2, ' ') + model->data(name).toString()
                            + (count.isEmpty() ? QString() : ' ' + count));
                if (window->categoryList()->isExpanded(name))
                    walk(name, depth + 1);
            }
        };
        walk(QModelIndex(), 0);
        return rows;
    }

    // What the thumbnail view says while it is empty.
    static QString hint(OVNAssetManager *window)
    {
        return window->mediaView()->showEmptySetMessage() ? window->mediaView()->emptySetMessage() : QString();
    }

    static void waitForImport(OVNAssetManager *window)
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->findChildren<OVNImportMedia *>().isEmpty(), 30000);
    }

    static void picture(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        ASSERT_TRUE(image.save(path, "JPEG"));
    }

    QString studio, studio1;
};

TEST_P(ImportResultsTest, SmartAddShowsItsFolderAndCollectionsAtOnceAndSelectsWhereTheFilesWent)
{
    struct Case {
        const char *name;
        QStringList files; // made below the temporary folder
        QStringList added; // what is smart-added, below the temporary folder
        QStringList rows;  // the outline afterwards
        const char *selected;
        int shown; // thumbnails of the selected category
    };
    // In this order: the second starts from the catalog the first left.
    const QList<Case> cases{
        {"a folder with loose files and two sub-folders",
         {"Holiday/a.jpg", "Holiday/b.jpg", "Holiday/Beach/c.jpg", "Holiday/Hills/d.jpg"},
         {"Holiday"},
         // The folder's own files go into a collection named after it.
         {"Database", "  Holiday 3", "    Holiday 2", "    Beach 1", "    Hills 1", "  Studio 1"},
         "Holiday",
         4},
        {"loose files",
         {"x.jpg", "y.jpg"},
         {"x.jpg", "y.jpg"},
         // The first case's folder stays, closed in a new window. The loose files' collection is
         // named after their folder (the test's own, "%dir").
         {"Database", "  Holiday 3", "  Smart Add 1", "    %dir 2", "  Studio 1"},
         "%dir",
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        for (const QString &file : c.files)
            picture(dir.filePath(file));
        QStringList paths;
        for (const QString &path : c.added)
            paths.append(dir.filePath(path));

        OVNAssetManager *window = openWindow();
        OVNAssetManager *other = openWindow();
        ASSERT_TRUE(window->selectCategory(studio));
        ASSERT_TRUE(other->selectCategory(studio));
        const QString folder = window->categoryActions().buttonAddSmartClickEndSheet(paths);
        ASSERT_FALSE(folder.isEmpty());
        waitForImport(window);

        const QString dirName = QFileInfo(dir.path()).fileName();
        QStringList rows = c.rows;
        rows.replaceInStrings("%dir", dirName);
        EXPECT_EQ(shownRows(window), rows);
        ASSERT_TRUE(window->selectedCategory().has_value());
        EXPECT_EQ(window->selectedCategory()->value("displaytag").toString(),
                  QString::fromLatin1(c.selected).replace("%dir", dirName));
        EXPECT_EQ(window->mediaView()->count(), c.shown);
        // Another window keeps what its user chose.
        EXPECT_EQ(other->selectedCategory()->value("mid").toString(), studio);
        EXPECT_TRUE(presenter->shown().isEmpty());
        closeWindows();
    }
}

// What the user fills in on the smart add panel's pane reaches every entry the smart add makes,
// in each collection it files them into: typed texts (the last one still being typed when the
// panel ends), the licence pop-ups, the release box and the keywords' file-name choice.
TEST_P(ImportResultsTest, SmartAddGivesEveryEntryWhatItsPaneWasFilledWith)
{
    QTemporaryDir dir;
    for (const char *file : {"Trip/a.jpg", "Trip/b.jpg", "Trip/Harbour/c.jpg"})
        picture(dir.filePath(file));
    const QString earlierKeywords = db.getMediaListEntryForMediaID(studio1, "keywords");
    OVNAssetManager *window = openWindow();
    QPointer<OVNSmartAddPanel> panel = window->categoryActions().buttonAddSmartClick();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    OVNMediaDetails *pane = panel->pane().view();
    EXPECT_TRUE(panel->isAncestorOf(pane));
    EXPECT_TRUE(pane->autoFillMode());

    using Store = OVNMediaDetails::Store;
    struct Field {
        Store store;
        const char *key;
        const char *typed;    // into a text field; a pop-up's item index; "1" for a check box
        const char *expected; // per entry; "%1" stands for the file's name without extension
    };
    const QList<Field> fields{
        {Store::Annotation, "keywords", "Harbour at dusk", "Harbour at dusk %1"},
        {Store::Annotation, "shortdesc", "boats", "boats"},
        {Store::Annotation, "fulldesc", "Evening light over the quay", "Evening light over the quay"},
        {Store::Annotation, "modrelavailable", "1", "1"},
        {Store::Annotation, "modrelinfo", "signed in May", "signed in May"},
        {Store::Purchased, "licensetype", "1", "1"},
        {Store::Purchased, "owner", "Ann Example", "Ann Example"},
        {Store::Purchased, "photographer", "Bo", "Bo"},
        {Store::Sold, "licensetype", "2", "2"},
        {Store::Sold, "customer", "Harbour Office", "Harbour Office"},
        {Store::Sold, "licenserestrictions", "web only", "web only"},
    };
    for (const Field &field : fields) {
        QWidget *control = pane->showField(field.store, field.key);
        ASSERT_NE(control, nullptr) << field.key;
        EXPECT_TRUE(control->isEnabled()) << field.key;
        if (auto *text = qobject_cast<QLineEdit *>(control)) {
            text->setFocus();
            for (const QChar c : QString::fromUtf8(field.typed)) {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QCoreApplication::sendEvent(text, &press);
            }
            // Return ends the field's edit, never the panel (which would take the folder shown).
            if (field.store == Store::Annotation) {
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QCoreApplication::sendEvent(text, &enter);
                ASSERT_TRUE(panel && panel->isVisible()) << field.key;
            }
        } else if (auto *box = qobject_cast<QCheckBox *>(control)) {
            box->click();
        } else if (auto *popUp = qobject_cast<QComboBox *>(control)) {
            popUp->setCurrentIndex(QByteArray(field.typed).toInt());
            emit popUp->activated(popUp->currentIndex());
        }
    }
    QAction addFilename("Add Filename");
    pane->keywordsAction(&addFilename);
    panel->choose({dir.filePath("Trip")});
    waitForImport(window);

    QStringList seen;
    for (const CategoryNode &folder : db.getCategoryList("F")) {
        if (folder.value("displaytag").toString() != "Trip")
            continue;
        for (const CategoryNode &collection : db.getCategoryListForMID(folder.value("mid").toString())) {
            for (const auto &entry : db.getMediaList(collection.value("mid").toString())) {
                const QString mid = entry->value("mid").toString();
                const QString name = entry->value("displaytag").toString();
                seen.append(name);
                const QVariantMap purchased = db.getPurchasedForMediaID(mid);
                const QVariantMap sold = db.getSoldForMediaID(mid);
                for (const Field &field : fields) {
                    const QString key = QString::fromLatin1(field.key);
                    const QString stored = field.store == Store::Annotation  ? db.getMediaListEntryForMediaID(mid, key)
                                           : field.store == Store::Purchased ? purchased.value(key).toString()
                                                                             : sold.value(key).toString();
                    QString expected = QString::fromUtf8(field.expected);
                    if (expected.contains("%1"))
                        expected = expected.arg(QFileInfo(name).completeBaseName());
                    EXPECT_EQ(stored, expected) << qPrintable(name) << ' ' << field.key;
                }
            }
        }
    }
    seen.sort();
    EXPECT_EQ(seen, (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    // The entry that was there before is left alone.
    EXPECT_EQ(db.getMediaListEntryForMediaID(studio1, "keywords"), earlierKeywords);
    EXPECT_TRUE(presenter->shown().isEmpty());
}

TEST_P(ImportResultsTest, AnImportsEndRenewsTheCountItsCategoryShowsInEveryWindow)
{
    // A download's collection, drawn while it was still empty.
    const QString download = category("Card", "C");
    OVNAssetManager *window = openWindow();
    OVNOutlineView *outline = window->categoryList();
    outline->viewport()->repaint();
    EXPECT_TRUE(shownRows(window).contains("  Card 0"));
    for (const char *name : {"card-1", "card-2", "card-3"})
        entry(download, name);
    NotificationCenter::defaultCenter().postNotification(OVNAssetManager::importMediaDidFinishNotification(),
                                                         {{"categoryid", download}});
    EXPECT_TRUE(shownRows(window).contains("  Card 3"));
    // Not this window's import: its selection stays as it was.
    EXPECT_FALSE(window->selectedCategory().has_value());
    // A download into a collection made meanwhile shows it, and the selection stays.
    ASSERT_TRUE(window->selectCategory(studio));
    const QString later = category("Card 2", "C");
    entry(later, "card-4");
    NotificationCenter::defaultCenter().postNotification(OVNAssetManager::importMediaDidFinishNotification(),
                                                         {{"categoryid", later}});
    EXPECT_TRUE(shownRows(window).contains("  Card 2 1"));
    ASSERT_TRUE(window->selectedCategory().has_value());
    EXPECT_EQ(window->selectedCategory()->value("mid").toString(), studio);
    EXPECT_EQ(window->mediaView()->count(), 1);

    // A collection this window made (a record export's) is shown at once and selected at the end.
    const QString exported = db.addCategoryListEntry("export", "C");
    ASSERT_TRUE(window->selectCategory(studio));
    window->deselectAllCategories();
    window->postNotification(OVNAssetManager::categoryListDidChangeNotification(), {{"action", "add"}});
    EXPECT_TRUE(shownRows(window).contains("  export 0"));
    window->setTrackImportDidFinish(true);
    entry(exported, "exported-1");
    window->postNotification(OVNAssetManager::reloadCategoryNotification(), {{"categoryid", exported}});
    EXPECT_TRUE(shownRows(window).contains("  export 1"));
    NotificationCenter::defaultCenter().postNotification(OVNAssetManager::importMediaDidFinishNotification(),
                                                         {{"categoryid", exported}});
    ASSERT_TRUE(window->selectedCategory().has_value());
    EXPECT_EQ(window->selectedCategory()->value("mid").toString(), exported);
    EXPECT_EQ(window->mediaView()->count(), 1);
}

TEST_P(ImportResultsTest, AnEmptyCatalogOrCollectionSaysHowMediaGetIn)
{
    ASSERT_TRUE(db.deleteMediaListEntry(studio1));
    ASSERT_TRUE(db.deleteCategoryListEntry(studio));
    OVNAssetManager *window = openWindow();
    EXPECT_TRUE(hint(window).contains("Smart Add...")) << qPrintable(hint(window));
    ASSERT_TRUE(window->selectCategory(QString()));
    EXPECT_TRUE(hint(window).contains("Smart Add..."));

    const QString empty = category("Empty", "C");
    const QString folder = category("Folder", "F");
    window->reload();
    ASSERT_TRUE(window->selectCategory(empty));
    EXPECT_TRUE(hint(window).contains("Drop files")) << qPrintable(hint(window));
    // Neither a folder nor the Database item of a catalog with categories claims a drop.
    for (const QString &other : {folder, QString()}) {
        ASSERT_TRUE(window->selectCategory(other));
        EXPECT_FALSE(hint(window).contains("Drop files")) << qPrintable(hint(window));
    }
}

// With its option off the Database item shows no entry of a catalog that has some, and says
// which menu item lists them; the option lists them at once.
TEST_P(ImportResultsTest, TheDatabaseItemNamesTheMenuItemThatListsEveryEntry)
{
    const auto option = OVNCatalogActions::DatabaseShowThumbnailsOption;
    entry(studio, "studio-2");
    OVNAssetManager *window = openWindow();
    ASSERT_TRUE(window->selectCategory(QString()));
    // The path as the menus spell it, from the menu bar down.
    EXPECT_EQ(window->commands().menuPath(OVNCatalogActions::Action::DatabaseShowThumbnails),
              "View > Database Lists All Media");
    for (const bool on : {false, true, false}) {
        if (window->commands().viewOption(option) != on)
            window->commands().toggleViewOption(option);
        EXPECT_EQ(window->mediaView()->count(), on ? 2 : 0) << on;
        EXPECT_EQ(hint(window).contains("\nView > Database Lists All Media is checked"), !on)
            << qPrintable(hint(window));
    }
}

OVN_CATALOG_VENDORS(ImportResultsTest);

} // namespace
