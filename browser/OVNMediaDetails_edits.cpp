// Reading the forms from the data source and handing every edit back to it at once.

#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsDataSource.h"
#include "platform/CatalogNames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>

QString OVNMediaDetails::stringForID(const QString &key) const
{
    if (!datasource_ || !datasourceImplementsStringForID_)
        return QString();
    return datasource_->ovnMediaDetailsStringForID(const_cast<OVNMediaDetails *>(this), key);
}

QString OVNMediaDetails::readValue(Store store, const QString &key) const
{
    if (!datasource_)
        return QString();
    auto *self = const_cast<OVNMediaDetails *>(this);
    switch (store) {
    case Store::Annotation:
        return stringForID(key);
    case Store::Purchased:
        return datasource_->ovnMediaDetailsPurchasedForID(self, key);
    case Store::Sold:
        return datasource_->ovnMediaDetailsSoldForID(self, key);
    }
    return QString();
}

void OVNMediaDetails::storeValue(Store store, const QString &value, const QString &key, const QString &mediaId)
{
    if (!datasource_)
        return;
    switch (store) {
    case Store::Annotation:
        datasource_->ovnMediaDetailsSetStringForID(this, value, key, mediaId);
        break;
    case Store::Purchased:
        datasource_->ovnMediaDetailsSetStringForPurchasedID(this, value, key, mediaId);
        break;
    case Store::Sold:
        datasource_->ovnMediaDetailsSetStringForSoldID(this, value, key, mediaId);
        break;
    }
}

void OVNMediaDetails::fillField(const Field &field)
{
    const QString value = readValue(field.store, field.key);
    if (auto *text = qobject_cast<QLineEdit *>(field.control)) {
        if (text == unsavedField_) {
            // Showing the stored value again ends the kept edit, so it never lands on another entry.
            markUnsaved(text, false);
            if (editingField_ == text)
                editingField_ = nullptr;
        }
        text->setText(value);
        text->setCursorPosition(0);
    } else if (auto *box = qobject_cast<QCheckBox *>(field.control)) {
        box->setChecked(leadingInt(value) != 0);
    } else if (auto *popUp = qobject_cast<QComboBox *>(field.control)) {
        // A value that names no item (not a number, or out of range) shows the first one.
        const int index = leadingInt(value);
        popUp->setCurrentIndex(index >= 0 && index < popUp->count() ? index : 0);
    }
}

// Editing begins with the first change the user makes; the entry it belongs to is fixed then.
void OVNMediaDetails::controlTextDidBeginEditing(QLineEdit *field)
{
    editingField_ = field;
    editmid_ = stringForID(CatalogNames::keyMid);
}

void OVNMediaDetails::controlTextDidChange(QLineEdit *field)
{
    if (editingField_ != field) {
        commitPendingEdit();
        controlTextDidBeginEditing(field);
    }
    // The buffers of auto-fill mode see every keystroke, so that the sheet can apply the text
    // whenever it is closed.
    if (autofill_) {
        if (const Field *binding = fieldFor(field))
            storeValue(binding->store, field->text(), binding->key, editmid_);
    }
}

void OVNMediaDetails::controlTextDidEndEditing(QLineEdit *field)
{
    if (editingField_ != field)
        return; // focus left a field the user did not change
    commitPendingEdit();
}

void OVNMediaDetails::commitPendingEdit()
{
    QLineEdit *field = editingField_;
    if (!field)
        return;
    editingField_ = nullptr;
    if (field == unsavedField_)
        markUnsaved(field, false);
    handedOverField_ = field;
    if (const Field *binding = fieldFor(field))
        storeValue(binding->store, field->text(), binding->key, editmid_);
    handedOverField_ = nullptr;
}

void OVNMediaDetails::keepUnsavedEdit()
{
    if (!handedOverField_)
        return;
    // The edit stays open for the same entry: the next end of editing hands it over again.
    editingField_ = handedOverField_;
    markUnsaved(handedOverField_, true);
}

void OVNMediaDetails::markUnsaved(QLineEdit *field, bool unsaved)
{
    if (unsaved) {
        unsavedField_ = field;
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, QColor(255, 228, 225));
        field->setPalette(palette);
        field->setToolTip(tr("Not saved: the catalog could not be reached. The change is saved when you "
                             "finish editing the field again."));
        return;
    }
    if (unsavedField_ == field)
        unsavedField_ = nullptr;
    field->setPalette(QPalette());
    field->setToolTip(QString());
}

void OVNMediaDetails::formSelectionChanged(QComboBox *popUp)
{
    const Field *binding = fieldFor(popUp);
    if (!binding)
        return;
    commitPendingEdit();
    storeValue(binding->store, QString::number(popUp->currentIndex()), binding->key, stringForID(CatalogNames::keyMid));
}

void OVNMediaDetails::formSwitchChanged(QCheckBox *checkBox)
{
    const Field *binding = fieldFor(checkBox);
    if (!binding)
        return;
    commitPendingEdit();
    storeValue(Store::Annotation, checkBox->isChecked() ? QStringLiteral("1") : QStringLiteral("0"), binding->key,
               stringForID(CatalogNames::keyMid));
}
