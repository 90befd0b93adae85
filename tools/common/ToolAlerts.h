// The alerts of the program's windows as a tool that drives them keeps them: no one answers.
#pragma once

#include "ToolText.h"

#include "platform/Alert.h"

#include <QString>
#include <QTextStream>

namespace ToolAlerts {

// An alert on one line: its title, then its informative text after ": ", or after a space where
// the title ends a sentence already ("could not be created." is followed by its reason, not by ".:").
inline QString oneLine(const Alert &alert)
{
    QString text = alert.message;
    if (!alert.informativeText.isEmpty()) {
        const QString trimmed = text.trimmed();
        const bool ended = !trimmed.isEmpty() && QStringLiteral(".!?:").contains(trimmed.back());
        text = (ended ? trimmed + QLatin1Char(' ') : text + QStringLiteral(": ")) + alert.informativeText;
    }
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
}

// Keeps the last alert's text (title and informative text) on one line for the tool's own answer,
// and with Echo::StandardError shows it there as well, as alerts are shown without a display.
class LastAlert : public AlertPresenter
{
public:
    enum class Echo { None, StandardError };
    explicit LastAlert(QString *last, Echo echo = Echo::None) : m_last(last), m_echo(echo) {}
    int run(const Alert &alert) override
    {
        *m_last = oneLine(alert);
        if (m_echo == Echo::StandardError)
            QTextStream(stderr) << "Ostrevan: " << ToolText::printable(*m_last) << Qt::endl;
        return 0;
    }

private:
    QString *m_last;
    Echo m_echo;
};

} // namespace ToolAlerts
