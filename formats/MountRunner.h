#pragma once

#include <QString>
#include <QStringList>

// A mount command: the program, its arguments, and a secret that the runner types in when the
// command asks for a password. The secret never appears among the arguments, where every user of
// the machine could read it.
struct MountCommand {
    QString program;
    QStringList arguments;
    QString secret;
};

struct MountResult {
    bool started = false;
    int exitCode = -1;
    QString errorOutput;

    bool succeeded() const { return started && exitCode == 0; }
};

// Runs mount commands and knows which volumes are mounted. The program uses GioMountRunner;
// tests give OVNMSAHelper a fake.
class MountRunner
{
public:
    virtual ~MountRunner() = default;
    // Runs the command to its end (or its time limit) on the calling thread.
    virtual MountResult run(const MountCommand &command) = 0;
    // The folders that volumes are mounted on, gvfs mounts included.
    virtual QStringList mountedVolumePaths() const = 0;
};
