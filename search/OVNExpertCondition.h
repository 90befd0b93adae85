#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The check of an expert search's condition, the same for both catalog vendors, made before the
// catalog sees it. It admits only what tests an entry: the columns of the tables the search joins
// (plain or written with their table), numbers and texts in single quotes (never read inside),
// comparisons, "and", "or", "not", "like" (with "escape"), "between", "in" with a list of
// literals, "is [not] null", "case ... end", parentheses, casts to plain types and a short list of
// plain functions. Anything else is refused with a sentence that names the word: a query of its
// own, another table, another function, a comment, a second statement, quoted names, dollar,
// escape and Unicode string forms.
//
// What it admits, the server does in time linear in an entry's fields and looks at its time limit
// and cancel requests between entries, so that a search ends when the server is told to: no
// trimming of given characters (quadratic, and deaf to a cancel), no regular expressions (the
// server's substring() reads a text second argument as one), a "like" pattern only as text in
// quotes, no conversion of a text to an exact number of unbounded size, and no text literal that
// reads as a number beyond the bounds of a number written plainly.
//
// The condition checked is the one sent, after the placeholders are replaced.
class OVNExpertCondition
{
public:
    struct Refusal {
        QString word;    // the refused word as written ("" when the condition ends too early)
        QString message; // the sentence for the user, naming the word
    };

    // What a condition that passes asks of the catalog for one entry, in units of the longest of
    // the long fields (descriptions, keywords, paths, pictures) it names in that entry: the copies
    // of it the server holds at once, and the passes over it that the server makes without
    // looking at a cancel request. The search bounds both in bytes before it runs
    // (largestFieldBytes()).
    struct Cost {
        qint64 copies = 0;
        qint64 passes = 0;
        QStringList longColumns; // "table.column", each once
    };
    // The server memory and the work between two looks at a cancel request that one entry of a
    // search may take.
    static constexpr qint64 memoryBytes = qint64(48) << 20;
    static constexpr qint64 workBytes = qint64(512) << 20;

    // Whether the catalog holds its columns to their declared types and widths: a server refuses a
    // longer value, SQLite stores a text of any length in any column, so that there every column
    // counts as long.
    enum class Widths { Enforced, Unenforced };

    // Nothing when the condition may run; `cost` (optional) then says what it asks.
    static std::optional<Refusal> check(const QString &condition, Cost *cost = nullptr,
                                        Widths widths = Widths::Enforced);
    // The largest size in bytes the long fields of an entry may have for a condition of that cost
    // to stay within memoryBytes and workBytes; -1 when it names no long field.
    static qint64 largestFieldBytes(const Cost &cost);
    // Adds to `cost` what the program's own case-blind test of `column` ("table.column") asks, as
    // check() counts it: "upper(column) like upper(pattern)" with a pattern of
    // `patternCharacters` characters, or "upper(column) = upper(value)" when `like` is false.
    // Nothing for a column that holds no long text.
    static void addCaseBlindTest(Cost &cost, const QString &column, qsizetype patternCharacters, bool like,
                                 Widths widths = Widths::Enforced);
};
