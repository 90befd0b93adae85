// Reading the forms from the data source and handing every edit back to it at once.

#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsDataSource.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
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

QString OVNMediaDetails::keptKey(const QString &mediaId, const Field &field)
{
    return mediaId + QLatin1Char('\n') + QString::number(int(field.store)) + QLatin1Char('\n') + field.key;
}

std::optional<QString> OVNMediaDetails::keptTextShown(const Field &field) const
{
    if (keptTexts_.isEmpty() || autofill_)
        return std::nullopt;
    const QString mediaId = stringForID(CatalogNames::keyMid);
    if (mediaId.isEmpty())
        return std::nullopt;
    const auto kept = keptTexts_.constFind(keptKey(mediaId, field));
    if (kept == keptTexts_.constEnd())
        return std::nullopt;
    return kept->text;
}

QLineEdit *OVNMediaDetails::unsavedField() const
{
    for (const Field &field : fields_) {
        auto *text = qobject_cast<QLineEdit *>(field.control);
        if (text && field.tab == selectedtab_ && text->property("ovnUnsaved").toBool())
            return text;
    }
    return nullptr;
}

void OVNMediaDetails::fillField(const Field &field)
{
    const QString value = readValue(field.store, field.key);
    if (auto *text = qobject_cast<QLineEdit *>(field.control)) {
        if (editingField_ == text)
            editingField_ = nullptr;
        // A text the catalog did not take is shown for its entry until it is stored or discarded.
        const std::optional<QString> kept = keptTextShown(field);
        markUnsaved(text, kept.has_value());
        text->setText(kept.value_or(value));
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
    const Field *binding = fieldFor(field);
    editBase_ = binding ? readValue(binding->store, binding->key) : QString();
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
    if (editingField_ && editingField_ != field)
        commitPendingEdit();
    if (editingField_ != field) {
        // A kept text is handed over again whenever the user ends editing it, changed or not.
        const Field *binding = fieldFor(field);
        if (!binding || !keptTextShown(*binding))
            return; // focus left a field the user did not change
        controlTextDidBeginEditing(field);
    }
    commitPendingEdit();
}

bool OVNMediaDetails::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    const Field *binding = field ? fieldFor(field) : nullptr;
    if (!binding)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut && editingField_ != field && !field->isReadOnly()
        && keptTextShown(*binding)) {
        // Unchanged since it was shown: QLineEdit reports no end of editing for it.
        controlTextDidEndEditing(field);
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
               && keptTextShown(*binding)) {
        // Escape gives up the kept text: the field shows what the catalog holds.
        keptTexts_.remove(keptKey(stringForID(CatalogNames::keyMid), *binding));
        if (editingField_ == field)
            editingField_ = nullptr;
        fillField(*binding);
        // A field the user may no longer change stayed open only for the kept text.
        if (field->isReadOnly())
            field->setEnabled(false);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void OVNMediaDetails::commitPendingEdit()
{
    QLineEdit *field = editingField_;
    if (!field)
        return;
    editingField_ = nullptr;
    const Field *binding = fieldFor(field);
    if (!binding)
        return;
    const QString mediaId = editmid_;
    const QString text = field->text();
    const QString key = keptKey(mediaId, *binding);
    // A text kept before keeps the stored value it was first typed over.
    const std::optional<Kept> before = keptTexts_.contains(key) ? std::optional<Kept>(keptTexts_.value(key))
                                                                : std::nullopt;
    if (before && !autofill_ && !keepsKeptTextOver(*binding, mediaId, *before, text))
        return;
    handedOverField_ = field;
    handedOverKept_ = false;
    handedOverRefused_ = false;
    storeValue(binding->store, text, binding->key, mediaId);
    handedOverField_ = nullptr;
    if (autofill_)
        return;
    // A refusal never drops a kept text: it waits for a later save, Escape or discarding.
    const bool keep = handedOverKept_ || (handedOverRefused_ && before);
    if (keep)
        keptTexts_.insert(key, {text, before ? before->base : editBase_});
    else
        keptTexts_.remove(key);
    // The field may show another entry by now; it is filled for that one when it is shown.
    if (stringForID(CatalogNames::keyMid) != mediaId)
        return;
    if (handedOverRefused_ && !keep)
        fillField(*binding);
    else
        markUnsaved(field, keep);
}

bool OVNMediaDetails::keepsKeptTextOver(const Field &binding, const QString &mediaId, const Kept &kept,
                                        const QString &text)
{
    using Capability = OVNMediaDetailsDataSource::Capability;
    if (!offers(unsigned(Capability::StoredValue)))
        return true;
    using Table = OVNMediaDetailsDataSource::Table;
    const Table table = binding.store == Store::Purchased ? Table::Purchased
                        : binding.store == Store::Sold    ? Table::Sold
                                                          : Table::Media;
    const std::optional<QString> now = datasource_->ovnMediaDetailsStoredValue(this, table, binding.key, mediaId);
    // Not readable (the server still away): handed over, it is kept again.
    if (!now || *now == kept.base || *now == text)
        return true;
    Alert alert;
    alert.message = tr("Someone else changed this text meanwhile.");
    alert.informativeText = tr("While the catalog could not be reached you typed “%1” over “%2”. Since then "
                               "another user has saved “%3”.")
                                .arg(text, kept.base, *now);
    alert.buttons = {tr("Keep Mine"), tr("Take the Stored One")};
    if (Alerts::run(alert) == 0)
        return true;
    keptTexts_.remove(keptKey(mediaId, binding));
    if (stringForID(CatalogNames::keyMid) == mediaId)
        fillField(binding);
    return false;
}

void OVNMediaDetails::keepUnsavedEdit()
{
    if (handedOverField_)
        handedOverKept_ = true;
    else if (handingOverChoice_)
        handedOverRefused_ = true; // a choice is not kept: it shows what is stored again
}

void OVNMediaDetails::refuseHandedOverEdit()
{
    if (handedOverField_ || handingOverChoice_)
        handedOverRefused_ = true;
}

void OVNMediaDetails::storeChoice(const Field &binding, const QString &value)
{
    handingOverChoice_ = true;
    handedOverRefused_ = false;
    storeValue(binding.store, value, binding.key, stringForID(CatalogNames::keyMid));
    handingOverChoice_ = false;
    if (handedOverRefused_)
        fillField(binding);
}

void OVNMediaDetails::discardUnsavedEdits()
{
    editingField_ = nullptr;
    keptTexts_.clear();
    for (const Field &field : fields_) {
        if (auto *text = qobject_cast<QLineEdit *>(field.control); text && text->property("ovnUnsaved").toBool())
            fillField(field);
    }
}

void OVNMediaDetails::markUnsaved(QLineEdit *field, bool unsaved)
{
    if (field->property("ovnUnsaved").toBool() == unsaved)
        return;
    field->setProperty("ovnUnsaved", unsaved);
    if (unsaved) {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, QColor(255, 228, 225));
        field->setPalette(palette);
        field->setToolTip(tr("Not saved: the catalog could not be reached. The change is saved when you finish "
                             "editing the field once the catalog can be reached again; Escape gives it up."));
        return;
    }
    field->setPalette(QPalette());
    field->setToolTip(QString());
}

void OVNMediaDetails::formSelectionChanged(QComboBox *popUp)
{
    const Field *binding = fieldFor(popUp);
    if (!binding)
        return;
    commitPendingEdit();
    storeChoice(*binding, QString::number(popUp->currentIndex()));
}

void OVNMediaDetails::formSwitchChanged(QCheckBox *checkBox)
{
    const Field *binding = fieldFor(checkBox);
    if (!binding)
        return;
    commitPendingEdit();
    storeChoice(*binding, checkBox->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}
