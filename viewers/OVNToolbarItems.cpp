#include "viewers/OVNToolbarItems.h"

#include "platform/Localized.h"
#include "uikit/BundleImage.h"

#include <QIcon>
#include <QPixmap>

QToolBar *newViewerToolbar(QMainWindow *window, const char *identifier)
{
    auto *toolbar = new QToolBar(window);
    toolbar->setObjectName(QLatin1String(identifier));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize(QSize(24, 24));
    return toolbar;
}

QAction *newViewerToolbarAction(QObject *parent, const char *identifier, const char *label, const char *toolTip,
                                const char *image)
{
    auto *action = new QAction(localizedMenu(label), parent);
    action->setObjectName(QLatin1String(identifier));
    action->setToolTip(localizedMenu(toolTip));
    const QImage icon = BundleImage::imageNamed(QLatin1String(image));
    if (!icon.isNull())
        action->setIcon(QIcon(QPixmap::fromImage(icon)));
    return action;
}
