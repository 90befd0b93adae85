#include "app/OVNUDFThumbnails.h"

#include "platform/Localized.h"

#include <QLabel>
#include <QVBoxLayout>

OVNUDFThumbnails::OVNUDFThumbnails() : QWidget(nullptr, Qt::Window)
{
    setWindowTitle(localized("Thumbnail Layouts"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(localized("Contact Sheet, Plain Image View, Plain Image View with Title"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(480, 360);
}

OVNUDFThumbnails::~OVNUDFThumbnails() = default;

void OVNUDFThumbnails::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void OVNUDFThumbnails::orderOut()
{
    hide();
}
