#include "platform/SettingsPresetStore.h"
#include "platform/UserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QVariantMap preset(const QString &title, const QVariantMap &settings = {}, const QString &type = "Setting")
{
    QVariantMap map{{"Type", type}, {"Creator", "User"}, {"Settings", settings}};
    if (!title.isNull())
        map.insert("Title", title);
    return map;
}

QStringList titles(const QVariantList &presets)
{
    QStringList out;
    for (const QVariant &item : presets)
        out.append(item.toMap().value("Title").toString());
    return out;
}

} // namespace

// Two windows with a store each over one preference, and entries this version does not list:
// saving in one window loses nothing the other window or another version wrote.
TEST(SettingsPresetStoreTest, SavingKeepsWhatOthersStoredSinceAndWhatItDoesNotList)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("prefs.plist"));
    const QVariantMap newer = preset("Newer", {{"k1", "1"}, {"fromANewerVersion", "x"}});
    const QVariantList written{newer, preset("Folder", {}, "Group"), preset(QString()), QVariant("note")};
    defaults.setObject(written, "UserPresets");
    SettingsPresetStore first(defaults, "NoResource", "UserPresets", {"k1", "k2"});
    SettingsPresetStore second(defaults, "NoResource", "UserPresets", {"k1", "k2"});
    first.load();
    second.load();
    ASSERT_EQ(titles(first.user()), QStringList({"Newer"}));

    first.addUserPreset("A", {{"k1", "a"}, {"unlisted", "dropped"}});
    second.addUserPreset("B", {});
    second.addUserPreset(" ", {});
    QVariantList expected = written;
    expected << preset("A", {{"k1", "a"}, {"k2", ""}}) << preset("B", {{"k1", ""}, {"k2", ""}})
             << preset("untitled", {{"k1", ""}, {"k2", ""}});
    EXPECT_EQ(defaults.arrayForKey("UserPresets"), expected);
    EXPECT_EQ(titles(second.user()), QStringList({"Newer", "A", "B", "untitled"}));

    // `first` still lists Newer, A; removing its "A" removes that one, wherever it is stored now.
    ASSERT_EQ(titles(first.user()), QStringList({"Newer", "A"}));
    EXPECT_TRUE(first.removeUserPreset(1));
    expected.removeAt(4);
    EXPECT_EQ(defaults.arrayForKey("UserPresets"), expected);
    // A preset the other window removed already is not looked for by its old place.
    ASSERT_EQ(titles(second.user()), QStringList({"Newer", "A", "B", "untitled"}));
    EXPECT_TRUE(second.removeUserPreset(1));
    EXPECT_EQ(defaults.arrayForKey("UserPresets"), expected);
    EXPECT_EQ(titles(second.user()), QStringList({"Newer", "B", "untitled"}));
    EXPECT_FALSE(second.removeUserPreset(3));

    // What a newer version wrote into a preset stays with it.
    UserDefaults reread(dir.filePath("prefs.plist"));
    EXPECT_EQ(reread.arrayForKey("UserPresets").first(), QVariant(newer));
}
