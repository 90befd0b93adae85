// The cell renderer and the built-in layouts: geometry from the layouts' numbers (turned into the
// cell image's y-down rows where pixels are probed), field texts, rating squares and list lines.
#include "browser/OVNThumbnail.h"
#include "browser/OVNThumbnailHelper.h"
#include "formats/OVNHelper.h"
#include "platform/MediaRecord.h"
#include "uikit/DrawingKit.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <algorithm>

namespace {

MediaRecord record(const QVariantMap &fields)
{
    MediaRecord r;
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        r.insert(it.key(), it.value());
    return r;
}

QImage picture(int w, int h, QColor color = Qt::red)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A pixel at a point given y up from the cell's bottom edge.
QColor pixelUp(const QImage &cell, int x, int yUp) { return cell.pixelColor(x, cell.height() - 1 - yUp); }

} // namespace

TEST(OVNThumbnailHelperTest, BuiltInLayoutsCarryTheirValues)
{
    const QVariantMap sheet = OVNThumbnailHelper::getLayoutForThumbnail(0);
    EXPECT_EQ(sheet.value("NAME").toString(), "Contact Sheet");
    EXPECT_EQ(sheet.value("udfEnableFrame").toString(), "1");
    EXPECT_EQ(sheet.value("udfManualSpacing").toString(), "10");
    EXPECT_EQ(sheet.value("udfNameBarMiddle").toString(), "1");
    EXPECT_EQ(sheet.value("udfNameBarFont").toMap().value("SIZE").toString(), "10.0000");
    EXPECT_FALSE(sheet.contains("udfListLine1"));

    const QVariantMap plain = OVNThumbnailHelper::getLayoutForThumbnail(1);
    EXPECT_EQ(plain.value("udfBackgroundColor").toMap().value("RED").toString(), "0.8800");
    EXPECT_EQ(plain.value("udfEnableShadow").toString(), "1");

    const QVariantMap titled = OVNThumbnailHelper::getLayoutForThumbnail(2);
    EXPECT_EQ(titled.value("udfTopBarLeft").toString(), "3");
    EXPECT_EQ(titled.value("udfTopBarRight").toString(), "4");
    EXPECT_EQ(titled.value("udfBottomBarRight").toString(), "8");
    EXPECT_EQ(titled.value("udfTopBarBGColor").toMap().value("ALPHA").toString(), "0.3000");

    const QVariantMap list = OVNThumbnailHelper::getLayoutForThumbnail(3);
    EXPECT_EQ(list.value("NAME").toString(), "List View");
    EXPECT_EQ(list.value("udfLayoutSelection").toString(), "1");
    for (int line = 1; line <= 7; ++line)
        EXPECT_EQ(list.value(QStringLiteral("udfListLine%1").arg(line)).toString(), QString::number(line));

    EXPECT_TRUE(OVNThumbnailHelper::getLayoutForThumbnail(4).isEmpty());
    EXPECT_TRUE(OVNThumbnailHelper::getLayoutForThumbnail(-1).isEmpty());
}

TEST(OVNThumbnailHelperTest, MoviesAndRatings)
{
    EXPECT_TRUE(OVNThumbnailHelper::isMovieFileType("Movie"));
    EXPECT_FALSE(OVNThumbnailHelper::isMovieFileType("Mov"));
    EXPECT_FALSE(OVNThumbnailHelper::isMovieFileType("Image"));
    EXPECT_EQ(OVNThumbnailHelper::movieDurationSeconds("Movie"), 0);
    EXPECT_EQ(OVNThumbnailHelper::movieDurationSeconds("Movie;23788"), 23788);
    EXPECT_EQ(OVNThumbnailHelper::durationText(23788), "06:36:28");
    EXPECT_EQ(OVNThumbnailHelper::durationText(0), "");
    EXPECT_EQ(OVNThumbnailHelper::drawnRating("3"), 3);
    EXPECT_EQ(OVNThumbnailHelper::drawnRating("9"), 5);
    EXPECT_EQ(OVNThumbnailHelper::drawnRating("-2"), 0);
    EXPECT_EQ(OVNThumbnailHelper::drawnRating(""), 0);
}

