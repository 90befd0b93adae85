#pragma once

#include <QImage>
#include <QPixmap>
#include <QSizeF>
#include <QVariantMap>
#include <QWidget>

#include <functional>

// Draws one picture turned by quarter turns, at actual size, fitted or at a free factor, centred in
// the visible size its owner gives it, with an optional "Loading media file..." tag and a white
// frame while selected. It loads nothing and scrolls nothing; touch it on the GUI thread only.
class OVNImageView : public QWidget
{
    Q_OBJECT

public:
    enum ZoomType { ActualSize = 0, Fit = 1, Free = 2 };
    static constexpr float maximumFitFactor = 2.0f;

    explicit OVNImageView(QWidget *parent = nullptr);

    // `screen`, when given, is the picture already reduced (unturned) for the size it is shown at;
    // it is drawn in place of scaling the picture while it fits the place within a point.
    void setImage(const QImage &image, const QImage &screen = QImage());
    QImage image() const { return m_image; }
    // Degrees clockwise: 0, 90, 180 or 270; any other value draws unturned from the corner.
    void setRotation(int degrees) { m_rotation = degrees; }
    int rotation() const { return m_rotation; }
    void resetRotation() { m_rotation = 0; }
    void rotateLeft() { m_rotation = rotatedLeft(m_rotation); }
    void rotateRight() { m_rotation = rotatedRight(m_rotation); }
    // Actual size also sets the factor back to 1.
    void setZoomType(int type);
    int zoomType() const { return m_zoom; }
    void setZoomFactor(float factor) { m_zoomFactor = factor; }
    float zoomFactor() const { return m_zoomFactor; }
    // The size to fill; the widget takes it as its own size.
    void setVisibleSize(const QSizeF &size);
    QSizeF visibleSize() const { return m_visibleSize; }
    void setScrollerSize(const QSizeF &size) { m_scrollerSize = size; }
    // The size the view needs to show the whole picture.
    QSizeF currentViewSize() const;
    void setBackgroundColor(const QColor &color) { m_background = color; }
    void setShowLoadingTag(bool on);
    bool showsLoadingTag() const { return m_loading; }
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    void setRepresentedObject(const QVariantMap &object) { m_represented = object; }
    QVariantMap representedObject() const { return m_represented; }
    // Told after a click made the view selected (the light table's panes); the viewer sets none.
    void setSelectionDidChange(std::function<void(OVNImageView *)> callback)
    {
        m_selectionDidChange = std::move(callback);
    }

    // The loading tag around a text of `textSize`: centred in the part of the view that shows,
    // never beyond it.
    static QRectF loadingTagBox(const QSizeF &textSize, const QRectF &shown);

    static int rotatedLeft(int degrees);
    static int rotatedRight(int degrees);
    // The fitted factor: the picture (turned) within the visible size, at most maximumFitFactor.
    static float fitFactor(QSizeF imageSize, int rotation, QSizeF visible);
    // Half the room left on one axis, in whole units, or 0 when the picture does not fit.
    static float centringShift(double length, double visibleLength);
    // Where the turned picture lands, in the view's (y-down) coordinates, for the given factor
    // (1 at actual size). The placement is measured from the bottom-left corner, as the view was
    // designed; it is turned into Qt's coordinates here and nowhere else.
    static QRectF pictureRect(QSizeF imageSize, int rotation, float factor, QSizeF visible);
    // The factor the view draws at now (fit computes it).
    float effectiveFactor() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QImage m_image;
    int m_rotation = 0;
    int m_zoom = Fit;
    float m_zoomFactor = 1.0f;
    QSizeF m_visibleSize;
    QSizeF m_scrollerSize;
    QColor m_background = Qt::black;
    bool m_loading = false;
    QVariantMap m_represented;
    bool m_selected = false;
    std::function<void(OVNImageView *)> m_selectionDidChange;
    // The picture scaled for the screen once, so that repaints (scrolling, the tag) stay cheap.
    QImage m_screen;
    QPixmap m_scaled;
    QSize m_scaledFor;
    qint64 m_scaledKey = 0;
};
