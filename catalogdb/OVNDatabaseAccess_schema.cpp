// Table checks and record ids.

#include "catalogdb/OVNDatabaseAccess.h"

#include "platform/SystemInfo.h"

#include <QTimeZone>

#include <mutex>

namespace {

bool tableExists(OVNDatabaseAccess &connection, const QString &table)
{
    switch (connection.vendor()) {
    case OVNDatabaseAccess::Vendor::PostgreSQL:
        // Only the tables this session sees: another schema's catalog is not this one.
        return connection.affectedRowsForQuery(
                   QStringLiteral("select relname from pg_class where relname=$1 and pg_table_is_visible(oid)"),
                   {table})
               > 0;
    case OVNDatabaseAccess::Vendor::Integrated:
        return connection.affectedRowsForQuery(QStringLiteral("SELECT name FROM sqlite_master WHERE name=$1"), {table})
               > 0;
    case OVNDatabaseAccess::Vendor::None:
        break;
    }
    return false;
}

// The local wall-clock time as milliseconds since 1970-01-01 00:00 of that wall clock. Asking for
// the zone offset reads the zone files each time; it is asked again once a second at most, so
// that a change of daylight-saving time shows within a second.
qint64 currentLocalWallMsecs()
{
    thread_local qint64 offsetValidUntil = std::numeric_limits<qint64>::min();
    thread_local qint64 offsetMsecs = 0;
    const qint64 utc = QDateTime::currentMSecsSinceEpoch();
    if (utc >= offsetValidUntil || utc < offsetValidUntil - 1000) {
        offsetMsecs = qint64(QDateTime::fromMSecsSinceEpoch(utc).offsetFromUtc()) * 1000;
        offsetValidUntil = utc + 1000;
    }
    return utc + offsetMsecs;
}

// The last time handed out, for every connection of the process.
std::mutex recordIdMutex;
qint64 lastRecordIdTime = std::numeric_limits<qint64>::min();

} // namespace

bool OVNDatabaseAccess::relationExists(const QString &name) { return tableExists(*this, name); }

bool OVNDatabaseAccess::checkForDatabaseSetup()
{
    return tableExists(*this, QStringLiteral("strvcategory")) && tableExists(*this, QStringLiteral("strvfile"));
}

bool OVNDatabaseAccess::checkForUserManagerSetup()
{
    const bool present = tableExists(*this, QStringLiteral("strvgroups"))
                         && tableExists(*this, QStringLiteral("strvusers"));
    std::lock_guard lock(m_mutex);
    m_useauthentication = present;
    return present;
}

QString OVNDatabaseAccess::getHWAddress() { return SystemInfo::recordIdMachinePart(); }

QString OVNDatabaseAccess::recordIdFor(qint64 localWallMsecs, const QString &machinePart)
{
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(localWallMsecs, QTimeZone::utc());
    return wall.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss:zzz")) + QLatin1Char('/') + machinePart;
}

qint64 OVNDatabaseAccess::nextRecordIdTime(qint64 nowLocalWallMsecs, qint64 lastLocalWallMsecs)
{
    if (lastLocalWallMsecs != std::numeric_limits<qint64>::min() && nowLocalWallMsecs <= lastLocalWallMsecs)
        return lastLocalWallMsecs + 1;
    return nowLocalWallMsecs;
}

QString OVNDatabaseAccess::createNewMID()
{
    QString machinePart;
    {
        std::lock_guard lock(m_mutex);
        if (m_midbasestring.isEmpty())
            m_midbasestring = getHWAddress();
        machinePart = m_midbasestring;
    }
    qint64 time;
    {
        std::lock_guard lock(recordIdMutex);
        time = nextRecordIdTime(currentLocalWallMsecs(), lastRecordIdTime);
        lastRecordIdTime = time;
    }
    return recordIdFor(time, machinePart);
}
