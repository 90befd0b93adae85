#include "browser/OVNMediaDetailsAutoFill.h"

#include "browser/OVNMediaDetails.h"
#include "platform/Localized.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

void attachBuffer(OVNMediaDetails *pane, AnnotationBuffer *buffer)
{
    pane->setAutoFillMode(true);
    pane->setDataSource(buffer);
    pane->reloadData();
}

} // namespace

OVNMediaDetailsAutoFill::OVNMediaDetailsAutoFill(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(localized("Auto Fill"));
    auto *layout = new QVBoxLayout(this);
    mdafContent_ = new OVNMediaDetails(this);
    mdafContent_->setObjectName(QStringLiteral("mdafContent_"));
    mdafContent_->setMinimumSize(450, 320);
    layout->addWidget(mdafContent_, 1);

    auto *options = new QHBoxLayout;
    options->addWidget(new QLabel(localized("Mode:"), this));
    mdafOverwrite_ = new QComboBox(this);
    mdafOverwrite_->setObjectName(QStringLiteral("mdafOverwrite_"));
    mdafOverwrite_->addItems({localized("Overwrite"), localized("Append"), localized("Merge")});
    options->addWidget(mdafOverwrite_);
    mdafClearEmptyFields_ = new QCheckBox(localized("Clear empty fields"), this);
    mdafClearEmptyFields_->setObjectName(QStringLiteral("mdafClearEmptyFields_"));
    options->addWidget(mdafClearEmptyFields_);
    options->addStretch(1);
    mdafBCancel_ = new QPushButton(localized("Cancel"), this);
    mdafBCancel_->setObjectName(QStringLiteral("mdafBCancel_"));
    mdafBOK_ = new QPushButton(localized("OK"), this);
    mdafBOK_->setObjectName(QStringLiteral("mdafBOK_"));
    mdafBOK_->setDefault(true);
    options->addWidget(mdafBCancel_);
    options->addWidget(mdafBOK_);
    layout->addLayout(options);
    connect(mdafBOK_, &QPushButton::clicked, this, [this] { buttonBOKClick(); });
    connect(mdafBCancel_, &QPushButton::clicked, this, [this] { buttonBCancelClick(); });

    attachBuffer(mdafContent_, &m_buffer);
}

OVNMediaDetailsAutoFill::~OVNMediaDetailsAutoFill()
{
    // The pane may hand over an edit in progress when it goes; the buffer must still be there.
    mdafContent_->setDataSource(nullptr);
}

void OVNMediaDetailsAutoFill::beginSheetModalForWindow(QWidget *window, std::function<void(int)> done)
{
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    connect(this, &QDialog::finished, this, [done = std::move(done)](int code) {
        if (done)
            done(code);
    });
    open();
}

void OVNMediaDetailsAutoFill::buttonBOKClick()
{
    // A field still being edited belongs to the changes.
    mdafContent_->setDataSource(&m_buffer);
    done(1);
}

void OVNMediaDetailsAutoFill::buttonBCancelClick() { done(0); }

AnnotationChanges OVNMediaDetailsAutoFill::changes() const { return m_buffer.changes(mdafContent_); }

AnnotationChanges::Mode OVNMediaDetailsAutoFill::mode() const
{
    return AnnotationChanges::Mode(std::clamp(mdafOverwrite_->currentIndex(), 0, 2));
}

bool OVNMediaDetailsAutoFill::changesShouldClearEmptyFields() const { return mdafClearEmptyFields_->isChecked(); }

// ---- the smart-add pane ----

OVNMediaDetailsSmartAdd::OVNMediaDetailsSmartAdd(QWidget *parent)
{
    auto pane = std::make_unique<OVNMediaDetails>(parent);
    pane->setGeometry(0, 0, 450, 250);
    pane->setMinimumWidth(450);
    pane->setFixedHeight(250);
    pane->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    detailsview_ = pane.get();
    if (!parent)
        m_ownedView = std::move(pane);
    else
        pane.release(); // the parent owns it
    attachBuffer(detailsview_, &m_buffer);
}

OVNMediaDetailsSmartAdd::~OVNMediaDetailsSmartAdd()
{
    if (detailsview_)
        detailsview_->setDataSource(nullptr);
}

AnnotationChanges OVNMediaDetailsSmartAdd::changes() const { return m_buffer.changes(detailsview_); }

void OVNMediaDetailsSmartAdd::endEditing()
{
    if (detailsview_)
        detailsview_->endEditing();
}
