#pragma once

#include "uikit/OVNTransparentWindow.h"

class OVNTransparentView;
class QImage;
class QSlider;

// The floating zoom panel: a larger picture of the one entry selected in the catalog window, in a
// frameless window moved by dragging anywhere in it and resized by its bottom-right corner, whose
// transparency the user sets with its slider. One lives for the whole run.
class OVNZoomPanel : public OVNTransparentWindow
{
    Q_OBJECT
public:
    static constexpr double defaultAlpha = 0.7;

    OVNZoomPanel();
    ~OVNZoomPanel() override;

    // The program's panel, or none (it registers itself while it lives).
    static OVNZoomPanel *instance();

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();
    // Shows the image (no rating marker); a null image empties the panel.
    void setImage(const QImage &image);
    void setImage(const QImage &image, int rating);
    QImage image() const;
    // The slider moved: the window's alpha, stored as "zoomPanelAlpha" (0 to 1).
    void transparencySliderAction(double alpha);
    double alpha() const;
    QSlider *transparencySlider() const { return m_slider; }
    // Stores the frame under "OVNZoomPanel"; nothing else stores it.
    void saveWindowPosition();

    OVNTransparentView *contentView() const { return m_contentView; }

private:
    OVNTransparentView *m_contentView = nullptr;
    QSlider *m_slider = nullptr;
};
