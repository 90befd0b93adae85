// Table checks and record ids.

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNResultRow.h"

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

std::optional<QHash<QString, QStringList>> OVNDatabaseAccess::tablesWithColumns()
{
    QString sql;
    switch (vendor()) {
    case Vendor::PostgreSQL:
        // The schemas of the search path, without the system's own catalog.
        sql = QStringLiteral("select c.relname, a.attname from pg_class c join pg_namespace n on n.oid=c.relnamespace "
                             "join pg_attribute a on a.attrelid=c.oid where c.relkind in ('r','p') "
                             "and n.nspname=any(current_schemas(false)) and pg_table_is_visible(c.oid) "
                             "and a.attnum>0 and not a.attisdropped");
        break;
    case Vendor::Integrated:
        sql = QStringLiteral("select m.name, p.name from sqlite_master m join pragma_table_info(m.name) p "
                             "where m.type='table' and m.name not like 'sqlite\\_%' escape '\\'");
        break;
    case Vendor::None:
        return std::nullopt;
    }
    const quint64 failures = failureCount();
    QHash<QString, QStringList> tables;
    execute(sql, {}, [&](const OVNResultRow &row) {
        tables[row.text(0).toLower()].append(row.text(1).toLower());
        return true;
    });
    if (failureCount() != failures)
        return std::nullopt;
    return tables;
}

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
