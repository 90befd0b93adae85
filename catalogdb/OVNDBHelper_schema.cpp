// The catalog's create scripts in the three dialects. SQLite and PostgreSQL use the same words
// except for the types; MySQL quotes its names, declares its indexes inside the tables and keeps
// the tables in MyISAM.

#include "catalogdb/OVNDBHelper.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/UserDefaults.h"

#include <QRegularExpression>
#include <QSet>

namespace {

struct Dialect {
    const char *longText; // long text columns
    const char *binary;   // thumbnails
    const char *autoId;   // the auto-increment key column
    const char *autoKey;  // its primary key clause at the end of the column list, or ""
    // A server enforces declared widths: its files' sizes, paths and titles get room for what a
    // file system holds (files over 2 GiB, paths of any length). SQLite stores any size anyway,
    // and its script stays as catalogs of other clients have it.
    const char *fileSize;
    const char *path;
    const char *serverPath;
    const char *keywords;
    // A server's b-tree index refuses entries over about 2.7 KB, and keywords have no length limit
    // there: its index holds their start only.
    const char *keywordsIndex;
};

const Dialect sqliteDialect{"long varchar",
                            "blob",
                            "id integer not null primary key autoincrement",
                            "",
                            "int",
                            "varchar(255)",
                            "varchar(250)",
                            "varchar(255)",
                            "keywords"};
const Dialect postgresDialect{"TEXT", "BYTEA", "id SERIAL", ", PRIMARY KEY (id)", "bigint",
                              "text", "text",  "text",      "left(keywords, 255)"};

QStringList commonCatalogScript(const Dialect &d)
{
    const QString longText = QLatin1String(d.longText);
    const QString binary = QLatin1String(d.binary);
    const QString autoId = QLatin1String(d.autoId);
    const QString autoKey = QLatin1String(d.autoKey);
    return {
        QStringLiteral("create table strvcategory (mid varchar(60) NOT NULL primary key, "
                       "supermid varchar(60), type char(1) not null default 'C', "
                       "displaytag varchar(250) NOT NULL, comment %1)")
            .arg(longText),
        QStringLiteral("create unique index idxcategorymid on strvcategory (mid)"),

        QStringLiteral("create table strvset (mid varchar(60) NOT NULL primary key, "
                       "categorymid varchar(60) NOT NULL, filemid varchar(60) NOT NULL)"),
        QStringLiteral("create unique index idxset1mid on strvset (mid)"),
        QStringLiteral("create index idxset2mid on strvset (categorymid)"),
        QStringLiteral("create index idxset3mid on strvset (filemid)"),

        QStringLiteral("create table strvfile (mid varchar(60) NOT NULL primary key, "
                       "categoryid varchar(60) NOT NULL, displaytag varchar(250) NOT NULL, "
                       "cataloguedby varchar(250) default NULL, volumetype varchar(20) default NULL, "
                       "volumename varchar(250) default NULL, servername varchar(250) default NULL, "
                       "serverpath %3 default NULL, absolutepath %4 NOT NULL, "
                       "thumbimage %2, filetype varchar(250) NOT NULL default '', "
                       "filesize %5 default NULL, imagewidth int default NULL, imageheight int default NULL, "
                       "filedts timestamp NOT NULL, dts timestamp NOT NULL, "
                       "keywords %6 default NULL, shortdesc %1, fulldesc %1, "
                       "pricetag int default NULL, modrelavailable int default NULL, "
                       "modrelinfo varchar(250) default NULL, proprelavailable int default NULL, "
                       "proprelinfo varchar(250) default NULL, rating int not null default 0, "
                       "orientation int not null default 0, "
                       "constraint file_category_FK foreign key (categoryid) references strvcategory (mid))")
            .arg(longText, binary, QLatin1String(d.serverPath), QLatin1String(d.path), QLatin1String(d.fileSize),
                 QLatin1String(d.keywords)),
        QStringLiteral("create unique index idxfilemid on strvfile (mid)"),
        QStringLiteral("create index idxfilecatid on strvfile (categoryid)"),
        QStringLiteral("create index idxfiledistag on strvfile (displaytag)"),
        QStringLiteral("create index idxfilekeywords on strvfile (%1)").arg(QLatin1String(d.keywordsIndex)),

        QStringLiteral("create table strvexif (%3, mid varchar(60) NOT NULL default '', "
                       "CameraMake varchar(32) NOT NULL default '', CameraModel varchar(40) NOT NULL default '', "
                       "DateTime varchar(20) NOT NULL default '', Height int default NULL, "
                       "Width int default NULL, Orientation int default NULL, IsColor int default NULL, "
                       "Process int default NULL, FlashUsed int default NULL, "
                       "FocalLength decimal(20,10) default NULL, ExposureTime decimal(20,10) default NULL, "
                       "ApertureFNumber decimal(20,10) default NULL, Distance decimal(20,10) default NULL, "
                       "CCDWidth decimal(20,10) default NULL, ExposureBias decimal(20,10) default NULL, "
                       "DigitalZoomRatio decimal(20,10) default NULL, FocalLength35mmEquiv int default NULL, "
                       "WhiteBalance int default NULL, MeteringMode int default NULL, "
                       "ExposureProgram int default NULL, ExposureMode int default NULL, "
                       "ISOEquivalent int default NULL, LightSource int default NULL, Comments %1, "
                       "Thumbnail %2, exiftags %1, iptctags %1, addtags %1%4)")
            .arg(longText, binary, autoId, autoKey),
        QStringLiteral("create unique index idxexifid on strvexif (id)"),
        QStringLiteral("create index idxexifmid on strvexif (mid)"),

        QStringLiteral("create table strvpurchased (%2, mid varchar(60) NOT NULL default '', "
                       "licensetype int default NULL, licenserestrictions %1, "
                       "owner varchar(250) default NULL, ordernumber varchar(250) default NULL, "
                       "photographer varchar(250) default NULL%3)")
            .arg(longText, autoId, autoKey),
        QStringLiteral("create unique index idxpurchasedid on strvpurchased (id)"),
        QStringLiteral("create index idxpurchasedmid on strvpurchased (mid)"),

        QStringLiteral("create table strvsold (%2, mid varchar(60) NOT NULL default '', "
                       "licensetype int default NULL, licenserestrictions %1, "
                       "customer varchar(250) default NULL%3)")
            .arg(longText, autoId, autoKey),
        QStringLiteral("create unique index idxsoldid on strvsold (id)"),
        QStringLiteral("create index idxsoldmid on strvsold (mid)"),
    };
}

// The key of the server lock under which a catalog's tables are made (the characters "ovntbl" as
// a number): a lock of the transaction that no table holds.
constexpr qint64 tableMakingLock = 122554449945196;

// Runs a catalog script as one transaction on one session. A transaction that cannot begin (the
// session was lost at its BEGIN) runs nothing: the statements never run one by one outside it, on
// whatever session comes next. A table or index that exists already is left as it is; the first
// statement that fails ends the script and undoes what it made, so that no half-made catalog stays
// behind and the failure's own message (a full disk, say) is the one kept. On a server, clients
// that make the tables at the same time take turns: the second finds what the first made, where
// two creations of one table would refuse each other.
bool runCatalogScript(OVNDatabaseAccess &connection, const QStringList &statements)
{
    static const QRegularExpression created(QStringLiteral("^create (?:unique )?(?:table|index) (\\w+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    OVNDatabaseTransaction transaction(connection);
    if (!transaction.isActive())
        return false;
    if (connection.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL
        && !connection.runSQLCommand(QStringLiteral("select pg_advisory_xact_lock($1)"), {tableMakingLock}))
        return false;
    for (const QString &statement : statements) {
        const QRegularExpressionMatch match = created.match(statement);
        if (match.hasMatch()) {
            const quint64 failures = connection.failureCount();
            const bool exists = connection.relationExists(match.captured(1));
            if (connection.failureCount() != failures)
                return false;
            if (exists)
                continue;
        }
        if (!connection.runSQLCommand(statement))
            return false;
    }
    return transaction.commit();
}

// The columns a create-table statement declares, as it spells them: the first word of each item
// of its list that is not a constraint.
QStringList declaredColumns(const QString &statement)
{
    const qsizetype open = statement.indexOf(QLatin1Char('('));
    const qsizetype close = statement.lastIndexOf(QLatin1Char(')'));
    QStringList columns;
    if (open < 0 || close <= open)
        return columns;
    static const QStringList constraints{QStringLiteral("constraint"), QStringLiteral("primary"),
                                         QStringLiteral("unique"), QStringLiteral("foreign"), QStringLiteral("check")};
    int depth = 0;
    qsizetype itemStart = open + 1;
    for (qsizetype at = open + 1; at <= close; ++at) {
        const QChar c = statement.at(at);
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')') && at < close)
            --depth;
        else if ((c == QLatin1Char(',') && depth == 0) || at == close) {
            const QString name =
                statement.mid(itemStart, at - itemStart).trimmed().section(QLatin1Char(' '), 0, 0).trimmed();
            if (!name.isEmpty() && !constraints.contains(name.toLower()))
                columns.append(name);
            itemStart = at + 1;
        }
    }
    return columns;
}

// "the table a", "the tables a, b".
QString namedList(const char *one, const char *several, const QStringList &names)
{
    return QLatin1String(names.size() == 1 ? one : several) + QLatin1Char(' ') + names.join(QStringLiteral(", "));
}

bool runScript(OVNDatabaseAccess &connection, const QStringList &statements)
{
    bool allRan = true;
    for (const QString &statement : statements)
        allRan = connection.runSQLCommand(statement) && allRan;
    return allRan;
}

QString mysqlUse(const QString &databaseName)
{
    // A plain name goes in as it is; any other is quoted as an identifier, backquotes doubled.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_$]*$"));
    if (plain.match(databaseName).hasMatch())
        return QStringLiteral("USE ") + databaseName;
    QString name = databaseName;
    name.replace(QLatin1Char('`'), QLatin1String("``"));
    return QStringLiteral("USE `%1`").arg(name);
}

} // namespace

