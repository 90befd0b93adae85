#pragma once

#include <QSplitter>

// A split view whose divider is a single light-grey line one point thick. The catalog window lays
// out its panes by hand and counts on that thickness.
class OVNSplitView : public QSplitter
{
    Q_OBJECT

public:
    explicit OVNSplitView(Qt::Orientation orientation, QWidget *parent = nullptr);
    explicit OVNSplitView(QWidget *parent = nullptr);

    static float dividerThickness() { return 1.0f; }

protected:
    QSplitterHandle *createHandle() override;
};