TEST(OVNThumbnailTest, PortraitPictureInAContactSheetCell)
{
    OVNThumbnail renderer;
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(0));
    EXPECT_EQ(renderer.width(), 80);
    const qreal nh = renderer.nameBarHeight();
    const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(60, 90));
    EXPECT_EQ(g.area, QRectF(2, 2 + nh + 2, 76, 76 - nh - 2));
    EXPECT_LT(g.fitted.width(), 76);
    EXPECT_EQ(g.fitted.height(), g.area.height());
    EXPECT_EQ(g.fitted.x(), std::floor((76 - g.fitted.width()) / 2));
    // Full-size frame: the name bar keeps its place below the area, the frame is the area.
    EXPECT_EQ(g.nameBar, QRectF(2, 2, 80, nh));
    EXPECT_EQ(g.frame, g.area);
}

TEST(OVNThumbnailTest, FittingFloorsAndCentresFromTheCellEdge)
{
    EXPECT_EQ(OVNThumbnail::fitPicture(QRectF(2, 2, 76, 76), QSizeF(200, 100)), QRectF(2, 2 + 19, 76, 38));
    EXPECT_EQ(OVNThumbnail::fitPicture(QRectF(2, 2, 76, 76), QSizeF(100, 200)), QRectF(19, 2, 38, 76));
    EXPECT_EQ(OVNThumbnail::fitPicture(QRectF(2, 2, 76, 76), QSizeF(50, 50)), QRectF(2, 2, 76, 76));
}

TEST(OVNThumbnailTest, NameBarFollowsThePictureWhenTheFrameDoes)
{
    OVNThumbnail renderer;
    renderer.setWidth(128);
    renderer.setHeight(128);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(2));
    const qreal nh = renderer.nameBarHeight();
    const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(256, 128));
    EXPECT_EQ(g.frame, g.fitted);
    EXPECT_EQ(g.nameBar.y(), g.fitted.y() - nh - 2);
    EXPECT_EQ(g.topBar, QRectF(g.frame.x() + 1, g.frame.bottom() - renderer.topBarHeight() - 1, g.frame.width() - 2,
                               renderer.topBarHeight()));
    EXPECT_EQ(g.bottomBar, QRectF(g.frame.x() + 1, g.frame.y() + 1, g.frame.width() - 2, renderer.bottomBarHeight()));
}

TEST(OVNThumbnailTest, ListPanelAndItsLines)
{
    OVNThumbnail renderer;
    renderer.setWidth(400);
    renderer.setHeight(100);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(3));
    const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(100, 100));
    EXPECT_EQ(g.area, QRectF(2, 2, 96, 96));
    EXPECT_EQ(g.listPanel, QRectF(110, 2, 288, 96));

    // The editor's preview at 130 by 130 leaves the panel no width.
    renderer.setWidth(130);
    renderer.setHeight(130);
    EXPECT_EQ(renderer.geometryForPicture(QSizeF(10, 10)).listPanel, QRectF(140, 2, -12, 126));

    EXPECT_EQ(OVNThumbnail::titleForTag(5), "Catalog Date:");
    EXPECT_EQ(OVNThumbnail::titleForTag(0), "");
    EXPECT_EQ(OVNThumbnail::titleForTag(9), "");
    const MediaRecord r = record({{"displaytag", "a.jpg"},
                                  {"imagewidth", "1024"},
                                  {"imageheight", "768"},
                                  {"filesize", "584774"},
                                  {"fulldesc", "Low tide"}});
    EXPECT_EQ(renderer.infoForTag(3, r), "1024 x 768, 0.6 MB");
    EXPECT_EQ(renderer.infoForTag(7, r), "Low tide");
    EXPECT_EQ(renderer.infoForTag(6, r), "");
    EXPECT_EQ(renderer.infoForTag(2, r), "Image");
}

