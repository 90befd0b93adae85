#pragma once

#include "app/OVNConnectionSource.h"
#include "app/OVNSplashDisplay.h"
#include "app/OVNUpdateChecking.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <memory>

class OVNDatabaseAccess;

// One log that the fakes below write to, in the order things happen.
using EventLog = std::shared_ptr<QStringList>;

class FakeSplash : public OVNSplashDisplay
{
public:
    explicit FakeSplash(EventLog log) : m_log(std::move(log)) {}
    void setStatus(const QString &status) override { m_log->append(QStringLiteral("status ") + status); }
    void makeKeyAndOrderFront() override { m_log->append(QStringLiteral("splash shown")); }
    void orderOut() override { m_log->append(QStringLiteral("splash hidden")); }

private:
    EventLog m_log;
};

// Hands out connections by a script: an open catalog, one whose open failed, or none at all.
// A failed one "shows" the factory's alert the way the real factory does, after the hook.
class FakeConnections : public OVNConnectionSource
{
public:
    enum class Outcome { Active, Failed, None };

    FakeConnections(EventLog log, std::initializer_list<Outcome> outcomes);
    std::unique_ptr<OVNDatabaseAccess> createAndOpenDBConnection() override;
    void setBeforeAlert(std::function<void()> hook) override { m_beforeAlert = std::move(hook); }
    int calls() const { return m_calls; }

private:
    EventLog m_log;
    std::deque<Outcome> m_outcomes;
    std::function<void()> m_beforeAlert;
    QTemporaryDir m_dir;
    int m_calls = 0;
};

class FakeUpdateCheck : public OVNUpdateChecking
{
public:
    FakeUpdateCheck(EventLog log, bool configured, bool answer)
        : m_log(std::move(log)),
          m_configured(configured),
          m_answer(answer)
    {}
    bool isConfigured() const override { return m_configured; }
    bool checkForUpdateAvailable() override
    {
        m_log->append(QStringLiteral("update check"));
        return m_answer;
    }
    void runUpdate() override { m_log->append(QStringLiteral("download page")); }

private:
    EventLog m_log;
    bool m_configured;
    bool m_answer;
};
