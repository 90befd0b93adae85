#include "search/OVNExpertCondition.h"

#include "platform/Localized.h"
#include "search/OVNSearchFields.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

using Refusal = OVNExpertCondition::Refusal;

// ---- what a condition may name ----

// Plain text, number and date work, with no side effect and no way to run text as a statement.
// Each runs in time linear in its arguments, with these limits: the trims take no characters to
// trim (trimming a text of n characters by m given ones takes n x m steps, with no look at a
// cancel request), and substr and substring take whole numbers after their text (with a text
// there the server's substring matches a regular expression).
constexpr const char *functions[] = {"upper",    "lower",     "length",   "substr",    "substring", "trim",
                                     "ltrim",    "rtrim",     "coalesce", "abs",       "round",     "date",
                                     "datetime", "julianday", "strftime", "date_part", "date_trunc"};

// The types a value may be converted to.
constexpr const char *plainTypes[] = {"int",     "integer", "bigint",    "smallint", "real",  "float",
                                      "numeric", "decimal", "text",      "varchar",  "char",  "character",
                                      "date",    "time",    "timestamp", "boolean",  "double"};

// The condition's own words; none of them names a column.
constexpr const char *keywords[] = {"and",  "or",    "not",  "like", "escape", "between", "in",  "is",   "null",
                                    "true", "false", "case", "when", "then",   "else",    "end", "cast", "as"};

// Words that begin a statement of their own.
constexpr const char *queryWords[] = {"select", "exists", "with", "values", "table", "from", "union"};

constexpr const char *operators[] = {"=", "<>", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "||"};
constexpr const char *comparisons[] = {"=", "<>", "!=", "<", "<=", ">", ">="};

constexpr int maximumDepth = 64;
constexpr qsizetype maximumWordShown = 40;

// What a condition may ask of the catalog for one entry. The server holds every value a condition
// makes for an entry until the entry is done, and each operation on a long field (a description,
// the keywords, a picture) makes a copy of it: "fulldesc || fulldesc || ..." needs as many copies
// as the square of its length. The bounds keep the copies of one entry's long fields at a few
// dozen, whatever their size, while the conditions people write (a few fields compared, a few
// functions) stay far below them. What those copies come to in bytes depends on the fields' size:
// the search holds it to OVNExpertCondition::memoryBytes with the stored sizes before it runs.
constexpr qsizetype maximumCharacters = 8000;
constexpr int maximumOperations = 100;
constexpr int maximumLongFieldReferences = 16;
constexpr qint64 maximumLongFieldCopies = 128;
// The case functions turn text into wide characters and back: several copies of the text.
constexpr qint64 caseFunctionCopies = 6;
// A number longer than this, or with a larger exponent, is no entry's value.
constexpr qsizetype maximumNumberDigits = 40;
constexpr int maximumExponent = 308;
// The length a text type may be given in a conversion (char(n) pads to n characters).
constexpr int maximumTypeLength = 4000;

// The functions whose result holds (part of) their text arguments; the others answer a number,
// a date or a short text.
constexpr const char *textFunctions[] = {"upper", "lower", "substr", "substring", "trim", "ltrim", "rtrim", "coalesce"};

// The trims, which take their text alone.
constexpr const char *trimFunctions[] = {"trim", "ltrim", "rtrim"};

// The types of exact numbers of any size: a text converted to one may hold a number of a hundred
// thousand digits ('1e100000'), whose arithmetic the server does without a look at a cancel.
constexpr const char *exactNumberTypes[] = {"numeric", "decimal"};

// Passes over a text the server makes for a change of case (through wide characters and back),
// and for a comparison by the collation.
constexpr qint64 caseFunctionPasses = 10;
constexpr qint64 comparisonPasses = 4;

// The types whose conversion makes a copy of a text (twice the size for a picture, written in hex).
constexpr const char *textTypes[] = {"text", "varchar", "char", "character"};

bool listed(const QString &word, const auto &list)
{
    return std::any_of(std::begin(list), std::end(list),
                       [&word](const char *entry) { return word == QLatin1String(entry); });
}

// Whether the word names a table the search joins.
bool isSearchedTable(const QString &lower) { return !OVNSearchFields::columnsOf(lower).isEmpty(); }

bool isColumn(const QString &lower) { return OVNSearchFields::column({}, lower) != nullptr; }

