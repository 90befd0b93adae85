#include "platform/SettingsPresetStore.h"

#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"

#include <QFile>

SettingsPresetStore::SettingsPresetStore(UserDefaults &defaults, QString resourceName, QString userKey,
                                         QStringList keys)
    : m_defaults(defaults), m_resourceName(std::move(resourceName)), m_userKey(std::move(userKey)),
      m_keys(std::move(keys))
{
}

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
    m_user.append(QVariantMap{{QStringLiteral("Title"), title},
                              {QStringLiteral("Type"), QStringLiteral("Setting")},
                              {QStringLiteral("Creator"), QStringLiteral("User")},
                              {QStringLiteral("Settings"), complete(settings)}});
    m_defaults.setObject(m_user, m_userKey);
    m_defaults.synchronize();
}

bool SettingsPresetStore::removeUserPreset(int index)
{
    if (index < 0 || index >= m_user.size())
        return false;
    if (m_user.at(index).toMap().value(QStringLiteral("Creator")).toString() != QLatin1String("User"))
        return false;
    m_user.removeAt(index);
    m_defaults.setObject(m_user, m_userKey);
    m_defaults.synchronize();
    return true;
}

int SettingsPresetStore::userPresetIndex(const QString &title) const
{
    for (int i = 0; i < m_user.size(); ++i)
        if (m_user.at(i).toMap().value(QStringLiteral("Title")).toString() == title)
            return i;
    return -1;
}
