#include "app/OVNAccessPrivileges.h"

#include "app/OVNCatalogWait.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"
#include "uikit/BundleImage.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNWindowPlacement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The icon set's picture of a category kind: the catalog's for none, nothing for an unknown kind.
QString kindIconName(const QString &kind)
{
    static const QHash<QString, QString> names{{QString(), QStringLiteral("DB")},
                                               {QStringLiteral("F"), QStringLiteral("Folder")},
                                               {QStringLiteral("C"), QStringLiteral("Collection")},
                                               {QStringLiteral("M"), QStringLiteral("SurveillanceFolder")},
                                               {QStringLiteral("S"), QStringLiteral("Category")},
                                               {QStringLiteral("I"), QStringLiteral("SmartFolder")}};
    return names.value(kind);
}

} // namespace

OVNAccessPrivileges::OVNAccessPrivileges(std::unique_ptr<OVNDatabaseAccess> connection, QWidget *parent)
    : QDialog(parent),
      m_connection(std::move(connection)),
      m_editor(m_connection.get(), Alerts::presenter(), this)
{
    setWindowTitle(tr("Access Privileges"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_icon = new QLabel;
    m_title = new QLabel;
    m_message = new QLabel;
    m_title->setTextFormat(Qt::PlainText);
    m_message->setTextFormat(Qt::PlainText);
    m_table = new QTableWidget(0, 3);
    m_table->setHorizontalHeaderLabels({QString(), tr("Group"), tr("Privilege")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(iconColumn, QHeaderView::Fixed);
    m_table->setIconSize(QSize(18, 18));
    m_table->setColumnWidth(iconColumn, 28);
    auto *heading = new QHBoxLayout;
    heading->addWidget(m_icon);
    heading->addWidget(m_title, 1);
    layout->addLayout(heading);
    layout->addWidget(m_table);
    layout->addWidget(m_message);
    auto *buttons = new QHBoxLayout;
    auto *add = new QPushButton(tr("Add Group..."));
    m_remove = new QPushButton(tr("Remove"));
    buttons->addWidget(add);
    buttons->addWidget(m_remove);
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &OVNAccessPrivileges::chooseGroup);
    connect(m_remove, &QPushButton::clicked, this, &OVNAccessPrivileges::removeSelected);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this] { m_remove->setEnabled(m_table->selectedItems().size() > 0); });
    m_remove->setEnabled(false);
}

OVNAccessPrivileges::~OVNAccessPrivileges() = default;

QString OVNAccessPrivileges::message() const { return m_message->text(); }

bool OVNAccessPrivileges::start(const QString &categoryMid)
{
    show();
    raise();
    if (!m_editor.open(categoryMid)) {
        close();
        return false;
    }
    m_opened = true;
    const QImage kind = OVNIconSetHelper::sharedIconSet().toolbarIconFor(
        kindIconName(m_editor.category().value(CatalogNames::keyType).toString()));
    m_icon->setPixmap(kind.isNull() ? QPixmap() : QPixmap::fromImage(kind));
    m_title->setText(m_editor.category().value(QStringLiteral("displaytag")).toString());
    refresh();
    return true;
}

void OVNAccessPrivileges::refresh()
{
    const QVariantList entries = m_editor.entries();
    const QImage groupImage = BundleImage::imageNamed(QStringLiteral("usergroup"));
    m_table->setRowCount(int(entries.size()));
    for (int row = 0; row < entries.size(); ++row) {
        const QVariantMap entry = entries.at(row).toMap();
        auto *icon = new QTableWidgetItem;
        if (!groupImage.isNull())
            icon->setData(Qt::DecorationRole, QPixmap::fromImage(groupImage));
        m_table->setItem(row, iconColumn, icon);
        m_table->setItem(row, groupColumn, new QTableWidgetItem(entry.value(QStringLiteral("group")).toString()));
        auto *level = new QComboBox;
        for (int index = 0; index < 4; ++index)
            level->addItem(OVNPrivilegeListEditor::levelForIndex(index));
        level->setCurrentIndex(OVNPrivilegeListEditor::levelIndex(entry.value(QStringLiteral("privilege")).toString()));
        connect(level, &QComboBox::activated, this, [this, row](int index) { m_editor.setLevel(row, index); });
        m_table->setCellWidget(row, privilegeColumn, level);
    }
    m_message->setText(m_editor.message());
    m_remove->setEnabled(false);
}

void OVNAccessPrivileges::addGroup(const QString &groupMid, const QString &name)
{
    if (m_editor.addGroup(groupMid, name))
        refresh();
}

void OVNAccessPrivileges::chooseGroup()
{
    QDialog sheet(this);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setWindowTitle(tr("Group Selection"));
    OVNWindowPlacement::fitTitle(&sheet);
    auto *layout = new QVBoxLayout(&sheet);
    auto *choice = new QComboBox;
    for (const QVariantMap &group : m_editor.groups())
        if (!group.value(QStringLiteral("name")).toString().isEmpty())
            choice->addItem(group.value(QStringLiteral("name")).toString(), group.value(CatalogNames::keyMid));
    layout->addWidget(choice);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);
    if (sheet.exec() == QDialog::Accepted && choice->currentIndex() >= 0)
        addGroup(choice->currentData().toString(), choice->currentText());
}

void OVNAccessPrivileges::removeSelected()
{
    const QList<QTableWidgetItem *> items = m_table->selectedItems();
    if (items.isEmpty())
        return;
    Alert alert;
    alert.message = tr("Remove privileges for Group: ") + m_table->item(items.first()->row(), groupColumn)->text();
    alert.informativeText =
        tr("Do you really want to remove the privileges for the selected group? \n\nThis means the group has no "
           "longer access to any data unless you remove all groups and allow access for everyone. This action "
           "cannot be undone.");
    alert.buttons = {tr("Cancel"), tr("Delete")};
    alert.modality = Alert::Modality::Window;
    alert.window = this;
    if (Alerts::presenter().run(alert) != 1)
        return;
    m_editor.removeEntry(items.first()->row());
    refresh();
}

bool OVNAccessPrivileges::save()
{
    OVNCatalogWait wait(
        [this](const QString &text, bool) {
            m_message->setText(text);
            if (isVisible())
                m_message->repaint();
            emit statusShown(text);
        },
        m_message->text());
    m_editor.setWaitingStatus(
        wait.status(), [&wait] { return wait.secondsLeft(); }, [&wait] { wait.end(); });
    const bool saved = m_editor.save();
    m_editor.setWaitingStatus({});
    return saved;
}

void OVNAccessPrivileges::closeEvent(QCloseEvent *event)
{
    if (m_opened && !save()) {
        event->ignore();
        return;
    }
    m_opened = false;
    QDialog::closeEvent(event);
}

void OVNAccessPrivileges::done(int result)
{
    // Escape closes a dialog through done(): the list is saved the same way.
    if (m_opened && !save())
        return;
    m_opened = false;
    QDialog::done(result);
}