bool isCatalogTable(const QString &lower) { return lower.startsWith(QLatin1String("strv")); }

// ---- words ----

enum class Kind { Word, Number, String, Operator, Cast, Open, Close, Comma, Dot, End };

struct Token {
    Kind kind = Kind::End;
    QString text; // as written; a text literal with its quotes
    QString lower() const { return text.toLower(); }
};

bool isLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_';
}

bool isDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// The server reads "$" inside a name as part of it.
bool isWordCharacter(QChar c) { return isLetter(c) || isDigit(c) || c == QLatin1Char('$'); }

// Only the blanks both vendors read as blanks; any other character outside quotes is refused.
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
           || c == QLatin1Char('\f');
}

// The characters the server joins into one operator.
bool isOperatorCharacter(QChar c)
{
    return c.unicode() > 0 && c.unicode() < 128 && std::strchr("+-*/<>=~!@#%^&|`?", char(c.unicode()));
}

QString shown(const QString &word)
{
    return word.size() > maximumWordShown ? word.left(maximumWordShown) + QStringLiteral("...") : word;
}

Refusal refusal(const QString &word, const char *format) { return {word, localized(format).arg(shown(word))}; }

QString characterName(QChar c)
{
    if (c.unicode() < 32 || c.unicode() >= 127)
        return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return QString(c);
}

// A number as written (digits, a point, an exponent): more digits or a larger exponent than any
// entry's value has.
bool numberTooLong(const QString &number)
{
    const qsizetype exponentAt = number.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
    return (exponentAt < 0 ? number.size() : exponentAt) > maximumNumberDigits
           || (exponentAt >= 0 && std::abs(number.mid(exponentAt + 1).toInt()) > maximumExponent)
           || (exponentAt >= 0 && number.size() - exponentAt > 6);
}

// Text in quotes that the server reads as a number where one is wanted ('1e130000' compared with a
// decimal field, or converted to one), held to the bounds of a number written plainly.
bool textNumberTooLong(QString text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)(e[+-]?\\d+)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    text = text.simplified().remove(QLatin1Char(' ')).remove(QLatin1Char('_'));
    if (!number.match(text).hasMatch())
        return false;
    if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
        text.remove(0, 1);
    const qsizetype exponentAt = text.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
    const QString digits = QString(exponentAt < 0 ? text : text.left(exponentAt)).remove(QLatin1Char('.'));
    if (exponentAt >= 0) {
        const QString exponent = text.mid(exponentAt + 1);
        const QString bare =
            exponent.startsWith(QLatin1Char('+')) || exponent.startsWith(QLatin1Char('-')) ? exponent.mid(1) : exponent;
        if (bare.size() > 4 || bare.toInt() > maximumExponent)
            return true;
    }
    return digits.size() > maximumNumberDigits;
}

