// Completing freshly imported records with annotations prepared in advance.

#include "catalogdb/OVNDBHelper.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/CatalogNames.h"

#include <functional>

namespace {

// One write in a savepoint of its own: on PostgreSQL a refused statement undoes its whole
// transaction, and one refused value must not take the record's other fields (or the other
// records of the batch) with it.
bool inSavepoint(OVNDatabaseAccess &connection, const std::function<bool()> &write)
{
    OVNDatabaseTransaction savepoint(connection);
    if (!write())
        return false;
    return !savepoint.isActive() || savepoint.commit();
}

// Appends the path's words to one column of the record.
bool appendWords(OVNDatabaseAccess &connection, const QString &mid, const QString &column, const QString &path,
                 bool addFilename, int folderCount)
{
    const QString words = OVNDBHelper::wordsFromPath(path, addFilename, folderCount);
    if (words.isEmpty())
        return true;
    const QString current = connection.getMediaListEntryForMediaID(mid, column);
    // One blank between what was there and the new words (these start with their own blank).
    const QString text = current.isEmpty() ? words : current + QLatin1Char(' ') + words.trimmed();
    return connection.updateMediaListEntry(mid, column, text.trimmed());
}

} // namespace

QString OVNDBHelper::wordsFromPath(const QString &path, bool addFilename, int folderCount)
{
    QString words;
    if (addFilename) {
        // The last component without its extension, as the path gives it (no disk access).
        QString name = path.section(QLatin1Char('/'), -1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot > 0)
            name.truncate(dot);
        if (!name.isEmpty())
            words += QLatin1Char(' ') + name;
    }
    if (folderCount > 0) {
        // The components before the file name, nearest first; the root is one of them but adds
        // no word.
        QStringList components = path.split(QLatin1Char('/'));
        components.removeLast();
        if (path.startsWith(QLatin1Char('/')) && !components.isEmpty())
            components.first() = QStringLiteral("/");
        int remaining = folderCount;
        for (qsizetype i = components.size() - 1; i >= 0 && remaining > 0; --i) {
            const QString &component = components.at(i);
            if (component.isEmpty() && i > 0)
                continue; // "//" in a path is no component
            --remaining;
            if (!component.isEmpty() && component != QLatin1String("/"))
                words += QLatin1Char(' ') + component;
        }
    }
    return words;
}

bool OVNDBHelper::prefill(const QList<QVariantMap> &records, OVNDatabaseAccess &connection,
                          const QVariantMap &mediaInfo, const QVariantMap &purchased, const QVariantMap &sold,
                          const OVNPrefillWords &words)
{
    // One transaction for the batch: many small writes per record.
    OVNDatabaseTransaction transaction(connection);
    bool allWritten = true;
    for (const QVariantMap &record : records) {
        const QString mid = textValue(record, CatalogNames::keyMid);
        if (mid.isEmpty()) {
            allWritten = false;
            continue;
        }
        const auto write = [&](const std::function<bool()> &statement) {
            allWritten = inSavepoint(connection, statement) && allWritten;
        };
        for (auto it = mediaInfo.cbegin(); it != mediaInfo.cend(); ++it) {
            const QString value = it.value().toString();
            if (!value.isEmpty())
                write([&] { return connection.updateMediaListEntry(mid, it.key(), value); });
        }
        const QString path = textValue(record, QStringLiteral("absolutepath"));
        if (!path.isEmpty()) {
            write([&] {
                return appendWords(connection, mid, QStringLiteral("keywords"), path, words.keywordsAddFilename,
                                   words.keywordsParseFolders);
            });
            write([&] {
                return appendWords(connection, mid, QStringLiteral("shortdesc"), path,
                                   words.shortDescriptionAddFilename, words.shortDescriptionParseFolders);
            });
        }
        for (auto it = purchased.cbegin(); it != purchased.cend(); ++it)
            write([&] { return connection.updatePurchasedEntry(mid, it.key(), it.value().toString()); });
        for (auto it = sold.cbegin(); it != sold.cend(); ++it)
            write([&] { return connection.updateSoldEntry(mid, it.key(), it.value().toString()); });
    }
    if (transaction.isActive() && !transaction.commit())
        return false;
    return allWritten;
}
