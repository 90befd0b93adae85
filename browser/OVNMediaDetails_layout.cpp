// The pane's views: the navigation and content views, the three forms in their scroll views and
// the File Info / Meta Data table. Built in code; the controls carry their outlet names as object
// names.

#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsTableModel.h"
#include "platform/Localized.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNFlatButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int formMargin = 8;
constexpr int labelGap = 2;
constexpr int fieldGap = 7;
constexpr int controlFontSize = 11;
constexpr int labelFontSize = 10;
constexpr int actionButtonWidth = 28;
constexpr int fieldHeight = 21;

QLabel *makeLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(DrawingKit::labelFont(labelFontSize));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x4a, 0x4a, 0x4a));
    label->setPalette(palette);
    return label;
}

QVBoxLayout *formLayout(QWidget *form)
{
    auto *layout = new QVBoxLayout(form);
    layout->setContentsMargins(formMargin, formMargin, formMargin, formMargin);
    layout->setSpacing(0);
    return layout;
}

// A label above its control, then the gap to the next pair.
void addLabelled(QVBoxLayout *layout, const QString &title, QWidget *control, QWidget *form)
{
    layout->addWidget(makeLabel(title, form));
    layout->addSpacing(labelGap);
    layout->addWidget(control);
    layout->addSpacing(fieldGap);
}

void addLabelled(QVBoxLayout *layout, const QString &title, QLayout *row, QWidget *form)
{
    layout->addWidget(makeLabel(title, form));
    layout->addSpacing(labelGap);
    layout->addLayout(row);
    layout->addSpacing(fieldGap);
}

// The form keeps the height its contents need; its width follows the scroll view.
void finishForm(QWidget *form, QVBoxLayout *layout)
{
    layout->addStretch(1);
    layout->activate();
    form->setFixedHeight(layout->sizeHint().height());
}

} // namespace

void OVNMediaDetails::loadLayout()
{
    setFont(DrawingKit::systemFont(controlFontSize));

    viewNavigation_ = new QWidget(this);
    viewNavigation_->setObjectName(QStringLiteral("viewNavigation_"));
    viewContent_ = new QWidget(viewNavigation_);
    viewContent_->setObjectName(QStringLiteral("viewContent_"));

    tableModel_ = new OVNMediaDetailsTableModel(this);
    viewCategorization_ = buildMediaInfoForm();
    viewPurchased_ = buildPurchasedForm();
    viewSold_ = buildSoldForm();
    viewTechData_ = buildTechDataView();

    vcScroll_ = makeFormScroll(viewCategorization_);
    vpScroll_ = makeFormScroll(viewPurchased_);
    vsScroll_ = makeFormScroll(viewSold_);
    vcScroll_->setObjectName(QStringLiteral("vcScroll_"));
    vpScroll_->setObjectName(QStringLiteral("vpScroll_"));
    vsScroll_->setObjectName(QStringLiteral("vsScroll_"));

    vcKeywordsAction_->setTarget(this);
    vcShortDescriptionAction_->setTarget(this);
    vcKeywordsAction_->setEnabled(true);
    vcShortDescriptionAction_->setEnabled(true);
    setFocusRingType(FocusRingType::None);

    layoutLoaded_ = true;
    unloadViews();
}

QLineEdit *OVNMediaDetails::addTextField(const QString &key, Store store, Tab tab, const char *outlet)
{
    auto *field = new QLineEdit(formBeingBuilt_);
    field->setObjectName(QString::fromLatin1(outlet));
    field->setFixedHeight(fieldHeight);
    // Only what the user does starts, changes and ends an edit; the pane's own setText() does not.
    connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
    connect(field, &QLineEdit::editingFinished, this, [this, field] { controlTextDidEndEditing(field); });
    // Leaving a field unchanged ends no edit for QLineEdit; a kept text needs it (eventFilter).
    field->installEventFilter(this);
    fields_.push_back({field, key, store, tab});
    return field;
}

QCheckBox *OVNMediaDetails::addCheckBox(const QString &key, const QString &title, const char *outlet)
{
    auto *box = new QCheckBox(title, formBeingBuilt_);
    box->setObjectName(QString::fromLatin1(outlet));
    connect(box, &QCheckBox::clicked, this, [this, box] { formSwitchChanged(box); });
    fields_.push_back({box, key, Store::Annotation, MediaInfoTab});
    return box;
}

