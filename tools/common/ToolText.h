// Text from a catalog (titles, names, keywords, paths, the messages that quote them) as the tools
// print it.
#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>

namespace ToolText {

// The text with every control character written out, so that a title holding an escape sequence
// cannot drive the terminal or a log's reader, nor a newline or tab forge a line or a column of the
// tools' output: C0 controls and DEL as \xHH ("\x1b"), C1 controls as \uHHHH. A backslash itself is
// written \\, so that the output reads back unambiguously: a title typed as the four characters
// "\x1b" prints as \\x1b, a real escape as \x1b. Always, not only on a terminal: output sent to a
// file or a pipe is read on a terminal later. All else is left as it is.
inline QString printable(const QString &text)
{
    const auto special = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7f && u < 0xa0) || u == u'\\';
    };
    if (std::none_of(text.cbegin(), text.cend(), special))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!special(c))
            out += c;
        else if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
    }
    return out;
}

// printable() as UTF-8, for printf's "%s".
inline QByteArray utf8(const QString &text) { return printable(text).toUtf8(); }

// The program's own sentences, which may quote catalog text: their line breaks stay line breaks,
// every other control character is written out as printable() does.
inline QByteArray sentences(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = printable(line);
    return lines.join(QLatin1Char('\n')).toUtf8();
}

} // namespace ToolText
