#include "search/OVNFindSheet.h"

#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNIconSetHelper.h"

#include <QComboBox>
#include <QIcon>
#include <QPixmap>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString lastFindSelection = QStringLiteral("LastFindSelection");
const QString lastFindTableSelection = QStringLiteral("LastFindTableSelection");
const QString lastFindFieldSelection = QStringLiteral("LastFindFieldSelection");

// A new line starts with the field the user chose last, in any line and any run.
void chooseRememberedField(OVNFindLine &line)
{
    const UserDefaults &defaults = UserDefaults::standard();
    std::optional<int> field;
    if (defaults.contains(lastFindTableSelection) && defaults.contains(lastFindFieldSelection))
        field = OVNFindLine::fieldFor(defaults.stringForKey(lastFindTableSelection),
                                      defaults.stringForKey(lastFindFieldSelection));
    else if (defaults.contains(lastFindSelection))
        field = OVNFindLine::fieldWithTitle(defaults.stringForKey(lastFindSelection));
    if (field)
        line.chooseField(*field);
}

void rememberField(int field)
{
    const OVNFindLine::Field &chosen = OVNFindLine::fields().at(size_t(field));
    UserDefaults &defaults = UserDefaults::standard();
    defaults.setString(localized(chosen.title), lastFindSelection);
    defaults.setString(chosen.table, lastFindTableSelection);
    defaults.setString(chosen.column, lastFindFieldSelection);
}

// "All Entries" shows the catalog's icon, a category the outline icon of its kind, at the size of
// the express panel's list.
QIcon searchInIcon(const OVNFind::Catalog &catalog)
{
    const OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    QImage icon;
    if (!catalog.kind.isEmpty())
        icon = icons.outlineIconForType(catalog.kind, 10);
    else if (catalog.ids.isEmpty())
        icon = icons.toolbarIconFor(QStringLiteral("DBMini"));
    return icon.isNull() ? QIcon() : QIcon(QPixmap::fromImage(icon));
}

} // namespace

OVNFindLineView::OVNFindLineView(QWidget *parent)
    : QWidget(parent),
      m_join(new QComboBox(this)),
      m_fields(new QComboBox(this)),
      m_operator(new QComboBox(this)),
      m_value(new QLineEdit(this))
{
    setObjectName(QStringLiteral("findSearchLineView_"));
    m_join->setObjectName(QStringLiteral("fslCombinationOp_"));
    m_fields->setObjectName(QStringLiteral("fslFields_"));
    m_operator->setObjectName(QStringLiteral("fslOperator_"));
    m_value->setObjectName(QStringLiteral("fslValue_"));
    m_join->addItems({localized("AND"), localized("OR")});

    // Group headers are items that cannot be chosen; every field item carries its index.
    auto *model = new QStandardItemModel(m_fields);
    const std::vector<OVNFindLine::Field> &fields = OVNFindLine::fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i].group.isEmpty()) {
            auto *header = new QStandardItem(
                fields[i].group == QLatin1String("Media Info") ? fields[i].group : localized(fields[i].group));
            header->setFlags(Qt::NoItemFlags);
            QFont font = header->font();
            font.setBold(true);
            header->setFont(font);
            model->appendRow(header);
        }
        auto *item = new QStandardItem(localized(fields[i].title));
        item->setData(int(i), Qt::UserRole);
        model->appendRow(item);
    }
    m_fields->setModel(model);

    auto *remove = new QPushButton(QStringLiteral("-"), this);
    auto *add = new QPushButton(QStringLiteral("+"), this);
    remove->setObjectName(QStringLiteral("fslRemove_"));
    add->setObjectName(QStringLiteral("fslAdd_"));
    // Return is the sheet's Search, whichever button was pressed last.
    for (QPushButton *button : {remove, add}) {
        button->setAutoDefault(false);
        button->setFixedWidth(button->sizeHint().height() + 8);
    }
    // The first line keeps the place of its hidden AND/OR, so that the columns line up.
    QSizePolicy keepPlace = m_join->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_join->setSizePolicy(keepPlace);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget :
         {static_cast<QWidget *>(m_join), static_cast<QWidget *>(m_fields), static_cast<QWidget *>(m_operator)})
        layout->addWidget(widget);
    m_value->setMinimumWidth(180);
    layout->addWidget(m_value, 1);
    layout->addWidget(remove);
    layout->addWidget(add);
    connect(m_fields, &QComboBox::activated, this, &OVNFindLineView::fieldChosen);
    connect(add, &QPushButton::clicked, this, [this] { emit addClicked(this); });
    connect(remove, &QPushButton::clicked, this, [this] { emit removeClicked(this); });
}

