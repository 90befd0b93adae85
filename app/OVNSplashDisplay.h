#pragma once

#include <QString>

// What start-up needs of its splash window: a status line, shown and hidden.
class OVNSplashDisplay
{
public:
    virtual ~OVNSplashDisplay() = default;
    // Shows the text at once, even though the event loop does not run yet.
    virtual void setStatus(const QString &status) = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderOut() = 0;
};