TEST(OVNThumbnailTest, BarFieldTexts)
{
    const MediaRecord r = record({{"displaytag", "IMG_1.JPG"},
                                  {"imagewidth", "1024"},
                                  {"imageheight", "768"},
                                  {"filesize", "584774"},
                                  {"filetype", "Movie;23788"},
                                  {"dts", "2024-06-01"}});
    EXPECT_EQ(OVNThumbnail::barFieldText(1, r), "IMG_1.JPG");
    EXPECT_EQ(OVNThumbnail::barFieldText(4, r), "1024x768");
    EXPECT_EQ(OVNThumbnail::barFieldText(5, r), "0.6MB");
    EXPECT_EQ(OVNThumbnail::barFieldText(6, r), "2024-06-01");
    EXPECT_EQ(OVNThumbnail::barFieldText(8, r), "06:36:28");
    const MediaRecord none =
        record({{"imagewidth", "0"}, {"imageheight", "0"}, {"filesize", "0"}, {"filetype", "Mov"}});
    EXPECT_EQ(OVNThumbnail::barFieldText(4, none), "");
    EXPECT_EQ(OVNThumbnail::barFieldText(5, none), "");
    EXPECT_EQ(OVNThumbnail::barFieldText(8, none), "");
    EXPECT_EQ(OVNThumbnail::barFieldText(8, record({{"filetype", "Movie"}})), "");
}

TEST(OVNThumbnailTest, RatingSquaresByAlignment)
{
    const QRectF bar(20, 30, 60, 10);
    // Side floor(10 / 2) = 5, hanging from the top; placed within the bar, wherever it starts.
    EXPECT_EQ(OVNThumbnail::ratingSquare(bar, 0, 0), QRectF(20, 34, 5, 5));
    EXPECT_EQ(OVNThumbnail::ratingSquare(bar, 0, 2), QRectF(32, 34, 5, 5));
    EXPECT_EQ(OVNThumbnail::ratingSquare(bar, 2, 0), QRectF(20 + 30 - 15, 34, 5, 5));
    EXPECT_EQ(OVNThumbnail::ratingSquare(bar, 1, 0), QRectF(20 + 60 - 30, 34, 5, 5));
    EXPECT_EQ(OVNThumbnail::movieSymbolX(bar, 0), 20);
    EXPECT_EQ(OVNThumbnail::movieSymbolX(bar, 2), 40);
    EXPECT_EQ(OVNThumbnail::movieSymbolX(bar, 1), 60);
}

TEST(OVNThumbnailTest, SizeLabelIsUprightAndClearOfTheRating)
{
    struct Case {
        const char *width, *height, *orientation, *shown;
    };
    const Case cases[] = {
        {"4000", "3000", "1", "4000x3000"},
        {"4000", "3000", "6", "3000x4000"},
        {"4000", "3000", "8", "3000x4000"},
        {"4000", "3000", "3", "4000x3000"},
        {"4000", "3000", "5", "3000x4000"},
        {"4000", "3000", "", "4000x3000"},
        {"0", "0", "6", ""},
    };
    for (const Case &c : cases) {
        const MediaRecord r =
            record({{"imagewidth", c.width}, {"imageheight", c.height}, {"orientation", c.orientation}});
        EXPECT_EQ(OVNThumbnail::barFieldText(4, r), c.shown) << c.orientation;
    }
}

