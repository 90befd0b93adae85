#include "app/OVNCategoryComment.h"

#include "platform/PropertyList.h"

QVariantMap OVNCategoryComment::dictionary(const QString &comment)
{
    if (comment.trimmed().isEmpty())
        return {};
    const QVariant value = PropertyList::read(comment.toUtf8());
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

bool OVNCategoryComment::holdsDictionary(const QString &comment)
{
    if (comment.trimmed().isEmpty())
        return false;
    return PropertyList::read(comment.toUtf8()).typeId() == QMetaType::QVariantMap;
}

QString OVNCategoryComment::xmlForm(const QVariantMap &dictionary)
{
    return QString::fromUtf8(PropertyList::writeXml(dictionary));
}

QString OVNCategoryComment::textForm(const QVariantMap &dictionary)
{
    return QString::fromUtf8(PropertyList::writeOpenStep(dictionary));
}

QString OVNCategoryComment::withPrivileges(const QString &comment, const QVariantList &privileges)
{
    QVariantMap entries = dictionary(comment);
    entries.insert(QStringLiteral("PRIVILEGES"), privileges);
    return xmlForm(entries);
}
