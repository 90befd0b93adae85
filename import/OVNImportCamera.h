#pragma once

#include <QWidget>

class UserDefaults;

// The camera capture window. Cameras are not browsed yet; the window only keeps its place. Its
// position is stored under the workflow panel's keys, "WorkflowPanelX" and "WorkflowPanelY", and is
// never read back by the capture window itself.
class OVNImportCamera : public QWidget
{
    Q_OBJECT
public:
    explicit OVNImportCamera(UserDefaults &defaults);
    ~OVNImportCamera() override;

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();
    // Stores the capture window's frame origin, once the window has been on screen: a window that
    // was never shown has no place of its own worth keeping.
    void saveLocation();

private:
    UserDefaults &m_defaults;
    bool m_wasShown = false;
};
