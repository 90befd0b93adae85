#pragma once

#include "formats/MountRunner.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

// Records the mount commands it is given and answers with a set exit code; a successful mount
// can add a folder to the mounted volumes.
class FakeMountRunner : public MountRunner
{
public:
    MountResult run(const MountCommand &command) override
    {
        QMutexLocker locker(&m_mutex);
        m_commands.append(command);
        if (m_exitCode == 0 && !m_mountsOnSuccess.isEmpty())
            m_mounted.append(m_mountsOnSuccess);
        MountResult result;
        result.started = true;
        result.exitCode = m_exitCode;
        result.errorOutput = m_errorOutput;
        return result;
    }

    QStringList mountedVolumePaths() const override
    {
        QMutexLocker locker(&m_mutex);
        return m_mounted;
    }

    QList<MountCommand> commands() const
    {
        QMutexLocker locker(&m_mutex);
        return m_commands;
    }

    void setExitCode(int code) { m_exitCode = code; }
    void setErrorOutput(QString text) { m_errorOutput = std::move(text); }
    void setMounted(QStringList paths) { m_mounted = std::move(paths); }
    void setMountsOnSuccess(QString path) { m_mountsOnSuccess = std::move(path); }

private:
    mutable QMutex m_mutex;
    QList<MountCommand> m_commands;
    QStringList m_mounted;
    QString m_mountsOnSuccess;
    QString m_errorOutput;
    int m_exitCode = 0;
};
