// A smart folder's stored search as its category comment holds it: any text gives a refusal or
// one statement whose quotes pair up and that holds no second statement or comment.

#include "app/OVNCategoryComment.h"
#include "search/OVNFind.h"

#include <cstddef>
#include <cstdint>

namespace {

// Outside quoted literals: no ";", "--" or "/*", and every quote closed.
bool soundStatement(const QString &sql)
{
    bool quoted = false;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        const QChar next = i + 1 < sql.size() ? sql.at(i + 1) : QChar();
        if (c == QLatin1Char(';') || (c == QLatin1Char('-') && next == QLatin1Char('-'))
            || (c == QLatin1Char('/') && next == QLatin1Char('*')))
            return false;
    }
    return !quoted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString comment = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!OVNCategoryComment::holdsDictionary(comment))
        return 0;
    OVNFind find;
    find.addCatalog(QStringLiteral("All Entries"), {});
    find.addCatalog(QStringLiteral("Travel"), {QStringLiteral("t1"), QStringLiteral("t'2")});
    find.setSearchSettings(OVNCategoryComment::dictionary(comment));
    const bool refused = !find.refusal().isEmpty();
    for (const OVNFind::Dialect dialect : {OVNFind::Dialect::SQLite, OVNFind::Dialect::PostgreSQL}) {
        const QString sql = find.searchClause(dialect);
        if (refused != sql.isEmpty() || !soundStatement(sql))
            __builtin_trap();
    }
    return 0;
}
