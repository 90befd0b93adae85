#pragma once

#include <QByteArray>
#include <QString>

// Facts about the person and the machine that the catalog records.
class SystemInfo
{
public:
    // The login name of the account running the program.
    static QString accountName();
    // The account's full name from the password database, or the login name when it has none.
    static QString fullName();
    static QString hostName();

    // The machine part of record ids: "M" and the first 12 hexadecimal digits of the SHA-256 of
    // the machine id (/etc/machine-id), so that the raw id never leaves the machine.
    static QString recordIdMachinePart();
    static QString recordIdMachinePartFor(const QByteArray &machineId);
};
