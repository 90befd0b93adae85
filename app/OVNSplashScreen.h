#pragma once

#include "app/OVNSplashDisplay.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <memory>

class QLabel;
class QWidget;

// The borderless window with the program's artwork and one status line that start-up shows while
// it works. It sits centred across the main screen and somewhat above its middle.
class OVNSplashScreen : public OVNSplashDisplay
{
public:
    OVNSplashScreen();
    ~OVNSplashScreen() override;

    void setStatus(const QString &status) override;
    void makeKeyAndOrderFront() override;
    void orderOut() override;

    QString status() const;
    QWidget *window() const { return m_window.get(); }

    // The artwork as a picture, without a status line (the layout editor's sample picture).
    static QImage artworkImage();

    // The window's place for a screen and artwork of these sizes, measured upwards from the bottom
    // of the screen: centred across, two thirds of the free height below it and one third above.
    static QRectF contentRect(const QSizeF &screen, const QSizeF &artwork);
    // The same rectangle's top-left corner in Qt's coordinates (measured downwards).
    static QPointF topLeftFor(const QSizeF &screen, const QSizeF &artwork);

private:
    std::unique_ptr<QWidget> m_window;
    QLabel *m_status = nullptr;
};
