// Illustrator and EPS header comments.

#include "import/OVNImportParserAdobe.h"

#include "import/OVNImportParserGenericDocument.h"
#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QString OVNImportParserAdobe::getPSStringFromLine(const QString &line)
{
    QStringList parts;
    qsizetype position = 0;
    while (position < line.size()) {
        const qsizetype open = line.indexOf(QLatin1Char('('), position);
        if (open < 0 || open == position)
            break;
        const qsizetype close = line.indexOf(QLatin1Char(')'), open + 1);
        if (close < 0)
            break;
        parts.append(line.mid(open + 1, close - open - 1));
        position = close + 1;
    }
    return parts.join(QLatin1Char(' '));
}

QVariantMap OVNImportParserAdobe::commentsFromText(const QByteArray &text)
{
    QVariantMap metadata{
        {QStringLiteral("CameraMake"), QStringLiteral("n/a")},
        {QStringLiteral("CameraModel"), QStringLiteral("n/a")},
        {QStringLiteral("DateTime"), QStringLiteral("n/a")},
    };
    // Files written on other systems end their lines with "\r", "\n" or both.
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    const QStringList lines = QString::fromLatin1(text).split(lineBreak, Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("%%Title:"), Qt::CaseInsensitive))
            metadata.insert(QStringLiteral("Title"), getPSStringFromLine(line));
        else if (line.startsWith(QLatin1String("%%CreationDate:"), Qt::CaseInsensitive))
            metadata.insert(QStringLiteral("DateTime"), getPSStringFromLine(line));
        else if (line.startsWith(QLatin1String("%%For:"), Qt::CaseInsensitive))
            metadata.insert(QStringLiteral("Author"), getPSStringFromLine(line));
        else if (line.startsWith(QLatin1String("%%Creator:"), Qt::CaseInsensitive))
            metadata.insert(QStringLiteral("Creator"), line.mid(11));
    }
    return metadata;
}

QImage OVNImportParserAdobe::loadImageForIllustratorFile(const QString &path, QVariantMap &record)
{
    const QImage icon = OVNImportParserGenericDocument::loadImageForFile(path, record);
    QFile file;
    if (FileAccess::openRegularFile(file, path)) {
        const QVariantMap metadata = commentsFromText(FileAccess::readAtMost(file, headerBytes));
        if (metadata.contains(QStringLiteral("Title")))
            record.insert(QStringLiteral("keywords"), metadata.value(QStringLiteral("Title")));
        record.insert(QStringLiteral("exif"), metadata);
    }
    return icon;
}
