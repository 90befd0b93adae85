#include "CatalogWindowFixture.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"
#include "browser/OVNMediaDetailsAutoFill.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNCoreImageAdjust.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

namespace {

using Mode = AnnotationChanges::Mode;

// Adjustment windows that only note what they were asked.
struct RecordingFactory : OVNCoreImageAdjust::Factory {
    struct Window : OVNCoreImageAdjust {
        int orientation = -1;
        QString path;
        void setOnLoadOrientation(int code) override { orientation = code; }
        void loadImage(const QString &file) override { path = file; }
        void setExportCheck(ExportCheck) override {}
    };
    OVNCoreImageAdjust *create() override
    {
        made.push_back(std::make_unique<Window>());
        return made.back().get();
    }
    std::vector<std::unique_ptr<Window>> made;
};

} // namespace

// A collection "Shoot" with three entries: a deep file, a file one folder below the root, and one
// without a path.
class AutoFillTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        shoot = category("Shoot", "C");
        const QString paths[] = {"/Volumes/Disk/Shoot/Day1/IMG_0001.JPG", "/Shoot/IMG.JPG", ""};
        for (const QString &path : paths) {
            QVariantMap record = importRecord(shoot, path.isEmpty() ? "nofile" : path.section('/', -1));
            record.insert("absolutepath", path);
            record.insert("keywords", "Beach");
            record.insert("shortdesc", "Sandy Beach Walk");
            mids.append(db.addMediaListEntry(record));
            ASSERT_FALSE(mids.last().isEmpty()) << qPrintable(db.getLastErrorMessage());
        }
    }
    void TearDown() override
    {
        closeWindows();
        OVNCoreImageAdjust::setFactory(nullptr);
        Alerts::setPresenter(nullptr);
        CatalogFixture::TearDown();
    }
    OVNAssetManager *shootWindow(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        OVNAssetManager *window = loadWindow(std::move(connection));
        EXPECT_TRUE(window->selectCategory(shoot));
        return window;
    }

    QString shoot;
    QStringList mids;
};

OVN_CATALOG_VENDORS(AutoFillTest);

// Every mode through the apply on the whole collection (no thumbnail selected), one step after the
// other on the same entries: what each field stores and what the thumbnail view shows.
TEST_P(AutoFillTest, EachModeLandsWhereItSays)
{
    OVNAssetManager *window = shootWindow();
    ASSERT_EQ(window->annotationRowSet()->size(), 3);
    struct Check {
        const char *column;
        QStringList expected; // per entry
    };
    struct Step {
        Mode mode;
        AnnotationChanges changes;
        bool clear;
        QList<Check> checks;
    };
    AnnotationChanges appendWords;
    appendWords.info = {{"keywords", "sunset"}, {"modrelavailable", "1"}};
    appendWords.keywordsAddFilename = true;
    appendWords.keywordsParseFolders = 2;
    AnnotationChanges mergeBeach;
    mergeBeach.info = {{"shortdesc", "beach"}, {"modrelavailable", "1"}};
    AnnotationChanges mergeDune;
    mergeDune.info = {{"shortdesc", "dune"}};
    AnnotationChanges licences;
    licences.purchased = {{"owner", "Ann O'Neil"}, {"licensetype", "2"}};
    licences.sold = {{"customer", "Bob"}};
    AnnotationChanges clearing;
    clearing.info = {{"fulldesc", ""}, {"keywords", "It's"}};
    const QString walk = "Sandy Beach Walk", ann = "Ann O'Neil", longText = "A long description";
    const Step steps[] = {
        {Mode::Append,
         appendWords,
         false,
         {{"keywords", {"Beach sunset IMG_0001 Day1 Shoot", "Beach sunset IMG Shoot", "Beach sunset"}},
          {"modrelavailable", {"", "", ""}}}},
        {Mode::Merge, mergeBeach, false, {{"shortdesc", {walk, walk, walk}}, {"modrelavailable", {"1", "1", "1"}}}},
        {Mode::Merge, mergeDune, false, {{"shortdesc", {walk + " dune", walk + " dune", walk + " dune"}}}},
        {Mode::Append,
         licences,
         false,
         {{"purchased.owner", {ann, ann, ann}},
          {"purchased.licensetype", {"", "", ""}},
          {"sold.customer", {"Bob", "Bob", "Bob"}}}},
        {Mode::Merge,
         licences,
         false,
         {{"purchased.owner", {ann, ann, ann}},
          {"purchased.licensetype", {"2", "2", "2"}},
          {"sold.customer", {"Bob", "Bob", "Bob"}}}},
        {Mode::Append, licences, false, {{"sold.customer", {"Bob Bob", "Bob Bob", "Bob Bob"}}}},
        {Mode::Overwrite, clearing, false, {{"fulldesc", {longText, longText, longText}}}},
        {Mode::Overwrite, clearing, true, {{"fulldesc", {"", "", ""}}, {"keywords", {"It's", "It's", "It's"}}}},
    };
    int index = 0;
    for (const Step &step : steps) {
        window->applyAnnotationChanges(step.changes, step.mode, step.clear);
        for (const Check &check : step.checks) {
            const QString column = QString::fromLatin1(check.column);
            for (qsizetype i = 0; i < mids.size(); ++i) {
                QString value;
                if (column.startsWith("purchased.")) {
                    value = db.getPurchasedForMediaID(mids[i]).value(column.mid(10)).toString();
                } else if (column.startsWith("sold.")) {
                    value = db.getSoldForMediaID(mids[i]).value(column.mid(5)).toString();
                } else {
                    value = stored(mids[i], check.column);
                    EXPECT_EQ(shown(window, mids[i], check.column), value) << index << ' ' << check.column;
                }
                EXPECT_EQ(value, check.expected.at(i)) << "step " << index << ' ' << check.column << " entry " << i;
            }
        }
        ++index;
    }
    EXPECT_TRUE(presenter->shown().isEmpty());

    // The row set: the selection; nothing without a selection and with no category.
    window->mediaView()->selectImage(window->mediaView()->rowForMid(mids[1]), false, false);
    EXPECT_EQ(window->annotationRowSet()->size(), 1);
    window->mediaView()->deselectAll();
    window->deselectAllCategories();
    EXPECT_FALSE(window->annotationRowSet().has_value());
}

