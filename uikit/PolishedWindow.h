#pragma once

#include <QColor>
#include <QMainWindow>

class QToolBar;

// The main-window class that gives the application's windows their uniform light-grey background,
// toolbars without a separator line and a floor of 150 x 150 points on the minimum size.
class PolishedWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int minimumSide = 150;

    explicit PolishedWindow(QWidget *parent = nullptr, bool flat = false);
    ~PolishedWindow() override;

    static QColor sizedPolishedBackground();
    // The minimum size as stored: each side at least 150.
    static QSize clampedMinSize(const QSize &size);

    void setMinSize(const QSize &size);
    // Changes the frame and redraws at once, also while the change is in progress.
    void setFrame(const QRect &frame, bool display, bool animate);
    // Installs a toolbar without the line that separates it from the content.
    void setToolbar(QToolBar *toolbar);

    bool flat() const { return _flat; }
    void setFlat(bool flat);

    // How often the background was applied; lets tests see that a resize refreshed it.
    int backgroundRefreshCount() const { return m_backgroundRefreshes; }
    bool forcesDisplay() const { return forceDisplay; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void windowDidResize();

    bool _flat = false;
    bool forceDisplay = false;
    int m_backgroundRefreshes = 0;
};
