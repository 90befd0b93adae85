#pragma once

#include <QWidget>

// The translucent dark rounded background of a floating controller overlay.
class OVNControllerBGView : public QWidget
{
    Q_OBJECT

public:
    explicit OVNControllerBGView(QWidget *parent = nullptr);

    // The rounded panel for a view of the given size: inset 3 points, radius a quarter of its height.
    static QRectF panelRect(const QSizeF &size);
    static float panelRadius(const QSizeF &size);

protected:
    void paintEvent(QPaintEvent *event) override;
};
