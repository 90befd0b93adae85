#pragma once

#include <QIcon>
#include <QPixmap>

// The program's icon, drawn from its SVG at each size asked for.
class OVNApplicationIcon
{
public:
    OVNApplicationIcon() = delete;
    static QIcon icon();
    static QPixmap pixmap(int size);
};
