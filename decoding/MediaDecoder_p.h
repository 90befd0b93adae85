#pragma once

// What MediaDecoder and its decoder program (ovn-decoder, Decoder_main.cpp) share. The two talk
// over a socket the decoder finds as descriptor 3: each message is a 4-byte length (a request's
// carries the descriptors of the file it names), a map in the closed schema of DecoderMessage, and
// for a picture its rows (the map says width, height, format and bytes per line; an indexed
// picture's colours are in the map). A large picture's rows may instead be read by the program
// straight from the decoder's memory (see directPictureBytes).

#include "decoding/DecoderMessage.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QVariantMap>

#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include <unistd.h>

namespace DecoderProtocol {

constexpr const char *programName = "ovn-decoder";

// The decoder is a template that forks a child for each request, the only one that reads the
// request's file (a movie's child answers its frames too) and ends. On the request's socket the
// template answers with a note that names the child (childStarted) and carries the socket to it,
// where the reply comes from; when a child ends, by itself or because the next request came, the
// template says how (childEnded, with its wait status and the most memory it held, so that the
// figures of a tool's processes count every child). A request sent on a child's socket (a movie's
// frame) gets no note.
constexpr char childStarted = 'C';
constexpr char childEnded = 'E';
struct ChildNote {
    char kind = 0;
    qint32 pid = 0;
    qint32 status = 0;
    qint32 peakKiB = 0; // childEnded: the child's peak resident memory (its ru_maxrss)
};
constexpr int socketDescriptor = 3;
// The decoder's exit status when an allocation failed: the file needs more memory than its limit.
constexpr int exitOutOfMemory = 4;
// A child's exit status when its file needs a library its template gave up (see
// TemplateLibraries.h): the program asks again with "whole" set in the request, and the template
// forks that child from a template that kept every library.
constexpr int exitNeedsWholeDecoder = 5;
// The openings of a request's file the program hands the decoder with it (see DecoderFiles.h):
// as many as the readers hold open at once (three, for a camera RAW file read as a thumbnail),
// and as many again.
constexpr int fileOpenings = 6;
// A request's map is never larger than this (a stored thumbnail travels in it); a reply's map
// never larger than maxReplyMapBytes. A picture's rows follow the map.
constexpr quint32 maxMapBytes = 16u << 20;
constexpr quint32 maxReplyMapBytes = 4u << 20;
// The largest picture a decoder may send (a full-size read of 100 megapixels at 4 bytes a pixel):
// with the reply's map, what a decoder that lies costs its caller at most.
constexpr qint64 maxPictureBytes = qint64(384) << 20;
// How much a picture read into a box may exceed it: rounding of the sides only.
constexpr int boxSlack = 2;

// A picture of at least this many bytes, when the request says "directPicture", is not sent
// through the socket: the reply gives the address of its rows in the decoder ("pictureAddress"),
// the program copies them straight from the decoder's memory (process_vm_readv: one copy, where
// the socket took two and a wake-up every few hundred kilobytes; of the process its handle on the
// child names, see DecoderProcesses::childHandle, never of a pid alone) and then says pictureRead, or
// pictureSend where the system refused the read, and the rows follow as usual. The decoder keeps
// the picture until that word. The program checks the shape as for any picture and takes only
// that many bytes, so an address that lies yields no more than rows the decoder could have sent.
constexpr qint64 directPictureBytes = qint64(1) << 20;
constexpr char pictureRead = 'D';
constexpr char pictureSend = 'S';

// A map that holds a value outside the schema is sent as an empty one.
inline QByteArray encode(const QVariantMap &map)
{
    return DecoderMessage::write(map).value_or(DecoderMessage::write(QVariantMap()).value_or(QByteArray()));
}

// The map, or an empty one for bytes that break the schema.
inline QVariantMap decode(const QByteArray &bytes) { return DecoderMessage::read(bytes).value_or(QVariantMap()); }

// What a reply says of its picture, checked against what was asked before anything is allocated.
struct PictureShape {
    int width = 0;
    int height = 0;
    QImage::Format format = QImage::Format_Invalid;
    qint64 bytesPerLine = 0;
    qint64 bytes = 0;
    QByteArray colors;
};

// The picture a reply describes when it may be taken: of a valid format, its rows laid out as a
// QImage of that size lays them out, its colour table one of an indexed format, and no larger
// than the box asked for (with `boxSlack`), or, without a box, than maxPictureBytes. nullopt for
// anything else: the decoder lies, and its stream cannot be followed further.
std::optional<PictureShape> pictureShape(const QVariantMap &reply, QSize box);

// Whether the file open at `fd` begins as a GIF whose screen fits `box`, and whose picture read
// indexed would be sent through the socket (under directPictureBytes): a thumbnail the decoder's
// minimal template reads (see Decoder_main.cpp). Its first bytes only: the decoder's child reads
// the file itself, and leaves to a child of the whole template whatever it does not read.
bool isGifWithinBox(int fd, QSize box);

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

// Reads exactly `size` bytes from `fd`; false at its end or on an error.
inline bool readAll(int fd, char *into, size_t size)
{
    while (size > 0) {
        const ssize_t count = ::read(fd, into, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        into += count;
        size -= size_t(count);
    }
    return true;
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

// As writeAll, on a socket whose other end may have gone: that ends the sending, not the process.
inline bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(std::min<qint64>(size, qint64(1) << 20)), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

// A request: its length with the descriptors of its file (fileOpenings at most), then its map.
// The program sends it to a decoder, and a decoder's template passes it on to its whole template.
inline bool sendRequest(int fd, const QByteArray &body, const std::vector<int> &descriptors)
{
    const quint32 length = quint32(body.size());
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * fileOpenings)] = {};
    iovec part{const_cast<quint32 *>(&length), sizeof length};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const size_t count = std::min<size_t>(descriptors.size(), size_t(fileOpenings));
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(header), descriptors.data(), sizeof(int) * count);
    }
    ssize_t sent;
    while ((sent = ::sendmsg(fd, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {}
    if (sent <= 0)
        return false;
    return sendAll(fd, reinterpret_cast<const char *>(&length) + sent, qint64(sizeof length) - sent)
           && sendAll(fd, body.constData(), body.size());
}

} // namespace DecoderProtocol

// A JPEG file the decoder writes (the "writeJpeg" operation) comes before the reply's map, a piece
// at a time as it is encoded: each piece a 4-byte word of its length with jpegPiece set, then its
// bytes. A word of jpegPiece alone says that what came so far is void (the decoder starts the
// file again another way). The map's "jpegBytes" says how many bytes the file has.
namespace DecoderProtocol {
constexpr quint32 jpegPiece = 0x80000000u;
// No piece is larger, and no file written larger than maxJpegBytes.
constexpr quint32 maxJpegPieceBytes = 4u << 20;
constexpr qint64 maxJpegBytes = qint64(1) << 30;
} // namespace DecoderProtocol

// Whether the program reads large pictures straight from its decoders' memory (see
// directPictureBytes): on until the system refuses such a read once; tests turn it off to take
// the socket's road.
namespace DirectPictureReads {
bool allowed();
void setAllowed(bool allowed);
// Pictures read so far straight from a decoder's memory (tests).
int taken();
} // namespace DirectPictureReads

// The decoder processes' ends: a child is waited for a bounded time after its kill, then left to a
// thread that waits for it in the background (a process stuck in the kernel on a stalled mount
// may never end), so that no caller waits without a limit.
namespace DecoderProcesses {

// Kills `pid` unless it has ended and waits for its end at most `limit`; its wait status, or
// nullopt when it did not end in time (it is then awaited in the background).
std::optional<int> endWithin(pid_t pid, std::chrono::milliseconds limit, bool kill = true);

// Decoders given up on so far (tests).
int givenUp();

// A process handle (a pidfd) on `child`, which a template says it started: it names that one
// process for as long as it is held, where the pid may be another's by the time it is used. -1
// unless the process is a child of `template_` or of a child of it (its whole template), as it
// still was after that was looked at, and has not ended.
int childHandle(pid_t child, pid_t template_);

// How the end of a child is asked (::waitpid with WNOHANG): tests stand in a child that never
// ends. The background waits always use ::waitpid.
using WaitFunction = pid_t (*)(pid_t, int *, int);
void setWaitFunctionForTesting(WaitFunction wait);

} // namespace DecoderProcesses
