#include "platform/UserDefaults.h"

#include <QReadLocker>
#include <QWriteLocker>

UserDefaults::UserDefaults(const QString &filePath) : m_filePath(filePath) { load(); }
UserDefaults::~UserDefaults() = default;

UserDefaults &UserDefaults::standard()
{
    static UserDefaults defaults(defaultFilePath());
    return defaults;
}

QString UserDefaults::defaultFilePath() { return QString(); }
QString UserDefaults::filePath() const { return m_filePath; }
QString UserDefaults::loadProblem() const { QReadLocker l(&m_lock); return m_loadProblem; }
void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QWriteLocker l(&m_lock);
    m_registered.insert(defaults);
}
void UserDefaults::setArguments(const QStringList &) {}
QVariant UserDefaults::objectForKey(const QString &key) const { QReadLocker l(&m_lock); return lookupLocked(key); }
QString UserDefaults::stringForKey(const QString &key) const { return stringFromVariant(objectForKey(key)); }
bool UserDefaults::boolForKey(const QString &key) const { return boolFromVariant(objectForKey(key)); }
qint64 UserDefaults::integerForKey(const QString &key) const { return integerFromVariant(objectForKey(key)); }
double UserDefaults::doubleForKey(const QString &key) const { return doubleFromVariant(objectForKey(key)); }
QVariantList UserDefaults::arrayForKey(const QString &key) const { return objectForKey(key).toList(); }
QVariantMap UserDefaults::dictionaryForKey(const QString &key) const { return objectForKey(key).toMap(); }
QByteArray UserDefaults::dataForKey(const QString &key) const { return objectForKey(key).toByteArray(); }
bool UserDefaults::contains(const QString &key) const { return objectForKey(key).isValid(); }
QVariantMap UserDefaults::persistentDomain() const { QReadLocker l(&m_lock); return m_persistent; }
bool UserDefaults::setObject(const QVariant &value, const QString &key)
{
    QWriteLocker l(&m_lock);
    m_persistent.insert(key, value);
    return true;
}
bool UserDefaults::removeObjectForKey(const QString &key)
{
    QWriteLocker l(&m_lock);
    m_persistent.remove(key);
    return true;
}
bool UserDefaults::synchronize() { return true; }
bool UserDefaults::boolFromVariant(const QVariant &value) { return value.toBool(); }
qint64 UserDefaults::integerFromVariant(const QVariant &value) { return value.toLongLong(); }
double UserDefaults::doubleFromVariant(const QVariant &value) { return value.toDouble(); }
QString UserDefaults::stringFromVariant(const QVariant &value) { return value.toString(); }
void UserDefaults::load() {}
bool UserDefaults::saveLocked() { return true; }
QVariant UserDefaults::lookupLocked(const QString &key) const
{
    if (m_arguments.contains(key))
        return m_arguments.value(key);
    if (m_persistent.contains(key))
        return m_persistent.value(key);
    return m_registered.value(key);
}
