// Fields of many entries written or read at once: a few statements for any number of entries, so
// that a server far away costs a round trip per batch rather than per entry and field.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"

#include <QMap>

#include <utility>

namespace {

const auto noRows = [](const OVNResultRow &) { return false; };

// The entries a read asks for in one statement at most: its parameters stay well within what
// either database binds.
constexpr qsizetype entriesPerRead = 500;

QString placeholder(qsizetype number) { return QLatin1Char('$') + QString::number(number); }

// "$first, ..." for `count` placeholders from `first` on.
QString placeholders(qsizetype first, qsizetype count)
{
    QStringList places;
    places.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        places.append(placeholder(first + i));
    return places.join(QStringLiteral(", "));
}

} // namespace

bool OVNDatabaseAccess::updateMediaListEntries(const QList<FieldValue> &values)
{
    if (values.isEmpty())
        return true;
    QStringList mids;
    QHash<QString, qsizetype> midNumber; // the placeholder of each entry's id
    // Per column, in a fixed order: the entries' placeholders and their values (the last one
    // given, as writes one after the other would leave it).
    QMap<QString, QMap<qsizetype, QVariant>> byColumn;
    for (const FieldValue &field : values) {
        const std::optional<QString> name =
            OVNDBHelper::columnFromList(OVNDBHelper::writableFileColumns(), field.column);
        if (!name) {
            std::lock_guard lock(m_mutex);
            setLastError(localized("\"%1\" is not a column of a media record.").arg(field.column));
            return false;
        }
        const std::optional<QVariant> parameter = fileParameter(*name, field.value, QuotedValue);
        if (!parameter || !fitsFileColumns(field.mid, {{*name, *parameter}}))
            return false;
        auto number = midNumber.constFind(field.mid);
        if (number == midNumber.cend()) {
            mids.append(field.mid);
            number = midNumber.insert(field.mid, mids.size());
        }
        byColumn[*name].insert(*number, *parameter);
    }
    QVariantList parameters(mids.cbegin(), mids.cend());
    QStringList assignments;
    for (auto column = byColumn.cbegin(); column != byColumn.cend(); ++column) {
        QString cases = column.key() + QStringLiteral("=case mid");
        for (auto value = column.value().cbegin(); value != column.value().cend(); ++value) {
            parameters.append(*value);
            cases += QStringLiteral(" when %1 then %2").arg(placeholder(value.key()), placeholder(parameters.size()));
        }
        // Entries that do not write this column keep theirs; the column's own type also types the
        // values on a server.
        cases += QStringLiteral(" else %1 end").arg(column.key());
        assignments.append(cases);
    }
    const StatementResult result =
        execute(QStringLiteral("update strvfile set %1 where mid in (%2)")
                    .arg(assignments.join(QStringLiteral(", ")), placeholders(1, mids.size())),
                parameters, noRows);
    if (!result.ok)
        return false;
    if (result.changedRows != mids.size()) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("An entry is no longer in the catalog: another user has deleted it."));
        return false;
    }
    return true;
}

bool OVNDatabaseAccess::updatePurchasedEntries(const QList<FieldValue> &values)
{
    return updateLicenceEntries(QStringLiteral("strvpurchased"), OVNDBHelper::purchasedColumns(), values);
}

bool OVNDatabaseAccess::updateSoldEntries(const QList<FieldValue> &values)
{
    return updateLicenceEntries(QStringLiteral("strvsold"), OVNDBHelper::soldColumns(), values);
}

