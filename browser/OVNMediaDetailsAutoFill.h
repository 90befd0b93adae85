#pragma once

#include "browser/OVNAnnotationChanges.h"
#include "browser/OVNMediaDetails.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>

class OVNMediaDetails;
class QCheckBox;
class QComboBox;
class QPushButton;

// The auto-fill sheet: a details pane in auto-fill mode whose edits are buffered, the write mode
// (overwrite, append, merge), "Clear empty fields", OK and Cancel. Window-modal on the catalog
// window; the buffers outlive the sheet's end, so the caller reads them once it has ended.
class OVNMediaDetailsAutoFill : public QDialog
{
    Q_OBJECT

public:
    explicit OVNMediaDetailsAutoFill(QWidget *parent = nullptr);
    ~OVNMediaDetailsAutoFill() override;

    // Opens window-modal on `window`; `done` gets the return code (1 for OK, 0 for Cancel).
    void beginSheetModalForWindow(QWidget *window, std::function<void(int)> done);

    AnnotationChanges changes() const;
    AnnotationChanges::Mode mode() const;
    bool changesShouldOverwrite() const { return mode() == AnnotationChanges::Mode::Overwrite; }
    bool changesShouldAppend() const { return mode() == AnnotationChanges::Mode::Append; }
    bool changesShouldMerge() const { return mode() == AnnotationChanges::Mode::Merge; }
    bool changesShouldClearEmptyFields() const;

    OVNMediaDetails *content() const { return mdafContent_; }

    void buttonBOKClick();
    void buttonBCancelClick();

private:
    AnnotationBuffer m_buffer;
    OVNMediaDetails *mdafContent_ = nullptr;
    QComboBox *mdafOverwrite_ = nullptr;
    QCheckBox *mdafClearEmptyFields_ = nullptr;
    QPushButton *mdafBOK_ = nullptr;
    QPushButton *mdafBCancel_ = nullptr;
};

// The pane that the smart add shows beside its file dialog: a 450 by 250 details pane in auto-fill
// mode, resizable in width only. The pane is a child of `parent`, which places it.
class OVNMediaDetailsSmartAdd
{
public:
    explicit OVNMediaDetailsSmartAdd(QWidget *parent = nullptr);
    ~OVNMediaDetailsSmartAdd();
    OVNMediaDetailsSmartAdd(const OVNMediaDetailsSmartAdd &) = delete;
    OVNMediaDetailsSmartAdd &operator=(const OVNMediaDetailsSmartAdd &) = delete;

    OVNMediaDetails *view() const { return detailsview_; }
    AnnotationChanges changes() const;
    // Hands a field still being edited to the buffers; the panel does so before it reads them.
    void endEditing();

private:
    AnnotationBuffer m_buffer;
    QPointer<OVNMediaDetails> detailsview_;
    std::unique_ptr<OVNMediaDetails> m_ownedView; // while no parent holds it
};
