#include "MediaViewTestSupport.h"

#include "../support/TestEnvironment.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {

// A delegate that can change its mind about what it answers.
class FickleDelegate : public CountingDelegate
{
public:
    using CountingDelegate::CountingDelegate;
    void setAnswers(Capabilities answers) { m_answers = answers; }
};

TEST(MediaViewDelegate, FrequentMessagesAreAskedOnceWhenTheDelegateIsSet)
{
    FickleDelegate delegate(OVNMediaViewDelegate::SelectionDidChange);
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setMediaContainer(makeList(3));

    // Gaining the thumbnail message later changes nothing until the delegate is set again.
    delegate.setAnswers(OVNMediaViewDelegate::SelectionDidChange | OVNMediaViewDelegate::ThumbnailData);
    EXPECT_TRUE(view.imageForRow(0).isNull());
    EXPECT_EQ(delegate.thumbnailRequests.load(), 0);
    view.setDelegate(&delegate);
    EXPECT_FALSE(view.imageForRow(0).isNull());
    EXPECT_EQ(delegate.thumbnailRequests.load(), 1);

    // Losing the selection message only counts once the delegate is set again.
    delegate.setAnswers(OVNMediaViewDelegate::ThumbnailData);
    view.notifySelectionDidChange();
    EXPECT_EQ(delegate.selectionChanges, 1);
    view.setDelegate(&delegate);
    view.notifySelectionDidChange();
    EXPECT_EQ(delegate.selectionChanges, 1);
}

TEST(MediaViewDelegate, NoDelegateAndMissingMessagesAreHarmless)
{
    OVNMediaView view;
    view.setMediaContainer(makeList(3));
    view.notifySelectionDidChange();
    EXPECT_TRUE(view.imageForRow(1).isNull());

    CountingDelegate only(OVNMediaViewDelegate::SelectionDidChange);
    view.setDelegate(&only);
    view.notifySelectionDidChange();
    EXPECT_EQ(only.selectionChanges, 1);
    EXPECT_EQ(only.thumbnailRequests.load(), 0);
    view.setDelegate(nullptr);
    view.notifySelectionDidChange();
    EXPECT_EQ(only.selectionChanges, 1);
}

TEST(MediaViewDelegate, PaintingAsksOnlyForExposedCells)
{
    UserDefaults::standard().registerDefaults({{"AssetBackgroundLoader", "1"}});
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    // Every exposed cell in one repaint, however loaded the machine is.
    view.setThumbnailLoadBudgetMs(0);
    view.resize(560, 420); // about 4 columns and 3 lines of 100 x 140 cells
    view.show();
    view.setMediaContainer(makeList(100000));
    const QPixmap shot = view.grab();
    EXPECT_FALSE(shot.isNull());
    const int asked = delegate.thumbnailRequests.load();
    EXPECT_GT(asked, 0);
    EXPECT_LE(asked, 5 * 4);
    // A drawn cell is no longer the background.
    const QImage image = shot.toImage();
    EXPECT_NE(image.pixelColor(60, 50), view.backgroundColor());

    // Scrolling far down asks for the cells that come into view, and no others.
    view.scrollRowToVisible(99999);
    view.grab();
    EXPECT_LE(delegate.thumbnailRequests.load(), asked + 5 * 4);
    EXPECT_TRUE(delegate.requestedIds().contains(QStringLiteral("100000")));
}

TEST(MediaViewDelegate, FilmRollCellsComeFromTheThumbnail)
{
    OVNMediaView view;
    view.setDisplayType(1);
    auto list = makeList(2);
    list->at(0)->insert(QStringLiteral("thumbimage"), smallJpeg(Qt::green));
    view.setMediaContainer(list);
    EXPECT_TRUE(view.imageForRow(1).isNull());
    const QImage roll = view.makeRollImage(view.imageForRow(0), QStringLiteral("one"));
    ASSERT_FALSE(roll.isNull());
    EXPECT_EQ(roll.size(), QSize(130, 140));
    EXPECT_EQ(roll.pixelColor(3, 4), QColor(Qt::white));      // a sprocket hole
    EXPECT_EQ(roll.pixelColor(8, 4), view.backgroundColor()); // between holes
    EXPECT_GT(roll.pixelColor(65, 70).green(), 200);          // the picture
}

} // namespace
