// What the thumbnail view and the preview image draw, probed on offscreen renders. Positions come
// from the designs' upward-measured numbers, turned into Qt's rows.
#include "MediaViewTestSupport.h"

#include "browser/OVNMediaPreviewImage.h"
#include "browser/OVNThumbnail.h"
#include "uikit/DrawingKit.h"

#include <gtest/gtest.h>

#include <QPainter>

namespace {

const QColor messageBox = QColor::fromRgbF(0.6f, 0.67f, 0.77f, 1.0f);

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

class MediaViewDrawing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        view.setDelegate(&delegate);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setThumbnailLoadBudgetMs(0);
        view.resize(455, 320);
        view.setThumbnailStyle(0);
        view.setThumbnailWidth(100);
    }
    QImage shot() { return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    CountingDelegate delegate;
    OVNMediaView view;
};

TEST_F(MediaViewDrawing, AllFourBuiltInLayoutsStandInWithoutStoredOnes)
{
    ASSERT_EQ(view.layoutSettings().size(), 4);
    EXPECT_EQ(view.layoutSettings().at(3).toMap().value("NAME").toString(), "List View");
    // The contact sheet paints the view black; the list style gets the list layout.
    EXPECT_EQ(view.backgroundColor(), QColor(Qt::black));
    view.setThumbnailStyle(3);
    const auto *renderer = dynamic_cast<OVNThumbnail *>(view.thumbnailRenderer());
    ASSERT_NE(renderer, nullptr);
    EXPECT_EQ(renderer->layoutSelection(), 1);
    EXPECT_EQ(view.thumbnailWidth(), 400);
    EXPECT_EQ(view.backgroundColor(), QColor(Qt::white));
}

TEST_F(MediaViewDrawing, SelectionFrameIsTwoPointsInsideTheCell)
{
    view.setMediaContainer(makeList(6));
    view.selectImage(1, true, false);
    const QImage image = shot();
    const QRectF selected = view.imageRectInViewport(1);
    const int y = int(selected.center().y());
    const int x = int(selected.left());
    EXPECT_EQ(image.pixelColor(x, y), view.selectionColor().rgb());
    EXPECT_EQ(image.pixelColor(x + 1, y), view.selectionColor().rgb());
    EXPECT_NE(image.pixelColor(x + 2, y), view.selectionColor().rgb());
    EXPECT_EQ(image.pixelColor(int(selected.center().x()), int(selected.top())), view.selectionColor().rgb());
    const QRectF other = view.imageRectInViewport(0);
    EXPECT_NE(image.pixelColor(int(other.left()), y), view.selectionColor().rgb());
    // The cell itself is the renderer's: the red thumbnail in its middle.
    EXPECT_TRUE(near(image.pixelColor(int(other.center().x()), int(other.center().y())), Qt::red, 40));
}

TEST_F(MediaViewDrawing, RatingSquaresOfTheViewHangFromTheTopEdge)
{
    QImage image(120, 40, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        // Three 7-point squares at x, x + 8 and x + 16 in a rectangle 13 high.
        OVNMediaView::drawRatingMarker(painter, 3, QRectF(10, 20, 100, 13));
    }
    const QColor blue = DrawingKit::selectedControlColor();
    EXPECT_EQ(image.pixelColor(10, 21), blue.rgb());
    EXPECT_EQ(image.pixelColor(13, 24), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(18 + 3, 24), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(26 + 3, 24), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(34 + 3, 24), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(13, 20), QColor(Qt::black));

    // A stored 9 draws five, never more.
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        OVNMediaView::drawRatingMarker(painter, 9, QRectF(10, 20, 100, 13));
    }
    EXPECT_EQ(image.pixelColor(42 + 3, 24), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(50 + 3, 24), QColor(Qt::black));
}

TEST_F(MediaViewDrawing, FilmRollRatingAndStackMarkers)
{
    auto list = makeList(6);
    list->at(1)->insert("rating", "2");
    view.setDisplayType(1);
    view.resize(700, 320);
    view.setMediaContainer(list);
    QImage image = shot();
    const QRectF cell = view.imageRectInViewport(1);
    // Squares of 6 at (X + 3, Y + H - 25, W, 12) measured upward: 14 points below the cell's top.
    const int top = int(cell.top()) + 14;
    EXPECT_EQ(image.pixelColor(int(cell.left()) + 3, top), DrawingKit::selectedControlColor().rgb());
    EXPECT_EQ(image.pixelColor(int(cell.left()) + 3 + 3, top + 3), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(int(cell.left()) + 10 + 3, top + 3), QColor(Qt::white));
    EXPECT_NE(image.pixelColor(int(cell.left()) + 17 + 3, top + 3), QColor(Qt::white));

    // A grid stack: the member after the keyframe bridges the gap in grey 0.7.
    view.setDisplayType(0);
    view.setThumbnailWidth(100);
    view.resize(455, 320);
    view.setMediaContainer(list);
    view.createGroupWithItems({1, 2});
    image = shot();
    const QRectF member = view.imageRectInViewport(2);
    const QColor band = QColor::fromRgbF(0.7f, 0.7f, 0.7f);
    EXPECT_TRUE(near(image.pixelColor(int(member.left()) - 5, int(member.center().y()) - 20), band, 1));
    // The stack frame lies over the cell, 2 points in from its top.
    EXPECT_TRUE(near(image.pixelColor(int(member.center().x()), int(member.top()) + 2), band, 1));
}

