#pragma once

// What MoviePlayer and its player program (ovn-player, Player_main.cpp) share. The two talk over a
// socket the player finds as descriptor 3, in messages as the decoders' (MediaDecoder_p.h): a
// 4-byte length and a QVariantMap; a frame's map says its width, height and bytes per line, and
// its rows follow (QImage::Format_RGB32 or Format_ARGB32_Premultiplied).
//
// To the player: "rate" (rate), "time" (ms), "loop" (on), "volume" (volume), "box" (width, height),
// "next" (the last frame was taken: the player sends a frame only after the one before it is
// taken, the latest one that came meanwhile), "soundFault" (tests).
// From it: "opened" and "state" (durationMs, hasAudio, hasVideo, hasAudioOutput, soundOff,
// rotation, naturalWidth, naturalHeight), "failed" (reason), "frame", "rate" (rate), "time" (ms),
// "duration" (ms), "soundTurnedOff".

namespace PlayerProtocol {

constexpr const char *programName = "ovn-player";
constexpr int socketDescriptor = 3;
// The player's exit status when an allocation failed: the movie needs more memory than its limit.
constexpr int exitOutOfMemory = 4;
// A frame is never larger than this a side, whatever box is asked for.
constexpr int maxFrameSide = 4096;

} // namespace PlayerProtocol