QComboBox *OVNMediaDetails::addLicensePopUp(Store store, Tab tab, const QStringList &titles, const char *outlet)
{
    auto *popUp = new QComboBox(formBeingBuilt_);
    popUp->setObjectName(QString::fromLatin1(outlet));
    popUp->addItems(titles);
    popUp->setFixedHeight(fieldHeight + 1);
    connect(popUp, &QComboBox::activated, this, [this, popUp] { formSelectionChanged(popUp); });
    fields_.push_back({popUp, QStringLiteral("licensetype"), store, tab});
    return popUp;
}

QWidget *OVNMediaDetails::buildMediaInfoForm()
{
    auto *form = new QWidget;
    form->setObjectName(QStringLiteral("viewCategorization_"));
    formBeingBuilt_ = form;
    QVBoxLayout *layout = formLayout(form);

    // A field with its action button at the right.
    auto withAction = [](QLineEdit *field, OVNFlatButton *button) {
        auto *row = new QHBoxLayout;
        row->setSpacing(3);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(field, 1);
        row->addWidget(button);
        button->setFixedSize(actionButtonWidth, fieldHeight);
        return row;
    };

    vcKeywords_ = addTextField(QStringLiteral("keywords"), Store::Annotation, MediaInfoTab, "vcKeywords_");
    vcKeywordsAction_ = new OVNFlatButton(form);
    vcKeywordsAction_->setObjectName(QStringLiteral("vcKeywordsAction_"));
    addLabelled(layout, localized("Title / Short Description"), withAction(vcKeywords_, vcKeywordsAction_), form);

    vcShortDescription_ =
        addTextField(QStringLiteral("shortdesc"), Store::Annotation, MediaInfoTab, "vcShortDescription_");
    vcShortDescriptionAction_ = new OVNFlatButton(form);
    vcShortDescriptionAction_->setObjectName(QStringLiteral("vcShortDescriptionAction_"));
    addLabelled(layout, localized("Keywords"), withAction(vcShortDescription_, vcShortDescriptionAction_), form);

    vcFullDescription_ =
        addTextField(QStringLiteral("fulldesc"), Store::Annotation, MediaInfoTab, "vcFullDescription_");
    addLabelled(layout, localized("Full Description"), vcFullDescription_, form);

    vcModelReleaseFlag_ =
        addCheckBox(QStringLiteral("modrelavailable"), localized("Got Model Release"), "vcModelReleaseFlag_");
    layout->addWidget(vcModelReleaseFlag_);
    layout->addSpacing(labelGap);
    vcModelReleaseInfo_ =
        addTextField(QStringLiteral("modrelinfo"), Store::Annotation, MediaInfoTab, "vcModelReleaseInfo_");
    addLabelled(layout, localized("Model Release"), vcModelReleaseInfo_, form);

    vcPropertyReleaseFlag_ =
        addCheckBox(QStringLiteral("proprelavailable"), localized("Got Property Release"), "vcPropertyReleaseFlag_");
    layout->addWidget(vcPropertyReleaseFlag_);
    layout->addSpacing(labelGap);
    vcPropertyReleaseInfo_ =
        addTextField(QStringLiteral("proprelinfo"), Store::Annotation, MediaInfoTab, "vcPropertyReleaseInfo_");
    addLabelled(layout, localized("Property Release"), vcPropertyReleaseInfo_, form);

    vcVolumeName_ = addTextField(QStringLiteral("volumename"), Store::Annotation, MediaInfoTab, "vcVolumeName_");
    addLabelled(layout, localized("Volume Name"), vcVolumeName_, form);

    finishForm(form, layout);
    formBeingBuilt_ = nullptr;
    return form;
}

