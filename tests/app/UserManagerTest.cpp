// The user manager and the privileges window on a server catalog: first run, login, the lock-out
// guard, unique logins and the category comment they write.

#include "../catalogdb/CatalogFixture.h"
#include "app/OVNAccessPrivileges.h"
#include "app/OVNCategoryComment.h"
#include "app/OVNPrivilegeListEditor.h"
#include "app/OVNUserAdministration.h"
#include "app/OVNUserManager.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/PropertyList.h"
#include "platform/SystemInfo.h"
#include "../support/RefusingTrigger.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "../support/ScriptedAlertPresenter.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class UserManagerTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        alerts = ScriptedAlertPresenter::install();
    }

    // First run as jdoe (Jane Doe) with the password "secret1".
    void setUpUsers(OVNUserAdministration &admin)
    {
        ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::FirstRun);
        ASSERT_TRUE(admin.firstRun("Jane Doe", "jdoe", "secret1"));
        ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::Login);
    }
    QString lastAlert() const { return alerts->shown().isEmpty() ? QString() : alerts->shown().last().message; }
    QString membershipOf(OVNUserAdministration &admin, const QString &login, const QString &group)
    {
        for (const QVariantMap &member : admin.members(admin.groupNamed(group).value("mid").toString()))
            if (member.value("login") == login)
                return member.value("mid").toString();
        return QString();
    }

    ScriptedAlertPresenter *alerts = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Server, UserManagerTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(UserManagerTest, FirstRunMakesTheAdministratorWhoAloneMayLogIn)
{
    OVNUserAdministration admin(&db, *alerts);
    ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::FirstRun);
    EXPECT_FALSE(admin.firstRun("Jane Doe", "jdoe", ""));
    EXPECT_FALSE(db.relationExists("strvusers"));
    setUpUsers(admin);
    EXPECT_FALSE(membershipOf(admin, "jdoe", "Admin").isEmpty());
    EXPECT_FALSE(membershipOf(admin, "anonymous", "Anonymous").isEmpty());
    EXPECT_EQ(admin.userForLogin("jdoe").value("name"), "Jane Doe");

    const QString bob = admin.addUser("bob");
    ASSERT_FALSE(bob.isEmpty());
    ASSERT_TRUE(admin.setPassword(bob, "bobpw", "bobpw"));
    const struct {
        const char *login, *password;
        bool granted;
    } cases[] = {{"jdoe", "secret1", true}, {"jdoe", "wrong", false}, {"jdoe", "", false},
                 {"bob", "bobpw", false},   {"anonymous", "", false}, {"nobody", "secret1", false}};
    for (const auto &c : cases)
        EXPECT_EQ(admin.login(c.login, c.password), c.granted) << c.login << " / " << c.password;
    EXPECT_FALSE(admin.setPassword(bob, "", ""));
    EXPECT_EQ(lastAlert(), "A password is needed");
    EXPECT_FALSE(admin.setPassword(bob, "a", "b"));
}

TEST_P(UserManagerTest, AnIntegratedCatalogOrNoConnectionIsRefused)
{
    OVNDatabaseAccess local;
    local.setConnectionDetails("Integrated", QString(), QString(), QString(), m_dir.filePath("local.sqlite"));
    ASSERT_TRUE(local.openDBConnection());
    const struct {
        OVNDatabaseAccess *connection;
        const char *alert;
    } cases[] = {{&local, "Local database not supported"}, {nullptr, "No database connection"}};
    for (const auto &c : cases) {
        OVNUserAdministration admin(c.connection, *alerts);
        EXPECT_EQ(admin.open(), OVNUserAdministration::Opening::Refused);
        EXPECT_EQ(lastAlert(), c.alert);
        OVNPrivilegeListEditor editor(c.connection, *alerts);
        EXPECT_FALSE(editor.open("some-category"));
        EXPECT_EQ(lastAlert(), c.alert);
    }
}

