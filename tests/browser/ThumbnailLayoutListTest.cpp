// The stored layout list as every reader sees it: hostile preferences give usable layouts, name
// what was replaced, and are kept aside before the editor's list first replaces them.
#include "MediaViewTestSupport.h"

#include "browser/OVNThumbnail.h"
#include "browser/OVNThumbnailHelper.h"
#include "browser/OVNThumbnailLayoutList.h"
#include "browser/OVNThumbnailLayoutListModel.h"
#include "formats/OVNHelper.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

namespace {

const QString listKey = QStringLiteral("ThumbnailLayoutList");

QVariantMap builtIn(int index) { return OVNThumbnailHelper::getLayoutForThumbnail(index); }

QVariantMap with(QVariantMap layout, const QVariantMap &changes)
{
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
        layout.insert(it.key(), it.value());
    return layout;
}

QVariantMap fontOfSize(const QVariant &size) { return {{"NAME", "Helvetica-Bold"}, {"SIZE", size}}; }

QStringList problemKeys(const OVNLayoutListReading &reading)
{
    QStringList keys;
    for (const OVNLayoutProblem &problem : reading.problems)
        keys.append(QStringLiteral("%1 %2").arg(problem.layout).arg(problem.key));
    return keys;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(ThumbnailLayoutList, HostileListsReadAsUsableLayouts)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QVariantList builtIns = OVNThumbnailHelper::builtInLayouts();
    QVariantList hundredThousand;
    for (int i = 0; i < 100000; ++i)
        hundredThousand.append(builtIns.at(i % 4));
    const QVariantMap badValues = with(builtIn(3), {
                                                       {"udfBottomBarLeft", "9"},
                                                       {"udfTopBarRight", "-1"},
                                                       {"udfNameBarMiddle", 1e308},
                                                       {"udfListLine1", "8"},
                                                       {"udfListLine2", QVariantList{1}},
                                                       {"udfLayoutSelection", "2"},
                                                       {"udfEnableFrame", QVariantMap()},
                                                       {"udfEnableShadow", nan},
                                                       {"udfBackgroundColor", "red"},
                                                       {"udfTopBarFont", QVariantList()},
                                                       {"udfNameBarFont", fontOfSize(nan)},
                                                       {"udfBottomBarFont", fontOfSize("1e308")},
                                                       {"NAME", QVariantMap()},
                                                       {"udfManualSpacing", QByteArray("x")},
                                                       {"udfFutureKey", QVariantMap{{"a", "b"}}},
                                                   });
    const QVariantMap goodValues = with(builtIn(1), {
                                                        {"udfTopBarFont", fontOfSize("200")},
                                                        {"udfBottomBarFont", fontOfSize(1)},
                                                        {"udfEnableFrame", 1},
                                                        {"udfManualSpacing", "ten"},
                                                        {"udfListLine7", "7"},
                                                        {"udfEnableShadow", "5"},
                                                    });

    struct Case {
        const char *name;
        QVariant stored;
        QList<bool> fromStore;
        QStringList problems; // "layout key" of each problem, in order
    };
    const QList<bool> none{false, false, false, false};
    const QStringList everyLayout{"0 (layout)", "1 (layout)", "2 (layout)", "3 (layout)"};
    const QList<Case> cases = {
        {"absent", QVariant(), none, {}},
        {"empty list", QVariantList(), none, {}},
        {"string", QString("hello"), none, everyLayout},
        {"10 MB string", QString(10 * 1024 * 1024, QLatin1Char('x')), none, everyLayout},
        {"dictionary", QVariantMap{{"NAME", "x"}}, none, everyLayout},
        {"entries of every wrong kind",
         QVariantList{"s", 5, QByteArray("d"), QDateTime::currentDateTimeUtc(), QVariantList{builtIn(0)}, true},
         none,
         {"0 (layout)", "1 (layout)", "2 (layout)", "3 (layout)", "4 (layout)"}},
        {"short list",
         QVariantList{goodValues},
         {true, false, false, false},
         {"1 (layout)", "2 (layout)", "3 (layout)"}},
        {"100,000 entries", hundredThousand, {true, true, true, true}, {"4 (layout)"}},
        {"bad values",
         QVariantList{builtIn(0), goodValues, builtIn(2), badValues},
         {true, true, true, true},
         {"3 NAME", "3 udfBackgroundColor", "3 udfEnableFrame", "3 udfEnableShadow", "3 udfManualSpacing",
          "3 udfLayoutSelection", "3 udfBottomBarFont", "3 udfBottomBarLeft", "3 udfNameBarFont", "3 udfNameBarMiddle",
          "3 udfTopBarFont", "3 udfTopBarRight", "3 udfListLine1", "3 udfListLine2"}},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const OVNLayoutListReading reading = OVNThumbnailLayoutList::read(c.stored);
        ASSERT_EQ(reading.layouts.size(), 4);
        EXPECT_EQ(reading.fromStore, c.fromStore);
        EXPECT_EQ(problemKeys(reading), c.problems);
        for (int i = 0; i < 4; ++i) {
            if (!reading.fromStore.at(i)) {
                EXPECT_EQ(reading.layouts.at(i).toMap(), builtIn(i));
            }
        }
        // The message names each problem briefly, however large the stored value.
        const QString message = OVNThumbnailLayoutList::message(reading, "/kept.plist");
        EXPECT_EQ(message.isEmpty(), c.problems.isEmpty());
        EXPECT_LT(message.size(), 5000);
        if (!message.isEmpty()) {
            EXPECT_TRUE(message.contains("/kept.plist"));
        }
        // Every reading renders.
        OVNThumbnail renderer;
        renderer.setWidth(130);
        renderer.setHeight(130);
        for (const QVariant &layout : reading.layouts) {
            renderer.setLayout(layout.toMap());
            EXPECT_EQ(renderer.createThumbnailForImage(QImage(40, 30, QImage::Format_RGB32), MediaRecord()).size(),
                      QSize(130, 130));
        }
    }

    // What stands in for each bad value; good and unknown values stay as stored.
    const OVNLayoutListReading reading =
        OVNThumbnailLayoutList::read(QVariantList{builtIn(0), goodValues, builtIn(2), badValues});
    EXPECT_EQ(reading.layouts.at(1).toMap(), with(goodValues, {{"udfEnableFrame", "1"}}));
    const QVariantMap repaired = reading.layouts.at(3).toMap();
    for (const char *key : {"udfBottomBarLeft", "udfTopBarRight", "udfNameBarMiddle", "udfListLine1", "udfListLine2",
                            "udfLayoutSelection", "udfEnableFrame", "udfEnableShadow"})
        EXPECT_EQ(repaired.value(key), QVariant("0")) << key;
    EXPECT_EQ(repaired.value("udfBackgroundColor").toMap(), OVNHelper::encodeColorR(0, 0, 0, 0));
    EXPECT_EQ(repaired.value("udfTopBarFont").toMap(), OVNHelper::encodeFontWithName("Helvetica-Bold", 10));
    EXPECT_EQ(repaired.value("udfNameBarFont").toMap().value("SIZE"), QVariant("10.0000"));
    EXPECT_EQ(repaired.value("udfBottomBarFont").toMap().value("SIZE"), QVariant("10.0000"));
    EXPECT_EQ(repaired.value("NAME"), QVariant(QString()));
    EXPECT_EQ(repaired.value("udfManualSpacing"), QVariant(QString()));
    EXPECT_EQ(repaired.value("udfFutureKey"), badValues.value("udfFutureKey"));
    EXPECT_EQ(repaired.value("udfListLine3"), QVariant("3"));
    EXPECT_TRUE(
        OVNThumbnailLayoutList::message(reading, QString()).contains("udfBottomBarLeft: \"9\" is no bar field"));
}

TEST(ThumbnailLayoutList, EditorModelKeepsTheStoredListBeforeItsFirstSave)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString preferences = dir.filePath("preferences.plist");
    const QVariantList hostile{QString(64 * 1024, QLatin1Char('x')), with(builtIn(1), {{"udfTopBarLeft", "99"}})};
    {
        UserDefaults writer(preferences);
        ASSERT_TRUE(writer.setObject(hostile, listKey));
    }
    const QByteArray before = fileBytes(preferences);

