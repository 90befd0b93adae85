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
    // A message box grows with its text: a long one would push the buttons off the screen. Its
    // beginning is shown, the whole of it in the scrolling details.
    QString informativeText = alert.informativeText;
    QString detailedText = alert.detailedText;
    const QStringList lines = informativeText.split(QLatin1Char('\n'));
    if (lines.size() > Alerts::mostInformativeLines) {
        informativeText = lines.first(Alerts::mostInformativeLines - 1).join(QLatin1Char('\n')) + QLatin1Char('\n')
                          + localized("(The whole text is under Show Details.)");
        detailedText = detailedText.isEmpty() ? alert.informativeText
                                              : alert.informativeText + QStringLiteral("\n\n") + detailedText;
    }
    box->setInformativeText(informativeText);
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    if (!detailedText.isEmpty())
        box->setDetailedText(detailedText);
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
