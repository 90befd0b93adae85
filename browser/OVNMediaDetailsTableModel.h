#pragma once

#include <QAbstractTableModel>

class OVNMediaDetails;

// The details pane's File Info / Meta Data table as a Qt model: two columns, "id" (the labels) and
// "value", whose rows, texts and background colours the pane answers.
class OVNMediaDetailsTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit OVNMediaDetailsTableModel(OVNMediaDetails *pane);

    // The column identifiers, by column number; empty for any other column.
    static QString columnIdentifier(int column);

    // Asks the pane afresh for everything.
    void reload();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    OVNMediaDetails *m_pane;
};
