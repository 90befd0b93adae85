#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Password hashes in the crypt(3) form that catalogs keep (libxcrypt's crypt_rn, thread-safe).
// Passwords are hashed as their Mac OS Roman bytes, the form every existing catalog was written
// with; a password with a character that Mac OS Roman lacks is hashed as its UTF-8 bytes.
class PasswordHash
{
public:
    // The hash of the password with the given setting (a two-character salt such as "Qz", or a
    // whole stored hash); "" for an empty password and when crypt cannot make one (an unknown or
    // failing setting).
    static QString hash(const QString &password, const QString &setting);
    // True when the password hashes to the stored hash, compared in constant time. A stored hash
    // that is empty or starts with "*" (crypt's failure and "locked" marks) never matches, nor
    // does an empty password.
    static bool matches(const QString &password, const QString &storedHash);

    // The text as Mac OS Roman bytes; nothing when a character has no Mac OS Roman byte.
    static std::optional<QByteArray> toMacRoman(const QString &text);
    static QString fromMacRoman(const QByteArray &bytes);
};
