#pragma once

// What MediaDecoder and its decoder program (ovn-decoder, Decoder_main.cpp) share. The two talk
// over a socket the decoder finds as descriptor 3: each message is a 4-byte length (a request's
// carries the descriptors of the file it names), a QVariantMap
// written with QDataStream, and for a picture its rows (the map says width, height, format and
// bytes per line; an indexed picture's colours are in the map).

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QImage>
#include <QVariantMap>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace DecoderProtocol {

constexpr const char *programName = "ovn-decoder";
constexpr int socketDescriptor = 3;
// The decoder's exit status when an allocation failed: the file needs more memory than its limit.
constexpr int exitOutOfMemory = 4;
// The openings of a request's file the program hands the decoder with it (see DecoderFiles.h):
// as many as the readers hold open at once (three, for a camera RAW file read as a thumbnail),
// and as many again.
constexpr int fileOpenings = 6;
// A message's map is never larger than this; a picture's rows follow it.
constexpr quint32 maxMapBytes = 16u << 20;

inline QByteArray encode(const QVariantMap &map)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << map;
    return bytes;
}

inline QVariantMap decode(const QByteArray &bytes)
{
    QVariantMap map;
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_6_0);
    stream >> map;
    return stream.status() == QDataStream::Ok ? map : QVariantMap();
}

// The keys of a picture's description.
inline void describe(const QImage &image, QVariantMap &map)
{
    map.insert(QStringLiteral("width"), image.width());
    map.insert(QStringLiteral("height"), image.height());
    map.insert(QStringLiteral("format"), int(image.format()));
    map.insert(QStringLiteral("bytesPerLine"), qint64(image.bytesPerLine()));
    if (!image.colorTable().isEmpty()) {
        const QList<QRgb> colors = image.colorTable();
        map.insert(QStringLiteral("colors"), QByteArray(reinterpret_cast<const char *>(colors.constData()),
                                                        colors.size() * qsizetype(sizeof(QRgb))));
    }
}

inline bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(std::min<qint64>(size, qint64(1) << 20)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace DecoderProtocol