// A write the catalog refuses is reported once, with its reason; everything else is stored, the
// refused field stays as it was where it is shown. Cancelling the sheet writes nothing.
TEST_P(AutoFillTest, RefusedWritesAreReportedTheRestStored)
{
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update", "new.mid = '" + mids[1] + "' and new.fulldesc = 'x'"));
    ASSERT_TRUE(addRefusingTrigger(db, "strvpurchased", "insert", "new.owner = 'Zed'"));
    OVNAssetManager *window = shootWindow();
    AnnotationChanges changes;
    changes.info = {{"fulldesc", "x"}, {"keywords", "y"}};
    const auto summary = window->applyAnnotationChanges(changes, Mode::Overwrite, false);
    EXPECT_EQ(summary.written, 5);
    EXPECT_EQ(summary.failed, 1);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(summary.failures[0].mid, mids[1]);
    EXPECT_EQ(summary.failures[0].column, "fulldesc");
    for (const QString &mid : mids)
        EXPECT_EQ(stored(mid, "keywords"), "y");
    EXPECT_EQ(stored(mids[0], "fulldesc"), "x");
    EXPECT_EQ(stored(mids[1], "fulldesc"), "A long description");
    EXPECT_EQ(shown(window, mids[1], "fulldesc"), "A long description");
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_TRUE(presenter->shown()[0].informativeText.contains("1 entry could not be written"));
    EXPECT_TRUE(presenter->shown()[0].informativeText.contains("fulldesc: "));

    // Licence writes are checked too.
    AnnotationChanges licence;
    licence.purchased = {{"owner", "Zed"}};
    EXPECT_EQ(window->applyAnnotationChanges(licence, Mode::Overwrite, false).failed, 3);
    EXPECT_TRUE(db.getPurchasedForMediaID(mids[0]).value("owner").toString().isEmpty());
    EXPECT_EQ(presenter->shown().size(), 2);

    // The sheet, as the user works it: typed, then cancelled; then typed and OK.
    for (const bool ok : {false, true}) {
        window->buttonAutoFillClick();
        auto *sheet = window->mediaView()->window()->findChild<OVNMediaDetailsAutoFill *>();
        ASSERT_NE(sheet, nullptr);
        auto *keywords = sheet->content()->findChild<QLineEdit *>("vcKeywords_");
        keywords->setText(ok ? "kept" : "dropped");
        emit keywords->textEdited(keywords->text());
        sheet->findChild<QPushButton *>(ok ? "mdafBOK_" : "mdafBCancel_")->click();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QString &mid : mids)
            EXPECT_EQ(stored(mid, "keywords"), ok ? "kept" : "y") << ok;
    }
}

