#include "ToolCatalog.h"

#include "ToolAccount.h"

#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"
#include "platform/SystemInfo.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace ToolCatalog {

namespace {

// Why the opening could not make the catalog's tables (empty when it made them or did not have to):
// read by openFailure, which would otherwise find a database without tables and call it no catalog.
QString &tableMakingFailure()
{
    static QString failure;
    return failure;
}

} // namespace

std::unique_ptr<OVNDatabaseAccess> open(const QString &catalog, Tables tables, const char *tool)
{
    // The catalog layer's messages may quote the server: they go to the log, never to the terminal.
    ToolAccount::logMessages();
    auto connection = std::make_unique<OVNDatabaseAccess>();
    const QUrl url(catalog);
    if (url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("pgsql")) {
        if (!url.password().isEmpty())
            std::fprintf(stderr,
                         "%s: warning: a password in the catalog URL can be read by every user of "
                         "this computer; set PGPASSWORD or use ~/.pgpass instead\n",
                         tool);
        QString host = url.host();
        if (url.port() > 0)
            host += QStringLiteral(":%1").arg(url.port());
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), host, url.userName(), url.password(),
                                         url.path().mid(1));
    } else {
        connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                                         QFileInfo(catalog).absoluteFilePath());
        connection->setCreatesMissingFile(tables == Tables::CreateWhenMissing);
    }
    const bool makesTables =
        tables == Tables::CreateWhenMissing
        || (tables == Tables::TablesOnServer && connection->vendor() == OVNDatabaseAccess::Vendor::PostgreSQL);
    // A server that does not answer, or ends the session while the catalog is being opened or its
    // tables made, is waited for as a running import waits for it.
    tableMakingFailure().clear();
    bool making = false;
    const bool opened = OVNCatalogOpening::run(
        *connection, waitSeconds,
        [&] {
            if (!connection->isDBConnectionActive() && !connection->openDBConnection())
                return false;
            if (!makesTables)
                return true;
            // A catalog that lacks tables only is completed as a new one is made (the script
            // leaves what is there as it is). A table without some of its columns is never
            // changed on the way, nor is another program's catalog file: both are left for the
            // refusal. A server database gets the catalog beside its other tables, as the
            // program makes it there.
            const std::optional<OVNDBHelper::CatalogContents> contents = OVNDBHelper::catalogContents(*connection);
            if (!contents)
                return false;
            const bool otherProgramsFile = connection->vendor() == OVNDatabaseAccess::Vendor::Integrated
                                           && contents->foreign();
            if (contents->whole() || !contents->missingColumns.isEmpty() || otherProgramsFile)
                return true;
            // The script takes the server's table-making lock in its own transaction, so that
            // tools opening a new catalog together make it once; a partly made catalog is
            // completed by it, which a look for the main tables alone would pass over.
            making = true;
            if (connection->vendor() == OVNDatabaseAccess::Vendor::PostgreSQL)
                return OVNDBHelper::prefDBCreatePostgreSQLDatabase(*connection);
            return OVNDBHelper::prefDBCreateLocalDatabase(*connection);
        },
        sayStatus);
    if (!opened && making && connection->isDBConnectionActive()) {
        // The tables are made whole or not at all: a server that ended every session before the
        // script got through leaves none, and is said to have done so, not to hold no catalog.
        tableMakingFailure() =
            connection->lastErrorLostConnection()
                ? localized("the catalog server ended every session before the catalog's tables were made, "
                            "for %1 seconds")
                      .arg(waitSeconds)
                : ToolAccount::failure(*connection, localized("the catalog's tables could not be made"));
    }
    return connection;
}

