// Media records in strvfile, their set memberships, thumbnails, metadata and licence rows.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"


namespace {

constexpr int mediaColumnCount = 26;

// A media list row as a shared record: every one of the 26 keys set, a SQL NULL as the empty text.
MediaRecordRef mediaRecordFromRow(const OVNResultRow &row)
{
    auto record = std::make_shared<MediaRecord>();
    for (int position = 0; position < mediaColumnCount; ++position)
        record->setField(MediaRecord::Field(position), row.text(position));
    return record;
}

const auto noRows = [](const OVNResultRow &) { return false; };

} // namespace

MediaList OVNDatabaseAccess::mediaListForStatement(const QString &sql, const QVariantList &parameters)
{
    MediaList records;
    bool tooNarrow = false;
    execute(sql, parameters, [&](const OVNResultRow &row) {
        if (row.columnCount() < mediaColumnCount) {
            tooNarrow = true;
            return false;
        }
        records.append(mediaRecordFromRow(row));
        return true;
    });
    if (tooNarrow) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("The statement does not select the columns of a media list."));
        return {};
    }
    return records;
}

QStringList OVNDatabaseAccess::getMediaMIDListForCategory(const QString &categoryId)
{
    QStringList mids;
    execute(QStringLiteral("select mid from strvfile where categoryid=$1"), {categoryId},
            [&mids](const OVNResultRow &row) {
                mids.append(row.text(0));
                return true;
            });
    return mids;
}

MediaList OVNDatabaseAccess::getMediaList(const QString &categoryId, const QString &kind)
{
    if (kind == QLatin1String("C") || kind == QLatin1String("M")) {
        if (categoryId == QLatin1String("0"))
            return mediaListForStatement(OVNDBHelper::mediaSelect(), {});
        return mediaListForStatement(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=$1"),
                                     {categoryId});
    }
    if (kind == QLatin1String("S"))
        return mediaListForStatement(OVNDBHelper::mediaSetSelect(), {categoryId});
    if (kind == QLatin1String("EXPANDABLE"))
        return mediaListForStatement(OVNDBHelper::mediaSelect(), {});
    // Folders and smart folders are listed by their callers.
    return {};
}

MediaList OVNDatabaseAccess::getMediaListForArray(const QStringList &categoryIds)
{
    if (categoryIds.isEmpty())
        return mediaListForStatement(OVNDBHelper::mediaSelect(), {});
    QStringList literals;
    literals.reserve(categoryIds.size());
    for (const QString &id : categoryIds)
        literals.append(OVNDBHelper::quotedText(id));
    return mediaListForStatement(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid in (")
                                     + literals.join(QStringLiteral(", ")) + QLatin1Char(')'),
                                 {});
}

MediaList OVNDatabaseAccess::getMediaListForSQL(const QString &sql, const QVariantList &parameters)
{
    return mediaListForStatement(sql, parameters);
}

QString OVNDatabaseAccess::getMediaListEntryForMediaID(const QString &mediaId, const QString &column)
{
    const std::optional<QString> name = OVNDBHelper::columnFromList(OVNDBHelper::fileColumns(), column);
    if (!name) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a column of a media record.").arg(column));
        return QString();
    }
    QString value;
    execute(QStringLiteral("select %1 from strvfile where mid=$1").arg(*name), {mediaId},
            [&value](const OVNResultRow &row) {
                value = row.text(0);
                return true;
            });
    return value;
}

bool OVNDatabaseAccess::updateMediaListEntry(const QString &mediaId, const QString &column,
                                             const QString &value, UpdateKind kind)
{
    const std::optional<QString> name = OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), column);
    if (!name) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a column of a media record.").arg(column));
        return false;
    }
    QVariant parameter;
    if (kind == BareValue || OVNDBHelper::numericFileColumns().contains(*name)) {
        // A number, never the text as it came. A cleared field has no value (NULL), except the two
        // columns that must hold one.
        const bool required = *name == QLatin1String("rating") || *name == QLatin1String("orientation");
        const std::optional<QVariant> number = !value.trimmed().isEmpty() ? OVNDBHelper::numberValue(value)
            : required                                                   ? std::optional<QVariant>(qint64(0))
                                                                         : std::optional<QVariant>(QVariant());
        if (!number) {
            std::lock_guard lock(m_mutex);
            setLastError(localized("\"%1\" is not a number.").arg(value));
            return false;
        }
        parameter = *number;
    } else {
        parameter = value.isNull() ? QString(QLatin1String("")) : value;
    }
    const StatementResult result =
        execute(QStringLiteral("update strvfile set %1=$1 where mid=$2").arg(*name), {parameter, mediaId}, noRows);
    return !insertFailed(result);
}

