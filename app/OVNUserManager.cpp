#include "app/OVNUserManager.h"

#include "app/OVNCatalogWait.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget *makeTable(const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void fill(QTableWidget *table, const QList<QVariantMap> &rows, const QStringList &keys, bool editableName)
{
    table->clearContents();
    table->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < keys.size(); ++column) {
            auto *item = new QTableWidgetItem(rows.at(row).value(keys.at(column)).toString());
            item->setData(Qt::UserRole, rows.at(row).value(CatalogNames::keyMid));
            if (!(editableName && column == 0))
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            table->setItem(row, column, item);
        }
    }
}

QPushButton *button(const QString &text, QBoxLayout *layout)
{
    auto *pushButton = new QPushButton(text);
    // Return in a field ends its edit; it must not press the first button of the window.
    pushButton->setAutoDefault(false);
    layout->addWidget(pushButton);
    return pushButton;
}

} // namespace

OVNUserManager::OVNUserManager(std::unique_ptr<OVNDatabaseAccess> connection, QWidget *parent)
    : QDialog(parent),
      m_connection(std::move(connection)),
      m_admin(m_connection.get(), Alerts::presenter(), this)
{
    setWindowTitle(tr("User Manager"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *window = new QVBoxLayout(this);
    auto *layout = new QHBoxLayout;
    window->addLayout(layout);
    m_status = new QLabel;
    m_status->setTextFormat(Qt::PlainText);
    window->addWidget(m_status);

    auto *groupPane = new QVBoxLayout;
    m_groups = makeTable({tr("Group")});
    groupPane->addWidget(m_groups);
    auto *groupButtons = new QHBoxLayout;
    connect(button(tr("Add"), groupButtons), &QPushButton::clicked, this, &OVNUserManager::addGroup);
    m_deleteGroup = button(tr("Delete"), groupButtons);
    connect(m_deleteGroup, &QPushButton::clicked, this, &OVNUserManager::deleteGroup);
    groupPane->addLayout(groupButtons);
    m_manageUsers = new QCheckBox(tr("Manage users"));
    m_webAccess = new QCheckBox(tr("Web access"));
    groupPane->addWidget(m_manageUsers);
    groupPane->addWidget(m_webAccess);
    layout->addLayout(groupPane);

    auto *memberPane = new QVBoxLayout;
    m_members = makeTable({tr("Member"), tr("Login")});
    memberPane->addWidget(m_members);
    auto *memberButtons = new QHBoxLayout;
    m_addMember = button(tr("Add"), memberButtons);
    m_removeMember = button(tr("Remove"), memberButtons);
    connect(m_addMember, &QPushButton::clicked, this, &OVNUserManager::addMember);
    connect(m_removeMember, &QPushButton::clicked, this, &OVNUserManager::removeMember);
    memberPane->addLayout(memberButtons);
    layout->addLayout(memberPane);

    auto *userPane = new QVBoxLayout;
    m_users = makeTable({tr("User")});
    userPane->addWidget(m_users);
    auto *userButtons = new QHBoxLayout;
    connect(button(tr("Add"), userButtons), &QPushButton::clicked, this, &OVNUserManager::addUser);
    m_deleteUser = button(tr("Delete"), userButtons);
    connect(m_deleteUser, &QPushButton::clicked, this, &OVNUserManager::deleteUser);
    userPane->addLayout(userButtons);
    m_login = new QLineEdit;
    m_login->setObjectName(QStringLiteral("login"));
    m_login->setPlaceholderText(tr("Login"));
    m_selfManaged = new QCheckBox(tr("Self managed"));
    m_password = new QPushButton(tr("Change Password..."));
    m_password->setAutoDefault(false);
    userPane->addWidget(m_login);
    userPane->addWidget(m_selfManaged);
    userPane->addWidget(m_password);
    layout->addLayout(userPane);

    connect(m_groups, &QTableWidget::itemSelectionChanged, this, &OVNUserManager::groupSelectionChanged);
    connect(m_users, &QTableWidget::itemSelectionChanged, this, &OVNUserManager::userSelectionChanged);
    connect(m_members, &QTableWidget::itemSelectionChanged, this,
            [this] { m_removeMember->setEnabled(!selectedMid(m_members).isEmpty()); });
    connect(m_manageUsers, &QCheckBox::clicked, this, &OVNUserManager::groupPrivilegesEdited);
    connect(m_webAccess, &QCheckBox::clicked, this, &OVNUserManager::groupPrivilegesEdited);
    connect(m_selfManaged, &QCheckBox::clicked, this, &OVNUserManager::userSettingsEdited);
    connect(m_login, &QLineEdit::editingFinished, this, &OVNUserManager::userSettingsEdited);
    connect(m_password, &QPushButton::clicked, this, &OVNUserManager::changePassword);
    // A name edited in place is written at once; a refused write shows the stored name again.
    connect(m_groups, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (!m_filling && !throughEndedSessions([&] {
                return m_admin.renameGroup(item->data(Qt::UserRole).toString(), item->text());
            }))
            reloadGroupAndUserData();
    });
    connect(m_users, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (!m_filling && !throughEndedSessions([&] {
                return m_admin.renameUser(item->data(Qt::UserRole).toString(), item->text());
            }))
            reloadGroupAndUserData();
    });
    groupSelectionChanged();
    userSelectionChanged();
}

