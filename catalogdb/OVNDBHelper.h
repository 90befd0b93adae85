#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <utility>

class OVNDatabaseAccess;

// What the import prefill adds from a file's path to "keywords" and "shortdesc".
struct OVNPrefillWords {
    bool keywordsAddFilename = false;
    int keywordsParseFolders = 0;
    bool shortDescriptionAddFilename = false;
    int shortDescriptionParseFolders = 0;
};

// Class-level helpers of the catalog layer: the one place where SQL literals, numbers and column
// names are made (every other piece of code builds SQL only through these), the create scripts of
// the three dialects, the media select list, and the import prefill.
class OVNDBHelper
{
public:
    // ---- Literals and names (OVNDBHelper.cpp) ----
    // A complete SQL string literal: the text between apostrophes, each inner apostrophe doubled.
    static QString quotedText(const QString &text);
    // Text as the catalog stores it: without NUL characters, which a server catalog cannot hold
    // (it would cut the text there) and which mean nothing in a name or a note. Both vendors
    // store the same.
    static QString storableText(const QString &text);
    // A number as SQL writes it, from text: optional blanks, an optional sign, digits, optionally a
    // fraction. Nothing for anything else (the empty text included).
    static std::optional<QString> sqlNumber(const QString &text);
    // The same value as a QVariant (qint64 or double) for binding; nothing when malformed.
    static std::optional<QVariant> numberValue(const QString &text);
    // The integer value of a text the way the import record readers take it: leading blanks, an
    // optional sign and the leading digits ("12abc" is 12, "abc" is 0); numbers as they are.
    static qint64 integerValue(const QVariant &value);
    // An import record's entry as text: "" when missing or null.
    static QString textValue(const QVariantMap &record, const QString &key);

    // Column names that statements may carry, each list fixed. A lookup ignores case and answers
    // the stored spelling, or nothing for a name not in the list.
    static const QStringList &fileColumns();         // every strvfile column but thumbimage
    static const QStringList &writableFileColumns(); // strvfile columns an update may set
    static const QStringList &numericFileColumns();  // the eight integer columns of strvfile
    static const QStringList &purchasedColumns();    // strvpurchased columns an update may set
    static const QStringList &soldColumns();         // strvsold columns an update may set
    static std::optional<QString> columnFromList(const QStringList &columns, const QString &name);

    // ---- Media select list (OVNDBHelper.cpp) ----
    // The 26 MediaRecord keys in select order.
    static const QStringList &mediaRecordKeys();
    // "select mid, displaytag, ..., '0', filetype, categoryid from strvfile mf".
    static QString mediaSelect();
    // The members of one category set, with the membership id in the "imagesetmid" place; the set
    // id is the statement's parameter $1.
    static QString mediaSetSelect();
    // " order by mf.mid" in the byte order of the ids, which is the order they were made in (an
    // import's order): PostgreSQL would otherwise hand rows in its storage order, which changes
    // when a row is updated, and sort text by the database's collation.
    static QString mediaIdOrder(bool postgres);

    // ---- Metadata row (OVNDBHelper_exif.cpp) ----
    // The strvexif columns (as the table names them) and values that a metadata dictionary gives:
    // its items whose keys name a column, matched without regard to case, each as the column's
    // type takes it (a value that does not fit is left out), and the whole dictionary as a
    // property list in text form under "exiftags".
    static QList<std::pair<QString, QVariant>> exifRowValues(const QVariantMap &metadata);

    // ---- Create scripts (OVNDBHelper_schema.cpp) ----
    // The statements of each script, in the order they run.
    static QStringList sqliteCatalogScript();
    static QStringList postgresCatalogScript();
    static QStringList mysqlCatalogScript(const QString &databaseName);
    static QStringList postgresUserManagerScript();
    static QStringList mysqlUserManagerScript(const QString &databaseName);
    // Run a script on the connection. The SQLite and PostgreSQL ones run as one transaction (a
    // savepoint inside the caller's): nothing runs when it cannot begin, a table or index that is
    // there already is left as it is, so that a partly made catalog is completed, and the first
    // failure undoes the whole script; on a server one client at a time runs it. The MySQL ones run
    // every statement even when an earlier one failed (a table that exists already fails alone).
    // They answer whether the catalog tables (or the user tables) are there afterwards. The MySQL
    // ones take the database name from the preference "DBDatabase".
    static bool prefDBCreateLocalDatabase(OVNDatabaseAccess &connection);
    static bool prefDBCreatePostgreSQLDatabase(OVNDatabaseAccess &connection);
    static bool prefDBCreateMySQLDatabase(OVNDatabaseAccess &connection);
    static bool prefDBCreatePostgreSQLUserManagerTables(OVNDatabaseAccess &connection);
    static bool prefDBCreateMySQLUserManagerTables(OVNDatabaseAccess &connection);

    // What a database holds of the catalog: the tables and columns of the create script that it
    // lacks, and whether it holds any of the catalog's tables, or tables of something else.
    struct CatalogContents {
        QStringList missingTables;  // as the script names them; every table when it holds none
        QStringList missingColumns; // "table.column", of the tables it holds
        bool holdsCatalogTables = false;
        bool holdsOtherTables = false;
        bool whole() const { return missingTables.isEmpty() && missingColumns.isEmpty(); }
        // Tables, none of them the catalog's: on a catalog file, another program's database.
        bool foreign() const { return !holdsCatalogTables && holdsOtherTables; }
        // "the tables strvexif, strvsold; the column strvfile.rating", empty when whole.
        QString missingText() const;
    };
    // Nothing when the database could not be asked (the connection's last failure says why).
    static std::optional<CatalogContents> catalogContents(OVNDatabaseAccess &connection);
    // The tables of the catalog's create script with their columns, in the script's order.
    static const QList<std::pair<QString, QStringList>> &catalogTableColumns();

    // ---- Privileges (OVNDBHelper.cpp) ----
    // The four levels in rising order.
    static const QStringList &privilegeLevels();
    // 0 ("NO ACCESS") to 3 ("FULL ACCESS"); an unknown text counts as "NO ACCESS".
    static int privilegeRank(const QString &level);
    // The level that a category's "PRIVILEGES" entries give a user in the given groups: the highest
    // of the entries that name one of the groups (by "mid", else by "group"); "FULL ACCESS" for an
    // empty list, "NO ACCESS" when no entry names one of the groups.
    static QString privilegeLevelForEntries(const QVariantList &entries, const QStringList &groupMids);

    // ---- Import prefill (OVNDBHelper_prefill.cpp) ----
    // The words that the path gives: the file name without extension (when asked), then up to
    // `folderCount` folder names from the nearest upwards, the root counted but not added; each
    // after a blank, so the text starts with a blank when not empty.
    static QString wordsFromPath(const QString &path, bool addFilename, int folderCount);
    // Completes freshly inserted records ("mid", "absolutepath") with the prepared info fields,
    // path words and licence fields. Every write is tried; the answer is false when one failed.
    static bool prefill(const QList<QVariantMap> &records, OVNDatabaseAccess &connection, const QVariantMap &mediaInfo,
                        const QVariantMap &purchased, const QVariantMap &sold, const OVNPrefillWords &words);
};