QVariantMap OVNDatabaseAccess::getExifForMediaID(const QString &mediaId)
{
    return rowDictionaryForQuery(
        QStringLiteral("select CameraMake, CameraModel, DateTime, Width, Height, Orientation, IsColor, Process, "
                       "FlashUsed, FocalLength, ExposureTime, ApertureFNumber, Distance, CCDWidth, ExposureBias, "
                       "DigitalZoomRatio, FocalLength35mmEquiv, WhiteBalance, MeteringMode, ExposureProgram, "
                       "ExposureMode, ISOEquivalent, LightSource, Comments, exiftags, iptctags, addtags "
                       "from strvexif where mid=$1"),
        {mediaId});
}

QVariantMap OVNDatabaseAccess::getPurchasedForMediaID(const QString &mediaId)
{
    return rowDictionaryForQuery(
        QStringLiteral("select id, licensetype, licenserestrictions, owner, ordernumber, photographer "
                       "from strvpurchased where mid=$1"),
        {mediaId});
}

QVariantMap OVNDatabaseAccess::getSoldForMediaID(const QString &mediaId)
{
    return rowDictionaryForQuery(
        QStringLiteral("select id, licensetype, licenserestrictions, customer from strvsold where mid=$1"),
        {mediaId});
}

bool OVNDatabaseAccess::updatePurchasedEntry(const QString &mediaId, const QString &column, const QString &value)
{
    return updateLicenceEntry(QStringLiteral("strvpurchased"), OVNDBHelper::purchasedColumns(), mediaId, column,
                              value);
}

bool OVNDatabaseAccess::updateSoldEntry(const QString &mediaId, const QString &column, const QString &value)
{
    return updateLicenceEntry(QStringLiteral("strvsold"), OVNDBHelper::soldColumns(), mediaId, column, value);
}

bool OVNDatabaseAccess::updateLicenceEntry(const QString &table, const QStringList &columns,
                                           const QString &mediaId, const QString &column, const QString &value)
{
    if (mediaId.isEmpty())
        return false;
    const std::optional<QString> name = OVNDBHelper::columnFromList(columns, column);
    if (!name) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a column of a licence.").arg(column));
        return false;
    }
    QVariant parameter;
    if (*name == QLatin1String("licensetype")) {
        // A cleared type has no value (NULL), not the first type.
        const std::optional<QVariant> number =
            value.trimmed().isEmpty() ? std::optional<QVariant>(QVariant()) : OVNDBHelper::numberValue(value);
        if (!number) {
            std::lock_guard lock(m_mutex);
            setLastError(localized("\"%1\" is not a number.").arg(value));
            return false;
        }
        parameter = *number;
    } else {
        parameter = value.isNull() ? QString(QLatin1String("")) : value;
    }

    // The first field written makes the file's licence row; later ones update it.
    OVNDatabaseTransaction transaction(*this);
    const int rows = affectedRowsForQuery(QStringLiteral("select licensetype from %1 where mid=$1").arg(table),
                                          {mediaId});
    if (rows < 0)
        return false;
    StatementResult result;
    if (rows > 0)
        result = execute(QStringLiteral("update %1 set %2=$1 where mid=$2").arg(table, *name),
                         {parameter, mediaId}, noRows);
    else
        result = execute(QStringLiteral("insert into %1 (mid, %2) values ($1, $2)").arg(table, *name),
                         {mediaId, parameter}, noRows);
    if (insertFailed(result))
        return false;
    return !transaction.isActive() || transaction.commit();
}

