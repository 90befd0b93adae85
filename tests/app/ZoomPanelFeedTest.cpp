#include "CatalogWindowFixture.h"

#include "browser/OVNMediaView.h"
#include "viewers/OVNZoomPanel.h"

#include <QImage>

class ZoomPanelFeedTest : public CatalogWindowFixture
{
protected:
    void TearDown() override
    {
        closeWindows();
        CatalogFixture::TearDown();
    }
};

OVN_CATALOG_VENDORS(ZoomPanelFeedTest);

// The visible panel shows the one selected entry's thumbnail, nothing for none or several; a
// hidden panel is left alone.
TEST_P(ZoomPanelFeedTest, TheSingleSelectedEntryOrNothing)
{
    const QString shots = category("Shots", "C");
    QStringList mids;
    for (const char *name : {"a", "b"}) {
        QVariantMap record = importRecord(shots, QString::fromLatin1(name));
        record.insert("thumbimage", filledJpeg({160, 120}, Qt::darkGreen, 90));
        mids.append(db.addMediaListEntry(record));
        ASSERT_FALSE(mids.last().isEmpty()) << qPrintable(db.getLastErrorMessage());
    }
    OVNZoomPanel panel;
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shots));
    OVNMediaView *view = window->mediaView();
    // Selects those rows, as a click does, telling the window.
    auto select = [&](std::initializer_list<int> entries) {
        view->deselectAll();
        for (int entry : entries)
            view->selectRow(view->rowForMid(mids[entry]));
        window->ovnMediaViewSelectionDidChange(view);
    };
    select({0});
    EXPECT_TRUE(panel.image().isNull()) << "a hidden panel was fed";
    panel.makeKeyAndOrderFront();
    window->mediaDelegate().loadZoomPanelImage();
    EXPECT_EQ(panel.image().size(), QSize(160, 120));
    const struct {
        std::initializer_list<int> selected;
        bool shown;
    } cases[] = {{{0, 1}, false}, {{1}, true}, {{}, false}, {{0}, true}};
    for (const auto &c : cases) {
        select(c.selected);
        EXPECT_EQ(!panel.image().isNull(), c.shown) << c.selected.size() << " selected";
    }
}
