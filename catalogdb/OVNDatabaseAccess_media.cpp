// Media records in strvfile, their set memberships, thumbnails, metadata and licence rows.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/SystemInfo.h"

#include <array>
#include <limits>

MediaRecordRef mediaRecordFromRow(const OVNResultRow &row, std::uint32_t fields)
{
    std::array<QString, MediaRecord::fieldCount> texts;
    for (int position = 0; position < MediaRecord::fieldCount; ++position) {
        if ((fields >> position) & 1u)
            texts[size_t(position)] = row.text(position);
    }
    auto record = std::make_shared<MediaRecord>();
    record->setAllFields(std::move(texts));
    return record;
}

namespace {

const auto noRows = [](const OVNResultRow &) { return false; };

} // namespace

QString OVNDatabaseAccess::insertWithNewMID(const QString &sql, QVariantList parameters, const QString &firstMid,
                                            const EarlierCopy &earlier)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastInsertFoundEarlierCopy = false;
    }
    // "on conflict do nothing" answers a taken id with no row instead of an error, which on a
    // server would undo the transaction the insert runs in.
    const QString statement = sql + QStringLiteral(" on conflict do nothing");
    parameters.prepend(QVariant());
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString mid = attempt == 0 && !firstMid.isEmpty() ? firstMid : createNewMID();
        parameters[0] = mid;
        const StatementResult result = execute(statement, parameters, noRows);
        if (!result.ok)
            return QString();
        if (result.changedRows > 0)
            return mid;
        // The id a writer chose is taken by the same row: the writer's own earlier try, whose
        // answer was lost. The insert above waited for that try's transaction to end (the key
        // is the server's), so the row is there for good: no second copy is made.
        if (attempt == 0 && !firstMid.isEmpty() && !earlier.sql.isEmpty()) {
            QVariantList values = earlier.parameters;
            values.prepend(mid);
            bool found = false;
            const StatementResult looked = execute(earlier.sql, values, [&found](const OVNResultRow &) {
                found = true;
                return false;
            });
            if (!looked.ok)
                return QString();
            if (found) {
                std::lock_guard lock(m_mutex);
                m_lastInsertFoundEarlierCopy = true;
                return mid;
            }
        }
        // Another client makes ids with this machine part (a copied process, a restored
        // catalog): this connection goes on with a part of its own.
        std::lock_guard lock(m_mutex);
        m_midbasestring = SystemInfo::newRecordIdMachinePart();
    }
    std::lock_guard lock(m_mutex);
    setLastError(localized("The catalog holds the new entry's record id already (or another of its unique values)."));
    return QString();
}

bool OVNDatabaseAccess::fitsFileColumns(const QString &subject, const QList<std::pair<QString, QVariant>> &values)
{
    if (m_vendor != Vendor::PostgreSQL)
        return true;
    std::unique_lock lock(m_mutex);
    if (!m_fileColumnLimits) {
        lock.unlock();
        QHash<QString, ColumnLimit> limits;
        const StatementResult result =
            execute(QStringLiteral("select a.attname, t.typname, a.atttypmod from pg_attribute a join pg_type t on "
                                   "t.oid = a.atttypid where a.attrelid = to_regclass('strvfile') and a.attnum > 0 "
                                   "and not a.attisdropped"),
                    {}, [&limits](const OVNResultRow &row) {
                        ColumnLimit limit;
                        const QString type = row.text(1);
                        const qint64 modifier = row.text(2).toLongLong();
                        if ((type == QLatin1String("varchar") || type == QLatin1String("bpchar")) && modifier > 4)
                            limit.maxCharacters = modifier - 4;
                        else if (type == QLatin1String("int4"))
                            limit.maxNumber = std::numeric_limits<qint32>::max();
                        else if (type == QLatin1String("int2"))
                            limit.maxNumber = std::numeric_limits<qint16>::max();
                        limits.insert(row.text(0).toLower(), limit);
                        return true;
                    });
        lock.lock();
        // Unknown limits (a failed look-up) leave the check to the server.
        if (!result.ok)
            return true;
        m_fileColumnLimits = std::move(limits);
    }
    for (const auto &[column, value] : values) {
        const ColumnLimit limit = m_fileColumnLimits->value(column.toLower());
        // The server counts characters; a text has no more of them than UTF-16 units.
        if (limit.maxCharacters >= 0 && value.typeId() == QMetaType::QString
            && value.toString().size() > limit.maxCharacters) {
            const qint64 characters = value.toString().toUcs4().size();
            if (characters > limit.maxCharacters) {
                setLastError(localized("\"%1\" does not fit the catalog: its %2 has %3 characters, the catalog's "
                                       "column \"%2\" holds at most %4.")
                                 .arg(subject, column)
                                 .arg(characters)
                                 .arg(limit.maxCharacters));
                return false;
            }
        }
        if (limit.maxNumber >= 0 && value.typeId() != QMetaType::QString && value.isValid()) {
            const qint64 number = value.toLongLong();
            if (number > limit.maxNumber || number < -limit.maxNumber - 1) {
                setLastError(localized("\"%1\" does not fit the catalog: its %2 is %3, the catalog's column \"%2\" "
                                       "holds numbers up to %4.")
                                 .arg(subject, column)
                                 .arg(number)
                                 .arg(limit.maxNumber));
                return false;
            }
        }
    }
    return true;
}

