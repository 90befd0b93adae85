#pragma once

#include "search/OVNFind.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// The row of one search line: AND/OR, field, operator, value, "-" and "+".
class OVNFindLineView : public QWidget
{
    Q_OBJECT
public:
    explicit OVNFindLineView(QWidget *parent = nullptr);
    // Shows the line; `readInto` takes the controls' state back.
    void showLine(const OVNFindLine &line);
    void readInto(OVNFindLine &line) const;
    QLineEdit *valueField() const { return m_value; }

signals:
    void addClicked(OVNFindLineView *view);
    void removeClicked(OVNFindLineView *view);

private:
    void fieldChosen();

    QComboBox *m_join;
    QComboBox *m_fields;
    QComboBox *m_operator;
    QLineEdit *m_value;
};

// The window-modal find sheet over an OVNFind: the search-in list, the lines, Cancel and Search.
// Search refuses, with an alert naming the line, a search whose values cannot compile.
class OVNFindSheet : public QDialog
{
    Q_OBJECT
public:
    explicit OVNFindSheet(OVNFind find, QWidget *parent = nullptr);
    // The model as the controls stand.
    const OVNFind &find();
    // Search: accepts unless a line is refused (then alerts and stays open).
    void search();

private:
    void rebuildLines();
    void readControls();

    OVNFind m_find;
    QComboBox *m_searchIn;
    QVBoxLayout *m_linesLayout;
    std::vector<OVNFindLineView *> m_views;
};