void OVNFindLineView::fieldChosen()
{
    OVNFindLine line;
    readInto(line);
    line.chooseField(m_fields->currentData().toInt());
    showLine(line);
    rememberField(line.field());
}

void OVNFindLineView::showLine(const OVNFindLine &line)
{
    m_join->setVisible(!line.isFirstLine());
    m_join->setCurrentIndex(line.joinsWithOr() ? 1 : 0);
    const int item = m_fields->findData(line.field(), Qt::UserRole);
    m_fields->setCurrentIndex(item);
    m_operator->clear();
    m_operator->addItems(OVNFindLine::operatorTitles(line.field()));
    m_operator->setCurrentIndex(line.operatorId());
    m_value->setText(line.value());
    m_value->setEnabled(line.takesValue());
}

void OVNFindLineView::readInto(OVNFindLine &line) const
{
    line.setJoinsWithOr(m_join->currentIndex() == 1);
    const QVariant field = m_fields->currentData(Qt::UserRole);
    if (field.isValid() && field.toInt() != line.field())
        line.chooseField(field.toInt());
    line.setOperatorId(m_operator->currentIndex());
    line.setValue(m_value->text());
}

OVNFindSheet::OVNFindSheet(OVNFind find, QWidget *parent)
    : QDialog(parent),
      m_find(std::move(find)),
      m_searchIn(new QComboBox(this)),
      m_linesLayout(new QVBoxLayout)
{
    setObjectName(QStringLiteral("findWindow_"));
    setWindowTitle(localized("Find"));
    setWindowModality(Qt::WindowModal);
    m_searchIn->setObjectName(QStringLiteral("findSearchIn_"));
    for (const OVNFind::Catalog &catalog : m_find.catalogs())
        m_searchIn->addItem(searchInIcon(catalog), catalog.title);
    m_searchIn->setCurrentIndex(m_find.selectedCatalogIndex());
    if (m_find.lines().empty())
        chooseRememberedField(m_find.lines()[size_t(m_find.addLine())]);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(localized("Search in:"), this));
    top->addWidget(m_searchIn, 1);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *searchButton = buttons->addButton(localized("Search"), QDialogButtonBox::AcceptRole);
    searchButton->setObjectName(QStringLiteral("findSearchButton_"));
    searchButton->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("findCancelButton_"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OVNFindSheet::search);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(m_linesLayout);
    layout->addStretch();
    layout->addWidget(buttons);
    rebuildLines();
    if (!m_views.empty())
        m_views.front()->valueField()->setFocus();
}

void OVNFindSheet::readControls()
{
    m_find.setSelectedCatalogIndex(m_searchIn->currentIndex());
    for (size_t i = 0; i < m_views.size() && i < m_find.lines().size(); ++i)
        m_views[i]->readInto(m_find.lines()[i]);
}

void OVNFindSheet::rebuildLines()
{
    for (OVNFindLineView *view : m_views) {
        // Out of the layout now, so that the sheet shrinks at once; deleted once its click is over.
        m_linesLayout->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
    m_views.clear();
    for (const OVNFindLine &line : m_find.lines()) {
        auto *view = new OVNFindLineView(this);
        view->showLine(line);
        m_linesLayout->addWidget(view);
        m_views.push_back(view);
        connect(view, &OVNFindLineView::addClicked, this, [this](OVNFindLineView *sender) {
            readControls();
            const auto at = std::find(m_views.begin(), m_views.end(), sender) - m_views.begin();
            const int index = m_find.addLine(int(at));
            chooseRememberedField(m_find.lines()[size_t(index)]);
            rebuildLines();
            m_views[size_t(index)]->valueField()->setFocus();
        });
        connect(view, &OVNFindLineView::removeClicked, this, [this](OVNFindLineView *sender) {
            readControls();
            m_find.removeLine(int(std::find(m_views.begin(), m_views.end(), sender) - m_views.begin()));
            rebuildLines();
        });
    }
    // The sheet grows and shrinks by whole lines and keeps its width.
    layout()->activate();
    resize(std::max(width(), sizeHint().width()), sizeHint().height());
}

const OVNFind &OVNFindSheet::find()
{
    readControls();
    return m_find;
}

void OVNFindSheet::search()
{
    readControls();
    const QString refusal = m_find.refusal();
    if (!refusal.isEmpty()) {
        Alert alert;
        alert.message = localized("The search cannot run.");
        alert.informativeText = refusal;
        alert.modality = Alert::Modality::Window;
        alert.window = this;
        Alerts::show(alert);
        return;
    }
    accept();
}
