#pragma once

#include <QWidget>

class UserDefaults;

// The floating workflow panel. It opens where it was last left ("WorkflowPanelX" and
// "WorkflowPanelY"); the workflows themselves and their imports are not here yet.
class OVNWorkflowPanel : public QWidget
{
    Q_OBJECT
public:
    explicit OVNWorkflowPanel(UserDefaults &defaults);
    ~OVNWorkflowPanel() override;

    bool isVisible() const { return QWidget::isVisible(); }
    void makeKeyAndOrderFront();
    void orderOut();
    // Stores the panel's frame origin under "WorkflowPanelX" and "WorkflowPanelY" (numbers).
    void saveLocation();

private:
    UserDefaults &m_defaults;
};
