#include "ScriptedAlertPresenter.h"

#include <QMutexLocker>

void ScriptedAlertPresenter::enqueueAnswers(std::initializer_list<int> answers)
{
    QMutexLocker locker(&m_mutex);
    m_answers.insert(m_answers.end(), answers.begin(), answers.end());
}

QList<Alert> ScriptedAlertPresenter::shown() const
{
    QMutexLocker locker(&m_mutex);
    return m_shown;
}

int ScriptedAlertPresenter::run(const Alert &alert)
{
    QMutexLocker locker(&m_mutex);
    m_shown.append(alert);
    if (m_answers.empty())
        return 0;
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

ScriptedAlertPresenter *ScriptedAlertPresenter::install()
{
    auto presenter = std::make_unique<ScriptedAlertPresenter>();
    ScriptedAlertPresenter *raw = presenter.get();
    Alerts::setPresenter(std::move(presenter));
    return raw;
}