QStringList OVNDBHelper::sqliteCatalogScript() { return commonCatalogScript(sqliteDialect); }

const QList<std::pair<QString, QStringList>> &OVNDBHelper::catalogTableColumns()
{
    static const QList<std::pair<QString, QStringList>> tables = [] {
        static const QRegularExpression table(QStringLiteral("^create table (\\w+)"),
                                              QRegularExpression::CaseInsensitiveOption);
        QList<std::pair<QString, QStringList>> declared;
        for (const QString &statement : commonCatalogScript(postgresDialect))
            if (const QRegularExpressionMatch match = table.match(statement); match.hasMatch())
                declared.append({match.captured(1), declaredColumns(statement)});
        return declared;
    }();
    return tables;
}

std::optional<OVNDBHelper::CatalogContents> OVNDBHelper::catalogContents(OVNDatabaseAccess &connection)
{
    const std::optional<QHash<QString, QStringList>> tables = connection.tablesWithColumns();
    if (!tables)
        return std::nullopt;
    CatalogContents contents;
    QSet<QString> known;
    for (const QString &statement : postgresUserManagerScript())
        if (statement.startsWith(QLatin1String("create table ")))
            known.insert(statement.section(QLatin1Char(' '), 2, 2).toLower());
    for (const auto &[table, columns] : catalogTableColumns()) {
        known.insert(table.toLower());
        const auto held = tables->constFind(table.toLower());
        if (held == tables->cend()) {
            contents.missingTables.append(table);
            continue;
        }
        contents.holdsCatalogTables = true;
        for (const QString &column : columns)
            if (!held->contains(column.toLower()))
                contents.missingColumns.append(table + QLatin1Char('.') + column);
    }
    for (auto table = tables->cbegin(); table != tables->cend(); ++table)
        contents.holdsOtherTables = contents.holdsOtherTables || !known.contains(table.key());
    return contents;
}