MediaList OVNDatabaseAccess::mediaListForStatement(const QString &sql, const QVariantList &parameters)
{
    MediaList records;
    bool tooNarrow = false;
    const StatementResult result = execute(
        sql, parameters,
        [&](const OVNResultRow &row) {
            if (row.columnCount() < MediaRecord::fieldCount) {
                tooNarrow = true;
                return false;
            }
            records.append(mediaRecordFromRow(row));
            return true;
        },
        RowDelivery::AsRowsArrive);
    if (tooNarrow) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("The statement does not select the columns of a media list."));
        return {};
    }
    // Rows read before a failure are no listing.
    return result.ok ? records : MediaList();
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

std::optional<std::pair<QString, QVariantList>> OVNDatabaseAccess::mediaListStatement(const QString &categoryId,
                                                                                      const QString &kind) const
{
    // Every list comes in the catalog's own order, that of the ids, on both vendors.
    const QString order = OVNDBHelper::mediaIdOrder(m_vendor == Vendor::PostgreSQL);
    if (kind == QLatin1String("C") || kind == QLatin1String("M")) {
        if (categoryId == QLatin1String("0"))
            return std::pair(OVNDBHelper::mediaSelect() + order, QVariantList());
        return std::pair(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=$1") + order,
                         QVariantList{categoryId});
    }
    if (kind == QLatin1String("S"))
        return std::pair(OVNDBHelper::mediaSetSelect() + order, QVariantList{categoryId});
    if (kind == QLatin1String("EXPANDABLE"))
        return std::pair(OVNDBHelper::mediaSelect() + order, QVariantList());
    // Folders and smart folders are listed by their callers.
    return std::nullopt;
}

MediaList OVNDatabaseAccess::getMediaList(const QString &categoryId, const QString &kind)
{
    const auto statement = mediaListStatement(categoryId, kind);
    return statement ? mediaListForStatement(statement->first, statement->second) : MediaList();
}

bool OVNDatabaseAccess::forEachMediaRecord(const QString &categoryId, const QString &kind,
                                           const std::function<bool(const MediaRecord &)> &onRecord)
{
    const auto statement = mediaListStatement(categoryId, kind);
    if (!statement) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a kind of category whose entries are listed here.").arg(kind));
        return false;
    }
    // One record, filled anew for each row: the texts it lets go make room for the next row's, so
    // that a long listing neither grows nor faults in fresh memory row after row.
    MediaRecord record;
    const StatementResult result = execute(
        statement->first, statement->second,
        [&](const OVNResultRow &row) {
            std::array<QString, MediaRecord::fieldCount> texts;
            for (int position = 0; position < MediaRecord::fieldCount; ++position)
                texts[size_t(position)] = row.text(position);
            record.setAllFields(std::move(texts));
            return onRecord(record);
        },
        RowDelivery::AsRowsArrive);
    return result.ok;
}

