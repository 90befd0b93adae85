#pragma once

#include <QPushButton>

// A capsule-shaped push button with a light vertical gradient and a centred 11-point title.
class OVNMembraneButton : public QPushButton
{
    Q_OBJECT

public:
    explicit OVNMembraneButton(QWidget *parent = nullptr);

    // {top, bottom} gradient colours.
    static std::pair<QColor, QColor> gradientColors(bool highlighted);
    static float capsuleRadius(qreal height);
    static QRectF titleRect(const QSizeF &size, qreal titleHeight);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
