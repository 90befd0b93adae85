// Text from a catalog (titles, names, keywords, paths, the messages that quote them) as the tools
// print it.
#pragma once

#include "platform/FileAccess.h"

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
//
// A byte of a file name that is not UTF-8 (held as FileAccess::textOfName holds it) is written
// \xHH too, in capitals (caf\xE9.jpg), which with the doubled backslash no name's own text can
// print; any other lone surrogate as \uHHHH.
inline QString printable(const QString &text)
{
    // A surrogate outside a pair (a pair is one character beyond U+FFFF, left as it is).
    const auto lone = [&text](qsizetype i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate())
            return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
        if (c.isLowSurrogate())
            return i == 0 || !text.at(i - 1).isHighSurrogate();
        return false;
    };
    const auto special = [&](qsizetype i) {
        const char16_t u = text.at(i).unicode();
        return u < 0x20 || (u >= 0x7f && u < 0xa0) || u == u'\\' || lone(i);
    };
    qsizetype first = 0;
    while (first < text.size() && !special(first))
        ++first;
    if (first == text.size())
        return text;
    QString out = text.left(first);
    out.reserve(text.size() + 8);
    for (qsizetype i = first; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (!special(i))
            out += c;
        else if (FileAccess::heldByte(c) >= 0 || u == u'\\')
            out += FileAccess::shownName(c);
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