// Cuts the condition into words as the server would, refusing what no condition needs.
std::optional<Refusal> tokenize(const QString &text, QList<Token> &tokens)
{
    const qsizetype size = text.size();
    const auto at = [&text, size](qsizetype i) { return i < size ? text.at(i) : QChar(); };
    for (qsizetype i = 0; i < size;) {
        const QChar c = text.at(i);
        if (isBlank(c)) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('\'')) {
            qsizetype j = i + 1;
            bool closed = false;
            while (j < size) {
                if (text.at(j) == QChar(0))
                    return refusal(characterName(QChar(0)), "A search condition cannot hold the character \"%1\".");
                if (text.at(j) == QLatin1Char('\'')) {
                    if (at(j + 1) == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed)
                return refusal(text.mid(i, 12), "The text in quotes that begins with \"%1\" is not closed.");
            if (textNumberTooLong(text.mid(i + 1, j - i - 1)))
                return refusal(text.mid(i, j + 1 - i), "A search condition cannot hold the text %1: it reads as a "
                                                       "number too long for a search.");
            tokens.append({Kind::String, text.mid(i, j + 1 - i)});
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('"')) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), i + 1);
            return refusal(close < 0 ? QStringLiteral("\"") : text.mid(i, close + 1 - i),
                           "A search condition cannot hold names in double quotes (%1); write the column plainly.");
        }
        if (isLetter(c)) {
            qsizetype j = i;
            while (j < size && isWordCharacter(text.at(j)))
                ++j;
            // E'...', B'...', X'...', N'...', U&'...' and U&"...": text read in another way.
            const QString word = text.mid(i, j - i).toLower();
            const QChar after = at(j);
            if (after == QLatin1Char('\'') && word.size() == 1 && QStringLiteral("ebxn").contains(word))
                return refusal(text.mid(i, j + 1 - i),
                               "A search condition cannot hold the special form of text \"%1\".");
            if (word == QLatin1String("u") && after == QLatin1Char('&')
                && (at(j + 1) == QLatin1Char('\'') || at(j + 1) == QLatin1Char('"')))
                return refusal(text.mid(i, j + 2 - i),
                               "A search condition cannot hold the special form of text \"%1\".");
            tokens.append({Kind::Word, text.mid(i, j - i)});
            i = j;
            continue;
        }
        if (isDigit(c) || (c == QLatin1Char('.') && isDigit(at(i + 1)))) {
            qsizetype j = i;
            while (isDigit(at(j)))
                ++j;
            if (at(j) == QLatin1Char('.')) {
                ++j;
                while (isDigit(at(j)))
                    ++j;
            }
            if ((at(j) == QLatin1Char('e') || at(j) == QLatin1Char('E'))
                && (isDigit(at(j + 1))
                    || ((at(j + 1) == QLatin1Char('+') || at(j + 1) == QLatin1Char('-')) && isDigit(at(j + 2))))) {
                j += 2;
                while (isDigit(at(j)))
                    ++j;
            }
            // "0x1f", "12abc": read differently by each vendor.
            if (isWordCharacter(at(j))) {
                qsizetype k = j;
                while (isWordCharacter(at(k)))
                    ++k;
                return refusal(text.mid(i, k - i), "A search condition cannot hold \"%1\"; write numbers plainly.");
            }
            const QString number = text.mid(i, j - i);
            if (numberTooLong(number))
                return refusal(number, "A search condition cannot hold the number \"%1\"; it is too long.");
            tokens.append({Kind::Number, number});
            i = j;
            continue;
        }
        if (c == QLatin1Char('#')) {
            qsizetype j = i + 1;
            while (j < size && (isWordCharacter(text.at(j)) || text.at(j) == QLatin1Char('.')))
                ++j;
            if (j > i + 1 && at(j) == QLatin1Char('#'))
                return refusal(text.mid(i, j + 1 - i), "The search knows no field \"%1\".");
        }
        if ((c == QLatin1Char('-') && at(i + 1) == QLatin1Char('-'))
            || (c == QLatin1Char('/') && at(i + 1) == QLatin1Char('*')))
            return refusal(text.mid(i, 2), "A search condition cannot hold comments (\"%1\").");
        if (isOperatorCharacter(c)) {
            // The longest run, as the server reads it: up to a comment's start, and without a
            // last "+" or "-" unless the run holds a character that only operators of its own use.
            qsizetype j = i;
            while (j < size && isOperatorCharacter(text.at(j))) {
                if (j > i
                    && ((text.at(j) == QLatin1Char('-') && at(j + 1) == QLatin1Char('-'))
                        || (text.at(j) == QLatin1Char('/') && at(j + 1) == QLatin1Char('*'))))
                    break;
                ++j;
            }
            QString op = text.mid(i, j - i);
            const bool special =
                std::any_of(op.cbegin(), op.cend(), [](QChar o) { return QStringLiteral("~!@#%^&|`?").contains(o); });
            while (!special && op.size() > 1 && (op.endsWith(QLatin1Char('+')) || op.endsWith(QLatin1Char('-'))))
                op.chop(1);
            if (!listed(op, operators))
                return refusal(op, "A search condition cannot use the operator \"%1\".");
            tokens.append({Kind::Operator, op});
            i += op.size();
            continue;
        }
        if (c == QLatin1Char(':') && at(i + 1) == QLatin1Char(':')) {
            tokens.append({Kind::Cast, QStringLiteral("::")});
            i += 2;
            continue;
        }
        if (c == QLatin1Char(';'))
            return refusal(QStringLiteral(";"), "A search is one condition: \"%1\" is not accepted.");
        const Kind single = c == QLatin1Char('(')   ? Kind::Open
                            : c == QLatin1Char(')') ? Kind::Close
                            : c == QLatin1Char(',') ? Kind::Comma
                            : c == QLatin1Char('.') ? Kind::Dot
                                                    : Kind::End;
        if (single == Kind::End)
            return refusal(characterName(c), "A search condition cannot hold the character \"%1\".");
        tokens.append({single, QString(c)});
        ++i;
    }
    tokens.append({Kind::End, QString()});
    return std::nullopt;
}

