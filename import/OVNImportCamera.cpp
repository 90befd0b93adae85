#include "import/OVNImportCamera.h"

#include "import/OVNPanelPosition.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QLabel>
#include <QVBoxLayout>

OVNImportCamera::OVNImportCamera(UserDefaults &defaults)
    : QWidget(nullptr, Qt::Tool), m_defaults(defaults)
{
    setWindowTitle(localized("Camera Capture"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(localized("No camera connected."), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(320, 240);
}

OVNImportCamera::~OVNImportCamera() = default;

void OVNImportCamera::makeKeyAndOrderFront()
{
    m_wasShown = true;
    show();
    raise();
    activateWindow();
}

void OVNImportCamera::orderOut()
{
    hide();
}

void OVNImportCamera::saveLocation()
{
    if (!m_wasShown)
        return;
    const QPointF origin = OVNPanelPosition::storedOrigin(frameGeometry(),
                                                          OVNPanelPosition::primaryScreenBottom());
    m_defaults.setDouble(origin.x(), QStringLiteral("WorkflowPanelX"));
    m_defaults.setDouble(origin.y(), QStringLiteral("WorkflowPanelY"));
}
