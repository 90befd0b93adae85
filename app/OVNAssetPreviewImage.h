#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// The catalog window's preview pane until the media browser's own preview image is in place: the
// selected entry's picture scaled to fit and centred, with its rating as stars below it.
class OVNAssetPreviewImage : public QWidget
{
    Q_OBJECT

public:
    explicit OVNAssetPreviewImage(QWidget *parent = nullptr);

    void setBackgroundColor(const QColor &color);
    void setImage(const QImage &image, int rating = 0);
    QImage image() const { return m_image; }
    int rating() const { return m_rating; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_background = Qt::white;
    QImage m_image;
    int m_rating = 0;
};
