#include "app/OVNDatabaseSettingsDialog.h"

#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kIntegrated = QStringLiteral("Integrated");
const QString kPostgreSQL = QStringLiteral("PostgreSQL");

} // namespace

OVNDatabaseSettingsDialog::OVNDatabaseSettingsDialog(UserDefaults &defaults, QWidget *parent)
    : QDialog(parent), m_defaults(defaults)
{
    setWindowTitle(localized("Database Settings"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(localized("Choose the catalog Ostrevan opens. A local catalog is a file in "
                                       "your Documents folder; a PostgreSQL catalog is shared on a server."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *form = new QFormLayout;
    m_vendor = new QComboBox(this);
    m_vendor->addItem(localized("Local catalog (Integrated)"), kIntegrated);
    m_vendor->addItem(localized("PostgreSQL server"), kPostgreSQL);
    m_host = new QLineEdit(this);
    m_host->setPlaceholderText(localized("empty for this computer's local socket"));
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_database = new QLineEdit(this);
    form->addRow(localized("Database:"), m_vendor);
    form->addRow(localized("Host:"), m_host);
    form->addRow(localized("User:"), m_user);
    form->addRow(localized("Password:"), m_password);
    form->addRow(localized("Database name:"), m_database);
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (savePreferences()) {
            accept();
            emit settingsSaved();
        } else {
            Alerts::inform(localized("The settings could not be saved"),
                           localized("Your preferences file could not be written."), this);
        }
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_vendor, &QComboBox::currentIndexChanged, this, [this] { updateFieldStates(); });
    reloadPreferences();
}

OVNDatabaseSettingsDialog::~OVNDatabaseSettingsDialog() = default;

void OVNDatabaseSettingsDialog::reloadPreferences()
{
    QString vendor = m_defaults.stringForKey(QStringLiteral("DBVendor"));
    if (vendor.isEmpty())
        vendor = QStringLiteral("OstrevanWS");
    int index = m_vendor->findData(vendor);
    if (index < 0) {
        // A setting from elsewhere ("OstrevanWS", or one that names no vendor) stays visible as it is.
        m_vendor->addItem(vendor, vendor);
        index = m_vendor->count() - 1;
    }
    m_vendor->setCurrentIndex(index);
    m_host->setText(m_defaults.stringForKey(QStringLiteral("DBHost")));
    m_user->setText(m_defaults.stringForKey(QStringLiteral("DBUser")));
    m_password->setText(m_defaults.stringForKey(QStringLiteral("DBPassword")));
    m_database->setText(m_defaults.stringForKey(QStringLiteral("DBDatabase")));
    updateFieldStates();
}

bool OVNDatabaseSettingsDialog::savePreferences()
{
    bool ok = m_defaults.setString(m_vendor->currentData().toString(), QStringLiteral("DBVendor"));
    ok = m_defaults.setString(m_host->text().trimmed(), QStringLiteral("DBHost")) && ok;
    ok = m_defaults.setString(m_user->text().trimmed(), QStringLiteral("DBUser")) && ok;
    ok = m_defaults.setString(m_password->text(), QStringLiteral("DBPassword")) && ok;
    ok = m_defaults.setString(m_database->text().trimmed(), QStringLiteral("DBDatabase")) && ok;
    return ok;
}

void OVNDatabaseSettingsDialog::updateFieldStates()
{
    // The local catalog's place is fixed; the server fields mean nothing for it.
    const bool server = m_vendor->currentData().toString() != kIntegrated;
    for (QLineEdit *field : {m_host, m_user, m_password, m_database})
        field->setEnabled(server);
}