MediaList OVNDatabaseAccess::getMediaListForArray(const QStringList &categoryIds)
{
    const QString order = OVNDBHelper::mediaIdOrder(m_vendor == Vendor::PostgreSQL);
    if (categoryIds.isEmpty())
        return mediaListForStatement(OVNDBHelper::mediaSelect() + order, {});
    QStringList literals;
    literals.reserve(categoryIds.size());
    for (const QString &id : categoryIds)
        literals.append(OVNDBHelper::quotedText(id));
    return mediaListForStatement(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid in (")
                                     + literals.join(QStringLiteral(", ")) + QLatin1Char(')') + order,
                                 {});
}

MediaList OVNDatabaseAccess::getMediaListForSQL(const QString &sql, const QVariantList &parameters)
{
    return mediaListForStatement(sql, parameters);
}

std::optional<QVariant> OVNDatabaseAccess::fileParameter(const QString &column, const QString &value, UpdateKind kind)
{
    if (kind != BareValue && !OVNDBHelper::numericFileColumns().contains(column))
        return value.isNull() ? QString(QLatin1String("")) : value;
    // A number, never the text as it came. A cleared field has no value (NULL), except the two
    // columns that must hold one.
    const bool required = column == QLatin1String("rating") || column == QLatin1String("orientation");
    const std::optional<QVariant> number = !value.trimmed().isEmpty() ? OVNDBHelper::numberValue(value)
                                           : required                 ? std::optional<QVariant>(qint64(0))
                                                                      : std::optional<QVariant>(QVariant());
    if (!number) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a number.").arg(value));
    }
    return number;
}

std::optional<QVariant> OVNDatabaseAccess::licenceParameter(const QString &column, const QString &value)
{
    if (column != QLatin1String("licensetype"))
        return value.isNull() ? QString(QLatin1String("")) : value;
    // A cleared type has no value (NULL), not the first type.
    const std::optional<QVariant> number = value.trimmed().isEmpty() ? std::optional<QVariant>(QVariant())
                                                                     : OVNDBHelper::numberValue(value);
    if (!number) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a number.").arg(value));
    }
    return number;
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