OVNUserManager::~OVNUserManager() = default;

QString OVNUserManager::statusText() const { return m_status->text(); }

void OVNUserManager::asOneCommand(const std::function<void()> &work)
{
    // The reads that follow a change (the tables filled again) are part of its command.
    if (m_inCommand) {
        work();
        return;
    }
    OVNCatalogWait wait(
        [this](const QString &text, bool) {
            m_status->setText(text);
            if (isVisible())
                m_status->repaint();
            emit statusShown(text);
        },
        m_status->text());
    m_inCommand = true;
    m_admin.setWaitingStatus(
        wait.status(), [&wait] { return wait.secondsLeft(); }, [&wait] { wait.end(); });
    work();
    m_admin.setWaitingStatus({});
    m_inCommand = false;
}

bool OVNUserManager::throughEndedSessions(const std::function<bool()> &change,
                                          const std::function<bool()> &doneAfterLoss)
{
    bool done = false;
    asOneCommand([&] { done = m_admin.throughEndedSessions(change, doneAfterLoss); });
    return done;
}

bool OVNUserManager::runSheet(const QString &title, const QString &text, const QList<QWidget *> &fields,
                              QLabel *failure, const std::function<bool()> &accept)
{
    QDialog sheet(this);
    sheet.setWindowTitle(title);
    sheet.setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(&sheet);
    auto *prompt = new QLabel(text);
    prompt->setTextFormat(Qt::PlainText); // may name a user
    layout->addWidget(prompt);
    for (QWidget *field : fields)
        layout->addWidget(field);
    if (failure) {
        failure->hide();
        layout->addWidget(failure);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &sheet, [&] {
        if (failure)
            failure->hide();
        if (!accept || accept())
            sheet.accept();
        else if (failure)
            failure->show();
    });
    if (!fields.isEmpty())
        fields.first()->setFocus();
    m_sheet = &sheet;
    const bool accepted = sheet.exec() == QDialog::Accepted;
    m_sheet = nullptr;
    // The fields belong to the sheet's layout; take them out before it goes.
    for (QWidget *field : fields)
        field->setParent(nullptr);
    if (failure)
        failure->setParent(nullptr);
    return accepted;
}

bool OVNUserManager::start()
{
    show();
    raise();
    const OVNUserAdministration::Opening opening = m_admin.open();
    if (opening == OVNUserAdministration::Opening::Refused) {
        close();
        return false;
    }
    if (opening == OVNUserAdministration::Opening::FirstRun) {
        QLineEdit name(OVNUserAdministration::administratorName() + QStringLiteral(" [")
                       + OVNUserAdministration::administratorLogin() + QStringLiteral("]"));
        name.setReadOnly(true);
        QLineEdit password;
        password.setEchoMode(QLineEdit::Password);
        password.setObjectName(QStringLiteral("password"));
        const bool created =
            runSheet(tr("Set up User Management"),
                     tr("You will become the administrator. Choose a password (only its first 8 characters "
                        "count)."),
                     {&name, &password}, nullptr, [&] {
                         return m_admin.firstRun(OVNUserAdministration::administratorName(),
                                                 OVNUserAdministration::administratorLogin(), password.text());
                     });
        password.clear();
        if (!created) {
            close();
            return false;
        }
    }
    QLineEdit login(OVNUserAdministration::administratorLogin());
    login.setObjectName(QStringLiteral("login"));
    QLineEdit password;
    password.setEchoMode(QLineEdit::Password);
    password.setObjectName(QStringLiteral("password"));
    QLabel failure(OVNUserAdministration::loginFailedText());
    failure.setWordWrap(true);
    const bool loggedIn = runSheet(tr("User Manager Login"), tr("Log in as a user who may manage users."),
                                   {&login, &password}, &failure,
                                   [&] { return m_admin.login(login.text(), password.text()); });
    password.clear();
    if (!loggedIn) {
        close();
        return false;
    }
    reloadGroupAndUserData();
    return true;
}

