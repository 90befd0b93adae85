#pragma once

#include <QByteArray>
#include <QString>

// Facts about the person and the machine that the catalog records.
class SystemInfo
{
public:
    // The login name of the account running the program (its effective user) in the system's user
    // database; empty when the account has no entry there.
    static QString accountName();
    // The account's full name from the password database, or the login name when it has none.
    static QString fullName();
    static QString hostName();

    // The machine part of record ids: "M" and the first 12 hexadecimal digits of a SHA-256 over
    // the machine id (/etc/machine-id), the host name, the process id, the time and random bytes.
    // One part serves every id of this process; every other process, on this machine or another
    // (a clone with the same machine id included), has its own, so that clients writing into one
    // server catalog never make the same id. The raw machine id never leaves the machine.
    static QString recordIdMachinePart();
    // A part made afresh, for a connection that met one of its ids taken already.
    static QString newRecordIdMachinePart();
    // The part that the given bytes hash to.
    static QString recordIdMachinePartFor(const QByteArray &seed);
};
