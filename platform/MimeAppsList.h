#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Edits single lines of a mimeapps.list file and nothing else: comments, other groups, other
// programs' lines, line endings and a missing final newline all stay byte for byte. (A generic
// settings writer would reorder and re-escape the whole file.)
namespace MimeAppsList {

// The items of a list value ("a.desktop;b.desktop;") under the key in the group.
QStringList values(const QByteArray &text, const QString &group, const QString &key);
// The text with the key's line in the group set to the value; an empty value removes the line. A
// missing line is added at the end of its group, a missing group at the end of the text.
QByteArray withValue(const QByteArray &text, const QString &group, const QString &key, const QString &value);
// The text with the item put first in the key's list when it is not in it yet.
QByteArray withItemFirst(const QByteArray &text, const QString &group, const QString &key, const QString &item);

// $XDG_CONFIG_HOME/mimeapps.list.
QString userListPath();
// Reads the file; false when it exists but cannot be read (or is unreasonably large), so that
// the caller leaves it alone. A missing file reads as empty.
bool read(const QString &path, QByteArray *text);
// Replaces the file atomically, keeping its permissions.
bool write(const QString &path, const QByteArray &text);

} // namespace MimeAppsList