bool OVNDatabaseAccess::updateLicenceEntries(const QString &table, const QStringList &columns,
                                             const QList<FieldValue> &values)
{
    if (values.isEmpty())
        return true;
    QStringList mids;
    QHash<QString, QMap<QString, QVariant>> byEntry; // each entry's columns, in a fixed order
    for (const FieldValue &field : values) {
        if (field.mid.isEmpty())
            return false;
        const std::optional<QString> name = OVNDBHelper::columnFromList(columns, field.column);
        if (!name) {
            std::lock_guard lock(m_mutex);
            setLastError(localized("\"%1\" is not a column of a licence.").arg(field.column));
            return false;
        }
        const std::optional<QVariant> parameter = licenceParameter(*name, field.value);
        if (!parameter)
            return false;
        if (!byEntry.contains(field.mid))
            mids.append(field.mid);
        byEntry[field.mid].insert(*name, *parameter);
    }

    // As for one entry: on a server, writers of one entry's first licence field take turns, so that
    // two never both find no row and make one each. The locks are taken in one order, so that two
    // writers of many entries never wait for each other crosswise.
    if (m_vendor == Vendor::PostgreSQL) {
        QVariantList keys;
        keys.reserve(mids.size());
        for (const QString &mid : std::as_const(mids))
            keys.append(table + QLatin1Char('/') + mid);
        QStringList rows;
        for (qsizetype i = 1; i <= keys.size(); ++i)
            rows.append(QLatin1Char('(') + placeholder(i) + QLatin1Char(')'));
        if (!execute(QStringLiteral("select pg_advisory_xact_lock(h) from (select distinct hashtext(k) as h from "
                                    "(values %1) as v(k)) as s order by h")
                         .arg(rows.join(QStringLiteral(", "))),
                     keys, noRows)
                 .ok)
            return false;
    }

    // Every row of an entry that has rows: an entry that does not write a column keeps its own.
    QVariantList parameters(mids.cbegin(), mids.cend());
    QStringList assignments;
    for (const QString &column : columns) {
        QString cases;
        for (qsizetype entry = 0; entry < mids.size(); ++entry) {
            const QMap<QString, QVariant> &fields = byEntry[mids.at(entry)];
            const auto value = fields.constFind(column);
            if (value == fields.cend())
                continue;
            parameters.append(*value);
            cases += QStringLiteral(" when %1 then %2").arg(placeholder(entry + 1), placeholder(parameters.size()));
        }
        if (!cases.isEmpty())
            assignments.append(QStringLiteral("%1=case mid%2 else %1 end").arg(column, cases));
    }
    if (!execute(QStringLiteral("update %1 set %2 where mid in (%3)")
                     .arg(table, assignments.join(QStringLiteral(", ")), placeholders(1, mids.size())),
                 parameters, noRows)
             .ok)
        return false;

    // A row for each entry that has none, with its values; one statement for the entries that write
    // the same columns (usually all of them).
    QMap<QStringList, QStringList> byColumns;
    for (const QString &mid : std::as_const(mids))
        byColumns[byEntry[mid].keys()].append(mid);
    for (auto group = byColumns.cbegin(); group != byColumns.cend(); ++group) {
        const QStringList &written = group.key();
        QVariantList rowValues;
        QStringList selects;
        for (const QString &mid : group.value()) {
            const QMap<QString, QVariant> &fields = byEntry[mid];
            rowValues.append(mid);
            QStringList items{placeholder(rowValues.size())
                              + (selects.isEmpty() ? QStringLiteral(" as m") : QString())};
            for (qsizetype c = 0; c < written.size(); ++c) {
                rowValues.append(fields.value(written.at(c)));
                // The values come as untyped text to a server: the number is made one here.
                QString item = written.at(c) == QLatin1String("licensetype")
                                   ? QStringLiteral("cast(%1 as integer)").arg(placeholder(rowValues.size()))
                                   : placeholder(rowValues.size());
                if (selects.isEmpty())
                    item += QStringLiteral(" as c%1").arg(c);
                items.append(item);
            }
            selects.append(QStringLiteral("select ") + items.join(QStringLiteral(", ")));
        }
        QStringList picked{QStringLiteral("v.m")};
        for (qsizetype c = 0; c < written.size(); ++c)
            picked.append(QStringLiteral("v.c%1").arg(c));
        if (!execute(QStringLiteral("insert into %1 (mid, %2) select %3 from (%4) as v where not exists (select 1 "
                                    "from %1 as t where t.mid=v.m)")
                         .arg(table, written.join(QStringLiteral(", ")), picked.join(QStringLiteral(", ")),
                              selects.join(QStringLiteral(" union all "))),
                     rowValues, noRows)
                 .ok)
            return false;
    }
    return true;
}

std::optional<QHash<QString, QVariantMap>> OVNDatabaseAccess::getPurchasedForMediaIDs(const QStringList &mediaIds)
{
    return licenceRows(QStringLiteral("strvpurchased"), OVNDBHelper::purchasedColumns(), mediaIds);
}

std::optional<QHash<QString, QVariantMap>> OVNDatabaseAccess::getSoldForMediaIDs(const QStringList &mediaIds)
{
    return licenceRows(QStringLiteral("strvsold"), OVNDBHelper::soldColumns(), mediaIds);
}

std::optional<QHash<QString, QVariantMap>> OVNDatabaseAccess::licenceRows(const QString &table,
                                                                          const QStringList &columns,
                                                                          const QStringList &mediaIds)
{
    QHash<QString, QVariantMap> licences;
    for (qsizetype from = 0; from < mediaIds.size(); from += entriesPerRead) {
        const QStringList some = mediaIds.mid(from, entriesPerRead);
        const StatementResult result =
            execute(QStringLiteral("select mid, id, %1 from %2 where mid in (%3) order by id")
                        .arg(columns.join(QStringLiteral(", ")), table, placeholders(1, some.size())),
                    QVariantList(some.cbegin(), some.cend()), [&licences](const OVNResultRow &row) {
                        mergeLicenceRow(row, 1, licences[row.text(0)]);
                        return true;
                    });
        if (!result.ok)
            return std::nullopt;
    }
    return licences;
}
