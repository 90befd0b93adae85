#pragma once

#include "platform/Alert.h"

#include <QList>
#include <QMutex>

#include <deque>

// Answers alerts from a script instead of a person, and remembers what was shown.
class ScriptedAlertPresenter : public AlertPresenter
{
public:
    // Button indexes to answer, in order; once used up, the default button (0) is taken.
    void enqueueAnswers(std::initializer_list<int> answers);
    QList<Alert> shown() const;
    int run(const Alert &alert) override;

    // Installs a fresh presenter in place of the current one and answers it. Every test program
    // starts with the standard-error presenter; a test that installs one owns the rest of its run.
    static ScriptedAlertPresenter *install();

private:
    mutable QMutex m_mutex;
    std::deque<int> m_answers;
    QList<Alert> m_shown;
};