bool OVNDatabaseAccess::updateMediaListEntry(const QString &mediaId, const QString &column, const QString &value,
                                             UpdateKind kind)
{
    const std::optional<QString> name = OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), column);
    if (!name) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a column of a media record.").arg(column));
        return false;
    }
    const std::optional<QVariant> converted = fileParameter(*name, value, kind);
    if (!converted)
        return false;
    const QVariant parameter = *converted;
    if (!fitsFileColumns(mediaId, {{*name, parameter}})) {
        // Name the file rather than its record id where the catalog knows it.
        const QString path = getMediaListEntryForMediaID(mediaId, QStringLiteral("absolutepath"));
        if (!path.isEmpty())
            fitsFileColumns(path, {{*name, parameter}});
        return false;
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

QVariantMap OVNDatabaseAccess::licenceRow(const QString &sql, const QString &mediaId)
{
    // A catalog may hold several rows for one entry (made by clients that wrote its first field at
    // the same moment). They read as one: each field from the newest row that has it, so that no
    // write stays invisible; updates write every row.
    QVariantMap licence;
    execute(sql, {mediaId}, [&licence](const OVNResultRow &row) {
        mergeLicenceRow(row, 0, licence);
        return true;
    });
    return licence;
}

void OVNDatabaseAccess::mergeLicenceRow(const OVNResultRow &row, int first, QVariantMap &licence)
{
    const int columns = row.columnCount();
    for (int column = first; column < columns; ++column) {
        const QString key = row.columnName(column).toLower();
        if (!row.isNull(column))
            licence.insert(key, row.value(column));
        else if (!licence.contains(key))
            licence.insert(key, QString());
    }
}

QVariantMap OVNDatabaseAccess::getPurchasedForMediaID(const QString &mediaId)
{
    return licenceRow(QStringLiteral("select id, licensetype, licenserestrictions, owner, ordernumber, photographer "
                                     "from strvpurchased where mid=$1 order by id"),
                      mediaId);
}

QVariantMap OVNDatabaseAccess::getSoldForMediaID(const QString &mediaId)
{
    return licenceRow(
        QStringLiteral("select id, licensetype, licenserestrictions, customer from strvsold where mid=$1 order by id"),
        mediaId);
}

bool OVNDatabaseAccess::updatePurchasedEntry(const QString &mediaId, const QString &column, const QString &value)
{
    return updateLicenceEntry(QStringLiteral("strvpurchased"), OVNDBHelper::purchasedColumns(), mediaId, column, value);
}

bool OVNDatabaseAccess::updateSoldEntry(const QString &mediaId, const QString &column, const QString &value)
{
    return updateLicenceEntry(QStringLiteral("strvsold"), OVNDBHelper::soldColumns(), mediaId, column, value);
}

bool OVNDatabaseAccess::updateLicenceEntry(const QString &table, const QStringList &columns, const QString &mediaId,
                                           const QString &column, const QString &value)
{
    if (mediaId.isEmpty())
        return false;
    const std::optional<QString> name = OVNDBHelper::columnFromList(columns, column);
    if (!name) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a column of a licence.").arg(column));
        return false;
    }
    const std::optional<QVariant> converted = licenceParameter(*name, value);
    if (!converted)
        return false;
    const QVariant parameter = *converted;

    // The first field written makes the file's licence row; later ones update it (every row, in a
    // catalog that has several).
    OVNDatabaseTransaction transaction(*this);
    // On a server, two clients writing the first field of one entry at once would each see no row
    // and each insert one: the writes of one entry take turns until their transactions end.
    if (m_vendor == Vendor::PostgreSQL
        && !runSQLCommand(QStringLiteral("select pg_advisory_xact_lock(hashtext($1))"),
                          {table + QLatin1Char('/') + mediaId}))
        return false;
    const int rows =
        affectedRowsForQuery(QStringLiteral("select licensetype from %1 where mid=$1").arg(table), {mediaId});
    if (rows < 0)
        return false;
    StatementResult result;
    if (rows > 0)
        result =
            execute(QStringLiteral("update %1 set %2=$1 where mid=$2").arg(table, *name), {parameter, mediaId}, noRows);
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
    return addMediaListEntry(importRecord, {});
}

QString OVNDatabaseAccess::addMediaListEntry(const QVariantMap &importRecord, const QString &mid)
{
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
        text("categoryid"),    text("cataloguedby"), text("volumetype"),   text("volumename"), text("displaytag"),
        text("servername"),    text("serverpath"),   text("absolutepath"), number("filesize"), number("imagewidth"),
        number("imageheight"), text("filedts"),      text("dts"),          text("keywords"),   number("Orientation"),
        text("shortdesc"),     text("fulldesc"),     text("filetype"),     number("rating"),   thumbnailData,
    };
    static const QStringList columns = {
        QStringLiteral("categoryid"), QStringLiteral("cataloguedby"), QStringLiteral("volumetype"),
        QStringLiteral("volumename"), QStringLiteral("displaytag"),   QStringLiteral("servername"),
        QStringLiteral("serverpath"), QStringLiteral("absolutepath"), QStringLiteral("filesize"),
        QStringLiteral("imagewidth"), QStringLiteral("imageheight"),  QStringLiteral("filedts"),
        QStringLiteral("dts"),        QStringLiteral("keywords"),     QStringLiteral("orientation"),
        QStringLiteral("shortdesc"),  QStringLiteral("fulldesc"),     QStringLiteral("filetype"),
        QStringLiteral("rating"),
    };
    QList<std::pair<QString, QVariant>> named;
    for (qsizetype i = 0; i < columns.size(); ++i)
        named.append({columns.at(i), parameters.at(i)});
    const QString path = text("absolutepath");
    if (!fitsFileColumns(path.isEmpty() ? text("displaytag") : path, named))
        return QString();
    return insertWithNewMID(
        QStringLiteral("insert into strvfile (mid, categoryid, cataloguedby, volumetype, volumename, displaytag, "
                       "servername, serverpath, absolutepath, filesize, imagewidth, imageheight, filedts, dts, "
                       "keywords, orientation, shortdesc, fulldesc, filetype, rating, thumbimage) values ($1, $2, "
                       "$3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21)"),
        parameters, mid,
        {QStringLiteral("select 1 from strvfile where mid=$1 and categoryid=$2 and absolutepath=$3"),
         {text("categoryid"), path}});
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
    const StatementResult found = execute(QStringLiteral("select mid from strvset where categorymid=$1 and filemid=$2"),
                                          {setId, mediaId}, [&existing](const OVNResultRow &row) {
                                              existing = row.text(0);
                                              return false;
                                          });
    if (!found.ok)
        return QString();
    if (!existing.isEmpty())
        return existing;
    return insertWithNewMID(QStringLiteral("insert into strvset (mid, categorymid, filemid) values ($1, $2, $3)"),
                            {setId, mediaId});
}

