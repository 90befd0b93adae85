// Web-location files.

#include "import/OVNImportParserWeblocDocument.h"

#include "platform/FileAccess.h"

#include "import/OVNImportParserGenericDocument.h"
#include "platform/PropertyList.h"

#include <QFile>

QString OVNImportParserWeblocDocument::urlFromData(const QByteArray &data)
{
    const QVariant plist = PropertyList::read(data);
    if (plist.typeId() == QMetaType::QVariantMap) {
        const QString url = plist.toMap().value(QStringLiteral("URL")).toString();
        if (!url.isEmpty())
            return url;
    }
    for (const QByteArray &line : data.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("URL="))
            return QString::fromUtf8(trimmed.mid(4));
    }
    return {};
}

QImage OVNImportParserWeblocDocument::loadImageForFile(const QString &path, QVariantMap &record)
{
    const QImage icon = OVNImportParserGenericDocument::loadImageForFile(path, record);
    QFile file;
    if (FileAccess::openRegularFile(file, path) && file.size() <= maximumBytes) {
        const QString url = urlFromData(file.readAll());
        if (!url.isEmpty())
            record.insert(QStringLiteral("fulldesc"), url);
    }
    return icon;
}
