#include "browser/OVNMediaDetails.h"

#include "browser/OVNMediaDetailsDataSource.h"
#include "browser/OVNMediaDetailsTableModel.h"
#include "platform/Localized.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNFlatButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>

namespace {

QStringList normalTabs()
{
    return {localized("Media Info"), localized("Purchased"), localized("Sold"), localized("File Info"),
            localized("Meta Data")};
}

QStringList autoFillTabs() { return {localized("Media Info"), localized("Purchased"), localized("Sold")}; }

} // namespace

OVNMediaDetails::OVNMediaDetails(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    loadLayout();
    if (!layoutLoaded_)
        return;
    datasource_ = nullptr;
    attrHeadline_ = DrawingKit::boldSystemFont(12);
    attrSizeInfo_ = DrawingKit::systemFont(11);
    gback = QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f);
    wback = DrawingKit::whiteColor();
    backgroundColor_ = DrawingKit::whiteColor();
    tabs_ = normalTabs();
    selectedtab_ = 0;
    tabsenabled_ = false;
    autofill_ = false;
    layoutForSize(size());
}

OVNMediaDetails::~OVNMediaDetails()
{
    // The controls outlive this part of the pane while Qt deletes its children; a field that loses
    // focus then must not call back into it, nor reach a data source that may be gone already.
    for (const Field &field : fields_)
        field.control->disconnect(this);
    editingField_ = nullptr;
    datasource_ = nullptr;
}

bool OVNMediaDetails::offers(unsigned capability) const
{
    return datasource_ && (datasource_->capabilities() & OVNMediaDetailsDataSource::Capability(capability));
}

void OVNMediaDetails::setDataSource(OVNMediaDetailsDataSource *dataSource)
{
    commitPendingEdit();
    datasource_ = dataSource;
    using Capability = OVNMediaDetailsDataSource::Capability;
    const auto capabilities = dataSource ? dataSource->capabilities() : OVNMediaDetailsDataSource::Capabilities();
    datasourceImplementsStringForID_ = capabilities.testFlag(Capability::StringForID);
    datasourceImplementsSelectionCount_ = capabilities.testFlag(Capability::SelectionCount);
    datasourceImplementsSelections_ = capabilities.testFlag(Capability::Selections);
}

void OVNMediaDetails::reloadData()
{
    // An edit still open belongs to the entry shown so far, whatever the selection is now.
    commitPendingEdit();

    const int oldCount = selectionCount_;
    selectionSize_ = 0.0;
    int count = 0;
    if (datasource_ && datasourceImplementsSelectionCount_)
        count = datasource_->ovnMediaDetailsSelectionCount(this);
    if (count >= 1) {
        selectionCount_ = count;
        const QList<int> rows = datasource_->ovnMediaDetailsSelections(this);
        for (int row : rows)
            selectionSize_ +=
                leadingDouble(datasource_->ovnMediaDetailsStringForIDForRow(this, QStringLiteral("filesize"), row));
    } else {
        selectionCount_ = 0;
    }

    if (autofill_ || selectionCount_ == 1) {
        tabPressed(selectedtab_);
        setButtonsEnabled(true);
    } else {
        deselectButtons();
        setButtonsEnabled(false);
    }
    if (selectionCount_ != oldCount)
        update();
}

void OVNMediaDetails::setAutoFillMode(bool autoFill)
{
    autofill_ = autoFill;
    tabs_ = autoFill ? autoFillTabs() : normalTabs();
    if (selectedtab_ >= tabs_.size())
        selectedtab_ = MediaInfoTab;
    layoutForSize(size());
}

void OVNMediaDetails::setFocusRingType(FocusRingType type)
{
    for (const Field &field : fields_)
        field.control->setAttribute(Qt::WA_MacShowFocusRect, type != FocusRingType::None);
}

QWidget *OVNMediaDetails::shownTabView() const
{
    if (!viewContent_)
        return nullptr;
    for (QWidget *view : {static_cast<QWidget *>(vcScroll_), static_cast<QWidget *>(vpScroll_),
                          static_cast<QWidget *>(vsScroll_), viewTechData_}) {
        if (view && !view->isHidden())
            return view;
    }
    return nullptr;
}