void sayStatus(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

bool retried(OVNDatabaseAccess &connection, const std::function<bool()> &step)
{
    return OVNCatalogOpening::run(
        connection, waitSeconds,
        [&] {
            if (!connection.isDBConnectionActive() && !connection.openDBConnection())
                return false;
            const quint64 failures = connection.failureCount();
            return step() && connection.failureCount() == failures;
        },
        sayStatus);
}

QString logIn(OVNDatabaseAccess &connection)
{
    ToolAccount::logMessages();
    return ToolAccount::logInThroughEndedSessions(connection, SystemInfo::accountName(), sayStatus);
}

QString openFailure(OVNDatabaseAccess &connection, const QString &catalog)
{
    const QString what = QStringLiteral("cannot open the catalog ") + catalog;
    if (!tableMakingFailure().isEmpty())
        return what + QStringLiteral(": ") + tableMakingFailure();
    if (!connection.isDBConnectionActive())
        return ToolAccount::failure(connection, what);
    // Open, but without the catalog's tables: a file or a database that is something else (an
    // empty file included), which a tool that only reads or changes a catalog must not fill. A
    // session that ends while this is asked is no answer.
    std::optional<OVNDBHelper::CatalogContents> contents;
    const bool asked =
        retried(connection, [&] { return (contents = OVNDBHelper::catalogContents(connection)) || true; });
    if (!asked || !contents)
        return ToolAccount::failure(connection, what);
    if (!contents->holdsCatalogTables)
        return what + QStringLiteral(": ") + localized("Database connection failed") + QStringLiteral(": ")
               + (connection.vendor() == OVNDatabaseAccess::Vendor::Integrated
                      ? localized("The file \"%1\" holds no catalog.").arg(connection.dbDatabase())
                      : localized("The database \"%1\" holds no catalog.").arg(connection.dbDatabase()));
    // A catalog made only in part (by a program stopped on the way, or changed by hand) is used by
    // no tool: each of its reads and writes would fail, or store entries without their details.
    if (!contents->whole())
        return what + QStringLiteral(": ")
               + localized("The catalog is incomplete: it lacks %1.").arg(contents->missingText());
    return QString();
}

QString catalogWords(const QString &message)
{
    // The first line, without the server's severity word.
    QString reason = message.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    for (const char *severity : {"FATAL:", "ERROR:"})
        if (reason.startsWith(QLatin1String(severity)))
            reason = reason.mid(qsizetype(qstrlen(severity))).trimmed();
    return reason;
}

QString readFailure(const OVNDatabaseAccess &connection, const QString &what)
{
    if (connection.lastFailure() == OVNDatabaseAccess::Failure::Unreachable || connection.lastErrorServerFull())
        return ToolAccount::failure(connection, what);
    const QString reason = catalogWords(connection.getLastErrorMessage());
    return reason.isEmpty() ? what : what + QStringLiteral(": ") + reason;
}

QString categoryId(OVNDatabaseAccess &connection, const QString &idOrName)
{
    if (connection.getCategoryForMID(idOrName))
        return idOrName;
    for (const CategoryNode &node : connection.getCategoryList(QStringLiteral("C"))) {
        if (node.value(CatalogNames::keyDisplayTag).toString() == idOrName)
            return node.value(CatalogNames::keyMid).toString();
    }
    return QString();
}

CategoryInCatalog openCategory(const QString &catalog, const QString &category, const char *tool)
{
    CategoryInCatalog opened;
    opened.connection = open(catalog, Tables::AsTheyAre, tool);
    opened.refusal = openFailure(*opened.connection, catalog);
    if (!opened.refusal.isEmpty())
        return opened;
    opened.refusal = logIn(*opened.connection);
    if (!opened.refusal.isEmpty())
        return opened;
    if (!retried(*opened.connection, [&] {
            opened.categoryId = categoryId(*opened.connection, category);
            return true;
        })) {
        opened.refusal =
            ToolAccount::failure(*opened.connection, QStringLiteral("cannot read the category ") + category);
        return opened;
    }
    if (opened.categoryId.isEmpty()) {
        opened.refusal = QStringLiteral("no category %1").arg(category);
        return opened;
    }
    retried(*opened.connection, [&] {
        opened.refusal = ToolAccount::refusal(*opened.connection, OVNPrivilegeLevel::readOnly(), {opened.categoryId});
        return true;
    });
    return opened;
}

std::optional<QList<MediaRecord>> recordsWithFiles(OVNDatabaseAccess &connection, const QString &categoryId,
                                                   QString *refusal)
{
    // An entry list that could not be read is no empty category: its failure is said, in the
    // catalog's own words (a column the catalog lacks is named), never "nothing to export".
    MediaList listed;
    if (!retried(connection, [&] {
            listed = connection.getMediaList(categoryId);
            return true;
        })) {
        if (refusal)
            *refusal = readFailure(connection, QStringLiteral("cannot read the entries of the category"));
        return std::nullopt;
    }
    const std::optional<MediaList> readable = ToolAccount::readable(connection, std::move(listed), refusal);
    if (!readable)
        return std::nullopt;
    QList<MediaRecord> records;
    QStringList missing;
    for (const MediaRecordRef &record : *readable) {
        const QString path = record->field(MediaRecord::AbsolutePath);
        if (!QFileInfo(path).isFile())
            missing.append(path);
        else
            records.append(*record);
    }
    if (missing.isEmpty())
        return records;
    // As the program's output commands, nothing goes while a file is missing: each is named, so
    // that it can be put back or re-linked.
    if (refusal) {
        constexpr qsizetype named = 10;
        QString list = missing.first(std::min(named, missing.size())).join(QStringLiteral(", "));
        if (missing.size() > named)
            list += QStringLiteral(", ") + localized("and %1 others").arg(countText(missing.size() - named));
        *refusal = countedText(missing.size(), "Media file not found: %1 file is not where the catalog says:",
                               "Media file not found: %1 files are not where the catalog says:")
                   + QLatin1Char(' ') + list;
    }
    return std::nullopt;
}

} // namespace ToolCatalog
