#pragma once

// How many threads a movie's frames are decoded on within a decoder's memory. Each frame thread of
// FFmpeg's decoders holds pictures of its own in flight beside the ones the stream refers back to,
// so a movie decoded on as many threads as the machine has can need several times what it needs
// on one: a 1080p movie on seventeen threads holds more than a thumbnail decoder may, an 8K one
// more than any decoder on two. The count is fitted to the decoder's budget when the movie is
// opened, and a decoder that cannot give the movie enough of them says so then, before its first
// frame, so that the movie goes to the larger decoder once rather than failing there first.

#include <QtGlobal>

#include <algorithm>

namespace MovieThreads {

// Beside the pictures: the codec's tables, packets and the conversion's rows.
constexpr qint64 fixedBytes = qint64(24) << 20;
// The pictures the stream refers back to, and those each frame thread holds in flight.
constexpr int referencePictures = 4;
constexpr int picturesPerThread = 4;
// A decoder that cannot give a movie this many threads (or as many as it wants, when fewer) leaves
// it to the larger decoder: on one thread a 1080p frame some seconds after its key frame takes
// four times as long.
constexpr int enough = 4;

// What decoding on `threads` threads holds, for pictures of `pictureBytes` each.
constexpr qint64 neededBytes(qint64 pictureBytes, int threads)
{
    return fixedBytes + pictureBytes * (referencePictures + picturesPerThread * qint64(std::max(threads, 1)));
}

// The most threads, up to `wanted`, whose decode fits within `budget` bytes; 0 when not even one's
// does.
constexpr int fitted(qint64 pictureBytes, qint64 budget, int wanted)
{
    if (pictureBytes <= 0 || wanted <= 0 || budget < neededBytes(pictureBytes, 1))
        return 0;
    const qint64 perThread = pictureBytes * picturesPerThread;
    const qint64 threads = (budget - fixedBytes - pictureBytes * referencePictures) / perThread;
    return int(std::clamp<qint64>(threads, 1, wanted));
}

// Whether a decoder that may give the movie `fittedThreads` of the `wanted` keeps it.
constexpr bool isEnough(int fittedThreads, int wanted)
{
    return fittedThreads >= std::min(std::max(wanted, 1), enough);
}

} // namespace MovieThreads
