#include "DetailsFakeDataSource.h"

#include <gtest/gtest.h>

namespace {

TEST(DetailsFileSize, UnitsChangeOnlyAboveWholeUnits)
{
    EXPECT_EQ(OVNMediaDetails::formatFileSize(0), "0.00 Bytes");
    EXPECT_EQ(OVNMediaDetails::formatFileSize(1024), "1024.00 Bytes");
    EXPECT_EQ(OVNMediaDetails::formatFileSize(1025), "1.00 KB");
    EXPECT_EQ(OVNMediaDetails::formatFileSize(1048576), "1024.00 KB");
    EXPECT_EQ(OVNMediaDetails::formatFileSize(1048577), "1.00 MB");
    EXPECT_EQ(OVNMediaDetails::formatFileSize(5.0 * 1024 * 1024 * 1024), "5120.00 MB");
}

TEST(DetailsFileSize, StoredTextsAreReadFromTheirNumericStart)
{
    EXPECT_EQ(OVNMediaDetails::formatFileSizeString(""), "0.00 Bytes");
    EXPECT_EQ(OVNMediaDetails::formatFileSizeString("n/a"), "0.00 Bytes");
    EXPECT_EQ(OVNMediaDetails::formatFileSizeString(" 2048"), "2.00 KB");
    EXPECT_EQ(OVNMediaDetails::formatFileSizeString("1536.5 bytes"), "1.50 KB");
    EXPECT_DOUBLE_EQ(OVNMediaDetails::leadingDouble("-2.5e3x"), -2500.0);
    EXPECT_EQ(OVNMediaDetails::leadingInt(" 3rd"), 3);
    EXPECT_EQ(OVNMediaDetails::leadingInt("x3"), 0);
    EXPECT_EQ(OVNMediaDetails::leadingInt("99999999999"), INT_MAX);
}

class DetailsTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto record = source.addRecord("mid-a", "/photos/2008/Trip/beach.jpg", "1048577");
        record->insert("imagewidth", "3072");
        record->insert("imageheight", "2048");
        record->insert("cataloguedby", "Mara Vellin");
        record->insert("orientation", "6");
        record->insert("filetype", "NSImage"); // as the catalog stores a plain picture
        source.selection = {0};
        pane.resize(320, 300);
        pane.show();
        pane.setDataSource(&source);
        pane.reloadData();
    }

    QStringList column(const char *id)
    {
        QStringList values;
        for (int row = 0; row < pane.numberOfRowsInTableView(); ++row)
            values.append(pane.tableViewObjectValue(QString::fromLatin1(id), row));
        return values;
    }

    DetailsFakeDataSource source;
    OVNMediaDetails pane;
};

TEST_F(DetailsTableTest, FileInfoRows)
{
    pane.tabPressed(OVNMediaDetails::FileInfoTab);
    ASSERT_EQ(pane.numberOfRowsInTableView(), 12);
    EXPECT_EQ(column("id"),
              (QStringList{"File Info", "Catalogued By", "Volume Type", "Volume Name", "Server", "File Path",
                           "File Size", "Image Size", "File Date", "Import Date", "Media Type", "Orientation"}));
    const QStringList values = column("value");
    EXPECT_EQ(values[0], "beach.jpg");
    EXPECT_EQ(values[1], "Mara Vellin");
    EXPECT_EQ(values[5], "/photos/2008/Trip/beach.jpg");
    EXPECT_EQ(values[6], "1.00 MB");
    EXPECT_EQ(values[7], "3072x2048");
    EXPECT_EQ(values[10], "Image");
    EXPECT_EQ(values[11], "6");
    EXPECT_EQ(pane.tableViewObjectValue("other", 1), "");
    EXPECT_EQ(pane.tableViewObjectValue("value", 12), "");

    // The label column is grey throughout, the value column only in its title row.
    EXPECT_EQ(pane.tableViewBackgroundColor("id", 5), QColor::fromRgbF(0.9f, 0.9f, 0.9f));
    EXPECT_EQ(pane.tableViewBackgroundColor("value", 0), QColor::fromRgbF(0.9f, 0.9f, 0.9f));
    EXPECT_EQ(pane.tableViewBackgroundColor("value", 1), QColor(Qt::white));
}

TEST_F(DetailsTableTest, MetaDataRowsFollowTheDataSource)
{
    pane.tabPressed(OVNMediaDetails::MetaDataTab);
    EXPECT_EQ(column("id"), QStringList{"Meta Data"}); // no metadata: the title row alone
    EXPECT_EQ(column("value"), QStringList{"beach.jpg"});

    source.exifTags = {"CameraMake", "ExposureTime"};
    source.exifValues = {"Canon", "1/250 s"};
    pane.tabPressed(OVNMediaDetails::MetaDataTab);
    EXPECT_EQ(column("id"), (QStringList{"Meta Data", "CameraMake", "ExposureTime"}));
    EXPECT_EQ(column("value"), (QStringList{"beach.jpg", "Canon", "1/250 s"}));
    EXPECT_EQ(pane.tableViewObjectValue("value", 3), "");
}

TEST_F(DetailsTableTest, WithoutValueReadsOnlyLabelsShow)
{
    source.declared &= ~DetailsFakeDataSource::Capabilities(DetailsFakeDataSource::Capability::StringForID);
    source.exifTags = {"CameraMake"};
    source.exifValues = {"Canon"};
    pane.setDataSource(&source);
    pane.reloadData();
    pane.tabPressed(OVNMediaDetails::FileInfoTab);
    EXPECT_EQ(column("id").size(), 12);
    EXPECT_EQ(column("value"), QStringList(12, QString()));
    pane.tabPressed(OVNMediaDetails::MetaDataTab);
    EXPECT_EQ(column("id"), (QStringList{"Meta Data", "CameraMake"}));
    EXPECT_EQ(column("value"), (QStringList{"", ""}));
}

TEST_F(DetailsTableTest, OtherTabsAndAutoFillHaveNoRows)
{
    pane.tabPressed(OVNMediaDetails::SoldTab);
    EXPECT_EQ(pane.numberOfRowsInTableView(), 0);
    pane.tabPressed(OVNMediaDetails::FileInfoTab);
    pane.setAutoFillMode(true);
    EXPECT_EQ(pane.numberOfRowsInTableView(), 0);
}

} // namespace
