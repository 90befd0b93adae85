#pragma once

#include "formats/MountRunner.h"

// Runs mount commands with QProcess and answers their prompts: "Password:" gets the command's
// secret on standard input, any other prompt (user, domain) an empty line, which takes the
// offered default. Mounted volumes are the system's mount points plus the user's gvfs mounts.
class GioMountRunner : public MountRunner
{
public:
    explicit GioMountRunner(int timeLimitMs = 60000);

    MountResult run(const MountCommand &command) override;
    QStringList mountedVolumePaths() const override;

    // The user's gvfs mount folder ($XDG_RUNTIME_DIR/gvfs).
    static QString gvfsFolder();

private:
    int m_timeLimitMs;
};