// Every style's texts, squares and signs lie whole inside the cell and none over another, for
// landscape, portrait and large pictures at every size the slider offers; a number is shown whole
// or as an ellipsis, never cut; at the first-run size the pixel size and the duration show whole.
TEST(OVNThumbnailTest, CellFieldsFitEveryStyleAndPictureShape)
{
    const QSize pictures[] = {{320, 240}, {720, 1280}, {3000, 2000}, {3000, 1000}};
    const auto movie = [](QSize size) {
        return record({{"displaytag", "A holiday movie with a long name_0001.MP4"},
                       {"imagewidth", QString::number(size.width())},
                       {"imageheight", QString::number(size.height())},
                       {"filetype", "Movie;3725"},
                       {"filesize", "123456789"},
                       {"rating", "5"},
                       {"dts", "2026-12-08 10:11:12"},
                       {"filedts", "2026-12-01 09:00:00"},
                       {"keywords", "beach, tide, evening, family, a long list of words"},
                       {"fulldesc", "Low tide at the end of the day, the whole family on the sand"}});
    };
    const auto picture = [](QSize size) {
        return record({{"displaytag", "IMG_0003.JPG"},
                       {"imagewidth", QString::number(size.width())},
                       {"imageheight", QString::number(size.height())},
                       {"filetype", "Image"},
                       {"rating", "3"}});
    };
    for (int style = 0; style <= 3; ++style) {
        for (const int size : {48, 64, 80, 100, 120, 128, 160, 200, 256}) {
            OVNThumbnail renderer;
            renderer.setWidth(style == 3 ? size + 300 : size);
            renderer.setHeight(size);
            renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(style));
            const QRectF cell(0, 0, renderer.width(), renderer.height());
            for (const QSize shape : pictures) {
                for (const MediaRecord &r : {movie(shape), picture(shape)}) {
                    const QString at = QStringLiteral("style %1, cell %2, picture %3x%4, %5")
                                           .arg(style)
                                           .arg(size)
                                           .arg(shape.width())
                                           .arg(shape.height())
                                           .arg(r.string("displaytag"));
                    const QList<OVNCellField> fields = renderer.cellFields(QSizeF(shape), r);
                    for (qsizetype i = 0; i < fields.size(); ++i) {
                        const OVNCellField &a = fields[i];
                        if (!a.isShown())
                            continue;
                        EXPECT_TRUE(cell.contains(a.rect)) << qPrintable(at) << " field " << a.code;
                        if (a.kind == OVNCellField::Kind::Text && a.elide == Qt::ElideNone) {
                            EXPECT_TRUE(a.shown == a.whole || a.shown == QString(QChar(0x2026)))
                                << qPrintable(at) << ": " << qPrintable(a.shown);
                        }
                        if (a.kind == OVNCellField::Kind::Text) {
                            EXPECT_LE(QFontMetricsF(a.font).horizontalAdvance(a.shown), a.rect.width() + 0.01)
                                << qPrintable(at) << ": " << qPrintable(a.shown);
                        }
                        for (qsizetype j = i + 1; j < fields.size(); ++j) {
                            if (fields[j].isShown()) {
                                EXPECT_FALSE(a.rect.intersects(fields[j].rect))
                                    << qPrintable(at) << ": " << qPrintable(a.shown) << " over "
                                    << qPrintable(fields[j].shown);
                            }
                        }
                    }
                }
            }
        }
    }

    // "Plain Image View with Title" at the first-run size: the movie's pixel size and duration whole.
    OVNThumbnail renderer;
    renderer.setWidth(120);
    renderer.setHeight(120);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(2));
    for (const QSize shape : {QSize(320, 240), QSize(720, 1280)}) {
        QStringList shown;
        for (const OVNCellField &field : renderer.cellFields(QSizeF(shape), movie(shape)))
            if (field.isShown() && (field.code == 4 || field.code == 8))
                shown << field.shown;
        EXPECT_EQ(shown, QStringList({QStringLiteral("%1x%2").arg(shape.width()).arg(shape.height()), "01:02:05"}))
            << shape.width();
    }
}

TEST(OVNThumbnailTest, CellPixels)
{
    OVNThumbnail renderer;
    renderer.setWidth(128);
    renderer.setHeight(128);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(2));
    const MediaRecord r = record({{"displaytag", "IMG_0003.JPG"}, {"rating", "9"}, {"filetype", "Image"}});
    const QImage pic = picture(256, 128, QColor(200, 0, 0));
    const QImage cell = renderer.createThumbnailForImage(pic, r);
    ASSERT_EQ(cell.size(), QSize(128, 128));
    const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(pic.size()));

    // White background, black frame line on the fitted picture, the picture inside it.
    EXPECT_EQ(pixelUp(cell, 1, 1), QColor(Qt::white));
    EXPECT_EQ(pixelUp(cell, int(g.frame.x()), int(g.frame.center().y())), QColor(Qt::black));
    EXPECT_EQ(pixelUp(cell, int(g.frame.center().x()), int(g.frame.center().y())), QColor(200, 0, 0));

    // A stored rating of 9 draws five white squares outlined in the selection blue, no sixth.
    const QRectF bar = g.topBar;
    for (int i = 0; i < 6; ++i) {
        const QRectF square = OVNThumbnail::ratingSquare(bar, 0, i);
        const QColor outline = pixelUp(cell, int(square.x()), int(square.y()));
        const QColor inside = pixelUp(cell, int(square.center().x()), int(square.center().y()));
        if (i < 5) {
            EXPECT_EQ(outline, DrawingKit::selectedControlColor().rgb()) << i;
            EXPECT_EQ(inside, QColor(Qt::white)) << i;
        } else {
            EXPECT_NE(inside, QColor(Qt::white)) << i;
        }
    }

    // The name is drawn whole in its bar, the underscore included: dark pixels reach the bar's lower rows.
    const QRectF name = DrawingKit::flippedRect(g.nameBar, 128);
    int lowest = -1;
    for (int y = int(name.top()); y < int(name.bottom()); ++y)
        for (int x = 0; x < 128; ++x)
            if (qGray(cell.pixel(x, y)) < 100)
                lowest = y;
    EXPECT_GE(lowest, int(name.top()) + int(renderer.nameBarHeight()) - 3);
}

