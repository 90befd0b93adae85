#include "app/OVNPreferenceBinding.h"

#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

OVNPreferenceBinding::OVNPreferenceBinding(UserDefaults &defaults, QObject *parent)
    : QObject(parent),
      m_defaults(defaults)
{}

void OVNPreferenceBinding::bind(QComboBox *popUp, const QString &key)
{
    m_bound.append({popUp, key});
    connect(popUp, &QComboBox::currentIndexChanged, this, [this, key](int index) {
        if (index >= 0)
            write(QString::number(index), key);
    });
}

void OVNPreferenceBinding::bind(QCheckBox *checkBox, const QString &key)
{
    m_bound.append({checkBox, key});
    connect(checkBox, &QCheckBox::toggled, this,
            [this, key](bool on) { write(on ? QStringLiteral("1") : QStringLiteral("0"), key); });
}

void OVNPreferenceBinding::bind(QLineEdit *field, const QString &key)
{
    m_bound.append({field, key});
    // Typed changes only: showing the stored value writes nothing back.
    connect(field, &QLineEdit::textEdited, this, [this, key](const QString &text) { write(text, key); });
}

void OVNPreferenceBinding::reload()
{
    m_reloading = true;
    for (const auto &[control, key] : std::as_const(m_bound)) {
        if (auto *popUp = qobject_cast<QComboBox *>(control)) {
            const qint64 index = UserDefaults::integerFromVariant(m_defaults.storedObjectForKey(key));
            // A stored value the pop-up has no item for leaves its selection as it is.
            if (index >= 0 && index < popUp->count())
                popUp->setCurrentIndex(int(index));
        } else if (auto *checkBox = qobject_cast<QCheckBox *>(control)) {
            checkBox->setChecked(UserDefaults::boolFromVariant(m_defaults.storedObjectForKey(key)));
        } else if (auto *field = qobject_cast<QLineEdit *>(control)) {
            field->setText(m_defaults.storedStringForKey(key));
        }
    }
    m_reloading = false;
}

void OVNPreferenceBinding::write(const QString &value, const QString &key)
{
    if (m_reloading)
        return;
    m_defaults.setStoredObject(value, key);
    emit valueChanged(key);
}
