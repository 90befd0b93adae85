#pragma once

#include <QString>
#include <QStringList>

// The versions of the libraries that stand in for the platform's movie framework.
class MediaVersions
{
public:
    // libavformat's version as FFmpeg packs it (major << 16 | minor << 8 | micro), read at run time.
    static unsigned avformatVersion();
    // FFmpeg's own version text, e.g. "5.1.4-0+deb12u1".
    static QString ffmpegVersionText();
    // The Qt Multimedia version (the Qt release it ships with).
    static QString qtMultimediaVersionText();
    // The playback backends Qt Multimedia can load (plugin file names); empty when none is there.
    static QStringList multimediaBackends();
};