TEST_F(MediaViewDrawing, MessagesAndLiveResize)
{
    view.setShowEmptySetMessage(true);
    view.setMediaContainer(makeList(0));
    QImage image = shot();
    const QPoint middle(view.viewport()->width() / 2, view.viewport()->height() / 2 - 8);
    const QPoint boxEdge(view.viewport()->width() / 2, view.viewport()->height() / 2 + 8);
    EXPECT_TRUE(near(image.pixelColor(boxEdge), messageBox, 2) || near(image.pixelColor(middle), messageBox, 2));
    view.setShowEmptySetMessage(false);
    image = shot();
    EXPECT_EQ(image.pixelColor(boxEdge), view.backgroundColor().rgb());

    view.setMediaContainer(makeList(3));
    view.resize(80, 320);
    image = shot();
    EXPECT_TRUE(near(image.pixelColor(view.viewport()->width() / 2, view.viewport()->height() / 2 + 8), messageBox, 2));

    // Every position of a drawn line is outlined, past the last item too.
    view.resize(455, 320);
    view.viewWillStartLiveResize();
    image = shot();
    const QRectF empty = view.imageRectInViewport(3);
    EXPECT_EQ(image.pixelColor(int(empty.left()), int(empty.center().y())), DrawingKit::lightGrayColor().rgb());
    view.viewDidEndLiveResize();
    image = shot();
    EXPECT_EQ(image.pixelColor(int(empty.left()), int(empty.center().y())), view.backgroundColor().rgb());
}

TEST(MediaPreviewImage, FitsCentresAndMarksTheRating)
{
    // Smaller than the view: its own size, centred; larger: reduced, proportions kept.
    EXPECT_EQ(OVNMediaPreviewImage::imageRectFor(QSizeF(100, 50), QSizeF(300, 200)), QRectF(100, 75, 100, 50));
    EXPECT_EQ(OVNMediaPreviewImage::imageRectFor(QSizeF(600, 200), QSizeF(300, 200)), QRectF(0, 50, 300, 100));

    OVNMediaPreviewImage preview;
    preview.resize(200, 100);
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::black);
    preview.setImage(picture, 3);
    QImage image = preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Squares of 8 points, 9 apart, centred: the first at ceil(100 - 22.5) = 78, 15 above the bottom.
    const QRectF strip(0, 84, 200, 16);
    EXPECT_EQ(OVNMediaPreviewImage::ratingSquare(strip, 0), QRectF(78, 85, 8, 8));
    const QColor blue = DrawingKit::selectedControlColor();
    for (int i = 0; i < 5; ++i) {
        const QRectF square = OVNMediaPreviewImage::ratingSquare(strip, i);
        EXPECT_EQ(image.pixelColor(int(square.left()), int(square.top())), QColor(Qt::white)) << i;
        EXPECT_EQ(image.pixelColor(int(square.center().x()), int(square.center().y())),
                  i < 3 ? blue.rgb() : QColor(Qt::black).rgb())
            << i;
    }
    // setImage without a rating clears the marker.
    preview.setImage(picture);
    image = preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.pixelColor(78, 85), QColor(Qt::black));
    // Without an image only the background is drawn, whatever the rating.
    preview.setImage(QImage(), 5);
    image = preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.pixelColor(78, 85), QColor(Qt::white));
}

} // namespace

// Over a name drawn cut short the view's tooltip is the whole name; over one that fits, or over no
// cell, there is none.
TEST_F(MediaViewDrawing, ACutNameIsTheTooltipOfItsCell)
{
    const QString longName = QStringLiteral("A holiday picture with a very long name_0001.JPG");
    auto list = std::make_shared<MediaList>();
    list->append(makeRecord(longName, "1"));
    list->append(makeRecord("IMG_2.jpg", "2"));
    view.setMediaContainer(list);
    shot();
    const auto *renderer = dynamic_cast<OVNThumbnail *>(view.thumbnailRenderer());
    ASSERT_NE(renderer, nullptr);
    const QRectF nameBar =
        DrawingKit::flippedRect(renderer->geometryForPicture(QSizeF(16, 12)).nameBar, renderer->height());
    const QString expected[] = {longName, QString()};
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(view.toolTipAt(view.imageRectInViewport(row).topLeft() + nameBar.center()), expected[row]) << row;
    EXPECT_EQ(view.toolTipAt(QPointF(view.width() - 2, view.height() - 2)), QString());
}

