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
// The condition checked is the one sent, after the placeholders are replaced.
class OVNExpertCondition
{
public:
    struct Refusal {
        QString word;    // the refused word as written ("" when the condition ends too early)
        QString message; // the sentence for the user, naming the word
    };

    // Nothing when the condition may run.
    static std::optional<Refusal> check(const QString &condition);
    // The columns of a table the search joins, in the order its create script makes them; none
    // for another table.
    static QStringList columnsOf(const QString &table);
};
