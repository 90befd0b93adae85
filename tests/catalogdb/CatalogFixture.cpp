#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"

void CatalogFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalogPath());
    ASSERT_TRUE(db.openDBConnection()) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(OVNDBHelper::prefDBCreateLocalDatabase(db)) << qPrintable(db.getLastErrorMessage());
}

std::unique_ptr<OVNDatabaseAccess> CatalogFixture::openAnother() const
{
    auto other = std::make_unique<OVNDatabaseAccess>();
    other->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalogPath());
    EXPECT_TRUE(other->openDBConnection());
    return other;
}

QVariantMap CatalogFixture::importRecord(const QString &categoryId, const QString &name)
{
    return {
        {QStringLiteral("categoryid"), categoryId},
        {QStringLiteral("cataloguedby"), QStringLiteral("Ann Example")},
        {QStringLiteral("volumetype"), QStringLiteral("local")},
        {QStringLiteral("volumename"), QStringLiteral("Data")},
        {QStringLiteral("displaytag"), name},
        {QStringLiteral("servername"), QStringLiteral("host")},
        {QStringLiteral("serverpath"), QStringLiteral("/srv")},
        {QStringLiteral("absolutepath"), QStringLiteral("/home/ann/Pictures/") + name},
        {QStringLiteral("filesize"), 123456},
        {QStringLiteral("imagewidth"), 640},
        {QStringLiteral("imageheight"), 480},
        {QStringLiteral("filedts"), QStringLiteral("2024-05-01 10:11:12 +0200")},
        {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00 +0200")},
        {QStringLiteral("keywords"), QStringLiteral("A title")},
        {QStringLiteral("shortdesc"), QStringLiteral("sea, sun")},
        {QStringLiteral("fulldesc"), QStringLiteral("A long description")},
        {QStringLiteral("filetype"), QStringLiteral("Image")},
        {QStringLiteral("rating"), 4},
        {QStringLiteral("Orientation"), 6},
        {QStringLiteral("exif"), QVariantMap{{QStringLiteral("CameraMake"), QStringLiteral("X")}}},
    };
}
