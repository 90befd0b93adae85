#pragma once

// The media backend that plays movies, shared by MoviePlayer and its player program.

#include <QAudioDevice>
#include <QMediaDevices>
#include <QString>
#include <QtGlobal>

namespace PlayerProtocol {

// Chooses the media backend before the first player exists (Qt reads QT_MEDIA_BACKEND once). The
// FFmpeg backend of Qt 6.4 plays no negative rate, shows nothing after a paused seek and crashes
// when given an audio output with no audio device, so GStreamer is taken unless the user named
// one. Answers the backend's name.
inline QString chooseBackend()
{
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    return QString::fromLocal8Bit(qgetenv("QT_MEDIA_BACKEND"));
}

// The name of the first audio output device, empty when there is none.
inline QString audioDeviceName()
{
    const auto outputs = QMediaDevices::audioOutputs();
    return outputs.isEmpty() ? QString() : outputs.first().description();
}

} // namespace PlayerProtocol