TEST_P(UserManagerTest, FirstRunIsUndoneWhenATableCannotBeMade)
{
    // A type of that name keeps the last table from being created.
    ASSERT_TRUE(db.runSQLCommand("create type strvgroupusers as enum ('x')"));
    OVNUserAdministration admin(&db, *alerts);
    ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::FirstRun);
    EXPECT_FALSE(admin.firstRun("Jane Doe", "jdoe", "secret1"));
    EXPECT_EQ(lastAlert(), "Could not create User Manager tables");
    EXPECT_FALSE(db.relationExists("strvusers"));
    EXPECT_FALSE(db.relationExists("strvgroups"));
    EXPECT_EQ(admin.open(), OVNUserAdministration::Opening::FirstRun);
}

TEST_P(UserManagerTest, NothingLocksEveryoneOutAndLoginsStayUnique)
{
    OVNUserAdministration admin(&db, *alerts);
    setUpUsers(admin);
    const QString jdoe = admin.userForLogin("jdoe").value("mid").toString();
    const QString adminGroup = admin.groupNamed("Admin").value("mid").toString();
    const QString bob = admin.addUser("bob");
    ASSERT_FALSE(admin.addMember(bob, adminGroup).isEmpty()); // without a password bob does not count

    const struct {
        const char *what;
        std::function<bool()> write;
    } lockOuts[] = {
        {"delete user", [&] { return admin.deleteUser(jdoe); }},
        {"delete group", [&] { return admin.deleteGroup(adminGroup); }},
        {"remove member", [&] { return admin.removeMember(membershipOf(admin, "jdoe", "Admin")); }},
        {"clear MANAGE USERS", [&] { return admin.setGroupPrivileges(adminGroup, {"WEB ACCESS"}); }},
    };
    for (const auto &c : lockOuts) {
        EXPECT_FALSE(c.write()) << c.what;
        EXPECT_EQ(lastAlert(), "Nobody could manage users any more") << c.what;
        EXPECT_TRUE(admin.login("jdoe", "secret1")) << c.what;
    }
    EXPECT_EQ(db.transactionDepth(), 0);

    const struct {
        const char *what;
        std::function<bool()> write;
        const char *alert;
    } refusals[] = {
        {"duplicate login", [&] { return !admin.addUser("jdoe").isEmpty(); }, "Login already in use"},
        {"login taken", [&] { return admin.setLogin(bob, "jdoe"); }, "Login already in use"},
        {"blank login", [&] { return admin.setLogin(bob, " "); }, "A login is needed"},
        {"blank name", [&] { return !admin.addGroup("  ").isEmpty(); }, "A name is needed"},
        {"member twice", [&] { return !admin.addMember(bob, adminGroup).isEmpty(); },
         "User is already member of Group"},
    };
    for (const auto &c : refusals) {
        EXPECT_FALSE(c.write()) << c.what;
        EXPECT_EQ(lastAlert(), c.alert) << c.what;
    }
    EXPECT_EQ(admin.userForLogin("bob").value("login"), "bob");

    // Once bob has a password, jdoe may go.
    ASSERT_TRUE(admin.setPassword(bob, "bobpw", "bobpw"));
    EXPECT_TRUE(admin.deleteUser(jdoe));
    EXPECT_TRUE(admin.login("bob", "bobpw"));
}

