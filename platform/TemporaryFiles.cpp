#include "platform/TemporaryFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

QString joinPath(const QString &folder, const QString &entry)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + entry;
    return folder + QLatin1Char('/') + entry;
}

QString safeFileName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.remove(QChar(0));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name.prepend(QLatin1Char('_'));
    return name;
}

} // namespace

QString TemporaryFiles::fileNameFromTemplate(const QString &nameTemplate, int number)
{
    QString name;
    bool numberPlaced = false;
    const qsizetype length = nameTemplate.size();
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = nameTemplate.at(i);
        if (c != QLatin1Char('%')) {
            name.append(c);
            continue;
        }
        if (i + 1 < length && nameTemplate.at(i + 1) == QLatin1Char('%')) {
            name.append(QLatin1Char('%'));
            ++i;
            continue;
        }
        // %[-0][width][length]d|i|u, once; anything else is kept as written.
        qsizetype j = i + 1;
        bool leftAlign = false;
        bool zeroPad = false;
        while (j < length && (nameTemplate.at(j) == QLatin1Char('-') || nameTemplate.at(j) == QLatin1Char('0'))) {
            leftAlign |= nameTemplate.at(j) == QLatin1Char('-');
            zeroPad |= nameTemplate.at(j) == QLatin1Char('0');
            ++j;
        }
        int width = 0;
        while (j < length && nameTemplate.at(j).isDigit() && width < 100) {
            width = width * 10 + nameTemplate.at(j).digitValue();
            ++j;
        }
        while (j < length && QStringLiteral("hlqjzt").contains(nameTemplate.at(j)))
            ++j;
        const bool integerConversion = j < length
                                       && (nameTemplate.at(j) == QLatin1Char('d')
                                           || nameTemplate.at(j) == QLatin1Char('i')
                                           || nameTemplate.at(j) == QLatin1Char('u'));
        if (!integerConversion || numberPlaced) {
            name.append(c);
            continue;
        }
        QString digits = QString::number(number);
        width = qMin(width, 20);
        if (digits.size() < width) {
            const qsizetype pad = width - digits.size();
            if (leftAlign)
                digits.append(QString(pad, QLatin1Char(' ')));
            else
                digits.prepend(QString(pad, zeroPad ? QLatin1Char('0') : QLatin1Char(' ')));
        }
        name.append(digits);
        numberPlaced = true;
        i = j;
    }
    return safeFileName(name);
}

QString TemporaryFiles::tempfileWithTemplate(const QString &nameTemplate)
{
    const QString folder = QDir::tempPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    // Without a number in the template every try gives the same name, so one look suffices.
    const bool numbered = fileNameFromTemplate(nameTemplate, 0) != fileNameFromTemplate(nameTemplate, 1);
    const int attempts = numbered ? 1000 : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const QString candidate =
            QDir::cleanPath(joinPath(folder, fileNameFromTemplate(nameTemplate, RandomIntBetween(0, 100000))));
        const QFileInfo info(candidate);
        // A dangling link counts as taken: writing there would follow it.
        if (!info.exists() && !info.isSymLink())
            return candidate;
    }
    return {};
}

int RandomIntBetween(int low, int high)
{
    const qint64 lower = qMin(low, high);
    const qint64 upper = qMax(low, high);
    // bounded() draws uniformly below its bound; the span of two ints always fits in 64 bits.
    return static_cast<int>(lower + QRandomGenerator::global()->bounded(upper - lower + 1));
}
