// ovn-users CATALOG [--login LOGIN] ACTION ARG...: the user manager's and the privileges window's
// operations from the command line, through the same code as the windows.
//
// CATALOG is a catalog file or postgresql://USER@HOST[:PORT]/DATABASE (the password from PGPASSWORD
// or ~/.pgpass). A password is read as one line from standard input, never from the command line.
//
// As in the program, a change of users, groups or memberships needs a login as a user in a group
// with "MANAGE USERS": LOGIN (this account's name without --login) and its password, read first;
// "password" then reads the new password. "grant" and "level" log in as the program does, as the
// catalog user whose login is this account's name in the system's user database, which must be in
// a group; "grant" then needs FULL ACCESS on the category, as the privileges window does. "level"
// of another login than this account's also needs the password of LOGIN, a user who may manage
// users; a member may ask his own level without one. The level of a category that is not there is
// refused ("no category ID"), as is a grant of a level that is none of the four, with their names.
// A catalog file that is not there is refused, never made.
// Questions are answered with their confirming button, but for the privileges window's warning
// that the grant takes FULL ACCESS away from the one who grants it (no administrator may be left
// to change the privileges again): that grant is refused with the window's words, unless --force
// is given. Prints one line: "ok: ...", "level: ..." or
// "refused: " and the alert's text (exit status 1); 2 on a wrong command line.

#include "app/OVNCategoryComment.h"
#include "app/OVNPrivilegeListEditor.h"
#include "app/OVNUserAdministration.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"
#include "platform/SystemInfo.h"

#include "ToolAccount.h"
#include "ToolCatalog.h"
#include "tools/common/ToolAlerts.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include <QHash>

#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>
#include <iostream>
#include <memory>
#include <string>

