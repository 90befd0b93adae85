#include "formats/GioMountRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStorageInfo>

#include <unistd.h>

namespace {

// Prompts are answered a few times at most: a command that keeps asking (a wrong password) is
// refused further answers and ends.
constexpr int kMaxPrompts = 6;

} // namespace

GioMountRunner::GioMountRunner(int timeLimitMs) : m_timeLimitMs(timeLimitMs) {}

QString GioMountRunner::gvfsFolder()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStringLiteral("/run/user/") + QString::number(getuid());
    return QDir::cleanPath(runtime) + QStringLiteral("/gvfs");
}

MountResult GioMountRunner::run(const MountCommand &command)
{
    MountResult result;
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    // Untranslated prompts, so that the password prompt can be told from the others.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start();
    if (!process.waitForStarted(10000)) {
        result.errorOutput = process.errorString();
        return result;
    }
    result.started = true;

    QElapsedTimer clock;
    clock.start();
    QByteArray line; // output since the last newline: a prompt waits there for its answer
    int prompts = 0;
    bool passwordGiven = false;
    while (process.state() != QProcess::NotRunning) {
        if (clock.elapsed() > m_timeLimitMs) {
            process.kill();
            process.waitForFinished(5000);
            result.exitCode = -1;
            result.errorOutput = QStringLiteral("The mount command did not finish in time.");
            return result;
        }
        process.waitForReadyRead(100);
        const QByteArray output = process.readAllStandardOutput();
        if (output.isEmpty())
            continue;
        line += output;
        const qsizetype newline = line.lastIndexOf('\n');
        if (newline >= 0)
            line = line.mid(newline + 1);
        if (!line.endsWith(": "))
            continue;

        const bool passwordPrompt = line.startsWith("Password");
        line.clear();
        if (++prompts > kMaxPrompts || (passwordPrompt && passwordGiven)) {
            // Asked again after the password went in: it was refused. No more answers.
            process.closeWriteChannel();
            continue;
        }
        if (passwordPrompt) {
            process.write(command.secret.toUtf8() + '\n');
            passwordGiven = true;
        } else {
            process.write("\n");
        }
    }
    process.waitForFinished(1000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.errorOutput = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
}

QStringList GioMountRunner::mountedVolumePaths() const
{
    QStringList paths;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        paths.append(volume.rootPath());
    const QString gvfs = gvfsFolder();
    const QDir gvfsDir(gvfs);
    for (const QString &entry : gvfsDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        paths.append(gvfs + QLatin1Char('/') + entry);
    return paths;
}
