#pragma once

#include "catalogdb/OVNDatabaseAccess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

// A fresh catalog file with the catalog tables, opened through the layer.
class CatalogFixture : public testing::Test
{
protected:
    void SetUp() override;

    QString catalogPath() const { return m_dir.filePath(QStringLiteral("MediaDB.sqlite")); }
    // Another connection to the same file.
    std::unique_ptr<OVNDatabaseAccess> openAnother() const;
    // An import record with every stored key set.
    static QVariantMap importRecord(const QString &categoryId, const QString &name);

    QTemporaryDir m_dir;
    OVNDatabaseAccess db;
};
