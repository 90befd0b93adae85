#pragma once

#include "viewers/OVNAdjustChain.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <memory>

// The adjustment window's preview: holds the picture being adjusted, shows the chain's result
// fitted to the view on black, lets the user draw a crop selection and move its edges, and draws
// an optional grid. The display-size picture is rendered on a worker thread where the newest
// request wins, so that a slider follows the hand; crop and export run the chain at full size.
// The window pushes every value and then calls updateFilter().
class OVNCoreImageView : public QWidget
{
    Q_OBJECT

public:
    explicit OVNCoreImageView(QWidget *parent = nullptr);
    ~OVNCoreImageView() override;

    // A new source; clears the revert picture and any selection. Refilters.
    void setCoreImage(const QImage &image);
    // The same with the picture already in linear light (converted off the GUI thread).
    void setCoreImage(std::shared_ptr<const OVNLinearImage> source);
    bool hasImage() const { return !m_document.source().isNull(); }
    // The whole chain unscaled, as 8-bit sRGB with straight alpha: what export writes.
    QImage renderedImage() const;
    // The same as a job for another thread: it holds what it needs, whatever the view does meanwhile.
    std::function<QImage()> renderJob() const;

    void setExposure(double value) { m_document.values.exposure = value; }
    void setGamma(double value) { m_document.values.gamma = value; }
    void setSaturation(double value) { m_document.values.saturation = value; }
    void setBrightness(double value) { m_document.values.brightness = value; }
    void setContrast(double value) { m_document.values.contrast = value; }
    void setSharpness(double value) { m_document.values.sharpness = value; }
    void setTint(double value) { m_document.values.tint = value; }
    void setSepiaTone(double value) { m_document.values.sepia = value; }
    void setUserRotation(double degrees) { m_document.values.straighten = degrees; }
    double userRotation() const { return m_document.values.straighten; }
    // An sRGB colour; white leaves the picture unchanged, an invalid colour removes the stage.
    void setWhitePoint(const QColor &colour);
    const OVNAdjustValues &values() const { return m_document.values; }

    void setShowGrid(bool on);
    void setShowLoadingTag(bool on);
    bool showsLoadingTag() const { return m_loading; }

    void setRotation(int degrees);
    int rotation() const { return m_document.values.rotation; }
    void rotateLeft();
    void rotateRight();

    // Reruns the chain at display size (on the worker) and redraws when the result is in.
    void updateFilter();
    // Crops to the selection (nothing without one, or when it misses the picture); straighten and
    // turn are baked into the new source and reset. True when it cropped.
    bool cropImage();
    // Back to the picture before the first crop, with its turn and straighten.
    void revertCropImage();
    bool canRevert() const { return m_document.canRevert(); }

    // The selection's two corners in view coordinates; equal corners mean none.
    void setSelection(QPointF first, QPointF second);
    QPointF selectionFirst() const { return m_first; }
    QPointF selectionSecond() const { return m_second; }
    bool hasSelection() const { return m_first != m_second; }
    // Which edge a press at `point` would move: 0 none, 1 left, 2 right, 3 top, 4 bottom.
    int edgeAt(QPointF point) const;

    // What the view shows: the last rendered picture, its scale and where it is drawn.
    QImage displayedImage() const { return m_displayed; }
    double zoomFactor() const { return m_zoom; }
    QPointF imageOrigin() const;
    // Waits (running the event loop) until the newest request is shown; false after the timeout.
    bool waitForPreview(int timeoutMs = 30000);

signals:
    // A rendered preview was taken in and the view redrawn.
    void previewShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    class Worker;
    void takePreview(quint64 generation, const QImage &image, double zoom);

    OVNAdjustDocument m_document;
    std::unique_ptr<Worker> m_worker;
    quint64 m_requested = 0;
    quint64 m_shown = 0;
    QImage m_displayed;
    double m_zoom = 1;
    bool m_loading = false;
    bool m_showGrid = false;
    QPointF m_first, m_second;
    bool m_dragging = false;
    int m_draggedBy = 0; // the edge a drag moves, decided when the button went down
};
