#include "catalogdb/OVNPrivilegeLevel.h"

#include "platform/Localized.h"

namespace {
int rank(const QString &level)
{
    if (level == OVNPrivilegeLevel::fullAccess())
        return 3;
    if (level == OVNPrivilegeLevel::readWrite())
        return 2;
    if (level == OVNPrivilegeLevel::readOnly())
        return 1;
    if (level == OVNPrivilegeLevel::noAccess())
        return 0;
    return -1;
}
} // namespace

bool OVNPrivilegeLevel::isGranted(const QString &requested, const QString &own)
{
    if (requested == own)
        return true;
    if (requested == readOnly())
        return own == readWrite() || own == fullAccess();
    if (requested == readWrite())
        return own == fullAccess();
    return false;
}

QString OVNPrivilegeLevel::lower(const QString &a, const QString &b) { return rank(b) < rank(a) ? b : a; }

QString OVNPrivilegeLevel::refusalTitle() { return localized("Authorization Failed"); }

QString OVNPrivilegeLevel::refusalMessage(const QString &requested, const QString &own)
{
    return localized("Your access privileges do not allow you to complete the requested operation. \n\n")
           + localized("Requested Privilege: ") + requested + QLatin1Char('\n') + localized("Your Privilege Level: ")
           + own;
}