TEST_P(UserManagerTest, PrivilegesReplaceOnlyTheirKeyAndAskBeforeLockingOneselfOut)
{
    OVNUserAdministration admin(&db, *alerts);
    setUpUsers(admin);
    const QString adminGroup = admin.groupNamed("Admin").value("mid").toString();
    const QString staff = admin.addGroup("Staff");
    const QString folder = db.addCategoryListEntry("Shots", "M");
    ASSERT_TRUE(db.updateCategoryListComment(
        folder, OVNCategoryComment::textForm({{"SURVEILLANCEFOLDER", "/Volumes/Archive/Shots"}})));

    std::unique_ptr<OVNDatabaseAccess> mine = openAnother();
    mine->checkForUserManagerSetup();
    ASSERT_TRUE(mine->authenticateUser("jdoe"));
    OVNPrivilegeListEditor editor(mine.get(), *alerts);
    ASSERT_TRUE(editor.open(folder));
    EXPECT_EQ(editor.message(), "No Privileges - Everyone has full access.");
    ASSERT_TRUE(editor.addGroup(adminGroup, "Admin"));
    EXPECT_FALSE(editor.addGroup(adminGroup, "Renamed"));
    EXPECT_EQ(lastAlert(), "Group is already part of privilege list");
    ASSERT_TRUE(editor.addGroup(staff, "Staff"));
    editor.setLevel(1, 7);
    EXPECT_EQ(editor.entries().at(1).toMap().value("privilege"), "NO ACCESS");

    // Another client adds a smart folder's keys meanwhile; they stay.
    QVariantMap other = OVNCategoryComment::dictionary(*db.getCategoryCommentForMID(folder));
    other.insert("CATALOG", "Database");
    other.insert("LINES", QVariantList{});
    ASSERT_TRUE(db.updateCategoryListComment(folder, OVNCategoryComment::textForm(other)));
    ASSERT_TRUE(editor.save());
    const QString stored = *db.getCategoryCommentForMID(folder);
    EXPECT_TRUE(stored.startsWith("<?xml"));
    const QVariantMap comment = OVNCategoryComment::dictionary(stored);
    EXPECT_EQ(comment.value("SURVEILLANCEFOLDER"), "/Volumes/Archive/Shots");
    EXPECT_TRUE(comment.contains("CATALOG") && comment.contains("LINES"));
    EXPECT_EQ(comment.value("PRIVILEGES").toList().size(), 2);
    EXPECT_EQ(mine->getCategoryAccessPrivilegesForMID(folder), "FULL ACCESS");

    // A list naming none of jdoe's groups, or an unknown level, leaves jdoe without access: the
    // list is then no longer jdoe's to see or change.
    const struct {
        QVariantList list;
    } lists[] = {
        {{QVariantMap{{"group", "Staff"}, {"mid", staff}, {"privilege", "FULL ACCESS"}}}},
        {{QVariantMap{{"group", "Admin"}, {"mid", adminGroup}, {"privilege", "SUPERUSER"}}}},
    };
    for (const auto &[list] : lists) {
        ASSERT_TRUE(db.updateCategoryListComment(folder, OVNCategoryComment::withPrivileges(stored, list)));
        EXPECT_EQ(mine->getCategoryAccessPrivilegesForMID(folder), "NO ACCESS");
        EXPECT_FALSE(editor.open(folder));
        EXPECT_EQ(lastAlert(), "Authorization Failed");
    }
    // Giving away one's own full access is asked first.
    const QVariantList adminFull{QVariantMap{{"group", "Admin"}, {"mid", adminGroup}, {"privilege", "FULL ACCESS"}}};
    ASSERT_TRUE(db.updateCategoryListComment(folder, OVNCategoryComment::withPrivileges(stored, adminFull)));
    ASSERT_TRUE(editor.open(folder));
    editor.setLevel(0, 3);
    alerts->enqueueAnswers({0});
    EXPECT_FALSE(editor.save());
    alerts->enqueueAnswers({1});
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(mine->getCategoryAccessPrivilegesForMID(folder), "NO ACCESS");

    // A refused write keeps the edits for another try.
    ASSERT_TRUE(db.updateCategoryListComment(folder, OVNCategoryComment::withPrivileges(stored, adminFull)));
    ASSERT_TRUE(editor.open(folder));
    editor.removeEntry(0);
    ASSERT_TRUE(addRefusingTrigger(db, "strvcategory", "update", "true"));
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(lastAlert(), "The privileges were not saved");
    EXPECT_TRUE(editor.entries().isEmpty() && editor.hasList());
    ASSERT_TRUE(db.runSQLCommand("drop trigger refuse_strvcategory_update on strvcategory"));
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(OVNCategoryComment::dictionary(*db.getCategoryCommentForMID(folder)).value("PRIVILEGES").toList(),
              QVariantList());
}

