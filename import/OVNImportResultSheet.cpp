// The result sheet of an import that reports every file.

#include "import/OVNImportResultSheet.h"

#include "platform/FileAccess.h"
#include "platform/Localized.h"

#include <QDialogButtonBox>
#include <QHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSplitter>
#include <QTextOption>
#include <QVBoxLayout>

namespace {

// A path as the window lists names that may not be UTF-8 (FileAccess::shownName).
QString line(const OVNImportWorker::Failure &failure)
{
    return failure.path.isEmpty() ? failure.reason
                                  : FileAccess::shownName(failure.path) + QStringLiteral(": ") + failure.reason;
}

QString listText(const QStringList &lines)
{
    QString text;
    for (const QString &entry : lines)
        text += entry + QLatin1Char('\n');
    return text;
}

} // namespace

OVNImportResultSheet::Lists OVNImportResultSheet::listsOf(const OVNImportWorker::Summary &summary)
{
    const QSet<QString> imported(summary.importedPaths.cbegin(), summary.importedPaths.cend());
    QHash<QString, QStringList> notes; // problems of files that were catalogued all the same
    Lists lists;
    QSet<QString> listed;
    for (const OVNImportWorker::Failure &failure : summary.failures) {
        if (imported.contains(failure.path)) {
            notes[failure.path].append(failure.reason);
        } else {
            lists.failed.append(line(failure));
            listed.insert(failure.path);
        }
    }
    for (const QString &path : summary.notImported) {
        if (!listed.contains(path) && !imported.contains(path))
            lists.failed.append(FileAccess::shownName(path) + QStringLiteral(": ") + localized("not imported"));
    }
    for (const QString &path : summary.importedPaths) {
        const QStringList problems = notes.value(path);
        lists.imported.append(problems.isEmpty() ? path
                                                 : path + QStringLiteral(": ") + problems.join(QStringLiteral("; ")));
    }
    return lists;
}

OVNImportResultSheet::OVNImportResultSheet(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(localized("Import Result"));
    setAttribute(Qt::WA_DeleteOnClose);
    const auto pane = [this](QLabel *&title, QPlainTextEdit *&text) {
        auto *box = new QWidget;
        auto *layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        title = new QLabel(box);
        title->setTextFormat(Qt::PlainText);
        text = new QPlainTextEdit(box);
        text->setReadOnly(true);
        // A path with its reason wraps to the sheet's width, so that nothing needs sideways
        // scrolling; a path without spaces breaks anywhere.
        text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->addWidget(title);
        layout->addWidget(text, 1);
        box->setMinimumHeight(minimumListHeight);
        return box;
    };
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(pane(m_successTitle, m_successText));
    splitter->addWidget(pane(m_failureTitle, m_failureText));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Close), &QPushButton::clicked, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);
    resize(560, 420);
}

void OVNImportResultSheet::setResult(const OVNImportWorker::Summary &summary)
{
    const Lists lists = listsOf(summary);
    m_successTitle->setText(countedText(lists.imported.size(), "%1 asset imported", "%1 assets imported"));
    m_successText->setPlainText(listText(lists.imported));
    m_failureTitle->setText(countedText(lists.failed.size(), "%1 asset failed", "%1 assets failed"));
    m_failureText->setPlainText(listText(lists.failed));
}

QString OVNImportResultSheet::successTitle() const { return m_successTitle->text(); }
QString OVNImportResultSheet::successText() const { return m_successText->toPlainText(); }
QString OVNImportResultSheet::failureTitle() const { return m_failureTitle->text(); }
QString OVNImportResultSheet::failureText() const { return m_failureText->toPlainText(); }
