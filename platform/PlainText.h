#pragma once

#include <QString>

// Names, titles and paths from users and files, made safe for the places that would read them
// as something else: a menu item takes '&' for its mnemonic, a tool tip takes markup.

// The text of a menu item or button that shows `name` as it is.
inline QString menuItemText(const QString &name)
{
    QString text = name;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A tool tip that shows `text` as it is, whatever tags it holds.
inline QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? text : QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}
