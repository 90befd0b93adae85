#pragma once

#include <QColor>
#include <QWidget>

// A plain view filled with a neutral light grey.
class CustomView : public QWidget
{
    Q_OBJECT

public:
    explicit CustomView(QWidget *parent = nullptr);

    static QColor fillColor();

protected:
    void paintEvent(QPaintEvent *event) override;
};