std::optional<Refusal> unbalancedParenthesis(const QList<Token> &tokens)
{
    int depth = 0;
    for (const Token &token : tokens) {
        if (token.kind == Kind::Open) {
            ++depth;
        } else if (token.kind == Kind::Close && --depth < 0) {
            return refusal(QStringLiteral(")"), "The parentheses do not match: a \"%1\" closes nothing.");
        }
    }
    if (depth > 0)
        return refusal(QStringLiteral("("), "The parentheses do not match: a \"%1\" is not closed.");
    return std::nullopt;
}

// ---- the condition ----

// Reads one condition, by precedence from "or" down to a single value; the first word that no
// rule takes is refused. As it reads, it counts what the condition asks of the catalog for each
// entry: its operations, its references to long fields and the copies of them its values hold.
class Parser
{
public:
    Parser(const QList<Token> &tokens, OVNExpertCondition::Widths widths) : m_tokens(tokens), m_widths(widths) {}

    std::optional<Refusal> run(OVNExpertCondition::Cost *cost)
    {
        Value value;
        if (!condition(0, value))
            return m_refusal;
        if (peek().kind != Kind::End)
            return refuseAt(m_position);
        if (cost)
            *cost = {m_longCopies, m_passes, m_longColumns};
        return std::nullopt;
    }

private:
    // What a value may hold of the entry's long fields (a number of copies of the longest), and
    // whether it may be text.
    struct Value {
        qint64 longCopies = 0;
        bool text = false;
    };