QWidget *OVNMediaDetails::buildPurchasedForm()
{
    auto *form = new QWidget;
    form->setObjectName(QStringLiteral("viewPurchased_"));
    formBeingBuilt_ = form;
    QVBoxLayout *layout = formLayout(form);

    // The titles and their order are those the search sheet lists, so the stored index means the
    // same thing in both places.
    vpLicenseType_ = addLicensePopUp(Store::Purchased, PurchasedTab,
                                     {localized("Royalty Free"), localized("Rights Managed"), localized("No License")},
                                     "vpLicenseType_");
    addLabelled(layout, localized("License Type"), vpLicenseType_, form);
    vpLicenseRestrictions_ =
        addTextField(QStringLiteral("licenserestrictions"), Store::Purchased, PurchasedTab, "vpLicenseRestrictions_");
    addLabelled(layout, localized("Allowed Usage"), vpLicenseRestrictions_, form);
    vpImageOwner_ = addTextField(QStringLiteral("owner"), Store::Purchased, PurchasedTab, "vpImageOwner_");
    addLabelled(layout, localized("Copyright Owner"), vpImageOwner_, form);
    vpImageOrderNumber_ =
        addTextField(QStringLiteral("ordernumber"), Store::Purchased, PurchasedTab, "vpImageOrderNumber_");
    addLabelled(layout, localized("Order Number"), vpImageOrderNumber_, form);
    vpImagePhotographer_ =
        addTextField(QStringLiteral("photographer"), Store::Purchased, PurchasedTab, "vpImagePhotographer_");
    addLabelled(layout, localized("Photographer"), vpImagePhotographer_, form);

    finishForm(form, layout);
    formBeingBuilt_ = nullptr;
    return form;
}

QWidget *OVNMediaDetails::buildSoldForm()
{
    auto *form = new QWidget;
    form->setObjectName(QStringLiteral("viewSold_"));
    formBeingBuilt_ = form;
    QVBoxLayout *layout = formLayout(form);

    vsLicenseType_ = addLicensePopUp(
        Store::Sold, SoldTab,
        {localized("Exclusive"), localized("Royalty Free"), localized("Rights Managed"), localized("Not Sold")},
        "vsLicenseType_");
    addLabelled(layout, localized("License Type"), vsLicenseType_, form);
    vsLicenseRestrictions_ =
        addTextField(QStringLiteral("licenserestrictions"), Store::Sold, SoldTab, "vsLicenseRestrictions_");
    addLabelled(layout, localized("Allowed Usage"), vsLicenseRestrictions_, form);
    vsCustomer_ = addTextField(QStringLiteral("customer"), Store::Sold, SoldTab, "vsCustomer_");
    addLabelled(layout, localized("Customer"), vsCustomer_, form);

    finishForm(form, layout);
    formBeingBuilt_ = nullptr;
    return form;
}

QScrollArea *OVNMediaDetails::makeFormScroll(QWidget *form)
{
    auto *scroll = new QScrollArea(viewContent_);
    scroll->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setBackgroundRole(QPalette::Base);
    scroll->setAutoFillBackground(true);
    QPalette palette = scroll->palette();
    palette.setColor(QPalette::Base, DrawingKit::whiteColor());
    palette.setColor(QPalette::Window, DrawingKit::whiteColor());
    scroll->setPalette(palette);
    scroll->viewport()->setAutoFillBackground(true);
    form->setAutoFillBackground(false);
    scroll->setWidgetResizable(true);
    scroll->setWidget(form);
    scroll->setGeometry(viewContent_->rect());
    return scroll;
}

QWidget *OVNMediaDetails::buildTechDataView()
{
    auto *view = new QWidget(viewContent_);
    view->setObjectName(QStringLiteral("viewTechData_"));
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);

    vtdTableView_ = new QTableView(view);
    vtdTableView_->setObjectName(QStringLiteral("vtdTableView_"));
    vtdTableView_->setModel(tableModel_);
    vtdTableView_->setFont(DrawingKit::labelFont(9));
    vtdTableView_->setWordWrap(false);
    // Paths and names keep both ends: the volume and the file name.
    vtdTableView_->setTextElideMode(Qt::ElideMiddle);
    vtdTableView_->setShowGrid(false);
    vtdTableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vtdTableView_->setSelectionMode(QAbstractItemView::NoSelection);
    vtdTableView_->setFocusPolicy(Qt::NoFocus);
    vtdTableView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    vtdTableView_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    vtdTableView_->horizontalHeader()->hide();
    vtdTableView_->horizontalHeader()->setStretchLastSection(true);
    vtdTableView_->horizontalHeader()->resizeSection(0, 96);
    QHeaderView *rows = vtdTableView_->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(12);
    rows->setDefaultSectionSize(12);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    layout->addWidget(vtdTableView_);
    return view;
}
