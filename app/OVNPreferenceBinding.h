#pragma once

#include <QObject>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class UserDefaults;

// Ties a control to one preference key: the control shows the stored value and every change is
// written to the preferences at once, as text ("0"/"1" for check boxes, the item index for
// pop-ups, the text as typed for fields), the way the rest of the program reads these keys.
class OVNPreferenceBinding : public QObject
{
    Q_OBJECT
public:
    explicit OVNPreferenceBinding(UserDefaults &defaults, QObject *parent = nullptr);

    void bind(QComboBox *popUp, const QString &key);
    void bind(QCheckBox *checkBox, const QString &key);
    void bind(QLineEdit *field, const QString &key);
    // Shows the stored values again in every bound control, writing nothing.
    void reload();

signals:
    // After a value was written; the key names it.
    void valueChanged(const QString &key);

private:
    void write(const QString &value, const QString &key);

    UserDefaults &m_defaults;
    QList<std::pair<QObject *, QString>> m_bound;
    bool m_reloading = false;
};
