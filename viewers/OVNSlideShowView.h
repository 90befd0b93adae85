#pragma once

#include <QImage>
#include <QWidget>

// The slide show's screen: the slide on show, fitted to the screen and enlarged at most 2.5 times,
// centred on black, with its position ("[2 of 5]") in the lower left corner.
class OVNSlideShowView : public QWidget
{
    Q_OBJECT
public:
    static constexpr double maxScaleFactor = 2.5;

    explicit OVNSlideShowView(QWidget *parent = nullptr);

    // The slide on show, already upright; repainted at the next chance.
    void setImage(const QImage &image);
    QImage image() const { return m_imageBuffer; }
    void setStatus(const QString &status);
    QString status() const { return m_status; }

    // Where a picture of `image` size is drawn in a view of `view` size: as large as fits, but no
    // more than `maxScale` times its own size, centred.
    static QRectF slideRect(QSizeF image, QSizeF view, double maxScale = maxScaleFactor);

signals:
    // A new slide reached the screen (its first paint).
    void slidePainted();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_imageBuffer;
    QString m_status;
    bool m_newSlide = false;
};
