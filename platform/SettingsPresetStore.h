#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class UserDefaults;

// Named settings presets: the built-in ones from a property-list resource (an array of
// {"Title", "Type" "Setting", "Creator", "Settings"}) and the user's from a preference of the same
// form. The capture window and the adjustment window each keep one, with their own resource, key
// and settings keys.
class SettingsPresetStore
{
public:
    SettingsPresetStore(UserDefaults &defaults, QString resourceName, QString userKey, QStringList keys);

    // Reads the resource "<resourceName>.plist" and the preference again.
    void load();
    // Built-in presets of type "Setting" with a title, then the user's, as loaded.
    const QVariantList &builtIn() const { return m_builtIn; }
    const QVariantList &user() const { return m_user; }

    // The "Settings" of the first built-in preset with every key of the store (missing ones ""),
    // empty when there is none.
    QVariantMap firstSettings() const;
    // `settings` with every key of the store, missing ones as "".
    QVariantMap complete(const QVariantMap &settings) const;

    // Appends a user preset (creator "User") to the stored list, and reads the user's presets
    // again from it. The stored list keeps what another window or version wrote there. An empty
    // title is stored as "untitled".
    void addUserPreset(const QString &title, const QVariantMap &settings);
    // Removes the user preset at `index` of user() from the stored list, and reads the user's
    // presets again; false when there is none there, or it is not the user's.
    bool removeUserPreset(int index);
    // The index of the first user preset of that title, or -1.
    int userPresetIndex(const QString &title) const;

    // The pop-up item to select at first: 2 (the first built-in preset, after "Manual Settings" and
    // a separator) when the pop-up holds more than one item, else 0.
    static int initialItem(int itemCount) { return itemCount > 1 ? 2 : 0; }

private:
    static QVariantList usable(const QVariantList &presets);
    void store(const QVariantList &stored);

    UserDefaults &m_defaults;
    QString m_resourceName;
    QString m_userKey;
    QStringList m_keys;
    QVariantList m_builtIn;
    QVariantList m_user;
};
