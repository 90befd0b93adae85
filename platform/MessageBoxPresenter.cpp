#include "platform/MessageBoxPresenter.h"

#include "platform/Localized.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox *makeBox(const Alert &alert, QList<QAbstractButton *> *buttons)
{
    QWidget *parent = qobject_cast<QWidget *>(alert.window.data());
    if (parent != nullptr)
        parent = parent->window();
    auto *box = new QMessageBox(parent);
    switch (alert.style) {
    case Alert::Style::Informational:
        box->setIcon(QMessageBox::Information);
        break;
    case Alert::Style::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case Alert::Style::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    // Alerts carry names, titles and paths from users and files: shown as they are, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.message);
    box->setInformativeText(alert.informativeText);
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    if (!alert.detailedText.isEmpty())
        box->setDetailedText(alert.detailedText);
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{localized("OK")} : alert.buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // The first button is the default; the others keep the order they were given in.
        QPushButton *button = box->addButton(titles.at(i), i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
        if (i == 0)
            box->setDefaultButton(button);
        buttons->append(button);
    }
    box->setWindowModality(alert.modality == Alert::Modality::Window && parent != nullptr ? Qt::WindowModal
                                                                                          : Qt::ApplicationModal);
    return box;
}

} // namespace

int MessageBoxPresenter::run(const Alert &alert)
{
    QList<QAbstractButton *> buttons;
    std::unique_ptr<QMessageBox> box(makeBox(alert, &buttons));
    box->exec();
    const int index = int(buttons.indexOf(box->clickedButton()));
    return index < 0 ? 0 : index;
}

void MessageBoxPresenter::show(const Alert &alert, std::function<void(int)> done)
{
    auto buttons = std::make_shared<QList<QAbstractButton *>>();
    QMessageBox *box = makeBox(alert, buttons.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done](int) {
        const int index = int(buttons->indexOf(box->clickedButton()));
        if (done)
            done(index < 0 ? 0 : index);
    });
    box->open();
}
