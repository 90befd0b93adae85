#pragma once

#include "catalogdb/OVNDatabaseAccess.h"

// Makes the catalog refuse a statement, as a server with its own rules or a full disk would: every
// `event` ("insert", "update" or "delete") on `table` whose new row meets `condition` (SQL over
// "new", or "old" for a delete, e.g. "new.pricetag = 13") fails. True when the trigger was made.
inline bool addRefusingTrigger(OVNDatabaseAccess &db, const QString &table, const QString &event,
                               const QString &condition)
{
    const QString name = QStringLiteral("refuse_%1_%2").arg(table, event);
    if (db.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL) {
        return db.runSQLCommand(QStringLiteral("create function %1() returns trigger as $body$ begin if %2 then "
                                               "raise exception 'refused'; end if; "
                                               "if tg_op = 'DELETE' then return old; end if; return new; end $body$ "
                                               "language plpgsql")
                                    .arg(name, condition))
               && db.runSQLCommand(
                   QStringLiteral("create trigger %1 before %2 on %3 for each row execute function %1()")
                       .arg(name, event, table));
    }
    return db.runSQLCommand(QStringLiteral("create trigger %1 before %2 on %3 when %4 begin "
                                           "select raise(abort, 'refused'); end")
                                .arg(name, event, table, condition));
}
