#pragma once

#include <QByteArray>
#include <QVariantMap>

#include <optional>

// The maps MediaDecoder and its decoder program (ovn-decoder) send each other, in a closed set of
// types: booleans, 32- and 64-bit integers, doubles, strings, byte arrays, and lists and maps of
// them. A decoder may have been taken over by the file it read, so its replies are read by these
// rules alone: a value of any other type, a count larger than the bytes that follow could hold,
// nesting deeper than maxDepth or more than maxValues values refuse the whole message before
// anything of that value is built. Nothing here knows Qt's own serialisation of QVariant (which
// would build pictures and any registered type from the bytes).
//
// Layout: a tag byte, then the value in little-endian order. 'n' nothing; 'b' a byte 0 or 1; 'i'
// 4 bytes; 'l' 8 bytes; 'd' an IEEE double in 8 bytes; 's' a 4-byte length and UTF-8; 'y' a 4-byte
// length and the bytes; 'L' a 4-byte count and the values; 'M' a 4-byte count and each key (a
// 4-byte length and UTF-8) with its value. A message is one map and ends where it does.
namespace DecoderMessage {

constexpr int maxDepth = 8;
constexpr qsizetype maxValues = 16384;

// The bytes of `map`; nullopt when it holds a value outside the closed set (nothing is sent then).
std::optional<QByteArray> write(const QVariantMap &map);

// The map in `bytes`; nullopt when they break the rules above or hold anything after the map.
std::optional<QVariantMap> read(const QByteArray &bytes);

// One value of the message's map, found without building the map (for a look at a message that is
// handed on): a boolean or integer as `number`, a string or byte array as `text` (a view into
// `bytes`), `tag` as in the layout. Nullopt when the map has no such key, or the bytes up to its
// value break the rules above. It calls into no Qt library: a process that gave them up looks too.
struct Scalar {
    char tag = 'n';
    qint64 number = 0;
    QByteArrayView text;
};
std::optional<Scalar> scalar(QByteArrayView bytes, QByteArrayView key);

} // namespace DecoderMessage
