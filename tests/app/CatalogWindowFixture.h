#pragma once

#include "../catalogdb/CatalogFixture.h"

#include "app/OVNAssetManager.h"

#include <QList>
#include <QPointer>

#include <memory>

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

    void closeWindows()
    {
        for (const QPointer<OVNAssetManager> &window : std::as_const(windows))
            delete window.data();
        windows.clear();
    }

    QList<QPointer<OVNAssetManager>> windows;
};
