#pragma once

#include <QImage>
#include <QLineF>
#include <QRectF>
#include <QWidget>

#include <array>

// The view of a transparent window: a black rounded panel showing one image scaled to fit (never
// more than twice its size), the image's rating as five small squares along the bottom and a white
// resize grip in the bottom-right corner. The design is y-up; the static functions answer in Qt's
// y-down coordinates.
class OVNTransparentView : public QWidget
{
    Q_OBJECT

public:
    static constexpr float panelRadius = 9.0f;
    static constexpr float maximumScale = 2.0f;
    static constexpr qreal ratingStripHeight = 16.0;

    explicit OVNTransparentView(QWidget *parent = nullptr);

    void setImage(const QImage &image, int rating);
    // Sets the image and clears the rating.
    void setImage(const QImage &image);
    QImage image() const { return internalImage_; }
    int rating() const { return rating_; }

    // Where an image of `imageSize` is drawn in a view of `viewSize`.
    static QRectF imageRect(const QSizeF &viewSize, const QSizeF &imageSize);
    // The five rating squares for a marker drawn in `rect` (y-up, view coordinates): centred on the
    // rectangle's width measured from x = 0, side ceil(height / 2), one point apart.
    static std::array<QRectF, 5> ratingMarkerSquares(const QRectF &rect, qreal viewHeight);
    // The four strokes of the resize grip.
    static std::array<QLineF, 4> gripLines(const QSizeF &viewSize);

    void drawRatingMarker(QPainter &painter, int rating, const QRectF &rect) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage internalImage_;
    int rating_ = 0;
};
