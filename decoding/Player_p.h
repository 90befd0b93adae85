#pragma once

// What MoviePlayer and its player program (ovn-player, Player_main.cpp) share. The two talk over a
// socket the player finds as descriptor 3, in messages as the decoders' (MediaDecoder_p.h): a
// 4-byte length and a QVariantMap; a frame's map says its width, height, bytes per line and its
// place in the movie (ms, -1 when unknown) and how many "time" commands came before it (places:
// one older than the program's last is of the place left), and its rows follow (QImage::Format_RGB32 or
// Format_ARGB32_Premultiplied); a sound's map says its rate, channels and bytes, and its samples
// follow (interleaved signed 16-bit, little-endian).
// The movie comes already open, as descriptors 4 and 5 (see DecoderFiles.h): the player opens no
// file of the user's by name.
//
// To the player: "rate" (rate), "time" (ms), "loop" (on), "box" (width, height), "next" (the last
// frame was taken: the player sends a frame only after the one before it is taken, the latest one
// that came meanwhile), "sound" (on: whether the program plays the sound; none is sent until it
// does), "probe" (test builds: the roads out of the player, tried from inside it).
// From it: "opened" and "state" (durationMs, hasAudio, hasVideo, rotation, naturalWidth,
// naturalHeight), "failed" (reason), "frame", "sound" (rate, channels, ms, bytes), "rate" (rate, and
// after: how many rate commands it had received; a change older than the program's last command is
// stale), "time" (ms), "probe" (each thread's outcomes).

namespace PlayerProtocol {

constexpr const char *programName = "ovn-player";
constexpr int socketDescriptor = 3;
// The movie's descriptors, each an opening of its own.
constexpr int firstFileDescriptor = 4;
constexpr int fileDescriptors = 2;
// The player's exit status when an allocation failed: the movie needs more memory than its limit.
constexpr int exitOutOfMemory = 4;
// A frame is never larger than this a side, whatever box is asked for.
constexpr int maxFrameSide = 4096;
// A stretch of sound is never larger than this.
constexpr int maxSoundBytes = 1 << 20;

} // namespace PlayerProtocol