TEST(OVNThumbnailTest, EmptyLayoutDrawsATransparentCell)
{
    OVNThumbnail renderer;
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(4));
    const QImage cell = renderer.createThumbnailForImage(picture(10, 10), record({{"displaytag", "x"}}));
    EXPECT_EQ(qAlpha(cell.pixel(1, 1)), 0);
    EXPECT_EQ(cell.pixelColor(40, 40), QColor(Qt::red)); // the picture, with nothing over it
    // A layout without a font names Helvetica-Bold 10.
    EXPECT_EQ(renderer.nameBarHeight(), renderer.topBarHeight());
}

TEST(OVNThumbnailTest, PlainImageViewCastsItsShadowDownRight)
{
    OVNThumbnail renderer;
    renderer.setWidth(100);
    renderer.setHeight(100);
    renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(1));
    const QImage pic = picture(200, 100, QColor(0, 0, 200));
    const QImage cell = renderer.createThumbnailForImage(pic, record({{"displaytag", "a.jpg"}}));
    const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(pic.size()));
    // No name bar: the picture fills the area's width, centred in its height, framed in black.
    EXPECT_EQ(g.fitted, QRectF(2, 2 + 24, 96, 48));
    EXPECT_EQ(g.frame, g.fitted);
    const QColor grey = QColor::fromRgbF(0.88f, 0.88f, 0.88f);
    EXPECT_TRUE(qAbs(qGray(pixelUp(cell, 50, 5).rgb()) - qGray(grey.rgb())) <= 1);
    // Offset (2, -2): the blurred shadow is darker right of and below the picture than left of
    // and above it.
    const int left = int(g.fitted.x()) - 2;
    const int right = int(g.fitted.right()) + 1;
    const int below = int(g.fitted.y()) - 2;
    const int above = int(g.fitted.bottom()) + 1;
    EXPECT_LT(qGray(pixelUp(cell, right, 50).rgb()), qGray(pixelUp(cell, left, 50).rgb()));
    EXPECT_LT(qGray(pixelUp(cell, 50, below).rgb()), qGray(pixelUp(cell, 50, above).rgb()));
    EXPECT_LT(qGray(pixelUp(cell, right, 50).rgb()), qGray(grey.rgb()) - 20);
}

