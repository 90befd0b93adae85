#include "search/OVNExpertCondition.h"

#include "platform/Localized.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

using Refusal = OVNExpertCondition::Refusal;

// ---- what a condition may name ----

struct Table {
    const char *name;
    std::initializer_list<const char *> columns;
};

// The tables an expert search joins, with their columns as the create scripts make them.
const Table searchedTables[] = {
    {"strvfile", {"mid",        "categoryid",  "displaytag",      "cataloguedby", "volumetype",       "volumename",
                  "servername", "serverpath",  "absolutepath",    "thumbimage",   "filetype",         "filesize",
                  "imagewidth", "imageheight", "filedts",         "dts",          "keywords",         "shortdesc",
                  "fulldesc",   "pricetag",    "modrelavailable", "modrelinfo",   "proprelavailable", "proprelinfo",
                  "rating",     "orientation"}},
    {"strvexif",
     {"id",
      "mid",
      "cameramake",
      "cameramodel",
      "datetime",
      "height",
      "width",
      "orientation",
      "iscolor",
      "process",
      "flashused",
      "focallength",
      "exposuretime",
      "aperturefnumber",
      "distance",
      "ccdwidth",
      "exposurebias",
      "digitalzoomratio",
      "focallength35mmequiv",
      "whitebalance",
      "meteringmode",
      "exposureprogram",
      "exposuremode",
      "isoequivalent",
      "lightsource",
      "comments",
      "thumbnail",
      "exiftags",
      "iptctags",
      "addtags"}},
    {"strvpurchased", {"id", "mid", "licensetype", "licenserestrictions", "owner", "ordernumber", "photographer"}},
    {"strvsold", {"id", "mid", "licensetype", "licenserestrictions", "customer"}},
};

// Plain text, number and date work, with no side effect and no way to run text as a statement.
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

bool listed(const QString &word, const auto &list)
{
    return std::any_of(std::begin(list), std::end(list),
                       [&word](const char *entry) { return word == QLatin1String(entry); });
}

const Table *searchedTable(const QString &lower)
{
    for (const Table &table : searchedTables) {
        if (lower == QLatin1String(table.name))
            return &table;
    }
    return nullptr;
}

bool isColumn(const QString &lower)
{
    return std::any_of(std::begin(searchedTables), std::end(searchedTables),
                       [&lower](const Table &table) { return listed(lower, table.columns); });
}

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
            tokens.append({Kind::Number, text.mid(i, j - i)});
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
// rule takes is refused.
class Parser
{
public:
    explicit Parser(const QList<Token> &tokens) : m_tokens(tokens) {}

