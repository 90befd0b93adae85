#include "platform/MimeAppsList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

namespace {

constexpr qint64 kMaximumSize = 4 * 1024 * 1024;

QByteArray trimmedLine(const QByteArray &line) { return line.trimmed(); }

bool isGroupHeader(const QByteArray &line)
{
    const QByteArray t = trimmedLine(line);
    return t.startsWith('[') && t.endsWith(']');
}

// Where the group's lines are: [header, end) in line indexes; header -1 when absent.
struct Span {
    qsizetype header = -1;
    qsizetype end = -1;
};

Span findGroup(const QList<QByteArray> &lines, const QString &group)
{
    const QByteArray wanted = '[' + group.toUtf8() + ']';
    Span span;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (span.header < 0) {
            if (trimmedLine(lines.at(i)) == wanted)
                span.header = i;
        } else if (isGroupHeader(lines.at(i))) {
            span.end = i;
            return span;
        }
    }
    if (span.header >= 0)
        span.end = lines.size();
    return span;
}

qsizetype findKey(const QList<QByteArray> &lines, const Span &span, const QString &key)
{
    const QByteArray wanted = key.toUtf8();
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        const QByteArray line = trimmedLine(lines.at(i));
        if (line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == wanted)
            return i;
    }
    return -1;
}

// The line ending the file uses, so that an added line matches its neighbours.
QByteArray lineEnding(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        if (line.endsWith('\r'))
            return "\r";
    return {};
}

} // namespace

namespace MimeAppsList {

QStringList values(const QByteArray &text, const QString &group, const QString &key)
{
    const QList<QByteArray> lines = text.split('\n');
    const Span span = findGroup(lines, group);
    if (span.header < 0)
        return {};
    const qsizetype at = findKey(lines, span, key);
    if (at < 0)
        return {};
    const QByteArray line = trimmedLine(lines.at(at));
    QStringList items;
    for (const QByteArray &item : line.mid(line.indexOf('=') + 1).split(';')) {
        if (!item.trimmed().isEmpty())
            items.append(QString::fromUtf8(item.trimmed()));
    }
    return items;
}

QByteArray withValue(const QByteArray &text, const QString &group, const QString &key, const QString &value)
{
    QList<QByteArray> lines = text.split('\n');
    const QByteArray cr = lineEnding(lines);
    const QByteArray newLine = key.toUtf8() + '=' + value.toUtf8() + cr;
    Span span = findGroup(lines, group);
    if (span.header < 0) {
        if (value.isEmpty())
            return text;
        QByteArray result = text;
        if (!result.isEmpty() && !result.endsWith('\n'))
            result += cr + '\n';
        return result + '[' + group.toUtf8() + ']' + cr + '\n' + newLine + '\n';
    }
    const qsizetype at = findKey(lines, span, key);
    if (at >= 0) {
        if (value.isEmpty())
            lines.removeAt(at);
        else
            lines[at] = newLine;
        return lines.join('\n');
    }
    if (value.isEmpty())
        return text;
    // After the group's last non-blank line, so that a blank line before the next group stays.
    qsizetype insertAt = span.header + 1;
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        if (!trimmedLine(lines.at(i)).isEmpty())
            insertAt = i + 1;
    }
    // The group is the file's last and has no final newline: the new line goes after it.
    if (insertAt == lines.size()) {
        lines.last() += cr;
        lines.append(newLine.chopped(cr.size()));
    } else {
        lines.insert(insertAt, newLine);
    }
    return lines.join('\n');
}

QByteArray withItemFirst(const QByteArray &text, const QString &group, const QString &key, const QString &item)
{
    QStringList items = values(text, group, key);
    if (items.contains(item))
        return text;
    items.prepend(item);
    return withValue(text, group, key, items.join(QLatin1Char(';')) + QLatin1Char(';'));
}

QString userListPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/mimeapps.list");
}

bool read(const QString &path, QByteArray *text)
{
    text->clear();
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    QFile file(path);
    if (!info.isFile() || info.size() > kMaximumSize || !file.open(QIODevice::ReadOnly))
        return false;
    *text = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Through a link the file it points to is replaced, not the link.
    const QString target = QFileInfo(path).isSymLink() ? QFileInfo(path).canonicalFilePath() : path;
    const QFile::Permissions permissions = QFile::exists(target) ? QFile::permissions(target)
                                                                 : QFile::ReadOwner | QFile::WriteOwner
                                                                       | QFile::ReadGroup | QFile::ReadOther;
    QSaveFile file(target.isEmpty() ? path : target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(permissions);
    if (file.write(text) != text.size())
        return false;
    return file.commit();
}

} // namespace MimeAppsList
