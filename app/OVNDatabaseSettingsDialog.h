#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class UserDefaults;

// The catalog database settings: vendor, host, user, password and database, saved to the
// preferences "DBVendor", "DBHost", "DBUser", "DBPassword" and "DBDatabase". Connections made after
// saving use them.
class OVNDatabaseSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OVNDatabaseSettingsDialog(UserDefaults &defaults, QWidget *parent = nullptr);
    ~OVNDatabaseSettingsDialog() override;

    // Fills the fields from the preferences.
    void reloadPreferences();
    // Writes the fields to the preferences; false when the file could not be written.
    bool savePreferences();

    QComboBox *vendorField() const { return m_vendor; }
    QLineEdit *hostField() const { return m_host; }
    QLineEdit *userField() const { return m_user; }
    QLineEdit *passwordField() const { return m_password; }
    QLineEdit *databaseField() const { return m_database; }

signals:
    void settingsSaved();

private:
    void updateFieldStates();

    UserDefaults &m_defaults;
    QComboBox *m_vendor = nullptr;
    QLineEdit *m_host = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_database = nullptr;
};
