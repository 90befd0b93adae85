#pragma once

// The roads out of a decoding child that DecoderSandbox::probe tries, and whether the child's
// system-call filter alone (without Landlock) closes each: the tests of every child check the
// probe's outcomes against this one table, from each kind of thread.

#include <QMap>
#include <QString>
#include <QStringList>

namespace confinementroads {

struct Road {
    const char *name;
    bool closedByFilter;          // closed without Landlock too: a write, removal, creation, program
                                  // start, signal, socket, IPC, process or limit of its own
    bool takenByTemplate = false; // what a decoder's template does for its children (a socket
                                  // pair to hand over, a filter stacked for each child)
};

inline const Road roads[] = {
    {"io_uring", true},
    {"create", true},
    {"creat", true},
    {"open for writing", true},
    {"open to append", true},
    {"truncate", true},
    {"unlink", true},
    {"rename", true},
    {"mkdir", true},
    {"symlink", true},
    {"chmod", true},
    {"inet socket", true},
    {"unix socket", true},
    {"netlink socket", true},
    {"socketpair", true, true},
    {"connect", true},
    {"abstract socket", true},
    {"kill", true},
    {"kill everyone", true},
    {"tgkill", true},
    {"tkill", true},
    {"sigqueue", true},
    {"pidfd", true},
    {"fork", true},
    {"vfork", true},
    {"clone", true},
    {"clone3", true},
    {"unshare", true},
    {"execve", true},
    {"run /bin/sh", true},
    {"setsid", true},
    {"setpgid", true},
    {"ptrace", true},
    {"process_vm_readv", true},
    {"parent's memory", false},
    {"parent's environment", false},
    {"private file", false},
    {"list the file's folder", false},
    {"password file", false},
    {"home's secret", false},
    {"list the home", false},
    {"PGPASSWORD", true},
    {"terminal", false},
    {"TIOCSTI", true},
    {"keyctl", true},
    {"add_key", true},
    {"bpf", true},
    {"perf_event_open", true},
    {"userfaultfd", true},
    {"memfd", true},
    {"SysV shared memory", true},
    {"SysV shared memory of others", true},
    {"SysV messages", true},
    {"SysV semaphores", true},
    {"list /dev/shm", false},
    {"file in /dev/shm", true},
    {"inotify", true},
    {"fanotify", true},
    {"keep running after the program", true},
    {"keep running after the program by a widened option", true},
    {"keep running after the program by a harmless signal", true},
    {"a descriptor of its parent process", true},
    {"signal through its parent's /proc folder", true},
    {"a filter of its own", true, true},
    {"let others trace it", true},
    {"dumpable", true},
    {"mount", true},
    {"1 GiB of shared memory", true},
    {"grows-down mapping", true},
    {"3000 threads", true},
};

inline const char *const threads[] = {"main thread", "pool thread", "new thread"};

// The probe's outcomes ("ROAD (THREAD): taken"), by "ROAD (THREAD)".
inline QMap<QString, QString> outcomes(const QStringList &lines)
{
    QMap<QString, QString> map;
    for (const QString &entry : lines) {
        const qsizetype colon = entry.lastIndexOf(QStringLiteral(": "));
        if (colon > 0)
            map.insert(entry.left(colon), entry.mid(colon + 2).trimmed());
    }
    return map;
}

inline QString key(const char *road, const char *thread)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(road), QLatin1String(thread));
}

} // namespace confinementroads
