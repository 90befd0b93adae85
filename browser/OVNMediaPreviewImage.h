#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QWidget>

// The preview pane: one image, reduced to fit (never enlarged) and centred on a plain background,
// with the item's rating as a row of five small squares along the bottom edge.
class OVNMediaPreviewImage : public QWidget
{
    Q_OBJECT

public:
    explicit OVNMediaPreviewImage(QWidget *parent = nullptr);

    // Stores both and redraws.
    void setImage(const QImage &image, int rating);
    // Stores the image, resets the rating to 0 and redraws.
    void setImage(const QImage &image);
    // Stores the rating without redrawing.
    void setRating(int rating) { m_rating = rating; }
    int rating() const { return m_rating; }
    QImage image() const { return m_internalImage; }
    // Stored without redrawing.
    void setBackgroundColor(const QColor &color) { m_backgroundColor = color; }
    QColor backgroundColor() const { return m_backgroundColor; }
    void viewWillStartLiveResize() { m_liveResize = true; }
    void viewDidEndLiveResize() { m_liveResize = false; }

    // Where an image of that size is drawn in a view of that size (Qt coordinates).
    static QRectF imageRectFor(const QSizeF &image, const QSizeF &bounds);
    // Rating square `index` (0 to 4) in a strip (Qt coordinates, its bottom edge the view's).
    static QRectF ratingSquare(const QRectF &strip, int index);
    // Fills the first `rating` (at most 5) of five squares in the selection blue and outlines all
    // five in white.
    static void drawRatingMarker(QPainter &painter, int rating, const QRectF &strip);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_internalImage;
    bool m_liveResize = false;
    int m_rating = 0;
    QColor m_backgroundColor = Qt::white;
};
