#include "browser/OVNMediaDetailsTableModel.h"

#include "browser/OVNMediaDetails.h"
#include "platform/PlainText.h"

#include <QBrush>

OVNMediaDetailsTableModel::OVNMediaDetailsTableModel(OVNMediaDetails *pane) : QAbstractTableModel(pane), m_pane(pane) {}

QString OVNMediaDetailsTableModel::columnIdentifier(int column)
{
    switch (column) {
    case 0:
        return QStringLiteral("id");
    case 1:
        return QStringLiteral("value");
    default:
        return QString();
    }
}

void OVNMediaDetailsTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int OVNMediaDetailsTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_pane->numberOfRowsInTableView();
}

int OVNMediaDetailsTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 2; }

QVariant OVNMediaDetailsTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const QString column = columnIdentifier(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return m_pane->tableViewObjectValue(column, index.row());
    case Qt::ToolTipRole: // metadata read from the file
        return plainToolTip(m_pane->tableViewObjectValue(column, index.row()));
    case Qt::BackgroundRole:
        return QBrush(m_pane->tableViewBackgroundColor(column, index.row()));
    default:
        return QVariant();
    }
}

Qt::ItemFlags OVNMediaDetailsTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}
