// ovn-express CATALOG [--login LOGIN] [--in TITLE] [--time-limit S] [--rate N]
//             (--quick TAG:TEXT [AND|OR TAG:TEXT]... | --expert CLAUSE)
// Searches as the express panel's Search button does: the quick search's fields (TAG is a column
// tag 0 to 5 or its menu title: All, Displaytag, Keywords, Short Description, Full Description,
// Rating) or an expert condition, over the whole catalog or the search-in item TITLE, read-only,
// then only entries the catalog user may read. The catalog user is the account's own (its name in
// the system's user database, as in the program; never $USER), or with --login the one whose
// password is read as one line from standard input; an account the catalog does not let in is
// refused as the program refuses it, and reads nothing. Prints "found: N", then
// "MID<TAB>DISPLAYTAG" per entry (an entry left out for fields too large for the search is named
// on standard error, "left out: MESSAGE"); --time-limit takes at most 300 seconds; --rate N then rates every entry
// found as the panel's rating menu does and prints "rated: N", or, when the user may not change one of them, "refused:
// " and the program's privilege text, writing nothing. A refused search prints "refused: MESSAGE", a stopped one
// "stopped: MESSAGE"; both exit 1, as does a catalog that cannot be opened; 2 is a wrong command
// line. Control characters of the catalog's text are printed as \xHH.

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/CatalogNames.h"
#include "platform/HeapTuning.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QCoreApplication>
#include <QTextStream>

#include <chrono>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr const char *usageText =
    "usage: ovn-express CATALOG [--login LOGIN] [--in TITLE] [--time-limit S] [--rate N]\n"
    "                   (--quick TAG:TEXT [AND|OR TAG:TEXT]... | --expert CLAUSE)\n"
    "  TAG is a field of the express panel, by number or by name (any case): 0 All, 1 Displaytag,\n"
    "  2 Keywords, 3 Short Description, 4 Full Description, 5 Rating\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

int finish(const char *kind, const QString &message)
{
    std::printf("%s: %s\n", kind, ToolText::utf8(message).constData());
    return 1;
}