// The compact cells of the express panel keep every text and sign whole inside the cell and apart,
// for landscape, portrait and large pictures, at the panel's width and at larger ones: a pixel size
// or a duration shows whole or as an ellipsis, never cut.
TEST_F(MediaViewDrawing, CompactCellFieldsFitEveryPictureShape)
{
    view.setThumbnailStyle(OVNMediaView::CompactStyle);
    const auto record = [](QSize size, bool movie) {
        MediaRecord r;
        r.insert("displaytag", movie ? "A holiday movie with a long name_0001.MP4" : "IMG_0003.CR2");
        r.insert("imagewidth", QString::number(size.width()));
        r.insert("imageheight", QString::number(size.height()));
        r.insert("filetype", movie ? "Movie;3725" : "Image");
        r.insert("filesize", "23456789");
        r.insert("rating", "5");
        return r;
    };
    for (const int width : {48, 80, 128, 256}) {
        view.setThumbnailWidth(width);
        const QRectF cell = view.imageRect(0).translated(17, 23);
        for (const QSize shape : {QSize(320, 240), QSize(720, 1280), QSize(3000, 2000), QSize(3000, 1000)}) {
            for (const bool movie : {true, false}) {
                const QList<OVNCellField> fields = view.expressCellFields(cell, shape, record(shape, movie));
                ASSERT_FALSE(fields.isEmpty());
                for (qsizetype i = 0; i < fields.size(); ++i) {
                    const OVNCellField &a = fields[i];
                    if (!a.isShown())
                        continue;
                    const QString at = QStringLiteral("cell %1, %2x%3, \"%4\"")
                                           .arg(width)
                                           .arg(shape.width())
                                           .arg(shape.height())
                                           .arg(a.shown);
                    EXPECT_TRUE(cell.contains(a.rect)) << qPrintable(at);
                    if (a.kind == OVNCellField::Kind::Text && a.elide == Qt::ElideNone) {
                        EXPECT_TRUE(a.shown == a.whole || a.shown == QString(QChar(0x2026))) << qPrintable(at);
                    }
                    for (qsizetype j = i + 1; j < fields.size(); ++j) {
                        if (fields[j].isShown()) {
                            EXPECT_FALSE(a.rect.intersects(fields[j].rect))
                                << qPrintable(at) << " over " << qPrintable(fields[j].shown);
                        }
                    }
                }
            }
        }
    }
    // At the panel's width a landscape movie shows its pixel size and duration whole.
    view.setThumbnailWidth(80);
    QStringList shown;
    for (const OVNCellField &field : view.expressCellFields(view.imageRect(0), {320, 240}, record({320, 240}, true)))
        if (field.isShown() && field.kind == OVNCellField::Kind::Text && field.elide == Qt::ElideNone)
            shown << field.shown;
    EXPECT_EQ(shown, QStringList({"320x240", "01:02:05"}));
}

// The express panel's compact cell of a panoramic movie, at the smallest width and at one a little
// under the first-run size: the picture is too low for both bands, and the bottom one keeps the
// movie sign; a duration that does not fit beside it shows as an ellipsis.
TEST_F(MediaViewDrawing, ACompactPanoramicMovieCellAlwaysShowsTheMovieSign)
{
    view.setThumbnailStyle(OVNMediaView::CompactStyle);
    MediaRecord movie;
    movie.insert("displaytag", "A panorama of the whole bay from the hill_0001.MP4");
    movie.insert("imagewidth", "1920");
    movie.insert("imageheight", "360");
    movie.insert("filetype", "Movie;3725");
    movie.insert("rating", "4");
    for (const int width : {48, 118}) {
        SCOPED_TRACE(width);
        view.setThumbnailWidth(width);
        const QList<OVNCellField> fields = view.expressCellFields(view.imageRect(0), {1920, 360}, movie);
        bool sign = false;
        for (const OVNCellField &field : fields) {
            sign = sign || (field.kind == OVNCellField::Kind::MovieSign && field.isShown());
            if (field.kind == OVNCellField::Kind::Text && field.isShown() && field.shown != field.whole) {
                EXPECT_TRUE(field.shown.contains(QChar(0x2026))) << qPrintable(field.shown);
            }
        }
        EXPECT_TRUE(sign);
    }
}
