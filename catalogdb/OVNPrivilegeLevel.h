#pragma once

#include <QString>

// The four access levels a user holds on a category, rising: "NO ACCESS", "READ ONLY",
// "READ & WRITE", "FULL ACCESS".
class OVNPrivilegeLevel
{
public:
    static QString noAccess() { return QStringLiteral("NO ACCESS"); }
    static QString readOnly() { return QStringLiteral("READ ONLY"); }
    static QString readWrite() { return QStringLiteral("READ & WRITE"); }
    static QString fullAccess() { return QStringLiteral("FULL ACCESS"); }

    // Whether a user holding `own` may do what needs `requested`: equal levels, or a higher one of
    // the four for "READ ONLY" and "READ & WRITE". Any other request only on equality.
    static bool isGranted(const QString &requested, const QString &own);
    // The lower of two levels for granting: the one that grants less. Unknown texts rank lowest.
    static QString lower(const QString &a, const QString &b);

    // The refusal the program shows, wherever it refuses: its title, and the text that names the
    // level requested and the user's own.
    static QString refusalTitle();
    static QString refusalMessage(const QString &requested, const QString &own);
};