QByteArray OVNDatabaseAccess::getThumbnailForMediaID(const QString &mediaId)
{
    return blobcolumnForQuery(QStringLiteral("select thumbimage from strvfile where mid=$1"), {mediaId});
}

bool OVNDatabaseAccess::updateThumbnailForMediaID(const QString &mediaId, const QByteArray &jpegData)
{
    // Binary data is always bound, never written into the statement.
    const QVariant data = jpegData.isEmpty() ? QVariant() : QVariant(jpegData);
    const StatementResult result =
        execute(QStringLiteral("update strvfile set thumbimage=$1 where mid=$2"), {data, mediaId}, noRows);
    return !insertFailed(result);
}

QString OVNDatabaseAccess::addMediaListEntry(const QVariantMap &importRecord)
{
    const QString mid = createNewMID();
    const auto text = [&importRecord](const char *key) {
        return OVNDBHelper::textValue(importRecord, QLatin1String(key));
    };
    const auto number = [&importRecord](const char *key) {
        return OVNDBHelper::integerValue(importRecord.value(QLatin1String(key)));
    };
    // The thumbnail goes into the same row in the same statement: a record is never left half made.
    const QVariant thumbnail = importRecord.value(QStringLiteral("thumbimage"));
    const QVariant thumbnailData =
        thumbnail.typeId() == QMetaType::QByteArray && !thumbnail.toByteArray().isEmpty() ? thumbnail : QVariant();

    const QVariantList parameters = {
        mid,
        text("categoryid"),
        text("cataloguedby"),
        text("volumetype"),
        text("volumename"),
        text("displaytag"),
        text("servername"),
        text("serverpath"),
        text("absolutepath"),
        number("filesize"),
        number("imagewidth"),
        number("imageheight"),
        text("filedts"),
        text("dts"),
        text("keywords"),
        number("Orientation"),
        text("shortdesc"),
        text("fulldesc"),
        text("filetype"),
        number("rating"),
        thumbnailData,
    };
    const StatementResult result = execute(
        QStringLiteral("insert into strvfile (mid, categoryid, cataloguedby, volumetype, volumename, displaytag, "
                       "servername, serverpath, absolutepath, filesize, imagewidth, imageheight, filedts, dts, "
                       "keywords, orientation, shortdesc, fulldesc, filetype, rating, thumbimage) values ($1, $2, "
                       "$3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21)"),
        parameters, noRows);
    return insertFailed(result) ? QString() : mid;
}

bool OVNDatabaseAccess::deleteMediaListEntry(const QString &mediaId)
{
    // The memberships and the metadata row go with the record or not at all.
    OVNDatabaseTransaction transaction(*this);
    if (!transaction.isActive())
        return false;
    if (!runSQLCommand(QStringLiteral("delete from strvset where filemid=$1"), {mediaId}))
        return false;
    if (!runSQLCommand(QStringLiteral("delete from strvexif where mid=$1"), {mediaId}))
        return false;
    if (!runSQLCommand(QStringLiteral("delete from strvfile where mid=$1"), {mediaId}))
        return false;
    return transaction.commit();
}

QString OVNDatabaseAccess::addEntryToImageSet(const QString &mediaId, const QString &setId)
{
    // An entry is in a set once: linking it again answers the membership it has.
    QString existing;
    const StatementResult found =
        execute(QStringLiteral("select mid from strvset where categorymid=$1 and filemid=$2"), {setId, mediaId},
                [&existing](const OVNResultRow &row) {
                    existing = row.text(0);
                    return false;
                });
    if (!found.ok)
        return QString();
    if (!existing.isEmpty())
        return existing;
    const QString mid = createNewMID();
    const StatementResult result =
        execute(QStringLiteral("insert into strvset (mid, categorymid, filemid) values ($1, $2, $3)"),
                {mid, setId, mediaId}, noRows);
    return insertFailed(result) ? QString() : mid;
}

bool OVNDatabaseAccess::deleteImageSetEntry(const QString &membershipId)
{
    return runSQLCommand(QStringLiteral("delete from strvset where mid=$1"), {membershipId});
}
