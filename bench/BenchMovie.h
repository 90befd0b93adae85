// The movie the movie benchmarks open: 10 s of 1080p at 30 fps as a camera records it: the whole
// picture moving (turning colour fields), sensor-like grain that changes every frame, H.264 at
// 25 Mbit/s, a frame of the encoder's own choice every few seconds. A test pattern moves little
// and holds no noise, so it decodes far faster than what users film. Made once (about a minute)
// and kept in $OVN_BENCH_DIR (default /tmp/ovn-bench-movies).
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>

namespace BenchMovie {

// The clip's path, made first when missing; empty when ffmpeg could not make it.
inline QString cameraLikeClip(const QString &ffmpeg)
{
    const QString folder = qEnvironmentVariable("OVN_BENCH_DIR", QStringLiteral("/tmp/ovn-bench-movies"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/camera-1080p30-10s.mp4");
    if (QFileInfo(path).size() > 0)
        return path;
    const QString partial = path + QStringLiteral(".part.mp4");
    QProcess make;
    make.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    make.start(ffmpeg, {QStringLiteral("-loglevel"),
                        QStringLiteral("error"),
                        QStringLiteral("-y"),
                        QStringLiteral("-f"),
                        QStringLiteral("lavfi"),
                        QStringLiteral("-i"),
                        QStringLiteral("gradients=s=1920x1080:r=30:d=10:speed=0.03:n=5,noise=alls=10:allf=t+u"),
                        QStringLiteral("-c:v"),
                        QStringLiteral("libx264"),
                        QStringLiteral("-preset"),
                        QStringLiteral("veryfast"),
                        QStringLiteral("-b:v"),
                        QStringLiteral("25M"),
                        QStringLiteral("-maxrate"),
                        QStringLiteral("30M"),
                        QStringLiteral("-bufsize"),
                        QStringLiteral("30M"),
                        QStringLiteral("-pix_fmt"),
                        QStringLiteral("yuv420p"),
                        partial});
    if (!make.waitForFinished(-1) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0) {
        QFile::remove(partial);
        return QString();
    }
    return QFile::rename(partial, path) ? path : QString();
}

} // namespace BenchMovie