QScrollArea *OVNMediaDetails::scrollForTab(int index) const
{
    switch (index) {
    case MediaInfoTab:
        return vcScroll_;
    case PurchasedTab:
        return vpScroll_;
    case SoldTab:
        return vsScroll_;
    default:
        return nullptr;
    }
}

const OVNMediaDetails::Field *OVNMediaDetails::fieldFor(const QWidget *control) const
{
    for (const Field &field : fields_) {
        if (field.control == control)
            return &field;
    }
    return nullptr;
}

QWidget *OVNMediaDetails::showField(Store store, const QString &key)
{
    for (const Field &field : fields_) {
        if (field.store != store || field.key != key)
            continue;
        if (selectedtab_ != field.tab || !field.control->isVisible())
            tabPressed(field.tab);
        return field.control;
    }
    return nullptr;
}

void OVNMediaDetails::tabPressed(int index)
{
    commitPendingEdit();
    selectedtab_ = index;
    unloadViews();
    if (!layoutLoaded_ || !((datasource_ && selectionCount_ == 1) || autofill_)) {
        update();
        return;
    }

    bool access = true;
    using Capability = OVNMediaDetailsDataSource::Capability;
    if (offers(unsigned(Capability::AccessCheck)))
        // Showing an entry only greys what may not be changed; the refusal is said on a change.
        access = datasource_->isUserAuthorizedForAccessCurrentSelectionWithType(QStringLiteral("READ & WRITE"), false);

    if (QScrollArea *scroll = scrollForTab(index)) {
        scroll->setGeometry(viewContent_->rect());
        scroll->show();
        scroll->verticalScrollBar()->setValue(0);
        for (const Field &field : fields_) {
            if (field.tab != index)
                continue;
            fillField(field);
            // A kept text stays reachable where the user may no longer change the entry, read
            // only, so that Escape can give it up.
            if (auto *text = qobject_cast<QLineEdit *>(field.control))
                text->setReadOnly(!access);
            field.control->setEnabled(access || keptTextShown(field).has_value());
        }
        if (index == MediaInfoTab) {
            // The actions write the fields too, so they follow the same access.
            vcKeywordsAction_->setEnabled(access);
            vcShortDescriptionAction_->setEnabled(access);
        }
    } else if ((index == FileInfoTab || index == MetaDataTab) && !autofill_) {
        viewTechData_->setGeometry(viewContent_->rect());
        viewTechData_->show();
        tableModel_->reload();
    }
    update();
}

void OVNMediaDetails::setButtonsEnabled(bool enabled)
{
    tabsenabled_ = enabled;
    update();
}

void OVNMediaDetails::deselectButtons()
{
    commitPendingEdit();
    tabsenabled_ = false;
    unloadViews();
    update();
}

void OVNMediaDetails::unloadViews()
{
    if (!viewContent_)
        return;
    const QList<QWidget *> views = viewContent_->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (auto it = views.crbegin(); it != views.crend(); ++it)
        (*it)->hide();
}

void OVNMediaDetails::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutForSize(event->size());
}

void OVNMediaDetails::layoutForSize(const QSize &size)
{
    if (!layoutLoaded_)
        return;
    viewNavigation_->setGeometry(0, 0, size.width(), size.height());
    const int contentHeight = std::max(0, size.height() - int(tabStripHeight));
    if (!autofill_ && size.height() < minimumContentHeight) {
        deselectButtons();
    } else {
        viewContent_->setGeometry(0, int(tabStripHeight), size.width(), contentHeight);
        if (QWidget *shown = shownTabView())
            shown->setGeometry(viewContent_->rect());
    }
    if (selectedtab_ >= MediaInfoTab && selectedtab_ <= SoldTab)
        scrollCurrentFormToTop();
    update();
}

void OVNMediaDetails::scrollCurrentFormToTop()
{
    if (QScrollArea *scroll = scrollForTab(selectedtab_))
        scroll->verticalScrollBar()->setValue(0);
}