// Adjust opens one window per existing file with its orientation; more than three ask first, the
// missing files give one alert. Without a factory nothing can be adjusted.
TEST_P(AutoFillTest, AdjustOpensOneWindowPerFile)
{
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files.append(m_dir.filePath(QStringLiteral("f%1.jpg").arg(i)));
        QFile file(files.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    QStringList adjustMids;
    for (int i = 0; i < 5; ++i) {
        QVariantMap record = importRecord(shoot, QStringLiteral("a%1").arg(i));
        record.insert("absolutepath", i < 4 ? files[i] : m_dir.filePath("missing.jpg"));
        record.insert("Orientation", i + 1);
        adjustMids.append(db.addMediaListEntry(record));
    }
    OVNAssetManager *window = shootWindow();
    OVNMediaView *view = window->mediaView();
    const auto select = [&](int count) {
        view->deselectAll();
        for (int i = 5 - count; i < 5; ++i)
            view->selectImage(view->rowForMid(adjustMids[i]), false, false);
    };
    select(1);
    window->refreshActions();
    EXPECT_FALSE(window->action(OVNCatalogActions::Action::Adjust)->isEnabled());
    auto factory = std::make_shared<RecordingFactory>();
    OVNCoreImageAdjust::setFactory(factory);
    window->refreshActions();
    EXPECT_TRUE(window->action(OVNCatalogActions::Action::Adjust)->isEnabled());

    struct Case {
        int selected;
        std::initializer_list<int> answers;
        size_t opened;
        int asked, notFound;
    };
    for (const Case &c : {Case{4, {1}, 0, 1, 0}, Case{4, {0}, 3, 1, 1}, Case{3, {}, 2, 0, 1}}) {
        select(c.selected);
        factory->made.clear();
        presenter->enqueueAnswers(c.answers);
        const qsizetype before = presenter->shown().size();
        window->menuAdjust();
        EXPECT_EQ(factory->made.size(), c.opened) << c.selected;
        int asked = 0, notFound = 0;
        for (const Alert &alert : presenter->shown().mid(before)) {
            asked += alert.message.startsWith("Do you really want to open 4 items?") ? 1 : 0;
            notFound += alert.message == "Media file not found." ? 1 : 0;
        }
        EXPECT_EQ(asked, c.asked) << c.selected;
        EXPECT_EQ(notFound, c.notFound) << c.selected;
        for (const auto &made : factory->made) {
            const int i = int(files.indexOf(made->path));
            ASSERT_GE(i, 0);
            EXPECT_EQ(made->orientation, i + 1);
        }
    }
}

// On a server with users, an entry whose collection grants only "READ ONLY" is skipped and counted,
// whichever category shows it; the writable collection's entry is written.
class ServerAutoFillTest : public AutoFillTest
{};
INSTANTIATE_TEST_SUITE_P(Server, ServerAutoFillTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerAutoFillTest, ReadOnlyEntriesAreSkipped)
{
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shoot, staff, "READ ONLY"));
    const QString shared = category("Shared", "C");
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shared, staff, "READ & WRITE"));
    const QString writable = entry(shared, "shared-1");
    UserDefaults::standard().setBool(true, "DatabaseShowThumbnails");
    std::shared_ptr<OVNDatabaseAccess> connection = openAnother();
    ASSERT_NO_FATAL_FAILURE(signInAsAnn(*connection));
    OVNAssetManager *window = loadWindow(connection);
    ASSERT_TRUE(window->selectCategory(QString()));
    OVNMediaView *view = window->mediaView();
    for (const QString &mid : {mids[0], writable})
        view->selectImage(view->rowForMid(mid), false, false);
    AnnotationChanges changes;
    changes.info = {{"keywords", "z"}};
    changes.purchased = {{"owner", "Ann"}};
    const auto summary = window->applyAnnotationChanges(changes, Mode::Overwrite, false);
    UserDefaults::standard().removeObjectForKey("DatabaseShowThumbnails");
    EXPECT_EQ(summary.entries, 2);
    EXPECT_EQ(summary.refused, 1);
    EXPECT_EQ(summary.written, 2);
    EXPECT_EQ(stored(mids[0], "keywords"), "Beach");
    EXPECT_TRUE(db.getPurchasedForMediaID(mids[0]).isEmpty());
    EXPECT_EQ(stored(writable, "keywords"), "z");
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_TRUE(presenter->shown()[0].informativeText.contains("READ ONLY"));
}

// Above 500 entries a progress sheet can stop the apply; what was written by then stays stored.
TEST_P(AutoFillTest, StoppedApplyKeepsWhatWasWritten)
{
    ASSERT_TRUE(db.beginTransaction());
    for (int i = 0; i < 600; ++i)
        entry(shoot, "many");
    ASSERT_TRUE(db.commitTransaction());
    OVNAssetManager *window = shootWindow();
    // Stops the sheet once part of the work is done, as a user would.
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            for (auto *progress : widget->findChildren<QProgressDialog *>()) {
                if (progress->value() > 0)
                    progress->cancel();
            }
        }
    });
    stopper.start(0);
    AnnotationChanges changes;
    changes.info = {{"fulldesc", "kept"}};
    const auto summary = window->applyAnnotationChanges(changes, Mode::Overwrite, false);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_GT(summary.written, 0);
    EXPECT_LT(summary.written, 603);
    const int stored = db.affectedRowsForQuery("select mid from strvfile where fulldesc = 'kept'");
    EXPECT_EQ(stored, summary.written);
}
