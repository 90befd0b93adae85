// Writes that a full disk refuses are reported as such, and leave nothing half made.

#include "FullDisk.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

bool openCatalog(OVNDatabaseAccess &db, const QString &folder)
{
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                            folder + QStringLiteral("/MediaDB.sqlite"));
    return db.openDBConnection();
}

} // namespace

TEST(FullDiskTest, ACatalogOnAFullDiskSaysSoAndKeepsNothingHalfWritten)
{
    for (FullDisk::Kind kind : {FullDisk::Kind::Mounted, FullDisk::Kind::Injected}) {
        SCOPED_TRACE(FullDisk::name(kind));
        FullDisk disk(kind);
        if (disk.folder().isEmpty()) {
            std::printf("the %s variant is skipped: %s\n", FullDisk::name(kind), qPrintable(disk.why()));
            continue;
        }
        {
            // A new catalog: every table is made in memory, and the commit meets the full disk.
            OVNDatabaseAccess db;
            disk.fillLeaving(8192);
            ASSERT_TRUE(openCatalog(db, disk.folder())) << qPrintable(db.getLastErrorMessage());
            EXPECT_FALSE(OVNDBHelper::prefDBCreateLocalDatabase(db));
            EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("full")))
                << qPrintable(db.getLastErrorMessage());
            EXPECT_EQ(db.transactionDepth(), 0);
            EXPECT_FALSE(db.relationExists(QStringLiteral("strvcategory")));
        }

        disk.fillLeaving(-1);
        OVNDatabaseAccess db;
        ASSERT_TRUE(openCatalog(db, disk.folder()));
        ASSERT_TRUE(OVNDBHelper::prefDBCreateLocalDatabase(db)) << qPrintable(db.getLastErrorMessage());
        const QString kept = db.addCategoryListEntry(QStringLiteral("Kept"));
        ASSERT_FALSE(kept.isEmpty());
        // A batch on a full disk: whether a statement or the commit meets it, the batch reports
        // the disk, nothing of it stays, and nothing after the failure runs outside it.
        disk.fillLeaving(0);
        {
            OVNDatabaseTransaction batch(db);
            for (int i = 0; i < 20; ++i) {
                OVNDatabaseTransaction entry(db);
                db.addCategoryListEntry(QStringLiteral("Lost %1").arg(i));
                entry.commit();
            }
            EXPECT_FALSE(batch.commit());
        }
        EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("full"))) << qPrintable(db.getLastErrorMessage());
        EXPECT_EQ(db.transactionDepth(), 0);
        disk.fillLeaving(-1);
        const QList<CategoryNode> categories = db.getCategoryList();
        ASSERT_EQ(categories.size(), 1);
        EXPECT_EQ(categories.at(0).value(QStringLiteral("mid")).toString(), kept);
        EXPECT_FALSE(db.addCategoryListEntry(QStringLiteral("With room again")).isEmpty())
            << qPrintable(db.getLastErrorMessage());
    }
}
