#pragma once

#include "../catalogdb/CatalogFixture.h"

#include "app/OVNAssetManager.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"

#include <QList>
#include <QPointer>
#include <QStringList>

#include <memory>

// The display names a thumbnail view holds, sorted.
inline QStringList shownNames(const OVNMediaView *view)
{
    QStringList result;
    for (const MediaRecordRef &record : view->mediaContainer())
        result.append(record->field(MediaRecord::DisplayTag));
    result.sort();
    return result;
}

// Catalog windows over a test catalog on each vendor: adds categories and entries, and opens
// windows that the test's TearDown closes again (through `windows`).
class CatalogWindowFixture : public CatalogFixture
{
protected:
    QString category(const char *name, const char *kind, const QString &parent = QString())
    {
        const QString mid = db.addCategoryListEntry(QString::fromUtf8(name), QString::fromLatin1(kind));
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        if (!parent.isEmpty()) {
            EXPECT_TRUE(db.setCategoryListEntrySuperMID(mid, parent));
        }
        return mid;
    }

    QString entry(const QString &categoryId, const char *name)
    {
        const QString mid = db.addMediaListEntry(importRecord(categoryId, QString::fromUtf8(name)));
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        return mid;
    }

    // A window over its own connection to the test catalog (or the one given), with its tree loaded.
    OVNAssetManager *loadWindow(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        auto *window = new OVNAssetManager;
        window->setDatabaseConnection(connection ? std::move(connection)
                                                 : std::shared_ptr<OVNDatabaseAccess>(openAnother()));
        window->windowControllerDidLoadNib();
        windows.append(window);
        return window;
    }

    // An entry's column as the catalog stores it, and the value the window's thumbnail view holds.
    QString stored(const QString &mid, const char *column) { return db.getMediaListEntryForMediaID(mid, column); }
    QString shown(OVNAssetManager *window, const QString &mid, const char *key)
    {
        return window->mediaView()->mediaObject(key, window->mediaView()->rowForMid(mid)).toString();
    }

    // On a server catalog: the user tables, the group "Staff" and its member Ann (password "secret").
    void addStaffWithAnn(QString &staff)
    {
        ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db));
        staff = db.addGroupEntry("Staff", QString(), {});
        const QString ann = db.addUserEntry("Ann", "ann", "secret", "second", {});
        ASSERT_FALSE(db.addUserToGroup(ann, staff).isEmpty());
    }

    void closeWindows()
    {
        for (const QPointer<OVNAssetManager> &window : std::as_const(windows))
            delete window.data();
        windows.clear();
    }

    QList<QPointer<OVNAssetManager>> windows;
};
