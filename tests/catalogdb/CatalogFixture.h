#pragma once

#include "catalogdb/OVNDatabaseAccess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <ostream>

// A fresh catalog with the catalog tables, opened through the layer: a SQLite file, or a
// database of its own on the test PostgreSQL server (tests run in parallel processes, and the
// table checks look at the whole database). Each test of a suite built on it runs for both.
class CatalogFixture : public testing::TestWithParam<OVNDatabaseAccess::Vendor>
{
protected:
    void SetUp() override;
    void TearDown() override;

    bool isPostgres() const { return GetParam() == OVNDatabaseAccess::Vendor::PostgreSQL; }
    QString catalogPath() const { return m_dir.filePath(QStringLiteral("MediaDB.sqlite")); }
    // Gives the connection this test's catalog settings (not opened).
    void setDetails(OVNDatabaseAccess &connection) const;
    // Another connection to the same catalog.
    std::unique_ptr<OVNDatabaseAccess> openAnother() const;
    // A connection to this test's server catalog through a relay on loopback `port` (a
    // SessionCutProxy's), opened; PostgreSQL only.
    std::shared_ptr<OVNDatabaseAccess> openThrough(int port) const;
    // Runs the vendor's catalog script on the connection.
    bool createCatalog(OVNDatabaseAccess &connection) const;
    // The vendor's type for binary columns.
    QString blobType() const { return isPostgres() ? QStringLiteral("bytea") : QStringLiteral("blob"); }
    // An import record with every stored key set.
    static QVariantMap importRecord(const QString &categoryId, const QString &name);
    // The text that a listing gives for the import record's file date on either vendor.
    static QString fileDateText();

    QTemporaryDir m_dir;
    QString m_pgDatabase; // the server database made for this test
    OVNDatabaseAccess db;
};

// The vendor by name in test output.
inline void PrintTo(OVNDatabaseAccess::Vendor vendor, std::ostream *out)
{
    *out << (vendor == OVNDatabaseAccess::Vendor::PostgreSQL ? "PostgreSQL" : "Integrated");
}

// "Integrated" and "PostgreSQL" as test name suffixes.
std::string catalogVendorName(const testing::TestParamInfo<OVNDatabaseAccess::Vendor> &info);

#define OVN_CATALOG_VENDORS(suite)                                                                                     \
    INSTANTIATE_TEST_SUITE_P(                                                                                          \
        Vendors, suite, testing::Values(OVNDatabaseAccess::Vendor::Integrated, OVNDatabaseAccess::Vendor::PostgreSQL), \
        catalogVendorName)
