#pragma once

#include <QWidget>

class QLabel;
class QImage;

// The floating zoom panel: a larger picture of the selected thumbnail.
class OVNZoomPanel : public QWidget
{
    Q_OBJECT
public:
    OVNZoomPanel();
    ~OVNZoomPanel() override;

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();
    // Shows the image scaled into the panel; a null image empties it.
    void setImage(const QImage &image);

private:
    QLabel *m_imageView = nullptr;
};
