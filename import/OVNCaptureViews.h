#pragma once

#include <QImage>
#include <QWidget>

// The capture window's device picture with the number of attached devices.
class OVNDeviceSelectionView : public QWidget
{
    Q_OBJECT
public:
    explicit OVNDeviceSelectionView(QWidget *parent = nullptr);

    void setDefaultDeviceIcon();
    // Null sets the default picture; any other is fitted into the view, centred on the axis with room.
    void setDeviceIcon(const QImage &icon);
    void setDeviceIconWithPath(const QString &path);
    void setDeviceCount(int count);
    int deviceCount() const { return m_count; }

    // The rectangle a picture of `picture` takes in `bounds`.
    static QRectF fittedRect(QSizeF picture, QSizeF bounds);
    // The built-in camera picture.
    static QImage defaultPicture(QSize size);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QImage m_picture;
    int m_count = 0;
};

// The thumbnail of the file catalogued last, or a caption while a download starts.
class OVNLastImportImageView : public QWidget
{
    Q_OBJECT
public:
    explicit OVNLastImportImageView(QSize size, QWidget *parent = nullptr);

    const QImage &image() const { return m_buffer; }
    // Null fills the buffer black; a picture larger than the buffer is fitted and centred, a smaller
    // one stretched over it. Does not repaint by itself.
    void setImage(const QImage &image);
    void setText(const QString &text, bool display = false);

    static QRectF destinationRect(QSizeF image, QSizeF buffer);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QImage m_buffer;
};
