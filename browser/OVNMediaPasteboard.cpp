#include "browser/OVNMediaPasteboard.h"

#include "browser/OVNPasteboardTypes.h"
#include "platform/PropertyList.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace {
// Far above any real selection; a larger id list is not read at all.
constexpr qsizetype maximumIdListBytes = 32 * 1024 * 1024;
constexpr qsizetype maximumTextBytes = 4096;

QString shortText(const QMimeData *data, const QString &format)
{
    const QByteArray bytes = data->data(format);
    return bytes.size() <= maximumTextBytes ? QString::fromUtf8(bytes) : QString();
}
} // namespace

std::unique_ptr<QMimeData> OVNMediaPasteboard::write(const Contents &contents)
{
    auto data = std::make_unique<QMimeData>();
    if (!contents.paths.isEmpty()) {
        QList<QUrl> urls;
        QByteArray copied("copy");
        for (const QString &path : contents.paths) {
            const QUrl url = QUrl::fromLocalFile(path);
            urls.append(url);
            copied += '\n' + url.toEncoded();
        }
        data->setUrls(urls);
        data->setData(OVNPasteboardTypes::gnomeCopiedFiles(), copied);
    }
    if (contents.withMedia) {
        QVariantList mids;
        for (const QString &mid : contents.mids)
            mids.append(mid);
        data->setData(OVNPasteboardTypes::mediaMid(), PropertyList::writeXml(mids));
        data->setData(OVNPasteboardTypes::sourceCatalogMid(), contents.sourceMid.toUtf8());
        data->setData(OVNPasteboardTypes::mediaContainerType(), contents.sourceKind.toUtf8());
        data->setData(OVNPasteboardTypes::catalogIdentity(), contents.catalog);
    }
    if (!contents.thumbnail.isNull())
        data->setImageData(contents.thumbnail);
    return data;
}

bool OVNMediaPasteboard::isMediaId(const QString &mid)
{
    if (mid.isEmpty() || mid.size() > 60)
        return false;
    return std::none_of(mid.cbegin(), mid.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

OVNMediaPasteboard::Payload OVNMediaPasteboard::read(const QMimeData *data, const QByteArray &catalog)
{
    Payload payload;
    if (!data)
        return payload;
    QList<QUrl> urls = data->urls();
    if (urls.isEmpty() && data->hasFormat(OVNPasteboardTypes::gnomeCopiedFiles())) {
        // GNOME's file managers: "copy" or "cut", then one URI a line.
        const QList<QByteArray> lines = data->data(OVNPasteboardTypes::gnomeCopiedFiles()).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            if (!lines.at(i).trimmed().isEmpty())
                urls.append(QUrl::fromEncoded(lines.at(i).trimmed()));
        }
    }
    for (const QUrl &url : std::as_const(urls)) {
        // A file of this computer: no other host, an absolute path.
        const bool here = url.host().isEmpty() || url.host() == QLatin1String("localhost");
        if (url.isLocalFile() && here && QDir::isAbsolutePath(url.toLocalFile()))
            payload.paths.append(url.toLocalFile());
        else if (!url.isEmpty())
            payload.skipped.append(url.toDisplayString());
    }

    const bool complete = data->hasFormat(OVNPasteboardTypes::mediaMid())
                          && data->hasFormat(OVNPasteboardTypes::sourceCatalogMid())
                          && data->hasFormat(OVNPasteboardTypes::mediaContainerType());
    // Ids mean something only in the catalog they come from; an unnamed catalog is another one.
    if (!complete || catalog.isEmpty() || data->data(OVNPasteboardTypes::catalogIdentity()) != catalog)
        return payload;
    const QByteArray list = data->data(OVNPasteboardTypes::mediaMid());
    if (list.size() > maximumIdListBytes)
        return payload;
    const QVariant ids = PropertyList::readXml(list);
    if (ids.typeId() != QMetaType::QVariantList)
        return payload;
    QStringList mids;
    for (const QVariant &id : ids.toList()) {
        if (id.typeId() != QMetaType::QString || !isMediaId(id.toString()))
            return payload;
        mids.append(id.toString());
    }
    if (mids.isEmpty())
        return payload;
    payload.media = true;
    payload.mids = mids;
    payload.sourceMid = shortText(data, OVNPasteboardTypes::sourceCatalogMid());
    payload.sourceKind = shortText(data, OVNPasteboardTypes::mediaContainerType());
    return payload;
}

OVNMediaPasteboard::Operation OVNMediaPasteboard::dropOperation(const Payload &payload, const Target &target)
{
    if (!target.writable)
        return Operation::None;
    if (payload.media) {
        // Never onto the category they come from.
        if (target.mid.isEmpty() || payload.sourceMid == target.mid)
            return Operation::None;
        if (target.kind.isEmpty())
            return Operation::None;
        const bool toCollection = target.kind == QLatin1String("C");
        const bool toSet = target.kind == QLatin1String("S");
        if (payload.sourceKind == QLatin1String("C"))
            return toCollection ? Operation::Move : toSet ? Operation::Link : Operation::None;
        if (payload.sourceKind == QLatin1String("S"))
            return toSet ? Operation::Link : Operation::None;
        // From the whole catalog, a folder, a search: the files they name.
    }
    return payload.paths.isEmpty() ? Operation::None : Operation::Copy;
}

QByteArray OVNMediaPasteboard::catalogIdentity(const QString &description)
{
    if (description.isEmpty())
        return QByteArray();
    return QCryptographicHash::hash(description.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
}
