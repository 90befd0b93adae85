#pragma once

#include <QString>
#include <QStringList>

// The desktop's camera hot-plug registration: the applications that may open when a camera or
// memory card is connected, and the one that does. The preferences window lists and changes it
// through this interface; without one its pop-up offers "No Application" alone.
class OVNCameraHotPlug
{
public:
    virtual ~OVNCameraHotPlug() = default;
    // Paths of the applications on offer, in the order to list them.
    virtual QStringList applications() const = 0;
    // The path of the application that opens now; empty for none.
    virtual QString defaultApplication() const = 0;
    // Makes the application (a path, or empty for none) the one that opens.
    virtual void setDefaultApplication(const QString &path) = 0;
};