TEST_P(UserManagerTest, WindowRunsFirstRunLoginAndAnEditThroughItsSheets)
{
    auto *manager = new OVNUserManager(openAnother());
    // Fills the password field of each sheet that comes up and presses OK.
    QStringList passwords{"secret1", "wrong", "secret1"};
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QDialog *sheet = manager->currentSheet();
        if (!sheet || passwords.isEmpty())
            return;
        auto *password = sheet->findChild<QLineEdit *>("password");
        ASSERT_TRUE(password);
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        password->setText(passwords.takeFirst());
        sheet->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    answerer.start(10);
    ASSERT_TRUE(manager->start());
    EXPECT_TRUE(passwords.isEmpty());
    OVNUserAdministration admin(&db, *alerts);
    EXPECT_TRUE(admin.login(SystemInfo::accountName(), "secret1"));

    QTableWidget *groups = manager->groupTable();
    ASSERT_EQ(groups->rowCount(), 2);
    groups->selectRow(0); // "Admin"
    ASSERT_TRUE(manager->manageUsersBox()->isChecked());
    manager->manageUsersBox()->click();
    EXPECT_EQ(lastAlert(), "Nobody could manage users any more");
    EXPECT_TRUE(manager->manageUsersBox()->isChecked());

    // Return in the login field stores the login; it presses no button (as "Add" of the groups,
    // which would open the sheet that makes a group).
    QTableWidget *users = manager->userTable();
    ASSERT_GE(users->rowCount(), 1);
    users->selectRow(0);
    auto *login = manager->findChild<QLineEdit *>("login");
    ASSERT_TRUE(login);
    login->setFocus();
    login->selectAll();
    QTest::keyClicks(login, "ann.e");
    QStringList sheetsSeen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QDialog *sheet = manager->currentSheet()) {
            sheetsSeen.append(sheet->windowTitle());
            sheet->reject();
        }
    });
    watcher.start(10);
    QTest::keyClick(login, Qt::Key_Return);
    EXPECT_TRUE(sheetsSeen.isEmpty()) << qPrintable(sheetsSeen.join(", "));
    EXPECT_EQ(groups->rowCount(), 2);
    const QString mid = users->item(0, 0)->data(Qt::UserRole).toString();
    EXPECT_EQ(db.rowsForQuery("select login from strvusers where mid=$1", {mid}).value(0).value(0).toString(), "ann.e");
    manager->close();
}

} // namespace