    const Token &peek(qsizetype ahead = 0) const
    {
        return m_tokens.at(std::min(m_position + ahead, m_tokens.size() - 1));
    }
    bool isWord(const char *word, qsizetype ahead = 0) const
    {
        const Token &token = peek(ahead);
        return token.kind == Kind::Word && token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool acceptWord(const char *word)
    {
        if (!isWord(word))
            return false;
        return operation();
    }
    bool expectWord(const char *word)
    {
        if (!isWord(word))
            return fail(refuseAt(m_position));
        ++m_position;
        return true;
    }
    bool expect(Kind kind)
    {
        if (peek().kind != kind)
            return fail(refuseAt(m_position));
        ++m_position;
        return true;
    }
    bool isOperator(const auto &list) const { return peek().kind == Kind::Operator && listed(peek().text, list); }
    bool fail(const Refusal &refusal)
    {
        m_refusal = refusal;
        return false;
    }
    bool deeper(int depth)
    {
        if (depth <= maximumDepth)
            return true;
        return fail(refusal(peek().text, "The search condition is nested too deeply at \"%1\"."));
    }

    // Takes the word at the position as one operation (an operator, a function, a conversion).
    bool operation()
    {
        const Token &token = peek();
        ++m_position;
        if (++m_operations <= maximumOperations)
            return true;
        return fail({token.text, localized("The search condition holds too many operations (at \"%1\"): at most %2 "
                                           "comparisons, operators, functions and conversions are allowed.")
                                     .arg(shown(token.text))
                                     .arg(maximumOperations)});
    }

    // A value made at `token` holding `copies` copies of long fields, each of which the catalog
    // keeps for the entry.
    bool made(const Token &token, qint64 copies)
    {
        m_longCopies += copies;
        if (m_longCopies <= maximumLongFieldCopies)
            return true;
        return fail(
            {token.text, localized("The search condition copies the long fields (descriptions, keywords, paths, "
                                   "pictures) too often (at \"%1\"): the catalog would hold more than %2 copies of "
                                   "them for each entry. Test each field once rather than joining it to itself.")
                             .arg(shown(token.text))
                             .arg(maximumLongFieldCopies)});
    }

    // A column, of `table` when it is written with it.
    bool column(const Token &token, Value &value, const QString &table = QString())
    {
        value = {};
        const QString lower = token.lower();
        const OVNSearchFields::Column *named = OVNSearchFields::column(table, lower);
        value.text = named->holds == OVNSearchFields::Holds::Text || named->holds == OVNSearchFields::Holds::Binary;
        // Where declared widths and types are not held, every column may hold a text as long as a
        // description.
        if (named->length == OVNSearchFields::Length::Short && m_widths == OVNExpertCondition::Widths::Enforced)
            return true;
        const QString qualified = QLatin1String(named->table) + QLatin1Char('.') + lower;
        if (!m_longColumns.contains(qualified))
            m_longColumns.append(qualified);
        // Reading it is one pass (a stored field may be compressed).
        m_passes += 1;
        if (++m_longReferences > maximumLongFieldReferences)
            return fail({token.text, localized("The search condition names the long fields (descriptions, keywords, "
                                               "paths, pictures) too often (at \"%1\"): at most %2 times.")
                                         .arg(shown(token.text))
                                         .arg(maximumLongFieldReferences)});
        value.longCopies = 1;
        return made(token, 1);
    }

    // The word at `index` as the user wrote it: a column with its table whole.
    QString wordAt(qsizetype index) const
    {
        const Token &token = m_tokens.at(std::min(index, m_tokens.size() - 1));
        if (token.kind == Kind::Word && index + 2 < m_tokens.size() && m_tokens.at(index + 1).kind == Kind::Dot
            && m_tokens.at(index + 2).kind == Kind::Word)
            return token.text + QLatin1Char('.') + m_tokens.at(index + 2).text;
        return token.text;
    }

    // Why the word at `index` cannot stand there.
    Refusal refuseAt(qsizetype index) const
    {
        const Token &token = m_tokens.at(std::min(index, m_tokens.size() - 1));
        if (token.kind == Kind::End) {
            const QString last = index > 0 ? m_tokens.at(index - 1).text : QString();
            return last.isEmpty() ? Refusal{QString(), localized("The search condition is empty.")}
                                  : refusal(last, "The search condition ends too early, after \"%1\".");
        }
        if (token.kind == Kind::Word) {
            const QString lower = token.lower();
            const Kind next = m_tokens.at(std::min(index + 1, m_tokens.size() - 1)).kind;
            if (listed(lower, queryWords))
                return refusal(token.text, "A search condition cannot hold a query of its own (\"%1\").");
            if (listed(lower, keywords) || isColumn(lower) || (isSearchedTable(lower) && next == Kind::Dot)
                || (listed(lower, functions) && next == Kind::Open))
                return refusal(token.text, "The search condition is not understood at \"%1\".");
            if (next == Kind::Open)
                return refusal(token.text, "A search condition cannot call \"%1\": only a few plain text, number "
                                           "and date functions are allowed.");
            if (isCatalogTable(lower) || next == Kind::Dot)
                return refusal(token.text, "A search condition cannot read \"%1\": it may name only the fields of "
                                           "the searched entries.");
            return refusal(token.text, "A search condition cannot use \"%1\".");
        }
        return refusal(token.text, "The search condition is not understood at \"%1\".");
    }

    bool condition(int depth, Value &value)
    {
        if (!deeper(depth) || !conjunction(depth, value))
            return false;
        while (isWord("or")) {
            if (!acceptWord("or") || !conjunction(depth, value))
                return false;
            value = {};
        }
        return true;
    }

    bool conjunction(int depth, Value &value)
    {
        if (!negation(depth, value))
            return false;
        while (isWord("and")) {
            if (!acceptWord("and") || !negation(depth, value))
                return false;
            value = {};
        }
        return true;
    }

    bool negation(int depth, Value &value)
    {
        if (isWord("not")) {
            if (!acceptWord("not") || !deeper(depth + 1) || !negation(depth + 1, value))
                return false;
            value = {};
            return true;
        }
        return predicate(depth, value);
    }

    bool predicate(int depth, Value &value)
    {
        if (!sum(depth, value))
            return false;
        Value other;
        if (isOperator(comparisons)) {
            const qint64 held = value.longCopies;
            const Token &comparison = peek();
            // An order by the collation compares copies of both sides.
            const bool ordered =
                (comparison.text.startsWith(QLatin1Char('<')) && comparison.text != QLatin1String("<>"))
                || comparison.text.startsWith(QLatin1Char('>'));
            value = {};
            if (!operation() || !sum(depth, other))
                return false;
            m_passes += comparisonPasses * (held + other.longCopies);
            return !ordered || made(comparison, held + other.longCopies);
        }
        if (isWord("is")) {
            value = {};
            if (!acceptWord("is"))
                return false;
            if (isWord("not"))
                ++m_position;
            if (isWord("null") || isWord("true") || isWord("false")) {
                ++m_position;
                return true;
            }
            return fail(refuseAt(m_position));
        }
        const bool negated = isWord("not");
        if (negated)
            ++m_position;
        if (isWord("like")) {
            const qint64 held = value.longCopies;
            value = {};
            qsizetype patternCharacters = 0;
            if (!acceptWord("like") || !likePattern(depth, patternCharacters))
                return false;
            // At each place of the text the server may compare as many characters as the pattern
            // holds before it looks at a cancel request again.
            m_passes += held * std::max<qsizetype>(1, patternCharacters);
            if (isWord("escape")) {
                ++m_position;
                return expect(Kind::String);
            }
            return true;
        }
        if (isWord("between")) {
            const qint64 held = value.longCopies;
            value = {};
            Value high;
            if (!acceptWord("between") || !sum(depth, other) || !expectWord("and") || !sum(depth, high))
                return false;
            m_passes += comparisonPasses * (2 * held + other.longCopies + high.longCopies);
            return made(m_tokens.at(m_position - 1), 2 * held + other.longCopies + high.longCopies);
        }
        if (isWord("in")) {
            m_passes += comparisonPasses * value.longCopies;
            value = {};
            return acceptWord("in") && literalList();
        }
        return !negated || fail(refuseAt(m_position));
    }

    // The pattern of "like": text in quotes, or upper() or lower() of it, whose length in
    // characters it answers. A pattern made of an entry's fields would cost the length of one
    // field times that of another.
    bool likePattern(int depth, qsizetype &characters)
    {
        const qsizetype start = m_position;
        Value pattern;
        if (!sum(depth, pattern))
            return false;
        const qsizetype length = m_position - start;
        const Token &first = m_tokens.at(start);
        if (length == 1 && first.kind == Kind::String) {
            characters = first.text.size() - 2;
            return true;
        }
        const QString function = first.lower();
        if (length == 4 && first.kind == Kind::Word
            && (function == QLatin1String("upper") || function == QLatin1String("lower"))
            && m_tokens.at(start + 2).kind == Kind::String) {
            characters = m_tokens.at(start + 2).text.size() - 2;
            return true;
        }
        return fail(refusal(wordAt(start), "The pattern after \"like\" must be text in quotes (or upper() or "
                                           "lower() of it), not \"%1\"."));
    }

    bool literalList()
    {
        if (!expect(Kind::Open))
            return false;
        do {
            if (peek().kind == Kind::Operator
                && (peek().text == QLatin1String("-") || peek().text == QLatin1String("+"))
                && peek(1).kind == Kind::Number) {
                m_position += 2;
            } else if (peek().kind == Kind::Number || peek().kind == Kind::String || isWord("null")) {
                ++m_position;
            } else {
                return fail(peek().kind == Kind::End
                                ? refuseAt(m_position)
                                : refusal(peek().text, "The list after \"in\" may hold only "
                                                       "numbers and texts in quotes, not \"%1\"."));
            }
        } while (peek().kind == Kind::Comma && ++m_position);
        return expect(Kind::Close);
    }

    bool sum(int depth, Value &value)
    {
        if (!product(depth, value))
            return false;
        while (peek().kind == Kind::Operator
               && (peek().text == QLatin1String("+") || peek().text == QLatin1String("-")
                   || peek().text == QLatin1String("||"))) {
            const Token &token = peek();
            const bool joined = token.text == QLatin1String("||");
            Value right;
            if (!operation() || !product(depth, right))
                return false;
            // A joined text holds both sides; a sum is a number.
            value.longCopies = joined ? value.longCopies + right.longCopies : 0;
            value.text = joined;
            m_passes += value.longCopies;
            if (joined && !made(token, value.longCopies))
                return false;
        }
        return true;
    }

    bool product(int depth, Value &value)
    {
        if (!unary(depth, value))
            return false;
        while (peek().kind == Kind::Operator
               && (peek().text == QLatin1String("*") || peek().text == QLatin1String("/")
                   || peek().text == QLatin1String("%"))) {
            Value right;
            if (!operation() || !unary(depth, right))
                return false;
            value = {};
        }
        return true;
    }

    bool unary(int depth, Value &value)
    {
        if (peek().kind == Kind::Operator && (peek().text == QLatin1String("-") || peek().text == QLatin1String("+"))) {
            if (!operation() || !deeper(depth + 1) || !unary(depth + 1, value))
                return false;
            value = {};
            return true;
        }
        if (!primary(depth, value))
            return false;
        while (peek().kind == Kind::Cast) {
            if (!operation() || !type(value))
                return false;
        }
        return true;
    }

    // The type of a conversion of `value`, which becomes the converted value.
    bool type(Value &value)
    {
        const Token &name = peek();
        if (name.kind != Kind::Word || !listed(name.lower(), plainTypes))
            return fail(name.kind == Kind::Word ? refusal(name.text, "A search condition cannot convert to \"%1\".")
                                                : refuseAt(m_position));
        if (value.text && listed(name.lower(), exactNumberTypes))
            return fail(refusal(name.text, "A search condition cannot convert a text to \"%1\": a text may hold a "
                                           "number of any size. Convert it to \"integer\" or \"real\"."));
        ++m_position;
        m_passes += value.longCopies;
        if (listed(name.lower(), textTypes)) {
            value.longCopies *= 2;
            value.text = true;
            if (!made(name, value.longCopies))
                return false;
        } else {
            value = {};
        }
        if (name.lower() == QLatin1String("double"))
            return expectWord("precision");
        // A length or a precision and scale: varchar(20), numeric(10, 2).
        if (peek().kind == Kind::Open) {
            ++m_position;
            if (!length())
                return false;
            if (peek().kind == Kind::Comma) {
                ++m_position;
                if (!length())
                    return false;
            }
            return expect(Kind::Close);
        }
        return true;
    }

    bool length()
    {
        const Token &token = peek();
        if (token.kind == Kind::Number && token.text.toDouble() > maximumTypeLength)
            return fail({token.text, localized("A search condition cannot convert to a length of %1: at most %2.")
                                         .arg(shown(token.text))
                                         .arg(maximumTypeLength)});
        return expect(Kind::Number);
    }

    bool primary(int depth, Value &value)
    {
        value = {};
        if (!deeper(depth))
            return false;
        const Token &token = peek();
        switch (token.kind) {
        case Kind::Number:
        case Kind::String:
            ++m_position;
            return true;
        case Kind::Open:
            ++m_position;
            return condition(depth + 1, value) && expect(Kind::Close);
        case Kind::Word:
            break;
        default:
            return fail(refuseAt(m_position));
        }
        const QString lower = token.lower();
        if (lower == QLatin1String("null") || lower == QLatin1String("true") || lower == QLatin1String("false")) {
            ++m_position;
            return true;
        }
        if (lower == QLatin1String("case"))
            return caseExpression(depth, value);
        if (lower == QLatin1String("cast")) {
            return operation() && expect(Kind::Open) && condition(depth + 1, value) && expectWord("as") && type(value)
                   && expect(Kind::Close);
        }
        if (peek(1).kind == Kind::Open) {
            if (!listed(lower, functions))
                return fail(refuseAt(m_position));
            if (!operation())
                return false;
            ++m_position;
            qint64 held = 0;
            int arguments = 0;
            const bool positions = lower == QLatin1String("substr") || lower == QLatin1String("substring");
            if (peek().kind != Kind::Close) {
                do {
                    if (positions && arguments > 0 && !wholeNumber(token))
                        return false;
                    Value argument;
                    if (!condition(depth + 1, argument))
                        return false;
                    held += argument.longCopies;
                    ++arguments;
                } while (peek().kind == Kind::Comma && ++m_position);
            }
            if (!expect(Kind::Close))
                return false;
            if (listed(lower, trimFunctions) && arguments > 1)
                return fail(refusal(token.text, "A search condition cannot trim given characters with \"%1\": "
                                                "write it with its text alone, which trims blanks."));
            const bool caseFunction = lower == QLatin1String("upper") || lower == QLatin1String("lower");
            m_passes += held * (caseFunction ? caseFunctionPasses : 1);
            if (!listed(lower, textFunctions))
                return true;
            value.longCopies = held;
            value.text = true;
            return made(token, held * (caseFunction ? caseFunctionCopies : 1));
        }
        if (isSearchedTable(lower) && peek(1).kind == Kind::Dot) {
            const Token &name = peek(2);
            if (name.kind != Kind::Word || !OVNSearchFields::column(lower, name.lower()))
                return fail(name.kind == Kind::Word ? refusal(name.text, "The searched entries have no field \"%1\".")
                                                    : refuseAt(m_position + 2));
            m_position += 3;
            return column(name, value, lower);
        }
        if (isColumn(lower) && peek(1).kind != Kind::Dot) {
            ++m_position;
            return column(token, value);
        }
        return fail(refuseAt(m_position));
    }

    // After the text of substr or substring: a whole number written plainly (a sign before it at
    // most), followed by the next argument or the end of the call.
    bool wholeNumber(const Token &function)
    {
        qsizetype at = m_position;
        if (m_tokens.at(at).kind == Kind::Operator
            && (m_tokens.at(at).text == QLatin1String("-") || m_tokens.at(at).text == QLatin1String("+")))
            ++at;
        const Token &number = m_tokens.at(std::min(at, m_tokens.size() - 1));
        const Kind after = m_tokens.at(std::min(at + 1, m_tokens.size() - 1)).kind;
        if (number.kind == Kind::Number && !number.text.contains(QLatin1Char('.'))
            && !number.text.contains(QLatin1Char('e'), Qt::CaseInsensitive)
            && (after == Kind::Comma || after == Kind::Close))
            return true;
        if (peek().kind == Kind::End)
            return fail(refuseAt(m_position));
        const QString word = wordAt(m_position);
        return fail({word, localized("\"%1\" takes whole numbers after its text (where to start, how many), not "
                                     "\"%2\".")
                               .arg(shown(function.text), shown(word))});
    }

    bool caseExpression(int depth, Value &value)
    {
        if (!operation())
            return false;
        Value tested;
        if (!isWord("when") && !condition(depth + 1, tested))
            return false;
        if (!isWord("when"))
            return fail(refuseAt(m_position));
        // The answer is one of the branches: as much as the largest holds.
        const auto branch = [&](bool ok, const Value &answer) {
            value.longCopies = std::max(value.longCopies, answer.longCopies);
            return ok;
        };
        while (isWord("when")) {
            ++m_position;
            Value answer;
            if (!condition(depth + 1, tested) || !expectWord("then") || !branch(condition(depth + 1, answer), answer))
                return false;
        }
        if (isWord("else")) {
            ++m_position;
            Value answer;
            if (!branch(condition(depth + 1, answer), answer))
                return false;
        }
        return expectWord("end");
    }

    const QList<Token> &m_tokens;
    OVNExpertCondition::Widths m_widths;
    qsizetype m_position = 0;
    Refusal m_refusal;
    int m_operations = 0;
    int m_longReferences = 0;
    qint64 m_longCopies = 0;
    qint64 m_passes = 0;
    QStringList m_longColumns;
};

} // namespace

