// Times ovn-find (the find sheet's statement compiled from stored settings and run through the
// catalog layer, every entry's id and name printed) against the sqlite3 command-line program
// running the same statement and printing the same two columns, whole process against whole process through bench_pair
// (output to /dev/null), on a catalog of 100,000 records with their metadata rows:
//   - one line "Keywords" contains a word that 10% of the records hold;
//   - three AND/OR lines inside a folder;
//   - one line on the metadata table (the join);
//   - a line no record matches: the whole table read, nothing listed (what starting the program,
//     opening the catalog and reading the search-in list cost beside sqlite3).
// Usage: find_bench [record count [folder to keep the catalog and settings in]]

#include "BenchCatalog.h"
#include "SearchBenchCatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

namespace {

// The statement ovn-find prints for the settings, and the number of entries.
QString statementOf(const QString &catalog, const QString &settings, QString *found)
{
    QProcess find;
    find.start(QStringLiteral(OVN_FIND), {catalog, settings});
    find.waitForFinished(-1);
    QString sql;
    for (const QString &line : QString::fromUtf8(find.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("sql: ")))
            sql = line.mid(5);
        else if (line.startsWith(QLatin1String("found: ")))
            *found = line.mid(7);
    }
    return sql;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    QTemporaryDir temporary;
    const QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QString catalog = dir.filePath(QStringLiteral("find.sqlite"));
    QFile::remove(catalog);
    if (!SearchBenchCatalog::fill(catalog, count, 4, true)) {
        std::fprintf(stderr, "find_bench: cannot make the catalog\n");
        return 1;
    }
    const struct {
        const char *title;
        const char *settings;
    } searches[] = {
        {"Keywords contains a word of 10% of the records",
         "{ LINES = ( { FIELDTITLE = Keywords; OPERATORID = 0; VALUE = k3; } ); }"},
        {"Three AND/OR lines in a folder",
         "{ CATALOG = Travel; LINES = ( { FIELDTITLE = Rating; OPERATORID = 1; VALUE = 3; }, "
         "{ COMBOPERATORTITLE = AND; FIELDTITLE = Name; OPERATORID = 2; VALUE = \"5.JPG\"; }, "
         "{ COMBOPERATORTITLE = OR; FIELDTITLE = Keywords; OPERATORID = 0; VALUE = k7; } ); }"},
        {"A metadata-table line (Camera Make is Canon)",
         "{ LINES = ( { FIELDOBJECT = { TABLENAME = strvexif; FIELDNAME = cameramake; OPERATORTYPE = 1; }; "
         "OPERATORID = 3; VALUE = canon; } ); }"},
        {"A line no record matches (Rating equals 9)",
         "{ LINES = ( { FIELDTITLE = Rating; OPERATORID = 0; VALUE = 9; } ); }"},
    };
    int index = 0;
    bool alike = true;
    for (const auto &search : searches) {
        const QString settings = dir.filePath(QStringLiteral("search%1.plist").arg(++index));
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly) || file.write(search.settings) < 0)
            return 1;
        file.close();
        QString found;
        const QString sql = statementOf(catalog, settings, &found);
        if (sql.isEmpty()) {
            std::fprintf(stderr, "find_bench: ovn-find compiled no statement for %s\n", search.settings);
            return 1;
        }
        std::printf("%s: %s of %d records\nsql: %s\n", search.title, qPrintable(found), count, qPrintable(sql));
        // Both print each record found as its id and name with a tab between; where nothing is
        // found there is nothing to compare.
        const QStringList ours{QStringLiteral(OVN_FIND), catalog, settings};
        const QStringList theirs{QStringLiteral("sqlite3"), QStringLiteral("-separator"), QStringLiteral("\t"), catalog,
                                 BenchCatalog::sameColumnsAsOurs(sql)};
        const QString title = QString::fromUtf8(search.title);
        alike = (found == QLatin1String("0")
                     ? BenchCatalog::comparePrograms(QStringLiteral(OVN_BENCH_PAIR), title, ours, theirs)
                     : BenchCatalog::compareListings(QStringLiteral(OVN_BENCH_PAIR), title, ours, theirs,
                                                     QStringLiteral("\t")))
                && alike;
        std::printf("\n");
    }
    return alike ? 0 : 1;
}