void OVNUserManager::reloadGroupAndUserData()
{
    asOneCommand([this] {
        m_filling = true;
        fill(m_groups, m_admin.groups(), {QStringLiteral("name")}, true);
        fill(m_users, m_admin.users(), {QStringLiteral("name")}, true);
        m_filling = false;
        groupSelectionChanged();
        userSelectionChanged();
    });
}

QString OVNUserManager::selectedMid(QTableWidget *table) const
{
    const QList<QTableWidgetItem *> items = table->selectedItems();
    return items.isEmpty() ? QString() : items.first()->data(Qt::UserRole).toString();
}

void OVNUserManager::groupSelectionChanged()
{
    const QString group = selectedMid(m_groups);
    // While the read waits for the server the panel shows nothing of the group selected before.
    m_filling = true;
    fill(m_members, {}, {QStringLiteral("name"), QStringLiteral("login")}, false);
    m_filling = false;
    for (QCheckBox *box : {m_manageUsers, m_webAccess}) {
        const QSignalBlocker quiet(box);
        box->setChecked(false);
    }
    for (QWidget *widget : {static_cast<QWidget *>(m_manageUsers), static_cast<QWidget *>(m_webAccess),
                            static_cast<QWidget *>(m_deleteGroup), static_cast<QWidget *>(m_addMember),
                            static_cast<QWidget *>(m_removeMember)})
        widget->setEnabled(false);
    QString xml;
    QList<QVariantMap> members;
    asOneCommand([&] {
        for (const QVariantMap &row : group.isEmpty() ? QList<QVariantMap>() : m_admin.groups())
            if (row.value(CatalogNames::keyMid).toString() == group)
                xml = row.value(QStringLiteral("xml")).toString();
        if (!group.isEmpty())
            members = m_admin.members(group);
    });
    m_filling = true;
    fill(m_members, members, {QStringLiteral("name"), QStringLiteral("login")}, false);
    m_filling = false;
    for (QWidget *widget : {static_cast<QWidget *>(m_manageUsers), static_cast<QWidget *>(m_webAccess),
                            static_cast<QWidget *>(m_deleteGroup), static_cast<QWidget *>(m_addMember)})
        widget->setEnabled(!group.isEmpty());
    m_removeMember->setEnabled(false);
    m_manageUsers->setChecked(OVNUserAdministration::privilegesContain(xml, QStringLiteral("MANAGE USERS")));
    m_webAccess->setChecked(OVNUserAdministration::privilegesContain(xml, QStringLiteral("WEB ACCESS")));
}

void OVNUserManager::userSelectionChanged()
{
    const QString user = selectedMid(m_users);
    // While the read waits for the server the panel shows nothing of the user selected before
    // (an edit of the login was taken when the focus left it, before the selection changed).
    {
        const QSignalBlocker quietLogin(m_login);
        const QSignalBlocker quietBox(m_selfManaged);
        m_login->clear();
        m_selfManaged->setChecked(false);
        for (QWidget *widget : {static_cast<QWidget *>(m_login), static_cast<QWidget *>(m_selfManaged),
                                static_cast<QWidget *>(m_password), static_cast<QWidget *>(m_deleteUser)})
            widget->setEnabled(false);
    }
    QVariantMap row;
    asOneCommand([&] {
        for (const QVariantMap &candidate : user.isEmpty() ? QList<QVariantMap>() : m_admin.users())
            if (candidate.value(CatalogNames::keyMid).toString() == user)
                row = candidate;
    });
    for (QWidget *widget : {static_cast<QWidget *>(m_login), static_cast<QWidget *>(m_selfManaged),
                            static_cast<QWidget *>(m_password), static_cast<QWidget *>(m_deleteUser)})
        widget->setEnabled(!row.isEmpty());
    m_login->setText(row.value(QStringLiteral("login")).toString());
    m_selfManaged->setChecked(
        OVNUserAdministration::privilegesContain(row.value(QStringLiteral("xml")).toString(), "SELF MANAGED"));
}

bool OVNUserManager::confirmDelete(const QString &message, const QString &text)
{
    Alert alert;
    alert.message = message;
    alert.informativeText = text;
    alert.buttons = {tr("Cancel"), tr("Delete")};
    alert.modality = Alert::Modality::Window;
    alert.window = this;
    return Alerts::presenter().run(alert) == 1;
}

void OVNUserManager::addGroup()
{
    QLineEdit name;
    if (!runSheet(tr("Create new Group"), tr("Name:"), {&name}))
        return;
    // The same id on every try: a group a lost answer made is found, not made twice.
    const QString mid = m_admin.newRowId();
    if (throughEndedSessions([&] { return !m_admin.addGroup(name.text(), mid).isEmpty(); },
                             [&] { return m_admin.groupMade(mid, name.text()); }))
        reloadGroupAndUserData();
}

