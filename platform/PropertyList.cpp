#include "platform/PropertyList.h"

QVariant PropertyList::read(const QByteArray &data, QString *errorMessage, Format *format)
{
    if (data.startsWith("bplist")) {
        if (format)
            *format = Format::Binary;
        return readBinary(data, errorMessage);
    }
    const QByteArray head = data.left(64).trimmed();
    if (head.startsWith("<?xml") || head.startsWith("<!DOCTYPE") || head.startsWith("<plist")) {
        if (format)
            *format = Format::Xml;
        return readXml(data, errorMessage);
    }
    if (format)
        *format = Format::OpenStep;
    return readOpenStep(data, errorMessage);
}

QVariant PropertyList::readXml(const QByteArray &, QString *errorMessage)
{
    if (errorMessage)
        *errorMessage = QStringLiteral("not implemented");
    return {};
}

QVariant PropertyList::readOpenStep(const QByteArray &, QString *errorMessage)
{
    if (errorMessage)
        *errorMessage = QStringLiteral("not implemented");
    return {};
}

QVariant PropertyList::readBinary(const QByteArray &, QString *errorMessage)
{
    if (errorMessage)
        *errorMessage = QStringLiteral("not implemented");
    return {};
}

QByteArray PropertyList::writeXml(const QVariant &, QString *errorMessage)
{
    if (errorMessage)
        *errorMessage = QStringLiteral("not implemented");
    return {};
}

QByteArray PropertyList::writeOpenStep(const QVariant &, QString *errorMessage)
{
    if (errorMessage)
        *errorMessage = QStringLiteral("not implemented");
    return {};
}