// The window's changes through a session that ends before the write and with the answer lost
// (a single statement's, or the commit's of a guarded change): each is made once, said as saved,
// and no "The change was not saved" is shown.
TEST_P(UserManagerTest, ChangesThroughEndedSessionsAreSavedOnceAndSaidSo)
{
    {
        OVNUserAdministration first(&db, *alerts);
        setUpUsers(first);
    }
    const PgTestServer server = *pgTestServer();
    enum class Change { RenameUser, RemoveMember, DeleteUser, AddUser, AddGroup, AddMember };
    const struct {
        const char *name;
        Change change;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"rename, the write cut", Change::RenameUser, "update strvusers", SessionCutProxy::How::Dropped},
        {"rename, the answer lost", Change::RenameUser, "update strvusers", SessionCutProxy::How::AnswerLost},
        {"remove member, the write cut", Change::RemoveMember, "delete from strvgroupusers",
         SessionCutProxy::How::Dropped},
        {"remove member, the commit's answer lost", Change::RemoveMember, "COMMIT", SessionCutProxy::How::AnswerLost},
        {"delete user, the commit's answer lost", Change::DeleteUser, "COMMIT", SessionCutProxy::How::AnswerLost},
        {"add user, the write cut", Change::AddUser, "insert into strvusers", SessionCutProxy::How::Dropped},
        {"add user, the answer lost", Change::AddUser, "insert into strvusers", SessionCutProxy::How::AnswerLost},
        {"add group, the write cut", Change::AddGroup, "insert into strvgroups", SessionCutProxy::How::Dropped},
        {"add group, the answer lost", Change::AddGroup, "insert into strvgroups", SessionCutProxy::How::AnswerLost},
        {"add member, the write cut", Change::AddMember, "insert into strvgroupusers", SessionCutProxy::How::Dropped},
        {"add member, the answer lost", Change::AddMember, "insert into strvgroupusers",
         SessionCutProxy::How::AnswerLost},
    };
    int round = 0;
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        OVNUserAdministration admin(&through, *alerts);
        ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::Login);
        ASSERT_TRUE(admin.login("jdoe", "secret1"));
        const QString login = QStringLiteral("user%1").arg(++round);
        const QString user = admin.addUser(login);
        ASSERT_FALSE(user.isEmpty());
        const QString group = admin.groupNamed("Admin").value("mid").toString();
        ASSERT_FALSE(admin.addMember(user, group).isEmpty());
        const QString added = QStringLiteral("added%1").arg(round);
        const QString other = c.change == Change::AddMember ? admin.addGroup(added) : QString();
        const QString mid = admin.newRowId();
        const auto count = [&](const char *sql, const QVariantList &values) {
            return db.rowsForQuery(QString::fromLatin1(sql), values).value(0).value(0).toInt();
        };
        const qsizetype said = alerts->shown().size();
        proxy.cutAt(c.statement, 1, c.how);
        switch (c.change) {
        case Change::AddUser:
            EXPECT_TRUE(admin.throughEndedSessions([&] { return !admin.addUser(added, mid).isEmpty(); },
                                                   [&] { return admin.userMade(mid, added); }));
            EXPECT_EQ(count("select count(*) from strvusers where login=$1", {added}), 1);
            break;
        case Change::AddGroup:
            EXPECT_TRUE(admin.throughEndedSessions([&] { return !admin.addGroup(added, mid).isEmpty(); },
                                                   [&] { return admin.groupMade(mid, added); }));
            EXPECT_EQ(count("select count(*) from strvgroups where name=$1", {added}), 1);
            break;
        case Change::AddMember:
            EXPECT_TRUE(admin.throughEndedSessions([&] { return !admin.addMember(user, other, mid).isEmpty(); },
                                                   [&] { return admin.membershipMade(other, mid, user); }));
            EXPECT_EQ(count("select count(*) from strvgroupusers where groupmid=$1 and usermid=$2", {other, user}), 1);
            break;
        case Change::RenameUser:
            EXPECT_TRUE(admin.throughEndedSessions([&] { return admin.renameUser(user, "Renamed"); }));
            EXPECT_EQ(db.rowsForQuery("select name from strvusers where mid=$1", {user}).value(0).value(0), "Renamed");
            break;
        case Change::RemoveMember: {
            const QString membership = membershipOf(admin, login, "Admin");
            EXPECT_TRUE(admin.throughEndedSessions([&] { return admin.removeMember(membership); },
                                                   [&] { return admin.membershipGone(group, membership); }));
            EXPECT_TRUE(db.rowsForQuery("select mid from strvgroupusers where mid=$1", {membership}).isEmpty());
            break;
        }
        case Change::DeleteUser:
            EXPECT_TRUE(admin.throughEndedSessions([&] { return admin.deleteUser(user); },
                                                   [&] { return admin.userGone(user); }));
            EXPECT_TRUE(db.rowsForQuery("select mid from strvusers where mid=$1", {user}).isEmpty());
            break;
        }
        EXPECT_EQ(alerts->shown().size(), said) << qPrintable(lastAlert());
    }
}