QSet<QString> OVNDatabaseAccess::membersOfImageSet(const QString &setId, const QStringList &mids)
{
    QSet<QString> members;
    if (mids.isEmpty())
        return members;
    QVariantList parameters{setId};
    QStringList places;
    for (const QString &mid : mids) {
        parameters.append(mid);
        places.append(QLatin1Char('$') + QString::number(parameters.size()));
    }
    execute(QStringLiteral("select filemid from strvset where categorymid=$1 and filemid in (%1)")
                .arg(places.join(QLatin1Char(','))),
            parameters, [&members](const OVNResultRow &row) {
                members.insert(row.text(0));
                return true;
            });
    return members;
}

bool OVNDatabaseAccess::deleteImageSetEntry(const QString &membershipId)
{
    return runSQLCommand(QStringLiteral("delete from strvset where mid=$1"), {membershipId});
}

bool OVNDatabaseAccess::deleteEntryWithLicences(const QString &mediaId)
{
    static const QStringList statements = {
        QStringLiteral("delete from strvset where filemid=$1"), QStringLiteral("delete from strvexif where mid=$1"),
        QStringLiteral("delete from strvpurchased where mid=$1"), QStringLiteral("delete from strvsold where mid=$1"),
        QStringLiteral("delete from strvfile where mid=$1")};
    for (const QString &sql : statements)
        if (!runSQLCommand(sql, {mediaId}))
            return false;
    return true;
}

bool OVNDatabaseAccess::mediaEntryExists(const QString &mediaId)
{
    return affectedRowsForQuery(QStringLiteral("select mid from strvfile where mid=$1"), {mediaId}) > 0;
}

std::optional<QSet<QString>> OVNDatabaseAccess::mediaEntriesPresent(const QStringList &mediaIds)
{
    QSet<QString> present;
    // A few hundred placeholders a statement, well within what either vendor takes.
    constexpr qsizetype chunk = 200;
    for (qsizetype start = 0; start < mediaIds.size(); start += chunk) {
        const QStringList ids = mediaIds.mid(start, chunk);
        QStringList placeholders;
        QVariantList parameters;
        for (qsizetype i = 0; i < ids.size(); ++i) {
            placeholders.append(QStringLiteral("$%1").arg(i + 1));
            parameters.append(ids.at(i));
        }
        const StatementResult result = execute(
            QStringLiteral("select mid from strvfile where mid in (%1)").arg(placeholders.join(QLatin1Char(','))),
            parameters, [&present](const OVNResultRow &row) {
                present.insert(row.text(0));
                return true;
            });
        if (!result.ok)
            return std::nullopt;
    }
    return present;
}

QList<OVNDatabaseAccess::EntryFile> OVNDatabaseAccess::getEntryFilesForCategory(const QString &categoryId)
{
    QList<EntryFile> files;
    for (const OVNRow &row : rowsForQuery(
             QStringLiteral("select mid, absolutepath, dts from strvfile where categoryid=$1"), {categoryId})) {
        // A server gives its timestamps as dates, a local catalog as the text that was written.
        const QVariant date = row.value(2);
        files.append({row.value(0).toString(), row.value(1).toString(),
                      date.typeId() == QMetaType::QDateTime ? timestampText(date.toDateTime()) : date.toString()});
    }
    return files;
}
