#include "import/OVNWorkflowPanel.h"

#include "import/OVNPanelPosition.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QLabel>
#include <QVBoxLayout>

OVNWorkflowPanel::OVNWorkflowPanel(UserDefaults &defaults)
    : QWidget(nullptr, Qt::Tool), m_defaults(defaults)
{
    setWindowTitle(localized("Workflow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(localized("No workflows defined."), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(260, 320);

    if (m_defaults.contains(QStringLiteral("WorkflowPanelX"))
        && m_defaults.contains(QStringLiteral("WorkflowPanelY"))) {
        const QPointF origin(m_defaults.doubleForKey(QStringLiteral("WorkflowPanelX")),
                             m_defaults.doubleForKey(QStringLiteral("WorkflowPanelY")));
        move(OVNPanelPosition::topLeftFor(origin, frameGeometry().height(),
                                          OVNPanelPosition::primaryScreenBottom()));
    }
}

OVNWorkflowPanel::~OVNWorkflowPanel() = default;

void OVNWorkflowPanel::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void OVNWorkflowPanel::orderOut()
{
    hide();
}

void OVNWorkflowPanel::saveLocation()
{
    const QPointF origin = OVNPanelPosition::storedOrigin(frameGeometry(),
                                                          OVNPanelPosition::primaryScreenBottom());
    m_defaults.setDouble(origin.x(), QStringLiteral("WorkflowPanelX"));
    m_defaults.setDouble(origin.y(), QStringLiteral("WorkflowPanelY"));
}
