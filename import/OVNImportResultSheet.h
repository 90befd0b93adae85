#pragma once

#include "import/OVNImportWorker.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;

// The end of an import that answers file by file (the record export): how many files were
// imported and how many failed, each count above the list of those files, one path a line (a long
// one wrapped to the sheet's width). A file
// catalogued with a problem is listed as imported with the problem after its path; a failed file
// always carries its reason.
class OVNImportResultSheet : public QDialog
{
    Q_OBJECT
public:
    // The two lists of a finished import.
    struct Lists {
        QStringList imported;
        QStringList failed;
    };
    static Lists listsOf(const OVNImportWorker::Summary &summary);

    explicit OVNImportResultSheet(QWidget *parent = nullptr);
    void setResult(const OVNImportWorker::Summary &summary);

    QString successTitle() const;
    QString successText() const;
    QString failureTitle() const;
    QString failureText() const;

    // The least height either list keeps when the divider between them is dragged.
    static constexpr int minimumListHeight = 80;

private:
    QLabel *m_successTitle = nullptr;
    QPlainTextEdit *m_successText = nullptr;
    QLabel *m_failureTitle = nullptr;
    QPlainTextEdit *m_failureText = nullptr;
};
