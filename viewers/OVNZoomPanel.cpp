#include "viewers/OVNZoomPanel.h"

#include "platform/Localized.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

OVNZoomPanel::OVNZoomPanel() : QWidget(nullptr, Qt::Tool)
{
    setWindowTitle(localized("Zoom"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    m_imageView = new QLabel(this);
    m_imageView->setAlignment(Qt::AlignCenter);
    m_imageView->setMinimumSize(200, 200);
    layout->addWidget(m_imageView);
    resize(320, 320);
}

OVNZoomPanel::~OVNZoomPanel() = default;

void OVNZoomPanel::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void OVNZoomPanel::orderOut()
{
    hide();
}

void OVNZoomPanel::setImage(const QImage &image)
{
    if (image.isNull()) {
        m_imageView->clear();
        return;
    }
    m_imageView->setPixmap(QPixmap::fromImage(image).scaled(m_imageView->size(), Qt::KeepAspectRatio,
                                                            Qt::SmoothTransformation));
}