// A name too long for its place is cut with an ellipsis, and the whole of it is what the cell
// answers for a tooltip there; a name that fits answers nothing. In the list layout the underscore
// of "100_0306.AVI" is drawn, not clipped by the line below it.
TEST(OVNThumbnailTest, CutNamesAnswerTheirWholeTextAndUnderscoresShow)
{
    const QString longName = QStringLiteral("A holiday picture with a very long name_0001.JPG");
    const QImage pic = picture(256, 128);
    struct Case {
        int layout;
        QString name;
        bool cut;
    };
    const Case cases[] = {
        {2, "IMG_0003.JPG", false}, {2, longName, true}, {3, "100_0306.AVI", false}, {3, longName, true}};
    for (const Case &c : cases) {
        OVNThumbnail renderer;
        renderer.setWidth(c.layout == 3 ? 400 : 128);
        renderer.setHeight(128);
        renderer.setLayout(OVNThumbnailHelper::getLayoutForThumbnail(c.layout));
        const OVNThumbnail::Geometry g = renderer.geometryForPicture(QSizeF(pic.size()));
        // The name bar's middle, or the first list line's value (its name).
        const QPointF at = c.layout == 3 ? QPointF(g.listPanel.x() + 90, 128 - (g.listPanel.bottom() - 15 + 6))
                                         : DrawingKit::flippedRect(g.nameBar, 128).center();
        const MediaRecord r = record({{"displaytag", c.name}});
        EXPECT_EQ(renderer.cutShortTextAt(at, QSizeF(pic.size()), r), c.cut ? c.name : QString()) << c.layout;
        EXPECT_EQ(renderer.cutShortTextAt(QPointF(1, 1), QSizeF(pic.size()), r), QString()) << c.layout;
        if (c.name.contains('_') && !c.cut) {
            QString spaced = c.name;
            spaced.replace('_', ' ');
            EXPECT_NE(renderer.createThumbnailForImage(pic, r),
                      renderer.createThumbnailForImage(pic, record({{"displaytag", spaced}})))
                << qPrintable(c.name);
        }
    }
}

// A panoramic movie in every style whose layout shows the movie sign, at the smallest cell and at
// one a little under the first-run size: the picture is too low for both info bars, and the one
// with the sign keeps it, drawn white with its dark halo over a white picture; what does not fit
// beside it ends in an ellipsis, never cut short without one.
TEST(OVNThumbnailTest, APanoramicMovieCellAlwaysShowsTheMovieSign)
{
    const MediaRecord movie = record({{"displaytag", "A panorama of the whole bay from the hill_0001.MP4"},
                                      {"imagewidth", "1920"},
                                      {"imageheight", "360"},
                                      {"filetype", "Movie;3725"},
                                      {"filesize", "123456789"},
                                      {"rating", "4"}});
    const QString ellipsis(QChar(0x2026));
    int styles = 0;
    for (int style = 0; style <= 3; ++style) {
        const QVariantMap layout = OVNThumbnailHelper::getLayoutForThumbnail(style);
        bool showsSign = false;
        for (const char *bar : {"Top", "Bottom"}) {
            const QString prefix = QStringLiteral("udf%1Bar").arg(bar);
            if (layout.value(QStringLiteral("udfEnable%1InfoBar").arg(bar)).toString() != "1")
                continue;
            for (const char *place : {"Left", "Middle", "Right"})
                showsSign = showsSign || layout.value(prefix + place).toString() == "2";
        }
        if (!showsSign)
            continue;
        ++styles;
        for (const int size : {48, 118}) {
            SCOPED_TRACE(qPrintable(QStringLiteral("style %1 at %2").arg(style).arg(size)));
            OVNThumbnail renderer;
            renderer.setWidth(style == 3 ? size + 300 : size);
            renderer.setHeight(size);
            renderer.setLayout(layout);
            const QList<OVNCellField> fields = renderer.cellFields(QSizeF(1920, 360), movie);
            const auto sign = std::find_if(fields.begin(), fields.end(), [](const OVNCellField &field) {
                return field.kind == OVNCellField::Kind::MovieSign;
            });
            ASSERT_NE(sign, fields.end());
            ASSERT_TRUE(sign->isShown());
            for (const OVNCellField &field : fields) {
                if (field.kind == OVNCellField::Kind::Text && field.isShown() && field.shown != field.whole) {
                    EXPECT_TRUE(field.shown.contains(ellipsis)) << qPrintable(field.shown);
                }
            }
            // Drawn over a white picture: the sign's body white, a dark halo beside it.
            const QImage cell = renderer.createThumbnailForImage(picture(1920, 360, Qt::white), movie);
            const QPoint body = sign->rect.center().toPoint();
            EXPECT_EQ(cell.pixelColor(body), QColor(Qt::white));
            const QColor beside = cell.pixelColor(int(sign->rect.left()) - 1, body.y());
            EXPECT_LT(beside.lightnessF(), 0.6f) << qPrintable(beside.name());
        }
    }
    EXPECT_GE(styles, 1);
}
