#pragma once

// The media backend of the program's Qt Multimedia (its sound output and device list), used by
// MoviePlayer; the player program runs GStreamer itself.

#include <QAudioDevice>
#include <QMediaDevices>
#include <QString>
#include <QtGlobal>

namespace PlayerProtocol {

// Chooses the media backend before Qt Multimedia starts (Qt reads QT_MEDIA_BACKEND once): GStreamer,
// as the player, unless the user named one. Answers the backend's name.
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