QString OVNDBHelper::CatalogContents::missingText() const
{
    QStringList parts;
    if (!missingTables.isEmpty())
        parts.append(namedList("the table", "the tables", missingTables));
    if (!missingColumns.isEmpty())
        parts.append(namedList("the column", "the columns", missingColumns));
    return parts.join(QStringLiteral("; "));
}

QStringList OVNDBHelper::postgresCatalogScript() { return commonCatalogScript(postgresDialect); }

QStringList OVNDBHelper::mysqlCatalogScript(const QString &databaseName)
{
    return {
        mysqlUse(databaseName),
        QStringLiteral("CREATE TABLE `strvcategory` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `supermid` varchar(60) default NULL,\n"
                       "  `type` char(1) NOT NULL default 'C',\n"
                       "  `displaytag` varchar(250) NOT NULL default '',\n"
                       "  `comment` text,\n"
                       "  PRIMARY KEY  (`mid`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvset` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `categorymid` varchar(60) NOT NULL default '',\n"
                       "  `filemid` varchar(60) NOT NULL default '',\n"
                       "  PRIMARY KEY  (`mid`),\n"
                       "  KEY `idxset2mid` (`categorymid`),\n"
                       "  KEY `idxset3mid` (`filemid`)\n"
                       ")"),
        QStringLiteral("CREATE TABLE `strvfile` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `categoryid` varchar(60) NOT NULL default '',\n"
                       "  `displaytag` varchar(250) NOT NULL default '',\n"
                       "  `servername` varchar(250) default NULL,\n"
                       "  `serverpath` varchar(250) default NULL,\n"
                       "  `cataloguedby` varchar(250) default NULL,\n"
                       "  `volumetype` varchar(20) default NULL,\n"
                       "  `volumename` varchar(250) default NULL,\n"
                       "  `absolutepath` varchar(255) NOT NULL default '',\n"
                       "  `thumbimage` longblob,\n"
                       "  `filetype` varchar(250) NOT NULL default '',\n"
                       "  `filesize` int(11) default NULL,\n"
                       "  `imagewidth` int(11) default NULL,\n"
                       "  `imageheight` int(11) default NULL,\n"
                       "  `filedts` timestamp(14) NOT NULL,\n"
                       "  `dts` timestamp(14) NOT NULL,\n"
                       "  `keywords` varchar(255) default NULL,\n"
                       "  `shortdesc` text,\n"
                       "  `fulldesc` longtext,\n"
                       "  `pricetag` int(11) default NULL,\n"
                       "  `modrelavailable` int(11) default NULL,\n"
                       "  `modrelinfo` varchar(250) default NULL,\n"
                       "  `proprelavailable` int(11) default NULL,\n"
                       "  `proprelinfo` varchar(250) default NULL,\n"
                       "  `rating` int(11) NOT NULL default '0',\n"
                       "  `orientation` int(11) NOT NULL default '0',\n"
                       "  PRIMARY KEY  (`mid`),\n"
                       "  KEY `idxfilecategoryid` (`categoryid`),\n"
                       "  KEY `idxfiledisplaytag` (`displaytag`),\n"
                       "  KEY `idxfilekeywords` (`keywords`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvexif` (\n"
                       "  `id` int(11) NOT NULL auto_increment,\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `CameraMake` varchar(32) NOT NULL default '',\n"
                       "  `CameraModel` varchar(40) NOT NULL default '',\n"
                       "  `DateTime` varchar(20) NOT NULL default '',\n"
                       "  `Height` int(11) default NULL,\n"
                       "  `Width` int(11) default NULL,\n"
                       "  `Orientation` int(11) default NULL,\n"
                       "  `IsColor` int(11) default NULL,\n"
                       "  `Process` int(11) default NULL,\n"
                       "  `FlashUsed` int(11) default NULL,\n"
                       "  `FocalLength` decimal(20,10) default NULL,\n"
                       "  `ExposureTime` decimal(20,10) default NULL,\n"
                       "  `ApertureFNumber` decimal(20,10) default NULL,\n"
                       "  `Distance` decimal(20,10) default NULL,\n"
                       "  `CCDWidth` decimal(20,10) default NULL,\n"
                       "  `ExposureBias` decimal(20,10) default NULL,\n"
                       "  `DigitalZoomRatio` decimal(20,10) default NULL,\n"
                       "  `FocalLength35mmEquiv` int(11) default NULL,\n"
                       "  `WhiteBalance` int(11) default NULL,\n"
                       "  `MeteringMode` int(11) default NULL,\n"
                       "  `ExposureProgram` int(11) default NULL,\n"
                       "  `ExposureMode` int(11) default NULL,\n"
                       "  `ISOEquivalent` int(11) default NULL,\n"
                       "  `LightSource` int(11) default NULL,\n"
                       "  `Comments` text,\n"
                       "  `Thumbnail` blob,\n"
                       "  `exiftags` text,\n"
                       "  `iptctags` text,\n"
                       "  `addtags` text,\n"
                       "  PRIMARY KEY  (`id`),\n"
                       "  KEY `idxexifmid` (`mid`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvpurchased` (\n"
                       "  `id` int(11) NOT NULL auto_increment,\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `licensetype` int(11) default NULL,\n"
                       "  `licenserestrictions` text,\n"
                       "  `owner` varchar(250) default NULL,\n"
                       "  `ordernumber` varchar(250) default NULL,\n"
                       "  `photographer` varchar(250) default NULL,\n"
                       "  PRIMARY KEY  (`id`),\n"
                       "  KEY `idxpurchasedmid` (`mid`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvsold` (\n"
                       "  `id` int(11) NOT NULL auto_increment,\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `licensetype` int(11) default NULL,\n"
                       "  `licenserestrictions` text,\n"
                       "  `customer` varchar(250) default NULL,\n"
                       "  PRIMARY KEY  (`id`),\n"
                       "  KEY `idxsoldmid` (`mid`)\n"
                       ") TYPE=MyISAM"),
    };
}