    UserDefaults defaults(preferences);
    OVNThumbnailLayoutListModel model(defaults);
    model.load();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.data(model.index(0)).toString(), "Contact Sheet");
    const QString kept = model.keptCopyPath();
    EXPECT_EQ(kept, dir.filePath("ThumbnailLayoutList.kept.plist"));
    EXPECT_TRUE(model.problemMessage().contains("layout 1 \"Plain Image View\", udfTopBarLeft"));
    EXPECT_TRUE(model.problemMessage().contains(kept));

    // No single selection: nothing changes and nothing is written.
    for (const QList<int> &rows : {QList<int>{}, QList<int>{0, 1}}) {
        model.setSelectedRows(rows);
        EXPECT_EQ(model.setValue("udfEnableFrame", "0"), OVNThumbnailLayoutListModel::EditResult::NoSingleSelection);
    }
    EXPECT_EQ(fileBytes(preferences), before);
    EXPECT_FALSE(QFile::exists(kept));

    // The first save keeps the stored list as it was, then stores the whole repaired list.
    model.setSelectedRows({1});
    ASSERT_EQ(model.setValue("udfBottomBarLeft", "3"), OVNThumbnailLayoutListModel::EditResult::Saved);
    EXPECT_EQ(PropertyList::readXml(fileBytes(kept)), QVariant(hostile));
    UserDefaults reread(preferences);
    const QVariantList stored = reread.arrayForKey(listKey);
    ASSERT_EQ(stored.size(), 4);
    EXPECT_EQ(stored.at(0).toMap(), builtIn(0));
    EXPECT_EQ(stored.at(1).toMap().value("udfBottomBarLeft"), QVariant("3"));
    EXPECT_EQ(stored.at(1).toMap().value("udfTopBarLeft"), QVariant("0"));
    EXPECT_FALSE(OVNThumbnailLayoutList::read(reread).repaired());

    // Later saves keep no further copies.
    ASSERT_EQ(model.setColor("udfFrameColor", QColor::fromHsvF(0.5f, 1.0f, 1.0f, 0.25f)),
              OVNThumbnailLayoutListModel::EditResult::Saved);
    EXPECT_EQ(QDir(dir.path()).entryList({"*.kept*"}, QDir::Files).size(), 1);
    EXPECT_EQ(UserDefaults(preferences).arrayForKey(listKey).at(1).toMap().value("udfFrameColor").toMap(),
              OVNHelper::encodeColorR(0, 1, 1, 0.25));
}

