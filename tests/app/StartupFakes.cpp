#include "StartupFakes.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

FakeConnections::FakeConnections(EventLog log, std::initializer_list<Outcome> outcomes)
    : m_log(std::move(log)),
      m_outcomes(outcomes)
{}

std::unique_ptr<OVNDatabaseAccess> FakeConnections::createAndOpenDBConnection()
{
    ++m_calls;
    const Outcome outcome = m_outcomes.empty() ? Outcome::Active : m_outcomes.front();
    if (!m_outcomes.empty())
        m_outcomes.pop_front();
    m_log->append(QStringLiteral("connect"));
    if (outcome == Outcome::None)
        return nullptr;

    auto connection = std::make_unique<OVNDatabaseAccess>();
    // The temporary folder itself stands where the file should be: the open fails.
    const QString path = outcome == Outcome::Active ? m_dir.filePath(QStringLiteral("catalog-%1.sqlite").arg(m_calls))
                                                    : m_dir.path();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (connection->openDBConnection()) {
        OVNDBHelper::prefDBCreateLocalDatabase(*connection);
        connection->addCategoryListEntry(QStringLiteral("Holiday %1").arg(m_calls));
    } else {
        if (m_beforeAlert)
            m_beforeAlert();
        m_log->append(QStringLiteral("factory alert"));
    }
    return connection;
}