// A rating the catalog did not take, in the program's words; the server's own text goes to the log.
QString ratingFailed(const OVNDatabaseAccess &db)
{
    if (db.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return OVNCategoryAccess::unreachableTitle();
    qWarning("Rating failed: %s", qUtf8Printable(db.getLastErrorMessage()));
    return QStringLiteral("Rating Failed: The rating could not be written to the catalog; the entries keep their "
                          "rating.");
}

// A login with a password that did not hold: what a search needs of it.
QString loginFailedText()
{
    return QStringLiteral("Wrong login or password, or the user is in no group: a search needs the login and "
                          "password of a catalog user who belongs to a group.");
}

// A column tag by number or by its menu title (any case); -1 when it is neither.
int tagFor(const QString &text)
{
    if (const std::optional<qint64> tag =
            ToolNumber::parseInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()))
        return *tag >= 0 && *tag <= 5 ? int(*tag) : -1;
    for (const OVNExpress::TagItem &item : OVNExpress::tagMenu()) {
        if (item.tag >= 0 && text.compare(QLatin1String(item.title), Qt::CaseInsensitive) == 0)
            return item.tag;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText,
            {{"--quick", -1}, {"--login", 1}, {"--in", 1}, {"--time-limit", 1}, {"--rate", 1}, {"--expert", 1}}))
        return *end;
    HeapTuning::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString catalog = args.takeFirst();
    QString login;
    QString inTitle;
    double timeLimit = OVNExpressSearch::defaultTimeLimitMs / 1000.0;
    int rate = -1;
    bool quick = false;
    bool expert = false;
    QStringList quickWords;
    QString clause;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--quick")) {
            // The fields and their operators, up to the next option.
            quick = true;
            while (!args.isEmpty() && !args.first().startsWith(QLatin1String("--")))
                quickWords << args.takeFirst();
        } else if (args.isEmpty()) {
            return usage();
        } else if (option == QLatin1String("--login")) {
            login = args.takeFirst();
        } else if (option == QLatin1String("--in")) {
            inTitle = args.takeFirst();
        } else if (option == QLatin1String("--time-limit")) {
            // No member holds the shared server longer than any other search may.
            const std::optional<double> seconds = ToolNumber::real(
                "--time-limit", args.takeFirst(), 0.001, OVNDatabaseAccess::searchTimeLimitCeilingMs / 1000.0);
            if (!seconds)
                return 2;
            timeLimit = *seconds;
        } else if (option == QLatin1String("--rate")) {
            const std::optional<int> rating = ToolNumber::integer32("--rate", args.takeFirst(), 0, 5);
            if (!rating)
                return 2;
            rate = *rating;
        } else if (option == QLatin1String("--expert")) {
            expert = true;
            clause = args.takeFirst();
        } else {
            return usage();
        }
    }
    if (quick == expert)
        return usage();

    std::unique_ptr<OVNDatabaseAccess> db = ToolCatalog::open(catalog, ToolCatalog::Tables::AsTheyAre, "ovn-express");
    if (const QString failure = ToolCatalog::openFailure(*db, catalog); !failure.isEmpty())
        return finish("refused", failure);
    if (login.isEmpty()) {
        // As the program does: the account's own catalog user, without a password.
        if (const QString refusal = ToolCatalog::logIn(*db); !refusal.isEmpty())
            return finish("refused", refusal);
    } else {
        ToolAccount::logMessages();
        if (db->checkForUserManagerSetup()) {
            std::string password;
            std::getline(std::cin, password);
            if (!db->authenticateWebUser(login, QString::fromStdString(password)))
                return finish("refused", loginFailedText());
        }
    }

    // The search-in list is read only when a category is named.
    const std::vector<OVNExpressSearch::Catalog> catalogs =
        inTitle.isEmpty() ? std::vector<OVNExpressSearch::Catalog>{{QString(), QString(), {}}}
                          : OVNExpressSearch::catalogsOf(*db);
    int chosen = 0;
    if (!inTitle.isEmpty()) {
        chosen = -1;
        for (size_t i = 1; i < catalogs.size() && chosen < 0; ++i) {
            if (catalogs[i].title == inTitle)
                chosen = int(i);
        }
        if (chosen < 0)
            return finish("refused", QStringLiteral("No category \"%1\" can be searched in.").arg(inTitle));
    }
    const QStringList ids = catalogs[size_t(chosen)].ids;

    QString sql;
    QString refusal;
    std::optional<OVNExpress::ExpertSearch> expertSearch;
    std::optional<OVNExpress::QuickSearch> quickSearch;
    if (quick) {
        OVNExpress::QuickSearch &search = quickSearch.emplace();
        search.categoryIds = ids;
        search.restricted = chosen > 0;
        size_t field = 0;
        bool orJoin = false;
        for (int i = 0; i < quickWords.size(); ++i) {
            const QString &word = quickWords.at(i);
            if (i % 2 == 1) {
                if (word != QLatin1String("AND") && word != QLatin1String("OR"))
                    return usage();
                orJoin = word == QLatin1String("OR");
                continue;
            }
            const qsizetype colon = word.indexOf(QLatin1Char(':'));
            const int tag = colon > 0 ? tagFor(word.left(colon)) : -1;
            if (tag < 0 || field >= search.fields.size())
                return usage();
            search.fields[field++] = {word.mid(colon + 1), tag, orJoin};
        }
        if (quickWords.size() % 2 == 0)
            return usage();
        refusal = search.refusal();
    } else {
        // As the panel does: the condition is tested on entries the user may read only, and
        // first held to what the server may spend on the fields it names.
        expertSearch.emplace();
        expertSearch->clause = clause;
        expertSearch->categoryIds = ids;
        expertSearch->restricted = chosen > 0;
        refusal = expertSearch->refusal();
    }
    if (!refusal.isEmpty())
        return finish("refused", refusal);

    // The panel searches on a connection of its own so that its window stays free; here nothing
    // else waits, and the one connection holds the same catalog user.
    // Only what is printed and what rating needs is read into the entries.
    const std::uint32_t fields = (1u << MediaRecord::Mid) | (1u << MediaRecord::DisplayTag)
                                 | (1u << MediaRecord::CategoryId);
    using Status = OVNExpressSearch::Outcome::Status;
    // A search whose session the server ended is asked again on a new one.
    OVNExpressSearch::Outcome outcome;
    ToolCatalog::retried(*db, [&] {
        // Both held first to what the server may spend on the long fields they test.
        outcome = expertSearch ? OVNExpressSearch::runExpert(*db, *expertSearch, int(timeLimit * 1000), nullptr, fields)
                               : OVNExpressSearch::runQuick(*db, *quickSearch, int(timeLimit * 1000), nullptr, fields);
        return outcome.status != Status::Failed;
    });
    if (outcome.status == Status::Stopped || outcome.status == Status::TimedOut)
        return finish("stopped", outcome.message);
    if (outcome.status != Status::Found)
        return finish("refused", outcome.message);

    if (!outcome.leftOut.isEmpty())
        std::fprintf(stderr, "left out: %s\n", ToolText::utf8(outcome.leftOut).constData());
    std::printf("found: %lld\n", static_cast<long long>(outcome.records.size()));
    QByteArray lines;
    for (const MediaRecordRef &record : outcome.records) {
        lines += ToolText::utf8(record->field(MediaRecord::Mid));
        lines += '\t';
        lines += ToolText::utf8(record->field(MediaRecord::DisplayTag));
        lines += '\n';
    }
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
    if (rate < 0) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    // As the panel rates: every entry's own category must allow changes, else nothing is written.
    QStringList owners;
    for (const MediaRecordRef &record : outcome.records)
        owners.append(record->field(MediaRecord::CategoryId));
    QString ratingRefusal;
    if (!ToolCatalog::retried(*db, [&] {
            ratingRefusal = ToolAccount::refusal(*db, QStringLiteral("READ & WRITE"), owners);
            return true;
        }))
        return finish("refused", ToolAccount::failure(*db, QStringLiteral("cannot read the privileges")));
    if (!ratingRefusal.isEmpty())
        return finish("refused", ratingRefusal);
    // Then the ratings, in transactions of up to a few hundred entries, each asking again inside
    // itself, so that the answer holds until its ratings are in. A session the server ends
    // meanwhile takes its transaction with it: that one is made again on a new session, smaller
    // (setting a rating twice changes nothing), and the server is blamed only when it does not
    // answer, or keeps ending the sessions before anything is kept, for the time an import waits.
    constexpr qsizetype fullBatch = 250;
    qsizetype batchLimit = fullBatch;
    // When the batches began to fail; min() while they go (a plain value: GCC's optimiser warns
    // that an optional's value may be read uninitialised here).
    constexpr auto noTrouble = std::chrono::steady_clock::time_point::min();
    std::chrono::steady_clock::time_point troubleSince = noTrouble;
    const qsizetype total = qsizetype(outcome.records.size());
    for (qsizetype from = 0; from < total;) {
        const qsizetype to = std::min(total, from + batchLimit);
        const quint64 failures = db->failureCount();
        const bool kept = [&] {
            OVNDatabaseTransaction batch(*db);
            ratingRefusal = ToolAccount::refusal(*db, QStringLiteral("READ & WRITE"), owners.mid(from, to - from));
            if (!ratingRefusal.isEmpty())
                return false;
            for (qsizetype i = from; i < to; ++i) {
                if (!db->updateMediaListEntry(outcome.records.at(i)->field(MediaRecord::Mid), CatalogNames::keyRating,
                                              QString::number(rate), OVNDatabaseAccess::BareValue)) {
                    ratingRefusal = ratingFailed(*db);
                    return false;
                }
            }
            if (batch.isActive() && !batch.commit()) {
                ratingRefusal = ratingFailed(*db);
                return false;
            }
            return true;
        }();
        if (kept) {
            from = to;
            troubleSince = noTrouble;
            batchLimit = std::min(fullBatch, batchLimit * 2);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        const bool lost = OVNCatalogOpening::failedForLostServer(*db, failures);
        if (lost && troubleSince == noTrouble)
            troubleSince = now;
        if (!lost || now - troubleSince >= std::chrono::seconds(ToolCatalog::waitSeconds)
            || !OVNCatalogOpening::waitForServer(*db, ToolCatalog::waitSeconds, nullptr, ToolCatalog::sayStatus)) {
            if (lost)
                ratingRefusal = ToolAccount::failure(*db, QStringLiteral("the catalog server cannot be reached"));
            if (from > 0)
                std::printf("rated: %lld of %lld\n", static_cast<long long>(from), static_cast<long long>(total));
            return finish("refused", ratingRefusal);
        }
        batchLimit = std::max<qsizetype>(1, (to - from) / 2);
    }
    std::printf("rated: %lld\n", static_cast<long long>(outcome.records.size()));
    return 0;
}