namespace {

// The answer of an attempt, printed once the action is over: an attempt that lost the server
// session on the way is made again, and only the last one's answer counts.
struct Answer {
    bool refused = false;
    QString text;
};
Answer answer;
// Whether an attempt has sent its change: an attempt after one that did may find it made.
bool sent = false;

int refuse(const QString &text)
{
    answer = {true, text};
    return 1;
}

// Takes the confirming (last) button and keeps the text of the last alert. The question whether to
// give up one's own full access is declined (the first button) unless `loseFullAccess` says go on.
class AnsweringPresenter : public AlertPresenter
{
public:
    int run(const Alert &alert) override
    {
        last = ToolAlerts::oneLine(alert);
        if (alert.message == OVNPrivilegeListEditor::losingFullAccessText() && !loseFullAccess) {
            declinedLosingFullAccess = true;
            return 0;
        }
        return alert.buttons.isEmpty() ? 0 : int(alert.buttons.size()) - 1;
    }
    QString last;
    bool loseFullAccess = false;
    bool declinedLosingFullAccess = false;
};

constexpr const char *usageText =
    "usage: ovn-users CATALOG [--login LOGIN] [--force] ACTION ARG...\n"
    "  first-run LOGIN NAME | login LOGIN | add-user LOGIN | password LOGIN\n"
    "  add-member LOGIN GROUP | remove-member LOGIN GROUP | delete-user LOGIN | delete-group GROUP\n"
    "  group-privileges GROUP [PRIVILEGE...] | grant CATEGORY-ID GROUP LEVEL | level CATEGORY-ID LOGIN\n"
    "A password is read as one line from standard input; a change of users, groups or\n"
    "memberships, and the level of another login, first read the password of LOGIN (a user who\n"
    "may manage users). A grant that would take FULL ACCESS on the category away from the one\n"
    "who grants it is refused, as the privileges window warns, unless --force is given.\n"
    "LEVEL is one of \"NO ACCESS\", \"READ ONLY\", \"READ & WRITE\", \"FULL ACCESS\".\n";

void usage() { std::fputs(usageText, stderr); }

std::unique_ptr<OVNDatabaseAccess> openCatalog(const QString &catalog)
{
    // A mistyped catalog file is refused, never made: the users of a catalog are set up in one that
    // exists. An empty server database gets the catalog's tables, as the program makes them there.
    return ToolCatalog::open(catalog, ToolCatalog::Tables::TablesOnServer, "ovn-users");
}

QString readPassword()
{
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

int ok(const QString &text)
{
    answer = {false, QStringLiteral("ok: ") + text};
    return 0;
}

// What a change made, in words: the names it was given, and a new user's id in the catalog.
QString userAdded(const QString &login, const QString &mid)
{
    return QStringLiteral("user %1 added (catalog id %2)").arg(login, mid);
}

QString groupPrivileges(const QString &group, const QStringList &privileges, bool made)
{
    QString listed;
    for (qsizetype i = 0; i < privileges.size(); ++i)
        listed += (i == 0                       ? QString()
                   : i + 1 == privileges.size() ? QStringLiteral(" and ")
                                                : QStringLiteral(", "))
                  + privileges.at(i);
    return QStringLiteral("group %1 %2 %3")
        .arg(group, made ? QStringLiteral("made; it has") : QStringLiteral("has"),
             listed.isEmpty() ? QStringLiteral("no privileges") : QStringLiteral("the privileges ") + listed);
}

QString memberAdded(const QString &login, const QString &group)
{
    return QStringLiteral("member: %1 is in the group %2").arg(login, group);
}

// The password read once, for every attempt.
QString readPasswordOnce(std::optional<QString> &kept)
{
    if (!kept)
        kept = readPassword();
    return *kept;
}

int act(OVNDatabaseAccess *connection, AnsweringPresenter &alerts, const QString &action, const QStringList &args,
        const QString &managerLogin, bool again, QHash<QString, QString> &chosenIds,
        std::vector<std::optional<QString>> &passwords);
// Why a change was given up after its tries through sessions that were lost, said once: the server
// full, there but ending every session, or not reached at all.
QString givenUpReason(OVNDatabaseAccess &connection);

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {{"--login", 1}, {"--force", 0}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        usage();
        return 2;
    }
    const QString catalog = args.takeFirst();
    const bool force = args.removeAll(QStringLiteral("--force")) > 0;
    if (args.isEmpty()) {
        usage();
        return 2;
    }
    QString managerLogin = SystemInfo::accountName();
    if (args.first() == QLatin1String("--login")) {
        if (args.size() < 3) {
            usage();
            return 2;
        }
        args.removeFirst();
        managerLogin = args.takeFirst();
    }
    const QString action = args.takeFirst();
    static const QMap<QString, int> arity{{"first-run", 2},   {"login", 1},        {"add-user", 1},
                                          {"password", 1},    {"add-member", 2},   {"remove-member", 2},
                                          {"delete-user", 1}, {"delete-group", 1}, {"group-privileges", -1},
                                          {"grant", 3},       {"level", 2}};
    const int wanted = arity.value(action, 0);
    if (wanted == 0 || (wanted > 0 && args.size() != wanted) || (wanted < 0 && args.isEmpty())) {
        usage();
        return 2;
    }

    std::unique_ptr<OVNDatabaseAccess> connection = openCatalog(catalog);
    if (const QString failure = ToolCatalog::openFailure(*connection, catalog); !failure.isEmpty())
        return ToolStart::refuse(failure);
    AnsweringPresenter alerts;
    alerts.loseFullAccess = force;
    QHash<QString, QString> chosenIds;
    std::vector<std::optional<QString>> passwords(2);
    // An attempt that lost the server session is made again once the server answers: the changes
    // are the same however often they are made (a new row keeps the id chosen for it), and an
    // attempt after one whose answer was lost finds its change made. The server is waited for as
    // at the opening, up to 30 seconds without an attempt that got through.
    // Before an attempt looks again, the lost session's server process has ended: a change it
    // still committed is seen, so that "saved" and "not saved" are said as the catalog holds them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ToolCatalog::waitSeconds);
    bool told = false;
    for (bool again = false;; again = true) {
        const quint64 failures = connection->failureCount();
        alerts.last.clear();
        answer = {};
        const int status = act(connection.get(), alerts, action, args, managerLogin, again, chosenIds, passwords);
        // An attempt that went through is done, also when a session was lost on its way (the change
        // itself goes on through ended sessions and says "saved" only when the catalog holds it).
        const bool lost = (status != 0 || answer.refused) && connection->failureCount() != failures
                          && OVNCatalogOpening::failedForLostServer(*connection, failures);
        if (!lost || !OVNCatalogOpening::resume(*connection, deadline, ToolCatalog::sayStatus, nullptr, &told)) {
            if (lost)
                return ToolStart::refuse(givenUpReason(*connection));
            if (answer.refused)
                return ToolStart::refuse(answer.text);
            std::printf("%s\n", ToolText::utf8(answer.text).constData());
            return status;
        }
    }
}

namespace {

QString givenUpReason(OVNDatabaseAccess &connection)
{
    if (connection.lastErrorServerFull())
        return connection.getLastErrorMessage();
    // A server that answers now was there all along, ending the sessions the change went through.
    if (OVNCatalogOpening::answers(connection))
        return localized("the catalog server ended every session before the change got through, for %1 seconds")
            .arg(ToolCatalog::waitSeconds);
    return localized("The catalog server cannot be reached.");
}

int act(OVNDatabaseAccess *connection, AnsweringPresenter &alerts, const QString &action, const QStringList &args,
        const QString &managerLogin, bool again, QHash<QString, QString> &chosenIds,
        std::vector<std::optional<QString>> &passwords)
{
    auto readPassword = [&passwords, index = size_t(0)]() mutable {
        return readPasswordOnce(passwords[std::min(index++, passwords.size() - 1)]);
    };
    const auto chosenId = [&](const QString &what) {
        if (!chosenIds.contains(what))
            chosenIds.insert(what, connection->createNewMID());
        return chosenIds.value(what);
    };
    OVNUserAdministration users(connection, alerts);

    if (action == QLatin1String("grant")) {
        // A level that is none of the four is refused before anything is asked or stored: the
        // privilege list would read it as NO ACCESS.
        const QStringList levels{OVNPrivilegeLevel::noAccess(), OVNPrivilegeLevel::readOnly(),
                                 OVNPrivilegeLevel::readWrite(), OVNPrivilegeLevel::fullAccess()};
        if (!levels.contains(args.at(2)))
            return refuse(QStringLiteral("no level is named \"%1\"; the levels are \"%2\"")
                              .arg(args.at(2), levels.join(QStringLiteral("\", \""))));
    }
    if (action == QLatin1String("grant") || action == QLatin1String("level")) {
        // Both ask about categories as the account's own catalog user: as the program refuses it at
        // start-up, an account that is no catalog user, or is in no group, reads and changes nothing.
        if (const QString refusal = ToolAccount::logIn(*connection); !refusal.isEmpty())
            return refuse(refusal);
        if (action == QLatin1String("level")) {
            // A member may ask his own level; another user's is for someone who may manage users,
            // logged in with his password, as the User Manager shows users only after that login.
            if (connection->useAuthentication() && args.at(1) != SystemInfo::accountName()
                && (users.open() != OVNUserAdministration::Opening::Login
                    || !users.login(managerLogin, readPassword())))
                return refuse(OVNUserAdministration::loginFailedText());
            // A level of a category that is not there would read as the level of the whole catalog.
            if (!connection->getCategoryForMID(args.at(0)))
                return refuse(QStringLiteral("no category ") + args.at(0));
            connection->checkForUserManagerSetup();
            connection->authenticateUser(args.at(1));
            answer = {false, QStringLiteral("level: ") + connection->getCategoryAccessPrivilegesForMID(args.at(0))};
            return 0;
        }
        // An attempt after one whose answer was lost looks first whether the grant is stored: a
        // grant may take away the very level it was made with.
        if (again && sent) {
            const quint64 before = connection->failureCount();
            const std::optional<QString> comment = connection->getCategoryCommentForMID(args.at(0));
            const QVariantMap group = users.groupNamed(args.at(1));
            const QString level = OVNPrivilegeListEditor::levelForIndex(OVNPrivilegeListEditor::levelIndex(args.at(2)));
            if (comment && !group.isEmpty() && connection->failureCount() == before)
                for (const QVariant &entry :
                     OVNCategoryComment::dictionary(*comment).value(QStringLiteral("PRIVILEGES")).toList())
                    if (entry.toMap().value(QStringLiteral("mid")) == group.value(CatalogNames::keyMid)
                        && entry.toMap().value(QStringLiteral("privilege")).toString() == level)
                        return ok(QStringLiteral("%1 has %2").arg(args.at(1), level));
        }
        // As the catalog window opens the privileges window: with full access to the category.
        if (const QString refusal = ToolAccount::refusal(*connection, QStringLiteral("FULL ACCESS"), {args.at(0)});
            !refusal.isEmpty())
            return refuse(refusal);
        OVNPrivilegeListEditor editor(connection, alerts);
        if (!editor.open(args.at(0)))
            return refuse(alerts.last);
        const QVariantMap group = users.groupNamed(args.at(1));
        if (group.isEmpty())
            return refuse(QStringLiteral("no group is named ") + args.at(1));
        const QString groupMid = group.value(CatalogNames::keyMid).toString();
        if (editor.rowForGroup(groupMid) < 0 && !editor.addGroup(groupMid, args.at(1)))
            return refuse(alerts.last);
        editor.setLevel(editor.rowForGroup(groupMid), OVNPrivilegeListEditor::levelIndex(args.at(2)));
        sent = true;
        if (!editor.save()) {
            if (alerts.declinedLosingFullAccess)
                return refuse(alerts.last + QStringLiteral(" (--force saves them anyway)"));
            return refuse(alerts.last.isEmpty() ? QStringLiteral("not saved") : alerts.last);
        }
        return ok(QStringLiteral("%1 has %2")
                      .arg(args.at(1),
                           OVNPrivilegeListEditor::levelForIndex(OVNPrivilegeListEditor::levelIndex(args.at(2)))));
    }

    const OVNUserAdministration::Opening opening = users.open();
    if (opening == OVNUserAdministration::Opening::Refused)
        return refuse(alerts.last);
    if (action == QLatin1String("first-run")) {
        // The tables and their first users are made in one transaction: set up now, after an
        // attempt whose answer was lost, with that administrator, means it was made.
        if (opening == OVNUserAdministration::Opening::Login && again && sent
            && !users.userForLogin(args.at(0)).isEmpty())
            return ok(QStringLiteral("user management set up"));
        if (opening != OVNUserAdministration::Opening::FirstRun)
            return refuse(QStringLiteral("user management is already set up"));
        sent = true;
        return users.firstRun(args.at(1), args.at(0), readPassword()) ? ok(QStringLiteral("user management set up"))
                                                                      : refuse(alerts.last);
    }
    if (opening != OVNUserAdministration::Opening::Login)
        return refuse(QStringLiteral("user management is not set up"));
    if (action == QLatin1String("login"))
        return users.login(args.at(0), readPassword()) ? ok(QStringLiteral("logged in"))
                                                       : refuse(OVNUserAdministration::loginFailedText());
    // Every other action changes users, groups or memberships: as the User Manager, only after a
    // login as a user who may manage users.
    if (!users.login(managerLogin, readPassword()))
        return refuse(OVNUserAdministration::loginFailedText());
    if (action == QLatin1String("add-user")) {
        if (again && sent && users.userForLogin(args.at(0)).value(CatalogNames::keyMid).toString() == chosenId("user"))
            return ok(userAdded(args.at(0), chosenId("user")));
        sent = true;
        const QString mid = users.addUser(args.at(0), chosenId("user"));
        return mid.isEmpty() ? refuse(alerts.last) : ok(userAdded(args.at(0), mid));
    }
    if (action == QLatin1String("delete-group") || action == QLatin1String("group-privileges")) {
        const QVariantMap group = users.groupNamed(args.at(0));
        if (group.isEmpty()) {
            if (action == QLatin1String("delete-group"))
                return again && sent ? ok(QStringLiteral("deleted"))
                                     : refuse(QStringLiteral("no group is named ") + args.at(0));
            // Setting privileges of a group that does not exist yet makes it, with them, in one
            // step: a refusal keeps nothing, and a try after a lost answer finds its own row.
            sent = true;
            const QString mid = users.addGroup(args.at(0), chosenId("group"), args.mid(1));
            return mid.isEmpty() ? refuse(alerts.last) : ok(groupPrivileges(args.at(0), args.mid(1), true));
        }
        const QString mid = group.value(CatalogNames::keyMid).toString();
        sent = true;
        if (action == QLatin1String("delete-group"))
            return users.deleteGroup(mid) ? ok(QStringLiteral("deleted")) : refuse(alerts.last);
        return users.setGroupPrivileges(mid, args.mid(1)) ? ok(groupPrivileges(args.at(0), args.mid(1), false))
                                                          : refuse(alerts.last);
    }

    const QVariantMap user = users.userForLogin(args.at(0));
    if (user.isEmpty())
        return action == QLatin1String("delete-user") && again && sent
                   ? ok(QStringLiteral("deleted"))
                   : refuse(QStringLiteral("no user has the login ") + args.at(0));
    const QString userMid = user.value(CatalogNames::keyMid).toString();
    if (action == QLatin1String("password")) {
        const QString password = readPassword();
        sent = true;
        return users.setPassword(userMid, password, password) ? ok(QStringLiteral("password set"))
                                                              : refuse(alerts.last);
    }
    if (action == QLatin1String("delete-user") && (sent = true))
        return users.deleteUser(userMid) ? ok(QStringLiteral("deleted")) : refuse(alerts.last);

    const QVariantMap group = users.groupNamed(args.at(1));
    if (group.isEmpty())
        return refuse(QStringLiteral("no group is named ") + args.at(1));
    const QString groupMid = group.value(CatalogNames::keyMid).toString();
    if (action == QLatin1String("add-member")) {
        if (again && sent)
            for (const QVariantMap &member : users.members(groupMid))
                if (member.value(CatalogNames::keyMid).toString() == chosenId("member"))
                    return ok(memberAdded(args.at(0), args.at(1)));
        sent = true;
        const QString mid = users.addMember(userMid, groupMid, chosenId("member"));
        return mid.isEmpty() ? refuse(alerts.last) : ok(memberAdded(args.at(0), args.at(1)));
    }
    for (const QVariantMap &member : users.members(groupMid))
        if (member.value(QStringLiteral("usermid")).toString() == userMid && (sent = true))
            return users.removeMember(member.value(CatalogNames::keyMid).toString()) ? ok(QStringLiteral("removed"))
                                                                                     : refuse(alerts.last);
    if (again && sent)
        return ok(QStringLiteral("removed"));
    return refuse(args.at(0) + QStringLiteral(" is not a member of ") + args.at(1));
}

} // namespace
