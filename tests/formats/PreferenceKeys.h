#pragma once

#include "platform/UserDefaults.h"

#include <QStringList>

// Removes the given preferences when a test ends, so that tests leave each other a clean slate.
class PreferenceKeys
{
public:
    explicit PreferenceKeys(QStringList keys) : m_keys(std::move(keys)) { clear(); }
    ~PreferenceKeys() { clear(); }
    PreferenceKeys(const PreferenceKeys &) = delete;
    PreferenceKeys &operator=(const PreferenceKeys &) = delete;

    void clear()
    {
        for (const QString &key : std::as_const(m_keys))
            UserDefaults::standard().removeObjectForKey(key);
    }

private:
    QStringList m_keys;
};