std::optional<OVNExpertCondition::Refusal> OVNExpertCondition::check(const QString &condition, Cost *cost,
                                                                     Widths widths)
{
    if (cost)
        *cost = {};
    if (condition.size() > maximumCharacters)
        return Refusal{QString(), localized("The search condition is too long: it has %1 characters, at most %2 are "
                                            "allowed.")
                                      .arg(condition.size())
                                      .arg(maximumCharacters)};
    QList<Token> tokens;
    if (std::optional<Refusal> refused = tokenize(condition, tokens))
        return refused;
    if (std::optional<Refusal> refused = unbalancedParenthesis(tokens))
        return refused;
    return Parser(tokens, widths).run(cost);
}

qint64 OVNExpertCondition::largestFieldBytes(const Cost &cost)
{
    if (cost.longColumns.isEmpty())
        return -1;
    return std::min(memoryBytes / std::max<qint64>(1, cost.copies), workBytes / std::max<qint64>(1, cost.passes));
}

void OVNExpertCondition::addCaseBlindTest(Cost &cost, const QString &column, qsizetype patternCharacters, bool like,
                                          Widths widths)
{
    const OVNSearchFields::Column *tested =
        OVNSearchFields::column(column.section(QLatin1Char('.'), 0, -2), column.section(QLatin1Char('.'), -1));
    if (widths == Widths::Enforced && (!tested || tested->length == OVNSearchFields::Length::Short))
        return;
    if (!cost.longColumns.contains(column))
        cost.longColumns.append(column);
    // The field read (one copy, one pass), its change of case, then the comparison over that copy.
    cost.copies += 1 + caseFunctionCopies;
    cost.passes += 1 + caseFunctionPasses + (like ? std::max<qsizetype>(1, patternCharacters) : comparisonPasses);
}
