#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Mac OS Roman, the text encoding of older Mac files (password hashes in catalogs, record exports).
namespace MacRoman {
// The text as Mac OS Roman bytes; nothing when a character has no Mac OS Roman byte.
std::optional<QByteArray> encode(const QString &text);
// Every byte has a character.
QString decode(const QByteArray &bytes);
} // namespace MacRoman
