// Reading the statements the searches make, for the tests of their text.
#pragma once

#include <QString>

// The statement without the look at the stored sizes of the long fields that comes before its
// condition ("case when coalesce(...) <= N ... then (CONDITION) else false end" becomes CONDITION),
// as it reads where no field is too large.
inline QString withoutSizeLook(const QString &sql)
{
    const qsizetype start = sql.indexOf(QLatin1String("case when coalesce("));
    if (start < 0)
        return sql;
    const QString then = QStringLiteral(" then (");
    const qsizetype open = sql.indexOf(then, start);
    if (open < 0)
        return sql;
    // The parenthesis that closes the condition, past texts in quotes.
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = open + then.size() - 1; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('('))
            ++depth;
        else if (!quoted && c == QLatin1Char(')') && --depth == 0) {
            const QString end = QStringLiteral(") else false end");
            if (sql.mid(i, end.size()) != end)
                return sql;
            return sql.left(start) + sql.mid(open + then.size(), i - open - then.size()) + sql.mid(i + end.size());
        }
    }
    return sql;
}
