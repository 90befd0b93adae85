// Users on a server test catalog: the group "Staff" with its member Ann, a group's privilege on a
// category, a connection signed in as Ann. A failure ends the test (wrap in ASSERT_NO_FATAL_FAILURE).
#pragma once

#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <gtest/gtest.h>

#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The user tables, the group "Staff" and its member Ann (password "secret").
inline void addStaffWithAnn(OVNDatabaseAccess &db, QString &staff)
{
    ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db));
    staff = db.addGroupEntry("Staff", QString(), {});
    const QString ann = db.addUserEntry("Ann", "ann", "secret", "second", {});
    ASSERT_FALSE(db.addUserToGroup(ann, staff).isEmpty());
}

// Ann back in "Staff" after a case before took her out of every group.
inline void putAnnBackInStaff(OVNDatabaseAccess &db, const QString &staff)
{
    if (!db.rowsForQuery(QStringLiteral("select 1 from strvgroupusers")).isEmpty())
        return;
    const QString ann = db.getUserForLogin(QStringLiteral("ann")).value(QStringLiteral("mid")).toString();
    ASSERT_FALSE(db.addUserToGroup(ann, staff).isEmpty());
}

// The category's comment grants `group` the privilege `level`, and nothing else.
inline void grantPrivilege(OVNDatabaseAccess &db, const QString &categoryId, const QString &group, const char *level)
{
    const QVariantList entries{QVariantMap{{"group", "g"}, {"mid", group}, {"privilege", level}}};
    ASSERT_TRUE(db.updateCategoryListComment(categoryId, OVNCategoryComment::withPrivileges(QString(), entries)));
}

inline void signInAsAnn(OVNDatabaseAccess &connection)
{
    ASSERT_TRUE(connection.checkForUserManagerSetup());
    ASSERT_TRUE(connection.authenticateUser("ann"));
}