// The User Manager's rename and member list and the privileges window's save, made while the
// server is away (it goes at the write or read and comes back two seconds later): each window says
// "Waiting for the catalog server..." where its user sees it, stores the change or shows the
// members once the server answers, shows no alert, and says no more of the wait afterwards.
TEST_P(UserManagerTest, TheWindowsSayTheyWaitForTheServerAndThenStore)
{
    {
        OVNUserAdministration first(&db, *alerts);
        setUpUsers(first);
        // A second group with the same member and no privileges, to be selected after "Admin".
        ASSERT_TRUE(first.login("jdoe", "secret1"));
        const QString plain = first.addGroup("Plain");
        ASSERT_FALSE(first.addMember(first.userForLogin("jdoe").value("mid").toString(), plain).isEmpty());
    }
    const QString adminGroup = OVNUserAdministration(&db, *alerts).groupNamed("Admin").value("mid").toString();
    const QString folder = db.addCategoryListEntry("Shots", "C");
    const PgTestServer server = *pgTestServer();
    enum class Road { Rename, Members, Privileges };
    const struct {
        const char *name;
        Road road;
        const char *statement;
    } cuts[] = {
        {"the User Manager's rename", Road::Rename, "update strvusers"},
        {"the User Manager's member list", Road::Members, "from strvgroupusers mgu"},
        {"the privileges window's save", Road::Privileges, "update strvcategory set comment"},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        auto through = std::make_unique<OVNDatabaseAccess>();
        through->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                      server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through->openDBConnection());
        QStringList said;
        const qsizetype alerted = alerts->shown().size();
        // The server comes back two seconds after it went away.
        std::atomic<bool> over{false};
        std::thread restart([&] {
            while (!over && !proxy.isDown())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (over)
                return;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            proxy.comeBack();
        });
        const auto joined = qScopeGuard([&] {
            over = true;
            restart.join();
        });
        if (c.road == Road::Privileges) {
            through->checkForUserManagerSetup();
            ASSERT_TRUE(through->authenticateUser("jdoe"));
            QPointer<OVNAccessPrivileges> window = new OVNAccessPrivileges(std::move(through));
            QObject::connect(window, &OVNAccessPrivileges::statusShown, window,
                             [&said](const QString &text) { said.append(text); });
            ASSERT_TRUE(window->start(folder));
            const QString before = window->message();
            window->addGroup(adminGroup, "Admin");
            proxy.cutAt(c.statement, 1, SessionCutProxy::How::Down);
            window->close();
            EXPECT_TRUE(window.isNull() || !window->isVisible());
            const QVariantList stored =
                OVNCategoryComment::dictionary(*db.getCategoryCommentForMID(folder)).value("PRIVILEGES").toList();
            ASSERT_EQ(stored.size(), 1);
            EXPECT_EQ(stored.first().toMap().value("mid"), adminGroup);
            if (window) {
                EXPECT_FALSE(window->message().contains(OVNCatalogOpening::waitingText()));
            }
            delete window.data();
        } else {
            auto *manager = new OVNUserManager(std::move(through));
            // What the group panel shows while the window waits: nothing of the group before.
            QStringList shownWhileWaiting;
            QObject::connect(manager, &OVNUserManager::statusShown, manager, [&](const QString &text) {
                said.append(text);
                if (text == OVNCatalogOpening::waitingText())
                    shownWhileWaiting << QStringLiteral("%1 members, manage users %2 %3")
                                             .arg(manager->memberTable()->rowCount())
                                             .arg(manager->manageUsersBox()->isChecked() ? "checked" : "unchecked")
                                             .arg(manager->manageUsersBox()->isEnabled() ? "enabled" : "disabled");
            });
            QTimer answerer;
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                QDialog *sheet = manager->currentSheet();
                if (!sheet)
                    return;
                sheet->findChild<QLineEdit *>("login")->setText("jdoe");
                sheet->findChild<QLineEdit *>("password")->setText("secret1");
                sheet->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            });
            answerer.start(10);
            ASSERT_TRUE(manager->start());
            answerer.stop();
            QTableWidget *users = manager->userTable();
            ASSERT_GE(users->rowCount(), 1);
            const QString user = users->item(0, 0)->data(Qt::UserRole).toString();
            QTableWidget *groups = manager->groupTable();
            const auto select = [groups](const QString &name) {
                for (int row = 0; row < groups->rowCount(); ++row) {
                    if (groups->item(row, 0)->text() == name)
                        groups->selectRow(row);
                }
            };
            if (c.road == Road::Members) {
                select("Admin");
                ASSERT_TRUE(manager->manageUsersBox()->isChecked());
            }
            proxy.cutAt(c.statement, 1, SessionCutProxy::How::Down);
            if (c.road == Road::Members) {
                select("Plain");
                EXPECT_EQ(manager->memberTable()->rowCount(), 1);
                EXPECT_FALSE(manager->manageUsersBox()->isChecked());
                EXPECT_TRUE(manager->manageUsersBox()->isEnabled());
                EXPECT_FALSE(shownWhileWaiting.isEmpty());
                for (const QString &shown : std::as_const(shownWhileWaiting))
                    EXPECT_EQ(shown, "0 members, manage users unchecked disabled");
            } else {
                users->item(0, 0)->setText("Renamed while away");
                EXPECT_EQ(db.rowsForQuery("select name from strvusers where mid=$1", {user}).value(0).value(0),
                          "Renamed while away");
            }
            EXPECT_FALSE(manager->statusText().contains(OVNCatalogOpening::waitingText()));
            manager->close();
        }
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_TRUE(said.contains(OVNCatalogOpening::waitingText())) << qPrintable(said.join('|'));
        EXPECT_EQ(alerts->shown().size(), alerted) << qPrintable(lastAlert());
    }
}