QStringList OVNDBHelper::postgresUserManagerScript()
{
    return {
        QStringLiteral("create table strvgroups (mid varchar(60) NOT NULL primary key, "
                       "name varchar(250), xml text, comment text)"),
        QStringLiteral("create index idxgroups1name on strvgroups (name)"),
        QStringLiteral("create table strvusers (mid varchar(60) NOT NULL primary key, "
                       "name varchar(250), login varchar(250), s1pass varchar(250), s2pass varchar(250), "
                       "xml text, comment text)"),
        QStringLiteral("create index idxusers1name on strvusers (name)"),
        QStringLiteral("create table strvgroupusers (mid varchar(60) NOT NULL primary key, "
                       "groupmid varchar(60) NOT NULL, usermid varchar(60) NOT NULL)"),
        QStringLiteral("create index idxgu2mid on strvgroupusers (groupmid)"),
        QStringLiteral("create index idxgu3mid on strvgroupusers (usermid)"),
    };
}

QStringList OVNDBHelper::mysqlUserManagerScript(const QString &databaseName)
{
    return {
        mysqlUse(databaseName),
        QStringLiteral("CREATE TABLE `strvgroups` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `name` varchar(250) default NULL,\n"
                       "  `xml` text,\n"
                       "  `comment` text,\n"
                       "  PRIMARY KEY  (`mid`),\n"
                       "  KEY `idxgroups1name` (`name`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvusers` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `name` varchar(250) default NULL,\n"
                       "  `login` varchar(250) default NULL,\n"
                       "  `s1pass` varchar(250) default NULL,\n"
                       "  `s2pass` varchar(250) default NULL,\n"
                       "  `xml` text,\n"
                       "  `comment` text,\n"
                       "  PRIMARY KEY  (`mid`),\n"
                       "  KEY `idxusers1name` (`name`)\n"
                       ") TYPE=MyISAM"),
        QStringLiteral("CREATE TABLE `strvgroupusers` (\n"
                       "  `mid` varchar(60) NOT NULL default '',\n"
                       "  `groupmid` varchar(60) NOT NULL default '',\n"
                       "  `usermid` varchar(60) NOT NULL default '',\n"
                       "  PRIMARY KEY  (`mid`),\n"
                       "  KEY `idxgu2mid` (`groupmid`),\n"
                       "  KEY `idxgu3mid` (`usermid`)\n"
                       ") TYPE=MyISAM"),
    };
}

bool OVNDBHelper::prefDBCreateLocalDatabase(OVNDatabaseAccess &connection)
{
    return runCatalogScript(connection, sqliteCatalogScript()) && connection.checkForDatabaseSetup();
}

bool OVNDBHelper::prefDBCreatePostgreSQLDatabase(OVNDatabaseAccess &connection)
{
    return runCatalogScript(connection, postgresCatalogScript()) && connection.checkForDatabaseSetup();
}

bool OVNDBHelper::prefDBCreateMySQLDatabase(OVNDatabaseAccess &connection)
{
    runScript(connection, mysqlCatalogScript(UserDefaults::standard().stringForKey(QStringLiteral("DBDatabase"))));
    return connection.checkForDatabaseSetup();
}

bool OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(OVNDatabaseAccess &connection)
{
    return runCatalogScript(connection, postgresUserManagerScript()) && connection.checkForUserManagerSetup();
}

bool OVNDBHelper::prefDBCreateMySQLUserManagerTables(OVNDatabaseAccess &connection)
{
    runScript(connection, mysqlUserManagerScript(UserDefaults::standard().stringForKey(QStringLiteral("DBDatabase"))));
    return connection.checkForUserManagerSetup();
}