TEST(ThumbnailLayoutList, FirstStartStoresNothingUntilTheFirstChange)
{
    UserDefaults defaults;
    OVNThumbnailLayoutListModel model(defaults);
    model.load();
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(model.data(model.index(row)).toString());
    EXPECT_EQ(names, QStringList({"Contact Sheet", "Plain Image View", "Plain Image View with Title", "List View"}));
    EXPECT_FALSE(defaults.contains(listKey));
    EXPECT_TRUE(model.problemMessage().isEmpty());
    model.setSelectedRows({0});
    ASSERT_EQ(model.setValue("udfEnableNameBar", "0"), OVNThumbnailLayoutListModel::EditResult::Saved);
    const QVariantList stored = defaults.arrayForKey(listKey);
    ASSERT_EQ(stored.size(), 4);
    EXPECT_EQ(stored.at(0).toMap(), with(builtIn(0), {{"udfEnableNameBar", "0"}}));
    EXPECT_EQ(stored.at(3).toMap(), builtIn(3));
}

TEST(ThumbnailLayoutList, ThumbnailViewDrawsARepairedList)
{
    UserDefaults &defaults = UserDefaults::standard();
    const QVariantMap blueCell = with(builtIn(1), {{"udfBackgroundColor", OVNHelper::encodeColorR(0, 0, 1, 1)},
                                                   {"udfBottomBarLeft", "12"},
                                                   {"udfEnableBottomInfoBar", "1"},
                                                   {"udfBottomBarFont", fontOfSize(1e308)}});
    ASSERT_TRUE(defaults.setObject(QVariantList{42, blueCell}, listKey));

    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setThumbnailLoadBudgetMs(0);
    view.resize(300, 200);
    view.setThumbnailWidth(100);
    view.setThumbnailStyle(0);
    ASSERT_EQ(view.layoutSettings().size(), 4);
    EXPECT_EQ(view.layoutSettings().at(0).toMap(), builtIn(0));
    EXPECT_EQ(view.layoutSettings().at(3).toMap(), builtIn(3));
    view.setThumbnailStyle(1);
    EXPECT_EQ(view.layoutSettings().at(1).toMap().value("udfBottomBarLeft"), QVariant("0"));
    view.setMediaContainer(makeList(2));
    const QImage shot = view.viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::blue));
    defaults.removeObjectForKey(listKey);
}