// A manager's change whose session the server's administrator ends, the manager taken out of his
// group with "MANAGE USERS" before the change goes again: the next try asks again, in its own
// transaction, and stores nothing; the alert says why.
TEST_P(UserManagerTest, AChangeRetriedAfterTheManagerLostHisRightIsRefused)
{
    {
        OVNUserAdministration first(&db, *alerts);
        setUpUsers(first);
    }
    const PgTestServer server = *pgTestServer();
    const QString jdoe = db.getUserForLogin("jdoe").value("mid").toString();
    const QString admins =
        db.rowsForQuery("select mid from strvgroups where name='Admin'").value(0).value(0).toString();
    auto side = std::shared_ptr<OVNDatabaseAccess>(openAnother().release());
    const struct {
        const char *name;
        bool rename;
        const char *statement;
    } cuts[] = {
        {"rename a user", true, "update strvusers"},
        {"add a user", false, "insert into strvusers"},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        if (db.rowsForQuery("select 1 from strvgroupusers where usermid=$1", {jdoe}).isEmpty()) {
            ASSERT_FALSE(db.addUserToGroup(jdoe, admins).isEmpty());
        }
        SessionCutProxy proxy(server.port, [side, jdoe](int clientPort) {
            side->runSQLCommand(QStringLiteral("select pg_terminate_backend(pid, 10000) from pg_stat_activity where "
                                               "client_port=$1"),
                                {clientPort});
            side->runSQLCommand("delete from strvgroupusers where usermid=$1", {jdoe});
        });
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        OVNUserAdministration admin(&through, *alerts);
        ASSERT_EQ(admin.open(), OVNUserAdministration::Opening::Login);
        ASSERT_TRUE(admin.login("jdoe", "secret1"));
        const qsizetype said = alerts->shown().size();
        proxy.cutAt(c.statement, 1, SessionCutProxy::How::Terminated);
        if (c.rename)
            EXPECT_FALSE(admin.throughEndedSessions([&] { return admin.renameUser(jdoe, "Renamed"); }));
        else
            EXPECT_FALSE(admin.throughEndedSessions([&] { return !admin.addUser("late").isEmpty(); }));
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(alerts->shown().size(), said + 1);
        EXPECT_EQ(lastAlert(), "You may no longer manage users");
        EXPECT_EQ(db.rowsForQuery("select name from strvusers where mid=$1", {jdoe}).value(0).value(0), "Jane Doe");
        EXPECT_TRUE(db.getUserForLogin("late").isEmpty());
    }
}