    std::optional<Refusal> run()
    {
        if (!condition(0))
            return m_refusal;
        if (peek().kind != Kind::End)
            return refuseAt(m_position);
        return std::nullopt;
    }

private:
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
        ++m_position;
        return true;
    }
    bool expectWord(const char *word) { return acceptWord(word) || fail(refuseAt(m_position)); }
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
            if (listed(lower, keywords) || isColumn(lower) || (searchedTable(lower) && next == Kind::Dot)
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

    bool condition(int depth)
    {
        if (!deeper(depth) || !conjunction(depth))
            return false;
        while (acceptWord("or")) {
            if (!conjunction(depth))
                return false;
        }
        return true;
    }

    bool conjunction(int depth)
    {
        if (!negation(depth))
            return false;
        while (acceptWord("and")) {
            if (!negation(depth))
                return false;
        }
        return true;
    }

    bool negation(int depth)
    {
        if (acceptWord("not"))
            return deeper(depth + 1) && negation(depth + 1);
        return predicate(depth);
    }

    bool predicate(int depth)
    {
        if (!sum(depth))
            return false;
        if (isOperator(comparisons)) {
            ++m_position;
            return sum(depth);
        }
        if (acceptWord("is")) {
            acceptWord("not");
            if (acceptWord("null") || acceptWord("true") || acceptWord("false"))
                return true;
            return fail(refuseAt(m_position));
        }
        const bool negated = acceptWord("not");
        if (acceptWord("like")) {
            if (!sum(depth))
                return false;
            if (acceptWord("escape"))
                return expect(Kind::String);
            return true;
        }
        if (acceptWord("between"))
            return sum(depth) && expectWord("and") && sum(depth);
        if (acceptWord("in"))
            return literalList();
        return !negated || fail(refuseAt(m_position));
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

    bool sum(int depth)
    {
        if (!product(depth))
            return false;
        while (peek().kind == Kind::Operator
               && (peek().text == QLatin1String("+") || peek().text == QLatin1String("-")
                   || peek().text == QLatin1String("||"))) {
            ++m_position;
            if (!product(depth))
                return false;
        }
        return true;
    }

    bool product(int depth)
    {
        if (!unary(depth))
            return false;
        while (peek().kind == Kind::Operator
               && (peek().text == QLatin1String("*") || peek().text == QLatin1String("/")
                   || peek().text == QLatin1String("%"))) {
            ++m_position;
            if (!unary(depth))
                return false;
        }
        return true;
    }

    bool unary(int depth)
    {
        if (peek().kind == Kind::Operator && (peek().text == QLatin1String("-") || peek().text == QLatin1String("+"))) {
            ++m_position;
            return deeper(depth + 1) && unary(depth + 1);
        }
        if (!value(depth))
            return false;
        while (peek().kind == Kind::Cast) {
            ++m_position;
            if (!type())
                return false;
        }
        return true;
    }

    bool type()
    {
        const Token &name = peek();
        if (name.kind != Kind::Word || !listed(name.lower(), plainTypes))
            return fail(name.kind == Kind::Word ? refusal(name.text, "A search condition cannot convert to \"%1\".")
                                                : refuseAt(m_position));
        ++m_position;
        if (name.lower() == QLatin1String("double"))
            return expectWord("precision");
        // A length or a precision and scale: varchar(20), numeric(10, 2).
        if (peek().kind == Kind::Open) {
            ++m_position;
            if (!expect(Kind::Number))
                return false;
            if (peek().kind == Kind::Comma) {
                ++m_position;
                if (!expect(Kind::Number))
                    return false;
            }
            return expect(Kind::Close);
        }
        return true;
    }

    bool value(int depth)
    {
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
            return condition(depth + 1) && expect(Kind::Close);
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
            return caseExpression(depth);
        if (lower == QLatin1String("cast")) {
            ++m_position;
            return expect(Kind::Open) && condition(depth + 1) && expectWord("as") && type() && expect(Kind::Close);
        }
        if (peek(1).kind == Kind::Open) {
            if (!listed(lower, functions))
                return fail(refuseAt(m_position));
            m_position += 2;
            if (peek().kind != Kind::Close) {
                do {
                    if (!condition(depth + 1))
                        return false;
                } while (peek().kind == Kind::Comma && ++m_position);
            }
            return expect(Kind::Close);
        }
        if (const Table *table = searchedTable(lower); table && peek(1).kind == Kind::Dot) {
            const Token &column = peek(2);
            if (column.kind != Kind::Word || !listed(column.lower(), table->columns))
                return fail(column.kind == Kind::Word
                                ? refusal(column.text, "The searched entries have no field \"%1\".")
                                : refuseAt(m_position + 2));
            m_position += 3;
            return true;
        }
        if (isColumn(lower) && peek(1).kind != Kind::Dot) {
            ++m_position;
            return true;
        }
        return fail(refuseAt(m_position));
    }

    bool caseExpression(int depth)
    {
        ++m_position;
        if (!isWord("when") && !condition(depth + 1))
            return false;
        if (!isWord("when"))
            return fail(refuseAt(m_position));
        while (acceptWord("when")) {
            if (!condition(depth + 1) || !expectWord("then") || !condition(depth + 1))
                return false;
        }
        if (acceptWord("else") && !condition(depth + 1))
            return false;
        return expectWord("end");
    }

    const QList<Token> &m_tokens;
    qsizetype m_position = 0;
    Refusal m_refusal;
};

} // namespace

std::optional<OVNExpertCondition::Refusal> OVNExpertCondition::check(const QString &condition)
{
    QList<Token> tokens;
    if (std::optional<Refusal> refused = tokenize(condition, tokens))
        return refused;
    if (std::optional<Refusal> refused = unbalancedParenthesis(tokens))
        return refused;
    return Parser(tokens).run();
}

QStringList OVNExpertCondition::columnsOf(const QString &table)
{
    QStringList columns;
    for (const Table &searched : searchedTables) {
        if (table == QLatin1String(searched.name)) {
            for (const char *column : searched.columns)
                columns.append(QLatin1String(column));
        }
    }
    return columns;
}
