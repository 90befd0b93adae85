#include "platform/SettingsPresetStore.h"

#include "platform/Localized.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"

#include <QFile>

SettingsPresetStore::SettingsPresetStore(UserDefaults &defaults, QString resourceName, QString userKey,
                                         QStringList keys)
    : m_defaults(defaults),
      m_resourceName(std::move(resourceName)),
      m_userKey(std::move(userKey)),
      m_keys(std::move(keys))
{}

QVariantList SettingsPresetStore::usable(const QVariantList &presets)
{
    QVariantList out;
    for (const QVariant &preset : presets) {
        const QVariantMap map = preset.toMap();
        if (map.value(QStringLiteral("Type")).toString() == QLatin1String("Setting")
            && !map.value(QStringLiteral("Title")).toString().isEmpty())
            out.append(map);
    }
    return out;
}

void SettingsPresetStore::load()
{
    m_builtIn.clear();
    QFile file(Resources::pathFor(m_resourceName + QStringLiteral(".plist")));
    if (file.open(QIODevice::ReadOnly))
        m_builtIn = usable(PropertyList::read(file.readAll()).toList());
    m_defaults.synchronize();
    m_user = usable(m_defaults.arrayForKey(m_userKey));
}

QVariantMap SettingsPresetStore::complete(const QVariantMap &settings) const
{
    QVariantMap out;
    for (const QString &key : m_keys)
        out.insert(key, settings.value(key).toString());
    return out;
}

QVariantMap SettingsPresetStore::firstSettings() const
{
    if (m_builtIn.isEmpty())
        return {};
    return complete(m_builtIn.first().toMap().value(QStringLiteral("Settings")).toMap());
}

void SettingsPresetStore::addUserPreset(const QString &title, const QVariantMap &settings)
{
    // Added to the list as stored now, not as loaded: presets another window saved since, and
    // entries this version does not show, stay.
    QVariantList stored = m_defaults.arrayForKey(m_userKey);
    // A preset without a title would never be listed, so never be chosen or deleted.
    const QString listed = title.trimmed().isEmpty() ? localized("untitled") : title;
    stored.append(QVariantMap{{QStringLiteral("Title"), listed},
                              {QStringLiteral("Type"), QStringLiteral("Setting")},
                              {QStringLiteral("Creator"), QStringLiteral("User")},
                              {QStringLiteral("Settings"), complete(settings)}});
    store(stored);
}

bool SettingsPresetStore::removeUserPreset(int index)
{
    if (index < 0 || index >= m_user.size())
        return false;
    if (m_user.at(index).toMap().value(QStringLiteral("Creator")).toString() != QLatin1String("User"))
        return false;
    // The preset this store shows there, wherever it is stored now; one another window removed
    // already is gone all the same.
    QVariantList stored = m_defaults.arrayForKey(m_userKey);
    const qsizetype at = stored.indexOf(m_user.at(index));
    if (at < 0) {
        m_user = usable(stored);
        return true;
    }
    stored.removeAt(at);
    store(stored);
    return true;
}

void SettingsPresetStore::store(const QVariantList &stored)
{
    m_defaults.setObject(stored, m_userKey);
    m_defaults.synchronize();
    m_user = usable(stored);
}

int SettingsPresetStore::userPresetIndex(const QString &title) const
{
    for (int i = 0; i < m_user.size(); ++i)
        if (m_user.at(i).toMap().value(QStringLiteral("Title")).toString() == title)
            return i;
    return -1;
}