void OVNUserManager::addUser()
{
    QLineEdit name;
    if (!runSheet(tr("Create new User"), tr("Name:"), {&name}))
        return;
    // The same id on every try: a user a lost answer made is found, not refused as a taken login.
    const QString mid = m_admin.newRowId();
    if (throughEndedSessions([&] { return !m_admin.addUser(name.text(), mid).isEmpty(); },
                             [&] { return m_admin.userMade(mid, name.text()); }))
        reloadGroupAndUserData();
}

void OVNUserManager::deleteGroup()
{
    const QString group = selectedMid(m_groups);
    if (group.isEmpty()
        || !confirmDelete(tr("Delete Group: ") + m_groups->selectedItems().first()->text(),
                          tr("Do you really want to delete the selected group? This action cannot be undone.")))
        return;
    if (throughEndedSessions([&] { return m_admin.deleteGroup(group); }, [&] { return m_admin.groupGone(group); }))
        reloadGroupAndUserData();
}

void OVNUserManager::deleteUser()
{
    const QString user = selectedMid(m_users);
    if (user.isEmpty()
        || !confirmDelete(tr("Delete User: ") + m_users->selectedItems().first()->text(),
                          tr("Do you really want to delete the selected user? This action cannot be undone.")))
        return;
    if (throughEndedSessions([&] { return m_admin.deleteUser(user); }, [&] { return m_admin.userGone(user); }))
        reloadGroupAndUserData();
}

void OVNUserManager::addMember()
{
    const QString group = selectedMid(m_groups);
    if (group.isEmpty())
        return;
    QComboBox choice;
    QList<QVariantMap> users;
    asOneCommand([&] { users = m_admin.users(); });
    for (const QVariantMap &user : std::as_const(users))
        if (!user.value(QStringLiteral("name")).toString().isEmpty())
            choice.addItem(user.value(QStringLiteral("name")).toString(), user.value(CatalogNames::keyMid));
    if (!runSheet(tr("Add Group Member"), tr("User Selection"), {&choice}))
        return;
    // The same id on every try: a membership a lost answer made is found, not refused as a second.
    const QString user = choice.currentData().toString();
    const QString mid = m_admin.newRowId();
    if (throughEndedSessions([&] { return !m_admin.addMember(user, group, mid).isEmpty(); },
                             [&] { return m_admin.membershipMade(group, mid, user); }))
        groupSelectionChanged();
}

void OVNUserManager::removeMember()
{
    const QString membership = selectedMid(m_members);
    if (membership.isEmpty()
        || !confirmDelete(tr("Delete Group Member: ") + m_members->selectedItems().first()->text(),
                          tr("Do you really want to delete the selected member from this group? This action "
                             "cannot be undone.")))
        return;
    throughEndedSessions([&] { return m_admin.removeMember(membership); },
                         [&, group = selectedMid(m_groups)] { return m_admin.membershipGone(group, membership); });
    groupSelectionChanged();
}

void OVNUserManager::groupPrivilegesEdited()
{
    const QString group = selectedMid(m_groups);
    if (group.isEmpty())
        return;
    QStringList privileges;
    if (m_manageUsers->isChecked())
        privileges.append(QStringLiteral("MANAGE USERS"));
    if (m_webAccess->isChecked())
        privileges.append(QStringLiteral("WEB ACCESS"));
    throughEndedSessions([&] { return m_admin.setGroupPrivileges(group, privileges); });
    // Show what is stored, also after a refusal.
    groupSelectionChanged();
}

void OVNUserManager::userSettingsEdited()
{
    const QString user = selectedMid(m_users);
    if (user.isEmpty())
        return;
    if (sender() == m_selfManaged)
        throughEndedSessions([&] { return m_admin.setSelfManaged(user, m_selfManaged->isChecked()); });
    else if (m_login->isModified())
        throughEndedSessions([&] { return m_admin.setLogin(user, m_login->text()); });
    m_login->setModified(false);
    userSelectionChanged();
}

void OVNUserManager::changePassword()
{
    const QString user = selectedMid(m_users);
    if (user.isEmpty())
        return;
    QLineEdit first;
    QLineEdit second;
    first.setEchoMode(QLineEdit::Password);
    second.setEchoMode(QLineEdit::Password);
    QLabel failure(tr("The two passwords differ."));
    runSheet(tr("Change Password"), tr("New password (only its first 8 characters count):"), {&first, &second},
             &failure, [&] {
                 if (first.text() != second.text())
                     return false;
                 return throughEndedSessions([&] { return m_admin.setPassword(user, first.text(), second.text()); });
             });
    first.clear();
    second.clear();
}
