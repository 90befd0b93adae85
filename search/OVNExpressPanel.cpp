#include "search/OVNExpressPanel.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Localized.h"

#include <QLabel>
#include <QVBoxLayout>

OVNExpressPanel::OVNExpressPanel() : QWidget(nullptr, Qt::Tool)
{
    setWindowTitle(localized("Express Search"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(localized("Search the whole catalog."), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(300, 400);
}

OVNExpressPanel::~OVNExpressPanel() = default;

void OVNExpressPanel::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void OVNExpressPanel::orderOut()
{
    hide();
}

void OVNExpressPanel::setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection)
{
    m_connection = std::move(connection);
}
