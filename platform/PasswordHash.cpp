#include "platform/PasswordHash.h"

#include "platform/MacRoman.h"

#include <crypt.h>

#include <cstring>
#include <memory>

namespace {

QByteArray passwordBytes(const QString &password)
{
    if (std::optional<QByteArray> bytes = PasswordHash::toMacRoman(password))
        return *bytes;
    return password.toUtf8();
}

} // namespace

std::optional<QByteArray> PasswordHash::toMacRoman(const QString &text) { return MacRoman::encode(text); }

QString PasswordHash::fromMacRoman(const QByteArray &bytes) { return MacRoman::decode(bytes); }

QString PasswordHash::hash(const QString &password, const QString &setting)
{
    const QByteArray phrase = passwordBytes(password);
    const QByteArray salt = passwordBytes(setting);
    // No password makes no hash; a NUL inside one would cut it short without notice.
    if (password.isEmpty() || phrase.contains('\0') || salt.isEmpty())
        return QString();
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char *result = crypt_rn(phrase.constData(), salt.constData(), data.get(), int(sizeof(crypt_data)));
    if (!result || result[0] == '*')
        return QString();
    return fromMacRoman(QByteArray(result));
}

bool PasswordHash::matches(const QString &password, const QString &storedHash)
{
    if (storedHash.isEmpty() || storedHash.startsWith(QLatin1Char('*')))
        return false;
    const QByteArray expected = passwordBytes(storedHash);
    const QByteArray actual = passwordBytes(hash(password, storedHash));
    if (actual.isEmpty())
        return false;
    // Constant time in the contents: every byte of the longer text is looked at.
    const qsizetype length = qMax(expected.size(), actual.size());
    unsigned char difference = expected.size() == actual.size() ? 0 : 1;
    for (qsizetype i = 0; i < length; ++i) {
        const auto a = static_cast<unsigned char>(i < expected.size() ? expected.at(i) : 0);
        const auto b = static_cast<unsigned char>(i < actual.size() ? actual.at(i) : 0);
        difference |= a ^ b;
    }
    return difference == 0;
}
