// Numbers on the command line, read the same way by every tool: a finite number within what the
// option takes, or a message that names the option, what it takes and what was given (the tool then
// ends with status 2 before it does anything). "nan", "inf" and numbers too large to hold are
// refused like any other text that is not a number in range.
#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <optional>

namespace ToolNumber {

inline constexpr qint64 noLimit = std::numeric_limits<qint64>::max();

namespace detail {

inline QString rangeText(const char *kind, double minimum, double maximum, bool unbounded)
{
    const QString low = QString::number(minimum, 'g', 12), high = QString::number(maximum, 'g', 12);
    if (unbounded)
        return QStringLiteral("%1 of at least %2").arg(QLatin1String(kind), low);
    return QStringLiteral("%1 from %2 to %3").arg(QLatin1String(kind), low, high);
}

inline void complain(const char *option, const QString &takes, const QString &text)
{
    std::fprintf(stderr, "%s: %s takes %s, not \"%s\"\n", program_invocation_short_name, option, qPrintable(takes),
                 qPrintable(text));
}

} // namespace detail

// The number `text` stands for when it is finite and within [minimum, maximum]; nothing otherwise.
inline std::optional<double> parseReal(const QString &text, double minimum, double maximum)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

// The whole number `text` stands for when it is within [minimum, maximum]; nothing otherwise.
inline std::optional<qint64> parseInteger(const QString &text, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

// The same for the value of `option`, with "PROGRAM: OPTION takes ..., not "TEXT"" on standard
// error when it is refused.
inline std::optional<double> real(const char *option, const QString &text, double minimum, double maximum)
{
    const std::optional<double> value = parseReal(text, minimum, maximum);
    if (!value)
        detail::complain(option, detail::rangeText("a number", minimum, maximum, false), text);
    return value;
}

// `maximum` noLimit: any whole number from `minimum` up.
inline std::optional<qint64> integer(const char *option, const QString &text, qint64 minimum, qint64 maximum = noLimit)
{
    const std::optional<qint64> value = parseInteger(text, minimum, maximum);
    if (!value)
        detail::complain(
            option, detail::rangeText("a whole number", double(minimum), double(maximum), maximum == noLimit), text);
    return value;
}

// A whole number that fits an int, for the many options stored as one (no `maximum`: any from
// `minimum` up that an int holds).
inline std::optional<int> integer32(const char *option, const QString &text, int minimum,
                                    int maximum = std::numeric_limits<int>::max())
{
    const std::optional<qint64> value = parseInteger(text, minimum, maximum);
    if (!value)
        detail::complain(
            option, detail::rangeText("a whole number", minimum, maximum, maximum == std::numeric_limits<int>::max()),
            text);
    return value ? std::optional<int>(int(*value)) : std::nullopt;
}

// One of a few codes (`codes` in the order they are named): the same answer for any other text,
// whether it is a number out of range, a number between two codes or no number at all.
inline std::optional<int> code(const char *option, const QString &text, std::initializer_list<int> codes)
{
    QStringList names;
    for (const int code : codes)
        names.append(QString::number(code));
    const std::optional<qint64> value =
        parseInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (value && std::find(codes.begin(), codes.end(), int(*value)) != codes.end())
        return int(*value);
    const QString last = names.takeLast();
    detail::complain(option, names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last,
                     text);
    return std::nullopt;
}

} // namespace ToolNumber
